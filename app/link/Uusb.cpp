#include "app/link/Uusb.h"

TUsb Usb;

void TUsb::Start(HWND window, UINT message) {
  window_ = window;
  message_ = message;
}

int TUsb::WriteCommand(const uint8_t*) {
  if (DeviceHandle == INVALID_HANDLE_VALUE) return 1;
  return 2;
}

void TUsb::Stop() {}
