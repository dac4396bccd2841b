// Command frames to the receiver and the whole command vocabulary.
//
// A frame is STX, a letter, a fixed number of decimal digits (the first one replaced by '-'
// for a negative value), a checksum and ETX. The checksum makes the 8-bit sum of letter,
// digits and checksum a multiple of 128, and always has bit 7 set, so STX and ETX never
// occur inside a frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cmd {

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;

// Which link carries the commands: the main window's LinkKind.
constexpr uint8_t kLinkSerial = 1;
constexpr uint8_t kLinkUsb = 2;

// Longest frame in use (8 digits) is 12 bytes; one USB command buffer is 64 bytes.
constexpr size_t kMaxDigits = 8;
constexpr size_t kUsbBufferSize = 64;

// One command of the vocabulary: its letter and its fixed digit count.
struct Command {
  char letter;
  uint8_t digits;
};

constexpr Command Frequency{'F', 8};        // tuned frequency, Hz
constexpr Command Mode{'E', 2};             // 90 АМ, 91 ТЛГ, 92 ВБП, 93 НБП, 99 class, 0..40 class
constexpr Command Bandwidth{'H', 5};        // IF bandwidth, Hz
constexpr Command BeatTone{'L', 5};         // beat-tone offset, Hz, signed
constexpr Command SidebandShift{'e', 4};    // sideband shift, Hz
constexpr Command AgcThreshold{'X', 3};     // AGC threshold, dB, signed
constexpr Command GainMode{'J', 1};         // 0..4 AGC time constant, 5/6 manual (compander off/on)
constexpr Command IfGain{'C', 2};           // manual IF gain, dB
constexpr Command LfGain{'D', 2};           // LF (audio) gain, dB
constexpr Command Attenuator{'B', 2};       // RF attenuation, dB
constexpr Command Preamp{'P', 1};           // RF preamplifier on/off
constexpr Command SampleStream{'s', 1};     // sample stream over USB on/off
constexpr Command LfBand{'R', 1};           // LF band index
constexpr Command FilterShape{'S', 1};      // filter response shape index
constexpr Command Reference{'U', 1};        // reference oscillator index
constexpr Command TlgShaper{'z', 1};        // telegraph signal shaper index
constexpr Command NoiseSuppression{'i', 1}; // noise suppression on/off
constexpr Command NoiseTau{'w', 2};         // noise suppression time constant, tenths of s
constexpr Command NoiseThreshold{'v', 3};   // noise suppression threshold, dB, signed
constexpr Command TestSignal{'I', 1};       // test signal index
constexpr Command TestSignalIf{'o', 4};     // IF of the user test signal, tenths of kHz
constexpr Command TlgSpeed{'G', 4};         // telegraph speed, baud
constexpr Command FreqShift{'T', 4};        // frequency shift, Hz
constexpr Command LfGenerator{'N', 4};      // LF test generator frequency, Hz (0 = off)
constexpr Command NotchFrequency{'K', 5};   // notch frequency, Hz (0 = off)
constexpr Command NotchWidth{'M', 4};       // notch width, Hz (0 = off)
constexpr Command DecoderMode{'O', 1};      // message decoder receive mode
constexpr Command ServiceRegister{'g', 6};  // service register write

// Every letter of the vocabulary, for tables that need to walk it.
constexpr std::array<Command, 28> kVocabulary{
    Frequency,   Mode,        Bandwidth,      BeatTone,   SidebandShift,    AgcThreshold, GainMode,
    IfGain,      LfGain,      Attenuator,     Preamp,     SampleStream,     LfBand,       FilterShape,
    Reference,   TlgShaper,   NoiseSuppression, NoiseTau, NoiseThreshold,   TestSignal,   TestSignalIf,
    TlgSpeed,    FreqShift,   LfGenerator,    NotchFrequency, NotchWidth,   DecoderMode,  ServiceRegister};

// Mode values of letter E.
constexpr int kModeAM = 90, kModeTLG = 91, kModeVBP = 92, kModeNBP = 93, kModeClass = 99;

// Writes the frame for (letter, digits, value) into out (at least digits + 4 bytes) and
// returns its length. Digits beyond the count are dropped; a negative value's sign takes
// the most significant position.
size_t BuildCommandPacket(char letter, uint8_t digits, int32_t value, uint8_t* out);

// True when the bytes between STX and ETX (letter, digits, checksum) sum to a multiple of 128.
bool ChecksumOk(const uint8_t* afterStx, size_t count);

}  // namespace cmd

// Builds one frame and hands it at once to the link that LinkKind selects:
// 1 = serial (frame up to ETX), 2 = USB (64-byte buffer), anything else = dropped.
void SendCommand(char letter, uint8_t digits, int32_t value);
inline void SendCommand(cmd::Command c, int32_t value) { SendCommand(c.letter, c.digits, value); }
