// The waterfall window inside the program: Ctrl+W opens and closes it, it takes rows only
// while it shows and takes them before averaging, a left click tunes the receiver (the
// command reaches a receiver on a pseudo-terminal), the picture shows the newest row on
// top and keeps it through a resize, and its place, size, range and open state come back
// at the next start from its own section, leaving the other windows' sections alone.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

#include "app/panel/Umain.h"
#include "app/spectrum/Usettings.h"
#include "app/spectrum/Uwaterfall.h"
#include "app/spectrum/UwaterfallPalette.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

using testsupport::ProgramRun;
using Strings = std::vector<std::string>;

// A transform that puts magnitude 10 (20 dB: the middle of the full range) into bin 300
// and 0.01 (the bottom line) everywhere else, whatever the samples.
void MiddleAtBin300(float*, float*, int n, float* out1, float* out2) {
  for (int k = 0; k < n; ++k) {
    out1[k] = k == 300 ? 10.0f : 0.01f;
    out2[k] = 0;
  }
}

class WaterfallWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    run.emplace(config.path(), receiver.SlavePath());
    savedFft = Spectrum.FftEntry;
    Spectrum.FftEntry = &MiddleAtBin300;
    receiver.Take(50);
  }
  void TearDown() override {
    Spectrum.FftEntry = savedFft;
    run.reset();
  }
  void Block() {
    static const int16_t zeros[kSampleBlockSamples] = {};
    Main->AddBlock(zeros);
  }
  void CtrlW() {
    QKeyEvent e(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier, QString(QChar(23)));
    QCoreApplication::sendEvent(Main, &e);
  }
  void Click(Qt::MouseButton button, QPoint at) {
    QMouseEvent e(QEvent::MouseButtonPress, at, Waterfall->WfPicture->mapToGlobal(at), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(Waterfall->WfPicture, &e);
  }
  Strings Sent() { return testsupport::ToStrings(receiver.Take(100)); }
  // The x of the middle of bin k in the stretched picture.
  int XOfBin(int k) const { return int((2 * k + 1) * int64_t(Waterfall->WfPicture->width()) / 1024); }

  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  std::optional<ProgramRun> run;
  FftEntryPoint savedFft = nullptr;
};

TEST_F(WaterfallWindow, CtrlWOpensAndClosesIt) {
  ASSERT_FALSE(Waterfall->isVisible());
  EXPECT_EQ(Waterfall->windowTitle(), "Водопад");
  CtrlW();
  EXPECT_TRUE(Waterfall->isVisible());
  CtrlW();
  EXPECT_FALSE(Waterfall->isVisible());
  EXPECT_TRUE(Sent().empty());  // showing and hiding send nothing
}

TEST_F(WaterfallWindow, TakesRowsOnlyWhileShownAndBeforeAveraging) {
  Block();
  EXPECT_EQ(Waterfall->Rows.Count(), 0);
  Waterfall->ShowAndRaise();
  testsupport::Pump(20);
  // Averaging over 16 spectra: the spectrum's first average is a sixteenth of the block's.
  SettingsWindow->AvrCnt->SetItemIndex(0);  // "16"
  ASSERT_EQ(SettingsWindow->AvrCnt->Text(), "16");
  Main->BtnAvr->SetDown(true);
  Block();
  ASSERT_EQ(Waterfall->Rows.Count(), 1);
  EXPECT_NEAR(Spectrum.Magnitude[300], 10.0 / 16, 1e-6);
  EXPECT_EQ(Waterfall->Rows.Pixels(0)[300], WaterfallPalette()[128]);
  EXPECT_EQ(Waterfall->Rows.Pixels(0)[299], WaterfallPalette()[0]);
  Waterfall->close();
  Block();
  EXPECT_EQ(Waterfall->Rows.Count(), 1);
}

TEST_F(WaterfallWindow, ALeftClickTunesToTheColumnOfTheRowUnderThePointer) {
  Waterfall->resize(900, 400);  // the picture stretched wider than its 512 bins
  Waterfall->ShowAndRaise();
  testsupport::Pump(20);
  Main->TuneTo(8000000);
  Block();
  Main->TuneTo(1000000);
  Block();
  Block();
  Sent();
  ASSERT_GT(Waterfall->WfPicture->width(), 512);
  struct Case { const char* name; Qt::MouseButton button; int bin; int row; Strings sent; };
  const Case cases[] = {
      // Bin k lies ((k − 256) × 11070 / 512) Hz from the row's tuned frequency.
      {"newest row, bin 300", Qt::LeftButton, 300, 0, {"F:01000951"}},
      {"below the range: the lowest frequency", Qt::LeftButton, 0, 1, {"F:01000000"}},
      {"the change line", Qt::LeftButton, 300, 2, {}},
      {"an older row keeps its tuning", Qt::LeftButton, 300, 3, {"F:08000951"}},
      {"no row there yet", Qt::LeftButton, 300, 200, {}},
      {"right button", Qt::RightButton, 300, 0, {}},
  };
  for (const Case& c : cases) {
    Click(c.button, {XOfBin(c.bin), c.row});
    EXPECT_EQ(Sent(), c.sent) << c.name;
  }
  EXPECT_EQ(Main->TunedFrequency(), 8000951);
}

TEST_F(WaterfallWindow, ThePictureShowsTheNewestRowOnTopStretchedAndKeepsItThroughAResize) {
  Waterfall->resize(700, 300);
  Waterfall->ShowAndRaise();
  testsupport::Pump(20);
  Spectrum.FftEntry = nullptr;  // an all-zero spectrum: the first colour everywhere
  Block();
  Spectrum.FftEntry = &MiddleAtBin300;
  Block();
  auto picture = [] { return Waterfall->WfPicture->grab().toImage(); };
  QImage shown = picture();
  const QRgb middle = WaterfallPalette()[128] | 0xFF000000, bottom = WaterfallPalette()[0] | 0xFF000000;
  EXPECT_EQ(shown.pixel(XOfBin(300), 0), middle);
  EXPECT_EQ(shown.pixel(XOfBin(300), 1), bottom);
  EXPECT_EQ(shown.pixel(XOfBin(300), 2), 0xFF000000u);  // nothing yet
  EXPECT_EQ(shown.pixel(XOfBin(100), 0), bottom);

  Waterfall->resize(400, 200);
  testsupport::Pump(20);
  EXPECT_EQ(Waterfall->Rows.Capacity(), Waterfall->WfPicture->height());
  shown = picture();
  EXPECT_EQ(shown.pixel(XOfBin(300), 0), middle);
  EXPECT_EQ(shown.pixel(XOfBin(300), 1), bottom);
}

TEST_F(WaterfallWindow, ThePlaceSizeRangeAndOpenStateComeBackFromItsOwnSection) {
  Waterfall->ShowAndRaise();
  Waterfall->move(120, 90);
  Waterfall->resize(640, 480);
  Waterfall->SldLow->setValue(30);
  Waterfall->SldHigh->setValue(100);
  testsupport::Pump(20);
  run.reset();

  win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
  for (const char* key : {"Left", "Top", "Form.Width", "Form.Height", "Form.Open", "SldLow.Position", "SldHigh.Position"})
    EXPECT_TRUE(ini.KeyExists("TWaterfall", key)) << key;

  run.emplace(config.path(), receiver.SlavePath());
  testsupport::Pump(20);
  EXPECT_TRUE(Waterfall->isVisible());
  EXPECT_EQ(Waterfall->pos(), QPoint(120, 90));
  EXPECT_EQ(Waterfall->size(), QSize(640, 480));
  EXPECT_EQ(Waterfall->SldLow->value(), 30);
  EXPECT_EQ(Waterfall->SldHigh->value(), 100);
  EXPECT_DOUBLE_EQ(Waterfall->Rows.Low(), 0.25);
  EXPECT_DOUBLE_EQ(Waterfall->Rows.High(), 100 / 120.0);

  Waterfall->close();  // closed at the end: stays closed at the next start
  run.reset();
  run.emplace(config.path(), receiver.SlavePath());
  testsupport::Pump(20);
  EXPECT_FALSE(Waterfall->isVisible());
}

TEST_F(WaterfallWindow, TheLevelSlidersKeepApartAndNameTheSpectrumsLevels) {
  // Automatic gain control and the preamplifier at start: G = 0 + 36 + 15, the scale's top
  // row reads 167 − 51 = 116 dB and its bottom line 116 − 120 = −4 dB.
  Waterfall->ShowAndRaise();
  Block();
  EXPECT_EQ(Waterfall->LblLow->text(), "Низ -4 дБ");
  EXPECT_EQ(Waterfall->LblHigh->text(), "Верх 116 дБ");
  Waterfall->SldLow->setValue(119);
  EXPECT_EQ(Waterfall->SldHigh->value(), 120);
  Waterfall->SldHigh->setValue(40);
  EXPECT_EQ(Waterfall->SldLow->value(), 39);
  EXPECT_EQ(Waterfall->LblLow->text(), "Низ 35 дБ");
  EXPECT_EQ(Waterfall->LblHigh->text(), "Верх 36 дБ");
}

// The time scale's step: the shortest usual step that keeps its labels 40 pixels (rows)
// apart at the pace the rows came.
TEST(WaterfallTimeScale, StepKeepsTheLabelsApartAtTheRowsPace) {
  struct Case { const char* name; int rows; int msApart; int step; };
  const Case cases[] = {
      {"no rows", 0, 92, 0},
      {"one row: no pace yet", 1, 92, 0},
      {"blocks as they come, 10.9 a second", 300, 92, 5},
      {"all at once", 300, 0, 0},
      {"a row every second", 300, 1000, 60},
      {"a row every 30 ms", 300, 30, 2},
      {"a row a minute", 300, 60000, 3600},
  };
  const std::vector<double> block(kSpectrumBins, 1.0);
  for (const Case& c : cases) {
    WaterfallRows rows(400);
    for (int r = 0; r < c.rows; ++r) rows.AddRow(block.data(), {8000000, 1, true}, int64_t(r) * c.msApart);
    EXPECT_EQ(TimeScaleStep(rows, 40), c.step) << c.name;
  }
}

}  // namespace
