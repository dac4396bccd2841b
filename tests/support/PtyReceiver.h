// A test receiver on the far end of a pseudo-terminal: the program under test opens the
// slave side as its serial port, the test reads the command frames it writes and sends
// report frames back.
//
// Like a real receiver, it reads its line all the time, on a thread of its own: the program
// and the test share one thread, and a line that only the test's thread drained would fill
// up (a pseudo-terminal holds some 16 KB) whenever the program wrote faster than the test
// looked, so that the program's writes would wait for a reader that cannot come.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct Frame {
  char letter;
  std::string digits;  // the value characters as sent, e.g. "-0700"
  bool checksumOk;
  bool operator==(const Frame&) const = default;
};

// "F:30000000", for readable failure messages and tables.
std::string ToString(const Frame& f);
std::vector<std::string> ToStrings(const std::vector<Frame>& frames);

class PtyReceiver {
 public:
  PtyReceiver();
  ~PtyReceiver();

  const std::string& SlavePath() const { return slavePath_; }

  // Every complete frame that has arrived so far (waits up to `waitMs` for the first byte).
  std::vector<Frame> Take(int waitMs = 0);
  // The raw bytes that arrive, from the first within `waitMs` until the line has been
  // quiet for `quietMs`.
  std::vector<uint8_t> TakeBytes(int waitMs, int quietMs = 20);
  // Sends a report frame built from letter and digit characters (checksum added).
  void SendReport(char letter, const std::string& digits);
  void SendBytes(const std::vector<uint8_t>& bytes);
  // Bytes sent that the program's side has not read yet.
  int InputPending() const;

 private:
  void ReadLine();
  // Moves what the line holds into the inbox; the lock is held. False when it held nothing.
  bool DrainLine();
  // Waits up to `ms` for bytes not yet taken; the lock is held.
  bool WaitForBytes(std::unique_lock<std::mutex>& lock, int ms);

  int master_ = -1;
  int slaveKeep_ = -1;  // keeps the line up while the program reopens it
  int stop_ = -1;       // an eventfd that ends the reading thread
  std::string slavePath_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<uint8_t> inbox_;    // read from the line, not yet taken
  std::vector<uint8_t> pending_;  // taken, the start of a frame still incomplete
  std::thread reader_;
};

// Builds a report frame with the command checksum.
std::vector<uint8_t> ReportFrame(char letter, const std::string& digits);

}  // namespace testsupport
