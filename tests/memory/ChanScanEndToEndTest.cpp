// The channel scan against the real simulator over USB, in one process with the kernel
// stand-in and the driver: channels stored on the simulator's carriers and on an empty
// frequency, a scan that stops on the first carrier, and the commands the receiver got.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/dsp/Udebug.h"
#include "app/dsp/Umparams.h"
#include "app/memory/Uchan.h"
#include "app/panel/Umain.h"
#include "tests/e2e/SimulatorOverUsb.h"
#include "tests/support/ProgramRun.h"

namespace {

using testsupport::PumpUntil;
using Strings = std::vector<std::string>;

class ChanScanEndToEnd : public SimulatorOverUsb {
 protected:
  ChanScanEndToEnd() { simArguments = {"--no-serial", "--log", "@DIR/frames.log"}; }
  void SetUp() override {
    SimulatorOverUsb::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    run_ = std::make_unique<testsupport::ProgramRun>(config_.path(), "/nonexistent/tty");
    ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }, 10000)) << Debug->Debug->toPlainText().toStdString();
    Chan->OpenChannelFile(files_.path() + "/Channels.ini");
    Chan->show();
  }
  void TearDown() override {
    if (Chan) Chan->ScanPause->PerformClick();
    run_.reset();
    SimulatorOverUsb::TearDown();
  }

  // Every command frame the simulator logged, as "F 1600000": letter and value.
  Strings Logged() const {
    std::ifstream in(sim->directory() + "/frames.log");
    Strings out;
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::vector<std::string> w;
      for (std::string s; words >> s;) w.push_back(s);
      if (w.size() >= 2) out.push_back(w[w.size() - 2] + " " + w.back());
    }
    return out;
  }
  void Store(const QString& name, int32_t f, TPictureButton* bandwidth, TPictureButton* mode) {
    Main->TuneTo(f);
    bandwidth->PerformClick();
    mode->PerformClick();
    Chan->SaveChanName->setText(name);
    Chan->SaveChanLast->PerformClick();
  }

  QTemporaryDir config_, files_;
  std::unique_ptr<testsupport::ProgramRun> run_;
};

TEST_F(ChanScanEndToEnd, ScanStopsOnTheFirstCarrierAfterAnEmptyChannel) {
  // The simulator's scene has carriers of 50, 45 and 40 dBµV at 5, 10 and 15 MHz; nothing
  // lies within the spectrum's span around 1.6 MHz.
  Main->SldTon->setValue(10);
  MParams->Sideband->SetValue(1850);
  Store("5 МГц", 5000000, Main->BtnPol3k, Main->BtnAM);
  Store("Пусто", 1600000, Main->BtnPol1k, Main->BtnTLG);
  Store("10 МГц", 10000000, Main->BtnPol3k, Main->BtnVBP);
  Store("15 МГц", 15000000, Main->BtnPol6k, Main->BtnNBP);
  ASSERT_EQ(Chan->ChanList->count(), 4);

  Chan->ChanList->Choose(1);  // the empty channel
  Main->BtnGO->PerformClick();
  Chan->Time->SetValue(600);  // several sample blocks at each channel
  Chan->Porog->SetValue(20);
  testsupport::Pump(800);
  ASSERT_LT(Spectrum.PeakLevel, 20) << "the noise floor at 1.6 MHz lies below the threshold";

  const size_t before = Logged().size();
  Chan->ScanRight->PerformClick();
  ASSERT_TRUE(PumpUntil([] { return !Chan->ScanTimer->isActive(); }, 10000)) << "at channel " << Chan->CurrentChannel;
  EXPECT_EQ(Chan->CurrentChannel, 3);
  EXPECT_EQ(Chan->ChanList->ItemIndex(), 2);
  EXPECT_TRUE(Chan->ScanPause->Down());
  EXPECT_GE(Spectrum.PeakLevel, 20);
  EXPECT_EQ(Main->TunedFrequency(), 10000000);

  // The start recalls the empty channel again, the first tick moves to the next one; the
  // second tick stops there and sends nothing.
  ASSERT_TRUE(PumpUntil([&] { return Logged().size() >= before + 11; }, 3000));
  testsupport::Pump(300);
  const Strings all = Logged();
  const Strings sent(all.begin() + std::ptrdiff_t(before), all.end());
  EXPECT_EQ(sent, (Strings{"F 1600000", "H 1000", "L 1000", "E 91", "H 1000",  // channel 2, telegraphy
                           "F 10000000", "H 3000", "e 1850", "L 1850", "E 92", "H 3000"}));  // channel 3
  EXPECT_NE(sim->command("status").value_or("?").find("частота 10000000 Гц"), std::string::npos);
  Main->BtnGO->PerformClick();
}

}  // namespace
