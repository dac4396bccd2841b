// The settings window: its choices and defaults, the five values that survive a restart,
// closing it, and how the spectrum and the knob read it.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/panel/Umain.h"
#include "app/spectrum/Usettings.h"
#include "app/spectrum/Uspectr.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

QStringList Items(const TComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), receiver_.SlavePath()); }
  QTemporaryDir config_;
  testsupport::PtyReceiver receiver_;
  std::unique_ptr<testsupport::ProgramRun> run_;
};

TEST_F(SettingsWindowTest, FirstStartChoicesAndDefaults) {
  const TSettings& s = *SettingsWindow;
  EXPECT_EQ(s.windowTitle(), "Настройки");
  EXPECT_EQ(Items(s.AvrCnt), (QStringList{"16", "8", "4", "2"}));
  EXPECT_EQ(s.AvrCnt->ItemIndex(), 0);
  EXPECT_EQ(Items(s.SpectrScaling), (QStringList{"Нет", "Да"}));
  EXPECT_EQ(s.SpectrScaling->ItemIndex(), 0);
  EXPECT_EQ(Items(s.SpectrMashtab), (QStringList{"Лог", "Лин"}));
  EXPECT_EQ(s.SpectrMashtab->ItemIndex(), 0);
  for (const TSpinEdit* step : {s.Step1, s.Step2}) {
    EXPECT_EQ(step->minimum(), 1);
    EXPECT_EQ(step->maximum(), 1000000);
  }
  EXPECT_EQ(s.Step1->Value(), 1000);
  EXPECT_EQ(s.Step2->Value(), 1);
  // Selection only: nothing can be typed into the lists.
  for (const TComboBox* box : {s.AvrCnt, s.SpectrScaling, s.SpectrMashtab}) EXPECT_FALSE(box->isEditable());
}

TEST_F(SettingsWindowTest, TheFiveValuesComeBackAfterARestart) {
  SettingsWindow->AvrCnt->SetItemIndex(2);
  SettingsWindow->SpectrScaling->SetItemIndex(1);
  SettingsWindow->SpectrMashtab->SetItemIndex(1);
  SettingsWindow->Step1->SetValue(25000);
  SettingsWindow->Step2->SetValue(10);
  run_.reset();
  run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), receiver_.SlavePath());
  EXPECT_EQ(SettingsWindow->AvrCnt->Text(), "4");
  EXPECT_EQ(SettingsWindow->SpectrScaling->Text(), "Да");
  EXPECT_EQ(SettingsWindow->SpectrMashtab->Text(), "Лин");
  EXPECT_EQ(SettingsWindow->Step1->Value(), 25000);
  EXPECT_EQ(SettingsWindow->Step2->Value(), 10);
}

TEST_F(SettingsWindowTest, ClosingTheWindowReleasesItsButton) {
  Main->BtnSetup->PerformClick();
  ASSERT_TRUE(SettingsWindow->isVisible());
  ASSERT_TRUE(Main->BtnSetup->Down());
  SettingsWindow->close();
  EXPECT_FALSE(SettingsWindow->isVisible());
  EXPECT_FALSE(Main->BtnSetup->Down());
  Main->BtnSetup->PerformClick();  // and the next click shows it again
  EXPECT_TRUE(SettingsWindow->isVisible());
  SettingsWindow->close();
}

// Each list of the window moves exactly its own input of the spectrum: a list wired to the
// wrong input, or two lists swapped, shows here.
TEST_F(SettingsWindowTest, EachListFeedsItsOwnSpectrumInput) {
  struct Row { TComboBox* box; int index; int avrCount, scalingIndex, mashtabIndex; };
  const Row rows[] = {
      {SettingsWindow->AvrCnt, 0, 16, 0, 0}, {SettingsWindow->AvrCnt, 1, 8, 0, 0},
      {SettingsWindow->AvrCnt, 2, 4, 0, 0},  {SettingsWindow->AvrCnt, 3, 2, 0, 0},
      {SettingsWindow->SpectrScaling, 1, 16, 1, 0}, {SettingsWindow->SpectrMashtab, 1, 16, 0, 1},
  };
  for (const Row& r : rows) {
    r.box->SetItemIndex(r.index);
    const SpectrumControls c = Main->SpectrumInputs();
    EXPECT_EQ(c.avrCount, r.avrCount) << r.box->objectName().toStdString() << " " << r.index;
    EXPECT_EQ(c.scalingIndex, r.scalingIndex) << r.box->objectName().toStdString() << " " << r.index;
    EXPECT_EQ(c.mashtabIndex, r.mashtabIndex) << r.box->objectName().toStdString() << " " << r.index;
    r.box->SetItemIndex(0);
  }
}

// The drawing follows the lists: the stretch narrows the frequency labels with the
// bandwidth (3 kHz: D = 4, the outer labels at Fc ∓ 1250 Hz), the linear view has a scale
// fixed to the strongest bin whose first label is "0" where the logarithmic one counts dB.
TEST_F(SettingsWindowTest, TheDrawingFollowsTheStretchAndTheView) {
  ASSERT_TRUE(Main->BtnPol3k->Down());
  std::fill(std::begin(Spectrum.Magnitude), std::end(Spectrum.Magnitude), 0.0);
  Main->RenderSpectrum();
  // All-zero magnitudes, logarithmic view, no stretch, 1000 kHz, G = 51: the peak is bin 511.
  EXPECT_EQ(Spectrum.PeakFrequency, 1005513);
  EXPECT_EQ(Spectrum.PeakLevel, -3);

  SettingsWindow->SpectrScaling->SetItemIndex(1);
  Main->RenderSpectrum();
  EXPECT_EQ(Spectrum.PeakFrequency, 1001378);  // Fc + 5513 / 4

  // The logarithmic view wrote its clamped magnitudes back; silence again for the linear one.
  SettingsWindow->SpectrMashtab->SetItemIndex(1);
  std::fill(std::begin(Spectrum.Magnitude), std::end(Spectrum.Magnitude), 0.0);
  Main->RenderSpectrum();
  // Linear view of all zeros: trunc(-60 + 88 - G).
  EXPECT_EQ(Spectrum.PeakLevel, -23);
}

}  // namespace
