// The USB link to the receiver through the driver's device \\.\USBVestra0.
//
// A worker thread finds and opens the device, registers an event that the driver sets when
// the receiver is unplugged, keeps one 64-byte report read pending, reads one 4096-byte
// sample block after every C report, and queues reports and blocks in two rings of 32 slots
// for the main window's thread. It tells the main window what happened by posting
// LinkMessage with a link event code, and closes and reopens the device after any failure.
// Commands travel from the main window's thread through WriteCommand on the same handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "driver/UsbVestra.h"
#include "platform/win32/WinTypes.h"

// The window message the USB link posts to the main window, and its event codes.
constexpr UINT LinkMessage = 1124;
enum LinkEvent : int {
  kLinkConnected = 1,       // "Устройство подключено"
  kLinkDisconnected = 2,    // "Устройство отключено"
  kLinkReport = 3,          // a report other than C was queued
  kLinkBlock = 4,           // a sample block was queued
  kLinkRegisterFailed = 5,  // "Ошибка передачи события драйверу"
  kLinkReportReadFailed = 6,  // "Ошибка запроса Interrupt"
  kLinkCrc = 7,             // "Ошибка CRC"
  kLinkBlockReadFailed = 8,  // "Ошибка запроса Bulk2"
  kLinkBlockTimeout = 9,    // "Ошибка тайм-аута Bulk2"
  kLinkBlockLength = 10,    // "Ошибка длины Bulk2"
  kLinkRemoved = 11,        // "USB отключено"
};

// The driver's device and control codes, as the link uses them.
using usbkrn::IOCTL_READ_BULK2;
using usbkrn::IOCTL_READ_INTERRUPT;
using usbkrn::IOCTL_SET_REMOVAL_EVENT;
using usbkrn::IOCTL_WRITE_COMMAND;
constexpr const char* kUsbDeviceName = usbkrn::kUserDeviceName;
constexpr DWORD IOCTL_BEFORE_CLOSE = 0x222014;  // issued before closing; the driver rejects it

constexpr int kRingSlots = 32;
constexpr int kReportSize = 64;
constexpr int kBlockSize = 4096;
constexpr DWORD kWriteTimeoutMs = 500;
constexpr DWORD kBlockTimeoutMs = 20000;
constexpr DWORD kSearchIntervalMs = 100;

class TUsb {
 public:
  TUsb();
  ~TUsb();

  // Stores the main window's handle and message number and starts the worker thread.
  void Start(HWND window, UINT message);
  // Writes one 64-byte buffer: 0 written, 1 no device open, 2 failed to start, 3 not
  // completed within 500 ms (the write may still be in flight; later writes are not
  // disturbed by it).
  int WriteCommand(const uint8_t* buffer);
  // Shut-down: sets StopEvent. The worker closes the device and ends.
  void Stop();
  // Waits up to `ms` for the worker to end; true when it has (or never ran).
  bool WaitForWorker(DWORD ms);

  // Hands each queued report (64 bytes) or sample block (2048 samples) to `use`, in order,
  // in place. The read index advances before the slot is used.
  template <class Use>
  void DrainReports(Use&& use);
  template <class Use>
  void DrainBlocks(Use&& use);

  // The four worker events, in priority order of the main wait.
  HANDLE RemovalEvent = nullptr;
  HANDLE StopEvent = nullptr;
  HANDLE ReportEvent = nullptr;
  HANDLE BlockEvent = nullptr;

  std::atomic<HANDLE> DeviceHandle{INVALID_HANDLE_VALUE};
  // How long a block may take after its C report (tests shorten it).
  DWORD BlockTimeoutMs = kBlockTimeoutMs;

  // Rings filled by the worker and drained by the main window's thread. The worker advances
  // a write index after its slot is filled (release), the main thread reads up to it
  // (acquire) and advances the read index. At every connection the worker empties the
  // report ring by moving its read index up to the write index; both threads move a read
  // index by compare-and-swap, so neither undoes the other. A ring that would overflow
  // drops the new entry.
  alignas(64) uint8_t ReportRing[kRingSlots][kReportSize] = {};
  std::atomic<uint32_t> ReportReadIndex{0}, ReportWriteIndex{0};
  alignas(64) int16_t BlockRing[kRingSlots][kBlockSize / 2] = {};
  std::atomic<uint32_t> BlockReadIndex{0}, BlockWriteIndex{0};

 private:
  static DWORD UsbWorker(void* self);
  void Worker();
  void Post(int code);

  // The worker's steps; each returns the one it goes to next.
  enum class Step { kReconnect, kMainWait, kReportDone, kEnd };
  Step Reconnect();
  HANDLE Search();
  Step Connect(HANDLE device);
  Step MainWait();
  Step ReportDone();
  std::optional<Step> ReadBlock();
  std::optional<Step> BlockDone();
  Step RestartReportRead();
  // Helpers of the steps.
  bool StartReportRead();
  void QueueReport();
  void CloseDevice();
  DWORD WaitForWorkerEvents(DWORD ms);
  std::optional<Step> RemovedOrStopped(DWORD waitResult);
  Step ReadRefused(int code);
  // Drops the reports of the old connection that the main thread has not taken yet.
  void EmptyReportRing();

  // A command write in flight owns its record and a copy of its buffer until the driver
  // completes it, so a write given up after 500 ms cannot be disturbed by the next one.
  struct WriteSlot {
    OVERLAPPED record{};
    uint8_t buffer[kReportSize] = {};
    bool used = false;
  };
  static constexpr int kWriteSlots = 8;
  WriteSlot writes_[kWriteSlots];

  // Where a read goes when its ring is full: the entry is read and dropped, and the slot
  // the main thread may be working on is never written.
  uint8_t dropReport_[kReportSize] = {};
  int16_t dropBlock_[kBlockSize / 2] = {};

  // The worker's own completion records (registration, report read, block read, and the
  // code before close, with an event of its own) and the slots its reads fill.
  OVERLAPPED registerRecord_{}, reportRecord_{}, blockRecord_{}, ownRecord_{};
  HANDLE ownEvent_ = nullptr;
  uint8_t* reportSlot_ = nullptr;
  int16_t* blockSlot_ = nullptr;
  uint32_t closeOutput_ = 0;

  HANDLE thread_ = nullptr;
  DWORD threadId_ = 0;
  HWND window_ = nullptr;
  UINT message_ = 0;
  std::atomic<bool> stopping_{false};
};

extern TUsb Usb;

// Takes the slots from the read index up to the write index, advancing the read index
// before each slot is used. Both indices are read afresh on every pass, and the read index
// moves only if it is still the one the slot was taken at: the worker empties the report
// ring at every connection, and a drain under way then stops instead of taking slots of
// the old connection again.
template <class Slot, class Use>
void DrainRing(Slot* ring, std::atomic<uint32_t>& readIndex, const std::atomic<uint32_t>& writeIndex, Use&& use) {
  for (;;) {
    uint32_t r = readIndex.load(std::memory_order_acquire);
    if (r == writeIndex.load(std::memory_order_acquire)) return;
    if (!readIndex.compare_exchange_strong(r, (r + 1) % kRingSlots, std::memory_order_acq_rel)) continue;
    use(ring[r]);
  }
}

template <class Use>
void TUsb::DrainReports(Use&& use) {
  DrainRing(ReportRing, ReportReadIndex, ReportWriteIndex, use);
}

template <class Use>
void TUsb::DrainBlocks(Use&& use) {
  DrainRing(BlockRing, BlockReadIndex, BlockWriteIndex, use);
}
