// The bus driver's physical device objects. Each live transfer is an entry keyed by its id;
// whoever removes the entry (the backend's completion, a cancel, the unplug) completes the
// IRP, so an IRP is completed exactly once whatever races.
#include "platform/nt/UsbBus.h"

#include "platform/nt/IoStandIn.h"
#include "platform/nt/PnpManager.h"
#include "platform/nt/Power.h"
#include "platform/nt/UsbStatus.h"

#include <atomic>
#include <cerrno>
#include <cstring>

namespace nt {
namespace {

PDRIVER_OBJECT BusDriver()
{
    // Filled in once: the dispatch table is read by every thread that sends a request down.
    static PDRIVER_OBJECT driver = [] {
        PDRIVER_OBJECT d = IoCreateDriverObject("\\Driver\\VestraUsbBus");
        for (UCHAR major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major)
            d->MajorFunction[major] = UsbBusDevice::DispatchEntry();
        return d;
    }();
    return driver;
}

UsbBusDevice* BusOf(PDEVICE_OBJECT device)
{
    return *static_cast<UsbBusDevice**>(device->DeviceExtension);
}

uint32_t IdOf(PIRP irp)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(irp->Tail.Overlay.DriverContext[0]));
}

} // namespace

UsbBusDevice::UsbBusDevice(std::shared_ptr<UsbBackend> backend) : backend_(std::move(backend)) {}

UsbBusDevice::~UsbBusDevice() = default;

std::shared_ptr<UsbBusDevice> UsbBusDevice::Create(std::shared_ptr<UsbBackend> backend,
                                                   std::function<void()> released)
{
    auto bus = std::make_shared<UsbBusDevice>(std::move(backend));
    PDRIVER_OBJECT driver = BusDriver();
    IoCreateDevice(driver, sizeof(UsbBusDevice*), nullptr, FILE_DEVICE_USB, 0, FALSE, &bus->pdo_);
    *static_cast<UsbBusDevice**>(bus->pdo_->DeviceExtension) = bus.get();
    bus->pdo_->Flags &= ~DO_DEVICE_INITIALIZING;
    bus->self_ = bus;
    bus->released_ = std::move(released);
    return bus;
}

void UsbBusDevice::Plug()
{
    std::weak_ptr<UsbBusDevice> weak = shared_from_this();
    PnpDeviceArrived(pdo_, [weak] {
        if (auto bus = weak.lock()) bus->ReleasePdo();
    });
}

void UsbBusDevice::ReleasePdo()
{
    std::shared_ptr<UsbBusDevice> keep;
    std::shared_ptr<UsbBackend> backend;
    std::function<void()> released;
    {
        std::lock_guard guard(lock_);
        gone_ = true;
        released_flag_ = true;
        keep = std::move(self_);
        backend = std::move(backend_);
        released = std::move(released_);
    }
    FailAll(-ESHUTDOWN);
    {
        std::unique_lock lock(lock_);
        idle_.wait(lock, [&] { return finishing_ == 0; });
    }
    IoDeleteDevice(pdo_);
    if (released) released();
}

bool UsbBusDevice::Released()
{
    std::lock_guard guard(lock_);
    return released_flag_;
}

void UsbBusDevice::Unplugged()
{
    {
        std::lock_guard guard(lock_);
        if (gone_ || !backend_) return;
        backend_.reset();
    }
    // The stack hears of the loss as a surprise removal before any transfer fails: the
    // function driver tells its user first, and the outstanding transfers (and those sent
    // meanwhile, which wait with them) fail when the removal reaches this PDO.
    if (PnpDeviceGone(pdo_)) return;
    {
        std::lock_guard guard(lock_);
        gone_ = true;
    }
    FailAll(-ESHUTDOWN);  // no PnP manager to deliver the removal
}

size_t UsbBusDevice::LiveTransfers()
{
    std::lock_guard guard(lock_);
    return live_.size();
}

// ---- dispatch ------------------------------------------------------------------------------

NTSTATUS UsbBusDevice::Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    UsbBusDevice* bus = BusOf(device);
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    switch (location->MajorFunction) {
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        return bus->InternalControl(irp);
    case IRP_MJ_PNP:
        return bus->Pnp(irp);
    case IRP_MJ_POWER:
        return bus->Power(irp);
    default: {
        NTSTATUS status = irp->IoStatus.Status;  // system control and the rest: nothing to do
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    }
}

NTSTATUS UsbBusDevice::Pnp(PIRP irp)
{
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = irp->IoStatus.Status;
    switch (location->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        status = STATUS_SUCCESS;
        break;
    case IRP_MN_STOP_DEVICE: {
        std::lock_guard guard(lock_);
        pipes_.clear();
        ++generation_;
        status = STATUS_SUCCESS;
        break;
    }
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE: {
        {
            std::lock_guard guard(lock_);
            gone_ = true;
        }
        FailAll(-ESHUTDOWN);
        std::unique_lock lock(lock_);
        idle_.wait(lock, [&] { return finishing_ == 0; });
        status = STATUS_SUCCESS;
        break;
    }
    case IRP_MN_QUERY_CAPABILITIES: {
        DEVICE_CAPABILITIES* caps = location->Parameters.DeviceCapabilities.Capabilities;
        caps->Removable = 1;
        caps->SurpriseRemovalOK = 0;
        caps->DeviceState[PowerSystemWorking] = PowerDeviceD0;
        for (int s = PowerSystemSleeping1; s < PowerSystemMaximum; ++s)
            caps->DeviceState[s] = PowerDeviceD3;
        caps->DeviceD1 = 0;
        caps->DeviceD2 = 0;
        status = STATUS_SUCCESS;
        break;
    }
    default:
        break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS UsbBusDevice::Power(PIRP irp)
{
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    PoStartNextPowerIrp(irp);
    NTSTATUS status = irp->IoStatus.Status;
    if (location->MinorFunction == IRP_MN_SET_POWER || location->MinorFunction == IRP_MN_QUERY_POWER) {
        if (location->MinorFunction == IRP_MN_SET_POWER &&
            location->Parameters.Power.Type == DevicePowerState)
            PoSetPowerState(pdo_, DevicePowerState, location->Parameters.Power.State);
        status = STATUS_SUCCESS;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS UsbBusDevice::InternalControl(PIRP irp)
{
    IO_STACK_LOCATION* location = IoGetCurrentIrpStackLocation(irp);
    auto* urb = static_cast<PURB>(location->Parameters.Others.Argument1);
    if (location->Parameters.DeviceIoControl.IoControlCode != IOCTL_INTERNAL_USB_SUBMIT_URB || !urb) {
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    switch (urb->UrbHeader.Function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE: {
        auto& r = urb->UrbControlDescriptorRequest;
        UsbTransfer t;
        t.control = true;
        t.endpoint = 0x80;
        t.length = r.TransferBufferLength;
        t.setup = {0x80, 6, r.Index, r.DescriptorType, UCHAR(r.LanguageId), UCHAR(r.LanguageId >> 8),
                   UCHAR(t.length), UCHAR(t.length >> 8)};
        return Start(irp, urb, t, MakeLive(irp, urb, static_cast<uint8_t*>(r.TransferBuffer), t.length));
    }
    case URB_FUNCTION_SELECT_CONFIGURATION:
        return SelectConfiguration(irp, urb);
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        return BulkOrInterrupt(irp, urb);
    default:
        CompleteNow(irp, urb, USBD_STATUS_INVALID_URB_FUNCTION, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
}

NTSTATUS UsbBusDevice::SelectConfiguration(PIRP irp, PURB urb)
{
    auto& r = urb->UrbSelectConfiguration;
    UsbTransfer t;
    t.control = true;
    t.endpoint = 0x00;
    Live live = MakeLive(irp, urb, nullptr, 0);
    live.selectConfiguration = true;
    UCHAR value = 0;
    if (PUSB_CONFIGURATION_DESCRIPTOR config = r.ConfigurationDescriptor) {
        value = config->bConfigurationValue;
        // Fill in each interface's pipes from the endpoint descriptors that follow it.
        auto* info = &r.Interface;
        const UCHAR* urbEnd = reinterpret_cast<const UCHAR*>(urb) + urb->UrbHeader.Length;
        for (UCHAR n = 0; n < config->bNumInterfaces; ++n) {
            if (reinterpret_cast<const UCHAR*>(info) + sizeof(USBD_INTERFACE_INFORMATION) > urbEnd ||
                info->Length == 0)
                break;
            PUSB_INTERFACE_DESCRIPTOR iface = USBD_ParseConfigurationDescriptorEx(
                config, config, info->InterfaceNumber, info->AlternateSetting, -1, -1, -1);
            if (!iface) {
                CompleteNow(irp, urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER, 0);
                return STATUS_INVALID_PARAMETER;
            }
            info->Class = iface->bInterfaceClass;
            info->SubClass = iface->bInterfaceSubClass;
            info->Protocol = iface->bInterfaceProtocol;
            info->InterfaceHandle = iface;
            const UCHAR* end = reinterpret_cast<const UCHAR*>(config) + config->wTotalLength;
            const UCHAR* d = reinterpret_cast<const UCHAR*>(iface) + iface->bLength;
            ULONG pipe = 0;
            while (pipe < info->NumberOfPipes && d + sizeof(USB_ENDPOINT_DESCRIPTOR) <= end && d[0] >= 2) {
                if (d[1] == USB_INTERFACE_DESCRIPTOR_TYPE) break;
                if (d[1] == USB_ENDPOINT_DESCRIPTOR_TYPE) {
                    auto* ep = reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(d);
                    USBD_PIPE_INFORMATION& p = info->Pipes[pipe];
                    p.EndpointAddress = ep->bEndpointAddress;
                    p.MaximumPacketSize = ep->wMaxPacketSize;
                    p.Interval = ep->bInterval;
                    p.PipeType = static_cast<USBD_PIPE_TYPE>(ep->bmAttributes & USB_ENDPOINT_TYPE_MASK);
                    live.pipesOnSuccess.push_back(ep->bEndpointAddress);
                    live.sizesOnSuccess.push_back(p.MaximumTransferSize);
                    ++pipe;
                }
                d += d[0];
            }
            info->NumberOfPipes = pipe;
            info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(reinterpret_cast<UCHAR*>(info) +
                                                                 info->Length);
        }
    }
    t.setup = {0x00, 9, value, 0, 0, 0, 0, 0};  // SET_CONFIGURATION
    return Start(irp, urb, t, std::move(live));
}

NTSTATUS UsbBusDevice::BulkOrInterrupt(PIRP irp, PURB urb)
{
    auto& r = urb->UrbBulkOrInterruptTransfer;
    UsbTransfer t;
    USBD_STATUS refusal = USBD_STATUS_SUCCESS;
    {
        std::lock_guard guard(lock_);
        auto handle = reinterpret_cast<uintptr_t>(r.PipeHandle);
        uint32_t generation = static_cast<uint32_t>(handle >> 16);
        size_t index = (handle & 0xFFFF) - 1;
        if (generation != generation_ || index >= pipes_.size()) {
            refusal = USBD_STATUS_INVALID_PIPE_HANDLE;  // stale: from before a stop or reconfiguration
        } else {
            const Pipe& pipe = pipes_[index];
            bool in = r.TransferFlags & USBD_TRANSFER_DIRECTION_IN;
            if (r.TransferBufferLength > pipe.maximumTransferSize || in != bool(pipe.endpoint & 0x80))
                refusal = USBD_STATUS_INVALID_PARAMETER;
            t.endpoint = pipe.endpoint;
        }
    }
    if (refusal != USBD_STATUS_SUCCESS) {
        CompleteNow(irp, urb, refusal, STATUS_INVALID_PARAMETER, 0);
        return STATUS_INVALID_PARAMETER;
    }
    t.length = r.TransferBufferLength;
    t.shortOk = r.TransferFlags & USBD_SHORT_TRANSFER_OK;
    t.outData = static_cast<const uint8_t*>(r.TransferBuffer);
    return Start(irp, urb, t, MakeLive(irp, urb, static_cast<uint8_t*>(r.TransferBuffer), t.length));
}

NTSTATUS UsbBusDevice::Start(PIRP irp, PURB urb, const UsbTransfer& proto, Live live)
{
    UsbTransfer t = proto;
    std::shared_ptr<UsbBackend> backend;
    {
        std::unique_lock lock(lock_);
        if (gone_) {
            lock.unlock();
            CompleteNow(irp, urb, USBD_STATUS_DEVICE_GONE, STATUS_DEVICE_NOT_CONNECTED, 0);
            return STATUS_DEVICE_NOT_CONNECTED;
        }
        backend = backend_;  // none: unplugged, the transfer waits for the removal and fails with it
        t.id = nextId_++;
        if (nextId_ == 0) nextId_ = 1;
        live.submitting = true;
        live_.emplace(t.id, std::move(live));
        irp->Tail.Overlay.DriverContext[0] = reinterpret_cast<PVOID>(static_cast<uintptr_t>(t.id));
        IoMarkIrpPending(irp);
        IoSetCancelRoutine(irp, CancelRoutine);
        if (std::atomic_ref<BOOLEAN>(irp->Cancel).load() && IoSetCancelRoutine(irp, nullptr))
            live_[t.id].cancelRequested = true;
    }
    if (backend) backend->Submit(t);
    bool cancel = false;
    {
        std::lock_guard guard(lock_);
        auto it = live_.find(t.id);
        if (it != live_.end()) {
            it->second.submitting = false;
            cancel = it->second.cancelRequested && !it->second.claimed;
        }
    }
    if (cancel) Cancel(t.id);
    return STATUS_PENDING;
}

// ---- completion ----------------------------------------------------------------------------

bool UsbBusDevice::ClaimTransfer(uint32_t id, uint8_t** buffer, uint32_t* length)
{
    std::lock_guard guard(lock_);
    auto it = live_.find(id);
    if (it == live_.end() || it->second.claimed) return false;
    it->second.claimed = true;
    if (buffer) *buffer = it->second.buffer;
    if (length) *length = it->second.length;
    return true;
}

void UsbBusDevice::FinishTransfer(uint32_t id, int32_t linuxStatus, uint32_t actual)
{
    Live live;
    {
        std::lock_guard guard(lock_);
        auto it = live_.find(id);
        if (it == live_.end() || !it->second.claimed) return;
        live = std::move(it->second);
        live_.erase(it);
        ++finishing_;
        if (linuxStatus == 0 && live.selectConfiguration) {
            ++generation_;
            pipes_.clear();
            for (size_t i = 0; i < live.pipesOnSuccess.size(); ++i)
                pipes_.push_back({live.pipesOnSuccess[i], live.sizesOnSuccess[i]});
        }
    }
    if (actual > live.length) actual = live.length;
    UsbCompletionStatus s = UsbStatusFromLinux(linuxStatus);
    if (s.nt == STATUS_SUCCESS && live.selectConfiguration) {
        // Hand out the pipe handles of the new configuration.
        auto& r = live.urb->UrbSelectConfiguration;
        if (r.ConfigurationDescriptor) {
            uint32_t generation;
            {
                std::lock_guard guard(lock_);
                generation = generation_;
            }
            r.ConfigurationHandle = r.ConfigurationDescriptor;
            auto* info = &r.Interface;
            size_t index = 0;
            for (UCHAR n = 0; n < r.ConfigurationDescriptor->bNumInterfaces && info->Length; ++n) {
                for (ULONG p = 0; p < info->NumberOfPipes; ++p, ++index)
                    info->Pipes[p].PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(
                        static_cast<uintptr_t>(generation) << 16 | (index + 1));
                info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(reinterpret_cast<UCHAR*>(info) +
                                                                     info->Length);
                if (reinterpret_cast<UCHAR*>(info) >= reinterpret_cast<UCHAR*>(live.urb) + live.urb->UrbHeader.Length)
                    break;
            }
        }
    }
    ULONG length = NT_SUCCESS(s.nt) ? actual : 0;
    CompleteNow(live.irp, live.urb, s.usbd, s.nt, length);
    DoneFinishing();
}

void UsbBusDevice::DoneFinishing()
{
    std::lock_guard guard(lock_);
    if (--finishing_ == 0) idle_.notify_all();
}

void UsbBusDevice::CompleteNow(PIRP irp, PURB urb, USBD_STATUS usbd, NTSTATUS status, ULONG length)
{
    urb->UrbHeader.Status = usbd;
    if (urb->UrbHeader.Function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER)
        urb->UrbBulkOrInterruptTransfer.TransferBufferLength = length;
    else if (urb->UrbHeader.Function == URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE)
        urb->UrbControlDescriptorRequest.TransferBufferLength = length;
    if (!IoSetCancelRoutine(irp, nullptr)) {
        // A cancel routine may be running: let it finish with the IRP before completing it.
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        IoReleaseCancelSpinLock(irql);
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

void UsbBusDevice::CancelRoutine(PDEVICE_OBJECT device, PIRP irp)
{
    uint32_t id = IdOf(irp);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    BusOf(device)->Cancel(id);
}

void UsbBusDevice::Cancel(uint32_t id)
{
    Live live;
    std::shared_ptr<UsbBackend> backend;
    {
        std::lock_guard guard(lock_);
        auto it = live_.find(id);
        if (it == live_.end() || it->second.claimed) return;  // its completion is under way
        if (it->second.submitting) {
            it->second.cancelRequested = true;  // Start cancels it once Submit has returned
            return;
        }
        live = std::move(it->second);
        live_.erase(it);
        backend = backend_;
        ++finishing_;
    }
    if (backend) backend->Unlink(id);
    CompleteNow(live.irp, live.urb, USBD_STATUS_CANCELED, STATUS_CANCELLED, 0);
    DoneFinishing();
}

void UsbBusDevice::FailAll(int32_t linuxStatus)
{
    std::vector<Live> failed;
    {
        std::lock_guard guard(lock_);
        for (auto it = live_.begin(); it != live_.end();) {
            if (it->second.claimed) {
                ++it;
                continue;
            }
            if (it->second.submitting) {
                it->second.cancelRequested = true;
                ++it;
                continue;
            }
            failed.push_back(std::move(it->second));
            it = live_.erase(it);
        }
        finishing_ += failed.size();
    }
    UsbCompletionStatus s = UsbStatusFromLinux(linuxStatus);
    for (auto& live : failed) {
        CompleteNow(live.irp, live.urb, s.usbd, s.nt, 0);
        DoneFinishing();
    }
}

} // namespace nt
