// The receiver's DSP program as the loader reads and sends it.
//
// File: bytes 0–1 unused, bytes 2–3 the program length N (little-endian), then the program
// in four-byte words; W = N / 4 + 3 words are sent. The whole file goes into a zero-filled
// 65536-byte buffer, so a short file is padded with zeros.
//
// Load packet: one 64-byte USB buffer: STX, the letter ('a' first, 'b' middle, 'c' last),
// the word count k, 4k program bytes, ETX, zeros up to the end.
#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

class QIODevice;

namespace dsp {

constexpr size_t kProgramBufferSize = 65536;
constexpr size_t kProgramOffset = 4;          // where the program starts in the file
constexpr int kPacketWords = 8;               // words in an 'a' or 'b' packet
constexpr int kMaxProgramLength = 65523;      // the largest N whose W words fit the buffer
constexpr char kFirstPacket = 'a', kMiddlePacket = 'b', kLastPacket = 'c';

using ProgramBuffer = std::array<uint8_t, kProgramBufferSize>;
using LoadPacket = std::array<uint8_t, 64>;

enum class ProgramFileStatus {
  Ready,
  NoFile,         // empty name or nothing under it: nothing happens, nothing is told
  Unreadable,     // exists but cannot be opened or read
  TooLong,        // longer than the buffer
  PastBufferEnd,  // N would have the program run past the buffer's end
};

struct ProgramFile {
  ProgramFileStatus status = ProgramFileStatus::NoFile;
  ProgramBuffer buffer{};  // the file's bytes, zeros after its end
  int length = 0;          // N
  int words = 0;           // W
  QString error;           // for Unreadable: the system's reason
};

// W for a program length N.
constexpr int WordsToSend(int length) { return length / 4 + 3; }

// Reads the file; on any status but Ready nothing of it may be sent.
ProgramFile ReadProgramFile(const QString& path);
// Reads the program from an open source, as from its file.
ProgramFile ReadProgram(QIODevice& source);

// The operator's message for a refused file; empty for Ready and NoFile.
QString RefusalMessage(const ProgramFile& file, const QString& path);

// One load packet carrying `words` words (0 … 8) from `data`.
LoadPacket BuildLoadPacket(char letter, int words, const uint8_t* data);

// Cuts a Ready program into its packets: 'a' with the first 8 words, 'b' with 8 words each
// while more than 8 are left, 'c' with the rest. `send` gets each packet in order with the
// number of words sent once it is through.
void SendProgram(const ProgramFile& file, const std::function<void(const LoadPacket&, int sent)>& send);

}  // namespace dsp
