// The vertex-shader tokens of the command stream: a declaration loaded into
// a shader entry (64), shader entries deleted (65), and a shader selected
// (66), and the constant image client constants go to.
#include <string.h>

#include "core/heap_object.h"
#include "kernel/3d/client/token_interpreter.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_format.h"

namespace {

TnlSetup* SetupOf(TokenContext3d* token) {
  return token != nullptr && token->current != nullptr ? token->current->tnl : nullptr;
}

uint32_t WordAt(const uint8_t* payload, uint64_t index) {
  uint32_t word;
  memcpy(&word, payload + 4 * index, sizeof word);
  return word;
}

}  // namespace

VecConstShadow* RenderContext3dVecConstShadow(RenderContext3d* context) {
  return context != nullptr && context->tnl != nullptr ? &context->tnl->shaderImage : nullptr;
}

void tokens::LoadVertexDeclaration(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t trailing) {
  TnlSetup* setup = SetupOf(token);
  if (setup == nullptr || count == 0) return;
  // The whole payload: twelve bytes an entry and the trailing bytes, as
  // words (the first the shader handle).
  const uint64_t bytes = uint64_t{count} * TokenEntrySize(64) + trailing;
  const uint64_t words = bytes / 4;
  if (words == 0 || words > 0x100000) return;
  uint32_t* copy = static_cast<uint32_t*>(memAlloc(words * 4));
  if (copy == nullptr) return;
  for (uint64_t i = 0; i < words; ++i) copy[i] = WordAt(payload, i);
  setup->LoadVertexDeclaration(copy, words);
  memFree(copy);
}

void tokens::DeleteVertexShader(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  TnlSetup* setup = SetupOf(token);
  if (setup == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) setup->DeleteVertexShader(WordAt(payload, i));
}

void tokens::SetVertexShader(TokenContext3d* token, const uint8_t* payload, uint32_t count, uint32_t) {
  if (token == nullptr || token->current == nullptr || count == 0) return;
  RenderContext3d* context = token->current;
  const uint32_t handle = WordAt(payload, 0);
  RenderState3d& state = context->state;
  if (state.vertex.vertexShader != handle) {
    state.vertex.vertexShader = handle;
    state.vertex.transformDirty |= kVxViewport;  // the layout
    state.vertexSub.bytes[4] |= kVsubLayoutElements | kVsubLayoutChanged;
    SelectVertexLayout3d(context, handle);
  }
  LoadVertexShaderConstants3d(context, handle);
}

namespace {

// The engine format code of each element type, and its component count.
constexpr uint8_t kElementFormatCode[kVtxTypeCount] = {0, 0, 0, 0, 0, 1, 5, 2, 6, 3, 7, 10, 11, 10, 11, 8, 9, 8, 9};
constexpr uint8_t kElementComponents[kVtxTypeCount] = {0, 1, 2, 3, 4, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 1, 1, 2, 2};
constexpr uint32_t kFirstTexCoordUsage = 7;
constexpr uint32_t kLastTexCoordUsage = 10;

// The 4-byte element the processor's vertex fetch reads an attribute of
// the format through: offset in words; stream, format code and usage;
// the component mask (floats) and the components that default to 1.0.
bool ClientElementOf(const VertexElement& e, uint32_t index, uint8_t out[4]) {
  const uint32_t type = e.Type();
  if (!e.Described() || type == kVtxTypeNone || type >= kVtxTypeCount) return false;
  uint32_t usage = e.Usage();
  if (index >= kVtxElemTexCoord0) {
    usage = kFirstTexCoordUsage + (index - kVtxElemTexCoord0);
    if (usage > kLastTexCoordUsage) return false;
  }
  const uint32_t code = kElementFormatCode[type];
  const uint32_t mask = code == 0 ? (1u << kElementComponents[type]) - 1 : (kElementComponents[type] == 4 ? 2u : 0u);
  const uint32_t defaults = e.Defaults();
  out[0] = static_cast<uint8_t>(e.Offset());
  out[1] = static_cast<uint8_t>((e.Stream() & 7) | code << 3 | (usage & 1) << 7);
  out[2] = static_cast<uint8_t>((usage >> 1 & 7) | mask << 3 | (defaults & 1) << 7);
  out[3] = static_cast<uint8_t>(defaults >> 1 & 7);
  return true;
}

}  // namespace

void SelectVertexLayout3d(RenderContext3d* context, uint32_t handle) {
  if (context == nullptr) return;
  RenderState3d& state = context->state;
  // A pre-transformed layout (a flexible-format code, even, whose position
  // is x, y, z and 1/w in pixels) has no vertex program: the processor
  // reads its vertices through the layout's elements and writes them into
  // the attribute places. Every other layout and every shader runs a
  // vertex program on vertices the engine fetches.
  const bool code = (handle & 1) == 0;
  const bool preTransformed = code && (handle & kFvfPositionMask) == kFvfPreTransformed;
  state.vertexSub.vertexProgram = preTransformed ? 0 : 1;
  // A flexible-format code also says where each attribute lies in
  // stream 0: its elements; a shader keeps the elements it has.
  if (!code) return;
  uint8_t list[4 + 4 * kMaxVertexElements] = {};
  VertexFormat format;
  uint32_t count = 0;
  if (format.FromFvf(handle) == 0)  // accepted
    for (uint32_t i = 0; i < kVtxElementCount && count < kMaxVertexElements; ++i)
      if (ClientElementOf(format.elements[i], i, list + 4 + 4 * count)) ++count;
  list[0] = static_cast<uint8_t>(count);
  context->streamSetup.StoreElementList(list, sizeof list);
  state.vertexSub.bytes[4] |= kVsubLayoutElements | kVsubLayoutChanged;
}

void LoadVertexShaderConstants3d(RenderContext3d* context, uint32_t handle) {
  TnlSetup* setup = context != nullptr ? context->tnl : nullptr;
  VecConstShadow* shadow = RenderContext3dVecConstShadow(context);
  const VertexShaderEntry* entry = setup != nullptr ? setup->FindVertexShader(handle) : nullptr;
  if (entry == nullptr || entry->format == nullptr || shadow == nullptr) return;
  // The shader's own constants, each into the client constants it names.
  for (const VertexDeclConstant& c : entry->format->constants) {
    if (c.reg >= kVecConstPostable) continue;
    memcpy(shadow->image[c.reg].w, c.value, sizeof c.value);
    shadow->MarkDirty(c.reg, 0);
  }
}
