// Serial communications over termios, with the Windows calls the serial link uses.
//
// "COM1", "COM2", … open the Linux devices configured with SetCommPortPath (COM1 defaults
// to /dev/ttyS0). A Windows serial port is always binary, so opening puts the line into raw
// mode (no echo, no canonical input, no character translation, no stripping of bit 7) and
// keeps every other setting as found; closing the handle puts back the whole terminal
// configuration found at open. Reads and writes never block the caller for long: a read
// takes what is waiting, a write waits at most kWriteTimeoutMs for the line to take it.
#pragma once

#include <termios.h>

#include <string>

#include "platform/win32/WinTypes.h"

// Port configuration record. Only the items the program reads and sets are broken out;
// `native` carries the rest of the terminal configuration unchanged.
struct DCB {
  DWORD DCBlength = sizeof(DCB);
  DWORD BaudRate = 0;
  DWORD fBinary = 1;
  DWORD fParity = 0;
  DWORD fOutxCtsFlow = 0;   // RTS/CTS hardware handshake
  DWORD fDtrControl = 1;    // DTR_CONTROL_ENABLE: held on while open (hang-up on close kept as found)
  DWORD fOutX = 0;          // XON/XOFF on output
  DWORD fInX = 0;           // XON/XOFF on input
  DWORD fRtsControl = 1;    // RTS_CONTROL_*
  BYTE ByteSize = 8;
  BYTE Parity = 0;          // NOPARITY … SPACEPARITY
  BYTE StopBits = 0;        // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
  char XonChar = 0x11;
  char XoffChar = 0x13;
  termios native{};         // everything else, as read
};

constexpr BYTE NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD CBR_19200 = 19200;

struct COMSTAT {
  DWORD cbInQue = 0;   // bytes waiting to be read
  DWORD cbOutQue = 0;  // bytes not yet sent
};

constexpr DWORD CE_RXOVER = 0x0001, CE_OVERRUN = 0x0002, CE_RXPARITY = 0x0004, CE_FRAME = 0x0008,
                CE_BREAK = 0x0010;

BOOL GetCommState(HANDLE port, DCB* dcb);
BOOL SetCommState(HANDLE port, const DCB* dcb);
// Reports and clears the line errors, and gives the count of waiting input bytes.
BOOL ClearCommError(HANDLE port, DWORD* errors, COMSTAT* stat);

namespace win32 {

constexpr int kWriteTimeoutMs = 200;

// Which Linux device stands behind "COMn" (n = 1 … 255).
void SetCommPortPath(int number, const std::string& devicePath);
std::string CommPortPath(int number);

// Registers "COM" with CreateFileA; done once, before the first serial open.
void RegisterCommPorts();

}  // namespace win32
