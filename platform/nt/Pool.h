// Pool memory with tags. Freeing a null or foreign block, allocating while holding a spin
// lock, or paged pool above passive level is a bug check, as on a real kernel.
#pragma once

#include "NtDef.h"

enum POOL_TYPE { NonPagedPool = 0, PagedPool = 1 };

// Returns null when the pool is exhausted.
PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag);
void ExFreePool(PVOID block);
void ExFreePoolWithTag(PVOID block, ULONG tag);
