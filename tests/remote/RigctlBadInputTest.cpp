// What a careless or hostile client can send to the server, over the real socket: each case
// gets an error or is dropped, other clients go on, and the window stays responsive — a
// timer of the window's thread keeps firing on time throughout.
#include <QElapsedTimer>
#include <QTimer>

#include "tests/remote/RemoteProgramTest.h"

namespace {

// Counts the ticks of a 10 ms timer in the window's thread and keeps the longest gap.
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (clock_.isValid()) longest_ = std::max(longest_, clock_.restart());
      else clock_.start();
    });
  }
  void Start() { timer_.start(); }
  qint64 LongestGapMs() const { return longest_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

// The window counts as responsive while no tick of the timer is later than this: a window
// blocked by a client shows as seconds, while the machine's own load can delay a tick by a
// few hundred milliseconds.
constexpr qint64 kResponsiveMs = 1000;

class RigctlBadInputTest : public remotetest::RemoteSocketTest {
 protected:
  void SetUp() override {
    RemoteProgramTest::SetUp();
    heartbeat_.Start();  // from here: the start-up itself is not the server's doing
  }
  Heartbeat heartbeat_;
};

struct BadInput {
  const char* name;
  QByteArray bytes;
  QByteArray answer;
};

QByteArray Garbage() {
  QByteArray g;
  for (int i = 0; i < 256; ++i)
    if (i != '\n') g += char(i);
  return g + '\n';
}

TEST_F(RigctlBadInputTest, EachIsAnsweredWithAnErrorAndTheClientGoesOn) {
  const BadInput cases[] = {
      {"unknown short command", "k\n", "RPRT -1\n"},
      {"unknown long command", "\\frobnicate 1 2\n", "RPRT -1\n"},
      {"Hamlib command the receiver lacks", "\\set_split_vfo 1 VFOB\n", "RPRT -11\n"},
      {"malformed number", "F 7.1.2\n", "RPRT -1\n"},
      {"hexadecimal number", "F 0x6C5FE0\n", "RPRT -1\n"},
      {"not a number", "F seven\n", "RPRT -1\n"},
      {"missing value", "F\n", "RPRT -1\n"},
      {"value too many", "F 7100000 7200000\n", "RPRT -1\n"},
      {"infinite frequency", "F 1e999\n", "RPRT -1\n"},
      {"unknown level", "l LOUDNESS\n", "RPRT -1\n"},
      {"level without a control", "l SQL\n", "RPRT -11\n"},
      {"level value not a number", "L ATT many\n", "RPRT -1\n"},
      {"unknown mode", "M WOBBLE 0\n", "RPRT -1\n"},
      {"unknown VFO", "V VFOQ\n", "RPRT -1\n"},
      {"extended prefix alone", "+\n", ":\nRPRT -1\n"},
      {"line over 4 KB", "F " + QByteArray(5000, '7') + "\n", "RPRT -1\n"},
      {"binary garbage", Garbage(), "RPRT -1\n"},
  };
  auto s = Connect();
  for (const BadInput& c : cases) {
    const int lines = int(c.answer.count('\n'));
    EXPECT_EQ(Exchange(*s, c.bytes, lines), c.answer) << c.name;
    EXPECT_EQ(Exchange(*s, "f\n"), "1000000\n") << "after " << c.name;
  }
  EXPECT_EQ(received_, std::vector<std::string>{});
  EXPECT_LT(heartbeat_.LongestGapMs(), kResponsiveMs);
}

TEST_F(RigctlBadInputTest, ALongLineArrivingInPiecesIsOneError) {
  auto s = Connect();
  QByteArray answer;
  for (int i = 0; i < 10; ++i) answer += Exchange(*s, QByteArray(1000, 'x'), 1, 50);
  answer += Exchange(*s, "\nf\n", 2);
  EXPECT_EQ(answer, "RPRT -1\n1000000\n");
}

TEST_F(RigctlBadInputTest, NineClientsAtOnceTheNinthIsRefused) {
  std::vector<std::unique_ptr<QTcpSocket>> clients;
  for (int i = 0; i < RigctlServer::kMaxClients; ++i) clients.push_back(Connect());
  for (auto& c : clients) EXPECT_EQ(Exchange(*c, "f\n"), "1000000\n");

  QTcpSocket ninth;
  ninth.connectToHost(QHostAddress::LocalHost, port_);
  EXPECT_TRUE(Closed(ninth));
  for (auto& c : clients) EXPECT_EQ(Exchange(*c, "t\n"), "0\n");

  clients.front()->disconnectFromHost();
  ASSERT_TRUE(testsupport::PumpUntil([] { return Main->Remote->ClientCount() == RigctlServer::kMaxClients - 1; }));
  auto another = Connect();
  EXPECT_EQ(Exchange(*another, "f\n"), "1000000\n");
  EXPECT_LT(heartbeat_.LongestGapMs(), kResponsiveMs);
}

TEST_F(RigctlBadInputTest, AClientThatNeverReadsIsDroppedAndTheOthersGoOn) {
  auto reader = Connect();
  auto deaf = Connect();
  deaf->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
  deaf->setReadBufferSize(1);  // takes one byte and then nothing more
  const QByteArray dumps = QByteArray("\\dump_state\n").repeated(200);
  bool dropped = false;
  for (int round = 0; round < 400 && !dropped; ++round) {
    deaf->write(dumps);
    dropped = testsupport::PumpUntil([&] { return deaf->state() == QAbstractSocket::UnconnectedState; }, 20);
    if (round % 50 == 0) {
      EXPECT_EQ(Exchange(*reader, "f\n"), "1000000\n");
    }
  }
  EXPECT_TRUE(dropped);
  EXPECT_EQ(Exchange(*reader, "f\n"), "1000000\n");
  EXPECT_LT(heartbeat_.LongestGapMs(), kResponsiveMs);
}

TEST_F(RigctlBadInputTest, AFloodOfTuningCommandsLeavesTheWindowResponsive) {
  auto s = Connect();
  QByteArray flood;
  for (int i = 0; i < 5000; ++i) flood += "F " + QByteArray::number(7000000 + i) + "\n";
  const QByteArray answer = Exchange(*s, flood + "f\n", 5001, 30000);
  EXPECT_EQ(answer.count("RPRT 0\n"), 5000);
  EXPECT_TRUE(answer.endsWith("7004999\n"));
  TakeFrames(5000);  // the last frames may still be on the line
  ASSERT_EQ(received_.size(), 5000u);
  EXPECT_EQ(received_.back(), "F:07004999");
  EXPECT_LT(heartbeat_.LongestGapMs(), kResponsiveMs);
}

}  // namespace
