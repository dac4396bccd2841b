// vestra-sim over USB/IP, as the bus driver sees it.
#include "platform/usbip/VestraIds.h"
#include "sim/CommandFrame.h"
#include "tests/sim/SimProcess.h"
#include "tests/sim/UsbIpTestClient.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;
using namespace usbip;
using simtest::Reply;
using simtest::SimProcess;
using simtest::UsbIpTestClient;

namespace {

constexpr uint32_t kEpReports = vestra::kEpReportsIn & 0x0F;
constexpr uint32_t kEpSamples = vestra::kEpSamplesIn & 0x0F;
constexpr uint32_t kEpAux = vestra::kEpAuxIn & 0x0F;
constexpr uint32_t kEpCommands = vestra::kEpCommandsOut;

// What arrived on the two IN endpoints while a client kept transfers pending on both.
struct Arrival {
    std::chrono::steady_clock::time_point at;
    bool block;             // bulk 0x81 (else a report on 0x85)
    int32_t status;
    std::vector<uint8_t> data;
    char letter() const { return data.size() > 1 ? char(data[1]) : 0; }
};

class UsbSession {
public:
    explicit UsbSession(uint16_t port) {
        ok_ = client_.connect(port) && client_.import(vestra::kDefaultBusId) == OpOk;
    }
    bool ok() const { return ok_; }
    UsbIpTestClient& client() { return client_; }

    void command(char letter, int32_t value) {
        auto buffer = simtest::commandBuffer(sim::buildFrame(letter, sim::findLetter(letter)->digits, value));
        auto seq = client_.submit(kEpCommands, DirOut, 64, buffer);
        auto r = client_.waitFor(seq, 2000ms);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 0);
        EXPECT_EQ(r->actualLength, 64);
    }

    // Keeps four report reads and two block reads pending for `span`, as the PC's driver
    // would, and returns what arrived.
    std::vector<Arrival> collect(std::chrono::milliseconds span) {
        while (reportReads_.size() < 4) reportReads_.push_back(client_.submit(kEpReports, DirIn, 64));
        while (blockReads_.size() < 2) blockReads_.push_back(client_.submit(kEpSamples, DirIn, 4096));
        std::vector<Arrival> out;
        auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            auto r = client_.next(20ms);
            if (!r || r->unlink) continue;
            bool block = std::erase(blockReads_, r->seqnum) > 0;
            if (!block) std::erase(reportReads_, r->seqnum);
            out.push_back({std::chrono::steady_clock::now(), block, r->status, r->data});
            if (block) blockReads_.push_back(client_.submit(kEpSamples, DirIn, 4096));
            else reportReads_.push_back(client_.submit(kEpReports, DirIn, 64));
        }
        return out;
    }

private:
    UsbIpTestClient client_;
    bool ok_ = false;
    std::vector<uint32_t> reportReads_, blockReads_;
};

int blocksIn(const std::vector<Arrival>& a) {
    return int(std::count_if(a.begin(), a.end(), [](const Arrival& x) { return x.block; }));
}

} // namespace

TEST(SimUsbIp, DeviceListAndDescriptors) {
    SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    auto list = UsbIpTestClient::devlist(sim.port());
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    const auto& dev = (*list)[0].device;
    EXPECT_EQ(dev.busid, vestra::kDefaultBusId);
    EXPECT_EQ(dev.idVendor, vestra::kVendorId);
    EXPECT_EQ(dev.idProduct, vestra::kProductId);
    EXPECT_EQ(dev.bConfigurationValue, 1);
    ASSERT_EQ((*list)[0].interfaces.size(), 1u);

    UsbIpTestClient c;
    ASSERT_TRUE(c.connect(sim.port()));
    ASSERT_EQ(c.import("1-1"), OpOk);
    auto device = c.control({0x80, ReqGetDescriptor, DescDevice << 8, 0, 64}, 64);
    ASSERT_TRUE(device);
    ASSERT_EQ(device->data.size(), 18u);
    EXPECT_EQ(device->data[8] | device->data[9] << 8, vestra::kVendorId);
    EXPECT_EQ(device->data[10] | device->data[11] << 8, vestra::kProductId);

    auto head = c.control({0x80, ReqGetDescriptor, DescConfiguration << 8, 0, 9}, 9);
    ASSERT_TRUE(head);
    ASSERT_EQ(head->data.size(), 9u);
    uint16_t total = uint16_t(head->data[2] | head->data[3] << 8);
    auto config = c.control({0x80, ReqGetDescriptor, DescConfiguration << 8, 0, total}, total);
    ASSERT_TRUE(config);
    ASSERT_EQ(config->data.size(), total);
    EXPECT_EQ(config->data[5], 1) << "configuration value";
    // Interface 0, alternate setting 0 with four endpoints; then the endpoints in order.
    EXPECT_EQ(config->data[9 + 2], 0);
    EXPECT_EQ(config->data[9 + 3], 0);
    EXPECT_EQ(config->data[9 + 4], 4);
    struct Ep { uint8_t address; uint8_t type; };
    const Ep eps[] = {{0x85, 3}, {0x81, 2}, {0x83, 2}, {0x06, 2}};
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* e = config->data.data() + 18 + 7 * i;
        EXPECT_EQ(e[1], DescEndpoint);
        EXPECT_EQ(e[2], eps[i].address);
        EXPECT_EQ(e[3], eps[i].type);
        EXPECT_EQ(e[4] | e[5] << 8, 64);
    }
    auto product = c.control({0x80, ReqGetDescriptor, DescString << 8 | 2, 0x0409, 255}, 255);
    ASSERT_TRUE(product);
    EXPECT_EQ(product->status, 0);
    EXPECT_EQ(product->data[0], product->data.size());

    struct Req { SetupPacket setup; int32_t status; };
    const Req reqs[] = {
        {{0x00, ReqSetConfiguration, 1, 0, 0}, kStatusOk},
        {{0x01, ReqSetInterface, 0, 0, 0}, kStatusOk},
        {{0x00, ReqSetConfiguration, 7, 0, 0}, kStatusStall},
        {{0x01, ReqSetInterface, 1, 0, 0}, kStatusStall},
        {{0x80, ReqGetDescriptor, DescString << 8 | 9, 0, 255}, kStatusStall},
        {{0x40, 0x55, 0, 0, 0}, kStatusStall}, // vendor request
    };
    for (const auto& r : reqs) {
        auto reply = c.control(r.setup, r.setup.wLength);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, r.status) << int(r.setup.bRequest) << " " << r.setup.wValue;
    }
}

TEST(SimUsbIp, OneImportAtATime) {
    SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    UsbIpTestClient first, second, third;
    ASSERT_TRUE(first.connect(sim.port()));
    EXPECT_EQ(first.import("1-1"), OpOk);
    ASSERT_TRUE(second.connect(sim.port()));
    EXPECT_EQ(second.import("1-1"), OpDeviceBusy);
    EXPECT_TRUE(second.waitClosed(1000ms));
    ASSERT_TRUE(third.connect(sim.port()));
    EXPECT_EQ(third.import("9-9"), OpNoDevice);
}

TEST(SimUsbIp, GainReportAndBlockPerPeriodWhileStreaming) {
    SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    UsbSession s(sim.port());
    ASSERT_TRUE(s.ok());

    auto idle = s.collect(600ms);
    EXPECT_EQ(blocksIn(idle), 0) << "no blocks while the stream is off";
    EXPECT_GE(std::count_if(idle.begin(), idle.end(), [](const Arrival& a) { return a.letter() == 'L'; }), 4);

    s.command('F', 14070000);
    s.command('s', 1);
    auto streaming = s.collect(2100ms);
    int blocks = blocksIn(streaming);
    EXPECT_NEAR(blocks, 22, 2) << "about 10.8 blocks a second";
    // Every block is 4096 bytes and follows its own C report.
    bool sawF = false;
    int pendingC = 0;
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const auto& a : streaming) {
        EXPECT_EQ(a.status, 0);
        if (a.block) {
            EXPECT_EQ(a.data.size(), 4096u);
            EXPECT_EQ(pendingC, 1) << "one C report before each block";
            pendingC = 0;
            times.push_back(a.at);
        } else {
            EXPECT_EQ(a.data.size(), 64u);
            EXPECT_TRUE(sim::checksumOk(std::span<const uint8_t>(a.data).first(
                size_t(std::find(a.data.begin(), a.data.end(), 0x03) - a.data.begin()) + 1)));
            if (a.letter() == 'C') ++pendingC;
            if (a.letter() == 'F') sawF = std::string(a.data.begin() + 2, a.data.begin() + 10) == "14070000";
        }
    }
    EXPECT_TRUE(sawF) << "the F command is answered";
    ASSERT_GE(times.size(), 10u);
    auto span = std::chrono::duration<double, std::milli>(times.back() - times.front()).count();
    EXPECT_NEAR(span / double(times.size() - 1), 92.5, 10.0);

    s.command('s', 0);
    const int late = blocksIn(s.collect(200ms)); // a block already on its way may still come
    EXPECT_EQ(blocksIn(s.collect(600ms)), 0) << "stream off again";
    // The status line counts the blocks handed over.
    const std::string handedOver = "блоков " + std::to_string(blocks + late);
    EXPECT_NE(sim.command("status").value_or("").find(handedOver), std::string::npos) << handedOver;
}

TEST(SimUsbIp, FaultsAffectOneTransferEach) {
    SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    UsbSession s(sim.port());
    ASSERT_TRUE(s.ok());
    s.command('s', 1);
    s.collect(300ms);

    EXPECT_TRUE(sim.command("fault short-block"));
    auto a = s.collect(500ms);
    std::vector<size_t> sizes;
    for (const auto& x : a)
        if (x.block) sizes.push_back(x.data.size());
    ASSERT_GE(sizes.size(), 3u);
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 2048u), 1);
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 4096u), long(sizes.size()) - 1);

    EXPECT_TRUE(sim.command("fault crc"));
    a = s.collect(300ms);
    EXPECT_EQ(std::count_if(a.begin(), a.end(), [](const Arrival& x) { return x.status == kStatusIlSeq; }), 1);
    for (const auto& x : a) {
        if (x.status == kStatusIlSeq) {
            EXPECT_TRUE(x.data.empty());
        }
    }

    EXPECT_TRUE(sim.command("fault stall-bulk"));
    a = s.collect(950ms);
    // A C report followed by another C report before any block announced a block that never came.
    int unanswered = 0;
    bool announced = false;
    for (const auto& x : a) {
        if (x.block) announced = false;
        else if (x.letter() == 'C') {
            if (announced) ++unanswered;
            announced = true;
        }
    }
    EXPECT_EQ(unanswered, 1);
}

TEST(SimUsbIp, UnlinkCancelsPendingTransfers) {
    SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    UsbSession s(sim.port());
    ASSERT_TRUE(s.ok());
    auto& c = s.client();
    auto aux = c.submit(kEpAux, DirIn, 4096);
    auto bulk = c.submit(kEpSamples, DirIn, 4096); // stream off: stays pending
    auto cancelAux = c.unlink(aux);
    auto r = c.waitFor(cancelAux, 1000ms);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->unlink);
    EXPECT_EQ(r->status, kStatusConnReset);
    auto cancelBulk = c.unlink(bulk);
    r = c.waitFor(cancelBulk, 1000ms);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, kStatusConnReset);

    // A transfer that already completed: the unlink answers 0.
    auto out = c.submit(kEpCommands, DirOut, 64, simtest::commandBuffer(sim::buildFrame('P', 1, 0)));
    ASSERT_TRUE(c.waitFor(out, 1000ms));
    r = c.waitFor(c.unlink(out), 1000ms);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0);

    // Neither cancelled transfer completes later, even with data flowing.
    s.command('s', 1);
    EXPECT_FALSE(c.waitFor(aux, 300ms));
    EXPECT_FALSE(c.waitFor(bulk, 300ms));
}

TEST(SimUsbIp, MalformedMessagesCloseOnlyThatConnection) {
    SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    struct Case { const char* what; std::vector<uint8_t> bytes; };
    std::vector<uint8_t> unknown(48, 0);
    unknown[3] = 9;
    std::vector<uint8_t> huge(48, 0);
    huge[3] = CmdSubmitCode;
    huge[24] = 0x10; // OUT transfer of 256 MiB
    std::vector<uint8_t> reply(48, 0);
    reply[3] = RetSubmitCode;
    std::vector<uint8_t> sideways(48, 0);
    sideways[3] = CmdSubmitCode;
    sideways[15] = 5;  // neither IN nor OUT
    sideways[19] = 6;  // the command endpoint
    sideways[27] = 64; // announced, never sent: the server once read it past its buffer
    const Case cases[] = {{"unknown command", unknown}, {"oversized transfer", huge}, {"a reply from the client", reply},
                          {"a transfer without a direction", sideways}};
    for (const auto& cs : cases) {
        UsbIpTestClient c;
        ASSERT_TRUE(c.connect(sim.port()));
        ASSERT_EQ(c.import("1-1"), OpOk) << cs.what;
        c.sendRaw(cs.bytes);
        EXPECT_TRUE(c.waitClosed(1000ms)) << cs.what;
    }
    UsbIpTestClient op;
    ASSERT_TRUE(op.connect(sim.port()));
    op.sendRaw({0x01, 0x00, 0x80, 0x05, 0, 0, 0, 0}); // wrong version
    EXPECT_TRUE(op.waitClosed(1000ms));
    EXPECT_TRUE(sim.running());
    UsbSession s(sim.port());
    EXPECT_TRUE(s.ok()) << "the device is free again";
}

TEST(SimUsbIp, UnplugAndPlug) {
    SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    UsbSession s(sim.port());
    ASSERT_TRUE(s.ok());
    auto answer = sim.command("unplug");
    ASSERT_TRUE(answer);
    EXPECT_TRUE(s.client().waitClosed(1000ms));
    auto list = UsbIpTestClient::devlist(sim.port());
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
    UsbIpTestClient refused;
    ASSERT_TRUE(refused.connect(sim.port()));
    EXPECT_NE(refused.import("1-1"), OpOk);
    ASSERT_TRUE(sim.command("plug"));
    UsbSession again(sim.port());
    EXPECT_TRUE(again.ok());
}

TEST(SimUsbIp, DecoderSendsCharactersOfTheTunedStation) {
    SimProcess sim({"--no-serial"});
    ASSERT_TRUE(sim.started());
    UsbSession s(sim.port());
    ASSERT_TRUE(s.ok());
    s.command('F', 4583000); // FSK station of the default scene, 50 Bd, Russian text
    s.command('H', 1000);
    s.command('O', 1);
    std::vector<std::string> chars;
    for (const auto& a : s.collect(1600ms))
        if (a.letter() == 'D') chars.emplace_back(a.data.begin() + 2, a.data.begin() + 4);
    ASSERT_GE(chars.size(), 8u) << "50 / 7.5 characters a second";
    EXPECT_EQ(chars[0], "00") << "МТК-2 shift to Russian letters first";
    s.command('O', 0);
    s.collect(200ms);
    for (const auto& a : s.collect(800ms)) EXPECT_NE(a.letter(), 'D');
}
