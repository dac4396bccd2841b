#include "tests/support/FakeUsbDevice.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "app/link/Uusb.h"
#include "platform/win32/Sync.h"

namespace testsupport {

namespace {
constexpr uint32_t kStatusCancelled = 0xC0000120u;
constexpr uint32_t kStatusCrc = 0xC000003Fu;          // STATUS_CRC_ERROR → ERROR_CRC
constexpr uint32_t kStatusDeviceGone = 0xC000009Du;   // STATUS_DEVICE_NOT_CONNECTED
constexpr uint32_t kStatusDeletePending = 0xC0000056u;  // STATUS_DELETE_PENDING → ERROR_ACCESS_DENIED
constexpr uint32_t kStatusInvalidParameter = 0xC000000Du;
}  // namespace

// The shared state; each open handle is a File on it. Every plug is a new device, as it
// is in the real stack: a handle opened before an unplug stays with the departed device,
// whose requests fail with delete pending, and it keeps the name from being opened again
// until it is closed.
class FakeUsbDevice::Device {
 public:
  struct Pending {
    void* out;
    DWORD size;
    OVERLAPPED* ov;
    const void* file;
  };

  std::mutex lock;
  bool plugged = false;
  int plugs = 0;             // the device a handle belongs to
  bool opened = false;       // the present device has a handle open
  int departedHandles = 0;   // handles still open on unplugged devices
  int openAttempts = 0;
  bool crcNext = false;
  bool unplugAtNextRead = false;
  FakeUsbDevice::Registration registration = FakeUsbDevice::Registration::kAccepted;
  bool refuseReportRead = false, refuseBlockRead = false, refuseWrite = false;
  bool holdWrites = false;
  HANDLE removalEvent = nullptr;
  std::deque<std::vector<uint8_t>> reports, blocks;
  std::deque<Pending> reportReads, blockReads, heldWrites, heldRegistrations;
  std::vector<std::string> calls;
  std::vector<std::string> commands;
  std::vector<std::vector<uint8_t>> writes;

  // Answers pending reads from the queues; called with the lock held.
  void Serve() {
    auto serve = [this](std::deque<Pending>& reads, std::deque<std::vector<uint8_t>>& data) {
      while (!reads.empty() && (!data.empty() || crcNext)) {
        Pending p = reads.front();
        reads.pop_front();
        if (crcNext) {
          crcNext = false;
          win32::CompleteOverlapped(p.ov, kStatusCrc, 0);
          continue;
        }
        const auto d = std::move(data.front());
        data.pop_front();
        const DWORD n = std::min<DWORD>(p.size, DWORD(d.size()));
        std::memcpy(p.out, d.data(), n);
        win32::CompleteOverlapped(p.ov, 0, n);
      }
    };
    serve(reportReads, reports);
    serve(blockReads, blocks);
  }

  // The receiver goes: the removal event first, then the pending reads fail.
  void Unplug() {
    if (!plugged) return;
    plugged = false;
    if (opened) ++departedHandles;
    opened = false;
    if (removalEvent) SetEvent(removalEvent);
    FailAll(kStatusDeviceGone);
  }

  // Fails the pending reads, of one handle or (null) of all.
  void FailAll(uint32_t status, const void* file = nullptr) {
    for (auto* q : {&reportReads, &blockReads, &heldWrites, &heldRegistrations}) {
      std::erase_if(*q, [&](const Pending& p) {
        if (file && p.file != file) return false;
        win32::CompleteOverlapped(p.ov, status, 0);
        return true;
      });
    }
  }
};

namespace {

std::string ControlCodeName(DWORD code) {
  char name[16];
  std::snprintf(name, sizeof name, "0x%06X", unsigned(code));
  return name;
}

class File : public win32::FileObject {
 public:
  explicit File(std::shared_ptr<FakeUsbDevice::Device> d) : d_(std::move(d)), plug_(d_->plugs) {}

  BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                 OVERLAPPED* ov) override {
    std::lock_guard guard(d_->lock);
    if (returned) *returned = 0;
    auto completeNow = [&](uint32_t status, DWORD n) {
      if (ov) win32::CompleteOverlapped(ov, status, n);
      if (status != 0) SetLastError(win32::ErrorFromNtStatus(status));
      return status == 0 ? TRUE : FALSE;
    };
    if (code != IOCTL_READ_INTERRUPT && code != IOCTL_READ_BULK2 && code != IOCTL_WRITE_COMMAND)
      d_->calls.push_back(ControlCodeName(code));
    if (Departed()) return completeNow(kStatusDeletePending, 0);
    auto pend = [&](std::deque<FakeUsbDevice::Device::Pending>& queue) {
      win32::StartOverlapped(ov);
      queue.push_back({out, outSize, ov, this});
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    };
    switch (code) {
      case IOCTL_SET_REMOVAL_EVENT: {
        switch (std::exchange(d_->registration, FakeUsbDevice::Registration::kAccepted)) {
          case FakeUsbDevice::Registration::kRefused: return completeNow(kStatusInvalidParameter, 0);
          case FakeUsbDevice::Registration::kNeverCompleted: return pend(d_->heldRegistrations);
          case FakeUsbDevice::Registration::kAccepted: break;
        }
        uint32_t h = 0;
        if (inSize >= 4) std::memcpy(&h, in, 4);
        d_->removalEvent = reinterpret_cast<HANDLE>(uintptr_t(h));
        return completeNow(0, 0);
      }
      case IOCTL_READ_INTERRUPT:
      case IOCTL_READ_BULK2: {
        if (std::exchange(d_->unplugAtNextRead, false)) {
          d_->Unplug();
          return completeNow(kStatusDeletePending, 0);
        }
        if (std::exchange(code == IOCTL_READ_INTERRUPT ? d_->refuseReportRead : d_->refuseBlockRead, false))
          return completeNow(kStatusInvalidParameter, 0);
        win32::StartOverlapped(ov);
        (code == IOCTL_READ_INTERRUPT ? d_->reportReads : d_->blockReads).push_back({out, outSize, ov, this});
        d_->Serve();
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
      }
      case IOCTL_WRITE_COMMAND: {
        if (std::exchange(d_->refuseWrite, false)) return completeNow(kStatusInvalidParameter, 0);
        const auto* b = static_cast<const uint8_t*>(in);
        d_->writes.emplace_back(b, b + inSize);
        size_t etx = 2;
        while (etx < inSize && b[etx] != 0x03) ++etx;
        if (inSize >= 4 && etx < inSize)
          d_->commands.push_back(std::string(1, char(b[1])) + ":" +
                                 std::string(reinterpret_cast<const char*>(b) + 2, etx - 3));
        if (d_->holdWrites) return pend(d_->heldWrites);
        return completeNow(0, inSize);
      }
      default:
        return completeNow(kStatusInvalidParameter, 0);
    }
  }

  BOOL CancelIo() override {
    std::lock_guard guard(d_->lock);
    d_->FailAll(kStatusCancelled, this);
    return TRUE;
  }

  void OnClose() override {
    std::lock_guard guard(d_->lock);
    d_->calls.push_back("close");
    d_->FailAll(kStatusCancelled, this);
    if (Departed())
      --d_->departedHandles;
    else
      d_->opened = false;
  }

 private:
  bool Departed() const { return !d_->plugged || plug_ != d_->plugs; }

  std::shared_ptr<FakeUsbDevice::Device> d_;
  const int plug_;
};

}  // namespace

FakeUsbDevice::FakeUsbDevice() : device_(std::make_shared<Device>()) {
  auto d = device_;
  win32::RegisterFileNamespace("\\\\.\\", [d](const std::string& name, DWORD, DWORD, DWORD, DWORD) -> HANDLE {
    std::lock_guard guard(d->lock);
    ++d->openAttempts;
    if (name != kUsbDeviceName || !d->plugged || d->opened) {
      // The departed device keeps its name while a handle holds it.
      SetLastError(name == kUsbDeviceName && !d->plugged && d->departedHandles ? ERROR_ACCESS_DENIED
                                                                               : ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    d->opened = true;
    return win32::InsertHandle(std::make_shared<File>(d));
  });
}

FakeUsbDevice::~FakeUsbDevice() { win32::UnregisterFileNamespace("\\\\.\\"); }

void FakeUsbDevice::Plug() {
  std::lock_guard guard(device_->lock);
  if (device_->plugged) return;
  device_->plugged = true;
  ++device_->plugs;
  device_->removalEvent = nullptr;
}

void FakeUsbDevice::Unplug() {
  std::lock_guard guard(device_->lock);
  device_->Unplug();
}

void FakeUsbDevice::UnplugAtNextRead() {
  std::lock_guard guard(device_->lock);
  device_->unplugAtNextRead = true;
}

void FakeUsbDevice::QueueReport(const std::vector<uint8_t>& frame) {
  std::lock_guard guard(device_->lock);
  auto r = frame;
  r.resize(64, 0);
  device_->reports.push_back(std::move(r));
  device_->Serve();
}

void FakeUsbDevice::QueueBlock(size_t bytes, int16_t fill) {
  std::lock_guard guard(device_->lock);
  std::vector<uint8_t> b(bytes);
  for (size_t i = 0; i + 1 < bytes; i += 2) std::memcpy(&b[i], &fill, 2);
  device_->blocks.push_back(std::move(b));
  device_->Serve();
}

void FakeUsbDevice::FailNextReadWithCrc() {
  std::lock_guard guard(device_->lock);
  device_->crcNext = true;
  device_->Serve();
}

void FakeUsbDevice::NextRegistration(Registration r) {
  std::lock_guard guard(device_->lock);
  device_->registration = r;
}

void FakeUsbDevice::RefuseNextReportRead() {
  std::lock_guard guard(device_->lock);
  device_->refuseReportRead = true;
}

void FakeUsbDevice::RefuseNextBlockRead() {
  std::lock_guard guard(device_->lock);
  device_->refuseBlockRead = true;
}

void FakeUsbDevice::RefuseNextWrite() {
  std::lock_guard guard(device_->lock);
  device_->refuseWrite = true;
}

void FakeUsbDevice::HoldWrites(bool hold) {
  std::lock_guard guard(device_->lock);
  device_->holdWrites = hold;
}

bool FakeUsbDevice::CompleteOldestHeldWrite() {
  std::lock_guard guard(device_->lock);
  if (device_->heldWrites.empty()) return false;
  win32::CompleteOverlapped(device_->heldWrites.front().ov, 0, kReportSize);
  device_->heldWrites.pop_front();
  return true;
}

std::vector<std::string> FakeUsbDevice::Calls() {
  std::lock_guard guard(device_->lock);
  return std::exchange(device_->calls, {});
}

int FakeUsbDevice::OpenAttempts() const {
  std::lock_guard guard(device_->lock);
  return device_->openAttempts;
}

std::vector<std::string> FakeUsbDevice::Commands() {
  std::lock_guard guard(device_->lock);
  auto out = std::move(device_->commands);
  device_->commands.clear();
  return out;
}

std::vector<std::vector<uint8_t>> FakeUsbDevice::Writes() {
  std::lock_guard guard(device_->lock);
  return std::exchange(device_->writes, {});
}

bool FakeUsbDevice::RemovalEventRegistered() const {
  std::lock_guard guard(device_->lock);
  return device_->removalEvent != nullptr;
}

}  // namespace testsupport
