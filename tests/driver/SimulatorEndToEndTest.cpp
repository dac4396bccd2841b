// The stack against the receiver simulator, when it has been built: the device appears, a
// command goes out, the unplug command of the simulator's console sets the removal event and
// then fails the pending read, and plug brings the device back.
#include "driver/UsbVestra.h"
#include "platform/nt/KernelStandIn.h"
#include "platform/win32/File.h"
#include "platform/win32/Sync.h"
#include "tests/sim/SimProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace usbkrn;

HANDLE OpenWithin(std::chrono::milliseconds limit)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        HANDLE h = CreateFileA(kUserDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        Sleep(50);
    }
    return INVALID_HANDLE_VALUE;
}

TEST(SimulatorEndToEnd, CommandUnplugAndPlugAgain)
{
    const char* env = std::getenv("PVESTRA_BIN");
    std::string bin = env && *env ? env : nt::KernelLibraryFolder();
    std::string program = bin + "/vestra-sim";
    struct stat st;
    if (stat(program.c_str(), &st) != 0) GTEST_SKIP() << "vestra-sim is not built";
    simtest::SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    nt::UsbBusConfig config;
    config.server = "127.0.0.1:" + std::to_string(sim.port());
    ASSERT_TRUE(nt::StartKernelStandIn(config, bin + "/libUSBKRNb.so"));

    HANDLE h = OpenWithin(std::chrono::seconds(10));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HANDLE removal = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    uint32_t value = uint32_t(reinterpret_cast<uintptr_t>(removal));
    OVERLAPPED reg{};
    DWORD n = 0;
    EXPECT_TRUE(DeviceIoControl(h, IOCTL_SET_REMOVAL_EVENT, &value, 4, nullptr, 0, &n, &reg));

    uint8_t command[64] = {};
    OVERLAPPED write{};
    write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!DeviceIoControl(h, IOCTL_WRITE_COMMAND, command, 64, nullptr, 0, nullptr, &write)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    ASSERT_EQ(WaitForSingleObject(write.hEvent, 2000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(h, &write, &n, FALSE));
    EXPECT_EQ(n, 64u);

    // Keep a report read pending (reports that come first are taken and read again).
    uint8_t report[64];
    OVERLAPPED read{};
    read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    sim.command("unplug");
    BOOL failed = FALSE;
    for (int i = 0; i < 100 && !failed; ++i) {
        if (!DeviceIoControl(h, IOCTL_READ_INTERRUPT, nullptr, 0, report, 64, nullptr, &read) &&
            GetLastError() != ERROR_IO_PENDING)
            break;
        ASSERT_EQ(WaitForSingleObject(read.hEvent, 5000), WAIT_OBJECT_0);
        failed = !GetOverlappedResult(h, &read, &n, FALSE);
    }
    EXPECT_EQ(WaitForSingleObject(removal, 0), WAIT_OBJECT_0);  // set before a read failed
    CloseHandle(h);
    sim.command("plug");
    HANDLE again = OpenWithin(std::chrono::seconds(10));
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
    nt::StopKernelStandIn();
    CloseHandle(removal);
    CloseHandle(write.hEvent);
    CloseHandle(read.hEvent);
}

} // namespace
