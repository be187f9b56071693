// Bus-to-processor translation of the system buffers the X driver declared.
#include "core/phys_mem_mapper.h"

#include <gtest/gtest.h>

namespace {

void* Cpu(uint64_t address) { return reinterpret_cast<void*>(address); }

TEST(PhysMemMapper, ThreePagesAreFoundFromEveryBusAddressTheyCover) {
  PhysMemMapper mapper(nullptr);
  ASSERT_TRUE(mapper.ok());
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0x7f0000400000), 0x10000, 3));
  EXPECT_EQ(mapper.PageCount(), 3u);
  for (uint64_t bus : {0x10000ull, 0x10FFFull, 0x11234ull, 0x12FFFull}) {
    EXPECT_EQ(mapper.GetBufferLinAddress(bus), 0x7f0000400000 + bus - 0x10000) << bus;
  }
  // The next page is not covered by anyone: the address comes back as is.
  EXPECT_EQ(mapper.GetBufferLinAddress(0x13000), 0x13000u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0xFFF), 0xFFFu);
}

TEST(PhysMemMapper, CoveredPageOutsideEveryBufferAnswersZeroAndAMissInsertsNothing) {
  PhysMemMapper mapper(nullptr);
  // Half a page's worth of buffer does not exist: buffers are whole pages,
  // but one that starts inside a page shares that page with the space
  // before it.
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0x500000), 0x20800, 1));
  EXPECT_EQ(mapper.PageCount(), 2u);  // 0x20000 and 0x21000
  EXPECT_EQ(mapper.GetBufferLinAddress(0x20400), 0u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x20900), 0x500100u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x21900), 0u);
  for (uint64_t bus = 0x40000; bus < 0x50000; bus += 0x1000) mapper.GetBufferLinAddress(bus);
  EXPECT_EQ(mapper.PageCount(), 2u);
}

TEST(PhysMemMapper, ProcessorAddressesAreKeyedWhole) {
  PhysMemMapper mapper(nullptr);
  // Same low 32 bits, different buffers.
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0x100001000), 0x10000, 1));
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0x200001000), 0x20000, 2));
  uint64_t bus = 0;
  uint32_t pages = 0;
  ASSERT_TRUE(mapper.GetBufferPhysAttributes(Cpu(0x100001000), &bus, &pages));
  EXPECT_EQ(bus, 0x10000u);
  EXPECT_EQ(pages, 1u);
  ASSERT_TRUE(mapper.GetBufferPhysAttributes(Cpu(0x200001000), &bus, &pages));
  EXPECT_EQ(bus, 0x20000u);
  EXPECT_EQ(pages, 2u);
  EXPECT_FALSE(mapper.GetBufferPhysAttributes(Cpu(0x1000), &bus, &pages));
  EXPECT_EQ(mapper.GetBufferLinAddress(0x10010), 0x100001010u);
}

TEST(PhysMemMapper, UndeclaringForgetsTheBufferOnEveryPageItShared) {
  PhysMemMapper mapper(nullptr);
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0xA00000), 0x30000, 2));
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0xB00000), 0x31800, 2));  // shares page 0x31000
  EXPECT_EQ(mapper.GetBufferLinAddress(0x31000), 0xA01000u);  // now the last found
  mapper.UnDeclareSurfaceBuffer(Cpu(0xA00000));
  EXPECT_EQ(mapper.BufferCount(), 1u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x30000), 0x30000u);  // page gone
  EXPECT_EQ(mapper.GetBufferLinAddress(0x31000), 0u);        // page kept for the other
  EXPECT_EQ(mapper.GetBufferLinAddress(0x31800), 0xB00000u);
  uint64_t bus = 0;
  uint32_t pages = 0;
  EXPECT_FALSE(mapper.GetBufferPhysAttributes(Cpu(0xA00000), &bus, &pages));
  mapper.UnDeclareSurfaceBuffer(Cpu(0xA00000));  // unknown: nothing happens
  mapper.UnDeclareSurfaceBuffer(Cpu(0xB00000));
  EXPECT_EQ(mapper.PageCount(), 0u);
}

TEST(PhysMemMapper, DeclaringTheSameProcessorAddressAgainReplacesTheOldBuffer) {
  PhysMemMapper mapper(nullptr);
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0xC00000), 0x40000, 1));
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0xC00000), 0x80000, 1));
  EXPECT_EQ(mapper.BufferCount(), 1u);
  EXPECT_EQ(mapper.PageCount(), 1u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x40010), 0x40010u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x80010), 0xC00010u);
}

TEST(PhysMemMapper, WhereBuffersOverlapTheOneDeclaredFirstAnswers) {
  PhysMemMapper mapper(nullptr);
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0xD00000), 0x60000, 4));  // 0x60000-0x63FFF
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0xE00000), 0x62000, 4));  // 0x62000-0x65FFF
  EXPECT_EQ(mapper.PageCount(), 6u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x62010), 0xD02010u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x64010), 0xE02010u);
  // Declared again, the first goes behind the second.
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0xD00000), 0x60000, 4));
  EXPECT_EQ(mapper.GetBufferLinAddress(0x63010), 0xE01010u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x61010), 0xD01010u);
  mapper.UnDeclareSurfaceBuffer(Cpu(0xE00000));
  EXPECT_EQ(mapper.GetBufferLinAddress(0x63010), 0xD03010u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x64010), 0x64010u);
  EXPECT_EQ(mapper.PageCount(), 4u);
  // A buffer of no pages that starts inside a page still touches it.
  ASSERT_TRUE(mapper.DeclareSurfaceBuffer(Cpu(0xF00000), 0x70800, 0));
  EXPECT_EQ(mapper.PageCount(), 5u);
  EXPECT_EQ(mapper.GetBufferLinAddress(0x70900), 0u);
}

}  // namespace
