// The USB bus over USB/IP: a client that finds the configured device in the server's list,
// imports it, and carries the bus driver's transfers as CMD_SUBMIT / RET_SUBMIT and
// CMD_UNLINK / RET_UNLINK. While no device is imported it tries again every half second.
//
// Threads: one per bus; it connects, then reads the socket and completes transfers (their
// completion routines run there). Submits and unlinks write from the caller's thread.
#pragma once

#include "platform/nt/KernelStandIn.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace nt {

class UsbIpConnection;

class UsbIpBus {
public:
    UsbIpBus();
    ~UsbIpBus();

    // False for a malformed server address.
    bool Configure(const UsbBusConfig& config);
    void Start();
    // Drops the connection (surprise removal of the device) and joins the thread.
    void Stop();

    // Imports so far (tests).
    int Imports() const { return imports_.load(); }

private:
    void Run();
    // Lists the server's devices and returns the bus id to import, or empty.
    std::string FindDevice();
    // Imports `busid`; returns the socket of the transfer phase or -1.
    int Import(const std::string& busid, uint32_t* devid);
    int Connect();
    void Forget(int fd);
    bool SleepUnlessStopped(int ms);

    UsbBusConfig config_;
    std::string host_;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    int fd_ = -1;  // the socket in use, shut down by Stop
    std::atomic<int> imports_{0};
};

} // namespace nt
