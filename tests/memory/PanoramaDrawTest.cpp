// The panorama's picture, read back pixel by pixel: the dotted grid, where the level and
// frequency labels and the readouts sit, the trace's rows for known levels (one pixel a dB,
// clamped to the grid), the cursor's column and the progress line.
#include <gtest/gtest.h>

#include "app/memory/Upanorama.h"
#include "tests/memory/ProgramFixture.h"

namespace {

constexpr QRgb kBlack = 0x000000, kGray = 0x808080, kYellow = 0xFFFF00, kLime = 0x00FF00, kRed = 0xFF0000,
               kBlue = 0x0000FF;

class PanoramaDrawTest : public ProgramFixture {
 protected:
  QRgb At(int x, int y) const { return Panorama->PanWin->Picture().pixel(x, y) & 0xFFFFFF; }
  bool AnyIn(QRect r, QRgb colour) const {
    r &= Panorama->PanWin->Picture().rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (At(x, y) == colour) return true;
    return false;
  }
  // Levels in five stretches: inside the grid, clamped at the top, clamped at the bottom.
  static int32_t LevelOf(int column) {
    if (column < 100) return 37;    // y 103
    if (column < 150) return 95;    // y 45
    if (column < 200) return 200;   // above 120 dB: y 20
    if (column < 300) return -50;   // below −20 dB: y 160
    return 0;                       // y 140
  }
  void DrawKnownPicture(int cursor, int index) {
    for (int c = 0; c < kPanColumns; ++c) Panorama->PanLevels[size_t(c)] = LevelOf(c);
    Panorama->PanCursor = cursor;
    Panorama->PanIndex = index;
    Panorama->DrawPanorama();
  }
};

TEST_F(PanoramaDrawTest, GridIsDottedGrayBetweenItsLines) {
  DrawKnownPicture(310, 0);
  EXPECT_EQ(Panorama->PanWin->Picture().size(), QSize(450, 180));
  for (int y = 20; y <= 160; y += 20) EXPECT_EQ(At(25, y), kGray) << "row " << y << " starts at x 25";
  for (int x : {125, 325, 425}) EXPECT_EQ(At(x, 20), kGray) << "column " << x << " starts at y 20";
  // Dotted: both gray and black along a grid row and a grid column, nothing gray off them.
  EXPECT_TRUE(AnyIn({26, 60, 98, 1}, kBlack));
  EXPECT_TRUE(AnyIn({26, 60, 98, 1}, kGray));
  EXPECT_TRUE(AnyIn({425, 21, 1, 139}, kBlack));
  EXPECT_TRUE(AnyIn({425, 21, 1, 139}, kGray));
  EXPECT_FALSE(AnyIn({26, 21, 98, 18}, kGray)) << "between the rows";
  EXPECT_FALSE(AnyIn({426, 21, 23, 139}, kGray)) << "right of the grid";
  EXPECT_FALSE(AnyIn({25, 161, 401, 3}, kGray)) << "below the grid";
}

TEST_F(PanoramaDrawTest, LabelsSitAtTheirPlacesInYellow) {
  DrawKnownPicture(310, 0);
  struct Label { const char* what; int x, y, width; };
  const Label labels[] = {
      {"120 left", 2, 13, 20},    {"120 right", 427, 13, 20}, {"100 left", 2, 33, 20},  {"100 right", 427, 33, 20},
      {"80 left", 6, 53, 14},     {"80 right", 431, 53, 14},  {"60 left", 6, 73, 14},   {"40 left", 6, 93, 14},
      {"20 left", 6, 113, 14},    {"0 left", 10, 133, 8},     {"0 right", 435, 133, 8}, {"-20 left", 4, 153, 18},
      {"-20 right", 429, 153, 18}, {"F1", 25, 165, 60},       {"middle", 200, 165, 60}, {"F2", 375, 165, 60},
      {"cursor frequency", 130, 1, 110}, {"cursor level", 270, 1, 70},
  };
  for (const auto& l : labels) {
    EXPECT_TRUE(AnyIn({l.x, l.y, l.width, 13}, kYellow)) << l.what;
    EXPECT_FALSE(AnyIn({l.x - 2, l.y, 2, 13}, kYellow)) << l.what << ": nothing just left of it";
    EXPECT_FALSE(AnyIn({l.x, l.y - 2, l.width, 2}, kYellow)) << l.what << ": nothing just above it";
  }
  EXPECT_FALSE(AnyIn({24, 17, 401, 141}, kYellow)) << "no text inside the grid";
}

TEST_F(PanoramaDrawTest, TraceRowIsOnePixelPerDbClampedToTheGrid) {
  DrawKnownPicture(0, 0);
  struct Row { int column; int y; };
  const Row rows[] = {{50, 103}, {125, 45}, {175, 20}, {250, 160}, {350, 140}, {399, 140}};
  for (const auto& r : rows) {
    const int x = r.column + 25;
    EXPECT_EQ(At(x, r.y), kLime) << "column " << r.column;
    EXPECT_NE(At(x, r.y - 1), kLime) << "column " << r.column;
    EXPECT_NE(At(x, r.y + 1), kLime) << "column " << r.column;
  }
  EXPECT_FALSE(AnyIn({0, 0, 25, 180}, kLime)) << "nothing left of column 0";
  EXPECT_FALSE(AnyIn({425, 0, 25, 180}, kLime)) << "nothing right of column 399";
  EXPECT_FALSE(AnyIn({25, 0, 400, 20}, kLime)) << "nothing above 120 dB";
  EXPECT_FALSE(AnyIn({25, 161, 400, 19}, kLime)) << "nothing below -20 dB";
}

TEST_F(PanoramaDrawTest, CursorAndProgressLine) {
  struct Row { int cursor, index; };
  for (const Row r : {Row{25, 4}, Row{310, 399}, Row{0, 0}}) {
    DrawKnownPicture(r.cursor, r.index);
    const int x = r.cursor + 25;
    EXPECT_EQ(At(x, 18), kRed) << r.cursor;
    EXPECT_EQ(At(x, 90), kRed) << r.cursor;
    EXPECT_EQ(At(x, 162), kRed) << r.cursor;
    EXPECT_NE(At(x, 17), kRed) << r.cursor;
    EXPECT_NE(At(x, 163), kRed) << r.cursor;
    EXPECT_FALSE(AnyIn({x + 1, 18, 1, 145}, kRed)) << r.cursor;
    EXPECT_FALSE(AnyIn({x - 1, 18, 1, 145}, kRed)) << r.cursor;
    if (r.index > 0) {
      EXPECT_EQ(At(25, 16), kBlue) << r.index;
      EXPECT_EQ(At(25 + r.index, 16), kBlue) << r.index;
    }
    EXPECT_FALSE(AnyIn({26 + r.index, 16, 424 - r.index, 1}, kBlue)) << r.index;
    EXPECT_FALSE(AnyIn({0, 15, 450, 1}, kBlue));
    EXPECT_FALSE(AnyIn({0, 17, 450, 1}, kBlue));
  }
}

TEST_F(PanoramaDrawTest, FirstTickOfAHundredPointsReachesXTwentyNine) {
  Panorama->NumFreqs->SetItemIndex(0);
  Panorama->Start->PerformClick();
  testsupport::Pump(40);
  Panorama->PanTimer->stop();
  Panorama->PanTimerTimer();
  EXPECT_EQ(At(29, 16), kBlue);
  EXPECT_NE(At(30, 16), kBlue);
  EXPECT_EQ(At(50, 18), kRed) << "the cursor starts at column 25";
  Panorama->PanTimerTimer();
  EXPECT_EQ(At(33, 16), kBlue);
  Panorama->close();
}

}  // namespace
