// The frame-buffer layout of a board: how its local memory is cut into the
// areas the surface manager makes heaps from. Partition 0 starts at local
// address 0, partition 1 (absent on boards with one partition) at
// 0x8000000. Kept inside the board's CommonData (192 bytes); every device
// object of the board points to the same record.
#pragma once

#include <stdint.h>

class PDEV;

inline constexpr uint32_t kPartition1Base = 0x8000000;
inline constexpr uint32_t kMappedAreaSize = 0x200000;  // 2 MB, with a partition 1
inline constexpr uint32_t kTopArea0One = 0x100000;     // 1 MB, one partition
inline constexpr uint32_t kTopArea0Two = 0xA0000;      // 640 KB, two partitions
inline constexpr uint32_t kTopArea1 = 0x80000;         // 512 KB
inline constexpr uint32_t kPartition1MainBase = 0x8200000;
inline constexpr uint32_t kPartition1Reserved = 0x280000;  // mapped area and top area

struct FrameBufferLayout {
  uint32_t mappedOffset;
  uint32_t mappedSize;
  uint32_t top0Offset;
  uint32_t top0Size;
  uint32_t top1Offset;
  uint32_t top1Size;
  uint32_t mode;          // 1
  uint32_t total;         // M0 + M1
  uint32_t mainHeapCount; // of partition 0: 1
  uint32_t main0Offset;
  uint32_t main0Size;
  uint32_t hasPartition1;
  uint32_t main1Offset;
  uint32_t main1Size;
  // The inputs.
  uint32_t partition0;
  uint32_t partition1;
  uint32_t reserved[32];
};
static_assert(sizeof(FrameBufferLayout) == 192);

// Layout mode 1 for partitions of m0 and m1 bytes (m1 = 0: one partition).
// Partition 1's main heap lies between its mapped area and its top area
// (0x8200000, m1 - 2.5 MB); it is absent when partition 1 is too small.
FrameBufferLayout ComputeFrameBufferLayout(uint32_t m0, uint32_t m1);

// Component entry 9.
bool InitFrameBufferLayout(PDEV* pdev);
void CleanupFrameBufferLayout(PDEV* pdev);
