#pragma once
// The container's side: create a control by class id, place it in a Qt widget, load its
// stored form, call it by dispatch id and receive its events.
//
//   ole::CreateOptions options;
//   options.storedForm = formBytes;                 // the 40 bytes kept for the knob
//   options.registerIfMissing = "libMirtal.so";     // beside the executable
//   ole::CreateResult r = ole::CreateControlInPlace(clsid, mainWindow, QRect(x, y, 64, 63), options);
//   if (!r) { std::fprintf(stderr, "%s\n", r.reason.c_str()); /* run without it */ }
//   r.control->SetEventSink([](ole::DispId id, const ole::Args& args) { ... });
//   r.control->Put(9, std::int32_t(7000000));
//   ole::DispId value;                              // or by name, through the type information
//   if (r.control->IdOfName("ValueMirtal", value) == ole::S_OK) r.control->Put(value, ...);
//
// Libraries stay loaded for the life of the process once a control was created from them.

#include <QPointer>
#include <QRect>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/ole/ConnectionPoint.h"
#include "platform/ole/Control.h"

class QWidget;

namespace ole {
class PropertyPage;
}

namespace ole {

class HostedControl {
 public:
  explicit HostedControl(Control* control);
  ~HostedControl();  // destroys the control unless its parent widget already did
  HostedControl(const HostedControl&) = delete;
  HostedControl& operator=(const HostedControl&) = delete;

  // The control, null once its parent widget has destroyed it.
  Control* control() const { return control_.data(); }

  HRESULT Load(std::span<const std::uint8_t> storedForm);
  std::vector<std::uint8_t> Save();
  HRESULT Get(DispId id, Variant& value);
  HRESULT Put(DispId id, const Variant& value);
  HRESULT Call(DispId id, const Args& args = {}, Variant* result = nullptr);
  // Type information of the control's dispatch interface and of its events; null when the
  // control describes none or is gone.
  const TypeInfo* DispatchTypeInfo() const;
  const TypeInfo* EventTypeInfo() const;
  // The dispatch id of a property or method, or of an event, by name (case does not matter).
  // DISP_E_UNKNOWNNAME for a name the control does not have, E_NOTIMPL when it has no type
  // information; id is DISPID_UNKNOWN then.
  HRESULT IdOfName(const std::string& name, DispId& id) const;
  HRESULT EventIdOfName(const std::string& name, DispId& id) const;
  // Replaces the event sink (an empty function disconnects it).
  void SetEventSink(EventSink sink);
  // Opens the control's property page modally over parent.
  HRESULT ShowPropertyPage(QWidget* parent);

 private:
  QPointer<Control> control_;
  std::uint32_t cookie_ = 0;
};

struct CreateOptions {
  // Loaded before the control is shown; empty = a new control with its defaults.
  std::span<const std::uint8_t> storedForm;
  // When the class id is not registered (or its library cannot serve it): register this
  // library and try once more. A relative name is looked up beside the executable, then in
  // the folder of the platform library. Empty = no second try.
  std::string registerIfMissing;
};

struct CreateResult {
  std::unique_ptr<HostedControl> control;
  HRESULT code = E_FAIL;
  std::string reason;  // why creation failed (Russian), empty on success
  explicit operator bool() const { return control != nullptr; }
};

// Creates the control registered under clsid and activates it in place as a child of parent
// at geometry. On failure nothing is left behind and the result says why.
CreateResult CreateControlInPlace(const std::string& clsid, QWidget* parent, const QRect& geometry,
                                  const CreateOptions& options = {});

// Creates an object through the registry without placing it. *out is owned by the caller.
HRESULT CreateControl(const std::string& clsid, Control** out, std::string* reason = nullptr);
HRESULT CreatePropertyPage(const std::string& clsid, PropertyPage** out, std::string* reason = nullptr);

// Calls the library's DllRegisterServer (or DllUnregisterServer); the library path must be
// one dlopen accepts. *reason tells a loading failure.
HRESULT RegisterLibrary(const std::string& libraryPath, bool unregister = false, std::string* reason = nullptr);
// The library's DllCanUnloadNow, S_FALSE when it is not loaded.
HRESULT LibraryCanUnloadNow(const std::string& libraryPath);

}  // namespace ole
