// A test receiver on the far end of a pseudo-terminal: the program under test opens the
// slave side as its serial port, the test reads the command frames it writes and sends
// report frames back.
#pragma once

#include <cstdint>
#include <string>
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
  int MasterFd() const { return master_; }

  // Every complete frame that has arrived so far (waits up to `waitMs` for the first byte).
  std::vector<Frame> Take(int waitMs = 0);
  // Sends a report frame built from letter and digit characters (checksum added).
  void SendReport(char letter, const std::string& digits);
  void SendBytes(const std::vector<uint8_t>& bytes);
  // Bytes sent that the program's side has not read yet.
  int InputPending() const;

 private:
  int master_ = -1;
  int slaveKeep_ = -1;  // keeps the line up while the program reopens it
  std::string slavePath_;
  std::vector<uint8_t> pending_;
};

// Builds a report frame with the command checksum.
std::vector<uint8_t> ReportFrame(char letter, const std::string& digits);

}  // namespace testsupport
