// The panorama window: its frequency table, the sweep step by step (levels, progress, the
// return frequency), the corrections at the start, the clicks that tune, closing and
// showing, and the values kept over a restart. The program runs whole, its serial link on a
// test receiver; the sweep's ticks are run one by one where a test follows them.
#include <gtest/gtest.h>

#include "app/memory/Upanorama.h"
#include "app/panel/Umain.h"
#include "tests/memory/ProgramFixture.h"

using Strings = std::vector<std::string>;

namespace {

class PanoramaTest : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    Panorama->show();
  }
  // Starts a sweep and lets the 25 ms wait pass; the ticks are then the test's to run.
  void StartSweep() {
    Panorama->Start->PerformClick();
    testsupport::Pump(40);
    Panorama->PanTimer->stop();
  }
  void Tick(int times = 1) {
    for (int i = 0; i < times; ++i) Panorama->PanTimerTimer();
  }
  bool InputsEnabled() const {
    return Panorama->Start->isEnabled() && Panorama->F1->isEnabled() && Panorama->F2->isEnabled() &&
           Panorama->NumFreqs->isEnabled();
  }
};

TEST_F(PanoramaTest, WindowAndItsStateAtStart) {
  EXPECT_EQ(Panorama->size(), QSize(454, 223));
  EXPECT_EQ(Panorama->windowTitle(), "Амплитудно-частотная панорама");
  EXPECT_EQ(Panorama->PanWin->geometry(), QRect(2, 2, 450, 180));
  EXPECT_EQ(Panorama->F1->Value(), 1000000);
  EXPECT_EQ(Panorama->F2->Value(), 30000000);
  EXPECT_EQ(Panorama->NumFreqs->ItemIndex(), 0);
  EXPECT_EQ(Panorama->PanCursor, 25);
  for (int32_t level : Panorama->PanLevels) ASSERT_EQ(level, -20);
  EXPECT_FALSE(Panorama->PanTimer->isActive());
}

TEST_F(PanoramaTest, FrequencyTableFillsTheFourHundredColumns) {
  struct Row { int index; int32_t f1, f2, step; int width; int32_t last; };
  const Row rows[] = {
      {0, 1000000, 30000000, 290000, 4, 29710000},
      {1, 1000000, 30000000, 145000, 2, 29855000},
      {2, 1000000, 30000000, 72500, 1, 29927500},
      {0, 7000000, 7300001, 3000, 4, 7297000},  // the step is truncated: 3000.01
      {2, 5000000, 5000000, 0, 1, 5000000},
  };
  for (const auto& r : rows) {
    Panorama->NumFreqs->SetItemIndex(r.index);
    Panorama->F1->SetValue(r.f1);
    Panorama->F2->SetValue(r.f2);
    Panorama->BuildFrequencyTable();
    for (int c = 0; c < kPanColumns; ++c)
      ASSERT_EQ(Panorama->PanFrequencies[size_t(c)], r.f1 + (c / r.width) * r.step) << "column " << c;
    EXPECT_EQ(Panorama->PanFrequencies[kPanColumns - 1], r.last);
  }
}

TEST_F(PanoramaTest, SweepStoresTheReportedLevelsAndReturns) {
  Main->TuneTo(12345678);
  Sent();
  StartSweep();
  EXPECT_EQ(Sent(), Strings{"F:01000000"});
  EXPECT_FALSE(InputsEnabled());
  EXPECT_EQ(Panorama->PanIndex, 0);

  Main->ReportedLevel = 37;
  Tick();
  EXPECT_EQ(Panorama->PanIndex, 4);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(Panorama->PanLevels[size_t(c)], 37);
  EXPECT_EQ(Panorama->PanLevels[4], -20) << "not measured yet";
  EXPECT_EQ(Sent(), Strings{"F:01290000"});

  Main->ReportedLevel = -7;
  Tick(98);
  EXPECT_EQ(Panorama->PanLevels[4], -7);
  EXPECT_EQ(Panorama->PanLevels[395], -7);
  Strings sent = Sent();
  ASSERT_EQ(sent.size(), 98u);
  EXPECT_EQ(sent.back(), "F:29710000");
  EXPECT_FALSE(InputsEnabled());

  Main->ReportedLevel = 80;
  Tick();
  EXPECT_EQ(Panorama->PanLevels[399], 80);
  EXPECT_EQ(Sent(), Strings{"F:12345678"}) << "back where it was";
  EXPECT_EQ(Main->TunedFrequency(), 12345678);
  EXPECT_TRUE(InputsEnabled());
  EXPECT_FALSE(Panorama->PanTimer->isActive());
}

TEST_F(PanoramaTest, WithoutLevelReportsEveryPointTakesTheLastLevel) {
  Panorama->NumFreqs->SetItemIndex(2);
  auto sweep = [this] {
    StartSweep();
    for (int half = 0; half < 2; ++half) {
      Tick(200);
      Sent(0);  // keeps the line's buffer from filling
    }
  };
  sweep();
  for (int32_t level : Panorama->PanLevels) ASSERT_EQ(level, 0) << "no report ever came";

  receiver_.SendReport('L', "-012");
  testsupport::Pump(150);  // the serial link's poll reads it
  ASSERT_EQ(Main->ReportedLevel, -12);
  sweep();
  for (int32_t level : Panorama->PanLevels) ASSERT_EQ(level, -12);
}

TEST_F(PanoramaTest, SweepReturnsToTheShownFrequencyOrToTheStop) {
  struct Row { const char* what; int32_t tuned; const char* typed; int32_t f2; const char* back; };
  const Row rows[] = {
      {"tuned in range", 7050300, "", 30000000, "F:07050300"},
      {"lowest tunable", 1000000, "", 30000000, "F:01000000"},
      {"a keypad entry shows 7 kHz", 7050300, "7", 25000000, "F:25000000"},
      {"a keypad entry shows 30001 kHz", 7050300, "30001", 26000500, "F:26000500"},
  };
  for (const auto& r : rows) {
    Main->TuneTo(r.tuned);
    for (const char* k = r.typed; *k; ++k) Main->Btn[*k - '0']->PerformClick();
    Panorama->F2->SetValue(r.f2);
    StartSweep();
    Tick(100);
    const Strings sent = Sent();
    ASSERT_FALSE(sent.empty()) << r.what;
    EXPECT_EQ(sent.back(), r.back) << r.what;
  }
}

TEST_F(PanoramaTest, StartCorrectsAReversedRangeInTheEdits) {
  Panorama->F1->SetValue(20000000);
  Panorama->F2->SetValue(5000000);
  StartSweep();
  EXPECT_EQ(Panorama->F1->Value(), 5000000);
  EXPECT_EQ(Panorama->F2->Value(), 20000000);
  EXPECT_EQ(Panorama->PanFrequencies[0], 5000000);
  EXPECT_EQ(Panorama->PanFrequencies[4], 5150000);
  EXPECT_EQ(Sent(), Strings{"F:05000000"});
}

TEST_F(PanoramaTest, SweepTicksEveryFiftyMillisecondsOverUsbAndEveryHundredOverSerial) {
  struct Row { uint8_t link; int interval; };
  for (const Row r : {Row{1, 100}, Row{2, 50}}) {
    Main->LinkKind = r.link;
    Panorama->Start->PerformClick();
    EXPECT_FALSE(Panorama->PanTimer->isActive()) << "the first tick waits 25 ms after the first point";
    EXPECT_FALSE(Panorama->Start->isEnabled()) << "no second start during that wait";
    testsupport::Pump(40);
    EXPECT_TRUE(Panorama->PanTimer->isActive());
    EXPECT_EQ(Panorama->PanTimer->interval(), r.interval);
    Panorama->close();
    Panorama->show();
  }
  Main->LinkKind = 1;
}

TEST_F(PanoramaTest, ClickTunesToTheColumnOnlyOnTheTraceWithTheLeftButtonWhenIdle) {
  Panorama->NumFreqs->SetItemIndex(2);
  Panorama->BuildFrequencyTable();
  struct Row { const char* what; Qt::MouseButton button; int x; int cursor; const char* sent; };
  const Row rows[] = {
      {"first column", Qt::LeftButton, 25, 0, "F:01000000"},
      {"last column", Qt::LeftButton, 424, 399, "F:29927500"},
      {"column 100", Qt::LeftButton, 125, 100, "F:08250000"},
      {"left of the trace", Qt::LeftButton, 24, 100, nullptr},
      {"right of the trace", Qt::LeftButton, 425, 100, nullptr},
      {"right button", Qt::RightButton, 200, 100, nullptr},
  };
  for (const auto& r : rows) {
    Panorama->PanWinMouseDown(r.button, r.x);
    EXPECT_EQ(Panorama->PanCursor, r.cursor) << r.what;
    EXPECT_EQ(Sent(), r.sent ? Strings{r.sent} : Strings{}) << r.what;
  }
  StartSweep();
  Sent();
  Panorama->PanWinMouseDown(Qt::LeftButton, 200);
  EXPECT_EQ(Panorama->PanCursor, 100) << "during a sweep";
  EXPECT_TRUE(Sent().empty());
}

TEST_F(PanoramaTest, ClosingCutsTheSweepShortWithoutReturning) {
  Main->BtnPan->PerformClick();
  ASSERT_TRUE(Main->BtnPan->Down());
  Main->TuneTo(9500000);
  StartSweep();
  Tick(10);
  Sent();
  Panorama->close();
  EXPECT_FALSE(Main->BtnPan->Down());
  EXPECT_FALSE(Panorama->PanTimer->isActive());
  EXPECT_TRUE(Sent(120).empty()) << "no return to 9.5 MHz";
  EXPECT_FALSE(InputsEnabled());
  Main->BtnPan->PerformClick();
  EXPECT_TRUE(InputsEnabled()) << "showing the window again";
  EXPECT_EQ(Panorama->PanLevels[39], 0) << "the levels of the cut sweep stay";
  EXPECT_EQ(Panorama->PanLevels[40], -20);
}

using PanoramaPersistence = ProgramFixture;

TEST_F(PanoramaPersistence, RestoredRangeBuildsTheFirstTable) {
  {
    Panorama->F1->SetValue(5900000);
    Panorama->F2->SetValue(6200000);
    Panorama->NumFreqs->SetItemIndex(1);
    run_.reset();
  }
  testsupport::ProgramRun again(config_.path(), receiver_.SlavePath());
  EXPECT_EQ(Panorama->F1->Value(), 5900000);
  EXPECT_EQ(Panorama->F2->Value(), 6200000);
  EXPECT_EQ(Panorama->NumFreqs->ItemIndex(), 1);
  EXPECT_EQ(Panorama->PanFrequencies[0], 5900000);
  EXPECT_EQ(Panorama->PanFrequencies[2], 5901500);
  EXPECT_EQ(Panorama->PanFrequencies[399], 5900000 + 199 * 1500);
}

}  // namespace
