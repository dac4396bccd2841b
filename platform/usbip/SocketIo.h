// Small blocking TCP helpers shared by the USB/IP server and client.
//
// All calls block the calling thread; they retry on EINTR and never raise SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace usbip {

enum class IoStatus {
    Ok,     // every byte moved
    Closed, // the peer closed the connection (before or in the middle of the record)
    Error,  // a socket error; errno tells which
};

// Reads exactly len bytes into buf.
IoStatus readExact(int fd, void* buf, size_t len);

// Writes all len bytes of buf.
IoStatus writeAll(int fd, const void* buf, size_t len);

// Splits "HOST:PORT" (port 1..65535). Returns false on a malformed address.
bool parseHostPort(const std::string& text, std::string& host, uint16_t& port);

// Opens a listening TCP socket on host:port (port 0 picks a free one; see boundPort).
// SO_REUSEADDR is set so a restarted server gets its port back. Returns -1 on failure.
int listenTcp(const std::string& host, uint16_t port, int backlog = 4);

// The local port a socket is bound to, or 0.
uint16_t boundPort(int fd);

// Connects to host:port with TCP_NODELAY set. Returns the socket or -1 on failure.
int connectTcp(const std::string& host, uint16_t port);

} // namespace usbip
