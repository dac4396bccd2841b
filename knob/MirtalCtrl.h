#pragma once
// The tuning knob control: a rotary encoder drawn on screen and turned by holding a mouse
// button on it (left down, right up, coarse while Shift is held). It keeps one integer,
// ValueMirtal, steps it inside the repaint that a tick of its repeat timer asks for, and reports
// it through GetValue on every repaint.

#include <memory>
#include <string>

#include "knob/MirtalIds.h"
#include "knob/MirtalPictures.h"
#include "knob/MirtalStepping.h"
#include "platform/ole/Control.h"
#include "platform/ole/ToolTip.h"

namespace mirtal {

class MirtalCtrl : public ole::Control {
  Q_OBJECT

 public:
  MirtalCtrl();
  ~MirtalCtrl() override;

  ole::HRESULT Invoke(ole::DispId id, ole::InvokeKind kind, const ole::Args& args, ole::Variant* result) override;
  std::string PropertyPageClsid() const override { return kPropPageClsid; }
  const ole::TypeInfo* GetTypeInfo() const override;
  const ole::TypeInfo* GetEventTypeInfo() const override;

  // The repeat interval in milliseconds that the next press will use.
  int RepeatInterval() const { return interval_; }
  const ole::ToolTip* ToolTip() const { return tooltip_.get(); }

 protected:
  void DoPropExchange(ole::PropExchange& px) override;
  void OnResetState() override;
  void OnLoaded() override;
  void OnCreated() override;
  void OnTimer(int id) override;

  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  ole::HRESULT GetMember(ole::DispId id, ole::Variant* result) const;
  ole::HRESULT PutMember(ole::DispId id, const ole::Variant& value);
  void PutMode(std::int32_t mode);
  void PutValue(std::int32_t value);
  void PutTimer(std::int16_t timer);
  void ApplyToolTip();

  void Run(bool dir, bool start);
  // Starts turning in one direction (a button press or Run start).
  void BeginTurning(bool& flag, int timerId);
  // Ends turning in one direction (a button release or Run stop).
  void EndTurning(bool& flag);
  void StartTimer(int id);
  void FirstDrawing();
  // MouseInt in the one build, Mouse in the other.
  void FireMouseInt(std::int32_t value);
  void FireMouse(bool down);
  void ShowAboutBox();

  // Persistent properties.
  std::int32_t step_ = kDefaultStep;
  std::int32_t bigStep_ = kDefaultBigStep;
  std::int32_t mode_ = kDefaultMode;  // Kind, or Background in the variant build
  std::int32_t upRange_ = kDefaultUpRange;
  std::int32_t dnRange_ = kDefaultDNRange;
  bool showToolTip_ = kDefaultShowToolTip;
  std::string toolTipText_;
  std::int16_t timer_ = kDefaultTimer;

  // Run-time state.
  Motion motion_;
  int activeTimer_ = 1;  // 1 = repeating tick, 2 = one-shot tick of a double-click
  int interval_ = 1000 / kDefaultTimer;
  MirtalPictures pictures_;
  std::unique_ptr<ole::ToolTip> tooltip_;
};

}  // namespace mirtal
