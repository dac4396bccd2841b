#include "platform/win32/Message.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <map>
#include <mutex>

namespace win32 {
namespace {

const QEvent::Type kPostedMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

struct Window {
  QPointer<QObject> owner;
  MessageTarget* target;
};

std::mutex windowsMutex;
std::map<uintptr_t, Window> windows;
uintptr_t nextWindow = 0x10000;

// Carries one message to the owner's thread, where it is looked up again: a window
// unregistered in the meantime gets nothing.
class PostedMessage : public QEvent {
 public:
  PostedMessage(HWND w, UINT m, WPARAM wp, LPARAM lp)
      : QEvent(kPostedMessage), window(w), message(m), wParam(wp), lParam(lp) {}
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// Receives the posted events in the owner's thread.
class Courier : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != kPostedMessage) return QObject::event(e);
    auto* m = static_cast<PostedMessage*>(e);
    MessageTarget* target = nullptr;
    {
      std::lock_guard lock(windowsMutex);
      auto it = windows.find(reinterpret_cast<uintptr_t>(m->window));
      if (it != windows.end()) target = it->second.target;
    }
    if (target) target->Dispatch(m->message, m->wParam, m->lParam);
    return true;
  }
};

std::map<QObject*, Courier*> couriers;  // one per owner, living in the owner's thread

}  // namespace

HWND RegisterWindow(QObject* owner, MessageTarget* target) {
  std::lock_guard lock(windowsMutex);
  const uintptr_t h = nextWindow++;
  windows[h] = Window{owner, target};
  if (!couriers.count(owner)) {
    auto* c = new Courier;
    c->moveToThread(owner->thread());
    c->setParent(owner);
    couriers[owner] = c;
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
  QCoreApplication::postEvent(c->second, new PostedMessage(window, message, wParam, lParam));
  return TRUE;
}
