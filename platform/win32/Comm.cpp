#include "platform/win32/Comm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>

#include "platform/win32/File.h"

namespace win32 {
namespace {

std::mutex pathsMutex;
std::map<int, std::string> paths{{1, "/dev/ttyS0"}};

struct BaudPair {
  DWORD baud;
  speed_t speed;
};
constexpr BaudPair kBauds[] = {{110, B110},       {300, B300},       {600, B600},
                               {1200, B1200},     {2400, B2400},     {4800, B4800},
                               {9600, B9600},     {19200, B19200},   {38400, B38400},
                               {57600, B57600},   {115200, B115200}, {230400, B230400}};

DWORD BaudOf(speed_t s) {
  for (auto b : kBauds)
    if (b.speed == s) return b.baud;
  return 0;
}

bool SpeedOf(DWORD baud, speed_t* out) {
  for (auto b : kBauds)
    if (b.baud == baud) {
      *out = b.speed;
      return true;
    }
  return false;
}

// The raw line of a Windows port: bytes pass through untouched.
void MakeBinary(termios& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IUCLC);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

class SerialPort : public FileObject {
 public:
  SerialPort(int fd, const termios& original) : fd_(fd), original_(original) {}
  ~SerialPort() override { Restore(); }
  const char* TypeName() const override { return "SerialPort"; }

  int Fd() const { return fd_; }

  BOOL Read(void* buf, DWORD n, DWORD* done, OVERLAPPED*) override {
    DWORD got = 0;
    while (got < n) {
      const ssize_t r = ::read(fd_, static_cast<char*>(buf) + got, n - got);
      if (r > 0) {
        got += DWORD(r);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      break;  // nothing more waiting, or the line is gone
    }
    if (done) *done = got;
    return TRUE;
  }

  BOOL Write(const void* buf, DWORD n, DWORD* done, OVERLAPPED*) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    DWORD sent = 0;
    while (sent < n) {
      const ssize_t w = ::write(fd_, static_cast<const char*>(buf) + sent, n - sent);
      if (w > 0) {
        sent += DWORD(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno != EAGAIN) break;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, int(left.count()));
    }
    if (done) *done = sent;
    if (sent < n) {
      SetLastError(ERROR_SEM_TIMEOUT);
      return FALSE;
    }
    return TRUE;
  }

  void OnClose() override { Restore(); }

 private:
  void Restore() {
    if (fd_ < 0) return;
    ::tcsetattr(fd_, TCSANOW, &original_);
    ::ioctl(fd_, TIOCNXCL);  // the next program may open the line; the lock goes with the close
    ::close(fd_);
    fd_ = -1;
  }

  int fd_;
  termios original_;
};

// Opening without sharing: an advisory lock that other serial programs honour, and the
// terminal's exclusive mode, which refuses further opens (except by root). A line that
// another program holds either way is refused with ERROR_SHARING_VIOLATION.
bool TakeExclusively(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  ::ioctl(fd, TIOCEXCL);
  return true;
}

HANDLE OpenCommPort(const std::string& name, DWORD share) {
  // "COM" followed by a number; "\\.\COMn" is not needed by the program.
  int number = 0;
  const std::string digits = name.substr(3);
  const bool ok = !digits.empty() && digits.size() <= 3 &&
                  digits.find_first_not_of("0123456789") == std::string::npos;
  if (ok) number = std::stoi(digits);
  if (!ok) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = CommPortPath(number);
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : errno == EBUSY ? ERROR_SHARING_VIOLATION : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  termios original{};
  if (::tcgetattr(fd, &original) != 0) {  // not a terminal
    ::close(fd);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (share == 0 && !TakeExclusively(fd)) {
    ::close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  termios raw = original;
  MakeBinary(raw);
  ::tcsetattr(fd, TCSANOW, &raw);
  return InsertHandle(std::make_shared<SerialPort>(fd, original));
}

std::shared_ptr<SerialPort> Port(HANDLE h) {
  auto p = ReferenceHandleAs<SerialPort>(h);
  if (!p || p->Fd() < 0) SetLastError(ERROR_INVALID_HANDLE);
  return p && p->Fd() >= 0 ? p : nullptr;
}

}  // namespace

void SetCommPortPath(int number, const std::string& devicePath) {
  std::lock_guard lock(pathsMutex);
  paths[number] = devicePath;
}

std::string CommPortPath(int number) {
  std::lock_guard lock(pathsMutex);
  auto it = paths.find(number);
  return it == paths.end() ? std::string() : it->second;
}

void RegisterCommPorts() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFileNamespace("COM", [](const std::string& name, DWORD, DWORD share, DWORD, DWORD) {
      return OpenCommPort(name, share);
    });
  });
}

}  // namespace win32

using win32::Port;

BOOL GetCommState(HANDLE h, DCB* dcb) {
  auto port = Port(h);
  if (!port || !dcb) return FALSE;
  termios t{};
  if (::tcgetattr(port->Fd(), &t) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  *dcb = DCB{};
  dcb->native = t;
  dcb->BaudRate = win32::BaudOf(cfgetospeed(&t));
  dcb->fBinary = 1;
  dcb->fParity = (t.c_iflag & INPCK) ? 1 : 0;
  dcb->fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
  dcb->fOutX = (t.c_iflag & IXON) ? 1 : 0;
  dcb->fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  switch (t.c_cflag & CSIZE) {
    case CS5: dcb->ByteSize = 5; break;
    case CS6: dcb->ByteSize = 6; break;
    case CS7: dcb->ByteSize = 7; break;
    default: dcb->ByteSize = 8; break;
  }
  if (!(t.c_cflag & PARENB)) dcb->Parity = NOPARITY;
  else if (t.c_cflag & CMSPAR) dcb->Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else dcb->Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  dcb->StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  int lines = 0;
  if (::ioctl(port->Fd(), TIOCMGET, &lines) == 0)
    dcb->fRtsControl = dcb->fOutxCtsFlow ? RTS_CONTROL_HANDSHAKE
                                         : (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  dcb->XonChar = char(t.c_cc[VSTART]);
  dcb->XoffChar = char(t.c_cc[VSTOP]);
  return TRUE;
}

BOOL SetCommState(HANDLE h, const DCB* dcb) {
  auto port = Port(h);
  if (!port || !dcb) return FALSE;
  termios t = dcb->native;
  speed_t speed;
  if (!win32::SpeedOf(dcb->BaudRate, &speed)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= dcb->ByteSize == 5 ? CS5 : dcb->ByteSize == 6 ? CS6 : dcb->ByteSize == 7 ? CS7 : CS8;
  switch (dcb->Parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (dcb->StopBits == TWOSTOPBITS) t.c_cflag |= CSTOPB;
  if (dcb->fRtsControl == RTS_CONTROL_HANDSHAKE || dcb->fOutxCtsFlow) t.c_cflag |= CRTSCTS;
  t.c_iflag = dcb->fParity ? (t.c_iflag | INPCK) : (t.c_iflag & ~INPCK);
  t.c_iflag = dcb->fOutX ? (t.c_iflag | IXON) : (t.c_iflag & ~IXON);
  t.c_iflag = dcb->fInX ? (t.c_iflag | IXOFF) : (t.c_iflag & ~IXOFF);
  t.c_cc[VSTART] = cc_t(dcb->XonChar);
  t.c_cc[VSTOP] = cc_t(dcb->XoffChar);
  win32::MakeBinary(t);
  if (::tcsetattr(port->Fd(), TCSANOW, &t) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  // The RTS line itself (pseudo-terminals have none; that is not an error).
  if (dcb->fRtsControl != RTS_CONTROL_HANDSHAKE) {
    int rts = TIOCM_RTS;
    ::ioctl(port->Fd(), dcb->fRtsControl == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC, &rts);
  }
  return TRUE;
}

BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* stat) {
  auto port = Port(h);
  if (!port) return FALSE;
  // termios reports line errors inside the data stream (or drops the bytes); there is no
  // separate error state to clear, so none is reported.
  if (errors) *errors = 0;
  int waiting = 0;
  if (::ioctl(port->Fd(), FIONREAD, &waiting) != 0) waiting = 0;
  int unsent = 0;
  if (::ioctl(port->Fd(), TIOCOUTQ, &unsent) != 0) unsent = 0;
  if (stat) {
    stat->cbInQue = DWORD(waiting);
    stat->cbOutQue = DWORD(unsent);
  }
  return TRUE;
}
