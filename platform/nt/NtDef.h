// Base kernel types, counted strings, memory macros and status codes, with their Windows
// spelling. Free of the C++ library, as everything a driver includes: the types come from
// the compiler's own predefined macros.
#pragma once

typedef __INT32_TYPE__ LONG;
typedef __UINT32_TYPE__ ULONG;
typedef __UINTPTR_TYPE__ ULONG_PTR;
typedef __SIZE_TYPE__ SIZE_T;
typedef __INT64_TYPE__ LONGLONG;
typedef __UINT64_TYPE__ ULONGLONG;
typedef __INT32_TYPE__ NTSTATUS;
typedef __UINT8_TYPE__ UCHAR;
typedef __UINT16_TYPE__ USHORT;
typedef char CHAR;
typedef char CCHAR;
typedef __UINT8_TYPE__ BOOLEAN;
typedef wchar_t WCHAR;
typedef void* PVOID;
typedef void* HANDLE;
typedef ULONG* PULONG;
typedef UCHAR* PUCHAR;
typedef WCHAR* PWSTR;
typedef WCHAR* PWCHAR;
typedef const WCHAR* PCWSTR;
typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;
typedef CCHAR KPROCESSOR_MODE;
typedef ULONG ACCESS_MASK;
typedef LONG KPRIORITY;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

union LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
typedef LARGE_INTEGER* PLARGE_INTEGER;

// A counted string of wide characters; Length and MaximumLength are in bytes.
struct UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};
typedef UNICODE_STRING* PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

// Doubly linked list heads and entries, linked through the records themselves.
struct LIST_ENTRY {
    LIST_ENTRY* Flink;
    LIST_ENTRY* Blink;
};
typedef LIST_ENTRY* PLIST_ENTRY;

#define CONTAINING_RECORD(address, type, field) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - __builtin_offsetof(type, field)))

inline void InitializeListHead(PLIST_ENTRY head) { head->Flink = head->Blink = head; }
inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) { return head->Flink == head; }
inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry)
{
    entry->Flink = head;
    entry->Blink = head->Blink;
    head->Blink->Flink = entry;
    head->Blink = entry;
}
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry)
{
    PLIST_ENTRY next = entry->Flink;
    PLIST_ENTRY previous = entry->Blink;
    previous->Flink = next;
    next->Blink = previous;
    return next == previous;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head)
{
    PLIST_ENTRY entry = head->Flink;
    RemoveEntryList(entry);
    return entry;
}

#define RtlCopyMemory(destination, source, length) __builtin_memcpy((destination), (source), (length))
#define RtlZeroMemory(destination, length) __builtin_memset((destination), 0, (length))

// Sets `string` to the zero-terminated `source` (or empty for null), without copying.
void RtlInitUnicodeString(PUNICODE_STRING string, PCWSTR source);
// Writes `value` in `base` (2, 8, 10 or 16) into the string's buffer.
NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string);
NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source);
NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source);

constexpr KPROCESSOR_MODE KernelMode = 0;
constexpr KPROCESSOR_MODE UserMode = 1;
constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL APC_LEVEL = 1;
constexpr KIRQL DISPATCH_LEVEL = 2;

#define NT_SUCCESS(s) (static_cast<NTSTATUS>(s) >= 0)

constexpr NTSTATUS STATUS_SUCCESS = 0x00000000;
constexpr NTSTATUS STATUS_WAIT_0 = 0x00000000;
constexpr NTSTATUS STATUS_TIMEOUT = 0x00000102;
constexpr NTSTATUS STATUS_PENDING = 0x00000103;
constexpr NTSTATUS STATUS_MORE_PROCESSING_REQUIRED = static_cast<NTSTATUS>(0xC0000016u);
constexpr NTSTATUS STATUS_DEVICE_BUSY = static_cast<NTSTATUS>(0x80000011u);
constexpr NTSTATUS STATUS_UNSUCCESSFUL = static_cast<NTSTATUS>(0xC0000001u);
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = static_cast<NTSTATUS>(0xC0000002u);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);
constexpr NTSTATUS STATUS_NO_SUCH_DEVICE = static_cast<NTSTATUS>(0xC000000Eu);
constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = static_cast<NTSTATUS>(0xC0000010u);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022u);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023u);
constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = static_cast<NTSTATUS>(0x80000005u);
constexpr NTSTATUS STATUS_OBJECT_TYPE_MISMATCH = static_cast<NTSTATUS>(0xC0000024u);
constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = static_cast<NTSTATUS>(0xC0000034u);
constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = static_cast<NTSTATUS>(0xC0000035u);
constexpr NTSTATUS STATUS_CRC_ERROR = static_cast<NTSTATUS>(0xC000003Fu);
constexpr NTSTATUS STATUS_DELETE_PENDING = static_cast<NTSTATUS>(0xC0000056u);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = static_cast<NTSTATUS>(0xC000009Au);
constexpr NTSTATUS STATUS_DEVICE_DATA_ERROR = static_cast<NTSTATUS>(0xC000009Cu);
constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = static_cast<NTSTATUS>(0xC000009Du);
constexpr NTSTATUS STATUS_IO_TIMEOUT = static_cast<NTSTATUS>(0xC00000B5u);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = static_cast<NTSTATUS>(0xC00000BBu);
constexpr NTSTATUS STATUS_CANCELLED = static_cast<NTSTATUS>(0xC0000120u);
constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = static_cast<NTSTATUS>(0xC0000184u);
