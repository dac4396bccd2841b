// What the main window needs of its tuning knob control: the value and the two steps.
// The control itself is created by class id and reached through its dispatch interface.
#pragma once

#include <cstdint>

class TKnob {
 public:
  virtual ~TKnob() = default;
  virtual int32_t ValueMirtal() = 0;
  virtual void SetValueMirtal(int32_t value) = 0;
  virtual void SetStep(int32_t step) = 0;
  virtual void SetBigStep(int32_t step) = 0;
};
