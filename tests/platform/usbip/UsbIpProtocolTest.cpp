#include "platform/usbip/UsbIpProtocol.h"

#include <gtest/gtest.h>

#include <vector>

using namespace usbip;

namespace {

std::vector<uint8_t> bytesOf(std::initializer_list<int> v) {
    return std::vector<uint8_t>(v.begin(), v.end());
}

UsbDevice sampleDevice() {
    UsbDevice d;
    d.path = "/sys/devices/vestra/1-1";
    d.busid = "1-1";
    d.busnum = 1;
    d.devnum = 2;
    d.speed = SpeedFull;
    d.idVendor = 0x7E57;
    d.idProduct = 0x5652;
    d.bcdDevice = 0x0100;
    d.bConfigurationValue = 1;
    d.bNumConfigurations = 1;
    d.bNumInterfaces = 1;
    return d;
}

} // namespace

TEST(UsbIpOpMessages, CommonPartIsBigEndian) {
    auto b = encodeOpCommon({kVersion, OpRepImport, OpDeviceBusy});
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.end()), bytesOf({0x01, 0x11, 0x00, 0x03, 0, 0, 0, 2}));
    auto req = encodeReqDevlist();
    EXPECT_EQ(std::vector<uint8_t>(req.begin(), req.end()), bytesOf({0x01, 0x11, 0x80, 0x05, 0, 0, 0, 0}));
}

TEST(UsbIpOpMessages, DeviceRecordLayout) {
    auto b = encodeUsbDevice(sampleDevice());
    ASSERT_EQ(b.size(), 312u);
    EXPECT_EQ(b[0], '/');
    EXPECT_EQ(b[255], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[256])), "1-1");
    const size_t n = 288; // after path and busid
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + n, b.end()),
              bytesOf({0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 2, 0x7E, 0x57, 0x56, 0x52, 0x01, 0x00,
                       0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(decodeUsbDevice(b), sampleDevice());
    EXPECT_EQ(sampleDevice().devid(), 0x00010002u);
}

TEST(UsbIpOpMessages, DeviceRecordRejectsUnterminatedText) {
    auto b = encodeUsbDevice(sampleDevice());
    std::fill(b.begin() + 256, b.begin() + 288, 'x'); // busid fills its field, no zero
    EXPECT_FALSE(decodeUsbDevice(b));
}

TEST(UsbIpOpMessages, DevlistRoundTripsWithInterfaces) {
    DevlistEntry one{sampleDevice(), {{0xFF, 0, 0}}};
    DevlistEntry two{sampleDevice(), {{0xFF, 1, 2}, {3, 0, 0}}};
    two.device.busid = "1-2";
    two.device.bNumInterfaces = 2;
    auto bytes = encodeRepDevlist({one, two});
    EXPECT_EQ(bytes.size(), 12u + 312 + 4 + 312 + 8);
    EXPECT_EQ(bytes[11], 2); // ndev
    EXPECT_EQ(bytes[12 + 312], 0xFF);
    auto back = decodeRepDevlist(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, (std::vector<DevlistEntry>{one, two}));
}

TEST(UsbIpOpMessages, DevlistDecodeRejectsBadLengths) {
    auto bytes = encodeRepDevlist({DevlistEntry{sampleDevice(), {{0xFF, 0, 0}}}});
    struct Case { const char* what; std::vector<uint8_t> data; };
    std::vector<Case> cases = {
        {"one byte short", {bytes.begin(), bytes.end() - 1}},
        {"one byte extra", [&] { auto v = bytes; v.push_back(0); return v; }()},
        {"count larger than the records", [&] { auto v = bytes; v[11] = 2; return v; }()},
        {"wrong code", [&] { auto v = bytes; v[3] = 0x03; return v; }()},
        {"wrong version", [&] { auto v = bytes; v[1] = 0x06; return v; }()},
        {"only the common part", {bytes.begin(), bytes.begin() + 8}},
    };
    for (const auto& c : cases) EXPECT_FALSE(decodeRepDevlist(c.data)) << c.what;
    EXPECT_TRUE(decodeRepDevlist(encodeRepDevlist({}))) << "an empty list is valid";
}

TEST(UsbIpOpMessages, ImportRequestAndReply) {
    auto req = encodeReqImport("1-1");
    EXPECT_EQ(req[2], 0x80);
    EXPECT_EQ(req[3], 0x03);
    EXPECT_EQ(req[8], '1');
    EXPECT_EQ(decodeReqImport(req), "1-1");
    EXPECT_FALSE(decodeReqImport(std::span<const uint8_t>(req).first(39)));

    auto dev = sampleDevice();
    auto ok = encodeRepImport(OpOk, &dev);
    ASSERT_EQ(ok.size(), kRepImportSize);
    auto okBack = decodeRepImport(ok);
    ASSERT_TRUE(okBack);
    EXPECT_EQ(okBack->status, OpOk);
    EXPECT_EQ(okBack->device, dev);

    auto busy = encodeRepImport(OpDeviceBusy, &dev);
    ASSERT_EQ(busy.size(), kOpCommonSize) << "a refusal carries no device record";
    auto busyBack = decodeRepImport(busy);
    ASSERT_TRUE(busyBack);
    EXPECT_EQ(busyBack->status, OpDeviceBusy);
    EXPECT_FALSE(busyBack->device);

    auto noDevice = decodeRepImport(encodeRepImport(OpOk, nullptr));
    ASSERT_TRUE(noDevice);
    EXPECT_EQ(noDevice->status, OpError) << "success is never sent without the record";

    EXPECT_FALSE(decodeRepImport(std::span<const uint8_t>(ok).first(kOpCommonSize)))
        << "success without the device record";
    auto refusedLong = ok;
    refusedLong[7] = OpDeviceBusy;
    EXPECT_FALSE(decodeRepImport(refusedLong)) << "refusal followed by a record";
}

TEST(UsbIpHeaders, CmdSubmitLayout) {
    CmdSubmit m;
    m.base = {CmdSubmitCode, 0x01020304, 0x00010002, DirIn, 5};
    m.transferBufferLength = 64;
    m.interval = 10;
    m.numberOfPackets = -1;
    m.setup = encodeSetup({0x80, ReqGetDescriptor, 0x0100, 0, 18});
    auto b = encodeHeader(m);
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.end()),
              bytesOf({0, 0, 0, 1, 1, 2, 3, 4, 0, 1, 0, 2, 0, 0, 0, 1, 0, 0, 0, 5,
                       0, 0, 0, 0, 0, 0, 0, 64, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 10,
                       0x80, 6, 0x00, 0x01, 0, 0, 18, 0}));
    auto back = decodeHeader(b);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::get<CmdSubmit>(*back), m);
    EXPECT_EQ(decodeSetup(m.setup), (SetupPacket{0x80, ReqGetDescriptor, 0x0100, 0, 18}));
}

TEST(UsbIpHeaders, EveryKindRoundTrips) {
    RetSubmit ret;
    ret.base.seqnum = 7;
    ret.status = kStatusIlSeq;
    ret.actualLength = 4096;
    CmdUnlink unlink;
    unlink.base = {CmdUnlinkCode, 9, 0x10002, DirOut, 1};
    unlink.unlinkSeqnum = 7;
    RetUnlink retUnlink;
    retUnlink.base.seqnum = 9;
    retUnlink.status = kStatusConnReset;
    for (const Message& m : std::vector<Message>{ret, unlink, retUnlink}) {
        auto b = encodeHeader(m);
        auto back = decodeHeader(b);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, m);
    }
    auto r = encodeHeader(ret);
    EXPECT_EQ(r[3], RetSubmitCode);
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + 20, r.begin() + 28), bytesOf({0xFF, 0xFF, 0xFF, 0xAC, 0, 0, 0x10, 0}));
    auto u = encodeHeader(unlink);
    EXPECT_EQ(u[23], 7) << "unlink seqnum follows the basic header";
    EXPECT_TRUE(std::all_of(u.begin() + 24, u.end(), [](uint8_t x) { return x == 0; }));
}

TEST(UsbIpHeaders, DecodeErrors) {
    CmdSubmit m;
    auto good = encodeHeader(m);
    struct Case { const char* what; std::vector<uint8_t> data; DecodeError error; };
    std::vector<Case> cases = {
        {"47 bytes", {good.begin(), good.end() - 1}, DecodeError::WrongSize},
        {"49 bytes", [&] { std::vector<uint8_t> v(good.begin(), good.end()); v.push_back(0); return v; }(), DecodeError::WrongSize},
        {"command 0", [&] { std::vector<uint8_t> v(good.begin(), good.end()); v[3] = 0; return v; }(), DecodeError::UnknownCommand},
        {"command 5", [&] { std::vector<uint8_t> v(good.begin(), good.end()); v[3] = 5; return v; }(), DecodeError::UnknownCommand},
        {"negative length", [&] { std::vector<uint8_t> v(good.begin(), good.end()); v[24] = 0x80; return v; }(), DecodeError::BadLength},
    };
    for (const auto& c : cases) {
        DecodeError e = DecodeError::None;
        EXPECT_FALSE(decodeHeader(c.data, &e)) << c.what;
        EXPECT_EQ(e, c.error) << c.what;
    }
}

TEST(UsbIpHeaders, PayloadFollowsDirection) {
    CmdSubmit out;
    out.base.direction = DirOut;
    out.transferBufferLength = 64;
    CmdSubmit in = out;
    in.base.direction = DirIn;
    RetSubmit ret;
    ret.actualLength = 4096;
    EXPECT_EQ(payloadAfter(out), 64u);
    EXPECT_EQ(payloadAfter(in), 0u);
    EXPECT_EQ(payloadAfter(ret, DirIn), 4096u);
    EXPECT_EQ(payloadAfter(ret, DirOut), 0u);
    out.numberOfPackets = -1;
    EXPECT_EQ(payloadAfter(out), 64u) << "-1 means not isochronous";
    out.numberOfPackets = 2;
    EXPECT_EQ(payloadAfter(out), 64u + 32);
}
