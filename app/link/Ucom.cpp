#include "app/link/Ucom.h"

#include <cstdio>

#include "app/link/Ucmd.h"
#include "app/link/Ureport.h"
#include "platform/win32/Comm.h"
#include "platform/win32/File.h"
#include "platform/win32/Handles.h"

SerialLink Serial;

void SerialLink::Open() {
  FrameLength = 0;
  win32::RegisterCommPorts();
  PortHandle = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (!IsOpen()) {
    // A missing port is no error (the receiver may be on USB); one held by another
    // program is worth a line, or the operator wonders why the receiver stays silent.
    if (GetLastError() == ERROR_SHARING_VIOLATION)
      std::fprintf(stderr, "PVestra: последовательный порт %s занят другой программой\n",
                   win32::CommPortPath(1).c_str());
    return;
  }
  DCB dcb{};
  if (!GetCommState(PortHandle, &dcb)) return;
  SavedSettings = dcb;
  dcb.BaudRate = CBR_19200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  SetCommState(PortHandle, &dcb);
}

void SerialLink::Close() {
  if (!IsOpen()) return;
  if (SavedSettings.BaudRate != 0) SetCommState(PortHandle, &SavedSettings);
  CloseHandle(PortHandle);
  PortHandle = INVALID_HANDLE_VALUE;
}

void SerialLink::Write(const uint8_t* frame) {
  if (!IsOpen()) return;
  DWORD n = 0;
  while (n < cmd::kUsbBufferSize && frame[n] != cmd::ETX) ++n;
  if (n < cmd::kUsbBufferSize) ++n;  // the ETX itself
  DWORD written = 0;
  WriteFile(PortHandle, frame, n, &written, nullptr);
}

void SerialLink::Poll() {
  if (!IsOpen()) return;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(PortHandle, &errors, &stat)) return;
  DWORD n = stat.cbInQue > 1000 ? 1000 : stat.cbInQue;
  if (n == 0) return;
  uint8_t bytes[1000];
  DWORD got = 0;
  if (!ReadFile(PortHandle, bytes, n, &got, nullptr) || got != n) return;
  Assemble(bytes, n);
}

void SerialLink::Assemble(const uint8_t* bytes, DWORD n) {
  for (DWORD i = 0; i < n; ++i) {
    const uint8_t b = bytes[i];
    if (b == cmd::STX) {
      FrameLength = 0;
      FrameSum = 0;
      FrameBuffer[FrameLength++] = b;
    } else if (b == cmd::ETX) {
      FrameBuffer[FrameLength++] = b;
      if ((FrameSum & 0x7F) == 0) ParseReport(FrameBuffer);
    } else {
      FrameBuffer[FrameLength++] = b;
      FrameSum = uint8_t(FrameSum + b);
    }
  }
}
