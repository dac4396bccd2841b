// Section [Rigctl]: the server is off unless enabled, listens where Address says, and an
// address it cannot use is one line on standard error while the program runs on.
#include <gtest/gtest.h>

#include <QTcpServer>
#include <algorithm>
#include <QTemporaryDir>

#include "app/dsp/Udebug.h"
#include "app/panel/Umain.h"
#include "app/remote/RigctlServer.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

struct Start {
  bool listening;
  std::string stderrText;
};

// One start of the program with section [Rigctl] as given (a key left empty is not written).
Start StartWith(const QString& enabled, const QString& address) {
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    if (!enabled.isEmpty()) ini.WriteString("Rigctl", "Enabled", enabled);
    if (!address.isEmpty()) ini.WriteString("Rigctl", "Address", address);
  }
  testing::internal::CaptureStderr();
  testsupport::ProgramRun run(config.path(), receiver.SlavePath());
  const bool listening = Main->Remote != nullptr;
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(Main->isVisible());  // the program runs, with or without the server
  return {listening, err};
}

int Lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

TEST(RigctlSettings, OffUnlessEnabled) {
  for (const char* enabled : {"", "0", "yes", "2"}) {
    const Start s = StartWith(enabled, "127.0.0.1:0");
    EXPECT_FALSE(s.listening) << enabled;
    EXPECT_EQ(s.stderrText.find("управление по сети"), std::string::npos) << enabled;
  }
}

TEST(RigctlSettings, ListensWhereTheAddressSays) {
  for (const char* address : {"127.0.0.1:0", "localhost:0", "[::1]:0"}) {
    const Start s = StartWith("1", address);
    EXPECT_TRUE(s.listening) << address;
  }
}

TEST(RigctlSettings, APortInUseOrABadAddressIsOneLineOnStandardError) {
  QTcpServer occupant;
  ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, 0));
  const QString inUse = QString("127.0.0.1:%1").arg(occupant.serverPort());
  for (const QString& address : {inUse, QString("127.0.0.1"), QString("somewhere:4532"), QString("127.0.0.1:70000"),
                                 QString("::1:4532")}) {
    const Start s = StartWith("1", address);
    EXPECT_FALSE(s.listening) << address.toStdString();
    const auto at = s.stderrText.find("управление по сети не запущено");
    EXPECT_NE(at, std::string::npos) << s.stderrText;
    if (at != std::string::npos) {
      EXPECT_EQ(Lines(s.stderrText.substr(at)), 1) << s.stderrText;
    }
  }
}

}  // namespace
