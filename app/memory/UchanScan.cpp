// The memory window's group "Сканирование": the channel scanner's handlers.
#include "app/memory/Uchan.h"
#include "app/panel/Umain.h"

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
