// The program's windows, created in their start-up order and destroyed in reverse.
#pragma once

#include <memory>
#include <vector>

#include <QWidget>

class TIQ;
class TFormStorage;
extern TIQ* IQ;

class ProgramWindows {
 public:
  // Reads the serial port's device from the initialization file, then creates the main
  // window and the tool windows.
  ProgramWindows();
  ~ProgramWindows();

 private:
  std::vector<std::unique_ptr<QWidget>> windows_;
  std::unique_ptr<TFormStorage> iqStorage_;
};
