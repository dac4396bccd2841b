// The I/O manager's IRP rules, dispatcher objects, object references and pool accounting.
#include "platform/nt/IoStandIn.h"
#include "platform/nt/IoUser.h"
#include "platform/nt/KeStandIn.h"
#include "platform/nt/ObStandIn.h"
#include "platform/nt/PoolStandIn.h"
#include "platform/nt/RegistryStandIn.h"
#include "platform/win32/File.h"
#include "platform/win32/Handles.h"
#include "tests/platform/nt/KernelName.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// A two-device stack: an upper driver that passes everything down with a completion routine,
// and a lower one that completes with the status the test asks for, or keeps the IRP pending.
struct TwoLevels {
    static inline NTSTATUS lowerStatus = STATUS_SUCCESS;
    static inline bool lowerPends = false;
    static inline PIRP held = nullptr;
    static inline std::vector<std::string> calls;
    static inline NTSTATUS routineResult = STATUS_SUCCESS;

    static NTSTATUS Lower(PDEVICE_OBJECT, PIRP irp)
    {
        if (lowerPends) {
            held = irp;
            IoMarkIrpPending(irp);
            IoSetCancelRoutine(irp, [](PDEVICE_OBJECT, PIRP i) {
                IoReleaseCancelSpinLock(i->CancelIrql);
                held = nullptr;
                i->IoStatus.Status = STATUS_CANCELLED;
                IoCompleteRequest(i, IO_NO_INCREMENT);
            });
            return STATUS_PENDING;
        }
        irp->IoStatus.Status = lowerStatus;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return lowerStatus;
    }
    static NTSTATUS Routine(PDEVICE_OBJECT device, PIRP irp, PVOID context)
    {
        calls.push_back(std::string(static_cast<const char*>(context)) + (device ? "@upper" : "@top"));
        return routineResult;
    }

    TwoLevels()
    {
        calls.clear();
        lowerPends = false;
        routineResult = STATUS_SUCCESS;
        driver = nt::IoCreateDriverObject("\\Driver\\Test");
        for (auto& f : driver->MajorFunction) f = Lower;
        IoCreateDevice(driver, 0, nullptr, 0x22, 0, FALSE, &lower);
        IoCreateDevice(driver, 0, nullptr, 0x22, 0, FALSE, &upper);
        IoAttachDeviceToDeviceStack(upper, lower);
    }
    ~TwoLevels()
    {
        IoDetachDevice(lower);
        IoDeleteDevice(upper);
        IoDeleteDevice(lower);
        nt::IoDeleteDriverObject(driver);
    }

    // Sends an IRP from the top with `flags` of the routine: success, error, cancel.
    PIRP Send(bool onSuccess, bool onError, bool onCancel)
    {
        PIRP irp = IoAllocateIrp(upper->StackSize, FALSE);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, Routine, const_cast<char*>("top"), onSuccess, onError, onCancel);
        last = IoCallDriver(lower, irp);
        return irp;
    }

    PDRIVER_OBJECT driver;
    PDEVICE_OBJECT lower = nullptr, upper = nullptr;
    NTSTATUS last = 0;
};

struct RoutineCase {
    const char* name;
    NTSTATUS status;
    bool cancel;
    bool onSuccess, onError, onCancel;
    bool called;
};

class CompletionRoutines : public ::testing::TestWithParam<RoutineCase> {};

TEST_P(CompletionRoutines, RunOnlyForTheOutcomesAskedFor)
{
    const auto& c = GetParam();
    TwoLevels stack;
    TwoLevels::lowerStatus = c.status;
    TwoLevels::lowerPends = c.cancel;
    PIRP irp = stack.Send(c.onSuccess, c.onError, c.onCancel);
    if (c.cancel) {
        EXPECT_EQ(stack.last, STATUS_PENDING);
        EXPECT_TRUE(IoCancelIrp(irp));
        EXPECT_FALSE(IoCancelIrp(irp));  // no cancel routine any more
    }
    EXPECT_EQ(TwoLevels::calls.size(), c.called ? 1u : 0u);
    IoFreeIrp(irp);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CompletionRoutines,
    ::testing::Values(RoutineCase{"SuccessAsked", STATUS_SUCCESS, false, true, false, false, true},
                      RoutineCase{"SuccessNotAsked", STATUS_SUCCESS, false, false, true, true, false},
                      RoutineCase{"ErrorAsked", STATUS_UNSUCCESSFUL, false, false, true, false, true},
                      RoutineCase{"ErrorNotAsked", STATUS_UNSUCCESSFUL, false, true, false, false, false},
                      RoutineCase{"CancelAsked", 0, true, false, false, true, true},
                      RoutineCase{"CancelCountsAsError", 0, true, false, true, false, true},
                      RoutineCase{"CancelNotAsked", 0, true, true, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Irps, MoreProcessingRequiredLetsTheOwnerCompleteAgain)
{
    TwoLevels stack;
    TwoLevels::lowerStatus = STATUS_SUCCESS;
    TwoLevels::routineResult = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = stack.Send(true, true, true);
    IoFreeIrp(irp);
    EXPECT_EQ(nt::IrpsOutstanding(), 0);
}

TEST(IrpsDeathTest, CompletingTwiceAborts)
{
    EXPECT_DEATH(
        {
            PIRP irp = IoAllocateIrp(1, FALSE);
            irp->IoStatus.Status = STATUS_SUCCESS;
            irp->CurrentLocation = 1;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            IoCompleteRequest(irp, IO_NO_INCREMENT);
        },
        "completed twice");
}

TEST(Names, LinksInBothSpellingsResolveToTheDevice)
{
    PDRIVER_OBJECT driver = nt::IoCreateDriverObject("\\Driver\\Names");
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(IoCreateDevice(driver, 16, KernelName(L"\\Device\\NamesTest0"), 0x22, 0, FALSE, &device), STATUS_SUCCESS);
    PDEVICE_OBJECT twin = nullptr;
    EXPECT_EQ(IoCreateDevice(driver, 0, KernelName(L"\\Device\\NamesTest0"), 0x22, 0, FALSE, &twin), STATUS_OBJECT_NAME_COLLISION);
    ASSERT_EQ(IoCreateSymbolicLink(KernelName(L"\\DosDevices\\NamesLink0"), KernelName(L"\\Device\\NamesTest0")), STATUS_SUCCESS);
    EXPECT_EQ(nt::IoLookupDevice("\\??\\NamesLink0"), device);
    EXPECT_EQ(IoCreateSymbolicLink(KernelName(L"\\??\\NamesLink0"), KernelName(L"\\Device\\Other")), STATUS_OBJECT_NAME_COLLISION);
    EXPECT_EQ(IoDeleteSymbolicLink(KernelName(L"\\??\\NamesLink0")), STATUS_SUCCESS);
    EXPECT_EQ(nt::IoLookupDevice("\\??\\NamesLink0"), nullptr);
    IoDeleteDevice(device);
    EXPECT_EQ(nt::IoLookupDevice("\\Device\\NamesTest0"), nullptr);
    nt::IoDeleteDriverObject(driver);
}

// A device whose driver has not finished adding it is not opened, even by a link that already
// names it: the open would reach a device extension the driver has not set up yet.
TEST(Names, AnOpenWaitsUntilTheDeviceIsNoLongerInitializing)
{
    static int creates = 0;
    creates = 0;
    PDRIVER_OBJECT driver = nt::IoCreateDriverObject("\\Driver\\Opens");
    for (auto& f : driver->MajorFunction)
        f = [](PDEVICE_OBJECT, PIRP irp) {
            if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE) ++creates;
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            return STATUS_SUCCESS;
        };
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(IoCreateDevice(driver, 16, KernelName(L"\\Device\\OpensTest0"), 0x22, 0, FALSE, &device), STATUS_SUCCESS);
    ASSERT_EQ(IoCreateSymbolicLink(KernelName(L"\\??\\OpensLink0"), KernelName(L"\\Device\\OpensTest0")), STATUS_SUCCESS);
    nt::IoRegisterUserNamespace();
    auto open = [] {
        return CreateFileA("\\\\.\\OpensLink0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    };

    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(creates, 0);

    device->Flags &= ~DO_DEVICE_INITIALIZING;  // what the PnP manager does once add-device returns
    HANDLE h = open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(creates, 1);
    CloseHandle(h);

    IoDeleteSymbolicLink(KernelName(L"\\??\\OpensLink0"));
    IoDeleteDevice(device);
    nt::IoDeleteDriverObject(driver);
}

TEST(Dispatcher, RelativeTimeOutAndSignal)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER wait;
    wait.QuadPart = -20 * 10000;  // 20 ms
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &wait), STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    std::thread setter([&] { KeSetEvent(&event, 0, FALSE); });
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    setter.join();
    EXPECT_EQ(KeReadStateEvent(&event), 1);  // a notification event stays set
}

TEST(Dispatcher, MutexIsRecursiveForItsOwnerAndExcludesOthers)
{
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS other = STATUS_SUCCESS;
    std::thread t([&] {
        LARGE_INTEGER zero;
        zero.QuadPart = -1;
        other = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &zero);
    });
    t.join();
    EXPECT_EQ(other, STATUS_TIMEOUT);
    KeReleaseMutex(&mutex, FALSE);
    KeReleaseMutex(&mutex, FALSE);
}

TEST(ObjectReferences, TypeCheckAndLifetimeBeyondTheHandle)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE key = nullptr;
    nt::RegistryCreateKey("\\Registry\\Test\\Key");
    KernelName path(L"\\registry\\test\\KEY");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    ASSERT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_SUCCESS);

    PVOID object = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(key, 0, *ExEventObjectType, KernelMode, &object, nullptr), STATUS_OBJECT_TYPE_MISMATCH);
    EXPECT_EQ(ObReferenceObjectByHandle(reinterpret_cast<HANDLE>(0x7FFFFFF0), 0, *ExEventObjectType, KernelMode, &object, nullptr),
              STATUS_INVALID_HANDLE);
    ASSERT_EQ(ObReferenceObjectByHandle(event, 0, *ExEventObjectType, KernelMode, &object, nullptr), STATUS_SUCCESS);
    auto user = win32::ReferenceHandleAs<win32::EventObject>(event);
    CloseHandle(event);
    KeSetEvent(static_cast<PRKEVENT>(object), 0, FALSE);
    EXPECT_TRUE(user->IsSet());
    EXPECT_EQ(nt::ObReferenceCount(), 1u);
    ObfDereferenceObject(object);
    EXPECT_EQ(nt::ObReferenceCount(), 0u);
    ZwClose(key);
    nt::RegistryDeleteKey("\\Registry\\Test");
}

TEST(Pool, AccountsPerTagAndFailsOnRequest)
{
    const ULONG tag = MakePoolTag("Tst1");
    void* a = ExAllocatePoolWithTag(NonPagedPool, 100, tag);
    void* b = ExAllocatePoolWithTag(NonPagedPool, 28, tag);
    EXPECT_EQ(nt::PoolUsageOfTag(tag).blocks, 2u);
    EXPECT_EQ(nt::PoolUsageOfTag(tag).bytes, 128u);
    ExFreePool(a);
    nt::FailPoolAllocations(1, 1);
    void* c = ExAllocatePoolWithTag(NonPagedPool, 1, tag);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 1, tag), nullptr);
    void* d = ExAllocatePoolWithTag(NonPagedPool, 1, tag);
    EXPECT_NE(d, nullptr);
    ExFreePool(b);
    ExFreePool(c);
    ExFreePool(d);
    EXPECT_EQ(nt::PoolUsageOfTag(tag).blocks, 0u);
    EXPECT_EQ(MakePoolTag("Wdm "), 0x206D6457u);
}

TEST(Registry, ValuesAreReadWithTheirTypeAndSize)
{
    nt::RegistrySetValue("\\Registry\\Test2\\K", "Start", REG_DWORD, {3, 0, 0, 0});
    KernelName path(L"\\Registry\\Test2\\K");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE key;
    ASSERT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_SUCCESS);
    alignas(8) UCHAR buffer[32];
    ULONG needed = 0;
    EXPECT_EQ(ZwQueryValueKey(key, KernelName(L"start"), KeyValuePartialInformation, buffer, 4, &needed), STATUS_BUFFER_TOO_SMALL);
    ASSERT_EQ(ZwQueryValueKey(key, KernelName(L"Start"), KeyValuePartialInformation, buffer, sizeof buffer, &needed), STATUS_SUCCESS);
    auto* info = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(buffer);
    EXPECT_EQ(info->Type, REG_DWORD);
    EXPECT_EQ(info->DataLength, 4u);
    EXPECT_EQ(info->Data[0], 3);
    EXPECT_EQ(ZwQueryValueKey(key, KernelName(L"Missing"), KeyValuePartialInformation, buffer, sizeof buffer, &needed), STATUS_OBJECT_NAME_NOT_FOUND);
    ZwClose(key);
    nt::RegistryDeleteKey("\\Registry\\Test2");
    EXPECT_EQ(ZwOpenKey(&key, KEY_READ, &attributes), STATUS_OBJECT_NAME_NOT_FOUND);
}

} // namespace
