#pragma once
// The library's own object count (DllCanUnloadNow) and its property page.

#include "platform/ole/ClassFactory.h"
#include "platform/ole/PropertyPage.h"

namespace mirtal {

ole::ServerModule& Module();

// The "General" page: step sizes, limits, mode, speed and tooltip.
class MirtalPropPage : public ole::PropertyPage {
 public:
  MirtalPropPage();
  ~MirtalPropPage() override;
};

}  // namespace mirtal
