#include "sim/CommandFrame.h"

#include <gtest/gtest.h>

using namespace sim;

namespace {
std::vector<uint8_t> hex(std::initializer_list<int> v) { return {v.begin(), v.end()}; }
} // namespace

// The frames the PC program sends, byte for byte, parse back into their letter and value.
TEST(CommandFrame, KnownFramesBuildAndParse) {
    struct Case { char letter; int digits; int32_t value; std::vector<uint8_t> bytes; };
    const Case cases[] = {
        {'F', 8, 1000000, hex({0x02, 0x46, 0x30, 0x31, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0xB9, 0x03})},
        {'F', 8, 30000000, hex({0x02, 0x46, 0x33, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0xB7, 0x03})},
        {'H', 5, 3000, hex({0x02, 0x48, 0x30, 0x33, 0x30, 0x30, 0x30, 0xC5, 0x03})},
        {'L', 5, -1850, hex({0x02, 0x4C, 0x2D, 0x31, 0x38, 0x35, 0x30, 0xB9, 0x03})},
        {'X', 3, -5, hex({0x02, 0x58, 0x2D, 0x30, 0x35, 0x96, 0x03})},
        {'E', 2, 90, hex({0x02, 0x45, 0x39, 0x30, 0xD2, 0x03})},
        {'s', 1, 1, hex({0x02, 0x73, 0x31, 0xDC, 0x03})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(buildFrame(c.letter, c.digits, c.value), c.bytes) << c.letter << c.value;
        for (bool usb : {false, true}) {
            auto p = parseFrame(c.bytes, usb);
            EXPECT_EQ(p.kind, FrameKind::Command) << c.letter << " " << p.error;
            EXPECT_EQ(p.letter, c.letter);
            EXPECT_EQ(p.value, c.value);
            EXPECT_EQ(p.length, c.bytes.size());
        }
    }
}

TEST(CommandFrame, EveryLetterAndValueInRangeRoundTrips) {
    for (const auto& l : commandLetters()) {
        for (int32_t v : {l.min, l.max, (l.min + l.max) / 2}) {
            auto f = buildFrame(l.letter, l.digits, v);
            EXPECT_TRUE(checksumOk(f));
            auto p = parseFrame(f, false);
            ASSERT_EQ(p.kind, FrameKind::Command) << l.letter << v << p.error;
            EXPECT_EQ(p.value, v) << l.letter;
        }
    }
}

TEST(CommandFrame, ReportsWithTextValues) {
    EXPECT_EQ(buildFrameText('S', ""), hex({0x02, 0x53, 0xAD, 0x03}));
    auto d = buildFrameText('D', "4A");
    EXPECT_EQ(d.size(), 6u);
    EXPECT_TRUE(checksumOk(d));
    EXPECT_EQ(buildFrame('L', 4, -12), buildFrameText('L', "-012"));
}

TEST(CommandFrame, MalformedFramesAreRejected) {
    auto good = buildFrame('F', 8, 7000000);
    auto with = [&](size_t at, uint8_t b) { auto v = good; v[at] = b; return v; };
    struct Case { const char* what; std::vector<uint8_t> bytes; bool usb; };
    const Case cases[] = {
        {"bad checksum", with(10, uint8_t(good[10] ^ 0x01)), false},
        {"no STX", with(0, 0x20), false},
        {"unknown letter", buildFrameText('Q', "1"), false},
        {"too short for F", buildFrameText('F', "123"), false},
        {"letter in value", buildFrameText('F', "7000A000"), false},
        {"ETX missing", with(11, 0x04), true},
        {"serial frame with trailing bytes", [&] { auto v = good; v.push_back(0); return v; }(), false},
        {"DSP packet over serial", hex({0x02, 'a', 0, 0x03}), false},
        {"DSP packet claiming 9 words", hex({0x02, 'a', 9, 0x03}), true},
        {"two bytes", hex({0x02, 0x46}), true},
    };
    for (const auto& c : cases) {
        auto p = parseFrame(c.bytes, c.usb);
        EXPECT_EQ(p.kind, FrameKind::Invalid) << c.what;
        EXPECT_FALSE(p.error.empty()) << c.what;
    }
}

TEST(CommandFrame, RawUsbFrames) {
    std::vector<uint8_t> buffer(64, 0);
    buffer[0] = 0x02;
    buffer[1] = 'c';
    buffer[2] = 2;
    buffer[11] = 0x03;
    auto p = parseFrame(buffer, true);
    EXPECT_EQ(p.kind, FrameKind::DspPacket);
    EXPECT_EQ(p.value, 2);
    EXPECT_EQ(p.length, 12u);

    auto s = parseFrame(hex({0x02, 0x73, 0x32, 0x03, 0, 0}), true);
    EXPECT_EQ(s.kind, FrameKind::SpectrumControl);
    EXPECT_EQ(s.value, 2);

    // A command in a 64-byte buffer: the zeros after ETX do not matter.
    auto f = buildFrame('B', 2, 12);
    std::vector<uint8_t> padded(64, 0);
    std::copy(f.begin(), f.end(), padded.begin());
    EXPECT_EQ(parseFrame(padded, true).value, 12);
}

TEST(FrameAssembler, CutsFramesFromAStream) {
    auto a = buildFrame('F', 8, 1000000);
    auto b = buildFrame('B', 2, 9);
    std::vector<uint8_t> stream = {'x', 'y'};               // junk before the first STX
    stream.insert(stream.end(), a.begin(), a.begin() + 5);  // an abandoned start
    stream.insert(stream.end(), a.begin(), a.end());
    stream.insert(stream.end(), b.begin(), b.end());
    FrameAssembler asm_;
    std::vector<std::vector<uint8_t>> frames;
    for (uint8_t c : stream)
        if (asm_.feed(c)) frames.push_back(asm_.frame());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], a);
    EXPECT_EQ(frames[1], b);
    EXPECT_EQ(asm_.takeDropped(), 7u);
    EXPECT_EQ(asm_.takeDropped(), 0u);
}

TEST(FrameAssembler, DropsOverlongFrames) {
    FrameAssembler asm_;
    asm_.feed(0x02);
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(asm_.feed('1'));
    EXPECT_FALSE(asm_.feed(0x03)) << "an ETX after an overlong run is not a frame";
    auto b = buildFrame('P', 1, 1);
    bool done = false;
    for (uint8_t c : b) done = asm_.feed(c);
    EXPECT_TRUE(done);
    EXPECT_EQ(asm_.frame(), b);
}
