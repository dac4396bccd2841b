// The simulator's side of a DSP program load: packets put back together in order, the
// checksum of the result, and packets out of order or beyond the program memory.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/DspProgramLoader.h"

namespace sim {
namespace {

std::vector<uint8_t> Text(const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); }

TEST(DspProgramCrc, MatchesTheStandardCheckValues) {
    EXPECT_EQ(crc32(Text("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(Text("12345678")), 0x9AE0DAAFu);
    EXPECT_EQ(crc32({}), 0u);
}

TEST(DspProgramLoader, PacketsMakeOneProgramInOrder) {
    DspProgramLoader loader;
    std::string warning;
    EXPECT_FALSE(loader.packet('a', Text("1234"), warning));
    EXPECT_FALSE(loader.packet('b', Text("5678"), warning));
    auto done = loader.packet('c', Text("abcd"), warning);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->words, 3u);
    EXPECT_EQ(done->crc, 0x3630FD12u);  // "12345678abcd"
    EXPECT_EQ(loader.program(), Text("12345678abcd"));
    EXPECT_EQ(warning, "");
    EXPECT_EQ(describeLoad(*done), "программа DSP принята: слов 3, CRC-32 3630FD12");
    // A last packet with no words still completes the load.
    loader.packet('a', Text("12345678"), warning);
    done = loader.packet('c', {}, warning);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->words, 2u);
    EXPECT_EQ(done->crc, 0x9AE0DAAFu);
}

TEST(DspProgramLoader, PacketsOutOfOrderAreToldAndDropped) {
    struct Row {
        const char* name;
        std::string letters;  // each packet carries one word "wxyz"
        std::optional<size_t> words;
        std::string lastWarning;  // a part of it; empty: the dropped start
    };
    const Row rows[] = {
        {"middle packet first", "b", std::nullopt, "без начального 'a'"},
        {"last packet first", "c", std::nullopt, "без начального 'a'"},
        {"a second start drops the first", "abac", size_t(2), ""},
        {"after a completed load", "acb", std::nullopt, "без начального 'a'"},
    };
    for (const auto& r : rows) {
        DspProgramLoader loader;
        std::optional<DspProgramLoader::Loaded> last;
        std::string warning, lastWarning;
        for (char letter : r.letters) {
            warning.clear();
            last = loader.packet(letter, Text("wxyz"), warning);
            if (!warning.empty()) lastWarning = warning;
        }
        EXPECT_EQ(last.has_value(), r.words.has_value()) << r.name;
        if (last && r.words) {
            EXPECT_EQ(last->words, *r.words) << r.name;
        }
        const std::string wanted = r.lastWarning.empty() ? "отброшена (слов: 2)" : r.lastWarning;
        EXPECT_NE(lastWarning.find(wanted), std::string::npos) << r.name << ": " << lastWarning;
    }
}

TEST(DspProgramLoader, AProgramBeyondTheMemoryIsDropped) {
    DspProgramLoader loader;
    std::string warning;
    const std::vector<uint8_t> packet(32, 0x5A);
    loader.packet('a', packet, warning);
    for (size_t words = 8; words < DspProgramLoader::kMaxWords; words += 8) loader.packet('b', packet, warning);
    EXPECT_EQ(warning, "");
    loader.packet('c', std::vector<uint8_t>(4), warning);
    EXPECT_NE(warning.find("длиннее 16384 слов"), std::string::npos) << warning;
    EXPECT_FALSE(loader.loading());
    warning.clear();
    EXPECT_FALSE(loader.packet('c', {}, warning)) << "the dropped load does not complete later";
}

} // namespace
} // namespace sim
