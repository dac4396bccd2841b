// The USB/IP wire format as the bus client decodes what a server sends: the device list
// reply (common part, count, device records, interface records), the import reply, and the
// headers of the transfer phase with the payload each announces. The first byte picks
// which. Whatever decodes must encode to bytes that decode to the same thing again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/InputReader.h"
#include "platform/usbip/UsbIpProtocol.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

template <class T, class Decode, class Encode>
void RoundTrip(const std::optional<T>& decoded, Decode decode, Encode encode, const char* what) {
  if (!decoded) return;
  const auto bytes = encode(*decoded);
  const auto again = decode(std::span<const uint8_t>(bytes.data(), bytes.size()));
  if (!again || !(*again == *decoded)) Fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::InputReader in(data, size);
  const uint8_t which = in.Byte() % 4;
  size_t got = 0;
  const uint8_t* rest = in.Take(in.remaining(), got);
  const std::span<const uint8_t> bytes(rest, got);
  switch (which) {
    case 0: {  // the device list, whole
      const auto list = usbip::decodeRepDevlist(bytes);
      RoundTrip(list, [](auto b) { return usbip::decodeRepDevlist(b); },
                [](const auto& l) { return usbip::encodeRepDevlist(l); }, "device list");
      break;
    }
    case 1: {  // the device list, record by record, as the client reads it from the socket
      if (bytes.size() < usbip::kOpCommonSize) break;
      usbip::decodeOpCommon(bytes.first(usbip::kOpCommonSize));
      for (size_t at = usbip::kOpCommonSize; at + usbip::kUsbDeviceSize <= bytes.size();) {
        const auto device = usbip::decodeUsbDevice(bytes.subspan(at, usbip::kUsbDeviceSize));
        at += usbip::kUsbDeviceSize;
        RoundTrip(device, [](auto b) { return usbip::decodeUsbDevice(b); },
                  [](const auto& d) { return usbip::encodeUsbDevice(d); }, "device record");
        if (!device) break;
        for (unsigned n = 0; n < device->bNumInterfaces && at + usbip::kUsbInterfaceSize <= bytes.size(); ++n) {
          RoundTrip(usbip::decodeUsbInterface(bytes.subspan(at, usbip::kUsbInterfaceSize)),
                    [](auto b) { return usbip::decodeUsbInterface(b); },
                    [](const auto& i) { return usbip::encodeUsbInterface(i); }, "interface record");
          at += usbip::kUsbInterfaceSize;
        }
      }
      break;
    }
    case 2: {  // the import reply
      const auto reply = usbip::decodeRepImport(bytes);
      if (reply && (reply->status == usbip::OpOk) != reply->device.has_value()) Fail("import reply without its record");
      if (reply) {
        const auto again = usbip::decodeRepImport(
            usbip::encodeRepImport(reply->status, reply->device ? &*reply->device : nullptr));
        if (!again || again->status != reply->status || again->device != reply->device) Fail("import reply");
      }
      break;
    }
    default: {  // the transfer phase: headers, each followed by the payload it announces
      size_t at = 0;
      while (at + usbip::kHeaderSize <= bytes.size()) {
        const auto message = usbip::decodeHeader(bytes.subspan(at, usbip::kHeaderSize));
        at += usbip::kHeaderSize;
        if (!message) break;
        RoundTrip(message, [](auto b) { return usbip::decodeHeader(b); },
                  [](const auto& m) { return usbip::encodeHeader(m); }, "header");
        size_t payload = 0;
        if (auto* ret = std::get_if<usbip::RetSubmit>(&*message))
          payload = usbip::payloadAfter(*ret, ret->base.direction);
        else if (auto* cmd = std::get_if<usbip::CmdSubmit>(&*message))
          payload = usbip::payloadAfter(*cmd);
        if (payload > bytes.size() - at) break;
        at += payload;
      }
      break;
    }
  }
  return 0;
}
