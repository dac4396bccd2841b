// Round trip of a 64-byte command write and of a 4096-byte block read through USBKRNb, the
// bus driver and USB/IP on loopback, and sustained block reads per second, against a
// scripted USB/IP server that answers every transfer at once.
//
//   build/bin/driver_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "tests/platform/nt/UsbIpPeer.h"

#include "driver/UsbVestra.h"
#include "platform/nt/KernelStandIn.h"
#include "platform/win32/File.h"
#include "platform/win32/Sync.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

using namespace usbkrn;

struct Stack {
    Stack()
    {
        peer.SetResponder([](const usbiptest::Submit& s) -> std::optional<std::pair<int32_t, std::vector<uint8_t>>> {
            if (s.cmd.base.direction == usbip::DirOut) return std::make_pair(0, std::vector<uint8_t>{});
            return std::make_pair(0, std::vector<uint8_t>(size_t(s.cmd.transferBufferLength), 0x5A));
        });
        nt::UsbBusConfig config;
        config.server = peer.Address();
        nt::StartKernelStandIn(config);
        for (int i = 0; i < 250 && device == INVALID_HANDLE_VALUE; ++i) {
            device = CreateFileA(kUserDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_FLAG_OVERLAPPED, nullptr);
            if (device == INVALID_HANDLE_VALUE) Sleep(20);
        }
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~Stack()
    {
        CloseHandle(event);
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
        nt::StopKernelStandIn();
    }

    // One request, waited for as PVestra waits for it.
    bool RoundTrip(DWORD code, std::vector<uint8_t>& buffer, bool out)
    {
        OVERLAPPED ov{};
        ov.hEvent = event;
        DWORD size = DWORD(buffer.size());
        BOOL ok = DeviceIoControl(device, code, out ? buffer.data() : nullptr, out ? size : 0,
                                  out ? nullptr : buffer.data(), out ? 0 : size, nullptr, &ov);
        if (!ok && GetLastError() != ERROR_IO_PENDING) return false;
        DWORD n = 0;
        return GetOverlappedResult(device, &ov, &n, TRUE) && n == size;
    }

    usbiptest::UsbIpPeer peer;
    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
};

Stack& TheStack()
{
    static Stack* stack = new Stack;  // kept for the whole run; stopped at exit
    return *stack;
}

void Run(benchmark::State& state, DWORD code, size_t size, bool out)
{
    Stack& s = TheStack();
    if (s.device == INVALID_HANDLE_VALUE) {
        state.SkipWithError("device did not appear");
        return;
    }
    std::vector<uint8_t> buffer(size, 1);
    for (auto _ : state) {
        if (!s.RoundTrip(code, buffer, out)) {
            state.SkipWithError("transfer failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * int64_t(size));
}

void BM_CommandWrite64(benchmark::State& state) { Run(state, IOCTL_WRITE_COMMAND, 64, true); }
void BM_BlockRead4096(benchmark::State& state) { Run(state, IOCTL_READ_BULK2, 4096, false); }

// Sustained block reads with `depth` requests kept in flight on the one handle.
void BM_BlockReadsInFlight(benchmark::State& state)
{
    Stack& s = TheStack();
    if (s.device == INVALID_HANDLE_VALUE) {
        state.SkipWithError("device did not appear");
        return;
    }
    const size_t depth = size_t(state.range(0));
    struct Slot {
        OVERLAPPED ov{};
        std::vector<uint8_t> buffer = std::vector<uint8_t>(4096);
    };
    std::vector<Slot> slots(depth);
    auto start = [&](Slot& slot) {
        if (!slot.ov.hEvent) slot.ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        BOOL ok = DeviceIoControl(s.device, IOCTL_READ_BULK2, nullptr, 0, slot.buffer.data(), 4096, nullptr, &slot.ov);
        return ok || GetLastError() == ERROR_IO_PENDING;
    };
    for (auto& slot : slots) start(slot);
    size_t next = 0;
    for (auto _ : state) {
        Slot& slot = slots[next];
        DWORD n = 0;
        if (!GetOverlappedResult(s.device, &slot.ov, &n, TRUE) || n != 4096 || !start(slot)) {
            state.SkipWithError("transfer failed");
            break;
        }
        next = (next + 1) % depth;
    }
    for (auto& slot : slots) {
        DWORD n;
        GetOverlappedResult(s.device, &slot.ov, &n, TRUE);
        CloseHandle(slot.ov.hEvent);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 4096);
}

BENCHMARK(BM_CommandWrite64)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_BlockReadsInFlight)->Arg(1)->Arg(4)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_BlockRead4096)->UseRealTime()->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete &TheStack();
    return 0;
}
