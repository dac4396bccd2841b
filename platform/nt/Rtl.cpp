// Counted wide strings: initialising, appending and writing a number.
#include "platform/nt/NtDef.h"

#include "platform/nt/IoStandIn.h"

#include <cwchar>

void RtlInitUnicodeString(PUNICODE_STRING string, PCWSTR source)
{
    size_t length = source ? std::wcslen(source) * sizeof(WCHAR) : 0;
    string->Buffer = const_cast<PWSTR>(source);
    string->Length = static_cast<USHORT>(length);
    string->MaximumLength = static_cast<USHORT>(source ? length + sizeof(WCHAR) : 0);
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    if (destination->Length + source->Length > destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
    std::wmemcpy(destination->Buffer + destination->Length / sizeof(WCHAR), source->Buffer,
                 source->Length / sizeof(WCHAR));
    destination->Length = static_cast<USHORT>(destination->Length + source->Length);
    if (destination->Length + sizeof(WCHAR) <= destination->MaximumLength)
        destination->Buffer[destination->Length / sizeof(WCHAR)] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source)
{
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, source);
    return RtlAppendUnicodeStringToString(destination, &s);
}

NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string)
{
    if (base == 0) base = 10;
    if (base != 2 && base != 8 && base != 10 && base != 16) return STATUS_INVALID_PARAMETER;
    WCHAR digits[33];
    int n = 0;
    do {
        ULONG d = value % base;
        digits[n++] = static_cast<WCHAR>(d < 10 ? L'0' + d : L'A' + d - 10);
        value /= base;
    } while (value);
    if (static_cast<size_t>(n) * sizeof(WCHAR) > string->MaximumLength) return STATUS_BUFFER_OVERFLOW;
    for (int i = 0; i < n; ++i) string->Buffer[i] = digits[n - 1 - i];
    string->Length = static_cast<USHORT>(n * sizeof(WCHAR));
    if (string->Length + sizeof(WCHAR) <= string->MaximumLength) string->Buffer[n] = 0;
    return STATUS_SUCCESS;
}

namespace nt {

std::string NarrowName(PCUNICODE_STRING name)
{
    std::string narrow;
    if (!name || !name->Buffer) return narrow;
    for (USHORT i = 0; i < name->Length / sizeof(WCHAR); ++i)
        narrow += static_cast<char>(name->Buffer[i] < 0x80 ? name->Buffer[i] : '?');
    return narrow;
}

} // namespace nt
