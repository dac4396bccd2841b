// The debug console TDebug (Ctrl+D): the log of USB link events in its text field `Debug`
// (double-click clears it). The service-register controls join it with the service consoles.
#pragma once

#include <QPlainTextEdit>

#include "app/controls/ToolWindow.h"

class TDebug : public TToolWindow {
  Q_OBJECT
 public:
  TDebug();

  QPlainTextEdit* Debug;

  // Appends one line at the end, whether the window is shown or not.
  void AppendLine(const QString& text);

 protected:
  bool eventFilter(QObject*, QEvent*) override;
};

extern TDebug* Debug;
