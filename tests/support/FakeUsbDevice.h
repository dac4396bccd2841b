// A scripted receiver behind \\.\USBVestra0, at the level of the driver's control codes:
// the test plugs and unplugs it, queues reports and sample blocks, injects faults, and
// reads back the commands written to it.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/File.h"

namespace testsupport {

class FakeUsbDevice {
 public:
  FakeUsbDevice();   // registers the device namespace; unplugged
  ~FakeUsbDevice();  // unregisters it

  void Plug();
  // As the real stack does: sets the removal event the program registered, then fails the
  // pending reads; requests on the departed device's handles fail with delete pending, and
  // opens are refused until Plug, which brings a new device.
  void Unplug();

  // Unplugs when the program starts its next read, which is then refused: the removal
  // event is already set, as it is when the receiver goes just before a read starts.
  void UnplugAtNextRead();

  void QueueReport(const std::vector<uint8_t>& frame);  // padded to 64 bytes
  void QueueBlock(size_t bytes = 4096, int16_t fill = 0);
  void FailNextReadWithCrc();

  // How the next registration of the removal event goes.
  enum class Registration { kAccepted, kRefused, kNeverCompleted };
  void NextRegistration(Registration r);
  // The next report read, block read or command write is refused as it starts.
  void RefuseNextReportRead();
  void RefuseNextBlockRead();
  void RefuseNextWrite();
  // While held, command writes stay pending until completed one by one, oldest first.
  void HoldWrites(bool hold);
  bool CompleteOldestHeldWrite();
  // The control codes other than reads and writes ("0x222000", …) and the closes of
  // handles ("close"), in order, since the last call.
  std::vector<std::string> Calls();

  int OpenAttempts() const;
  // The frames written with the command code, as "letter:digits".
  std::vector<std::string> Commands();
  // Every 64-byte buffer written with the command code since the last call, as written.
  std::vector<std::vector<uint8_t>> Writes();
  bool RemovalEventRegistered() const;

  class Device;

 private:
  std::shared_ptr<Device> device_;
};

}  // namespace testsupport
