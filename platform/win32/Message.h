// Window messages across threads: PostMessage queues a message for a window, and the
// window's Dispatch receives it later in the thread that owns the window (the GUI thread).
#pragma once

#include <QObject>

#include "platform/win32/WinTypes.h"

namespace win32 {

// A window that receives posted messages. Register it to get its handle.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual void Dispatch(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// Gives `target` a window handle; `owner` is the QObject whose thread delivers messages.
// The handle stays valid until UnregisterWindow; messages posted after that are dropped.
HWND RegisterWindow(QObject* owner, MessageTarget* target);
void UnregisterWindow(HWND window);

}  // namespace win32

// Queues the message and returns at once; safe from any thread. FALSE for an unknown window.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
