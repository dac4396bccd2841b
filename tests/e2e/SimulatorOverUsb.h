// A fixture for tests of the whole USB path in one process: vestra-sim exporting the
// receiver over USB/IP, and the kernel stand-in with the driver importing it. The test is
// skipped when the simulator is not built.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/sim/SimProcess.h"

class SimulatorOverUsb : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The simulator's command line; a derived fixture may add to it before SetUp.
  std::vector<std::string> simArguments{"--no-serial"};
  std::optional<simtest::SimProcess> sim;
};
