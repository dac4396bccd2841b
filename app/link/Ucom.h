// The serial link to a receiver on COM1: 19200 baud, 8 data bits, no parity, one stop bit,
// RTS held off. Commands go out as frames; the byte stream coming back is cut into frames
// at STX/ETX and every frame whose checksum holds goes to ParseReport. Failures are silent:
// with no port, writing and polling do nothing.
#pragma once

#include <cstdint>

#include "platform/win32/Comm.h"

class SerialLink {
 public:
  void Open();
  void Close();
  // Reads what is waiting (at most 1000 bytes) and parses the frames completed by it.
  void Poll();
  // Cuts frames out of bytes as they came from the port; each whose checksum holds goes to
  // ParseReport. A frame may be split over any number of calls.
  void Assemble(const uint8_t* bytes, DWORD n);
  // Writes the frame from its STX up to and including the first ETX (at most 64 bytes).
  void Write(const uint8_t* frame);

  bool IsOpen() const { return PortHandle != INVALID_HANDLE_VALUE; }

  HANDLE PortHandle = INVALID_HANDLE_VALUE;
  uint8_t FrameBuffer[256] = {};
  uint8_t FrameLength = 0;  // counts modulo 256, so every store falls inside the buffer
  uint8_t FrameSum = 0;     // bytes since the last STX, STX and ETX not counted
  DCB SavedSettings{};
};

extern SerialLink Serial;
