// Commands over USB reach the simulator through the driver as whole frames with a good
// checksum: the simulator's frame log shows each one parsed, and none refused.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>
#include <vector>

#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"
#include "tests/e2e/SimulatorOverUsb.h"
#include "tests/support/ProgramRun.h"

namespace {

class UsbCommandFrame : public SimulatorOverUsb {
 protected:
  UsbCommandFrame() { simArguments = {"--no-serial", "--log", "@DIR/frames.log"}; }

  std::vector<std::string> LogLines() const {
    std::ifstream in(sim->directory() + "/frames.log");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  bool Logged(const std::string& text) const {
    for (const std::string& l : LogLines())
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST_F(UsbCommandFrame, CommandsArriveWholeWithAGoodChecksum) {
  QTemporaryDir config;
  testsupport::ProgramRun run(config.path(), "/nonexistent/tty");
  ASSERT_TRUE(testsupport::PumpUntil([] { return Main->LinkKind == 2; }, 10000));
  SendCommand(cmd::Frequency, 14200300);
  SendCommand(cmd::AgcThreshold, -5);
  const std::string frequency = "usb 02 46 31 34 32 30 30 33 30 30 B0 03 F 14200300";
  const std::string threshold = "usb 02 58 2D 30 35 96 03 X -5";
  EXPECT_TRUE(testsupport::PumpUntil([&] { return Logged(threshold); }, 5000));
  EXPECT_TRUE(Logged(frequency));
  // The upload on connection went the same way: every frame parsed, none refused.
  const std::vector<std::string> lines = LogLines();
  EXPECT_GT(lines.size(), 20u);
  for (const std::string& l : lines) {
    EXPECT_NE(l.find(" usb "), std::string::npos) << l;
    EXPECT_EQ(l.find("ошибка"), std::string::npos) << l;
  }
}

}  // namespace
