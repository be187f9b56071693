// The render-target state over a started board: the engine-mode and
// clear-mode words, the engine counters saved into and restored from a work
// buffer, the target set-up before a draw, and the reservation of work
// buffers with the board's 16 slots. Packets are compared as the stream
// holds them; the counters come from a read-back surface the test fills.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "core/common_data.h"
#include "core/mm_block.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/surfaces/surface_access.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_binding.h"
#include "kernel/3d/targets/target_clears.h"
#include "kernel/pdev_kernel.h"
#include "kernel/tests/stream_fixture.h"
#include "platform/board/chip_2d.h"

namespace {

using Words = std::vector<uint32_t>;

uint32_t F(float f) {
  uint32_t w;
  memcpy(&w, &f, sizeof w);
  return w;
}

// A state whose buffer placement the test decides: each attempt is
// recorded; sizes above the limit fail, the others are placed for real.
class TestTargetState : public RenderTargetState {
 public:
  std::vector<uint32_t> attempts;
  uint64_t limit = UINT64_MAX;

 protected:
  bool CreateBuffer(CommonData* common, uint32_t size) override {
    attempts.push_back(size);
    if (size > limit) return false;
    return RenderTargetState::CreateBuffer(common, size);
  }
};

class TargetState : public ktest::StartedBoard {
 protected:
  void SetUp() override {
    StartedBoard::SetUp();
    EngineMode3d() = EngineModeCache();
    revision = Common()->revisionBits;
    board3d = TargetBoard(Common());
    ASSERT_NE(board3d, nullptr);
  }
  void TearDown() override {
    readbackMap.reset();
    Common()->revisionBits = revision;
    StartedBoard::TearDown();
  }

  // Runs f; the words it wrote into the secondary stream.
  template <class Fn>
  Words Written(Fn&& f) {
    BmSecondaryInt* s = Secondary();
    const uint32_t* from = s->cursor;
    BmBuffer* head = s->head;
    f();
    EXPECT_EQ(s->head, head) << "the stream switched buffers";
    Words words(from, static_cast<const uint32_t*>(s->cursor));
    dma.RunPending();
    return words;
  }

  // The packets of the words: a count n and n + 1 words, or an execute
  // command word and its body.
  static std::vector<Words> Packets(const Words& words) {
    std::vector<Words> out;
    for (size_t i = 0; i < words.size();) {
      const uint32_t w = words[i];
      const size_t n = (w & 0xFF000000) != 0 ? (w & 0xFFFF) + 2 : w + 2;
      out.emplace_back(words.begin() + static_cast<long>(i),
                       words.begin() + static_cast<long>(std::min(words.size(), i + n)));
      i += n;
    }
    return out;
  }
  // Only the packets whose first header is one of ours (register-group
  // packets the render targets write).
  static std::vector<Words> Ours(const Words& words) {
    std::vector<Words> out;
    for (const Words& p : Packets(words)) {
      if (p.size() < 2) continue;
      const uint32_t h = p[1];
      if (h == 0x21AFAFC0 || (h & 0x00FFFFFF) == 0xAFAFC0 || (h & 0xFFFF) == 0xC0C0 || h == 0x605E5D58 ||
          h == 0xD3D2D1D0 || h == 0x8D8C8988 || h == 0x21218B8A || (h & 0xFFFF) == 0x20C0 ||
          (h & 0xFFFF) == 0xC0AD)
        out.push_back(p);
    }
    return out;
  }

  uint32_t NextTag() const { return BmNextSyncTagFor(SharedLocked()->syncTagCounter); }
  static uint32_t BmNextSyncTagFor(uint32_t counter) {
    const uint32_t next = (counter & ~7u) + 8;
    return next == 0 ? 8 : next;
  }

  void Attach(RenderTargetState& s, uint32_t handle) { s.Attach(Common(), Secondary(), handle); }

  // The read-back surface as the processor sees it, mapped while the test
  // runs.
  uint32_t* Readback() {
    EXPECT_TRUE(CreateReadbackSurface(Common()));
    readbackMap = std::make_unique<TargetSurfaceMapping>(Common(), board3d->readback, kReadbackSize);
    return reinterpret_cast<uint32_t*>(readbackMap->cpu);
  }
  std::unique_ptr<TargetSurfaceMapping> readbackMap;

  uint32_t Reg(uint8_t index) const { return board.Peek(0x1000 + 4u * index, 4); }

  WorkBufferSlot* Slots() { return reinterpret_cast<WorkBufferSlot*>(Common()->renderTargetSlots); }

  uint32_t revision = 0;
  TargetBoard3d* board3d = nullptr;
};

// ---- Register 0xC0 -------------------------------------------------------------------------

TEST_F(TargetState, LaterGenerationEngineModeWords) {
  Common()->revisionBits = 0x400;
  SharedLocked()->last1300Value = 0x55;
  struct Case {
    bool on, alternate;
    uint32_t mode;
  };
  const Case cases[] = {{true, true, 0xA0A}, {false, true, 0x80A}, {true, false, 0x20A}, {false, false, 0x0A}};
  for (const Case& c : cases) {
    EXPECT_EQ(Written([&] { WriteEngineModeWord(Common(), Secondary(), c.on, c.alternate); }).size() > 0, true);
    EXPECT_EQ(EngineMode3d().modeWord, c.mode);
  }
  // The same arguments twice: one packet.
  const Words first = Written([&] { WriteEngineModeWord(Common(), Secondary(), true, false); });
  EXPECT_EQ(Ours(first), (std::vector<Words>{{2, 0x2121C0C0, 0x20A, 0x55}}));
  EXPECT_TRUE(Written([&] { WriteEngineModeWord(Common(), Secondary(), true, false); }).empty());
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0xC0).back(), 0x55u);  // the base word followed the mode
}

TEST_F(TargetState, FirstGenerationWritesOnlyAChangeOfTheOnFlag) {
  Common()->revisionBits = 0x2;
  SharedLocked()->last1300Value = kLastRegNone;
  const Words on = Written([&] { WriteEngineModeWord(Common(), Secondary(), true, true); });
  // While word 140 holds no value its index writes nothing: the packet keeps its length.
  EXPECT_EQ(Ours(on), (std::vector<Words>{{2, 0x212120C0, 0x20A, kLastRegNone}}));
  EXPECT_TRUE(Written([&] { WriteEngineModeWord(Common(), Secondary(), true, false); }).empty());
  EXPECT_EQ(Ours(Written([&] { WriteEngineModeWord(Common(), Secondary(), false, false); })),
            (std::vector<Words>{{2, 0x212120C0, 0x0A, kLastRegNone}}));
  EXPECT_EQ(EngineMode3d().on, 0);
}

TEST_F(TargetState, SyncTagsPrefixTheModeAndTheClearMode) {
  Common()->revisionBits = 0x400;
  SharedLocked()->last1300Value = 7;
  EngineMode3d().syncTagsOn = 1;
  uint32_t tag = NextTag();
  EXPECT_EQ(Ours(Written([&] { WriteEngineModeWord(Common(), Secondary(), true, false); })),
            (std::vector<Words>{{3, 0x21AFAFC0, 0x207, tag | 1, tag}, {2, 0x2121C0C0, 0x20A, 7}}));
  tag = NextTag();
  EXPECT_EQ(Ours(Written([&] { WriteClearModeWord(Common(), Secondary(), false); })),
            (std::vector<Words>{{3, 0x21AFAFC0, 0x207, tag | 1, tag}, {2, 0x2121C0C0, 0x108, 7}}));
  EXPECT_EQ(EngineMode3d().clearFlag, 1);
  EXPECT_FALSE(IsClearModeIdle());

  EngineMode3d().syncTagsOn = 0;
  EXPECT_EQ(Ours(Written([&] { WriteClearModeWord(Common(), Secondary(), false); })),
            (std::vector<Words>{{2, 0x2121C0C0, 0x308, 7}}));
  // Bit 0x200 matches now: nothing unless forced.
  EXPECT_TRUE(Written([&] { WriteClearModeWord(Common(), Secondary(), false); }).empty());
  EXPECT_EQ(Ours(Written([&] { WriteClearModeWord(Common(), Secondary(), true); })).size(), 1u);
  EXPECT_FALSE(IsClearModeIdle());  // 0x308 carries bit 0x200
}

TEST_F(TargetState, ModeWordsMakeTheCurrentStateWriteItsControlWordAgain) {
  // Register 0xC0 is also where the current engine state keeps its control
  // word: a mode word written over it must not leave the state believing
  // the engine still holds its own.
  EngineOwner3d* owner = Common()->engineOwner3d;
  ASSERT_NE(owner, nullptr);
  ContextState3d s(owner);
  Written([&] { owner->Execute(&s, 0, false); });
  ASSERT_EQ(owner->Current(), &s);
  RenderTargetState target;
  Attach(target, 1);
  Surface3d depth;
  const struct {
    const char* name;
    std::function<void()> write;
  } writers[] = {
      {"clear mode word", [&] { WriteClearModeWord(Common(), Secondary(), true); }},
      {"engine mode word", [&] { WriteEngineModeWord(Common(), Secondary(), EngineMode3d().on == 0, false); }},
      {"engine clear", [&] { ClearTargetSurface(&target, Secondary(), 0x00FFFFFF, &depth, false, 0.5f); }},
      {"engine clear, mode only", [&] { ClearTargetSurface(&target, Secondary(), 0, &depth, true, 0.0f); }},
  };
  for (const auto& w : writers) {
    s.dirty.words[0] &= ~kCsDirtyControlWord;
    s.changedByOthers.words[0] &= ~kCsDirtyControlWord;
    Written(w.write);
    EXPECT_NE(s.dirty.words[0] & kCsDirtyControlWord, 0u) << w.name;
    EXPECT_NE(s.changedByOthers.words[0] & kCsDirtyControlWord, 0u) << w.name;
  }
}

// Writers that put several packets under one check of the buffer's room
// place them as one reservation each would near a buffer's end: the
// packets that fit stay in the buffer, the others go to the next one, and
// nothing is written past the buffer's limit.
TEST_F(TargetState, PacketsAtABuffersEndGoWhereAReservationEachPutsThem) {
  Common()->revisionBits = 0x400;
  EngineMode3d().syncTagsOn = 1;
  RenderTargetState target;
  Attach(target, 1);
  target.kind = kWorkBufferOwn;
  board3d->drewLast = &target;
  const struct {
    const char* name;
    std::function<void()> write;
    std::vector<uint32_t> packets;  // their sizes in words, count included
  } writers[] = {
      {"engine clear", [&] { ClearTargetSurface(&target, Secondary(), 0x00FFFFFF, nullptr, false, 0.5f); }, {5, 5}},
      {"target set-up",
       [&] {
         target.pendingSwitch = 1;
         EmitRenderTargetSetup(&target);
       },
       {6, 4, 4}},
  };
  constexpr uint32_t kUnwritten = 0x5EB7140Du;
  BmSecondaryInt* s = Secondary();
  for (const auto& w : writers) {
    uint32_t total = 0;
    for (uint32_t size : w.packets) total += size;
    for (uint32_t room = 0; room < total; ++room) {
      SCOPED_TRACE(testing::Message() << w.name << ", room " << room);
      // Padding packets up to `room` words before the limit.
      while (static_cast<uint32_t>(s->limit - s->cursor) > room) {
        const uint32_t over = static_cast<uint32_t>(s->limit - s->cursor) - room;
        uint32_t* at = s->Reserve(over == 1 || over == 3 ? 3 : 2);
        ASSERT_NE(at, nullptr);
        if (over == 1 || over == 3)
          at[0] = 1, at[1] = 0x21212120, at[2] = 0;  // a word written nowhere
        else
          at[0] = 0, at[1] = 0x21212121;
      }
      // room 0 may be 1 with a three-word pad that did not fit.
      uint32_t* from = s->cursor;
      const uint32_t left = static_cast<uint32_t>(s->limit - from);
      ASSERT_LE(left, room + 1);
      ASSERT_GE(s->FreshRoom(), total);
      for (uint32_t* at = from; at < s->limit + total; ++at) *at = kUnwritten;
      uint32_t* limit = s->limit;

      w.write();
      dma.RunPending();
      uint32_t fit = 0;
      size_t k = 0;
      for (; k < w.packets.size() && fit + w.packets[k] <= left; ++k) {
        EXPECT_EQ(from[fit], w.packets[k] - 2) << "packet " << k << " in the buffer";
        fit += w.packets[k];
      }
      for (const uint32_t* at = from + fit; at < limit + total; ++at)
        ASSERT_EQ(*at, kUnwritten) << "word " << (at - from) << " past the packets that fit";
      const uint32_t* next = s->cursor - (total - fit);
      EXPECT_TRUE(next < from || next >= limit + total) << "the rest is in the next buffer";
      for (; k < w.packets.size(); next += w.packets[k++])
        EXPECT_EQ(*next, w.packets[k] - 2) << "packet " << k << " in the next buffer";
    }
  }
}

TEST_F(TargetState, TheEngineModeFlagSetsBit0x200) {
  SetEngineModeFlag(true);
  EXPECT_EQ(EngineMode3d().on, 1);
  EXPECT_EQ(EngineMode3d().modeWord, 0x20Au);
  SetEngineModeFlag(false);
  EXPECT_EQ(EngineMode3d().on, 0);
  EXPECT_EQ(EngineMode3d().modeWord, 0x0Au);
}

// ---- Engine counters -------------------------------------------------------------------------

TEST_F(TargetState, TheSaveReadsEighteenBitCountersAndZeroesThem) {
  SharedLocked()->last1300Value = 0x99;
  uint32_t* words = Readback();
  ASSERT_NE(words, nullptr);
  for (uint32_t i = 0; i < kReadbackSize / 4; ++i) words[i] = 0xFFFFFFFF;
  words[2] = 0x12345;
  words[33] = 0xFFF00001;

  RenderTargetState s;
  Attach(s, 1);
  s.kind = kWorkBufferOwn;
  s.pendingSwitch = 1;
  const uint32_t t1 = NextTag();
  const uint32_t t2 = BmNextSyncTagFor(t1);
  bool wasOn = true;
  const Words written = Written([&] { wasOn = SaveTargetCounters(&s); });
  EXPECT_FALSE(wasOn);
  const std::vector<Words> expected = {
      {4, 0xC0AFAFC0, 0xC07, t1 | 1, t1, 0x99},
      {14, 0x605E5D58, F(1.0f), F(0.5f), F(0.5f), F(0.25f), 0x605E5D59, F(1.0f), F(0.5f), F(0.5f), F(3.5f),
       0x605F5D5A, F(1.0f), F(0.5f), F(1.5f), F(0.25f)},
      {4, 0xC0AFAFC0, 0x207, t2 | 1, t2, 0x99}};
  EXPECT_EQ(Ours(written), expected);
  EXPECT_EQ(board3d->readback->block->drawSyncTag, t2);
  const uint32_t store[2][4] = {{0x3FFFF, 0x3FFFF, 0x12345, 0x3FFFF}, {0x3FFFF, 0x00001, 0x3FFFF, 0x3FFFF}};
  for (uint32_t g = 0; g < 2; ++g)
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(s.counters[g][i], store[g][i]) << g << " " << i;
  for (uint32_t i = 0; i < kReadbackSize / 4; ++i) {
    const bool taken = i < 4 || (i >= 32 && i < 36);
    EXPECT_EQ(words[i], taken ? 0u : 0xFFFFFFFFu) << i;
  }
  // The engine's caches were flushed before the processor read.
  EXPECT_EQ(LastWrite(788), 1u);
}

TEST_F(TargetState, NoSaveWithoutAPendingSwitchOrAnOwnBuffer) {
  RenderTargetState s;
  Attach(s, 1);
  struct Case {
    uint32_t kind, pending;
  };
  for (const Case c : {Case{kWorkBufferOwn, 0}, Case{kWorkBufferShared, 1}, Case{kWorkBufferNone, 1},
                       Case{kWorkBufferReleased, 1}}) {
    s.kind = c.kind;
    s.pendingSwitch = c.pending;
    for (auto& g : s.counters)
      for (uint32_t& w : g) w = 5;
    EXPECT_TRUE(Written([&] { EXPECT_FALSE(SaveTargetCounters(&s)); }).empty()) << c.kind;
    for (auto& g : s.counters)
      for (uint32_t w : g) EXPECT_EQ(w, 0u);
  }
}

TEST_F(TargetState, TheSaveTurnsTheModeOffAndBackOn) {
  Common()->revisionBits = 0x2;
  SharedLocked()->last1300Value = 0x99;
  ASSERT_NE(Readback(), nullptr);
  WriteEngineModeWord(Common(), Secondary(), true, false);
  dma.RunPending();
  RenderTargetState s;
  Attach(s, 1);
  s.kind = kWorkBufferOwnNoKey;
  s.pendingSwitch = 1;
  bool wasOn = false;
  const std::vector<Words> p = Ours(Written([&] { wasOn = SaveTargetCounters(&s); }));
  EXPECT_TRUE(wasOn);
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p.front(), (Words{2, 0x2121C0C0, 0x0A, 0x99}));
  EXPECT_EQ(p.back(), (Words{2, 0x2121C0C0, 0x20A, 0x99}));
  EXPECT_EQ(EngineMode3d().on, 1);
}

TEST_F(TargetState, TheRestoreWritesBothGroups) {
  SharedLocked()->last1300Value = 0x99;
  RenderTargetState s;
  Attach(s, 1);
  s.kind = kWorkBufferOwn;
  s.pendingSwitch = 1;
  const uint32_t c[2][4] = {{1, 2, 3, 4}, {5, 6, 7, 0x3FFFF}};
  memcpy(s.counters, c, sizeof c);
  const uint32_t tag = NextTag();
  EXPECT_EQ(Ours(Written([&] { RestoreTargetCounters(&s, false); })),
            (std::vector<Words>{{4, 0xC0AFAFC0, 0xC07, tag | 1, tag, 0x99},
                                {9, 0xD3D2D1D0, 1, 2, 3, 4, 0xF3F2F1F0, 5, 6, 7, 0x3FFFF}}));
  // After a save that found the mode on, the copy operation is still set.
  EXPECT_EQ(Ours(Written([&] { RestoreTargetCounters(&s, true); })),
            (std::vector<Words>{{9, 0xD3D2D1D0, 1, 2, 3, 4, 0xF3F2F1F0, 5, 6, 7, 0x3FFFF}}));
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0xF3).back(), 0x3FFFFu);
  s.kind = kWorkBufferShared;
  EXPECT_TRUE(Written([&] { RestoreTargetCounters(&s, true); }).empty());
  s.kind = kWorkBufferOwn;
  s.pendingSwitch = 0;
  EXPECT_TRUE(Written([&] { RestoreTargetCounters(&s, false); }).empty());
}

// ---- The target set-up ------------------------------------------------------------------------

TEST_F(TargetState, TheSetUpProgramsTheBufferAndTagsTheTargets) {
  SharedLocked()->last1300Value = 0x99;
  ASSERT_NE(Readback(), nullptr);
  RenderTargetState s;
  Attach(s, 1);
  s.kind = kWorkBufferOwn;
  s.pendingSwitch = 1;
  s.stateWord = 2;
  for (uint32_t i = 0; i < 6; ++i) s.addressWords[i] = 0x1000 + i;
  Surface3d colour;
  Surface3d depth;
  s.colourCurrent = &colour;
  s.depthCurrent = &depth;
  colour.SetPlacement(kNibbleAgp);  // memory kinds 3 and 4
  depth.SetPlacement(kNibbleLocal);
  board3d->drewLast = &s;  // this state drew last: no counters change hands

  const uint32_t t1 = NextTag();
  const uint32_t t2 = BmNextSyncTagFor(t1);
  const std::vector<Words> p = Ours(Written([&] { EmitRenderTargetSetup(&s); }));
  const std::vector<Words> expected = {{4, 0x8D8C8988, 0x1000, 0x1001, 0x1004, 0x1005},
                                       {2, 0x21218B8A, 0x1002, 0x1003},
                                       {2, 0x2121C0C0, 9, 0x99},
                                       {4, 0xC0AFAFC0, 0x107, t1 | 1, t1, 0x99},
                                       {4, 0xC0AFAFC0, 0x207, t2 | 1, t2, 0x99}};
  EXPECT_EQ(p, expected);
  EXPECT_EQ(colour.lastWriteTag, t1);  // memory kinds 3 and 4 keep their tags
  EXPECT_EQ(depth.lastWriteTag, t2);
  EXPECT_EQ(s.pendingSwitch, 0u);
  EXPECT_EQ(s.stateWord, 1u);
  EXPECT_EQ(Reg(0x8D), 0x1005u);
  // Nothing pending: nothing written.
  EXPECT_TRUE(Written([&] { EmitRenderTargetSetup(&s); }).empty());
  s.colourCurrent = s.depthCurrent = nullptr;
}

TEST_F(TargetState, ASwitchSavesThePreviousCountersFirst) {
  SharedLocked()->last1300Value = 0x99;
  uint32_t* words = Readback();
  ASSERT_NE(words, nullptr);
  for (uint32_t i = 0; i < 36; ++i) words[i] = 0x100 + i;
  RenderTargetState a;
  RenderTargetState b;
  Attach(a, 1);
  Attach(b, 2);
  a.kind = b.kind = kWorkBufferOwn;
  a.pendingSwitch = 1;
  b.pendingSwitch = 1;
  const uint32_t stored[2][4] = {{11, 12, 13, 14}, {15, 16, 17, 18}};
  memcpy(b.counters, stored, sizeof stored);
  board3d->drewLast = &a;

  const std::vector<Words> p = Ours(Written([&] { EmitRenderTargetSetup(&b); }));
  ASSERT_GE(p.size(), 8u);
  EXPECT_EQ(p[0][2], 0xC07u);     // a's counters copied out
  EXPECT_EQ(p[1][1], 0x605E5D58u);
  EXPECT_EQ(p[2][2], 0x207u);
  EXPECT_EQ(p[3][2], 0xC07u);     // the mode was off: b's copy operation set again
  EXPECT_EQ(p[4], (Words{9, 0xD3D2D1D0, 11, 12, 13, 14, 0xF3F2F1F0, 15, 16, 17, 18}));
  EXPECT_EQ(p[5][1], 0x8D8C8988u);
  EXPECT_EQ(a.counters[0][0], 0x100u);
  EXPECT_EQ(a.counters[1][3], 0x100u + 35);
  EXPECT_EQ(board3d->drewLast, &b);
}

// ---- Work buffers ----------------------------------------------------------------------------

TEST_F(TargetState, TheSizeFactor) {
  EXPECT_EQ(WorkBufferFactor(4096, 4096, 0), 1.0);
  EXPECT_EQ(WorkBufferFactor(1024, 768, 64), 1.0);
  EXPECT_EQ(WorkBufferFactor(2048, 1536, 64), 4.0);          // by the area
  EXPECT_NEAR(WorkBufferFactor(100, 10000, 64), sqrt(100.0 * 100 + 10000.0 * 10000) / 1280, 1e-12);
  EXPECT_EQ(WorkBufferFactor(0, 0, 64), 0.0);
}

class WorkBuffers : public TargetState {
 protected:
  void SetUp() override {
    TargetState::SetUp();
    surface.width = 1024;
    surface.height = 768;
    surface.flagsWord = 0x8;
    board3d->switches.memoryBits = 3;
    board3d->switches.sizeMiB = 8.0f;
  }
  Surface3d surface;
};

TEST_F(WorkBuffers, AnOwnBufferIsPlacedZeroedAndTakesItsSlot) {
  TestTargetState s;
  Attach(s, 3);
  ASSERT_TRUE(ReserveTargetMemory(&s, &surface, 0x77));
  EXPECT_EQ(s.kind, kWorkBufferOwn);
  EXPECT_EQ(s.requestedSize, 8 * kMiB);
  ASSERT_NE(s.block, nullptr);
  TargetSurfaceMapping map(Common(), &s, 8 * kMiB);
  const uint8_t* bytes = map.cpu;
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[8 * kMiB - 1], 0);
  EXPECT_EQ(s.sizeWord, (8 * kMiB) * 64u & ~0x3FFFu);
  EXPECT_EQ(Slots()[3].kind, kWorkBufferOwn);
  EXPECT_EQ(Slots()[3].owner, &s);
  EXPECT_EQ(Slots()[3].key, 0x77u);
  EXPECT_EQ(Slots()[3].size, 8 * kMiB);

  // Reserved again at another size: the old buffer goes first.
  board3d->switches.sizeMiB = 6.0f;
  ASSERT_TRUE(ReserveTargetMemory(&s, &surface, 0x77));
  EXPECT_EQ(s.attempts.size(), 2u);
  EXPECT_EQ(s.requestedSize, 6 * kMiB);
  EXPECT_EQ(Slots()[3].size, 6 * kMiB);

  ReleaseTargetMemory(&s, true);
  EXPECT_EQ(s.kind, kWorkBufferReleased);
  EXPECT_EQ(Slots()[3].owner, nullptr);
}

TEST_F(WorkBuffers, ASecondContextOfTheSameKeySharesAndAllocatesNothing) {
  TestTargetState a;
  TestTargetState b;
  Attach(a, 1);
  Attach(b, 2);
  ASSERT_TRUE(ReserveTargetMemory(&a, &surface, 0x77));
  ASSERT_TRUE(ReserveTargetMemory(&b, &surface, 0x77));
  EXPECT_EQ(b.kind, kWorkBufferShared);
  EXPECT_TRUE(b.attempts.empty());
  EXPECT_EQ(Slots()[2].kind, kWorkBufferShared);
  EXPECT_EQ(Slots()[2].size, 8 * kMiB);
  // Without a key nothing is shared.
  TestTargetState c;
  Attach(c, 4);
  ASSERT_TRUE(ReserveTargetMemory(&c, &surface, 0));
  EXPECT_EQ(c.kind, kWorkBufferOwnNoKey);
  EXPECT_EQ(c.attempts.size(), 1u);
}

TEST_F(WorkBuffers, FailedPlacementsRetryDownToSixMiB) {
  struct Case {
    float sizeMiB;
    std::vector<uint32_t> attempts;
  };
  const Case cases[] = {
      {5.0f, {5 * kMiB}},
      {6.0f, {6 * kMiB}},
      {7.0f, {7 * kMiB}},
      {12.0f, {12 * kMiB, 10 * kMiB, 8 * kMiB, 6 * kMiB}},
  };
  for (const Case& c : cases) {
    board3d->switches.sizeMiB = c.sizeMiB;
    TestTargetState s;
    Attach(s, 1);
    s.limit = 0;
    EXPECT_FALSE(ReserveTargetMemory(&s, &surface, 0x77));
    EXPECT_EQ(s.attempts, c.attempts) << c.sizeMiB;
    EXPECT_EQ(s.kind, kWorkBufferFailed);
    EXPECT_EQ(Slots()[1].owner, nullptr);
  }
  // A retry that fits is kept.
  board3d->switches.sizeMiB = 12.0f;
  TestTargetState s;
  Attach(s, 1);
  s.limit = 9 * kMiB;
  ASSERT_TRUE(ReserveTargetMemory(&s, &surface, 0x77));
  EXPECT_EQ(s.attempts, (std::vector<uint32_t>{12 * kMiB, 10 * kMiB, 8 * kMiB}));
  EXPECT_EQ(s.requestedSize, 8 * kMiB);
}

TEST_F(WorkBuffers, ClampsByRevisionClass) {
  struct Case {
    uint32_t revision;
    uint32_t clamp;
  };
  const Case cases[] = {{0x10000, 32 * kMiB}, {0x400, 8 * kMiB}, {0x2, 16 * kMiB}};
  board3d->switches.sizeMiB = 100.0f;
  for (const Case& c : cases) {
    Common()->revisionBits = c.revision;
    TestTargetState s;
    Attach(s, 1);
    s.limit = 0;
    EXPECT_FALSE(ReserveTargetMemory(&s, &surface, 0));
    ASSERT_FALSE(s.attempts.empty());
    EXPECT_EQ(s.attempts[0], c.clamp) << c.revision;
  }
}

TEST_F(WorkBuffers, TheSurfaceAndTheSwitchDecide) {
  struct Case {
    uint32_t surfaceFlags, bits;
    bool reserved;
  };
  const Case cases[] = {
      {0x8, 3, true},   {0x0, 3, false},  {0x0, 16 | 3, true}, {0x8, 1, false},
      {0x8, 2, false},  {0xC, 4, true},   {0x8, 4, false},     {0xC, 0, false},
  };
  for (const Case& c : cases) {
    surface.flagsWord = c.surfaceFlags;
    board3d->switches.memoryBits = c.bits;
    TestTargetState s;
    Attach(s, 1);
    s.limit = 0;
    ReserveTargetMemory(&s, &surface, 0);
    EXPECT_EQ(!s.attempts.empty(), c.reserved) << c.surfaceFlags << " " << c.bits;
  }
}

TEST_F(WorkBuffers, SizedBySurfaceWithCapabilityBit64) {
  board3d->switches.memoryBits = 3 | 64;
  board3d->switches.sizeMiB = 2.0f;
  surface.width = 2048;
  surface.height = 1536;  // factor 4
  TestTargetState s;
  Attach(s, 1);
  s.limit = 0;
  ReserveTargetMemory(&s, &surface, 0);
  ASSERT_FALSE(s.attempts.empty());
  EXPECT_EQ(s.attempts[0], 8 * kMiB);
}

TEST_F(WorkBuffers, AFactorOrSizeThatIsNoNumberTakesNoBuffer) {
  for (float bad : {NAN, INFINITY, -1.0f}) {
    board3d->switches.sizeMiB = bad;
    TestTargetState s;
    Attach(s, 1);
    EXPECT_FALSE(ReserveTargetMemory(&s, &surface, 0x77));
    EXPECT_TRUE(s.attempts.empty()) << bad;
    EXPECT_EQ(s.kind, kWorkBufferNone);
  }
}

TEST_F(WorkBuffers, AHandlePastTheSlotsGetsNoSlot) {
  MmSurface* const primary = Common()->primarySurface;
  const uint64_t pair = Common()->primarySurfacePair;
  TestTargetState a;
  Attach(a, 16);
  ASSERT_TRUE(ReserveTargetMemory(&a, &surface, 0x77));
  EXPECT_EQ(a.kind, kWorkBufferOwn);
  for (uint32_t i = 0; i < kRenderTargetSlots; ++i) EXPECT_EQ(Slots()[i].owner, nullptr) << i;
  EXPECT_EQ(Common()->primarySurface, primary);
  EXPECT_EQ(Common()->primarySurfacePair, pair);
  // Nor does it share: another context of the key finds no slot of it.
  TestTargetState b;
  Attach(b, 1000);
  ASSERT_TRUE(ReserveTargetMemory(&b, &surface, 0x77));
  EXPECT_EQ(b.kind, kWorkBufferOwn);
  EXPECT_EQ(b.attempts.size(), 1u);
}

TEST_F(WorkBuffers, DisablingTheDeviceReleasesEverySlot) {
  TestTargetState a;
  Attach(a, 5);
  ASSERT_TRUE(ReserveTargetMemory(&a, &surface, 0x77));
  ASSERT_TRUE(CreateReadbackSurface(Common()));
  ReleaseRenderTargets3d(pdev);
  EXPECT_EQ(a.kind, kWorkBufferReleased);
  EXPECT_EQ(Slots()[5].owner, nullptr);
  EXPECT_EQ(Common()->targetBoard3d, nullptr);
  board3d = TargetBoard(Common());  // made again for the rest of the test
}

// ---- Binding ---------------------------------------------------------------------------------

TEST_F(TargetState, BindingADepthTarget) {
  Common()->revisionBits = 0x2;
  RenderTargetState s;
  Attach(s, 1);
  struct Row {
    uint32_t code, engineCode;
  };
  const Row rows[] = {{17, 0}, {18, 1}, {19, 8}, {21, 7}, {22, 1}, {27, 6}, {28, 0}};
  for (const Row& r : rows) {
    FormatDescriptor format(r.code, "depth");
    Surface3d depth;
    depth.format = &format;
    s.depthScaleChanged = 0;
    BindDepthTarget(&s, &depth, false);
    EXPECT_EQ(s.depthCode, r.engineCode) << r.code;
    EXPECT_EQ(s.depthScale, DepthScale(&format)) << r.code;
    EXPECT_EQ(s.depthRequested, &depth);
    EXPECT_EQ(s.depthCurrent, &depth);
    s.depthScaleChanged = 0;
    BindDepthTarget(&s, nullptr, false);
    EXPECT_EQ(s.depthScale, 1.5259022e-5f);
    // 1 / 65,535 is the scale without a surface: unchanged for format 17.
    EXPECT_EQ(s.depthScaleChanged, r.code == 17 ? 0 : 1) << r.code;
    EXPECT_EQ(s.depthRequested, nullptr);
  }
  // A shadow is current only when asked for; the W-buffer flag follows bit 8.
  FormatDescriptor format(19, "depth");
  Surface3d depth, shadow;
  depth.format = &format;
  depth.flagsWord = 0x100;
  depth.shadowLink.shadow = &shadow;
  BindDepthTarget(&s, &depth, true);
  EXPECT_EQ(s.depthCurrent, &shadow);
  EXPECT_EQ(s.wBuffer, 1);
  // The board's fast-cleared depth surface decides the engine mode.
  board3d->fastClearedDepth = &depth;
  SharedLocked()->last1300Value = 0x99;
  EXPECT_EQ(Ours(Written([&] { BindDepthTarget(&s, &shadow, false); })),
            (std::vector<Words>{}));  // mode already off
  EXPECT_EQ(Ours(Written([&] { BindDepthTarget(&s, &depth, false); })),
            (std::vector<Words>{{2, 0x2121C0C0, 0x20A, 0x99}}));
  EXPECT_EQ(Ours(Written([&] { BindDepthTarget(&s, &shadow, false); })),
            (std::vector<Words>{{2, 0x2121C0C0, 0x0A, 0x99}}));
  board3d->fastClearedDepth = nullptr;
  depth.shadowLink.shadow = nullptr;
  BindDepthTarget(&s, nullptr, false);
}

TEST_F(TargetState, BindingAColourTarget) {
  RenderTargetState s;
  Attach(s, 1);
  FormatCatalogue* catalogue = Common()->formatCatalogue;
  ASSERT_NE(catalogue, nullptr);
  struct Row {
    uint32_t code, bound;
  };
  for (const Row r : {Row{7, 6}, Row{9, 8}, Row{12, 11}, Row{11, 11}, Row{21, 21}}) {
    Surface3d colour;
    colour.format = catalogue->Find(r.code);
    ASSERT_NE(colour.format, nullptr) << r.code;
    colour.SetPlacement(kNibbleAgp);
    ASSERT_TRUE(BindColourTarget(&s, &colour, false));
    EXPECT_EQ(s.colourFormat, catalogue->Find(r.bound)) << r.code;
    EXPECT_EQ(s.colourCurrent, &colour);
    colour.SetPlacement(kNibbleSystem);
    EXPECT_FALSE(BindColourTarget(&s, &colour, false));  // memory kind 1 is refused
    EXPECT_EQ(s.colourRequested, nullptr);
    EXPECT_EQ(s.colourCurrent, nullptr);
  }
  EXPECT_FALSE(BindColourTarget(&s, nullptr, false));
}

// ---- Clears ----------------------------------------------------------------------------------

TEST_F(TargetState, TheEngineClearOfASurface) {
  SharedLocked()->last1300Value = 0x99;
  RenderTargetState s;
  Attach(s, 1);
  Surface3d depth;
  struct Case {
    uint32_t revision;
    uint8_t tags;
    bool modeOnly;
    uint32_t mode;
  };
  const Case cases[] = {{0x2, 0, false, 8},     {0x2, 0, true, 0x108},   {0x400, 0, false, 0x208},
                        {0x400, 0, true, 0x308}, {0x400, 1, false, 8},    {0x400, 1, true, 0x108}};
  for (const Case& c : cases) {
    Common()->revisionBits = c.revision;
    EngineMode3d() = EngineModeCache();
    EngineMode3d().syncTagsOn = c.tags;
    depth.changed = 0;
    depth.clearDepth = 0;
    const uint32_t tag = NextTag();
    std::vector<Words> expected;
    if (c.tags != 0) expected.push_back({3, 0x21AFAFC0, 0x207, tag | 1, tag});
    if (c.modeOnly)
      expected.push_back({2, 0x2121C0C0, c.mode, 0x99});
    else
      expected.push_back({3, 0x21C0C0AD, 0x00FFFFFF, c.mode, 0x99});
    EXPECT_EQ(Ours(Written([&] { ClearTargetSurface(&s, Secondary(), 0x00FFFFFF, &depth, c.modeOnly, 0.75f); })),
              expected)
        << c.revision << " " << unsigned{c.tags} << " " << c.modeOnly;
    EXPECT_EQ(depth.changed, 1);
    EXPECT_EQ(depth.clearDepth, c.modeOnly ? 0.0f : 0.75f);
    if (c.revision == 0x400) {
      EXPECT_EQ(EngineMode3d().clearWord, c.mode);
      EXPECT_EQ(EngineMode3d().clearFlag, 1);
    }
  }
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0xAD).back(), 0x00FFFFFFu);
  // With no 0x1300 value the base word takes the no-write index.
  Common()->revisionBits = 0x2;
  EngineMode3d() = EngineModeCache();
  SharedLocked()->last1300Value = kLastRegNone;
  EXPECT_EQ(Ours(Written([&] { ClearTargetSurface(&s, Secondary(), 5, &depth, false, 0.5f); })),
            (std::vector<Words>{{3, 0x2120C0AD, 5, 8, kLastRegNone}}));
  EXPECT_EQ(Ours(Written([&] { ClearTargetSurface(&s, Secondary(), 5, &depth, true, 0.5f); })),
            (std::vector<Words>{{2, 0x212120C0, 0x108, kLastRegNone}}));
}

TEST_F(TargetState, TheRowsAFastClearFillsFirst) {
  EXPECT_EQ(FastClearFirstFilledRow(1024, 1024, 4, false), 768u);
  EXPECT_EQ(FastClearFirstFilledRow(1024, 1024, 4, true), 960u);
  EXPECT_EQ(FastClearFirstFilledRow(1024, 768, 4, false), 768u);   // exactly the limit: none
  EXPECT_EQ(FastClearFirstFilledRow(640, 480, 2, false), 480u);
  EXPECT_EQ(FastClearFirstFilledRow(16384, 16384, 4, false), 32u);
  EXPECT_EQ(FastClearFirstFilledRow(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, true), 0u);
  EXPECT_EQ(FastClearFirstFilledRow(1024, 1024, 0, false), 1024u);
}

// Clears fill placed surfaces of the board: the board's 2D engine runs the
// fills, and what the tests check is the surfaces' memory against a
// reference painted here (every pixel outside the fills keeps the
// background, every pixel inside keeps the bits outside the write mask).
class Clears : public TargetState {
 protected:
  static constexpr uint32_t kBackground = 0xA5A5A5A5;

  void SetUp() override {
    TargetState::SetUp();
    engine2d = std::make_unique<orvsim::Engine2d>(board, dma);
    SharedLocked()->last1300Value = 0x99;
    Attach(state, 1);
    state.viewport[2] = state.clip[2] = 1024;
    state.viewport[3] = state.clip[3] = 1024;
    depth = Place(19, 1024, 1024);
    colour = Place(29, 640, 480);
    ASSERT_NE(depth, nullptr);
    ASSERT_NE(colour, nullptr);
    Paint(depth);
    Paint(colour);
  }
  // The state goes before the board it was attached to, the surfaces
  // before their memory.
  void TearDown() override {
    state.colourCurrent = state.depthCurrent = nullptr;
    held.reset();
    if (Common() != nullptr) Common()->openRenderTarget = nullptr;
    if (board3d != nullptr) board3d->fastClearedDepth = nullptr;
    for (Surface3d* s : placed) delete s;
    placed.clear();
    EXPECT_TRUE(engine2d->Faults().empty());
    engine2d.reset();
    TargetState::TearDown();
  }

  Surface3d* Place(uint32_t code, uint32_t width, uint32_t height) {
    SurfaceCreateRequest r;
    r.placement = kPlaceLocal;
    r.format = Common()->formatCatalogue->Find(code);
    r.surfaceType = 3;
    r.width = width;
    r.height = height;
    r.levels = 1;
    r.depth = 1;
    Surface3d* s = r.format != nullptr ? Surface3d::CreatePlaced(pdev, &r) : nullptr;
    if (s != nullptr) placed.push_back(s);
    return s;
  }

  // The surface's rows as the processor sees them, once the engine is done;
  // the look does not count as an access (no render target is closed).
  std::vector<uint8_t> Memory(Surface3d* s) {
    dma.RunPending();
    s->inSync = 1;
    const uint64_t at = s->Lock();
    std::vector<uint8_t> out(uint64_t{s->pitch} * s->height);
    EXPECT_NE(at, 0u);
    if (at != 0) memcpy(out.data(), reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), out.size());
    s->Unlock();
    s->inSync = 0;
    return out;
  }
  void Paint(Surface3d* s) {
    s->inSync = 1;
    const uint64_t at = s->Lock();
    ASSERT_NE(at, 0u);
    memset(reinterpret_cast<void*>(static_cast<uintptr_t>(at)), kBackground & 0xFF, uint64_t{s->pitch} * s->height);
    s->Unlock();
    s->inSync = 0;
  }

  struct Fill {
    int32_t left, top, right, bottom;
    uint32_t value, mask;
  };
  // Every pixel of the surface against the background with the fills
  // applied in order; the first difference is reported.
  void ExpectFills(Surface3d* s, const std::vector<Fill>& fills, const char* what = "") {
    const std::vector<uint8_t> m = Memory(s);
    const uint32_t bytes = s->bytesPerPixel;
    const uint32_t bits = bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
    for (uint32_t y = 0; y < s->height; ++y)
      for (uint32_t x = 0; x < s->width; ++x) {
        uint32_t expected = kBackground & bits;
        for (const Fill& f : fills)
          if (int64_t{x} >= f.left && int64_t{x} < f.right && int64_t{y} >= f.top && int64_t{y} < f.bottom)
            expected = ((expected & ~f.mask) | (f.value & f.mask)) & bits;
        uint32_t stored = 0;
        memcpy(&stored, &m[uint64_t{y} * s->pitch + uint64_t{x} * bytes], bytes);
        ASSERT_EQ(stored, expected) << what << " at " << x << "," << y;
      }
  }
  void ExpectUntouched(Surface3d* s, const char* what = "") { ExpectFills(s, {}, what); }

  std::unique_ptr<orvsim::Engine2d> engine2d;
  std::unique_ptr<RenderTargetState> held = std::make_unique<RenderTargetState>();
  RenderTargetState& state = *held;
  std::vector<Surface3d*> placed;
  Surface3d* depth = nullptr;
  Surface3d* colour = nullptr;
};

TEST_F(Clears, AFastDepthClearFillsTheRowsPastTheLimitFirst) {
  board3d->switches.fastClear = 1;
  state.depthCurrent = depth;
  for (bool later : {false, true}) {
    Common()->revisionBits = later ? 0x400 : 0x2;
    board3d->fastClearedDepth = nullptr;
    Common()->openRenderTarget = nullptr;
    Paint(depth);
    const ClearRecord record = {kClearDepth | kClearStencil, 0, 1.0f, 0};
    const ClearRect rect = {0, 0, 1024, 1024};
    const std::vector<Words> p = Ours(Written([&] { ClearTargetRects(&state, record, &rect, 1); }));
    const int32_t first = later ? 960 : 768;
    ExpectFills(depth, {{0, first, 1024, 1024, 0x00FFFFFF, 0xFFFFFFFF}}, later ? "later" : "first");
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p.back(), (Words{3, 0x21C0C0AD, 0x00FFFFFF, later ? 0x208u : 8u, 0x99}));
    EXPECT_EQ(board3d->fastClearedDepth, depth);
    // The fast-cleared surface is the board's render target open for
    // drawing.
    EXPECT_EQ(Common()->openRenderTarget, depth);
    EXPECT_NE(depth->flagsWord & kSurfDepthCleared, 0u);
    EXPECT_EQ(depth->clearDepth, 1.0f);
  }
}

TEST_F(Clears, ARectangleNotAtColumnZeroIsFilled) {
  board3d->switches.fastClear = 1;
  state.depthCurrent = depth;
  board3d->fastClearedDepth = depth;
  Common()->openRenderTarget = depth;
  Common()->revisionBits = 0x2;
  const ClearRecord record = {kClearDepth, 0, 0.5f, 0};
  const ClearRect rect = {8, 0, 64, 64};
  const std::vector<Words> p = Ours(Written([&] { ClearTargetRects(&state, record, &rect, 1); }));
  // The stencil bits keep the background.
  ExpectFills(depth, {{8, 0, 64, 64, 0x00800000, 0x00FFFFFF}});
  // It was the fast-cleared surface: its drawing is closed first, the clear
  // mode set without clearing it again.
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p[0], (Words{2, 0x2121C0C0, 0x108, 0x99}));
  EXPECT_EQ(board3d->fastClearedDepth, nullptr);
  EXPECT_EQ(Common()->openRenderTarget, nullptr);
}

TEST_F(Clears, OnlyARectangleCoveringTheSurfaceIsClearedByTheEngine) {
  board3d->switches.fastClear = 1;
  state.depthCurrent = depth;
  Common()->revisionBits = 0x400;
  const ClearRecord record = {kClearDepth, 0, 0.5f, 0};
  // Bands from column 0 that miss rows or columns are filled: the engine's
  // clear would take the whole surface.
  for (const ClearRect band : {ClearRect{0, 8, 1024, 1024}, ClearRect{0, 0, 512, 1024}, ClearRect{0, 0, 1024, 16}}) {
    board3d->fastClearedDepth = nullptr;
    Paint(depth);
    const std::vector<Words> p = Ours(Written([&] { ClearTargetRects(&state, record, &band, 1); }));
    ExpectFills(depth, {{band.left, band.top, band.right, band.bottom, 0x00800000, 0x00FFFFFF}});
    for (const Words& w : p) EXPECT_NE(w[1], 0x21C0C0ADu);
    EXPECT_EQ(board3d->fastClearedDepth, nullptr);
  }
  // After the engine cleared the whole surface the other rectangles hold
  // the value: one clear, and only the fill of the rows past the engine's
  // limit that goes with it.
  Paint(depth);
  const ClearRect rects[3] = {{0, 0, 1024, 1024}, {0, 8, 1024, 1024}, {0, 0, 1024, 1024}};
  const std::vector<Words> p = Ours(Written([&] { ClearTargetRects(&state, record, rects, 3); }));
  EXPECT_EQ(std::count_if(p.begin(), p.end(), [](const Words& w) { return w[1] == 0x21C0C0ADu; }), 1);
  ExpectFills(depth, {{0, 960, 1024, 1024, 0x00800000, 0x00FFFFFF}});
  EXPECT_EQ(board3d->fastClearedDepth, depth);
}

TEST_F(Clears, RectanglesAreClippedAndClamped) {
  state.colourCurrent = colour;
  state.viewport[0] = 100;
  state.viewport[1] = 100;
  state.viewport[2] = 2000;  // wider than the surface
  state.viewport[3] = 50;
  struct Case {
    uint32_t flags;
    std::vector<ClearRect> rects;
    std::vector<Fill> fills;
  };
  const Case cases[] = {
      {kClearColour, {{0, 0, 50, 50}}, {}},  // outside the viewport
      {kClearColour, {{0, 0, 5000, 5000}}, {{100, 100, 640, 150, 0x12121212, 0xFFFFFFFF}}},
      {kClearColour | kClearTargetCoordinates, {}, {{0, 0, 640, 480, 0x12121212, 0xFFFFFFFF}}},
      {kClearColour | kClearTargetCoordinates, {{-10, 900, 20, 400}}, {{0, 400, 20, 480, 0x12121212, 0xFFFFFFFF}}},
      {kClearDepth, {{0, 0, 5000, 5000}}, {}},  // no depth target
  };
  for (const Case& k : cases) {
    Paint(colour);
    const ClearRecord record = {k.flags, 0xFF000012, 0.0f, 0};
    ClearTargetRects(&state, record, k.rects.data(), static_cast<uint32_t>(k.rects.size()));
    ExpectFills(colour, k.fills);
  }
  ExpectUntouched(depth);
}

TEST_F(Clears, DepthCoordinatesOutsideZeroToOneAreDefined) {
  state.depthCurrent = depth;
  state.viewport[2] = state.clip[2] = 64;
  state.viewport[3] = state.clip[3] = 32;
  for (float z : {-1.0f, 2.0f, NAN}) {
    Paint(depth);
    const ClearRecord record = {kClearDepth | kClearTargetCoordinates, 0, z, 0};
    ClearTargetRects(&state, record, nullptr, 0);
    ExpectFills(depth, {{0, 0, 64, 32, z == 2.0f ? 0x00FFFFFFu : 0u, 0x00FFFFFF}});
  }
}

// A state's repeated depth clears each fill what their own record asks
// for: the value converted for one clear serves the next only when the
// format, depth, stencil and flags are the same.
TEST_F(Clears, EachDepthClearFillsItsOwnRecordsValue) {
  Surface3d* d24s8 = Place(19, 64, 64);
  Surface3d* d24s4 = Place(25, 64, 64);
  ASSERT_NE(d24s8, nullptr);
  ASSERT_NE(d24s4, nullptr);
  struct Step {
    Surface3d* surface;
    ClearRecord record;
  };
  const Step steps[] = {
      {d24s8, {kClearDepth, 0, 0.5f, 0}},
      {d24s8, {kClearDepth, 0, 0.5f, 0}},                    // the same again
      {d24s8, {kClearDepth, 0, 0.25f, 0}},                   // another depth
      {d24s8, {kClearDepth | kClearStencil, 0, 0.25f, 0}},   // the stencil too
      {d24s8, {kClearDepth | kClearStencil, 0, 0.25f, 3}},   // another stencil
      {d24s8, {kClearStencil, 0, 0.25f, 3}},                 // the stencil only
      {d24s4, {kClearStencil, 0, 0.25f, 3}},                 // another format
  };
  const ClearRect rect = {0, 0, 8, 8};
  for (const Step& k : steps) {
    Paint(k.surface);
    state.depthCurrent = k.surface;
    ClearTargetRects(&state, k.record, &rect, 1);
    DepthClear c = {};
    ASSERT_TRUE(GetDepthClearValue(k.surface->format->code, k.record.depth, k.record.stencil,
                                   (k.record.flags & kClearDepth) != 0, (k.record.flags & kClearStencil) != 0, &c));
    ExpectFills(k.surface, {{0, 0, 8, 8, c.value, c.mask}});
  }
}

TEST_F(Clears, ColourModesAndTheMarkedDepthSurface) {
  Surface3d* packed = Place(10, 16, 16);  // 5:6:5
  ASSERT_NE(packed, nullptr);
  ASSERT_EQ(packed->bytesPerPixel, 2u);
  Paint(packed);
  state.colourCurrent = packed;
  const ClearRecord record = {kClearColour, 0x00FF0000, 0.0f, 0};
  const ClearRect rect = {0, 0, 8, 8};
  for (uint32_t mode : {1u, 3u}) {
    state.colourDepthMode = mode;
    ClearTargetRects(&state, record, &rect, 1);
    ExpectUntouched(packed, "mode 1 or 3");
  }
  state.colourDepthMode = 2;
  ClearTargetRects(&state, record, &rect, 1);
  ExpectFills(packed, {{0, 0, 8, 8, 0xF800F800, 0xFFFFFFFF}});

  // No depth flag, a depth surface marked for its clear: filled with 0 under
  // mask 0x01000000.
  state.colourCurrent = nullptr;
  state.depthCurrent = depth;
  depth->flagsWord |= kSurfDepthNeedsClear;
  ClearTargetRects(&state, record, &rect, 1);
  ExpectFills(depth, {{0, 0, 8, 8, 0, 0x01000000}});
  EXPECT_NE(depth->flagsWord & kSurfDepthCleared, 0u);
  depth->flagsWord &= ~(kSurfDepthNeedsClear | kSurfDepthCleared);
  Paint(depth);
  ClearTargetRects(&state, record, &rect, 1);
  ExpectUntouched(depth);
}
// Closing the drawing into the open render target: the engine draws the
// whole surface once at its surface value with the surface as its depth
// target, tags it, sets the clear mode and turns the engine mode off.
TEST_F(Clears, ClosingTheOpenRenderTargetDrawsItOnceAndTagsIt) {
  Common()->revisionBits = 0x2;
  depth->surfaceValue = 0x3F400000;
  board3d->fastClearedDepth = depth;
  Common()->openRenderTarget = depth;
  const std::vector<Words> p = Ours(Written([&] { FlushRenderTarget(depth, Common(), 1); }));
  ASSERT_GE(p.size(), 5u);
  // The surface's tag is the newest (the engine owner's set-up may take
  // tags of its own before it).
  const uint32_t tag = SharedLocked()->syncTagCounter;
  EXPECT_EQ(p.front(), (Words{2, 0x2121C0C0, 0x20A, 0x99}));  // the engine mode on first
  const std::vector<Words> last(p.end() - 4, p.end());
  const uint32_t one = F(1.0f), v = 0x3F400000;
  EXPECT_EQ(last, (std::vector<Words>{{14, 0x605E5D58, one, v, 0, 0, 0x605E5D59, one, v, 0, F(1024.0f), 0x605F5D5A,
                                       one, v, F(1024.0f), 0},
                                      {4, 0xC0AFAFC0, 0x207, tag | 1, tag, 0x99},
                                      {2, 0x2121C0C0, 0x108, 0x99},
                                      {2, 0x2121C0C0, 0x0A, 0x99}}));
  // What the engine took as its depth target before the draw.
  const MmSurfDesc& record = depth->hw.records[kUsageDepthStencil];
  ASSERT_FALSE(PacketWrites(0x1000 + 4 * 0xB4).empty());
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0xB4).back(), record.word0);
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0xB2).back() >> 8 & 0xF, 8u);  // format 19's depth code
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0x8A).back(), record.word0);
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0x8B).back(), (record.word1 & ~0x3FFFu) | 1024u);
  EXPECT_EQ(PacketWrites(0x1000 + 4 * 0xC3).back(), 1024u << 16 | 1024u);
  EXPECT_EQ(static_cast<uint32_t>(depth->block->drawSyncTag), tag);
  EXPECT_EQ(Common()->openRenderTarget, nullptr);
  EXPECT_EQ(board3d->fastClearedDepth, nullptr);
  EXPECT_TRUE(depth->AwaitEngine());
  // The drawing is closed: the engine's memory was not cleared again.
  ExpectUntouched(depth);

  // Mode 0 only forgets the target and turns the mode off; with the clear
  // mode set already nothing else goes out.
  EngineMode3d().clearFlag = 1;
  Common()->openRenderTarget = depth;
  EXPECT_EQ(Ours(Written([&] { FlushRenderTarget(depth, Common(), 0); })), (std::vector<Words>{}));
  EXPECT_EQ(Common()->openRenderTarget, nullptr);
}

// A processor access to the open render target closes its drawing first;
// a surface that is not open is left alone.
TEST_F(Clears, AProcessorReadOfTheOpenRenderTargetClosesItFirst) {
  Common()->revisionBits = 0x2;
  ResourceTable* table = CreateResourceTable(pdev, 78);
  ASSERT_NE(table, nullptr);
  depth->resourceTable = table;
  colour->resourceTable = table;
  Common()->openRenderTarget = depth;
  std::vector<uint8_t> out(16 * 4);
  SurfaceLockRequest read;
  read.direction = kLockRead;
  read.clientAddress = reinterpret_cast<uintptr_t>(out.data());
  read.clientPitch = 16 * 4;
  read.clientSize = out.size();
  read.source[2] = 16;
  read.source[3] = 1;
  const std::vector<Words> none = Ours(Written([&] { ASSERT_TRUE(colour->LockWithRequest(&read)); }));
  EXPECT_EQ(Common()->openRenderTarget, depth);
  const std::vector<Words> p = Ours(Written([&] { ASSERT_TRUE(depth->LockWithRequest(&read)); }));
  EXPECT_NE(std::find_if(p.begin(), p.end(), [](const Words& w) { return w[1] == 0xC0AFAFC0 && w[2] == 0x207; }),
            p.end());
  EXPECT_TRUE(std::find_if(none.begin(), none.end(), [](const Words& w) { return w[2] == 0x207; }) == none.end());
  EXPECT_EQ(Common()->openRenderTarget, nullptr);
  EXPECT_EQ(out[0], kBackground & 0xFF);
  depth->resourceTable = colour->resourceTable = nullptr;
  DestroyResourceTable(pdev, 78);
}

// Stopping the device forgets the open render target with the engine mode
// off and draws nothing into it after the closing tag.
TEST_F(Clears, StoppingTheDeviceForgetsTheOpenRenderTarget) {
  Common()->revisionBits = 0x2;
  board3d->fastClearedDepth = depth;
  Common()->openRenderTarget = depth;
  SetEngineModeFlag(true);
  dma.ClearWrites();
  DisablePdev(pdev);
  dma.RunPending();
  board3d = nullptr;  // the board's record went with the render targets
  EXPECT_EQ(Common()->openRenderTarget, nullptr);
  // The engine mode off, no draw.
  const std::vector<uint32_t> modes = PacketWrites(0x1000 + 4 * 0xC0);
  EXPECT_NE(std::find(modes.begin(), modes.end(), 0x0Au), modes.end());
  EXPECT_EQ(std::find(modes.begin(), modes.end(), 0x207u), modes.end());
  EXPECT_TRUE(PacketWrites(0x1000 + 4 * 0xB4).empty());
}
// A surface that goes is forgotten as the open render target.
TEST_F(Clears, AnOpenRenderTargetThatGoesIsForgotten) {
  Surface3d* gone = Place(19, 64, 64);
  ASSERT_NE(gone, nullptr);
  board3d->fastClearedDepth = gone;
  Common()->openRenderTarget = gone;
  placed.pop_back();
  delete gone;
  EXPECT_EQ(Common()->openRenderTarget, nullptr);
  EXPECT_EQ(board3d->fastClearedDepth, nullptr);
  // Another surface leaves the record alone.
  board3d->fastClearedDepth = depth;
  Common()->openRenderTarget = depth;
  Surface3d* other = Place(19, 64, 64);
  ASSERT_NE(other, nullptr);
  placed.pop_back();
  delete other;
  EXPECT_EQ(Common()->openRenderTarget, depth);
  EXPECT_EQ(board3d->fastClearedDepth, depth);
}
}  // namespace
