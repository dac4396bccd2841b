// The stand-in's strictness where a real kernel would bug-check or hang: the level each thread
// runs at, spin locks, pool and waits under them, passive-level routines, freeing null pool;
// and the remove lock that a removal waits on.
#include "platform/nt/IoStandIn.h"
#include "platform/nt/KeStandIn.h"
#include "platform/nt/ObStandIn.h"
#include "platform/nt/PoolStandIn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr ULONG kTag = MakePoolTag("Lvl1");

KSPIN_LOCK lock;

struct Fault {
    const char* name;
    std::function<void()> run;
    const char* message;
};

class BugChecksDeathTest : public ::testing::TestWithParam<Fault> {};

TEST_P(BugChecksDeathTest, StopTheProcessWithTheirReason)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(GetParam().run(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BugChecksDeathTest,
    ::testing::Values(
        Fault{"FreeingNullPool", [] { ExFreePool(nullptr); }, "ExFreePool\\(NULL\\)"},
        Fault{"PoolUnderASpinLock",
              [] {
                  KIRQL irql;
                  KeAcquireSpinLock(&lock, &irql);
                  ExAllocatePoolWithTag(NonPagedPool, 8, kTag);
              },
              "ExAllocatePoolWithTag called while holding a spin lock"},
        Fault{"WaitUnderTheCancelSpinLock",
              [] {
                  KEVENT event;
                  KeInitializeEvent(&event, NotificationEvent, TRUE);
                  KIRQL irql;
                  IoAcquireCancelSpinLock(&irql);
                  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
              },
              "KeWaitForSingleObject called while holding a spin lock"},
        Fault{"MutexAtDispatchLevel",
              [] {
                  KMUTEX mutex;
                  KeInitializeMutex(&mutex, 0);
                  nt::KeRaiseToDispatch();
                  KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
              },
              "waits at dispatch level"},
        Fault{"HandleReferenceAtDispatchLevel",
              [] {
                  nt::KeRaiseToDispatch();
                  PVOID object;
                  ObReferenceObjectByHandle(nullptr, 0, *ExEventObjectType, KernelMode, &object, nullptr);
              },
              "ObReferenceObjectByHandle called at level 2"},
        Fault{"SpinLockTakenTwice",
              [] {
                  KIRQL a, b;
                  KeAcquireSpinLock(&lock, &a);
                  KeAcquireSpinLock(&lock, &b);
              },
              "spin lock acquired twice"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Levels, SpinLocksRaiseToDispatchAndRestoreTheLevelTheyFound)
{
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    KIRQL outer, inner;
    KeAcquireSpinLock(&lock, &outer);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    IoAcquireCancelSpinLock(&inner);
    EXPECT_EQ(inner, DISPATCH_LEVEL);
    EXPECT_EQ(nt::KeSpinLocksHeld(), 2);
    IoReleaseCancelSpinLock(inner);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeReleaseSpinLock(&lock, outer);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(nt::KeSpinLocksHeld(), 0);
    // Another thread starts at passive level whatever this one does.
    nt::DispatchLevelScope raised;
    KIRQL seen = DISPATCH_LEVEL;
    std::thread([&] { seen = KeGetCurrentIrql(); }).join();
    EXPECT_EQ(seen, PASSIVE_LEVEL);
}

// A one-device driver that completes every request at once.
struct CompletingDevice {
    static NTSTATUS Complete(PDEVICE_OBJECT, PIRP irp)
    {
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    CompletingDevice()
    {
        driver = nt::IoCreateDriverObject("\\Driver\\Levels");
        for (auto& f : driver->MajorFunction) f = Complete;
        IoCreateDevice(driver, 0, nullptr, 0x22, 0, FALSE, &device);
    }
    ~CompletingDevice()
    {
        IoDeleteDevice(device);
        nt::IoDeleteDriverObject(driver);
    }
    PDRIVER_OBJECT driver;
    PDEVICE_OBJECT device = nullptr;
};

TEST(Levels, CompletionRoutinesRunAtDispatchLevel)
{
    CompletingDevice d;
    PIRP irp = IoAllocateIrp(d.device->StackSize, FALSE);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    static KIRQL seen;
    seen = PASSIVE_LEVEL;
    IoSetCompletionRoutine(irp, [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS {
        seen = KeGetCurrentIrql();
        return STATUS_MORE_PROCESSING_REQUIRED;
    }, nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(d.device, irp);
    EXPECT_EQ(seen, DISPATCH_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    IoFreeIrp(irp);
}

TEST(RemoveLock, TheRemovalWaitsForEveryAcquisitionAndRefusesNewOnes)
{
    IO_REMOVE_LOCK removeLock;
    IoInitializeRemoveLock(&removeLock, kTag, 0, 0);
    int request = 0, removal = 0;
    ASSERT_EQ(IoAcquireRemoveLock(&removeLock, &request), STATUS_SUCCESS);
    ASSERT_EQ(IoAcquireRemoveLock(&removeLock, &removal), STATUS_SUCCESS);
    std::atomic<bool> removed{false};
    std::thread remover([&] {
        IoReleaseRemoveLockAndWait(&removeLock, &removal);
        removed = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(removed);
    int late = 0;
    EXPECT_EQ(IoAcquireRemoveLock(&removeLock, &late), STATUS_DELETE_PENDING);
    IoReleaseRemoveLock(&removeLock, &request);
    remover.join();
    EXPECT_TRUE(removed);
}

} // namespace
