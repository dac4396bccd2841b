#include "app/memory/Ufscan.h"

#include <cmath>

#include "app/memory/ScanButtons.h"
#include "app/panel/Umain.h"

TFScan* FScan = nullptr;

namespace {

QLabel* Label(QWidget* parent, const QString& text, QRect place) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(place);
  return l;
}

TSpinEdit* Edit(QWidget* parent, const char* name, int min, int max, int value, int step, QRect place) {
  auto* e = new TSpinEdit(parent, name, min, max, value, step);
  e->setGeometry(place);
  return e;
}

}  // namespace

int32_t GridPointAtOrBelow(int32_t f, int32_t dF) {
  const double step = dF;
  return static_cast<int32_t>(step * std::trunc(f / step));
}

TFScan::TFScan() : TToolWindow("TFScan", "Сканирование", {165, 223}) {
  FScan = this;
  CreateControls();
  ConnectHandlers();
  SetPersisted({"F1.Value", "F2.Value", "dF.Value", "dT.Value", "Porog.Value"});
  // The main window restores the tool windows it knows of at its first activation; this
  // one keeps its five numbers itself, read once as it is created.
  Storage()->Restore(ProgramIni());
}

void TFScan::CreateControls() {
  constexpr int kLabelX = 6, kEditX = 62, kEditW = 96, kRowH = 26, kTop = 8;
  auto row = [](int i) { return kTop + i * kRowH; };
  LblF1 = Label(this, "F старт", {kLabelX, row(0) + 3, 54, 16});
  F1 = Edit(this, "F1", 1000000, 30000000, 1000000, 1000, {kEditX, row(0), kEditW, 22});
  F1->setAccessibleName("F старт");
  LblF2 = Label(this, "F стоп", {kLabelX, row(1) + 3, 54, 16});
  F2 = Edit(this, "F2", 1000000, 30000000, 30000000, 1000, {kEditX, row(1), kEditW, 22});
  F2->setAccessibleName("F стоп");
  LbldF = Label(this, "dF", {kLabelX, row(2) + 3, 54, 16});
  dF = Edit(this, "dF", 1, 1000000, 1000000, 1000, {kEditX, row(2), kEditW, 22});
  dF->setAccessibleName("dF");
  LbldT = Label(this, "dT", {kLabelX, row(3) + 3, 54, 16});
  dT = Edit(this, "dT", 20, 10000, 100, 10, {kEditX, row(3), kEditW, 22});
  dT->setAccessibleName("dT");
  LblPorog = Label(this, "Порог", {kLabelX, row(4) + 3, 54, 16});
  Porog = Edit(this, "Porog", -70, 70, 0, 1, {kEditX, row(4), kEditW, 22});
  Porog->setAccessibleName("Порог");

  const ScanButtons buttons = CreateScanButtons(this, {6, 158}, "Сканирование вниз", "Сканирование вверх");
  ScanLeft = buttons.left;
  ScanPause = buttons.pause;
  ScanStop = buttons.stop;
  ScanRight = buttons.right;

  ScanTimer = new QTimer(this);
  ScanTimer->setObjectName("ScanTimer");
}

void TFScan::ConnectHandlers() {
  ScanLeft->OnClick = [this] { ScanLeftClick(); };
  ScanPause->OnClick = [this] { ScanPauseClick(); };
  ScanStop->OnClick = [this] { ScanStopClick(); };
  ScanRight->OnClick = [this] { ScanRightClick(); };
  connect(ScanTimer, &QTimer::timeout, this, [this] { ScanTimerTimer(); });
  FormShow = [this] { OnFormShow(); };
  FormClose = [this] { OnFormClose(); };
}

void TFScan::SetEditsEnabled(bool enabled) {
  for (TSpinEdit* e : {F1, F2, dF, dT, Porog}) e->setEnabled(enabled);
}

void TFScan::OnFormShow() {
  ScanPause->SetDown(true);
  ScanTimer->stop();
  SetEditsEnabled(true);
  StoppedOnSignal = false;
}

void TFScan::StartScan(int direction) {
  SetEditsEnabled(false);
  ScanDirection = direction;
  ScanTimer->setInterval(dT->Value());
  ScanTimer->start();
}

void TFScan::ScanRightClick() { StartScan(+1); }
void TFScan::ScanLeftClick() { StartScan(-1); }

void TFScan::ScanPauseClick() {
  SetEditsEnabled(true);
  ScanTimer->stop();
}

void TFScan::ScanStopClick() {
  SetEditsEnabled(true);
  if (Main) Main->TuneTo(F1->Value());
  ScanTimer->stop();
}

void TFScan::ScanTimerTimer() {
  if (!Main) return;
  if (Spectrum.PeakLevel >= Porog->Value()) {
    if (!StoppedOnSignal) {
      Main->TuneTo(GridPointAtOrBelow(Spectrum.PeakFrequency, dF->Value()));
      SetEditsEnabled(true);
      ScanTimer->stop();
      ScanPause->SetDown(true);
      StoppedOnSignal = true;
      return;
    }
    // Resumed on the signal it stopped on: move off it.
  } else {
    StoppedOnSignal = false;
  }
  int32_t next = GridPointAtOrBelow(Main->TunedFrequency(), dF->Value()) + ScanDirection * dF->Value();
  if (next < F1->Value()) next = F2->Value();
  if (next > F2->Value()) next = F1->Value();
  Main->TuneTo(next);
}

void TFScan::OnFormClose() {
  ScanTimer->stop();
  if (Main) Main->BtnFScan->SetDown(false);
}
