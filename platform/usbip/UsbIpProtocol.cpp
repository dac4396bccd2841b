#include "platform/usbip/UsbIpProtocol.h"

#include <algorithm>
#include <cstring>

namespace usbip {

namespace {

// Big-endian writer and reader over a fixed buffer; callers size the buffer exactly.
struct Writer {
    uint8_t* p;
    void u8(uint8_t v) { *p++ = v; }
    void u16(uint16_t v) { u8(uint8_t(v >> 8)); u8(uint8_t(v)); }
    void u32(uint32_t v) { u16(uint16_t(v >> 16)); u16(uint16_t(v)); }
    void s32(int32_t v) { u32(uint32_t(v)); }
    void zeros(size_t n) { std::memset(p, 0, n); p += n; }
    void raw(const uint8_t* src, size_t n) { std::memcpy(p, src, n); p += n; }
    // A zero-terminated string in a field of n bytes; longer strings are cut to n-1.
    void text(const std::string& s, size_t n) {
        size_t len = std::min(s.size(), n - 1);
        std::memcpy(p, s.data(), len);
        std::memset(p + len, 0, n - len);
        p += n;
    }
};

struct Reader {
    const uint8_t* p;
    uint8_t u8() { return *p++; }
    uint16_t u16() { uint16_t hi = u8(); return uint16_t(hi << 8 | u8()); }
    uint32_t u32() { uint32_t hi = u16(); return hi << 16 | u16(); }
    int32_t s32() { return int32_t(u32()); }
    void skip(size_t n) { p += n; }
    bool text(std::string& out, size_t n) {
        const void* nul = std::memchr(p, 0, n);
        if (!nul) return false;
        out.assign(reinterpret_cast<const char*>(p), static_cast<const uint8_t*>(nul) - p);
        p += n;
        return true;
    }
};

void writeBasic(Writer& w, const HeaderBasic& b, uint32_t command) {
    w.u32(command);
    w.u32(b.seqnum);
    w.u32(b.devid);
    w.u32(b.direction);
    w.u32(b.ep);
}

HeaderBasic readBasic(Reader& r) {
    HeaderBasic b;
    b.command = r.u32();
    b.seqnum = r.u32();
    b.devid = r.u32();
    b.direction = r.u32();
    b.ep = r.u32();
    return b;
}

void writeUsbDevice(Writer& w, const UsbDevice& d) {
    w.text(d.path, kPathSize);
    w.text(d.busid, kBusIdSize);
    w.u32(d.busnum);
    w.u32(d.devnum);
    w.u32(d.speed);
    w.u16(d.idVendor);
    w.u16(d.idProduct);
    w.u16(d.bcdDevice);
    w.u8(d.bDeviceClass);
    w.u8(d.bDeviceSubClass);
    w.u8(d.bDeviceProtocol);
    w.u8(d.bConfigurationValue);
    w.u8(d.bNumConfigurations);
    w.u8(d.bNumInterfaces);
}

bool readUsbDevice(Reader& r, UsbDevice& d) {
    if (!r.text(d.path, kPathSize) || !r.text(d.busid, kBusIdSize)) return false;
    d.busnum = r.u32();
    d.devnum = r.u32();
    d.speed = r.u32();
    d.idVendor = r.u16();
    d.idProduct = r.u16();
    d.bcdDevice = r.u16();
    d.bDeviceClass = r.u8();
    d.bDeviceSubClass = r.u8();
    d.bDeviceProtocol = r.u8();
    d.bConfigurationValue = r.u8();
    d.bNumConfigurations = r.u8();
    d.bNumInterfaces = r.u8();
    return true;
}

std::optional<OpCommon> readOpCommon(std::span<const uint8_t> bytes, uint16_t code) {
    if (bytes.size() < kOpCommonSize) return std::nullopt;
    auto op = decodeOpCommon(bytes.first(kOpCommonSize));
    if (!op || op->code != code || op->version != kVersion) return std::nullopt;
    return op;
}

} // namespace

std::array<uint8_t, kOpCommonSize> encodeOpCommon(const OpCommon& op) {
    std::array<uint8_t, kOpCommonSize> out;
    Writer w{out.data()};
    w.u16(op.version);
    w.u16(op.code);
    w.u32(op.status);
    return out;
}

std::optional<OpCommon> decodeOpCommon(std::span<const uint8_t> bytes) {
    if (bytes.size() != kOpCommonSize) return std::nullopt;
    Reader r{bytes.data()};
    OpCommon op;
    op.version = r.u16();
    op.code = r.u16();
    op.status = r.u32();
    return op;
}

std::array<uint8_t, kUsbDeviceSize> encodeUsbDevice(const UsbDevice& device) {
    std::array<uint8_t, kUsbDeviceSize> out;
    Writer w{out.data()};
    writeUsbDevice(w, device);
    return out;
}

std::optional<UsbDevice> decodeUsbDevice(std::span<const uint8_t> bytes) {
    if (bytes.size() != kUsbDeviceSize) return std::nullopt;
    Reader r{bytes.data()};
    UsbDevice d;
    if (!readUsbDevice(r, d)) return std::nullopt;
    return d;
}

std::array<uint8_t, kUsbInterfaceSize> encodeUsbInterface(const UsbInterface& iface) {
    return {iface.bInterfaceClass, iface.bInterfaceSubClass, iface.bInterfaceProtocol, 0};
}

std::optional<UsbInterface> decodeUsbInterface(std::span<const uint8_t> bytes) {
    if (bytes.size() != kUsbInterfaceSize) return std::nullopt;
    return UsbInterface{bytes[0], bytes[1], bytes[2]};
}

std::array<uint8_t, kReqDevlistSize> encodeReqDevlist() {
    return encodeOpCommon({kVersion, OpReqDevlist, OpOk});
}

std::vector<uint8_t> encodeRepDevlist(const std::vector<DevlistEntry>& devices) {
    size_t size = kOpCommonSize + kDevlistCountSize;
    for (const auto& e : devices) size += kUsbDeviceSize + e.interfaces.size() * kUsbInterfaceSize;
    std::vector<uint8_t> out(size);
    Writer w{out.data()};
    auto common = encodeOpCommon({kVersion, OpRepDevlist, OpOk});
    w.raw(common.data(), common.size());
    w.u32(uint32_t(devices.size()));
    for (const auto& e : devices) {
        UsbDevice d = e.device;
        d.bNumInterfaces = uint8_t(e.interfaces.size()); // the count the reader relies on
        writeUsbDevice(w, d);
        for (const auto& i : e.interfaces) {
            auto rec = encodeUsbInterface(i);
            w.raw(rec.data(), rec.size());
        }
    }
    return out;
}

std::optional<std::vector<DevlistEntry>> decodeRepDevlist(std::span<const uint8_t> bytes) {
    if (!readOpCommon(bytes, OpRepDevlist)) return std::nullopt;
    if (bytes.size() < kOpCommonSize + kDevlistCountSize) return std::nullopt;
    Reader r{bytes.data() + kOpCommonSize};
    uint32_t ndev = r.u32();
    size_t offset = kOpCommonSize + kDevlistCountSize;
    std::vector<DevlistEntry> devices;
    for (uint32_t n = 0; n < ndev; ++n) {
        if (bytes.size() - offset < kUsbDeviceSize) return std::nullopt;
        auto d = decodeUsbDevice(bytes.subspan(offset, kUsbDeviceSize));
        if (!d) return std::nullopt;
        offset += kUsbDeviceSize;
        DevlistEntry e{*d, {}};
        for (unsigned i = 0; i < d->bNumInterfaces; ++i) {
            if (bytes.size() - offset < kUsbInterfaceSize) return std::nullopt;
            e.interfaces.push_back(*decodeUsbInterface(bytes.subspan(offset, kUsbInterfaceSize)));
            offset += kUsbInterfaceSize;
        }
        devices.push_back(std::move(e));
    }
    if (offset != bytes.size()) return std::nullopt;
    return devices;
}

std::array<uint8_t, kReqImportSize> encodeReqImport(const std::string& busid) {
    std::array<uint8_t, kReqImportSize> out;
    Writer w{out.data()};
    auto common = encodeOpCommon({kVersion, OpReqImport, OpOk});
    w.raw(common.data(), common.size());
    w.text(busid, kBusIdSize);
    return out;
}

std::optional<std::string> decodeReqImport(std::span<const uint8_t> bytes) {
    if (bytes.size() != kReqImportSize || !readOpCommon(bytes, OpReqImport)) return std::nullopt;
    Reader r{bytes.data() + kOpCommonSize};
    std::string busid;
    if (!r.text(busid, kBusIdSize)) return std::nullopt;
    return busid;
}

std::vector<uint8_t> encodeRepImport(uint32_t status, const UsbDevice* device) {
    bool withDevice = status == OpOk && device;
    std::vector<uint8_t> out(withDevice ? kRepImportSize : kOpCommonSize);
    Writer w{out.data()};
    auto common = encodeOpCommon({kVersion, OpRepImport, withDevice ? OpOk : (status ? status : OpError)});
    w.raw(common.data(), common.size());
    if (withDevice) writeUsbDevice(w, *device);
    return out;
}

std::optional<RepImport> decodeRepImport(std::span<const uint8_t> bytes) {
    auto op = readOpCommon(bytes, OpRepImport);
    if (!op) return std::nullopt;
    RepImport rep{op->status, std::nullopt};
    if (op->status != OpOk) {
        if (bytes.size() != kOpCommonSize) return std::nullopt;
        return rep;
    }
    if (bytes.size() != kRepImportSize) return std::nullopt;
    rep.device = decodeUsbDevice(bytes.subspan(kOpCommonSize));
    if (!rep.device) return std::nullopt;
    return rep;
}

std::array<uint8_t, kHeaderSize> encodeHeader(const CmdSubmit& m) {
    std::array<uint8_t, kHeaderSize> out;
    Writer w{out.data()};
    writeBasic(w, m.base, CmdSubmitCode);
    w.u32(m.transferFlags);
    w.s32(m.transferBufferLength);
    w.s32(m.startFrame);
    w.s32(m.numberOfPackets);
    w.s32(m.interval);
    w.raw(m.setup.data(), kSetupSize);
    return out;
}

std::array<uint8_t, kHeaderSize> encodeHeader(const RetSubmit& m) {
    std::array<uint8_t, kHeaderSize> out;
    Writer w{out.data()};
    writeBasic(w, m.base, RetSubmitCode);
    w.s32(m.status);
    w.s32(m.actualLength);
    w.s32(m.startFrame);
    w.s32(m.numberOfPackets);
    w.s32(m.errorCount);
    w.zeros(kSetupSize);
    return out;
}

std::array<uint8_t, kHeaderSize> encodeHeader(const CmdUnlink& m) {
    std::array<uint8_t, kHeaderSize> out;
    Writer w{out.data()};
    writeBasic(w, m.base, CmdUnlinkCode);
    w.u32(m.unlinkSeqnum);
    w.zeros(24);
    return out;
}

std::array<uint8_t, kHeaderSize> encodeHeader(const RetUnlink& m) {
    std::array<uint8_t, kHeaderSize> out;
    Writer w{out.data()};
    writeBasic(w, m.base, RetUnlinkCode);
    w.s32(m.status);
    w.zeros(24);
    return out;
}

std::array<uint8_t, kHeaderSize> encodeHeader(const Message& m) {
    return std::visit([](const auto& v) { return encodeHeader(v); }, m);
}

std::optional<Message> decodeHeader(std::span<const uint8_t> bytes, DecodeError* error) {
    auto fail = [error](DecodeError e) -> std::optional<Message> {
        if (error) *error = e;
        return std::nullopt;
    };
    if (error) *error = DecodeError::None;
    if (bytes.size() != kHeaderSize) return fail(DecodeError::WrongSize);
    Reader r{bytes.data()};
    HeaderBasic base = readBasic(r);
    switch (base.command) {
    case CmdSubmitCode: {
        CmdSubmit m;
        m.base = base;
        m.transferFlags = r.u32();
        m.transferBufferLength = r.s32();
        m.startFrame = r.s32();
        m.numberOfPackets = r.s32();
        m.interval = r.s32();
        std::memcpy(m.setup.data(), r.p, kSetupSize);
        if (m.transferBufferLength < 0) return fail(DecodeError::BadLength);
        return m;
    }
    case RetSubmitCode: {
        RetSubmit m;
        m.base = base;
        m.status = r.s32();
        m.actualLength = r.s32();
        m.startFrame = r.s32();
        m.numberOfPackets = r.s32();
        m.errorCount = r.s32();
        if (m.actualLength < 0) return fail(DecodeError::BadLength);
        return m;
    }
    case CmdUnlinkCode: {
        CmdUnlink m;
        m.base = base;
        m.unlinkSeqnum = r.u32();
        return m;
    }
    case RetUnlinkCode: {
        RetUnlink m;
        m.base = base;
        m.status = r.s32();
        return m;
    }
    default:
        return fail(DecodeError::UnknownCommand);
    }
}

size_t isoDescriptorBytes(int32_t numberOfPackets) {
    // Non-isochronous transfers carry 0 or -1 (0xffffffff) here.
    return numberOfPackets > 0 ? size_t(numberOfPackets) * kIsoDescriptorSize : 0;
}

size_t payloadAfter(const CmdSubmit& m) {
    size_t data = m.base.direction == DirOut ? size_t(std::max(m.transferBufferLength, 0)) : 0;
    return data + isoDescriptorBytes(m.numberOfPackets);
}

size_t payloadAfter(const RetSubmit& m, uint32_t direction) {
    size_t data = direction == DirIn ? size_t(std::max(m.actualLength, 0)) : 0;
    return data + isoDescriptorBytes(m.numberOfPackets);
}

std::array<uint8_t, kSetupSize> encodeSetup(const SetupPacket& s) {
    return {s.bmRequestType, s.bRequest,
            uint8_t(s.wValue), uint8_t(s.wValue >> 8),
            uint8_t(s.wIndex), uint8_t(s.wIndex >> 8),
            uint8_t(s.wLength), uint8_t(s.wLength >> 8)};
}

SetupPacket decodeSetup(const std::array<uint8_t, kSetupSize>& b) {
    return {b[0], b[1], uint16_t(b[2] | b[3] << 8), uint16_t(b[4] | b[5] << 8),
            uint16_t(b[6] | b[7] << 8)};
}

} // namespace usbip
