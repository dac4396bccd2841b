// Reports from the receiver, as the report parser acts on them.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/dsp/Udecoder.h"
#include "app/link/Ureport.h"
#include "app/panel/Umain.h"
#include "app/spectrum/Uspectr.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

std::vector<uint8_t> Usb64(char letter, const std::string& digits) {
  auto f = testsupport::ReportFrame(letter, digits);
  f.resize(64, 0);
  return f;
}

// A knob that records what the main window gives it.
class FakeKnob : public TKnob {
 public:
  int32_t value = 0;
  int32_t ValueMirtal() override { return value; }
  void SetValueMirtal(int32_t v) override { value = v; }
  void SetStep(int32_t) override {}
  void SetBigStep(int32_t) override {}
};

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), "/nonexistent/tty");
    knob_ = new FakeKnob;
    Main->Mirtal.reset(knob_);
  }
  QTemporaryDir config_;
  std::unique_ptr<testsupport::ProgramRun> run_;
  FakeKnob* knob_ = nullptr;
};

TEST_F(ReportTest, FrequencySetsTheDisplaysTheKnobAndEndsAKeypadEntry) {
  Main->BtnPress(Main->Btn[7]);
  Main->BtnPress(Main->BtnDot);
  ASSERT_EQ(Main->EntryActive, 1);
  ParseReport(Usb64('F', "30000000").data());
  EXPECT_EQ(Main->FreqkHz->Value(), 30000);
  EXPECT_EQ(Main->FreqHz->Value(), 0);
  EXPECT_EQ(knob_->value, 30000000);
  EXPECT_EQ(Main->LastKnobValue, 30000000);
  EXPECT_EQ(Main->EntryActive, 0);
  EXPECT_EQ(Main->DotTyped, 0);
  EXPECT_EQ(Main->TypedkHz, 0);
  EXPECT_EQ(Main->HzWeight, 100);
}

TEST_F(ReportTest, LevelTakesItsSignFromTheFirstByte) {
  const std::pair<std::string, int> rows[] = {{"-012", -12}, {"+012", 12}, {"0012", 12}, {"-999", -999}};
  for (const auto& [digits, level] : rows) {
    ParseReport(Usb64('L', digits).data());
    EXPECT_EQ(Main->ReportedLevel, level) << digits;
  }
}

TEST_F(ReportTest, LevelOnSerialWritesTheTwoReadouts) {
  QImage& strip = Main->SpectrData->Picture();
  strip.fill(Qt::black);
  ParseReport(Usb64('L', "-012").data());
  // Whether any pixel of the columns has the colour (text edges are blended).
  auto has = [&](int x0, int x1, QColor c) {
    for (int y = 0; y < strip.height(); ++y)
      for (int x = x0; x < x1; ++x)
        if (strip.pixelColor(x, y) == c) return true;
    return false;
  };
  EXPECT_TRUE(has(370, 440, Qt::white));
  EXPECT_TRUE(has(448, 560, QColor(0, 255, 255)));
  EXPECT_FALSE(has(0, 360, Qt::white));  // the marker readouts are left alone
}

// The strip's columns [x0, x1) as they stand, for comparing two drawings pixel by pixel.
QImage Columns(int x0, int x1) { return Main->SpectrData->Picture().copy(x0, 0, x1 - x0, 20); }

// The rightmost column of the strip that holds a pixel of the colour, or -1.
int LastColumnWith(QColor c) {
  const QImage& strip = Main->SpectrData->Picture();
  for (int x = strip.width() - 1; x >= 0; --x)
    for (int y = 0; y < strip.height(); ++y)
      if (strip.pixelColor(x, y) == c) return x;
  return -1;
}

TEST_F(ReportTest, SerialReadoutsLookLikeTheSpectrumsOwn) {
  // All-zero magnitudes at the first-start controls (1000 kHz, G = 51): the spectrum's peak is
  // bin 511, "Ls =  -3 дБ" and "Fs =  1005.513 Гц".
  std::fill(std::begin(Spectrum.Magnitude), std::end(Spectrum.Magnitude), 0.0);
  Main->RenderSpectrum();
  ASSERT_EQ(Spectrum.PeakLevel, -3);
  ASSERT_EQ(Spectrum.PeakFrequency, 1005513);
  const QImage level = Columns(370, 448), frequency = Columns(448, 562);

  Main->SpectrData->Picture().fill(Qt::black);
  ParseReport(Usb64('F', "01005513").data());
  ParseReport(Usb64('L', "-003").data());
  EXPECT_EQ(Columns(370, 448), level);
  EXPECT_EQ(Columns(448, 562), frequency);
}

TEST_F(ReportTest, TheWidestFrequencyReadoutFitsTheStrip) {
  const QColor aqua(0, 255, 255);
  Main->SpectrData->Picture().fill(Qt::black);
  ParseReport(Usb64('F', "30000999").data());
  ParseReport(Usb64('L', "-999").data());
  const int last = LastColumnWith(aqua);
  EXPECT_GT(last, 448 + 60);                              // the text is there ...
  EXPECT_LT(last, Main->SpectrData->Picture().width() - 1);  // ... and ends inside the strip
}

TEST_F(ReportTest, AShorterLevelLeavesNothingOfTheLongerOneBehind) {
  ParseReport(Usb64('L', "-999").data());
  ParseReport(Usb64('L', "0001").data());
  const QImage over = Columns(370, 448);
  Main->SpectrData->Picture().fill(Qt::black);
  ParseReport(Usb64('L', "0001").data());
  EXPECT_EQ(Columns(370, 448), over);
}

TEST_F(ReportTest, LevelOverUsbDrawsNoReadouts) {
  Main->LinkKind = 2;
  QImage& strip = Main->SpectrData->Picture();
  strip.fill(Qt::black);
  const QImage before = strip.copy();
  ParseReport(Usb64('L', "-040").data());
  EXPECT_EQ(Main->ReportedLevel, -40);
  EXPECT_EQ(strip, before);
  Main->LinkKind = 1;
}

TEST_F(ReportTest, CharactersAreTakenOnlyWhileTheDecoderShowsAndReceives) {
  struct Row { bool shown; QAction* item; bool receiving; };
  const Row rows[] = {
      {false, Decoder->RecvOFF, false}, {true, Decoder->RecvOFF, false},
      {false, Decoder->Recv9, false},   {true, Decoder->Recv9, true},
      {true, Decoder->Recv7d5, true},
  };
  for (const Row& r : rows) {
    r.item->setChecked(true);
    Decoder->setVisible(r.shown);
    EXPECT_EQ(Decoder->Receiving(), r.receiving) << r.shown << " " << r.item->objectName().toStdString();
    ParseReport(Usb64('D', "4a").data());  // taken or dropped, never a fault
  }
  Decoder->hide();
}

TEST_F(ReportTest, GainIsThreeDecimalDigits) {
  ParseReport(Usb64('C', "123").data());
  EXPECT_EQ(Spectrum.ReportedGain.load(), 123);
  ParseReport(Usb64('C', "007").data());
  EXPECT_EQ(Spectrum.ReportedGain.load(), 7);
}

TEST_F(ReportTest, OtherLettersChangeNothing) {
  const int32_t f = Main->TunedFrequency();
  for (char letter : {'X', 'f', 'l', 'Z', 's'}) ParseReport(Usb64(letter, "12345678").data());
  EXPECT_EQ(Main->TunedFrequency(), f);
  EXPECT_EQ(Main->ReportedLevel, 0);
}

TEST(HexDigitValue, MapsBothCasesAndZeroesTheRest) {
  const std::pair<char, int> rows[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'a', 10}, {'F', 15},
                                       {'f', 15}, {'G', 0}, {'x', 0}, {' ', 0}, {'-', 0}};
  for (auto [c, v] : rows) EXPECT_EQ(HexDigitValue(uint8_t(c)), v) << c;
  EXPECT_EQ(16 * HexDigitValue('4') + HexDigitValue('x'), 0x40);
}

}  // namespace
