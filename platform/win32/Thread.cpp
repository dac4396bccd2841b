// Threads whose handles are signalled when they end.
#include "platform/win32/Thread.h"

#include <future>
#include <thread>
#include <unistd.h>
#include <sys/syscall.h>

namespace win32 {
namespace {

class ThreadObject : public WaitableObject {
public:
    const char* TypeName() const override { return "Thread"; }
    bool IsSignaledLocked() const override { return ended; }

    bool ended = false;          // under the dispatcher lock
    DWORD exitCode = STILL_ACTIVE;  // under the dispatcher lock
};

} // namespace
} // namespace win32

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, void* arg, DWORD,
                    DWORD* threadId)
{
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<win32::ThreadObject>();
    // The new thread reports its id through a shared state, never through this frame,
    // which may be gone by the time the thread runs on.
    auto id = std::make_shared<std::promise<DWORD>>();
    std::future<DWORD> idKnown = id->get_future();
    std::thread([object, start, arg, id] {
        id->set_value(GetCurrentThreadId());
        DWORD code = start(arg);
        {
            std::lock_guard guard(win32::DispatcherLock());
            object->exitCode = code;
            object->ended = true;
        }
        win32::WakeWaiters();
    }).detach();
    if (threadId) *threadId = idKnown.get();
    return win32::InsertHandle(object);
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode)
{
    auto t = win32::ReferenceHandleAs<win32::ThreadObject>(thread);
    if (!t || !exitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard guard(win32::DispatcherLock());
    *exitCode = t->exitCode;
    return TRUE;
}

DWORD GetCurrentThreadId()
{
    return static_cast<DWORD>(::syscall(SYS_gettid));
}
