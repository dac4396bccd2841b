// The frequency-scan window TFScan: steps the receiver through a range on a grid of dF,
// one step per dT, wrapping at the ends, and stops on the grid point of the strongest
// signal of the spectrum once its level reaches the threshold.
#pragma once

#include <QLabel>
#include <QTimer>
#include <cstdint>

#include "app/controls/PictureButton.h"
#include "app/controls/SpinEdit.h"
#include "app/controls/ToolWindow.h"

class TFScan : public TToolWindow {
  Q_OBJECT
 public:
  TFScan();

  // ---- Controls, in the order of the window's layout.
  QLabel* LblF1;
  TSpinEdit* F1;
  QLabel* LblF2;
  TSpinEdit* F2;
  QLabel* LbldF;
  TSpinEdit* dF;
  QLabel* LbldT;
  TSpinEdit* dT;
  QLabel* LblPorog;
  TSpinEdit* Porog;
  TPictureButton* ScanLeft;
  TPictureButton* ScanPause;
  TPictureButton* ScanStop;
  TPictureButton* ScanRight;
  QTimer* ScanTimer;

  // ---- State besides the controls.
  int ScanDirection = +1;
  bool StoppedOnSignal = false;

  // ---- Handlers.
  void OnFormShow();
  void ScanRightClick();
  void ScanLeftClick();
  void ScanPauseClick();
  void ScanStopClick();
  void ScanTimerTimer();
  void OnFormClose();

 private:
  void CreateControls();
  void ConnectHandlers();
  void StartScan(int direction);
  void SetEditsEnabled(bool enabled);
};

// The grid point at or below f on a grid of step dF: dF × trunc(f / dF), formed in floating
// point and truncated, so that every step from 1 Hz to 1 MHz lands exactly.
int32_t GridPointAtOrBelow(int32_t f, int32_t dF);

extern TFScan* FScan;
