// The channel scanner of the memory window: the step in each direction with its wrap-around,
// no channels at all, the stop on the spectrum's peak level, stop and pause, and when changes
// of the dwell time and of the threshold take effect.
#include <gtest/gtest.h>

#include "app/memory/Uchan.h"
#include "app/panel/Umain.h"
#include "tests/memory/ChanFixture.h"

using Strings = std::vector<std::string>;

namespace {

// Five channels, channel n on n + 1 MHz.
const QByteArray kFiveChannels =
    "[Global]\r\nTotal=5\r\n"
    "[Chan1]\r\nName=one\r\nFreq=2000000\r\nPolosa=3000\r\nClass=\xC0\xCC\r\n"
    "[Chan2]\r\nName=two\r\nFreq=3000000\r\nPolosa=3000\r\nClass=\xC0\xCC\r\n"
    "[Chan3]\r\nName=three\r\nFreq=4000000\r\nPolosa=3000\r\nClass=\xC0\xCC\r\n"
    "[Chan4]\r\nName=four\r\nFreq=5000000\r\nPolosa=3000\r\nClass=\xC0\xCC\r\n"
    "[Chan5]\r\nName=five\r\nFreq=6000000\r\nPolosa=3000\r\nClass=\xC0\xCC\r\n";

class ChanScanTest : public ChanFixture {
 protected:
  void SetUp() override {
    ChanFixture::SetUp();
    Spectrum.PeakLevel = -100;  // no signal until a test puts one there
  }
  // The frequencies tuned since the last call: one per recall.
  Strings Tuned() {
    Strings f;
    for (const std::string& s : Sent())
      if (s.rfind("F:", 0) == 0) f.push_back(s);
    return f;
  }
};

struct StepRow {
  const char* what;
  QByteArray file;
  int from;  // CurrentChannel at the start
  bool right;
  int ticks;
  Strings tuned;  // the start's recall, then one per tick
  int current;
  int selected;
};

TEST_F(ChanScanTest, EachTickRecallsTheNextChannelAndWrapsAtTheEnds) {
  const StepRow rows[] = {
      {"from no channel, right", kFiveChannels, 0, true, 1, {"F:01000000", "F:02000000"}, 1, 0},
      {"from no channel, left", kFiveChannels, 0, false, 1, {"F:01000000", "F:06000000"}, 5, 4},
      {"right past the last", kFiveChannels, 5, true, 1, {"F:06000000", "F:02000000"}, 1, 0},
      {"left past the first", kFiveChannels, 1, false, 1, {"F:02000000", "F:06000000"}, 5, 4},
      {"two steps right", kFiveChannels, 2, true, 2, {"F:03000000", "F:04000000", "F:05000000"}, 4, 3},
      {"no channels, right: channel 1 again and again", {}, 0, true, 3,
       {"F:01000000", "F:01000000", "F:01000000", "F:01000000"}, 1, -1},
      {"no channels, left: channel 0 again and again", {}, 0, false, 2, {"F:01000000", "F:01000000", "F:01000000"}, 0,
       -1},
  };
  for (const auto& r : rows) {
    UseFile(r.file);
    Chan->CurrentChannel = r.from;
    Chan->ChanList->SetItemIndex(-1);
    (r.right ? Chan->ScanRight : Chan->ScanLeft)->PerformClick();
    EXPECT_EQ(Chan->ScanDirection, r.right ? 1 : -1) << r.what;
    for (int i = 0; i < r.ticks; ++i) Chan->ScanTimerTimer();
    EXPECT_EQ(Tuned(), r.tuned) << r.what;
    EXPECT_EQ(Chan->CurrentChannel, r.current) << r.what;
    EXPECT_EQ(Chan->ChanList->ItemIndex(), r.selected) << r.what;
    Chan->ScanPause->PerformClick();
  }
}

TEST_F(ChanScanTest, ARecallIsTheWholeChannelAndTheListIsOnlyMarked) {
  UseFile(kFiveChannels);
  Chan->CurrentChannel = 2;
  Chan->ScanRight->PerformClick();
  Sent();
  Chan->ScanTimerTimer();
  EXPECT_EQ(Sent(), (Strings{"F:04000000", "H:03000", "E:90", "H:03000"})) << "one recall, not a second by the list";
  EXPECT_EQ(Chan->ChanList->ItemIndex(), 2);
}

TEST_F(ChanScanTest, ASignalAtTheThresholdStopsTheScanWhereItIs) {
  UseFile(kFiveChannels);
  struct Row { int porog, peak; bool stops; };
  const Row rows[] = {{-70, -70, true}, {-70, -71, false}, {50, 50, true}, {50, 49, false}, {70, 80, true}};
  for (const auto& r : rows) {
    Chan->CurrentChannel = 3;
    Chan->Porog->SetValue(r.porog);
    Chan->ScanRight->PerformClick();
    Tuned();
    Spectrum.PeakLevel = r.peak;
    Chan->ScanTimerTimer();
    const std::string what = "threshold " + std::to_string(r.porog) + ", peak " + std::to_string(r.peak);
    EXPECT_EQ(Chan->ScanTimer->isActive(), !r.stops) << what;
    EXPECT_EQ(Chan->ScanPause->Down(), r.stops) << what;
    EXPECT_EQ(Chan->ScanRight->Down(), !r.stops) << what;
    EXPECT_EQ(Chan->CurrentChannel, r.stops ? 3 : 4) << what;
    EXPECT_EQ(Tuned().size(), r.stops ? 0u : 1u) << what;
    Chan->ScanPause->PerformClick();
    Spectrum.PeakLevel = -100;
  }
}

TEST_F(ChanScanTest, StartingAgainOnTheSignalStopsAgainAtTheFirstTick) {
  UseFile(kFiveChannels);
  Chan->CurrentChannel = 2;
  Spectrum.PeakLevel = 60;
  for (int i = 0; i < 2; ++i) {
    Chan->ScanRight->PerformClick();
    Chan->ScanTimerTimer();
    EXPECT_FALSE(Chan->ScanTimer->isActive());
    EXPECT_EQ(Chan->CurrentChannel, 2);
  }
}

TEST_F(ChanScanTest, StopReturnsToChannelOneFromEitherDirection) {
  UseFile(kFiveChannels);
  for (TPictureButton* direction : {Chan->ScanLeft, Chan->ScanRight}) {
    Chan->CurrentChannel = 3;
    direction->PerformClick();
    Chan->ScanTimerTimer();
    Tuned();
    Chan->ScanStop->PerformClick();
    EXPECT_FALSE(Chan->ScanTimer->isActive());
    EXPECT_EQ(Tuned(), Strings{"F:02000000"});
    EXPECT_EQ(Chan->CurrentChannel, 1);
    EXPECT_EQ(Chan->ChanList->ItemIndex(), 0);
  }
}

TEST_F(ChanScanTest, DwellTimeCountsFromTheNextStartTheThresholdFromTheNextTick) {
  UseFile(kFiveChannels);
  Chan->Time->SetValue(250);
  Chan->CurrentChannel = 1;
  Chan->ScanRight->PerformClick();
  EXPECT_EQ(Chan->ScanTimer->interval(), 250);
  ASSERT_TRUE(testsupport::PumpUntil([] { return Chan->CurrentChannel == 3; }, 3000)) << "the timer steps on its own";

  Chan->Time->SetValue(1000);
  EXPECT_EQ(Chan->ScanTimer->interval(), 250) << "while running";
  Spectrum.PeakLevel = 40;
  Chan->Porog->SetValue(40);
  Chan->ScanTimerTimer();
  EXPECT_FALSE(Chan->ScanTimer->isActive()) << "the new threshold holds at the next tick";

  Chan->ScanLeft->PerformClick();
  EXPECT_EQ(Chan->ScanTimer->interval(), 1000);
  Chan->ScanPause->PerformClick();
  EXPECT_FALSE(Chan->ScanTimer->isActive());
}

}  // namespace
