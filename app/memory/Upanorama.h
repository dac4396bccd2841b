// The panorama window TPanorama; its sweep joins with the panorama work.
#pragma once

#include "app/controls/ToolWindow.h"

class TPanorama : public TToolWindow {
  Q_OBJECT
 public:
  TPanorama();
};

extern TPanorama* Panorama;
