// Under a real X server: holding the left mouse button on the knob for about a second
// tunes down by about twenty main steps, and every step reaches the receiver as F. Against
// a silent receiver on a pseudo-terminal, and against the simulator, which answers every F
// with its own F report, over USB (with the sample stream on and off) and over the serial link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/win32/IniFile.h"
#include "tests/e2e/XvfbSession.h"
#include "tests/sim/SimProcess.h"
#include "tests/support/PtyReceiver.h"

namespace {

using testsupport::kKnobCentre;
using testsupport::kSpectrumButtonCentre;

// Holds the left button on the knob for one second; returns how long it was held, in seconds.
double HoldKnobOneSecond(const testsupport::XvfbSession& x, const std::string& window) {
  x.Run(std::string("xdotool mousemove --window ") + window + " " + kKnobCentre);
  usleep(200 * 1000);
  const auto start = std::chrono::steady_clock::now();
  x.Run("xdotool mousedown 1");
  usleep(1000 * 1000);
  x.Run("xdotool mouseup 1");
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(KnobUnderX, HoldingTheLeftButtonTunesDownTwentyStepsASecond) {
  testsupport::XvfbSession x;
  if (!x.Ok()) GTEST_SKIP() << "no Xvfb";
  QTemporaryDir config;
  testsupport::PtyReceiver receiver;
  {
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    ini.WriteString("Serial", "Port", QString::fromStdString(receiver.SlavePath()));
    ini.WriteString("TMain", "FreqkHz.Value", "10000");
  }
  ASSERT_TRUE(x.StartProgram(config.path()));
  const std::string window = x.WaitForMainWindow();
  ASSERT_FALSE(window.empty()) << "the main window did not appear";
  usleep(500 * 1000);
  receiver.Take(50);
  const double held = HoldKnobOneSecond(x, window);
  usleep(300 * 1000);
  const auto frames = receiver.Take(100);
  x.StopProgram();

  std::vector<long> tuned;
  for (const auto& f : frames)
    if (f.letter == 'F') tuned.push_back(std::stol(f.digits));
  ASSERT_GE(tuned.size(), 12u) << "steps: " << tuned.size();
  EXPECT_LE(tuned.size(), 28u);
  for (size_t i = 0; i < tuned.size(); ++i) EXPECT_EQ(tuned[i], 10000000 - 1000 * long(i + 1)) << i;
  std::printf("knob: %zu steps in %.2f s held = %.1f steps/s\n", tuned.size(), held, tuned.size() / held);
}

// ---- against the simulator

struct SimLinkCase {
  const char* name;
  bool usb;     // false: the serial link
  bool stream;  // the sample stream (СПЕКТР) on while the knob turns
};

void PrintTo(const SimLinkCase& c, std::ostream* os) { *os << c.name; }

class KnobAgainstSimulator : public ::testing::TestWithParam<SimLinkCase> {};

// The F frequencies the simulator logged on `link` from byte `from` of its frame log on.
std::vector<long> LoggedFrequencies(const std::string& logPath, std::streamoff from, const std::string& link) {
  std::ifstream log(logPath);
  log.seekg(from);
  std::vector<long> tuned;
  std::string line;
  while (std::getline(log, line)) {
    // time, link, the frame's bytes, then the letter and its value
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.size() >= 4 && w[1] == link && w[w.size() - 2] == "F") tuned.push_back(std::stol(w.back()));
  }
  return tuned;
}

std::streamoff FileSize(const std::string& path) {
  std::ifstream f(path, std::ios::ate);
  return f ? std::streamoff(f.tellg()) : 0;
}

TEST_P(KnobAgainstSimulator, HoldingTheLeftButtonOneSecondTakesTwentySteps) {
  const SimLinkCase& c = GetParam();
  testsupport::XvfbSession x;
  if (!x.Ok()) GTEST_SKIP() << "no Xvfb";
  simtest::SimProcess sim({c.usb ? "--no-serial" : "--no-usb", "--log", "@DIR/frames.log"});
  ASSERT_TRUE(sim.started());
  const std::string logPath = sim.directory() + "/frames.log";
  QTemporaryDir config;
  {
    // The link not under test points nowhere: port 9 of the loopback refuses connections.
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    ini.WriteString("Serial", "Port", c.usb ? config.path() + "/no-tty" : QString::fromStdString(sim.serialLink()));
    ini.WriteString("Usb", "Server", c.usb ? QString("127.0.0.1:%1").arg(sim.port()) : QString("127.0.0.1:9"));
    ini.WriteString("TMain", "FreqkHz.Value", "10000");
  }
  ASSERT_TRUE(x.StartProgram(config.path()));
  const std::string window = x.WaitForMainWindow();
  ASSERT_FALSE(window.empty()) << "the main window did not appear";
  std::string status;
  ASSERT_TRUE(sim.waitForStatus("состояние получено", status)) << "no full upload reached the simulator: " << status;
  if (c.stream) {
    x.ClickAt(window, kSpectrumButtonCentre);
    ASSERT_TRUE(sim.waitForStatus("поток 1", status)) << "the stream did not start: " << status;
  }
  usleep(500 * 1000);
  const std::streamoff before = FileSize(logPath);
  const double held = HoldKnobOneSecond(x, window);
  usleep(300 * 1000);
  const auto tuned = LoggedFrequencies(logPath, before, c.usb ? "usb" : "serial");
  const std::string after = sim.command("status").value_or("");
  x.StopProgram();

  // Twenty ticks a second, one step of 1 kHz down each. A repaint that is no step (an
  // exposure on a loaded desktop) sends the value it shows once more: a repeat is no step.
  ASSERT_FALSE(tuned.empty());
  long shown = 10000000;
  size_t steps = 0;
  for (const long f : tuned) {
    if (f == shown) continue;
    EXPECT_EQ(f, shown - 1000) << "after " << steps << " steps";
    shown = f;
    ++steps;
  }
  EXPECT_GE(steps, 16u);
  EXPECT_LE(steps, 24u);
  EXPECT_LE(tuned.size(), steps + 2) << "more than a stray repeat: " << tuned.size() << " frames";
  EXPECT_NE(after.find("частота " + std::to_string(tuned.back()) + " Гц"), std::string::npos) << after;
  std::printf("knob against the simulator, %s: %zu steps (%zu frames) in %.2f s held = %.1f steps/s\n", c.name,
              steps, tuned.size(), held, steps / held);
}

INSTANTIATE_TEST_SUITE_P(Links, KnobAgainstSimulator,
                         ::testing::Values(SimLinkCase{"UsbStreamOff", true, false},
                                           SimLinkCase{"UsbStreamOn", true, true},
                                           SimLinkCase{"Serial", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
