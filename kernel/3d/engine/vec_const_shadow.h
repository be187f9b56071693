// The vertex engine's 384 constant registers as the processor keeps them:
// an image of every constant, the set of constants still to be sent, the
// sets this shadow has loaded and sent, and a ring of six update records
// that hold posted constants by reference until they are retired into the
// image. A draw sends only the dirty constants, merged into as few constant
// packets as possible.
#pragma once

#include <stdint.h>

class BmBufferPool;
class PDEV;

inline constexpr uint32_t kVecConstCount = 384;
inline constexpr uint32_t kVecConstWords = 12;     // bit-set words of 32 constants
inline constexpr uint32_t kVecConstPostable = 256;  // posts reach constants 0-255
inline constexpr uint32_t kVecConstRecords = 6;

// One constant: four 32-bit words, normally four floats.
struct VecConst {
  uint32_t w[4];
  void Clear() { w[0] = w[1] = w[2] = w[3] = 0; }
};
static_assert(sizeof(VecConst) == 16);

// A posted range: the caller's constants, copied into the image when the
// record is retired.
struct VecConstUpdate {
  uint8_t open;
  const VecConst* source;
  uint32_t first;
  uint32_t count;
  uint32_t wordMask;  // bit w: covered word w in use
  uint32_t covered[kVecConstPostable / 32];
};

struct VecConstShadow {
  VecConstShadow();

  // Marks first..last dirty; a last of 0 means first alone. False, with
  // nothing marked, for an index from 384 or a last below first.
  bool MarkDirty(uint32_t first, uint32_t last);
  // Posts count constants of source from first (clamped to the client
  // constants 0-255) by reference; callers retire them at once.
  void PostRange(uint32_t first, uint32_t count, const VecConst* source);
  // Retires the oldest record into the image (nothing when none is pending).
  void CommitUpdate();
  void RetireAll();
  // Emits the dirty constants into the stream as constant packets; the
  // bit sets are unchanged. False when the stream had no room for them.
  bool CopyDirty(BmBufferPool* stream);
  // After an emission: the dirty constants count as loaded and sent.
  void FoldSent();
  // Switching from the previous shadow: what it overwrote and this shadow
  // had loaded is dirty again.
  void TakeOver(VecConstShadow* previous);
  // Every loaded constant dirty; the client constants zeroed.
  void ReloadAll();

  bool Dirty(uint32_t c) const { return c < kVecConstCount && (dirty[c >> 5] >> (c & 31) & 1) != 0; }

  uint32_t dirtySummary;
  uint32_t dirty[kVecConstWords + 1];  // the last word stays 0
  uint32_t loadedSummary;
  uint32_t loaded[kVecConstWords];
  uint32_t sentSummary;
  uint32_t sent[kVecConstWords];
  uint32_t current;
  uint32_t oldest;
  uint32_t next;
  VecConstUpdate updates[kVecConstRecords];
  VecConst image[kVecConstCount];

 private:
  void Retire();
  // The record that supplies constant c, or -1 for the image.
  int SourceOf(uint32_t c, uint32_t pending) const;
  bool EmitRun(BmBufferPool* stream, uint32_t s, uint32_t n, int record);
};

// Reads one entry of a vertex-engine memory into out: 4 words for the
// 128-bit memories (kinds 0, 1, 3, 5), 1 for the 32-bit ones (2, 4, 8-10,
// out[1..3] zeroed), 0 for any other kind (out untouched).
uint32_t ReadVertexEngineMemory(uint32_t out[4], PDEV* device, uint32_t kind, uint32_t unit,
                                uint32_t index);
