// The four latching buttons of a scanner (towards lower, pause, stop, towards higher), one
// group, side by side from a corner; pause is down at start.
#pragma once

#include <QPoint>
#include <QString>

#include "app/controls/PictureButton.h"

struct ScanButtons {
  TPictureButton* left;
  TPictureButton* pause;
  TPictureButton* stop;
  TPictureButton* right;
};

// The hints name the two directions; the faces are symbols, so the hints are also the
// buttons' accessible names.
ScanButtons CreateScanButtons(QWidget* parent, QPoint at, const QString& leftHint, const QString& rightHint);
