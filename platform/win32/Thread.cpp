// Threads whose handles are signalled when they end.
#include "platform/win32/Thread.h"

#include <atomic>
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
    std::atomic<DWORD> id{0};
    std::atomic<bool> started{false};
    std::thread([object, start, arg, &id, &started] {
        id = GetCurrentThreadId();
        started.store(true, std::memory_order_release);
        started.notify_one();
        DWORD code = start(arg);
        {
            std::lock_guard guard(win32::DispatcherLock());
            object->exitCode = code;
            object->ended = true;
        }
        win32::WakeWaiters();
    }).detach();
    started.wait(false, std::memory_order_acquire);
    if (threadId) *threadId = id;
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
