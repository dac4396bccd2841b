#include "app/dsp/Uclass.h"

#include <QStyle>
#include <QStyleOptionGroupBox>
#include <algorithm>
#include <array>

#include "app/controls/Label.h"
#include "app/dsp/Udecoder.h"
#include "app/dsp/Umparams.h"
#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"

TClassIz* ClassIz = nullptr;

namespace {

// What one class enables, sends before its class code, and adds to that code.
enum Enables : uint8_t { kNone = 0, kVt = 1, kdF = 2, kBP = 4, kKan = 8 };
enum Sends : uint8_t { kNothing = 0, kSpeed = 1, kShift = 2, kSideband = 4 };
enum class Adds : uint8_t { Nothing, Sideband, Channel };

struct EmissionClass {
  const char* designator;
  uint8_t enables;  // Enables, enabled in the order Vt, dF, BP, Kan
  uint8_t sends;    // Sends, sent in the order G, T, e
  int code;         // the value of E
  Adds adds;        // + index of BP or of Kan
  bool tone;        // the main window's tone slider stays usable
};

constexpr Adds kPlain = Adds::Nothing, kPlusBP = Adds::Sideband, kPlusKan = Adds::Channel;

constexpr std::array<EmissionClass, 32> kClasses{{
    {"A1A", kNone, kNothing, 0, kPlain, true},
    {"A1B", kVt, kSpeed, 1, kPlain, true},
    {"A2A", kNone, kNothing, 2, kPlain, false},
    {"A2B", kNone, kNothing, 3, kPlain, false},
    {"H2A", kNone, kNothing, 4, kPlain, true},
    {"R2A", kNone, kNothing, 5, kPlain, true},
    {"J2A", kNone, kNothing, 6, kPlain, true},
    {"H2B", kNone, kNothing, 7, kPlain, true},
    {"R2B", kNone, kNothing, 8, kPlain, true},
    {"J2B", kNone, kNothing, 9, kPlain, true},
    {"J2E", kNone, kNothing, 10, kPlain, true},
    {"A3E", kNone, kNothing, 11, kPlain, false},
    {"H3E", kBP, kSideband, 12, kPlusBP, false},
    {"R3E", kBP, kSideband, 14, kPlusBP, false},
    {"J3E", kBP, kSideband, 16, kPlusBP, false},
    {"A2C", kNone, kNothing, 18, kPlain, false},
    {"A3C", kNone, kNothing, 19, kPlain, false},
    {"H3C", kBP, kSideband, 20, kPlusBP, false},
    {"R3C", kBP, kSideband, 22, kPlusBP, false},
    {"J3C", kBP, kSideband, 24, kPlusBP, false},
    {"F1A", kVt | kdF, kSpeed | kShift, 26, kPlain, true},
    {"F1B", kVt | kdF, kSpeed | kShift, 27, kPlain, true},
    {"F1C", kVt | kdF, kSpeed | kShift, 28, kPlain, true},
    {"F2C", kVt | kdF, kSpeed | kShift, 29, kPlain, true},
    {"F3C", kNone, kNothing, 30, kPlain, false},
    {"F3E", kNone, kNothing, 31, kPlain, false},
    {"F7B", kVt | kdF | kKan, kSpeed | kShift, 32, kPlusKan, true},
    {"G1B", kVt, kSpeed, 34, kPlain, true},
    {"G7B", kVt | kKan, kSpeed, 35, kPlusKan, true},
    {"B7B", kNone, kNothing, 37, kPlain, true},
    {"B8E", kBP, kSideband, 38, kPlusBP, false},
    {"B9W", kNone, kNothing, 40, kPlain, true},
}};

const EmissionClass& ClassOf(const QString& designator) {
  for (const EmissionClass& c : kClasses)
    if (designator == QLatin1String(c.designator)) return c;
  return kClasses[0];
}

QStringList Designators() {
  QStringList list;
  for (const EmissionClass& c : kClasses) list << c.designator;
  return list;
}

// Lays the static text exactly over the group's caption (same text), so the caption greys
// out with the text's enabled state.
void CoverCaption(TRadioGroup* group, QLabel* label) {
  QStyleOptionGroupBox opt;
  opt.initFrom(group);
  opt.text = group->title();
  opt.textAlignment = group->alignment();
  opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
  opt.lineWidth = 1;
  const QRect r = group->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, group);
  label->setGeometry(r.translated(group->pos()));
  label->setAutoFillBackground(true);
  label->raise();
}

}  // namespace

const QStringList kClassDesignators = Designators();

TClassIz::TClassIz() : TToolWindow("TClassIz", "Классы", {252, 176}) {
  ClassIz = this;
  setWindowFlag(Qt::WindowMinimizeButtonHint, true);
  CreateControls();
  ConnectHandlers();
  SetPersisted({"ClassName.ItemIndex", "Vt.Value", "Vt.Enabled", "dF.Value", "dF.Enabled", "BP.ItemIndex",
                "BP.Enabled", "Kan.ItemIndex", "Kan.Enabled", "LblBP.Enabled", "LblKan.Enabled", "LbldF.Enabled",
                "LblVt.Enabled"});
  FormShow = [this] { ApplyClass(); };
}

void TClassIz::CreateControls() {
  Label1 = MakeLabel(this, "Label1", "Класс", {8, 10, 60, 18});
  ClassName = new TComboBox(this, "ClassName", kClassDesignators, 0);
  ClassName->setGeometry(72, 8, 90, 22);
  ClassName->setToolTip("Класс излучения");
  Label1->setBuddy(ClassName);  // a combo box is named by its caption on the accessibility bus

  LblVt = MakeLabel(this, "LblVt", "Vтлг", {8, 40, 60, 18});
  Vt = new TSpinEdit(this, "Vt", 45, 2400, 45);
  Vt->setGeometry(72, 38, 90, 22);
  Vt->setToolTip("Скорость\nтелеграфирования");
  Vt->setAccessibleName("Vтлг");
  LbldF = MakeLabel(this, "LbldF", "dF", {8, 68, 60, 18});
  dF = new TSpinEdit(this, "dF", 85, 1200, 85);
  dF->setGeometry(72, 66, 90, 22);
  dF->setToolTip("Сдвиг ЧТ");
  dF->setAccessibleName("dF");

  BP = new TRadioGroup(this, "BP", "ОБП", {"ВБП", "НБП"}, 2, 0);
  BP->setGeometry(8, 96, 116, 44);
  BP->setToolTip("Верхняя / нижняя\nбоковая полоса");
  LblBP = MakeLabel(this, "LblBP", "ОБП", {});
  CoverCaption(BP, LblBP);
  Kan = new TRadioGroup(this, "Kan", "Канал ТЛГ", {"1", "2"}, 2, 0);
  Kan->setGeometry(128, 96, 116, 44);
  Kan->setToolTip("Выбор\nканала ТЛГ");
  LblKan = MakeLabel(this, "LblKan", "Канал ТЛГ", {});
  CoverCaption(Kan, LblKan);

  BtnDecoder = new TPictureButton(this, "BtnDecoder", "Прием", TPictureButton::Kind::Push);
  BtnDecoder->setGeometry(172, 8, 72, 52);
  BtnDecoder->setToolTip("Декодирование\nдискретных сообщений");

  for (QWidget* w : std::initializer_list<QWidget*>{Vt, LblVt, dF, LbldF, BP, LblBP, Kan, LblKan})
    w->setEnabled(false);
}

void TClassIz::ConnectHandlers() {
  ClassName->OnChange = [this] { ClassNameChange(); };
  BP->OnClick = [this] { BPClick(); };
  Kan->OnClick = [this] { KanClick(); };
  Vt->OnArrowClick = [this] { SpinArrowClick(); };
  dF->OnArrowClick = [this] { SpinArrowClick(); };
  Vt->OnKeyDown = [this](int key) { VtKeyDown(key); };
  dF->OnKeyDown = [this](int key) { dFKeyDown(key); };
  BtnDecoder->OnClick = [this] { BtnDecoderClick(); };
}

void TClassIz::ApplyClass() {
  const std::pair<QWidget*, QLabel*> parameters[] = {{Vt, LblVt}, {dF, LbldF}, {BP, LblBP}, {Kan, LblKan}};
  for (auto [control, label] : parameters) {
    control->setEnabled(false);
    label->setEnabled(false);
  }
  if (Main) {
    Main->SldTon->setEnabled(false);
    Main->BtnCLASS->SetDown(true);
    Main->ReissueBandwidth();
    SendCommand(cmd::BeatTone, Main->SldTon->value() * 100);
  }

  const EmissionClass& c = ClassOf(ClassName->Text());
  const uint8_t enableBits[] = {kVt, kdF, kBP, kKan};
  for (size_t i = 0; i < std::size(parameters); ++i)
    if (c.enables & enableBits[i]) {
      parameters[i].first->setEnabled(true);
      parameters[i].second->setEnabled(true);
    }
  if (c.sends & kSpeed) SendCommand(cmd::TlgSpeed, Vt->Value());
  if (c.sends & kShift) SendCommand(cmd::FreqShift, dF->Value());
  if (c.sends & kSideband) SendCommand(cmd::SidebandShift, MParams ? MParams->Sideband->Value() : 0);
  const int added = c.adds == kPlusBP ? BP->ItemIndex() : c.adds == kPlusKan ? Kan->ItemIndex() : 0;
  SendCommand(cmd::Mode, c.code + std::max(added, 0));
  if (c.tone && Main) Main->SldTon->setEnabled(true);
}

void TClassIz::ClassNameChange() {
  ApplyClass();
  if (Main) Main->BtnCLASS->setToolTip(ClassName->Text());
}

void TClassIz::VtKeyDown(int key) {
  if (Vt->ConfirmOnEnter(key)) ApplyClass();
}

void TClassIz::dFKeyDown(int key) {
  if (dF->ConfirmOnEnter(key)) ApplyClass();
}

void TClassIz::BtnDecoderClick() {
  if (Decoder && !Decoder->isVisible()) Decoder->ShowAndRaise();
}
