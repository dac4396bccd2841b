// The DSP program loader TTms (Ctrl+L); the loader joins with the DSP-loader work.
#pragma once

#include "app/controls/ToolWindow.h"

class TTms : public TToolWindow {
  Q_OBJECT
 public:
  TTms();
};

extern TTms* Tms;
