// The receiver's side of a DSP program load: the USB packets 'a' (first), 'b' (middle) and
// 'c' (last), each with its words of four bytes, put back together into one program. A
// finished load is told with its word count and the CRC-32 of its bytes (the CRC of zlib
// and of a gzip trailer), so a test or a person can compare it with the file that was sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// CRC-32 (reflected polynomial 0xEDB88320, initial and final value 0xFFFFFFFF).
uint32_t crc32(std::span<const uint8_t> bytes);

class DspProgramLoader {
public:
    // The receiver's program memory: 64 KiB, in words.
    static constexpr size_t kMaxWords = 16384;

    struct Loaded {
        size_t words;
        uint32_t crc;
    };

    // One packet: its letter and the 4·k program bytes it carries. Returns the program when
    // 'c' completes it. `warning` gets why a packet was not taken, or what an 'a' abandoned.
    std::optional<Loaded> packet(char letter, std::span<const uint8_t> data, std::string& warning);

    // The last program completed.
    const std::vector<uint8_t>& program() const { return program_; }
    bool loading() const { return loading_; }

private:
    std::vector<uint8_t> incoming_;
    std::vector<uint8_t> program_;
    bool loading_ = false;
};

// "программа DSP принята: слов 16383, CRC-32 1A2B3C4D"
std::string describeLoad(const DspProgramLoader::Loaded& load);

} // namespace sim
