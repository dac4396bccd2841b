// The memory window's group "Сканирование": the channel scanner.
#include "app/memory/Uchan.h"
#include "app/panel/Umain.h"

namespace {

constexpr int kScanButtonGroup = 1;

}  // namespace

void TChan::CreateScanControls() {
  GroupScan = new QGroupBox("Сканирование", this);
  GroupScan->setGeometry(4, 132, 358, 86);

  using Kind = TPictureButton::Kind;
  constexpr int kButtonY = 150, kButtonW = 36, kButtonH = 30, kButtonGap = 2;
  int x = 10;
  auto button = [&](const char* name, const QString& face, const QString& hint) {
    auto* b = new TPictureButton(this, name, face, Kind::Group, kScanButtonGroup);
    b->setGeometry(x, kButtonY, kButtonW, kButtonH);
    b->setToolTip(hint);
    b->setAccessibleName(hint);  // the face is a symbol: the hint says what it does
    x += kButtonW + kButtonGap;
    return b;
  };
  ScanLeft = button("ScanLeft", "◀◀", "Сканирование к меньшим номерам");
  ScanPause = button("ScanPause", "▮▮", "Пауза");
  ScanStop = button("ScanStop", "■", "Стоп");
  ScanRight = button("ScanRight", "▶▶", "Сканирование к большим номерам");
  ScanPause->SetDown(true);

  auto label = [this](const char* name, const QString& text, QRect place) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    l->setGeometry(place);
    return l;
  };
  auto edit = [this](const char* name, int min, int max, int value, int step, const QString& hint, QRect place) {
    auto* e = new TSpinEdit(this, name, min, max, value, step);
    e->setGeometry(place);
    e->SetArrowsOnly();
    e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    e->setToolTip(hint);
    return e;
  };
  LblTime = label("LblTime", "dT", {186, 153, 50, 16});
  Time = edit("Time", 200, 20000, 200, 50, "Время переключения, мс", {240, 150, 112, 22});
  LblPorog = label("LblPorog", "Порог", {186, 183, 50, 16});
  Porog = edit("Porog", -70, 70, 50, 1, "Порог остановки, дБ", {240, 180, 112, 22});
  LblTime->setBuddy(Time);
  LblPorog->setBuddy(Porog);
  Label5 = label("Label5", "Канал №", {10, 188, 150, 16});

  ScanTimer = new QTimer(this);
  ScanTimer->setObjectName("ScanTimer");
}

void TChan::StartScan(int direction) {
  RecallChannel(CurrentChannel);
  ScanDirection = direction;
  ScanTimer->setInterval(Time->Value());
  ScanTimer->start();
}

void TChan::ScanRightClick() { StartScan(+1); }
void TChan::ScanLeftClick() { StartScan(-1); }

void TChan::ScanPauseClick() { ScanTimer->stop(); }

void TChan::ScanStopClick() {
  ScanTimer->stop();
  CurrentChannel = 1;
  RecallChannel(1);
  ChanList->SetItemIndex(0);
}

void TChan::ScanTimerTimer() {
  if (Porog->Value() <= Spectrum.PeakLevel) {
    ScanTimer->stop();
    ScanPause->SetDown(true);
    return;
  }
  CurrentChannel += ScanDirection;
  if (CurrentChannel < 1) CurrentChannel = ChannelCount;
  else if (CurrentChannel > ChannelCount) CurrentChannel = 1;
  RecallChannel(CurrentChannel);
  ChanList->SetItemIndex(CurrentChannel - 1);  // silent: the list's pick handler does not run
}
