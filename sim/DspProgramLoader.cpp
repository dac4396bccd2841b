#include "sim/DspProgramLoader.h"

#include <array>
#include <cstdio>

namespace sim {

namespace {

std::array<uint32_t, 256> crcTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

} // namespace

uint32_t crc32(std::span<const uint8_t> bytes) {
    static const std::array<uint32_t, 256> table = crcTable();
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::optional<DspProgramLoader::Loaded> DspProgramLoader::packet(char letter, std::span<const uint8_t> data,
                                                                 std::string& warning) {
    if (letter == 'a') {
        if (loading_) warning = "незавершённая загрузка программы отброшена (слов: " +
                                std::to_string(incoming_.size() / 4) + ")";
        incoming_.clear();
        loading_ = true;
    } else if (!loading_) {
        warning = std::string("пакет программы '") + letter + "' без начального 'a', отброшен";
        return std::nullopt;
    }
    if (incoming_.size() + data.size() > kMaxWords * 4) {
        warning = "программа длиннее " + std::to_string(kMaxWords) + " слов, загрузка отброшена";
        incoming_.clear();
        loading_ = false;
        return std::nullopt;
    }
    incoming_.insert(incoming_.end(), data.begin(), data.end());
    if (letter != 'c') return std::nullopt;
    loading_ = false;
    program_ = std::move(incoming_);
    incoming_.clear();
    return Loaded{program_.size() / 4, crc32(program_)};
}

std::string describeLoad(const DspProgramLoader::Loaded& load) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", unsigned(load.crc));
    return "программа DSP принята: слов " + std::to_string(load.words) + ", CRC-32 " + crc;
}

} // namespace sim
