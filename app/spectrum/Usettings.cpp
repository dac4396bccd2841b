#include "app/spectrum/Usettings.h"

#include <QLabel>

#include "app/panel/Umain.h"

TSettings* SettingsWindow = nullptr;

namespace {

QLabel* Caption(QWidget* parent, const QString& text, QRect place, const QString& hint) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(place);
  l->setAlignment(Qt::AlignCenter);
  l->setToolTip(hint);
  return l;
}

}  // namespace

TSettings::TSettings() : TToolWindow("TSettings", "Настройки", {365, 84}) {
  SettingsWindow = this;

  GroupSpectr = new QGroupBox("Спектр", this);
  GroupSpectr->setGeometry(4, 2, 232, 78);
  GroupSpectr->setToolTip("Управление спектром");
  const QString avrHint = "Количество\nусреднений спектра";
  const QString scaleHint = "Растяжение полосы пропускания\nна весь экран. Если откл., рисуется полоса 12 кГц";
  const QString mashtabHint = "Масштаб шкалы\nпо вертикали";
  QLabel* avrCaption = Caption(GroupSpectr, "  Кол.\nусредн.", {6, 16, 70, 28}, avrHint);
  QLabel* scaleCaption = Caption(GroupSpectr, "Растягивать\n    полосу", {80, 16, 74, 28}, scaleHint);
  QLabel* mashtabCaption = Caption(GroupSpectr, "Масштаб\n  шкалы", {158, 16, 68, 28}, mashtabHint);
  AvrCnt = new TComboBox(GroupSpectr, "AvrCnt", {"16", "8", "4", "2"}, 0);
  AvrCnt->setGeometry(10, 48, 62, 22);
  AvrCnt->setToolTip(avrHint);
  avrCaption->setBuddy(AvrCnt);  // a combo box is named by its caption on the accessibility bus
  SpectrScaling = new TComboBox(GroupSpectr, "SpectrScaling", {"Нет", "Да"}, 0);
  SpectrScaling->setGeometry(84, 48, 66, 22);
  SpectrScaling->setToolTip(scaleHint);
  scaleCaption->setBuddy(SpectrScaling);
  SpectrMashtab = new TComboBox(GroupSpectr, "SpectrMashtab", {"Лог", "Лин"}, 0);
  SpectrMashtab->setGeometry(160, 48, 64, 22);
  SpectrMashtab->setToolTip(mashtabHint);
  mashtabCaption->setBuddy(SpectrMashtab);

  GroupKoder = new QGroupBox("Вал-Кодер", this);
  GroupKoder->setGeometry(240, 2, 121, 78);
  GroupKoder->setToolTip("Управление вал-кодером");
  const QString step1Hint = "Основной шаг, Гц";
  const QString step2Hint = "Дополнительный шаг, Гц\n(с нажатым shift)";
  Caption(GroupKoder, "Осн. шаг", {4, 20, 50, 16}, step1Hint);
  Caption(GroupKoder, "Доп. шаг", {4, 48, 50, 16}, step2Hint);
  Step1 = new TSpinEdit(GroupKoder, "Step1", 1, 1000000, 1000);
  Step1->setGeometry(56, 16, 60, 22);
  Step1->setToolTip(step1Hint);
  Step1->setAccessibleName("Осн. шаг");
  Step2 = new TSpinEdit(GroupKoder, "Step2", 1, 1000000, 1);
  Step2->setGeometry(56, 44, 60, 22);
  Step2->setToolTip(step2Hint);
  Step2->setAccessibleName("Доп. шаг");

  SetPersisted({"AvrCnt.ItemIndex", "Step1.Value", "Step2.Value", "SpectrScaling.ItemIndex",
                "SpectrMashtab.ItemIndex"});
  FormClose = [] {
    if (Main) Main->BtnSetup->SetDown(false);
  };
}
