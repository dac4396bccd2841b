// The control codes as an application sees them: one transfer per request on its endpoint,
// lengths clamped to the pipe, statuses passed through, the removal event.
#include "DriverFixture.h"

#include "platform/win32/Thread.h"

#include <cerrno>

namespace drivertest {
namespace {

using namespace usbkrn;

struct TransferCase {
    const char* name;
    DWORD code;
    UCHAR endpoint;
    DWORD asked;          // N
    uint32_t onWire;      // length the bus must see
    uint32_t deviceMoves; // bytes the device sends or takes
};

class TransferCodes : public DriverFixture, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TransferCodes, OneTransferOfTheClampedLengthReturningWhatMoved)
{
    const TransferCase& c = GetParam();
    auto device = Plug();
    HANDLE h = Open();
    std::vector<uint8_t> command(c.asked);
    for (size_t i = 0; i < command.size(); ++i) command[i] = uint8_t(i * 7);
    auto io = Issue(h, c.code, c.asked, command);
    ASSERT_FALSE(io->started);
    ASSERT_EQ(io->startError, ERROR_IO_PENDING);

    auto seen = device->WaitSubmitted(c.endpoint, 2s);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->length, c.onWire);
    EXPECT_EQ(device->PendingTotal(), 1u);
    ScriptedUsbDevice::Reply reply;
    if (c.code == IOCTL_WRITE_COMMAND) {
        EXPECT_TRUE(std::equal(seen->out.begin(), seen->out.end(), command.begin()));
        reply.outActual = c.deviceMoves;
    } else {
        reply.data.resize(c.deviceMoves);
        for (size_t i = 0; i < reply.data.size(); ++i) reply.data[i] = uint8_t(i + 1);
    }
    EXPECT_EQ(io->Result(h).error, ERROR_IO_INCOMPLETE);
    ASSERT_TRUE(device->Complete(seen->id, reply));
    ASSERT_TRUE(io->Wait());
    auto r = io->Result(h);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, c.deviceMoves);
    if (c.code != IOCTL_WRITE_COMMAND) {
        EXPECT_TRUE(std::equal(reply.data.begin(), reply.data.end(), io->buffer.begin()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TransferCodes,
    ::testing::Values(
        TransferCase{"FullReport", IOCTL_READ_INTERRUPT, 0x85, 64, 64, 64},
        TransferCase{"ShortReport", IOCTL_READ_INTERRUPT, 0x85, 64, 64, 10},
        TransferCase{"SampleBlock", IOCTL_READ_BULK2, 0x81, 4096, 4096, 4096},
        TransferCase{"ShortBlock", IOCTL_READ_BULK2, 0x81, 4096, 4096, 4000},
        TransferCase{"Bulk2ClampedTo10240", IOCTL_READ_BULK2, 0x81, 20000, 10240, 10240},
        TransferCase{"AuxClampedTo4096", IOCTL_READ_BULK_AUX, 0x83, 5000, 4096, 4096},
        TransferCase{"Command", IOCTL_WRITE_COMMAND, 0x06, 64, 64, 64},
        TransferCase{"CommandClampedTo4096", IOCTL_WRITE_COMMAND, 0x06, 5000, 4096, 4096}),
    [](const auto& info) { return std::string(info.param.name); });

using ControlCodes = DriverFixture;

TEST_F(ControlCodes, ZeroLengthCompletesAtOnceWithoutTheBus)
{
    auto device = Plug();
    HANDLE h = Open();
    for (DWORD code : {IOCTL_READ_INTERRUPT, IOCTL_READ_BULK2, IOCTL_READ_BULK_AUX, IOCTL_WRITE_COMMAND}) {
        auto io = Issue(h, code, 0);
        EXPECT_TRUE(io->started) << std::hex << code;
        auto r = io->Result(h);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.bytes, 0u);
    }
    EXPECT_EQ(device->PendingTotal(), 0u);
}

TEST_F(ControlCodes, UnknownCodesFailWithInvalidParameter)
{
    Plug();
    HANDLE h = Open();
    for (DWORD code : {0x222014u, 0x222018u, 0x220000u, 0u}) {
        auto io = Issue(h, code, 4);
        EXPECT_FALSE(io->started);
        EXPECT_EQ(io->startError, ERROR_INVALID_PARAMETER) << std::hex << code;
    }
}

struct StatusCase {
    const char* name;
    int32_t linuxStatus;
    DWORD error;
};

class TransferErrors : public DriverFixture, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(TransferErrors, BusStatusReachesTheCallerWithNoBytes)
{
    auto device = Plug();
    HANDLE h = Open();
    auto io = Issue(h, IOCTL_READ_INTERRUPT, 64);
    auto seen = device->WaitSubmitted(0x85, 2s);
    ASSERT_TRUE(seen);
    ScriptedUsbDevice::Reply reply;
    reply.status = GetParam().linuxStatus;
    reply.data.assign(64, 0xAA);
    device->Complete(seen->id, reply);
    ASSERT_TRUE(io->Wait());
    auto r = io->Result(h);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, GetParam().error);
    EXPECT_EQ(r.bytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, TransferErrors,
    ::testing::Values(StatusCase{"Crc", -EILSEQ, ERROR_CRC},
                      StatusCase{"Stall", -EPIPE, ERROR_GEN_FAILURE},
                      StatusCase{"Unlinked", -ECONNRESET, ERROR_OPERATION_ABORTED},
                      StatusCase{"NoEntry", -ENOENT, ERROR_OPERATION_ABORTED},
                      StatusCase{"Shutdown", -ESHUTDOWN, ERROR_DEVICE_NOT_CONNECTED},
                      StatusCase{"NoDevice", -ENODEV, ERROR_DEVICE_NOT_CONNECTED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControlCodes, CancelIoReturnsPendingTransfersCancelledAndUnlinksThem)
{
    auto device = Plug();
    HANDLE h = Open();
    auto report = Issue(h, IOCTL_READ_INTERRUPT, 64);
    auto block = Issue(h, IOCTL_READ_BULK2, 4096);
    ASSERT_TRUE(device->WaitSubmitted(0x81, 2s));
    EXPECT_TRUE(CancelIo(h));
    for (auto* io : {report.get(), block.get()}) {
        ASSERT_TRUE(io->Wait());
        EXPECT_EQ(io->Result(h).error, ERROR_OPERATION_ABORTED);
    }
    EXPECT_EQ(device->Unlinked().size(), 2u);
    EXPECT_EQ(device->PendingTotal(), 0u);
}

// The system does not cancel a file's requests when its handle is closed: the driver's cleanup
// does, and the close follows once they have completed.
TEST_F(ControlCodes, CleanupCancelsABlockReadPendingAtTheBus)
{
    auto device = Plug();
    HANDLE h = TryOpen();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    auto io = Issue(h, IOCTL_READ_BULK2, 4096);
    auto seen = device->WaitSubmitted(0x81, 2s);
    ASSERT_TRUE(seen);
    io->file = nullptr;  // the handle goes now
    ASSERT_TRUE(CloseHandle(h));
    ASSERT_TRUE(io->Wait());
    EXPECT_EQ(io->Result(h).error, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(device->Unlinked(), std::vector<uint32_t>{seen->id});
}

TEST_F(ControlCodes, OutOfPoolFailsWithNothingLeftAllocated)
{
    auto device = Plug();
    HANDLE h = Open();
    for (size_t after : {0, 1}) {  // the context, then the request block
        nt::FailPoolAllocations(after, 1);
        auto io = Issue(h, IOCTL_READ_INTERRUPT, 64);
        nt::FailPoolAllocations(0, 0);
        EXPECT_FALSE(io->started);
        EXPECT_EQ(io->startError, ERROR_NO_SYSTEM_RESOURCES);
        EXPECT_EQ(nt::PoolUsageOfTag(kDriverTag).blocks, 1u);  // the configuration descriptor
    }
    EXPECT_EQ(device->PendingTotal(), 0u);
}

TEST_F(ControlCodes, SeveralTransfersPendAtOnceAndCompleteInTheBusOrder)
{
    auto device = Plug();
    HANDLE h = Open();
    auto first = Issue(h, IOCTL_READ_INTERRUPT, 64);
    auto second = Issue(h, IOCTL_READ_INTERRUPT, 64);
    auto write = Issue(h, IOCTL_WRITE_COMMAND, 64);
    ASSERT_TRUE(device->WaitSubmitted(0x06, 2s));
    ASSERT_EQ(device->Pending(0x85), 2u);
    // The write completes while both reads stay pending: none holds up another.
    auto w = device->WaitSubmitted(0x06, 0ms);
    device->Complete(w->id, {0, {}, 64});
    ASSERT_TRUE(write->Wait());
    EXPECT_FALSE(first->Done());
    EXPECT_FALSE(second->Done());
    CancelIo(h);
}

// ---- the removal event ---------------------------------------------------------------------

struct RemovalCase {
    const char* name;
    std::vector<int> registrations;  // index into the events, -1 = handle 0, -2 = a thread handle
    int expectedSet;                 // the event set at unplugging, -1 = none
};

class RemovalEvents : public DriverFixture, public ::testing::WithParamInterface<RemovalCase> {};

DWORD Quick(void*) { return 0; }

TEST_P(RemovalEvents, UnpluggingSetsTheEventLastRegistered)
{
    auto device = Plug();
    HANDLE h = Open();
    HANDLE events[2] = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, Quick, nullptr, 0, nullptr);
    for (int r : GetParam().registrations) {
        HANDLE handle = r >= 0 ? events[r] : r == -2 ? thread : nullptr;
        auto io = RegisterEvent(h, handle);
        EXPECT_TRUE(io->started);  // success in every case, a useless handle included
    }
    Unplug(device);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(WaitForSingleObject(events[i], 0) == WAIT_OBJECT_0, i == GetParam().expectedSet) << i;
    CloseHandle(events[0]);
    CloseHandle(events[1]);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

INSTANTIATE_TEST_SUITE_P(
    Registrations, RemovalEvents,
    ::testing::Values(RemovalCase{"Registered", {0}, 0},
                      RemovalCase{"Replaced", {0, 1}, 1},
                      RemovalCase{"Forgotten", {0, -1}, -1},
                      RemovalCase{"NoneRegistered", {}, -1},
                      RemovalCase{"NotAnEvent", {-2}, -1},
                      RemovalCase{"NotAnEventDropsThePrevious", {0, -2}, -1}),
    [](const auto& info) { return std::string(info.param.name); });

// The event is referenced when the request arrives, in the caller's process: a registration
// held until the start still names the caller's event when the PnP thread dispatches it.
TEST_F(ControlCodes, ARegistrationHeldUntilTheStartStillSetsTheCallersEvent)
{
    auto device = ScriptedUsbDevice::Receiver();
    device->FailSetConfiguration(true);
    Plug(device);
    HANDLE h = Open();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto io = RegisterEvent(h, event);
    EXPECT_EQ(io->startError, ERROR_IO_PENDING);
    device->FailSetConfiguration(false);
    ASSERT_EQ(nt::PnpRestartDevice(device->Pdo()), STATUS_SUCCESS);
    ASSERT_TRUE(io->Wait());
    EXPECT_TRUE(io->Result(h).ok);
    Unplug(device);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST_F(ControlCodes, EventStaysUsableAfterTheCallerClosesItsHandle)
{
    auto device = Plug();
    HANDLE h = Open();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    RegisterEvent(h, event);
    auto object = win32::ReferenceHandleAs<win32::EventObject>(event);
    CloseHandle(event);  // the driver holds its own reference
    Unplug(device);
    EXPECT_TRUE(object->IsSet());
}

TEST_F(ControlCodes, UnplugFailsThePendingReadSetsTheEventAndRefusesOpensUntilBack)
{
    auto device = Plug();
    HANDLE h = Open();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    RegisterEvent(h, event);
    auto read = Issue(h, IOCTL_READ_INTERRUPT, 64);
    ASSERT_TRUE(device->WaitSubmitted(0x85, 2s));
    Unplug(device);
    ASSERT_TRUE(read->Wait());
    auto r = read->Result(h);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    // The old handle fails at once, a new open is refused (delete pending) while the old
    // handle keeps the device, and the name is gone once it is closed.
    auto late = Issue(h, IOCTL_READ_INTERRUPT, 64);
    EXPECT_EQ(late->startError, ERROR_ACCESS_DENIED);
    EXPECT_EQ(TryOpen(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    Close(h);
    EXPECT_EQ(TryOpen(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    CloseHandle(event);
    device->Plug();
    nt::PnpFlush();
    HANDLE again = Open();
    auto io = Issue(again, IOCTL_READ_INTERRUPT, 64);
    auto seen = device->WaitSubmitted(0x85, 2s);
    ASSERT_TRUE(seen);
    device->Complete(seen->id, {0, std::vector<uint8_t>(64, 1), 0});
    ASSERT_TRUE(io->Wait());
    EXPECT_EQ(io->Result(again).bytes, 64u);
}

} // namespace
} // namespace drivertest
