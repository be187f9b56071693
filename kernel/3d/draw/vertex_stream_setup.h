// Where the vertex and index data of a render context's next draw lie: the
// eight vertex stream sources, the index source, the decoded vertex
// element list, the window of vertex indices every stream can supply, the
// primitive type and the two primitive emitters the draw tokens call.
// Render-state application calls it whenever the primitive, stream, index
// or element state changed.
//
// Bindings and elements are client data: a resource handle is looked up in
// the client's resource table, a kernel-pointer source keeps the size its
// binder gives so every read from it can be bounded, and a layout whose
// element ends past its stream's stride, or whose elements switch streams
// more than eight times, is not drawn.
#pragma once

#include <stdint.h>

#include "kernel/3d/draw/vertex_fetch.h"

class Surface3d;
class ResourceTable;
struct RenderContext3d;
struct StreamBinding;
class VertexStreamSetup;

inline constexpr uint32_t kVertexStreams = 8;
inline constexpr uint32_t kPrimitiveTypes = 13;
inline constexpr uint32_t kBufferResourceType = 2;

// Residence of a source.
inline constexpr uint32_t kResidenceUnbound = 0;
inline constexpr uint32_t kResidenceProcessor = 1;
inline constexpr uint32_t kResidenceFetchable = 2;
// Kind of a source.
inline constexpr uint32_t kSourceBuffer = 0;
inline constexpr uint32_t kSourcePointer = 1;
inline constexpr uint32_t kSourceAddress = 2;
// Kind of a binding (the first word of a 20-byte stream binding).
inline constexpr uint32_t kBindingBuffer = 0;
inline constexpr uint32_t kBindingAddress = 1;
inline constexpr uint32_t kBindingPointer = 2;

// What an active stream that no source backs gives the engine.
inline constexpr uint32_t kUnboundStreamAddress = 0xBAD0BAD0;
inline constexpr uint32_t kUnboundStreamStride = 0xBAD0;
inline constexpr int32_t kVertexLimitNone = INT32_MAX;

// Output modes.
inline constexpr uint32_t kOutputModeCreated = 1;
inline constexpr uint32_t kOutputModeNormal = 2;

// The primitive control word (engine register 0x2C).
inline constexpr uint32_t kPrimitiveClassMask = 0x7F;
inline constexpr uint32_t kPrimitiveCodeShift = 12;
inline constexpr uint32_t kPrimitiveKeptBits = 0x8F00;  // bits 8-11 and 15
inline constexpr uint32_t kPrimitiveBit17 = 1u << 17;
inline constexpr uint32_t kPrimitiveMode1 = 1u << 18;

// The element word the engine takes: bit 31 on the last element.
inline constexpr uint32_t kElementLast = 0x80000000;

// A primitive emitter: (set-up, count of vertices or indices, indexed).
using PrimitiveEmitter = void (*)(VertexStreamSetup* setup, uint32_t count, bool indexed);
struct PrimitiveEmitterTable {
  PrimitiveEmitter slot[kPrimitiveTypes];
};
// Entry 0: some active stream lies in processor-only memory; entry 1:
// every active stream is engine-fetchable.
struct EmitterTablePair {
  const PrimitiveEmitterTable* entry[2];
};

struct StreamSource {
  uint32_t residence;
  uint32_t size;
  uint32_t stride;       // the index size in the index source
  uint8_t flag;
  int32_t activeEntry;
  uint32_t kind;
  Surface3d* buffer;
  const uint8_t* pointer;
  uint32_t address;
};
static_assert(sizeof(StreamSource) == 48);
using IndexSource = StreamSource;

struct ActiveStream {
  StreamSource* source;
  uint32_t stream;
  int32_t startOffset;  // bytes; negative before the source's data
};

// The per-stream values of a draw.
struct StreamDrawState {
  int32_t startVertex[kVertexStreams];
  int32_t baseOffset[kVertexStreams];
  uint32_t startIndex;
  uint32_t indexBaseOffset;
};

// The engine's copy of the stream state: its registers 0x00-0x07 (stream
// addresses), 0x10-0x13 (strides, two 16-bit halves each), 0x18 and 0x19
// (the vertex window) and the element words.
struct StreamHwState {
  uint32_t address[kVertexStreams];
  uint16_t stride[kVertexStreams];
  int32_t minIndex;
  int32_t limit;
  uint32_t elements[kMaxVertexElements];
  uint32_t elementCount;
  uint8_t dirty;  // kStreamDirty*
};
inline constexpr uint8_t kStreamDirtyStreams = 0x01;
inline constexpr uint8_t kStreamDirtyWindow = 0x02;
inline constexpr uint8_t kStreamDirtyElements = 0x04;

class VertexStreamSetup {
 public:
  VertexStreamSetup();
  VertexStreamSetup(const VertexStreamSetup&) = delete;
  VertexStreamSetup& operator=(const VertexStreamSetup&) = delete;

  bool Bind(RenderContext3d* context);

  // Sets the primitive's bits in the control word; types above 12 are
  // ignored.
  void SetPrimitiveType(uint32_t type, uint32_t* controlWord);
  void SetIndexStart(const StreamDrawState& draw);
  void ComputeStreamAddresses(const StreamDrawState& draw);
  // The index binding: {kind, 8-byte value, index size, byte size}.
  void SetIndexSource(const StreamBinding& binding);
  // Streams whose bit is set take their binding; answers the fetchable
  // flag.
  uint8_t SetStreamSources(uint8_t changed, const StreamBinding* bindings);
  // The client's element list (a 4-byte head whose first byte's low five
  // bits count the 4-byte elements behind it), kept for the next
  // SetVertexElements; false, keeping nothing, for a list shorter than its
  // count says.
  bool StoreElementList(const uint8_t* list, uint32_t bytes);
  // Decodes the kept list into active streams and the engine's element
  // words.
  void SetVertexElements(StreamHwState* hw);
  // False when the draw cannot be drawn (both handlers then EmitNothing).
  bool ComputeVertexLimit(bool fetchable, StreamHwState* hw);
  // The handlers for the current pairs, primitive type and fetchable flag.
  void ChooseHandlers();

  // The base bus address the engine fetches a source at (0 for a source
  // the engine cannot fetch).
  static uint32_t GetStreamBufferBase(const StreamSource& source);
  uint32_t StrideOf(const ActiveStream& active) const;

  RenderContext3d* context = nullptr;
  StreamSource sources[kVertexStreams];
  IndexSource index;
  uint32_t activeCount = 0;
  ActiveStream active[kVertexStreams] = {};
  uint8_t fetchable = 1;
  uint32_t indexStartOffset = 0;
  int32_t minVertexIndex = 0;
  int32_t vertexLimit = kVertexLimitNone;
  VertexFetch fetch;
  uint32_t drawCount = 0;
  uint32_t strideOverride = 0;
  uint32_t primitiveType = 0;
  uint32_t indexSizeWord = 0;
  uint32_t packetFlags = 0x80000000;
  uint32_t outputMode = kOutputModeNormal;
  const EmitterTablePair* drawPair = nullptr;
  const EmitterTablePair* indexedPair = nullptr;
  PrimitiveEmitter drawHandler;
  PrimitiveEmitter indexedHandler;
  // The position offsets the render state hands over (its clip words).
  int32_t offsets[2] = {};
  // The layout can be drawn: elements within their strides, at most eight
  // stream changes, every active stream bound.
  uint8_t layoutDrawable = 1;
  uint8_t windowDrawable = 1;
  StreamHwState hw = {};
  // The client's elements as last stored.
  uint8_t elements[kMaxVertexElements][4] = {};
  uint32_t elementCount = 0;

 private:
  void ClearSource(StreamSource* source);
};

// The element word the engine takes for a client element (bit 31 and the
// bits the element does not set kept from previous).
uint32_t PackElementWord(const uint8_t element[4], uint32_t previous);

// The render-state application's steps over the context's set-up.
bool VertexStreamSetupBind(RenderContext3d* context);
void VertexStreamSetStreamSources(RenderContext3d* context);
void VertexStreamSetIndexSource(RenderContext3d* context);
void VertexStreamSetVertexElements(RenderContext3d* context);
void VertexStreamComputeAddresses(RenderContext3d* context);
void VertexStreamSetIndexStart(RenderContext3d* context);
void VertexStreamSetPrimitiveType(RenderContext3d* context);
bool VertexStreamComputeVertexLimit(RenderContext3d* context);
void VertexFetchSetElements(RenderContext3d* context);
uint32_t VertexFetchEmitLayout(RenderContext3d* context, bool layout);

// The draw emitters render-state application selects. With a vertex
// program each hands one draw (a DrawCall3d) to the handler the context's
// set-up chose for its primitive type, the draw emitter to the
// non-indexed handler, the index emitter to the indexed one; the set-up's
// tables already follow the index size and the primitive type, so every
// program kind and type reaches the same two emitters. Without one (a
// pre-transformed layout) the primitive emitters take the conversion
// path: the converted-vertex handler of the set-up's primitive type
// writes the vertices into the attribute places. A null context or draw
// draws nothing.
struct DrawCall3d {
  uint32_t count;
};
void InstallIndex32Emitters3d(RenderContext3d* context);
bool (*ProgramDrawEmitter3d(uint32_t kind, uint32_t type))(RenderContext3d*, const void*);
bool (*ProgramIndexEmitter3d(uint32_t kind, uint32_t type))(RenderContext3d*, const void*);
bool (*PrimitiveDrawEmitter3d(uint32_t type))(RenderContext3d*, const void*);
bool (*PrimitiveIndexEmitter3d(uint32_t type))(RenderContext3d*, const void*);
