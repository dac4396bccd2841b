// A counted kernel name from a wide literal, for the calls that take one.
#pragma once

#include "platform/nt/NtDef.h"

struct KernelName {
    explicit KernelName(PCWSTR text) { RtlInitUnicodeString(&name, text); }
    operator PUNICODE_STRING() { return &name; }
    UNICODE_STRING name;
};
