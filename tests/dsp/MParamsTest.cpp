// The additional-parameters window: the commands of each control, the LF generator that
// moves the main window's LF gain, the wheel, and the restore rules at start-up.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QWheelEvent>

#include "app/dsp/Umparams.h"
#include "app/dsp/Uregector.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/PtyReceiver.h"

using testsupport::ToStrings;
using Strings = std::vector<std::string>;

namespace {

class MParamsTest : public testsupport::ProgramTest {
 protected:
  QWidget* Window() const override { return MParams; }
};

struct Row {
  const char* name;
  std::function<void()> act;
  Strings sent;
};

TEST_F(MParamsTest, EachControlSendsItsCommandsInOrder) {
  auto& p = *MParams;
  const Row rows[] = {
      {"user IF at 455", [&] { p.UserPch->SetValue(455); }, {"o:4550", "I:0"}},
      {"ПЧ _____", [&] { p.KS->SetItemIndex(5); }, {"o:4550", "I:5"}},
      {"Вкл. afterwards", [&] { p.KS->SetItemIndex(1); }, {"I:1"}},
      {"КС ТЛГ", [&] { p.KS->SetItemIndex(6); }, {"G:0045", "T:0085", "I:6"}},
      {"Vt arrow up", [&] { p.Vt->stepBy(1); }, {"G:0046", "T:0085", "I:6"}},
      {"ШП", [&] { p.ShpOn->Choose(1); }, {"i:1"}},
      {"Т ШП 0.1", [&] { p.TauShp->SetValue(0.2); p.TauShp->SetValue(0.1); }, {"w:02", "w:01"}},
      {"Т ШП 5", [&] { p.TauShp->SetValue(5); }, {"w:50"}},
      {"Т ШП 2.3", [&] { p.TauShp->SetValue(2.3); }, {"w:23"}},
      {"ШП threshold", [&] { p.PorogShp->SetValue(-9); }, {"v:-09"}},
      {"sideband", [&] { p.Sideband->SetValue(2500); }, {"e:2500"}},
      {"LF band", [&] { p.PolNch->Choose(2); }, {"R:2"}},
      {"filter shape", [&] { p.FormaAchh->Choose(1); }, {"S:1"}},
      {"telegraph shaper", [&] { p.FTlg->Choose(3); }, {"z:3"}},
      {"LF generator off", [&] { p.KSNch->SetItemIndex(0); }, {}},
      {"generator frequency", [&] { p.KsNchFreq->setValue(1000); }, {"N:1000"}},
      {"generator gain", [&] { p.KsNchUsil->setValue(12); }, {"D:12", "D:12"}},
      {"LF generator on", [&] { p.KSNch->SetItemIndex(1); }, {"D:12", "N:1000"}},
      {"LF generator off again", [&] { p.KSNch->SetItemIndex(0); }, {"N:0000"}},
  };
  for (const auto& r : rows) {
    r.act();
    EXPECT_EQ(Sent(), r.sent) << r.name;
  }
  EXPECT_EQ(Main->SldNch->value(), 12);
  EXPECT_EQ(Main->LblNch->text(), "НЧ 12 дБ");
  EXPECT_EQ(p.KsNchUsilLbl->text(), "Усиление 12 дБ");
  EXPECT_EQ(p.KsNchFreqLbl->text(), "Частота 1000 Гц");
  EXPECT_FALSE(p.KsNchUsil->isEnabled());
  EXPECT_FALSE(p.UserPch->isEnabled());
}

TEST_F(MParamsTest, GainControlParametersActThroughTheMainWindowButtons) {
  auto& p = *MParams;
  Main->BtnRRU->PerformClick();
  Sent();
  p.PorogARU->SetValue(-5);  // manual gain: nothing
  EXPECT_TRUE(Sent().empty());
  p.tARU->Choose(2);  // switches to automatic gain control
  EXPECT_TRUE(Main->BtnARU->Down());
  EXPECT_EQ(Sent(), (Strings{"X:-05", "J:2"}));
  p.PorogARU->SetValue(7);
  EXPECT_EQ(Sent(), (Strings{"X:007", "J:2"}));
  p.RruComp->Choose(1);
  EXPECT_TRUE(Main->BtnRRU->Down());
  EXPECT_EQ(Sent(), (Strings{"C:00", "J:6"}));
}

TEST_F(MParamsTest, TypedSpeedIsBroughtIntoRangeOnEnter) {
  auto& p = *MParams;
  p.KS->SetItemIndex(6);
  Sent();
  p.Vt->setFocus();
  p.Vt->selectAll();
  for (const char* c : {"3", "0"}) {
    QKeyEvent k(QEvent::KeyPress, 0, Qt::NoModifier, c);
    QCoreApplication::sendEvent(p.Vt, &k);
  }
  EXPECT_TRUE(Sent().empty());
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  QCoreApplication::sendEvent(p.Vt, &enter);
  EXPECT_EQ(p.Vt->Value(), 45);
  EXPECT_EQ(Sent(), (Strings{"G:0045", "T:0085", "I:6"}));
}

TEST_F(MParamsTest, ReferenceIsLockedAgainOnceChosen) {
  auto& p = *MParams;
  EXPECT_FALSE(p.Opora->isEnabled());
  p.OporaCh->setChecked(true);
  EXPECT_TRUE(p.Opora->isEnabled());
  p.Opora->SetItemIndex(3);
  EXPECT_EQ(Sent(), Strings{"U:3"});
  EXPECT_FALSE(p.OporaCh->isChecked());
  EXPECT_FALSE(p.Opora->isEnabled());
}

TEST_F(MParamsTest, WheelStepsTheGeneratorSlidersByOne) {
  auto& p = *MParams;
  testsupport::Wheel(p.KsNchFreq, 120);  // disabled while the generator is off
  EXPECT_EQ(p.KsNchFreq->value(), 100);
  p.KSNch->SetItemIndex(1);
  p.KsNchFreq->setValue(4000);
  Sent();
  testsupport::Wheel(p.KsNchFreq, 360);
  EXPECT_EQ(p.KsNchFreq->value(), 4000);
  EXPECT_TRUE(Sent().empty());
  testsupport::Wheel(p.KsNchFreq, -360);
  EXPECT_EQ(p.KsNchFreq->value(), 3999);
  EXPECT_EQ(Sent(), Strings{"N:3999"});
}

TEST(MParamsRestore, RestoredReferenceSendsOnceAndLocksTheGroup) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    ini.WriteString("TMParams", "Opora.ItemIndex", "2");
    ini.WriteString("TMParams", "tARU.ItemIndex", "3");  // a drop-down list: silent
  }
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  const Strings sent = ToStrings(receiver.Take(50));
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "U:2"), 1);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "J:3"), 0);
  EXPECT_EQ(MParams->Opora->ItemIndex(), 2);
  EXPECT_EQ(MParams->tARU->ItemIndex(), 3);
  EXPECT_FALSE(MParams->Opora->isEnabled());
}

// What the operator left in the window comes back at the next start: the test signal and
// the LF generator with their enabled states and captions, and the AGC threshold, each
// restored value acting as if set in code.
TEST(MParamsRestore, TestSignalGeneratorAndThresholdComeBackAsLeft) {
  struct Row {
    const char* name;
    int ks, userPch;
    bool userPchEnabled, vtEnabled;
    const char* testSignalSent;
  };
  const Row rows[] = {
      {"telegraph test signal", 6, 500, false, true, "I:6"},
      {"test signal of choice", 5, 300, true, false, "o:3000"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    QTemporaryDir config;
    testsupport::PtyReceiver receiver;
    {
      testsupport::ProgramRun run(config.path(), receiver.SlavePath());
      MParams->KS->SetItemIndex(r.ks);
      MParams->UserPch->SetValue(r.userPch);
      MParams->Vt->SetValue(100);
      MParams->dF->SetValue(500);
      MParams->KsNchUsil->setValue(12);
      MParams->KsNchFreq->setValue(1000);
      MParams->KSNch->SetItemIndex(1);
      MParams->PorogARU->SetValue(-5);
      receiver.Take(30);
    }
    testsupport::ProgramRun again(config.path(), receiver.SlavePath());
    const Strings sent = ToStrings(receiver.Take(50));
    EXPECT_EQ(MParams->KS->ItemIndex(), r.ks);
    EXPECT_EQ(MParams->UserPch->Value(), r.userPch);
    EXPECT_EQ(MParams->UserPch->isEnabled(), r.userPchEnabled);
    EXPECT_EQ(MParams->Vt->isEnabled(), r.vtEnabled);
    EXPECT_EQ(MParams->dF->isEnabled(), r.vtEnabled);
    EXPECT_EQ(MParams->Vt->Value(), 100);
    EXPECT_EQ(MParams->dF->Value(), 500);
    EXPECT_NE(std::find(sent.begin(), sent.end(), r.testSignalSent), sent.end());

    EXPECT_EQ(MParams->KSNch->ItemIndex(), 1);
    for (QWidget* w : std::initializer_list<QWidget*>{MParams->KsNchUsil, MParams->KsNchUsilLbl, MParams->KsNchFreq,
                                                      MParams->KsNchFreqLbl})
      EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(MParams->KsNchUsil->value(), 12);
    EXPECT_EQ(MParams->KsNchFreq->value(), 1000);
    EXPECT_EQ(MParams->KsNchUsilLbl->text(), "Усиление 12 дБ");
    EXPECT_EQ(MParams->KsNchFreqLbl->text(), "Частота 1000 Гц");
    EXPECT_EQ(Main->SldNch->value(), 12);
    // The generator's frequency was the last N to reach the receiver.
    const auto lastN = std::find_if(sent.rbegin(), sent.rend(), [](const std::string& f) { return f[0] == 'N'; });
    ASSERT_NE(lastN, sent.rend());
    EXPECT_EQ(*lastN, "N:1000");

    EXPECT_EQ(MParams->PorogARU->Value(), -5);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "X:-05"), sent.end());
  }
}

TEST(Regector, NotchCommandsFollowTheSwitchAndSliders) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  receiver.Take(30);
  Regector->SldFreqReg->setValue(1000);
  Regector->SldPolReg->setValue(50);
  receiver.Take(30);
  Regector->RegEn->setChecked(true);
  EXPECT_EQ(ToStrings(receiver.Take(30)), (Strings{"K:01000", "M:0050"}));
  EXPECT_EQ(Regector->LblFreqReg->text(), "Частота 1000 Гц");
  Regector->RegEn->setChecked(false);
  EXPECT_EQ(ToStrings(receiver.Take(30)), (Strings{"K:00000", "M:0000"}));
  EXPECT_FALSE(Regector->SldFreqReg->isEnabled());
  EXPECT_FALSE(Regector->LblPolReg->isEnabled());
}

}  // namespace
