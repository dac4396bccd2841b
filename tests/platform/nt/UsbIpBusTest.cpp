// The whole stack over USB/IP: the kernel stand-in started with one call, the receiver
// driver, the bus client, and a scripted USB/IP server on a loopback port.
#include "UsbIpPeer.h"

#include "driver/UsbVestra.h"
#include "platform/nt/IoUser.h"
#include "platform/nt/KernelStandIn.h"
#include "platform/nt/PnpManager.h"
#include "platform/nt/IoStandIn.h"
#include "platform/nt/PoolStandIn.h"
#include "platform/win32/File.h"
#include "platform/win32/Sync.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

using namespace usbiptest;
using namespace usbkrn;

HANDLE TryOpen()
{
    return CreateFileA(kUserDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

// Opens the device once the bus has imported it.
HANDLE OpenWhenThere(std::chrono::milliseconds limit = 5s)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        HANDLE h = TryOpen();
        if (h != INVALID_HANDLE_VALUE) return h;
        Sleep(20);
    }
    return INVALID_HANDLE_VALUE;
}

struct Request {
    explicit Request(size_t size) : buffer(size) { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Request() { CloseHandle(ov.hEvent); }
    BOOL Issue(HANDLE h, DWORD code, bool out)
    {
        DWORD size = DWORD(buffer.size());
        BOOL ok = DeviceIoControl(h, code, out ? buffer.data() : nullptr, out ? size : 0,
                                  out ? nullptr : buffer.data(), out ? 0 : size, nullptr, &ov);
        error = ok ? 0 : GetLastError();
        return ok;
    }
    bool Wait() { return WaitForSingleObject(ov.hEvent, 3000) == WAIT_OBJECT_0; }
    OVERLAPPED ov{};
    std::vector<uint8_t> buffer;
    DWORD error = 0;
};

class UsbIpStack : public ::testing::Test {
protected:
    void Start(nt::UsbBusConfig config = {})
    {
        config.server = peer.Address();
        ASSERT_TRUE(nt::StartKernelStandIn(config));  // the driver beside libvestra_nt.so
    }
    void TearDown() override
    {
        nt::StopKernelStandIn();
        EXPECT_EQ(nt::PoolUsageTotal().blocks, 0u);
        EXPECT_EQ(nt::IrpsOutstanding(), 0);
        EXPECT_FALSE(nt::PnpRunning());
    }
    UsbIpPeer peer;
};

TEST_F(UsbIpStack, ReportReadCommandWriteAndUnplug)
{
    Start();
    HANDLE h = OpenWhenThere();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HANDLE removal = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    uint32_t value = uint32_t(reinterpret_cast<uintptr_t>(removal));
    DWORD n = 0;
    OVERLAPPED reg{};
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_SET_REMOVAL_EVENT, &value, 4, nullptr, 0, &n, &reg));

    Request report(64);
    EXPECT_FALSE(report.Issue(h, IOCTL_READ_INTERRUPT, false));
    EXPECT_EQ(report.error, ERROR_IO_PENDING);
    auto in = peer.WaitSubmit(5);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->cmd.base.direction, usbip::DirIn);
    EXPECT_EQ(in->cmd.transferBufferLength, 64);
    std::vector<uint8_t> frame(64, 0);
    frame[0] = 2;
    frame[1] = 'F';
    peer.Reply(in->cmd, 0, frame);
    ASSERT_TRUE(report.Wait());
    ASSERT_TRUE(GetOverlappedResult(h, &report.ov, &n, FALSE));
    EXPECT_EQ(n, 64u);
    EXPECT_EQ(report.buffer, frame);

    Request command(64);
    for (size_t i = 0; i < 64; ++i) command.buffer[i] = uint8_t(i);
    command.Issue(h, IOCTL_WRITE_COMMAND, true);
    auto out = peer.WaitSubmit(6);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->cmd.base.direction, usbip::DirOut);
    EXPECT_EQ(out->out, command.buffer);
    peer.Reply(out->cmd, 0, {});
    ASSERT_TRUE(command.Wait());
    ASSERT_TRUE(GetOverlappedResult(h, &command.ov, &n, FALSE));
    EXPECT_EQ(n, 64u);

    // The connection drops while a read is pending, and the server exports nothing for now.
    Request pending(64);
    pending.Issue(h, IOCTL_READ_INTERRUPT, false);
    ASSERT_TRUE(peer.WaitSubmit(5));
    // The driver hears of it as a surprise removal (and sets the event) before the read fails.
    peer.Export({});
    peer.Drop();
    ASSERT_TRUE(pending.Wait());
    EXPECT_EQ(WaitForSingleObject(removal, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(h, &pending.ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    CloseHandle(h);
    Sleep(100);
    EXPECT_EQ(TryOpen(), INVALID_HANDLE_VALUE);

    peer.Export({UsbIpPeer::Receiver("1-1")});
    HANDLE again = OpenWhenThere();
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
    CloseHandle(removal);
}

TEST_F(UsbIpStack, CancelUnlinksAndALateReplyIsAbsorbed)
{
    Start();
    HANDLE h = OpenWhenThere();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    for (bool lateReply : {true, false}) {
        Request read(4096);
        read.Issue(h, IOCTL_READ_BULK2, false);
        auto submit = peer.WaitSubmit(1);
        ASSERT_TRUE(submit);
        CancelIo(h);
        ASSERT_TRUE(read.Wait());
        DWORD n;
        EXPECT_FALSE(GetOverlappedResult(h, &read.ov, &n, FALSE));
        EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
        auto unlink = peer.WaitUnlink();
        ASSERT_TRUE(unlink);
        EXPECT_EQ(unlink->unlinkSeqnum, submit->cmd.base.seqnum);
        if (lateReply) {
            peer.Reply(submit->cmd, 0, std::vector<uint8_t>(4096, 9));
            peer.ReplyUnlink(*unlink, 0);
        } else {
            peer.ReplyUnlink(*unlink, -ECONNRESET);
        }
    }
    // The stream is still in step: the next transfer works.
    Request read(64);
    read.Issue(h, IOCTL_READ_INTERRUPT, false);
    auto submit = peer.WaitSubmit(5);
    ASSERT_TRUE(submit);
    peer.Reply(submit->cmd, 0, std::vector<uint8_t>(64, 1));
    ASSERT_TRUE(read.Wait());
    DWORD n;
    EXPECT_TRUE(GetOverlappedResult(h, &read.ov, &n, FALSE));
    CloseHandle(h);
}

TEST_F(UsbIpStack, ManyInterruptReadsPendTogetherWithoutHoldingUpOthers)
{
    Start();
    HANDLE h = OpenWhenThere();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<std::unique_ptr<Request>> reads;
    for (int i = 0; i < 8; ++i) {
        reads.push_back(std::make_unique<Request>(64));
        reads.back()->Issue(h, IOCTL_READ_INTERRUPT, false);
    }
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(peer.WaitSubmit(5));  // unanswered
    Request block(4096);
    block.Issue(h, IOCTL_READ_BULK2, false);
    auto submit = peer.WaitSubmit(1);
    ASSERT_TRUE(submit);
    peer.Reply(submit->cmd, 0, std::vector<uint8_t>(4096, 2));
    ASSERT_TRUE(block.Wait());
    CloseHandle(h);  // cancels the eight reads
    for (auto& r : reads) EXPECT_TRUE(r->Wait());
}

struct Malformed {
    const char* name;
    std::function<void(UsbIpPeer&, const Submit&)> send;
};

class BrokenStreams : public UsbIpStack, public ::testing::WithParamInterface<Malformed> {};

TEST_P(BrokenStreams, EndTheConnectionAsAnUnplug)
{
    Start();
    HANDLE h = OpenWhenThere();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Request read(64);
    read.Issue(h, IOCTL_READ_INTERRUPT, false);
    auto submit = peer.WaitSubmit(5);
    ASSERT_TRUE(submit);
    peer.Export({});
    GetParam().send(peer, *submit);
    ASSERT_TRUE(read.Wait());
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(h, &read.ov, &n, FALSE));
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BrokenStreams,
    ::testing::Values(
        Malformed{"UnknownSeqnum", [](UsbIpPeer& p, const Submit& s) { p.Reply(s.cmd, 0, std::vector<uint8_t>(64), -1, 999999); }},
        Malformed{"LongerThanAsked", [](UsbIpPeer& p, const Submit& s) { p.Reply(s.cmd, 0, std::vector<uint8_t>(65)); }},
        Malformed{"UnknownUnlink", [](UsbIpPeer& p, const Submit&) {
            usbip::CmdUnlink u;
            u.base.seqnum = 4242;
            p.ReplyUnlink(u, 0);
        }},
        Malformed{"UnknownCommand", [](UsbIpPeer& p, const Submit&) {
            std::vector<uint8_t> bytes(48, 0);
            bytes[3] = 9;
            p.Write(bytes);
        }},
        Malformed{"CommandFromServer", [](UsbIpPeer& p, const Submit& s) {
            auto h = usbip::encodeHeader(s.cmd);
            p.Write(std::vector<uint8_t>(h.begin(), h.end()));
        }}),
    [](const auto& info) { return std::string(info.param.name); });

struct ImportCase {
    const char* name;
    std::vector<usbip::DevlistEntry> exported;
    std::string device;  // "VVVV:PPPP" or empty for the default
    std::string busid;
    std::vector<std::string> imported;
};

class Imports : public UsbIpStack, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(Imports, OnlyTheConfiguredDeviceIsImported)
{
    const auto& c = GetParam();
    peer.Export(c.exported);
    nt::UsbBusConfig config;
    if (!c.device.empty()) {
        ASSERT_TRUE(nt::ParseUsbDeviceIds(c.device, &config.vendorId, &config.productId));
    }
    config.busId = c.busid;
    Start(config);
    HANDLE h = OpenWhenThere(c.imported.empty() ? 700ms : 5s);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, !c.imported.empty());
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(peer.Imported(), c.imported);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Imports,
    ::testing::Values(
        ImportCase{"FirstMatchAfterAStranger", {UsbIpPeer::Receiver("1-2", 0x1234, 0x5678), UsbIpPeer::Receiver("1-3")}, "", "", {"1-3"}},
        ImportCase{"StrangerOnlyIsLeftAlone", {UsbIpPeer::Receiver("1-2", 0x1234, 0x5678)}, "", "", {}},
        ImportCase{"BusIdChoosesAmongMatches", {UsbIpPeer::Receiver("1-1"), UsbIpPeer::Receiver("1-4")}, "", "1-4", {"1-4"}},
        ImportCase{"BusIdOfAStrangerIsRefused", {UsbIpPeer::Receiver("1-2", 0x1234, 0x5678)}, "", "1-2", {}},
        ImportCase{"OtherIdsInUpperCase", {UsbIpPeer::Receiver("1-1"), UsbIpPeer::Receiver("1-2", 0xABCD, 0x00EF)}, "ABCD:00ef", "", {"1-2"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UsbDeviceIds, ParseAsLsusbPrintsThem)
{
    uint16_t v = 0, p = 0;
    EXPECT_TRUE(nt::ParseUsbDeviceIds("7e57:5652", &v, &p));
    EXPECT_EQ(v, 0x7E57);
    EXPECT_EQ(p, 0x5652);
    for (const char* bad : {"", "7e57", "7e57:565", "7e57-5652", "7e57:56520", "xe57:5652", " 7e57:5652"})
        EXPECT_FALSE(nt::ParseUsbDeviceIds(bad, &v, &p)) << bad;
}

} // namespace
