// scripts/share-receiver.sh where this machine can run it: its arguments, and finding the
// receiver's bus id in the device lists that `usbip list -l` prints (this kernel has no USB,
// so the lists are prepared ones, in usbip's two formats).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/ShellCommand.h"

namespace {

using testsupport::RunShell;
using testsupport::ShellQuote;

const std::string kScript = PVESTRA_SOURCE_DIR "/scripts/share-receiver.sh";

// `usbip list -p -l`: a mouse, the receiver, a second hub port with a storage stick.
constexpr const char* kParsable =
    "busid=1-1#usbid=046d:c077#\n"
    "busid=1-1.2#usbid=7e57:5652#\n"
    "busid=2-3#usbid=0781:5581#\n";
// `usbip list -l`: the same in the readable form, with the product lines.
constexpr const char* kReadable =
    " - busid 1-1 (046d:c077)\n"
    "   Logitech, Inc. : M105 Optical Mouse (046d:c077)\n"
    "\n"
    " - busid 1-1.2 (7e57:5652)\n"
    "   unknown vendor : unknown product (7e57:5652)\n"
    "\n"
    " - busid 2-3 (0781:5581)\n"
    "   SanDisk Corp. : Ultra (0781:5581)\n"
    "\n";
constexpr const char* kTwoReceivers =
    "busid=1-1.2#usbid=7e57:5652#\n"
    "busid=3-4#usbid=7e57:5652#\n";
constexpr const char* kNoReceiver = "busid=1-1#usbid=046d:c077#\n";

struct FindCase {
  const char* name;
  const char* list;       // the prepared device list
  const char* arguments;  // after --find --list FILE
  int status;
  const char* output;     // the whole output (status 0) or a part of the message
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.name; }

class ShareReceiverFind : public ::testing::TestWithParam<FindCase> {};

TEST_P(ShareReceiverFind, PrintsTheBusIdOrSaysWhyNot) {
  const FindCase& c = GetParam();
  const std::string list = ::testing::TempDir() + "usbip-list-" + c.name + ".txt";
  std::ofstream(list) << c.list;
  const auto r = RunShell(ShellQuote(kScript) + " --find --list " + ShellQuote(list) + " " + c.arguments);
  EXPECT_EQ(r.status, c.status) << r.output;
  if (c.status == 0) EXPECT_EQ(r.output, c.output);
  else EXPECT_NE(r.output.find(c.output), std::string::npos) << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ShareReceiverFind,
    ::testing::Values(
        FindCase{"parsable", kParsable, "", 0, "1-1.2\n"},
        FindCase{"readable", kReadable, "", 0, "1-1.2\n"},
        FindCase{"other_device", kReadable, "--device 0781:5581", 0, "2-3\n"},
        FindCase{"ids_in_capitals", kParsable, "--device 7E57:5652", 0, "1-1.2\n"},
        FindCase{"given_bus_id", kNoReceiver, "--busid 4-1", 0, "4-1\n"},
        FindCase{"absent", kNoReceiver, "", 1, "no device 7e57:5652 is plugged"},
        FindCase{"product_line_only", "   unknown vendor : unknown product (7e57:5652)\n", "", 1, "no device"},
        FindCase{"two_receivers", kTwoReceivers, "", 1, "several devices 7e57:5652: 1-1.2 3-4"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ArgumentCase {
  const char* name;
  const char* arguments;
  int status;
  const char* message;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class ShareReceiverArguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ShareReceiverArguments, RefusesWithAMessage) {
  const ArgumentCase& c = GetParam();
  const auto r = RunShell(ShellQuote(kScript) + " " + c.arguments);
  EXPECT_EQ(r.status, c.status) << r.output;
  EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, ShareReceiverArguments,
    ::testing::Values(
        ArgumentCase{"unknown_argument", "--share", 2, "unknown argument '--share'"},
        ArgumentCase{"help", "--help", 2, "usage: share-receiver.sh"},
        ArgumentCase{"device_without_value", "--device", 1, "--device needs a value"},
        ArgumentCase{"device_not_hex", "--device 7e57:56g2", 1, "--device wants VVVV:PPPP"},
        ArgumentCase{"device_too_short", "--device 7e57:565", 1, "--device wants VVVV:PPPP"},
        ArgumentCase{"port_zero", "--port 0", 1, "--port wants 1-65535"},
        ArgumentCase{"port_too_big", "--port 65536", 1, "--port wants 1-65535"},
        ArgumentCase{"port_not_a_number", "--port http", 1, "--port wants 1-65535"},
        ArgumentCase{"bus_id_with_shell", "--busid '1-1;reboot'", 1, "--busid wants a USB bus id"},
        ArgumentCase{"list_when_sharing", "--list /dev/null", 1, "--list goes with --find"},
        ArgumentCase{"unreadable_list", "--find --list /nonexistent/list", 1, "cannot read /nonexistent/list"}),
    [](const auto& info) { return std::string(info.param.name); });

// Binding and unbinding change the machine: an ordinary user is sent to sudo before anything
// is done.
TEST(ShareReceiver, SharingAsAnOrdinaryUserAsksForRoot) {
  std::string script = kScript, as;
  if (::geteuid() == 0) {
    if (RunShell("command -v setpriv").status != 0) GTEST_SKIP() << "no setpriv to drop root";
    as = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    // A copy the ordinary user can reach wherever the source tree lies.
    script = ::testing::TempDir() + "share-receiver.sh";
    ASSERT_EQ(RunShell("install -m 755 " + ShellQuote(kScript) + " " + ShellQuote(script)).status, 0);
  }
  for (const char* action : {"", "--undo"}) {
    const auto r = RunShell(as + ShellQuote(script) + " " + action + " --busid 1-1.2");
    EXPECT_EQ(r.status, 1) << action << ": " << r.output;
    EXPECT_NE(r.output.find("needs root"), std::string::npos) << action << ": " << r.output;
  }
}

}  // namespace
