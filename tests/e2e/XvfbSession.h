// A private X server (Xvfb) for a test, and the real PVestra started on it.
#pragma once

#include <sys/types.h>

#include <QString>
#include <string>

namespace testsupport {

// Places in the main window's client area (without a window manager it starts at the
// window's position): the knob (64 x 63 at 245, 324) and the СПЕКТР button (66 x 26 at
// 354, 286), as xdotool coordinates.
constexpr const char* kKnobCentre = "277 355";
constexpr const char* kSpectrumButtonCentre = "387 299";

// How the program is started: as which user (-1: the test's own) and where its standard
// error goes (empty: the test's).
struct ProgramLaunch {
  long uid = -1;
  long gid = -1;
  std::string errorLog;
};

class XvfbSession {
 public:
  XvfbSession();  // starts Xvfb on a free display; Ok() tells whether it came up
  ~XvfbSession();
  bool Ok() const { return display_ >= 0; }
  std::string Display() const { return ":" + std::to_string(display_); }

  // Starts $PVESTRA_BIN/PVestra with its own configuration folder; false when it cannot.
  bool StartProgram(const QString& configDir, const ProgramLaunch& launch = {});
  pid_t ProgramPid() const { return program_; }
  // Ends the program as SIGTERM does and waits for it.
  void StopProgram();
  // Ends the X server under the running program: the program loses its display.
  void StopServer();
  // Waits up to `ms` for the program to end by itself; false when it still runs.
  bool WaitForProgramToEnd(int ms);
  // Runs a shell command with DISPLAY set; returns its standard output.
  std::string Run(const std::string& command) const;
  // The visible main window's id, or empty when it did not appear within ten seconds.
  std::string WaitForMainWindow() const;
  // Clicks the left button at `at` ("x y") in `window`.
  void ClickAt(const std::string& window, const char* at) const;

 private:
  int display_ = -1;
  pid_t server_ = -1;
  pid_t program_ = -1;
};

}  // namespace testsupport
