// The knob as the container uses it: its stored form, the smaller knob's scale, Kind, and the
// order of MouseInt events.

#include <QTimer>
#include <limits>

#include "tests/knob/KnobFixture.h"

namespace {

using namespace knobtest;
namespace dispid = mirtal::dispid;
using Bytes = std::vector<std::uint8_t>;

// The form the container keeps for its knob.
const Bytes kContainerForm{0x00, 0x00, 0x01, 0x00, 0x9D, 0x06, 0x00, 0x00, 0x83, 0x06, 0x00, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80, 0x01, 0x00, 0x14, 0x00};

struct Expected {
  ole::DispId id;
  ole::Variant value;
};

const Expected kContainerValues[] = {
    {dispid::Step, std::int32_t(1000)},      {dispid::BigStep, std::int32_t(1)},
    {dispid::Mode, std::int32_t(0)},         {dispid::UpRange, std::int32_t(2147483647)},
    {dispid::DNRange, std::int32_t(-2147483647)}, {dispid::ShowToolTip, true},
    {dispid::ToolTipText, std::string()},    {dispid::Timer, std::int16_t(20)},
};

const Expected kDefaults[] = {
    {dispid::Step, std::int32_t(1000)},      {dispid::BigStep, std::int32_t(10000)},
    {dispid::Mode, std::int32_t(0)},         {dispid::UpRange, std::int32_t(1999999000)},
    {dispid::DNRange, std::int32_t(30000)},  {dispid::ShowToolTip, true},
    {dispid::ToolTipText, std::string()},    {dispid::Timer, std::int16_t(20)},
};

TEST_F(KnobTest, ContainerFormLoadsItsValuesAndSavesTheSameBytes) {
  ASSERT_EQ(knob->LoadFromStream(kContainerForm), ole::S_OK);
  for (const auto& e : kContainerValues) EXPECT_EQ(Get(e.id), e.value) << e.id;
  EXPECT_EQ(knob->ExtentX(), 1693);
  EXPECT_EQ(knob->ExtentY(), 1667);
  EXPECT_EQ(knob->SaveToStream(), kContainerForm);
}

TEST_F(KnobTest, TruncatedOrOversizedFormIsRejectedAndDefaultsStay) {
  std::vector<Bytes> bad;
  for (std::size_t n = 0; n < kContainerForm.size(); ++n) bad.emplace_back(kContainerForm.begin(), kContainerForm.begin() + n);
  Bytes longer = kContainerForm;
  longer.push_back(0x00);
  bad.push_back(longer);
  Bytes overrunningText = kContainerForm;
  overrunningText[37] = 0x05;  // ToolTipText claims more characters than follow
  bad.push_back(overrunningText);
  for (const auto& bytes : bad) {
    // Exactly sized on the heap, so that a read past the end shows under AddressSanitizer.
    auto heap = std::make_unique<std::uint8_t[]>(bytes.size() + 1);
    std::copy(bytes.begin(), bytes.end(), heap.get());
    EXPECT_EQ(knob->LoadFromStream(std::span<const std::uint8_t>(heap.get(), bytes.size())), ole::STG_E_READFAULT)
        << bytes.size();
    for (const auto& e : kDefaults) EXPECT_EQ(Get(e.id), e.value) << "length " << bytes.size() << " id " << e.id;
  }
}

TEST_F(KnobTest, SmallerKnobRunsItsScaleFrom0To255AndBack) {
  Repaint();
  Put(dispid::Mode, 1);
  Press(Qt::RightButton);
  std::vector<std::int32_t> up;
  for (int v = 6; v <= 252; v += 6) up.push_back(v);
  up.push_back(255);
  up.push_back(255);
  EXPECT_EQ(Turns(static_cast<int>(up.size())), up);
  EXPECT_TRUE(DotAt(lastImage, 27, 32));
  Release(Qt::RightButton);

  Press(Qt::LeftButton);
  std::vector<std::int32_t> down;
  for (int v = 250; v >= 0; v -= 5) down.push_back(v);
  down.push_back(0);
  EXPECT_EQ(Turns(static_cast<int>(down.size())), down);
  EXPECT_TRUE(DotAt(lastImage, 19, 31));
}

TEST_F(KnobTest, SmallerKnobPointerFollowsAWrittenValue) {
  const struct {
    std::int32_t value;
    QPoint dot;
  } cases[] = {{0, {19, 31}}, {255, {27, 32}}, {128, {23, 13}}};
  Repaint();
  Put(dispid::Mode, 1);
  for (const auto& c : cases) {
    Put(dispid::ValueMirtal, c.value);
    EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{c.value});
    EXPECT_TRUE(DotAt(lastImage, c.dot.x(), c.dot.y())) << c.value;
  }
}

TEST_F(KnobTest, LargeKnobSitsOnTheGreyOfTheDesktop) {
  Repaint();
  EXPECT_EQ(Repaint().pixel(1, 1), qRgb(212, 210, 204));
}

TEST_F(KnobTest, SettingKindResetsTheValue) {
  Repaint();
  for (std::int32_t kind : {1, 0, 5}) {
    Put(dispid::ValueMirtal, 1234);
    Put(dispid::Mode, kind);
    EXPECT_EQ(Value(), 0) << kind;
  }
}

TEST_F(KnobTest, MouseIntFollowsPressReleaseRunAndTheDoubleClickTick) {
  using mirtal::event::MouseInt;
  const Fired on{MouseInt, {std::int32_t(1)}}, off{MouseInt, {std::int32_t(0)}};
  const struct {
    const char* name;
    std::vector<Act> acts;
    std::vector<Fired> fired;
  } cases[] = {
      {"left press and release", {Act::PressL, Act::ReleaseL}, {on, off}},
      {"right press and release", {Act::PressR, Act::ReleaseR}, {on, off}},
      {"release without a press", {Act::ReleaseL}, {off}},
      {"double-click released before the tick", {Act::DoubleL, Act::ReleaseL}, {on, off, off}},
      {"double-click held past the tick", {Act::DoubleR, Act::Tick2, Act::ReleaseR}, {on, off, off, off}},
      {"Run start twice, stop twice", {Act::RunDownOn, Act::RunDownOn, Act::RunDownOff, Act::RunDownOff}, {on, on, off, off}},
      {"Run up", {Act::RunUpOn, Act::RunUpOff}, {on, off}},
      {"middle button", {Act::PressM, Act::ReleaseM}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    for (Act a : c.acts) Perform(a);
    EXPECT_EQ(events, c.fired);  // Mouse is never among them
  }
}

TEST_F(KnobTest, DoubleClickTakesOneStepOneIntervalLater) {
  Repaint();
  Put(dispid::ValueMirtal, 100000);
  DoubleClick(Qt::LeftButton);
  EXPECT_EQ(knob->TimerInterval(2), 50);
  EXPECT_EQ(knob->TimerInterval(1), -1);
  Tick(2);
  EXPECT_EQ(knob->NativeTimerId(2), 0);  // one-shot
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{99000});
  // Still held, no tick to come: later repaints (a written value among them) step no more.
  Put(dispid::ValueMirtal, 99000);
  EXPECT_EQ(Repaints(2), (std::vector<std::int32_t>{99000, 99000}));

  // Released before the tick: the tick never comes and nothing turns.
  Release(Qt::LeftButton);
  DoubleClick(Qt::RightButton);
  Release(Qt::RightButton);
  EXPECT_EQ(knob->NativeTimerId(2), 0);
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{99000});
}

TEST_F(KnobTest, RunTurnsLikeHoldingAButton) {
  Repaint();
  Put(dispid::ValueMirtal, 50000);
  Run(true, true);
  EXPECT_EQ(knob->TimerInterval(1), 50);
  EXPECT_EQ(Turns(2), (std::vector<std::int32_t>{49000, 48000}));
  Run(true, false);
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{48000});
  Run(false, true);
  EXPECT_EQ(Turns(1), std::vector<std::int32_t>{49000});
}

}  // namespace

namespace {

using namespace knobtest;

// Counts the timer events a widget receives.
class TimerEventCounter : public QObject {
 public:
  explicit TimerEventCounter(QObject* watched) { watched->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Timer) ++count;
    return false;
  }
  int count = 0;
};

TEST_F(KnobTest, HoldingAButtonTurnsWithTheRepeatTimerOnScreen) {
  // The whole path on a shown window: real timer ticks ask for repaints, each of which steps.
  ShowOnScreen();
  Put(mirtal::dispid::DNRange, 0);
  Put(mirtal::dispid::ValueMirtal, 1000000);
  QCoreApplication::processEvents();
  values.clear();
  Hold(Qt::LeftButton, 400);
  ASSERT_FALSE(values.empty());
  EXPECT_LT(Value(), 1000000);
  for (std::size_t i = 1; i < values.size(); ++i) EXPECT_EQ(values[i - 1] - values[i], 1000) << i;
  const std::int32_t stopped = Value();
  RunEventLoop(150);
  EXPECT_EQ(Value(), stopped);
}

TEST_F(KnobTest, AContainerWritingEveryNewValueBackStillGetsOneStepPerTick) {
  // As over USB: each new value goes to the receiver, whose report writes it back into the
  // knob a moment later, and that write repaints the knob while the button is still held.
  ShowOnScreen();
  Put(mirtal::dispid::DNRange, 0);
  Put(mirtal::dispid::ValueMirtal, 1000000);
  QCoreApplication::processEvents();
  std::int32_t lastSeen = 1000000;
  const auto echo = knob->Events().Advise([&](ole::DispId id, const ole::Args& args) {
    const std::int32_t v = *args.at(0).toInt32();
    if (id != mirtal::event::GetValue || v == lastSeen) return;
    lastSeen = v;
    QTimer::singleShot(0, knob, [this, v] { knob->PutProperty(mirtal::dispid::ValueMirtal, v); });
  });
  TimerEventCounter ticks(knob);
  values.clear();
  Hold(Qt::LeftButton, 300);
  knob->Events().Unadvise(echo);
  int steps = 0;
  std::int32_t before = 1000000;
  for (std::int32_t v : values) {
    if (v == before) continue;
    EXPECT_EQ(before - v, 1000) << "after " << steps << " steps";
    before = v;
    ++steps;
  }
  EXPECT_GE(steps, 1);
  EXPECT_LE(steps, ticks.count) << "repaints: " << values.size();
}

}  // namespace
