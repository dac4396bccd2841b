// The USB bus driver at the bottom of the stack: one physical device object per attached
// device, taking URBs (descriptor reads, configuration, bulk and interrupt transfers) and
// turning them into transfers on a backend, which is the far side of the bus: a USB/IP
// connection, or a script in tests.
#pragma once

#include "platform/nt/Usb.h"

#include <array>
#include <memory>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>
#include <unordered_map>

namespace nt {

struct UsbTransfer {
    uint32_t id = 0;
    UCHAR endpoint = 0;                  // address with the direction bit (0x00/0x80 control)
    bool control = false;
    std::array<uint8_t, 8> setup{};      // for control transfers, as on the wire
    uint32_t length = 0;
    bool shortOk = true;                 // a short IN transfer is a success
    const uint8_t* outData = nullptr;    // OUT data, valid during Submit only
    bool In() const { return endpoint & 0x80; }
};

class UsbBusDevice;

// The far side of the bus. Submit and Unlink are called from any thread, never with a lock of
// the bus device held. The backend reports every submitted transfer's end exactly once through
// UsbBusDevice::ClaimTransfer / FinishTransfer, from its own thread or from within Submit.
class UsbBackend {
public:
    virtual ~UsbBackend() = default;
    virtual void Submit(const UsbTransfer& transfer) = 0;
    // The bus has given up a transfer (cancelled); a result that still comes is claimed in vain.
    virtual void Unlink(uint32_t id) = 0;
};

class UsbBusDevice : public std::enable_shared_from_this<UsbBusDevice> {
public:
    // Creates the physical device object; Plug() reports it to the PnP manager. The PDO is
    // deleted once the PnP manager has released it after its removal; the object itself
    // lives on while the backend holds it, answering every call as "no longer waited for".
    static std::shared_ptr<UsbBusDevice> Create(std::shared_ptr<UsbBackend> backend,
                                                std::function<void()> released = {});

    PDEVICE_OBJECT Pdo() const { return pdo_; }
    void Plug();
    // The far side is gone: the PnP manager is told (surprise removal), and when the removal
    // reaches this PDO every transfer fails with device gone; transfers sent before then wait
    // for it, later ones fail at once. The backend calls nothing after this.
    void Unplugged();

    // From the backend: takes a live transfer for completion and gives where its IN data goes.
    // False when the bus no longer waits for it (cancelled, or the device is gone): the
    // backend then discards the result.
    bool ClaimTransfer(uint32_t id, uint8_t** buffer, uint32_t* length);
    // Completes a claimed transfer with a Linux status and the bytes moved.
    void FinishTransfer(uint32_t id, int32_t linuxStatus, uint32_t actual);

    size_t LiveTransfers();
    bool Released();

    ~UsbBusDevice();
    explicit UsbBusDevice(std::shared_ptr<UsbBackend> backend);

    static PDRIVER_DISPATCH DispatchEntry() { return Dispatch; }

private:
    struct Live {
        PIRP irp = nullptr;
        PURB urb = nullptr;
        uint8_t* buffer = nullptr;
        uint32_t length = 0;
        bool claimed = false;
        bool submitting = false;
        bool cancelRequested = false;
        bool selectConfiguration = false;
        std::vector<UCHAR> pipesOnSuccess;   // endpoints of the configuration being selected
        std::vector<ULONG> sizesOnSuccess;
    };
    static Live MakeLive(PIRP irp, PURB urb, uint8_t* buffer, uint32_t length)
    {
        Live live;
        live.irp = irp;
        live.urb = urb;
        live.buffer = buffer;
        live.length = length;
        return live;
    }
    struct Pipe {
        UCHAR endpoint;
        ULONG maximumTransferSize;
    };

    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp);
    static void CancelRoutine(PDEVICE_OBJECT device, PIRP irp);
    NTSTATUS InternalControl(PIRP irp);
    NTSTATUS Pnp(PIRP irp);
    NTSTATUS Power(PIRP irp);
    NTSTATUS Start(PIRP irp, PURB urb, const UsbTransfer& t, Live live);
    NTSTATUS SelectConfiguration(PIRP irp, PURB urb);
    NTSTATUS BulkOrInterrupt(PIRP irp, PURB urb);
    void CompleteNow(PIRP irp, PURB urb, USBD_STATUS usbd, NTSTATUS status, ULONG length);
    void FailAll(int32_t linuxStatus);
    void Cancel(uint32_t id);
    void DoneFinishing();
    void ReleasePdo();

    std::shared_ptr<UsbBackend> backend_;  // dropped at release
    std::shared_ptr<UsbBusDevice> self_;   // keeps the object alive until release
    std::function<void()> released_;
    PDEVICE_OBJECT pdo_ = nullptr;
    std::mutex lock_;  // guards everything below
    std::condition_variable idle_;
    std::unordered_map<uint32_t, Live> live_;
    uint32_t nextId_ = 1;
    bool gone_ = false;       // removed: transfers fail at once
    bool released_flag_ = false;
    uint32_t generation_ = 0; // changes with every configuration: old pipe handles go stale
    std::vector<Pipe> pipes_; // of the current configuration
    size_t finishing_ = 0;    // completions running outside the lock
};

} // namespace nt
