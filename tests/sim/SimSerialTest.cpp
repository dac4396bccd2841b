// vestra-sim over its pseudo-terminal, as the PC program's serial link sees it.
#include "sim/CommandFrame.h"
#include "tests/sim/SimProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using simtest::SimProcess;

namespace {

// The PC's end of the serial line: raw 19200 8N1, frames cut out with the checksum rule.
class SerialPeer {
public:
    explicit SerialPeer(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::cfsetspeed(&t, B19200);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~SerialPeer() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void send(const std::vector<uint8_t>& frame) { ASSERT_EQ(::write(fd_, frame.data(), frame.size()), ssize_t(frame.size())); }
    void send(char letter, int32_t value) { send(sim::buildFrame(letter, sim::findLetter(letter)->digits, value)); }

    // Frames (checksum passed) received within `span`.
    std::vector<std::vector<uint8_t>> frames(std::chrono::milliseconds span) {
        std::vector<std::vector<uint8_t>> out;
        auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[256];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i)
                if (assembler_.feed(buf[i]) && sim::checksumOk(assembler_.frame())) out.push_back(assembler_.frame());
        }
        return out;
    }
    // The first frame with `letter` within `span`, or an empty vector.
    std::vector<uint8_t> waitFor(char letter, std::chrono::milliseconds span) {
        auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end)
            for (auto& f : frames(20ms))
                if (f[1] == uint8_t(letter)) return f;
        return {};
    }

private:
    int fd_ = -1;
    sim::FrameAssembler assembler_;
};

int countLetter(const std::vector<std::vector<uint8_t>>& frames, char letter) {
    return int(std::count_if(frames.begin(), frames.end(), [&](const auto& f) { return f[1] == uint8_t(letter); }));
}

} // namespace

TEST(SimSerial, StateRequestOnOpenAndFrequencyReport) {
    SimProcess sim({"--no-usb"});
    ASSERT_TRUE(sim.started());
    SerialPeer pc(sim.serialLink());
    ASSERT_TRUE(pc.ok());
    EXPECT_EQ(pc.waitFor('S', 1000ms), sim::buildFrameText('S', ""));
    pc.send('F', 30000000);
    EXPECT_EQ(pc.waitFor('F', 1000ms), sim::buildFrame('F', 8, 30000000));
    auto frames = pc.frames(1000ms);
    EXPECT_NEAR(countLetter(frames, 'L'), 10, 2) << "level reports ten times a second";
}

TEST(SimSerial, FullUploadEndsTheStateRequests) {
    SimProcess sim({"--no-usb"});
    ASSERT_TRUE(sim.started());
    {
        SerialPeer first(sim.serialLink());
        ASSERT_FALSE(first.waitFor('S', 1000ms).empty());
    }
    std::this_thread::sleep_for(300ms); // the simulator looks at the port every 50 ms
    SerialPeer pc(sim.serialLink());
    ASSERT_FALSE(pc.waitFor('S', 1000ms).empty()) << "a port opened again is asked again";
    for (auto [letter, value] : std::initializer_list<std::pair<char, int32_t>>{
             {'F', 9500000}, {'E', 90}, {'H', 8000}, {'R', 0}, {'S', 0}, {'J', 2}, {'X', 0}, {'B', 3},
             {'D', 20}, {'U', 0}, {'I', 0}, {'P', 1}, {'z', 0}, {'i', 0}, {'w', 10}, {'v', 0},
             {'N', 0}, {'O', 0}, {'K', 0}, {'M', 0}})
        pc.send(letter, value);
    EXPECT_EQ(countLetter(pc.frames(3500ms), 'S'), 0);
    auto status = sim.command("status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->find("частота 9500000"), std::string::npos) << *status;
}

TEST(SimSerial, BadFramesAreLoggedAndDropped) {
    SimProcess sim({"--no-usb", "--log", "@DIR/frames.log"});
    std::string log = sim.directory() + "/frames.log";
    ASSERT_TRUE(sim.started());
    SerialPeer pc(sim.serialLink());
    ASSERT_FALSE(pc.waitFor('S', 1000ms).empty());
    auto bad = sim::buildFrame('F', 8, 7000000);
    bad[10] ^= 0x01;
    pc.send(bad);
    pc.send('B', 12);
    pc.frames(300ms);
    sim.closeStdin(); // end of input does not end the simulator
    pc.send('F', 7100000);
    EXPECT_FALSE(pc.waitFor('F', 1000ms).empty());
    EXPECT_TRUE(sim.running());

    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[0].find("serial 02 46 30 37 30 30 30 30 30 30"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("контрольная сумма"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" B 12"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" F 7100000"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[1].substr(0, 2), "20") << "each line starts with its time";
}

TEST(SimConsole, SignalsComeAndGoAtRunTime) {
    SimProcess sim({"--no-usb", "--no-serial"});
    ASSERT_TRUE(sim.started());
    auto level = [&]() {
        auto s = sim.command("status");
        EXPECT_TRUE(s);
        auto at = s ? s->find("уровень ") : std::string::npos;
        return at == std::string::npos ? -1000 : std::atoi(s->c_str() + at + std::string("уровень ").size());
    };
    int before = level(); // 10 MHz, 12 kHz passband: the standard-frequency carrier
    auto added = sim.command("signal add 10002000 70 am");
    ASSERT_TRUE(added);
    EXPECT_NE(added->find("10002000"), std::string::npos) << *added;
    EXPECT_NEAR(level(), 70, 1);
    ASSERT_TRUE(sim.command("signal del 10002k"));
    EXPECT_EQ(level(), before);
    auto unknown = sim.command("frobnicate");
    ASSERT_TRUE(unknown);
    EXPECT_NE(unknown->find("неизвестная команда"), std::string::npos);
    EXPECT_TRUE(sim.running());
    auto bye = sim.command("quit");
    ASSERT_TRUE(bye);
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(SimSerial, LinkReplacesAStaleOneAndGoesAtExit) {
    char pattern[] = "/tmp/vestra-link-test-XXXXXX";
    std::string dir = ::mkdtemp(pattern);
    std::string link = dir + "/sub/ttyVESTRA"; // a missing directory is created
    std::filesystem::create_directories(dir + "/sub");
    std::filesystem::create_symlink("/dev/pts/nonexistent", link); // left by a crashed run
    {
        SimProcess sim({"--no-usb", "--serial", link});
        ASSERT_TRUE(sim.started());
        auto target = std::filesystem::read_symlink(link).string();
        EXPECT_EQ(target.rfind("/dev/pts/", 0), 0u) << target;
        EXPECT_NE(target, "/dev/pts/nonexistent");
        SerialPeer pc(link);
        EXPECT_FALSE(pc.waitFor('S', 1000ms).empty());
        ASSERT_TRUE(sim.command("quit"));
        EXPECT_EQ(sim.terminate(), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(dir);
}
