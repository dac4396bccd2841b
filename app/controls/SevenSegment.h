// A seven-segment numeric display, lime on black, of a fixed number of digits.
#pragma once

#include <QWidget>

class TSevenSegment : public QWidget {
  Q_OBJECT
 public:
  TSevenSegment(QWidget* parent, const QString& name, int digits, bool leadingZeros, int maxValue);

  int Value() const { return value_; }
  // Clamped to 0 … the maximum; repaints only when the value changes.
  void SetValue(int value);
  // The digits as they are drawn (blank positions as spaces), for tests and tooltips.
  QString Text() const;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int digits_;
  bool leadingZeros_;
  int max_;
  int value_ = 0;
};
