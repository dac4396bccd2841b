#include "app/link/Uusb.h"

#include <cstring>

#include "app/link/Ureport.h"
#include "platform/win32/File.h"
#include "platform/win32/Message.h"
#include "platform/win32/Sync.h"
#include "platform/win32/Thread.h"

TUsb Usb;

TUsb::TUsb() {
  for (auto& w : writes_) w.record.hEvent = nullptr;
}

TUsb::~TUsb() {
  if (thread_) {
    Stop();
    WaitForWorker(2000);
  }
  // Cancel what this thread still has in flight; a write given up keeps its record until
  // the cancellation completes it.
  if (HANDLE h = DeviceHandle.load(); h != INVALID_HANDLE_VALUE) CancelIo(h);
  for (auto& w : writes_)
    if (w.record.hEvent) CloseHandle(w.record.hEvent);
  for (HANDLE e : {RemovalEvent, StopEvent, ReportEvent, BlockEvent})
    if (e) CloseHandle(e);
}

void TUsb::Start(HWND window, UINT message) {
  if (thread_) {  // a second start (a test's next program run): the old worker ends first
    Stop();
    WaitForWorker(2000);
  }
  window_ = window;
  message_ = message;
  stopping_ = false;
  // The worker's events exist before the worker does, so that shut-down can always set
  // StopEvent without racing the worker's start.
  for (HANDLE* e : {&RemovalEvent, &StopEvent, &ReportEvent, &BlockEvent}) {
    if (!*e) *e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(*e);
  }
  for (auto& w : writes_)
    if (!w.record.hEvent) w.record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, &TUsb::UsbWorker, this, 0, &threadId_);
}

void TUsb::Stop() {
  stopping_ = true;
  if (StopEvent) SetEvent(StopEvent);
}

bool TUsb::WaitForWorker(DWORD ms) {
  if (!thread_) return true;
  if (WaitForSingleObject(thread_, ms) != WAIT_OBJECT_0) return false;
  CloseHandle(thread_);
  thread_ = nullptr;
  return true;
}

int TUsb::WriteCommand(const uint8_t* buffer) {
  const HANDLE device = DeviceHandle.load(std::memory_order_acquire);
  if (device == INVALID_HANDLE_VALUE) return 1;
  // A free record: none of its earlier writes still in flight.
  WriteSlot* slot = nullptr;
  for (auto& w : writes_) {
    DWORD n = 0;
    if (!w.used || GetOverlappedResult(device, &w.record, &n, FALSE) || GetLastError() != ERROR_IO_INCOMPLETE) {
      slot = &w;
      break;
    }
  }
  if (!slot || !slot->record.hEvent) return 2;
  std::memcpy(slot->buffer, buffer, kReportSize);
  const HANDLE event = slot->record.hEvent;
  slot->record = OVERLAPPED{};
  slot->record.hEvent = event;
  slot->used = true;
  ResetEvent(event);
  DWORD returned = 0;
  if (!DeviceIoControl(device, IOCTL_WRITE_COMMAND, slot->buffer, kReportSize, nullptr, 0, &returned,
                       &slot->record) &&
      GetLastError() != ERROR_IO_PENDING)
    return 2;
  return WaitForSingleObject(event, kWriteTimeoutMs) == WAIT_OBJECT_0 ? 0 : 3;
}

void TUsb::EmptyReportRing() {
  // The read index moves up to the write index unless the main thread moves it first; the
  // main thread's drain then finds the ring empty and takes nothing of the old connection.
  const uint32_t w = ReportWriteIndex.load(std::memory_order_relaxed);
  uint32_t r = ReportReadIndex.load(std::memory_order_acquire);
  while (r != w && !ReportReadIndex.compare_exchange_weak(r, w, std::memory_order_acq_rel)) {
  }
}

void TUsb::Post(int code) { PostMessageA(window_, message_, WPARAM(code), 0); }

DWORD TUsb::UsbWorker(void* self) {
  static_cast<TUsb*>(self)->Worker();
  return 0;
}

// The worker, step by step: reconnect, search, connect, then the main wait with its report
// and block reads. Every failure goes back to the reconnect; only StopEvent ends it.
void TUsb::Worker() {
  HANDLE ownEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HANDLE events[4] = {RemovalEvent, StopEvent, ReportEvent, BlockEvent};

  OVERLAPPED registerRecord{}, reportRecord{}, blockRecord{}, ownRecord{};
  registerRecord.hEvent = StopEvent;
  reportRecord.hEvent = ReportEvent;
  blockRecord.hEvent = BlockEvent;
  ownRecord.hEvent = ownEvent;
  uint8_t* reportSlot = nullptr;
  int16_t* blockSlot = nullptr;
  uint32_t closeOutput = 0;

  auto closeDevice = [&] {
    const HANDLE h = DeviceHandle.exchange(INVALID_HANDLE_VALUE, std::memory_order_acq_rel);
    if (h != INVALID_HANDLE_VALUE) {
      CancelIo(h);
      CloseHandle(h);
    }
  };
  // Starts the report read into the next free slot (or the drop slot when the ring is full).
  auto startReportRead = [&]() -> bool {
    const uint32_t w = ReportWriteIndex.load(std::memory_order_relaxed);
    const bool full = (w + 1) % kRingSlots == ReportReadIndex.load(std::memory_order_acquire);
    reportSlot = full ? dropReport_ : ReportRing[w];
    DWORD n = 0;
    return DeviceIoControl(DeviceHandle.load(), IOCTL_READ_INTERRUPT, nullptr, 0, reportSlot, kReportSize, &n,
                           &reportRecord) ||
           GetLastError() == ERROR_IO_PENDING;
  };
  auto queueReport = [&] {
    if (reportSlot == dropReport_) return;
    ReportWriteIndex.store((ReportWriteIndex.load(std::memory_order_relaxed) + 1) % kRingSlots,
                           std::memory_order_release);
    Post(kLinkReport);
  };

  enum class Step { Reconnect, MainWait, ReportDone, End };
  Step step = Step::Reconnect;
  // The two events every wait answers the same way: the receiver unplugged, or shut-down.
  auto removedOrStopped = [&](DWORD r) -> bool {
    if (r == WAIT_OBJECT_0) {
      ResetEvent(RemovalEvent);
      closeDevice();
      Post(kLinkRemoved);
      step = Step::Reconnect;
      return true;
    }
    if (r == WAIT_OBJECT_0 + 1) {
      ResetEvent(StopEvent);
      closeDevice();
      step = Step::End;
      return true;
    }
    return false;
  };
  // A read that cannot start because the receiver has just been unplugged is the unplug,
  // not a read error: the driver has set RemovalEvent before it refuses the read.
  auto readRefused = [&](int code) {
    if (!removedOrStopped(WaitForSingleObject(RemovalEvent, 0))) {
      Post(code);
      step = Step::Reconnect;
    }
  };
  while (step != Step::End) {
    if (step == Step::Reconnect) {
      if (const HANDLE h = DeviceHandle.load(); h != INVALID_HANDLE_VALUE) {
        DWORD n = 0;
        ownRecord.Internal = 0;
        DeviceIoControl(h, IOCTL_BEFORE_CLOSE, nullptr, 0, &closeOutput, sizeof closeOutput, &n, &ownRecord);
        Sleep(10);
      }
      closeDevice();
      Post(kLinkSearching);
      for (HANDLE e : events) ResetEvent(e);
      if (stopping_) break;  // a stop whose event the reset just cleared
      // Search.
      HANDLE device = INVALID_HANDLE_VALUE;
      for (;;) {
        device = CreateFileA(kUsbDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_FLAG_OVERLAPPED, nullptr);
        if (device != INVALID_HANDLE_VALUE) break;
        if (WaitForSingleObject(StopEvent, kSearchIntervalMs) == WAIT_OBJECT_0 || stopping_) {
          step = Step::End;
          break;
        }
      }
      if (step == Step::End) break;
      DeviceHandle.store(device, std::memory_order_release);
      // Connect.
      Post(kLinkConnected);
      uint32_t handleValue = uint32_t(reinterpret_cast<uintptr_t>(RemovalEvent));
      DWORD n = 0;
      registerRecord = OVERLAPPED{};
      registerRecord.hEvent = StopEvent;
      if (!DeviceIoControl(device, IOCTL_SET_REMOVAL_EVENT, &handleValue, sizeof handleValue, nullptr, 0, &n,
                           &registerRecord)) {
        Post(kLinkRegisterFailed);
        continue;
      }
      if (WaitForSingleObject(StopEvent, 100) != WAIT_OBJECT_0) {
        Post(kLinkRegisterFailed);
        continue;
      }
      ResetEvent(StopEvent);
      // StopEvent doubles as the registration's completion: a stop asked for meanwhile
      // must not be lost with it.
      if (stopping_) {
        closeDevice();
        break;
      }
      EmptyReportRing();
      if (!startReportRead()) {
        readRefused(kLinkReportReadFailed);
        continue;
      }
      step = Step::MainWait;
      continue;
    }

    if (step == Step::MainWait) {
      const DWORD r = WaitForMultipleObjects(4, events, FALSE, INFINITE);
      if (removedOrStopped(r)) continue;
      if (r == WAIT_OBJECT_0 + 2) step = Step::ReportDone;
      if (r == WAIT_OBJECT_0 + 3) ResetEvent(BlockEvent);  // left set by a block read that was given up
      continue;
    }

    // Step::ReportDone: the report read has an answer.
    ResetEvent(ReportEvent);
    DWORD got = 0;
    if (!GetOverlappedResult(DeviceHandle.load(), &reportRecord, &got, FALSE)) {
      const DWORD error = GetLastError();
      if (error == ERROR_IO_INCOMPLETE || error == ERROR_IO_PENDING) {
        step = Step::MainWait;
        continue;
      }
      if (error == ERROR_CRC) {
        Post(kLinkCrc);
        step = Step::Reconnect;
        continue;
      }
    } else if (reportSlot[1] != 'C') {
      queueReport();
    } else {
      ParseReport(reportSlot);  // only stores the gain; the report is not queued
      const uint32_t w = BlockWriteIndex.load(std::memory_order_relaxed);
      const bool full = (w + 1) % kRingSlots == BlockReadIndex.load(std::memory_order_acquire);
      blockSlot = full ? dropBlock_ : BlockRing[w];
      DWORD n = 0;
      if (!DeviceIoControl(DeviceHandle.load(), IOCTL_READ_BULK2, nullptr, 0, blockSlot, kBlockSize, &n,
                           &blockRecord) &&
          GetLastError() != ERROR_IO_PENDING) {
        readRefused(kLinkBlockReadFailed);
        continue;
      }
      const DWORD r = WaitForMultipleObjects(4, events, FALSE, BlockTimeoutMs);
      if (removedOrStopped(r)) continue;
      if (r == WAIT_OBJECT_0 + 2 || r == WAIT_TIMEOUT) {
        if (r == WAIT_OBJECT_0 + 2) ResetEvent(ReportEvent);
        Post(kLinkBlockTimeout);
        step = Step::Reconnect;
        continue;
      }
      if (r == WAIT_OBJECT_0 + 3) {
        ResetEvent(BlockEvent);
        DWORD count = 0;
        if (!GetOverlappedResult(DeviceHandle.load(), &blockRecord, &count, FALSE)) {
          if (GetLastError() == ERROR_CRC) {
            Post(kLinkCrc);
            step = Step::Reconnect;
            continue;
          }
        } else if (count != DWORD(kBlockSize)) {
          Post(kLinkBlockLength);
        } else if (blockSlot != dropBlock_) {
          BlockWriteIndex.store((w + 1) % kRingSlots, std::memory_order_release);
          Post(kLinkBlock);
        }
      }
    }
    // Step 16: the next report read.
    if (!startReportRead()) {
      closeDevice();
      readRefused(kLinkReportReadFailed);
      continue;
    }
    step = Step::MainWait;
  }

  closeDevice();
  CloseHandle(ownEvent);
}
