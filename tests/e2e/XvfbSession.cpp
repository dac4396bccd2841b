#include "tests/e2e/XvfbSession.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

namespace testsupport {

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void Reap(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
}

}  // namespace

XvfbSession::XvfbSession() {
  for (int d = 90 + getpid() % 100; d < 400; ++d) {
    if (Exists("/tmp/.X11-unix/X" + std::to_string(d)) || Exists("/tmp/.X" + std::to_string(d) + "-lock")) continue;
    const std::string name = ":" + std::to_string(d);
    server_ = fork();
    if (server_ == 0) {
      execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100 && !Exists("/tmp/.X11-unix/X" + std::to_string(d)); ++i) usleep(50 * 1000);
    if (Exists("/tmp/.X11-unix/X" + std::to_string(d))) display_ = d;
    else Reap(server_);
    return;
  }
}

XvfbSession::~XvfbSession() {
  StopProgram();
  Reap(server_);
}

bool XvfbSession::StartProgram(const QString& configDir, const ProgramLaunch& launch) {
  const char* bin = getenv("PVESTRA_BIN");
  if (!bin || !Ok()) return false;
  const std::string program = std::string(bin) + "/PVestra";
  const std::string config = configDir.toStdString();
  const std::string display = Display();
  program_ = fork();
  if (program_ == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");
    if (!launch.errorLog.empty()) {
      const int fd = ::open(launch.errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) _exit(127);
    }
    if (launch.uid >= 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(launch.gid)) != 0 || ::setuid(uid_t(launch.uid)) != 0))
      _exit(127);
    execl(program.c_str(), "PVestra", nullptr);
    _exit(127);
  }
  return program_ > 0;
}

void XvfbSession::StopProgram() { Reap(program_); }

void XvfbSession::StopServer() { Reap(server_); }

bool XvfbSession::WaitForProgramToEnd(int ms) {
  for (int waited = 0; program_ > 0; waited += 20) {
    if (::waitpid(program_, nullptr, WNOHANG) == program_) program_ = -1;
    else if (waited >= ms) return false;
    else usleep(20 * 1000);
  }
  return true;
}

std::string XvfbSession::Run(const std::string& command) const {
  const std::string full = "DISPLAY=" + Display() + " " + command;
  std::string out;
  if (FILE* p = popen(full.c_str(), "r")) {
    std::array<char, 256> buf{};
    while (fgets(buf.data(), int(buf.size()), p)) out += buf.data();
    pclose(p);
  }
  return out;
}

std::string XvfbSession::WaitForMainWindow() const {
  std::string window;
  for (int i = 0; i < 100 && window.empty(); ++i) {
    usleep(100 * 1000);
    window = Run("xdotool search --onlyvisible --name VESTRA 2>/dev/null | head -1");
  }
  if (!window.empty()) window.pop_back();  // the newline
  return window;
}

void XvfbSession::ClickAt(const std::string& window, const char* at) const {
  Run("xdotool mousemove --window " + window + " " + at + " click 1");
}

}  // namespace testsupport
