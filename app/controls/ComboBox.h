// A selection-only drop-down list. Its change action (OnChange) runs only on the
// operator's choice; SetItemIndex() from code, as when restoring, is silent.
#pragma once

#include <QComboBox>
#include <functional>

class TComboBox : public QComboBox {
  Q_OBJECT
 public:
  TComboBox(QWidget* parent, const QString& name, const QStringList& items, int index);

  int ItemIndex() const { return currentIndex(); }
  void SetItemIndex(int index);
  QString Text() const { return currentText(); }
  // As the operator's choice: sets the index and runs OnChange.
  void Choose(int index);

  std::function<void()> OnChange;
};
