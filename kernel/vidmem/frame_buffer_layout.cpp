#include "kernel/vidmem/frame_buffer_layout.h"

#include <new>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/locked_pages.h"
#include "platform/kglue/kglue.h"

FrameBufferLayout ComputeFrameBufferLayout(uint32_t m0, uint32_t m1) {
  FrameBufferLayout l = {};
  l.partition0 = m0;
  l.partition1 = m1;
  l.mode = 1;
  l.mainHeapCount = 1;
  l.mappedOffset = kPartition1Base;
  const uint32_t top0 = m1 != 0 ? kTopArea0Two : kTopArea0One;
  l.top0Size = m0 >= top0 ? top0 : m0;
  l.top0Offset = m0 - l.top0Size;
  l.main0Offset = 0;
  l.main0Size = m0 - l.top0Size;
  l.total = m0 + m1;
  if (m1 != 0) {
    l.mappedSize = m1 >= kMappedAreaSize ? kMappedAreaSize : m1;
    l.top1Size = m1 >= kPartition1Reserved ? kTopArea1 : 0;
    l.top1Offset = l.top1Size != 0 ? kPartition1Base + m1 - kTopArea1 : 0;
    if (m1 > kPartition1Reserved) {
      l.hasPartition1 = 1;
      l.main1Offset = kPartition1MainBase;
      l.main1Size = m1 - kPartition1Reserved;
    }
  }
  return l;
}

bool InitFrameBufferLayout(PDEV* pdev) {
  CommonData* common = pdev->common;
  auto* layout = reinterpret_cast<FrameBufferLayout*>(common->frameBufferLayout);
  if (pdev->frameBufferLayout == layout) return true;
  if (pdev->IsFirstForBoard()) {
    uint32_t m0 = 0;
    uint32_t m1 = 0;
    OrvDevice* device = BoardGlueDevice(common);
    if (device != nullptr) OrvDevice_GetLocalMemory(device, &m0, &m1);
    *layout = ComputeFrameBufferLayout(m0, m1);
  }
  pdev->frameBufferLayout = layout;
  return true;
}

void CleanupFrameBufferLayout(PDEV* pdev) { pdev->frameBufferLayout = nullptr; }
