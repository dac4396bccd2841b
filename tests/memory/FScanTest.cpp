// The frequency-scan window: the grid step and its wrap-around, the stop on a signal of the
// spectrum and the memory of that stop, the buttons and the window's showing and closing.
// The program runs whole, its serial link on a test receiver that collects the commands.
#include <gtest/gtest.h>

#include "app/memory/Ufscan.h"
#include "app/panel/Umain.h"
#include "tests/memory/ProgramFixture.h"

using Strings = std::vector<std::string>;

namespace {

class FScanTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    Spectrum.PeakLevel = -100;  // no signal until a test puts one there
    Spectrum.PeakFrequency = 0;
    FScan->show();
    receiver_.Take(30);
  }
  void TearDown() override { FScan->ScanPause->PerformClick(); }

  void SetRange(int32_t f1, int32_t f2, int32_t dF) {
    FScan->F1->SetValue(f1);
    FScan->F2->SetValue(f2);
    FScan->dF->SetValue(dF);
  }
  void TuneTo(int32_t f) {
    Main->TuneTo(f);
    receiver_.Take(30);
  }
  void Signal(int level, int32_t frequency) {
    Spectrum.PeakLevel = level;
    Spectrum.PeakFrequency = frequency;
  }
  bool EditsEnabled() const {
    for (TSpinEdit* e : {FScan->F1, FScan->F2, FScan->dF, FScan->dT, FScan->Porog})
      if (!e->isEnabled()) return false;
    return true;
  }
};

TEST_F(FScanTest, WindowStartsPausedWithItsDefaults) {
  EXPECT_EQ(FScan->size(), QSize(165, 223));
  EXPECT_EQ(FScan->windowTitle(), "Сканирование");
  struct Row { TSpinEdit* edit; int min, max, step, value; };
  const Row rows[] = {{FScan->F1, 1000000, 30000000, 1000, 1000000},
                      {FScan->F2, 1000000, 30000000, 1000, 30000000},
                      {FScan->dF, 1, 1000000, 1000, 1000000},
                      {FScan->dT, 20, 10000, 10, 100},
                      {FScan->Porog, -70, 70, 1, 0}};
  for (const auto& r : rows) {
    EXPECT_EQ(r.edit->minimum(), r.min) << r.edit->objectName().toStdString();
    EXPECT_EQ(r.edit->maximum(), r.max) << r.edit->objectName().toStdString();
    EXPECT_EQ(r.edit->singleStep(), r.step) << r.edit->objectName().toStdString();
    EXPECT_EQ(r.edit->Value(), r.value) << r.edit->objectName().toStdString();
  }
  EXPECT_TRUE(FScan->ScanPause->Down());
  EXPECT_FALSE(FScan->ScanTimer->isActive());
  EXPECT_EQ(FScan->ScanDirection, 1);
}

struct StepRow {
  const char* what;
  int32_t f1, f2, dF, tuned;
  bool up;
  const char* sent;
};

TEST_F(FScanTest, EachTickStepsOnTheGridAndWrapsAtTheEnds) {
  const StepRow rows[] = {
      {"one grid step up", 1000000, 30000000, 1000000, 7100000, true, "F:08000000"},
      {"down from off the grid", 1000000, 30000000, 1000000, 7100000, false, "F:06000000"},
      {"from the stop upwards to the start", 1000000, 30000000, 1000000, 30000000, true, "F:01000000"},
      {"from the start downwards to the stop", 1000000, 30000000, 1000000, 1000000, false, "F:30000000"},
      {"kHz grid", 1000000, 30000000, 1000, 7123456, true, "F:07124000"},
      {"1 Hz grid", 1000000, 30000000, 1, 7123456, true, "F:07123457"},
      {"1 Hz grid at the top", 1000000, 30000000, 1, 29999999, true, "F:30000000"},
      {"1 Hz grid wraps", 1000000, 30000000, 1, 30000000, true, "F:01000000"},
      {"a range inside the band, wrapping up", 7000000, 7300000, 100000, 7300000, true, "F:07000000"},
      {"start above stop, up", 20000000, 5000000, 1000000, 10000000, true, "F:05000000"},
      {"start above stop, down", 20000000, 5000000, 1000000, 10000000, false, "F:05000000"},
      {"start above stop, from the stop", 20000000, 5000000, 1000000, 5000000, true, "F:05000000"},
  };
  for (const auto& r : rows) {
    SetRange(r.f1, r.f2, r.dF);
    TuneTo(r.tuned);
    (r.up ? FScan->ScanRight : FScan->ScanLeft)->PerformClick();
    FScan->ScanTimerTimer();
    EXPECT_EQ(Sent(), Strings{r.sent}) << r.what;
    FScan->ScanPause->PerformClick();
  }
}

TEST_F(FScanTest, DirectionButtonsRunTheTimerAndLockTheEdits) {
  FScan->dT->SetValue(20);
  SetRange(1000000, 30000000, 1000000);
  TuneTo(1000000);
  FScan->ScanRight->PerformClick();
  EXPECT_FALSE(EditsEnabled());
  EXPECT_TRUE(FScan->ScanTimer->isActive());
  EXPECT_EQ(FScan->ScanTimer->interval(), 20);
  testsupport::Pump(100);
  const Strings sent = Sent();
  ASSERT_GE(sent.size(), 2u) << "the timer steps on its own";
  EXPECT_EQ(sent[0], "F:02000000");
  EXPECT_EQ(sent[1], "F:03000000");

  FScan->ScanPause->PerformClick();
  EXPECT_TRUE(EditsEnabled());
  EXPECT_FALSE(FScan->ScanTimer->isActive());
  FScan->dT->SetValue(500);  // takes effect at the next start
  FScan->ScanLeft->PerformClick();
  EXPECT_EQ(FScan->ScanTimer->interval(), 500);
  EXPECT_EQ(FScan->ScanDirection, -1);
  EXPECT_TRUE(FScan->ScanLeft->Down());
  EXPECT_FALSE(FScan->ScanRight->Down());

  FScan->F1->SetValue(5000000);
  FScan->ScanStop->PerformClick();  // back to the start frequency
  EXPECT_EQ(Sent(), Strings{"F:05000000"});
  EXPECT_TRUE(EditsEnabled());
  EXPECT_FALSE(FScan->ScanTimer->isActive());
}

TEST_F(FScanTest, SignalStopsTheScanOnItsGridPoint) {
  struct Row { int32_t dF; const char* sent; };
  const Row rows[] = {{1000, "F:07123000"}, {1000000, "F:07000000"}, {1, "F:07123456"}};
  for (const auto& r : rows) {
    FScan->OnFormShow();
    SetRange(1000000, 30000000, r.dF);
    TuneTo(5000000);
    Signal(0, 7123456);  // at the threshold counts
    FScan->ScanRight->PerformClick();
    FScan->ScanTimerTimer();
    EXPECT_EQ(Sent(), Strings{r.sent}) << r.dF;
    EXPECT_FALSE(FScan->ScanTimer->isActive());
    EXPECT_TRUE(FScan->ScanPause->Down());
    EXPECT_TRUE(EditsEnabled());
    EXPECT_TRUE(FScan->StoppedOnSignal);
  }
}

TEST_F(FScanTest, StopIsRememberedUntilTheSignalFallsOrTheWindowShowsAgain) {
  SetRange(1000000, 30000000, 1000);
  TuneTo(7000000);
  FScan->Porog->SetValue(-20);
  Signal(-20, 7123456);
  FScan->ScanRight->PerformClick();
  FScan->ScanTimerTimer();
  EXPECT_EQ(Sent(), Strings{"F:07123000"});

  // Resumed with the signal still there: the scan moves on at the next tick.
  FScan->ScanRight->PerformClick();
  FScan->ScanTimerTimer();
  EXPECT_EQ(Sent(), Strings{"F:07124000"});
  EXPECT_TRUE(FScan->ScanTimer->isActive());

  // The level falls below the threshold and rises again: a new stop.
  Signal(-21, 7123456);
  FScan->ScanTimerTimer();
  EXPECT_EQ(Sent(), Strings{"F:07125000"});
  Signal(5, 7200100);
  FScan->ScanTimerTimer();
  EXPECT_EQ(Sent(), Strings{"F:07200000"});

  // Showing the window again forgets the stop: the same signal stops the scan again.
  FScan->hide();
  FScan->show();
  EXPECT_FALSE(FScan->StoppedOnSignal);
  FScan->ScanRight->PerformClick();
  FScan->ScanTimerTimer();
  EXPECT_EQ(Sent(), Strings{"F:07200000"});
  EXPECT_FALSE(FScan->ScanTimer->isActive());
}

TEST_F(FScanTest, ClosingStopsTheScanAndReleasesTheMainWindowButton) {
  Main->BtnFScan->PerformClick();
  ASSERT_TRUE(FScan->isVisible());
  ASSERT_TRUE(Main->BtnFScan->Down());
  FScan->ScanRight->PerformClick();
  FScan->close();
  EXPECT_FALSE(FScan->isVisible());
  EXPECT_FALSE(Main->BtnFScan->Down());
  EXPECT_FALSE(FScan->ScanTimer->isActive());
  EXPECT_FALSE(EditsEnabled()) << "the edits stay as they were until the window shows again";
  Main->BtnFScan->PerformClick();
  EXPECT_TRUE(EditsEnabled());
  EXPECT_TRUE(FScan->ScanPause->Down());
}

using FScanPersistence = ProgramFixture;

TEST_F(FScanPersistence, FiveNumbersSurviveARestart) {
  {
    FScan->F1->SetValue(7000000);
    FScan->F2->SetValue(7300000);
    FScan->dF->SetValue(5000);
    FScan->dT->SetValue(250);
    FScan->Porog->SetValue(-35);
    run_.reset();
  }
  testsupport::ProgramRun again(config_.path(), receiver_.SlavePath());
  EXPECT_EQ(FScan->F1->Value(), 7000000);
  EXPECT_EQ(FScan->F2->Value(), 7300000);
  EXPECT_EQ(FScan->dF->Value(), 5000);
  EXPECT_EQ(FScan->dT->Value(), 250);
  EXPECT_EQ(FScan->Porog->Value(), -35);
}

}  // namespace
