// A scripted USB/IP server on a loopback port for tests and benchmarks: it lists the devices
// it is told to export, imports one, answers the control requests of enumeration from the
// receiver's descriptors, and hands data transfers to the script (or to an automatic
// responder). It can drop the connection, stop exporting, or send malformed replies.
#pragma once

#include "platform/nt/ScriptedUsb.h"
#include "platform/usbip/SocketIo.h"
#include "platform/usbip/UsbIpProtocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace usbiptest {

using namespace std::chrono_literals;

struct Submit {
    usbip::CmdSubmit cmd;
    std::vector<uint8_t> out;
};

class UsbIpPeer {
public:
    // Answers a data transfer at once, or leaves it for the script with nullopt.
    using Responder = std::function<std::optional<std::pair<int32_t, std::vector<uint8_t>>>(const Submit&)>;

    UsbIpPeer()
    {
        listen_ = usbip::listenTcp("127.0.0.1", 0);
        port_ = usbip::boundPort(listen_);
        exported_.push_back(Receiver("1-1"));
        thread_ = std::thread([this] { Serve(); });
    }
    ~UsbIpPeer()
    {
        {
            std::lock_guard guard(lock_);
            stop_ = true;
            if (conn_ >= 0) ::shutdown(conn_, SHUT_RDWR);
        }
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
    }

    static usbip::DevlistEntry Receiver(const std::string& busid, uint16_t vid = 0x7E57, uint16_t pid = 0x5652)
    {
        usbip::DevlistEntry e;
        e.device.path = "/sys/devices/test/" + busid;
        e.device.busid = busid;
        e.device.busnum = 1;
        e.device.devnum = uint32_t(busid.back() - '0' + 1);
        e.device.idVendor = vid;
        e.device.idProduct = pid;
        e.device.bConfigurationValue = 1;
        e.device.bNumConfigurations = 1;
        e.device.bNumInterfaces = 1;
        e.interfaces.push_back({0xFF, 0, 0});
        return e;
    }

    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

    void Export(std::vector<usbip::DevlistEntry> devices)
    {
        std::lock_guard guard(lock_);
        exported_ = std::move(devices);
    }
    void SetResponder(Responder r)
    {
        std::lock_guard guard(lock_);
        responder_ = std::move(r);
    }
    // Closes the transfer connection (the client sees the device unplugged).
    void Drop()
    {
        std::lock_guard guard(lock_);
        if (conn_ >= 0) ::shutdown(conn_, SHUT_RDWR);
    }
    std::vector<std::string> Imported()
    {
        std::lock_guard guard(lock_);
        return imported_;
    }
    std::optional<Submit> WaitSubmit(uint32_t ep, std::chrono::milliseconds timeout = 3s)
    {
        std::unique_lock lock(lock_);
        std::optional<Submit> found;
        changed_.wait_for(lock, timeout, [&] {
            for (auto it = submits_.begin(); it != submits_.end(); ++it) {
                if (it->cmd.base.ep == ep) {
                    found = *it;
                    submits_.erase(it);
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::optional<usbip::CmdUnlink> WaitUnlink(std::chrono::milliseconds timeout = 3s)
    {
        std::unique_lock lock(lock_);
        changed_.wait_for(lock, timeout, [&] { return !unlinks_.empty(); });
        if (unlinks_.empty()) return std::nullopt;
        auto u = unlinks_.front();
        unlinks_.pop_front();
        return u;
    }
    // Sends RET_SUBMIT for a submit (IN data follows for IN transfers); raw bytes may be
    // appended to break the stream on purpose.
    void Reply(const usbip::CmdSubmit& cmd, int32_t status, const std::vector<uint8_t>& data,
               int32_t actual = -1, uint32_t seqnum = 0)
    {
        usbip::RetSubmit ret;
        ret.base.seqnum = seqnum ? seqnum : cmd.base.seqnum;
        ret.status = status;
        ret.actualLength = actual >= 0 ? actual : int32_t(cmd.base.direction == usbip::DirIn ? data.size() : cmd.transferBufferLength);
        auto h = usbip::encodeHeader(ret);
        std::vector<uint8_t> bytes(h.begin(), h.end());
        if (cmd.base.direction == usbip::DirIn) bytes.insert(bytes.end(), data.begin(), data.end());
        Write(bytes);
    }
    void ReplyUnlink(const usbip::CmdUnlink& cmd, int32_t status)
    {
        usbip::RetUnlink ret;
        ret.base.seqnum = cmd.base.seqnum;
        ret.status = status;
        auto h = usbip::encodeHeader(ret);
        Write(std::vector<uint8_t>(h.begin(), h.end()));
    }
    void Write(const std::vector<uint8_t>& bytes)
    {
        std::lock_guard guard(writeLock_);
        int fd;
        {
            std::lock_guard g(lock_);
            fd = conn_;
        }
        if (fd >= 0) usbip::writeAll(fd, bytes.data(), bytes.size());
    }

private:
    void Serve()
    {
        for (;;) {
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            {
                std::lock_guard guard(lock_);
                if (stop_) {
                    ::close(fd);
                    return;
                }
            }
            std::array<uint8_t, usbip::kReqImportSize> req{};
            if (usbip::readExact(fd, req.data(), usbip::kOpCommonSize) != usbip::IoStatus::Ok) {
                ::close(fd);
                continue;
            }
            auto op = usbip::decodeOpCommon(std::span(req).first(usbip::kOpCommonSize));
            if (op && op->code == usbip::OpReqDevlist) {
                std::vector<usbip::DevlistEntry> list;
                {
                    std::lock_guard guard(lock_);
                    list = exported_;
                }
                auto reply = usbip::encodeRepDevlist(list);
                usbip::writeAll(fd, reply.data(), reply.size());
                ::close(fd);
            } else if (op && op->code == usbip::OpReqImport &&
                       usbip::readExact(fd, req.data() + usbip::kOpCommonSize, usbip::kBusIdSize) == usbip::IoStatus::Ok) {
                auto busid = usbip::decodeReqImport(req);
                std::optional<usbip::UsbDevice> device;
                {
                    std::lock_guard guard(lock_);
                    for (auto& e : exported_)
                        if (busid && e.device.busid == *busid) device = e.device;
                    if (device) imported_.push_back(*busid);
                }
                auto reply = usbip::encodeRepImport(device ? usbip::OpOk : usbip::OpNoDevice, device ? &*device : nullptr);
                usbip::writeAll(fd, reply.data(), reply.size());
                if (device) Transfers(fd);
                ::close(fd);
            } else {
                ::close(fd);
            }
        }
    }

    void Transfers(int fd)
    {
        {
            std::lock_guard guard(lock_);
            conn_ = fd;
        }
        std::array<uint8_t, usbip::kHeaderSize> h;
        while (usbip::readExact(fd, h.data(), h.size()) == usbip::IoStatus::Ok) {
            auto m = usbip::decodeHeader(h);
            if (!m) break;
            if (auto* cmd = std::get_if<usbip::CmdSubmit>(&*m)) {
                Submit s{*cmd, {}};
                s.out.resize(usbip::payloadAfter(*cmd));
                if (!s.out.empty() && usbip::readExact(fd, s.out.data(), s.out.size()) != usbip::IoStatus::Ok) break;
                if (cmd->base.ep == 0) {
                    Control(*cmd);
                    continue;
                }
                Responder responder;
                {
                    std::lock_guard guard(lock_);
                    responder = responder_;
                }
                if (responder) {
                    if (auto r = responder(s)) {
                        Reply(*cmd, r->first, r->second);
                        continue;
                    }
                }
                std::lock_guard guard(lock_);
                submits_.push_back(std::move(s));
                changed_.notify_all();
            } else if (auto* unlink = std::get_if<usbip::CmdUnlink>(&*m)) {
                std::lock_guard guard(lock_);
                unlinks_.push_back(*unlink);
                changed_.notify_all();
            }
        }
        std::lock_guard guard(lock_);
        conn_ = -1;
        submits_.clear();
        unlinks_.clear();
    }

    void Control(const usbip::CmdSubmit& cmd)
    {
        auto setup = usbip::decodeSetup(cmd.setup);
        std::vector<uint8_t> data;
        if (setup.bRequest == usbip::ReqGetDescriptor) {
            uint8_t type = setup.wValue >> 8;
            if (type == 1) data = nt::ScriptedUsbDevice::ReceiverDeviceDescriptor();
            if (type == 2) data = nt::ScriptedUsbDevice::ReceiverConfiguration();
            if (data.size() > setup.wLength) data.resize(setup.wLength);
        }
        Reply(cmd, 0, data);
    }

    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex lock_;
    std::mutex writeLock_;
    std::condition_variable changed_;
    std::vector<usbip::DevlistEntry> exported_;
    std::vector<std::string> imported_;
    std::deque<Submit> submits_;
    std::deque<usbip::CmdUnlink> unlinks_;
    Responder responder_;
    int conn_ = -1;
    bool stop_ = false;
};

} // namespace usbiptest
