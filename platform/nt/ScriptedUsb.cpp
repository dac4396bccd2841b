#include "platform/nt/ScriptedUsb.h"

#include <algorithm>
#include <cstring>

namespace nt {

ScriptedUsbDevice::ScriptedUsbDevice(std::vector<uint8_t> deviceDescriptor,
                                     std::vector<std::vector<uint8_t>> configurations)
    : device_(std::move(deviceDescriptor)), configurations_(std::move(configurations))
{
}

std::vector<uint8_t> ScriptedUsbDevice::ReceiverDeviceDescriptor(uint8_t configurations)
{
    return {18, 1, 0x00, 0x02, 0xFF, 0, 0, 64, 0x57, 0x7E, 0x52, 0x56, 0x00, 0x01, 0, 0, 0,
            configurations};
}

std::vector<uint8_t> ScriptedUsbDevice::ReceiverConfiguration(uint8_t value, uint8_t interface,
                                                              uint8_t alternate,
                                                              std::vector<uint8_t> extra)
{
    std::vector<uint8_t> endpoints = {0x85, 0x81, 0x83, 0x06};
    endpoints.insert(endpoints.end(), extra.begin(), extra.end());
    std::vector<uint8_t> d = {9, 2, 0, 0, 1, value, 0, 0x80, 50,
                              9, 4, interface, alternate, uint8_t(endpoints.size()), 0xFF, 0, 0, 0};
    for (uint8_t ep : endpoints) {
        uint8_t type = ep == 0x85 ? 3 : 2;  // interrupt for the reports, bulk for the rest
        d.insert(d.end(), {7, 5, ep, type, 64, 0, uint8_t(type == 3 ? 1 : 0)});
    }
    d[2] = uint8_t(d.size());
    d[3] = uint8_t(d.size() >> 8);
    return d;
}

std::shared_ptr<ScriptedUsbDevice> ScriptedUsbDevice::Receiver()
{
    return std::make_shared<ScriptedUsbDevice>(ReceiverDeviceDescriptor(),
                                               std::vector<std::vector<uint8_t>>{ReceiverConfiguration()});
}

void ScriptedUsbDevice::Plug()
{
    std::weak_ptr<ScriptedUsbDevice> weak = shared_from_this();
    auto bus = UsbBusDevice::Create(shared_from_this(), [weak] {
        if (auto self = weak.lock()) {
            std::lock_guard guard(self->lock_);
            self->released_ = true;
            self->changed_.notify_all();
        }
    });
    {
        std::lock_guard guard(lock_);
        bus_ = bus;
        released_ = false;
        configuration_ = 0;
        pending_.clear();
    }
    bus->Plug();
}

void ScriptedUsbDevice::Unplug()
{
    std::shared_ptr<UsbBusDevice> bus;
    {
        std::lock_guard guard(lock_);
        bus = std::move(bus_);
        pending_.clear();
    }
    if (bus) bus->Unplugged();
}

bool ScriptedUsbDevice::Plugged()
{
    std::lock_guard guard(lock_);
    return bus_ != nullptr;
}

PDEVICE_OBJECT ScriptedUsbDevice::Pdo()
{
    std::lock_guard guard(lock_);
    return bus_ ? bus_->Pdo() : nullptr;
}

bool ScriptedUsbDevice::Released()
{
    std::lock_guard guard(lock_);
    return released_;
}

void ScriptedUsbDevice::SetResponder(Responder responder)
{
    std::lock_guard guard(lock_);
    responder_ = std::move(responder);
}

void ScriptedUsbDevice::FailSetConfiguration(bool fail)
{
    std::lock_guard guard(lock_);
    failSetConfiguration_ = fail;
}

void ScriptedUsbDevice::Submit(const UsbTransfer& t)
{
    if (t.control) {
        Reply reply;
        uint8_t request = t.setup[1];
        if (request == 6) {  // GET_DESCRIPTOR
            uint8_t type = t.setup[3], index = t.setup[2];
            const std::vector<uint8_t>* d = nullptr;
            if (type == 1) d = &device_;
            if (type == 2 && index < configurations_.size()) d = &configurations_[index];
            if (d)
                reply.data.assign(d->begin(), d->begin() + std::min<size_t>(d->size(), t.length));
            else
                reply.status = -32;  // stall: no such descriptor
        } else if (request == 9) {  // SET_CONFIGURATION
            std::lock_guard guard(lock_);
            setConfigurations_.push_back(t.setup[2]);
            if (failSetConfiguration_)
                reply.status = -32;
            else
                configuration_ = t.setup[2];
        }
        Answer(t.id, reply);
        return;
    }
    {
        std::lock_guard guard(lock_);
        if (configuration_ == 0) ++unconfiguredTransfers_;
    }
    Submitted s{t.id, t.endpoint, t.length, {}};
    if (!t.In() && t.outData) s.out.assign(t.outData, t.outData + t.length);
    Responder responder;
    {
        std::lock_guard guard(lock_);
        responder = responder_;
    }
    if (responder) {
        if (auto reply = responder(s)) {
            Answer(t.id, *reply);
            return;
        }
    }
    std::lock_guard guard(lock_);
    pending_.push_back(std::move(s));
    changed_.notify_all();
}

void ScriptedUsbDevice::Unlink(uint32_t id)
{
    std::lock_guard guard(lock_);
    unlinked_.push_back(id);
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [id](const Submitted& s) { return s.id == id; }),
                   pending_.end());
}

void ScriptedUsbDevice::Answer(uint32_t id, const Reply& reply)
{
    std::shared_ptr<UsbBusDevice> bus;
    {
        std::lock_guard guard(lock_);
        bus = bus_;
    }
    if (!bus) return;
    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    if (!bus->ClaimTransfer(id, &buffer, &length)) return;
    uint32_t actual = reply.outActual;
    if (!reply.data.empty()) {
        actual = std::min<uint32_t>(length, reply.data.size());
        if (buffer) std::memcpy(buffer, reply.data.data(), actual);
    }
    bus->FinishTransfer(id, reply.status, actual);
}

std::optional<ScriptedUsbDevice::Submitted> ScriptedUsbDevice::WaitSubmitted(
    UCHAR endpoint, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(lock_);
    std::optional<Submitted> found;
    changed_.wait_for(lock, timeout, [&] {
        for (auto& s : pending_) {
            if (s.endpoint == endpoint) {
                found = s;
                return true;
            }
        }
        return false;
    });
    return found;
}

bool ScriptedUsbDevice::Complete(uint32_t id, const Reply& reply)
{
    {
        std::lock_guard guard(lock_);
        auto it = std::find_if(pending_.begin(), pending_.end(),
                               [id](const Submitted& s) { return s.id == id; });
        if (it == pending_.end()) return false;
        pending_.erase(it);
    }
    Answer(id, reply);
    return true;
}

size_t ScriptedUsbDevice::Pending(UCHAR endpoint)
{
    std::lock_guard guard(lock_);
    return std::count_if(pending_.begin(), pending_.end(),
                         [endpoint](const Submitted& s) { return s.endpoint == endpoint; });
}

size_t ScriptedUsbDevice::PendingTotal()
{
    std::lock_guard guard(lock_);
    return pending_.size();
}

std::vector<uint32_t> ScriptedUsbDevice::Unlinked()
{
    std::lock_guard guard(lock_);
    return unlinked_;
}

std::vector<uint8_t> ScriptedUsbDevice::Configurations()
{
    std::lock_guard guard(lock_);
    return setConfigurations_;
}

} // namespace nt

namespace nt {
size_t ScriptedUsbDevice::UnconfiguredTransfers()
{
    std::lock_guard guard(lock_);
    return unconfiguredTransfers_;
}
} // namespace nt
