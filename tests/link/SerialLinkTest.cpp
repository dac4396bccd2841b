// The serial link against a test receiver on a real pseudo-terminal: the frame assembler,
// the state request and its full-state upload, and the port's settings around a session.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "app/link/Ucom.h"
#include "app/link/Ureport.h"
#include "app/panel/Umain.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

using testsupport::Frame;
using testsupport::ProgramRun;
using testsupport::PtyReceiver;
using testsupport::ReportFrame;
using testsupport::ToStrings;

namespace {

class SerialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.isValid());
    run_ = std::make_unique<ProgramRun>(config_.path(), receiver_.SlavePath());
    receiver_.Take(50);  // whatever start-up sent
  }

  // Bytes are delivered in the given pieces; each is polled until the link has read it.
  void DeliverInPolls(const std::vector<std::vector<uint8_t>>& pieces) {
    for (const auto& piece : pieces) {
      receiver_.SendBytes(piece);
      WaitUntilRead();
    }
  }
  void SendAndWait(char letter) {
    receiver_.SendReport(letter, "");
    WaitUntilRead();
  }
  void WaitUntilRead() {
    for (int i = 0; i < 400; ++i) {
      testsupport::Pump(5);
      Serial.Poll();
      if (receiver_.InputPending() == 0) break;
    }
  }

  QTemporaryDir config_;
  PtyReceiver receiver_;
  std::unique_ptr<ProgramRun> run_;
};

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(SerialLinkTest, FrameSplitOverTwoPollsIsParsedOnceItEnds) {
  const auto f = ReportFrame('F', "12345678");
  DeliverInPolls({{f.begin(), f.begin() + 5}});
  EXPECT_EQ(Main->FreqkHz->Value(), 1000);
  DeliverInPolls({{f.begin() + 5, f.end()}});
  EXPECT_EQ(Main->FreqkHz->Value(), 12345);
  EXPECT_EQ(Main->FreqHz->Value(), 678);
}

TEST_F(SerialLinkTest, SeveralFramesInOnePollAreParsedInOrder) {
  DeliverInPolls({Concat({ReportFrame('F', "02000000"), ReportFrame('L', "-012"), ReportFrame('F', "03000123")})});
  EXPECT_EQ(Main->FreqkHz->Value(), 3000);
  EXPECT_EQ(Main->FreqHz->Value(), 123);
  EXPECT_EQ(Main->ReportedLevel, -12);
}

TEST_F(SerialLinkTest, BadChecksumAndNoiseBeforeStxAreDropped) {
  auto bad = ReportFrame('F', "02000000");
  bad[3] = '9';  // one digit changed
  DeliverInPolls({Concat({{'x', 'y', 0x7F}, bad})});
  EXPECT_EQ(Main->FreqkHz->Value(), 1000);
  DeliverInPolls({Concat({{'n', 'o', 'i', 's', 'e'}, ReportFrame('F', "02500000")})});
  EXPECT_EQ(Main->FreqkHz->Value(), 2500);
}

TEST_F(SerialLinkTest, CommandsGoOutAsWholeFramesWhileOnTheSerialLink) {
  Main->TuneTo(7000500);
  const auto frames = receiver_.Take(100);
  ASSERT_EQ(ToStrings(frames), std::vector<std::string>{"F:07000500"});
}

// The full-state upload of a first start, in its order.
const std::vector<std::string> kFirstStartUpload = {
    "F:01000000",  // frequency
    "E:90", "H:03000",  // АМ re-issues the bandwidth ...
    "H:03000",     // ... and the bandwidth goes out again
    "R:0", "S:0",  // LF band, filter shape
    "X:000", "J:0",  // automatic gain control
    "B:00", "D:00", "U:0",
    "I:0",         // test signal off
    "P:1",         // preamplifier on
    "z:0", "i:0", "w:01", "v:000",
    "N:0000",      // LF generator off
    "O:0",         // decoder off
    "K:00000", "M:0000",  // notch off
};

TEST_F(SerialLinkTest, StateRequestGetsTheFullUploadOnceUntilUsbIsLost) {
  SendAndWait('S');
  EXPECT_EQ(ToStrings(receiver_.Take(50)), kFirstStartUpload);

  SendAndWait('S');
  EXPECT_TRUE(receiver_.Take(20).empty());

  Main->HandleLinkMessage(2);  // the USB device is lost: the next request is answered again
  SendAndWait('S');
  EXPECT_EQ(ToStrings(receiver_.Take(50)), kFirstStartUpload);
}

TEST_F(SerialLinkTest, StateRequestIsIgnoredWhileOnUsb) {
  Main->LinkKind = 2;
  SendAndWait('S');
  Main->LinkKind = 1;
  EXPECT_TRUE(receiver_.Take(20).empty());
  EXPECT_FALSE(SerialUploadDone);
}

TEST_F(SerialLinkTest, FrequencyReportOnSerialUpdatesTheDisplayWhileOnUsb) {
  Main->LinkKind = 2;
  DeliverInPolls({ReportFrame('F', "15000250")});
  Main->LinkKind = 1;
  EXPECT_EQ(Main->TunedFrequency(), 15000250);
}

TEST(SerialPort, CloseGivesThePortItsFormerSettings) {
  PtyReceiver receiver;
  termios before{};
  const int fd = ::open(receiver.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ::tcgetattr(fd, &before);
  before.c_lflag |= ECHO | ICANON;  // a cooked line, unlike what the link needs
  cfsetospeed(&before, B9600);
  ::tcsetattr(fd, TCSANOW, &before);
  ::tcgetattr(fd, &before);

  win32::SetCommPortPath(1, receiver.SlavePath());
  SerialLink link;
  link.Open();
  ASSERT_TRUE(link.IsOpen());
  termios during{};
  ::tcgetattr(fd, &during);
  EXPECT_EQ(cfgetospeed(&during), speed_t(B19200));
  EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u);
  EXPECT_EQ(during.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(during.c_cflag & (PARENB | CSTOPB), 0u);
  link.Close();

  termios after{};
  ::tcgetattr(fd, &after);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), speed_t(B9600));
  ::close(fd);
}

// The port is opened without sharing, so no other program splits the receiver's bytes
// with the link: while the link holds it, another program can neither lock it nor (unless
// it runs as root) open it; a port that another program holds leaves the link closed, with
// one line on standard error that names the port.
TEST(SerialPort, IsOpenedWithoutSharing) {
  PtyReceiver receiver;
  const std::string port = receiver.SlavePath();
  win32::SetCommPortPath(1, port);
  const std::string tryLock = "flock --nonblock --conflict-exit-code 7 " + port + " true";
  {
    SerialLink link;
    link.Open();
    ASSERT_TRUE(link.IsOpen());
    const int status = std::system(tryLock.c_str());
    EXPECT_NE(status, 0) << "flock(1) got the port";  // 7: locked; 1: not even opened
    if (geteuid() != 0) {
      errno = 0;
      EXPECT_LT(::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
      EXPECT_EQ(errno, EBUSY);
    }
    SerialLink second;
    second.Open();
    EXPECT_FALSE(second.IsOpen());
    link.Close();
  }
  EXPECT_EQ(std::system(tryLock.c_str()), 0) << "the port stayed locked after the close";

  const int holder = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  testing::internal::CaptureStderr();
  SerialLink blocked;
  blocked.Open();
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(blocked.IsOpen());
  EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
  EXPECT_NE(told.find(port), std::string::npos) << told;
  ::close(holder);
}

// More frames at once than the line holds (a pseudo-terminal some 16 KB): a write that finds
// the line full waits for the receiver to read and then goes on, so every frame arrives whole
// and in order.
TEST(SerialPort, FramesBeyondWhatTheLineHoldsWaitForRoomAndArriveWhole) {
  PtyReceiver receiver;
  win32::SetCommPortPath(1, receiver.SlavePath());
  SerialLink link;
  link.Open();
  ASSERT_TRUE(link.IsOpen());
  std::vector<std::string> sent;
  for (int i = 0; i < 4000; ++i) {  // 12 bytes each
    sent.push_back("F:0" + std::to_string(7000000 + i));
    const std::vector<uint8_t> frame = ReportFrame('F', sent.back().substr(2));  // a command frame has this form
    link.Write(frame.data());
  }
  std::vector<std::string> arrived;
  for (int quiet = 0; arrived.size() < sent.size() && quiet < 10;) {
    const auto more = ToStrings(receiver.Take(100));
    quiet = more.empty() ? quiet + 1 : 0;
    arrived.insert(arrived.end(), more.begin(), more.end());
  }
  EXPECT_EQ(arrived, sent);
  link.Close();
}

TEST(SerialPort, MissingPortIsSilent) {
  win32::SetCommPortPath(1, "/nonexistent/ttyNONE");
  SerialLink link;
  testing::internal::CaptureStderr();
  link.Open();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(link.IsOpen());
  const uint8_t frame[] = {0x02, 's', '1', 0xDC, 0x03};
  link.Write(frame);
  link.Poll();
  link.Close();
}

}  // namespace
