// The simulator's USB side: a USB/IP server exporting one device, the receiver.
//
// Single-threaded and non-blocking: the owner adds the server's sockets to its poll set and
// hands back the results. Every transfer is answered on its own: interrupt IN transfers on
// 0x85 wait for reports, bulk IN transfers on 0x81 wait for sample blocks, 0x83 never
// completes, commands on 0x06 complete at once; none holds up another. A connection that
// sends a malformed message is closed with a message; the server goes on.
#pragma once

#include "platform/usbip/UsbIpProtocol.h"
#include "sim/UsbDescriptors.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

namespace sim {

class UsbIpServer {
public:
    // What the server tells its owner.
    class Events {
    public:
        virtual ~Events() = default;
        virtual void usbImported() = 0;
        virtual void usbReleased() = 0;                          // the importing client went
        virtual void usbCommand(const uint8_t* data, size_t length) = 0; // an OUT transfer on 0x06
        virtual void usbNotice(const std::string& text) = 0;    // diagnostics, Russian
    };

    static constexpr size_t kMaxQueuedReports = 256;
    static constexpr size_t kMaxQueuedBlocks = 8;
    static constexpr size_t kMaxTransfer = 1 << 20;   // larger OUT transfers are refused
    static constexpr size_t kMaxOutput = 8 << 20;     // a client this far behind is dropped
    static constexpr size_t kShortBlockSize = 2048;

    UsbIpServer(Events& events, std::string busid);
    ~UsbIpServer();

    // Starts listening; false (with errno set) when the address cannot be bound.
    bool listen(const std::string& host, uint16_t port);
    uint16_t port() const { return port_; }

    void addPollFds(std::vector<pollfd>& fds) const;
    void processPoll(const std::vector<pollfd>& fds);

    bool imported() const;
    bool plugged() const { return plugged_; }
    // Drops every connection and stops exporting the device (empty device list, import refused).
    void unplug();
    void plug();

    // Queues one report (padded to 64 bytes) for the next interrupt IN transfer on 0x85.
    void queueReport(const std::vector<uint8_t>& frame);
    // Queues one sample block for the next bulk IN transfer on 0x81.
    void queueBlock(const int16_t* samples, size_t count);

    // Sample blocks handed to the client on 0x81 since the start.
    uint64_t blocksDelivered() const { return blocksDelivered_; }

    // Faults, each for one transfer.
    void faultCrc() { faultCrc_ = true; }             // next IN transfer ends with -EILSEQ
    void faultShortBlock() { faultShort_ = true; }    // next block is kShortBlockSize bytes
    void faultStallBulk() { faultStall_ = true; }     // next block is never sent

private:
    struct Urb {
        uint32_t seqnum;
        int32_t length;
    };
    struct Connection {
        int fd = -1;
        bool imported = false;
        bool closeWhenFlushed = false;
        std::vector<uint8_t> in;
        std::vector<uint8_t> out;
        std::deque<Urb> reportUrbs; // 0x85
        std::deque<Urb> blockUrbs;  // 0x81
        std::deque<Urb> auxUrbs;    // 0x83
    };

    void accept();
    void readFrom(Connection& c);
    void parseInput(Connection& c);
    bool parseOpPhase(Connection& c, size_t& used);
    bool parseUrbPhase(Connection& c, size_t& used);
    void submit(Connection& c, const usbip::CmdSubmit& m, const uint8_t* payload);
    void unlink(Connection& c, const usbip::CmdUnlink& m);
    bool completeIn(Connection& c, const Urb& urb, const std::vector<uint8_t>& data); // false: faulted
    void retSubmit(Connection& c, uint32_t seqnum, int32_t status, const uint8_t* data, size_t length,
                   int32_t actualLength);
    void send(Connection& c, const uint8_t* data, size_t length);
    void flush(Connection& c);
    void drop(Connection& c, const std::string& why);
    void deliver();
    Connection* importer();

    Events& events_;
    std::string busid_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    bool plugged_ = true;
    std::vector<std::unique_ptr<Connection>> connections_;
    ControlEndpoint control_;

    std::deque<std::vector<uint8_t>> reports_;
    std::deque<std::vector<uint8_t>> blocks_;
    bool faultCrc_ = false;
    bool faultShort_ = false;
    bool faultStall_ = false;
    uint64_t blocksDelivered_ = 0;
};

} // namespace sim
