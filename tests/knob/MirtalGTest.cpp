// The teal build: its version 1.1 form with Background, the degree mode, the three modes of
// Background, and the Mouse event.

#include "tests/knob/KnobFixture.h"

namespace {

using namespace knobtest;
namespace dispid = mirtal::dispid;
using Bytes = std::vector<std::uint8_t>;

QImage Dimple() { return QImage(QString(mirtal::kPicturePrefix) + "202.png"); }

TEST_F(KnobTest, VersionOneOneFormHoldsBackgroundAfterTheLimits) {
  const Bytes form{0x01, 0x00, 0x01, 0x00, 0x9D, 0x06, 0x00, 0x00, 0x83, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                   0x0A, 0x00, 0x00, 0x00,   // Step 10
                   0x64, 0x00, 0x00, 0x00,   // BigStep 100
                   0x67, 0x01, 0x00, 0x00,   // UpRange 359
                   0xFE, 0xFF, 0xFF, 0xFF,   // DNRange -2
                   0x02, 0x00, 0x00, 0x00,   // Background 2
                   0x00,                     // ShowToolTip false
                   0x03, 'a', 'b', 'c',      // ToolTipText
                   0x0F, 0x00};              // Timer 15
  ASSERT_EQ(knob->LoadFromStream(form), ole::S_OK);
  const struct {
    ole::DispId id;
    ole::Variant value;
  } expected[] = {{dispid::Step, std::int32_t(10)},    {dispid::BigStep, std::int32_t(100)},
                  {dispid::UpRange, std::int32_t(359)}, {dispid::DNRange, std::int32_t(-2)},
                  {dispid::Mode, std::int32_t(2)},      {dispid::ShowToolTip, false},
                  {dispid::ToolTipText, "abc"},         {dispid::Timer, std::int16_t(15)}};
  for (const auto& e : expected) EXPECT_EQ(Get(e.id), e.value) << e.id;
  EXPECT_EQ(knob->SaveToStream(), form);
}

TEST_F(KnobTest, DegreeModeWrapsToTheOtherEnd) {
  const struct {
    const char* name;
    std::int32_t step, bigStep, start;
    bool left, shift;
    std::vector<std::int32_t> values;
  } cases[] = {
      {"up through 359", 1, 10, 358, false, false, {359, 0, 1}},
      {"down through 0", 1, 10, 1, true, false, {0, 359, 358}},
      {"down by 30 from 10 jumps to 359", 30, 10, 10, true, false, {359}},
      {"up by 30 from 350 jumps to 0", 30, 10, 350, false, false, {0}},
      {"Shift takes BigStep", 1, 100, 300, false, true, {0, 100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Repaint();
    Put(dispid::Mode, 2);
    Put(dispid::UpRange, 5);  // the limits play no part here
    Put(dispid::DNRange, 200);
    Put(dispid::Step, c.step);
    Put(dispid::BigStep, c.bigStep);
    Put(dispid::ValueMirtal, c.start);
    shift = c.shift;
    Press(c.left ? Qt::LeftButton : Qt::RightButton);
    EXPECT_EQ(Turns(static_cast<int>(c.values.size())), c.values);
  }
}

TEST_F(KnobTest, BackgroundSelectsKnobAndResetsValueAndPointer) {
  Repaint();
  EXPECT_EQ(Repaint().pixel(1, 1), qRgb(0, 128, 128));  // the teal knob

  Put(dispid::Mode, 2);
  Put(dispid::Step, 1);
  Put(dispid::ValueMirtal, 100);
  Press(Qt::RightButton);
  Turns(3);
  EXPECT_TRUE(PictureAt(lastImage, Dimple(), 28, 6));  // three ticks clockwise
  Release(Qt::RightButton);

  Put(dispid::Mode, 1);
  EXPECT_EQ(Value(), 0);
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{0});
  EXPECT_TRUE(DotAt(lastImage, 19, 31));
  EXPECT_EQ(lastImage.pixel(1, 1), qRgb(0, 128, 128));  // the teal smaller knob
  Put(dispid::ValueMirtal, 255);
  Repaints(1);
  EXPECT_TRUE(DotAt(lastImage, 27, 32));

  Put(dispid::Mode, 2);  // back to the top
  Repaints(1);
  EXPECT_TRUE(PictureAt(lastImage, Dimple(), 23, 6));
}

TEST_F(KnobTest, OtherBackgroundsNeitherTurnNorResetAtFirstDrawing) {
  Put(dispid::Mode, 5);
  Put(dispid::ValueMirtal, 42);
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{42});
  Press(Qt::RightButton);
  EXPECT_EQ(Turns(2), (std::vector<std::int32_t>{42, 42}));
}

// Whether every pixel of the drawn control is the plain window colour, with no knob on it.
bool OnlyBackground(const QImage& image, const QColor& background) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != background.rgb()) return false;
  return true;
}

TEST_F(KnobTest, OtherBackgroundsDrawNoKnob) {
  const struct {
    const char* name;
    std::int32_t before;  // mode drawn first, or -100 for none
    std::int32_t mode;
  } cases[] = {
      {"from the first drawing", -100, 3},
      {"after the large knob", 0, 3},
      {"after the smaller knob", 1, 3},
      {"after the degree knob", 2, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    const QColor background = knob->palette().color(QPalette::Window);
    if (c.before != -100) {
      Put(dispid::Mode, c.before);
      ASSERT_FALSE(OnlyBackground(Repaint(), background));
    }
    Put(dispid::Mode, c.mode);
    EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{0});  // GetValue still fires
    EXPECT_TRUE(OnlyBackground(lastImage, background));
    Press(Qt::RightButton);
    Turns(1);
    Release(Qt::RightButton);
    EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{0});  // halted
    EXPECT_TRUE(OnlyBackground(lastImage, background));
  }
}

TEST_F(KnobTest, MouseIsFiredForPressReleaseDoubleClickAndRun) {
  using mirtal::event::Mouse;
  const Fired down{Mouse, {true}}, up{Mouse, {false}};
  const struct {
    const char* name;
    std::vector<Act> acts;
    std::vector<Fired> fired;
  } cases[] = {
      {"left press and release", {Act::PressL, Act::ReleaseL}, {down, up}},
      {"right press and release", {Act::PressR, Act::ReleaseR}, {down, up}},
      {"double-click", {Act::DoubleL, Act::ReleaseL}, {down, up, down, up}},
      {"Run", {Act::RunUpOn, Act::RunUpOff}, {down, up}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    for (Act a : c.acts) Perform(a);
    EXPECT_EQ(events, c.fired);  // no MouseInt in this build
  }
}

TEST_F(KnobTest, DoubleClickTurnsUntilTheButtonIsReleased) {
  Repaint();
  Put(dispid::ValueMirtal, 100000);
  DoubleClick(Qt::LeftButton);
  EXPECT_EQ(knob->TimerInterval(1), 50);
  EXPECT_EQ(knob->NativeTimerId(2), 0);
  EXPECT_EQ(Turns(2), (std::vector<std::int32_t>{99000, 98000}));
  Release(Qt::LeftButton);
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{98000});
}

}  // namespace
