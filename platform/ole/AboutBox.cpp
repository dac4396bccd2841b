#include "platform/ole/AboutBox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ole {

AboutBox::AboutBox(const QString& caption, const QString& line, QWidget* parent) : QDialog(parent) {
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(line, this);
  text->setObjectName(QStringLiteral("line"));
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

}  // namespace ole
