// The main window's tuning knob: the Mirtal control, created in place by its class id and
// reached through its dispatch interface, whose members and GetValue event it binds by name
// through the control's type information. GetValue goes to the main window.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/panel/Knob.h"
#include "platform/ole/OleTypes.h"

class QWidget;
namespace ole {
class HostedControl;
}

class TMirtalKnob : public TKnob {
 public:
  // Creates the knob as a child of `parent` at 245, 324 (64 x 63) with the stored form the
  // main window keeps for it. Null, with the reason, when the control cannot be had.
  static std::unique_ptr<TMirtalKnob> Create(QWidget* parent, std::function<void()> onGetValue,
                                             std::string* reason);
  ~TMirtalKnob() override;

  int32_t ValueMirtal() override;
  void SetValueMirtal(int32_t value) override;
  void SetStep(int32_t step) override;
  void SetBigStep(int32_t step) override;

 private:
  // Dispatch ids of the members the main window uses, resolved by name at creation.
  struct Bound {
    ole::DispId valueMirtal, step, bigStep, getValue;
  };
  TMirtalKnob(std::unique_ptr<ole::HostedControl> control, const Bound& ids);
  std::unique_ptr<ole::HostedControl> control_;
  Bound ids_;
};
