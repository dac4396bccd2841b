// Behaviour both knob builds share: the large knob's stepping and limits, the repeat speed,
// halting, the first repaint, defaults and the named form, tooltip, pictures, dialogs.
// Compiled once per build.

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <limits>

#include "knob/MirtalModule.h"
#include "platform/ole/PropertyPage.h"
#include "tests/knob/KnobFixture.h"

// The pictures are compiled in; these take them away and give them back (the resource
// macros work only outside namespaces).
static void DropPictures() {
#if MIRTAL_VARIANT_G
  Q_CLEANUP_RESOURCE(pictures_g);
#else
  Q_CLEANUP_RESOURCE(pictures);
#endif
}

static void RestorePictures() {
#if MIRTAL_VARIANT_G
  Q_INIT_RESOURCE(pictures_g);
#else
  Q_INIT_RESOURCE(pictures);
#endif
}

namespace {

using namespace knobtest;
namespace dispid = mirtal::dispid;
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

QImage Dimple() { return QImage(QString(mirtal::kPicturePrefix) + "202.png"); }

struct LargeCase {
  const char* name;
  std::int32_t step, bigStep, upRange, dnRange, start;
  bool left, right, shift;
  std::vector<std::int32_t> values;  // reported by successive repaints
  QPoint marker;                     // dimple corner after them
};

TEST_F(KnobTest, LargeKnobStepsBetweenItsLimits) {
  const LargeCase cases[] = {
      {"container limits: down from 500 ends at 0", 1000, 1, kMax, -kMax, 500, true, false, false, {0, 0, 0}, {19, 6}},
      {"up clamps the last step to UpRange", 1000, 10000, 1999999000, 30000, 1999998999, false, true, false,
       {1999999000, 1999999000}, {25, 6}},
      {"Shift: coarse step refused, fine taken", 10, 1000, kMax, 0, 500, true, false, true, {490, 480}, {20, 6}},
      {"Shift: coarse until it would reach DNRange", 1000, 10000, kMax, 30000, 50000, true, false, true,
       {40000, 39000, 38000}, {13, 9}},
      {"a fine step below DNRange is dropped", 1000, 10000, kMax, 30000, 30500, true, false, false,
       {30500, 30500}, {23, 6}},
      {"never below 0 whatever DNRange", 30, 10000, kMax, -100, 20, true, false, false, {0, 0}, {20, 6}},
      {"Shift up in coarse steps, clamped", 1000, 10000, 25000, 0, 0, false, true, true,
       {10000, 20000, 25000, 25000}, {40, 20}},
      {"no wrap at the top of the 32-bit range", 1000, 10000, kMax, 0, kMax - 10, false, true, false,
       {kMax, kMax}, {25, 6}},
      {"no wrap at the bottom of the 32-bit range", 1000, 10000, kMax, -kMax, -2147483640, true, false, false,
       {0, 0}, {22, 6}},
      {"both buttons: down first, then up", 1000, 10000, kMax, 0, 5000, true, true, false, {5000, 5000}, {23, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Repaint();  // first drawing
    Put(dispid::Step, c.step);
    Put(dispid::BigStep, c.bigStep);
    Put(dispid::UpRange, c.upRange);
    Put(dispid::DNRange, c.dnRange);
    Put(dispid::ValueMirtal, c.start);
    shift = c.shift;
    if (c.left) Press(Qt::LeftButton);
    if (c.right) Press(Qt::RightButton);
    EXPECT_EQ(Turns(static_cast<int>(c.values.size())), c.values);
    EXPECT_TRUE(PictureAt(lastImage, Dimple(), c.marker.x(), c.marker.y()));
  }
}

TEST_F(KnobTest, ARepaintWhileIdleReportsTheWrittenValueAndTurnsNothing) {
  Repaint();
  Put(dispid::ValueMirtal, 1000000);
  EXPECT_EQ(Repaints(2), (std::vector<std::int32_t>{1000000, 1000000}));
  EXPECT_TRUE(PictureAt(Repaint(), Dimple(), 23, 6));
}

TEST_F(KnobTest, WhileHeldOnlyATickOfTheRepeatTimerSteps) {
  // Write: the container writes 500000 (as a receiver's report does) and the repaint follows.
  enum Op { Tick1, Paint, Write };
  const struct {
    const char* name;
    std::vector<Op> ops;
    std::vector<std::int32_t> values;  // reported by the repaints
  } cases[] = {
      {"repaints without a tick step nothing", {Paint, Paint, Paint}, {100000, 100000, 100000}},
      {"a written value is reported as written", {Write, Write}, {500000, 500000}},
      {"the next tick steps from the written value", {Write, Tick1, Paint}, {500000, 499000}},
      {"one tick, three repaints: one step", {Tick1, Paint, Paint, Paint}, {99000, 99000, 99000}},
      {"three ticks before one repaint: one step", {Tick1, Tick1, Tick1, Paint}, {99000}},
      {"a written value between tick and repaint, then the step", {Tick1, Write, Paint}, {499000, 499000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Repaint();
    Put(dispid::DNRange, 0);
    Put(dispid::ValueMirtal, 100000);
    Press(Qt::LeftButton);
    values.clear();
    for (Op op : c.ops) {
      if (op == Tick1) Tick(1);
      if (op == Write) Put(dispid::ValueMirtal, 500000);
      if (op != Tick1) Repaint();
    }
    EXPECT_EQ(values, c.values);
  }
}

TEST_F(KnobTest, ATickLeftFromAnEarlierPressDoesNotStepANewOne) {
  Repaint();
  Put(dispid::ValueMirtal, 100000);
  Press(Qt::LeftButton);
  Tick(1);
  Release(Qt::LeftButton);  // before the tick's repaint
  Press(Qt::LeftButton);
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{100000});  // the first step is one interval away
  EXPECT_EQ(Turns(1), std::vector<std::int32_t>{99000});
}

TEST_F(KnobTest, FirstRepaintReportsZeroWhateverWasWrittenBefore) {
  Put(dispid::ValueMirtal, 777);
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{0});
}

TEST_F(KnobTest, ReleasingOneOfTwoButtonsHaltsBoth) {
  Repaint();
  Put(dispid::DNRange, 0);
  Put(dispid::ValueMirtal, 5000);
  Press(Qt::LeftButton);
  EXPECT_EQ(Turns(1), std::vector<std::int32_t>{4000});
  Press(Qt::RightButton);
  Release(Qt::RightButton);
  EXPECT_EQ(knob->TimerInterval(1), -1);
  EXPECT_EQ(Repaints(2), (std::vector<std::int32_t>{4000, 4000}));
  Press(Qt::RightButton);  // a new press turns again
  EXPECT_EQ(Turns(1), std::vector<std::int32_t>{4000});  // down then up
}

TEST_F(KnobTest, OnlySpeedsFrom5To20ChangeTheRepeatInterval) {
  const struct {
    std::int16_t timer;
    int interval;
  } cases[] = {{3, 50}, {10, 100}, {25, 50}, {0, 50}, {-7, 50}, {5, 200}, {20, 50}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timer);
    TearDown();
    SetUp();
    Repaint();
    Put(dispid::Timer, c.timer);
    EXPECT_EQ(Get(dispid::Timer).toInt32(), c.timer);  // stored unchanged
    Press(Qt::LeftButton);
    EXPECT_EQ(knob->TimerInterval(1), c.interval);
  }
  EXPECT_EQ(knob->PutProperty(dispid::Timer, std::int32_t(40000)), ole::DISP_E_OVERFLOW);
}

TEST_F(KnobTest, StoredSpeedTakesEffectAtFirstDrawingButZeroKeepsTheControlTurning) {
  const struct {
    std::int16_t timer;
    int interval;
  } cases[] = {{25, 40}, {0, 50}, {-3, 50}, {10, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timer);
    TearDown();
    SetUp();
    ole::MemoryPropertyBag bag;
    bag.Write("Timer", c.timer);
    ASSERT_EQ(knob->LoadFromBag(bag), ole::S_OK);
    Repaint();
    Press(Qt::LeftButton);
    EXPECT_EQ(knob->TimerInterval(1), c.interval);
  }
}

TEST_F(KnobTest, NewControlAndMissingBagItemsTakeTheDefaults) {
  const struct {
    ole::DispId id;
    ole::Variant def;
  } defaults[] = {
      {dispid::Step, std::int32_t(1000)},       {dispid::BigStep, std::int32_t(10000)},
      {dispid::Mode, std::int32_t(0)},          {dispid::UpRange, std::int32_t(1999999000)},
      {dispid::DNRange, std::int32_t(30000)},   {dispid::ShowToolTip, true},
      {dispid::ToolTipText, std::string()},     {dispid::Timer, std::int16_t(20)},
  };
  for (const auto& d : defaults) EXPECT_EQ(Get(d.id), d.def) << d.id;

  for (const auto& d : defaults)
    if (d.id != dispid::Step) Put(d.id, d.id == dispid::ShowToolTip ? ole::Variant(false) : ole::Variant("7"));
  ole::MemoryPropertyBag onlyStep;
  onlyStep.Write("Step", std::int32_t(5));
  ASSERT_EQ(knob->LoadFromBag(onlyStep), ole::S_OK);
  EXPECT_EQ(Get(dispid::Step), ole::Variant(std::int32_t(5)));
  for (const auto& d : defaults) {
    if (d.id == dispid::Step) continue;
    EXPECT_EQ(Get(d.id), d.def) << d.id;
  }

  // The named form carries every property under its name and loads back the same.
  Put(dispid::ToolTipText, "Подсказка");
  ole::MemoryPropertyBag saved;
  knob->SaveToBag(saved);
  mirtal::MirtalCtrl other;
  ASSERT_EQ(other.LoadFromBag(saved), ole::S_OK);
  ole::Variant text;
  other.GetProperty(dispid::ToolTipText, text);
  EXPECT_EQ(text.toString(), "Подсказка");
}

TEST_F(KnobTest, ResetStateRestoresDefaultsAndRepaints) {
  Repaint();
  Put(dispid::Step, 3);
  Put(dispid::ToolTipText, "x");
  knob->ResetState();
  EXPECT_EQ(Get(dispid::Step).toInt32(), 1000);
  EXPECT_EQ(Get(dispid::ToolTipText).toString(), "");
}

TEST_F(KnobTest, DispatchRejectsUnknownMembersAndWrongArguments) {
  ole::Variant v;
  EXPECT_EQ(knob->Invoke(99, ole::InvokeKind::PropertyGet, {}, &v), ole::DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(knob->Invoke(dispid::Step, ole::InvokeKind::PropertyPut, {}, nullptr), ole::DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(knob->PutProperty(dispid::Step, "many"), ole::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(knob->Invoke(dispid::Run, ole::InvokeKind::Method, {true}, nullptr), ole::DISP_E_BADPARAMCOUNT);
  EXPECT_FALSE(knob->IsDirty());
  Put(dispid::Step, 5);
  EXPECT_TRUE(knob->IsDirty());
}

TEST_F(KnobTest, TooltipFollowsItsProperties) {
  const ole::ToolTip* tip = knob->ToolTip();
  ASSERT_NE(tip, nullptr);
  EXPECT_TRUE(tip->IsActive());
  Put(dispid::ToolTipText, "Настройка частоты");
  EXPECT_EQ(tip->Text(), QStringLiteral("Настройка частоты"));
  EXPECT_EQ(tip->MaxWidth(), 250);
  Put(dispid::ShowToolTip, false);
  EXPECT_FALSE(tip->IsActive());
}

TEST_F(KnobTest, TooltipAppearsOnHoverOnlyWhenActiveWithText) {
  const struct {
    bool show;
    const char* text;
    bool shown;
  } cases[] = {{true, "Настройка", true}, {false, "Настройка", false}, {true, "", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TearDown();
    SetUp();
    Put(dispid::ShowToolTip, c.show);
    Put(dispid::ToolTipText, c.text);
    QHelpEvent hover(QEvent::ToolTip, QPoint(30, 30), knob->mapToGlobal(QPoint(30, 30)));
    QCoreApplication::sendEvent(knob, &hover);
    EXPECT_EQ(knob->ToolTip()->IsShown(), c.shown);
    Press(Qt::LeftButton);  // a press hides it
    EXPECT_FALSE(knob->ToolTip()->IsShown());
  }
}

TEST_F(KnobTest, MissingPicturesAreReportedAndTheKnobStillReports) {
  DropPictures();
  Put(dispid::ValueMirtal, 5);
  EXPECT_EQ(Repaints(1), std::vector<std::int32_t>{0});
  RestorePictures();
  std::vector<std::string> expected{"Ошибка при загрузке bitmap BACK for W2000", "Ошибка при загрузке bitmap BACK2",
                                    "Ошибка при загрузке bitmap PIPTIK", "Ошибка при загрузке bitmap PIPTIK2"};
  if constexpr (mirtal::kVariantG) {
    expected.push_back("Ошибка при загрузке bitmap BACK2");
    expected.push_back("Ошибка при загрузке bitmap GREEN");
  }
  EXPECT_EQ(messages, expected);
}

TEST_F(KnobTest, PropertyPageReadsOnOpenAndWritesOnApply) {
  Put(dispid::Step, 250);
  Put(dispid::ToolTipText, "старое");
  mirtal::MirtalPropPage page;
  ole::PropertyPageDialog dialog(page, *knob);
  EXPECT_EQ(dialog.windowTitle(), "General");
  auto* step = dialog.findChild<QLineEdit*>("id201");
  auto* tip = dialog.findChild<QLineEdit*>("id208");
  auto* speed = dialog.findChild<QLineEdit*>("id209");
  auto* small = dialog.findChild<QRadioButton*>("id204");
  ASSERT_TRUE(step && tip && speed && small);
  EXPECT_EQ(step->text(), "250");
  EXPECT_EQ(tip->text(), QStringLiteral("старое"));
  EXPECT_TRUE(dialog.findChild<QRadioButton*>("id203")->isChecked());

  step->setText("-40");
  speed->setText("not a number");
  tip->setText("новое");
  small->setChecked(true);
  EXPECT_EQ(Get(dispid::Step).toInt32(), 250);  // nothing written before Apply
  dialog.Apply();
  EXPECT_EQ(Get(dispid::Step).toInt32(), -40);
  EXPECT_EQ(Get(dispid::Mode).toInt32(), 1);
  EXPECT_EQ(Get(dispid::ToolTipText).toString(), "новое");
  EXPECT_EQ(Get(dispid::Timer).toInt32(), 20);  // an edit that is not a number is left out
}

TEST_F(KnobTest, AboutBoxShowsItsTextModally) {
  QString title, line;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    line = box->findChild<QLabel*>("line")->text();
    box->close();
  });
  ASSERT_EQ(knob->Invoke(dispid::AboutBox, ole::InvokeKind::Method, {}, nullptr), ole::S_OK);
  EXPECT_EQ(title, "About Mirtal Control");
  EXPECT_EQ(line, "Mirtal Control, Version 1.0");
}

}  // namespace
