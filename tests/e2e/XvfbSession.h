// A private X server (Xvfb) for a test, and the real PVestra started on it.
#pragma once

#include <sys/types.h>

#include <QString>
#include <string>

namespace testsupport {

class XvfbSession {
 public:
  XvfbSession();  // starts Xvfb on a free display; Ok() tells whether it came up
  ~XvfbSession();
  bool Ok() const { return display_ >= 0; }
  std::string Display() const { return ":" + std::to_string(display_); }

  // Starts $PVESTRA_BIN/PVestra with its own configuration folder; false when it cannot.
  bool StartProgram(const QString& configDir);
  // Ends the program as SIGTERM does and waits for it.
  void StopProgram();
  // Ends the X server under the running program: the program loses its display.
  void StopServer();
  // Waits up to `ms` for the program to end by itself; false when it still runs.
  bool WaitForProgramToEnd(int ms);
  // Runs a shell command with DISPLAY set; returns its standard output.
  std::string Run(const std::string& command) const;

 private:
  int display_ = -1;
  pid_t server_ = -1;
  pid_t program_ = -1;
};

}  // namespace testsupport
