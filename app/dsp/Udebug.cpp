#include "app/dsp/Udebug.h"

#include <QEvent>

TDebug* Debug = nullptr;

TDebug::TDebug() : TToolWindow("TDebug", "Debug", {330, 260}) {
  ::Debug = this;
  Debug = new QPlainTextEdit(this);
  Debug->setObjectName("Debug");
  Debug->setGeometry(4, 104, 322, 152);
  Debug->setReadOnly(false);
  Debug->viewport()->installEventFilter(this);
  SetPersisted({});
}

void TDebug::AppendLine(const QString& text) { Debug->appendPlainText(text); }

bool TDebug::eventFilter(QObject* target, QEvent* e) {
  if (target == Debug->viewport() && e->type() == QEvent::MouseButtonDblClick) {
    Debug->clear();
    return true;
  }
  return false;
}
