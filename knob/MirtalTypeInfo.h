#pragma once
// The knob's type information as a container reads it: _DMirtal with its properties and
// methods, _DMirtalEvents with its events, each with name, dispatch id, types and help string.

#include "platform/ole/TypeInfo.h"

namespace mirtal {

const ole::TypeInfo& DispatchTypeInfo();
const ole::TypeInfo& EventTypeInfo();

}  // namespace mirtal
