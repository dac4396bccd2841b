// The main window's receiver controls: gain control, mode, bandwidth, preamplifier, sample
// stream, the sliders and the attenuator, and the buttons of the tool windows.
#include "app/dsp/Uclass.h"
#include "app/dsp/Umparams.h"
#include "app/dsp/Uregector.h"
#include "app/link/Ucmd.h"
#include "app/memory/Uchan.h"
#include "app/memory/Ufscan.h"
#include "app/memory/Upanorama.h"
#include "app/panel/Umain.h"
#include "app/spectrum/Usettings.h"

void TMain::BtnARUClick() {
  SldRRU->setEnabled(false);
  SendCommand(cmd::AgcThreshold, MParams->PorogARU->Value());
  SendCommand(cmd::GainMode, MParams->tARU->ItemIndex());
}

void TMain::BtnRRUClick() {
  SldRRU->setEnabled(true);
  SendCommand(cmd::IfGain, SldRRU->value());
  SendCommand(cmd::GainMode, 5 + MParams->RruComp->ItemIndex());
}

void TMain::SldRRUChange() {
  LblRRU->setText("ПЧ " + QString::number(SldRRU->value()) + " дБ");
  SendCommand(cmd::IfGain, SldRRU->value());
}

void TMain::SldNchChange() {
  LblNch->setText("НЧ " + QString::number(SldNch->value()) + " дБ");
  SendCommand(cmd::LfGain, SldNch->value());
}

void TMain::SldTonChange() {
  SendCommand(cmd::BeatTone, SldTon->value() * 100);
  LblTon->setText("  " + QString::number(SldTon->value() * 100) + " Гц");
}

void TMain::AttVchChange() { SendCommand(cmd::Attenuator, AttVch->Value()); }

void TMain::BtnUvcClick() { SendCommand(cmd::Preamp, BtnUvc->Down() ? 1 : 0); }

void TMain::BtnGOClick() { SendCommand(cmd::SampleStream, BtnGO->Down() ? 1 : 0); }

void TMain::ReissueBandwidth() {
  for (int i = 0; i < 6; ++i)
    if (BandwidthButton(i)->Down()) {
      BtnPolClick(i);
      return;
    }
}

void TMain::BtnAMClick() {
  SldTon->setEnabled(false);
  SendCommand(cmd::Mode, cmd::kModeAM);
  ReissueBandwidth();
}

void TMain::BtnTLGClick() {
  SldTon->setEnabled(true);
  SendCommand(cmd::BeatTone, SldTon->value() * 100);
  SendCommand(cmd::Mode, cmd::kModeTLG);
  ReissueBandwidth();
}

void TMain::BtnVBPClick() {
  SldTon->setEnabled(false);
  SendCommand(cmd::SidebandShift, MParams->Sideband->Value());
  SendCommand(cmd::BeatTone, MParams->Sideband->Value());
  SendCommand(cmd::Mode, cmd::kModeVBP);
  ReissueBandwidth();
}

void TMain::BtnNBPClick() {
  SldTon->setEnabled(false);
  SendCommand(cmd::SidebandShift, MParams->Sideband->Value());
  SendCommand(cmd::BeatTone, -MParams->Sideband->Value());
  SendCommand(cmd::Mode, cmd::kModeNBP);
  ReissueBandwidth();
}

void TMain::BtnCLASSClick() {
  SldTon->setEnabled(false);
  SendCommand(cmd::Mode, cmd::kModeClass);
  if (!ClassIz) return;
  if (ClassIz->isVisible()) {
    ClassIz->ShowAndRaise();
    ClassIz->ApplyClass();
  } else {
    ClassIz->ShowAndRaise();  // showing the window applies the class
  }
}

void TMain::BtnPolClick(int index) {
  static constexpr int kHz[6] = {12000, 8000, 6000, 3000, 1000, 500};
  if (index >= 0 && index < 6) SendCommand(cmd::Bandwidth, kHz[index]);
}

void TMain::ToolButtonClick(TPictureButton* button, QWidget* window) {
  if (!window) return;
  if (button->Down()) {
    window->show();
    window->raise();
    window->activateWindow();
  } else if (window->isVisible()) {
    window->close();
  }
}

void TMain::BtnChanClick() { ToolButtonClick(BtnChan, Chan); }
void TMain::BtnMoreParamsClick() { ToolButtonClick(BtnMoreParams, MParams); }
void TMain::BtnSetupClick() { ToolButtonClick(BtnSetup, SettingsWindow); }
void TMain::BtnPanClick() { ToolButtonClick(BtnPan, Panorama); }
void TMain::BtnFScanClick() { ToolButtonClick(BtnFScan, FScan); }
void TMain::BtnRegectorClick() { ToolButtonClick(BtnRegector, Regector); }
