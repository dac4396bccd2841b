// AddSampleBlock's processing: the ring, the pair selection, the transform call, the
// magnitudes and the averaging.
#include "app/spectrum/Uspectr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// A transform stand-in that records what it was handed and returns a fixed spectrum.
struct FakeTransform {
  static inline float q[kSpectrumBins], i[kSpectrumBins];
  static inline int n = 0;
  static inline int calls = 0;
  static inline float re = 0, im = 0;

  static void Call(float* qIn, float* iIn, int points, float* out1, float* out2) {
    std::copy(qIn, qIn + kSpectrumBins, q);
    std::copy(iIn, iIn + kSpectrumBins, i);
    n = points;
    ++calls;
    std::fill(out1, out1 + kSpectrumBins, re);
    std::fill(out2, out2 + kSpectrumBins, im);
  }
  static void Reset(float realPart, float imagPart) {
    re = realPart;
    im = imagPart;
    calls = 0;
  }
};

// The state is large (about 100 kB): keep it off the stack.
std::unique_ptr<SpectrumState> NewState(FftEntryPoint entry = &FakeTransform::Call) {
  auto s = std::make_unique<SpectrumState>();
  s->FftEntry = entry;
  return s;
}

// A block whose pairs carry their global pair number g: I = g, Q = -g.
std::vector<int16_t> NumberedBlock(int firstPair) {
  std::vector<int16_t> block(kSampleBlockSamples);
  for (int p = 0; p < kSampleBlockSamples / 2; ++p) {
    block[2 * p] = int16_t(firstPair + p);
    block[2 * p + 1] = int16_t(-(firstPair + p));
  }
  return block;
}

SpectrumControls Stretched(int bandwidthDown) {
  SpectrumControls c;
  c.scalingIndex = 1;
  c.bandwidthDown = bandwidthDown;
  return c;
}

TEST(SpectrumDecimation, FollowsStretchAndBandwidth) {
  struct Case { int scaling; int bandwidth; int expected; };
  const Case cases[] = {
      {0, 0, 1}, {0, 3, 1}, {0, 5, 1}, {0, -1, 1},                       // no stretch: always 1
      {1, 0, 1}, {1, 1, 1}, {1, 2, 2}, {1, 3, 4}, {1, 4, 8}, {1, 5, 16},  // 12k ... 0.5k
      {1, -1, 1}, {1, 6, 1},                                              // none down
  };
  for (const Case& c : cases) {
    SpectrumControls controls;
    controls.scalingIndex = c.scaling;
    controls.bandwidthDown = c.bandwidth;
    EXPECT_EQ(DecimationFactor(controls), c.expected) << c.scaling << " " << c.bandwidth;
  }
}

TEST(SpectrumGainOffset, CombinesGainControls) {
  struct Case { bool aru; bool uvc; int rru; int att; int reported; int expected; };
  const Case cases[] = {
      {true, true, 0, 0, 0, 51},      // the controls at start-up
      {true, false, 80, 9, 20, 47},   // AGC ignores the slider
      {false, true, 80, 9, 20, 86},   // manual gain ignores the report
      {false, false, 0, 45, 0, -45},
      {true, true, 999, 0, 999, 1050},
  };
  for (const Case& c : cases) {
    SpectrumControls controls;
    controls.aruDown = c.aru;
    controls.uvcDown = c.uvc;
    controls.rruPosition = c.rru;
    controls.attVch = c.att;
    EXPECT_EQ(GainOffset(controls, c.reported), c.expected) << c.expected;
  }
}

TEST(SpectrumRing, StoresBlocksInOrderAndWraps) {
  auto s = NewState();
  const SpectrumControls c;
  for (int b = 0; b < 9; ++b) {
    ProcessSampleBlock(*s, NumberedBlock(b * 1024).data(), c);
    EXPECT_EQ(s->RingPosition, ((b + 1) * kSampleBlockSamples) % kSampleRingSamples);
  }
  // The ninth block overwrote the first slot; slot 1 still holds the second block.
  EXPECT_EQ(s->SampleRing[0], 8 * 1024);
  EXPECT_EQ(s->SampleRing[kSampleBlockSamples], 1024);
  EXPECT_EQ(s->SampleRing[kSampleRingSamples - 1], -(8 * 1024 - 1));
}

TEST(SpectrumPairSelection, TakesEveryDthPairEndingWithTheNewest) {
  struct Case { int bandwidth; int decimation; };
  for (const Case& c : {Case{3, 4}, Case{0, 1}, Case{2, 2}, Case{4, 8}, Case{5, 16}}) {
    SCOPED_TRACE(c.decimation);
    auto s = NewState();
    for (int b = 0; b < 8; ++b) ProcessSampleBlock(*s, NumberedBlock(b * 1024).data(), Stretched(c.bandwidth));
    ASSERT_EQ(FakeTransform::n, kSpectrumBins);
    // Newest pair is 8191; entry j holds pair 8191 - (511 - j) * D; Q goes first.
    for (int j = 0; j < kSpectrumBins; ++j) {
      const int pair = 8191 - (511 - j) * c.decimation;
      ASSERT_EQ(FakeTransform::i[j], float(pair)) << j;
      ASSERT_EQ(FakeTransform::q[j], float(-pair)) << j;
    }
  }
}

TEST(SpectrumPairSelection, WithoutStretchUsesTheSecondHalfOfTheNewestBlock) {
  auto s = NewState();
  SpectrumControls c;
  c.bandwidthDown = 5;  // 0.5 kHz changes nothing without stretch
  ProcessSampleBlock(*s, NumberedBlock(0).data(), c);
  EXPECT_EQ(FakeTransform::i[0], 512.0f);
  EXPECT_EQ(FakeTransform::i[511], 1023.0f);
  EXPECT_EQ(FakeTransform::q[0], -512.0f);
}

TEST(SpectrumPairSelection, NarrowestStretchReachesBackOverTheEmptyRingAfterStartUp) {
  auto s = NewState();
  ProcessSampleBlock(*s, NumberedBlock(1).data(), Stretched(5));
  // Pairs 16 apart: 64 of them lie in the one block written so far, the rest are zeros.
  for (int j = 0; j < kSpectrumBins; ++j) {
    const float expected = j >= 448 ? float(1 + 1023 - (511 - j) * 16) : 0.0f;
    ASSERT_EQ(FakeTransform::i[j], expected) << j;
  }
}

TEST(SpectrumMagnitude, IsTheLengthOfEachOutputPair) {
  FakeTransform::Reset(3.0f, -4.0f);
  auto s = NewState();
  ProcessSampleBlock(*s, NumberedBlock(0).data(), SpectrumControls{});
  EXPECT_EQ(FakeTransform::calls, 1);
  EXPECT_TRUE(std::all_of(std::begin(s->Magnitude), std::end(s->Magnitude), [](double m) { return m == 5.0; }));
}

TEST(SpectrumMagnitude, WithoutTheLibraryIsZero) {
  auto s = NewState(nullptr);
  std::fill(std::begin(s->Magnitude), std::end(s->Magnitude), 9.0);
  ProcessSampleBlock(*s, NumberedBlock(100).data(), SpectrumControls{});
  EXPECT_TRUE(std::all_of(std::begin(s->Magnitude), std::end(s->Magnitude), [](double m) { return m == 0.0; }));
  EXPECT_EQ(s->RingPosition, kSampleBlockSamples);  // the ring still runs
}

class SpectrumAveraging : public ::testing::Test {
 protected:
  void SetUp() override { FakeTransform::Reset(8.0f, 0.0f); }
  void Block(int avrCount, bool avrDown = true) {
    SpectrumControls c;
    c.avrDown = avrDown;
    c.avrCount = avrCount;
    ProcessSampleBlock(*s, block.data(), c);
  }
  std::unique_ptr<SpectrumState> s = NewState();
  std::vector<int16_t> block = NumberedBlock(0);
};

TEST_F(SpectrumAveraging, FirstBlockAfterStartUpIsOneSixteenth) {
  Block(16);
  EXPECT_EQ(s->Magnitude[0], 0.5);
  EXPECT_EQ(s->Magnitude[511], 0.5);
  EXPECT_EQ(s->HistoryIndex, 1);
  EXPECT_EQ(s->History[0][7], 8.0);  // the history keeps the block's own magnitudes
}

TEST_F(SpectrumAveraging, CountLoweredMidwayAveragesTheLowSlotsWhateverTheyHold) {
  s->HistoryIndex = 13;
  std::fill(std::begin(s->History[0]), std::end(s->History[0]), 2.0);
  std::fill(std::begin(s->History[1]), std::end(s->History[1]), 6.0);
  Block(2);
  EXPECT_EQ(s->History[13][0], 8.0);  // written at the old index
  EXPECT_EQ(s->HistoryIndex, 0);      // (13 + 1) AND 1
  EXPECT_EQ(s->Magnitude[100], 4.0);  // slots 0 and 1 only
}

TEST_F(SpectrumAveraging, IndexCyclesThroughTheCount) {
  std::vector<int> indexes;
  for (int b = 0; b < 5; ++b) {
    Block(4);
    indexes.push_back(s->HistoryIndex);
  }
  EXPECT_EQ(indexes, (std::vector<int>{1, 2, 3, 0, 1}));
  EXPECT_EQ(s->Magnitude[0], 8.0);  // four slots now hold the same spectrum
}

TEST_F(SpectrumAveraging, ButtonUpLeavesTheHistoryAlone) {
  s->HistoryIndex = 5;
  Block(16, false);
  EXPECT_EQ(s->HistoryIndex, 5);
  EXPECT_EQ(s->History[5][0], 0.0);
  EXPECT_EQ(s->Magnitude[0], 8.0);
}

TEST_F(SpectrumAveraging, CountOutsideTheListStaysInsideTheHistory) {
  for (int count : {0, 3, 32, -8}) {
    SCOPED_TRACE(count);
    for (int b = 0; b < 20; ++b) {
      Block(count);
      ASSERT_GE(s->HistoryIndex, 0);
      ASSERT_LT(s->HistoryIndex, kHistorySlots);
    }
  }
}

}  // namespace
