// Runs a shell command for a test and keeps what it printed.
#pragma once

#include <string>

namespace testsupport {

struct ShellResult {
  int status = -1;     // the exit status; -1 when it did not exit normally
  std::string output;  // standard output and standard error together
};

ShellResult RunShell(const std::string& command);

// `text` quoted for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace testsupport
