// The USB link's worker against a scripted device, seen from the main window: the link
// events and their texts, LinkKind, the upload on connection, reports and blocks.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <thread>

#include "app/Startup.h"
#include "app/dsp/Udebug.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"
#include "app/spectrum/Uiq.h"
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
  QElapsedTimer clock;
  clock.start();
  Start(false);
  testsupport::Pump(450);
  const int attempts = device_.OpenAttempts();
  // Measured, not assumed: on a loaded machine the pump may run past its 450 ms.
  const qint64 elapsed = clock.elapsed();
  EXPECT_EQ(DebugLines(), QStringList{"Устройство отключено"});
  EXPECT_EQ(Main->LinkKind, 1);
  EXPECT_GE(attempts, 3);
  EXPECT_LE(attempts, 2 + elapsed / 100) << elapsed << " ms";  // one at once, then one per 100 ms
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

// Each way the device can fail a connection or a read that is starting gives its line in the
// debug console, then the reconnect ("Устройство отключено", and the device still present
// is opened again at once).
TEST_F(UsbLinkTest, FailuresToStartGiveTheirLineAndReconnect) {
  using Registration = testsupport::FakeUsbDevice::Registration;
  const struct {
    const char* line;
    std::function<void(testsupport::FakeUsbDevice&)> fail;
  } cases[] = {
      {"Ошибка передачи события драйверу", [](auto& d) { d.NextRegistration(Registration::kRefused); }},
      {"Ошибка передачи события драйверу", [](auto& d) { d.NextRegistration(Registration::kNeverCompleted); }},
      {"Ошибка запроса Interrupt",
       [](auto& d) {
         d.RefuseNextReportRead();
         d.QueueReport(testsupport::ReportFrame('F', "07000000"));
       }},
      {"Ошибка запроса Bulk2",
       [](auto& d) {
         d.RefuseNextBlockRead();
         d.QueueReport(testsupport::ReportFrame('C', "010"));
       }},
  };
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    // A failing registration needs a new connection: a removal makes one.
    const int before = DebugLines().size();
    c.fail(device_);
    if (std::string(c.line) == "Ошибка передачи события драйверу") {
      device_.Unplug();
      ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 1; }));
      device_.Plug();
      ASSERT_TRUE(PumpUntil([&] { return DebugLines().mid(before).contains(QString::fromUtf8(c.line)); }));
      ASSERT_TRUE(PumpUntil([&] { return DebugLines().mid(before).count("Устройство подключено") == 2; }));
      EXPECT_EQ(LinesSince(before), "USB отключено | Устройство отключено | Устройство подключено | " +
                                        std::string(c.line) + " | Устройство отключено | Устройство подключено");
    } else {
      ASSERT_TRUE(PumpUntil([&] { return DebugLines().mid(before).count("Устройство подключено") == 1; }));
      EXPECT_EQ(LinesSince(before), std::string(c.line) + " | Устройство отключено | Устройство подключено");
    }
    EXPECT_EQ(Main->LinkKind, 2);
  }
}

// Before the worker closes a device that was open, it sends it control code 0x222014, and
// only then closes the handle.
TEST_F(UsbLinkTest, TheDeviceHearsTheCloseCodeBeforeItsHandleCloses) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  device_.Calls();
  device_.FailNextReadWithCrc();
  ASSERT_TRUE(PumpUntil([] { return DebugLines().count("Устройство подключено") == 2; }));
  const Strings calls = device_.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(Strings(calls.begin(), calls.begin() + 3), (Strings{"0x222014", "close", "0x222000"}));
}

// At a reconnection the reports of the old connection not yet taken are dropped, and the
// block ring keeps its place: the next block goes into the slot after the last one.
TEST_F(UsbLinkTest, AReconnectionDropsWaitingReportsAndKeepsTheBlockRing) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  const uint32_t block = Usb.BlockWriteIndex.load();
  const uint32_t nextBlock = (block + 1) % kRingSlots;
  device_.QueueBlock(4096, 5);
  device_.QueueReport(testsupport::ReportFrame('C', "010"));
  ASSERT_TRUE(PumpUntil([&] { return Usb.BlockReadIndex.load() == nextBlock; }));

  // A report waits in the ring (the main thread is not pumped), then the connection fails;
  // the worker's reconnection alone empties the ring.
  const uint32_t reportsBefore = Usb.ReportWriteIndex.load();
  device_.QueueReport(testsupport::ReportFrame('F', "12345678"));
  auto waitFor = [](auto done) {
    for (int ms = 0; ms < 2000 && !done(); ++ms) Sleep(1);
    return done();
  };
  ASSERT_TRUE(waitFor([&] { return Usb.ReportWriteIndex.load() != reportsBefore; }));
  device_.FailNextReadWithCrc();
  EXPECT_TRUE(waitFor([] { return Usb.ReportReadIndex.load() == Usb.ReportWriteIndex.load(); }));
  ASSERT_TRUE(PumpUntil([] { return DebugLines().count("Устройство подключено") == 2; }));
  testsupport::Pump(50);
  EXPECT_NE(Main->TunedFrequency(), 12345678);
  EXPECT_EQ(Usb.BlockWriteIndex.load(), nextBlock);
  EXPECT_EQ(Usb.BlockReadIndex.load(), nextBlock);

  device_.QueueBlock(4096, 6);
  device_.QueueReport(testsupport::ReportFrame('C', "010"));
  ASSERT_TRUE(PumpUntil([&] { return Usb.BlockReadIndex.load() == (nextBlock + 1) % kRingSlots; }));
  EXPECT_EQ(Usb.BlockRing[nextBlock][0], 6);
}

// A block reaches the IQ window only while the window is shown.
TEST_F(UsbLinkTest, BlocksReachTheIqWindowOnlyWhileItIsShown) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  IQ->VScale->setCurrentIndex(0);  // the numbers view: each block's values are written out
  auto sendBlock = [this](int16_t fill) {
    const uint32_t next = (Usb.BlockReadIndex.load() + 1) % kRingSlots;
    device_.QueueBlock(4096, fill);
    device_.QueueReport(testsupport::ReportFrame('C', "010"));
    return PumpUntil([&] { return Usb.BlockReadIndex.load() == next; });
  };
  const struct {
    bool shown;
    bool drawn;
  } cases[] = {{false, false}, {true, true}, {false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown ? "shown" : "hidden");
    c.shown ? IQ->show() : IQ->hide();
    const QImage before = IQ->IQWin->Picture().copy();
    ASSERT_TRUE(sendBlock(int16_t(1000 + DebugLines().size())));
    EXPECT_EQ(IQ->IQWin->Picture() != before, c.drawn);
  }
  IQ->hide();
}

// Over USB every command is one 64-byte buffer: STX, the letter, the digits, the checksum
// (bit 7 set, and the low 7 bits of the sum from the letter to the checksum zero), ETX.
TEST_F(UsbLinkTest, EveryCommandIsA64ByteBufferWithAValidChecksum) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  testsupport::Pump(50);
  const auto writes = device_.Writes();
  ASSERT_FALSE(writes.empty());
  for (const auto& w : writes) {
    ASSERT_EQ(w.size(), 64u);
    EXPECT_EQ(w[0], 0x02);
    size_t etx = 2;
    while (etx < w.size() && w[etx] != 0x03) ++etx;
    ASSERT_LT(etx, w.size());
    unsigned sum = 0;
    for (size_t i = 1; i < etx; ++i) sum += w[i];
    EXPECT_EQ(sum & 0x7F, 0u) << "frame with letter " << char(w[1]);
    EXPECT_TRUE(w[etx - 1] & 0x80);
  }
  // The stream switch that ends the upload, byte for byte: 's', '0', checksum 0xDD.
  EXPECT_EQ(std::vector<uint8_t>(writes.back().begin(), writes.back().begin() + 5),
            (std::vector<uint8_t>{0x02, 's', '0', 0xDD, 0x03}));
}

// WriteCommand's results: 0 written, 2 refused as it starts, 3 not completed within 500 ms.
// A write given up is still in flight; its late completion must not pass for the next
// write's, and the driver receives both buffers as they were written.
TEST_F(UsbLinkTest, WriteCommandResultsAndAWriteGivenUp) {
  Start(true);
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }));
  testsupport::Pump(50);
  device_.Writes();
  const uint8_t first[64] = {0x02, 's', '1', 0xDC, 0x03};
  const uint8_t second[64] = {0x02, 's', '0', 0xDD, 0x03};

  EXPECT_EQ(Usb.WriteCommand(first), 0);
  device_.RefuseNextWrite();
  EXPECT_EQ(Usb.WriteCommand(first), 2);

  device_.HoldWrites(true);
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(Usb.WriteCommand(first), 3);
  EXPECT_GE(t.elapsed(), 450);
  // The given-up write completes while the next one waits for its own completion.
  std::thread late([this] {
    Sleep(100);
    device_.CompleteOldestHeldWrite();
  });
  EXPECT_EQ(Usb.WriteCommand(second), 3);
  late.join();
  device_.HoldWrites(false);
  EXPECT_TRUE(device_.CompleteOldestHeldWrite());
  EXPECT_EQ(Usb.WriteCommand(second), 0);

  const auto writes = device_.Writes();
  ASSERT_EQ(writes.size(), 4u);
  const std::vector<uint8_t> a(first, first + 64), b(second, second + 64);
  EXPECT_EQ(writes, (std::vector<std::vector<uint8_t>>{a, a, b, b}));
}

}  // namespace
