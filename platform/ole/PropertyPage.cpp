#include "platform/ole/PropertyPage.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/ole/Control.h"

namespace ole {

PropertyPageDialog::PropertyPageDialog(const PropertyPage& page, Control& target, QWidget* parent)
    : QDialog(parent), target_(target) {
  setWindowTitle(page.caption());
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  layout->addLayout(form);
  for (const PageField& f : page.fields()) {
    Binding b{&f};
    QWidget* editor = nullptr;
    if (f.kind == PageField::Kind::Radio) {
      auto* box = new QWidget(this);
      auto* row = new QVBoxLayout(box);
      row->setContentsMargins(0, 0, 0, 0);
      b.group = new QButtonGroup(box);
      for (const auto& c : f.choices) {
        auto* radio = new QRadioButton(c.text, box);
        radio->setObjectName(QStringLiteral("id%1").arg(c.controlId));
        b.group->addButton(radio, c.value);
        row->addWidget(radio);
      }
      editor = box;
    } else {
      b.edit = new QLineEdit(this);
      b.edit->setObjectName(QStringLiteral("id%1").arg(f.controlId));
      editor = b.edit;
    }
    form->addRow(f.label, editor);
    if (!f.note.isEmpty()) form->addRow(QString(), new QLabel(f.note, this));
    bindings_.push_back(b);
  }
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
  QPushButton* apply = buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::ApplyRole);
  apply->setObjectName(QStringLiteral("apply"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(apply, &QPushButton::clicked, this, &PropertyPageDialog::Apply);
  ReadProperties();
}

void PropertyPageDialog::ReadProperties() {
  for (auto& b : bindings_) {
    Variant v;
    if (!Succeeded(target_.GetProperty(b.field->dispid, v))) continue;
    if (b.group) {
      if (QAbstractButton* button = b.group->button(v.toInt32().value_or(-1))) button->setChecked(true);
    } else {
      b.edit->setText(QString::fromStdString(v.toString().value_or("")));
    }
  }
}

void PropertyPageDialog::Apply() {
  for (auto& b : bindings_) {
    if (b.group) {
      if (b.group->checkedId() != -1) target_.PutProperty(b.field->dispid, std::int32_t(b.group->checkedId()));
    } else if (b.field->kind == PageField::Kind::IntegerEdit) {
      bool ok = false;
      const int value = b.edit->text().trimmed().toInt(&ok);
      if (ok) target_.PutProperty(b.field->dispid, std::int32_t(value));
    } else {
      target_.PutProperty(b.field->dispid, b.edit->text().toStdString());
    }
  }
}

}  // namespace ole
