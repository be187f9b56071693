// The constant shadow over a started device: dirty marking, posting by
// reference with the update ring, the constant packets the secondary
// stream carries to the board (which loads them into its constant memory),
// folding, taking over between two shadows, and reading the engine's
// memories back through the indirect access registers.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <random>
#include <vector>

#include "core/bm_buffer.h"
#include "core/regs/vertex_engine.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/tests/stream_fixture.h"
#include "platform/board/chip_vertex.h"

namespace {

VecConst Value(uint32_t tag, uint32_t c) { return VecConst{{tag, c, tag ^ c, 0xC0000000u | c}}; }

std::vector<VecConst> Values(uint32_t tag, uint32_t first, uint32_t count) {
  std::vector<VecConst> out;
  for (uint32_t i = 0; i < count; ++i) out.push_back(Value(tag, first + i));
  return out;
}

bool Same(const VecConst& a, const VecConst& b) { return memcmp(&a, &b, sizeof a) == 0; }

class ShadowTest : public ktest::StartedBoard {
 protected:
  void SetUp() override {
    StartedBoard::SetUp();
    a = std::make_unique<VecConstShadow>();
    b = std::make_unique<VecConstShadow>();
  }
  // What the board's constant memory holds in a unit.
  VecConst Board(uint32_t c, unsigned unit = 0) const {
    VecConst v;
    memcpy(v.w, vertex.Entry(orvsim::kVertexConstantKind, unit, c), 16);
    return v;
  }
  // Emits and runs what the shadow sends; the words it wrote.
  std::vector<uint32_t> Send(VecConstShadow& s) {
    const uint32_t* from = Secondary()->cursor;
    EXPECT_TRUE(s.CopyDirty(Secondary()));
    std::vector<uint32_t> words(from, static_cast<const uint32_t*>(Secondary()->cursor));
    Secondary()->ExecutePending();
    s.FoldSent();
    return words;
  }
  std::vector<uint32_t> Headers(const std::vector<uint32_t>& words) const {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < words.size(); i += 5 + 4 * words[i + 1]) {
      out.push_back(words[i]);
      out.push_back(words[i + 2]);
    }
    return out;
  }

  orvsim::VertexEngine& vertex = *parts.vertex;  // the kernel board carries it
  std::unique_ptr<VecConstShadow> a, b;
};

TEST_F(ShadowTest, MarkDirtySetsWordsAndSummaryAndRefusesBadRanges) {
  struct Case {
    uint32_t first, last;
    bool accepted;
    std::vector<uint32_t> words;  // dirty words 0..
    uint32_t summary;
  };
  const Case cases[] = {
      {5, 0, true, {1u << 5}, 1},
      {0, 0, true, {1}, 1},
      {30, 70, true, {0xC0000000, 0xFFFFFFFF, 0x7F}, 7},
      {383, 383, true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80000000}, 1u << 11},
      {384, 0, false, {}, 0},
      {10, 384, false, {}, 0},
      {10, 5, false, {}, 0},
  };
  for (const Case& c : cases) {
    VecConstShadow s;
    EXPECT_EQ(s.MarkDirty(c.first, c.last), c.accepted) << c.first << ".." << c.last;
    EXPECT_EQ(s.dirtySummary, c.summary) << c.first << ".." << c.last;
    for (uint32_t w = 0; w < 13; ++w)
      EXPECT_EQ(s.dirty[w], w < c.words.size() ? c.words[w] : 0u) << c.first << ".." << c.last << " word " << w;
  }
}

TEST_F(ShadowTest, PostsAreClampedToTheClientConstants) {
  const auto source = Values(1, 0, 30);
  struct Case {
    uint32_t first, count;
    uint32_t postedFirst, posted;
  };
  const Case cases[] = {{300, 5, 255, 1}, {250, 20, 250, 6}, {0, 3, 0, 3}, {255, 0, 0, 0}, {400, 0, 0, 0}};
  for (const Case& c : cases) {
    VecConstShadow s;
    s.PostRange(c.first, c.count, source.data());
    uint32_t dirty = 0;
    for (uint32_t k = 0; k < kVecConstCount; ++k) dirty += s.Dirty(k) ? 1 : 0;
    EXPECT_EQ(dirty, c.posted) << c.first << " " << c.count;
    s.RetireAll();
    for (uint32_t i = 0; i < c.posted; ++i)
      EXPECT_TRUE(Same(s.image[c.postedFirst + i], source[i])) << c.first << " " << c.count;
    if (c.posted == 0) {
      EXPECT_EQ(s.dirtySummary, 0u) << "a post of nothing changes nothing";
      EXPECT_EQ(s.next, 0u);
    }
  }
}

TEST_F(ShadowTest, RunsBecomePacketsOfAtMostSixtyThreeConstants) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> marks;
    std::vector<uint32_t> headers;  // {header, first} per packet
  };
  const Case cases[] = {
      {"130 from 100", {{100, 229}}, {0x417E00FF, 100, 0x417E00FF, 163, 0x41080013, 226}},
      {"10, 11 and 13", {{10, 11}, {13, 0}}, {0x4104000B, 10, 0x41020007, 13}},
      {"the last constant", {{383, 0}}, {0x41020007, 383}},
  };
  for (const Case& c : cases) {
    VecConstShadow& s = *a;
    for (uint32_t k = 0; k < kVecConstCount; ++k) s.image[k] = Value(7, k);
    for (const auto& [first, last] : c.marks) s.MarkDirty(first, last);
    const std::vector<uint32_t> words = Send(s);
    EXPECT_EQ(Headers(words), c.headers) << c.name;
    EXPECT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
    for (const auto& [first, last] : c.marks)
      for (uint32_t k = first; k <= (last == 0 ? first : last); ++k)
        for (unsigned unit = 0; unit < 4; ++unit) EXPECT_TRUE(Same(Board(k, unit), Value(7, k))) << c.name << " " << k;
    EXPECT_EQ(s.dirtySummary, 0u);
  }
  // Nothing dirty: no words at all.
  EXPECT_TRUE(Send(*a).empty());
}

TEST_F(ShadowTest, TheNewerOfTwoRecordsSuppliesAConstant) {
  const auto older = Values(1, 0, 10), newer = Values(2, 5, 10), third = Values(3, 100, 2);
  VecConstShadow& s = *a;
  s.PostRange(0, 10, older.data());
  s.PostRange(5, 10, newer.data());
  s.PostRange(100, 2, third.data());
  Send(s);
  for (uint32_t k = 0; k < 5; ++k) EXPECT_TRUE(Same(Board(k), older[k])) << k;
  for (uint32_t k = 5; k < 15; ++k) EXPECT_TRUE(Same(Board(k), newer[k - 5])) << k;
  EXPECT_TRUE(Same(Board(101), third[1]));
  // Retiring the older record copies only what no newer record covers.
  s.CommitUpdate();
  for (uint32_t k = 0; k < 5; ++k) EXPECT_TRUE(Same(s.image[k], older[k])) << k;
  for (uint32_t k = 5; k < 10; ++k) EXPECT_TRUE(Same(s.image[k], VecConst{})) << k;
  s.RetireAll();
  for (uint32_t k = 5; k < 15; ++k) EXPECT_TRUE(Same(s.image[k], newer[k - 5])) << k;
  EXPECT_TRUE(Same(s.image[100], third[0]));
  EXPECT_EQ(s.oldest, s.next);
  EXPECT_EQ(s.current, s.next);
}

// Fills the secondary stream's buffer with harmless packets up to `left`
// words before its limit.
void FillUpTo(BmBufferPool* stream, uint32_t left) {
  uint32_t room = static_cast<uint32_t>(stream->limit - stream->cursor);
  while (room > left) {
    if (room - left == 3 || room - left == 1) {
      uint32_t* at = stream->Reserve(3);
      at[0] = 1, at[1] = 0x21212120, at[2] = 0;  // one word written nowhere
    } else {
      uint32_t* at = stream->Reserve(2);
      at[0] = 0, at[1] = 0x21212121;  // count 0: a header of padding
    }
    room = static_cast<uint32_t>(stream->limit - stream->cursor);
  }
}

TEST_F(ShadowTest, ARunWithoutRoomSwitchesBuffersOnce) {
  VecConstShadow& s = *a;
  for (uint32_t k = 0; k < kVecConstCount; ++k) s.image[k] = Value(9, k);
  s.MarkDirty(0, 99);  // 100 constants: 435 words of room wanted
  ASSERT_GE(Secondary()->FreshRoom(), 435u);
  FillUpTo(Secondary(), 434);
  BmBuffer* before = Secondary()->head;
  const uint32_t* runStart = nullptr;
  ASSERT_TRUE(s.CopyDirty(Secondary()));
  EXPECT_NE(Secondary()->head, before);
  runStart = Secondary()->start;
  EXPECT_EQ(Secondary()->cursor - runStart, 4 * 100 + 2 * 5) << "both packets in the fresh buffer";
  Secondary()->ExecutePending();
  EXPECT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
  for (uint32_t k = 0; k < 100; ++k) EXPECT_TRUE(Same(Board(k, 3), Value(9, k))) << k;
  // With room left, nothing switches.
  before = Secondary()->head;
  s.MarkDirty(200, 209);
  ASSERT_TRUE(s.CopyDirty(Secondary()));
  EXPECT_EQ(Secondary()->head, before);
}

// Random operations on two shadows against a naive model: the dirty set
// and effective value of each shadow, and what the board's constant
// memory must hold after every emission.
TEST_F(ShadowTest, RandomOperationsMatchANaiveModel) {
  struct Model {
    std::vector<bool> dirty = std::vector<bool>(kVecConstCount);
    std::vector<bool> loaded = std::vector<bool>(kVecConstCount);
    std::vector<bool> sent = std::vector<bool>(kVecConstCount);
    std::vector<VecConst> value = std::vector<VecConst>(kVecConstCount);  // effective values
    bool pending = false;   // posts not yet retired
    int openFirst = -1;     // the open record's range
    uint32_t openCount = 0;
  };
  VecConstShadow* shadows[2] = {a.get(), b.get()};
  Model model[2];
  std::vector<VecConst> board(kVecConstCount);
  std::deque<std::vector<VecConst>> sources;  // kept until the end
  std::mt19937 rng(12345);
  int active = 0;
  uint32_t tag = 100;
  for (int step = 0; step < 3000; ++step) {
    VecConstShadow& s = *shadows[active];
    Model& m = model[active];
    switch (rng() % 8) {
      case 0:
      case 1: {  // a direct write and its mark, as the fixed-function set-up does
        if (m.pending) {
          s.RetireAll();
          m.pending = false;
          m.openFirst = -1;
        }
        const uint32_t first = rng() % kVecConstCount;
        const uint32_t last = std::min<uint32_t>(kVecConstCount - 1, first + rng() % 40);
        for (uint32_t c = first; c <= last; ++c) {
          s.image[c] = Value(tag, c);
          m.value[c] = s.image[c];
          m.dirty[c] = true;
        }
        ++tag;
        ASSERT_TRUE(s.MarkDirty(first, last == first ? 0 : last));
        break;
      }
      case 2:
      case 3: {  // a post, retired now or left pending
        uint32_t first = rng() % 300, count = rng() % 80;
        const bool again = m.openFirst >= 0 && rng() % 4 == 0;
        if (again) first = static_cast<uint32_t>(m.openFirst), count = m.openCount;
        sources.push_back(Values(tag++, first, 256));
        s.PostRange(first, count, sources.back().data());
        const uint32_t f = std::min<uint32_t>(first, 255), n = std::min<uint32_t>(count, 256 - f);
        if (n == 0) break;
        for (uint32_t i = 0; i < n; ++i) {
          m.value[f + i] = sources.back()[i];
          m.dirty[f + i] = true;
        }
        m.pending = true;
        m.openFirst = static_cast<int>(f);
        m.openCount = n;
        if (rng() % 2 == 0) {
          s.RetireAll();
          m.pending = false;
          m.openFirst = -1;
        }
        break;
      }
      case 4: {  // emission and fold
        bool any = false;
        int runFrom = -1;
        for (uint32_t c = 0; c < kVecConstCount; ++c) {
          if (m.dirty[c]) {
            any = true;
            board[c] = m.value[c];
            if (m.openFirst >= 0 && c >= static_cast<uint32_t>(m.openFirst) &&
                c < m.openFirst + m.openCount && runFrom < 0)
              runFrom = static_cast<int>(c);
          }
        }
        // An open record's run runs on to the end of its range.
        if (runFrom >= 0)
          for (uint32_t c = runFrom; c < m.openFirst + m.openCount; ++c) board[c] = m.value[c];
        if (any || s.dirtySummary != 0) {
          ASSERT_TRUE(s.CopyDirty(Secondary()));
          Secondary()->ExecutePending();
        }
        s.FoldSent();
        for (uint32_t c = 0; c < kVecConstCount; ++c) {
          if (m.dirty[c]) m.loaded[c] = m.sent[c] = true;
          m.dirty[c] = false;
        }
        for (uint32_t c = 0; c < kVecConstCount; ++c)
          ASSERT_TRUE(Same(Board(c, step % 4), board[c])) << "step " << step << " constant " << c;
        break;
      }
      case 5: {  // switch shadows
        const int other = 1 - active;
        shadows[other]->TakeOver(shadows[active]);
        for (uint32_t c = 0; c < kVecConstCount; ++c) {
          if (model[other].loaded[c] && m.sent[c]) model[other].dirty[c] = true;
          m.sent[c] = false;
        }
        active = other;
        break;
      }
      case 6: {  // back to the defaults
        if (m.pending) {
          s.RetireAll();
          m.pending = false;
          m.openFirst = -1;
        }
        s.ReloadAll();
        for (uint32_t c = 0; c < kVecConstCount; ++c) {
          if (m.loaded[c]) m.dirty[c] = true;
          if (c < kVecConstPostable) m.value[c] = VecConst{};
        }
        break;
      }
      default:
        if (m.pending) {
          s.RetireAll();
          m.pending = false;
          m.openFirst = -1;
          for (uint32_t c = 0; c < kVecConstCount; ++c)
            ASSERT_TRUE(Same(s.image[c], m.value[c])) << "step " << step << " constant " << c;
        }
        break;
    }
    for (int i = 0; i < 2; ++i)
      for (uint32_t c = 0; c < kVecConstCount; ++c) {
        ASSERT_EQ(shadows[i]->Dirty(c), static_cast<bool>(model[i].dirty[c])) << "step " << step << " shadow " << i << " constant " << c;
        if (model[i].dirty[c]) {
          ASSERT_TRUE(shadows[i]->dirtySummary >> (c >> 5) & 1) << step;
        }
      }
  }
  EXPECT_TRUE(dma.DecodeErrors().empty()) << dma.DecodeErrors().front();
  EXPECT_GT(vertex.ConstantPackets(), 100u);
}

TEST_F(ShadowTest, ReadVertexEngineMemoryArmsEachDwordAndTakesTheFourthRead) {
  const uint32_t words[4] = {0x10, 0x20, 0x30, 0x40};
  memcpy(vertex.Entry(3, 2, 5), words, 16);
  vertex.Entry(2, 1, 9)[0] = 0x77;
  ASSERT_EQ(SharedLocked()->regGuardEnable, 1u) << "the spacing rule is on";
  SharedLocked()->lastRegWritten = 0xFFFFFFFF;  // nothing remembered as written last
  board.SetLogging(true, true);
  board.ClearLog();
  uint32_t out[4] = {1, 1, 1, 1};
  ASSERT_EQ(ReadVertexEngineMemory(out, pdev, 3, 2, 5), 4u);
  EXPECT_EQ(std::vector<uint32_t>(out, out + 4), std::vector<uint32_t>(words, words + 4));
  std::vector<orvsim::RegAccessRecord> expected;
  for (uint32_t d = 0; d < 4; ++d) {
    expected.push_back({orvsim::RegOp::kWrite, 4, 0x910, 0x03000405 | d << 16, 0});
    expected.push_back({orvsim::RegOp::kWrite, 4, 0x384, 0, 0});
    expected.push_back({orvsim::RegOp::kWrite, 4, 0x938, 0xFFFFFFFC, 0});
    for (int r = 0; r < 4; ++r) expected.push_back({orvsim::RegOp::kRead, 4, 0x914, 0, 0});
  }
  std::vector<orvsim::RegAccessRecord> log = board.Log();
  for (auto& entry : log) {
    entry.time_ns = 0;
    if (entry.op == orvsim::RegOp::kRead) entry.value = 0;
  }
  EXPECT_EQ(log, expected);

  // Kind 6 holds nothing: out untouched; kind 2 is one word.
  uint32_t untouched[4] = {5, 6, 7, 8};
  EXPECT_EQ(ReadVertexEngineMemory(untouched, pdev, 6, 0, 0), 0u);
  EXPECT_EQ(std::vector<uint32_t>(untouched, untouched + 4), (std::vector<uint32_t>{5, 6, 7, 8}));
  uint32_t one[4] = {5, 6, 7, 8};
  EXPECT_EQ(ReadVertexEngineMemory(one, pdev, 2, 1, 9), 1u);
  EXPECT_EQ(std::vector<uint32_t>(one, one + 4), (std::vector<uint32_t>{0x77, 0, 0, 0}));
}

}  // namespace
