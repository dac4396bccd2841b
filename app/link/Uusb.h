// The USB link to the receiver through the driver's device \\.\USBVestra0.
// The worker thread that opens the device and reads reports and sample blocks joins with
// the USB link itself; until then no device is ever open and every write answers 1.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32/WinTypes.h"

// The window message the USB link posts to the main window, and its event codes.
constexpr UINT LinkMessage = 1124;

constexpr int kRingSlots = 32;
constexpr int kReportSize = 64;
constexpr int kBlockSize = 4096;

class TUsb {
 public:
  // Stores the main window's handle and message number and starts the link.
  void Start(HWND window, UINT message);
  // Writes one 64-byte buffer: 0 written, 1 no device open, 2 failed to start, 3 timed out.
  int WriteCommand(const uint8_t* buffer);
  // Asks the link to stop (shut-down).
  void Stop();

  // Hands each queued report (64 bytes) or sample block (2048 samples) to `use`, in order,
  // in place. The read index advances before the slot is used.
  template <class Use>
  void DrainReports(Use&& use);
  template <class Use>
  void DrainBlocks(Use&& use);

  std::atomic<HANDLE> DeviceHandle{INVALID_HANDLE_VALUE};

  // Rings filled by the link's worker and drained by the main window's thread. Each index
  // is written by one thread only: the worker advances a write index after filling its
  // slot (release), the main thread reads up to it (acquire).
  alignas(64) uint8_t ReportRing[kRingSlots][kReportSize] = {};
  std::atomic<uint32_t> ReportReadIndex{0}, ReportWriteIndex{0};
  alignas(64) int16_t BlockRing[kRingSlots][kBlockSize / 2] = {};
  std::atomic<uint32_t> BlockReadIndex{0}, BlockWriteIndex{0};

 private:
  HWND window_ = nullptr;
  UINT message_ = 0;
};

extern TUsb Usb;

template <class Use>
void TUsb::DrainReports(Use&& use) {
  uint32_t r = ReportReadIndex.load(std::memory_order_relaxed);
  while (r != ReportWriteIndex.load(std::memory_order_acquire)) {
    const uint8_t* slot = ReportRing[r];
    r = (r + 1) % kRingSlots;
    ReportReadIndex.store(r, std::memory_order_release);
    use(slot);
  }
}

template <class Use>
void TUsb::DrainBlocks(Use&& use) {
  uint32_t r = BlockReadIndex.load(std::memory_order_relaxed);
  while (r != BlockWriteIndex.load(std::memory_order_acquire)) {
    const int16_t* slot = BlockRing[r];
    r = (r + 1) % kRingSlots;
    BlockReadIndex.store(r, std::memory_order_release);
    use(slot);
  }
}
