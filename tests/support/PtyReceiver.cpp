#include "tests/support/PtyReceiver.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {

std::string ToString(const Frame& f) {
  return std::string(1, f.letter) + ":" + f.digits + (f.checksumOk ? "" : "!bad");
}

std::vector<std::string> ToStrings(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const auto& f : frames) out.push_back(ToString(f));
  return out;
}

PtyReceiver::PtyReceiver() {
  char name[256] = {};
  if (::openpty(&master_, &slaveKeep_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  slavePath_ = name;
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  // The master side passes bytes as they are.
  termios t{};
  ::tcgetattr(slaveKeep_, &t);
  cfmakeraw(&t);
  ::tcsetattr(slaveKeep_, TCSANOW, &t);
  stop_ = ::eventfd(0, EFD_NONBLOCK);
  if (stop_ < 0) throw std::runtime_error("eventfd");
  reader_ = std::thread([this] { ReadLine(); });
}

PtyReceiver::~PtyReceiver() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
  reader_.join();
  ::close(stop_);
  if (slaveKeep_ >= 0) ::close(slaveKeep_);
  if (master_ >= 0) ::close(master_);
}

void PtyReceiver::ReadLine() {
  for (;;) {
    pollfd p[2] = {{master_, POLLIN, 0}, {stop_, POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) continue;  // interrupted
    if (p[1].revents) return;
    bool any = false;
    {
      std::lock_guard lock(mutex_);
      any = DrainLine();
    }
    if (any) arrived_.notify_all();
    else if (p[0].revents & (POLLHUP | POLLERR)) ::poll(p + 1, 1, 5);  // no program on the line just now
  }
}

bool PtyReceiver::DrainLine() {
  bool any = false;
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) return any;
    inbox_.insert(inbox_.end(), buf, buf + n);
    any = true;
  }
}

bool PtyReceiver::WaitForBytes(std::unique_lock<std::mutex>& lock, int ms) {
  DrainLine();  // what the program wrote before the call counts, whether or not the thread saw it yet
  return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !inbox_.empty(); });
}

std::vector<uint8_t> PtyReceiver::TakeBytes(int waitMs, int quietMs) {
  std::unique_lock lock(mutex_);
  std::vector<uint8_t> bytes;
  for (int wait = waitMs; WaitForBytes(lock, wait); wait = quietMs) {
    bytes.insert(bytes.end(), inbox_.begin(), inbox_.end());
    inbox_.clear();
  }
  return bytes;
}

std::vector<Frame> PtyReceiver::Take(int waitMs) {
  {
    std::unique_lock lock(mutex_);
    WaitForBytes(lock, waitMs);
    pending_.insert(pending_.end(), inbox_.begin(), inbox_.end());
    inbox_.clear();
  }
  std::vector<Frame> frames;
  size_t start = 0;
  for (;;) {
    size_t stx = start;
    while (stx < pending_.size() && pending_[stx] != 0x02) ++stx;
    size_t etx = stx;
    while (etx < pending_.size() && pending_[etx] != 0x03) ++etx;
    if (etx >= pending_.size()) break;
    Frame f{};
    f.letter = char(pending_[stx + 1]);
    uint8_t sum = 0;
    for (size_t i = stx + 1; i < etx; ++i) sum = uint8_t(sum + pending_[i]);
    f.checksumOk = (sum & 0x7F) == 0 && etx >= stx + 3;
    if (etx >= stx + 3) f.digits.assign(pending_.begin() + long(stx) + 2, pending_.begin() + long(etx) - 1);
    frames.push_back(f);
    start = etx + 1;
  }
  pending_.erase(pending_.begin(), pending_.begin() + long(start));
  return frames;
}

std::vector<uint8_t> ReportFrame(char letter, const std::string& digits) {
  std::vector<uint8_t> f{0x02, uint8_t(letter)};
  uint8_t sum = uint8_t(letter);
  for (char c : digits) {
    f.push_back(uint8_t(c));
    sum = uint8_t(sum + uint8_t(c));
  }
  f.push_back(uint8_t(((256 - sum) % 256) | 0x80));
  f.push_back(0x03);
  return f;
}

void PtyReceiver::SendReport(char letter, const std::string& digits) { SendBytes(ReportFrame(letter, digits)); }

int PtyReceiver::InputPending() const {
  int n = 0;
  return ::ioctl(slaveKeep_, FIONREAD, &n) == 0 ? n : 0;
}

void PtyReceiver::SendBytes(const std::vector<uint8_t>& bytes) {
  [[maybe_unused]] ssize_t n = ::write(master_, bytes.data(), bytes.size());
}

}  // namespace testsupport
