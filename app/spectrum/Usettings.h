// The settings window TSettings: three spectrum preferences and the knob's two steps.
// It has no logic of its own; the spectrum and the knob handler read its controls when
// they need them.
#pragma once

#include <QGroupBox>

#include "app/controls/ComboBox.h"
#include "app/controls/SpinEdit.h"
#include "app/controls/ToolWindow.h"

class TSettings : public TToolWindow {
  Q_OBJECT
 public:
  TSettings();

  QGroupBox* GroupSpectr;
  TComboBox* AvrCnt;
  TComboBox* SpectrScaling;
  TComboBox* SpectrMashtab;
  QGroupBox* GroupKoder;
  TSpinEdit* Step1;
  TSpinEdit* Step2;
};

// The single instance (named so as not to clash with the settings file).
extern TSettings* SettingsWindow;
