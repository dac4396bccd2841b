// The simulator's USB/IP server facing a hostile client: the input is what the client sends
// on one connection (device list and import requests, then submits and unlinks of transfers
// of any kind, lengths and directions). The first byte picks the faults armed for the next
// transfers. Two reports and two sample blocks wait to be taken, so IN transfers complete.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/InputReader.h"
#include "platform/usbip/SocketIo.h"
#include "platform/usbip/VestraIds.h"
#include "sim/CommandFrame.h"
#include "sim/UsbIpServer.h"

namespace {

class Events : public sim::UsbIpServer::Events {
 public:
  void usbImported() override {}
  void usbReleased() override {}
  void usbCommand(const uint8_t* data, size_t length) override {
    // Touch every byte the server says it delivered.
    for (size_t i = 0; i < length; ++i) sum_ += data[i];
  }
  void usbNotice(const std::string&) override {}

 private:
  unsigned sum_ = 0;
};

// Closes the client with a reset instead of a FIN, so that neither side of the connection is
// left in TIME_WAIT: a million inputs would otherwise use up the ephemeral ports, and the
// next listen or connect would fail.
void CloseWithReset(int fd) {
  const linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
}

// Lets the server work until nothing moves any more; whatever it sends is read and dropped.
void Exchange(sim::UsbIpServer& server, int client) {
  uint8_t sink[65536];
  for (int idle = 0, rounds = 0; idle < 2 && rounds < 200; ++rounds) {
    std::vector<pollfd> fds;
    server.addPollFds(fds);
    const int ready = ::poll(fds.data(), fds.size(), 0);
    if (ready > 0) server.processPoll(fds);
    bool read = false;
    while (client >= 0 && ::recv(client, sink, sizeof sink, MSG_DONTWAIT) > 0) read = true;
    idle = ready > 0 || read ? 0 : idle + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = (std::signal(SIGPIPE, SIG_IGN), true);
  (void)once;
  fuzzsupport::InputReader in(data, size);
  Events events;
  sim::UsbIpServer server(events, vestra::kDefaultBusId);
  if (!server.listen("127.0.0.1", 0)) std::abort();
  const uint8_t faults = in.Byte();
  if (faults & 1) server.faultCrc();
  if (faults & 2) server.faultShortBlock();
  if (faults & 4) server.faultStallBulk();
  if (faults & 8) server.unplug();
  for (int i = 0; i < 2; ++i) {
    server.queueReport(sim::buildFrame('C', 3, 20 + i));
    std::vector<int16_t> block(2048, int16_t(i));
    server.queueBlock(block.data(), block.size());
  }
  const int client = usbip::connectTcp("127.0.0.1", server.port());
  if (client < 0) std::abort();
  Exchange(server, client);  // the server accepts
  size_t got = 0;
  const uint8_t* bytes = in.Take(in.remaining(), got);
  for (size_t sent = 0; sent < got;) {
    const ssize_t n = ::send(client, bytes + sent, got - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;  // the server closed the connection, or stopped reading
    sent += size_t(n);
    Exchange(server, client);
  }
  Exchange(server, client);
  CloseWithReset(client);
  Exchange(server, -1);
  return 0;
}
