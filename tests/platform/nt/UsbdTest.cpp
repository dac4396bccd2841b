// Parsing configuration descriptors and building the select-configuration request.
#include "platform/nt/PoolStandIn.h"
#include "platform/nt/ScriptedUsb.h"
#include "platform/nt/Usb.h"
#include "platform/nt/UsbStatus.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using Bytes = std::vector<uint8_t>;

// Configuration with interface 0 alt 0 (2 endpoints), interface 0 alt 1 (1), interface 1 alt 0 (0).
Bytes ThreeInterfaces()
{
    Bytes d = {9, 2, 0, 0, 2, 1, 0, 0x80, 50,
               9, 4, 0, 0, 2, 0xFF, 1, 2, 0, 7, 5, 0x81, 2, 64, 0, 0, 7, 5, 0x02, 2, 64, 0, 0,
               9, 4, 0, 1, 1, 0xFF, 1, 2, 0, 7, 5, 0x83, 3, 8, 0, 1,
               9, 4, 1, 0, 0, 0x03, 0, 0, 0};
    d[2] = uint8_t(d.size());
    return d;
}

struct ParseCase {
    LONG number, alternate, cls;
    int expectedOffset;  // -1: not found
};

class ParseInterfaces : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseInterfaces, FindsTheInterfaceByNumberAndAlternate)
{
    Bytes d = ThreeInterfaces();
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(d.data());
    auto* found = USBD_ParseConfigurationDescriptorEx(config, config, GetParam().number, GetParam().alternate,
                                                      GetParam().cls, -1, -1);
    int offset = found ? int(reinterpret_cast<uint8_t*>(found) - d.data()) : -1;
    EXPECT_EQ(offset, GetParam().expectedOffset);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseInterfaces,
                         ::testing::Values(ParseCase{0, 0, -1, 9}, ParseCase{0, 1, -1, 32}, ParseCase{1, 0, -1, 48},
                                           ParseCase{1, 1, -1, -1}, ParseCase{-1, 1, -1, 32},
                                           ParseCase{1, -1, 0x03, 48}, ParseCase{0, 0, 0x03, -1}),
                         [](const auto& info) {
                             auto part = [](LONG v) { return v < 0 ? std::string("Any") : std::to_string(v); };
                             return "Interface" + part(info.param.number) + "Alternate" + part(info.param.alternate) +
                                    "Class" + part(info.param.cls);
                         });

TEST(ParseInterfaces, StaysInsideTheTotalLengthAndSurvivesAZeroLength)
{
    Bytes d = ThreeInterfaces();
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(d.data());
    config->wTotalLength = 40;  // interface 0 alt 1 starts at 32 but does not fit
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 0, 1, -1, -1, -1), nullptr);
    Bytes broken = d;
    broken[9] = 0;  // a descriptor of length 0 would loop for ever
    auto* b = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(broken.data());
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(b, b, 1, 0, -1, -1, -1), nullptr);
}

TEST(ConfigurationRequest, OnePipePerEndpointAtTheDefaultMaximum)
{
    Bytes d = nt::ScriptedUsbDevice::ReceiverConfiguration(1, 0, 0, {0x82});
    auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(d.data());
    USBD_INTERFACE_LIST_ENTRY list[2] = {
        {USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1), nullptr}, {nullptr, nullptr}};
    ASSERT_NE(list[0].InterfaceDescriptor, nullptr);
    PURB urb = USBD_CreateConfigurationRequestEx(config, list);
    ASSERT_NE(urb, nullptr);
    EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
    EXPECT_EQ(urb->UrbSelectConfiguration.ConfigurationDescriptor, config);
    ASSERT_EQ(list[0].Interface, &urb->UrbSelectConfiguration.Interface);
    EXPECT_EQ(list[0].Interface->NumberOfPipes, 5u);
    for (ULONG p = 0; p < 5; ++p) EXPECT_EQ(list[0].Interface->Pipes[p].MaximumTransferSize, USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE);
    EXPECT_GE(urb->UrbHeader.Length, GET_SELECT_CONFIGURATION_REQUEST_SIZE(1, 5));
    EXPECT_EQ(nt::PoolUsageOfTag(MakePoolTag("USBD")).blocks, 1u);
    ExFreePool(urb);
    EXPECT_EQ(nt::PoolUsageOfTag(MakePoolTag("USBD")).blocks, 0u);
}

struct StatusCase {
    int32_t linuxStatus;
    USBD_STATUS usbd;
    NTSTATUS nt;
};

class LinuxStatuses : public ::testing::TestWithParam<StatusCase> {};

TEST_P(LinuxStatuses, MapAsTheWindowsStackReportsThem)
{
    auto s = nt::UsbStatusFromLinux(GetParam().linuxStatus);
    EXPECT_EQ(s.usbd, GetParam().usbd);
    EXPECT_EQ(s.nt, GetParam().nt);
}

INSTANTIATE_TEST_SUITE_P(Cases, LinuxStatuses,
                         ::testing::Values(StatusCase{0, USBD_STATUS_SUCCESS, STATUS_SUCCESS},
                                           StatusCase{-EILSEQ, USBD_STATUS_CRC, STATUS_DEVICE_DATA_ERROR},
                                           StatusCase{-EPIPE, USBD_STATUS_STALL_PID, STATUS_UNSUCCESSFUL},
                                           StatusCase{-ECONNRESET, USBD_STATUS_CANCELED, STATUS_CANCELLED},
                                           StatusCase{-ENOENT, USBD_STATUS_CANCELED, STATUS_CANCELLED},
                                           StatusCase{-ESHUTDOWN, USBD_STATUS_DEVICE_GONE, STATUS_DEVICE_NOT_CONNECTED},
                                           StatusCase{-ENODEV, USBD_STATUS_DEVICE_GONE, STATUS_DEVICE_NOT_CONNECTED},
                                           StatusCase{-9999, USBD_STATUS_DEV_NOT_RESPONDING, STATUS_UNSUCCESSFUL}),
                         [](const auto& info) { return "Errno" + std::to_string(-info.param.linuxStatus); });

} // namespace
