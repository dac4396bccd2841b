// A USB device on the bus whose far side is a script: descriptors answer the control
// requests, data transfers wait until the script completes them. Tests and benchmarks use it
// to drive the stack without a network.
#pragma once

#include "platform/nt/UsbBus.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace nt {

class ScriptedUsbDevice : public UsbBackend, public std::enable_shared_from_this<ScriptedUsbDevice> {
public:
    struct Submitted {
        uint32_t id;
        UCHAR endpoint;  // with the direction bit
        uint32_t length;
        std::vector<uint8_t> out;  // OUT data
    };
    struct Reply {
        int32_t status = 0;         // Linux errno, 0 or negative
        std::vector<uint8_t> data;  // IN data
        uint32_t outActual = 0;     // bytes taken of an OUT transfer
    };
    // Answers a data transfer at once (from the submitting thread) or, with nullopt, leaves it
    // pending for the script.
    using Responder = std::function<std::optional<Reply>(const Submitted&)>;

    ScriptedUsbDevice(std::vector<uint8_t> deviceDescriptor,
                      std::vector<std::vector<uint8_t>> configurations);

    // The receiver's descriptors: configuration 1, interface 0 alternate 0, endpoints 0x85,
    // 0x81, 0x83, 0x06, plus `extraEndpoints` after them.
    static std::vector<uint8_t> ReceiverDeviceDescriptor(uint8_t configurations = 1);
    static std::vector<uint8_t> ReceiverConfiguration(uint8_t value = 1, uint8_t interface = 0,
                                                      uint8_t alternate = 0,
                                                      std::vector<uint8_t> extraEndpoints = {});
    static std::shared_ptr<ScriptedUsbDevice> Receiver();

    void Plug();
    void Unplug();
    bool Plugged();
    PDEVICE_OBJECT Pdo();
    // True once the PnP manager has let go of the last PDO.
    bool Released();

    void SetResponder(Responder responder);
    void FailSetConfiguration(bool fail);
    std::optional<Submitted> WaitSubmitted(UCHAR endpoint, std::chrono::milliseconds timeout);
    // Completes a pending transfer; false when the bus no longer waits for it.
    bool Complete(uint32_t id, const Reply& reply);
    size_t Pending(UCHAR endpoint);
    size_t PendingTotal();
    std::vector<uint32_t> Unlinked();
    // SET_CONFIGURATION values received, in order.
    std::vector<uint8_t> Configurations();
    // Data transfers that arrived while the device had no configuration selected.
    size_t UnconfiguredTransfers();

    void Submit(const UsbTransfer& transfer) override;
    void Unlink(uint32_t id) override;

private:
    void Answer(uint32_t id, const Reply& reply);

    const std::vector<uint8_t> device_;
    const std::vector<std::vector<uint8_t>> configurations_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::shared_ptr<UsbBusDevice> bus_;
    std::deque<Submitted> pending_;
    std::vector<uint32_t> unlinked_;
    std::vector<uint8_t> setConfigurations_;
    Responder responder_;
    bool failSetConfiguration_ = false;
    uint8_t configuration_ = 0;
    size_t unconfiguredTransfers_ = 0;
    bool released_ = true;
};

} // namespace nt
