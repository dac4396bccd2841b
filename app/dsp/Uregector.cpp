#include "app/dsp/Uregector.h"

#include <QApplication>
#include <QWheelEvent>

#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"

TRegector* Regector = nullptr;

TRegector::TRegector() : TToolWindow("TRegector", "Режекторный фильтр", {560, 34}) {
  Regector = this;
  const QString freqHint = "Частота режекции, Гц";
  const QString polHint = "Полоса режекции, Гц";
  RegEn = new QCheckBox("Вкл", this);
  RegEn->setObjectName("RegEn");
  RegEn->setGeometry(6, 8, 48, 18);
  RegEn->setToolTip("Вкл/Откл фильтра");
  LblFreqReg = new QLabel("Частота", this);
  LblFreqReg->setObjectName("LblFreqReg");
  LblFreqReg->setGeometry(58, 8, 110, 18);
  LblFreqReg->setToolTip(freqHint);
  SldFreqReg = new QSlider(Qt::Horizontal, this);
  SldFreqReg->setObjectName("SldFreqReg");
  SldFreqReg->setAccessibleName("Частота");
  SldFreqReg->setRange(100, 4000);
  SldFreqReg->setTickInterval(1000);
  SldFreqReg->setTickPosition(QSlider::TicksBelow);
  SldFreqReg->setGeometry(168, 4, 130, 26);
  SldFreqReg->setToolTip(freqHint);
  LblPolReg = new QLabel("Полоса", this);
  LblPolReg->setObjectName("LblPolReg");
  LblPolReg->setGeometry(306, 8, 110, 18);
  LblPolReg->setToolTip(polHint);
  SldPolReg = new QSlider(Qt::Horizontal, this);
  SldPolReg->setObjectName("SldPolReg");
  SldPolReg->setAccessibleName("Полоса");
  SldPolReg->setRange(1, 1000);
  SldPolReg->setTickInterval(100);
  SldPolReg->setTickPosition(QSlider::TicksBelow);
  SldPolReg->setGeometry(420, 4, 134, 26);
  SldPolReg->setToolTip(polHint);

  connect(RegEn, &QCheckBox::toggled, this, [this] { ApplyNotch(); });
  connect(SldFreqReg, &QSlider::valueChanged, this, [this] { ApplyNotch(); });
  connect(SldPolReg, &QSlider::valueChanged, this, [this] { ApplyNotch(); });
  SetPersisted({"RegEn.Checked", "LblFreqReg.Caption", "LblPolReg.Caption", "LblFreqReg.Enabled",
                "LblPolReg.Enabled", "SldFreqReg.Enabled", "SldPolReg.Enabled", "SldFreqReg.Position",
                "SldPolReg.Position"});
  FormClose = [] {
    if (Main) Main->BtnRegector->SetDown(false);
  };
  qApp->installEventFilter(this);
}

void TRegector::ApplyNotch() {
  const bool on = RegEn->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{LblFreqReg, SldFreqReg, LblPolReg, SldPolReg})
    w->setEnabled(on);
  if (on) {
    LblFreqReg->setText("Частота " + QString::number(SldFreqReg->value()) + " Гц");
    LblPolReg->setText("Полоса " + QString::number(SldPolReg->value()) + " Гц");
    SendCommand(cmd::NotchFrequency, SldFreqReg->value());
    SendCommand(cmd::NotchWidth, SldPolReg->value());
  } else {
    SendCommand(cmd::NotchFrequency, 0);
    SendCommand(cmd::NotchWidth, 0);
  }
}

bool TRegector::eventFilter(QObject* target, QEvent* e) {
  if (e->type() != QEvent::Wheel) return false;
  auto* w = qobject_cast<QWidget*>(target);
  if (!w || w->window() != this) return false;
  // Qt turns the wheel into a horizontal one while Alt is held; it is the same wheel.
  const QPoint delta = static_cast<QWheelEvent*>(e)->angleDelta();
  const int sign = (delta.y() != 0 ? delta.y() : delta.x()) < 0 ? -1 : 1;
  QWidget* under = childAt(mapFromGlobal(static_cast<QWheelEvent*>(e)->globalPosition().toPoint()));
  if (under == SldFreqReg && SldFreqReg->isEnabled()) SldFreqReg->setValue(SldFreqReg->value() + 10 * sign);
  if (under == SldPolReg && SldPolReg->isEnabled()) SldPolReg->setValue(SldPolReg->value() + sign);
  return true;
}
