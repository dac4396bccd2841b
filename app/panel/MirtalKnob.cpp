#include "app/panel/MirtalKnob.h"

#include <QWidget>
#include <array>
#include <cstdio>

#include "platform/ole/ControlHost.h"

namespace {

constexpr const char* kMirtalClassId = "{875A7D86-865E-11D5-A5D7-0050BF3480D5}";

// The knob's stored properties as the main window keeps them: version 1.0, extent
// 1693 x 1667 (64 x 63 pixels), Step 1000, BigStep 1, Kind 0, UpRange 2147483647,
// DNRange -2147483647, tooltip shown and empty, Timer 20.
constexpr std::array<uint8_t, 40> kStoredForm = {
    0x00, 0x00, 0x01, 0x00, 0x9D, 0x06, 0x00, 0x00, 0x83, 0x06, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80, 0x01, 0x00, 0x14, 0x00};

// Resolves one name through the control's type information; false, with the reason, when
// the control does not have it.
bool Bind(const ole::HostedControl& control, bool event, const char* name, ole::DispId& id, std::string* reason) {
  const ole::HRESULT hr = event ? control.EventIdOfName(name, id) : control.IdOfName(name, id);
  if (hr == ole::S_OK) return true;
  if (reason) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    *reason = std::string("у ручки нет ") + (event ? "события " : "свойства ") + name + " (" + code + ")";
  }
  return false;
}

}  // namespace

std::unique_ptr<TMirtalKnob> TMirtalKnob::Create(QWidget* parent, std::function<void()> onGetValue,
                                                 std::string* reason) {
  ole::CreateOptions options;
  options.storedForm = kStoredForm;
  options.registerIfMissing = "libMirtal.so";
  ole::CreateResult r = ole::CreateControlInPlace(kMirtalClassId, parent, QRect(245, 324, 64, 63), options);
  if (!r) {
    if (reason) *reason = r.reason;
    return nullptr;
  }
  r.control->control()->setAccessibleName("Ручка настройки частоты");
  Bound ids{};
  if (!Bind(*r.control, false, "ValueMirtal", ids.valueMirtal, reason) ||
      !Bind(*r.control, false, "Step", ids.step, reason) || !Bind(*r.control, false, "BigStep", ids.bigStep, reason) ||
      !Bind(*r.control, true, "GetValue", ids.getValue, reason))
    return nullptr;
  r.control->SetEventSink([onGetValue, getValue = ids.getValue](ole::DispId id, const ole::Args&) {
    if (id == getValue && onGetValue) onGetValue();
  });
  return std::unique_ptr<TMirtalKnob>(new TMirtalKnob(std::move(r.control), ids));
}

TMirtalKnob::TMirtalKnob(std::unique_ptr<ole::HostedControl> control, const Bound& ids)
    : control_(std::move(control)), ids_(ids) {}

TMirtalKnob::~TMirtalKnob() {
  if (control_) control_->SetEventSink({});
}

int32_t TMirtalKnob::ValueMirtal() {
  ole::Variant v;
  if (control_->Get(ids_.valueMirtal, v) != ole::S_OK) return 0;
  return v.toInt32().value_or(0);
}

void TMirtalKnob::SetValueMirtal(int32_t value) { control_->Put(ids_.valueMirtal, value); }
void TMirtalKnob::SetStep(int32_t step) { control_->Put(ids_.step, step); }
void TMirtalKnob::SetBigStep(int32_t step) { control_->Put(ids_.bigStep, step); }
