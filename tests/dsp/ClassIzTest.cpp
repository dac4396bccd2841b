// The emission-class window: the command sequence and enabled states of every class, the
// events that re-apply it, the class-mode button of the main window, and the restore rules
// with the full-state upload that follows a state request.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>

#include "app/dsp/Uclass.h"
#include "app/dsp/Udecoder.h"
#include "app/dsp/Umparams.h"
#include "app/link/Ucom.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/ProgramTest.h"
#include "tests/support/PtyReceiver.h"

using testsupport::ToStrings;
using Strings = std::vector<std::string>;

namespace {

class ClassIzTest : public testsupport::ProgramTest {
 protected:
  static Strings Concat(Strings a, const Strings& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  // Which of the four parameter controls are usable, each with its label: "Vt dF BP Kan".
  static std::string Enabled() {
    const auto& c = *ClassIz;
    std::string out;
    const std::tuple<const char*, QWidget*, QWidget*> pairs[] = {
        {"Vt", c.Vt, c.LblVt}, {"dF", c.dF, c.LbldF}, {"BP", c.BP, c.LblBP}, {"Kan", c.Kan, c.LblKan}};
    for (auto [name, control, label] : pairs) {
      if (control->isEnabled() != label->isEnabled()) return std::string(name) + " differs from its label";
      if (control->isEnabled()) out += (out.empty() ? "" : " ") + std::string(name);
    }
    return out;
  }
  static void Choose(const QString& designator) { ClassIz->ClassName->Choose(kClassDesignators.indexOf(designator)); }
  static void Key(QWidget* to, int key, const QString& text) {
    QKeyEvent k(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(to, &k);
  }

};

struct ClassRow {
  const char* designator;
  int bp, kan;  // set before the class is chosen
  Strings sent;  // after the bandwidth and the tone
  const char* enabled;
  bool tone;
};

// Every class on a first start: 3 kHz bandwidth, tone slider at 0, speed 45, shift 85,
// sideband shift 1850.
const ClassRow kClassRows[] = {
    {"A1A", 0, 0, {"E:00"}, "", true},
    {"A1B", 0, 0, {"G:0045", "E:01"}, "Vt", true},
    {"A2A", 0, 0, {"E:02"}, "", false},
    {"A2B", 0, 0, {"E:03"}, "", false},
    {"H2A", 0, 0, {"E:04"}, "", true},
    {"R2A", 0, 0, {"E:05"}, "", true},
    {"J2A", 0, 0, {"E:06"}, "", true},
    {"H2B", 0, 0, {"E:07"}, "", true},
    {"R2B", 0, 0, {"E:08"}, "", true},
    {"J2B", 0, 0, {"E:09"}, "", true},
    {"J2E", 0, 0, {"E:10"}, "", true},
    {"A3E", 0, 0, {"E:11"}, "", false},
    {"H3E", 0, 0, {"e:1850", "E:12"}, "BP", false},
    {"H3E", 1, 0, {"e:1850", "E:13"}, "BP", false},
    {"R3E", 0, 0, {"e:1850", "E:14"}, "BP", false},
    {"R3E", 1, 0, {"e:1850", "E:15"}, "BP", false},
    {"J3E", 0, 0, {"e:1850", "E:16"}, "BP", false},
    {"J3E", 1, 0, {"e:1850", "E:17"}, "BP", false},
    {"A2C", 0, 0, {"E:18"}, "", false},
    {"A3C", 0, 0, {"E:19"}, "", false},
    {"H3C", 0, 0, {"e:1850", "E:20"}, "BP", false},
    {"H3C", 1, 0, {"e:1850", "E:21"}, "BP", false},
    {"R3C", 0, 0, {"e:1850", "E:22"}, "BP", false},
    {"R3C", 1, 0, {"e:1850", "E:23"}, "BP", false},
    {"J3C", 0, 0, {"e:1850", "E:24"}, "BP", false},
    {"J3C", 1, 0, {"e:1850", "E:25"}, "BP", false},
    {"F1A", 0, 0, {"G:0045", "T:0085", "E:26"}, "Vt dF", true},
    {"F1B", 0, 0, {"G:0045", "T:0085", "E:27"}, "Vt dF", true},
    {"F1C", 0, 0, {"G:0045", "T:0085", "E:28"}, "Vt dF", true},
    {"F2C", 0, 0, {"G:0045", "T:0085", "E:29"}, "Vt dF", true},
    {"F3C", 0, 0, {"E:30"}, "", false},
    {"F3E", 0, 0, {"E:31"}, "", false},
    {"F7B", 0, 0, {"G:0045", "T:0085", "E:32"}, "Vt dF Kan", true},
    {"F7B", 0, 1, {"G:0045", "T:0085", "E:33"}, "Vt dF Kan", true},
    {"G1B", 0, 0, {"G:0045", "E:34"}, "Vt", true},
    {"G7B", 0, 0, {"G:0045", "E:35"}, "Vt Kan", true},
    {"G7B", 0, 1, {"G:0045", "E:36"}, "Vt Kan", true},
    {"B7B", 0, 0, {"E:37"}, "", true},
    {"B8E", 0, 0, {"e:1850", "E:38"}, "BP", false},
    {"B8E", 1, 0, {"e:1850", "E:39"}, "BP", false},
    {"B9W", 0, 0, {"E:40"}, "", true},
    // Where the class does not use them, BP and Kan change nothing of the sequence.
    {"A1A", 1, 1, {"E:00"}, "", true},
    {"F1A", 1, 1, {"G:0045", "T:0085", "E:26"}, "Vt dF", true},
    {"J3E", 1, 1, {"e:1850", "E:17"}, "BP", false},
};

TEST_F(ClassIzTest, EveryClassSendsItsSequenceAndEnablesItsControls) {
  ASSERT_EQ(kClassDesignators.size(), 32);
  for (const ClassRow& r : kClassRows) {
    ClassIz->BP->SetItemIndex(r.bp);
    ClassIz->Kan->SetItemIndex(r.kan);
    Main->BtnAM->PerformClick();  // out of class mode: applying the class must latch it again
    Sent();
    Choose(r.designator);
    const std::string row = std::string(r.designator) + " BP " + std::to_string(r.bp) + " Kan " + std::to_string(r.kan);
    EXPECT_EQ(Sent(), Concat({"H:03000", "L:00000"}, r.sent)) << row;
    EXPECT_EQ(Enabled(), r.enabled) << row;
    EXPECT_EQ(Main->SldTon->isEnabled(), r.tone) << row;
    EXPECT_TRUE(Main->BtnCLASS->Down()) << row;
    EXPECT_FALSE(Main->BtnAM->Down()) << row;
    EXPECT_EQ(Main->BtnCLASS->toolTip(), r.designator) << row;
  }
}

TEST_F(ClassIzTest, EventsReapplyTheWholeSequence) {
  auto& c = *ClassIz;
  Choose("H3E");
  c.BP->SetItemIndex(1);
  Sent();
  Main->SldTon->setValue(-7);  // the tone goes out with the class
  MParams->Sideband->SetValue(2000);
  Sent();
  struct Row {
    const char* name;
    std::function<void()> act;
    Strings sent;
  };
  const Row rows[] = {
      {"ВБП", [&] { c.BP->SetItemIndex(0); }, {"H:03000", "L:-0700", "e:2000", "E:12"}},
      {"same index: no click", [&] { c.BP->SetItemIndex(0); }, {}},
      {"to F1A", [&] { Choose("F1A"); }, {"H:03000", "L:-0700", "G:0045", "T:0085", "E:26"}},
      {"Vt arrow up", [&] { c.Vt->stepBy(1); }, {"H:03000", "L:-0700", "G:0046", "T:0085", "E:26"}},
      {"dF arrow down at the bottom", [&] { c.dF->stepBy(-1); }, {"H:03000", "L:-0700", "G:0046", "T:0085", "E:26"}},
      {"Vt set in code", [&] { c.Vt->SetValue(100); }, {}},
      {"class set in code", [&] { c.ClassName->SetItemIndex(0); }, {}},
      {"Kan of A1A", [&] { c.Kan->SetItemIndex(1); }, {"H:03000", "L:-0700", "E:00"}},
      {"8 kHz bandwidth", [&] { Main->BtnPol8k->PerformClick(); }, {"H:08000"}},
      {"no text: as A1A", [&] { c.ClassName->SetItemIndex(-1); c.ApplyClass(); }, {"H:08000", "L:-0700", "E:00"}},
      {"no bandwidth down", [&] { Main->BtnPol8k->SetDown(false); Choose("B9W"); }, {"L:-0700", "E:40"}},
  };
  for (const Row& r : rows) {
    r.act();
    EXPECT_EQ(Sent(), r.sent) << r.name;
  }
}

TEST_F(ClassIzTest, TypedValuesGoOutOnlyWithEnter) {
  auto& c = *ClassIz;
  Choose("F1B");
  Sent();
  c.dF->setFocus();
  c.dF->selectAll();
  for (const char* digit : {"5", "0", "0"}) Key(c.dF, 0, digit);
  EXPECT_TRUE(Sent().empty());
  Key(c.dF, Qt::Key_Return, "\r");
  EXPECT_EQ(Sent(), (Strings{"H:03000", "L:00000", "G:0045", "T:0500", "E:27"}));
  c.Vt->SetValue(300);
  c.Vt->selectAll();
  for (const char* digit : {"3", "0"}) Key(c.Vt, 0, digit);
  Key(c.Vt, Qt::Key_Enter, "\r");  // below the range: its bottom
  EXPECT_EQ(c.Vt->Value(), 45);
  EXPECT_EQ(Sent(), (Strings{"H:03000", "L:00000", "G:0045", "T:0500", "E:27"}));
}

TEST_F(ClassIzTest, ClassButtonSendsClassModeThenTheClass) {
  Choose("G7B");
  ClassIz->Kan->SetItemIndex(1);
  ClassIz->hide();
  Main->BtnAM->PerformClick();
  Sent();
  const Strings sequence = {"E:99", "H:03000", "L:00000", "G:0045", "E:36"};
  Main->BtnCLASS->PerformClick();  // hidden: showing it applies the class
  EXPECT_TRUE(ClassIz->isVisible());
  EXPECT_EQ(Sent(), sequence);
  Main->BtnCLASS->PerformClick();  // shown: applied by the button
  EXPECT_EQ(Sent(), sequence);
  EXPECT_TRUE(Main->SldTon->isEnabled());
  ClassIz->close();  // closing sends nothing and leaves class mode on
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(Main->BtnCLASS->Down());
}

TEST_F(ClassIzTest, DecoderButtonOnlyShowsAHiddenDecoder) {
  Decoder->hide();
  ClassIz->BtnDecoder->PerformClick();
  EXPECT_TRUE(Decoder->isVisible());
  EXPECT_EQ(Sent(), Strings{"O:0"});  // showing re-sends the receive mode
  ClassIz->BtnDecoder->PerformClick();
  EXPECT_TRUE(Decoder->isVisible());
  EXPECT_TRUE(Sent().empty()) << "a shown decoder is left as it is";
}

// Restoring acts like setting in code: a BP or Kan that differs runs its click, and the
// enabled states restored after it are those last left.
TEST(ClassIzRestore, EnabledStatesComeBackAsLeft) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    ini.WriteString("TMain", "BtnAM.Down", "1");  // as saved: АМ mode, not class mode
    ini.WriteString("TMain", "BtnCLASS.Down", "0");
    ini.WriteString("TClassIz", "ClassName.ItemIndex", "12");  // H3E
    ini.WriteString("TClassIz", "BP.ItemIndex", "1");
    ini.WriteString("TClassIz", "BP.Enabled", "0");
    ini.WriteString("TClassIz", "LblBP.Enabled", "0");
    ini.WriteString("TClassIz", "Kan.Enabled", "1");
    ini.WriteString("TClassIz", "LblKan.Enabled", "1");
  }
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  const Strings sent = ToStrings(receiver.Take(50));
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "E:13"), 1);
  EXPECT_FALSE(ClassIz->BP->isEnabled());
  EXPECT_FALSE(ClassIz->LblBP->isEnabled());
  EXPECT_TRUE(ClassIz->Kan->isEnabled());
  EXPECT_TRUE(ClassIz->LblKan->isEnabled());
  EXPECT_EQ(Main->BtnCLASS->toolTip(), "H3E");
  EXPECT_FALSE(ClassIz->isVisible()) << "class mode was not on";
}

TEST(ClassIzRestore, UploadInClassModeCarriesTheClassSequence) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    ini.WriteString("TMain", "BtnAM.Down", "0");
    ini.WriteString("TMain", "BtnCLASS.Down", "1");
    ini.WriteString("TClassIz", "ClassName.ItemIndex", "26");  // F7B
    ini.WriteString("TClassIz", "Kan.ItemIndex", "1");
  }
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  const Strings start = ToStrings(receiver.Take(50));
  EXPECT_TRUE(ClassIz->isVisible()) << "class mode left on: the window opens";
  EXPECT_NE(std::find(start.begin(), start.end(), "E:99"), start.end());
  EXPECT_EQ(Main->BtnCLASS->toolTip(), "F7B");

  receiver.SendReport('S', "");  // the receiver asks for its state
  Strings upload;
  for (int i = 0; i < 200 && upload.size() < 22; ++i) {
    testsupport::Pump(5);
    Serial.Poll();
    const Strings more = ToStrings(receiver.Take(5));
    upload.insert(upload.end(), more.begin(), more.end());
  }
  ASSERT_GE(upload.size(), 8u);
  EXPECT_EQ(Strings(upload.begin(), upload.begin() + 8),
            (Strings{"F:01000000", "H:03000", "L:00000", "G:0045", "T:0085", "E:33", "H:03000", "R:0"}));
  EXPECT_EQ(std::find(upload.begin(), upload.end(), "E:99"), upload.end());
}

}  // namespace
