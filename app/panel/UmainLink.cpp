// The main window's side of the USB link (the posted link events) and of the spectrum.
#include "app/dsp/Udebug.h"
#include "app/link/Ucmd.h"
#include "app/link/Ureport.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"
#include "app/Startup.h"
#include "app/spectrum/Uiq.h"
#include "app/spectrum/Usettings.h"
#include "app/spectrum/Uwaterfall.h"

namespace {

// Texts of the link events, written to the debug console; none for the silent ones.
const char* LinkEventText(int code) {
  switch (code) {
    case kLinkConnected: return "Устройство подключено";
    case kLinkDisconnected: return "Устройство отключено";
    case kLinkRegisterFailed: return "Ошибка передачи события драйверу";
    case kLinkReportReadFailed: return "Ошибка запроса Interrupt";
    case kLinkCrc: return "Ошибка CRC";
    case kLinkBlockReadFailed: return "Ошибка запроса Bulk2";
    case kLinkBlockTimeout: return "Ошибка тайм-аута Bulk2";
    case kLinkBlockLength: return "Ошибка длины Bulk2";
    case kLinkRemoved: return "USB отключено";
    default: return nullptr;
  }
}

}  // namespace

void TMain::HandleLinkMessage(int code) {
  if (const char* text = LinkEventText(code); text && Debug) Debug->AppendLine(QString::fromUtf8(text));
  switch (code) {
    case kLinkConnected:
      LinkKind = cmd::kLinkUsb;
      UploadState();
      RenderSpectrum();
      BtnGOClick();
      break;
    case kLinkDisconnected:
      LinkKind = cmd::kLinkSerial;
      SerialUploadDone = false;
      RenderSpectrum();
      break;
    case kLinkReport:
      Usb.DrainReports([](const uint8_t* report) { ParseReport(report); });
      break;
    case kLinkBlock:
      Usb.DrainBlocks([this](const int16_t* block) { AddBlock(block); });
      break;
    default:
      break;
  }
}

void TMain::AddBlock(const int16_t* block) {
  SpectrumPictures pictures = Pictures();
  SpectrumControls controls = SpectrumInputs();
  if (Waterfall && Waterfall->isVisible()) controls.rowSink = Waterfall;  // hidden, it costs nothing
  AddSampleBlock(Spectrum, block, controls, pictures);
  SpectrumShown();
  if (IQ && IQ->isVisible()) IQ->ShowIqBlock(block);
}

SpectrumControls TMain::SpectrumInputs() const {
  SpectrumControls c;
  if (SettingsWindow) {
    c.scalingIndex = SettingsWindow->SpectrScaling->ItemIndex();
    c.avrCount = SettingsWindow->AvrCnt->Text().toInt();
    c.mashtabIndex = SettingsWindow->SpectrMashtab->ItemIndex();
  }
  c.avrDown = BtnAvr->Down();
  c.bandwidthDown = -1;
  for (int i = 0; i < 6; ++i)
    if (BandwidthButton(i)->Down()) {
      c.bandwidthDown = i;
      break;
    }
  c.fc = TunedFrequency();
  c.aruDown = BtnARU->Down();
  c.uvcDown = BtnUvc->Down();
  c.rruPosition = SldRRU->value();
  c.attVch = AttVch->Value();
  c.linkKind = LinkKind;
  return c;
}

SpectrumPictures TMain::Pictures() {
  return {&SpectrData->Picture(), &LScale->Picture(), &Spectr->Picture(), &RScale->Picture(),
          &FScale->Picture()};
}

void TMain::SpectrumShown() {
  for (TImage* i : {SpectrData, LScale, Spectr, RScale, FScale}) i->Changed();
}

void TMain::RenderSpectrum() {
  SpectrumPictures pictures = Pictures();
  ::RenderSpectrum(Spectrum, SpectrumInputs(), pictures);
  SpectrumShown();
}
