#include "app/link/Ucmd.h"

#include <cstring>

#include "app/link/Ucom.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"

namespace cmd {

size_t BuildCommandPacket(char letter, uint8_t digits, int32_t value, uint8_t* out) {
  out[0] = STX;
  out[1] = static_cast<uint8_t>(letter);
  // The magnitude in 64 bits so that INT32_MIN has one too.
  int64_t m = value < 0 ? -static_cast<int64_t>(value) : value;
  for (int p = 1 + digits; p >= 2; --p) {
    out[p] = static_cast<uint8_t>('0' + m % 10);
    m /= 10;
  }
  if (value < 0 && digits > 0) out[2] = '-';
  uint8_t sum = 0;
  for (int i = 1; i <= 1 + digits; ++i) sum = static_cast<uint8_t>(sum + out[i]);
  out[2 + digits] = static_cast<uint8_t>((256 - sum) % 256) | 0x80;
  out[3 + digits] = ETX;
  return digits + 4u;
}

bool ChecksumOk(const uint8_t* afterStx, size_t count) {
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + afterStx[i]);
  return (sum & 0x7F) == 0;
}

}  // namespace cmd

void SendCommand(char letter, uint8_t digits, int32_t value) {
  if (digits > 60) return;  // would not fit a USB buffer; the vocabulary stays at 8
  uint8_t buffer[cmd::kUsbBufferSize] = {};
  cmd::BuildCommandPacket(letter, digits, value, buffer);
  switch (Main ? Main->LinkKind : cmd::kLinkSerial) {
    case cmd::kLinkSerial: Serial.Write(buffer); break;
    case cmd::kLinkUsb: Usb.WriteCommand(buffer); break;
    default: break;
  }
}
