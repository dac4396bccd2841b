#include "sim/CommandFrame.h"
#include "sim/ControlConsole.h"
#include "sim/SimOptions.h"

#include <gtest/gtest.h>

using namespace sim;

namespace {

class RecordingTarget : public ConsoleTarget {
public:
    std::vector<std::string> calls;
    std::vector<Signal> added;
    std::vector<uint8_t> report;
    void unplug() override { calls.push_back("unplug"); }
    void plug() override { calls.push_back("plug"); }
    void addSignal(const Signal& s) override { added.push_back(s); }
    size_t removeSignal(int32_t f) override {
        calls.push_back("del " + std::to_string(f));
        return f == 7050000 ? 1 : 0;
    }
    void fault(Fault f) override { calls.push_back("fault " + std::to_string(int(f))); }
    void sendRawReport(const std::vector<uint8_t>& f) override { report = f; }
    std::string status() const override { return "состояние"; }
    void quit() override { calls.push_back("quit"); }
};

} // namespace

TEST(ControlConsole, CommandsReachTheirTarget) {
    struct Case { const char* line; const char* call; };
    const Case cases[] = {
        {"unplug", "unplug"}, {"plug", "plug"}, {"quit", "quit"},
        {"fault crc", "fault 0"}, {"fault short-block", "fault 1"}, {"fault stall-bulk", "fault 2"},
        {"signal del 7050k", "del 7050000"},
    };
    for (const auto& c : cases) {
        RecordingTarget t;
        std::string answer = runConsoleCommand(c.line, t);
        ASSERT_EQ(t.calls.size(), 1u) << c.line;
        EXPECT_EQ(t.calls[0], c.call);
        EXPECT_FALSE(answer.empty());
        EXPECT_EQ(answer.find("ошибка"), std::string::npos) << c.line << ": " << answer;
    }
}

TEST(ControlConsole, SignalAdd) {
    RecordingTarget t;
    runConsoleCommand("signal add 14.07M 35.5 fsk", t);
    ASSERT_EQ(t.added.size(), 1u);
    EXPECT_EQ(t.added[0].frequency, 14070000);
    EXPECT_DOUBLE_EQ(t.added[0].level, 35.5);
    EXPECT_EQ(t.added[0].kind, SignalKind::Fsk);
}

TEST(ControlConsole, LevelsAtTheEndsOfTheRangeAreTaken) {
    for (const char* line : {"signal add 10M 150 carrier", "signal add 10M -50 am"}) {
        RecordingTarget t;
        runConsoleCommand(line, t);
        EXPECT_EQ(t.added.size(), 1u) << line;
    }
}

TEST(ControlConsole, BadInputGetsAClearAnswerAndDoesNothing) {
    const char* lines[] = {
        "dance", "signal add 7050000 40 laser", "signal add abc 40 cw", "signal add 7050000 loud cw",
        "signal add 7050000 40 cw extra", "signal del 1234", "signal", "fault power", "report", "report hex 0x02",
        "report hex 100",
        // Levels past what the synthesiser can carry (1e308 dBµV made its samples NaN).
        "signal add 10M 1e308 carrier", "signal add 10M 150.1 am", "signal add 10M -50.5 cw",
    };
    for (const char* line : lines) {
        RecordingTarget t;
        std::string answer = runConsoleCommand(line, t);
        EXPECT_FALSE(answer.empty()) << line;
        EXPECT_TRUE(t.added.empty() && t.report.empty()) << line;
        EXPECT_TRUE(answer.find("ошибка") != std::string::npos || answer.find("неизвестная") != std::string::npos)
            << line << ": " << answer;
    }
    RecordingTarget t;
    EXPECT_EQ(runConsoleCommand("   ", t), "");
}

TEST(ControlConsole, RawReports) {
    RecordingTarget t;
    runConsoleCommand("report L-012", t);
    EXPECT_EQ(t.report, buildFrame('L', 4, -12));
    runConsoleCommand("report hex 02 46 80 03", t);
    EXPECT_EQ(t.report, (std::vector<uint8_t>{0x02, 0x46, 0x80, 0x03}));
}

TEST(ControlConsole, FrequencyForms) {
    struct Case { const char* text; bool ok; int32_t hz; };
    const Case cases[] = {
        {"7050000", true, 7050000}, {"7050k", true, 7050000}, {"7050.5k", true, 7050500},
        {"14.07M", true, 14070000}, {"-5", false, 0}, {"50M", false, 0}, {"k", false, 0}, {"7,05M", false, 0},
    };
    for (const auto& c : cases) {
        int32_t hz = 0;
        EXPECT_EQ(parseFrequency(c.text, hz), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(hz, c.hz) << c.text;
        }
    }
}

TEST(SimOptions, ParsesEveryOption) {
    struct Case { std::vector<const char*> args; bool ok; bool usb; std::string host; uint16_t port; bool serial; std::string link; std::string log; };
    const Case cases[] = {
        {{"sim"}, true, true, "127.0.0.1", 3240, true, "", ""},
        {{"sim", "--usb", "0.0.0.0:4000", "--serial", "/tmp/x", "--log", "f.log"}, true, true, "0.0.0.0", 4000, true, "/tmp/x", "f.log"},
        {{"sim", "--usb=127.0.0.1:0", "--no-serial"}, true, true, "127.0.0.1", 0, false, "", ""},
        {{"sim", "--no-usb"}, true, false, "127.0.0.1", 3240, true, "", ""},
        {{"sim", "--usb", "nonsense"}, false, true, "", 0, true, "", ""},
        {{"sim", "--serial"}, false, true, "", 0, true, "", ""},
        {{"sim", "--frobnicate"}, false, true, "", 0, true, "", ""},
    };
    for (const auto& c : cases) {
        SimOptions o;
        std::string error;
        bool ok = parseOptions(int(c.args.size()), c.args.data(), o, error);
        EXPECT_EQ(ok, c.ok) << c.args.size() << " " << error;
        if (!ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(o.usb, c.usb);
        EXPECT_EQ(o.usbHost, c.host);
        EXPECT_EQ(o.usbPort, c.port);
        EXPECT_EQ(o.serial, c.serial);
        EXPECT_EQ(o.serialLink, c.link);
        EXPECT_EQ(o.logFile, c.log);
    }
    const char* help[] = {"sim", "--help"};
    SimOptions o;
    std::string error;
    EXPECT_TRUE(parseOptions(2, help, o, error));
    EXPECT_TRUE(o.help);
    for (const char* opt : {"--usb", "--no-usb", "--serial", "--no-serial", "--log", "--help"})
        EXPECT_NE(helpText().find(opt), std::string::npos) << opt;
}
