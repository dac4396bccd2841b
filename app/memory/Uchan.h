// The memory-channel window TChan; channels and their scan join with the channel-memory work.
#pragma once

#include "app/controls/ToolWindow.h"

class TChan : public TToolWindow {
  Q_OBJECT
 public:
  TChan();
};

extern TChan* Chan;
