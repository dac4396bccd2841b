// Where a command goes: over the serial link exactly the frame's bytes reach the port; while
// the USB link is in use, or with no link chosen, nothing does.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

namespace {

class SendCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), receiver_.SlavePath());
    receiver_.Take(30);  // whatever the start sent
  }
  void TearDown() override { Main->LinkKind = 1; }

  // The raw bytes that reach the far end of the port within `waitMs`.
  std::vector<uint8_t> Arrived(int waitMs = 100) { return receiver_.TakeBytes(waitMs); }

  QTemporaryDir config_;
  testsupport::PtyReceiver receiver_;
  std::unique_ptr<testsupport::ProgramRun> run_;
};

TEST_F(SendCommandTest, SerialCarriesExactlyTheFramesBytes) {
  ASSERT_EQ(Main->LinkKind, 1);
  SendCommand(cmd::Frequency, 30000000);
  SendCommand(cmd::AgcThreshold, -5);
  EXPECT_EQ(Arrived(), (std::vector<uint8_t>{0x02, 0x46, 0x33, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0xB7, 0x03,
                                             0x02, 0x58, 0x2D, 0x30, 0x35, 0x96, 0x03}));
}

TEST_F(SendCommandTest, NothingReachesTheSerialPortUnlessItIsTheLink) {
  for (int kind : {2, 0, 3, 255}) {
    Main->LinkKind = uint8_t(kind);
    SendCommand(cmd::Frequency, 14200300);
    SendCommand(cmd::Mode, cmd::kModeTLG);
    EXPECT_TRUE(Arrived(50).empty()) << "LinkKind " << kind;
  }
  Main->LinkKind = 1;
  SendCommand(cmd::Preamp, 1);
  EXPECT_EQ(Arrived(), (std::vector<uint8_t>{0x02, 'P', '1', 0xFF, 0x03}));
}

}  // namespace
