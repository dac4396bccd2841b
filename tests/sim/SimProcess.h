// Runs vestra-sim ($PVESTRA_BIN/vestra-sim) as a child process for a test: on a free loopback
// port, with its pseudo-terminal link in a fresh directory; sends console lines and reads the
// answers; stops the child when destroyed.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <sys/types.h>

namespace simtest {

class SimProcess {
public:
    // Starts the simulator with the given extra arguments (plus --usb 127.0.0.1:0 and
    // --serial <dir>/tty unless `extra` has its own); "@DIR" at the start of an argument stands
    // for the process's own temporary directory. Check started() afterwards.
    explicit SimProcess(std::vector<std::string> extra = {});
    ~SimProcess();

    bool started() const { return pid_ > 0 && (!usb_ || port_ != 0) && (!serial_ || serialReady_); }
    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::string& serialLink() const { return serialLink_; }
    const std::string& directory() const { return dir_; }
    bool running();

    // Sends one console line and returns the answer line.
    std::optional<std::string> command(const std::string& line, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Polls the status line until `wanted` holds for it (or, in the second form, it contains
    // the text); false when `timeout` passes first. `last` is the last line read.
    bool waitForStatus(const std::function<bool(const std::string&)>& wanted, std::string& last,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForStatus(const std::string& wanted, std::string& last,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void closeStdin();
    // Sends SIGTERM and waits; returns the exit status or -1.
    int terminate();

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffer_;
    uint16_t port_ = 0;
    bool usb_ = true;
    bool serial_ = true;
    bool serialReady_ = false;
    std::string dir_;
    std::string serialLink_;
};

} // namespace simtest
