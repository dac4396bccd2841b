#include "app/UsbBus.h"

#include <cstdio>

#include "app/panel/Umain.h"
#include "platform/nt/KernelStandIn.h"
#include "platform/win32/IniFile.h"

KernelSession::KernelSession() {
  const win32::IniFile& ini = ProgramIni();
  nt::UsbBusConfig config;
  const QString server = ini.ReadString("Usb", "Server").trimmed();
  const QString device = ini.ReadString("Usb", "Device").trimmed();
  if (!server.isEmpty()) config.server = server.toStdString();
  if (!device.isEmpty() && !nt::ParseUsbDeviceIds(device.toStdString(), &config.vendorId, &config.productId))
    std::fprintf(stderr, "PVestra: [Usb] Device=%s — не VVVV:PPPP, взято %04x:%04x\n", qPrintable(device),
                 config.vendorId, config.productId);
  config.busId = ini.ReadString("Usb", "BusId").trimmed().toStdString();
  if (!nt::StartKernelStandIn(config)) {
    std::fprintf(stderr, "PVestra: [Usb] Server=%s — неверный адрес, взят %s\n", config.server.c_str(),
                 nt::UsbBusConfig{}.server.c_str());
    config.server = nt::UsbBusConfig{}.server;
    nt::StartKernelStandIn(config);
  }
}

KernelSession::~KernelSession() { nt::StopKernelStandIn(); }
