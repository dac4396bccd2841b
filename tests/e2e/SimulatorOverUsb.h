// A fixture for tests of the whole USB path in one process: vestra-sim exporting the
// receiver over USB/IP, and the kernel stand-in with the driver importing it. The test is
// skipped when the simulator is not built.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "tests/sim/SimProcess.h"

class SimulatorOverUsb : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::optional<simtest::SimProcess> sim;
};
