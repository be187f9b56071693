// The engine state over a started board: context states written as
// register-group packets, the engine owner switching between them with only
// what differs, its operations, flushes and synchronisation points, and
// the texture stages and units. What the board's registers hold after the
// engine ran the packets is compared with the image each state keeps.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "core/common_data.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/tnl/vertex_program.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/3d/engine/tests/register_image.h"
#include "kernel/tests/stream_fixture.h"
#include "platform/board/chip_2d.h"

namespace {

using Packet = std::vector<uint32_t>;

// The stream words as packets: a count n and its n + 1 words, or a command
// word and its body.
std::vector<Packet> Packets(const std::vector<uint32_t>& words) {
  std::vector<Packet> out;
  for (size_t i = 0; i < words.size();) {
    const uint32_t w = words[i];
    const size_t n = (w & 0xFF000000) != 0 ? (w & 0xFFFF) + 2 : w + 2;
    out.emplace_back(words.begin() + static_cast<long>(i),
                     words.begin() + static_cast<long>(std::min(words.size(), i + n)));
    i += n;
  }
  return out;
}

using ktest::ImageGroup;
using ktest::ImageOf;

// Fills the stream with 81-word group packets that write nothing while at
// least `keep` + 81 words are left, so a test can put the buffer's end
// where it wants it.
void FillWithEmptyGroups(BmSecondaryInt* stream, uint32_t keep) {
  while (static_cast<uint32_t>(stream->limit - stream->cursor) >= keep + 81) {
    uint32_t* at = stream->Reserve(81);
    ASSERT_NE(at, nullptr);
    at[0] = 79;
    for (uint32_t g = 0; g < 16; ++g) {
      at[1 + 5 * g] = 0x20202020;
      for (uint32_t k = 0; k < 4; ++k) at[2 + 5 * g + k] = 0;
    }
  }
}

class EngineState : public ktest::StartedBoard {
 protected:
  void SetUp() override {
    StartedBoard::SetUp();
    owner = Common()->engineOwner3d;
    ASSERT_NE(owner, nullptr);
  }

  // Runs f, then what it wrote into the secondary stream: the words.
  template <class F>
  std::vector<uint32_t> Written(F&& f) {
    BmSecondaryInt* s = Secondary();
    const uint32_t* from = s->cursor;
    BmBuffer* head = s->head;
    f();
    EXPECT_EQ(s->head, head) << "the stream switched buffers";
    std::vector<uint32_t> words(from, static_cast<const uint32_t*>(s->cursor));
    s->ExecutePending();
    dma.RunPending();
    return words;
  }

  uint32_t Reg(uint8_t index) const { return board.Peek(0x1000 + 4u * index, 4); }

  // Every group the current state does not mark dirty holds its image in
  // the board's registers.
  void ExpectImageInRegisters(const char* where) {
    ContextState3d* s = owner->Current();
    ASSERT_NE(s, nullptr) << where;
    for (const ImageGroup& g : ImageOf(*s)) {
      if ((s->dirty.words[0] & g.bit) != 0) continue;
      for (const auto& [reg, value] : g.regs)
        ASSERT_EQ(Reg(reg), value) << where << ": register 0x" << std::hex << unsigned{reg} << ", group bit 0x"
                                   << g.bit;
    }
  }

  std::unique_ptr<ContextState3d> NewState(uint32_t kind = 0) {
    auto s = std::make_unique<ContextState3d>(owner);
    s->operationBlock[kOpKind] = kind;
    for (uint32_t& w : s->dirty.words) w = 0xFFFFFFFF;
    return s;
  }

  EngineOwner3d* owner = nullptr;
  orvsim::Engine2d engine2d{board, dma};
};

// ---- ContextState3d::Emit --------------------------------------------------------------------

TEST_F(EngineState, TheDefaultsGoOutAsTheirGroups) {
  ContextState3d s(nullptr);
  s.dirty.words[0] = kCsDirtyRasterA | kCsDirtyRasterB;
  EXPECT_EQ(Written([&] { s.Emit(Secondary()); }),
            (std::vector<uint32_t>{4, 0xBEBFCBCA, 0, 0, 0x18004014, 0x02800000, 4, 0xBBBCB9BA, 0, 0, 0, 0}));
  EXPECT_EQ(s.dirty.words[0], 0u);
  EXPECT_EQ(Reg(0xBF), 0x18004014u);
  EXPECT_EQ(Reg(0xBE), 0x02800000u);

  struct Case {
    uint32_t bits;
    std::vector<uint32_t> words;
  };
  const Case depth[] = {
      {kCsDirtyDepth | kCsDirtyStencil, {6, 0x21B4B3B2, 0, 0, 0, 0x2121B1B0, 0x80000000, 0x7FFFFFFF}},
      {kCsDirtyDepth, {3, 0x21B4B3B2, 0, 0, 0}},
      {kCsDirtyStencil, {2, 0x2121B1B0, 0x80000000, 0x7FFFFFFF}},
  };
  for (const Case& c : depth) {
    s.dirty.words[0] = c.bits;
    EXPECT_EQ(Written([&] { s.Emit(Secondary()); }), c.words) << c.bits;
    EXPECT_EQ(s.dirty.words[0], 0u);
  }
  EXPECT_EQ(Reg(0xB0), 0x80000000u);
  EXPECT_EQ(Reg(0xB1), 0x7FFFFFFFu);
  EXPECT_TRUE(dma.DecodeErrors().empty());
}

// Near the end of a buffer the emission reserves packet by packet: the
// stream switches between packets, never inside one, and the engine ends
// with the same registers as with room to spare.
TEST_F(EngineState, AnEmissionNearTheBufferEndSwitchesOnlyBetweenPackets) {
  BmSecondaryInt* stream = Secondary();
  // Rooms around the most the blocks before the uploads write (106 words)
  // and around the most of all of them.
  for (uint32_t room : {0u, 8u, 40u, 100u, 103u, 106u, 110u, 200u, 370u, 373u, 400u}) {
    ContextState3d s(nullptr);
    for (uint32_t i = 0; i < 10; ++i) s.rasterBlock[i] = 0x1000 + i;
    for (uint32_t i = 0; i < 8; ++i) s.depthStencilBlock[i] = 0x2000 + i;
    for (uint32_t i = 0; i < 34; ++i) s.coordinateBlock[i] = 0x3000 + i;
    for (uint32_t i = 3; i < kOpWords; ++i) s.operationBlock[i] = 0x4000 + i;
    s.fogBlock[0] = 3;
    s.fogBlock[1] = 0x5001;
    s.controlWord = 0x360104;
    s.textureUnits.stageCount = 4;
    s.textureUnits.unitCount = 10;
    s.textureUnits.stageEnable = 0x6000 + room;
    s.dirty.words[0] = kCsDirtyBlockGroups;
    s.dirty.words[1] = s.dirty.words[2] = 0xFFFFFFFF;
    // Packets that write nothing fill the buffer up to the room left.
    FillWithEmptyGroups(stream, room + 3);
    while (static_cast<uint32_t>(stream->limit - stream->cursor) >= room + 3) {
      uint32_t* at = stream->Reserve(3);
      ASSERT_NE(at, nullptr);
      at[0] = 1;
      at[1] = PacketHeader(kIdxDiscard);
      at[2] = 0;
    }
    s.Emit(stream);
    EXPECT_LE(stream->cursor, stream->limit) << "room " << room << ": written past the buffer's limit";
    EXPECT_EQ(s.dirty.words[0], 0u) << room;
    stream->ExecutePending();
    dma.RunPending();
    for (const ImageGroup& g : ImageOf(s))
      for (const auto& [reg, value] : g.regs)
        EXPECT_EQ(Reg(reg), value) << "room " << room << ", register 0x" << std::hex << unsigned{reg};
    EXPECT_EQ(Reg(0xBD), 0x6000 + room);
  }
  EXPECT_TRUE(dma.DecodeErrors().empty());
}

TEST_F(EngineState, TheFogTableGoesOutOnlyForAModeThatReadsIt) {
  ContextState3d s(nullptr);
  for (uint32_t i = 0; i < 64; ++i) s.fogBlock[3 + i] = 0x100 + i;
  struct Case {
    uint32_t word;
    uint32_t bits;
    bool table;
  };
  const Case cases[] = {
      {0x3, kCsDirtyFog | kCsDirtyFogTable, true},  {0x5, kCsDirtyFog | kCsDirtyFogTable, true},
      {0x1, kCsDirtyFog | kCsDirtyFogTable, false}, {0x6, kCsDirtyFog | kCsDirtyFogTable, false},
      {0x3, kCsDirtyFog, false},                    {0x3, kCsDirtyFogTable, false},
  };
  for (const Case& c : cases) {
    s.fogBlock[0] = c.word;
    s.dirty.words[0] = c.bits;
    const std::vector<Packet> p = Packets(Written([&] { s.Emit(Secondary()); }));
    const size_t expected = ((c.bits & kCsDirtyFog) != 0 ? 1 : 0) + (c.table ? 1 : 0);
    ASSERT_EQ(p.size(), expected) << c.word << " " << c.bits;
    if (c.table) {
      EXPECT_EQ(p[1][0], 79u);
      EXPECT_EQ(p[1][1], 0xB8B8B8B8u);
      EXPECT_EQ(p[1][2], 0x100u);
      EXPECT_EQ(p[1][80], 0x100u + 63);
      EXPECT_EQ(Reg(0xB8), 0x100u + 63);
    }
    EXPECT_EQ(s.dirty.words[0], 0u);
  }
}

TEST_F(EngineState, AnUploadStartsBehindTheFenceWithItsCommandWord) {
  auto s = NewState();
  s->dirty.words[1] = s->dirty.words[2] = 0;
  VertexProgramBuilder* builder = Common()->vertexProgramBuilder;
  ASSERT_NE(builder, nullptr);
  VertexProgram* program = builder->GetFixedProgram(0, 0);
  ASSERT_NE(program, nullptr);
  std::vector<uint32_t> code;
  for (uint32_t n : {4u, 12u, 36u}) {
    code.assign(n, 0);
    for (uint32_t i = 0; i < n; ++i) code[i] = 0x1000 + i;
    s->uploads[0] = VertexUploadSlot{program, code.data(), n};
    owner->resync = 0;
    builder->memoryChanged = 0;
    s->dirty.words[0] = kCsDirtyUpload1;
    const std::vector<Packet> p = Packets(Written([&] { s->Emit(Secondary()); }));
    ASSERT_EQ(p.size(), 2u) << n;
    const uint32_t start = program->GetStartAddress();
    EXPECT_EQ(p[0], (Packet{4, 0x403C3CDD, 0, k3dProgramOpen, k3dProgramOpen, start}));
    const uint32_t command = 0x41000000 | ((n - 1) & 0xFFFF) | ((((n / 4) - 1) << 17) & 0x7E0000);
    EXPECT_EQ(p[1][0], command) << n;
    EXPECT_EQ(p[1].size(), n + 1);
    EXPECT_EQ(p[1][n], 0x1000 + n - 1);
    EXPECT_NE(s->dirty.words[0] & kCsDirtyProgramFence, 0u);
  }
  // A builder whose memory changed gets the pending fence after the start.
  builder->memoryChanged = 1;
  s->dirty.words[0] = kCsDirtyUpload1;
  const std::vector<Packet> p = Packets(Written([&] { s->Emit(Secondary()); }));
  ASSERT_GE(p.size(), 3u);
  EXPECT_EQ(p[1], (Packet{1, 0x2121213C, 0x80000028}));
  EXPECT_EQ(builder->memoryChanged, 0);
}

// ---- EngineOwner3d ---------------------------------------------------------------------------

TEST_F(EngineState, OneStateTwiceEmitsItsGroupsOnceAndTheOperationTwice) {
  auto s = NewState(1);
  s->operationBlock[kOpCode] = s->controlWord = 0x30000C;
  const std::vector<Packet> first = Packets(Written([&] { owner->Execute(s.get(), 0, false); }));
  const std::vector<Packet> second = Packets(Written([&] { owner->Execute(s.get(), 0, false); }));
  // The second time only the operation: count 13, ending on the start.
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0][0], 13u);
  EXPECT_EQ(second[0][1], 0x8D8C8988u);
  EXPECT_EQ(second[0][13], 0x212121DDu);
  EXPECT_EQ(second[0][14], 0u);
  EXPECT_GT(first.size(), 5u);
  EXPECT_EQ(first.back(), second[0]);
  const auto& starts = engine2d.OperationStarts();
  ASSERT_GE(starts.size(), 2u);
  EXPECT_EQ(starts.back(), (orvsim::Engine2d::OperationStart{0xDD, 0x30000C}));
  ExpectImageInRegisters("after two operations");
}

TEST_F(EngineState, SwitchingBackReemitsExactlyTheGroupsTheOtherStateChanged) {
  // Two fresh states over the enable's defaults: nothing of them differs
  // from the engine yet.
  auto a = std::make_unique<ContextState3d>(owner);
  auto b = std::make_unique<ContextState3d>(owner);
  EXPECT_TRUE(Packets(Written([&] { owner->Execute(a.get(), 0, false); })).size() <= 1u);
  ExpectImageInRegisters("A");
  // B changes its depth and placement groups.
  b->depthStencilBlock[4] = 0x1234;
  b->operationBlock[kOpOrigin] = 0x00100010;
  b->dirty.words[0] |= kCsDirtyDepth | kCsDirtyPlacement;
  Written([&] { owner->Execute(b.get(), 0, false); });
  EXPECT_EQ(Reg(0xB2), 0x1234u);
  ExpectImageInRegisters("B");
  const std::vector<Packet> back = Packets(Written([&] { owner->Execute(a.get(), 0, false); }));
  // A sync point for the switch, then A's depth and placement groups.
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0][1], 0x2121C0C0u);
  EXPECT_EQ(back[1], (Packet{3, 0x21B4B3B2, 0, 0, 0}));
  EXPECT_EQ(back[2][1], 0x21C3C2C1u);
  EXPECT_EQ(Reg(0xB2), 0u);
  ExpectImageInRegisters("A again");
}

TEST_F(EngineState, TheFirstExecuteAfterEnableEmitsEveryGroup) {
  auto s = std::make_unique<ContextState3d>(owner);  // nothing marked
  owner->started = 0;
  const std::vector<uint32_t> words = Written([&] { owner->Execute(s.get(), 0, false); });
  EXPECT_EQ(owner->started, 2u);
  for (const ImageGroup& g : ImageOf(*s))
    for (const auto& [reg, value] : g.regs) EXPECT_EQ(Reg(reg), value) << std::hex << unsigned{reg};
  EXPECT_EQ(s->dirty.words[0] & kCsDirtyBlockGroups, 0u);
  EXPECT_GT(words.size(), 60u);
}

TEST_F(EngineState, AFlushWithoutTheSequenceChipsWritesOnlyItsStart) {
  owner->deviceFlags = 0;
  owner->flushRequests = kFlushSequence;
  EXPECT_EQ(Written([&] { owner->EmitFlushSequence(false); }), (std::vector<uint32_t>{1, 0x212121DE, 0}));
  EXPECT_EQ(engine2d.OperationStarts().back().index, 0xDE);
  owner->flushRequests = 0;
  EXPECT_TRUE(Written([&] { owner->EmitFlushSequence(true); }).empty());
}

TEST_F(EngineState, TheFlushSequenceMarksEveryStageAndUnitAndZeroesItsGap) {
  auto s = NewState();
  Written([&] { owner->Execute(s.get(), 0, false); });
  ASSERT_EQ(owner->Current(), s.get());
  owner->deviceFlags = 0x02;
  owner->flushRequests = 0;
  // Stale words where the gap will be.
  BmSecondaryInt* stream = Secondary();
  uint32_t* at = stream->cursor;
  for (int i = 0; i < 200 && at + i < stream->limit; ++i) at[i] = 0xDEADBEEF;
  const std::vector<uint32_t> words = Written([&] { owner->EmitFlushSequence(true); });
  EXPECT_EQ(s->dirty.words[1], 0xFFFFFFFFu);
  EXPECT_EQ(s->dirty.words[2], 0xFFFFFFFFu);
  ASSERT_GE(words.size(), 11u);
  // The last three words name the gap; the eight before them are 0.
  const size_t n = words.size();
  EXPECT_EQ(words[n - 3], 0x17000001u);
  for (size_t i = n - 11; i < n - 3; ++i) EXPECT_EQ(words[i], 0u) << i;
  EXPECT_EQ(words[n - 1] - words[n - 2], 32u);
  EXPECT_EQ(words[0], 10u);  // {0xDD} with 0, then the program registers
  EXPECT_EQ(words[1], 0x212121DDu);
  EXPECT_EQ(words[2], 0u);
  ExpectImageInRegisters("after the flush sequence");
}

// The flush sequence and the stage operation write their packets in a row;
// wherever the buffer ends among them, the stream switches between packets
// and the engine receives the register writes it receives with room to
// spare, in the same order.
TEST_F(EngineState, FlushAndStageSequencesNearTheBufferEndWriteWhatTheyWriteWithRoom) {
  auto s = NewState();
  Written([&] { owner->Execute(s.get(), 0, false); });
  owner->deviceFlags = 0x02;
  BmSecondaryInt* stream = Secondary();
  for (const uint32_t capabilities : {0u, 0x400u}) {
    owner->capabilities = capabilities;
    auto run = [&] {
      owner->EmitFlushSequence(true);
      owner->EmitStageOperation(kStageOperationB, true);
      stream->ExecutePending();
      dma.RunPending();
    };
    // The packets' register writes, without the primary stream's ranges
    // and progress marks (where the buffers lie and switch).
    auto writes = [&] {
      std::vector<orvsim::DmaEngine::RegWrite> out;
      for (const auto& w : dma.Writes())
        if (w.reg != orvsim::kDmaRegBufferReport && w.reg != orvsim::kDmaRegBufferCounter &&
            w.reg != orvsim::kDmaRegExecStart && w.reg != orvsim::kDmaRegExecEnd)
          out.push_back(w);
      return out;
    };
    run();  // the flush program becomes resident
    dma.ClearWrites();
    run();
    const std::vector<orvsim::DmaEngine::RegWrite> reference = writes();
    ASSERT_GT(reference.size(), 60u);
    // Every room from none to more than the sequence takes.
    for (uint32_t room = 0; room < 160; ++room) {
      FillWithEmptyGroups(stream, room + 3);
      while (static_cast<uint32_t>(stream->limit - stream->cursor) >= room + 2) {
        uint32_t* at = stream->Reserve(2);
        ASSERT_NE(at, nullptr);
        at[0] = 0;
        at[1] = 0x21212121;  // pads only: no data word
      }
      stream->ExecutePending();
      dma.RunPending();
      dma.ClearWrites();
      run();
      EXPECT_LE(stream->cursor, stream->limit) << "room " << room << ": written past the buffer's limit";
      EXPECT_EQ(writes(), reference) << "capabilities 0x" << std::hex << capabilities << std::dec << ", room "
                                         << room;
    }
  }
  EXPECT_TRUE(dma.DecodeErrors().empty());
  EXPECT_TRUE(dma.Faults().empty());
}

TEST_F(EngineState, ASyncPointAfterTheLastTagUsesEight) {
  auto a = NewState();
  auto b = NewState();
  Written([&] { owner->Execute(a.get(), 0, false); });
  SharedLocked()->syncTagCounter = 0xFFFFFFF8;
  owner->tagPair = 1;
  const std::vector<Packet> p = Packets(Written([&] { owner->Execute(b.get(), 0, false); }));
  ASSERT_FALSE(p.empty());
  EXPECT_EQ(p[0], (Packet{4, 0xC0AFAFC0, p[0][2], 8, 9, b->controlWord}));
  owner->tagPair = 0;
}

// Random sequences of Execute, MarkChanged, changed groups and operations:
// after each, every group the current state does not mark dirty is what
// the board's registers hold.
TEST_F(EngineState, RandomSequencesKeepTheRegisterImage) {
  std::minstd_rand rng(7);
  std::vector<std::unique_ptr<ContextState3d>> states;
  for (uint32_t i = 0; i < 4; ++i) states.push_back(NewState(i));
  for (auto& s : states) s->operationBlock[kOpCode] = s->controlWord = 0x360004 + 0x10 * (rng() % 4);
  for (int step = 0; step < 400; ++step) {
    ContextState3d* s = states[rng() % states.size()].get();
    switch (rng() % 5) {
      case 0: {
        const uint32_t bits[3] = {static_cast<uint32_t>(rng()) & kCsDirtyBlockGroups, static_cast<uint32_t>(rng()),
                                  static_cast<uint32_t>(rng())};
        owner->MarkChanged(bits);
        break;
      }
      case 1:
        s->rasterBlock[2 + rng() % 8] = rng();
        s->dirty.words[0] |= kCsDirtyRasterA | kCsDirtyRasterB;
        break;
      case 2:
        s->operationBlock[10 + rng() % 10] = rng();
        s->dirty.words[0] |= 0x7E;
        break;
      case 3:
        Written([&] { owner->EmitStageOperation(rng() % 2 ? kStageOperationA : kStageOperationB, false); });
        break;
      default:
        Written([&] { owner->Execute(s, rng() % 3, (rng() & 1) != 0); });
        break;
    }
    if (owner->Current() != nullptr) ExpectImageInRegisters(("step " + std::to_string(step)).c_str());
    if (HasFatalFailure()) return;
  }
  EXPECT_TRUE(dma.DecodeErrors().empty());
}

TEST_F(EngineState, AStateThatGoesIsForgottenByTheOwner) {
  auto a = NewState();
  Written([&] { owner->Execute(a.get(), 0, false); });
  ContextState3d* raw = a.get();
  a.reset();
  EXPECT_EQ(owner->Current(), nullptr);
  for (ContextState3d* s = owner->Head(); s != nullptr; s = s->next) EXPECT_NE(s, raw);
}

// ---- Texture stages and units ----------------------------------------------------------------

TEST_F(EngineState, StageControlsGoThroughTheHeaderOfTheStageCount) {
  const uint32_t headers[5] = {0x83828180, 0x83828120, 0x83822020, 0x83202020, 0x20202020};
  for (uint32_t count = 0; count <= 4; ++count) {
    ContextState3d s(nullptr);
    s.textureUnits.stageCount = count;
    s.dirty.words[1] = kTuAllBit;
    const std::vector<Packet> p = Packets(Written([&] { s.textureUnits.Emit(Secondary(), false, true); }));
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p[0], (Packet{2, 0x2121DD87, 0, 0}));
    EXPECT_EQ(p.back()[1], headers[count]) << count;
    EXPECT_EQ(p.back()[0], 4u);
    EXPECT_EQ(s.dirty.words[1], 0u);
  }
}

TEST_F(EngineState, TheThirdStageGroupNamesThePairRegisterOnlyWithTheCapability) {
  for (bool capable : {false, true}) {
    ContextState3d s(nullptr);
    s.textureUnits.stageCount = 1;
    s.dirty.words[1] = 4;  // stage 0, third bit
    const std::vector<Packet> p = Packets(Written([&] { s.textureUnits.Emit(Secondary(), capable, true); }));
    ASSERT_GE(p.size(), 3u);
    EXPECT_EQ(p[1][1], 0x79787780u);
    EXPECT_EQ(p[2][1], capable ? 0x7A727473u : 0x20727473u);
    EXPECT_EQ(p.back()[1], capable ? 0x7A812020u : 0x83828120u);
  }
}

TEST_F(EngineState, UnitsPastTheCountAreResetWhenAllAreRewritten) {
  for (uint32_t count : {0u, 3u, 7u}) {
    ContextState3d s(nullptr);
    s.textureUnits.unitCount = count;
    s.textureUnits.unitReset = 1;
    s.dirty.words[2] = kTuAllBit;
    const std::vector<Packet> p = Packets(Written([&] { s.textureUnits.Emit(Secondary(), false, true); }));
    ASSERT_EQ(p.size(), count + 1u) << count;
    const uint32_t end = count <= 5 ? 5 : 10;
    const Packet& reset = p.back();
    EXPECT_EQ(reset[0], 3 * (end - count) - 1);
    for (uint32_t u = count; u < end; ++u) {
      const size_t at = 1 + 3 * (u - count);
      EXPECT_EQ(reset[at], 0x21219B99u);
      EXPECT_EQ(reset[at + 1], 0x80u | kTuHardwareUnit[u]);
      EXPECT_EQ(reset[at + 2], 0x400400u);
    }
    EXPECT_EQ(s.dirty.words[2], 0u);
  }
}

TEST_F(EngineState, TakeChangesMovesOnlyMarkedWordsAndClearsTheMarks) {
  ContextState3d target(nullptr);
  ContextState3d builder(nullptr);
  TextureUnitBlock& src = builder.textureUnits;
  src.stageCount = 2;
  src.unitCount = 2;
  for (uint32_t i = 0; i < 2; ++i)
    for (uint32_t k = 1; k < 14; ++k) src.stages[i].words[k] = 0x100 * (i + 1) + k;
  for (uint32_t k = 2; k < 10; ++k) src.units[1].words[k] = 0x9000 + k;
  src.stages[0].words[0] = 0x02;  // image words 3, 4, 5, 9, 10
  src.stages[1].words[0] = 0x01;  // control word, images 11-13
  src.units[1].words[0] = 0x02;   // unit words 4-7
  src.flagWord = 1;
  src.stageEnable = kFloat16;
  target.textureUnits.TakeChanges(src);
  const TextureStageRecord& s0 = target.textureUnits.stages[0];
  EXPECT_EQ(s0.words[3], 0x103u);
  EXPECT_EQ(s0.words[10], 0x10Au);
  EXPECT_EQ(s0.words[1], 0x10001u);  // the control word stays
  EXPECT_EQ(s0.words[2], 0u);
  EXPECT_EQ(target.textureUnits.stages[1].words[1], 0x201u);
  EXPECT_EQ(target.textureUnits.stages[1].words[3], 0u);
  EXPECT_EQ(target.textureUnits.units[1].words[5], 0x9005u);
  EXPECT_EQ(target.textureUnits.units[1].words[2], 0u);
  EXPECT_EQ(target.dirty.words[1], 0x02u | 0x01u << 3);
  EXPECT_EQ(target.dirty.words[2] & 0xF, 0x2u << 2);
  EXPECT_EQ(target.textureUnits.stageEnable, kFloat16);
  EXPECT_NE(target.dirty.words[0] & kCsDirtyStageEnable, 0u);
  EXPECT_EQ(src.stages[0].words[0], 0u);
  EXPECT_EQ(src.stages[1].words[0], 0u);
  EXPECT_EQ(src.units[1].words[0], 0u);
  EXPECT_EQ(src.flagWord, 0u);
}

TEST_F(EngineState, AUnitCountCrossingFiveAndSixMarksEveryUnit) {
  struct Case {
    uint32_t from, to, dirty;
  };
  const Case cases[] = {{5, 6, 0xFFFFFFFF}, {6, 5, 0xFFFFFFFF}, {2, 5, kTuAllBit}, {6, 9, kTuAllBit}, {4, 4, 0}};
  for (const Case& c : cases) {
    ContextState3d target(nullptr);
    ContextState3d builder(nullptr);
    target.textureUnits.unitCount = c.from;
    builder.textureUnits.unitCount = c.to;
    target.textureUnits.TakeChanges(builder.textureUnits);
    EXPECT_EQ(target.dirty.words[2], c.dirty) << c.from << " " << c.to;
  }
}

// Stages that leave channels unwritten get a last stage for them; each
// channel's last writer goes out.
TEST_F(EngineState, MaskedStagesAddAStageForTheChannelsNoneWrites) {
  ContextState3d s(nullptr);
  TextureUnitBlock& t = s.textureUnits;
  t.stageCount = 2;
  t.stages[0].words[1] = 0x3 | 1u << 19;      // channels 0-1, format 1
  t.stages[1].words[1] = 0x2 | 2u << 19;      // channel 1, format 2
  s.dirty.words[1] = 0x3F;
  const std::vector<Packet> p = Packets(Written([&] { t.EmitMasked(Secondary(), false); }));
  EXPECT_EQ(t.stages[2].words[1], 0xCu | kTuModeDisabled);
  ASSERT_GE(p.size(), 3u);
  EXPECT_EQ(p[0], (Packet{2, 0x2121DD87, 0, 0}));
  // Stage 0 (channel 0), stage 1 (channel 1), the pass stage (2, 3).
  std::vector<uint32_t> stageHeaders;
  for (const Packet& q : p)
    if (q.size() > 1 && (q[1] >> 8 & 0xFF) == 0x77) stageHeaders.push_back(q[1] & 0xFF);
  EXPECT_EQ(stageHeaders, (std::vector<uint32_t>{0x80, 0x81, 0x82}));
  EXPECT_EQ(p.back()[1], 0x83202020u);
  // Nothing dirty: the four control words alone.
  const std::vector<Packet> q = Packets(Written([&] { t.EmitMasked(Secondary(), false); }));
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0][1], 0x83828180u);
}

TEST_F(EngineState, TheVertexEngineBlockFollowsTheBoardsProgramBuilder) {
  ContextState3d s(owner);
  VertexEngineBlockSetUp(&s.vertexEngine);  // no owner link: nothing
  EXPECT_EQ(s.vertexEngine.flags & kVeFlagEngineCapable, 0);
  s.vertexEngine.owner = pdev;
  VertexEngineBlockSetUp(&s.vertexEngine);
  EXPECT_NE(s.vertexEngine.flags & kVeFlagEngineCapable, 0);
  VertexProgramBuilder* builder = Common()->vertexProgramBuilder;
  Common()->vertexProgramBuilder = nullptr;
  VertexEngineBlockSetUp(&s.vertexEngine);
  Common()->vertexProgramBuilder = builder;
  EXPECT_EQ(s.vertexEngine.flags & kVeFlagEngineCapable, 0);
}

// A unit whose format needs it makes an operation run the first stage
// operation before the state's own: stages and units are written again.
TEST_F(EngineState, AUnitFormatThatNeedsItRunsTheStageOperation) {
  auto s = NewState(1);
  s->operationBlock[kOpCode] = s->controlWord = 0x30000C;
  Written([&] { owner->Execute(s.get(), 0, false); });
  s->textureUnits.unitCount = 1;
  s->textureUnits.units[0].words[2] = 3u << 19;
  owner->deviceStarted = 1;
  owner->deviceFlags = 0;
  const std::vector<Packet> p = Packets(Written([&] { owner->Execute(s.get(), 0x1000, true); }));
  // The flush start (request bit 0x04 comes with the stage operation's),
  // then the stage operation.
  ASSERT_GE(p.size(), 3u);
  EXPECT_EQ(p[0], (Packet{1, 0x212121DE, 0}));
  EXPECT_EQ(p[1], (Packet{2, 0x2121B5C9, 0, 0}));
  EXPECT_EQ(p[2][1], 0xB2CBCAC0u);
  EXPECT_EQ(p[2][2], kStageOperationA);
  EXPECT_EQ(s->dirty.words[2] & 1, 0u);  // the units went out again after it
  EXPECT_EQ(owner->flushRequests, 0u);
  ExpectImageInRegisters("after the stage operation");
}

TEST_F(EngineState, TheTargetOperationByTheDevicesCapability) {
  for (uint32_t capability : {0u, 0x400u}) {
    SCOPED_TRACE(capability);
    auto s = NewState();
    Written([&] { owner->Execute(s.get(), 0, false); });
    owner->capabilities = capability;
    const std::vector<Packet> p = Packets(Written([&] { owner->EmitTargetOperation(0xA, 0xB, 0xC, 0xD); }));
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], (Packet{4, 0xB4B320C9, 0xFFFFFFFF, 0, 0xD, 0xC}));
    if (capability == 0) {
      EXPECT_EQ(p[1], (Packet{7, 0xB2CACBC0, 0xC4, 0xFFF0FFF, 0, 0xB, 0x2121BF20, 0, 0xA}));
    } else {
      EXPECT_EQ(p[1], (Packet{8, 0xB2CACBC0, 0x2000C4, 0xFFF0FFF, 0, 0xB, 0x21BDBF20, 0, 0xA, kFloat31}));
    }
    EXPECT_EQ(p[2][0], 34u);
    EXPECT_EQ(Reg(0xBF), 0xAu);
    EXPECT_EQ(Reg(0xB3), 0xDu);
    ExpectImageInRegisters("after the target operation");
    Written([&] { owner->Execute(s.get(), 0, false); });
    EXPECT_EQ(Reg(0xBF), s->rasterBlock[8]);
    ExpectImageInRegisters("after the state again");
  }
}

TEST_F(EngineState, TheSecondStageOperationPairsTheSlotsOnCapableDevices) {
  auto s = NewState();
  Written([&] { owner->Execute(s.get(), 0, false); });
  owner->capabilities = 0x400;
  const std::vector<Packet> p = Packets(Written([&] { owner->EmitStageOperation(kStageOperationB, true); }));
  // The operation, four stage slots, the paired controls, the engine image.
  ASSERT_EQ(p.size(), 7u);
  EXPECT_EQ(p[0][2], kStageOperationB);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(p[1 + i][0], 8u);
    EXPECT_EQ(p[1 + i][2], 0x50100u | 1u << i);
  }
  EXPECT_EQ(p[5][0], 12u);
  EXPECT_EQ(p[5][1], 0x7A817A80u);
  EXPECT_EQ(p[5][11], 0x2121C0BDu);
  EXPECT_EQ(p[5][12], kFloat16);
  EXPECT_EQ(p[5][13], kStageOperationB & ~0x200000u);
  EXPECT_EQ(p[6][0], 29u);
  EXPECT_EQ(s->dirty.words[2], 0xFFFFFFFFu);
  EXPECT_EQ(s->dirty.words[1] & 0x80001FFF, 0x80001FFFu);
  ExpectImageInRegisters("after the stage operation");
}

TEST(EngineFormats, PlainAndNarrowFormats) {
  for (uint32_t f = 0; f < 16; ++f)
    EXPECT_EQ(IsPlainUnitFormat(f), !(f == 2 || f == 3 || f == 8 || f == 9 || f == 10 || f == 14)) << f;
  const uint32_t narrow[16] = {1, 1, 1, 1, 0, 0, 2, 2, 2, 2, 2, 2, 0, 2, 2, 2};
  for (uint32_t f = 0; f < 16; ++f) EXPECT_EQ(IsNarrowFormat(0x30 | f), narrow[f]) << f;
}

// ---- Enable and mode change ------------------------------------------------------------------

TEST_F(EngineState, TheEnableWritesTheInitialStateAndTheRegister3008) {
  board.SetLogging(false, true);
  board.ClearLog();
  // The last register written lies within 128 bytes below 3008.
  SharedLocked()->regGuardEnable = 1;
  SharedLocked()->lastRegWritten = 3008 - 100;
  const std::vector<uint32_t> words = Written([&] { ASSERT_TRUE(InitContextState3d(pdev)); });
  const auto log = board.Log();
  size_t at = 0;
  while (at < log.size() && log[at].offset != 3008) ++at;
  ASSERT_LT(at, log.size());
  ASSERT_GE(at, 1u);
  EXPECT_EQ(log[at - 1].offset, 900u);
  EXPECT_EQ(log[at - 1].value, 0u);
  // The device's surface owner's value.
  EXPECT_EQ(log[at].value, owner->initialStateValue);
  EXPECT_EQ(owner->deviceStarted, 1);
  // Stage count 4 and unit count 5: every stage and unit went out.
  size_t stageControls = 0, units = 0;
  for (const Packet& p : Packets(words)) {
    stageControls += p.size() > 1 && (p[1] & 0xFF) >= 0x80 && (p[1] & 0xFF) <= 0x83 && (p[1] >> 8 & 0xFF) == 0x77;
    units += p.size() > 1 && p[1] == 0x9A9B9899;
  }
  EXPECT_EQ(stageControls, 4u);
  EXPECT_EQ(units, 5u);
  EXPECT_EQ(owner->Current(), nullptr);  // the temporary state went
}

}  // namespace
