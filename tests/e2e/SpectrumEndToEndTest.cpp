// The whole USB path in one process against the real simulator: kernel stand-in, driver,
// USB link, spectrum. A carrier the simulator is told to add shows as the spectrum's peak,
// at its frequency and about its level.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/dsp/Udebug.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"
#include "tests/e2e/SimulatorOverUsb.h"
#include "tests/support/ProgramRun.h"

namespace {

using testsupport::PumpUntil;

class SpectrumEndToEnd : public SimulatorOverUsb {};

TEST_F(SpectrumEndToEnd, SimulatedCarrierIsThePeakAtItsFrequency) {
  QTemporaryDir config;
  testsupport::ProgramRun run(config.path(), "/nonexistent/tty");
  ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }, 10000)) << Debug->Debug->toPlainText().toStdString();
  Main->TuneTo(8000000);
  // Stronger than anything the band has there: the gain control follows it.
  ASSERT_TRUE(sim->command("signal add 8002000 90 carrier"));
  Main->BtnGO->PerformClick();
  const int32_t wanted = 8002000;
  ASSERT_TRUE(PumpUntil([&] { return std::abs(Spectrum.PeakFrequency - wanted) <= 22; }, 10000))
      << "peak at " << Spectrum.PeakFrequency << ", blocks " << Usb.BlockWriteIndex.load() << ", fft "
      << (Spectrum.FftEntry != nullptr) << ", sim: " << sim->command("status").value_or("?");
  // The level axis reads antenna levels: the readout lands near the carrier's 90 dBµV.
  testsupport::Pump(500);
  EXPECT_NEAR(Spectrum.PeakLevel, 90, 8);
  Main->BtnGO->PerformClick();
}

}  // namespace
