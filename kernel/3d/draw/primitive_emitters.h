// The primitive emitters: one draw call (a primitive type, a count of
// vertices or indices, and the sources of the render context's stream
// set-up) turned into primitive packets of the context's stream, or into
// converted vertices through its vertex fetch. The handlers are gathered in
// tables of 13 slots, one per primitive type; a pair of tables is chosen by
// where the vertex and index data lie.
//
// Sources are client data: every processor read of vertex or index data is
// bounded by the size of its source.
#pragma once

#include <stdint.h>

#include <utility>

#include "kernel/3d/draw/vertex_stream_setup.h"

// The primitive types, each a slot of the tables (kPrimitiveTypes of them).
enum PrimitiveType : uint32_t {
  kPrimPoints = 0,
  kPrimPointsAlso = 1,      // points, as type 0
  kPrimLines = 2,
  kPrimLineStrip = 3,
  kPrimLineLoop = 4,        // a strip, its first vertex appended at the end
  kPrimTriangles = 5,
  kPrimTriangleStrip = 6,
  kPrimTriangleFan = 7,
  kPrimPolygon = 8,         // drawn as a fan
  kPrimQuads = 9,
  kPrimQuadStrip = 10,
  kPrimLinesAlso = 11,      // lines, as type 2
  kPrimTrianglesBy4 = 12,   // triangles whose index data holds four indices each, the fourth skipped
};
static_assert(kPrimTrianglesBy4 + 1 == kPrimitiveTypes);

// The primitive commands the emitters write (core/regs/engine3d.h): a
// range of the streams {first, count}, indices by address {start, end}
// (with their size's kind), the closing pair of a loop and indices in the
// body.
inline constexpr uint32_t kPacketDrawStreams = k3dCommandPrimitive | k3dPrimitiveRange | 1;
inline constexpr uint32_t kPacketIndexAddress = k3dCommandPrimitive | 1;
inline constexpr uint32_t kPacketLoopClose = k3dCommandPrimitive | k3dPrimitiveInline32 | 1;
inline constexpr uint32_t kPacketInlineIndices = k3dCommandPrimitive;
static_assert(kPacketDrawStreams == 0x0F000001 && kPacketIndexAddress == 0x03000001 && kPacketLoopClose == 0x0B000001);
inline constexpr uint32_t kEmitterExecuteFlags = 2;

// The pairs a stream set-up installs (entry 0 the inline-vertex table in
// each) and the tables.
extern const EmitterTablePair DrawPairDirect;
extern const EmitterTablePair IndexedPairInline;
extern const EmitterTablePair IndexedPairFetchable;
extern const EmitterTablePair DrawPairMode1;
extern const EmitterTablePair IndexedPairMode1;
extern const PrimitiveEmitterTable InlineVertexTable;
extern const PrimitiveEmitterTable InlineIndexTable;
extern const PrimitiveEmitterTable DirectDrawTable;
extern const PrimitiveEmitterTable IndexedByAddressTable;
extern const PrimitiveEmitterTable Mode1DrawTable;
extern const PrimitiveEmitterTable Mode1IndexedTable;
extern const PrimitiveEmitterTable ConvertedVertexTable;

// The handlers; EmitNothing returns at once.
void EmitNothing(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitVerticesDirect(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitIndexedByAddress(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitInlineVertices(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitInlineIndices(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitInlineIndices16(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitIndexedByAddressAndExecute(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitSourceDwords(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitLoopPairs(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitConvertedPoints(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitConvertedLines(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitConvertedLineStrip(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitConvertedTriangles(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitConvertedTriangleStrip(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitConvertedFan(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitConvertedQuads(VertexStreamSetup* setup, uint32_t count, bool indexed);
void EmitConvertedQuadStrip(VertexStreamSetup* setup, uint32_t count, bool indexed);

// The {start, end} bus range of a draw's indices by address.
struct IndexRange {
  uint32_t start;
  uint32_t end;
};
IndexRange IndexRangeOf(uint32_t sourceBus, uint32_t startOffset, uint32_t indexSizeWord, uint32_t count);
