// The frequency-scan window TFScan; its scanner joins with the frequency-scan work.
#pragma once

#include "app/controls/ToolWindow.h"

class TFScan : public TToolWindow {
  Q_OBJECT
 public:
  TFScan();
};

extern TFScan* FScan;
