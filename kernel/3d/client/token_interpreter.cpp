// The command-token interpreter.
#include "kernel/3d/client/token_interpreter.h"

#include <string.h>

#include "core/common_data.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/shared_word.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/tnl/vec_const_shadow.h"
#include "kernel/3d/tnl/vertex_program.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_wait.h"
#include "kernel/pending.h"
#include "kernel/sync_tags.h"

namespace {

struct TokenRow {
  uint32_t entrySize;
  bool trailing;  // bytes follow the entries
};

// Entry sizes by opcode; 0 for an opcode nothing handles.
struct TokenTable {
  TokenRow rows[kTokenOpcodes] = {};
  constexpr TokenTable() {
    for (uint32_t opcode = 0; opcode < kTokenOpcodes; ++opcode) rows[opcode].entrySize = kTokenEntrySizes[opcode];
    const uint32_t withTrailing[] = {kTokenDrawIndexed,           kTokenDrawUserPrimitives,
                                     kTokenSetLights,             kTokenLoadVertexDeclaration,
                                     kTokenSetVertexConstRange,   kTokenWriteBufferData};
    for (uint32_t opcode : withTrailing) rows[opcode].trailing = true;
  }
};
constexpr TokenTable kTokens;

// Every opcode with entries has a handler, but those the interpreter acts
// on itself.
constexpr bool EveryTokenHandled() {
  bool handled[kTokenOpcodes] = {};
  handled[kTokenSkip] = handled[kTokenSetVertexConstRange] = handled[kTokenSelectRenderContext] = true;
#define ORV_TOKEN_HANDLED(opcode, name) handled[opcode] = true;
  ORV_TOKEN_HANDLERS(ORV_TOKEN_HANDLED)
#undef ORV_TOKEN_HANDLED
  for (uint32_t opcode = 0; opcode < kTokenOpcodes; ++opcode) {
    if ((kTokenEntrySizes[opcode] != 0) != handled[opcode]) return false;
  }
  return true;
}
static_assert(EveryTokenHandled());

// The stream in the command buffer: [begin, end) of the buffer's bytes.
class StreamReader {
 public:
  StreamReader(const uint8_t* buffer, uint64_t begin, uint64_t end)
      : buffer_(buffer), at_(begin), end_(end) {}
  uint64_t At() const { return at_; }
  bool More() const { return at_ < end_; }
  // Copies the next bytes into kernel memory: false, with nothing moved,
  // when they do not lie inside the stream.
  bool Read(void* out, uint64_t bytes) {
    if (bytes > end_ - at_) return false;
    if (bytes != 0) memcpy(out, buffer_ + at_, static_cast<size_t>(bytes));
    at_ += bytes;
    return true;
  }

 private:
  const uint8_t* buffer_;
  uint64_t at_;
  uint64_t end_;
};

// The walk's kernel copy of the stream: a chunk is copied at a time.
constexpr size_t kStreamWindowBytes = 4096;

// The stream's bytes from `start` on, copied into the context's scratch;
// the walk's cursor and limit point into `bytes`.
struct StreamWindow {
  Context3d* context;
  const uint8_t* client;  // the command buffer
  uint64_t end;           // the stream's end in the buffer
  uint64_t start;         // the buffer offset of bytes[0]
  uint8_t* bytes;
  uint8_t* filled;  // the end of the copied bytes

  // The buffer offset of a window position.
  uint64_t At(const uint8_t* position) const { return start + static_cast<uint64_t>(position - bytes); }

  // Makes at least `need` bytes from the cursor available, keeping those
  // copied already (the client's bytes are read once): the window then
  // runs from `bytes` (the cursor) to `filled`. False when the stream holds fewer bytes or memory
  // is short.
  bool Fill(const uint8_t* cursor, const uint8_t* limit, uint64_t need) {
    const uint64_t at = At(cursor);
    const size_t kept = static_cast<size_t>(limit - cursor);
    const uint64_t left = end - at;
    if (need > left) return false;
    uint64_t want = need > kStreamWindowBytes ? need : kStreamWindowBytes;
    if (want > left) want = left;
    if (want > context->scratchSize) {
      auto* grown = static_cast<uint8_t*>(memAlloc(static_cast<size_t>(want)));
      if (grown == nullptr) return false;
      if (kept != 0) memcpy(grown, cursor, kept);
      memFree(context->scratch);
      context->scratch = grown;
      context->scratchSize = static_cast<size_t>(want);
    } else if (kept != 0) {
      memmove(context->scratch, cursor, kept);
    }
    bytes = context->scratch;
    start = at;
    memcpy(bytes + kept, client + at + kept, static_cast<size_t>(want) - kept);
    filled = bytes + want;
    return true;
  }

  // An empty window at buffer offset `at` (after the scratch copy was
  // used for something else).
  void Reset(uint64_t at) {
    bytes = filled = context->scratch;
    start = at;
  }
};

uint32_t WordAt(const uint8_t* bytes, size_t offset) {
  uint32_t value;
  memcpy(&value, bytes + offset, sizeof(value));
  return value;
}

void SetWordAt(uint8_t* bytes, size_t offset, uint32_t value) { memcpy(bytes + offset, &value, sizeof(value)); }

// Reads a token's entries and trailing bytes into the context's scratch
// copy: the payload, its size and the trailing bytes; false when they do
// not lie inside the stream or memory is short.
bool ReadPayload(Context3d* context, StreamReader& reader, uint32_t opcode, uint32_t count,
                 uint32_t entrySize, uint8_t** payload, uint32_t* trailingOut) {
  const uint64_t remaining = 0xFFFFFFFFull;
  const uint64_t entries = uint64_t{count} * entrySize;
  if (entries > remaining) return false;
  uint64_t trailing = 0;
  if (opcode == kTokenDrawIndexed) {
    // Each entry is followed by its n words: read entry by entry.
    uint64_t total = 0;
    uint8_t* out = nullptr;
    StreamReader probe = reader;
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t entry[32];
      if (!probe.Read(entry, sizeof(entry))) return false;
      const uint64_t words = uint64_t{WordAt(entry, 4)} * 4;
      uint8_t skip[64];
      for (uint64_t left = words; left != 0;) {
        const uint64_t step = left < sizeof(skip) ? left : sizeof(skip);
        if (!probe.Read(skip, step)) return false;
        left -= step;
      }
      total += sizeof(entry) + words;
      trailing += words;
    }
    out = context->Scratch(total != 0 ? static_cast<size_t>(total) : 1);
    if (out == nullptr || !reader.Read(out, total)) return false;
    *payload = out;
    *trailingOut = static_cast<uint32_t>(trailing);
    return true;
  }
  uint8_t* out = context->Scratch(entries != 0 ? static_cast<size_t>(entries) : 1);
  if (out == nullptr || !reader.Read(out, entries)) return false;
  switch (opcode) {
    case kTokenDrawUserPrimitives:
    case kTokenSetLights:
    case kTokenWriteBufferData:
      for (uint32_t i = 0; i < count; ++i) trailing += WordAt(out, (i + 1) * uint64_t{entrySize} - 4);
      trailing = (trailing + 3) & ~uint64_t{3};
      break;
    case kTokenLoadVertexDeclaration:
      if (count != 0) trailing = uint64_t{WordAt(out, 4)} + WordAt(out, 8);
      break;
    case kTokenSetVertexConstRange:
      if (count != 0) trailing = uint64_t{WordAt(out, 4)} * sizeof(VecConst);
      break;
    default:
      break;
  }
  if (trailing != 0) {
    if (entries + trailing > remaining) return false;
    // Keep the entries already read: grow, copying them over.
    uint8_t* saved = out;
    const size_t need = static_cast<size_t>(entries + trailing);
    if (need > context->scratchSize) {
      auto* grown = static_cast<uint8_t*>(memAlloc(need));
      if (grown == nullptr) return false;
      memcpy(grown, saved, static_cast<size_t>(entries));
      memFree(context->scratch);
      context->scratch = grown;
      context->scratchSize = need;
      out = grown;
    }
    if (!reader.Read(out + entries, trailing)) return false;
  }
  *payload = out;
  *trailingOut = static_cast<uint32_t>(trailing);
  return true;
}

// Token 14: entries naming a stage from kTextureStages on are dropped.
uint32_t KeepTextureStages(uint8_t* payload, uint32_t count) {
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t stage;
    memcpy(&stage, payload + i * 8, sizeof(stage));
    if (stage >= kTextureStages) continue;
    if (kept != i) memmove(payload + kept * 8, payload + i * 8, 8);
    ++kept;
  }
  return kept;
}

// Token 32: each entry's matrix transposed in the kernel's copy.
void TransposeTransforms(uint8_t* payload, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* matrix = payload + i * 68 + 4;
    for (uint32_t r = 0; r < 4; ++r) {
      for (uint32_t c = r + 1; c < 4; ++c) {
        const uint32_t a = WordAt(matrix, (r * 4 + c) * 4);
        const uint32_t b = WordAt(matrix, (c * 4 + r) * 4);
        SetWordAt(matrix, (r * 4 + c) * 4, b);
        SetWordAt(matrix, (c * 4 + r) * 4, a);
      }
    }
  }
}

// Token 67: the range posted to the render context's constant shadow.
void SetVertexConstRange(TokenContext3d& token, const uint8_t* payload, uint32_t count) {
  if (count == 0) return;
  VecConstShadow* shadow = RenderContext3dVecConstShadow(token.current);
  if (shadow == nullptr) return;
  const uint32_t first = WordAt(payload, 0);
  const uint32_t start = first < kVecConstPostable - 1 ? first : kVecConstPostable - 1;
  const uint32_t asked = WordAt(payload, 4);
  const uint32_t room = kVecConstPostable - start;
  const uint32_t constants = asked < room ? asked : room;
  shadow->PostRange(start, constants,
                    reinterpret_cast<const VecConst*>(payload + uint64_t{count} * 8));
  // The constants live in the interpreter's copy: retire them into the
  // shadow's image before the copy is reused.
  shadow->RetireAll();
  RenderState3dFlushVertexConstants(token.current);
}

// Token 81: the last entry's id selects one of the context's own two
// render contexts; any other id changes nothing.
void SelectRenderContext(TokenContext3d& token, const uint8_t* payload, uint32_t count) {
  if (count == 0) return;
  const uint32_t id = WordAt(payload, (count - 1) * 8);
  const int index = token.context->IndexOf(id);
  if (index < 0 || token.context->renderContexts[index] == nullptr) return;
  token.current = token.context->renderContexts[index];
  token.currentIndex = index;
  token.context->current = token.current;
}

}  // namespace

uint32_t SealBatch(TokenContext3d& token) {
  CommonData* common = token.common;
  SharedLockedData_t* shared = common->sharedLocked;
  const uint32_t tag = TakeNextTag(shared);
  const uint32_t mask = RenderContext3dSealTargets(token.current, tag) & (kTargetColour | kTargetDepth);
  BmSecondaryInt* secondary = common->secondaryStream;
  if (mask != 0 && secondary != nullptr) {
    secondary->startFlags = kSecondarySubmitMode;
    if (uint32_t* at = secondary->Reserve(kTargetTagWords)) {
      at[0] = kTargetTagWords - 2;
      at[1] = TagValueHeader(shared, kPacketTargetTag, kPacketTargetTagNoV);
      at[2] = mask | 7;
      at[3] = tag | kTagProgress;
      at[4] = tag;
      at[5] = ReadShared(&shared->last1300Value);
      secondary->ExecutePending();
    }
  }
  RenderContext3dHandOverStream(token.current);
  // The vertex programs the batch used are stamped with its tag.
  if (common->vertexProgramBuilder != nullptr) common->vertexProgramBuilder->SealBatchTag(tag);
  return tag;
}

bool CloseStream(TokenContext3d& token) {
  Context3d* context = token.context;
  BmPrimInt* primary = token.common->primaryStream;
  const int index = token.currentIndex;
  uint32_t counter = context->progress[index] + 1;
  if (counter == 0) counter = 1;
  context->progress[index] = counter;
  RenderContext3dHandOverProgressStream(token.current);
  if (primary == nullptr) return false;
  uint32_t* at = primary->Reserve(kProgressWords);
  if (at == nullptr) return false;
  at[0] = kPacketProgress;
  at[1] = counter;
  at[2] = static_cast<uint32_t>(context->statusPageBus + kStatusProgressAt + 4 * static_cast<uint32_t>(index));
  primary->Kick();
  return true;
}

void CommandTokenInterpreter(Context3d* context, PDEV* device, ClientRequest* request) {
  request->SetResult(kRequestRefused);
  // Offset and length are read once, and added in 64 bits.
  const uint64_t offset = request->U32(kRequestArgsAt);
  const uint64_t length = request->U32(kRequestLengthAt);
  const ClientBuffer3d& buffer = context->commandBuffer;
  if (buffer.linear == nullptr || offset + length > buffer.size) return;
  if (context->current == nullptr || device == nullptr || device->common == nullptr) return;
  TokenContext3d token = {context, device, device->common, request, context->current,
                          context->current == context->renderContexts[1] ? 1 : 0};
  if (!KernelWait("3D target flip", [&] {
        token.current = context->current;
        return token.current == nullptr || IsTargetFlipDone(token.current);
      })) {
    request->SetResult(kRequestBusy);
    return;
  }
  if (token.current == nullptr) return;
  if (context->Scratch(kStreamWindowBytes) == nullptr) return;
  // The stream is walked in a kernel copy of it: `window` holds the bytes
  // [cursor, limit) of the stream, copied from the client in large chunks
  // (each byte read once) and refilled as the walk reaches its end.
  StreamWindow window = {context, static_cast<const uint8_t*>(buffer.linear), offset + length, offset,
                         context->scratch, context->scratch};
  uint8_t* cursor = window.bytes;
  // The window's end, and the last address a whole header starts at:
  // compared as numbers, no pointer is formed past the window.
  uintptr_t limit = reinterpret_cast<uintptr_t>(window.filled);
  uintptr_t lastHeader = limit - kTokenHeaderBytes;
#define ORV_REFILL(need)                                                                       \
  do {                                                                                         \
    if (!window.Fill(cursor, reinterpret_cast<const uint8_t*>(limit), need)) return;         \
    cursor = window.bytes;                                                                     \
    limit = reinterpret_cast<uintptr_t>(window.filled);                                       \
    lastHeader = limit - kTokenHeaderBytes;                                                    \
  } while (false)
  for (;;) {
    if (reinterpret_cast<uintptr_t>(cursor) > lastHeader) [[unlikely]] {
      if (window.At(cursor) == window.end) break;
      ORV_REFILL(kTokenHeaderBytes);
    }
    uint64_t header;
    memcpy(&header, cursor, sizeof(header));
    const uint32_t opcode = static_cast<uint32_t>(header);
    uint8_t* payload = cursor + kTokenHeaderBytes;
    uint32_t count = 1;
    // Fixed-size entries: the whole token in the window, then its handler
    // on the window's copy. A token of one entry (most state tokens) in the
    // window steps by a constant, so the next header's address does not
    // wait on this header's count.
#define ORV_TOKEN_TAKE(op)                                                                     \
  uintptr_t next = reinterpret_cast<uintptr_t>(payload) + kTokenEntrySizes[op];                \
  if (header != (uint64_t{1} << 32 | (op)) || next > limit) [[unlikely]] {                     \
    count = static_cast<uint32_t>(header >> 32);                                               \
    const uint64_t bytes = uint64_t{count} * kTokenEntrySizes[op];                             \
    if (bytes > limit - reinterpret_cast<uintptr_t>(payload)) {                                \
      ORV_REFILL(kTokenHeaderBytes + bytes);                                                   \
      payload = cursor + kTokenHeaderBytes;                                                    \
    }                                                                                          \
    next = reinterpret_cast<uintptr_t>(payload) + bytes;                                       \
  }                                                                                            \
  cursor = reinterpret_cast<uint8_t*>(next)
    switch (opcode) {
      case kTokenSkip: {
        ORV_TOKEN_TAKE(kTokenSkip);
        continue;
      }
      case kTokenSelectRenderContext: {
        ORV_TOKEN_TAKE(kTokenSelectRenderContext);
        SelectRenderContext(token, payload, count);
        continue;
      }
#define ORV_TOKEN_CASE(op, name)                                                     \
  case op: {                                                                         \
    if constexpr (kTokens.rows[op].trailing) {                                       \
      goto trailing;                                                                 \
    } else {                                                                         \
      ORV_TOKEN_TAKE(op);                                                            \
      uint32_t entries = count;                                                      \
      if constexpr (op == kTokenUpdateSurfaceBoxes || op == kTokenClearBatch) SealBatch(token); \
      if constexpr (op == kTokenSetTextureStages) entries = KeepTextureStages(payload, count); \
      if constexpr (op == kTokenSetTransforms) TransposeTransforms(payload, count);  \
      name(&token, payload, entries, 0);                                             \
      continue;                                                                      \
    }                                                                                \
  }
      ORV_TOKEN_HANDLERS(ORV_TOKEN_CASE)
#undef ORV_TOKEN_CASE
#undef ORV_TOKEN_TAKE
#undef ORV_REFILL
      case kTokenSetVertexConstRange:
        goto trailing;
      default:
        return;  // unhandled
    }
  trailing: {
    // Entries with trailing bytes: read from the stream into the scratch
    // copy, which ends the window.
    count = static_cast<uint32_t>(header >> 32);
    StreamReader reader(window.client, window.At(payload), window.end);
    uint8_t* copy = nullptr;
    uint32_t trailing = 0;
    if (!ReadPayload(context, reader, opcode, count, kTokenEntrySizes[opcode], &copy, &trailing)) return;
    window.Reset(reader.At());
    cursor = window.bytes;
    limit = reinterpret_cast<uintptr_t>(cursor);
    lastHeader = limit - kTokenHeaderBytes;
    switch (opcode) {
      case kTokenSetVertexConstRange:
        SetVertexConstRange(token, copy, count);
        break;
#define ORV_TRAILING_CASE(op, name)                                      \
  case op:                                                               \
    if constexpr (kTokens.rows[op].trailing) name(&token, copy, count, trailing); \
    break;
        ORV_TOKEN_HANDLERS(ORV_TRAILING_CASE)
#undef ORV_TRAILING_CASE
      default:
        break;
    }
  }
  }
  SealBatch(token);
  if (!CloseStream(token)) return;
  request->SetResult(kRequestOk);
}
