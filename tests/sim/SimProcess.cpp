#include "tests/sim/SimProcess.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace simtest {

SimProcess::SimProcess(std::vector<std::string> extra) {
    char pattern[] = "/tmp/vestra-sim-test-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    serialLink_ = dir_ + "/tty";
    bool haveUsb = false, haveSerial = false;
    for (const auto& a : extra) {
        if (a == "--usb" || a == "--no-usb") haveUsb = true;
        if (a == "--serial" || a == "--no-serial") haveSerial = true;
    }
    std::vector<std::string> args = {"vestra-sim"};
    if (!haveUsb) args.insert(args.end(), {"--usb", "127.0.0.1:0"});
    if (!haveSerial) args.insert(args.end(), {"--serial", serialLink_});
    for (auto a : extra) {
        if (a.rfind("@DIR", 0) == 0) a = dir_ + a.substr(4);
        args.push_back(a);
    }

    // Programs live in build/bin, tests in build/tests; PVESTRA_BIN names the former.
    const char* bin = std::getenv("PVESTRA_BIN");
    std::string exe = bin && *bin ? std::string(bin) + "/vestra-sim"
                                  : std::filesystem::canonical("/proc/self/exe").parent_path().string() +
                                        "/../bin/vestra-sim";
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[1]);
        ::close(out[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    // The first lines name the port and the terminal.
    usb_ = std::find(extra.begin(), extra.end(), "--no-usb") == extra.end();
    serial_ = std::find(extra.begin(), extra.end(), "--no-serial") == extra.end();
    for (int i = 0; i < int(usb_) + int(serial_); ++i) {
        auto line = readLine(std::chrono::milliseconds(5000));
        if (!line) break;
        if (line->rfind("USB/IP: ", 0) == 0) {
            auto colon = line->find(':', 8);
            port_ = uint16_t(std::atoi(line->c_str() + colon + 1));
        }
        if (line->rfind("Последовательный порт", 0) == 0) serialReady_ = true;
    }
}

SimProcess::~SimProcess() {
    terminate();
    if (toChild_ >= 0) ::close(toChild_);
    if (fromChild_ >= 0) ::close(fromChild_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

bool SimProcess::running() {
    if (pid_ <= 0) return false;
    int status;
    return ::waitpid(pid_, &status, WNOHANG) == 0;
}

std::optional<std::string> SimProcess::readLine(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fromChild_, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0) return std::nullopt;
        char buf[1024];
        ssize_t n = ::read(fromChild_, buf, sizeof buf);
        if (n <= 0) return std::nullopt;
        buffer_.append(buf, size_t(n));
    }
}

std::optional<std::string> SimProcess::command(const std::string& line, std::chrono::milliseconds timeout) {
    std::string l = line + "\n";
    if (::write(toChild_, l.data(), l.size()) != ssize_t(l.size())) return std::nullopt;
    return readLine(timeout);
}

bool SimProcess::waitForStatus(const std::function<bool(const std::string&)>& wanted, std::string& last,
                               std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    do {
        last = command("status").value_or("");
        if (wanted(last)) return true;
        ::usleep(100 * 1000);
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

bool SimProcess::waitForStatus(const std::string& wanted, std::string& last, std::chrono::milliseconds timeout) {
    return waitForStatus([&](const std::string& s) { return s.find(wanted) != std::string::npos; }, last, timeout);
}

void SimProcess::closeStdin() {
    if (toChild_ >= 0) ::close(toChild_);
    toChild_ = -1;
}

int SimProcess::terminate() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        ::usleep(20000);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

} // namespace simtest
