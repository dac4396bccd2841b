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

QValidator::State TSpinEdit::validate(QString& text, int&) const {
  const QString t = text.trimmed();
  if (t.isEmpty() || t == "-") return QValidator::Intermediate;
  bool ok = false;
  const qlonglong v = t.toLongLong(&ok);
  if (!ok || t.startsWith('+')) return QValidator::Invalid;
  return v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

void TSpinEdit::ConfirmTyped() {
  bool ok = false;
  const qlonglong typed = TypedText().trimmed().toLongLong(&ok);  // long: 99999999999 is a number too
  SetValue(int(std::clamp<qlonglong>(ok ? typed : Value(), minimum(), maximum())));
  lineEdit()->setText(textFromValue(Value()));  // also when the value was already the end
}

bool TSpinEdit::ConfirmOnEnter(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  ConfirmTyped();
  return true;
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
