#include "app/controls/SpinEdit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

TSpinEdit::TSpinEdit(QWidget* parent, const QString& name, int min, int max, int value, int step)
    : QSpinBox(parent) {
  setObjectName(name);
  setRange(min, max);
  setSingleStep(step);
  setValue(value);
}

void TSpinEdit::stepBy(int steps) {
  QSpinBox::stepBy(steps);
  if (OnArrowClick) OnArrowClick();
}

void TSpinEdit::keyPressEvent(QKeyEvent* e) {
  if (OnKeyDown) OnKeyDown(e->key());
  QSpinBox::keyPressEvent(e);
}

void TSpinEdit::ConfirmTyped() {
  bool ok = false;
  const int typed = TypedText().trimmed().toInt(&ok);
  SetValue(std::clamp(ok ? typed : Value(), minimum(), maximum()));
}

void TSpinEdit::SetArrowsOnly() {
  lineEdit()->setReadOnly(true);
  setFocusPolicy(Qt::NoFocus);
}

TFloatSpinEdit::TFloatSpinEdit(QWidget* parent, const QString& name, double min, double max,
                               double value, double step, int decimals)
    : QDoubleSpinBox(parent) {
  setObjectName(name);
  setDecimals(decimals);
  setRange(min, max);
  setSingleStep(step);
  setValue(value);
}

void TFloatSpinEdit::SetArrowsOnly() {
  lineEdit()->setReadOnly(true);
  setFocusPolicy(Qt::NoFocus);
}
