// Count-prefixed register-group packets of the 3D stream: a count word n,
// then n + 1 words of groups. A group is a header of four register indexes
// (core/regs/: the first in the low byte, unused places padded with
// kIdxPad, which takes no data word) followed by one data word per index.
// Every writer puts its packets out through these helpers:
// - PutPacket: a packet whose words are known where it is written;
// - PutGroups: a fixed register program, a const table of groups;
// - PutWords: a packet assembled aside;
// - OpenPacket and PacketWords: packets whose words come from blocks,
//   tables and records, stored in order through a cursor (single words,
//   pairs in one store, runs copied in one piece). The same cursor writes
//   the engine's commands (draw, index and constant commands) into room
//   reserved for them.
// A packet is written in one reservation, so that it never straddles a
// buffer switch.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <bit>

#include "core/bm_buffer.h"
#include "core/bm_packets.h"
#include "core/float_bits.h"
#include "core/regs/engine3d.h"
#include "kernel/sync_tags.h"

// Where the writers put packets: the stream itself, which reserves room
// packet by packet (switching buffers between packets, never inside one)...
struct StreamSink {
  BmBufferPool* stream;
  uint32_t* Take(uint32_t words) { return stream->Reserve(words); }
};
// ...or straight at a cursor, once the caller has checked that the current
// buffer holds the most the packets can take: every reservation would then
// have fitted without a switch, so the words land where they would anyway.
struct DirectSink {
  uint32_t* at;
  uint32_t* Take(uint32_t words) {
    uint32_t* p = at;
    // A buffer that holds words has a cursor: the writers' checks for no
    // room fold away.
    if (p == nullptr) __builtin_unreachable();
    at += words;
    return p;
  }
};

// ...or a batch of the stream's (BmBatch): packets in a row through the
// batch's cursor, each placed as the stream's own reservation would place
// it, buffer switches included, and the stream's cursor stored once at the
// batch's Commit. Commit before anything else reads or writes the stream
// (handing the words to the engine, another writer); the batch goes on
// from there unless something else moved the cursor.
struct BatchSink {
  BmBatch* batch;
  uint32_t* Take(uint32_t words) { return batch->Put(words); }
};

// Runs write(sink) straight at the stream's cursor when its buffer holds
// maxWords, else through the stream's reservations.
template <class Write>
inline void WriteBounded(BmBufferPool* stream, uint32_t maxWords, Write write) {
  if (stream->Fits(maxWords)) {
    DirectSink sink{stream->cursor};
    write(sink);
    stream->cursor = sink.at;
  } else {
    StreamSink sink{stream};
    write(sink);
  }
}

// Two stream words in one 8-byte store, the first at the lower address:
// the packets' words are written in order with as few stores as their
// sources allow.
static_assert(std::endian::native == std::endian::little);
inline void Put2(uint32_t* at, uint32_t first, uint32_t second) {
  const uint64_t pair = uint64_t{first} | uint64_t{second} << 32;
  memcpy(at, &pair, sizeof pair);
}

// A cursor over the room of a packet or command: its words go in order,
// single words, pairs (one store) and runs of neighbouring words copied
// from a block, a record or a table (one copy), so that a writer reads as
// "header, words" rather than as offsets. A cursor on no room (the stream
// had none) tests false and is not written through.
class PacketWords {
 public:
  explicit PacketWords(uint32_t* at) : at_(at) {}
  explicit operator bool() const { return at_ != nullptr; }
  // Where the next word goes.
  uint32_t* End() const { return at_; }

  PacketWords& Word(uint32_t w) {
    *at_++ = w;
    return *this;
  }
  PacketWords& Pair(uint32_t first, uint32_t second) {
    Put2(at_, first, second);
    at_ += 2;
    return *this;
  }
  // N neighbouring words from `from` (N known where it is written).
  template <uint32_t N>
  PacketWords& Copy(const uint32_t* from) {
    memcpy(at_, from, 4u * N);
    at_ += N;
    return *this;
  }
  // `count` words' worth of bytes from `from`.
  PacketWords& Copy(const void* from, uint32_t count) {
    memcpy(at_, from, 4u * size_t{count});
    at_ += count;
    return *this;
  }
  // The next `count` words as bytes, for values narrower than a word: the
  // last word is zeroed first, so that what the values leave of it (the
  // pad of an odd number of 16-bit values) is 0. The cursor moves past
  // them.
  uint8_t* Bytes(uint32_t count) {
    uint8_t* bytes = reinterpret_cast<uint8_t*>(at_);
    if (count != 0) at_[count - 1] = 0;
    at_ += count;
    return bytes;
  }

 private:
  uint32_t* at_;
};

// A count-prefixed packet of `words` words in room taken for it (count
// word included): its count word stored, the cursor on its first word...
inline PacketWords OpenPacketAt(uint32_t* room, uint32_t words) {
  if (room == nullptr) return PacketWords{nullptr};
  *room = words - 1;
  return PacketWords{room + 1};
}
// ...or the count word with the packet's first header, in one store.
inline PacketWords OpenPacketAt(uint32_t* room, uint32_t words, uint32_t header) {
  if (room == nullptr) return PacketWords{nullptr};
  Put2(room, words - 1, header);
  return PacketWords{room + 2};
}
// The same, with the room taken from a sink.
template <class Sink>
inline PacketWords OpenPacket(Sink& sink, uint32_t words) {
  return OpenPacketAt(sink.Take(words + 1), words);
}
template <class Sink>
inline PacketWords OpenPacket(Sink& sink, uint32_t words, uint32_t header) {
  return OpenPacketAt(sink.Take(words + 1), words, header);
}

// A packet whose words are known where it is written (headers from
// PacketHeader), copied straight into the sink: count, then the words.
template <class Sink, class... W>
inline bool PutPacket(Sink& sink, W... words) {
  PacketWords p = OpenPacket(sink, sizeof...(W));
  if (!p) return false;
  (p.Word(static_cast<uint32_t>(words)), ...);
  return true;
}
template <class... W>
inline bool WritePacket(BmBufferPool* stream, W... words) {
  StreamSink sink{stream};
  return PutPacket(sink, words...);
}

// A packet of count words built elsewhere.
template <class Sink>
inline bool PutWords(Sink& sink, const uint32_t* words, uint32_t count) {
  if (count == 0) return false;
  PacketWords p = OpenPacket(sink, count);
  if (!p) return false;
  p.Copy(words, count);
  return true;
}

// A fixed register program, its groups in one packet.
template <class Sink>
inline bool PutGroups(Sink& sink, const RegGroup* groups, size_t count) {
  uint32_t words = 0;
  for (size_t i = 0; i < count; ++i) words += 1 + PacketDataWords(groups[i].header);
  if (words == 0) return false;
  PacketWords p = OpenPacket(sink, words);
  if (!p) return false;
  BmWriteGroups(p.End(), groups, count);
  return true;
}
template <class Sink, size_t N>
inline bool PutGroups(Sink& sink, const RegGroup (&groups)[N]) {
  return PutGroups(sink, groups, N);
}
template <size_t N>
inline bool WriteGroups(BmBufferPool* stream, const RegGroup (&groups)[N]) {
  StreamSink sink{stream};
  return PutGroups(sink, groups, N);
}

// The operation tag: 0x1300 := the operation word, the tag (with the
// progress bit, then plain), then 0x1300 := V in V's place.
template <class Sink>
inline bool PutOperationTag(Sink& sink, uint32_t operation, uint32_t tag, const TagValue& v) {
  return PutPacket(sink, OperationTagHeader(v.index), operation, tag | kTagProgress, tag, v.word);
}

// The progress packet (BmWriteProgress) behind its count word.
template <class Sink>
inline bool PutProgress(Sink& sink, uint32_t counter, uint32_t reportAddress) {
  PacketWords p = OpenPacket(sink, kProgressWords);
  if (!p) return false;
  BmWriteProgress(p.End(), counter, reportAddress);
  return true;
}

// Corner k (0-2) of a quad through the vertex records: place k's w3 and
// w2, w1 (w1Alt for the last corner, which draws the quad) and the
// position slot's w0.
constexpr uint32_t QuadCornerHeader(uint32_t k) {
  return PacketHeader(k3dIdxVertexW3 + k, k3dIdxVertexW2, k == 2 ? k3dIdxVertexW1Alt : k3dIdxVertexW1,
                      k3dIdxVertexPosition);
}
static_assert(QuadCornerHeader(0) == 0x605E5D58 && QuadCornerHeader(2) == 0x605F5D5A);
inline constexpr uint32_t kQuadWords = 3 * 5;

// The three corners of a quad in one packet, each with w3 = 1.0, the one
// w2 and its (w1, position) pair.
template <class Sink>
inline bool PutQuad(Sink& sink, uint32_t w2, const uint32_t corners[3][2]) {
  constexpr uint32_t one = FloatBits(1.0f);
  return PutPacket(sink, QuadCornerHeader(0), one, w2, corners[0][0], corners[0][1], QuadCornerHeader(1), one, w2,
                   corners[1][0], corners[1][1], QuadCornerHeader(2), one, w2, corners[2][0], corners[2][1]);
}
