// The notch-filter window TRegector: switches the receiver's LF notch on and off and sets
// its centre frequency and width.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QSlider>

#include "app/controls/ToolWindow.h"

class TRegector : public TToolWindow {
  Q_OBJECT
 public:
  TRegector();

  QCheckBox* RegEn;
  QLabel* LblFreqReg;
  QSlider* SldFreqReg;
  QLabel* LblPolReg;
  QSlider* SldPolReg;

  // Sends the filter state (K, M) and brings the controls in line with RegEn.
  void ApplyNotch();

 protected:
  bool eventFilter(QObject*, QEvent*) override;
};

extern TRegector* Regector;
