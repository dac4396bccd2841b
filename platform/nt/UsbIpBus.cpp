// The USB/IP client. Every message read is checked against what was asked: a reply for an
// unknown sequence number, a header of the wrong kind or a length beyond the request ends
// the connection cleanly, and the device is surprise-removed.
#include "platform/nt/UsbIpBus.h"

#include "platform/nt/UsbBus.h"
#include "platform/usbip/SocketIo.h"
#include "platform/usbip/UsbIpProtocol.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace nt {

// One imported device: the backend of its bus device, and the reader of its socket.
class UsbIpConnection : public UsbBackend {
public:
    UsbIpConnection(int fd, uint32_t devid) : fd_(fd), devid_(devid) {}
    ~UsbIpConnection() override { ::close(fd_); }

    void Attach(std::shared_ptr<UsbBusDevice> bus) { bus_ = std::move(bus); }

    void Submit(const UsbTransfer& t) override
    {
        usbip::CmdSubmit cmd;
        std::vector<uint8_t> message;
        {
            std::lock_guard guard(lock_);
            if (dead_) return;  // the reader fails the transfer when it ends the connection
            uint32_t seq = NextSeq();
            entries_[seq] = Entry{t.id, t.In(), false};
            seqOfId_[t.id] = seq;
            cmd.base.seqnum = seq;
        }
        cmd.base.devid = devid_;
        cmd.base.direction = t.In() ? usbip::DirIn : usbip::DirOut;
        cmd.base.ep = t.endpoint & 0x0F;
        cmd.transferFlags = (t.In() ? 0x0200u : 0u) | (t.In() && !t.shortOk ? 0x0001u : 0u);
        cmd.transferBufferLength = static_cast<int32_t>(t.length);
        cmd.setup = t.setup;
        auto header = usbip::encodeHeader(cmd);
        message.assign(header.begin(), header.end());
        if (!t.In() && t.outData) message.insert(message.end(), t.outData, t.outData + t.length);
        Send(message);
    }

    void Unlink(uint32_t id) override
    {
        usbip::CmdUnlink cmd;
        {
            std::lock_guard guard(lock_);
            auto s = seqOfId_.find(id);
            if (dead_ || s == seqOfId_.end()) return;
            auto e = entries_.find(s->second);
            if (e == entries_.end() || e->second.unlinking) return;
            e->second.unlinking = true;
            uint32_t seq = NextSeq();
            unlinks_[seq] = s->second;
            cmd.base.seqnum = seq;
            cmd.unlinkSeqnum = s->second;
        }
        cmd.base.devid = devid_;
        auto header = usbip::encodeHeader(cmd);
        Send(std::vector<uint8_t>(header.begin(), header.end()));
    }

    // Reads replies until the connection ends or breaks the protocol.
    void Read()
    {
        std::array<uint8_t, usbip::kHeaderSize> header;
        while (usbip::readExact(fd_, header.data(), header.size()) == usbip::IoStatus::Ok) {
            auto message = usbip::decodeHeader(header);
            if (!message) break;
            if (auto* ret = std::get_if<usbip::RetSubmit>(&*message)) {
                if (!OnRetSubmit(*ret)) break;
            } else if (auto* ret = std::get_if<usbip::RetUnlink>(&*message)) {
                if (!OnRetUnlink(*ret)) break;
            } else {
                break;  // a command from the server
            }
        }
        End();
    }

    void End()
    {
        {
            std::lock_guard guard(lock_);
            if (dead_) return;
            dead_ = true;
            entries_.clear();
            seqOfId_.clear();
            unlinks_.clear();
        }
        ::shutdown(fd_, SHUT_RDWR);
        if (bus_) bus_->Unplugged();
        bus_.reset();
    }

private:
    struct Entry {
        uint32_t id;
        bool in;
        bool unlinking;
    };

    uint32_t NextSeq()
    {
        if (++seq_ == 0) ++seq_;
        return seq_;
    }

    void Send(const std::vector<uint8_t>& bytes)
    {
        std::lock_guard guard(writeLock_);
        if (usbip::writeAll(fd_, bytes.data(), bytes.size()) != usbip::IoStatus::Ok)
            ::shutdown(fd_, SHUT_RDWR);  // the reader sees the end and removes the device
    }

    bool Discard(size_t bytes)
    {
        uint8_t scratch[4096];
        while (bytes) {
            size_t n = std::min(bytes, sizeof scratch);
            if (usbip::readExact(fd_, scratch, n) != usbip::IoStatus::Ok) return false;
            bytes -= n;
        }
        return true;
    }

    bool OnRetSubmit(const usbip::RetSubmit& ret)
    {
        Entry entry;
        {
            std::lock_guard guard(lock_);
            auto it = entries_.find(ret.base.seqnum);
            if (it == entries_.end()) return false;
            entry = it->second;
            if (!entry.unlinking) {
                entries_.erase(it);
                seqOfId_.erase(entry.id);
            }
        }
        size_t payload = usbip::payloadAfter(ret, entry.in ? usbip::DirIn : usbip::DirOut);
        if (entry.unlinking) return Discard(payload);  // RET_UNLINK follows and ends it
        uint8_t* buffer = nullptr;
        uint32_t length = 0;
        if (!bus_ || !bus_->ClaimTransfer(entry.id, &buffer, &length)) return Discard(payload);
        uint32_t actual = static_cast<uint32_t>(ret.actualLength);
        if (ret.numberOfPackets > 0 || actual > length) {
            bus_->FinishTransfer(entry.id, -EOVERFLOW, 0);
            return false;  // more data than was asked for: the stream cannot be trusted
        }
        if (entry.in && actual && usbip::readExact(fd_, buffer, actual) != usbip::IoStatus::Ok) {
            bus_->FinishTransfer(entry.id, -ESHUTDOWN, 0);
            return false;
        }
        if (!entry.in && payload && !Discard(payload)) {
            bus_->FinishTransfer(entry.id, -ESHUTDOWN, 0);
            return false;
        }
        bus_->FinishTransfer(entry.id, ret.status, actual);
        return true;
    }

    bool OnRetUnlink(const usbip::RetUnlink& ret)
    {
        std::lock_guard guard(lock_);
        auto u = unlinks_.find(ret.base.seqnum);
        if (u == unlinks_.end()) return false;
        auto e = entries_.find(u->second);
        if (e != entries_.end()) {
            seqOfId_.erase(e->second.id);
            entries_.erase(e);
        }
        unlinks_.erase(u);
        return true;
    }

    const int fd_;
    const uint32_t devid_;
    std::shared_ptr<UsbBusDevice> bus_;  // touched by the reader thread only
    std::mutex lock_;                    // guards the tables and dead_
    std::mutex writeLock_;               // one message at a time on the socket
    std::unordered_map<uint32_t, Entry> entries_;     // seqnum → submitted transfer
    std::unordered_map<uint32_t, uint32_t> seqOfId_;  // bus transfer id → seqnum
    std::unordered_map<uint32_t, uint32_t> unlinks_;  // unlink seqnum → submit seqnum
    uint32_t seq_ = 0;
    bool dead_ = false;
};

UsbIpBus::UsbIpBus() = default;

UsbIpBus::~UsbIpBus() { Stop(); }

bool UsbIpBus::Configure(const UsbBusConfig& config)
{
    config_ = config;
    return usbip::parseHostPort(config.server, host_, port_);
}

void UsbIpBus::Start()
{
    std::lock_guard guard(lock_);
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void UsbIpBus::Stop()
{
    {
        std::lock_guard guard(lock_);
        stop_ = true;
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

bool UsbIpBus::SleepUnlessStopped(int ms)
{
    std::unique_lock lock(lock_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop_; });
    return !stop_;
}

int UsbIpBus::Connect()
{
    int fd = usbip::connectTcp(host_, port_);
    std::lock_guard guard(lock_);
    if (fd >= 0 && stop_) {
        ::close(fd);
        return -1;
    }
    fd_ = fd;
    return fd;
}

void UsbIpBus::Forget(int fd)
{
    std::lock_guard guard(lock_);
    if (fd_ == fd) fd_ = -1;
}

std::string UsbIpBus::FindDevice()
{
    int fd = Connect();
    if (fd < 0) return {};
    std::string found;
    auto request = usbip::encodeReqDevlist();
    std::array<uint8_t, usbip::kOpCommonSize + usbip::kDevlistCountSize> head;
    if (usbip::writeAll(fd, request.data(), request.size()) == usbip::IoStatus::Ok &&
        usbip::readExact(fd, head.data(), head.size()) == usbip::IoStatus::Ok) {
        auto common = usbip::decodeOpCommon(std::span(head).first(usbip::kOpCommonSize));
        uint32_t count = uint32_t(head[8]) << 24 | uint32_t(head[9]) << 16 | uint32_t(head[10]) << 8 | head[11];
        if (common && common->code == usbip::OpRepDevlist && common->status == usbip::OpOk && count <= 4096) {
            std::array<uint8_t, usbip::kUsbDeviceSize> record;
            std::array<uint8_t, usbip::kUsbInterfaceSize> iface;
            for (uint32_t i = 0; i < count; ++i) {
                if (usbip::readExact(fd, record.data(), record.size()) != usbip::IoStatus::Ok) break;
                auto device = usbip::decodeUsbDevice(record);
                if (!device) break;
                bool ok = true;
                for (unsigned n = 0; n < device->bNumInterfaces && ok; ++n)
                    ok = usbip::readExact(fd, iface.data(), iface.size()) == usbip::IoStatus::Ok;
                if (!ok) break;
                bool match = device->idVendor == config_.vendorId && device->idProduct == config_.productId &&
                             (config_.busId.empty() || device->busid == config_.busId);
                if (match && found.empty()) found = device->busid;
            }
        }
    }
    Forget(fd);
    ::close(fd);
    return found;
}

int UsbIpBus::Import(const std::string& busid, uint32_t* devid)
{
    int fd = Connect();
    if (fd < 0) return -1;
    auto request = usbip::encodeReqImport(busid);
    std::array<uint8_t, usbip::kRepImportSize> reply;
    bool ok = usbip::writeAll(fd, request.data(), request.size()) == usbip::IoStatus::Ok &&
              usbip::readExact(fd, reply.data(), usbip::kOpCommonSize) == usbip::IoStatus::Ok;
    std::optional<usbip::RepImport> imported;
    if (ok) {
        auto common = usbip::decodeOpCommon(std::span(reply).first(usbip::kOpCommonSize));
        ok = common && common->code == usbip::OpRepImport && common->status == usbip::OpOk &&
             usbip::readExact(fd, reply.data() + usbip::kOpCommonSize,
                              reply.size() - usbip::kOpCommonSize) == usbip::IoStatus::Ok;
        if (ok) imported = usbip::decodeRepImport(reply);
    }
    // Never take a device other than the one asked for.
    ok = ok && imported && imported->device && imported->device->busid == busid &&
         imported->device->idVendor == config_.vendorId && imported->device->idProduct == config_.productId;
    if (!ok) {
        Forget(fd);
        ::close(fd);
        return -1;
    }
    *devid = imported->device->devid();
    return fd;
}

void UsbIpBus::Run()
{
    for (;;) {
        {
            std::lock_guard guard(lock_);
            if (stop_) return;
        }
        std::string busid = FindDevice();
        uint32_t devid = 0;
        int fd = busid.empty() ? -1 : Import(busid, &devid);
        if (fd >= 0) {
            ++imports_;
            auto connection = std::make_shared<UsbIpConnection>(fd, devid);
            auto bus = UsbBusDevice::Create(connection);
            connection->Attach(bus);
            bus->Plug();
            connection->Read();  // until the connection drops or Stop shuts it down
            Forget(fd);
        }
        if (!SleepUnlessStopped(500)) return;
    }
}

} // namespace nt
