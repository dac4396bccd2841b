#include "app/controls/Label.h"

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect place, Qt::Alignment align) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  l->setGeometry(place);
  l->setAlignment(align);
  return l;
}
