#include "app/Startup.h"

#include "app/controls/FormStorage.h"

#include "app/dsp/Uclass.h"
#include "app/dsp/Udebug.h"
#include "app/dsp/Udecoder.h"
#include "app/dsp/Umparams.h"
#include "app/dsp/Uregector.h"
#include "app/dsp/Utms.h"
#include "app/dsp/Uvestramdebug.h"
#include "app/link/Uusb.h"
#include "app/memory/Uchan.h"
#include "app/memory/Ufscan.h"
#include "app/memory/Upanorama.h"
#include "app/panel/Umain.h"
#include "app/spectrum/Uiq.h"
#include "app/spectrum/Usettings.h"
#include "app/spectrum/Uwaterfall.h"
#include "platform/win32/Comm.h"
#include "platform/win32/IniFile.h"

TIQ* IQ = nullptr;

ProgramWindows::ProgramWindows() {
  win32::IniFile& ini = ProgramIni();
  win32::SetCommPortPath(1, ini.ReadString("Serial", "Port", "/dev/ttyS0").toStdString());

  windows_.emplace_back(new TMain);
  windows_.emplace_back(new TDebug);
  windows_.emplace_back(new TFScan);
  windows_.emplace_back(new TClassIz);
  windows_.emplace_back(new TMParams);
  windows_.emplace_back(new TSettings);
  windows_.emplace_back(new TChan);
  windows_.emplace_back(new TPanorama);
  windows_.emplace_back(new TDecoder);
  windows_.emplace_back(new TRegector);
  IQ = new TIQ;
  IQ->setObjectName("TIQ");
  windows_.emplace_back(IQ);
  // The IQ window keeps its view settings; it loads them itself when it is created.
  iqStorage_ = std::make_unique<TFormStorage>(IQ, "TIQ", QStringList{"VScale.ItemIndex", "IOn.Checked", "QOn.Checked"});
  iqStorage_->Restore(ini);
  windows_.emplace_back(new TTms);
  windows_.emplace_back(new TVestraMdebug);
  // Ours, after the original windows: the waterfall, which tunes as the panorama does.
  auto* waterfall = new TWaterfall;
  waterfall->TuneTo = [](int32_t f) { if (Main) Main->TuneTo(f); };
  windows_.emplace_back(waterfall);
}

ProgramWindows::~ProgramWindows() {
  iqStorage_.reset();
  IQ = nullptr;
  while (!windows_.empty()) windows_.pop_back();
  // The USB worker has been told to stop; it closes the device before anything under it
  // goes away.
  Usb.WaitForWorker(2000);
}
