#pragma once
// The base of an embeddable control: an object reached through its dispatch interface that
// fires events through a connection point, keeps its persistent properties in a stream or a
// property bag, and is activated in place as a child widget of its container.
//
// A control object exists before it has a place on screen: the container may set properties
// and load the stored form first, then call ActivateInPlace. Everything runs on the
// container's GUI thread.

#include <QWidget>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ole/ConnectionPoint.h"
#include "platform/ole/PropExchange.h"
#include "platform/ole/TypeInfo.h"

namespace ole {

class Control : public QWidget {
  Q_OBJECT

 public:
  // storedVersion: the "_Version" item written in front of the properties.
  explicit Control(std::uint32_t storedVersion);
  ~Control() override;

  // The dispatch interface. kind Put takes the new value as the one argument; a result
  // (Get, or a method with a result) goes to *result when result is not null.
  virtual HRESULT Invoke(DispId id, InvokeKind kind, const Args& args, Variant* result) = 0;
  HRESULT GetProperty(DispId id, Variant& value) { return Invoke(id, InvokeKind::PropertyGet, {}, &value); }
  HRESULT PutProperty(DispId id, const Variant& value) {
    return Invoke(id, InvokeKind::PropertyPut, {value}, nullptr);
  }

  // Type information of the dispatch interface and of the event interface the control fires
  // (its default source); null when the control describes none.
  virtual const TypeInfo* GetTypeInfo() const { return nullptr; }
  virtual const TypeInfo* GetEventTypeInfo() const { return nullptr; }
  // Dispatch ids by name, from GetTypeInfo (E_NOTIMPL without type information).
  HRESULT GetIDsOfNames(const std::vector<std::string>& names, std::vector<DispId>& ids) const;

  ConnectionPoint& Events() { return events_; }

  // Persistence. A failed load leaves every property as it was before the call.
  HRESULT InitNew();
  HRESULT LoadFromStream(std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> SaveToStream();
  HRESULT LoadFromBag(const PropertyBag& bag);
  void SaveToBag(PropertyBag& bag);
  bool IsDirty() const { return modified_; }
  // Resets every persistent property to its default (and repaints).
  void ResetState();

  // Size in units of 0.01 mm, as stored; follows the widget's size at 96 pixels per inch.
  std::int32_t ExtentX() const { return extentX_; }
  std::int32_t ExtentY() const { return extentY_; }

  // Shows the control as a child of parent at geometry (parent coordinates).
  void ActivateInPlace(QWidget* parent, const QRect& geometry);

  // Class id of the control's property page ("" when it has none).
  virtual std::string PropertyPageClsid() const { return {}; }

  // The window timers of the control by their own ids: the Qt timer behind a running id and
  // its interval in milliseconds (0 and -1 when the id is not running).
  int NativeTimerId(int id) const;
  int TimerInterval(int id) const;

 protected:
  // Lists the persistent properties in their stored order.
  virtual void DoPropExchange(PropExchange& px) = 0;
  // Sets every persistent property to its default.
  virtual void OnResetState() = 0;
  // Called after a successful load, so that the control can apply what it loaded.
  virtual void OnLoaded() {}
  // Called once, when the control gets its place on screen.
  virtual void OnCreated() {}
  // A window timer elapsed.
  virtual void OnTimer(int id) {}

  void SetModifiedFlag(bool modified = true) { modified_ = modified; }
  // Schedules a repaint of the whole control.
  void InvalidateControl() { update(); }
  void FireEvent(DispId id, const Args& args) { events_.Fire(id, args); }

  // Starts (or restarts) the timer with this id; false when the system refused it.
  bool SetTimer(int id, int intervalMs);
  void KillTimer(int id);

  void resizeEvent(QResizeEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void ExchangeAll(PropExchange& px);
  HRESULT LoadWith(PropExchange& px, const std::function<bool()>& complete);

  struct WindowTimer {
    int id;
    int nativeId;
    int interval;
  };
  std::vector<WindowTimer> timers_;
  ConnectionPoint events_;
  std::uint32_t storedVersion_;
  std::int32_t extentX_ = 0;
  std::int32_t extentY_ = 0;
  bool modified_ = false;
  bool created_ = false;
};

}  // namespace ole
