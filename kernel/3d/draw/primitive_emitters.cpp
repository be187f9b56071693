// Primitive emitters: packets that draw from the engine-fetchable sources,
// and the converted-vertex handlers that hand each vertex of a draw to the
// vertex fetch.
#include "kernel/3d/draw/primitive_emitters.h"

#include <string.h>

#include "core/bm_buffer.h"
#include "core/bm_packets.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/engine/context_state.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/surfaces/buffer_ring.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/dma_streams.h"

namespace {

BmSecondaryInt* StreamOf(VertexStreamSetup* setup) {
  return setup != nullptr && setup->context != nullptr ? setup->context->secondaryStream : nullptr;
}

// The words at the cursor, execute flags set first; null without room.
uint32_t* Words(BmSecondaryInt* stream, uint32_t n) {
  if (stream == nullptr) return nullptr;
  stream->startFlags = kEmitterExecuteFlags;
  return stream->Reserve(n);
}

// A source as the processor reads it: its bytes and their number, locked
// for the draw when it is a resource buffer.
struct SourceView {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  Surface3d* buffer = nullptr;
  bool ringLocked = false;
  bool surfaceLocked = false;

  SourceView() = default;
  explicit SourceView(const StreamSource& s) { Open(s); }
  void Open(const StreamSource& s) {
    switch (s.kind) {
      case kSourcePointer:
        data = s.pointer;
        size = data != nullptr ? s.size : 0;
        break;
      case kSourceBuffer:
        buffer = s.buffer;
        if (buffer == nullptr) break;
        if (buffer->ring != nullptr) {
          data = static_cast<const uint8_t*>(buffer->ring->Lock(false, false));
          ringLocked = data != nullptr;
          size = data != nullptr ? buffer->ring->Size() : 0;
        } else {
          const uint64_t cpu = buffer->Lock();
          data = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(cpu));
          surfaceLocked = cpu != 0;
          size = cpu != 0 ? s.size : 0;
        }
        break;
      default:
        // An address word is the engine's: the processor does not read
        // through it.
        break;
    }
  }
  ~SourceView() {
    if (ringLocked) buffer->ring->Unlock();
    if (surfaceLocked) buffer->UnlockRead();
  }
  SourceView(const SourceView&) = delete;
  SourceView& operator=(const SourceView&) = delete;

  // A 16- or 32-bit index at a byte offset; false past the data.
  bool Index(uint64_t offset, uint32_t indexSize, uint32_t* out) const {
    if (data == nullptr || offset + indexSize > size) return false;
    if (indexSize < 3) {
      uint16_t v;
      memcpy(&v, data + offset, 2);
      *out = v;
    } else {
      memcpy(out, data + offset, 4);
    }
    return true;
  }
};

}  // namespace

// ---- Packets -----------------------------------------------------------------------------------

void EmitVerticesDirect(VertexStreamSetup* setup, uint32_t count, bool) {
  if (PacketWords p{Words(StreamOf(setup), 3)}) p.Word(kPacketDrawStreams | setup->packetFlags).Pair(0, count);
}

IndexRange IndexRangeOf(uint32_t sourceBus, uint32_t startOffset, uint32_t indexSizeWord, uint32_t count) {
  const uint32_t base = (sourceBus & ~3u) + startOffset;
  if (indexSizeWord == k3dPrimitiveAddress32) return {base, sourceBus + (startOffset & ~3u) + 4 * count};
  const bool aligned = (base & 3) == 0;
  const bool even = (count & 1) == 0;
  IndexRange r = aligned == even ? IndexRange{base, base + 2 * count} : IndexRange{base | 1, base + 2 * count + 2};
  r.end |= sourceBus & 3;
  return r;
}

void EmitIndexedByAddress(VertexStreamSetup* setup, uint32_t count, bool) {
  BmSecondaryInt* stream = StreamOf(setup);
  const uint32_t isz = setup != nullptr && setup->index.stride == 4 ? k3dPrimitiveAddress32 : k3dPrimitiveAddress16;
  if (setup == nullptr || (setup->index.stride != 2 && setup->index.stride != 4)) return;
  const IndexRange r =
      IndexRangeOf(VertexStreamSetup::GetStreamBufferBase(setup->index), setup->indexStartOffset, isz, count);
  if (PacketWords p{Words(stream, 3)}) p.Word(kPacketIndexAddress | isz | setup->packetFlags).Pair(r.start, r.end);
}

void EmitIndexedByAddressAndExecute(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  EmitIndexedByAddress(setup, count, indexed);
  if (BmSecondaryInt* stream = StreamOf(setup)) stream->ExecutePending();
}

void EmitSourceDwords(VertexStreamSetup* setup, uint32_t count, bool) {
  BmSecondaryInt* stream = StreamOf(setup);
  if (stream == nullptr || count == 0) return;
  const SourceView source(setup->index);
  const uint64_t from = setup->indexStartOffset;
  // Only the words the source holds.
  const uint64_t available = source.size > from ? (source.size - from) / 4 : 0;
  if (available < count) count = static_cast<uint32_t>(available);
  if (count == 0 || count > 0x10000) return;
  // The words go whole: the packet says 32-bit indices.
  if (PacketWords p{Words(stream, 1 + count)}) {
    p.Word(((count - 1) & k3dCommandLengthMask) | k3dPrimitiveInline32 | setup->packetFlags | kPacketInlineIndices);
    p.Copy(source.data + from, count);
  }
  stream->ExecutePending();
}

void EmitLoopPairs(VertexStreamSetup* setup, uint32_t count, bool) {
  BmSecondaryInt* stream = StreamOf(setup);
  if (stream == nullptr) return;
  const SourceView source(setup->index);
  // Only the pairs the source holds, as one run of six-word commands.
  const uint64_t from = setup->indexStartOffset;
  const uint64_t held = source.data != nullptr && source.size > from ? (source.size - from) / 8 : 0;
  if (held < count) count = static_cast<uint32_t>(held);
  if (count != 0) {
    stream->startFlags = kEmitterExecuteFlags;
    BmWriteRun(stream, count, 6, [&](uint32_t* at, uint32_t k) {
      uint32_t first, n;
      memcpy(&first, source.data + from + 8ull * k, 4);
      memcpy(&n, source.data + from + 8ull * k + 4, 4);
      // Draw n vertices from first, then close the loop back to first.
      PacketWords p{at};
      p.Word(kPacketDrawStreams | setup->packetFlags).Pair(first, n);
      p.Word((kPacketLoopClose | setup->packetFlags) & 0x7FFFFFFF).Pair(n - 1, first);
    });
  }
  stream->ExecutePending();
}

// ---- Inline indices ----------------------------------------------------------------------------

namespace {

// Indices a continued packet repeats, the unit a packet cut by room keeps,
// and the unit a packet cut at 65,535 keeps.
bool IsLines(uint32_t type) { return type == kPrimLines || type == kPrimLinesAlso; }
bool IsTriangles(uint32_t type) { return type == kPrimTriangles || type == kPrimTrianglesBy4; }
bool IsFan(uint32_t type) { return type == kPrimTriangleFan || type == kPrimPolygon; }

uint32_t CarryOf(uint32_t type) {
  return type == kPrimLineStrip ? 1 : (type == kPrimTriangleStrip || IsFan(type)) ? 2 : 0;
}
uint32_t RoomUnitOf(uint32_t type) { return IsLines(type) ? 2 : (IsTriangles(type) || IsFan(type)) ? 3 : 1; }
uint32_t CountUnitOf(uint32_t type) { return IsLines(type) ? 2 : IsTriangles(type) ? 3 : 1; }

constexpr uint32_t kMaxInlineIndices = 65535;

}  // namespace

void EmitInlineIndices(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  BmSecondaryInt* stream = StreamOf(setup);
  if (!indexed || stream == nullptr) return;
  const uint32_t size = setup->index.stride;
  const uint32_t type = setup->primitiveType;
  if ((size != 2 && size != 4) || type >= kPrimitiveTypes) return;
  const SourceView source(setup->index);
  // Only the indices the source holds.
  const uint64_t from = setup->indexStartOffset;
  const uint64_t held = source.size > from ? (source.size - from) / size : 0;
  if (held < count) count = static_cast<uint32_t>(held);
  // Triangles by four drop every fourth index of their data.
  const bool dropFourth = type == kPrimTrianglesBy4;
  const uint32_t total = dropFourth ? count / 4 * 3 + (count % 4 < 3 ? count % 4 : 3) : count;
  auto indexAt = [&](uint32_t j) {
    const uint32_t position = dropFourth ? j / 3 * 4 + j % 3 : j;
    uint32_t v = 0;
    source.Index(from + static_cast<uint64_t>(position) * size, size, &v);
    return v;
  };
  const uint32_t carry = CarryOf(type);
  const uint32_t roomUnit = RoomUnitOf(type);
  const uint32_t countUnit = CountUnitOf(type);
  const uint32_t sizeFlag = size == 2 ? k3dPrimitiveInline16 : k3dPrimitiveInline32;
  uint32_t next = 0;          // the next index of the draw not yet sent
  uint32_t repeat[2] = {};    // what a continued packet repeats first
  uint32_t switches = 0;
  while (next < total) {
    const uint32_t prefix = next != 0 ? carry : 0;
    uint32_t n = total - next + prefix;
    const uint64_t room = static_cast<uint64_t>(stream->limit - stream->cursor) * 4;
    if (static_cast<uint64_t>(n) * size + 4 > room)
      n = room >= 4 ? static_cast<uint32_t>((room - 4) / (roomUnit * size) * roomUnit) : 0;
    if (n > kMaxInlineIndices) n = kMaxInlineIndices / countUnit * countUnit;
    if (n <= prefix) {
      // Not one new index fits: a fresh buffer, once.
      if (switches++ != 0) return;
      stream->SwitchToNewBuffer();
      continue;
    }
    switches = 0;
    const uint32_t words = 1 + (n * size + 3) / 4;
    PacketWords p{Words(stream, words)};
    if (!p) return;
    p.Word(kPacketInlineIndices | ((n - 1) & 0xFFFF) | sizeFlag | setup->packetFlags);
    uint8_t* out = p.Bytes(words - 1);
    auto put = [&](uint32_t k, uint32_t v) {
      if (size == 2) {
        const uint16_t h = static_cast<uint16_t>(v);
        memcpy(out + 2 * k, &h, 2);
      } else {
        memcpy(out + 4 * k, &v, 4);
      }
    };
    auto got = [&](uint32_t k) {
      if (size == 4) {
        uint32_t v;
        memcpy(&v, out + 4 * k, 4);
        return v;
      }
      uint16_t h;
      memcpy(&h, out + 2 * k, 2);
      return static_cast<uint32_t>(h);
    };
    for (uint32_t k = 0; k < prefix; ++k) put(k, repeat[k]);
    if (dropFourth) {
      for (uint32_t k = prefix; k < n; ++k) put(k, indexAt(next + k - prefix));
    } else {
      // The source's indices are the packet's, in order: one copy.
      memcpy(out + static_cast<size_t>(prefix) * size, source.data + from + static_cast<uint64_t>(next) * size,
             static_cast<size_t>(n - prefix) * size);
    }
    const uint32_t last = got(n - 1);
    if (n >= 2) repeat[0] = got(n - 2);
    next += n - prefix;
    // What the next packet repeats: a strip its last one or two, a fan its
    // first and its last.
    if (type == kPrimLineStrip) repeat[0] = last;
    if (type == kPrimTriangleStrip) repeat[1] = last;
    if (IsFan(type)) {
      repeat[0] = indexAt(0);
      repeat[1] = last;
    }
  }
}

void EmitInlineIndices16(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  BmSecondaryInt* stream = StreamOf(setup);
  if (!indexed || stream == nullptr || setup->primitiveType >= kPrimitiveTypes) return;
  const uint64_t room = static_cast<uint64_t>(stream->limit - stream->cursor) * 4;
  const SourceView source(setup->index);
  const uint64_t from = setup->indexStartOffset;
  const bool whole = source.size > from && (source.size - from) / 2 >= count;
  if (setup->index.stride != 2 || count == 0 || count >= 0x10000 || 2ull * count + 4 > room || !whole) {
    EmitInlineIndices(setup, count, indexed);
    return;
  }
  const uint32_t words = (2 * count + 3) / 4 + 1;
  PacketWords p{Words(stream, words)};
  if (!p) return;
  p.Word(kPacketInlineIndices | k3dPrimitiveInline16 | ((count - 1) & k3dCommandLengthMask) | setup->packetFlags);
  memcpy(p.Bytes(words - 1), source.data + from, 2u * count);
}

// ---- Copied vertices ---------------------------------------------------------------------------

namespace {

constexpr uint32_t kMaxVertexWords = 64;  // w - 1 in six bits

// Vertices a packet cut by room keeps, by type.
uint32_t LowerToType(uint32_t type, uint32_t n) {
  switch (type) {
    case kPrimLines: case kPrimTriangleStrip: case kPrimQuadStrip: case kPrimLinesAlso: return n & ~1u;
    case kPrimLineLoop: return n > 0 ? n - 1 : 0;
    case kPrimTriangles: case kPrimTrianglesBy4: return n / 3 * 3;
    case kPrimQuads: return n & ~3u;
    default: return n;
  }
}

// The render context's progress counter advanced and sent through the
// primary stream to its 3D context's status page.
void SendProgress(RenderContext3d* context) {
  Context3d* owner = context->owner3d;
  BmPrimInt* primary = context->primaryStream;
  if (owner == nullptr || primary == nullptr || context->index > 1) return;
  uint32_t counter = owner->progress[context->index] + 1;
  if (counter == 0) counter = 1;
  owner->progress[context->index] = counter;
  if (uint32_t* at = primary->Reserve(kProgressWords)) {
    BmWriteProgress(at, counter, static_cast<uint32_t>(owner->statusPageBus + kStatusProgressAt + 4 * context->index));
    primary->Kick();
  }
}

}  // namespace

namespace {

// n parts of `bytes` bytes, `bytes` apart in the source, to every w-th
// word from `to` on.
template <uint32_t kBytes>
void ScatterFixed(uint32_t* to, uint32_t w, const uint8_t* from, uint32_t n) {
  for (uint32_t k = 0; k < n; ++k, to += w, from += kBytes) memcpy(to, from, kBytes);
}

void ScatterVertexParts(uint32_t* to, uint32_t w, const uint8_t* from, uint32_t bytes, uint32_t n) {
  switch (bytes) {
    case 4:
      return ScatterFixed<4>(to, w, from, n);
    case 8:
      return ScatterFixed<8>(to, w, from, n);
    case 12:
      return ScatterFixed<12>(to, w, from, n);
    case 16:
      return ScatterFixed<16>(to, w, from, n);
    case 20:
      return ScatterFixed<20>(to, w, from, n);
    case 24:
      return ScatterFixed<24>(to, w, from, n);
    case 28:
      return ScatterFixed<28>(to, w, from, n);
    case 32:
      return ScatterFixed<32>(to, w, from, n);
    default:
      for (uint32_t k = 0; k < n; ++k, to += w, from += bytes) memcpy(to, from, bytes);
      return;
  }
}

}  // namespace

void EmitInlineVertices(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  BmSecondaryInt* stream = StreamOf(setup);
  if (stream == nullptr || setup->primitiveType >= kPrimitiveTypes || setup->activeCount == 0) return;
  const uint32_t type = setup->primitiveType;
  if (!indexed && (setup->minVertexIndex > 0 || count > static_cast<uint32_t>(setup->vertexLimit))) return;
  // Vertices a continued packet repeats: the last two of a triangle or
  // quad strip, the first and the last of a fan, the last of a line strip.
  const bool carriesTwo = type == kPrimTriangleStrip || IsFan(type) || type == kPrimQuadStrip;
  const bool carriesOne = type == kPrimLineStrip || type == kPrimLineLoop;
  const uint32_t carry = carriesTwo ? 2 : carriesOne ? 1 : 0;
  if (count <= carry) return;

  uint32_t w = 0;
  SourceView sources[kVertexStreams];
  uint32_t strides[kVertexStreams];
  for (uint32_t i = 0; i < setup->activeCount; ++i) {
    strides[i] = setup->StrideOf(setup->active[i]) & ~3u;
    w += strides[i] / 4;
    sources[i].Open(*setup->active[i].source);
  }
  if (w == 0 || w > kMaxVertexWords) return;
  const SourceView indices(indexed ? setup->index : StreamSource{});
  const uint32_t indexSize = setup->index.stride < 3 ? 2 : 4;
  const bool dropFourth = indexed && type == kPrimTrianglesBy4;

  // The vertex number at a draw position; false past the index data.
  auto vertexAt = [&](uint32_t position, uint32_t* vertex) {
    if (!indexed) {
      *vertex = position;
      return true;
    }
    const uint32_t at = dropFourth ? position / 3 * 4 + position % 3 : position;
    uint32_t v;
    if (!indices.Index(setup->indexStartOffset + static_cast<uint64_t>(at) * indexSize, indexSize, &v)) return false;
    if (static_cast<int64_t>(v) < setup->minVertexIndex || static_cast<int64_t>(v) >= setup->vertexLimit)
      v = setup->activeCount == 1 ? static_cast<uint32_t>(setup->minVertexIndex) : 0;
    *vertex = v;
    return true;
  };
  // One vertex's words from every active stream; what lies outside a
  // source reads as zeros.
  auto copyVertex = [&](uint32_t vertex, uint32_t* out) {
    if (setup->activeCount == 1) {
      const int64_t byte = setup->active[0].startOffset + static_cast<int64_t>(vertex) * strides[0];
      if (sources[0].data != nullptr && byte >= 0 && byte + strides[0] <= sources[0].size)
        memcpy(out, sources[0].data + byte, strides[0]);
      else
        memset(out, 0, strides[0]);
      return;
    }
    for (uint32_t i = 0; i < setup->activeCount; ++i) {
      const int64_t byte = setup->active[i].startOffset + static_cast<int64_t>(vertex) * strides[i];
      const SourceView& src = sources[i];
      if (src.data != nullptr && byte >= 0 && byte + strides[i] <= src.size)
        memcpy(out, src.data + byte, strides[i]);
      else
        memset(out, 0, strides[i]);
      out += strides[i] / 4;
    }
  };

  RenderContext3d* context = setup->context;
  SendProgress(context);
  uint32_t remaining = count - carry;
  uint32_t next = 0;            // the next draw position not yet sent
  uint32_t carried[2] = {};     // vertex numbers a continued packet repeats
  uint32_t first = 0;
  if (!vertexAt(0, &first)) return;
  bool continued = false;
  uint32_t switches = 0;
  while (remaining > 0) {
    if (!stream->Fits(w * 4 + 7)) stream->SwitchToNewBuffer();
    const uint32_t room = static_cast<uint32_t>(stream->limit - stream->cursor);
    uint32_t n = room > 7 ? (room - 7) / w : 0;
    const uint32_t wanted = remaining + carry;
    if (n >= wanted) {
      n = wanted;
      // The closing vertex of a loop needs its room too.
      if (type == kPrimLineLoop && (room - 7) / w < wanted + 1) n = LowerToType(type, wanted);
    } else {
      n = LowerToType(type, n);
    }
    if (n <= carry) {
      if (switches++ != 0) return;
      stream->SwitchToNewBuffer();
      continue;
    }
    switches = 0;
    BmBuffer* buffer = stream->head;
    // Stream 0 at the buffer with the stride 4: the engine reads the
    // copied vertices there.
    if (uint32_t* group = Words(stream, 4)) {
      DirectSink sink{group};
      PutPacket(sink, PacketHeader(k3dIdxStreamAddress0, k3dIdxStreamStrides0),
                static_cast<uint32_t>(buffer->busAddress) | (buffer->busType & kAddressFlagBits), 4u);
    }
    stream->ExecutePending();
    if (context->contextState != nullptr) context->contextState->dirty.words[0] |= kCsDirtyCoordA;

    const bool last = n - carry >= remaining;
    const uint32_t closing = last && type == kPrimLineLoop ? 1 : 0;
    uint32_t* data = stream->Reserve(w * (n + closing));
    if (data == nullptr) return;
    uint32_t* out = data;
    uint32_t sent = 0;
    bool ended = false;
    // One stream in order: the packet's vertices are one run of its data.
    if (!indexed && setup->activeCount == 1 && (!continued || carry == 0) && sources[0].data != nullptr) {
      const int64_t byte = setup->active[0].startOffset + static_cast<int64_t>(next) * strides[0];
      const uint64_t bytes = static_cast<uint64_t>(n) * strides[0];
      if (byte >= 0 && static_cast<uint64_t>(byte) + bytes <= sources[0].size) {
        memcpy(out, sources[0].data + byte, bytes);
        out += static_cast<size_t>(n) * w;
        sent = n;
        if (n >= 2) carried[0] = next + n - 2;
        carried[1] = next + n - 1;
        next += n;
      }
    }
    // Several streams in order, every one holding the packet's vertices:
    // interleaved word by word without a check per vertex.
    if (!indexed && sent == 0 && setup->activeCount > 1 && (!continued || carry == 0)) {
      bool inside = true;
      const uint8_t* bases[kVertexStreams];
      for (uint32_t i = 0; i < setup->activeCount && inside; ++i) {
        const int64_t byte = setup->active[i].startOffset + static_cast<int64_t>(next) * strides[i];
        inside = sources[i].data != nullptr && byte >= 0 &&
                 static_cast<uint64_t>(byte) + static_cast<uint64_t>(n) * strides[i] <= sources[i].size;
        if (inside) bases[i] = sources[i].data + byte;
      }
      if (inside) {
        // Each stream's part of every vertex in one pass over the stream,
        // a copy of a fixed size for the common strides.
        uint32_t* part = out;
        for (uint32_t i = 0; i < setup->activeCount; ++i) {
          ScatterVertexParts(part, w, bases[i], strides[i], n);
          part += strides[i] / 4;
        }
        out += static_cast<size_t>(n) * w;
        sent = n;
        if (n >= 2) carried[0] = next + n - 2;
        carried[1] = next + n - 1;
        next += n;
      }
    }
    for (uint32_t k = sent; k < n; ++k) {
      uint32_t v;
      if (k < carry && continued) {
        v = carried[k];
      } else if (!vertexAt(next, &v)) {
        ended = true;
        break;
      } else {
        ++next;
      }
      copyVertex(v, out);
      out += w;
      ++sent;
      if (k + 2 == n) carried[0] = v;
      if (k + 1 == n) carried[1] = v;
    }
    if (closing != 0 && !ended) {
      copyVertex(first, out);
      out += w;
      ++sent;
    }
    stream->cursor = out;
    if (sent != 0) {
      if (uint32_t* packet = Words(stream, 3)) {
        packet[0] = CopiedVerticesCommand(w) | setup->packetFlags;
        packet[1] = buffer->BusOf(data);
        packet[2] = buffer->BusOf(out);
        // The copied words are data, not commands: execution starts at the
        // packet.
        stream->start = packet;
      }
    }
    if (ended) return;
    // What a continued packet repeats: a strip its last vertices, a fan
    // its first and its last.
    if (type == kPrimLineStrip || type == kPrimLineLoop) carried[0] = carried[1];
    if (IsFan(type)) carried[0] = first;
    remaining -= n - carry;
    continued = true;
  }
}

// ---- Converted vertices ------------------------------------------------------------------------

namespace {

// The vertices of a converted draw: the first active stream's, by draw
// position, through the index source when indexed. Indices outside the
// vertex window are taken as the window's first vertex; a position past
// the index data has no vertex.
class ConvertedDraw {
 public:
  ConvertedDraw(VertexStreamSetup* s, bool isIndexed)
      : setup(s),
        fetch(s->fetch),
        indexed(isIndexed),
        vertices(s->activeCount != 0 ? *s->active[0].source : s->index),
        indices(s->index) {
    if (s->activeCount == 0) return;
    stride = s->StrideOf(s->active[0]);
    offset = s->active[0].startOffset;
    if (vertices.data != nullptr) fetch.SetSourceWindow(vertices.data, vertices.data + vertices.size);
    usable = vertices.data != nullptr && stride != 0;
  }
  ~ConvertedDraw() { fetch.SetSourceWindow(nullptr, nullptr); }

  // The address of the draw's vertex at position i, or null.
  const uint8_t* At(uint32_t i) const {
    if (!usable) return nullptr;
    int64_t v = i;
    if (indexed) {
      uint32_t index;
      const uint32_t size = setup->index.stride < 3 ? 2 : 4;
      if (!indices.Index(setup->indexStartOffset + static_cast<uint64_t>(i) * size, size, &index)) return nullptr;
      v = index;
      if (v < setup->minVertexIndex || v >= setup->vertexLimit) v = setup->activeCount == 1 ? setup->minVertexIndex : 0;
    }
    const int64_t byte = offset + v * static_cast<int64_t>(stride);
    // The fetch reads only inside the source; an address outside it is
    // none at all.
    if (byte < 0 || byte >= vertices.size) return nullptr;
    return vertices.data + byte;
  }
  // Positions [first, first + n) all have vertices.
  bool Have(uint32_t first, uint32_t n, const uint8_t** out) const {
    for (uint32_t k = 0; k < n; ++k)
      if ((out[k] = At(first + k)) == nullptr) return false;
    return true;
  }

  VertexStreamSetup* setup;
  VertexFetch& fetch;
  bool indexed;
  SourceView vertices;
  SourceView indices;
  uint32_t stride = 0;
  int64_t offset = 0;
  bool usable = false;
};

}  // namespace

void EmitConvertedPoints(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  ConvertedDraw d(setup, indexed);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* v[1];
    if (!d.Have(i, 1, v)) break;
    d.fetch.EmitPoint(v[0], i == 0);
  }
}

void EmitConvertedLines(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  ConvertedDraw d(setup, indexed);
  for (uint32_t i = 0; i + 2 <= count; i += 2) {
    const uint8_t* v[2];
    if (!d.Have(i, 2, v)) break;
    d.fetch.EmitLine(v[0], v[1], v[1]);
  }
}

void EmitConvertedLineStrip(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  ConvertedDraw d(setup, indexed);
  const uint8_t* v[2];
  if (count < 2 || !d.Have(0, 2, v)) return;
  d.fetch.EmitLine(v[0], v[1], v[1]);
  uint32_t record[4];
  for (uint32_t i = 2; i < count; ++i) {
    const uint8_t* next = d.At(i);
    if (next == nullptr) return;
    d.fetch.EmitLineStripVertex(next, i % 2, record, next);
  }
  if (setup->primitiveType == kPrimLineLoop && count > 2) d.fetch.EmitLineStripVertex(v[0], count % 2, record, v[0]);
}

void EmitConvertedTriangles(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  ConvertedDraw d(setup, indexed);
  // Triangles by four hold four indices a triangle in their index data.
  const uint32_t step = indexed && setup->primitiveType == kPrimTrianglesBy4 ? 4 : 3;
  for (uint32_t i = 0; i + 3 <= count; i += step) {
    const uint8_t* v[3];
    if (!d.Have(i, 3, v)) break;
    d.fetch.EmitTriangle(v[0], v[1], v[2], v[2]);
  }
}

void EmitConvertedTriangleStrip(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  ConvertedDraw d(setup, indexed);
  const uint8_t* v[3];
  if (count < 3 || !d.Have(0, 3, v)) return;
  uint32_t r[3][4];
  const bool firstCulled = d.fetch.EmitTriangleAt(v[0], v[1], v[2], r[0], r[1], r[2], v[2], 0, 1, 2, false);
  for (uint32_t i = 3; i < count; ++i) {
    const uint8_t* w[3];
    if (!d.Have(i - 2, 3, w)) return;
    const uint32_t pa = (i - 2) % 3, pb = (i - 1) % 3, pc = i % 3;
    const bool parity = ((i - 2) & 1) != 0;
    if (i == 3 && !firstCulled)
      d.fetch.EmitTriangleVertex(r[pa], r[pb], w[2], pc, r[pc], w[2], parity);
    else
      d.fetch.EmitTriangleAt(w[0], w[1], w[2], r[pa], r[pb], r[pc], w[2], pa, pb, pc, parity);
  }
}

void EmitConvertedFan(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  ConvertedDraw d(setup, indexed);
  const uint8_t* v[3];
  if (count < 3 || !d.Have(0, 3, v)) return;
  uint32_t r[3][4];
  bool culled = d.fetch.EmitTriangleAt(v[0], v[1], v[2], r[0], r[1], r[2], v[2], 0, 1, 2, false);
  for (uint32_t i = 3; i < count; ++i) {
    const uint8_t* w[2];
    if (!d.Have(i - 1, 2, w)) return;
    const uint32_t place = (i & 1) != 0 ? 1 : 2;
    const uint32_t previous = 3 - place;
    if (!culled)
      culled = d.fetch.EmitTriangleVertex(r[0], r[previous], w[1], place, r[place], w[1], false);
    else
      culled = d.fetch.EmitTriangleAt(v[0], w[0], w[1], r[0], r[previous], r[place], w[1], 0, previous, place, false);
  }
}

void EmitConvertedQuads(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  ConvertedDraw d(setup, indexed);
  for (uint32_t i = 0; i + 4 <= count; i += 4) {
    const uint8_t* q[4];
    if (!d.Have(i, 4, q)) break;
    uint32_t r[3][4];
    // (a, b, d), then c joining d and b: (d, b, c), both with d's colour.
    d.fetch.EmitTriangleAt(q[0], q[1], q[3], r[0], r[1], r[2], q[3], 0, 1, 2, false);
    d.fetch.EmitTriangleVertex(r[2], r[1], q[2], 0, r[0], q[3], false);
  }
}

void EmitConvertedQuadStrip(VertexStreamSetup* setup, uint32_t count, bool indexed) {
  ConvertedDraw d(setup, indexed);
  const uint8_t* q[4];
  if (count < 4 || !d.Have(0, 4, q)) return;
  uint32_t r[3][4];
  // The first quad: (a, b, d) at places 0, 1, 2, then c at b's place.
  d.fetch.EmitTriangleAt(q[0], q[1], q[3], r[0], r[1], r[2], q[3], 0, 1, 2, false);
  d.fetch.EmitTriangleVertex(r[0], r[2], q[2], 1, r[1], q[3], false);
  // Later quads: a is the last c, b the last d; d goes where neither is,
  // then c to b's place.
  uint32_t pa = 1, pb = 2;
  for (uint32_t j = 1; 2 * j + 4 <= count; ++j) {
    const uint8_t* cd[2];
    if (!d.Have(2 * j + 2, 2, cd)) return;
    const uint32_t pd = 3 - pa - pb;
    d.fetch.EmitTriangleVertex(r[pa], r[pb], cd[1], pd, r[pd], cd[1], false);
    d.fetch.EmitTriangleVertex(r[pa], r[pd], cd[0], pb, r[pb], cd[1], false);
    pa = pb;
    pb = pd;
  }
}

// ---- Tables ------------------------------------------------------------------------------------

namespace {

template <PrimitiveEmitter E, uint32_t... I>
constexpr PrimitiveEmitterTable Filled(std::integer_sequence<uint32_t, I...>) {
  return PrimitiveEmitterTable{{((void)I, E)...}};
}
template <PrimitiveEmitter E>
constexpr PrimitiveEmitterTable kAll = Filled<E>(std::make_integer_sequence<uint32_t, kPrimitiveTypes>{});

}  // namespace

const PrimitiveEmitterTable InlineVertexTable = kAll<EmitInlineVertices>;
// Indexed closed strips, quads and quad strips from processor memory have
// no inline handler.
const PrimitiveEmitterTable InlineIndexTable = {
    {EmitInlineIndices, EmitInlineIndices, EmitInlineIndices, EmitInlineIndices, EmitNothing, EmitInlineIndices16,
     EmitInlineIndices16, EmitInlineIndices16, EmitInlineIndices16, EmitNothing, EmitNothing, EmitInlineIndices,
     EmitInlineIndices}};
const PrimitiveEmitterTable DirectDrawTable = kAll<EmitVerticesDirect>;
const PrimitiveEmitterTable IndexedByAddressTable = kAll<EmitIndexedByAddress>;
const PrimitiveEmitterTable Mode1DrawTable = {{EmitSourceDwords, EmitSourceDwords, EmitSourceDwords, EmitSourceDwords,
                                               EmitLoopPairs, EmitSourceDwords, EmitSourceDwords, EmitSourceDwords,
                                               EmitSourceDwords, EmitSourceDwords, EmitSourceDwords, EmitSourceDwords,
                                               EmitSourceDwords}};
const PrimitiveEmitterTable Mode1IndexedTable = {
    {EmitIndexedByAddressAndExecute, EmitIndexedByAddressAndExecute, EmitIndexedByAddressAndExecute,
     EmitIndexedByAddressAndExecute, EmitLoopPairs, EmitIndexedByAddressAndExecute, EmitIndexedByAddressAndExecute,
     EmitIndexedByAddressAndExecute, EmitIndexedByAddressAndExecute, EmitIndexedByAddressAndExecute,
     EmitIndexedByAddressAndExecute, EmitIndexedByAddressAndExecute, EmitIndexedByAddressAndExecute}};
const PrimitiveEmitterTable ConvertedVertexTable = {
    {EmitConvertedPoints, EmitConvertedPoints, EmitConvertedLines, EmitConvertedLineStrip, EmitConvertedLineStrip,
     EmitConvertedTriangles, EmitConvertedTriangleStrip, EmitConvertedFan, EmitConvertedFan, EmitConvertedQuads,
     EmitConvertedQuadStrip, EmitConvertedLines, EmitConvertedTriangles}};

void EmitNothing(VertexStreamSetup*, uint32_t, bool) {}

const EmitterTablePair DrawPairDirect = {{&InlineVertexTable, &DirectDrawTable}};
const EmitterTablePair IndexedPairInline = {{&InlineVertexTable, &InlineIndexTable}};
const EmitterTablePair IndexedPairFetchable = {{&InlineVertexTable, &IndexedByAddressTable}};
const EmitterTablePair DrawPairMode1 = {{&InlineVertexTable, &Mode1DrawTable}};
const EmitterTablePair IndexedPairMode1 = {{&InlineVertexTable, &Mode1IndexedTable}};
