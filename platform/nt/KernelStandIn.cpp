#include "platform/nt/KernelStandIn.h"

#include "platform/nt/IoUser.h"
#include "platform/nt/PnpManager.h"
#include "platform/nt/RegistryStandIn.h"
#include "platform/nt/UsbIpBus.h"

#include <cctype>
#include <cstdio>
#include <dlfcn.h>
#include <memory>
#include <mutex>

namespace nt {
namespace {

std::mutex& StartLock()
{
    static std::mutex* m = new std::mutex;
    return *m;
}
std::unique_ptr<UsbIpBus>& Bus()
{
    static auto* bus = new std::unique_ptr<UsbIpBus>;
    return *bus;
}

bool StartManagers(const std::string& driverPath)
{
    if (PnpRunning()) return false;
    RegistryInstallDefaults();
    IoRegisterUserNamespace();
    std::string path = driverPath.empty() ? KernelLibraryFolder() + "/libUSBKRNb.so" : driverPath;
    PnpStart({path, "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\USBKRNb"});
    return true;
}

} // namespace

bool ParseUsbDeviceIds(const std::string& text, uint16_t* vendorId, uint16_t* productId)
{
    unsigned v = 0, p = 0;
    char tail = 0;
    if (text.size() != 9 || text[4] != ':') return false;
    for (size_t i = 0; i < 9; ++i)
        if (i != 4 && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    if (std::sscanf(text.c_str(), "%4x:%4x%c", &v, &p, &tail) != 2) return false;
    *vendorId = static_cast<uint16_t>(v);
    *productId = static_cast<uint16_t>(p);
    return true;
}

std::string KernelLibraryFolder()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&KernelLibraryFolder), &info) || !info.dli_fname) return ".";
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool StartKernelWithoutBus(const std::string& driverPath)
{
    std::lock_guard guard(StartLock());
    return StartManagers(driverPath);
}

bool StartKernelStandIn(const UsbBusConfig& config, const std::string& driverPath)
{
    std::lock_guard guard(StartLock());
    auto bus = std::make_unique<UsbIpBus>();
    if (!bus->Configure(config)) return false;
    if (!StartManagers(driverPath)) return false;
    bus->Start();
    Bus() = std::move(bus);
    return true;
}

void StopKernelStandIn()
{
    std::lock_guard guard(StartLock());
    if (Bus()) {
        Bus()->Stop();
    }
    PnpStop();
    Bus().reset();
    IoUnregisterUserNamespace();
}

} // namespace nt
