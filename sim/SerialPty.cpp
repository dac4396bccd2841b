#include "sim/SerialPty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

SerialPty::~SerialPty() {
    if (!link_.empty()) {
        char target[4096];
        ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
        // Remove the link only if it still points at our terminal (another instance may own it).
        if (n > 0 && std::string(target, size_t(n)) == slave_) ::unlink(link_.c_str());
    }
    if (master_ >= 0) ::close(master_);
}

std::string SerialPty::defaultLinkPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/vestra/ttyVESTRA";
    return "/tmp/vestra-" + std::to_string(::getuid()) + "/ttyVESTRA";
}

namespace {

void makeParentDirectory(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    std::string dir = path.substr(0, slash);
    makeParentDirectory(dir);
    ::mkdir(dir.c_str(), 0700);
}

} // namespace

bool SerialPty::open(const std::string& linkPath, std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("не удалось создать псевдотерминал: ") + std::strerror(errno);
        return false;
    }
    slave_ = ::ptsname(master_);

    // Put the line into raw 19200 8N1 before the PC opens it, so nothing is echoed back to
    // us and no line editing touches the frames. Closing this descriptor again leaves the
    // master seeing a hang-up until the PC opens the port.
    int slave = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = "не удалось открыть " + slave_ + ": " + std::strerror(errno);
        return false;
    }
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B19200);
    ::cfsetospeed(&t, B19200);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8 | CLOCAL | CREAD;
    ::tcsetattr(slave, TCSANOW, &t);
    ::close(slave);

    makeParentDirectory(linkPath);
    std::string temp = linkPath + ".new";
    ::unlink(temp.c_str());
    if (::symlink(slave_.c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), linkPath.c_str()) != 0) {
        error = "не удалось создать ссылку " + linkPath + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    link_ = linkPath;
    return true;
}

bool SerialPty::peerOpen() const {
    if (master_ < 0) return false;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    return !(p.revents & POLLHUP);
}

bool SerialPty::readAvailable(std::vector<uint8_t>& bytes) {
    uint8_t buf[1024];
    for (;;) {
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            bytes.insert(bytes.end(), buf, buf + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        return false; // EIO: the last holder of the slave closed it
    }
}

void SerialPty::write(const std::vector<uint8_t>& bytes) {
    if (master_ < 0) return;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return;
    }
}

} // namespace sim
