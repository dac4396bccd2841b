// Under a real X server: holding the left mouse button on the knob for about a second
// tunes down by about twenty main steps, and every step reaches the receiver as F.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>

#include "platform/win32/IniFile.h"
#include "tests/e2e/XvfbSession.h"
#include "tests/support/PtyReceiver.h"

namespace {

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
  // The main window: its client area starts at its position, where the knob sits at
  // 245, 324 (64 x 63).
  std::string window;
  for (int i = 0; i < 100 && window.empty(); ++i) {
    usleep(100 * 1000);
    window = x.Run("xdotool search --onlyvisible --name VESTRA 2>/dev/null | head -1");
  }
  ASSERT_FALSE(window.empty()) << "the main window did not appear";
  usleep(500 * 1000);
  receiver.Take(50);
  window.pop_back();
  x.Run("xdotool mousemove --window " + window + " 277 355");
  usleep(200 * 1000);
  const auto start = std::chrono::steady_clock::now();
  x.Run("xdotool mousedown 1");
  usleep(1000 * 1000);
  x.Run("xdotool mouseup 1");
  const double held = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

}  // namespace
