// RenderSpectrum and the marker clicks, checked on the five pictures and the state.
#include "app/spectrum/Uspectr.h"
#include "tests/spectrum/TestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr QRgb kBlack = 0x000000, kGray = 0x808080, kYellow = 0xFFFF00, kLime = 0x00FF00,
               kRed = 0xFF0000, kWhite = 0xFFFFFF, kAqua = 0x00FFFF;

class SpectrumRender : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureQtApplication(); }
  void SetUp() override { controls.linkKind = 2; }  // no notice unless a test asks for it

  void Render() { RenderSpectrum(*state, controls, images.pictures); }
  SpectrumFrame Layout() {
    SpectrumFrame frame;
    LayoutSpectrum(*state, controls, frame);
    return frame;
  }
  void FillMagnitudes(double m) { std::fill(std::begin(state->Magnitude), std::end(state->Magnitude), m); }
  // Columns of the trace away from the marker lines, which are drawn over it.
  static bool IsMarkerColumn(int x) { return x == 25 || x == 487; }

  std::unique_ptr<SpectrumState> state = std::make_unique<SpectrumState>();
  SpectrumControls controls;
  SpectrumImages images;
};

TEST_F(SpectrumRender, ZeroSpectrumInTheLogViewIsTheBottomLinePeakingAtTheLastBin) {
  struct Case { int bandwidth; int decimation; };
  for (const Case c : {Case{-1, 1}, Case{2, 2}, Case{5, 16}}) {
    SCOPED_TRACE(c.decimation);
    controls.scalingIndex = 1;
    controls.bandwidthDown = c.bandwidth;
    FillMagnitudes(0);
    Render();
    EXPECT_EQ(state->PeakLevel, 167 - 51 - 119);
    EXPECT_EQ(state->PeakFrequency, 1000000 + 5513 / c.decimation);
    for (int x = 0; x < kSpectrumBins; ++x) {
      if (IsMarkerColumn(x)) continue;
      ASSERT_EQ(FirstRowWithColour(images.spectr, x, kLime), 239) << x;
    }
    EXPECT_EQ(state->Magnitude[10], 0.001);  // clamped values are written back
  }
}

TEST_F(SpectrumRender, LogViewClampsMagnitudesIntoThePicture) {
  struct Case { double magnitude; int row; double stored; };
  const Case cases[] = {
      {1e6, 0, 10000},                                      // above 10000: the top row
      {10000, 0, 10000},
      {1.0, 159, 1.0},                                      // 0 dB: 239 - 80
      {-5, 239, 0.001},
      {std::numeric_limits<double>::quiet_NaN(), 239, 0.001},
      {std::numeric_limits<double>::infinity(), 0, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.magnitude);
    FillMagnitudes(0);
    state->Magnitude[100] = c.magnitude;
    Render();
    EXPECT_EQ(FirstRowWithColour(images.spectr, 100, kLime), c.row);
    EXPECT_EQ(state->Magnitude[100], c.stored);
    EXPECT_EQ(state->PeakFrequency, c.row < 239 ? 996628 : 1005513);  // bin 100, else bin 511
  }
}

TEST_F(SpectrumRender, LogViewPeakTakesTheHighestOfEqualBins) {
  FillMagnitudes(0);
  state->Magnitude[40] = 100;
  state->Magnitude[300] = 100;
  state->Magnitude[200] = 50;
  Render();
  // 100 is 40 dB: row 239 - 160 = 79, level 167 - 51 - 39.
  EXPECT_EQ(state->PeakLevel, 167 - 51 - 79 / 2);
  EXPECT_EQ(state->PeakFrequency, 1000000 + (44 * 11070 / 512));
}

TEST_F(SpectrumRender, LogGridFallsOnTensOfDecibels) {
  struct Case { int reportedGain; std::vector<int> rows; std::vector<std::string> labels; };
  const Case cases[] = {
      // G = 51, top = 116: first line at v = 6.
      {0, {12, 32, 52, 72, 92, 112, 132, 152, 172, 192, 212, 232},
       {"110", "100", "90", "80", "70", "60", "50", "40", "30", "20", "10", "0"}},
      // G = 251, top = -84: the first line (v = -4) lies above the picture.
      {200, {-8, 12, 32, 52, 72, 92, 112, 132, 152, 172, 192, 212, 232},
       {"-80", "-90", "-100", "-110", "-120", "-130", "-140", "-150", "-160", "-170", "-180", "-190", "-200"}},
      // G = 47, top = 120: v = 0 puts a line on row 0.
      {-4, {0, 20, 40, 60, 80, 100, 120, 140, 160, 180, 200, 220},
       {"120", "110", "100", "90", "80", "70", "60", "50", "40", "30", "20", "10"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reportedGain);
    state->ReportedGain.store(c.reportedGain, std::memory_order_release);
    const SpectrumFrame frame = Layout();
    ASSERT_EQ(frame.gridRowCount, int(c.rows.size()));
    for (int r = 0; r < frame.gridRowCount; ++r) {
      EXPECT_EQ(frame.gridRowY[r], c.rows[r]);
      EXPECT_EQ(frame.gridLabel[r], c.labels[r]);
    }
    Render();
    for (int row : c.rows) {
      if (row < 0) continue;
      EXPECT_GT(CountColour(images.spectr, QRect(0, row, 512, 1), kGray), 100) << row;
      EXPECT_EQ(images.spectr.pixel(0, row) & 0xFFFFFF, kGray) << row;
    }
    EXPECT_EQ(CountColour(images.spectr, QRect(30, 2, 90, 1), kGray), 0);  // between grid lines
    EXPECT_EQ(images.lScale, images.rScale);  // both scales carry the same labels
    EXPECT_GT(CountColour(images.lScale, images.lScale.rect(), kYellow), 0);
  }
}

// The spectrum picture is black, the grid dotted gray lines and the trace a lime polyline,
// pixel for pixel as those lines drawn one by one, for every position of the level lines.
TEST_F(SpectrumRender, GridAndTraceAreThoseLinesDrawnDirectly) {
  state->Marker1X = 600;  // markers off the picture
  state->Marker2X = 700;
  for (int view : {0, 1}) {
    for (int gain = 0; gain < 10; ++gain) {
      SCOPED_TRACE(view * 100 + gain);
      controls.mashtabIndex = view;
      state->ReportedGain = gain;
      for (int k = 0; k < kSpectrumBins; ++k) state->Magnitude[k] = 1 + (k * 37) % 200;
      const SpectrumFrame frame = Layout();
      Render();

      QImage expected(512, 240, QImage::Format_RGB32);
      expected.fill(Qt::black);
      QPainter p(&expected);
      p.setPen(QPen(QColor(kGray), 1, Qt::DotLine));
      for (int x : {25, 140, 256, 372, 487}) p.drawLine(x, 0, x, 239);
      if (view == 0) {
        for (int r = 0; r < frame.gridRowCount; ++r) p.drawLine(0, frame.gridRowY[r], 511, frame.gridRowY[r]);
      } else {
        for (int y : {10, 77, 125, 167, 199, 217, 233}) p.drawLine(0, y, 511, y);
      }
      p.setPen(QPen(QColor(kLime)));
      p.drawPolyline(frame.trace, kSpectrumBins);
      p.end();
      ASSERT_EQ(images.spectr, expected);
    }
  }
}

TEST_F(SpectrumRender, VerticalGridAndMarkersSpanTheHeight) {
  FillMagnitudes(1e6);  // the trace runs along row 0, out of the way below
  Render();
  for (int x : {140, 256, 372}) {
    EXPECT_GT(CountColour(images.spectr, QRect(x, 1, 1, 239), kGray), 60) << x;
    EXPECT_LT(CountColour(images.spectr, QRect(x + 1, 1, 1, 239), kGray), 15) << x;  // level lines only
  }
  EXPECT_EQ(CountColour(images.spectr, QRect(25, 0, 1, 240), kRed), 240);
  EXPECT_EQ(CountColour(images.spectr, QRect(487, 0, 1, 240), kYellow), 240);
}

TEST_F(SpectrumRender, ZeroSpectrumInTheLinearViewIsTheBottomLine) {
  controls.mashtabIndex = 1;
  struct Case { int reportedGain; };
  for (const Case c : {Case{0}, Case{-40}, Case{-23}}) {
    SCOPED_TRACE(c.reportedGain);
    state->ReportedGain = c.reportedGain;
    FillMagnitudes(0);
    Render();
    const int g = 51 + c.reportedGain;
    EXPECT_EQ(state->PeakLevel, 28 - g);
    EXPECT_EQ(state->PeakFrequency, 1000000 + 5513);
    for (int x = 0; x < kSpectrumBins; ++x) {
      if (!IsMarkerColumn(x)) { ASSERT_EQ(FirstRowWithColour(images.spectr, x, kLime), 239) << x; }
    }
    EXPECT_EQ(state->Magnitude[0], 0.0);  // the linear view writes nothing back
  }
}

TEST_F(SpectrumRender, LinearViewScalesToTheStrongestBin) {
  controls.mashtabIndex = 1;
  struct Case { double peak; double other; int peakRow; int otherRow; int level; };
  const Case cases[] = {
      {1000, 10, 10, 237, 60 + 88 - 51},   // strongest at row 10, 40 dB below near the bottom
      {1000, 500, 10, 125, 60 + 88 - 51},  // -6 dB lands on the -6 line
      {2, 1, 148, 194, 43},               // below 5 the scale stays at 5; 6.02 + 88 - 51
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.peak);
    FillMagnitudes(c.other);
    state->Magnitude[300] = c.peak;
    Render();
    EXPECT_EQ(FirstRowWithColour(images.spectr, 300, kLime), c.peakRow);
    EXPECT_EQ(FirstRowWithColour(images.spectr, 100, kLime), c.otherRow);
    EXPECT_EQ(state->PeakLevel, c.level);
    EXPECT_EQ(state->PeakFrequency, 1000951);  // bin 300: Fc + 44 * 11070 / 512
  }
}

TEST_F(SpectrumRender, LinearGridIsFixed) {
  controls.mashtabIndex = 1;
  FillMagnitudes(0);
  Render();
  for (int row : {10, 77, 125, 167, 199, 217, 233})
    EXPECT_GT(CountColour(images.spectr, QRect(0, row, 512, 1), kGray), 100) << row;
  EXPECT_EQ(CountColour(images.spectr, QRect(30, 12, 90, 1), kGray), 0);
  EXPECT_EQ(images.lScale, images.rScale);
  EXPECT_GT(CountColour(images.lScale, QRect(0, 3, 25, 14), kYellow), 0);  // "0"
}

TEST_F(SpectrumRender, FrequencyLabelsNarrowWithTheStretch) {
  struct Case { int scaling; int bandwidth; int32_t fc; std::vector<std::string> labels; };
  const Case cases[] = {
      {0, 5, 1000000, {"  995.000", "  997.500", " 1000.000", " 1002.500", " 1005.000"}},
      {1, 5, 1000000, {"  999.688", "  999.844", " 1000.000", " 1000.156", " 1000.312"}},
      {1, 3, 29999999, {"29998.749", "29999.374", "29999.999", "30000.624", "30001.249"}},
  };
  for (const Case& c : cases) {
    controls.scalingIndex = c.scaling;
    controls.bandwidthDown = c.bandwidth;
    controls.fc = c.fc;
    const SpectrumFrame frame = Layout();
    const int x[5] = {21, 136, 252, 368, 483};  // tick - 9 / 2
    for (int t = 0; t < 5; ++t) {
      EXPECT_EQ(frame.frequencyLabel[t], c.labels[t]);
      EXPECT_EQ(frame.frequencyLabelX[t], x[t]);
    }
  }
  Render();
  EXPECT_GT(CountColour(images.fScale, QRect(21, 0, 60, 20), kYellow), 0);
  EXPECT_EQ(CountColour(images.fScale, QRect(0, 0, 20, 20), kYellow), 0);
}

TEST_F(SpectrumRender, ReadoutsShowMarkersAndPeak) {
  struct Case { int m1; int m2; int32_t fc; int scaling; int bandwidth; std::string f1, f2, df, fs; int32_t m1Hz, m2Hz; };
  const Case cases[] = {
      {25, 487, 1000000, 0, 3, "F1 =   995.005 Гц", "F2 =  1004.994 Гц", "dF =   9989 Гц", "Fs =  1005.513 Гц", 995005, 1004994},
      {0, 511, 1000000, 1, 5, "F1 =   999.655 Гц", "F2 =  1000.345 Гц", "dF =    690 Гц", "Fs =  1000.344 Гц", 999655, 1000345},
      // A marker beyond the picture: the difference wraps at a million.
      {0, 50000, 1000000, 0, 3, "F1 =   994.465 Гц", "F2 =  2075.519 Гц", "dF =  81054 Гц", "Fs =  1005.513 Гц", 994465, 2075519},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.f1);
    state->Marker1X = c.m1;
    state->Marker2X = c.m2;
    controls.fc = c.fc;
    controls.scalingIndex = c.scaling;
    controls.bandwidthDown = c.bandwidth;
    FillMagnitudes(0);
    const SpectrumFrame frame = Layout();
    EXPECT_EQ(frame.markerReadout[0], c.f1);
    EXPECT_EQ(frame.markerReadout[1], c.f2);
    EXPECT_EQ(frame.markerReadout[2], c.df);
    EXPECT_EQ(frame.peakReadout[0], std::string("Ls =  -3 дБ"));
    EXPECT_EQ(frame.peakReadout[1], c.fs);
    EXPECT_EQ(state->Marker1Frequency, c.m1Hz);
    EXPECT_EQ(state->Marker2Frequency, c.m2Hz);
  }
  state->Marker1X = 25;
  state->Marker2X = 487;
  Render();
  const struct { int x; QRgb colour; } colours[] = {{30, kRed}, {152, kYellow}, {274, kLime}, {370, kWhite}, {448, kAqua}};
  for (const auto& r : colours) {
    EXPECT_GT(CountColour(images.spectrData, QRect(r.x, 4, 60, 14), r.colour), 0) << r.x;
    EXPECT_EQ(CountColour(images.spectrData, QRect(r.x - 8, 0, 6, 20), r.colour), 0) << r.x;
  }
}

TEST_F(SpectrumRender, UsbOffNoticeUnlessTheLinkIsUsb) {
  struct Case { int linkKind; bool notice; };
  for (const Case c : {Case{1, true}, Case{0, true}, Case{3, true}, Case{2, false}}) {
    SCOPED_TRACE(c.linkKind);
    controls.linkKind = c.linkKind;
    FillMagnitudes(0);
    Render();
    const int red = CountColour(images.spectr, QRect(95, 100, 320, 45), kRed);
    EXPECT_EQ(red > 500, c.notice) << red;
    EXPECT_EQ(CountColour(images.spectr, QRect(30, 0, 60, 99), kRed), 0);  // nothing above or left
  }
}

TEST_F(SpectrumRender, StartsFromBlackAndClearsEveryPicture) {
  images.Fill(0x123456);
  Render();
  for (const QImage* image : {&images.spectrData, &images.lScale, &images.spectr, &images.rScale, &images.fScale})
    EXPECT_EQ(CountColour(*image, image->rect(), 0x123456), 0);
  EXPECT_EQ(images.spectr.pixel(300, 100) & 0xFFFFFF, kBlack);
}

// Grid and labels follow every change of their inputs, and come back the same when the
// inputs return.
TEST_F(SpectrumRender, PicturesFollowEachInputAndReturnWithIt) {
  struct Pictures { QImage spectr, lScale, rScale, fScale; };
  auto draw = [&](const SpectrumControls& c) {
    FillMagnitudes(0);
    RenderSpectrum(*state, c, images.pictures);
    return Pictures{images.spectr.copy(), images.lScale.copy(), images.rScale.copy(), images.fScale.copy()};
  };
  struct Case { const char* name; void (*change)(SpectrumControls&); bool grid, levels, frequencies; };
  const Case cases[] = {
      {"gain by 10 dB", [](SpectrumControls& c) { c.rruPosition = 10; c.aruDown = false; }, false, true, false},
      {"gain by 3 dB", [](SpectrumControls& c) { c.attVch = 3; }, true, true, false},
      {"linear view", [](SpectrumControls& c) { c.mashtabIndex = 1; }, true, true, false},
      {"tuning", [](SpectrumControls& c) { c.fc = 7000000; }, false, false, true},
      {"stretch", [](SpectrumControls& c) { c.scalingIndex = 1; }, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SpectrumControls base = controls;
    base.aruDown = false;  // G = 15
    SpectrumControls changed = base;
    c.change(changed);
    const Pictures before = draw(base);
    const Pictures after = draw(changed);
    EXPECT_EQ(after.spectr != before.spectr, c.grid);
    EXPECT_EQ(after.lScale != before.lScale, c.levels);
    EXPECT_EQ(after.rScale, after.lScale);
    EXPECT_EQ(after.fScale != before.fScale, c.frequencies);
    const Pictures again = draw(base);
    EXPECT_EQ(again.spectr, before.spectr);
    EXPECT_EQ(again.lScale, before.lScale);
    EXPECT_EQ(again.fScale, before.fScale);
  }
}

TEST_F(SpectrumRender, MarkerClicksMoveOnlyInsideTheirRange) {
  struct Case { Qt::MouseButton button; int x; bool moved; int m1; int m2; };
  const Case cases[] = {
      {Qt::LeftButton, 100, true, 100, 487},
      {Qt::LeftButton, 486, true, 486, 487},
      {Qt::LeftButton, 487, false, 25, 487},   // not left of marker 2
      {Qt::LeftButton, 500, false, 25, 487},
      {Qt::LeftButton, 25, false, 25, 487},    // already there
      {Qt::RightButton, 300, true, 25, 300},
      {Qt::RightButton, 26, true, 25, 26},
      {Qt::RightButton, 25, false, 25, 487},   // not right of marker 1
      {Qt::RightButton, 10, false, 25, 487},
      {Qt::MiddleButton, 300, false, 25, 487},
      {Qt::LeftButton, -1, false, 25, 487},    // outside the picture
      {Qt::RightButton, 512, false, 25, 487},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    state->Marker1X = 25;
    state->Marker2X = 487;
    images.Fill(0x123456);
    EXPECT_EQ(SpectrMouseDown(*state, c.button, c.x, controls, images.pictures), c.moved);
    EXPECT_EQ(state->Marker1X, c.m1);
    EXPECT_EQ(state->Marker2X, c.m2);
    // Redrawn only when a marker moved.
    EXPECT_EQ(images.spectr.pixel(302, 101) & 0xFFFFFF, c.moved ? kBlack : 0x123456u);
    if (c.moved) {
      EXPECT_EQ(CountColour(images.spectr, QRect(c.m1, 0, 1, 240), kRed), 240);
      EXPECT_EQ(CountColour(images.spectr, QRect(c.m2, 0, 1, 240), kYellow), 240);
    }
  }
}

TEST_F(SpectrumRender, GainIsReadAtEveryDrawing) {
  FillMagnitudes(0);
  Render();
  const int before = state->PeakLevel;
  state->ReportedGain.store(10, std::memory_order_release);
  FillMagnitudes(0);
  Render();
  EXPECT_EQ(state->PeakLevel, before - 10);
}

// The USB worker writes the reported gain while the main thread draws (run under
// ThreadSanitizer to see a race).
TEST_F(SpectrumRender, GainWrittenByTheWorkerWhileDrawing) {
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    for (int32_t g = 0; !stop.load(std::memory_order_acquire); g = (g + 1) % 1000)
      state->ReportedGain.store(g, std::memory_order_release);
  });
  for (int n = 0; n < 50; ++n) {
    FillMagnitudes(0);
    Render();
    ASSERT_LE(state->PeakLevel, 167 - 51 - 119);
    ASSERT_GE(state->PeakLevel, 167 - 51 - 119 - 999);
  }
  stop.store(true, std::memory_order_release);
  worker.join();
}

// The whole path with the real library: a carrier 2 kHz above the tuned frequency.
TEST_F(SpectrumRender, CarrierFromTheLibraryShowsAsThePeak) {
  state->FftEntry = LoadFftEntry();
  ASSERT_NE(state->FftEntry, nullptr);
  std::vector<int16_t> block(kSampleBlockSamples);
  for (int p = 0; p < kSampleBlockSamples / 2; ++p) {
    const double phase = 2 * 3.141592653589793 * 2000.0 * p / 11070.0;
    block[2 * p] = int16_t(std::lround(1000 * std::cos(phase)));
    block[2 * p + 1] = int16_t(std::lround(1000 * std::sin(phase)));
  }
  for (int mashtab : {0, 1}) {
    SCOPED_TRACE(mashtab);
    controls.mashtabIndex = mashtab;
    AddSampleBlock(*state, block.data(), controls, images.pictures);
    EXPECT_NEAR(state->PeakFrequency, 1000000 + 2000, 11070 / 512 + 1);
    const int peakBin = 256 + int(std::lround(2000.0 * 512 / 11070));
    EXPECT_LT(FirstRowWithColour(images.spectr, peakBin, kLime), 60);
  }
}

}  // namespace
