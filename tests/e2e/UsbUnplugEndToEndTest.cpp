// Unplugging and plugging the receiver, in one process against the real simulator over
// USB/IP: the simulator's console drops the connection, the kernel stand-in delivers it to
// the driver as a surprise removal, and the program falls back to the serial link with
// exactly "USB отключено" and "Устройство отключено", never reconnecting to the departing
// device, until the simulator exports the receiver again.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/dsp/Udebug.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"
#include "tests/e2e/SimulatorOverUsb.h"
#include "tests/support/ProgramRun.h"

namespace {

using testsupport::PumpUntil;

QStringList DebugLines() { return Debug->Debug->toPlainText().split('\n', Qt::SkipEmptyParts); }

// The debug console's lines from line `first` on, joined so that a mismatch reads plainly.
std::string LinesSince(int first) { return DebugLines().mid(first).join(" | ").toStdString(); }

// Red pixels where the spectrum, as last drawn, writes its notice that the USB link is off.
int NoticePixels() {
  const QImage& picture = Main->Spectr->Picture();
  int red = 0;
  for (int y = 100; y < 145; ++y)
    for (int x = 95; x < 415; ++x) red += (picture.pixel(x, y) & 0xFFFFFF) == 0xFF0000;
  return red;
}

class UsbUnplugEndToEnd : public SimulatorOverUsb {};

TEST_F(UsbUnplugEndToEnd, EachUnplugFallsBackToTheSerialLinkAndEachPlugReconnects) {
  QTemporaryDir config;
  testsupport::ProgramRun run(config.path(), "/nonexistent/tty");
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }, 10000)) << LinesSince(0);
  // The stream on: reports and sample blocks are in flight when the receiver goes, and
  // every connection switches it on again.
  Main->BtnGO->PerformClick();
  ASSERT_TRUE(PumpUntil([] { return Usb.BlockWriteIndex.load() != 0; }, 5000));
  for (int round = 1; round <= 4; ++round) {
    SCOPED_TRACE(round);
    const int before = DebugLines().size();
    ASSERT_TRUE(sim->command("unplug"));
    ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 1; }, 5000));
    // Longer than the bus's half-second search: a stray removal or a reconnection to the
    // departing device would show by now.
    testsupport::Pump(1200);
    EXPECT_EQ(LinesSince(before), "USB отключено | Устройство отключено");
    EXPECT_EQ(Main->LinkKind, 1);
    EXPECT_GT(NoticePixels(), 500);

    ASSERT_TRUE(sim->command("plug"));
    ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }, 10000));
    testsupport::Pump(1200);
    EXPECT_EQ(LinesSince(before), "USB отключено | Устройство отключено | Устройство подключено");
    EXPECT_EQ(Main->LinkKind, 2);
    EXPECT_LT(NoticePixels(), 100);
  }
  Main->BtnGO->PerformClick();
}

}  // namespace
