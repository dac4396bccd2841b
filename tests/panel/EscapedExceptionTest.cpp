// An exception that escapes an event handler is shown in one error box and the program
// goes on: its controls still work and it still saves at exit.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <stdexcept>

#include "app/Application.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

// A left click as the window system delivers it, through the application's dispatch.
void Click(QWidget* w) {
  const QPointF at = w->rect().center();
  const QPointF global = w->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QApplication::sendEvent(w, &release);
}

int VisibleErrorBoxes() {
  int n = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(w) && w->isVisible()) ++n;
  return n;
}

TEST(EscapedException, IsShownOnceAndTheProgramGoesOnAndSaves) {
  auto* app = qobject_cast<ProgramApplication*>(qApp);
  ASSERT_NE(app, nullptr);
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    receiver.Take(60);
    const auto sendsPreamp = Main->BtnUvc->OnClick;
    Main->BtnUvc->OnClick = [] { throw std::runtime_error("отказ обработчика"); };
    Click(Main->BtnUvc);
    ASSERT_NE(app->ErrorBox(), nullptr);
    EXPECT_EQ(app->ErrorBox()->text(), "отказ обработчика");
    EXPECT_EQ(app->ErrorBox()->icon(), QMessageBox::Critical);
    Click(Main->BtnUvc);  // a second failure while the box is up adds no box
    EXPECT_EQ(VisibleErrorBoxes(), 1);

    app->ErrorBox()->close();
    testsupport::Pump(50);
    EXPECT_EQ(VisibleErrorBoxes(), 0);
    Main->BtnUvc->OnClick = sendsPreamp;
    const bool down = Main->BtnUvc->Down();
    Click(Main->BtnUvc);  // the window still works
    const auto sent = testsupport::ToStrings(receiver.Take(10));
    EXPECT_EQ(sent, std::vector<std::string>{down ? "P:0" : "P:1"});
    Main->AttVch->SetValue(11);
  }
  EXPECT_EQ(win32::IniFile(config.path() + "/PVestra/PVestra.ini").ReadString("TMain", "AttVch.Value"), "11");
}

}  // namespace
