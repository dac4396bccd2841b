// The waterfall's picture rows: a known block gives a known row (bins to columns, levels
// to colours at the range's ends and middle), rows scroll, a change of the columns'
// frequencies puts a line between, a resize keeps the newest rows; and the colour map.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "app/spectrum/UwaterfallPalette.h"
#include "app/spectrum/UwaterfallRows.h"

namespace {

constexpr int kBins = WaterfallRows::kColumns;
const WaterfallTuning kLog8MHz{8000000, 1, true};

std::vector<double> Flat(double m) { return std::vector<double>(kBins, m); }

QRgb Colour(int index) { return WaterfallPalette()[size_t(index)]; }

// The logarithmic view reads 20 log10(m) from -40 dB (bottom) to 80 dB (top): a range from
// place 0.25 to 0.75 is -10 … 50 dB. The linear view reads m against the strongest bin,
// which counts as at least 5.
struct LevelCase {
  const char* name;
  bool logarithmic;
  double low, high;      // the range
  double magnitude;      // of bin 300; every other bin holds `rest`
  double rest;
  int colour;            // palette entry expected at column 300
};

TEST(WaterfallRows, AKnownBlockGivesAKnownRow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const LevelCase cases[] = {
      {"log bottom end", true, 0, 1, 0.01, 0.01, 0},
      {"log below the scale", true, 0, 1, 0.0001, 0.01, 0},
      {"log zero", true, 0, 1, 0.0, 0.01, 0},
      {"log not a number", true, 0, 1, nan, 0.01, 0},
      {"log middle (20 dB)", true, 0, 1, 10.0, 0.01, 128},
      {"log top end (80 dB)", true, 0, 1, 10000.0, 0.01, 255},
      {"log above the scale", true, 0, 1, 1e7, 0.01, 255},
      {"narrow: low end (-10 dB)", true, 0.25, 0.75, std::pow(10.0, -0.5), 0.01, 0},
      {"narrow: below the low end", true, 0.25, 0.75, 0.1, 0.01, 0},
      {"narrow: middle (20 dB)", true, 0.25, 0.75, 10.0, 0.01, 128},
      {"narrow: 0 dB", true, 0.25, 0.75, 1.0, 0.01, 42},
      {"narrow: high end (50 dB)", true, 0.25, 0.75, std::pow(10.0, 2.5), 0.01, 255},
      {"linear strongest", false, 0, 1, 100.0, 50.0, 255},
      {"linear half of the strongest", false, 0, 1, 50.0, 100.0, 128},
      {"linear zero", false, 0, 1, 0.0, 100.0, 0},
      {"linear weak row: against 5", false, 0, 1, 2.5, 1.0, 128},
  };
  for (const LevelCase& c : cases) {
    WaterfallRows rows(4);
    rows.SetRange(c.low, c.high);
    std::vector<double> block = Flat(c.rest);
    block[300] = c.magnitude;
    rows.AddRow(block.data(), {8000000, 1, c.logarithmic}, 0);
    EXPECT_EQ(rows.Pixels(0)[300], Colour(c.colour)) << c.name;
  }
}

TEST(WaterfallRows, BinKIsColumnK) {
  WaterfallRows rows(4);
  std::vector<double> block = Flat(0.01);
  for (int k : {0, 255, 256, 511}) block[size_t(k)] = 10000;
  rows.AddRow(block.data(), kLog8MHz, 0);
  const QRgb* row = rows.Pixels(0);
  for (int x = 0; x < kBins; ++x) {
    const bool lit = x == 0 || x == 255 || x == 256 || x == 511;
    EXPECT_EQ(row[x], Colour(lit ? 255 : 0)) << x;
  }
  // The ring image shows the same pixels at the newest row's slot.
  EXPECT_EQ(rows.Ring().pixel(256, rows.Head()), Colour(255));
  EXPECT_EQ(rows.Ring().pixel(257, rows.Head()), Colour(0));
}

TEST(WaterfallRows, RowsScrollDownAndTheOldestLeave) {
  WaterfallRows rows(3);
  EXPECT_EQ(rows.Count(), 0);
  EXPECT_EQ(rows.Pixels(0)[0], WaterfallRows::kEmpty);
  const double levels[] = {0.01, 10.0, 10000.0, 1.0};  // colours 0, 128, 255, 85
  for (int i = 0; i < 4; ++i) rows.AddRow(Flat(levels[i]).data(), kLog8MHz, 100 * i);
  EXPECT_EQ(rows.Count(), 3);
  EXPECT_EQ(rows.Pixels(0)[10], Colour(85));
  EXPECT_EQ(rows.Pixels(1)[10], Colour(255));
  EXPECT_EQ(rows.Pixels(2)[10], Colour(128));
  EXPECT_EQ(rows.Info(0).timeMs, 300);
  EXPECT_EQ(rows.Info(2).timeMs, 100);
}

TEST(WaterfallRows, ALineMarksAChangeOfTheColumnsFrequencies) {
  WaterfallRows rows(8);
  const std::vector<double> block = Flat(10.0);
  rows.AddRow(block.data(), {8000000, 1, true}, 0);
  rows.AddRow(block.data(), {8000000, 1, false}, 1);  // another view: same columns, no line
  rows.AddRow(block.data(), {8000000, 4, false}, 2);  // stretched: a line
  rows.AddRow(block.data(), {8001000, 4, false}, 3);  // tuned: a line
  rows.AddRow(block.data(), {8001000, 4, false}, 4);
  using K = WaterfallRows::Kind;
  const K kinds[] = {K::Spectrum, K::Spectrum, K::ChangeLine, K::Spectrum, K::ChangeLine, K::Spectrum, K::Spectrum, K::Empty};
  for (int r = 0; r < 8; ++r) EXPECT_EQ(rows.Info(r).kind, kinds[r]) << r;
  for (int x : {0, 200, 511}) {
    EXPECT_EQ(rows.Pixels(2)[x], WaterfallRows::kChangeLine);
    EXPECT_EQ(rows.Pixels(4)[x], WaterfallRows::kChangeLine);
  }
  // Each row keeps its own columns: bin 300 lies (44 × 11070 / 512) / D Hz above the centre.
  EXPECT_EQ(rows.ColumnFrequency(0, 300), 8001237);
  EXPECT_EQ(rows.ColumnFrequency(3, 300), 8000237);
  EXPECT_EQ(rows.ColumnFrequency(5, 300), 8000951);
  EXPECT_EQ(rows.ColumnFrequency(5, 0), 7994465);
  EXPECT_EQ(rows.ColumnFrequency(2, 300), std::nullopt);  // the line
  EXPECT_EQ(rows.ColumnFrequency(7, 300), std::nullopt);  // not written yet
  EXPECT_EQ(rows.ColumnFrequency(0, 512), std::nullopt);
}

TEST(WaterfallRows, AResizeKeepsTheNewestRows) {
  WaterfallRows rows(5);
  const double levels[] = {0.01, 0.1, 1.0, 10.0, 100.0};  // colours 0, 42, 85, 128, 170
  const int colours[] = {0, 42, 85, 128, 170};
  for (int i = 0; i < 5; ++i) rows.AddRow(Flat(levels[i]).data(), kLog8MHz, i);
  rows.Resize(3);
  ASSERT_EQ(rows.Count(), 3);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(rows.Pixels(r)[0], Colour(colours[4 - r])) << r;
  rows.Resize(6);
  ASSERT_EQ(rows.Count(), 3);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(rows.Pixels(r)[0], Colour(colours[4 - r])) << r;
  for (int r = 3; r < 6; ++r) EXPECT_EQ(rows.Pixels(r)[0], WaterfallRows::kEmpty) << r;
  rows.AddRow(Flat(10000.0).data(), kLog8MHz, 5);
  EXPECT_EQ(rows.Pixels(0)[0], Colour(255));
  EXPECT_EQ(rows.Pixels(1)[0], Colour(170));
  EXPECT_EQ(rows.Info(1).timeMs, 4);
  EXPECT_EQ(rows.Count(), 4);
}

// Ends and middle of the published viridis table: #440154, #21918C, #FDE725; the fit used
// here stays within 5 of its 255 levels there.
TEST(WaterfallPalette, FollowsViridisAndGrowsLighterThroughout) {
  struct Entry { int index; QRgb published; };
  for (const Entry& e : {Entry{0, 0x440154}, Entry{128, 0x21918C}, Entry{255, 0xFDE725}}) {
    const QRgb c = Colour(e.index);
    EXPECT_NEAR(qRed(c), qRed(e.published), 5) << e.index;
    EXPECT_NEAR(qGreen(c), qGreen(e.published), 5) << e.index;
    EXPECT_NEAR(qBlue(c), qBlue(e.published), 5) << e.index;
  }
  // Neighbouring entries differ by less than the rounding to whole levels: compare every 8th.
  double previous = -1;
  for (int i = 0; i < kPaletteColours; i += 8) {
    const QRgb c = Colour(i);
    const double luma = 0.2126 * qRed(c) + 0.7152 * qGreen(c) + 0.0722 * qBlue(c);
    EXPECT_GT(luma, previous) << i;
    previous = luma;
  }
}

}  // namespace
