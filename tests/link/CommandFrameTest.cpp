// Command frames: the byte layout, and the properties the receiving side relies on for
// every letter over its whole range of values.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/link/Ucmd.h"

namespace {

std::vector<uint8_t> Build(char letter, uint8_t digits, int32_t value) {
  std::vector<uint8_t> out(digits + 4u);
  EXPECT_EQ(cmd::BuildCommandPacket(letter, digits, value, out.data()), out.size());
  return out;
}

struct Example {
  char letter;
  uint8_t digits;
  int32_t value;
  std::vector<uint8_t> frame;
};

TEST(CommandFrame, MatchesTheDocumentedExamples) {
  const Example examples[] = {
      {'F', 8, 1000000, {0x02, 0x46, 0x30, 0x31, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0xB9, 0x03}},
      {'F', 8, 30000000, {0x02, 0x46, 0x33, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0xB7, 0x03}},
      {'H', 5, 3000, {0x02, 0x48, 0x30, 0x33, 0x30, 0x30, 0x30, 0xC5, 0x03}},
      {'L', 5, -1850, {0x02, 0x4C, 0x2D, 0x31, 0x38, 0x35, 0x30, 0xB9, 0x03}},
      {'X', 3, -5, {0x02, 0x58, 0x2D, 0x30, 0x35, 0x96, 0x03}},
      {'E', 2, 90, {0x02, 0x45, 0x39, 0x30, 0xD2, 0x03}},
      {'s', 1, 1, {0x02, 0x73, 0x31, 0xDC, 0x03}},
  };
  for (const auto& e : examples)
    EXPECT_EQ(Build(e.letter, e.digits, e.value), e.frame) << e.letter << " " << e.value;
}

TEST(CommandFrame, PadsZeroAndPutsTheSignFirst) {
  EXPECT_EQ(Build('B', 2, 0), (std::vector<uint8_t>{0x02, 'B', '0', '0', 0x80 | uint8_t(256 - 'B' - 2 * '0'), 0x03}));
  const auto minus5 = Build('X', 3, -5);
  EXPECT_EQ(std::string(minus5.begin() + 2, minus5.begin() + 5), "-05");
  // Digits beyond the count are dropped; a sign that needs the last position takes it.
  const auto big = Build('C', 2, 12345);
  EXPECT_EQ(std::string(big.begin() + 2, big.begin() + 4), "45");
  const auto full = Build('X', 3, -123);
  EXPECT_EQ(std::string(full.begin() + 2, full.begin() + 5), "-23");
}

TEST(CommandFrame, ExtremeValuesStayInsideTheFrame) {
  for (int32_t v : {INT32_MIN, INT32_MAX, -1, 0}) {
    const auto f = Build('F', 8, v);
    EXPECT_EQ(f.front(), cmd::STX);
    EXPECT_EQ(f.back(), cmd::ETX);
    EXPECT_TRUE(cmd::ChecksumOk(f.data() + 1, f.size() - 2));
  }
}

// The range of values each letter carries.
struct Range {
  cmd::Command command;
  int32_t min, max;
};

TEST(CommandFrame, EveryLetterOverItsRangeChecksAndDecodes) {
  const Range ranges[] = {
      {cmd::Frequency, 1000000, 30000999}, {cmd::Mode, 0, 99},          {cmd::Bandwidth, 500, 12000},
      {cmd::BeatTone, -4000, 4000},        {cmd::SidebandShift, 0, 4000}, {cmd::AgcThreshold, -20, 20},
      {cmd::GainMode, 0, 6},               {cmd::IfGain, 0, 99},        {cmd::LfGain, 0, 40},
      {cmd::Attenuator, 0, 45},            {cmd::Preamp, 0, 1},         {cmd::SampleStream, 0, 1},
      {cmd::LfBand, 0, 2},                 {cmd::FilterShape, 0, 1},    {cmd::Reference, 0, 3},
      {cmd::TlgShaper, 0, 3},              {cmd::NoiseSuppression, 0, 1}, {cmd::NoiseTau, 1, 50},
      {cmd::NoiseThreshold, -9, 99},       {cmd::TestSignal, 0, 6},     {cmd::TestSignalIf, 10, 5000},
      {cmd::TlgSpeed, 45, 2400},           {cmd::FreqShift, 85, 1200},  {cmd::LfGenerator, 0, 4000},
      {cmd::NotchFrequency, 0, 4000},      {cmd::NotchWidth, 0, 1000},  {cmd::DecoderMode, 0, 4},
      {cmd::ServiceRegister, 100000, 365535},
  };
  ASSERT_EQ(std::size(ranges), cmd::kVocabulary.size());
  for (const auto& r : ranges) {
    // Every value; the frequency range is sampled with a stride that is not a round number.
    const int32_t stride = r.max - r.min > 200000 ? 997 : 1;
    std::vector<int32_t> values;
    for (int32_t v = r.min; v < r.max; v += stride) values.push_back(v);
    values.push_back(r.max);
    for (const int32_t v : values) {
      const auto f = Build(r.command.letter, r.command.digits, v);
      ASSERT_EQ(f.size(), r.command.digits + 4u);
      ASSERT_EQ(f[0], cmd::STX);
      ASSERT_EQ(f.back(), cmd::ETX);
      ASSERT_TRUE(f[2 + r.command.digits] & 0x80) << r.command.letter << v;
      ASSERT_TRUE(cmd::ChecksumOk(f.data() + 1, r.command.digits + 2)) << r.command.letter << v;
      ASSERT_TRUE(std::none_of(f.begin() + 1, f.end() - 1, [](uint8_t b) { return b == cmd::STX || b == cmd::ETX; }));
      const std::string digits(f.begin() + 2, f.begin() + 2 + r.command.digits);
      ASSERT_EQ(std::stol(digits), v) << r.command.letter << " " << digits;
    }
  }
}

TEST(CommandFrame, VocabularyLettersAreDistinct) {
  std::vector<char> letters;
  for (auto c : cmd::kVocabulary) letters.push_back(c.letter);
  std::sort(letters.begin(), letters.end());
  EXPECT_EQ(std::adjacent_find(letters.begin(), letters.end()), letters.end());
}

}  // namespace
