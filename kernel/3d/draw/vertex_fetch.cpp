// Vertex attribute fetch and conversion: one vertex at a time from client
// memory into attribute register writes of the render context's stream.
#include "kernel/3d/draw/vertex_fetch.h"

#include <string.h>

#include <optional>

#include "core/float_bits.h"
#include "core/utils.h"
#include "kernel/3d/draw/vertex_stream_setup.h"
#include "kernel/3d/engine/packets.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/dma_streams.h"

namespace {

constexpr uint8_t kSlotOrder[kAttributeSlots] = {0, 3, 1, 4, 2, 5, 7, 6, 8};
constexpr uint32_t kTextureSets = 4;

inline float F(uint32_t bits) {
  float f;
  memcpy(&f, &bits, sizeof f);
  return f;
}
inline uint32_t B(float f) {
  uint32_t bits;
  memcpy(&bits, &f, sizeof bits);
  return bits;
}

// b / 255 of every byte, so the colour conversions look up what a
// division gives.
struct UnitBytes {
  float value[256];
  constexpr UnitBytes() : value() {
    for (int i = 0; i < 256; ++i) value[i] = static_cast<float>(i) / 255.0f;
  }
};
constexpr UnitBytes kUnitByte;

inline uint32_t DefaultOf(uint32_t defaults, uint32_t i) { return (defaults >> i & 1) != 0 ? kFloat1 : 0; }

// A piece of a vertex: its header (PieceHeader), then the slot's four
// values from the last to the first.
inline void PutPiece(PacketWords& p, uint32_t header, const uint32_t v[4]) {
  p.Word(header).Word(v[3]).Word(v[2]).Word(v[1]).Word(v[0]);
}

}  // namespace

ElementFields DecodeElement(const uint8_t element[4]) {
  const uint8_t b1 = element[1], b2 = element[2], b3 = element[3];
  ElementFields e;
  e.offset = element[0];
  e.stream = b1 & 7u;
  e.format = (b1 >> 3) & 0xFu;
  e.usage = static_cast<uint32_t>((b2 & 7u) << 1) | (b1 >> 7);
  e.mask = (b2 >> 3) & 0xFu;
  e.defaults = static_cast<uint32_t>(b2 >> 7) | static_cast<uint32_t>((b3 & 7u) << 1);
  e.four = (b2 & 0x10) != 0;
  return e;
}

VertexFetch::VertexFetch() {
  for (uint32_t s = 0; s < kAttributeSlots; ++s) {
    slots[s] = AttributeSlot{};
    slots[s].reg = kSlotRegisterBase + 4 * s;
    slots[s].fetch = 1;
  }
}

// ---- Links -------------------------------------------------------------------------------------

RenderContext3d* VertexFetch::Context() const { return setup != nullptr ? setup->context : nullptr; }

BmBufferPool* VertexFetch::Stream() const {
  RenderContext3d* c = Context();
  return c != nullptr ? c->secondaryStream : nullptr;
}

uint32_t VertexFetch::State(uint32_t id) const {
  RenderContext3d* c = Context();
  return c != nullptr && id < kRenderStateIds ? c->state.values[id] : 0;
}

float VertexFetch::StateFloat(uint32_t id) const { return F(State(id)); }

uint32_t* VertexFetch::Room(uint32_t words) {
  BmBufferPool* stream = Stream();
  return stream != nullptr ? stream->Reserve(words) : nullptr;
}

void VertexFetch::Execute() {
  RenderContext3d* c = Context();
  if (c != nullptr && c->secondaryStream != nullptr) c->secondaryStream->ExecutePending();
}

// ---- Elements and layout -----------------------------------------------------------------------

void VertexFetch::SetElements(const uint8_t* list, uint32_t count) {
  for (uint32_t s = 0; s < kAttributeSlots; ++s) {
    const uint32_t reg = slots[s].reg;
    slots[s] = AttributeSlot{};
    slots[s].reg = reg;
    slots[s].fetch = 1;
  }
  orderCount = 0;
  useMask = 0;
  sizeElementGiven = 0;
  if (list == nullptr) count = 0;
  if (count > kMaxVertexElements) count = kMaxVertexElements;
  elementCount = count;
  if (count != 0) memcpy(elements, list, 4u * count);
}

uint32_t VertexFetch::EmitLayout(BmBufferPool* stream, bool points) {
  pointSizeFlag = points ? 1 : 0;
  sizeElementGiven = 0;
  const uint8_t fogMode = Context() != nullptr ? Context()->state.GetFogMode() : 0;
  const bool fogFromSpecular =
      fogMode != 0 || (State(kRsFogEnable) != 0 && State(kRsFogTableMode) == 0 && State(kRsVertexFogMode) == 0);
  auto attach = [&](uint32_t slot, const uint8_t* element) {
    slots[slot].used = 1;
    slots[slot].element = element;
  };
  for (uint32_t i = 0; i < elementCount; ++i) {
    const uint8_t* element = elements[i];
    const ElementFields e = DecodeElement(element);
    switch (e.usage) {
      case 0:
        attach(kSlotPosition, element);
        break;
      case 4:
        if (pointSizeFlag != 0) {
          attach(kSlotPointSize, element);
          sizeElementGiven = 1;
        }
        break;
      case 5:
        attach(kSlotDiffuse, element);
        break;
      case 6:
        attach(kSlotSpecular, element);
        if (fogFromSpecular) attach(kSlotFog, element);
        break;
      case 7: case 8: case 9: case 10:
        attach(kSlotTexture0 + e.usage - 7, element);
        break;
      default:
        break;
    }
  }
  // Points carry their sprite corner in slot 8, filled by the point
  // routine when no element gives a size.
  if (pointSizeFlag != 0 && slots[kSlotPosition].used != 0 && sizeElementGiven == 0) {
    slots[kSlotPointSize].used = 1;
    slots[kSlotPointSize].element = nullptr;
  }
  if (pointSizeFlag != 0 && sizeElementGiven == 0) pointSize = StateFloat(kRsPointSize);

  orderCount = 0;
  for (uint8_t s : kSlotOrder)
    if (slots[s].used != 0) order[orderCount++] = s;
  for (uint32_t s = 0; s < kAttributeSlots; ++s)
    decoded_[s] = slots[s].element != nullptr ? DecodeElement(slots[s].element) : ElementFields{};

  uint16_t mask = 0;
  if (slots[kSlotPosition].used) mask |= 0x01;
  if (slots[kSlotDiffuse].used) mask |= 0x02;
  if (slots[kSlotSpecular].used) mask |= 0x04;
  if (slots[kSlotFog].used) mask |= 0x20;
  for (uint32_t t = 0; t < kTextureSets; ++t)
    if (slots[kSlotTexture0 + t].used) mask |= static_cast<uint16_t>(0x100u << t);
  useMask = mask;

  if (stream != nullptr) {
    WritePacket(stream, PacketHeader(k3dIdxAttributeLayout), uint32_t{mask});
    if (RenderContext3d* c = Context(); c != nullptr && stream == c->secondaryStream)
      c->secondaryStream->ExecutePending();
  }
  return mask;
}

// ---- One attribute -----------------------------------------------------------------------------

void VertexFetch::FetchAttribute(const uint8_t* vertex, const uint8_t* element, uint32_t out[4]) const {
  Fetch(vertex, DecodeElement(element), out);
}

void VertexFetch::Fetch(const uint8_t* vertex, const ElementFields& e, uint32_t out[4]) const {
  const uint32_t bytes = ElementBytes(e);
  if (bytes == 0 && e.format != 0) return;  // formats that convert nothing
  const uint8_t* at = vertex + 4u * e.offset;
  // Client memory: the attribute must lie inside the source window, else
  // it reads as its defaults.
  const bool inside = windowBegin_ != nullptr && at >= windowBegin_ && at <= windowEnd_ &&
                      static_cast<size_t>(windowEnd_ - at) >= bytes;
  if (!inside) {
    for (uint32_t i = 0; i < 4; ++i) out[i] = DefaultOf(e.defaults, i);
    return;
  }
  switch (e.format) {
    case 0: {
      const uint32_t* words = reinterpret_cast<const uint32_t*>(at);
      uint32_t next = 0;
      for (uint32_t i = 0; i < 4; ++i) {
        if ((e.mask >> i & 1) != 0) {
          memcpy(&out[i], words + next, 4);
          ++next;
        } else {
          out[i] = DefaultOf(e.defaults, i);
        }
      }
      return;
    }
    case 1:
      for (uint32_t i = 0; i < 4; ++i) out[i] = B(static_cast<float>(at[i]));
      return;
    case 2:
      for (uint32_t i = 0; i < 4; ++i) out[i] = B(kUnitByte.value[at[i]]);
      return;
    case 3:
    case 7:
      for (uint32_t i = 0; i < 4; ++i) out[i] = at[i];
      return;
    case 5:
      out[0] = B(static_cast<float>(at[2]));
      out[1] = B(static_cast<float>(at[1]));
      out[2] = B(static_cast<float>(at[0]));
      out[3] = B(static_cast<float>(at[3]));
      return;
    case 6:
      out[0] = B(kUnitByte.value[at[2]]);
      out[1] = B(kUnitByte.value[at[1]]);
      out[2] = B(kUnitByte.value[at[0]]);
      out[3] = B(kUnitByte.value[at[3]]);
      return;
    default: {
      const uint32_t n = e.four ? 4 : 2;
      for (uint32_t i = 0; i < n; ++i) {
        uint16_t u;
        memcpy(&u, at + 2 * i, 2);
        const int16_t v = static_cast<int16_t>(u);
        switch (e.format) {
          case 8: out[i] = B(static_cast<float>(u)); break;
          case 9: out[i] = B(static_cast<float>(u) / 65535.0f); break;
          case 10: out[i] = B(static_cast<float>(v)); break;
          default: out[i] = B((2.0f * static_cast<float>(v) + 1.0f) / 65535.0f); break;
        }
      }
      if (n == 2) {
        out[2] = (e.defaults & 0x4) != 0 ? kFloat1 : 0;
        out[3] = (e.defaults & 0x8) != 0 ? kFloat1 : 0;
      }
      return;
    }
  }
}

void VertexFetch::SlotValues(uint32_t slot, const uint8_t* vertex, uint32_t out[4]) const {
  const AttributeSlot& s = slots[slot];
  if (s.fetch != 0 && s.element != nullptr && vertex != nullptr) {
    out[0] = out[1] = out[2] = out[3] = 0;
    Fetch(vertex, decoded_[slot], out);
  } else {
    memcpy(out, s.kept, sizeof s.kept);
  }
}

uint32_t* VertexFetch::Keep(uint32_t slot, const uint8_t* vertex) {
  AttributeSlot& s = slots[slot];
  if (s.fetch != 0) {
    uint32_t values[4];
    SlotValues(slot, vertex, values);
    memcpy(s.kept, values, sizeof values);
    s.fetch = 0;
  }
  return s.kept;
}

void VertexFetch::ResetSlot(uint32_t slot) {
  AttributeSlot& s = slots[slot];
  s.kept[0] = s.kept[1] = s.kept[2] = s.kept[3] = 0;
  s.fetch = 1;
}

bool VertexFetch::AnyUnwritten() const {
  for (uint32_t i = 0; i < orderCount; ++i)
    if (slots[order[i]].written == 0) return true;
  return false;
}

void VertexFetch::ClearWritten() {
  for (AttributeSlot& s : slots) s.written = 0;
}

// ---- Positions and culling ---------------------------------------------------------------------

void VertexFetch::Position(const uint8_t* vertex, uint32_t out[4]) const {
  const AttributeSlot& s = slots[kSlotPosition];
  if (s.fetch == 0 || s.element == nullptr) {
    memcpy(out, s.kept, sizeof s.kept);
    return;
  }
  out[0] = out[1] = out[2] = out[3] = 0;
  Fetch(vertex, decoded_[kSlotPosition], out);
  float scaleX = 1.0f, scaleY = 1.0f;
  int32_t offsetX = 0, offsetY = 0;
  if (setup != nullptr) {
    offsetX = setup->offsets[0];
    offsetY = setup->offsets[1];
  }
  if (RenderContext3d* c = Context(); c != nullptr && c->targetState != nullptr) {
    scaleX = c->targetState->scaleX;
    scaleY = c->targetState->scaleY;
  }
  out[0] = B((F(out[0]) + static_cast<float>(offsetX)) * scaleX);
  out[1] = B((F(out[1]) + static_cast<float>(offsetY)) * scaleY);
}

bool VertexFetch::IsCulled(const uint32_t a[4], const uint32_t b[4], const uint32_t c[4], bool parity) const {
  uint32_t mode = State(kRsCullMode);
  if (mode == 1) return false;
  if (parity) mode = mode == 2 ? 3 : 2;
  const float e = (F(b[0]) - F(a[0])) * (F(c[1]) - F(a[1])) - (F(b[1]) - F(a[1])) * (F(c[0]) - F(a[0]));
  return (mode == 2 && e > 0.0f) || (mode == 3 && e < 0.0f);
}

void VertexFetch::WritePositions(const uint32_t* const* positions, const uint32_t* places, uint32_t n) {
  // The last piece ends the vertex when the position is all there is.
  const bool only = orderCount == 1 && order[0] == kSlotPosition;
  if (PacketWords p = OpenPacketAt(Room(1 + 5 * n), 5 * n)) {
    for (uint32_t i = 0; i < n; ++i)
      PutPiece(p, PieceHeader(places[i], only && i == n - 1, kSlotPosition), positions[i]);
  }
  slots[kSlotPosition].written = 1;
}

void VertexFetch::WriteTrianglePositions(const uint32_t a[4], const uint32_t b[4], const uint32_t c[4],
                                         const uint32_t places[3]) {
  const uint32_t* positions[3] = {a, b, c};
  WritePositions(positions, places, 3);
}

void VertexFetch::WriteLinePositions(const uint32_t a[4], const uint32_t b[4]) {
  const uint32_t* positions[2] = {a, b};
  const uint32_t places[2] = {0, 1};
  WritePositions(positions, places, 2);
}

void VertexFetch::WritePosition(const uint32_t position[4], uint32_t place) {
  const uint32_t* positions[1] = {position};
  WritePositions(positions, &place, 1);
}

// ---- Flat colours ------------------------------------------------------------------------------

void VertexFetch::WriteFlatColours(const uint8_t* vertex) {
  if (State(kRsShadeMode) != 1 || vertex == nullptr) return;
  // The packets go out as one batch; without a stream the slots still
  // count as written.
  BmBufferPool* stream = Stream();
  std::optional<BmBatch> batch;
  if (stream != nullptr) batch.emplace(stream);
  if (slots[kSlotDiffuse].used != 0) {
    uint32_t d[4];
    SlotValues(kSlotDiffuse, vertex, d);
    slots[kSlotDiffuse].written = 1;
    const bool last = !AnyUnwritten();
    if (PacketWords p = OpenPacketAt(batch ? batch->Put(6) : nullptr, 5))
      PutPiece(p, PieceHeader(kPointPlace, last, kSlotDiffuse), d);
  }
  if (slots[kSlotSpecular].used != 0) {
    uint32_t s[4];
    SlotValues(kSlotSpecular, vertex, s);
    slots[kSlotSpecular].written = 1;
    if (slots[kSlotFog].used != 0) {
      slots[kSlotFog].written = 1;
      const bool last = !AnyUnwritten();
      // The fog piece takes the specular colour's fourth word.
      if (PacketWords p = OpenPacketAt(batch ? batch->Put(11) : nullptr, 10)) {
        PutPiece(p, PieceHeader(kPointPlace, false, kSlotSpecular), s);
        const uint32_t fog[4] = {0, 0, 0, s[3]};
        PutPiece(p, PieceHeader(kPointPlace, last, kSlotFog), fog);
      }
    } else {
      const bool last = !AnyUnwritten();
      if (PacketWords p = OpenPacketAt(batch ? batch->Put(6) : nullptr, 5))
        PutPiece(p, PieceHeader(kPointPlace, last, kSlotSpecular), s);
    }
  }
}

// ---- Per-vertex steps --------------------------------------------------------------------------

void VertexFetch::ComputeFogSlot(const uint8_t* vertex) {
  AttributeSlot& fog = slots[kSlotFog];
  if (fog.used == 0 || fog.written != 0) return;
  RenderContext3d* c = Context();
  uint32_t value;
  if (c != nullptr && c->state.GetFogMode() != 0) {
    uint32_t position[4];
    SlotValues(kSlotPosition, vertex, position);
    value = B(c->state.ComputeFogDistance(F(position[3])));
  } else {
    value = Keep(kSlotSpecular, vertex)[3];
  }
  fog.kept[0] = fog.kept[1] = fog.kept[2] = 0;
  fog.kept[3] = value;
  fog.fetch = 0;
}

void VertexFetch::ApplyProjectedTexCoords(const uint8_t* vertex) {
  if (stageParams == nullptr) return;
  for (uint32_t t = 0; t < kTextureSets; ++t) {
    const uint32_t slot = kSlotTexture0 + t;
    const uint8_t flags = stageParams[kStageEntryFirst + kStageEntryBytes * t + 1];
    if (slots[slot].used == 0 || (flags & kStageProjected) == 0) continue;
    const uint32_t count = (flags >> 1) & 7u;
    if (count != 2 && count != 3) continue;
    uint32_t* v = Keep(slot, vertex);
    if (count == 3) {
      v[3] = v[2];
      v[2] = 0;
    } else {
      v[3] = v[1];
      v[1] = 0;
    }
  }
}

void VertexFetch::ScaleTexCoords(const uint8_t* vertex) {
  if (stageParams == nullptr) return;
  for (uint32_t t = 0; t < kTextureSets; ++t) {
    const uint32_t slot = kSlotTexture0 + t;
    const uint8_t* entry = stageParams + kStageEntryFirst + kStageEntryBytes * t;
    if (slots[slot].used == 0 || (entry[1] & kStageScale) == 0) continue;
    uint32_t factorBits;
    memcpy(&factorBits, entry + 4, 4);
    const float factor = F(factorBits);
    uint32_t* v = Keep(slot, vertex);
    for (uint32_t i = 0; i < 3; ++i) v[i] = B(F(v[i]) * factor);
  }
}

void VertexFetch::NormalizeTexCoordW(const uint8_t* vertex) {
  if (stageParams == nullptr || slots[kSlotTexture0 + 3].used == 0 ||
      (stageParams[kStageParamFlags] & kStageFlagNormalise) == 0)
    return;
  uint32_t* sets[3];
  float sum = 0.0f;
  for (uint32_t s = 0; s < 3; ++s) {
    sets[s] = Keep(kSlotTexture0 + 1 + s, vertex);
    const float w = F(sets[s][3]);
    sum += w * w;
  }
  const float length = static_cast<float>(LocSqrt(sum));
  // A zero vector stays as it is.
  if (!(length > 0.0f)) return;
  for (uint32_t s = 0; s < 3; ++s) sets[s][3] = B(F(sets[s][3]) / length);
}

void VertexFetch::LimitTexCoordMatrix(const uint8_t* vertex) {
  if (stageParams == nullptr || slots[kSlotTexture0 + 3].used == 0 ||
      (stageParams[kStageParamFlags] & kStageFlagLimit) == 0)
    return;
  uint32_t* sets[3];
  for (uint32_t s = 0; s < 3; ++s) sets[s] = Keep(kSlotTexture0 + 1 + s, vertex);
  float m = static_cast<float>(LocFabs(F(sets[0][0])));
  const float m1 = static_cast<float>(LocFabs(F(sets[1][1])));
  const float m2 = static_cast<float>(LocFabs(F(sets[2][2])));
  if (m1 > m) m = m1;
  if (m2 > m) m = m2;
  if (!(m >= 1.0f)) return;
  const float inverse = 1.0f / m;
  for (uint32_t s = 0; s < 3; ++s)
    for (uint32_t i = 0; i < 3; ++i) sets[s][i] = B(F(sets[s][i]) * inverse);
}

void VertexFetch::ReplaceTexCoordW(const uint8_t* vertex) {
  if (stageParams == nullptr || (stageParams[kStageParamFlags] & kStageFlagReplaceW) == 0) return;
  for (uint32_t s = 1; s < kTextureSets; ++s) {
    if (slots[kSlotTexture0 + s].used == 0) continue;
    uint32_t word;
    memcpy(&word, stageParams + kStageParamWords + 4 * (s - 1), 4);
    Keep(kSlotTexture0 + s, vertex)[3] = word;
  }
}

void VertexFetch::WriteVertex(const uint8_t* vertex, uint32_t place, bool end) {
  ComputeFogSlot(vertex);
  ApplyProjectedTexCoords(vertex);
  ScaleTexCoords(vertex);
  NormalizeTexCoordW(vertex);
  LimitTexCoordMatrix(vertex);
  ReplaceTexCoordW(vertex);

  uint32_t pieces = 0;
  uint32_t lastSlot = kAttributeSlots;
  for (uint32_t i = 0; i < orderCount; ++i) {
    if (slots[order[i]].written == 0) {
      ++pieces;
      lastSlot = order[i];
    }
  }
  if (pieces != 0) {
    PacketWords p = OpenPacketAt(Room(1 + 5 * pieces), 5 * pieces);
    for (uint32_t i = 0; i < orderCount; ++i) {
      const uint32_t slot = order[i];
      if (slots[slot].written != 0) continue;
      uint32_t v[4];
      SlotValues(slot, vertex, v);
      if (p) PutPiece(p, PieceHeader(place, end && slot == lastSlot, slot), v);
    }
  }
  for (uint32_t i = 0; i < orderCount; ++i) ResetSlot(order[i]);
}

// ---- Points ------------------------------------------------------------------------------------

float VertexFetch::ComputePointSize(const uint32_t position[4]) const {
  float size = pointSize;
  if (State(kRsPointScale) != 0) {
    const float x = F(position[0]), y = F(position[1]), z = F(position[2]);
    const float d = static_cast<float>(LocSqrt(x * x + y * y + z * z));
    float height = 0.0f;
    if (RenderContext3d* c = Context(); c != nullptr && c->targetState != nullptr)
      height = static_cast<float>(c->targetState->GetViewportHeight());
    const float term = StateFloat(kRsPointScaleA) + StateFloat(kRsPointScaleB) * d + StateFloat(kRsPointScaleC) * d * d;
    // Attenuation terms that sum to no positive number leave the size.
    if (term > 0.0f) size = height * size * static_cast<float>(LocSqrt(1.0f / term));
  }
  const float largest = StateFloat(kRsPointSizeMax);
  if (size > largest) size = largest;
  if (!(size <= kPointSizeLimit)) size = size != size ? 0.0f : kPointSizeLimit;
  const float smallest = StateFloat(kRsPointSizeMin);
  if (smallest > size) size = smallest;
  if (!(size <= kPointSizeLimit)) size = kPointSizeLimit;
  if (!(size >= 0.0f)) size = 0.0f;
  return size;
}

void VertexFetch::ExpandPointSprite(uint32_t position[4], float size) {
  const float h = 0.5f * size;
  const float x = F(position[0]), y = F(position[1]);
  position[0] = B(x - h);
  position[1] = B(y - h);
  AttributeSlot& corner = slots[kSlotPointSize];
  corner.kept[0] = B(x + h);
  corner.kept[1] = B(y + h);
  corner.kept[2] = corner.kept[3] = 0;
  corner.fetch = 0;
}

void VertexFetch::WriteSpriteTexCoords(const uint8_t* vertex) {
  static constexpr uint32_t kCorners[3][2] = {{0, 0}, {kFloat1, 0}, {0, kFloat1}};
  for (uint32_t t = 0; t < kTextureSets; ++t) {
    const uint32_t slot = kSlotTexture0 + t;
    if (slots[slot].used == 0) continue;
    uint32_t v[4] = {};
    if (vertex != nullptr) SlotValues(slot, vertex, v);
    slots[slot].written = 1;
    const bool last = !AnyUnwritten();
    PacketWords p = OpenPacketAt(Room(16), 15);
    if (!p) continue;
    for (uint32_t k = 0; k < 3; ++k) {
      const uint32_t corner[4] = {vertex != nullptr ? v[0] : kCorners[k][0], vertex != nullptr ? v[1] : kCorners[k][1],
                                  0, 0};
      PutPiece(p, PieceHeader(k, last && k == 2, slot), corner);
    }
  }
}

void VertexFetch::EmitPoint(const uint8_t* vertex, bool firstVertex) {
  uint32_t position[4];
  Position(vertex, position);
  if (pointSizeFlag != 0) {
    if (sizeElementGiven != 0 && slots[kSlotPointSize].element != nullptr) {
      uint32_t size[4] = {};
      FetchAttribute(vertex, slots[kSlotPointSize].element, size);
      pointSize = F(size[3]);
    }
    ExpandPointSprite(position, ComputePointSize(position));
    WritePosition(position, kPointPlace);
    if (State(kRsPointSprite) == 0) {
      WriteSpriteTexCoords(vertex);
    } else if (firstVertex) {
      WriteSpriteTexCoords(nullptr);
    } else {
      for (uint32_t t = 0; t < kTextureSets; ++t) slots[kSlotTexture0 + t].written = 1;
    }
  } else {
    WritePosition(position, kPointPlace);
  }
  memcpy(slots[kSlotPosition].kept, position, sizeof position);
  slots[kSlotPosition].fetch = 0;
  WriteVertex(vertex, kPointPlace, true);
  Execute();
  ClearWritten();
}

// ---- Lines and triangles -----------------------------------------------------------------------

void VertexFetch::EmitLine(const uint8_t* a, const uint8_t* b, const uint8_t* flat) {
  uint32_t pa[4], pb[4];
  Position(a, pa);
  Position(b, pb);
  WriteLinePositions(pa, pb);
  WriteFlatColours(flat);
  memcpy(slots[kSlotPosition].kept, pa, sizeof pa);
  slots[kSlotPosition].fetch = 0;
  WriteVertex(a, 0, false);
  memcpy(slots[kSlotPosition].kept, pb, sizeof pb);
  slots[kSlotPosition].fetch = 0;
  WriteVertex(b, 1, true);
  Execute();
  ClearWritten();
}

void VertexFetch::EmitLineStripVertex(const uint8_t* vertex, uint32_t place, uint32_t record[4],
                                      const uint8_t* flat) {
  Position(vertex, record);
  WritePosition(record, place & 3);
  WriteFlatColours(flat);
  memcpy(slots[kSlotPosition].kept, record, 16);
  slots[kSlotPosition].fetch = 0;
  WriteVertex(vertex, place & 3, true);
  Execute();
  ClearWritten();
}

bool VertexFetch::EmitTriangleAt(const uint8_t* a, const uint8_t* b, const uint8_t* c, uint32_t recordA[4],
                                 uint32_t recordB[4], uint32_t recordC[4], const uint8_t* flat, uint32_t ka,
                                 uint32_t kb, uint32_t kc, bool parity) {
  Position(a, recordA);
  Position(b, recordB);
  Position(c, recordC);
  if (IsCulled(recordA, recordB, recordC, parity)) {
    ClearWritten();
    return true;
  }
  const uint32_t places[3] = {ka & 3, kb & 3, kc & 3};
  WriteTrianglePositions(recordA, recordB, recordC, places);
  WriteFlatColours(flat);
  const uint32_t* positions[3] = {recordA, recordB, recordC};
  const uint8_t* vertices[3] = {a, b, c};
  for (uint32_t i = 0; i < 3; ++i) {
    memcpy(slots[kSlotPosition].kept, positions[i], 16);
    slots[kSlotPosition].fetch = 0;
    WriteVertex(vertices[i], places[i], i == 2);
  }
  Execute();
  ClearWritten();
  return false;
}

bool VertexFetch::EmitTriangle(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* flat) {
  uint32_t ra[4], rb[4], rc[4];
  return EmitTriangleAt(a, b, c, ra, rb, rc, flat, 0, 1, 2, false);
}

bool VertexFetch::EmitTriangleVertex(const uint32_t recordA[4], const uint32_t recordB[4], const uint8_t* vertex,
                                     uint32_t place, uint32_t record[4], const uint8_t* flat, bool parity) {
  Position(vertex, record);
  if (IsCulled(recordA, recordB, record, parity)) {
    ClearWritten();
    return true;
  }
  WritePosition(record, place & 3);
  WriteFlatColours(flat);
  memcpy(slots[kSlotPosition].kept, record, 16);
  slots[kSlotPosition].fetch = 0;
  WriteVertex(vertex, place & 3, true);
  Execute();
  ClearWritten();
  return false;
}
