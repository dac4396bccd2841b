// A kernel stand-in with the receiver driver and scripted USB devices, plus the user-mode
// calls a test makes on the device, and the leak checks that end every test.
#pragma once

#include "driver/UsbVestra.h"
#include "platform/nt/IoStandIn.h"
#include "platform/nt/IoUser.h"
#include "platform/nt/KernelStandIn.h"
#include "platform/nt/ObStandIn.h"
#include "platform/nt/PnpManager.h"
#include "platform/nt/PoolStandIn.h"
#include "platform/nt/ScriptedUsb.h"
#include "platform/win32/File.h"
#include "platform/win32/Sync.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace drivertest {

using namespace std::chrono_literals;
using nt::ScriptedUsbDevice;

constexpr ULONG kDriverTag = MakePoolTag("Wdm ");

// One overlapped request and its buffer.
struct PendingIo {
    explicit PendingIo(size_t size) : buffer(size)
    {
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    // A request still pending is cancelled first: its completion writes into this record.
    ~PendingIo()
    {
        if (file && !Done()) {
            CancelIoEx(file, &ov);
            Wait(5000);
        }
        CloseHandle(ov.hEvent);
    }
    bool Wait(DWORD ms = 2000) { return WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0; }
    bool Done() { return Wait(0); }

    struct Outcome {
        BOOL ok;
        DWORD error;
        DWORD bytes;
    };
    Outcome Result(HANDLE h)
    {
        DWORD n = 0;
        SetLastError(0);
        BOOL ok = GetOverlappedResult(h, &ov, &n, FALSE);
        return {ok, ok ? 0 : GetLastError(), n};
    }

    OVERLAPPED ov{};
    std::vector<uint8_t> buffer;
    HANDLE file = nullptr;
    BOOL started = FALSE;    // what DeviceIoControl returned
    DWORD startError = 0;
};

// Where the libraries were built: PVESTRA_BIN, else beside libvestra_nt.so.
inline std::string BinFolder()
{
    const char* bin = std::getenv("PVESTRA_BIN");
    return bin && *bin ? bin : nt::KernelLibraryFolder();
}

class DriverFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(nt::StartKernelWithoutBus(BinFolder() + "/libUSBKRNb.so"));
    }

    void TearDown() override
    {
        for (HANDLE h : handles_) CloseHandle(h);
        for (auto& d : devices_) d->Unplug();
        nt::StopKernelStandIn();
        EXPECT_EQ(nt::PoolUsageOfTag(kDriverTag).blocks, 0u) << nt::PoolUsageOfTag(kDriverTag).bytes << " bytes";
        EXPECT_EQ(nt::PoolUsageTotal().blocks, 0u);
        EXPECT_EQ(nt::IrpsOutstanding(), 0);
        EXPECT_EQ(nt::IoUserRequestsOutstanding(), 0);
        EXPECT_EQ(nt::ObReferenceCount(), 0u);
        for (auto& d : devices_) EXPECT_EQ(d->UnconfiguredTransfers(), 0u);
    }

    std::shared_ptr<ScriptedUsbDevice> Plug(std::shared_ptr<ScriptedUsbDevice> device = ScriptedUsbDevice::Receiver())
    {
        device->Plug();
        nt::PnpFlush();
        devices_.push_back(device);
        return device;
    }

    void Unplug(const std::shared_ptr<ScriptedUsbDevice>& device)
    {
        device->Unplug();
        nt::PnpFlush();
    }

    HANDLE TryOpen(int unit = 0)
    {
        std::string name = std::string(usbkrn::kUserDevicePrefix) + std::to_string(unit);
        return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_OVERLAPPED, nullptr);
    }

    HANDLE Open(int unit = 0)
    {
        HANDLE h = TryOpen(unit);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        if (h != INVALID_HANDLE_VALUE) handles_.push_back(h);
        return h;
    }

    void Close(HANDLE h)
    {
        std::erase(handles_, h);
        EXPECT_TRUE(CloseHandle(h));
        nt::PnpFlush();
    }

    // Issues a control code; for the write, `size` bytes of `data` go in, for the rest `size`
    // bytes come out.
    std::unique_ptr<PendingIo> Issue(HANDLE h, DWORD code, DWORD size, std::vector<uint8_t> data = {})
    {
        auto io = std::make_unique<PendingIo>(size);
        io->file = h;
        bool writes = code == usbkrn::IOCTL_WRITE_COMMAND || code == usbkrn::IOCTL_SET_REMOVAL_EVENT;
        if (!data.empty()) std::copy(data.begin(), data.begin() + std::min<size_t>(size, data.size()), io->buffer.begin());
        SetLastError(0);
        io->started = DeviceIoControl(h, code, writes ? io->buffer.data() : nullptr, writes ? size : 0,
                                      writes ? nullptr : io->buffer.data(), writes ? 0 : size, nullptr, &io->ov);
        io->startError = io->started ? 0 : GetLastError();
        return io;
    }

    std::unique_ptr<PendingIo> RegisterEvent(HANDLE h, HANDLE event)
    {
        uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event));
        std::vector<uint8_t> bytes(4);
        std::memcpy(bytes.data(), &value, 4);
        return Issue(h, usbkrn::IOCTL_SET_REMOVAL_EVENT, 4, bytes);
    }

    std::vector<HANDLE> handles_;
    std::vector<std::shared_ptr<ScriptedUsbDevice>> devices_;
};

} // namespace drivertest
