// A small blocking USB/IP client for tests and the benchmark: lists and imports the
// simulator's device and exchanges transfers with it, waiting with time limits.
#pragma once

#include "platform/usbip/UsbIpProtocol.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

struct Reply {
    bool unlink = false;  // RET_UNLINK (else RET_SUBMIT)
    uint32_t seqnum = 0;
    int32_t status = 0;
    std::vector<uint8_t> data; // IN data of a RET_SUBMIT
    int32_t actualLength = 0;
};

class UsbIpTestClient {
public:
    ~UsbIpTestClient();

    // One devlist exchange on its own connection.
    static std::optional<std::vector<usbip::DevlistEntry>> devlist(uint16_t port);

    bool connect(uint16_t port);
    // Returns the status of OP_REP_IMPORT, or -1 when the reply was malformed or missing.
    int64_t import(const std::string& busid);

    // Sends CMD_SUBMIT and returns its seqnum.
    uint32_t submit(uint32_t ep, uint32_t direction, int32_t length, const std::vector<uint8_t>& out = {},
                    const usbip::SetupPacket& setup = {});
    uint32_t unlink(uint32_t seqnum);
    // Control transfer on endpoint 0; waits for its reply.
    std::optional<Reply> control(const usbip::SetupPacket& setup, uint16_t inLength);

    // The next reply of any kind, or nothing within `timeout`.
    std::optional<Reply> next(std::chrono::milliseconds timeout);
    // The reply for `seqnum`; other replies that arrive meanwhile are kept for next().
    std::optional<Reply> waitFor(uint32_t seqnum, std::chrono::milliseconds timeout);

    bool sendRaw(const std::vector<uint8_t>& bytes);
    // True when the server closes the connection within `timeout`.
    bool waitClosed(std::chrono::milliseconds timeout);
    int fd() const { return fd_; }

private:
    std::optional<Reply> readReply(std::chrono::milliseconds timeout);
    bool waitReadable(std::chrono::milliseconds timeout);

    int fd_ = -1;
    uint32_t nextSeq_ = 1;
    uint32_t devid_ = 0;
    std::map<uint32_t, uint32_t> directions_; // seqnum → direction of outstanding submits
    std::deque<Reply> kept_;
};

// The 64-byte command buffer that PVestra writes: a frame at the start, zeros after it.
std::vector<uint8_t> commandBuffer(const std::vector<uint8_t>& frame);

} // namespace simtest
