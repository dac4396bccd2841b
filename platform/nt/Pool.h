// Non-paged pool with per-tag accounting, so tests can prove that nothing leaks.
#pragma once

#include "platform/nt/NtDef.h"

#include <cstddef>

enum POOL_TYPE { NonPagedPool = 0, PagedPool = 1 };

// Returns null when the pool is exhausted (see nt::FailPoolAllocations).
PVOID ExAllocatePoolWithTag(POOL_TYPE type, size_t bytes, ULONG tag);
void ExFreePool(PVOID block);
void ExFreePoolWithTag(PVOID block, ULONG tag);

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
