// The service consoles: TDebug's service-register commands, its bit word and its link log;
// TVestraMdebug's raw spectrum-control frame, over USB only, and its inert decoder panel.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>

#include "app/dsp/Udebug.h"
#include "app/dsp/Uvestramdebug.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/dsp/LinkedProgramTest.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

using testsupport::ToStrings;
using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;
using testsupport::PumpUntil;

namespace {

void Key(QWidget* to, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(to, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(to, &release);
}

void Type(QWidget* to, const QString& digits) {
  for (QChar c : digits) Key(to, Qt::Key_0 + (c.unicode() - '0'), QString(c));
}

void ClickCell(int cell) {
  QWidget* view = Debug->Num3->viewport();
  const QPoint at = Debug->Num3->visualItemRect(Debug->Num3->item(0, cell)).center();
  const QPoint global = view->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view, &release);
}

void DoubleClickLog() {
  QWidget* view = Debug->Debug->viewport();
  const QPoint at = view->rect().center();
  QMouseEvent e(QEvent::MouseButtonDblClick, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                Qt::NoModifier);
  QCoreApplication::sendEvent(view, &e);
}

QStringList LogLines() { return Debug->Debug->toPlainText().split('\n', Qt::SkipEmptyParts); }

class ServiceConsoleTest : public LinkedProgramTest {
 protected:
  void Start(bool plugged) {
    LinkedProgramTest::Start(plugged);
    Debug->show();
    VestraMdebug->show();
  }
  Strings Serial() { return ToStrings(receiver_.Take(30)); }
};

TEST_F(ServiceConsoleTest, RegisterControlsSendTheirGCommands) {
  Start(false);
  auto& d = *Debug;
  const struct {
    const char* name;
    std::function<void()> act;
    Strings sent;
  } rows[] = {
      {"Num1 65535, Enter", [&] { d.Num1->SetValue(65535); Key(d.Num1, Qt::Key_Return); }, {"g:165535"}},
      {"Num1 set in code sends nothing", [&] { d.Num1->SetValue(7); }, {}},
      {"Num1 typed 123, keypad Enter", [&] { d.Num1->selectAll(); Type(d.Num1, "123"); Key(d.Num1, Qt::Key_Enter); },
       {"g:100123"}},
      {"Num1 arrow up", [&] { d.Num1->stepBy(1); }, {"g:100124"}},
      {"Num2 at 0, Enter", [&] { Key(d.Num2, Qt::Key_Return); }, {"g:200000"}},
      {"Num2 arrow down at 0", [&] { d.Num2->stepBy(-1); }, {"g:200000"}},
      {"leftmost cell", [] { ClickCell(0); }, {"g:332768"}},
      {"leftmost cell again", [] { ClickCell(0); }, {"g:300000"}},
      {"leftmost and rightmost", [] { ClickCell(0); ClickCell(15); }, {"g:332768", "g:332769"}},
      {"cell 14 is bit 1", [] { ClickCell(15); ClickCell(0); ClickCell(14); }, {"g:332768", "g:300000", "g:300002"}},
  };
  for (const auto& r : rows) {
    r.act();
    EXPECT_EQ(Serial(), r.sent) << r.name;
  }
  EXPECT_EQ(d.Num3->item(0, 14)->text(), "1");
}

TEST_F(ServiceConsoleTest, Num3ShowsNoHeadersOrScrollBarsAndFitsItsCells) {
  Start(false);
  auto* grid = Debug->Num3;
  EXPECT_EQ(grid->columnCount(), 16);
  EXPECT_EQ(grid->rowCount(), 1);
  EXPECT_FALSE(grid->horizontalHeader()->isVisible());
  EXPECT_FALSE(grid->verticalHeader()->isVisible());
  EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
  // Every cell is wholly in view, so the marker label above matches them.
  for (int c = 0; c < 16; ++c) {
    EXPECT_EQ(grid->item(0, c)->text(), "0");
    EXPECT_TRUE(grid->viewport()->rect().contains(grid->visualItemRect(grid->item(0, c)))) << "cell " << c;
  }
}

TEST_F(ServiceConsoleTest, OverUsbTheFramesGoToTheDeviceAndNothingToTheSerialLink) {
  Start(true);
  VestraMdebug->SpectrCtrl->SetItemIndex(2);
  const std::vector<Bytes> writes = usb_.Writes();
  Bytes expected(64, 0);
  expected[0] = 0x02, expected[1] = 0x73, expected[2] = 0x32, expected[3] = 0x03;
  EXPECT_EQ(writes, std::vector<Bytes>{expected});
  VestraMdebug->SpectrCtrl->SetItemIndex(0);
  ASSERT_EQ(usb_.Writes().size(), 1u);
  usb_.Commands();
  Debug->Num1->SetValue(5);
  Key(Debug->Num1, Qt::Key_Return);
  EXPECT_EQ(usb_.Commands(), (Strings{"g:100005"}));
  EXPECT_TRUE(Serial().empty());
}

TEST_F(ServiceConsoleTest, WithoutUsbTheSpectrumFrameGoesNowhereAndNothingIsReported) {
  Start(false);
  const QStringList log = LogLines();
  VestraMdebug->SpectrCtrl->SetItemIndex(1);
  testsupport::Pump(50);
  EXPECT_TRUE(Serial().empty());
  EXPECT_TRUE(usb_.Writes().empty());
  EXPECT_EQ(LogLines(), log);
}

TEST_F(ServiceConsoleTest, TheDecoderPanelSendsNothing) {
  Start(true);
  auto& v = *VestraMdebug;
  for (TRadioGroup* g : {v.DecodingType, v.CharSize, v.Mode7d5, v.CodeType, v.ParityCtrl, v.TxMode, v.Alphabet})
    g->SetItemIndex(1);
  v.SetDecoder->click();
  testsupport::Pump(50);
  EXPECT_TRUE(usb_.Writes().empty());
  EXPECT_TRUE(Serial().empty());
}

TEST_F(ServiceConsoleTest, DoubleClickEmptiesTheLogAndLaterEventsStartANewList) {
  Start(true);
  ASSERT_EQ(LogLines(), (QStringList{"Устройство отключено", "Устройство подключено"}));
  DoubleClickLog();
  EXPECT_TRUE(Debug->Debug->toPlainText().isEmpty());
  usb_.Unplug();
  ASSERT_TRUE(PumpUntil([] { return LogLines().size() >= 2; }));
  EXPECT_EQ(LogLines(), (QStringList{"USB отключено", "Устройство отключено"}));
}

TEST_F(ServiceConsoleTest, TheLogKeepsTheNewestThousandLines) {
  Start(true);
  ASSERT_EQ(LogLines(), (QStringList{"Устройство отключено", "Устройство подключено"}));
  for (int i = 0; i < 1200; ++i) Main->HandleLinkMessage(i % 2 ? kLinkCrc : kLinkBlockLength);
  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 1000);
  EXPECT_EQ(lines.front(), "Ошибка длины Bulk2");
  EXPECT_EQ(lines.back(), "Ошибка CRC");
}

TEST(DebugPlacement, ReadWhenFirstShownAndKeptByARunThatNeverShowsIt) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    ProgramIni().WriteInteger("TDebug", "Left", 123);
    ProgramIni().WriteInteger("TDebug", "Top", 77);
  }
  EXPECT_EQ(win32::IniFile(InitializationFilePath()).ReadInteger("TDebug", "Left"), 123);
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    Debug->show();
    EXPECT_EQ(Debug->pos(), QPoint(123, 77));
    Debug->move(140, 90);
  }
  EXPECT_EQ(win32::IniFile(InitializationFilePath()).ReadInteger("TDebug", "Left"), 140);
}

}  // namespace
