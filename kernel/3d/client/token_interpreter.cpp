// The command-token interpreter.
#include "kernel/3d/client/token_interpreter.h"

#include <string.h>

#include "core/common_data.h"
#include "core/os.h"
#include "core/pdev.h"
#include "core/shared_word.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_validation.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_program.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/dma_streams.h"
#include "kernel/kernel_wait.h"
#include "kernel/sync_tags.h"

namespace {

// Every opcode, for code generated per opcode.
#define ORV_TOKEN_DECADE(X, tens) \
  X(tens##0) X(tens##1) X(tens##2) X(tens##3) X(tens##4) X(tens##5) X(tens##6) X(tens##7) X(tens##8) X(tens##9)
#define ORV_EACH_TOKEN_OPCODE(X)                                                                      \
  ORV_TOKEN_DECADE(X, ) ORV_TOKEN_DECADE(X, 1) ORV_TOKEN_DECADE(X, 2) ORV_TOKEN_DECADE(X, 3)         \
  ORV_TOKEN_DECADE(X, 4) ORV_TOKEN_DECADE(X, 5) ORV_TOKEN_DECADE(X, 6) ORV_TOKEN_DECADE(X, 7) X(80) X(81)
static_assert(kTokenOpcodes == 82);

// The handler of an opcode, called directly, when it has one.
using TokenHandler = void (*)(TokenContext3d*, const uint8_t*, uint32_t, uint32_t);
template <uint32_t opcode>
struct TokenHandlerOf {
  static constexpr bool kHas = false;
  static constexpr TokenHandler kHandler = nullptr;
};
// (The walk calls those of fixed-size tokens through these; the handlers
// of tokens with trailing bytes are called by name.)
#define ORV_TOKEN_HANDLER_OF(opcode, name)                        \
  template <>                                                     \
  struct TokenHandlerOf<opcode> {                                 \
    [[maybe_unused]] static constexpr bool kHas = true;           \
    [[maybe_unused]] static constexpr TokenHandler kHandler = &tokens::name; \
  };
ORV_TOKEN_HANDLERS(ORV_TOKEN_HANDLER_OF)
#undef ORV_TOKEN_HANDLER_OF

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
  uint64_t Left() const { return end_ - at_; }
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

// The scratch copy's least size: the largest fixed entry fits.
constexpr size_t kScratchLeast = 4096;
static_assert(kTokenEntrySizes[70] <= kScratchLeast);

uint32_t WordAt(const uint8_t* bytes, size_t offset) {
  uint32_t value;
  memcpy(&value, bytes + offset, sizeof(value));
  return value;
}

void SetWordAt(uint8_t* bytes, size_t offset, uint32_t value) { memcpy(bytes + offset, &value, sizeof(value)); }

constexpr uint64_t kDrawIndexedEntryBytes = 32;
static_assert(kTokenEntrySizes[kTokenDrawIndexed] == kDrawIndexedEntryBytes);

// The scratch copy grown to at least `bytes`, its first `keep` bytes kept;
// null when memory is short.
uint8_t* ScratchKeeping(Context3d* context, uint64_t bytes, uint64_t keep) {
  if (bytes <= context->scratchSize && context->scratch != nullptr) return context->scratch;
  uint64_t size = context->scratchSize != 0 ? context->scratchSize : kScratchLeast;
  while (size < bytes) size *= 2;
  auto* grown = static_cast<uint8_t*>(memAlloc(static_cast<size_t>(size)));
  if (grown == nullptr) return nullptr;
  if (keep != 0) memcpy(grown, context->scratch, static_cast<size_t>(keep));
  memFree(context->scratch);
  context->scratch = grown;
  context->scratchSize = static_cast<size_t>(size);
  return grown;
}

// Reads a token's entries and trailing bytes into the context's scratch
// copy: the payload, its size and the trailing bytes; false when they do
// not lie inside the stream or memory is short.
bool ReadPayload(Context3d* context, StreamReader& reader, uint32_t opcode, uint32_t count,
                 uint32_t entrySize, uint8_t** payload, uint32_t* trailingOut) {
  const uint64_t remaining = 0xFFFFFFFFull;
  const uint64_t entries = uint64_t{count} * entrySize;
  // Entries that cannot lie inside the stream are refused before any copy
  // of them is allocated.
  if (entries > remaining || entries > reader.Left()) return false;
  uint64_t trailing = 0;
  if (opcode == kTokenDrawIndexed) {
    // Each entry is followed by its n words: entries and words are read
    // once, straight into the scratch copy, and n is taken from that copy.
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t* out = ScratchKeeping(context, total + kDrawIndexedEntryBytes, total);
      if (out == nullptr || !reader.Read(out + total, kDrawIndexedEntryBytes)) return false;
      total += kDrawIndexedEntryBytes;
      const uint64_t words = uint64_t{WordAt(out, total - kDrawIndexedEntryBytes + 4)} * 4;
      if (words > reader.Left() || total + words > remaining) return false;
      out = ScratchKeeping(context, total + words, total);
      if (out == nullptr || !reader.Read(out + total, words)) return false;
      total += words;
      trailing += words;
    }
    *payload = context->scratch;
    *trailingOut = static_cast<uint32_t>(trailing);
    return true;
  }
  // Sizes come from the client: nothing is allocated for bytes the stream
  // does not hold.
  if (entries > reader.Left()) return false;
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
    if (entries + trailing > remaining || trailing > reader.Left()) return false;
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

// The walk over a stream's tokens: a loop that reads each header once,
// dispatches on its opcode through one switch (opcodes nothing handles, and
// any above the last, end the walk) and steps past the token.
class TokenWalk {
 public:
  TokenWalk(TokenContext3d& token, const uint8_t* base, uint64_t offset, uint64_t length)
      : token_(token),
        context_(token.context),
        base_(base),
        cursor_(base + offset),
        end_(base + offset + length),
        offset_(offset),
        length_(length),
        scratch_(token.context->scratch),
        scratchSize_(token.context->scratchSize) {}

  // True when the stream ran to its end; false when it was refused (a
  // token nothing handles, a count or size that runs past the stream, a
  // header cut by its end, memory short for a copy).
  bool Run() {
    while (static_cast<size_t>(end_ - cursor_) >= kTokenHeaderBytes) {
      uint64_t header;
      memcpy(&header, cursor_, sizeof(header));
      const uint8_t* const payload = cursor_ + kTokenHeaderBytes;
      switch (static_cast<uint32_t>(header)) {
#define ORV_TOKEN_CASE(op)                                   \
  case op:                                                   \
    if constexpr (kTokenEntrySizes[op] == 0) {               \
      return false;                                          \
    } else if constexpr (kTokens.rows[op].trailing) {        \
      if (!Trailing(op, header, payload)) return false;      \
    } else {                                                 \
      if (!Fixed<op>(header, payload)) return false;         \
    }                                                        \
    break;
        ORV_EACH_TOKEN_OPCODE(ORV_TOKEN_CASE)
#undef ORV_TOKEN_CASE
        default:
          return false;
      }
    }
    // A header cut by the end of the stream is refused.
    return cursor_ == end_;
  }

 private:
  // A token of fixed-size entries: copied, then its handler. A token of
  // one entry (most state tokens) needs no size arithmetic.
  template <uint32_t op>
  bool Fixed(uint64_t header, const uint8_t* payload) {
    constexpr uint32_t kSize = kTokenEntrySizes[op];
    uint32_t count = 1;
    if (header == (uint64_t{1} << 32 | op) && kSize <= static_cast<size_t>(end_ - payload)) [[likely]] {
      memcpy(scratch_, payload, kSize);
      cursor_ = payload + kSize;
    } else {
      count = static_cast<uint32_t>(header >> 32);
      const uint64_t bytes = uint64_t{count} * kSize;
      if (bytes > static_cast<uint64_t>(end_ - payload)) return false;
      if (bytes > scratchSize_) {
        if (context_->Scratch(static_cast<size_t>(bytes)) == nullptr) return false;
        scratch_ = context_->scratch;
        scratchSize_ = context_->scratchSize;
      }
      memcpy(scratch_, payload, static_cast<size_t>(bytes));
      cursor_ = payload + bytes;
    }
    uint32_t entries = count;
    if constexpr (op == kTokenUpdateSurfaceBoxes || op == kTokenClearBatch) SealBatch(token_);
    if constexpr (op == kTokenSetTextureStages) entries = KeepTextureStages(scratch_, count);
    if constexpr (op == kTokenSetTransforms) TransposeTransforms(scratch_, count);
    if constexpr (op == kTokenSelectRenderContext) SelectRenderContext(token_, scratch_, count);
    if constexpr (TokenHandlerOf<op>::kHas) TokenHandlerOf<op>::kHandler(&token_, scratch_, entries, 0);
    return true;
  }

  // Entries with trailing bytes, read through a bounded reader.
  bool Trailing(uint32_t opcode, uint64_t header, const uint8_t* payload) {
    const auto count = static_cast<uint32_t>(header >> 32);
    StreamReader reader(base_, static_cast<uint64_t>(payload - base_), offset_ + length_);
    uint8_t* copy = nullptr;
    uint32_t trailing = 0;
    if (!ReadPayload(context_, reader, opcode, count, kTokenEntrySizes[opcode], &copy, &trailing)) return false;
    scratch_ = context_->scratch;
    scratchSize_ = context_->scratchSize;
    cursor_ = base_ + reader.At();
    switch (opcode) {
      case kTokenSetVertexConstRange:
        SetVertexConstRange(token_, copy, count);
        break;
#define ORV_TRAILING_CASE(op, name)                                              \
  case op:                                                                       \
    if constexpr (kTokens.rows[op].trailing) tokens::name(&token_, copy, count, trailing); \
    break;
        ORV_TOKEN_HANDLERS(ORV_TRAILING_CASE)
#undef ORV_TRAILING_CASE
      default:
        break;
    }
    return true;
  }

  TokenContext3d& token_;
  Context3d* context_;
  const uint8_t* base_;
  const uint8_t* cursor_;
  const uint8_t* const end_;
  const uint64_t offset_;
  const uint64_t length_;
  uint8_t* scratch_;
  size_t scratchSize_;
};

}  // namespace

bool EmitTargetTagPacket(CommonData* common, uint32_t mask, uint32_t tag) {
  SharedLockedData_t* shared = common != nullptr ? common->sharedLocked : nullptr;
  BmSecondaryInt* secondary = common != nullptr ? common->secondaryStream : nullptr;
  if (shared == nullptr || secondary == nullptr) return false;
  secondary->startFlags = kSecondarySubmitMode;
  // The mask's operation: 0x1307 with the targets' bits.
  StreamSink sink{secondary};
  if (!PutOperationTag(sink, mask | 7, tag, ReadTagValue(shared))) return false;
  // The packet's mask word goes to register 0xC0, where the engine state
  // keeps its control word.
  ControlWordOverwritten(common);
  return secondary->ExecutePending();
}

uint32_t SealBatch(TokenContext3d& token) {
  CommonData* common = token.common;
  SharedLockedData_t* shared = common->sharedLocked;
  const uint32_t tag = TakeNextTag(shared);
  const uint32_t mask = RenderContext3dSealTargets(token.current, tag) & (kTargetColour | kTargetDepth);
  if (mask != 0) (void)EmitTargetTagPacket(common, mask, tag);
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
  BmWriteProgress(at, counter,
                  static_cast<uint32_t>(context->statusPageBus + kStatusProgressAt + 4 * static_cast<uint32_t>(index)));
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
  if (context->Scratch(kScratchLeast) == nullptr) return;
  // Each token's header is read once into a register and its entries are
  // copied once into the scratch copy, which the handlers get; nothing is
  // read from the stream twice.
  TokenWalk walk(token, static_cast<const uint8_t*>(buffer.linear), offset, length);
  if (!walk.Run()) return;
  SealBatch(token);
  if (!CloseStream(token)) return;
  request->SetResult(kRequestOk);
}
