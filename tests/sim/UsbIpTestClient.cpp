#include "tests/sim/UsbIpTestClient.h"

#include "platform/usbip/SocketIo.h"

#include <algorithm>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simtest {

using namespace usbip;

UsbIpTestClient::~UsbIpTestClient() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::vector<DevlistEntry>> UsbIpTestClient::devlist(uint16_t port) {
    int fd = connectTcp("127.0.0.1", port);
    if (fd < 0) return std::nullopt;
    auto req = encodeReqDevlist();
    writeAll(fd, req.data(), req.size());
    std::vector<uint8_t> all;
    uint8_t buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) all.insert(all.end(), buf, buf + n);
    ::close(fd);
    return decodeRepDevlist(all);
}

bool UsbIpTestClient::connect(uint16_t port) {
    fd_ = connectTcp("127.0.0.1", port);
    return fd_ >= 0;
}

int64_t UsbIpTestClient::import(const std::string& busid) {
    auto req = encodeReqImport(busid);
    if (writeAll(fd_, req.data(), req.size()) != IoStatus::Ok) return -1;
    std::vector<uint8_t> rep(kOpCommonSize);
    if (!waitReadable(std::chrono::milliseconds(2000)) || readExact(fd_, rep.data(), rep.size()) != IoStatus::Ok)
        return -1;
    auto op = decodeOpCommon(rep);
    if (!op || op->code != OpRepImport) return -1;
    if (op->status != OpOk) return op->status;
    rep.resize(kRepImportSize);
    if (readExact(fd_, rep.data() + kOpCommonSize, kUsbDeviceSize) != IoStatus::Ok) return -1;
    auto full = decodeRepImport(rep);
    if (!full || !full->device) return -1;
    devid_ = full->device->devid();
    return OpOk;
}

uint32_t UsbIpTestClient::submit(uint32_t ep, uint32_t direction, int32_t length, const std::vector<uint8_t>& out,
                                 const SetupPacket& setup) {
    CmdSubmit m;
    m.base = {CmdSubmitCode, nextSeq_++, devid_, direction, ep};
    m.transferBufferLength = length;
    m.setup = encodeSetup(setup);
    auto h = encodeHeader(m);
    std::vector<uint8_t> msg(kHeaderSize + (direction == DirOut ? out.size() : 0));
    std::copy(h.begin(), h.end(), msg.begin());
    if (direction == DirOut) std::copy(out.begin(), out.end(), msg.begin() + kHeaderSize);
    directions_[m.base.seqnum] = direction;
    sendRaw(msg);
    return m.base.seqnum;
}

uint32_t UsbIpTestClient::unlink(uint32_t seqnum) {
    CmdUnlink m;
    m.base = {CmdUnlinkCode, nextSeq_++, devid_, DirOut, 0};
    m.unlinkSeqnum = seqnum;
    auto h = encodeHeader(m);
    sendRaw({h.begin(), h.end()});
    return m.base.seqnum;
}

std::optional<Reply> UsbIpTestClient::control(const SetupPacket& setup, uint16_t inLength) {
    bool in = setup.bmRequestType & kRequestDeviceToHost;
    uint32_t seq = submit(0, in ? DirIn : DirOut, in ? inLength : 0, {}, setup);
    return waitFor(seq, std::chrono::milliseconds(2000));
}

bool UsbIpTestClient::sendRaw(const std::vector<uint8_t>& bytes) {
    return writeAll(fd_, bytes.data(), bytes.size()) == IoStatus::Ok;
}

bool UsbIpTestClient::waitReadable(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, int(timeout.count())) > 0;
}

std::optional<Reply> UsbIpTestClient::readReply(std::chrono::milliseconds timeout) {
    if (!waitReadable(timeout)) return std::nullopt;
    std::array<uint8_t, kHeaderSize> h;
    if (readExact(fd_, h.data(), h.size()) != IoStatus::Ok) return std::nullopt;
    auto msg = decodeHeader(h);
    if (!msg) return std::nullopt;
    Reply r;
    if (auto* ret = std::get_if<RetSubmit>(&*msg)) {
        r.seqnum = ret->base.seqnum;
        r.status = ret->status;
        r.actualLength = ret->actualLength;
        uint32_t dir = directions_.count(r.seqnum) ? directions_[r.seqnum] : DirOut;
        directions_.erase(r.seqnum);
        r.data.resize(payloadAfter(*ret, dir));
        if (!r.data.empty() && readExact(fd_, r.data.data(), r.data.size()) != IoStatus::Ok) return std::nullopt;
        return r;
    }
    if (auto* ret = std::get_if<RetUnlink>(&*msg)) {
        r.unlink = true;
        r.seqnum = ret->base.seqnum;
        r.status = ret->status;
        return r;
    }
    return std::nullopt;
}

std::optional<Reply> UsbIpTestClient::next(std::chrono::milliseconds timeout) {
    if (!kept_.empty()) {
        Reply r = kept_.front();
        kept_.pop_front();
        return r;
    }
    return readReply(timeout);
}

std::optional<Reply> UsbIpTestClient::waitFor(uint32_t seqnum, std::chrono::milliseconds timeout) {
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
        if (it->seqnum == seqnum) {
            Reply r = *it;
            kept_.erase(it);
            return r;
        }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        auto r = readReply(left);
        if (!r) return std::nullopt;
        if (r->seqnum == seqnum) return r;
        kept_.push_back(*r);
    }
}

bool UsbIpTestClient::waitClosed(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    uint8_t buf[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        if (!waitReadable(std::chrono::milliseconds(50))) continue;
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return true;
    }
    return false;
}

std::vector<uint8_t> commandBuffer(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> b(64, 0);
    std::copy(frame.begin(), frame.end(), b.begin());
    return b;
}

} // namespace simtest
