#include "tests/e2e/SimulatorOverUsb.h"

#include <sys/stat.h>

#include <QString>

#include "platform/nt/KernelStandIn.h"

void SimulatorOverUsb::SetUp() {
  const std::string bin = qEnvironmentVariable("PVESTRA_BIN").toStdString();
  struct stat st {};
  if (bin.empty() || ::stat((bin + "/vestra-sim").c_str(), &st) != 0) GTEST_SKIP() << "vestra-sim is not built";
  sim.emplace(simArguments);
  ASSERT_TRUE(sim->started());
  nt::UsbBusConfig bus;
  bus.server = "127.0.0.1:" + std::to_string(sim->port());
  ASSERT_TRUE(nt::StartKernelStandIn(bus, bin + "/libUSBKRNb.so"));
}

void SimulatorOverUsb::TearDown() { nt::StopKernelStandIn(); }
