#include "app/dsp/Umparams.h"

#include <QApplication>
#include <QGroupBox>
#include <QWheelEvent>
#include <cmath>

#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"

TMParams* MParams = nullptr;

namespace {

QLabel* Label(QWidget* parent, const QString& text, QRect place, const QString& hint = {}) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(place);
  if (!hint.isEmpty()) l->setToolTip(hint);
  return l;
}

template <class W>
W* Place(W* w, QRect place, const QString& hint = {}) {
  w->setGeometry(place);
  if (!hint.isEmpty()) w->setToolTip(hint);
  return w;
}

QString UsilCaption(int p) { return "Усиление " + QString::number(p) + " дБ"; }
QString FreqCaption(int p) { return "Частота " + QString::number(p) + " Гц"; }

}  // namespace

TMParams::TMParams() : TToolWindow("TMParams", "Доп. параметры", {430, 352}) {
  MParams = this;
  CreateControls();
  ConnectHandlers();
  SetPersisted({"Sideband.Value",        "tARU.ItemIndex",      "PorogARU.Value",
                "RruComp.ItemIndex",     "Opora.ItemIndex",     "KS.ItemIndex",
                "UserPch.Enabled",       "UserPch.Value",       "Vt.Value",
                "Vt.Enabled",            "dF.Value",            "dF.Enabled",
                "ShpOn.ItemIndex",       "TauShp.Value",        "PorogShp.Value",
                "PolNch.ItemIndex",      "FormaAchh.ItemIndex", "FTlg.ItemIndex",
                "KSNch.ItemIndex",       "KsNchUsil.Enabled",   "KsNchUsil.Position",
                "KsNchUsilLbl.Enabled",  "KsNchUsilLbl.Caption", "KsNchFreq.Enabled",
                "KsNchFreq.Position",    "KsNchFreqLbl.Enabled", "KsNchFreqLbl.Caption"});
  FormClose = [] {
    if (Main) Main->BtnMoreParams->SetDown(false);
  };
  qApp->installEventFilter(this);
}

void TMParams::CreateControls() {
  KS = Place(new TRadioGroup(this, "KS", "Контрольный сигнал",
                             {"Откл.", "Вкл.", "ПЧ 128 кГц", "ПЧ 215 кГц", "ПЧ 455 кГц", "ПЧ _____", "КС ТЛГ"},
                             3, 0),
             {4, 2, 300, 74}, "Контрольный сигнал");
  UserPch = Place(new TSpinEdit(this, "UserPch", 1, 500, 500), {308, 8, 56, 22}, "Контрольный сигнал");
  UserPch->setAccessibleName("ПЧ контрольного сигнала");
  UserPch->SetArrowsOnly();
  UserPch->setEnabled(false);
  Label(this, "Vт", {308, 34, 20, 18});
  Vt = Place(new TSpinEdit(this, "Vt", 45, 2400, 45), {328, 32, 60, 22});
  Vt->setAccessibleName("Vт");
  Vt->setEnabled(false);
  Label(this, "dF", {308, 56, 20, 18});
  dF = Place(new TSpinEdit(this, "dF", 85, 1200, 85), {328, 54, 60, 22});
  dF->setAccessibleName("dF");
  dF->setEnabled(false);

  Opora = Place(new TRadioGroup(this, "Opora", "Опора", {"Внутр.", "10 МГц", "5 МГц", "1 МГц"}, 1, 0),
                {4, 80, 90, 100}, "Выбор опорного \nгенератора");
  Opora->setEnabled(false);
  OporaCh = Place(new QCheckBox("Изменить", this), {8, 182, 86, 18});
  OporaCh->setObjectName("OporaCh");

  auto* ru = Place(new QGroupBox("РУ", this), {98, 80, 160, 100});
  QLabel* tARUCaption = Label(ru, "T АРУ", {6, 18, 70, 18}, "Постоянная\nвремени АРУ, с");
  tARU = Place(new TComboBox(ru, "tARU", {"0.02", "0.1", "0.5", "1", "5"}, 0), {84, 16, 70, 22},
               "Постоянная\nвремени АРУ, с");
  tARUCaption->setBuddy(tARU);  // a combo box is named by its caption on the accessibility bus
  Label(ru, "Порог АРУ", {6, 44, 76, 18}, "Порог АРУ, дБ");
  PorogARU = Place(new TSpinEdit(ru, "PorogARU", -20, 20, 0), {84, 42, 70, 22}, "Порог АРУ, дБ");
  PorogARU->setAccessibleName("Порог АРУ");
  PorogARU->SetArrowsOnly();
  QLabel* rruCompCaption = Label(ru, "Компандир.", {6, 70, 76, 18}, "Компандирование РРУ");
  RruComp = Place(new TComboBox(ru, "RruComp", {"Откл", "Вкл"}, 0), {84, 68, 70, 22}, "Компандирование РРУ");
  rruCompCaption->setBuddy(RruComp);

  auto* shp = Place(new QGroupBox("Шумоподавление", this), {262, 80, 164, 100}, "Параметры\nшумоподавления");
  QLabel* shpOnCaption = Label(shp, "ШП", {6, 18, 70, 18}, "Шумоподавление\nвкл / откл");
  ShpOn = Place(new TComboBox(shp, "ShpOn", {"Откл", "Вкл"}, 0), {86, 16, 72, 22}, "Шумоподавление\nвкл / откл");
  shpOnCaption->setBuddy(ShpOn);
  Label(shp, "Т ШП", {6, 44, 70, 18}, "Постоянная\nвремени ШП, дБ");
  TauShp = Place(new TFloatSpinEdit(shp, "TauShp", 0.1, 5.0, 0.1, 0.1, 1), {86, 42, 72, 22},
                 "Постоянная\nвремени ШП, дБ");
  TauShp->setAccessibleName("Т ШП");
  TauShp->SetArrowsOnly();
  Label(shp, "Порог", {6, 70, 70, 18}, "Порог\nШП, дБ");
  PorogShp = Place(new TSpinEdit(shp, "PorogShp", -9, 99, 0), {86, 68, 72, 22}, "Порог\nШП, дБ");
  PorogShp->setAccessibleName("Порог");
  PorogShp->SetArrowsOnly();

  auto* other = Place(new QGroupBox(this), {98, 184, 328, 104});
  Label(other, "Величина БП", {6, 8, 90, 18}, "Величина сдвига\nбоковой полосы");
  Sideband = Place(new TSpinEdit(other, "Sideband", 0, 4000, 1850, 10), {100, 6, 70, 22},
                   "Величина сдвига\nбоковой полосы");
  Sideband->setAccessibleName("Величина БП");
  Sideband->SetArrowsOnly();
  QLabel* polNchCaption = Label(other, "Полоса НЧ", {6, 32, 90, 18}, "Полоса\nпропускания НЧ");
  PolNch = Place(new TComboBox(other, "PolNch", {"Откл", "2.5 кГц", "3.4 кГц"}, 0), {100, 30, 70, 22},
                 "Полоса\nпропускания НЧ");
  polNchCaption->setBuddy(PolNch);
  QLabel* formaAchhCaption = Label(other, "Форма АЧХ", {6, 56, 90, 18});
  FormaAchh = Place(new TComboBox(other, "FormaAchh", {"Прямоуг.", "Гауссова"}, 0), {100, 54, 80, 22});
  formaAchhCaption->setBuddy(FormaAchh);
  QLabel* fTlgCaption = Label(other, "ФТЛГ", {6, 80, 90, 18}, "Формирователь\nтелеграфных сигналов");
  FTlg = Place(new TComboBox(other, "FTlg", {"Откл", "Вкл", "Инв. Откл", "Инв. Вкл"}, 0), {100, 78, 80, 22},
               "Формирователь\nтелеграфных сигналов");
  fTlgCaption->setBuddy(FTlg);

  KSNch = Place(new TRadioGroup(this, "KSNch", "КС НЧ", {"Откл", "Вкл"}, 1, 0), {4, 292, 90, 56}, "Генератор НЧ");
  Label(this, "Генератор НЧ", {100, 292, 110, 16});
  auto slider = [this](const char* name, int min, int max, QRect place, const QString& hint) {
    auto* s = Place(new QSlider(Qt::Horizontal, this), place, hint);
    s->setObjectName(name);
    s->setRange(min, max);
    s->setEnabled(false);
    return s;
  };
  KsNchUsil = slider("KsNchUsil", 0, 40, {214, 308, 210, 20}, "Усиление");
  KsNchUsil->setAccessibleName("Усиление");
  KsNchFreq = slider("KsNchFreq", 100, 4000, {214, 328, 210, 22}, "Частота");
  KsNchFreq->setAccessibleName("Частота");
  KsNchFreq->setTickInterval(500);
  KsNchFreq->setTickPosition(QSlider::TicksBelow);
  KsNchUsilLbl = Label(this, UsilCaption(0), {100, 310, 110, 18});
  KsNchUsilLbl->setObjectName("KsNchUsilLbl");
  KsNchUsilLbl->setEnabled(false);
  KsNchFreqLbl = Label(this, FreqCaption(100), {100, 330, 110, 18});
  KsNchFreqLbl->setObjectName("KsNchFreqLbl");
  KsNchFreqLbl->setEnabled(false);
}

void TMParams::ConnectHandlers() {
  KS->OnClick = [this] { KSClick(); };
  connect(UserPch, &QSpinBox::valueChanged, this, [this] { UserPchChange(); });
  Vt->OnArrowClick = [this] { SendTelegraphTest(); };
  dF->OnArrowClick = [this] { SendTelegraphTest(); };
  Vt->OnKeyDown = [this](int key) { VtKeyDown(key); };
  dF->OnKeyDown = [this](int key) { dFKeyDown(key); };
  connect(OporaCh, &QCheckBox::toggled, this, [this] { OporaChClick(); });
  Opora->OnClick = [this] { OporaClick(); };
  tARU->OnChange = [this] { tARUChange(); };
  connect(PorogARU, &QSpinBox::valueChanged, this, [this] { PorogARUChange(); });
  RruComp->OnChange = [this] { RruCompChange(); };
  ShpOn->OnChange = [this] { ShpOnChange(); };
  connect(TauShp, &QDoubleSpinBox::valueChanged, this, [this] { TauShpChange(); });
  connect(PorogShp, &QSpinBox::valueChanged, this, [this] { PorogShpChange(); });
  connect(Sideband, &QSpinBox::valueChanged, this, [this] { SidebandChange(); });
  PolNch->OnChange = [this] { PolNchChange(); };
  FormaAchh->OnChange = [this] { FormaAchhChange(); };
  FTlg->OnChange = [this] { FTlgChange(); };
  KSNch->OnClick = [this] { KSNchClick(); };
  connect(KsNchUsil, &QSlider::valueChanged, this, [this] { KsNchUsilChange(); });
  connect(KsNchFreq, &QSlider::valueChanged, this, [this] { KsNchFreqChange(); });
}

int TMParams::TauShpTenths() const {
  // The field holds whole tenths; rounding only removes the binary error of the product
  // (2.3 × 10 is 22.999…), which truncation would turn into a tenth too little.
  return int(std::lround(TauShp->Value() * 10));
}

void TMParams::KSClick() {
  UserPch->setEnabled(false);
  Vt->setEnabled(false);
  dF->setEnabled(false);
  if (KS->ItemIndex() == 5) {
    SendCommand(cmd::TestSignalIf, UserPch->Value() * 10);
    UserPch->setEnabled(true);
  } else if (KS->ItemIndex() == 6) {
    Vt->setEnabled(true);
    dF->setEnabled(true);
    SendCommand(cmd::TlgSpeed, Vt->Value());
    SendCommand(cmd::FreqShift, dF->Value());
  }
  SendCommand(cmd::TestSignal, KS->ItemIndex());
}

void TMParams::UserPchChange() {
  SendCommand(cmd::TestSignalIf, UserPch->Value() * 10);
  SendCommand(cmd::TestSignal, KS->ItemIndex());
}

void TMParams::SendTelegraphTest() {
  SendCommand(cmd::TlgSpeed, Vt->Value());
  SendCommand(cmd::FreqShift, dF->Value());
  SendCommand(cmd::TestSignal, KS->ItemIndex());
}

void TMParams::VtKeyDown(int key) {
  if (Vt->ConfirmOnEnter(key)) SendTelegraphTest();
}

void TMParams::dFKeyDown(int key) {
  if (dF->ConfirmOnEnter(key)) SendTelegraphTest();
}

void TMParams::OporaChClick() { Opora->setEnabled(OporaCh->isChecked()); }

void TMParams::OporaClick() {
  SendCommand(cmd::Reference, Opora->ItemIndex());
  OporaCh->setChecked(false);
  Opora->setEnabled(false);
}

void TMParams::tARUChange() {
  Main->BtnARU->SetDown(true);
  Main->BtnARUClick();
}

void TMParams::PorogARUChange() {
  if (Main && Main->BtnARU->Down()) Main->BtnARUClick();
}

void TMParams::RruCompChange() {
  Main->BtnRRU->SetDown(true);
  Main->BtnRRUClick();
}

void TMParams::ShpOnChange() { SendCommand(cmd::NoiseSuppression, ShpOn->ItemIndex()); }
void TMParams::TauShpChange() { SendCommand(cmd::NoiseTau, TauShpTenths()); }
void TMParams::PorogShpChange() { SendCommand(cmd::NoiseThreshold, PorogShp->Value()); }
void TMParams::SidebandChange() { SendCommand(cmd::SidebandShift, Sideband->Value()); }
void TMParams::PolNchChange() { SendCommand(cmd::LfBand, PolNch->ItemIndex()); }
void TMParams::FormaAchhChange() { SendCommand(cmd::FilterShape, FormaAchh->ItemIndex()); }
void TMParams::FTlgChange() { SendCommand(cmd::TlgShaper, FTlg->ItemIndex()); }

void TMParams::FollowLfGain(int position) {
  if (!Main) return;
  Main->SldNch->setValue(position);  // runs its own change action when it moves
  Main->LblNch->setText("НЧ " + QString::number(Main->SldNch->value()) + " дБ");
}

void TMParams::KSNchClick() {
  for (QWidget* w : std::initializer_list<QWidget*>{KsNchUsil, KsNchUsilLbl, KsNchFreq, KsNchFreqLbl})
    w->setEnabled(false);
  int frequency = 0;
  if (KSNch->ItemIndex() == 1) {
    for (QWidget* w : std::initializer_list<QWidget*>{KsNchUsil, KsNchUsilLbl, KsNchFreq, KsNchFreqLbl})
      w->setEnabled(true);
    frequency = KsNchFreq->value();
    SendCommand(cmd::LfGain, KsNchUsil->value());
    FollowLfGain(KsNchUsil->value());
  }
  SendCommand(cmd::LfGenerator, frequency);
}

void TMParams::KsNchUsilChange() {
  KsNchUsilLbl->setText(UsilCaption(KsNchUsil->value()));
  SendCommand(cmd::LfGain, KsNchUsil->value());
  FollowLfGain(KsNchUsil->value());
}

void TMParams::KsNchFreqChange() {
  KsNchFreqLbl->setText(FreqCaption(KsNchFreq->value()));
  SendCommand(cmd::LfGenerator, KsNchFreq->value());
}

void TMParams::FormMouseWheel(QPoint globalPos, int delta) {
  QWidget* under = childAt(mapFromGlobal(globalPos));
  for (QSlider* s : {KsNchUsil, KsNchFreq})
    if (under == s && s->isEnabled()) s->setValue(s->value() + (delta < 0 ? -1 : 1));
}

bool TMParams::eventFilter(QObject* target, QEvent* e) {
  if (e->type() != QEvent::Wheel) return false;
  auto* w = qobject_cast<QWidget*>(target);
  if (!w || w->window() != this) return false;
  auto* wheel = static_cast<QWheelEvent*>(e);
  FormMouseWheel(wheel->globalPosition().toPoint(), wheel->angleDelta().y());
  return true;
}
