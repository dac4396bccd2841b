// The receiver's side of the command frame: the letter table (digit count and range of each
// letter), building report frames, checking and parsing incoming frames, and cutting frames
// out of the serial byte stream.
//
// Frame: STX, letter, n ASCII digits (a leading '-' for a negative value), checksum, ETX.
// The checksum byte is the negated 8-bit sum of letter and digits with bit 7 set, so the
// letter, digits and checksum together sum to a value whose low 7 bits are zero.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;

// One letter of the command vocabulary.
struct LetterInfo {
    char letter;
    int digits;
    int32_t min;
    int32_t max;
    const char* meaning; // Russian, for the log and the console
};

// The whole vocabulary, in a fixed order; ReceiverState keeps one value per entry.
std::span<const LetterInfo> commandLetters();
// The entry of a letter, or nullptr for a letter the receiver does not know.
const LetterInfo* findLetter(char letter);

// Builds a frame with a decimal value in exactly `digits` characters (as the PC does).
std::vector<uint8_t> buildFrame(char letter, int digits, int32_t value);
// Builds a frame whose value characters are given as text (hexadecimal `D` reports, `S`).
std::vector<uint8_t> buildFrameText(char letter, const std::string& text);

// True when letter, digits and checksum (the bytes between STX and ETX) sum to a multiple
// of 128. `frame` runs from STX to ETX inclusive.
bool checksumOk(std::span<const uint8_t> frame);

enum class FrameKind {
    Command,         // a letter of the table with its value
    DspPacket,       // 'a', 'b' or 'c': one packet of a signal-processor program (USB only)
    SpectrumControl, // 's' without checksum: the service selector of the sample output (USB only)
    Invalid,
};

struct ParsedFrame {
    FrameKind kind = FrameKind::Invalid;
    char letter = 0;
    int32_t value = 0;   // command value; words in a DSP packet; selector index
    size_t length = 0;   // bytes from STX to ETX inclusive (0 when invalid)
    std::string error;   // why the frame is invalid, in Russian
};

// Parses one frame starting at bytes[0]. `fromUsb` admits the raw frames that only the USB
// link carries; over USB the frame sits at the start of a 64-byte buffer and the bytes after
// its ETX are ignored.
ParsedFrame parseFrame(std::span<const uint8_t> bytes, bool fromUsb);

// Cuts frames out of a byte stream: a frame starts at STX and ends at the next ETX. Bytes
// outside a frame are counted as junk; a frame longer than kMaxFrame is dropped.
class FrameAssembler {
public:
    static constexpr size_t kMaxFrame = 64;

    // Feeds one byte; returns true when it completed a frame, which frame() then holds.
    bool feed(uint8_t b);
    const std::vector<uint8_t>& frame() const { return frame_; }
    // Bytes dropped since the last call (outside frames or in overlong ones); resets the count.
    size_t takeDropped();

private:
    std::vector<uint8_t> frame_;
    bool inFrame_ = false;
    bool complete_ = false;
    size_t dropped_ = 0;
};

// "02 46 30 ..." for the log.
std::string hexBytes(std::span<const uint8_t> bytes);

} // namespace sim
