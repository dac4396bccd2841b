#include "app/controls/RadioGroup.h"

#include <QGridLayout>
#include <QRadioButton>

TRadioGroup::TRadioGroup(QWidget* parent, const QString& name, const QString& caption,
                         const QStringList& items, int columns, int index)
    : QGroupBox(caption, parent) {
  setObjectName(name);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(4, 2, 4, 2);
  grid->setSpacing(1);
  const int rows = (int(items.size()) + columns - 1) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], this);
    buttons_.addButton(b, i);
    grid->addWidget(b, i % rows, i / rows);  // filled column by column
  }
  SetItemIndex(index);
  connect(&buttons_, &QButtonGroup::idClicked, this, [this](int id) { SetItemIndex(id); });
}

void TRadioGroup::SetItemIndex(int index) {
  if (index < -1 || index >= int(buttons_.buttons().size()) || index == index_) return;
  index_ = index;
  if (index >= 0) buttons_.button(index)->setChecked(true);
  if (OnClick) OnClick();
}
