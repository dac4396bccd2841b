#include "sim/UsbIpServer.h"

#include "platform/usbip/SocketIo.h"
#include "platform/usbip/VestraIds.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

using namespace usbip;

namespace {

constexpr uint32_t epNumber(uint8_t address) { return address & 0x0F; }

} // namespace

UsbIpServer::UsbIpServer(Events& events, std::string busid) : events_(events), busid_(std::move(busid)) {}

UsbIpServer::~UsbIpServer() {
    for (auto& c : connections_) ::close(c->fd);
    if (listenFd_ >= 0) ::close(listenFd_);
}

bool UsbIpServer::listen(const std::string& host, uint16_t port) {
    listenFd_ = listenTcp(host, port);
    if (listenFd_ < 0) return false;
    ::fcntl(listenFd_, F_SETFL, ::fcntl(listenFd_, F_GETFL) | O_NONBLOCK);
    port_ = boundPort(listenFd_);
    return true;
}

void UsbIpServer::addPollFds(std::vector<pollfd>& fds) const {
    if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& c : connections_)
        fds.push_back({c->fd, short(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
}

void UsbIpServer::processPoll(const std::vector<pollfd>& fds) {
    for (const auto& p : fds) {
        if (!p.revents) continue;
        if (p.fd == listenFd_) {
            accept();
            continue;
        }
        auto it = std::find_if(connections_.begin(), connections_.end(),
                               [&](const auto& c) { return c->fd == p.fd; });
        if (it == connections_.end()) continue;
        Connection& c = **it;
        if (p.revents & POLLOUT) flush(c);
        if (c.fd >= 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) readFrom(c);
    }
    std::erase_if(connections_, [](const auto& c) { return c->fd < 0; });
}

void UsbIpServer::accept() {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    connections_.push_back(std::move(c));
}

bool UsbIpServer::imported() const {
    return std::any_of(connections_.begin(), connections_.end(),
                       [](const auto& c) { return c->fd >= 0 && c->imported; });
}

UsbIpServer::Connection* UsbIpServer::importer() {
    for (auto& c : connections_)
        if (c->fd >= 0 && c->imported) return c.get();
    return nullptr;
}

void UsbIpServer::readFrom(Connection& c) {
    uint8_t buf[16384];
    for (;;) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            c.in.insert(c.in.end(), buf, buf + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        drop(c, ""); // closed by the client (or a socket error)
        return;
    }
    parseInput(c);
}

void UsbIpServer::parseInput(Connection& c) {
    size_t used = 0;
    while (c.fd >= 0 && !c.closeWhenFlushed) {
        bool progressed = c.imported ? parseUrbPhase(c, used) : parseOpPhase(c, used);
        if (!progressed) break;
    }
    if (c.fd >= 0) c.in.erase(c.in.begin(), c.in.begin() + ptrdiff_t(std::min(used, c.in.size())));
}

bool UsbIpServer::parseOpPhase(Connection& c, size_t& used) {
    std::span<const uint8_t> rest(c.in.data() + used, c.in.size() - used);
    if (rest.size() < kOpCommonSize) return false;
    auto op = decodeOpCommon(rest.first(kOpCommonSize));
    if (op->version != kVersion) {
        drop(c, "USB/IP: неизвестная версия протокола 0x" + std::to_string(op->version));
        return false;
    }
    if (op->code == OpReqDevlist) {
        used += kReqDevlistSize;
        std::vector<DevlistEntry> list;
        if (plugged_) list.push_back(usbIpDevlistEntry(busid_.c_str()));
        auto reply = encodeRepDevlist(list);
        send(c, reply.data(), reply.size());
        c.closeWhenFlushed = true;
        flush(c);
        return false;
    }
    if (op->code != OpReqImport) {
        drop(c, "USB/IP: неизвестный код операции " + std::to_string(op->code));
        return false;
    }
    if (rest.size() < kReqImportSize) return false;
    auto busid = decodeReqImport(rest.first(kReqImportSize));
    used += kReqImportSize;
    uint32_t status = OpOk;
    if (!busid) {
        events_.usbNotice("USB/IP: запрос подключения с неверным номером шины");
        status = OpError;
    } else if (!plugged_ || *busid != busid_) {
        status = OpNoDevice;
    } else if (importer()) {
        events_.usbNotice("USB/IP: устройство уже подключено другим клиентом, отказ");
        status = OpDeviceBusy;
    }
    auto dev = usbIpDeviceRecord(busid_.c_str());
    auto reply = encodeRepImport(status, &dev);
    send(c, reply.data(), reply.size());
    if (status != OpOk) {
        c.closeWhenFlushed = true;
        flush(c);
        return false;
    }
    c.imported = true;
    events_.usbImported();
    return true;
}

bool UsbIpServer::parseUrbPhase(Connection& c, size_t& used) {
    std::span<const uint8_t> rest(c.in.data() + used, c.in.size() - used);
    if (rest.size() < kHeaderSize) return false;
    DecodeError error;
    auto msg = decodeHeader(rest.first(kHeaderSize), &error);
    if (!msg) {
        drop(c, error == DecodeError::UnknownCommand ? "USB/IP: неизвестная команда, соединение закрыто"
                                                     : "USB/IP: сообщение неверного размера, соединение закрыто");
        return false;
    }
    if (auto* submitMsg = std::get_if<CmdSubmit>(&*msg)) {
        // Only an OUT transfer carries data; a direction that is neither would be taken for
        // OUT below while its data was never read.
        if (submitMsg->base.direction != DirIn && submitMsg->base.direction != DirOut) {
            drop(c, "USB/IP: неверное направление передачи, соединение закрыто");
            return false;
        }
        size_t payload = payloadAfter(*submitMsg);
        if (payload > kMaxTransfer) {
            drop(c, "USB/IP: длина передачи " + std::to_string(payload) + " байт недопустима, соединение закрыто");
            return false;
        }
        if (rest.size() < kHeaderSize + payload) return false;
        used += kHeaderSize + payload;
        submit(c, *submitMsg, rest.data() + kHeaderSize);
        return c.fd >= 0;
    }
    if (auto* unlinkMsg = std::get_if<CmdUnlink>(&*msg)) {
        used += kHeaderSize;
        unlink(c, *unlinkMsg);
        return c.fd >= 0;
    }
    drop(c, "USB/IP: клиент прислал ответное сообщение, соединение закрыто");
    return false;
}

void UsbIpServer::submit(Connection& c, const CmdSubmit& m, const uint8_t* payload) {
    const uint32_t seq = m.base.seqnum;
    const bool in = m.base.direction == DirIn;
    const uint32_t ep = m.base.ep;
    if (ep == 0) {
        ControlResult r = control_.handle(decodeSetup(m.setup));
        if (in) {
            size_t n = std::min(r.data.size(), size_t(m.transferBufferLength));
            retSubmit(c, seq, r.status, r.data.data(), r.status ? 0 : n, r.status ? 0 : int32_t(n));
        } else {
            retSubmit(c, seq, r.status, nullptr, 0, r.status ? 0 : m.transferBufferLength);
        }
        return;
    }
    if (!in && ep == epNumber(vestra::kEpCommandsOut)) {
        events_.usbCommand(payload, size_t(m.transferBufferLength));
        retSubmit(c, seq, kStatusOk, nullptr, 0, m.transferBufferLength);
        return;
    }
    if (in && ep == epNumber(vestra::kEpReportsIn)) {
        c.reportUrbs.push_back({seq, m.transferBufferLength});
        deliver();
        return;
    }
    if (in && ep == epNumber(vestra::kEpSamplesIn)) {
        c.blockUrbs.push_back({seq, m.transferBufferLength});
        deliver();
        return;
    }
    if (in && ep == epNumber(vestra::kEpAuxIn)) {
        c.auxUrbs.push_back({seq, m.transferBufferLength}); // this endpoint never has data
        return;
    }
    events_.usbNotice("USB/IP: передача на несуществующую точку " + std::to_string(ep) +
                      (in ? " IN" : " OUT") + ", отказ");
    retSubmit(c, seq, kStatusStall, nullptr, 0, 0);
}

void UsbIpServer::unlink(Connection& c, const CmdUnlink& m) {
    bool found = false;
    for (auto* q : {&c.reportUrbs, &c.blockUrbs, &c.auxUrbs}) {
        auto it = std::find_if(q->begin(), q->end(), [&](const Urb& u) { return u.seqnum == m.unlinkSeqnum; });
        if (it != q->end()) {
            q->erase(it);
            found = true;
            break;
        }
    }
    // A transfer that already completed had its RET_SUBMIT sent; the unlink then reports 0.
    RetUnlink r;
    r.base.seqnum = m.base.seqnum;
    r.status = found ? kStatusConnReset : kStatusOk;
    auto h = encodeHeader(r);
    send(c, h.data(), h.size());
}

bool UsbIpServer::completeIn(Connection& c, const Urb& urb, const std::vector<uint8_t>& data) {
    if (faultCrc_) {
        faultCrc_ = false;
        retSubmit(c, urb.seqnum, kStatusIlSeq, nullptr, 0, 0);
        return false;
    }
    size_t n = std::min(data.size(), size_t(std::max(urb.length, 0)));
    retSubmit(c, urb.seqnum, kStatusOk, data.data(), n, int32_t(n));
    return true;
}

void UsbIpServer::retSubmit(Connection& c, uint32_t seqnum, int32_t status, const uint8_t* data, size_t length,
                            int32_t actualLength) {
    RetSubmit r;
    r.base.seqnum = seqnum;
    r.status = status;
    r.actualLength = actualLength;
    auto h = encodeHeader(r);
    send(c, h.data(), h.size());
    if (length) send(c, data, length);
}

void UsbIpServer::deliver() {
    Connection* c = importer();
    if (!c) return;
    while (c->fd >= 0 && !c->reportUrbs.empty() && !reports_.empty()) {
        Urb u = c->reportUrbs.front();
        c->reportUrbs.pop_front();
        auto r = std::move(reports_.front());
        reports_.pop_front();
        completeIn(*c, u, r);
    }
    while (c->fd >= 0 && !c->blockUrbs.empty() && !blocks_.empty()) {
        Urb u = c->blockUrbs.front();
        c->blockUrbs.pop_front();
        auto b = std::move(blocks_.front());
        blocks_.pop_front();
        if (completeIn(*c, u, b)) ++blocksDelivered_;
    }
}

void UsbIpServer::queueReport(const std::vector<uint8_t>& frame) {
    if (!imported()) return;
    std::vector<uint8_t> packet(vestra::kReportPacketSize, 0);
    std::copy_n(frame.begin(), std::min(frame.size(), packet.size()), packet.begin());
    if (reports_.size() >= kMaxQueuedReports) reports_.pop_front();
    reports_.push_back(std::move(packet));
    deliver();
}

void UsbIpServer::queueBlock(const int16_t* samples, size_t count) {
    if (!imported()) return;
    if (faultStall_) {
        faultStall_ = false;
        return;
    }
    std::vector<uint8_t> block(count * 2);
    for (size_t i = 0; i < count; ++i) { // little-endian on the wire whatever the host order
        block[2 * i] = uint8_t(uint16_t(samples[i]));
        block[2 * i + 1] = uint8_t(uint16_t(samples[i]) >> 8);
    }
    if (faultShort_) {
        faultShort_ = false;
        block.resize(std::min(block.size(), kShortBlockSize));
    }
    if (blocks_.size() >= kMaxQueuedBlocks) blocks_.pop_front();
    blocks_.push_back(std::move(block));
    deliver();
}

void UsbIpServer::send(Connection& c, const uint8_t* data, size_t length) {
    if (c.fd < 0) return;
    c.out.insert(c.out.end(), data, data + length);
    if (c.out.size() > kMaxOutput) {
        drop(c, "USB/IP: клиент не читает ответы, соединение закрыто");
        return;
    }
    flush(c);
}

void UsbIpServer::flush(Connection& c) {
    size_t sent = 0;
    while (c.fd >= 0 && sent < c.out.size()) {
        ssize_t n = ::send(c.fd, c.out.data() + sent, c.out.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        drop(c, "");
        return;
    }
    if (c.fd < 0) return;
    c.out.erase(c.out.begin(), c.out.begin() + ptrdiff_t(sent));
    if (c.out.empty() && c.closeWhenFlushed) drop(c, "");
}

void UsbIpServer::drop(Connection& c, const std::string& why) {
    if (c.fd < 0) return;
    if (!why.empty()) events_.usbNotice(why);
    ::close(c.fd);
    c.fd = -1;
    if (c.imported) {
        c.imported = false;
        reports_.clear();
        blocks_.clear();
        events_.usbReleased();
    }
}

void UsbIpServer::unplug() {
    plugged_ = false;
    for (auto& c : connections_) drop(*c, "");
    std::erase_if(connections_, [](const auto& c) { return c->fd < 0; });
}

void UsbIpServer::plug() { plugged_ = true; }

} // namespace sim
