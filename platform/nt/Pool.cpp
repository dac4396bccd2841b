// Non-paged pool: each block carries a small header with its tag and size, so freeing it
// updates the accounting of its tag.
#include "platform/nt/PoolStandIn.h"

#include "platform/nt/KeStandIn.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace {

struct alignas(16) BlockHeader {
    uint32_t magic;
    ULONG tag;
    size_t bytes;
};

constexpr uint32_t kLiveMagic = 0x4C4F4F50;  // "POOL"
constexpr uint32_t kFreedMagic = 0x45455246; // "FREE"

struct Accounting {
    std::mutex lock;
    std::map<ULONG, nt::PoolUsage> byTag;
    size_t succeedFirst = 0;
    size_t failCount = 0;
};

Accounting& Acc()
{
    static Accounting* a = new Accounting;
    return *a;
}

} // namespace

PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag)
{
    nt::KeRequireNoSpinLock("ExAllocatePoolWithTag");
    if (type == PagedPool) nt::KeRequirePassive("ExAllocatePoolWithTag of paged pool");
    Accounting& a = Acc();
    {
        std::lock_guard guard(a.lock);
        if (a.failCount) {
            if (a.succeedFirst) {
                --a.succeedFirst;
            } else {
                --a.failCount;
                return nullptr;
            }
        }
    }
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + bytes));
    if (!header) return nullptr;
    header->magic = kLiveMagic;
    header->tag = tag;
    header->bytes = bytes;
    std::lock_guard guard(a.lock);
    auto& usage = a.byTag[tag];
    ++usage.blocks;
    usage.bytes += bytes;
    return header + 1;
}

void ExFreePool(PVOID block)
{
    if (!block) nt::KeBugCheck("ExFreePool(NULL)");
    auto* header = static_cast<BlockHeader*>(block) - 1;
    if (header->magic != kLiveMagic) nt::KeBugCheck("ExFreePool of a block that is not a live pool block");
    header->magic = kFreedMagic;
    {
        Accounting& a = Acc();
        std::lock_guard guard(a.lock);
        auto& usage = a.byTag[header->tag];
        --usage.blocks;
        usage.bytes -= header->bytes;
    }
    std::free(header);
}

void ExFreePoolWithTag(PVOID block, ULONG) { ExFreePool(block); }

namespace nt {

PoolUsage PoolUsageOfTag(ULONG tag)
{
    Accounting& a = Acc();
    std::lock_guard guard(a.lock);
    auto it = a.byTag.find(tag);
    return it == a.byTag.end() ? PoolUsage{} : it->second;
}

PoolUsage PoolUsageTotal()
{
    Accounting& a = Acc();
    std::lock_guard guard(a.lock);
    PoolUsage total;
    for (const auto& [tag, usage] : a.byTag) {
        total.blocks += usage.blocks;
        total.bytes += usage.bytes;
    }
    return total;
}

void FailPoolAllocations(size_t after, size_t count)
{
    Accounting& a = Acc();
    std::lock_guard guard(a.lock);
    a.succeedFirst = after;
    a.failCount = count;
}

} // namespace nt
