// The device's life: add, start and configuration, the request gate by plug-and-play and
// power state, stop and restart, removal, unit names and driver unload.
#include "DriverFixture.h"

#include "driver/ReceiverDevice.h"
#include "platform/nt/PowerStandIn.h"
#include "platform/nt/RegistryStandIn.h"
#include "tests/platform/nt/KernelName.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace drivertest {
namespace {

using namespace usbkrn;

using Lifecycle = DriverFixture;

// Completes the next pending transfer on `endpoint` with `bytes` bytes of value `fill`.
bool Answer(ScriptedUsbDevice& device, UCHAR endpoint, size_t bytes, uint8_t fill)
{
    auto seen = device.WaitSubmitted(endpoint, 2s);
    return seen && device.Complete(seen->id, {0, std::vector<uint8_t>(bytes, fill), 0});
}

TEST_F(Lifecycle, RequestsOfADeviceNotStartedAreHeldAndGoOnInArrivalOrder)
{
    auto device = ScriptedUsbDevice::Receiver();
    device->FailSetConfiguration(true);
    Plug(device);
    HANDLE h = Open();
    std::vector<std::unique_ptr<PendingIo>> ios;
    for (int i = 0; i < 3; ++i) ios.push_back(Issue(h, IOCTL_READ_INTERRUPT, 64));
    for (auto& io : ios) EXPECT_EQ(io->startError, ERROR_IO_PENDING);
    EXPECT_EQ(device->PendingTotal(), 0u);  // held by the driver, not at the bus

    device->FailSetConfiguration(false);
    ASSERT_EQ(nt::PnpRestartDevice(device->Pdo()), STATUS_SUCCESS);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Answer(*device, 0x85, 64, uint8_t(i)));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ios[i]->Wait());
        EXPECT_EQ(ios[i]->buffer[0], i) << "request " << i << " went out of order";
    }
}

TEST_F(Lifecycle, HeldRequestsCanBeCancelledAndFailWithDeletePendingAtUnplug)
{
    auto device = ScriptedUsbDevice::Receiver();
    device->FailSetConfiguration(true);
    Plug(device);
    HANDLE h = Open();
    auto cancelled = Issue(h, IOCTL_READ_INTERRUPT, 64);
    EXPECT_TRUE(CancelIo(h));
    ASSERT_TRUE(cancelled->Wait());
    EXPECT_EQ(cancelled->Result(h).error, ERROR_OPERATION_ABORTED);

    auto held = Issue(h, IOCTL_READ_BULK2, 4096);
    Unplug(device);
    ASSERT_TRUE(held->Wait());
    EXPECT_EQ(held->Result(h).error, ERROR_ACCESS_DENIED);  // delete pending
    auto after = Issue(h, IOCTL_WRITE_COMMAND, 64);
    EXPECT_EQ(after->startError, ERROR_ACCESS_DENIED);
}

TEST_F(Lifecycle, AfterACloseTheNextRequestFirstBringsTheDeviceToD0)
{
    auto device = Plug();
    HANDLE keep = Open();
    HANDLE other = Open();
    PDEVICE_OBJECT fdo = nt::PnpFunctionDevice(device->Pdo());
    EXPECT_EQ(nt::PoRecordedDeviceState(device->Pdo()), PowerDeviceUnspecified);
    Close(other);  // recorded as D3, without a power request
    EXPECT_EQ(nt::PoRecordedDeviceState(device->Pdo()), PowerDeviceUnspecified);
    auto io = Issue(keep, IOCTL_READ_INTERRUPT, 64);
    ASSERT_TRUE(Answer(*device, 0x85, 64, 7));
    ASSERT_TRUE(io->Wait());
    EXPECT_EQ(nt::PoRecordedDeviceState(device->Pdo()), PowerDeviceD0);  // the bus saw D0 first
    EXPECT_EQ(nt::PoRecordedDeviceState(fdo), PowerDeviceD0);
}

TEST_F(Lifecycle, APoweredDownDeviceIsPoweredUpBeforeDispatch)
{
    auto device = Plug();
    HANDLE h = Open();
    ASSERT_EQ(nt::PnpSetDevicePower(device->Pdo(), PowerDeviceD3), STATUS_SUCCESS);
    EXPECT_EQ(nt::PoRecordedDeviceState(device->Pdo()), PowerDeviceD3);
    auto io = Issue(h, IOCTL_WRITE_COMMAND, 64);
    auto seen = device->WaitSubmitted(0x06, 2s);
    ASSERT_TRUE(seen);
    EXPECT_EQ(nt::PoRecordedDeviceState(device->Pdo()), PowerDeviceD0);
    device->Complete(seen->id, {0, {}, 64});
    ASSERT_TRUE(io->Wait());
}

// The system request returns only once the device request it caused has reached the bus.
TEST_F(Lifecycle, SystemSleepCompletesAfterTheDeviceIsDownAndWakeAfterItIsBack)
{
    auto device = Plug();
    ASSERT_EQ(nt::PnpSetSystemPower(device->Pdo(), PowerSystemSleeping3), STATUS_SUCCESS);
    EXPECT_EQ(nt::PoRecordedDeviceState(device->Pdo()), PowerDeviceD3);
    ASSERT_EQ(nt::PnpSetSystemPower(device->Pdo(), PowerSystemWorking), STATUS_SUCCESS);
    EXPECT_EQ(nt::PoRecordedDeviceState(device->Pdo()), PowerDeviceD0);
}

TEST_F(Lifecycle, PowerDownCancelsTheTransfersAtTheBusBeforeLeavingD0)
{
    auto device = Plug();
    HANDLE h = Open();
    auto io = Issue(h, IOCTL_READ_INTERRUPT, 64);
    auto seen = device->WaitSubmitted(0x85, 2s);
    ASSERT_TRUE(seen);
    ASSERT_EQ(nt::PnpSetDevicePower(device->Pdo(), PowerDeviceD3), STATUS_SUCCESS);
    ASSERT_TRUE(io->Done());
    EXPECT_EQ(io->Result(h).error, ERROR_OPERATION_ABORTED);
    EXPECT_EQ(device->Unlinked(), std::vector<uint32_t>{seen->id});
    EXPECT_EQ(device->PendingTotal(), 0u);
}

TEST_F(Lifecycle, StartStopAndRestartFreeOnlyWhatTheyAllocated)
{
    auto device = Plug();
    ASSERT_EQ(nt::PnpStopDevice(device->Pdo()), STATUS_SUCCESS);
    ASSERT_EQ(nt::PnpRestartDevice(device->Pdo()), STATUS_SUCCESS);
    Unplug(device);  // the fixture checks that the driver's pool is back to zero
}

// Closing records D3; the request held while the device is stopped goes on at the start,
// which first brings the device back to D0.
TEST_F(Lifecycle, CloseStopReopenAndStartCompletesTheHeldRequest)
{
    auto device = Plug();
    Close(Open());
    ASSERT_EQ(nt::PnpStopDevice(device->Pdo()), STATUS_SUCCESS);
    HANDLE h = Open();
    auto io = Issue(h, IOCTL_READ_INTERRUPT, 64);
    EXPECT_EQ(io->startError, ERROR_IO_PENDING);
    EXPECT_EQ(device->PendingTotal(), 0u);  // held
    ASSERT_EQ(nt::PnpRestartDevice(device->Pdo()), STATUS_SUCCESS);
    ASSERT_TRUE(Answer(*device, 0x85, 64, 5));
    ASSERT_TRUE(io->Wait());
    EXPECT_TRUE(io->Result(h).ok);
    EXPECT_EQ(io->buffer[0], 5);
    EXPECT_EQ(nt::PoRecordedDeviceState(device->Pdo()), PowerDeviceD0);
}

// A read whose transfer is still being handed to the bus holds the remove lock: the removal
// waits for it however long that takes, and no completion runs after the device is gone.
TEST_F(Lifecycle, RemovalWaitsThroughTheRemoveLockForARequestInFlight)
{
    auto device = Plug();
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, release = false;
    device->SetResponder([&](const ScriptedUsbDevice::Submitted& s) -> std::optional<ScriptedUsbDevice::Reply> {
        std::unique_lock guard(lock);
        entered = true;
        changed.notify_all();
        changed.wait(guard, [&] { return release; });
        return ScriptedUsbDevice::Reply{0, std::vector<uint8_t>(s.length, 9), 0};
    });
    HANDLE h = Open();
    std::unique_ptr<PendingIo> io;
    std::thread reader([&] { io = Issue(h, IOCTL_READ_BULK2, 4096); });
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, 2s, [&] { return entered; }));
    }
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        nt::PnpSendMinor(device->Pdo(), IRP_MN_REMOVE_DEVICE);
        removed = true;
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(removed) << "the removal did not wait for the read";
    {
        std::lock_guard guard(lock);
        release = true;
        changed.notify_all();
    }
    reader.join();
    remover.join();
    EXPECT_TRUE(removed);
    ASSERT_TRUE(io->Wait());
    EXPECT_TRUE(io->Result(h).ok);
}

TEST_F(Lifecycle, StopAndDisableAreRefusedWhileAHandleIsOpen)
{
    auto device = Plug();
    HANDLE h = Open();
    EXPECT_EQ(nt::PnpStopDevice(device->Pdo()), STATUS_DEVICE_BUSY);
    EXPECT_EQ(nt::PnpDisableDevice(device->Pdo()), STATUS_DEVICE_BUSY);
    // The cancelled queries left the device started.
    auto io = Issue(h, IOCTL_READ_INTERRUPT, 64);
    ASSERT_TRUE(Answer(*device, 0x85, 64, 1));
    ASSERT_TRUE(io->Wait());
    EXPECT_TRUE(io->Result(h).ok);
}

TEST_F(Lifecycle, StopThenStartBindsThePipesAgain)
{
    auto device = Plug();
    ASSERT_EQ(nt::PnpStopDevice(device->Pdo()), STATUS_SUCCESS);
    ASSERT_EQ(nt::PnpRestartDevice(device->Pdo()), STATUS_SUCCESS);
    EXPECT_EQ(device->Configurations(), (std::vector<uint8_t>{1, 0, 1}));
    HANDLE h = Open();
    auto io = Issue(h, IOCTL_READ_BULK2, 20000);
    auto seen = device->WaitSubmitted(0x81, 2s);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->length, 10240u);
    device->Complete(seen->id, {0, std::vector<uint8_t>(10240, 3), 0});
    ASSERT_TRUE(io->Wait());
    EXPECT_EQ(io->Result(h).bytes, 10240u);
}

struct BadConfiguration {
    const char* name;
    uint8_t value, interface, alternate;
    uint8_t interfaces = 1;  // bNumInterfaces: 0 leaves the interface out of the bus's selection
};

class StartFailures : public DriverFixture, public ::testing::WithParamInterface<BadConfiguration> {};

TEST_P(StartFailures, ConfigurationWithoutInterfaceZeroAlternateZeroDoesNotStart)
{
    const auto& c = GetParam();
    auto configuration = ScriptedUsbDevice::ReceiverConfiguration(c.value, c.interface, c.alternate);
    configuration[4] = c.interfaces;
    auto device = std::make_shared<ScriptedUsbDevice>(ScriptedUsbDevice::ReceiverDeviceDescriptor(),
                                                      std::vector<std::vector<uint8_t>>{configuration});
    Plug(device);
    EXPECT_EQ(nt::PnpRestartDevice(device->Pdo()), STATUS_UNSUCCESSFUL);
    HANDLE h = Open();
    auto io = Issue(h, IOCTL_READ_INTERRUPT, 64);
    EXPECT_EQ(io->startError, ERROR_IO_PENDING);  // held: the device is not started
    EXPECT_EQ(device->PendingTotal(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Configurations, StartFailures,
                         ::testing::Values(BadConfiguration{"InterfaceOne", 1, 1, 0},
                                           BadConfiguration{"AlternateOne", 1, 0, 1},
                                           BadConfiguration{"OnlyConfigurationTwo", 2, 0, 0},
                                           BadConfiguration{"InterfaceNotInTheSelection", 1, 0, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Lifecycle, AFifthEndpointKeepsTheDefaultMaximumAndNoCodeReachesIt)
{
    auto device = std::make_shared<ScriptedUsbDevice>(
        ScriptedUsbDevice::ReceiverDeviceDescriptor(),
        std::vector<std::vector<uint8_t>>{ScriptedUsbDevice::ReceiverConfiguration(1, 0, 0, {0x82})});
    Plug(device);
    auto* dev = DeviceOf(nt::PnpFunctionDevice(device->Pdo()));
    ASSERT_NE(dev->interface, nullptr);
    ASSERT_EQ(dev->interface->NumberOfPipes, 5u);
    std::map<UCHAR, ULONG> sizes;
    for (ULONG p = 0; p < 5; ++p)
        sizes[dev->interface->Pipes[p].EndpointAddress] = dev->interface->Pipes[p].MaximumTransferSize;
    EXPECT_EQ(sizes, (std::map<UCHAR, ULONG>{{0x85, 4096}, {0x81, 10240}, {0x83, 4096}, {0x06, 4096},
                                              {0x82, USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE}}));
    HANDLE h = Open();
    std::vector<std::unique_ptr<PendingIo>> ios;
    for (DWORD code : {IOCTL_READ_INTERRUPT, IOCTL_READ_BULK2, IOCTL_READ_BULK_AUX, IOCTL_WRITE_COMMAND})
        ios.push_back(Issue(h, code, 64));
    EXPECT_EQ(device->Pending(0x82), 0u);
    EXPECT_EQ(device->PendingTotal(), 4u);
    CancelIo(h);
    for (auto& io : ios) EXPECT_TRUE(io->Wait());
}

TEST_F(Lifecycle, APipeWithoutAnEndpointFailsItsCode)
{
    // Configuration 1 with interface 0 and only the report and command endpoints.
    std::vector<uint8_t> config = {9, 2, 32, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
                                   7, 5, 0x85, 3, 64, 0, 1, 7, 5, 0x06, 2, 64, 0, 0};
    auto device = std::make_shared<ScriptedUsbDevice>(ScriptedUsbDevice::ReceiverDeviceDescriptor(),
                                                      std::vector<std::vector<uint8_t>>{config});
    Plug(device);
    HANDLE h = Open();
    auto io = Issue(h, IOCTL_READ_BULK2, 4096);
    EXPECT_EQ(io->startError, ERROR_BAD_COMMAND);  // invalid device state
    auto report = Issue(h, IOCTL_READ_INTERRUPT, 64);
    EXPECT_TRUE(Answer(*device, 0x85, 64, 1));
    EXPECT_TRUE(report->Wait());
}

TEST_F(Lifecycle, ALongConfigurationIsReadOnlyUpToTheBuffer)
{
    // The endpoints past byte 128 are cut off: their pipes stay unbound, the rest work.
    std::vector<uint8_t> padding;
    for (int i = 0; i < 16; ++i) padding.insert(padding.end(), {7, 5, uint8_t(0x01 + (i % 2) * 0x80 + 2), 2, 64, 0, 0});
    auto config = ScriptedUsbDevice::ReceiverConfiguration(1, 0, 0, padding);
    ASSERT_GT(config.size(), 128u);
    auto device = std::make_shared<ScriptedUsbDevice>(ScriptedUsbDevice::ReceiverDeviceDescriptor(),
                                                      std::vector<std::vector<uint8_t>>{config});
    Plug(device);
    HANDLE h = Open();
    auto io = Issue(h, IOCTL_WRITE_COMMAND, 64);
    auto seen = device->WaitSubmitted(0x06, 2s);
    ASSERT_TRUE(seen);
    device->Complete(seen->id, {0, {}, 64});
    ASSERT_TRUE(io->Wait());
}

TEST_F(Lifecycle, TwoReceiversGetTwoNamesAndReplugAfterUnloadGivesZeroAgain)
{
    auto first = Plug();
    auto second = Plug();
    int loads = nt::PnpDriverLoadCount();
    HANDLE h0 = Open(0);
    HANDLE h1 = Open(1);
    EXPECT_NE(h0, h1);
    Close(h0);
    Close(h1);
    Unplug(first);
    EXPECT_TRUE(nt::PnpDriverLoaded());
    Unplug(second);
    EXPECT_FALSE(nt::PnpDriverLoaded());
    EXPECT_TRUE(first->Released());

    first->Plug();
    nt::PnpFlush();
    EXPECT_EQ(nt::PnpDriverLoadCount(), loads + 1);
    Open(0);
    EXPECT_EQ(TryOpen(1), INVALID_HANDLE_VALUE);
}

TEST_F(Lifecycle, ReplugWhileLoadedTakesTheNextUnit)
{
    auto keep = Plug();
    auto replugged = Plug();
    Unplug(replugged);
    replugged->Plug();
    nt::PnpFlush();
    Open(0);
    Open(2);
    EXPECT_EQ(TryOpen(1), INVALID_HANDLE_VALUE);
}

TEST_F(Lifecycle, AFailedAddLeavesNothingAndUsesNoUnit)
{
    auto first = Plug();
    ASSERT_EQ(IoCreateSymbolicLink(KernelName(L"\\??\\USBVestra1"), KernelName(L"\\Device\\Elsewhere")), STATUS_SUCCESS);
    auto refused = Plug();
    EXPECT_EQ(nt::PnpFunctionDevice(refused->Pdo()), nullptr);
    EXPECT_EQ(nt::IoLookupDevice("\\Device\\USBKRN_VESTRA1"), nullptr);
    IoDeleteSymbolicLink(KernelName(L"\\??\\USBVestra1"));
    auto next = Plug();
    Open(1);  // the refused device did not use up unit 1
    Unplug(refused);
}

struct RegistryCase {
    const char* name;
    bool controlClass, servicesClass;
    const char* link;
};

class LinkPrefix : public DriverFixture, public ::testing::WithParamInterface<RegistryCase> {};

TEST_P(LinkPrefix, ComesFromWhereTheRegistryKeepsTheClassList)
{
    const std::string control = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class";
    const std::string services = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Class";
    nt::RegistryDeleteKey(control);
    nt::RegistryDeleteKey(services);
    if (GetParam().controlClass) nt::RegistryCreateKey(control);
    if (GetParam().servicesClass) nt::RegistryCreateKey(services);
    Plug();
    EXPECT_EQ(nt::IoLinkSpelling("\\??\\USBVestra0"), GetParam().link);
    Open();  // applications open it the same way on both families
    nt::RegistryDeleteKey(services);
    nt::RegistryInstallDefaults();
}

INSTANTIATE_TEST_SUITE_P(Families, LinkPrefix,
                         ::testing::Values(RegistryCase{"Present", true, false, "\\??\\USBVestra0"},
                                           RegistryCase{"Older", false, true, "\\DosDevices\\USBVestra0"},
                                           RegistryCase{"Both", true, true, "\\??\\USBVestra0"},
                                           RegistryCase{"Neither", false, false, "\\??\\USBVestra0"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Lifecycle, LastCloseAfterUnplugRemovesTheDeviceAndUnloadsTheDriver)
{
    auto device = Plug();
    HANDLE h = Open();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    RegisterEvent(h, event);
    Unplug(device);
    EXPECT_TRUE(nt::PnpDriverLoaded());   // the open handle keeps the device object
    EXPECT_EQ(nt::ObReferenceCount(), 1u);  // and its event reference
    Close(h);
    EXPECT_FALSE(nt::PnpDriverLoaded());
    EXPECT_EQ(nt::ObReferenceCount(), 0u);
    CloseHandle(event);
}

} // namespace
} // namespace drivertest
