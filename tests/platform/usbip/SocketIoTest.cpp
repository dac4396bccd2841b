#include "platform/usbip/SocketIo.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace usbip;

TEST(SocketIo, ParseHostPort) {
    struct Case { const char* text; bool ok; const char* host; uint16_t port; };
    const Case cases[] = {
        {"127.0.0.1:3240", true, "127.0.0.1", 3240},
        {"localhost:1", true, "localhost", 1},
        {"127.0.0.1:65535", true, "127.0.0.1", 65535},
        {"127.0.0.1:65536", false, "", 0},
        {"127.0.0.1:0", false, "", 0},
        {"127.0.0.1", false, "", 0},
        {":3240", false, "", 0},
        {"host:", false, "", 0},
        {"host:32a0", false, "", 0},
    };
    for (const auto& c : cases) {
        std::string host;
        uint16_t port = 0;
        EXPECT_EQ(parseHostPort(c.text, host, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

TEST(SocketIo, ReadExactAssemblesPiecesAndSeesClose) {
    int lfd = listenTcp("127.0.0.1", 0);
    ASSERT_GE(lfd, 0);
    uint16_t port = boundPort(lfd);
    ASSERT_NE(port, 0);
    std::thread peer([&] {
        int s = ::accept(lfd, nullptr, nullptr);
        for (uint8_t i = 0; i < 10; ++i) {
            writeAll(s, &i, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::close(s);
    });
    int fd = connectTcp("127.0.0.1", port);
    ASSERT_GE(fd, 0);
    uint8_t buf[8];
    ASSERT_EQ(readExact(fd, buf, 8), IoStatus::Ok);
    EXPECT_EQ(buf[7], 7);
    EXPECT_EQ(readExact(fd, buf, 4), IoStatus::Closed) << "two bytes then end of stream";
    peer.join();
    ::close(fd);
    ::close(lfd);
}

TEST(SocketIo, ConnectToClosedPortFails) {
    int lfd = listenTcp("127.0.0.1", 0);
    uint16_t port = boundPort(lfd);
    ::close(lfd);
    EXPECT_EQ(connectTcp("127.0.0.1", port), -1);
}
