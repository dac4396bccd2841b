// The emission-class window TClassIz, opened by the class-mode button.
#pragma once

#include "app/controls/ToolWindow.h"

class TClassIz : public TToolWindow {
  Q_OBJECT
 public:
  TClassIz();

  // Sends the chosen emission class (and the bandwidth it implies) to the receiver.
  void ApplyClass();
  // The designator of the chosen class, shown as the hint of the class-mode button.
  QString ClassNameText() const { return className_; }

 private:
  QString className_;
};

extern TClassIz* ClassIz;
