#include "app/dsp/Uclass.h"

#include "app/panel/Umain.h"

TClassIz* ClassIz = nullptr;

TClassIz::TClassIz() : TToolWindow("TClassIz", "Классы", {330, 200}) {
  ClassIz = this;
  FormShow = [this] { ApplyClass(); };
}

// The class table and its commands join with the emission-class work; until then there is
// no class to apply.
void TClassIz::ApplyClass() {}
