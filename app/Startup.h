// The program's windows, created in their start-up order and destroyed in reverse.
#pragma once

#include <memory>
#include <vector>

#include <QWidget>

class ProgramWindows {
 public:
  // Reads the serial port's device from the initialization file, then creates the main
  // window and the tool windows.
  ProgramWindows();
  ~ProgramWindows();

 private:
  std::vector<std::unique_ptr<QWidget>> windows_;
};
