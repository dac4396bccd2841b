// User requests as IRPs. Each request is a record owned jointly by the calling thread and
// the file's list of outstanding requests; its IRP lives as long as the record, so a cancel
// can never touch a freed IRP.
//
// Closing a handle sends the cleanup at once and the close once the file's last request has
// completed, as the system does: requests still pending at the cleanup are not cancelled
// for the driver, which must complete them itself.
#include "platform/nt/IoUser.h"

#include "platform/nt/IoStandIn.h"
#include "platform/nt/KeStandIn.h"

#include "platform/win32/File.h"
#include "platform/win32/Sync.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace nt {
namespace {

std::atomic<void (*)(PDEVICE_OBJECT)> fileClosed{nullptr};
std::atomic<LONG> requestsOutstanding{0};

std::mutex& CountLock()
{
    static std::mutex* m = new std::mutex;
    return *m;
}
std::map<PDEVICE_OBJECT, LONG>& OpenCounts()  // keyed by the device the name denotes
{
    static auto* m = new std::map<PDEVICE_OBJECT, LONG>;
    return *m;
}

// One system thread for the closes that wait for a file's last request: they run at passive
// level, whatever thread completed that request.
class CloseWorker {
public:
    void Post(std::function<void()> work)
    {
        std::lock_guard guard(lock_);
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        queue_.push_back(std::move(work));
        wake_.notify_all();
    }
    // Runs what is queued and ends the thread.
    void Stop()
    {
        std::thread thread;
        {
            std::lock_guard guard(lock_);
            stop_ = true;
            wake_.notify_all();
            thread = std::move(thread_);
        }
        if (thread.joinable()) thread.join();
        std::lock_guard guard(lock_);
        stop_ = false;
    }

private:
    void Run()
    {
        KeEnterSystemThread();
        std::unique_lock lock(lock_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) return;
            auto work = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            work();
            lock.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::thread thread_;
    bool stop_ = false;
};

CloseWorker& Closer()
{
    static auto* worker = new CloseWorker;
    return *worker;
}

class DeviceFile;

class UserRequest final : public IrpOwner {
public:
    ~UserRequest()
    {
        IoFreeIrp(irp);
        --requestsOutstanding;
    }
    void IrpCompleted(PIRP irp) override;

    PIRP irp = nullptr;
    DeviceFile* file = nullptr;
    std::shared_ptr<UserRequest> self;  // the list's reference, dropped at completion
    std::thread::id thread = std::this_thread::get_id();
    std::vector<uint8_t> systemBuffer;
    void* userOut = nullptr;
    DWORD userOutSize = 0;
    OVERLAPPED* ov = nullptr;
    bool done = false;  // under the dispatcher lock
    NTSTATUS status = STATUS_PENDING;
    ULONG_PTR information = 0;
};

class DeviceFile final : public win32::FileObject, public std::enable_shared_from_this<DeviceFile> {
public:
    explicit DeviceFile(PDEVICE_OBJECT device) : device_(device)
    {
        IoReferenceDevice(device_);
        file_.DeviceObject = device_;
    }
    ~DeviceFile() override { IoDereferenceDevice(device_); }

    NTSTATUS Open()
    {
        NTSTATUS s = Send(IRP_MJ_CREATE, 0, nullptr, 0, nullptr, 0, nullptr, nullptr);
        if (NT_SUCCESS(s)) {
            std::lock_guard guard(CountLock());
            ++OpenCounts()[device_];
        }
        return s;
    }

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* returned, OVERLAPPED* ov) override
    {
        return Finish(Send(IRP_MJ_DEVICE_CONTROL, code, in, inSize, out, outSize, ov, returned),
                      ov);
    }
    BOOL Read(void* buf, DWORD n, DWORD* done, OVERLAPPED* ov) override
    {
        return Finish(Send(IRP_MJ_READ, 0, nullptr, 0, buf, n, ov, done), ov);
    }
    BOOL Write(const void* buf, DWORD n, DWORD* done, OVERLAPPED* ov) override
    {
        return Finish(Send(IRP_MJ_WRITE, 0, buf, n, nullptr, 0, ov, done), ov);
    }

    // Cancels the requests that the calling thread issued on this handle.
    BOOL CancelIo() override
    {
        CancelWhere([](const UserRequest& r) { return r.thread == std::this_thread::get_id(); });
        return TRUE;
    }

    BOOL CancelIoEx(OVERLAPPED* ov) override
    {
        CancelWhere([ov](const UserRequest& r) { return !ov || r.ov == ov; });
        return TRUE;
    }

    // The cleanup goes down at once; the close once no request of the file is left.
    void OnClose() override
    {
        Send(IRP_MJ_CLEANUP, 0, nullptr, 0, nullptr, 0, nullptr, nullptr);
        {
            std::lock_guard guard(win32::DispatcherLock());
            if (pending_ != 0) {
                closeDeferred_ = shared_from_this();  // kept until the last request completes
                return;
            }
        }
        SendClose();
    }

    void SendClose()
    {
        Send(IRP_MJ_CLOSE, 0, nullptr, 0, nullptr, 0, nullptr, nullptr);
        {
            std::lock_guard guard(CountLock());
            auto it = OpenCounts().find(device_);
            if (it != OpenCounts().end() && --it->second == 0) OpenCounts().erase(it);
        }
        if (auto callback = fileClosed.load()) callback(device_);
    }

    void Forget(UserRequest* request)
    {
        std::shared_ptr<UserRequest> last;
        {
            std::lock_guard guard(lock_);
            for (auto it = outstanding_.begin(); it != outstanding_.end(); ++it) {
                if (it->get() == request) {
                    last = std::move(*it);
                    outstanding_.erase(it);
                    break;
                }
            }
        }
        std::shared_ptr<DeviceFile> closing;
        {
            std::lock_guard guard(win32::DispatcherLock());
            if (--pending_ == 0) closing = std::move(closeDeferred_);
        }
        win32::WakeWaiters();
        if (closing) Closer().Post([closing] { closing->SendClose(); });
    }

private:
    template <class Pred>
    void CancelWhere(Pred pred)
    {
        std::vector<std::shared_ptr<UserRequest>> victims;
        {
            std::lock_guard guard(lock_);
            for (auto& r : outstanding_)
                if (pred(*r)) victims.push_back(r);
        }
        for (auto& r : victims) IoCancelIrp(r->irp);
    }

    // Builds the IRP, sends it and, for a synchronous caller, waits for it. Returns the
    // status of the dispatch (STATUS_PENDING for overlapped I/O still in flight).
    NTSTATUS Send(UCHAR major, DWORD code, const void* in, DWORD inSize, void* out,
                  DWORD outSize, OVERLAPPED* ov, DWORD* done)
    {
        // The top of the stack may be deleted by a removal on the PnP thread while this
        // request is built and dispatched: the reference keeps its memory until the call returns.
        PDEVICE_OBJECT top = IoGetAttachedDeviceReference(device_);
        auto request = std::make_shared<UserRequest>();
        ++requestsOutstanding;
        request->irp = IoAllocateIrp(top->StackSize, FALSE);
        request->irp->Owner = request.get();
        request->irp->RequestorMode = UserMode;
        request->file = this;
        request->ov = ov;
        request->userOut = out;
        request->userOutSize = outSize;
        request->systemBuffer.resize(std::max(inSize, outSize));
        if (inSize && in) std::memcpy(request->systemBuffer.data(), in, inSize);
        request->irp->AssociatedIrp.SystemBuffer =
            request->systemBuffer.empty() ? nullptr : request->systemBuffer.data();
        IO_STACK_LOCATION* next = IoGetNextIrpStackLocation(request->irp);
        next->MajorFunction = major;
        next->FileObject = &file_;
        next->Parameters.DeviceIoControl.IoControlCode = code;
        next->Parameters.DeviceIoControl.InputBufferLength = inSize;
        next->Parameters.DeviceIoControl.OutputBufferLength = outSize;
        {
            std::lock_guard guard(lock_);
            request->self = request;
            outstanding_.push_back(request);
        }
        {
            std::lock_guard guard(win32::DispatcherLock());
            ++pending_;
        }
        if (ov) win32::StartOverlapped(ov);
        NTSTATUS status = IoCallDriver(top, request->irp);
        IoDereferenceDevice(top);
        if (ov && status == STATUS_PENDING) return STATUS_PENDING;
        {
            std::unique_lock lock(win32::DispatcherLock());
            while (!request->done) win32::WaitDispatcher(lock, nullptr);
        }
        if (done) *done = static_cast<DWORD>(request->information);
        return request->status;
    }

    BOOL Finish(NTSTATUS status, OVERLAPPED* ov)
    {
        if (status == STATUS_PENDING) {
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        if (NT_SUCCESS(status)) return TRUE;
        SetLastError(win32::ErrorFromNtStatus(static_cast<uint32_t>(status)));
        return FALSE;
    }

    PDEVICE_OBJECT device_;
    FILE_OBJECT file_{};
    std::mutex lock_;  // guards outstanding_
    std::list<std::shared_ptr<UserRequest>> outstanding_;
    LONG pending_ = 0;  // under the dispatcher lock
    std::shared_ptr<DeviceFile> closeDeferred_;  // under the dispatcher lock
};

void UserRequest::IrpCompleted(PIRP completed)
{
    status = completed->IoStatus.Status;
    information = NT_SUCCESS(status) ? completed->IoStatus.Information : 0;
    if (information > userOutSize && userOut) information = userOutSize;
    if (userOut && information) std::memcpy(userOut, systemBuffer.data(), information);
    if (ov) win32::CompleteOverlapped(ov, static_cast<uint32_t>(status), information);
    {
        std::lock_guard guard(win32::DispatcherLock());
        done = true;
    }
    win32::WakeWaiters();
    std::shared_ptr<UserRequest> keep = std::move(self);  // may be the last reference
    file->Forget(this);
}

HANDLE OpenDevice(const std::string& name, DWORD, DWORD, DWORD, DWORD)
{
    static const std::string prefix = "\\\\.\\";
    // Referenced at the lookup: a removal on the PnP thread may delete the device meanwhile.
    PDEVICE_OBJECT device = IoReferenceDeviceByName("\\??\\" + name.substr(prefix.size()));
    if (!device || IoStackRefusesOpens(device)) {
        if (device) IoDereferenceDevice(device);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<DeviceFile>(device);  // holds a reference of its own
    IoDereferenceDevice(device);
    NTSTATUS status = file->Open();
    if (!NT_SUCCESS(status)) {
        SetLastError(win32::ErrorFromNtStatus(static_cast<uint32_t>(status)));
        return INVALID_HANDLE_VALUE;
    }
    return win32::InsertHandle(file);
}

} // namespace

void IoRegisterUserNamespace() { win32::RegisterFileNamespace("\\\\.\\", OpenDevice); }
void IoUnregisterUserNamespace()
{
    win32::UnregisterFileNamespace("\\\\.\\");
    Closer().Stop();
}

void IoSetFileClosedCallback(void (*callback)(PDEVICE_OBJECT)) { fileClosed = callback; }

LONG IoOpenFileCount(PDEVICE_OBJECT device)
{
    std::lock_guard guard(CountLock());
    auto it = OpenCounts().find(device);
    return it == OpenCounts().end() ? 0 : it->second;
}

LONG IoUserRequestsOutstanding() { return requestsOutstanding.load(); }

} // namespace nt
