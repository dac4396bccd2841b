#include "app/controls/FormStorage.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QSlider>

#include "app/controls/ComboBox.h"
#include "app/controls/PictureButton.h"
#include "app/controls/RadioGroup.h"
#include "app/controls/SevenSegment.h"
#include "app/controls/SpinEdit.h"
#include "platform/win32/IniFile.h"

namespace {

std::optional<int> ToInt(const QString& text) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok, 10);
  return ok ? std::optional<int>(v) : std::nullopt;
}

QString Bool(bool b) { return b ? "1" : "0"; }

}  // namespace

namespace {
std::vector<TFormStorage*>& Registry() {
  static std::vector<TFormStorage*> all;
  return all;
}
}  // namespace

TFormStorage::TFormStorage(QWidget* form, QString section, QStringList properties)
    : form_(form), section_(std::move(section)), properties_(std::move(properties)) {
  Registry().push_back(this);
}

TFormStorage::~TFormStorage() { std::erase(Registry(), this); }

const std::vector<TFormStorage*>& TFormStorage::All() { return Registry(); }

QWidget* TFormStorage::Control(const QString& name) const {
  if (form_->objectName() == name) return form_;
  return form_->findChild<QWidget*>(name);
}

QString TFormStorage::Read(const QString& property) const {
  const qsizetype dot = property.indexOf('.');
  QWidget* w = Control(property.left(dot));
  if (!w) return {};
  const QString prop = property.mid(dot + 1);
  if (prop == "Enabled") return Bool(w->isEnabled());
  if (auto* b = qobject_cast<TPictureButton*>(w); b && prop == "Down") return Bool(b->Down());
  if (auto* s = qobject_cast<QSlider*>(w); s && prop == "Position") return QString::number(s->value());
  if (auto* s = qobject_cast<QSpinBox*>(w); s && prop == "Value") return QString::number(s->value());
  if (auto* s = qobject_cast<QDoubleSpinBox*>(w); s && prop == "Value")
    return QString::number(s->value(), 'f', s->decimals());
  if (auto* s = qobject_cast<TSevenSegment*>(w); s && prop == "Value") return QString::number(s->Value());
  if (auto* c = qobject_cast<QComboBox*>(w); c && prop == "ItemIndex") return QString::number(c->currentIndex());
  if (auto* r = qobject_cast<TRadioGroup*>(w); r && prop == "ItemIndex") return QString::number(r->ItemIndex());
  if (auto* c = qobject_cast<QCheckBox*>(w); c && prop == "Checked") return Bool(c->isChecked());
  if (auto* l = qobject_cast<QLabel*>(w); l && prop == "Caption") return l->text();
  return {};
}

bool TFormStorage::Write(const QString& property, const QString& value) const {
  const qsizetype dot = property.indexOf('.');
  QWidget* w = Control(property.left(dot));
  if (!w) return false;
  const QString prop = property.mid(dot + 1);
  if (auto* l = qobject_cast<QLabel*>(w); l && prop == "Caption") {
    l->setText(value);
    return true;
  }
  if (auto* s = qobject_cast<QDoubleSpinBox*>(w); s && prop == "Value") {
    bool ok = false;
    const double v = value.trimmed().toDouble(&ok);
    if (ok) s->setValue(v);
    return ok;
  }
  const auto n = ToInt(value);
  if (!n) return false;
  if (prop == "Enabled") {
    w->setEnabled(*n != 0);
    return true;
  }
  if (auto* b = qobject_cast<TPictureButton*>(w); b && prop == "Down") {
    b->SetDown(*n != 0);
    return true;
  }
  if (auto* s = qobject_cast<QSlider*>(w); s && prop == "Position") {
    s->setValue(*n);
    return true;
  }
  if (auto* s = qobject_cast<QSpinBox*>(w); s && prop == "Value") {
    s->setValue(*n);
    return true;
  }
  if (auto* s = qobject_cast<TSevenSegment*>(w); s && prop == "Value") {
    s->SetValue(*n);
    return true;
  }
  if (auto* c = qobject_cast<QComboBox*>(w); c && prop == "ItemIndex") {
    if (*n >= -1 && *n < c->count()) c->setCurrentIndex(*n);  // silent: no choice was made
    return true;
  }
  if (auto* r = qobject_cast<TRadioGroup*>(w); r && prop == "ItemIndex") {
    r->SetItemIndex(*n);
    return true;
  }
  if (auto* c = qobject_cast<QCheckBox*>(w); c && prop == "Checked") {
    c->setChecked(*n != 0);
    return true;
  }
  return false;
}

void TFormStorage::Save(win32::IniFile& ini) const {
  win32::IniFile::Batch batch(ini);
  SavePlacement(ini);
  for (const QString& p : properties_) {
    const QString v = Read(p);
    if (!v.isNull()) ini.WriteString(section_, p, v);
  }
}

void TFormStorage::Restore(const win32::IniFile& ini) const {
  RestorePlacement(ini);
  for (const QString& p : properties_)
    if (ini.KeyExists(section_, p)) Write(p, ini.ReadString(section_, p));
}

void TFormStorage::SavePlacement(win32::IniFile& ini) const {
  // A window never shown nor placed has no place of its own yet (Qt says 0, 0): the one in
  // the file, or the window system's choice at its first showing, stays.
  if (!form_->windowHandle() && !form_->testAttribute(Qt::WA_Moved)) return;
  const QPoint pos = form_->pos();
  ini.WriteInteger(section_, "Left", pos.x());
  ini.WriteInteger(section_, "Top", pos.y());
}

void TFormStorage::RestorePlacement(const win32::IniFile& ini) const {
  const auto left = ini.ReadInteger(section_, "Left");
  const auto top = ini.ReadInteger(section_, "Top");
  if (left && top) form_->move(*left, *top);
}

QString InitializationFilePath() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty()) base = QDir::homePath() + "/.config";
  return base + "/PVestra/PVestra.ini";
}
