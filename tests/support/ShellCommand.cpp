#include "tests/support/ShellCommand.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace testsupport {

ShellResult RunShell(const std::string& command) {
  ShellResult r;
  if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
    std::array<char, 512> buf{};
    while (fgets(buf.data(), int(buf.size()), p)) r.output += buf.data();
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace testsupport
