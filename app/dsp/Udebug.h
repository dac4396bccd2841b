// The debug console TDebug (Ctrl+D): writes raw 16-bit values into the receiver through the
// service-register command g, and keeps the log of USB link events in `Debug`.
//
// The first digit of the g value names the target (1 Num1, 2 Num2, 3 the bit word of Num3),
// the other five carry the 16-bit value. Only the window's place persists.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QTableWidget>

#include "app/controls/SpinEdit.h"
#include "app/controls/ToolWindow.h"

class TDebug : public TToolWindow {
  Q_OBJECT
 public:
  TDebug();

  QLabel* Num1Label;
  TSpinEdit* Num1;
  QLabel* Num2Label;
  TSpinEdit* Num2;
  QLabel* Num3Label;
  QLabel* Num3Marks;
  QTableWidget* Num3;  // 16 cells in one row, cell c is bit 15 − c
  QPlainTextEdit* Debug;

  static constexpr int kBits = 16;
  static constexpr int kKeptLogLines = 1000;  // older lines of the log are dropped

  // Appends one line at the end, whether the window is shown or not.
  void AppendLine(const QString& text);

  void Num1Send();
  void Num2Send();
  // Toggles the cell ("0" becomes "1", anything else "0") and sends the bit word.
  void Num3SelectCell(int cell);
  // The 16-bit word the cells show.
  int Num3Word() const;

 protected:
  bool eventFilter(QObject*, QEvent*) override;
};

extern TDebug* Debug;
