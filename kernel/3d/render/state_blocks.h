// State blocks: sets of render-state values a client saves under a 32-bit
// key and applies later with one command. A block holds, per kind of state,
// an ordered map from a state id to a copy of its value; capturing copies
// the current values of the ids the block holds out of the render state,
// applying writes them back through the render state's setters, so that
// only what changed is marked dirty. A table of blocks belongs to each
// render state; recording nests, and the state saved when the outermost
// recording began is applied once when it ends.
//
// Keys, ids, stages and light indices come from clients: every one is
// bounded, and the blocks of a table and the ids of a block are limited.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/otl_map.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/map_records.h"

struct RenderState3d;

// Component kinds of a block.
enum : uint32_t {
  kSbRenderStates = 0,
  kSbStageStates = 1,
  kSbTransforms = 2,
  kSbClipPlanes = 3,
  kSbMaterial = 4,
  kSbLights = 5,
  kSbLightEnables = 6,
  kSbViewport = 7,
  kSbDepthRange = 8,
  kSbPixelProgram = 9,
  kSbPixelConstants = 10,
  kSbVertexShader = 11,
  kSbVertexConstants = 12,
  kSbStreams = 13,
  kSbIndexSource = 14,
  kSbKinds = 15,
};

// Capture kinds.
enum : uint32_t { kCaptureAll = 0, kCaptureVertex = 1, kCapturePixel = 2, kCaptureRecorded = 3, kCaptureAllStreams = 4 };

inline constexpr uint32_t kBlockStages = 8;
inline constexpr uint32_t kMaxStateBlocks = 4096;     // blocks of one table
inline constexpr uint32_t kMaxVertexConstantId = 255;
inline constexpr uint32_t kBlockStreams = 8;
inline constexpr uint32_t kBlockPixelConstants = 8;
// The transform id captured from the slot of id 16 and never applied.
inline constexpr uint32_t kTransformCapturedOnly = 288;

// The id tables of capture.
extern const uint16_t kPixelRenderStateIds[39];
extern const uint16_t kVertexRenderStateIds[38];
extern const uint16_t kAllRenderStateIds[73];
extern const uint8_t kAllStageStateIds[27];
extern const uint8_t kVertexStageStateIds[2];
extern const uint16_t kTransformIds[47];

struct U32Record {
  uint32_t value;
  void Prepare() { value = 0; }
};

class StateBlock : public OsHeapObject {
 public:
  StateBlock(RenderState3d* owner, uint32_t key);
  ~StateBlock();
  StateBlock(const StateBlock&) = delete;
  StateBlock& operator=(const StateBlock&) = delete;

  // Whether every map was made.
  bool ok() const;
  // Adds the id to one component (kind 1: the stage's map); false for a
  // kind above 14, a bad stage or id, or no memory.
  bool AddKey(uint32_t kind, uint32_t id, uint32_t stage);
  // Stores the capture kind and adds its ids; kind 3 adds none.
  void Capture(uint32_t kind);
  // Copies the current value of every id the block holds out of the
  // render state.
  void CaptureValues();
  // Writes the values back into the render state, only what differs. The
  // pixel program and the pixel constants are captured but never written
  // back: applying a block leaves the bound pixel program and its
  // constants as they are.
  void Apply(bool applying);

  bool Holds(uint32_t kind, uint32_t id, uint32_t stage = 0) const;
  size_t Count(uint32_t kind, uint32_t stage = 0) const;

  RenderState3d* owner;
  uint32_t captureKind = kCaptureRecorded;
  uint32_t key;
  uint8_t recording = 0;

  Otl::Map<uint32_t, U32Record*> renderStates;
  Otl::Map<uint32_t, U32Record*> stageStates[kBlockStages];
  Otl::Map<uint32_t, LightRecord*> lights;
  Otl::Map<uint32_t, U32Record*> lightEnables;
  Otl::Map<uint32_t, Dword3*> streams;
  Otl::Map<uint32_t, Dword3*> indexSource;
  Otl::Map<uint32_t, Matrix4Words*> transforms;
  Otl::Map<uint32_t, Dword4*> clipPlanes;
  Otl::Map<uint32_t, Dword4*> viewport;
  Otl::Map<uint32_t, Dword2*> depthRange;
  Otl::Map<uint32_t, MaterialRecord*> material;
  Otl::Map<uint32_t, U32Record*> pixelProgram;
  Otl::Map<uint32_t, Dword4*> pixelConstants;
  Otl::Map<uint32_t, U32Record*> vertexShader;
  Otl::Map<uint32_t, Dword4*> vertexConstants;

 private:
  void AddLights();
  void ApplyTransforms();
  void ApplyVertexConstants();
  void ApplyVertexShader();
};

class StateBlockTable : public OsHeapObject {
 public:
  explicit StateBlockTable(RenderState3d* owner);
  ~StateBlockTable();
  StateBlockTable(const StateBlockTable&) = delete;
  StateBlockTable& operator=(const StateBlockTable&) = delete;

  bool ok() const { return blocks.ok(); }
  StateBlock* Find(uint32_t key) const;
  // An empty block under the key (a present one is replaced): 1, or 0 with
  // the table unchanged.
  uint32_t Add(uint32_t key);
  void Erase(uint32_t key);
  // 0 only when the saved state cannot be made (nothing changes then).
  uint32_t BeginRecording(uint32_t key);
  // The new depth.
  uint32_t EndRecording(uint32_t key);
  // Adds the id to every block being recorded.
  uint32_t RecordState(uint32_t kind, uint32_t id, uint32_t stage);

  // The render state's operations: create a block of a type (1 all, 2
  // pixel, 3 vertex) and capture it; begin and end recording; apply.
  uint32_t Create(uint32_t key, uint32_t type);
  uint32_t Begin(uint32_t key);
  uint32_t End(uint32_t key);
  uint32_t ApplyBlock(uint32_t key);
  uint32_t CaptureAgain(uint32_t key);

  Otl::Map<uint32_t, StateBlock*> blocks;
  uint32_t depth = 0;
  RenderState3d* owner;
  StateBlock* saved = nullptr;
  uint8_t applying = 0;
};

// The render state's table: made (null without memory) and destroyed.
StateBlockTable* CreateStateBlockTable3d(RenderState3d* state);
void DestroyStateBlockTable3d(StateBlockTable* table);
