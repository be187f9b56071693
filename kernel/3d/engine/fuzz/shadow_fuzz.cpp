// Fuzz target of the constant shadow: a program of operations on two
// shadows, each an opcode byte (modulo 8) and its operands, missing bytes
// read as 0. Posted sources are blocks of exactly the posted size (after
// the shadow's clamping), kept until the end, when everything is retired:
// a copy past a source is a sanitizer report. After every operation the
// shadows' bit sets, summaries and ring must stay consistent.
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "kernel/3d/engine/vec_const_shadow.h"

namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return at_ >= size_; }
  uint32_t Byte() { return at_ < size_ ? data_[at_++] : (at_++, 0u); }
  uint32_t Half() { return Byte() | Byte() << 8; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void Check(const VecConstShadow& s) {
  if (s.dirty[kVecConstWords] != 0) abort();
  if (s.current >= kVecConstRecords || s.oldest >= kVecConstRecords || s.next >= kVecConstRecords) abort();
  for (uint32_t w = 0; w < kVecConstWords; ++w) {
    if (s.dirty[w] != 0 && (s.dirtySummary >> w & 1) == 0) abort();
    if (s.loaded[w] != 0 && (s.loadedSummary >> w & 1) == 0) abort();
    if (s.sent[w] != 0 && (s.sentSummary >> w & 1) == 0) abort();
  }
  for (const VecConstUpdate& u : s.updates) {
    if (u.wordMask >> (kVecConstPostable / 32) != 0) abort();
    for (uint32_t w = 0; w < kVecConstPostable / 32; ++w)
      if ((u.wordMask >> w & 1) == 0 && u.covered[w] != 0) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto shadows = std::make_unique<VecConstShadow[]>(2);
  std::vector<std::unique_ptr<VecConst[]>> sources;
  Reader in(data, size);
  int active = 0;
  for (int steps = 0; !in.Done() && steps < 4096; ++steps) {
    VecConstShadow& s = shadows[active];
    switch (in.Byte() % 8) {
      case 0: {
        const uint32_t first = in.Half() % 512, last = in.Half() % 512;
        const bool taken = s.MarkDirty(first, last);
        const uint32_t end = last == 0 ? first : last;
        if (taken != (first < kVecConstCount && end < kVecConstCount && end >= first)) abort();
        break;
      }
      case 1: {
        const uint32_t first = in.Half() % 512, count = in.Half() % 512;
        const uint32_t f = std::min<uint32_t>(first, kVecConstPostable - 1);
        const uint32_t n = std::min<uint32_t>(count, kVecConstPostable - f);
        const uint32_t tag = in.Byte();
        std::unique_ptr<VecConst[]> source(new VecConst[n == 0 ? 1 : n]);
        for (uint32_t i = 0; i < n; ++i) source[i] = VecConst{{tag, f + i, 0, 0}};
        s.PostRange(first, count, n == 0 ? nullptr : source.get());
        sources.push_back(std::move(source));
        break;
      }
      case 2:
        s.RetireAll();
        break;
      case 3:
        s.CommitUpdate();
        break;
      case 4:
        s.FoldSent();
        break;
      case 5:
        shadows[1 - active].TakeOver(&s);
        active = 1 - active;
        break;
      case 6:
        s.ReloadAll();
        break;
      default: {
        const uint32_t c = in.Half() % kVecConstCount;
        s.image[c] = VecConst{{in.Byte(), c, 1, 2}};
        s.MarkDirty(c, 0);
        break;
      }
    }
    Check(shadows[0]);
    Check(shadows[1]);
  }
  shadows[0].RetireAll();
  shadows[1].RetireAll();
  for (int i = 0; i < 2; ++i)
    if (shadows[i].oldest != shadows[i].next) abort();
  return 0;
}
