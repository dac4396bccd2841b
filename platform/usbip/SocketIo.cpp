#include "platform/usbip/SocketIo.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace usbip {

IoStatus readExact(int fd, void* buf, size_t len) {
    auto* p = static_cast<uint8_t*>(buf);
    while (len > 0) {
        ssize_t n = ::recv(fd, p, len, 0);
        if (n == 0) return IoStatus::Closed;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == ECONNRESET ? IoStatus::Closed : IoStatus::Error;
        }
        p += n;
        len -= size_t(n);
    }
    return IoStatus::Ok;
}

IoStatus writeAll(int fd, const void* buf, size_t len) {
    auto* p = static_cast<const uint8_t*>(buf);
    while (len > 0) {
        ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return (errno == EPIPE || errno == ECONNRESET) ? IoStatus::Closed : IoStatus::Error;
        }
        p += n;
        len -= size_t(n);
    }
    return IoStatus::Ok;
}

bool parseHostPort(const std::string& text, std::string& host, uint16_t& port) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    std::string digits = text.substr(colon + 1);
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    if (digits.size() > 5) return false;
    long value = std::strtol(digits.c_str(), nullptr, 10);
    if (value < 1 || value > 65535) return false;
    host = text.substr(0, colon);
    port = uint16_t(value);
    return true;
}

namespace {

bool resolve(const std::string& host, uint16_t port, sockaddr_in& addr) {
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    addr.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    ::freeaddrinfo(res);
    return true;
}

} // namespace

int listenTcp(const std::string& host, uint16_t port, int backlog) {
    sockaddr_in addr;
    if (!resolve(host, port, addr)) return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

uint16_t boundPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

int connectTcp(const std::string& host, uint16_t port) {
    sockaddr_in addr;
    if (!resolve(host, port, addr)) return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace usbip
