// The rigctld line protocol's replies, checked against the examples of Hamlib's rigctld
// manual (default protocol and extended response mode).
#include <gtest/gtest.h>

#include "app/remote/RigctlProtocol.h"

using rigctl::FormatReply;
using rigctl::ParseLine;
using rigctl::Reply;

namespace {

const Reply kSetOk = Reply::Error(rigctl::kOk);
const Reply kMode{{{"Mode", "USB"}, {"Passband", "2400"}}, rigctl::kOk};

struct ReplyCase {
  const char* line;
  const char* longName;
  Reply reply;
  const char* expected;
};

class ReplyFormat : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyFormat, AsTheManualShows) {
  const ReplyCase& c = GetParam();
  const auto request = ParseLine(c.line);
  ASSERT_TRUE(request);
  EXPECT_EQ(FormatReply(*request, c.longName, c.reply), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Manual, ReplyFormat,
    ::testing::Values(
        ReplyCase{"F 14250000", "set_freq", kSetOk, "RPRT 0\n"},
        ReplyCase{"f", "get_freq", Reply::Value("Frequency", "14250000"), "14250000\n"},
        ReplyCase{"m", "get_mode", kMode, "USB\n2400\n"},
        ReplyCase{"F 40000000", "set_freq", Reply::Error(-1), "RPRT -1\n"},
        ReplyCase{"+M USB 2400", "set_mode", kSetOk, "set_mode: USB 2400\nRPRT 0\n"},
        ReplyCase{"+\\get_mode", "get_mode", kMode, "get_mode:\nMode: USB\nPassband: 2400\nRPRT 0\n"},
        ReplyCase{";\\get_mode", "get_mode", kMode, "get_mode:;Mode: USB;Passband: 2400;RPRT 0;\n"},
        ReplyCase{"|\\get_mode", "get_mode", kMode, "get_mode:|Mode: USB|Passband: 2400|RPRT 0|\n"},
        ReplyCase{"|M USB 2400", "set_mode", kSetOk, "set_mode: USB 2400|RPRT 0|\n"},
        // A get that fails gives no values in either mode, only its code.
        ReplyCase{"+l SQL", "get_level", Reply::Error(-11), "get_level: SQL\nRPRT -11\n"}));

TEST(RigctlLine, BlankAndCommentLinesCarryNoCommand) {
  for (const char* line : {"", "   ", "\r", "# a comment", "  # indented comment"})
    EXPECT_FALSE(ParseLine(line)) << '"' << line << '"';
}

TEST(RigctlLine, WordsAreSplitOnBlanksAndTheCarriageReturnIsDropped) {
  const auto r = ParseLine("  M\tUSB   2400 \r");
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->extended);
  EXPECT_EQ(r->command, "M");
  EXPECT_EQ(r->args, (std::vector<std::string>{"USB", "2400"}));
}

struct NumberCase {
  const char* text;
  std::optional<double> value;
};

TEST(RigctlNumbers, DecimalOnly) {
  const NumberCase cases[] = {
      {"7100000", 7100000.0}, {"7100000.000000", 7100000.0}, {"7.1e6", 7100000.0}, {"+5", 5.0},
      {"-1", -1.0},           {"0.5", 0.5},                  {"", std::nullopt},   {"0x6C5FE0", std::nullopt},
      {"inf", std::nullopt},  {"nan", std::nullopt},         {"7.1.2", std::nullopt}, {"12abc", std::nullopt},
      {"+-5", std::nullopt},  {"1e999", std::nullopt}};
  for (const NumberCase& c : cases) EXPECT_EQ(rigctl::ParseNumber(c.text), c.value) << c.text;
}

}  // namespace
