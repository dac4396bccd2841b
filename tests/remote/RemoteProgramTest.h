// One life of the program with its network server on (a free port on the loopback), attached
// to a receiver on a pseudo-terminal. The server runs in this thread's event loop, so every
// wait for a client pumps the events.
#pragma once

#include <gtest/gtest.h>

#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "app/panel/Umain.h"
#include "app/remote/RigctlServer.h"
#include "platform/win32/IniFile.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace remotetest {

class RemoteProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      win32::IniFile ini(config_.path() + "/PVestra/PVestra.ini");
      ini.WriteString("Rigctl", "Enabled", "1");
      ini.WriteString("Rigctl", "Address", "127.0.0.1:0");  // any free port
    }
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), receiver_.SlavePath());
    ASSERT_TRUE(Main->Remote) << "the server did not start";
    port_ = Main->Remote->Port();
    receiver_.Take(30);
  }
  std::vector<std::string> Sent() { return testsupport::ToStrings(receiver_.Take(30)); }

  QTemporaryDir config_;
  testsupport::PtyReceiver receiver_;
  std::unique_ptr<testsupport::ProgramRun> run_;
  quint16 port_ = 0;
};

// The same, with clients on plain sockets.
class RemoteSocketTest : public RemoteProgramTest {
 protected:
  std::unique_ptr<QTcpSocket> Connect() {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, port_);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return s->state() == QAbstractSocket::ConnectedState; }));
    return s;
  }
  // Sends `bytes` and collects the answer until `lines` lines have come or the time is up;
  // the receiver takes the frames the program sends meanwhile, as a serial receiver does.
  QByteArray Exchange(QTcpSocket& s, const QByteArray& bytes, int lines = 1, int ms = 3000) {
    QByteArray answer;
    s.write(bytes);
    testsupport::PumpUntil(
        [&] {
          for (const auto& f : receiver_.Take()) received_.push_back(testsupport::ToString(f));
          answer += s.readAll();
          return answer.count('\n') >= lines || s.state() != QAbstractSocket::ConnectedState;
        },
        ms);
    return answer;
  }
  // Lets the receiver take frames until it holds `count` or the time is up.
  void TakeFrames(size_t count, int ms = 3000) {
    testsupport::PumpUntil(
        [&] {
          for (const auto& f : receiver_.Take()) received_.push_back(testsupport::ToString(f));
          return received_.size() >= count;
        },
        ms);
  }
  static bool Closed(QTcpSocket& s, int ms = 3000) {
    return testsupport::PumpUntil([&] { return s.state() == QAbstractSocket::UnconnectedState; }, ms);
  }
  std::vector<std::string> received_;  // frames the receiver took during the exchanges
};

}  // namespace remotetest
