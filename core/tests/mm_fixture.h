// Device objects with the memory manager built: local DMA on a simulated
// board (the emulated heaps and aperture slots) and the kernel module's node
// answered by the fake endpoint (kernel placement).
#pragma once

#include <stdint.h>

#include <gtest/gtest.h>

#include <memory>

#include "core/hw_register_access.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/tests/pdev_fixture.h"

namespace mmtest {

inline constexpr uint64_t kBoardMemory = 64u << 20;
// Below 4 GiB, aligned to its size, with base bits 0x4000000 in the keys.
inline constexpr uint64_t kFrameBufferBase = 0xC4000000;

class LocalMm : public coretest::LocalBoardTest {
 protected:
  // Builds the board and one head; false when the head did not complete.
  bool Start(uint64_t memory = kBoardMemory, uint64_t base = kFrameBufferBase) {
    orvsim::BoardConfig config;
    config.memory_size = memory;
    config.frame_buffer_base = base;
    AddBoard(config);  // with the DMA engine, which bus mastering starts
    head_ = &Construct(0);
    return head_->ok == 1;
  }

  PDEV* pdev() { return head_->pdev; }
  MmManagerRecord* record() { return pdev()->memoryRecord; }
  EmulMmSurfaceManager* manager() {
    return static_cast<EmulMmSurfaceManager*>(pdev()->surfaceManager);
  }
  EmulMmSurfaceMapper* mapper() { return static_cast<EmulMmSurfaceMapper*>(record()->mapper); }

  coretest::Head* head_ = nullptr;
};

// The caller maps a 64 MB frame buffer of its own.
class KernelMm : public coretest::KernelNodeTest {
 protected:
  bool Start(uint32_t frameBufferSize = kBoardMemory) {
    frameBufferSize_ = frameBufferSize;
    bigFrameBuffer_.reset(new uint8_t[frameBufferSize]);
    auto head = std::make_unique<coretest::Head>();
    head->mode = coretest::MakeMode(0, &head->lastRegWord, false);
    head->mode.registerMapping = reinterpret_cast<uintptr_t>(registers_.data());
    head->mode.frameBufferMapping = reinterpret_cast<uintptr_t>(bigFrameBuffer_.get());
    head->mode.frameBufferMapSize = frameBufferSize;
    head->pdev = new PDEV(device_.get(), &head->mode, 0x55, &head->ok);
    heads_.push_back(std::move(head));
    head_ = heads_.back().get();
    return head_->ok == 1;
  }
  void TearDown() override {
    coretest::KernelNodeTest::TearDown();
    bigFrameBuffer_.reset();
  }

  PDEV* pdev() { return head_->pdev; }
  MmSurfaceManager* manager() { return pdev()->surfaceManager; }
  MmSurfaceMapper* mapper() { return pdev()->memoryRecord->mapper; }
  uint8_t* frameBuffer() { return bigFrameBuffer_.get(); }

  coretest::Head* head_ = nullptr;
  std::unique_ptr<uint8_t[]> bigFrameBuffer_;
  uint32_t frameBufferSize_ = 0;
};

// A plain buffer surface of the given size.
inline void MakePlain(MmSurface* surface, uint32_t kind, uint32_t selector, uint32_t bytes,
                      uint32_t alignment = 0) {
  surface->options.requestedKind = kind;
  surface->options.heapSelector = selector;
  surface->options.desc.word0 = kMemLocal;
  surface->options.desc.word1 = MmSurfDesc::MakeWord1(0, kLayoutPlain, 0x30);
  surface->options.desc.size = bytes;
  surface->options.alignment = alignment;
  surface->options.physicalSize = surface->options.desc.GetPhysicalMemSize(false);
}

}  // namespace mmtest
