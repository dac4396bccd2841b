// The stand-in's pool accounting per tag, so tests can prove that nothing leaks, and its
// hook for running out of pool.
#pragma once

#include "platform/nt/Pool.h"

#include <cstddef>
#include <cstdint>

// Pool tags are four characters read as a little-endian number, so "Wdm " reads 0x206D6457.
constexpr ULONG MakePoolTag(const char (&s)[5])
{
    return ULONG(uint8_t(s[0])) | ULONG(uint8_t(s[1])) << 8 | ULONG(uint8_t(s[2])) << 16 |
           ULONG(uint8_t(s[3])) << 24;
}

namespace nt {

struct PoolUsage {
    size_t blocks = 0;  // allocated and not yet freed
    size_t bytes = 0;
};

PoolUsage PoolUsageOfTag(ULONG tag);
PoolUsage PoolUsageTotal();

// Test hook: the next `after` allocations succeed, then `count` fail, then all succeed again.
void FailPoolAllocations(size_t after, size_t count);

} // namespace nt
