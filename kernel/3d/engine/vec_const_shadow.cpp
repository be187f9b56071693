#include "kernel/3d/engine/vec_const_shadow.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/pdev.h"
#include "core/regs/vertex_engine.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/register_guard.h"

namespace {

constexpr uint32_t NextRecord(uint32_t r) { return r == kVecConstRecords - 1 ? 0 : r + 1; }
constexpr uint32_t PreviousRecord(uint32_t r) { return r == 0 ? kVecConstRecords - 1 : r - 1; }

// Bits from..to (inclusive, 0-31) of a word.
constexpr uint32_t BitRange(uint32_t from, uint32_t to) {
  return (to == 31 ? 0xFFFFFFFFu : (1u << (to + 1)) - 1) & ~((1u << from) - 1);
}

// Words a run of n constants may need: its data and five header words for
// each of at most seven packets.
constexpr uint32_t RunRoom(uint32_t n) { return 4 * n + 7 * kVertexConstantsHeaderWords; }
// The words of a run of n constants in packets of at most
// kVertexConstantsPerPacket.
constexpr uint32_t RunWords(uint32_t n) {
  return 4 * n + (n + kVertexConstantsPerPacket - 1) / kVertexConstantsPerPacket * kVertexConstantsHeaderWords;
}
static_assert(RunWords(kVecConstCount) <= RunRoom(kVecConstCount));

// One packet of k constants from `from` on, the first constant s.
// Its header: the command, the count, the first constant, then 1 and 0.
uint32_t* PutConstants(uint32_t* at, uint32_t s, uint32_t k, const VecConst* from) {
  static_assert(kVertexConstantsHeaderWords == 5 && sizeof(VecConst) == 16);
  PacketWords p{at};
  p.Word(VertexConstantsHeader(k)).Pair(k, s).Pair(1, 0).Copy(from, 4 * k);
  return p.End();
}

}  // namespace

VecConstShadow::VecConstShadow() {
  for (VecConst& c : image) c.Clear();
  dirtySummary = loadedSummary = sentSummary = 0;
  memset(dirty, 0, sizeof dirty);
  memset(loaded, 0, sizeof loaded);
  memset(sent, 0, sizeof sent);
  current = oldest = next = 0;
  memset(updates, 0, sizeof updates);
}

bool VecConstShadow::MarkDirty(uint32_t first, uint32_t last) {
  if (last == 0) last = first;
  if (first >= kVecConstCount || last >= kVecConstCount || last < first) return false;
  for (uint32_t w = first >> 5; w <= last >> 5; ++w) {
    const uint32_t from = w == first >> 5 ? first & 31 : 0;
    const uint32_t to = w == last >> 5 ? last & 31 : 31;
    dirty[w] |= BitRange(from, to);
    dirtySummary |= 1u << w;
  }
  return true;
}

void VecConstShadow::PostRange(uint32_t first, uint32_t count, const VecConst* source) {
  if (first > kVecConstPostable - 1) first = kVecConstPostable - 1;
  if (count > kVecConstPostable - first) count = kVecConstPostable - first;
  // Nothing to post: the range's last constant would lie before its first.
  if (count == 0 || source == nullptr) return;
  const uint32_t last = first + count - 1;
  VecConstUpdate* record = &updates[current];
  if (!(record->first == first && record->count == count && record->wordMask != 0)) {
    record->open = 0;
    const uint32_t n = next;
    current = n;
    record = &updates[n];
    memset(record, 0, sizeof *record);
    record->first = first;
    record->count = count;
    for (uint32_t w = first >> 5; w <= last >> 5; ++w) {
      record->covered[w] = BitRange(w == first >> 5 ? first & 31 : 0, w == last >> 5 ? last & 31 : 31);
      record->wordMask |= 1u << w;
    }
    next = NextRecord(n);
    if (next == oldest) Retire();  // the ring is full
  }
  for (uint32_t w = 0; w < kVecConstPostable / 32; ++w)
    if (record->wordMask >> w & 1) dirty[w] |= record->covered[w];
  dirtySummary |= record->wordMask;
  record->open = 1;
  record->source = source;
}

void VecConstShadow::CommitUpdate() {
  if (oldest != next) Retire();  // an empty ring has nothing to retire
}

void VecConstShadow::Retire() {
  const uint32_t r = oldest;
  oldest = NextRecord(r);
  VecConstUpdate& record = updates[r];
  if (oldest == current) {
    if (record.source != nullptr && record.count != 0)
      memcpy(&image[record.first], record.source, size_t{record.count} * sizeof(VecConst));
    memset(&record, 0, sizeof record);
    return;
  }
  for (uint32_t w = 0; w < kVecConstPostable / 32; ++w) {
    if ((record.wordMask >> w & 1) == 0) continue;
    record.covered[w] = ~record.covered[w];
    uint32_t others = 0;
    for (const VecConstUpdate& u : updates) others |= u.covered[w];
    // The zero bits: constants only this record covers; a newer record
    // supplies the others.
    const uint32_t mine = ~others;
    for (uint32_t b = 0; b < 32; ++b) {
      if ((mine >> b & 1) == 0) continue;
      const uint32_t c = 32 * w + b;
      image[c] = record.source[c - record.first];
    }
    record.covered[w] = 0;
  }
  record.wordMask = 0;
  record.open = 0;
}

void VecConstShadow::RetireAll() {
  // Each call retires one record; the ring holds at most six.
  for (uint32_t i = 0; next != oldest && i < kVecConstRecords; ++i) Retire();
  current = next;
}

int VecConstShadow::SourceOf(uint32_t c, uint32_t pending) const {
  const uint32_t w = c >> 5;
  if (w >= kVecConstPostable / 32 || (pending >> w & 1) == 0 || oldest == next) return -1;
  for (uint32_t r = PreviousRecord(next);; r = PreviousRecord(r)) {
    if (updates[r].covered[w] >> (c & 31) & 1) return static_cast<int>(r);
    if (r == oldest) return -1;
  }
}

bool VecConstShadow::EmitRun(BmBufferPool* stream, uint32_t s, uint32_t n, int record) {
  // Room for the whole run is made once.
  if (!stream->Fits(RunRoom(n)) && RunRoom(n) <= stream->FreshRoom()) stream->SwitchToNewBuffer();
  if (n != 0 && stream->Fits(RunWords(n))) {
    // The buffer holds the run: its packets are written in a row from the
    // cursor, where a reservation per packet would put them.
    const VecConst* base = record < 0 ? &image[s] : updates[record].source + (s - updates[record].first);
    uint32_t* at = stream->Room(RunWords(n));
    for (uint32_t done = 0; done < n; done += kVertexConstantsPerPacket) {
      const uint32_t k = n - done < kVertexConstantsPerPacket ? n - done : kVertexConstantsPerPacket;
      at = PutConstants(at, s + done, k, base + done);
    }
    stream->Commit(at);
    return true;
  }
  while (n > 0) {
    uint32_t k = n < kVertexConstantsPerPacket ? n : kVertexConstantsPerPacket;
    uint32_t* at = stream->Reserve(4 * k + kVertexConstantsHeaderWords);
    if (at == nullptr) {
      // A packet larger than a fresh buffer: as many constants as one holds.
      const uint32_t fresh = stream->FreshRoom();
      if (fresh < 4 + kVertexConstantsHeaderWords) return false;
      if (k > (fresh - kVertexConstantsHeaderWords) / 4) k = (fresh - kVertexConstantsHeaderWords) / 4;
      at = stream->Reserve(4 * k + kVertexConstantsHeaderWords);
      if (at == nullptr) return false;
    }
    const VecConst* from = record < 0 ? &image[s] : updates[record].source + (s - updates[record].first);
    PutConstants(at, s, k, from);
    s += k;
    n -= k;
  }
  return true;
}

bool VecConstShadow::CopyDirty(BmBufferPool* stream) {
  if (stream == nullptr) return false;
  if (dirtySummary == 0) return true;  // nothing dirty: one test
  uint32_t pending = 0;
  for (const VecConstUpdate& u : updates) pending |= u.wordMask;
  uint32_t c = 0;
  while (c < kVecConstCount) {
    const uint32_t rest = dirty[c >> 5] >> (c & 31);
    if (rest == 0) {  // the rest of a clean word is skipped whole
      c = (c | 31) + 1;
      continue;
    }
    c += static_cast<uint32_t>(__builtin_ctz(rest));  // the next dirty constant
    const int source = SourceOf(c, pending);
    uint32_t end = c + 1;
    if (source >= 0 && updates[source].open) {
      // An open record's run takes in the rest of its range at once.
      end = updates[source].first + updates[source].count;
    } else {
      while (end < kVecConstCount) {
        const uint32_t w = end >> 5;
        if (source < 0 && (w >= kVecConstPostable / 32 || (pending >> w & 1) == 0)) {
          // No record covers this word: the run takes its dirty bits from
          // here in one step.
          const uint32_t ones = ~(dirty[w] >> (end & 31));
          const uint32_t run = ones == 0 ? 32 - (end & 31) : static_cast<uint32_t>(__builtin_ctz(ones));
          end += run;
          if ((end & 31) != 0 || run == 0) break;
          continue;
        }
        if (!Dirty(end) || SourceOf(end, pending) != source) break;
        ++end;
      }
    }
    if (!EmitRun(stream, c, end - c, source)) return false;
    c = end;
  }
  return true;
}

void VecConstShadow::FoldSent() {
  loadedSummary |= dirtySummary;
  sentSummary |= dirtySummary;
  for (uint32_t w = 0; w < kVecConstWords; ++w) {
    if ((dirtySummary >> w & 1) == 0) continue;
    loaded[w] |= dirty[w];
    sent[w] |= dirty[w];
    dirty[w] = 0;
  }
  dirtySummary = 0;
}

void VecConstShadow::TakeOver(VecConstShadow* previous) {
  if (previous == nullptr || previous == this) return;
  for (uint32_t w = 0; w < kVecConstWords; ++w) {
    if ((previous->sentSummary >> w & 1) == 0) continue;
    dirty[w] |= loaded[w] & previous->sent[w];
    previous->sent[w] = 0;
  }
  dirtySummary |= previous->sentSummary & loadedSummary;
  previous->sentSummary = 0;
}

void VecConstShadow::ReloadAll() {
  for (uint32_t w = 0; w < kVecConstWords; ++w)
    if (loadedSummary >> w & 1) dirty[w] |= loaded[w];
  dirtySummary |= loadedSummary;
  for (uint32_t c = 0; c < kVecConstPostable; ++c) image[c].Clear();
}

uint32_t ReadVertexEngineMemory(uint32_t out[4], PDEV* device, uint32_t kind, uint32_t unit,
                                uint32_t index) {
  uint32_t words;
  switch (kind) {
    case 0:
    case 1:
    case 3:
    case 5:
      words = 4;
      break;
    case 2:
    case 4:
    case 8:
    case 9:
    case 10:
      words = 1;
      out[1] = out[2] = out[3] = 0;
      break;
    default:
      return 0;
  }
  CommonData* common = device->common;
  const uint32_t address = (kind & kVertexMemKindMask) << kVertexMemKindShift |
                           ((unit << kVertexMemUnitShift | index) & kVertexMemSlotMask);
  for (uint32_t d = 0; d < words; ++d) {
    KernelWriteRegister(common, kRegVertexMemAddress, address | d << kVertexMemDwordShift);
    KernelWriteRegister(common, kRegVertexMemArm, kVertexArmRead);
    // The port answers a stale word until the fourth read.
    for (unsigned r = 0; r < kVertexMemReads; ++r) out[d] = KernelReadRegister(common, kRegVertexMemData);
  }
  return words;
}
