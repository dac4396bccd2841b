// A script's view of the server: long command names and the extended response mode over a
// plain socket, as in the examples of Hamlib's rigctld manual.
#include "tests/remote/RemoteProgramTest.h"

namespace {

using RigctlExtendedTest = remotetest::RemoteSocketTest;

struct Turn {
  QByteArray line;
  QByteArray answer;
};

TEST_F(RigctlExtendedTest, LongNamesAndEveryPrefix) {
  const Turn cases[] = {
      {"\\get_freq\n", "1000000\n"},
      {"+\\set_mode USB 2400\n", "set_mode: USB 2400\nRPRT 0\n"},
      {"+\\get_mode\n", "get_mode:\nMode: USB\nPassband: 3000\nRPRT 0\n"},
      {";\\get_mode\n", "get_mode:;Mode: USB;Passband: 3000;RPRT 0;\n"},
      {"|m\n", "get_mode:|Mode: USB|Passband: 3000|RPRT 0|\n"},
      {",F 7100000\n", "set_freq: 7100000,RPRT 0,\n"},
      {"+f\n", "get_freq:\nFrequency: 7100000\nRPRT 0\n"},
      {"+\\set_freq 40000000\n", "set_freq: 40000000\nRPRT -1\n"},
      {"+l STRENGTH\n", "get_level: STRENGTH\nLevel Value: -34\nRPRT 0\n"},
      {"+t\n", "get_ptt:\nPTT: 0\nRPRT 0\n"},
      {"+T 1\n", "set_ptt: 1\nRPRT -11\n"},
      {"+v\n", "get_vfo:\nVFO: VFOA\nRPRT 0\n"},
      {"\\chk_vfo\n", "0\n"},
      {"\\get_powerstat\n", "1\n"},
      {"M ?\n", "AM CW USB LSB\n"},
      {"l ?\n", "ATT PREAMP AF AGC STRENGTH\n"},
      {"# a comment, no answer\nf\n", "7100000\n"},
  };
  auto s = Connect();
  for (const Turn& c : cases) {
    const int lines = int(c.answer.count('\n'));
    EXPECT_EQ(Exchange(*s, c.line, lines), c.answer) << c.line.toStdString();
  }
  EXPECT_EQ(received_.front(), "e:1850");  // the ВБП click's first command
  EXPECT_EQ(received_.back(), "F:07100000");
}

TEST_F(RigctlExtendedTest, TheStateDumpEndsWithDoneAndQuitClosesAfterItsAnswer) {
  auto s = Connect();
  const QByteArray dump = Exchange(*s, "\\dump_state\n", 40);
  EXPECT_TRUE(dump.startsWith("1\n2\n0\n1000000.000000 30000000.000000 0xf -1 -1 0x1 0x1\n")) << dump.toStdString();
  EXPECT_TRUE(dump.endsWith("ptt_type=0x0\ndone\n")) << dump.toStdString();
  EXPECT_EQ(Exchange(*s, "q\n"), "RPRT 0\n");
  EXPECT_TRUE(Closed(*s));
}

}  // namespace
