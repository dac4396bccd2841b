// The panorama window TPanorama: tunes the receiver to 100, 200 or 400 equally spaced
// frequencies in turn, keeps the level the receiver reports at each, draws level against
// frequency 400 pixels wide, and tunes back to where it was. A click into the finished
// picture sets the cursor there and tunes to that point.
#pragma once

#include <QLabel>
#include <QTimer>
#include <array>
#include <cstdint>

#include "app/controls/ComboBox.h"
#include "app/controls/ImageControl.h"
#include "app/controls/PictureButton.h"
#include "app/controls/SpinEdit.h"
#include "app/controls/ToolWindow.h"

inline constexpr int kPanColumns = 400;

class TPanorama : public TToolWindow {
  Q_OBJECT
 public:
  TPanorama();

  // ---- Controls, in the order of the window's layout.
  TImage* PanWin;
  QLabel* LblF1;
  TSpinEdit* F1;
  QLabel* LblF2;
  TSpinEdit* F2;
  QLabel* LblNumFreqs;
  TComboBox* NumFreqs;
  TPictureButton* Start;
  QTimer* PanTimer;
  // The short wait between tuning to the first point and the first tick, so that the
  // window keeps running meanwhile.
  QTimer* PanSettle;

  // ---- State besides the controls.
  std::array<int32_t, kPanColumns> PanLevels;
  std::array<int32_t, kPanColumns> PanFrequencies;
  int32_t PanCursor = 25;
  int32_t PanIndex = 0;
  int32_t PanReturnkHz = 0;
  int32_t PanReturnHz = 0;

  // ---- Handlers.
  void OnFormShow();
  void StartClick();
  void PanTimerTimer();
  void PanWinMouseDown(Qt::MouseButton button, int x);
  void OnFormClose();

  void BuildFrequencyTable();
  void DrawPanorama();
  // 100, 200 or 400 by NumFreqs.
  int PointCount() const;

 private:
  void CreateControls();
  void ConnectHandlers();
  void SetInputsEnabled(bool enabled);
  void CorrectInputs();
};

extern TPanorama* Panorama;
