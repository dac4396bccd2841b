// Thousands of random steps of plug-and-play, device and system power, open and close,
// reopening a stopped device, control codes, cancellations, bus completions and unplugging.
// After every step the stack is idle, so the requests still outstanding in the I/O manager
// must be exactly those the test sees pending: none lost, none completed twice, none
// dispatched to a device without a configuration, and none left held by a device that is
// started and awake. A level or lock fault of the driver stops the run with a bug check.
//
// PVESTRA_STRESS_STEPS sets the number of steps of the first test (default 20000); the
// racing test runs a quarter of it.
#include "DriverFixture.h"

#include <cerrno>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace drivertest {
namespace {

using namespace usbkrn;

int StressSteps()
{
    const char* text = std::getenv("PVESTRA_STRESS_STEPS");
    int steps = text ? std::atoi(text) : 0;
    return steps > 0 ? steps : 20000;
}

struct Io {
    std::unique_ptr<PendingIo> pending;
    HANDLE handle;
};

class RandomStress : public DriverFixture, public ::testing::WithParamInterface<unsigned> {
protected:
    std::mt19937 rng{GetParam()};
    std::vector<std::shared_ptr<ScriptedUsbDevice>> slots{ScriptedUsbDevice::Receiver(), ScriptedUsbDevice::Receiver()};
    std::vector<bool> plugged = {false, false};
    std::vector<bool> asleep = {false, false};  // the system was last sent to sleep
    std::vector<HANDLE> open;
    std::vector<Io> ios;
    HANDLE events[2] = {nullptr, nullptr};
    // What the run did, printed at its end: a run that does nothing checks nothing.
    struct {
        size_t issued = 0, completedAtBus = 0, unplugs = 0, stops = 0, sleeps = 0, reopens = 0;
    } done;

    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); }

    void Step()
    {
        size_t slot = Pick(2);
        auto& device = slots[slot];
        switch (Pick(12)) {
        case 0:
            if (!plugged[slot]) {
                device->Plug();
                plugged[slot] = true;
                asleep[slot] = false;
            }
            break;
        case 1:
            if (plugged[slot] && Pick(3) == 0) {
                device->Unplug();
                plugged[slot] = false;
                ++done.unplugs;
            }
            break;
        case 2:
            if (open.size() < 4) {
                HANDLE h = TryOpen(int(Pick(3)));
                if (h != INVALID_HANDLE_VALUE) open.push_back(h);
            }
            break;
        case 3:
            if (!open.empty()) {
                size_t i = Pick(open.size());
                HANDLE h = open[i];
                open.erase(open.begin() + i);
                ASSERT_TRUE(CloseHandle(h));
                for (auto& io : ios) {
                    if (io.handle == h) {
                        ASSERT_TRUE(io.pending->Done()) << "a request outlived its handle";
                    }
                }
            }
            break;
        case 4:
        case 5:
        case 6:
            if (!open.empty()) IssueRandom(open[Pick(open.size())]);
            break;
        case 7:
            if (!open.empty()) CancelIo(open[Pick(open.size())]);
            break;
        case 8:
            if (!ios.empty()) {
                Io& io = ios[Pick(ios.size())];
                if (!io.pending->Done()) CancelIoEx(io.handle, &io.pending->ov);
            }
            break;
        case 9:
        case 10:
            CompleteRandom(*device);
            break;
        case 11:
            if (PDEVICE_OBJECT pdo = device->Pdo()) {
                switch (Pick(5)) {
                case 0: nt::PnpSetDevicePower(pdo, PowerDeviceD3); break;
                case 1: nt::PnpSetDevicePower(pdo, PowerDeviceD0); break;
                case 2:
                    if (NT_SUCCESS(nt::PnpStopDevice(pdo))) {
                        ++done.stops;
                        nt::PnpRestartDevice(pdo);
                    }
                    break;
                case 3:
                    asleep[slot] = Pick(2) == 0;
                    done.sleeps += asleep[slot];
                    nt::PnpSetSystemPower(pdo, asleep[slot] ? PowerSystemSleeping3 : PowerSystemWorking);
                    break;
                case 4: ReopenAfterStop(pdo); break;
                }
            }
            break;
        }
        nt::PnpFlush();
    }

    // Stopping needs every handle closed; a handle opened while the device is stopped issues
    // a request, which is held until the start.
    void ReopenAfterStop(PDEVICE_OBJECT pdo)
    {
        if (!open.empty() || !NT_SUCCESS(nt::PnpStopDevice(pdo))) return;
        ++done.reopens;
        HANDLE h = TryOpen(int(Pick(3)));
        if (h != INVALID_HANDLE_VALUE) {
            open.push_back(h);
            IssueRandom(h);
        }
        nt::PnpRestartDevice(pdo);
    }

    void IssueRandom(HANDLE h)
    {
        static const DWORD codes[] = {IOCTL_READ_INTERRUPT, IOCTL_READ_BULK2, IOCTL_READ_BULK_AUX,
                                      IOCTL_WRITE_COMMAND, IOCTL_SET_REMOVAL_EVENT, 0x222014};
        static const DWORD sizes[] = {0, 1, 64, 4096, 20000};
        DWORD code = codes[Pick(std::size(codes))];
        ++done.issued;
        if (code == IOCTL_SET_REMOVAL_EVENT) {
            HANDLE e = Pick(4) == 0 ? nullptr : events[Pick(2)];
            ios.push_back({RegisterEvent(h, e), h});
        } else {
            ios.push_back({Issue(h, code, sizes[Pick(std::size(sizes))]), h});
        }
    }

    void CompleteRandom(ScriptedUsbDevice& device)
    {
        static const UCHAR endpoints[] = {0x85, 0x81, 0x83, 0x06};
        std::optional<ScriptedUsbDevice::Submitted> seen;
        UCHAR ep = 0;
        for (size_t first = Pick(4), i = 0; i < 4 && !seen; ++i) {  // a pending transfer, if any
            ep = endpoints[(first + i) % 4];
            seen = device.WaitSubmitted(ep, 0ms);
        }
        if (!seen) return;
        static const int32_t statuses[] = {0, 0, 0, -EILSEQ, -EPIPE, -ECONNRESET};
        ScriptedUsbDevice::Reply reply;
        reply.status = statuses[Pick(std::size(statuses))];
        if (ep & 0x80)
            reply.data.assign(Pick(seen->length + 1), uint8_t(seen->id));
        else
            reply.outActual = uint32_t(Pick(seen->length + 1));
        done.completedAtBus += device.Complete(seen->id, reply);
    }

    void CheckInvariants()
    {
        LONG pending = 0;
        for (auto& io : ios) {
            if (!io.pending->Done()) {
                ++pending;
                continue;
            }
            auto r = io.pending->Result(io.handle);
            ASSERT_NE(r.error, ERROR_IO_INCOMPLETE) << "event set before the result";
            if (!r.ok) {
                ASSERT_EQ(r.bytes, 0u);
            }
        }
        ASSERT_EQ(nt::IoUserRequestsOutstanding(), pending);
        for (auto& d : slots) ASSERT_EQ(d->UnconfiguredTransfers(), 0u);
        // Awake and started, the devices hold nothing back: every pending request is at a bus.
        if (!asleep[0] && !asleep[1]) {
            LONG atBus = 0;
            for (size_t s = 0; s < 2; ++s)
                if (plugged[s]) atBus += LONG(slots[s]->PendingTotal());
            ASSERT_EQ(atBus, pending) << "a request stays held";
        }
        std::erase_if(ios, [](Io& io) { return io.pending->Done(); });
    }
};

TEST_P(RandomStress, EveryRequestCompletesOnceAndNothingLeaks)
{
    events[0] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    events[1] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const int steps = StressSteps();
    for (int step = 0; step < steps; ++step) {
        ASSERT_NO_FATAL_FAILURE(Step()) << "step " << step;
        ASSERT_NO_FATAL_FAILURE(CheckInvariants()) << "step " << step;
    }
    std::printf("%d steps: %zu requests, %zu completed at the bus, %zu unplugs, %zu stops, %zu reopened "
                "after a stop, %zu system sleeps\n",
                steps, done.issued, done.completedAtBus, done.unplugs, done.stops, done.reopens, done.sleeps);
    for (HANDLE h : open) CloseHandle(h);
    open.clear();
    for (auto& io : ios) EXPECT_TRUE(io.pending->Done());
    ios.clear();
    for (size_t s = 0; s < 2; ++s)
        if (plugged[s]) slots[s]->Unplug();
    nt::PnpFlush();
    EXPECT_EQ(nt::PnpDeviceCount(), 0u);
    EXPECT_FALSE(nt::PnpDriverLoaded());
    EXPECT_EQ(nt::IoUserRequestsOutstanding(), 0);
    EXPECT_EQ(nt::PoolUsageOfTag(kDriverTag).blocks, 0u);
    EXPECT_EQ(nt::PoolUsageTotal().blocks, 0u);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

// The same steps while another thread completes transfers at the same time as the test
// cancels, closes and unplugs: only the end state can be checked, but every race between a
// completion and a cancel or an unplug is run many times.
TEST_P(RandomStress, CompletionsRacingWithCancelsAndUnplugsLeaveNothingBehind)
{
    events[0] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    events[1] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::thread completer([&] {
        std::mt19937 local(GetParam() * 7919u);
        static const UCHAR endpoints[] = {0x85, 0x81, 0x83, 0x06};
        while (!stop) {
            auto& device = *slots[local() % 2];
            UCHAR ep = endpoints[local() % 4];
            if (auto seen = device.WaitSubmitted(ep, 1ms)) {
                ScriptedUsbDevice::Reply reply;
                reply.status = local() % 5 == 0 ? -EILSEQ : 0;
                if (ep & 0x80)
                    reply.data.assign(seen->length, 1);
                else
                    reply.outActual = seen->length;
                device.Complete(seen->id, reply);
            }
        }
    });
    const int steps = StressSteps() / 4;
    for (int step = 0; step < steps; ++step) {
        if (Pick(12) >= 9) continue;  // the other thread does the completing
        ASSERT_NO_FATAL_FAILURE(Step()) << "step " << step;
        std::erase_if(ios, [](Io& io) { return io.pending->Done(); });
    }
    for (HANDLE h : open) CloseHandle(h);
    open.clear();
    stop = true;
    completer.join();
    for (auto& io : ios) EXPECT_TRUE(io.pending->Done());
    ios.clear();
    for (size_t s = 0; s < 2; ++s)
        if (plugged[s]) slots[s]->Unplug();
    nt::PnpFlush();
    EXPECT_EQ(nt::PnpDeviceCount(), 0u);
    EXPECT_EQ(nt::IoUserRequestsOutstanding(), 0);
    EXPECT_EQ(nt::PoolUsageTotal().blocks, 0u);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomStress, ::testing::Values(1u, 2u, 3u));

// A program opening the device by name on its own thread, as the USB link's search does,
// while the device arrives and is removed again and again: the open walks the device stack
// while a removal on the PnP thread detaches and frees the devices below.
class OpenByNameRacingWithRemoval : public DriverFixture {};

TEST_F(OpenByNameRacingWithRemoval, LeavesNothingBehind)
{
    auto device = ScriptedUsbDevice::Receiver();
    std::atomic<bool> stop{false};
    std::atomic<size_t> opened{0};
    std::thread opener([&] {
        while (!stop) {
            HANDLE h = TryOpen();
            if (h == INVALID_HANDLE_VALUE) continue;
            ++opened;
            CloseHandle(h);
        }
    });
    for (int i = 0; i < 300; ++i) {
        device->Plug();
        nt::PnpFlush();
        device->Unplug();
        nt::PnpFlush();
    }
    stop = true;
    opener.join();
    nt::PnpFlush();
    EXPECT_GT(opened.load(), 0u);  // the race was run, not only the misses
    EXPECT_EQ(nt::PnpDeviceCount(), 0u);
    EXPECT_EQ(nt::IoUserRequestsOutstanding(), 0);
    EXPECT_EQ(nt::PoolUsageTotal().blocks, 0u);
}

} // namespace
} // namespace drivertest
