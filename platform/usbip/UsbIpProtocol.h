// USB/IP wire format: the operation messages of the device list and the import, and the
// 48-byte headers of the transfer phase (CMD_SUBMIT, RET_SUBMIT, CMD_UNLINK, RET_UNLINK).
//
// Both the server (the receiver simulator) and the client (the USB bus driver) build their
// messages here, so the byte layout is written once. Conventions, as the Linux kernel uses them:
//  - every header field is big-endian, except the 8 setup bytes, which travel as the device
//    sees them (little-endian wValue, wIndex, wLength);
//  - devid = busnum << 16 | devnum;
//  - ep is the endpoint number without the direction bit; direction 0 = OUT, 1 = IN;
//  - the transfer type is not on the wire: the server knows it from its descriptors;
//  - after CMD_SUBMIT of an OUT transfer come transfer_buffer_length bytes of data; after
//    RET_SUBMIT of an IN transfer come actual_length bytes. A RET_SUBMIT carries devid,
//    direction and ep as 0, so the client finds the direction from its own record of seqnum.
//
// Every decode function takes exactly the bytes of one fixed-size record and fails on any
// other length: a message of the wrong size is an error, never a partial parse.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace usbip {

constexpr uint16_t kVersion = 0x0111;

// Operation codes of the connection phase (before the import succeeds).
enum OpCode : uint16_t {
    OpReqDevlist = 0x8005,
    OpRepDevlist = 0x0005,
    OpReqImport = 0x8003,
    OpRepImport = 0x0003,
};

// Status of an operation reply.
enum OpStatus : uint32_t {
    OpOk = 0,
    OpNotAvailable = 1,
    OpDeviceBusy = 2,
    OpDeviceError = 3,
    OpNoDevice = 4,
    OpError = 5,
};

// Commands of the transfer phase.
enum Command : uint32_t {
    CmdSubmitCode = 1,
    CmdUnlinkCode = 2,
    RetSubmitCode = 3,
    RetUnlinkCode = 4,
};

enum Direction : uint32_t {
    DirOut = 0,
    DirIn = 1,
};

// Transfer status values (negative errno, as the kernel reports them).
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusStall = -32;      // -EPIPE: endpoint stalled / request refused
constexpr int32_t kStatusIlSeq = -84;      // -EILSEQ: CRC or bit-stuffing error on the bus
constexpr int32_t kStatusConnReset = -104; // -ECONNRESET: transfer unlinked
constexpr int32_t kStatusShutdown = -108;  // -ESHUTDOWN: device gone

// USB speeds as the device record carries them.
enum Speed : uint32_t {
    SpeedUnknown = 0,
    SpeedLow = 1,
    SpeedFull = 2,
    SpeedHigh = 3,
};

// Sizes of the fixed records.
constexpr size_t kOpCommonSize = 8;                            // version, code, status
constexpr size_t kPathSize = 256;
constexpr size_t kBusIdSize = 32;
constexpr size_t kUsbDeviceSize = kPathSize + kBusIdSize + 24; // 312
constexpr size_t kUsbInterfaceSize = 4;
constexpr size_t kDevlistCountSize = 4;                        // ndev after the common part
constexpr size_t kReqDevlistSize = kOpCommonSize;
constexpr size_t kReqImportSize = kOpCommonSize + kBusIdSize;  // 40
constexpr size_t kRepImportSize = kOpCommonSize + kUsbDeviceSize; // 320 when status is OpOk
constexpr size_t kHeaderSize = 48;
constexpr size_t kIsoDescriptorSize = 16;
constexpr size_t kSetupSize = 8;

// ---- connection phase ----------------------------------------------------------------------

struct OpCommon {
    uint16_t version = kVersion;
    uint16_t code = 0;
    uint32_t status = OpOk;
};

// The device record of the device list and of the import reply.
struct UsbDevice {
    std::string path;  // sysfs-style path, at most 255 characters
    std::string busid; // e.g. "1-1", at most 31 characters
    uint32_t busnum = 0;
    uint32_t devnum = 0;
    uint32_t speed = SpeedFull;
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;
    uint8_t bDeviceClass = 0;
    uint8_t bDeviceSubClass = 0;
    uint8_t bDeviceProtocol = 0;
    uint8_t bConfigurationValue = 0;
    uint8_t bNumConfigurations = 0;
    uint8_t bNumInterfaces = 0;

    uint32_t devid() const { return busnum << 16 | devnum; }
    bool operator==(const UsbDevice&) const = default;
};

// The interface record that follows each device of the device list (one per bNumInterfaces).
struct UsbInterface {
    uint8_t bInterfaceClass = 0;
    uint8_t bInterfaceSubClass = 0;
    uint8_t bInterfaceProtocol = 0;
    bool operator==(const UsbInterface&) const = default;
};

struct DevlistEntry {
    UsbDevice device;                    // device.bNumInterfaces must equal interfaces.size()
    std::vector<UsbInterface> interfaces;
    bool operator==(const DevlistEntry&) const = default;
};

std::array<uint8_t, kOpCommonSize> encodeOpCommon(const OpCommon& op);
std::optional<OpCommon> decodeOpCommon(std::span<const uint8_t> bytes);

std::array<uint8_t, kUsbDeviceSize> encodeUsbDevice(const UsbDevice& device);
// Fails on a wrong size and on a path or busid without its terminating zero.
std::optional<UsbDevice> decodeUsbDevice(std::span<const uint8_t> bytes);

std::array<uint8_t, kUsbInterfaceSize> encodeUsbInterface(const UsbInterface& iface);
std::optional<UsbInterface> decodeUsbInterface(std::span<const uint8_t> bytes);

std::array<uint8_t, kReqDevlistSize> encodeReqDevlist();

// The whole OP_REP_DEVLIST: common part, ndev, then each device with its interfaces.
std::vector<uint8_t> encodeRepDevlist(const std::vector<DevlistEntry>& devices);
// Decodes a complete OP_REP_DEVLIST held in memory; fails on a wrong code, version, length
// or a device count that does not match the bytes. A client reading from a socket reads the
// first kOpCommonSize + kDevlistCountSize bytes, then each device record and its interfaces,
// and can use decodeOpCommon / decodeUsbDevice / decodeUsbInterface step by step instead.
std::optional<std::vector<DevlistEntry>> decodeRepDevlist(std::span<const uint8_t> bytes);

std::array<uint8_t, kReqImportSize> encodeReqImport(const std::string& busid);
// Returns the bus id asked for; fails on a wrong size, code or version.
std::optional<std::string> decodeReqImport(std::span<const uint8_t> bytes);

// OP_REP_IMPORT: with OpOk the device record follows (kRepImportSize bytes in all); with any
// other status only the common part is sent (kOpCommonSize bytes). OpOk without a device is
// sent as OpError, so a reply never claims success without its record.
std::vector<uint8_t> encodeRepImport(uint32_t status, const UsbDevice* device);

struct RepImport {
    uint32_t status = OpOk;
    std::optional<UsbDevice> device; // present when status is OpOk
};
// Takes kOpCommonSize bytes (a refusal) or kRepImportSize bytes (an accepted import whose
// status is OpOk); any other combination of size and status fails.
std::optional<RepImport> decodeRepImport(std::span<const uint8_t> bytes);

// ---- transfer phase ------------------------------------------------------------------------

struct HeaderBasic {
    uint32_t command = 0;
    uint32_t seqnum = 0;
    uint32_t devid = 0;
    uint32_t direction = DirOut;
    uint32_t ep = 0; // endpoint number, 0..15, no direction bit
    bool operator==(const HeaderBasic&) const = default;
};

struct CmdSubmit {
    HeaderBasic base{CmdSubmitCode};
    uint32_t transferFlags = 0;
    int32_t transferBufferLength = 0;
    int32_t startFrame = 0;
    int32_t numberOfPackets = 0; // 0 (or -1) for anything but isochronous transfers
    int32_t interval = 0;
    std::array<uint8_t, kSetupSize> setup{};
    bool operator==(const CmdSubmit&) const = default;
};

struct RetSubmit {
    HeaderBasic base{RetSubmitCode};
    int32_t status = kStatusOk;
    int32_t actualLength = 0;
    int32_t startFrame = 0;
    int32_t numberOfPackets = 0;
    int32_t errorCount = 0;
    bool operator==(const RetSubmit&) const = default;
};

struct CmdUnlink {
    HeaderBasic base{CmdUnlinkCode};
    uint32_t unlinkSeqnum = 0; // seqnum of the CMD_SUBMIT to cancel
    bool operator==(const CmdUnlink&) const = default;
};

struct RetUnlink {
    HeaderBasic base{RetUnlinkCode};
    int32_t status = kStatusOk; // -ECONNRESET when cancelled, 0 when it had completed already
    bool operator==(const RetUnlink&) const = default;
};

using Message = std::variant<CmdSubmit, RetSubmit, CmdUnlink, RetUnlink>;

std::array<uint8_t, kHeaderSize> encodeHeader(const CmdSubmit& m);
std::array<uint8_t, kHeaderSize> encodeHeader(const RetSubmit& m);
std::array<uint8_t, kHeaderSize> encodeHeader(const CmdUnlink& m);
std::array<uint8_t, kHeaderSize> encodeHeader(const RetUnlink& m);
std::array<uint8_t, kHeaderSize> encodeHeader(const Message& m);

enum class DecodeError {
    None,
    WrongSize,      // not exactly kHeaderSize bytes
    UnknownCommand, // command field is not 1..4
    BadLength,      // negative transfer_buffer_length or actual_length
};

// Decodes one 48-byte header. On failure returns std::nullopt and sets *error if given.
std::optional<Message> decodeHeader(std::span<const uint8_t> bytes, DecodeError* error = nullptr);

// Bytes of isochronous packet descriptors that follow the data of a submit or its return.
size_t isoDescriptorBytes(int32_t numberOfPackets);

// Bytes that follow a CMD_SUBMIT header on the wire (OUT data plus iso descriptors).
size_t payloadAfter(const CmdSubmit& m);
// Bytes that follow a RET_SUBMIT, given the direction of the transfer it answers.
size_t payloadAfter(const RetSubmit& m, uint32_t direction);

// ---- control setup packet -----------------------------------------------------------------

// Standard requests and descriptor types that the two sides exchange on endpoint 0.
enum StandardRequest : uint8_t {
    ReqGetStatus = 0,
    ReqClearFeature = 1,
    ReqSetFeature = 3,
    ReqSetAddress = 5,
    ReqGetDescriptor = 6,
    ReqGetConfiguration = 8,
    ReqSetConfiguration = 9,
    ReqGetInterface = 10,
    ReqSetInterface = 11,
};

enum DescriptorType : uint8_t {
    DescDevice = 1,
    DescConfiguration = 2,
    DescString = 3,
    DescInterface = 4,
    DescEndpoint = 5,
};

constexpr uint8_t kRequestDeviceToHost = 0x80; // bit 7 of bmRequestType

struct SetupPacket {
    uint8_t bmRequestType = 0;
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;
    bool operator==(const SetupPacket&) const = default;
};

// The setup bytes are little-endian, unlike the rest of the header.
std::array<uint8_t, kSetupSize> encodeSetup(const SetupPacket& s);
SetupPacket decodeSetup(const std::array<uint8_t, kSetupSize>& bytes);

} // namespace usbip
