#include "app/controls/ComboBox.h"

TComboBox::TComboBox(QWidget* parent, const QString& name, const QStringList& items, int index)
    : QComboBox(parent) {
  setObjectName(name);
  addItems(items);
  setCurrentIndex(index);
  connect(this, &QComboBox::activated, this, [this](int) {
    if (OnChange) OnChange();
  });
}

void TComboBox::SetItemIndex(int index) {
  if (index >= -1 && index < count()) setCurrentIndex(index);
}

void TComboBox::Choose(int index) {
  SetItemIndex(index);
  if (OnChange) OnChange();
}
