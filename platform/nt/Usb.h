// The USB driver interface: descriptors, USB request blocks (URBs), pipe and interface
// information, USBD statuses and the USBD configuration routines.
#pragma once

#include "Io.h"

#pragma pack(push, 1)
struct USB_DEVICE_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdUSB;
    UCHAR bDeviceClass;
    UCHAR bDeviceSubClass;
    UCHAR bDeviceProtocol;
    UCHAR bMaxPacketSize0;
    USHORT idVendor;
    USHORT idProduct;
    USHORT bcdDevice;
    UCHAR iManufacturer;
    UCHAR iProduct;
    UCHAR iSerialNumber;
    UCHAR bNumConfigurations;
};
struct USB_CONFIGURATION_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT wTotalLength;
    UCHAR bNumInterfaces;
    UCHAR bConfigurationValue;
    UCHAR iConfiguration;
    UCHAR bmAttributes;
    UCHAR MaxPower;
};
struct USB_INTERFACE_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    UCHAR bInterfaceNumber;
    UCHAR bAlternateSetting;
    UCHAR bNumEndpoints;
    UCHAR bInterfaceClass;
    UCHAR bInterfaceSubClass;
    UCHAR bInterfaceProtocol;
    UCHAR iInterface;
};
struct USB_ENDPOINT_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    UCHAR bEndpointAddress;
    UCHAR bmAttributes;
    USHORT wMaxPacketSize;
    UCHAR bInterval;
};
#pragma pack(pop)
static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18);
static_assert(sizeof(USB_CONFIGURATION_DESCRIPTOR) == 9);
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9);
static_assert(sizeof(USB_ENDPOINT_DESCRIPTOR) == 7);
using PUSB_DEVICE_DESCRIPTOR = USB_DEVICE_DESCRIPTOR*;
using PUSB_CONFIGURATION_DESCRIPTOR = USB_CONFIGURATION_DESCRIPTOR*;
using PUSB_INTERFACE_DESCRIPTOR = USB_INTERFACE_DESCRIPTOR*;
using PUSB_ENDPOINT_DESCRIPTOR = USB_ENDPOINT_DESCRIPTOR*;

constexpr UCHAR USB_DEVICE_DESCRIPTOR_TYPE = 1;
constexpr UCHAR USB_CONFIGURATION_DESCRIPTOR_TYPE = 2;
constexpr UCHAR USB_INTERFACE_DESCRIPTOR_TYPE = 4;
constexpr UCHAR USB_ENDPOINT_DESCRIPTOR_TYPE = 5;
constexpr UCHAR USB_ENDPOINT_DIRECTION_MASK = 0x80;
constexpr UCHAR USB_ENDPOINT_TYPE_MASK = 0x03;

using USBD_STATUS = LONG;
constexpr USBD_STATUS USBD_STATUS_SUCCESS = 0;
constexpr USBD_STATUS USBD_STATUS_PENDING = 0x40000000;
constexpr USBD_STATUS USBD_STATUS_CRC = static_cast<USBD_STATUS>(0xC0000001u);
constexpr USBD_STATUS USBD_STATUS_STALL_PID = static_cast<USBD_STATUS>(0xC0000004u);
constexpr USBD_STATUS USBD_STATUS_DEV_NOT_RESPONDING = static_cast<USBD_STATUS>(0xC0000005u);
constexpr USBD_STATUS USBD_STATUS_BUFFER_OVERRUN = static_cast<USBD_STATUS>(0xC000000Cu);
constexpr USBD_STATUS USBD_STATUS_ENDPOINT_HALTED = static_cast<USBD_STATUS>(0xC0000030u);
constexpr USBD_STATUS USBD_STATUS_INVALID_URB_FUNCTION = static_cast<USBD_STATUS>(0x80000200u);
constexpr USBD_STATUS USBD_STATUS_INVALID_PARAMETER = static_cast<USBD_STATUS>(0x80000300u);
constexpr USBD_STATUS USBD_STATUS_INVALID_PIPE_HANDLE = static_cast<USBD_STATUS>(0x80000600u);
constexpr USBD_STATUS USBD_STATUS_DEVICE_GONE = static_cast<USBD_STATUS>(0xC0007000u);
constexpr USBD_STATUS USBD_STATUS_CANCELED = static_cast<USBD_STATUS>(0xC0010000u);
#define USBD_SUCCESS(s) (static_cast<LONG>(s) >= 0)

using USBD_PIPE_HANDLE = PVOID;
using USBD_CONFIGURATION_HANDLE = PVOID;
using USBD_INTERFACE_HANDLE = PVOID;

enum USBD_PIPE_TYPE { UsbdPipeTypeControl, UsbdPipeTypeIsochronous, UsbdPipeTypeBulk, UsbdPipeTypeInterrupt };

// The maximum transfer size that a configuration request carries unless the driver sets one.
constexpr ULONG USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE = 4096;

struct USBD_PIPE_INFORMATION {
    USHORT MaximumPacketSize;   // filled by the bus driver
    UCHAR EndpointAddress;      // filled by the bus driver
    UCHAR Interval;             // filled by the bus driver
    USBD_PIPE_TYPE PipeType;    // filled by the bus driver
    USBD_PIPE_HANDLE PipeHandle;
    ULONG MaximumTransferSize;  // set by the client driver before it submits
    ULONG PipeFlags;
};
using PUSBD_PIPE_INFORMATION = USBD_PIPE_INFORMATION*;

struct USBD_INTERFACE_INFORMATION {
    USHORT Length;  // of this record with all its pipes
    UCHAR InterfaceNumber;
    UCHAR AlternateSetting;
    UCHAR Class;
    UCHAR SubClass;
    UCHAR Protocol;
    UCHAR Reserved;
    USBD_INTERFACE_HANDLE InterfaceHandle;
    ULONG NumberOfPipes;
    USBD_PIPE_INFORMATION Pipes[1];
};
using PUSBD_INTERFACE_INFORMATION = USBD_INTERFACE_INFORMATION*;

struct USBD_INTERFACE_LIST_ENTRY {
    PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor;  // null ends the list
    PUSBD_INTERFACE_INFORMATION Interface;          // set by USBD_CreateConfigurationRequestEx
};
using PUSBD_INTERFACE_LIST_ENTRY = USBD_INTERFACE_LIST_ENTRY*;

constexpr USHORT URB_FUNCTION_SELECT_CONFIGURATION = 0x0000;
constexpr USHORT URB_FUNCTION_ABORT_PIPE = 0x0002;
constexpr USHORT URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER = 0x0009;
constexpr USHORT URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE = 0x000B;

constexpr ULONG USBD_TRANSFER_DIRECTION_OUT = 0;
constexpr ULONG USBD_TRANSFER_DIRECTION_IN = 1;
constexpr ULONG USBD_SHORT_TRANSFER_OK = 2;

struct _URB_HEADER {
    USHORT Length;
    USHORT Function;
    USBD_STATUS Status;
    PVOID UsbdDeviceHandle;
    ULONG UsbdFlags;
};

struct _URB_HCD_AREA {
    PVOID Reserved8[8];
};

struct _URB_SELECT_CONFIGURATION {
    _URB_HEADER Hdr;
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor;  // null: unconfigure the device
    USBD_CONFIGURATION_HANDLE ConfigurationHandle;
    USBD_INTERFACE_INFORMATION Interface;  // the first of the interfaces, back to back
};

union URB;
struct _URB_BULK_OR_INTERRUPT_TRANSFER {
    _URB_HEADER Hdr;
    USBD_PIPE_HANDLE PipeHandle;
    ULONG TransferFlags;
    ULONG TransferBufferLength;  // in: asked; out: transferred
    PVOID TransferBuffer;
    PVOID TransferBufferMDL;
    URB* UrbLink;
    _URB_HCD_AREA hca;
};

struct _URB_CONTROL_DESCRIPTOR_REQUEST {
    _URB_HEADER Hdr;
    PVOID Reserved;
    ULONG Reserved0;
    ULONG TransferBufferLength;  // in: asked; out: transferred
    PVOID TransferBuffer;
    PVOID TransferBufferMDL;
    URB* UrbLink;
    _URB_HCD_AREA hca;
    USHORT Reserved1;
    UCHAR Index;
    UCHAR DescriptorType;
    USHORT LanguageId;
    USHORT Reserved2;
};

union URB {
    _URB_HEADER UrbHeader;
    _URB_SELECT_CONFIGURATION UrbSelectConfiguration;
    _URB_BULK_OR_INTERRUPT_TRANSFER UrbBulkOrInterruptTransfer;
    _URB_CONTROL_DESCRIPTOR_REQUEST UrbControlDescriptorRequest;
};
using PURB = URB*;

// Internal device control that carries a URB (Parameters.Others.Argument1) to the bus driver.
constexpr ULONG IOCTL_INTERNAL_USB_SUBMIT_URB = CTL_CODE(FILE_DEVICE_USB, 0, METHOD_NEITHER, FILE_ANY_ACCESS);

// The first interface descriptor at or after `start` with the given number and alternate
// setting; -1 for class, subclass or protocol compares nothing. Walks no further than
// wTotalLength; null when there is none.
PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(
    PUSB_CONFIGURATION_DESCRIPTOR config, PVOID start, LONG interfaceNumber,
    LONG alternateSetting, LONG interfaceClass, LONG interfaceSubClass, LONG interfaceProtocol);

// A select-configuration URB for the listed interfaces, from non-paged pool with the tag
// "USBD" (free with ExFreePool); each list entry's Interface points at its record inside the URB, with one pipe
// per endpoint at the default maximum transfer size. Null when out of pool.
PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR config,
                                       PUSBD_INTERFACE_LIST_ENTRY interfaceList);

// Size of an interface information record with `pipes` pipes.
constexpr USHORT GET_USBD_INTERFACE_SIZE(ULONG pipes)
{
    return static_cast<USHORT>(sizeof(USBD_INTERFACE_INFORMATION) +
                               sizeof(USBD_PIPE_INFORMATION) * (pipes ? pipes - 1 : 0));
}
constexpr USHORT GET_SELECT_CONFIGURATION_REQUEST_SIZE(ULONG interfaces, ULONG pipes)
{
    return static_cast<USHORT>(sizeof(_URB_SELECT_CONFIGURATION) +
                               (interfaces ? interfaces - 1 : 0) * sizeof(USBD_INTERFACE_INFORMATION) +
                               (pipes ? pipes - 1 : 0) * sizeof(USBD_PIPE_INFORMATION));
}

void UsbBuildGetDescriptorRequest(PURB urb, USHORT length, UCHAR descriptorType, UCHAR index,
                                  USHORT languageId, PVOID buffer, PVOID mdl, ULONG bufferLength,
                                  PURB link);
void UsbBuildSelectConfigurationRequest(PURB urb, USHORT length,
                                        PUSB_CONFIGURATION_DESCRIPTOR config);
void UsbBuildInterruptOrBulkTransferRequest(PURB urb, USHORT length, USBD_PIPE_HANDLE pipe,
                                            PVOID buffer, PVOID mdl, ULONG bufferLength,
                                            ULONG flags, PURB link);
