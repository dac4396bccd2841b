#include "app/dsp/Utms.h"

#include "app/panel/Umain.h"

TTms* Tms = nullptr;

TTms::TTms() : TToolWindow("TTms", "Загрузка TMS", {300, 120}) {
  Tms = this;
}
