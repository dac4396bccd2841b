// The main window: its first-start state, the keypad and keyboard, the knob, the wheel,
// and the commands each receiver control sends.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QWheelEvent>

#include "app/Startup.h"
#include "app/dsp/Udebug.h"
#include "app/dsp/Umparams.h"
#include "app/dsp/Utms.h"
#include "app/dsp/Uvestramdebug.h"
#include "app/panel/Umain.h"
#include "app/spectrum/Uiq.h"
#include "app/spectrum/Usettings.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

using testsupport::ToStrings;
using Strings = std::vector<std::string>;

namespace {

class FakeKnob : public TKnob {
 public:
  int32_t value = 0, step = 0, bigStep = 0;
  int32_t ValueMirtal() override { return value; }
  void SetValueMirtal(int32_t v) override { value = v; }
  void SetStep(int32_t s) override { step = s; }
  void SetBigStep(int32_t s) override { bigStep = s; }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), receiver_.SlavePath());
    knob_ = new FakeKnob;
    Main->Mirtal.reset(knob_);
    receiver_.Take(30);
  }
  Strings Sent() { return ToStrings(receiver_.Take(30)); }

  // Presses the keys of a keypad string: digits, '.', and 'E' for ВВОД.
  void Type(const std::string& keys) {
    for (char c : keys) {
      if (c == '.') Main->BtnDot->PerformClick();
      else if (c == 'E') Main->BtnEnt->PerformClick();
      else Main->Btn[c - '0']->PerformClick();
    }
  }

  QTemporaryDir config_;
  testsupport::PtyReceiver receiver_;
  std::unique_ptr<testsupport::ProgramRun> run_;
  FakeKnob* knob_ = nullptr;
};

TEST_F(MainWindowTest, FirstStartShowsTheDefaultReceiver) {
  EXPECT_EQ(Main->FreqkHz->Text(), " 1000");
  EXPECT_EQ(Main->FreqHz->Text(), "000");
  EXPECT_TRUE(Main->BtnAM->Down());
  EXPECT_TRUE(Main->BtnPol3k->Down());
  EXPECT_TRUE(Main->BtnARU->Down());
  EXPECT_TRUE(Main->BtnUvc->Down());
  EXPECT_FALSE(Main->BtnGO->Down());
  for (QWidget* w : {static_cast<QWidget*>(MParams), static_cast<QWidget*>(SettingsWindow)})
    EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(Main->windowTitle(), QString("РПУ \"VESTRA\""));
  EXPECT_EQ(Main->size(), QSize(625, 420));
}

struct KeypadRow {
  const char* keys;
  int shownkHz, shownHz;  // displays after the keys
  Strings sent;
};

TEST_F(MainWindowTest, KeypadEntries) {
  const KeypadRow rows[] = {
      {"30000.999", 30000, 999, {}},
      {"E", 30000, 999, {"F:30000999"}},  // the largest value let through
      {"70E", 30000, 999, {}},            // 70 kHz: rejected, the displays come back
      {".5E", 30000, 500, {"F:30000500"}},
      {"123456", 12345, 0, {}},           // the sixth kHz digit is ignored
      {".1234E", 12345, 123, {"F:12345123"}},  // the fourth Hz digit adds nothing
      {"E", 12345, 123, {"F:12345123"}},  // Enter alone sends the shown frequency again
  };
  for (const auto& r : rows) {
    Type(r.keys);
    EXPECT_EQ(Main->FreqkHz->Value(), r.shownkHz) << r.keys;
    EXPECT_EQ(Main->FreqHz->Value(), r.shownHz) << r.keys;
    EXPECT_EQ(Sent(), r.sent) << r.keys;
  }
}

TEST_F(MainWindowTest, KeyboardTypesLikeTheKeypadAndOpensOnlyTheServiceWindows) {
  auto key = [](int code, const QString& text, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QKeyEvent e(QEvent::KeyPress, code, m, text);
    QCoreApplication::sendEvent(Main, &e);
  };
  for (const char* c : {"2", "5", "0", "0", ".", "1"}) key(0, c);
  key(Qt::Key_Return, "\r");
  EXPECT_EQ(Sent(), Strings{"F:02500100"});
  key(Qt::Key_Y, QString(QChar(25)), Qt::ControlModifier);
  EXPECT_TRUE(VestraMdebug->isVisible());
  VestraMdebug->hide();
  key(0, "ж");
  EXPECT_FALSE(VestraMdebug->isVisible());
  // Plain Tab arrives as character 9 too, but only Ctrl+I opens the IQ window.
  key(Qt::Key_Tab, "\t");
  EXPECT_FALSE(IQ->isVisible());
  key(Qt::Key_I, QString(QChar(9)), Qt::ControlModifier);
  EXPECT_TRUE(IQ->isVisible());
  IQ->hide();
  EXPECT_TRUE(Sent().empty());
}

// Records the keys that reach a control after the main window has looked at them.
class KeyRecorder : public QObject {
 public:
  std::vector<int> keys;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::KeyPress) keys.push_back(static_cast<QKeyEvent*>(e)->key());
    return false;
  }
};

TEST_F(MainWindowTest, ControlKeysOpenTheirServiceWindowsAndStillReachTheFocusedControl) {
  Main->activateWindow();
  Main->AttVch->setFocus();
  testsupport::Pump(20);
  QWidget* focused = QApplication::focusWidget();
  ASSERT_NE(focused, nullptr);
  ASSERT_EQ(focused->window(), Main);
  KeyRecorder recorder;
  focused->installEventFilter(&recorder);
  struct Row { Qt::Key key; char16_t character; QWidget* window; };
  const Row rows[] = {{Qt::Key_D, 4, Debug}, {Qt::Key_I, 9, IQ}, {Qt::Key_L, 12, Tms}, {Qt::Key_Y, 25, VestraMdebug}};
  for (const Row& r : rows) {
    ASSERT_FALSE(r.window->isVisible()) << int(r.character);
    QKeyEvent e(QEvent::KeyPress, r.key, Qt::ControlModifier, QString(QChar(r.character)));
    QCoreApplication::sendEvent(focused, &e);
    EXPECT_TRUE(r.window->isVisible()) << int(r.character);
    EXPECT_EQ(recorder.keys.size() ? recorder.keys.back() : 0, r.key) << int(r.character);
    r.window->hide();
    Main->activateWindow();
    focused->setFocus();
    testsupport::Pump(20);
  }
  focused->removeEventFilter(&recorder);
  EXPECT_TRUE(Sent().empty());
}

// The beat-tone slider takes the wheel only in telegraphy, where it is enabled; over any
// control that is not one of the three sliders the wheel moves nothing, not even a spin box.
TEST_F(MainWindowTest, WheelOverTheToneSliderAndOverOtherControls) {
  Main->BtnAM->PerformClick();  // АМ disables the tone
  Sent();
  ASSERT_FALSE(Main->SldTon->isEnabled());
  testsupport::Wheel(Main->SldTon, 120);
  EXPECT_EQ(Main->SldTon->value(), 0);
  EXPECT_TRUE(Sent().empty());

  Main->BtnTLG->PerformClick();
  Sent();
  testsupport::Wheel(Main->SldTon, 120);
  testsupport::Wheel(Main->SldTon, 480);  // one step per event, whatever its size
  EXPECT_EQ(Main->SldTon->value(), 2);
  EXPECT_EQ(Sent(), (Strings{"L:00100", "L:00200"}));
  testsupport::Wheel(Main->SldTon, -120);
  EXPECT_EQ(Sent(), Strings{"L:00100"});

  Main->AttVch->SetValue(9);
  Sent();
  for (QWidget* w : std::initializer_list<QWidget*>{Main->AttVch, Main->BtnUvc, Main->FreqkHz, Main}) {
    testsupport::Wheel(w, 120);
    testsupport::Wheel(w, -120);
  }
  EXPECT_EQ(Main->AttVch->Value(), 9);
  EXPECT_EQ(Main->SldTon->value(), 1);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(MainWindowTest, KnobTunesByTheChangeOfItsValue) {
  SettingsWindow->Step1->SetValue(500);
  SettingsWindow->Step2->SetValue(7);
  Main->MirtalGetValue();  // first event: hands over the frequency, sends nothing
  EXPECT_EQ(knob_->value, 1000000);
  EXPECT_EQ(knob_->step, 500);
  EXPECT_EQ(knob_->bigStep, 7);
  EXPECT_TRUE(Sent().empty());

  knob_->value -= 500;  // one step down would pass the lower limit
  Main->MirtalGetValue();
  EXPECT_EQ(Sent(), Strings{"F:01000000"});
  knob_->value += 1000;  // and back up at once
  Main->MirtalGetValue();
  EXPECT_EQ(Sent(), Strings{"F:01001000"});
  Main->MirtalGetValue();  // a repaint without a turn
  EXPECT_TRUE(Sent().empty());

  Main->TuneTo(29999800);  // tuned by program: the next event is no turn
  Sent();
  Main->MirtalGetValue();
  EXPECT_TRUE(Sent().empty());
  knob_->value += 500;
  Main->MirtalGetValue();
  EXPECT_EQ(Sent(), Strings{"F:30000000"});
  knob_->value -= 500;
  Main->MirtalGetValue();
  EXPECT_EQ(Sent(), Strings{"F:29999500"});
}

TEST_F(MainWindowTest, KnobDuringAKeypadEntryTunesFromThePartlyTypedValue) {
  Main->MirtalGetValue();
  Type("2");
  knob_->value += 1000;
  Main->MirtalGetValue();
  EXPECT_EQ(Sent(), Strings{"F:01000000"});  // 2 kHz + 1 kHz, limited to 1 MHz
  EXPECT_EQ(Main->EntryActive, 1);
}

TEST_F(MainWindowTest, WheelMovesOnlyAnEnabledSliderUnderThePointer) {
  Main->SldNch->setValue(40);
  Sent();
  testsupport::Wheel(Main->SldNch, 120);
  EXPECT_EQ(Main->SldNch->value(), 40);
  testsupport::Wheel(Main->SldNch, -120);
  EXPECT_EQ(Main->SldNch->value(), 39);
  Main->BtnARU->PerformClick();  // automatic gain control disables the IF gain
  ASSERT_FALSE(Main->SldRRU->isEnabled());
  testsupport::Wheel(Main->SldRRU, 120);
  EXPECT_EQ(Main->SldRRU->value(), 0);
}

// A horizontal or tilt scroll has no vertical turn: it moves nothing and sends nothing.
TEST_F(MainWindowTest, WheelWithoutAVerticalTurnDoesNothing) {
  Main->SldNch->setValue(20);
  Sent();
  testsupport::Wheel(Main->SldNch, 0, 120);
  testsupport::Wheel(Main->SldNch, 0, -120);
  EXPECT_EQ(Main->SldNch->value(), 20);
  EXPECT_TRUE(Sent().empty());
}

// The captions over the two gain sliders overlap their top rows; there the pointer is on
// the slider, for the wheel and for clicks alike.
TEST_F(MainWindowTest, TheSliderIsUnderThePointerWhereItsCaptionOverlapsIt) {
  Main->BtnRRU->PerformClick();
  Main->SldNch->setValue(20);
  Main->SldRRU->setValue(20);
  for (QSlider* s : {Main->SldNch, Main->SldRRU}) {
    const QPoint topRow = s->geometry().topLeft() + QPoint(s->width() / 2, 1);
    EXPECT_EQ(Main->childAt(topRow), s) << s->objectName().toStdString();
    QWidget* under = Main->childAt(topRow);
    testsupport::Wheel(under ? under : Main, 120, 0, under ? under->mapFrom(Main, topRow) : topRow);
    EXPECT_EQ(s->value(), 21) << s->objectName().toStdString();
  }
}

struct ActionRow {
  const char* name;
  std::function<void()> setUp, act;
  Strings sent;
};

TEST_F(MainWindowTest, EachControlSendsItsCommandsInOrder) {
  auto& m = *Main;
  const ActionRow rows[] = {
      {"ТЛГ with the tone at -7", [&] { m.SldTon->setValue(-7); }, [&] { m.BtnTLG->PerformClick(); },
       {"L:-0700", "E:91", "H:03000"}},
      {"НБП with shift 1850", [] {}, [&] { m.BtnNBP->PerformClick(); }, {"e:1850", "L:-1850", "E:93", "H:03000"}},
      {"ВБП", [] {}, [&] { m.BtnVBP->PerformClick(); }, {"e:1850", "L:01850", "E:92", "H:03000"}},
      {"АМ with 500 Hz", [&] { m.BtnPol0k5->SetDown(true); }, [&] { m.BtnAM->PerformClick(); },
       {"E:90", "H:00500"}},
      {"АРУ with threshold -5", [&] { MParams->PorogARU->blockSignals(true); MParams->PorogARU->SetValue(-5); MParams->PorogARU->blockSignals(false); },
       [&] { m.BtnARU->PerformClick(); }, {"X:-05", "J:0"}},
      {"РРУ with companding on", [&] { MParams->RruComp->SetItemIndex(1); m.SldRRU->setValue(33); },
       [&] { m.BtnRRU->PerformClick(); }, {"C:33", "J:6"}},
      {"bandwidth 12 kHz", [] {}, [&] { m.BtnPol12k->PerformClick(); }, {"H:12000"}},
      {"preamplifier off", [] {}, [&] { m.BtnUvc->PerformClick(); }, {"P:0"}},
      {"spectrum on", [] {}, [&] { m.BtnGO->PerformClick(); }, {"s:1"}},
      {"IF gain", [] {}, [&] { m.SldRRU->setValue(50); }, {"C:50"}},
      {"IF gain unchanged", [] {}, [&] { m.SldRRU->setValue(50); }, {}},
      {"LF gain past the end", [] {}, [&] { m.SldNch->setValue(99); }, {"D:40"}},
      {"tone", [] {}, [&] { m.SldTon->setValue(3); }, {"L:00300"}},
      {"attenuator", [] {}, [&] { m.AttVch->SetValue(9); }, {"B:09"}},
      {"class mode: the class window opens and applies A1A", [] {}, [&] { m.BtnCLASS->PerformClick(); },
       {"E:99", "H:12000", "L:00300", "E:00"}},
      {"averaging", [] {}, [&] { m.BtnAvr->PerformClick(); }, {}},
      {"panorama window", [] {}, [&] { m.BtnPan->PerformClick(); }, {}},
  };
  for (const auto& r : rows) {
    r.setUp();
    Sent();
    r.act();
    EXPECT_EQ(Sent(), r.sent) << r.name;
  }
  EXPECT_EQ(m.LblTon->text(), "  300 Гц");
  EXPECT_EQ(m.LblRRU->text(), "ПЧ 50 дБ");
  EXPECT_EQ(m.LblNch->text(), "НЧ 40 дБ");
  EXPECT_TRUE(m.SldRRU->isEnabled());
  EXPECT_TRUE(m.SldTon->isEnabled()) << "A1A keeps the tone";
}

TEST_F(MainWindowTest, ToolButtonsShowAndCloseTheirWindows) {
  Main->BtnMoreParams->PerformClick();
  EXPECT_TRUE(MParams->isVisible());
  MParams->close();  // closed by its own means: the button comes up
  EXPECT_FALSE(MParams->isVisible());
  EXPECT_FALSE(Main->BtnMoreParams->Down());
  Main->BtnSetup->PerformClick();
  Main->BtnSetup->PerformClick();
  EXPECT_FALSE(SettingsWindow->isVisible());
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
