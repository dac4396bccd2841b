// The PnP thread: one queue of tasks, each a plug-and-play or power step for a device node.
#include "platform/nt/PnpManager.h"

#include "platform/nt/IoUser.h"
#include "platform/nt/IoStandIn.h"
#include "platform/nt/KeStandIn.h"
#include "platform/nt/Power.h"
#include "platform/nt/SyncIrp.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace nt {
namespace {

using DriverEntryFn = NTSTATUS (*)(PDRIVER_OBJECT, PUNICODE_STRING);

// ThreadSanitizer's runtime reads the list of loaded modules anew at every dlopen and dlclose
// and never frees it: about 17 KB of resident memory each time. A receiver plugged and unplugged
// a thousand times would show that as a leak of ours and hide a real one, so in that build the
// image is mapped once and stays; DriverEntry and DriverUnload still run at every load and
// unload, and the driver object is created and deleted each time.
#if defined(__SANITIZE_THREAD__)
constexpr bool kImageStaysMapped = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kImageStaysMapped = true;
#else
constexpr bool kImageStaysMapped = false;
#endif
#else
constexpr bool kImageStaysMapped = false;
#endif

struct DevNode {
    PDEVICE_OBJECT pdo = nullptr;
    PDEVICE_OBJECT fdo = nullptr;  // the function driver's device, null when adding failed
    std::function<void()> released;
    bool started = false;
    bool gone = false;             // surprise-removed, waiting for the last close
};

struct Manager {
    std::mutex lock;  // guards the queue and the flags below
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    bool running = false;
    bool quit = false;
    size_t busy = 0;  // tasks taken and not finished
    std::thread thread;
    std::atomic<std::thread::id> threadId{};

    // Owned by the PnP thread.
    PnpDriverImage image;
    std::map<PDEVICE_OBJECT, DevNode> nodes;
    void* library = nullptr;
    std::string libraryPath;  // the image `library` maps
    PDRIVER_OBJECT driver = nullptr;
    int loads = 0;
};

Manager& M()
{
    static Manager* m = new Manager;
    return *m;
}

void Loop()
{
    KeEnterSystemThread();
    Manager& m = M();
    std::unique_lock lock(m.lock);
    for (;;) {
        m.wake.wait(lock, [&] { return m.quit || !m.tasks.empty(); });
        if (m.tasks.empty()) return;
        auto task = std::move(m.tasks.front());
        m.tasks.pop_front();
        ++m.busy;
        lock.unlock();
        task();
        lock.lock();
        --m.busy;
        m.wake.notify_all();
    }
}

NTSTATUS SendPnp(PDEVICE_OBJECT pdo, UCHAR minor,
                 const std::function<void(IO_STACK_LOCATION&)>& more = {})
{
    return SendIrpAndWait(IoGetAttachedDevice(pdo), STATUS_NOT_SUPPORTED,
                          [&](IO_STACK_LOCATION& l) {
                              l.MajorFunction = IRP_MJ_PNP;
                              l.MinorFunction = minor;
                              if (more) more(l);
                          });
}

void* MapImage()
{
    Manager& m = M();
    if (m.library && m.libraryPath == m.image.path) return m.library;
    if (m.library) dlclose(m.library);
    m.library = dlopen(m.image.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    m.libraryPath = m.library ? m.image.path : std::string();
    if (!m.library)
        std::fprintf(stderr, "PnP manager: cannot load %s: %s\n", m.image.path.c_str(), dlerror());
    return m.library;
}

void UnmapImage()
{
    Manager& m = M();
    if (kImageStaysMapped || !m.library) return;
    dlclose(m.library);
    m.library = nullptr;
    m.libraryPath.clear();
}

bool LoadDriver()
{
    Manager& m = M();
    if (m.driver) return true;
    if (!MapImage()) return false;
    auto entry = reinterpret_cast<DriverEntryFn>(dlsym(m.library, "DriverEntry"));
    PDRIVER_OBJECT driver = IoCreateDriverObject("\\Driver\\USBKRNb");
    std::wstring serviceKey(m.image.serviceKey.begin(), m.image.serviceKey.end());
    UNICODE_STRING registryPath;
    RtlInitUnicodeString(&registryPath, serviceKey.c_str());
    NTSTATUS status = entry ? entry(driver, &registryPath) : STATUS_UNSUCCESSFUL;
    if (!NT_SUCCESS(status)) {
        IoDeleteDriverObject(driver);
        UnmapImage();
        return false;
    }
    m.driver = driver;
    ++m.loads;
    return true;
}

void UnloadDriverIfIdle()
{
    Manager& m = M();
    if (!m.driver || m.driver->DeviceObject) return;
    if (m.driver->DriverUnload) m.driver->DriverUnload(m.driver);
    IoDeleteDriverObject(m.driver);
    m.driver = nullptr;
    UnmapImage();
}

void OnDriverIdle(PDRIVER_OBJECT driver)
{
    PnpPost([driver] {
        if (M().driver == driver) UnloadDriverIfIdle();
    });
}

void Arrive(PDEVICE_OBJECT pdo, std::function<void()> released)
{
    Manager& m = M();
    DevNode& node = m.nodes[pdo];
    node.pdo = pdo;
    node.released = std::move(released);
    // Like the system, refuse opens until the first start has been tried: a device that is
    // opened between add-device and start would hold its first requests for no reason.
    std::atomic_ref<BOOLEAN> startPending(pdo->StartPending);
    startPending.store(TRUE);
    struct Clear {
        std::atomic_ref<BOOLEAN>& flag;
        ~Clear() { flag.store(FALSE); }
    } clear{startPending};
    if (!LoadDriver() || !m.driver->DriverExtension->AddDevice) return;
    if (!NT_SUCCESS(m.driver->DriverExtension->AddDevice(m.driver, pdo))) {
        UnloadDriverIfIdle();
        return;
    }
    PDEVICE_OBJECT top = IoGetAttachedDevice(pdo);
    if (top == pdo) return;
    std::atomic_ref<ULONG>(top->Flags).fetch_and(~DO_DEVICE_INITIALIZING);  // opens may now reach it
    node.fdo = top;
    node.started = NT_SUCCESS(SendPnp(pdo, IRP_MN_START_DEVICE));
    if (node.started) {
        DEVICE_CAPABILITIES caps{};
        caps.Size = sizeof caps;
        caps.Version = 1;
        SendPnp(pdo, IRP_MN_QUERY_CAPABILITIES,
                [&](IO_STACK_LOCATION& l) { l.Parameters.DeviceCapabilities.Capabilities = &caps; });
    }
}

void Release(std::map<PDEVICE_OBJECT, DevNode>::iterator it)
{
    auto released = std::move(it->second.released);
    M().nodes.erase(it);
    if (released) released();
}

// Sends the removal and lets the bus driver have its PDO back.
void RemoveNode(std::map<PDEVICE_OBJECT, DevNode>::iterator it)
{
    SendPnp(it->second.pdo, IRP_MN_REMOVE_DEVICE);
    Release(it);
}

void RemoveIfClosed(PDEVICE_OBJECT pdo)
{
    Manager& m = M();
    auto it = m.nodes.find(pdo);
    if (it == m.nodes.end() || !it->second.gone) return;
    if (it->second.fdo && IoOpenFileCount(it->second.fdo) > 0) return;
    RemoveNode(it);
}

void Gone(PDEVICE_OBJECT pdo)
{
    Manager& m = M();
    auto it = m.nodes.find(pdo);
    if (it == m.nodes.end() || it->second.gone) return;
    it->second.gone = true;
    SendPnp(pdo, IRP_MN_SURPRISE_REMOVAL);
    it->second.started = false;
    RemoveIfClosed(pdo);
}

void OnFileClosed(PDEVICE_OBJECT device)
{
    PnpPost([device] {
        for (auto& [pdo, node] : M().nodes) {
            if (node.fdo == device) {
                RemoveIfClosed(pdo);
                return;
            }
        }
    });
}

template <class F>
NTSTATUS RunForStatus(F f)
{
    NTSTATUS status = STATUS_NO_SUCH_DEVICE;
    PnpRun([&] { status = f(); });
    return status;
}

bool Known(PDEVICE_OBJECT pdo)
{
    auto it = M().nodes.find(pdo);
    return it != M().nodes.end() && it->second.fdo && !it->second.gone;
}

} // namespace

void PnpStart(const PnpDriverImage& image)
{
    Manager& m = M();
    std::lock_guard guard(m.lock);
    if (m.running) return;
    m.image = image;
    m.quit = false;
    m.running = true;
    IoSetDriverIdleCallback(OnDriverIdle);
    IoSetFileClosedCallback(OnFileClosed);
    m.thread = std::thread(Loop);
    m.threadId = m.thread.get_id();
}

void PnpStop(unsigned closeWaitMs)
{
    Manager& m = M();
    if (!PnpRunning()) return;
    PnpRun([] {
        std::vector<PDEVICE_OBJECT> pdos;
        for (auto& [pdo, node] : M().nodes) pdos.push_back(pdo);
        for (auto pdo : pdos) Gone(pdo);
    });
    // Let the last handles close (their close tasks run on the PnP thread).
    for (unsigned waited = 0; waited < closeWaitMs; waited += 10) {
        PnpFlush();
        size_t left = 0;
        PnpRun([&] { left = M().nodes.size(); });
        if (left == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    PnpRun([] {
        while (!M().nodes.empty()) RemoveNode(M().nodes.begin());  // handles left open
    });
    PnpFlush();
    PnpRun(UnloadDriverIfIdle);
    {
        std::lock_guard guard(m.lock);
        m.quit = true;
        m.wake.notify_all();
    }
    m.thread.join();
    std::lock_guard guard(m.lock);
    m.running = false;
    m.threadId = std::thread::id();
}

bool PnpRunning()
{
    std::lock_guard guard(M().lock);
    return M().running;
}

bool PnpPost(std::function<void()> task)
{
    Manager& m = M();
    std::lock_guard guard(m.lock);
    if (!m.running || m.quit) return false;
    m.tasks.push_back(std::move(task));
    m.wake.notify_all();
    return true;
}

bool OnPnpThread() { return std::this_thread::get_id() == M().threadId; }

void PnpRun(std::function<void()> task)
{
    if (OnPnpThread()) {
        task();
        return;
    }
    std::mutex doneLock;
    std::condition_variable doneWake;
    bool done = false;
    Manager& m = M();
    {
        std::lock_guard guard(m.lock);
        if (!m.running || m.quit) return;
        m.tasks.push_back([&] {
            task();
            std::lock_guard g(doneLock);
            done = true;
            doneWake.notify_all();
        });
        m.wake.notify_all();
    }
    std::unique_lock lock(doneLock);
    doneWake.wait(lock, [&] { return done; });
}

void PnpFlush()
{
    if (OnPnpThread()) return;
    Manager& m = M();
    std::unique_lock lock(m.lock);
    m.wake.wait(lock, [&] { return !m.running || (m.tasks.empty() && m.busy == 0); });
}

void PnpDeviceArrived(PDEVICE_OBJECT pdo, std::function<void()> released)
{
    PnpPost([pdo, released = std::move(released)]() mutable { Arrive(pdo, std::move(released)); });
}

bool PnpDeviceGone(PDEVICE_OBJECT pdo)
{
    return PnpPost([pdo] { Gone(pdo); });
}

NTSTATUS PnpStopDevice(PDEVICE_OBJECT pdo)
{
    return RunForStatus([pdo] {
        if (!Known(pdo)) return STATUS_NO_SUCH_DEVICE;
        NTSTATUS s = SendPnp(pdo, IRP_MN_QUERY_STOP_DEVICE);
        if (!NT_SUCCESS(s)) {
            SendPnp(pdo, IRP_MN_CANCEL_STOP_DEVICE);
            return s;
        }
        M().nodes[pdo].started = false;
        return SendPnp(pdo, IRP_MN_STOP_DEVICE);
    });
}

NTSTATUS PnpRestartDevice(PDEVICE_OBJECT pdo)
{
    return RunForStatus([pdo] {
        if (!Known(pdo)) return STATUS_NO_SUCH_DEVICE;
        NTSTATUS s = SendPnp(pdo, IRP_MN_START_DEVICE);
        M().nodes[pdo].started = NT_SUCCESS(s);
        return s;
    });
}

NTSTATUS PnpDisableDevice(PDEVICE_OBJECT pdo)
{
    return RunForStatus([pdo] {
        if (!Known(pdo)) return STATUS_NO_SUCH_DEVICE;
        NTSTATUS s = SendPnp(pdo, IRP_MN_QUERY_REMOVE_DEVICE);
        if (!NT_SUCCESS(s)) {
            SendPnp(pdo, IRP_MN_CANCEL_REMOVE_DEVICE);
            return s;
        }
        // A disabled device keeps its PDO with the bus; a later arrival report adds it again.
        auto it = M().nodes.find(pdo);
        SendPnp(pdo, IRP_MN_REMOVE_DEVICE);
        it->second.fdo = nullptr;
        it->second.started = false;
        it->second.gone = true;
        return STATUS_SUCCESS;
    });
}

NTSTATUS PnpSendMinor(PDEVICE_OBJECT pdo, UCHAR minor)
{
    return RunForStatus([pdo, minor] {
        if (!Known(pdo)) return STATUS_NO_SUCH_DEVICE;
        return SendPnp(pdo, minor);
    });
}

static NTSTATUS SendSetPower(PDEVICE_OBJECT pdo, POWER_STATE_TYPE type, POWER_STATE state)
{
    return RunForStatus([=] {
        if (!Known(pdo)) return STATUS_NO_SUCH_DEVICE;
        return SendIrpAndWait(IoGetAttachedDevice(pdo), STATUS_NOT_SUPPORTED,
                              [&](IO_STACK_LOCATION& l) {
                                  l.MajorFunction = IRP_MJ_POWER;
                                  l.MinorFunction = IRP_MN_SET_POWER;
                                  l.Parameters.Power.Type = type;
                                  l.Parameters.Power.State = state;
                              });
    });
}

NTSTATUS PnpSetDevicePower(PDEVICE_OBJECT pdo, DEVICE_POWER_STATE state)
{
    POWER_STATE s;
    s.DeviceState = state;
    return SendSetPower(pdo, DevicePowerState, s);
}

NTSTATUS PnpSetSystemPower(PDEVICE_OBJECT pdo, SYSTEM_POWER_STATE state)
{
    POWER_STATE s;
    s.SystemState = state;
    return SendSetPower(pdo, SystemPowerState, s);
}

bool PnpDriverLoaded()
{
    bool loaded = false;
    PnpRun([&] { loaded = M().driver != nullptr; });
    return loaded;
}

int PnpDriverLoadCount()
{
    int n = 0;
    PnpRun([&] { n = M().loads; });
    return n;
}

PDEVICE_OBJECT PnpFunctionDevice(PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT fdo = nullptr;
    PnpRun([&] {
        auto it = M().nodes.find(pdo);
        if (it != M().nodes.end()) fdo = it->second.fdo;
    });
    return fdo;
}

size_t PnpDeviceCount()
{
    size_t n = 0;
    PnpRun([&] { n = M().nodes.size(); });
    return n;
}

} // namespace nt
