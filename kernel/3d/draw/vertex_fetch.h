// The processor's reader of vertex data: when the engine cannot fetch a
// draw's vertices itself, the converted-vertex emitters hand it one vertex
// address at a time. It reads each attribute through its client element,
// converts it to four 32-bit values and writes the vertex into the render
// context's stream as writes of the engine's attribute registers: the
// vertex's place register (0x58 + place) takes component 3, 0x5D component
// 2, 0x5E component 1 (0x5F on the last write of a primitive, which draws
// it) and the slot's register (0x60 + slot) component 0.
//
// On the way it maps positions to the render target, culls triangles by
// winding, sends flat-shaded colours once per primitive, turns points into
// sprites of a computed size, fills the fog slot and adjusts texture
// coordinates. It allocates nothing: elements and slots are fixed arrays.
//
// Vertex data is client memory: a fetch reads only inside the source window
// the emitter gives (SetSourceWindow); an attribute reaching past it reads
// as its defaults.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/regs/engine3d.h"

class VertexStreamSetup;
class BmBufferPool;
struct RenderContext3d;
struct RenderState3d;

inline constexpr uint32_t kAttributeSlots = 9;
inline constexpr uint32_t kMaxVertexElements = 31;  // a 5-bit count
inline constexpr uint32_t kVertexPlaces = 4;
inline constexpr uint32_t kPointPlace = 3;

// Slots.
inline constexpr uint32_t kSlotPosition = 0;
inline constexpr uint32_t kSlotDiffuse = 1;
inline constexpr uint32_t kSlotSpecular = 2;
inline constexpr uint32_t kSlotTexture0 = 3;  // texture coordinate sets 0-3: slots 3-6
inline constexpr uint32_t kSlotFog = 7;
inline constexpr uint32_t kSlotPointSize = 8;

// The register of slot 0 of the attribute path; slot s's is 4s above it.
inline constexpr uint32_t kSlotRegisterBase = k3dRegVertexPosition;

// Render states the fetch reads.
inline constexpr uint32_t kRsShadeMode = 9;
inline constexpr uint32_t kRsCullMode = 22;
inline constexpr uint32_t kRsFogEnable = 28;
inline constexpr uint32_t kRsFogTableMode = 35;
inline constexpr uint32_t kRsVertexFogMode = 140;
inline constexpr uint32_t kRsPointSize = 154;
inline constexpr uint32_t kRsPointSizeMin = 155;
inline constexpr uint32_t kRsPointSprite = 156;
inline constexpr uint32_t kRsPointScale = 157;
inline constexpr uint32_t kRsPointScaleA = 158;
inline constexpr uint32_t kRsPointScaleB = 159;
inline constexpr uint32_t kRsPointScaleC = 160;
inline constexpr uint32_t kRsPointSizeMax = 166;
inline constexpr float kPointSizeLimit = 2048.0f;

// The texture-stage parameter record the render state keeps beside the
// element list: a 20-byte entry per texture set at byte 24 + 20 x set
// (byte 1: bits 1-3 coordinate count, bit 4 projected, bit 7 scale; bytes
// 4-7 the scale factor), flags at byte 92 and three words at 96.
inline constexpr uint32_t kStageParamBytes = 108;
inline constexpr uint32_t kStageEntryFirst = 24;
inline constexpr uint32_t kStageEntryBytes = 20;
inline constexpr uint32_t kStageParamFlags = 92;
inline constexpr uint32_t kStageParamWords = 96;
inline constexpr uint8_t kStageProjected = 0x10;
inline constexpr uint8_t kStageScale = 0x80;
inline constexpr uint8_t kStageFlagReplaceW = 0x04;
inline constexpr uint8_t kStageFlagNormalise = 0x08;
inline constexpr uint8_t kStageFlagLimit = 0x10;

// The client's 4-byte vertex element, decoded.
struct ElementFields {
  uint32_t offset;   // in 32-bit words from the vertex start
  uint32_t stream;
  uint32_t format;   // 0 raw words
  uint32_t usage;
  uint32_t mask;     // raw component mask of format 0
  uint32_t defaults; // bit i: missing component i is 1.0
  bool four;         // the 16-bit formats read four components
};
ElementFields DecodeElement(const uint8_t element[4]);

// Bytes an attribute of the element reads (0: a format that converts
// nothing).
inline uint32_t ElementBytes(const ElementFields& e) {
  switch (e.format) {
    case 0:
      return 4u * static_cast<uint32_t>(__builtin_popcount(e.mask));
    case 1: case 2: case 3: case 5: case 6: case 7:
      return 4;
    case 8: case 9: case 10: case 11:
      return e.four ? 8 : 4;
    default:
      return 0;
  }
}

struct AttributeSlot {
  uint32_t kept[4];
  uint8_t fetch;
  uint32_t reg;
  uint8_t used;
  uint8_t written;
  const uint8_t* element;
};
static_assert(sizeof(AttributeSlot) == 40);

class VertexFetch {
 public:
  VertexFetch();
  VertexFetch(const VertexFetch&) = delete;
  VertexFetch& operator=(const VertexFetch&) = delete;

  // Clears every slot and takes count elements (at most 31).
  void SetElements(const uint8_t* elements, uint32_t count);
  // Assigns the elements to slots, orders the used slots and announces
  // them to the engine; answers the slot-use mask.
  uint32_t EmitLayout(BmBufferPool* stream, bool points);
  // The texture-stage parameter record (kStageParamBytes), or null.
  void SetStageParameters(const uint8_t* record) { stageParams = record; }
  // The bytes a fetch may read: [begin, end). Unset, nothing is read.
  void SetSourceWindow(const uint8_t* begin, const uint8_t* end) {
    windowBegin_ = begin;
    windowEnd_ = end;
  }

  // One attribute of the vertex at the address, converted; formats that
  // convert nothing leave out unchanged.
  void FetchAttribute(const uint8_t* vertex, const uint8_t* element, uint32_t out[4]) const;

  // The per-primitive routines of the converted-vertex emitters. Each
  // executes the stream range it wrote and clears every slot's
  // already-written flag. The triangle routines answer true when the
  // triangle was culled (nothing written). Position records are four
  // 32-bit values the caller owns.
  void EmitPoint(const uint8_t* vertex, bool firstVertex);
  void EmitLine(const uint8_t* a, const uint8_t* b, const uint8_t* flat);
  void EmitLineStripVertex(const uint8_t* vertex, uint32_t place, uint32_t record[4], const uint8_t* flat);
  bool EmitTriangle(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* flat);
  bool EmitTriangleAt(const uint8_t* a, const uint8_t* b, const uint8_t* c, uint32_t recordA[4],
                      uint32_t recordB[4], uint32_t recordC[4], const uint8_t* flat, uint32_t ka, uint32_t kb,
                      uint32_t kc, bool parity);
  bool EmitTriangleVertex(const uint32_t recordA[4], const uint32_t recordB[4], const uint8_t* vertex,
                          uint32_t place, uint32_t record[4], const uint8_t* flat, bool parity);

  // Steps of the routines, reachable for the emitters and tests.
  void Position(const uint8_t* vertex, uint32_t out[4]) const;
  bool IsCulled(const uint32_t a[4], const uint32_t b[4], const uint32_t c[4], bool parity) const;
  void WriteVertex(const uint8_t* vertex, uint32_t place, bool end);
  void ComputeFogSlot(const uint8_t* vertex);
  void ApplyProjectedTexCoords(const uint8_t* vertex);
  void ScaleTexCoords(const uint8_t* vertex);
  void NormalizeTexCoordW(const uint8_t* vertex);
  void LimitTexCoordMatrix(const uint8_t* vertex);
  void ReplaceTexCoordW(const uint8_t* vertex);
  float ComputePointSize(const uint32_t position[4]) const;
  void ExpandPointSprite(uint32_t position[4], float size);
  void WriteSpriteTexCoords(const uint8_t* vertex);
  void WriteFlatColours(const uint8_t* vertex);

  VertexStreamSetup* setup = nullptr;
  uint16_t useMask = 0;
  uint32_t elementCount = 0;
  uint8_t elements[kMaxVertexElements][4] = {};
  AttributeSlot slots[kAttributeSlots];
  uint8_t order[kAttributeSlots] = {};
  uint32_t orderCount = 0;
  uint32_t pointSizeFlag = 0;
  float pointSize = 1.0f;
  uint8_t sizeElementGiven = 0;
  const uint8_t* stageParams = nullptr;

 private:
  RenderContext3d* Context() const;
  BmBufferPool* Stream() const;
  uint32_t State(uint32_t id) const;
  float StateFloat(uint32_t id) const;
  // The slot's values for the vertex: fetched through its element when its
  // fetch flag is set, else its kept values.
  void SlotValues(uint32_t slot, const uint8_t* vertex, uint32_t out[4]) const;
  // The slot's values for the vertex, left as its kept values.
  uint32_t* Keep(uint32_t slot, const uint8_t* vertex);
  void ResetSlot(uint32_t slot);
  bool AnyUnwritten() const;
  void ClearWritten();
  void Execute();
  // The position pieces of one group: a triangle's three, a line's two
  // (at places 0 and 1) or a single vertex's.
  void WritePositions(const uint32_t* const* positions, const uint32_t* places, uint32_t n);
  void WriteTrianglePositions(const uint32_t a[4], const uint32_t b[4], const uint32_t c[4], const uint32_t places[3]);
  void WriteLinePositions(const uint32_t a[4], const uint32_t b[4]);
  void WritePosition(const uint32_t position[4], uint32_t place);
  uint32_t* Room(uint32_t words);

  // The conversion itself, from a decoded element.
  void Fetch(const uint8_t* vertex, const ElementFields& e, uint32_t out[4]) const;

  const uint8_t* windowBegin_ = nullptr;
  const uint8_t* windowEnd_ = nullptr;
  // Each slot's element decoded once, when the layout is made.
  ElementFields decoded_[kAttributeSlots] = {};
};

// Header word of a piece: the place register, components 2 and 1, the
// slot register.
inline uint32_t PieceHeader(uint32_t place, bool end, uint32_t slot) {
  return PacketHeader(k3dIdxVertexW3 + place, k3dIdxVertexW2, end ? k3dIdxVertexW1Alt : k3dIdxVertexW1,
                      k3dIdxVertexPosition + slot);
}
