// Page-locked system memory for the kernel's buffers: allocated through the
// glue and declared to the board's physical-memory mapper, so that the chip
// may reach it and the core may translate its addresses.
#pragma once

#include <stdint.h>

struct CommonData;
struct OrvDevice;

// The glue device of the board whose common data this is (through the
// context of any of its device objects); null when it has none.
OrvDevice* BoardGlueDevice(CommonData* common);

// pageCount pages: true with their CPU and bus addresses, or false with
// nothing held.
bool MmAllocateLockedPages(CommonData* common, uint32_t unit, uint32_t pageCount, void** cpu,
                           uint64_t* bus);
// Frees pages allocated above, found by their CPU address; false when the
// mapper does not know them (nothing is freed then) or the glue refuses.
bool MmFreeLockedPages(CommonData* common, uint32_t unit, void* cpu);

// The same for AGP memory (the glue's flags AGP and locked) and PCI-locked
// memory (locked): the kernel build of the driver core's system buffers.
bool MmAllocateAGPBuffer(CommonData* common, uint32_t unit, uint32_t pageCount, void** cpu,
                         uint64_t* bus);
bool MmAllocatePciLockedBuffer(CommonData* common, uint32_t unit, uint32_t pageCount, void** cpu,
                               uint64_t* bus);
bool MmFreeAGPBuffer(CommonData* common, uint32_t unit, void* cpu);
bool MmFreePciLockedBuffer(CommonData* common, uint32_t unit, void* cpu);
