// The notch-filter window beyond its switch: the controls before the filter is first
// applied, the mouse wheel over each slider, the full-state upload and the restored states.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/dsp/Uregector.h"
#include "app/panel/Umain.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/PtyReceiver.h"

using testsupport::ToStrings;
using testsupport::Wheel;
using Strings = std::vector<std::string>;

namespace {

class RegectorTest : public testsupport::ProgramTest {
 protected:
  QWidget* Window() const override { return Regector; }
};

TEST_F(RegectorTest, BeforeTheFirstApplyEverythingIsEnabledWithItsHints) {
  auto& r = *Regector;
  EXPECT_FALSE(r.RegEn->isChecked());
  EXPECT_EQ(r.RegEn->text(), "Вкл");
  EXPECT_EQ(r.RegEn->toolTip(), "Вкл/Откл фильтра");
  const struct {
    QWidget* control;
    QString hint;
  } rows[] = {{r.SldFreqReg, "Частота режекции, Гц"}, {r.LblFreqReg, "Частота режекции, Гц"},
              {r.SldPolReg, "Полоса режекции, Гц"}, {r.LblPolReg, "Полоса режекции, Гц"}};
  for (const auto& row : rows) {
    EXPECT_TRUE(row.control->isEnabled()) << row.control->objectName().toStdString();
    EXPECT_EQ(row.control->toolTip(), row.hint);
  }
  EXPECT_EQ(r.LblFreqReg->text(), "Частота");
  EXPECT_EQ(r.LblPolReg->text(), "Полоса");
  EXPECT_EQ(r.SldFreqReg->value(), 100);
  EXPECT_EQ(r.SldPolReg->value(), 1);
  EXPECT_EQ(r.SldFreqReg->tickInterval(), 1000);
  EXPECT_EQ(r.SldPolReg->tickInterval(), 100);
  EXPECT_LT(r.LblFreqReg->x(), r.SldFreqReg->x());
  EXPECT_LT(r.LblPolReg->x(), r.SldPolReg->x());
}

TEST_F(RegectorTest, TheWheelStepsTenOverFrequencyAndOneOverWidth) {
  auto& r = *Regector;
  r.SldFreqReg->setValue(3995);
  r.SldPolReg->setValue(50);
  r.RegEn->setChecked(true);
  Sent();
  const struct {
    const char* name;
    QWidget* over;
    int delta;
    Strings sent;
  } rows[] = {
      {"frequency up to the end", r.SldFreqReg, 120, {"K:04000", "M:0050"}},
      {"frequency at the end", r.SldFreqReg, 120, {}},
      {"frequency down", r.SldFreqReg, -120, {"K:03990", "M:0050"}},
      {"three notches at once are one step", r.SldFreqReg, -360, {"K:03980", "M:0050"}},
      {"width up", r.SldPolReg, 120, {"K:03980", "M:0051"}},
      {"width down", r.SldPolReg, -120, {"K:03980", "M:0050"}},
      {"over the label", r.LblFreqReg, 120, {}},
  };
  for (const auto& row : rows) {
    Wheel(row.over, row.delta);
    EXPECT_EQ(Sent(), row.sent) << row.name;
  }
  EXPECT_EQ(r.SldFreqReg->value(), 3980);
  EXPECT_EQ(r.SldPolReg->value(), 50);
}

TEST_F(RegectorTest, ADisabledSliderDoesNotTakeTheWheel) {
  auto& r = *Regector;
  r.RegEn->setChecked(true);
  r.RegEn->setChecked(false);
  Sent();
  Wheel(r.SldFreqReg, 120);
  Wheel(r.SldPolReg, -120);
  EXPECT_EQ(r.SldFreqReg->value(), 100);
  EXPECT_EQ(r.SldPolReg->value(), 1);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(RegectorTest, TheFullStateUploadEndsWithTheNotch) {
  Regector->SldFreqReg->setValue(1000);
  Regector->SldPolReg->setValue(50);
  Sent();
  Main->UploadState();
  Strings sent = Sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(Strings(sent.end() - 2, sent.end()), (Strings{"K:00000", "M:0000"}));
  EXPECT_FALSE(Regector->SldFreqReg->isEnabled());
  Regector->RegEn->setChecked(true);
  Sent();
  Main->UploadState();
  sent = Sent();
  EXPECT_EQ(Strings(sent.end() - 2, sent.end()), (Strings{"K:01000", "M:0050"}));
}

TEST(RegectorRestore, TheGreyedStateComesBackWithoutApplying) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    Regector->RegEn->setChecked(true);
    Regector->RegEn->setChecked(false);
  }
  receiver.Take(30);
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  EXPECT_FALSE(Regector->RegEn->isChecked());
  EXPECT_FALSE(Regector->SldFreqReg->isEnabled());
  EXPECT_FALSE(Regector->LblPolReg->isEnabled());
  EXPECT_EQ(Regector->LblFreqReg->text(), "Частота 100 Гц");
  // Nothing restored differs from what the controls had, so the filter was not applied.
  for (const std::string& f : ToStrings(receiver.Take(30))) EXPECT_TRUE(f[0] != 'K' && f[0] != 'M') << f;
}

}  // namespace
