// Spin boxes. The change action (the valueChanged signal) runs whenever the value changes,
// also when it is set in code; a value out of range is brought to the nearest end; setting
// the value it has does nothing. "Arrows only" fields cannot be typed into.
#pragma once

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <functional>

class TSpinEdit : public QSpinBox {
  Q_OBJECT
 public:
  TSpinEdit(QWidget* parent, const QString& name, int min, int max, int value, int step = 1);
  void SetArrowsOnly();
  int Value() const { return value(); }
  void SetValue(int v) { setValue(v); }
  // What is typed in the field, which may be outside the range until it is confirmed.
  QString TypedText() const { return lineEdit()->text(); }
  // Makes what is typed the value, brought into the range (a text that is no number keeps
  // the value). Enter handlers call it: they run before the field takes the key itself.
  void ConfirmTyped();
  // For Enter (either key): confirms what is typed and says true, so that the handler then
  // acts on the value. Any other key: false, nothing done.
  bool ConfirmOnEnter(int key);

  // After a click on the up or down arrow (or the arrow keys), once the value has moved.
  std::function<void()> OnArrowClick;
  // A key pressed in the field, before the field handles it.
  std::function<void(int key)> OnKeyDown;

  void stepBy(int steps) override;
  // Any whole number may be typed, also one beyond the range: Enter brings it to the
  // nearest end (ConfirmTyped). Qt's own check would refuse the keystroke instead, so
  // typing 3000 where 300 is the most would leave 300 and lose the operator's intent.
  QValidator::State validate(QString& text, int& pos) const override;

 protected:
  void keyPressEvent(QKeyEvent*) override;
};

// A spin box with one decimal (the noise-suppression time constant).
class TFloatSpinEdit : public QDoubleSpinBox {
  Q_OBJECT
 public:
  TFloatSpinEdit(QWidget* parent, const QString& name, double min, double max, double value,
                 double step, int decimals);
  void SetArrowsOnly();
  double Value() const { return value(); }
  void SetValue(double v) { setValue(v); }
};
