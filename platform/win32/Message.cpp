#include "platform/win32/Message.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <deque>
#include <map>
#include <mutex>

namespace win32 {
namespace {

struct Message {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Carries posted messages to the thread of one owner: posters queue them under a mutex and
// wake the owner's thread through an eventfd that its event loop watches. (A posted Qt event
// would carry them as well, but its hand-over between threads is invisible to the thread
// sanitizer when Qt itself is not instrumented.)
class Courier : public QObject {
 public:
  explicit Courier(QObject* owner) : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    moveToThread(owner->thread());
    setParent(owner);
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Deliver(); });
  }
  ~Courier() override { ::close(fd_); }

  void Post(const Message& m) {
    {
      std::lock_guard lock(queueMutex_);
      queue_.push_back(m);
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
  }

 private:
  void Deliver();

  int fd_;
  QSocketNotifier* notifier_ = nullptr;
  std::mutex queueMutex_;
  std::deque<Message> queue_;
};

struct Window {
  QPointer<QObject> owner;
  MessageTarget* target;
};

std::mutex windowsMutex;
std::map<uintptr_t, Window> windows;
std::map<QObject*, Courier*> couriers;  // one per owner, living in the owner's thread
uintptr_t nextWindow = 0x10000;

void Courier::Deliver() {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
  std::deque<Message> batch;
  {
    std::lock_guard lock(queueMutex_);
    batch.swap(queue_);
  }
  for (const Message& m : batch) {
    // Looked up again: a window unregistered in the meantime gets nothing.
    MessageTarget* target = nullptr;
    {
      std::lock_guard lock(windowsMutex);
      auto it = windows.find(reinterpret_cast<uintptr_t>(m.window));
      if (it != windows.end()) target = it->second.target;
    }
    if (target) target->Dispatch(m.message, m.wParam, m.lParam);
  }
}

}  // namespace

HWND RegisterWindow(QObject* owner, MessageTarget* target) {
  std::lock_guard lock(windowsMutex);
  const uintptr_t h = nextWindow++;
  windows[h] = Window{owner, target};
  if (!couriers.count(owner)) {
    couriers[owner] = new Courier(owner);
    QObject::connect(owner, &QObject::destroyed, [owner] {
      std::lock_guard l(windowsMutex);
      couriers.erase(owner);
    });
  }
  return reinterpret_cast<HWND>(h);
}

void UnregisterWindow(HWND window) {
  std::lock_guard lock(windowsMutex);
  windows.erase(reinterpret_cast<uintptr_t>(window));
}

}  // namespace win32

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace win32;
  std::lock_guard lock(windowsMutex);
  auto it = windows.find(reinterpret_cast<uintptr_t>(window));
  if (it == windows.end() || !it->second.owner) return FALSE;
  auto c = couriers.find(it->second.owner.data());
  if (c == couriers.end()) return FALSE;
  c->second->Post({window, message, wParam, lParam});
  return TRUE;
}
