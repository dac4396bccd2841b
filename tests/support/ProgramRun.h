// One life of the program inside a test: a configuration folder of its own, the serial port
// pointed at a test receiver, the windows created as at start-up and the main window shown.
// Destroying it closes the main window as the operator would (the settings are saved).
#pragma once

#include <QPoint>
#include <QString>
#include <functional>
#include <optional>

class QWidget;
#include <functional>
#include <memory>
#include <string>

class ProgramWindows;

namespace testsupport {

class ProgramRun {
 public:
  ProgramRun(const QString& configDir, const std::string& serialPath);
  ~ProgramRun();

  // Closes the main window (saving) and destroys all windows.
  void Close();

 private:
  std::unique_ptr<ProgramWindows> windows_;
};

// Lets queued events and timers run for about `ms` milliseconds.
void Pump(int ms = 0);

// Turns the mouse wheel by `delta` (120 = one notch) over `over`, at `at` (its middle when
// not given); `sideways` is a horizontal or tilt turn.
void Wheel(QWidget* over, int delta, int sideways = 0, std::optional<QPoint> at = std::nullopt);

// Lets events run until `done` returns true or about `ms` milliseconds pass; returns done().
bool PumpUntil(const std::function<bool()>& done, int ms = 3000);

}  // namespace testsupport
