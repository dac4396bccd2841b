// The USB link's worker against a scripted device, seen from the main window: the link
// events and their texts, LinkKind, the upload on connection, reports and blocks.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include "app/dsp/Udebug.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"
#include "platform/win32/Sync.h"
#include "tests/support/FakeUsbDevice.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

using Strings = std::vector<std::string>;
using testsupport::PumpUntil;

namespace {

QStringList DebugLines() {
  return Debug->Debug->toPlainText().split('\n', Qt::SkipEmptyParts);
}

// The debug console's lines from line `first` on, joined so that a mismatch reads plainly.
std::string LinesSince(int first) { return DebugLines().mid(first).join(" | ").toStdString(); }

class UsbLinkTest : public ::testing::Test {
 protected:
  void Start(bool plugged) {
    if (plugged) device_.Plug();
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), "/nonexistent/tty");
  }
  QTemporaryDir config_;
  testsupport::FakeUsbDevice device_;
  std::unique_ptr<testsupport::ProgramRun> run_;
};

TEST_F(UsbLinkTest, NoDeviceSearchesEvery100Ms) {
  Start(false);
  testsupport::Pump(450);
  EXPECT_EQ(DebugLines(), QStringList{"Устройство отключено"});
  EXPECT_EQ(Main->LinkKind, 1);
  EXPECT_GE(device_.OpenAttempts(), 3);
  EXPECT_LE(device_.OpenAttempts(), 7);
}

TEST_F(UsbLinkTest, PluggingInUploadsTheStateThenTheStreamSwitch) {
  Start(false);
  testsupport::Pump(150);
  device_.Plug();
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  testsupport::Pump(50);
  EXPECT_EQ(DebugLines(), (QStringList{"Устройство отключено", "Устройство подключено"}));
  EXPECT_TRUE(device_.RemovalEventRegistered());
  const Strings commands = device_.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.front(), "F:01000000");
  EXPECT_EQ(commands.back(), "s:0");
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "s:0"), 1);
  EXPECT_EQ(commands.size(), 22u);  // the 21 frames of the full upload, then s
}

// Each unplug gives exactly these two lines and the serial link, whether the receiver goes
// while a read is pending or just before the next read starts (the read is then refused,
// after the removal event is set); nothing more comes while it is away, and plugging it in
// again connects.
TEST_F(UsbLinkTest, UnpluggingFallsBackToTheSerialLink) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  const struct {
    const char* when;
    bool atNextRead;
  } cases[] = {{"while a read is pending", false}, {"as the next read starts", true}, {"again while pending", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    const int before = DebugLines().size();
    if (c.atNextRead) {
      device_.UnplugAtNextRead();
      device_.QueueReport(testsupport::ReportFrame('F', "07000000"));
    } else {
      device_.Unplug();
    }
    ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 1; }));
    testsupport::Pump(300);
    EXPECT_EQ(LinesSince(before), "USB отключено | Устройство отключено");
    device_.Plug();
    ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
    testsupport::Pump(50);
    EXPECT_EQ(LinesSince(before), "USB отключено | Устройство отключено | Устройство подключено");
  }
}

// The worker empties the report ring at every connection. A reconnection in the middle of
// a drain must not make the drain take the old connection's slots again: the ring has
// been round once, so every slot holds a report already parsed.
TEST_F(UsbLinkTest, ReconnectionDuringADrainTakesNothingOfTheOldConnectionAgain) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  for (int i = 0; i < kRingSlots + 3; ++i) {
    const uint32_t next = (Usb.ReportWriteIndex.load() + 1) % kRingSlots;
    device_.QueueReport(testsupport::ReportFrame('F', std::to_string(10000000 + i)));
    ASSERT_TRUE(PumpUntil([&] { return Usb.ReportReadIndex.load() == next; }));
  }
  // Six reports wait in the ring; the main thread is not pumped, so nothing drains them.
  const uint32_t base = Usb.ReportWriteIndex.load();
  for (int i = 1; i <= 6; ++i) device_.QueueReport(testsupport::ReportFrame('F', "0200000" + std::to_string(i)));
  const uint32_t queued = (base + 6) % kRingSlots;
  auto waitFor = [](auto done) {
    for (int ms = 0; ms < 2000 && !done(); ++ms) Sleep(1);
    return done();
  };
  ASSERT_TRUE(waitFor([&] { return Usb.ReportWriteIndex.load() == queued; }));

  Strings taken;
  bool reconnected = false;
  Usb.DrainReports([&](const uint8_t* slot) {
    taken.emplace_back(reinterpret_cast<const char*>(slot) + 2, 8);
    if (taken.size() != 3) return;
    // The connection fails; the worker reconnects and queues the new connection's first
    // report while this drain is still under way.
    device_.FailNextReadWithCrc();
    device_.QueueReport(testsupport::ReportFrame('F', "03000000"));
    reconnected = waitFor([&] { return Usb.ReportWriteIndex.load() != queued; });
  });
  EXPECT_TRUE(reconnected);
  EXPECT_EQ(taken, (Strings{"02000001", "02000002", "02000003", "03000000"}));
  ASSERT_TRUE(PumpUntil([] { return DebugLines().count("Устройство подключено") == 2; }));
}

TEST_F(UsbLinkTest, ReportsAreQueuedAndAGainReportFetchesItsBlock) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  device_.QueueReport(testsupport::ReportFrame('F', "14100200"));
  ASSERT_TRUE(PumpUntil([] { return Main->TunedFrequency() == 14100200; }));

  const uint32_t blocksBefore = Usb.BlockWriteIndex.load();
  const uint32_t reportsBefore = Usb.ReportWriteIndex.load();
  device_.QueueBlock(4096, 100);
  device_.QueueReport(testsupport::ReportFrame('C', "042"));
  ASSERT_TRUE(PumpUntil([&] { return Usb.BlockWriteIndex.load() != blocksBefore; }));
  EXPECT_EQ(Usb.BlockWriteIndex.load(), (blocksBefore + 1) % kRingSlots);
  EXPECT_EQ(Usb.ReportWriteIndex.load(), reportsBefore);  // a C report is not queued
  EXPECT_EQ(Spectrum.ReportedGain.load(), 42);
  ASSERT_TRUE(PumpUntil([] { return Usb.BlockReadIndex.load() == Usb.BlockWriteIndex.load(); }));
}

TEST_F(UsbLinkTest, ShortBlockIsReportedAndNotQueued) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  const uint32_t before = Usb.BlockWriteIndex.load();
  device_.QueueBlock(2048);
  device_.QueueReport(testsupport::ReportFrame('C', "010"));
  ASSERT_TRUE(PumpUntil([] { return DebugLines().contains("Ошибка длины Bulk2"); }));
  EXPECT_EQ(Usb.BlockWriteIndex.load(), before);
  EXPECT_EQ(Main->LinkKind, 2);  // a short block does not cost the connection
}

TEST_F(UsbLinkTest, MissingBlockTimesOutAndReconnects) {
  Usb.BlockTimeoutMs = 200;
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  device_.QueueReport(testsupport::ReportFrame('C', "010"));
  ASSERT_TRUE(PumpUntil([] { return DebugLines().contains("Ошибка тайм-аута Bulk2"); }));
  ASSERT_TRUE(PumpUntil([] { return DebugLines().count("Устройство подключено") == 2; }));
  Usb.BlockTimeoutMs = kBlockTimeoutMs;
}

TEST_F(UsbLinkTest, CrcErrorReconnects) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  device_.FailNextReadWithCrc();
  ASSERT_TRUE(PumpUntil([] { return DebugLines().contains("Ошибка CRC"); }));
  ASSERT_TRUE(PumpUntil([] { return DebugLines().count("Устройство подключено") == 2; }));
}

TEST_F(UsbLinkTest, ShutDownWithoutDeviceEndsTheWorkerQuickly) {
  Start(false);
  testsupport::Pump(120);
  QElapsedTimer t;
  t.start();
  Usb.Stop();
  EXPECT_TRUE(Usb.WaitForWorker(100));
  EXPECT_LT(t.elapsed(), 100);
}

TEST_F(UsbLinkTest, WritesWithoutADeviceAreLost) {
  Start(false);
  const uint8_t frame[64] = {0x02, 's', '1', 0xDC, 0x03};
  EXPECT_EQ(Usb.WriteCommand(frame), 1);
}

}  // namespace
