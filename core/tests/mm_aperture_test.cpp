// Host apertures in local-DMA mode: the emulated mapper programs the chip's
// aperture slot registers of the simulated board.
#include "core/mm_aperture.h"

#include <string.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/tests/mm_fixture.h"
#include "platform/board/chip_aperture.h"

namespace {

using mmtest::LocalMm;
using mmtest::MakePlain;

constexpr uint32_t kBaseBits = 0x4000000;  // from the frame-buffer base 0xC4000000

class LocalApertures : public LocalMm {
 protected:
  void SetUp() override {
    LocalMm::SetUp();
    ASSERT_TRUE(Start());
  }
  void TearDown() override {
    for (auto& surface : surfaces_) {
      if (surface) manager()->DestroySurface(surface.get());
    }
    surfaces_.clear();
    LocalMm::TearDown();
  }

  // A kind-1 surface whose window is locked; null when the lock fails.
  MmSurface* Window(uint32_t bytes, uint32_t selector = kHeapSelSecond) {
    auto surface = std::make_unique<MmSurface>();
    MakePlain(surface.get(), kSurfLocalAperture, selector, bytes);
    if (!manager()->CreateSurface(surface.get())) return nullptr;
    surfaces_.push_back(std::move(surface));
    MmSurface* made = surfaces_.back().get();
    if (!made->aperture->Lock(nullptr, nullptr)) return nullptr;
    return made;
  }
  void Destroy(MmSurface* surface) {
    for (auto& owned : surfaces_) {
      if (owned.get() == surface) {
        manager()->DestroySurface(surface);
        owned.reset();
      }
    }
  }

  orvsim::ApertureSlot Slot(uint32_t i) { return orvsim::ApertureSlots(*board_).Slot(i); }
  // The local address the chip maps an aperture offset to, or ~0.
  uint32_t ChipView(uint32_t apertureOffset) {
    uint32_t local = ~0u;
    return orvsim::ApertureSlots(*board_).Resolve(apertureOffset, &local) ? local : ~0u;
  }
  // Slot-register writes since the log was last cleared, as offsets.
  std::vector<uint32_t> SlotWrites() {
    std::vector<uint32_t> offsets;
    for (const auto& write : board_->LoggedWrites()) {
      if (write.offset < 16 * kApertureSlots) offsets.push_back(write.offset);
    }
    return offsets;
  }

  static uint64_t Offset(MmSurface* surface) { return surface->aperture->block->offset; }

  std::vector<std::unique_ptr<MmSurface>> surfaces_;
};

TEST_F(LocalApertures, TwoWindowsTakeOffsetsZeroAndHalfAMegabyteAndProgramTheirSlots) {
  MmSurface* first = Window(0x10000);
  MmSurface* second = Window(0x10000);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Offset(first), 0u);
  EXPECT_EQ(Offset(second), 0x80000u);
  EXPECT_EQ(mapper()->nextFreeOffset, 0x100000u);
  EXPECT_EQ(mapper()->slotCount, 2u);
  EXPECT_EQ(first->aperture->slotIndex, 0);
  EXPECT_EQ(second->aperture->slotIndex, 1);

  const orvsim::ApertureSlot slot0 = Slot(0);
  EXPECT_EQ(slot0.key, 0u | kBaseBits | kApertureSlotEnable);
  EXPECT_EQ(slot0.desc0, first->options.desc.word0);
  EXPECT_EQ(slot0.desc0, first->busWord);
  EXPECT_EQ(slot0.desc1, first->options.desc.word1);
  EXPECT_EQ(slot0.desc2, first->options.desc.word2);
  EXPECT_EQ(Slot(1).key, 0x80000u | kBaseBits | kApertureSlotEnable);
  EXPECT_EQ(Slot(1).desc0, second->busWord);
  EXPECT_EQ(Slot(2).key, 0u);

  // The processor reaches the window through the frame-buffer mapping: a
  // write through it lands in the board's memory at the window's offset.
  uint64_t apertureAddress = 0;
  uint8_t* cpu = nullptr;
  ASSERT_TRUE(second->aperture->Lock(&apertureAddress, &cpu));
  EXPECT_EQ(apertureAddress, 0x80000u);
  EXPECT_EQ(second->aperture->lockCount, 2u);
  for (uint32_t i = 0; i < 16; ++i) cpu[i] = static_cast<uint8_t>(0xA0 + i);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(board_->Memory()[0x80000 + i], 0xA0 + i);
  // The chip shows the second surface's memory at that window.
  EXPECT_EQ(ChipView(0x80000 + 5), second->block->busAddress + 5);
  EXPECT_EQ(ChipView(0x7FFFF), first->block->busAddress + 0x7FFFF);
  second->aperture->Unlock();
  second->aperture->Unlock();
  EXPECT_EQ(second->aperture->released, 1u);
  EXPECT_NE(second->aperture->block, nullptr);  // unlocked windows stay mapped
}

TEST_F(LocalApertures, ProcessorWriteThroughAWindowInBankBLandsAtTheSurface) {
  // The chip's aperture decoding, for as long as this test writes through it.
  orvsim::ApertureWindows windows(*board_);
  MmSurface* surface = Window(0x10000, kHeapSelThird);
  ASSERT_NE(surface, nullptr);
  const uint32_t local = static_cast<uint32_t>(surface->block->busAddress);
  EXPECT_EQ(local, kBankBOffset);  // past the 64 MB frame buffer
  ASSERT_GT(local, board_->MemorySize());
  uint8_t* cpu = nullptr;
  ASSERT_TRUE(surface->aperture->Lock(nullptr, &cpu));
  EXPECT_EQ(cpu, board_->Memory() + Offset(surface));

  // A packet written through the window is in local memory at the surface...
  const uint32_t packet[] = {0x212121C6, 0xBEEF};
  memcpy(cpu + 0x100, packet, sizeof(packet));
  EXPECT_EQ(memcmp(board_->LocalMemory() + local + 0x100, packet, sizeof(packet)), 0);
  // ...where the DMA engine fetches it.
  engine_->ClearWrites();
  engine_->Execute(local + 0x100, local + 0x108, orvsim::kBusLocal);
  EXPECT_EQ(engine_->Writes(), (std::vector<orvsim::DmaEngine::RegWrite>{{0x1318, 0xBEEF}}));
  surface->aperture->Unlock();
}

TEST_F(LocalApertures, SlotRegistersAreWrittenDescriptorFirstKeyLast) {
  board_->ClearLog();
  ASSERT_NE(Window(0x10000), nullptr);
  EXPECT_EQ(SlotWrites(), (std::vector<uint32_t>{0x4, 0x8, 0xC, 0x0}));
}

TEST_F(LocalApertures, SmallerKeyTakesSlotZeroAndMovesTheOthersUpTopFirst) {
  MmSurface* a = Window(0x10000);
  MmSurface* b = Window(0x10000);
  MmSurface* c = Window(0x10000);
  ASSERT_NE(c, nullptr);
  board_->ClearLog();
  Destroy(a);
  // The later slots move down, then the last used key is switched off.
  EXPECT_EQ(SlotWrites(), (std::vector<uint32_t>{0x4, 0x8, 0xC, 0x0, 0x14, 0x18, 0x1C, 0x10, 0x20}));
  EXPECT_EQ(Slot(0).key, 0x80000u | kBaseBits | kApertureSlotEnable);
  EXPECT_EQ(Slot(2).key, 0u);
  EXPECT_EQ(mapper()->slotCount, 2u);

  board_->ClearLog();
  MmSurface* d = Window(0x10000);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Offset(d), 0u);
  EXPECT_EQ(d->aperture->slotIndex, 0);
  EXPECT_EQ(SlotWrites(), (std::vector<uint32_t>{0x24, 0x28, 0x2C, 0x20, 0x14, 0x18, 0x1C, 0x10,
                                                 0x4, 0x8, 0xC, 0x0}));
  EXPECT_EQ(Slot(0).desc0, d->busWord);
  EXPECT_EQ(Slot(1).desc0, b->busWord);
  EXPECT_EQ(Slot(2).desc0, c->busWord);
  EXPECT_EQ(Slot(2).key, 0x100000u | kBaseBits | kApertureSlotEnable);
}

TEST_F(LocalApertures, FreeingTheOnlyWindowWritesZeroToRegisterZero) {
  MmSurface* only = Window(0x10000);
  ASSERT_NE(only, nullptr);
  board_->ClearLog();
  Destroy(only);
  const auto writes = board_->LoggedWrites();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.back().offset, 0u);
  EXPECT_EQ(writes.back().value, 0u);
  EXPECT_EQ(SlotWrites().size(), 1u);
  EXPECT_EQ(mapper()->slotCount, 0u);
  EXPECT_EQ(mapper()->nextFreeOffset, 0u);
}

TEST_F(LocalApertures, NoWindowOverlapsALiveOneAfterAMiddleFree) {
  MmSurface* a = Window(0x10000);
  MmSurface* b = Window(0x100000);
  MmSurface* c = Window(0x10000);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(Offset(b), 0x80000u);
  EXPECT_EQ(Offset(c), 0x1C0000u);
  Destroy(b);
  // Too large for the hole B left: placed after C, not over it.
  MmSurface* e = Window(0x200000);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Offset(e), 0x240000u);
  // Small enough for the hole.
  MmSurface* f = Window(0x10000);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Offset(f), 0x80000u);

  std::vector<MmSurface*> live = {a, c, e, f};
  for (MmSurface* x : live) {
    for (MmSurface* y : live) {
      if (x == y) continue;
      const uint64_t xEnd = Offset(x) + MmApertureSpan(x->aperture->block->size);
      EXPECT_TRUE(xEnd <= Offset(y) || Offset(y) + y->aperture->block->size <= Offset(x))
          << Offset(x) << " and " << Offset(y);
    }
  }
  // Slots stay sorted by key, and every window shows its own surface.
  for (uint32_t i = 0; i + 1 < mapper()->slotCount; ++i) EXPECT_LT(Slot(i).key, Slot(i + 1).key);
  for (MmSurface* x : live) {
    EXPECT_EQ(ChipView(static_cast<uint32_t>(Offset(x)) + 8), x->block->busAddress + 8);
  }
}

TEST_F(LocalApertures, WindowPastTheApertureIsRefused) {
  // 31 MB fills the aperture's offsets up to 0x1F40000.
  MmSurface* big = Window(0x1F00000);
  ASSERT_NE(big, nullptr);
  auto late = std::make_unique<MmSurface>();
  MakePlain(late.get(), kSurfLocalAperture, kHeapSelThird, 0x100000);
  ASSERT_TRUE(manager()->CreateSurface(late.get()));
  EXPECT_FALSE(late->aperture->Lock(nullptr, nullptr));
  EXPECT_EQ(late->aperture->block, nullptr);
  EXPECT_EQ(mapper()->slotCount, 1u);
  Destroy(big);
  EXPECT_TRUE(late->aperture->Lock(nullptr, nullptr));
  EXPECT_EQ(late->aperture->block->offset, 0u);
  manager()->DestroySurface(late.get());
}

TEST_F(LocalApertures, TwentySlotsAreAllThereIs) {
  for (uint32_t i = 0; i < kApertureSlots; ++i) ASSERT_NE(Window(0x1000), nullptr) << i;
  EXPECT_EQ(Window(0x1000), nullptr);
  EXPECT_EQ(mapper()->slotCount, kApertureSlots);
  EXPECT_EQ(Slot(kApertureSlots - 1).key, 19u * 0x80000 | kBaseBits | kApertureSlotEnable);
}

TEST_F(LocalApertures, ResetKeepsTheSpaceOfLiveWindows) {
  ASSERT_NE(Window(0x10000), nullptr);
  ASSERT_NE(Window(0x10000), nullptr);
  mapper()->Reset();
  EXPECT_EQ(mapper()->nextFreeOffset, 0x100000u);
  MmSurface* third = Window(0x10000);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(Offset(third), 0x100000u);
}

}  // namespace
