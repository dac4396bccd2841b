#include "sim/UsbDescriptors.h"

#include "platform/usbip/VestraIds.h"

#include <algorithm>
#include <string>

namespace sim {

using namespace usbip;

namespace {

constexpr uint16_t kBcdDevice = 0x0100;
constexpr uint8_t kVendorClass = 0xFF;
constexpr uint8_t kAttrBulk = 2;
constexpr uint8_t kAttrInterrupt = 3;
constexpr uint8_t kMaxPacket = 64;

const char16_t* const kStrings[] = {
    nullptr,                      // 0: language list
    u"VESTRA",                    // 1: manufacturer
    u"VESTRA receiver simulator", // 2: product
    u"SIM0001",                   // 3: serial number
};

void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

void endpoint(std::vector<uint8_t>& v, uint8_t address, uint8_t attributes, uint8_t interval) {
    v.insert(v.end(), {7, DescEndpoint, address, attributes});
    put16(v, kMaxPacket);
    v.push_back(interval);
}

} // namespace

std::vector<uint8_t> deviceDescriptor() {
    std::vector<uint8_t> d = {18, DescDevice};
    put16(d, 0x0200);                  // bcdUSB
    d.insert(d.end(), {0, 0, 0, 64});  // class per interface; EP0 packet size
    put16(d, vestra::kVendorId);
    put16(d, vestra::kProductId);
    put16(d, kBcdDevice);
    d.insert(d.end(), {1, 2, 3, 1});   // strings; one configuration
    return d;
}

std::vector<uint8_t> configurationDescriptor() {
    std::vector<uint8_t> c = {9, DescConfiguration, 0, 0, 1, vestra::kConfigurationValue, 0, 0x80, 50};
    c.insert(c.end(), {9, DescInterface, vestra::kInterfaceNumber, vestra::kAlternateSetting, 4,
                       kVendorClass, 0, 0, 0});
    endpoint(c, vestra::kEpReportsIn, kAttrInterrupt, 1);
    endpoint(c, vestra::kEpSamplesIn, kAttrBulk, 0);
    endpoint(c, vestra::kEpAuxIn, kAttrBulk, 0);
    endpoint(c, vestra::kEpCommandsOut, kAttrBulk, 0);
    c[2] = uint8_t(c.size());
    c[3] = uint8_t(c.size() >> 8);
    return c;
}

std::vector<uint8_t> stringDescriptor(uint8_t index) {
    if (index == 0) return {4, DescString, 0x09, 0x04}; // English (US)
    if (index >= std::size(kStrings)) return {};
    std::u16string s = kStrings[index];
    std::vector<uint8_t> d = {uint8_t(2 + 2 * s.size()), DescString};
    for (char16_t ch : s) put16(d, uint16_t(ch));
    return d;
}

UsbDevice usbIpDeviceRecord(const char* busid) {
    UsbDevice d;
    d.busid = busid;
    d.path = std::string("/sys/devices/platform/vestra-sim/usb1/") + busid;
    d.busnum = 1;
    d.devnum = 2;
    d.speed = SpeedFull;
    d.idVendor = vestra::kVendorId;
    d.idProduct = vestra::kProductId;
    d.bcdDevice = kBcdDevice;
    d.bConfigurationValue = vestra::kConfigurationValue;
    d.bNumConfigurations = 1;
    d.bNumInterfaces = 1;
    return d;
}

DevlistEntry usbIpDevlistEntry(const char* busid) {
    return {usbIpDeviceRecord(busid), {{kVendorClass, 0, 0}}};
}

ControlResult ControlEndpoint::handle(const SetupPacket& setup) {
    ControlResult r;
    auto reply = [&](std::vector<uint8_t> data) {
        if (data.empty()) {
            r.status = kStatusStall;
            return r;
        }
        data.resize(std::min<size_t>(data.size(), setup.wLength));
        r.data = std::move(data);
        return r;
    };
    const bool standard = (setup.bmRequestType & 0x60) == 0;
    if (!standard) {
        r.status = kStatusStall;
        return r;
    }
    switch (setup.bRequest) {
    case ReqGetDescriptor: {
        uint8_t type = uint8_t(setup.wValue >> 8);
        uint8_t index = uint8_t(setup.wValue);
        if (type == DescDevice) return reply(deviceDescriptor());
        if (type == DescConfiguration) return reply(index == 0 ? configurationDescriptor() : std::vector<uint8_t>{});
        if (type == DescString) return reply(stringDescriptor(index));
        r.status = kStatusStall;
        return r;
    }
    case ReqSetConfiguration:
        if (setup.wValue != 0 && setup.wValue != vestra::kConfigurationValue) r.status = kStatusStall;
        else configuration_ = uint8_t(setup.wValue);
        return r;
    case ReqGetConfiguration:
        return reply({configuration_});
    case ReqSetInterface:
        if (setup.wIndex != vestra::kInterfaceNumber || setup.wValue != vestra::kAlternateSetting)
            r.status = kStatusStall;
        return r;
    case ReqGetInterface:
        return reply({vestra::kAlternateSetting});
    case ReqGetStatus:
        return reply({0, 0});
    case ReqClearFeature:
    case ReqSetFeature:
    case ReqSetAddress:
        return r;
    default:
        r.status = kStatusStall;
        return r;
    }
}

} // namespace sim
