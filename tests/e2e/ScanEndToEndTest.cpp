// The scanners against the real simulator over USB, in one process with the kernel
// stand-in and the driver: a panorama of the whole band, a frequency scan that stops on a
// carrier, and the two level readouts of one carrier at several gain settings.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "app/dsp/Udebug.h"
#include "app/memory/Ufscan.h"
#include "app/memory/Upanorama.h"
#include "app/panel/Umain.h"
#include "tests/e2e/SimulatorOverUsb.h"
#include "tests/support/ProgramRun.h"

namespace {

using testsupport::PumpUntil;

// The simulator on a free port, the program attached to it by USB.
class UsbSession : public SimulatorOverUsb {
 protected:
  void SetUp() override {
    SimulatorOverUsb::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), "/nonexistent/tty");
    ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }, 10000)) << Debug->Debug->toPlainText().toStdString();
  }
  void TearDown() override {
    run_.reset();
    SimulatorOverUsb::TearDown();
  }
  std::string SimStatus() { return sim->command("status").value_or("?"); }

  QTemporaryDir config_;
  std::unique_ptr<testsupport::ProgramRun> run_;
};

using ScanEndToEnd = UsbSession;

// The broadcast bands of the short waves, kHz.
bool InBroadcastBand(int32_t hz) {
  struct Band { int32_t from, to; };
  constexpr Band kBands[] = {{2300, 2495},   {3200, 3400},   {3900, 4000},   {4750, 5060},   {5900, 6200},
                             {7200, 7450},   {9400, 9900},   {11600, 12100}, {13570, 13870}, {15100, 15800},
                             {17480, 17900}, {21450, 21850}, {25670, 26100}};
  return std::any_of(std::begin(kBands), std::end(kBands),
                     [&](const Band& b) { return hz >= b.from * 1000 && hz <= b.to * 1000; });
}

int Median(std::vector<int> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The row of the trace in one column of the picture (the top one where it climbs).
std::optional<int> TraceRow(const QImage& picture, int x) {
  for (int y = 0; y < picture.height(); ++y)
    if ((picture.pixel(x, y) & 0xFFFFFF) == 0x00FF00) return y;
  return std::nullopt;
}

TEST_F(ScanEndToEnd, PanoramaOfTheBandShowsTheBroadcastBandsAndReturns) {
  Main->TuneTo(7050300);
  Panorama->show();
  Panorama->NumFreqs->SetItemIndex(0);
  Panorama->F1->SetValue(1000000);
  Panorama->F2->SetValue(30000000);
  Panorama->Start->PerformClick();
  ASSERT_TRUE(PumpUntil([] { return Panorama->PanIndex >= kPanColumns && Panorama->Start->isEnabled(); }, 20000))
      << "index " << Panorama->PanIndex;
  testsupport::Pump(200);
  EXPECT_EQ(Main->TunedFrequency(), 7050300);
  EXPECT_NE(SimStatus().find("частота 7050300 Гц"), std::string::npos) << SimStatus();

  // Each point fills four columns; the middle ones hold its level as a flat stretch.
  std::vector<int> inBand, outside;
  const QImage& picture = Panorama->PanWin->Picture();
  for (int k = 0; k < 100; ++k) {
    const int column = 4 * k + 2;
    const std::optional<int> row = TraceRow(picture, column + 25);
    ASSERT_TRUE(row) << "column " << column;
    const int level = 140 - *row;  // one pixel a dB, 0 dB at row 140
    (InBroadcastBand(Panorama->PanFrequencies[size_t(column)]) ? inBand : outside).push_back(level);
  }
  ASSERT_GE(inBand.size(), 15u);
  const int bands = Median(inBand), noise = Median(outside);
  EXPECT_GE(bands, noise + 15) << "bands " << bands << " dB, elsewhere " << noise << " dB";
  EXPECT_LT(noise, 20) << "the noise floor of a 3 kHz channel";
}

TEST_F(ScanEndToEnd, FrequencyScanStopsOnTheCarriersGridPoint) {
  ASSERT_TRUE(sim->command("signal add 14153000 60 carrier"));
  Main->TuneTo(14100000);
  Main->BtnGO->PerformClick();
  testsupport::Pump(400);
  FScan->show();
  FScan->F1->SetValue(14100000);
  FScan->F2->SetValue(14300000);
  FScan->dF->SetValue(10000);
  FScan->dT->SetValue(300);  // a few sample blocks at each point
  FScan->Porog->SetValue(30);
  ASSERT_LT(Spectrum.PeakLevel, 30) << "no signal at the start";
  FScan->ScanRight->PerformClick();
  ASSERT_TRUE(PumpUntil([] { return FScan->StoppedOnSignal; }, 10000)) << "at " << Main->TunedFrequency();
  EXPECT_EQ(Main->TunedFrequency(), 14150000);
  EXPECT_TRUE(FScan->ScanPause->Down());
  EXPECT_NEAR(Spectrum.PeakFrequency, 14153000, 22);
  testsupport::Pump(100);
  EXPECT_NE(SimStatus().find("частота 14150000 Гц"), std::string::npos) << SimStatus();
  Main->BtnGO->PerformClick();
}

// Both readouts labelled "Ls" read the antenna level: the spectrum's peak and the L report of
// one steady carrier agree within 3 dB whatever the attenuator, preamplifier and gain.
TEST_F(ScanEndToEnd, LevelScalesAgreeOnASteadyCarrier) {
  ASSERT_TRUE(sim->command("signal add 8100000 60 carrier"));
  Main->TuneTo(8100000);
  Main->BtnGO->PerformClick();
  struct Row { int att; bool preamp; int manualGain; };  // manualGain < 0: automatic gain
  const Row rows[] = {{0, true, -1},  {30, false, -1}, {45, true, -1},
                      {0, false, 40}, {15, true, 60},  {30, false, 80}};
  for (const auto& r : rows) {
    Main->AttVch->SetValue(r.att);
    if (Main->BtnUvc->Down() != r.preamp) Main->BtnUvc->PerformClick();
    if (r.manualGain < 0) {
      Main->BtnARU->PerformClick();
    } else {
      Main->BtnRRU->PerformClick();
      Main->SldRRU->setValue(r.manualGain);
    }
    testsupport::Pump(800);  // a few blocks with the new gain
    EXPECT_NEAR(Spectrum.PeakLevel, Main->ReportedLevel, 3)
        << "att " << r.att << " preamp " << r.preamp << " gain " << r.manualGain << "; " << SimStatus();
    EXPECT_NEAR(Main->ReportedLevel, 60, 1);
    EXPECT_NEAR(Spectrum.PeakFrequency, 8100000, 22);
  }
  Main->BtnGO->PerformClick();
}

}  // namespace
