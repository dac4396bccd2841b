// The IQ window: its controls, and the pictures of the waveform and numbers views.
#include "app/spectrum/Uiq.h"
#include "tests/spectrum/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>

#include <memory>
#include <vector>

namespace {

constexpr QRgb kLime = 0x00FF00, kYellow = 0xFFFF00, kBlack = 0x000000;
constexpr int kNumbersIndex = 0;

class IqWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureQtApplication(); }

  const QImage& Picture() const { return iq->IQWin->Picture(); }
  int Count(QRgb colour, const QRect& area) const { return CountColour(Picture(), area, colour); }
  int Count(QRgb colour) const { return Count(colour, Picture().rect()); }
  // A block whose I samples are all i and Q samples all q.
  static std::vector<int16_t> Constant(int16_t i, int16_t q) {
    std::vector<int16_t> block(2 * TIQ::kPairs);
    for (int p = 0; p < TIQ::kPairs; ++p) {
      block[2 * p] = i;
      block[2 * p + 1] = q;
    }
    return block;
  }
  void SetScale(const char* text) { iq->VScale->setCurrentIndex(iq->VScale->findText(QString::fromUtf8(text))); }

  std::unique_ptr<TIQ> iq = std::make_unique<TIQ>();
};

TEST_F(IqWindow, HasItsControlsWithTheirDefaults) {
  EXPECT_EQ(iq->windowTitle(), QString::fromUtf8("IQ-компоненты"));
  EXPECT_TRUE(iq->windowFlags() & Qt::Tool);
  EXPECT_EQ(iq->size(), QSize(1034, 163));
  EXPECT_EQ(Picture().size(), QSize(1024, 128));
  EXPECT_EQ(iq->IQWin->mapTo(iq.get(), iq->IQWin->contentsRect().topLeft()), QPoint(5, 30));

  QStringList items;
  for (int k = 0; k < iq->VScale->count(); ++k) items << iq->VScale->itemText(k);
  EXPECT_EQ(items.join(','), QString::fromUtf8("Числа,65536,32768,16384,8192,4096,2048,1024,512,256,128,64,32,16,8"));
  EXPECT_FALSE(iq->VScale->isEditable());
  EXPECT_EQ(iq->VScale->currentIndex(), 1);
  EXPECT_EQ(iq->IOn->text(), "I");
  EXPECT_EQ(iq->QOn->text(), "Q");
  EXPECT_TRUE(iq->IOn->isChecked());
  EXPECT_TRUE(iq->QOn->isChecked());
}

TEST_F(IqWindow, CreationDrawsTheZeroBlockAsFlatLines) {
  // Q is drawn over I, so the middle row is yellow all across.
  EXPECT_EQ(Count(kYellow, QRect(0, 64, 1024, 1)), 1024);
  EXPECT_EQ(Count(kBlack), 1024 * 127);
}

TEST_F(IqWindow, WaveformRowsFollowTheScale) {
  struct Case { const char* scale; int16_t sample; int row; };
  const Case cases[] = {
      {"8", 4, 0},          {"8", 3, 16},        {"8", -3, 112},
      {"65536", 32767, 1},  {"65536", -32768, 127 + 1}, {"65536", 512, 63},
      {"1024", 100, 52},    {"16", -7, 120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scale) + " " + std::to_string(c.sample));
    SetScale(c.scale);
    iq->ShowIqBlock(Constant(c.sample, 0).data());
    if (c.row < 128) {
      EXPECT_EQ(Count(kLime, QRect(0, c.row, 1024, 1)), 1024);
      EXPECT_EQ(Count(kLime), 1024);
    } else {
      EXPECT_EQ(Count(kLime), 0);  // off the picture, not clamped into it
    }
    EXPECT_EQ(Count(kYellow, QRect(0, 64, 1024, 1)), 1024);
  }
}

TEST_F(IqWindow, SampleBeyondTheSpanRunsOffThePicture) {
  SetScale("8");
  std::vector<int16_t> block = Constant(0, 0);
  block[2 * 500] = -4;  // one I sample at y = 128, just below the picture
  iq->ShowIqBlock(block.data());
  // The line heads down to the sample and leaves through the bottom row.
  EXPECT_GT(Count(kLime, QRect(499, 127, 3, 1)), 0);
  EXPECT_GT(Count(kLime, QRect(499, 65, 3, 62)), 20);
}

TEST_F(IqWindow, CheckBoxesChooseTheTraces) {
  struct Case { bool i; bool q; bool lime; bool yellow; };
  for (const Case c : {Case{true, false, true, false}, Case{false, true, false, true}, Case{false, false, false, false}}) {
    SCOPED_TRACE(c.i * 2 + c.q);
    iq->IOn->setChecked(c.i);
    iq->QOn->setChecked(c.q);
    for (int view : {1, kNumbersIndex}) {
      iq->VScale->setCurrentIndex(view);
      iq->ShowIqBlock(Constant(1000, -1000).data());
      EXPECT_EQ(Count(kLime) > 0, c.lime) << view;
      EXPECT_EQ(Count(kYellow) > 0, c.yellow) << view;
      if (!c.i && !c.q) {
        EXPECT_EQ(Count(kBlack), 1024 * 128) << view;
      }
    }
  }
}

TEST_F(IqWindow, NumbersViewWritesTwentyPairs) {
  iq->VScale->setCurrentIndex(kNumbersIndex);
  std::vector<int16_t> block = Constant(0, 0);
  iq->ShowIqBlock(block.data());
  for (int pair = 0; pair < 20; ++pair) {
    const int x = 10 + 50 * pair;
    EXPECT_GT(Count(kLime, QRect(x, 30, 12, 16)), 0) << pair;
    EXPECT_GT(Count(kYellow, QRect(x, 78, 12, 16)), 0) << pair;
  }
  EXPECT_EQ(Count(kLime, QRect(1010, 0, 14, 128)), 0);  // no 21st pair
  EXPECT_EQ(Count(kLime, QRect(0, 0, 1024, 30)), 0);     // nothing above the rows
  EXPECT_EQ(Count(kYellow, QRect(0, 50, 1024, 28)), 0);

  // Wider numbers cover more of their cell: -32768 is six characters.
  const int zeroPixels = Count(kLime);
  block[0] = -32768;
  iq->ShowIqBlock(block.data());
  EXPECT_GT(Count(kLime), zeroPixels);
  EXPECT_GT(Count(kLime, QRect(22, 30, 25, 16)), 0);
}

}  // namespace
