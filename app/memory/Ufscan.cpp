#include "app/memory/Ufscan.h"

#include "app/panel/Umain.h"

TFScan* FScan = nullptr;

TFScan::TFScan() : TToolWindow("TFScan", "Сканирование", {420, 150}) {
  FScan = this;
  FormClose = [] {
    if (Main) Main->BtnFScan->SetDown(false);
  };
}
