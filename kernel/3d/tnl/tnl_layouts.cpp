// Input layouts and vertex-shader entries of a transform-and-lighting
// set-up, and the fetch layout built from the current entry: the sorted
// fetch descriptors and the primitive fields of the fetch control record.
#include <string.h>

#include "core/same_bytes.h"
#include "kernel/3d/engine/vertex_engine_block.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_internal.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_format.h"
#include "kernel/3d/tnl/vertex_program_builder.h"

using namespace tnl_detail;

namespace {

// By element type 0-18: the fetch's format code and component count.
constexpr uint8_t kTypeFormat[kFetchTypes] = {0, 0, 0, 0, 0, 1, 5, 2, 6, 3, 7, 10, 11, 10, 11, 8, 9, 8, 9};
constexpr uint8_t kTypeComponents[kFetchTypes] = {0, 1, 2, 3, 4, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 1, 1, 2, 2};
// Hardware primitive code and the fetch kind field by primitive kind.
constexpr uint8_t kPrimitiveCode[kMaxPrimitiveKind + 1] = {13, 12, 5, 5, 5, 4, 4, 4, 4, 4, 4, 5, 4};
constexpr uint8_t kFetchKind[kMaxPrimitiveKind + 1] = {3, 3, 2, 2, 2, 1, 1, 1, 1, 0, 0, 2, 1};

constexpr uint32_t kSortKey = 0x7FF;  // stream and offset

bool Present(const VertexElement& e) { return e.Described() && e.Type() != kVtxTypeNone; }

}  // namespace

uint32_t FetchDescriptor(uint32_t offset, uint32_t stream, uint32_t type, uint32_t flags, uint32_t reg) {
  if (type >= kFetchTypes) return 0;
  const uint32_t nibble = flags & 0xF;
  return (offset & 0xFF) | (stream & 7) << 8 | (nibble != 0 ? uint32_t{kTypeFormat[type]} : 0) << 11 |
         (reg & 0xF) << 15 | nibble << 19 | (type >> 4 & 0xF) << 23 | uint32_t{kTypeComponents[type]} << 27 |
         1u << 30;
}

// ---- Entries -------------------------------------------------------------------------------

VertexShaderEntry::VertexShaderEntry() = default;

VertexShaderEntry::~VertexShaderEntry() {
  delete program;
  program = nullptr;
  delete format;
  format = nullptr;
  handle = 0;
  static constexpr uint32_t kInitial[6] = {0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  memcpy(key, kInitial, sizeof key);
}

void VertexShaderEntry::InsertDescriptor(uint32_t descriptor) {
  if (descriptorCount >= sizeof descriptors / sizeof descriptors[0]) return;
  uint32_t at = descriptorCount;
  while (at > 0 && (descriptors[at - 1] & kSortKey) > (descriptor & kSortKey)) {
    descriptors[at] = descriptors[at - 1];
    --at;
  }
  descriptors[at] = descriptor;
  ++descriptorCount;
}

bool VertexShaderEntry::BuildDescriptors() {
  descriptorCount = 0;
  if (format == nullptr) return true;
  for (uint32_t i = 0; i < kVtxElementCount; ++i) {
    const VertexElement& e = format->elements[i];
    if (!Present(e)) continue;
    if (e.Type() >= kFetchTypes) {
      descriptorCount = 0;
      return false;
    }
    InsertDescriptor(FetchDescriptor(e.Offset(), e.Stream(), e.Type(), e.Writes(), i < 16 ? i : 7 + (i - 16)));
  }
  return true;
}

// ---- The list ------------------------------------------------------------------------------

void TnlSetup::LinkEntry(VertexShaderEntry* entry) {
  entry->next = &sentinel_;
  entry->previous = sentinel_.previous;
  sentinel_.previous->next = entry;
  sentinel_.previous = entry;
  ++entryCount;
}

void TnlSetup::UnlinkEntry(VertexShaderEntry* entry) {
  entry->previous->next = entry->next;
  entry->next->previous = entry->previous;
  entry->next = entry->previous = nullptr;
  if (entryCount > 0) --entryCount;
}

void TnlSetup::DestroyEntry(VertexShaderEntry* entry) {
  if (entry == currentLayout) currentLayout = nullptr;
  if (entry->program != nullptr && builder != nullptr) builder->DetachProgram(entry->program, nullptr);
  UnlinkEntry(entry);
  delete entry;
}

VertexShaderEntry* TnlSetup::FindVertexShader(uint32_t handle) const {
  for (VertexShaderEntry* e = sentinel_.next; e != &sentinel_; e = e->next)
    if (e->handle == handle && e->layoutFlag == 0) return e;
  return nullptr;
}

VertexShaderEntry* TnlSetup::FindInputLayout(const uint32_t k[6]) const {
  for (VertexShaderEntry* e = sentinel_.next; e != &sentinel_; e = e->next)
    if (e->layoutFlag != 0 && SameBytes(e->key, k, sizeof e->key)) return e;
  return nullptr;
}

void TnlSetup::EvictOldLayout() {
  for (VertexShaderEntry* e = sentinel_.next; e != &sentinel_; e = e->next) {
    if (e == currentLayout || e->layoutFlag == 0) continue;
    DestroyEntry(e);
    return;
  }
}

VertexShaderEntry* TnlSetup::AddEntry(const uint32_t k[6]) {
  // A client can name any number of layouts: the list stays bounded.
  if (entryCount >= kMaxInputLayouts) EvictOldLayout();
  VertexShaderEntry* entry = new VertexShaderEntry;
  if (entry == nullptr) return nullptr;
  memcpy(entry->key, k, sizeof entry->key);
  entry->layoutFlag = 1;
  LinkEntry(entry);
  return entry;
}

uint32_t TnlSetup::RemoveEntry(const uint32_t k[6]) {
  VertexShaderEntry* entry = FindInputLayout(k);
  if (entry == nullptr) return 1;
  DestroyEntry(entry);
  return 0;
}

void TnlSetup::DeleteVertexShader(uint32_t handle) {
  const uint32_t k[6] = {handle, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  RemoveEntry(k);
}

uint32_t TnlSetup::LoadVertexDeclaration(const uint32_t* words, size_t count) {
  if (words == nullptr || count == 0) return 0;
  const uint32_t handle = words[0];
  if ((handle & 1) == 0) return 0;
  VertexShaderEntry* entry = FindVertexShader(handle);
  if (entry == nullptr || entry->format == nullptr) return 0;
  if (entry->format->FromDeclaration(words + 1, count - 1) != 0) {
    entry->descriptorCount = 0;
    return 0;
  }
  entry->BuildDescriptors();
  return 0;
}

uint32_t TnlSetup::CreateVertexShader(const uint32_t* words, size_t count) {
  if (words == nullptr || count == 0) return 1;
  const uint32_t handle = words[0];
  const uint32_t k[6] = {handle, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  // The handle names one entry: the one made last would never be found
  // behind an older one of the same key.
  RemoveEntry(k);
  VertexShaderEntry* entry = AddEntry(k);
  if (entry == nullptr) return 1;
  entry->handle = handle;
  entry->format = new VertexFormat;
  bool made = entry->format != nullptr && entry->format->FromDeclaration(words + 1, count - 1) == 0 &&
              entry->BuildDescriptors();
  if (made && entry->format->fixedFunction == 0) {
    // The declaration carries a function: the builder compiles it into a
    // program record of its own, under the set-up's shader options.
    entry->program = new VertexProgram;
    made = entry->program != nullptr &&
           VertexProgram::BuildFromShader(entry->program, words + 1, vertexShaderOptions,
                                          static_cast<uint32_t>(count - 1), entry->format) == 0;
  }
  // A failed step leaves nothing: this entry goes, not an older one.
  if (!made) {
    DestroyEntry(entry);
    return 1;
  }
  return 0;
}

uint32_t TnlSetup::SelectInputLayout(const uint32_t k[6]) {
  VertexShaderEntry* entry = FindInputLayout(k);
  if (entry == nullptr) {
    entry = AddEntry(k);
    if (entry == nullptr) return 1;
    entry->format = new VertexFormat;
    if (entry->format == nullptr) {
      DestroyEntry(entry);
      return 1;
    }
    // A layout the format refuses, or with an element type the fetch has
    // no entry for, is not used: the previous layout stays.
    if (entry->format->FromLayout(k) != 0 || !entry->BuildDescriptors()) {
      DestroyEntry(entry);
      return 1;
    }
  }
  inputRoute = 255;
  layoutInUse = 1;
  fixedFunction = 1;
  if (currentLayout == nullptr) {
    updateFlags |= kTnlUpdLayoutFormat | kTnlUpdLayoutProgram;
  } else {
    if (currentLayout->format != entry->format) updateFlags |= kTnlUpdLayoutFormat;
    if (currentLayout->program != entry->program) updateFlags |= kTnlUpdLayoutProgram;
  }
  currentLayout = entry;
  return 1;
}

void TnlSetup::ReleaseShaderPrograms() {
  while (sentinel_.next != &sentinel_) DestroyEntry(sentinel_.next);
}

// ---- The fetch layout ----------------------------------------------------------------------

void TnlSetup::BuildFetchLayout(const VertexProcessingBlock& b, VertexFetchControl* fetch, VertexEngineBlock* hw) {
  (void)hw;
  const uint8_t* kd = key.keyDirty;
  const uint32_t t = pass_.transform;
  const uint32_t cls = key.Class();
  const uint32_t kind = key.primitiveKind <= kMaxPrimitiveKind ? key.primitiveKind : 0;
  const bool polygon = cls == 3 || cls == 5;
  // The primitive fields: the hardware primitive code, and the edge flags
  // of kinds 8 and 12 drawn as lines or the fetch kind of the others.
  if ((kd[0] & (kKd0Class | kKd0PointProgram)) != 0 || (t & (kVxPrimitiveMode | kVxFillMode | kVxDriver27)) != 0) {
    uint32_t code;
    if ((key.flags4 & 0x08) != 0) code = 12;
    else if (polygon && key.fillMode == 1) code = 13;
    else if (polygon && key.fillMode == 2) code = 5;
    else if (cls == 2 && BitsFloat(b.lineWidth) >= 2.0f) code = 4;
    else code = kPrimitiveCode[kind];
    fetch->primitiveBits = static_cast<uint8_t>((fetch->primitiveBits & ~0x3E) | code << 1 |
                                                ((b.controlByte & 0x02) != 0 ? 0x20 : 0));
    if ((kind == 8 || kind == 12) && key.fillMode == 2) {
      fetch->edgeFlags[0] = static_cast<uint8_t>(0x40 | (b.vertexFlags & 1));
      fetch->edgeFlags[1] = static_cast<uint8_t>(b.vertexFlags >> 1 & 1);
      fetch->lineFlags |= 0x02;
    } else {
      fetch->kind = kFetchKind[kind];
      fetch->lineFlags &= static_cast<uint8_t>(~0x02);
    }
  }
  // The fetched elements, chosen again when the layout or a state that
  // selects them changed, each a descriptor in offset order.
  VertexShaderEntry* entry = currentLayout;
  if (entry == nullptr || entry->format == nullptr) return;
  const bool selects = (t & (kVxViewport | kVxLighting)) != 0 ||
                       (kd[0] & (kKd0IndexedBlend | kKd0Class | kKd0PointProgram | kKd0BlendCount)) != 0 ||
                       (kd[1] & (kKd1LitPositional | kKd1SecondNormal | kKd1BlendIndices)) != 0 ||
                       (kd[2] & kKd2ColourSources) != 0 || (pass_.fog & kVfgFog) != 0 ||
                       (updateFlags & kTnlUpdLayoutFormat) != 0;
  if (!selects && fetch->descriptors == entry->descriptors) return;
  const VertexFormat& format = *entry->format;
  const bool lighting = (b.flags & kVfLighting) != 0;
  const bool indexed = (key.flags4 & 0x02) != 0;
  const uint32_t blend = key.blendCount;
  bool source1 = false, source2 = false;
  for (uint32_t s : key.colourSources) {
    source1 |= s == 1;
    source2 |= s == 2;
  }
  const bool plain = format.present.preTransformed != 0 || !lighting;
  auto fetched = [&](uint32_t slot) -> bool {
    switch (slot) {
      case 0: case 7: return true;
      case 1: return blend == 5 && (key.flags5 & 0x04) != 0;
      case 2: return blend >= 2 || (blend == 1 && indexed);
      case 3: return indexed;
      case 4: return (key.flags4 & 0x80) != 0;
      case 5: return blend == 5 && (key.flags5 & 0x02) != 0;
      case 8: return plain || source1;
      case 9: return plain || source2 || (b.fog.vertexFog != 0 && b.fog.mode == 0);
      default: return slot >= 16;
    }
  };
  entry->descriptorCount = 0;
  for (uint32_t slot = 0; slot < 16; ++slot) {
    const VertexElement& e = format.elements[slot];
    if (!Present(e) || e.Type() >= kFetchTypes || !fetched(slot)) continue;
    entry->InsertDescriptor(FetchDescriptor(e.Offset(), e.Stream(), e.Type(), e.Writes(), slot));
  }
  const uint32_t sets = passSets_;
  for (uint32_t k = 0; k < sets; ++k) {
    const uint32_t slot = 16 + (key.coords[k].source & 7);
    const VertexElement& e = format.elements[slot];
    if (!Present(e) || e.Type() >= kFetchTypes) continue;
    const uint32_t control = b.texCoords.sets[k].control & 0xFFFF;
    const bool allNibbles = (control & 0xF) != 0 && (control & 0xF0) != 0 && (control & 0xF00) != 0 &&
                            (control & 0xF000) != 0;
    if (blend != 0 && allNibbles) continue;
    entry->InsertDescriptor(FetchDescriptor(e.Offset(), e.Stream(), e.Type(), e.Writes(), 7 + k));
  }
  fetch->descriptors = entry->descriptors;
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
