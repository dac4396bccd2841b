// The I/O manager's core: device and driver objects, the name space, and the life of an IRP
// from IoCallDriver to its completion.
#include "platform/nt/IoStandIn.h"

#include "platform/nt/KeStandIn.h"
#include "platform/nt/PowerStandIn.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace {

struct NameSpace {
    std::recursive_mutex lock;
    std::map<std::string, PDEVICE_OBJECT> devices;  // "\Device\X" → device
    std::map<PDEVICE_OBJECT, std::string> names;    // device → "\Device\X"
    std::map<std::string, std::string> links;       // "\??\X" → "\Device\X"
    std::map<std::string, std::string> spellings;   // "\??\X" → the name as created
};

NameSpace& Names()
{
    static NameSpace* n = new NameSpace;
    return *n;
}

KSPIN_LOCK cancelSpinLock = 0;

std::atomic<LONG> irpsOutstanding{0};
std::atomic<void (*)(PDRIVER_OBJECT)> driverIdle{nullptr};

[[noreturn]] void Fatal(const char* what) { nt::KeBugCheck(what); }

// "\DosDevices\" and "\??\" name the same directory.
std::string CanonicalLink(const std::string& name)
{
    static const std::string dos = "\\DosDevices\\";
    if (name.compare(0, dos.size(), dos) == 0) return "\\??\\" + name.substr(dos.size());
    return name;
}

NTSTATUS InvalidDeviceRequest(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

void FreeDevice(PDEVICE_OBJECT device)
{
    PDRIVER_OBJECT driver = device->DriverObject;
    bool idle = false;
    {
        NameSpace& n = Names();
        std::lock_guard guard(n.lock);
        for (PDEVICE_OBJECT* p = &driver->DeviceObject; *p; p = &(*p)->NextDevice) {
            if (*p == device) {
                *p = device->NextDevice;
                break;
            }
        }
        idle = driver->DeviceObject == nullptr;
    }
    nt::PoForgetDevice(device);
    ::operator delete(device->DeviceExtension, std::align_val_t(16));
    delete device;
    if (idle) {
        if (auto callback = driverIdle.load()) callback(driver);
    }
}

} // namespace

// ---- devices and names ---------------------------------------------------------------------

NTSTATUS IoCreateDevice(PDRIVER_OBJECT driver, ULONG extensionSize, PUNICODE_STRING name,
                        DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                        PDEVICE_OBJECT* result)
{
    nt::KeRequirePassive("IoCreateDevice");
    *result = nullptr;
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    std::string deviceName = nt::NarrowName(name);
    if (!deviceName.empty() && n.devices.count(deviceName)) return STATUS_OBJECT_NAME_COLLISION;
    auto* device = new DEVICE_OBJECT{};
    device->DriverObject = driver;
    device->DeviceType = type;
    device->Characteristics = characteristics;
    device->Exclusive = exclusive;
    device->Flags = DO_DEVICE_INITIALIZING;
    device->StackSize = 1;
    device->ReferenceCount = 1;
    if (extensionSize) {
        device->DeviceExtension = ::operator new(extensionSize, std::align_val_t(16));
        std::memset(device->DeviceExtension, 0, extensionSize);
    }
    device->NextDevice = driver->DeviceObject;
    driver->DeviceObject = device;
    if (!deviceName.empty()) {
        n.devices[deviceName] = device;
        n.names[device] = deviceName;
    }
    *result = device;
    return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT device)
{
    nt::KeRequirePassive("IoDeleteDevice");
    {
        NameSpace& n = Names();
        std::lock_guard guard(n.lock);
        if (device->DeletePending) Fatal("IoDeleteDevice called twice");
        device->DeletePending = TRUE;
        auto named = n.names.find(device);
        if (named != n.names.end()) {
            n.devices.erase(named->second);
            n.names.erase(named);
        }
    }
    nt::IoDereferenceDevice(device);
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING link, PUNICODE_STRING target)
{
    nt::KeRequirePassive("IoCreateSymbolicLink");
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    std::string spelling = nt::NarrowName(link);
    std::string key = CanonicalLink(spelling);
    if (n.links.count(key)) return STATUS_OBJECT_NAME_COLLISION;
    n.links[key] = nt::NarrowName(target);
    n.spellings[key] = spelling;
    return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING link)
{
    nt::KeRequirePassive("IoDeleteSymbolicLink");
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    std::string key = CanonicalLink(nt::NarrowName(link));
    n.spellings.erase(key);
    return n.links.erase(key) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target)
{
    nt::KeRequirePassive("IoAttachDeviceToDeviceStack");
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    if (!target || target->DeletePending) return nullptr;
    PDEVICE_OBJECT top = nt::IoGetAttachedDevice(target);
    top->AttachedDevice = source;
    source->AttachedTo = top;
    source->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    return top;
}

void IoDetachDevice(PDEVICE_OBJECT lower)
{
    nt::KeRequirePassive("IoDetachDevice");
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    if (PDEVICE_OBJECT upper = lower->AttachedDevice) upper->AttachedTo = nullptr;
    lower->AttachedDevice = nullptr;
}

namespace nt {

namespace {

PDEVICE_OBJECT FindDevice(NameSpace& n, const std::string& name)
{
    std::string target = name;
    auto link = n.links.find(CanonicalLink(name));
    if (link != n.links.end()) target = link->second;
    auto it = n.devices.find(target);
    return it == n.devices.end() ? nullptr : it->second;
}

PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device)
{
    while (device->AttachedDevice) device = device->AttachedDevice;
    return device;
}

} // namespace

PDEVICE_OBJECT IoLookupDevice(const std::string& name)
{
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    return FindDevice(n, name);
}

PDEVICE_OBJECT IoReferenceDeviceByName(const std::string& name)
{
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    PDEVICE_OBJECT device = FindDevice(n, name);
    if (device) IoReferenceDevice(device);
    return device;
}

std::string IoLinkSpelling(const std::string& link)
{
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    auto it = n.spellings.find(CanonicalLink(link));
    return it == n.spellings.end() ? std::string() : it->second;
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT device)
{
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    return TopOfStack(device);
}

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT device)
{
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    device = TopOfStack(device);
    IoReferenceDevice(device);
    return device;
}

bool IoStackRefusesOpens(PDEVICE_OBJECT device)
{
    NameSpace& n = Names();
    std::lock_guard guard(n.lock);
    for (PDEVICE_OBJECT d = device; d; d = d->AttachedTo) {
        if (std::atomic_ref<ULONG>(d->Flags).load() & DO_DEVICE_INITIALIZING) return true;
        if (d->DeletePending || std::atomic_ref<BOOLEAN>(d->StartPending).load()) return true;
    }
    return false;
}

void IoReferenceDevice(PDEVICE_OBJECT device)
{
    std::atomic_ref<LONG>(device->ReferenceCount).fetch_add(1);
}

void IoDereferenceDevice(PDEVICE_OBJECT device)
{
    if (std::atomic_ref<LONG>(device->ReferenceCount).fetch_sub(1) == 1) FreeDevice(device);
}

PDRIVER_OBJECT IoCreateDriverObject(const std::string& name)
{
    auto* driver = new DRIVER_OBJECT{};
    auto* buffer = new WCHAR[name.size() + 1];
    for (size_t i = 0; i < name.size(); ++i) buffer[i] = static_cast<unsigned char>(name[i]);
    buffer[name.size()] = 0;
    RtlInitUnicodeString(&driver->DriverName, buffer);
    driver->DriverExtension = &driver->Extension;
    for (auto& dispatch : driver->MajorFunction) dispatch = InvalidDeviceRequest;
    return driver;
}

void IoDeleteDriverObject(PDRIVER_OBJECT driver)
{
    if (driver->DeviceObject) Fatal("driver object deleted while it has devices");
    delete[] driver->DriverName.Buffer;
    delete driver;
}

void IoSetDriverIdleCallback(void (*callback)(PDRIVER_OBJECT)) { driverIdle = callback; }

LONG IrpsOutstanding() { return irpsOutstanding.load(); }

} // namespace nt

// ---- IRPs ----------------------------------------------------------------------------------

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN)
{
    if (stackSize < 1) stackSize = 1;
    auto* irp = new IRP{};
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CCHAR>(stackSize + 1);
    irp->Stack = new IO_STACK_LOCATION[stackSize]{};
    irp->IoStatus.Status = STATUS_SUCCESS;
    ++irpsOutstanding;
    return irp;
}

void IoFreeIrp(PIRP irp)
{
    if (!irp) return;
    delete[] irp->Stack;
    delete irp;
    --irpsOutstanding;
}

void IoReuseIrp(PIRP irp, NTSTATUS status)
{
    std::memset(irp->Stack, 0, sizeof(IO_STACK_LOCATION) * irp->StackCount);
    irp->CurrentLocation = static_cast<CCHAR>(irp->StackCount + 1);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    irp->Cancel = FALSE;
    irp->CancelRoutine = nullptr;
    irp->PendingReturned = FALSE;
    irp->Completing = 0;
}

PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp)
{
    return &irp->Stack[irp->CurrentLocation - 1];
}

PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp)
{
    if (irp->CurrentLocation < 2) Fatal("no stack location left for the next driver");
    return &irp->Stack[irp->CurrentLocation - 2];
}

void IoCopyCurrentIrpStackLocationToNext(PIRP irp)
{
    IO_STACK_LOCATION* current = IoGetCurrentIrpStackLocation(irp);
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    *next = *current;
    next->CompletionRoutine = nullptr;
    next->Context = nullptr;
    next->Control = 0;
}

void IoSkipCurrentIrpStackLocation(PIRP irp) { ++irp->CurrentLocation; }

void IoMarkIrpPending(PIRP irp) { IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED; }

void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context,
                            BOOLEAN onSuccess, BOOLEAN onError, BOOLEAN onCancel)
{
    IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (onSuccess) next->Control |= SL_INVOKE_ON_SUCCESS;
    if (onError) next->Control |= SL_INVOKE_ON_ERROR;
    if (onCancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
    if (--irp->CurrentLocation < 1) Fatal("IRP has no stack location for this driver");
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    location->DeviceObject = device;
    return device->DriverObject->MajorFunction[location->MajorFunction](device, irp);
}

void IofCompleteRequest(PIRP irp, CCHAR)
{
    std::atomic_ref<LONG> completing(irp->Completing);
    if (completing.exchange(1)) Fatal("IRP completed twice");
    if (irp->IoStatus.Status == STATUS_PENDING) Fatal("IRP completed with STATUS_PENDING");
    while (irp->CurrentLocation <= irp->StackCount) {
        IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
        PIO_COMPLETION_ROUTINE routine = location->CompletionRoutine;
        PVOID context = location->Context;
        UCHAR control = location->Control;
        location->CompletionRoutine = nullptr;
        location->Control = 0;
        irp->PendingReturned = (control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        ++irp->CurrentLocation;
        PDEVICE_OBJECT upper = irp->CurrentLocation <= irp->StackCount
                                   ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                   : nullptr;
        NTSTATUS status = irp->IoStatus.Status;
        bool invoke = routine && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                  (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                  (irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            // The routine may take the IRP back (more processing) and complete it again later,
            // possibly on another thread before it has even returned.
            completing.store(0);
            NTSTATUS result;
            {
                nt::DispatchLevelScope level;  // completion routines run at dispatch level
                result = routine(upper, irp, context);
            }
            if (nt::KeSpinLocksHeld()) Fatal("completion routine returned holding a spin lock");
            if (result == STATUS_MORE_PROCESSING_REQUIRED) return;
            if (completing.exchange(1)) Fatal("IRP completed twice (inside a completion routine)");
        } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
            IoMarkIrpPending(irp);
        }
    }
    if (irp->Owner) irp->Owner->IrpCompleted(irp);
}

// ---- cancellation --------------------------------------------------------------------------

void IoAcquireCancelSpinLock(PKIRQL irql) { KeAcquireSpinLock(&cancelSpinLock, irql); }

void IoReleaseCancelSpinLock(KIRQL irql) { KeReleaseSpinLock(&cancelSpinLock, irql); }

PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine)
{
    return std::atomic_ref<PDRIVER_CANCEL>(irp->CancelRoutine).exchange(routine);
}

BOOLEAN IoCancelIrp(PIRP irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    std::atomic_ref<BOOLEAN>(irp->Cancel).store(TRUE);
    PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
    if (!routine) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    PDEVICE_OBJECT device = irp->CurrentLocation <= irp->StackCount
                                ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                : nullptr;
    routine(device, irp);  // releases the cancel spin lock
    return TRUE;
}

// ---- remove lock ---------------------------------------------------------------------------

void IoInitializeRemoveLock(PIO_REMOVE_LOCK lock, ULONG, ULONG, ULONG)
{
    lock->Removed = FALSE;
    lock->IoCount = 1;
    KeInitializeEvent(&lock->RemoveEvent, NotificationEvent, FALSE);
}

NTSTATUS IoAcquireRemoveLock(PIO_REMOVE_LOCK lock, PVOID tag)
{
    InterlockedIncrement(&lock->IoCount);
    if (std::atomic_ref<BOOLEAN>(lock->Removed).load()) {
        IoReleaseRemoveLock(lock, tag);
        return STATUS_DELETE_PENDING;
    }
    return STATUS_SUCCESS;
}

void IoReleaseRemoveLock(PIO_REMOVE_LOCK lock, PVOID)
{
    LONG left = InterlockedDecrement(&lock->IoCount);
    if (left < 0) Fatal("remove lock released more often than acquired");
    if (left == 0) KeSetEvent(&lock->RemoveEvent, 0, FALSE);
}

void IoReleaseRemoveLockAndWait(PIO_REMOVE_LOCK lock, PVOID tag)
{
    nt::KeRequirePassive("IoReleaseRemoveLockAndWait");
    if (std::atomic_ref<BOOLEAN>(lock->Removed).exchange(TRUE)) Fatal("IoReleaseRemoveLockAndWait called twice");
    InterlockedDecrement(&lock->IoCount);  // the initial count
    IoReleaseRemoveLock(lock, tag);        // the caller's own acquisition
    KeWaitForSingleObject(&lock->RemoveEvent, Executive, KernelMode, FALSE, nullptr);
}
