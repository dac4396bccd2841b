// The service console TVestraMdebug (Ctrl+Y): a single-border window in the centre of the
// screen; its spectrum-output selector joins with the service-console work.
#pragma once

#include "app/controls/ToolWindow.h"

class TVestraMdebug : public TToolWindow {
  Q_OBJECT
 public:
  TVestraMdebug();
};

extern TVestraMdebug* VestraMdebug;
