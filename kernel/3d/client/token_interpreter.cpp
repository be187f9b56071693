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

using TokenHandler = void (*)(TokenContext3d*, const uint8_t*, uint32_t, uint32_t);

struct TokenRow {
  uint32_t entrySize;
  bool trailing;  // bytes follow the entries
  TokenHandler handler;
};

// Entry sizes and handlers by opcode; 0 for an opcode nothing handles.
struct TokenTable {
  TokenRow rows[kTokenOpcodes] = {};
  constexpr TokenTable() {
#define ORV_TOKEN_ROW(opcode, name) rows[opcode].handler = name;
    ORV_TOKEN_HANDLERS(ORV_TOKEN_ROW)
#undef ORV_TOKEN_ROW
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
  if (context->Scratch(kTokenHeaderBytes) == nullptr) return;
  // The scratch copy in locals: the payload copies cannot change them.
  uint8_t* scratch = context->scratch;
  size_t scratchSize = context->scratchSize;
  const auto* base = static_cast<const uint8_t*>(buffer.linear);
  const uint64_t end = offset + length;
  uint64_t at = offset;
  while (at < end) {
    if (end - at < kTokenHeaderBytes) return;
    uint32_t header[2];
    memcpy(header, base + at, sizeof(header));
    at += sizeof(header);
    const uint32_t opcode = header[0];
    const uint32_t count = header[1];
    if (opcode >= kTokenOpcodes) return;
    const TokenRow& row = kTokens.rows[opcode];
    if (row.entrySize == 0) return;
    uint8_t* payload = nullptr;
    uint32_t trailing = 0;
    if (!row.trailing) {
      // Fixed-size entries: one bounded copy.
      const uint64_t bytes = uint64_t{count} * row.entrySize;
      if (bytes > end - at) return;
      if (bytes > scratchSize) {
        if (context->Scratch(static_cast<size_t>(bytes)) == nullptr) return;
        scratch = context->scratch;
        scratchSize = context->scratchSize;
      }
      payload = scratch;
      if (bytes <= 64) {
        // Small payloads (most state tokens) by words: no call.
        for (uint64_t i = 0; i < bytes; i += 4) memcpy(payload + i, base + at + i, 4);
      } else {
        memcpy(payload, base + at, static_cast<size_t>(bytes));
      }
      at += bytes;
    } else {
      StreamReader reader(base, at, end);
      if (!ReadPayload(context, reader, opcode, count, row.entrySize, &payload, &trailing)) return;
      at = reader.At();
      scratch = context->scratch;
      scratchSize = context->scratchSize;
    }
    uint32_t entries = count;
    switch (opcode) {
      case kTokenSkip:
        continue;
      case kTokenSetVertexConstRange:
        SetVertexConstRange(token, payload, count);
        continue;
      case kTokenSelectRenderContext:
        SelectRenderContext(token, payload, count);
        continue;
      case kTokenUpdateSurfaceBoxes:
      case kTokenClearBatch:
        SealBatch(token);
        break;
      case kTokenSetTextureStages:
        entries = KeepTextureStages(payload, count);
        break;
      case kTokenSetTransforms:
        TransposeTransforms(payload, count);
        break;
      default:
        break;
    }
    if (row.handler != nullptr) row.handler(&token, payload, entries, trailing);
  }
  SealBatch(token);
  if (!CloseStream(token)) return;
  request->SetResult(kRequestOk);
}
