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

// The worker: reconnect, search, connect, then the main wait with its report and block
// reads. Every failure goes back to the reconnect; only StopEvent ends it.
void TUsb::Worker() {
  ownEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  registerRecord_ = OVERLAPPED{};
  reportRecord_ = OVERLAPPED{};
  blockRecord_ = OVERLAPPED{};
  ownRecord_ = OVERLAPPED{};
  registerRecord_.hEvent = StopEvent;
  reportRecord_.hEvent = ReportEvent;
  blockRecord_.hEvent = BlockEvent;
  ownRecord_.hEvent = ownEvent_;

  Step step = Step::kReconnect;
  while (step != Step::kEnd) {
    switch (step) {
      case Step::kReconnect: step = Reconnect(); break;
      case Step::kMainWait: step = MainWait(); break;
      case Step::kReportDone: step = ReportDone(); break;
      case Step::kEnd: break;
    }
  }
  CloseDevice();
  CloseHandle(ownEvent_);
  ownEvent_ = nullptr;
}

void TUsb::CloseDevice() {
  const HANDLE h = DeviceHandle.exchange(INVALID_HANDLE_VALUE, std::memory_order_acq_rel);
  if (h != INVALID_HANDLE_VALUE) {
    CancelIo(h);
    CloseHandle(h);
  }
}

DWORD TUsb::WaitForWorkerEvents(DWORD ms) {
  const HANDLE events[4] = {RemovalEvent, StopEvent, ReportEvent, BlockEvent};
  return WaitForMultipleObjects(4, events, FALSE, ms);
}

// The two events every wait answers the same way: the receiver unplugged, or shut-down.
std::optional<TUsb::Step> TUsb::RemovedOrStopped(DWORD waitResult) {
  if (waitResult == WAIT_OBJECT_0) {
    ResetEvent(RemovalEvent);
    CloseDevice();
    Post(kLinkRemoved);
    return Step::kReconnect;
  }
  if (waitResult == WAIT_OBJECT_0 + 1) {
    ResetEvent(StopEvent);
    CloseDevice();
    return Step::kEnd;
  }
  return std::nullopt;
}

// A read that cannot start because the receiver has just been unplugged is the unplug,
// not a read error: the driver has set RemovalEvent before it refuses the read.
TUsb::Step TUsb::ReadRefused(int code) {
  if (auto step = RemovedOrStopped(WaitForSingleObject(RemovalEvent, 0))) return *step;
  Post(code);
  return Step::kReconnect;
}

// Tells the open device that it is about to be closed, closes it, announces the search and
// clears the events; then searches and connects.
TUsb::Step TUsb::Reconnect() {
  if (const HANDLE h = DeviceHandle.load(); h != INVALID_HANDLE_VALUE) {
    DWORD n = 0;
    ownRecord_.Internal = 0;
    DeviceIoControl(h, IOCTL_BEFORE_CLOSE, nullptr, 0, &closeOutput_, sizeof closeOutput_, &n, &ownRecord_);
    Sleep(10);
  }
  CloseDevice();
  Post(kLinkDisconnected);
  for (HANDLE e : {RemovalEvent, StopEvent, ReportEvent, BlockEvent}) ResetEvent(e);
  if (stopping_) return Step::kEnd;  // a stop whose event the reset just cleared
  const HANDLE device = Search();
  if (device == INVALID_HANDLE_VALUE) return Step::kEnd;
  DeviceHandle.store(device, std::memory_order_release);
  return Connect(device);
}

// Tries to open the device every 100 ms until it opens (its handle) or shut-down comes
// (an invalid handle).
HANDLE TUsb::Search() {
  for (;;) {
    const HANDLE device = CreateFileA(kUsbDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (device != INVALID_HANDLE_VALUE) return device;
    if (WaitForSingleObject(StopEvent, kSearchIntervalMs) == WAIT_OBJECT_0 || stopping_) return INVALID_HANDLE_VALUE;
  }
}

// Announces the connection, registers the removal event with the driver (its completion
// sets StopEvent, within 100 ms), empties the report ring and starts the first report read.
TUsb::Step TUsb::Connect(HANDLE device) {
  Post(kLinkConnected);
  uint32_t handleValue = uint32_t(reinterpret_cast<uintptr_t>(RemovalEvent));
  DWORD n = 0;
  registerRecord_ = OVERLAPPED{};
  registerRecord_.hEvent = StopEvent;
  if (!DeviceIoControl(device, IOCTL_SET_REMOVAL_EVENT, &handleValue, sizeof handleValue, nullptr, 0, &n,
                       &registerRecord_) ||
      WaitForSingleObject(StopEvent, 100) != WAIT_OBJECT_0) {
    Post(kLinkRegisterFailed);
    return Step::kReconnect;
  }
  ResetEvent(StopEvent);
  // StopEvent doubles as the registration's completion: a stop asked for meanwhile must
  // not be lost with it.
  if (stopping_) {
    CloseDevice();
    return Step::kEnd;
  }
  EmptyReportRing();
  if (!StartReportRead()) return ReadRefused(kLinkReportReadFailed);
  return Step::kMainWait;
}

// Starts the report read into the next free slot (or the drop slot when the ring is full).
bool TUsb::StartReportRead() {
  const uint32_t w = ReportWriteIndex.load(std::memory_order_relaxed);
  const bool full = (w + 1) % kRingSlots == ReportReadIndex.load(std::memory_order_acquire);
  reportSlot_ = full ? dropReport_ : ReportRing[w];
  DWORD n = 0;
  return DeviceIoControl(DeviceHandle.load(), IOCTL_READ_INTERRUPT, nullptr, 0, reportSlot_, kReportSize, &n,
                         &reportRecord_) ||
         GetLastError() == ERROR_IO_PENDING;
}

// Waits without time limit for the removal, shut-down or the report read's completion.
TUsb::Step TUsb::MainWait() {
  const DWORD r = WaitForWorkerEvents(INFINITE);
  if (auto step = RemovedOrStopped(r)) return *step;
  if (r == WAIT_OBJECT_0 + 2) return Step::kReportDone;
  if (r == WAIT_OBJECT_0 + 3) ResetEvent(BlockEvent);  // left set by a block read that was given up
  return Step::kMainWait;
}

// The report read has an answer: a report other than C is queued, a C report gives the
// gain and fetches its sample block; then the next report read starts.
TUsb::Step TUsb::ReportDone() {
  ResetEvent(ReportEvent);
  DWORD got = 0;
  if (!GetOverlappedResult(DeviceHandle.load(), &reportRecord_, &got, FALSE)) {
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE || error == ERROR_IO_PENDING) return Step::kMainWait;
    if (error == ERROR_CRC) {
      Post(kLinkCrc);
      return Step::kReconnect;
    }
  } else if (reportSlot_[1] != 'C') {
    QueueReport();
  } else {
    ParseReport(reportSlot_);  // only stores the gain; the report is not queued
    if (auto step = ReadBlock()) return *step;
  }
  return RestartReportRead();
}

void TUsb::QueueReport() {
  if (reportSlot_ == dropReport_) return;
  ReportWriteIndex.store((ReportWriteIndex.load(std::memory_order_relaxed) + 1) % kRingSlots,
                         std::memory_order_release);
  Post(kLinkReport);
}

// Reads the sample block that follows a C report, waiting up to BlockTimeoutMs for it.
// Returns where the worker goes next, or nothing when the next report read is due.
std::optional<TUsb::Step> TUsb::ReadBlock() {
  const uint32_t w = BlockWriteIndex.load(std::memory_order_relaxed);
  const bool full = (w + 1) % kRingSlots == BlockReadIndex.load(std::memory_order_acquire);
  blockSlot_ = full ? dropBlock_ : BlockRing[w];
  DWORD n = 0;
  if (!DeviceIoControl(DeviceHandle.load(), IOCTL_READ_BULK2, nullptr, 0, blockSlot_, kBlockSize, &n,
                       &blockRecord_) &&
      GetLastError() != ERROR_IO_PENDING)
    return ReadRefused(kLinkBlockReadFailed);
  const DWORD r = WaitForWorkerEvents(BlockTimeoutMs);
  if (auto step = RemovedOrStopped(r)) return *step;
  if (r == WAIT_OBJECT_0 + 2 || r == WAIT_TIMEOUT) {
    if (r == WAIT_OBJECT_0 + 2) ResetEvent(ReportEvent);
    Post(kLinkBlockTimeout);
    return Step::kReconnect;
  }
  if (r == WAIT_OBJECT_0 + 3) return BlockDone();
  return std::nullopt;
}

// The block read has an answer: a full block is queued, a short one reported and dropped.
std::optional<TUsb::Step> TUsb::BlockDone() {
  ResetEvent(BlockEvent);
  DWORD count = 0;
  if (!GetOverlappedResult(DeviceHandle.load(), &blockRecord_, &count, FALSE)) {
    if (GetLastError() == ERROR_CRC) {
      Post(kLinkCrc);
      return Step::kReconnect;
    }
  } else if (count != DWORD(kBlockSize)) {
    Post(kLinkBlockLength);
  } else if (blockSlot_ != dropBlock_) {
    BlockWriteIndex.store((BlockWriteIndex.load(std::memory_order_relaxed) + 1) % kRingSlots,
                          std::memory_order_release);
    Post(kLinkBlock);
  }
  return std::nullopt;
}

// Keeps one report read pending: starts the next one, or closes the device when it cannot.
TUsb::Step TUsb::RestartReportRead() {
  if (StartReportRead()) return Step::kMainWait;
  CloseDevice();
  return ReadRefused(kLinkReportReadFailed);
}
