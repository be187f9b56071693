// State blocks: sets of render-state values a client saves under a 32-bit
// key and applies later with one command. A block holds, per kind of state,
// the ids it covers with a copy of each value (in an array with a bit per
// slot for the kinds with many ids, an ordered map for the others,
// walked in ascending id order either way); capturing copies
// the current values of the ids the block holds out of the render state,
// applying writes them back as the render state's setters do one value at
// a time, so that only what changed is marked dirty: render and stage
// states go to the setters straight from the block's arrays, matrices and
// vertex constants are compared and copied in place with their dirty bits
// set once. A table of blocks belongs to each render state; recording
// nests, and the state saved when the outermost recording began is
// applied once when it ends.
//
// Keys, ids, stages and light indices come from clients: every one is
// bounded, and the blocks of a table and the ids of a block are limited.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/os.h"
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
inline constexpr uint32_t kTransformIdCount = 47;
extern const uint16_t kTransformIds[kTransformIdCount];

struct U32Record {
  uint32_t value;
  void Prepare() { value = 0; }
};

// The slots of the kinds kept in arrays: an id is its own slot...
struct SlotIsId {
  static int32_t SlotOf(uint32_t id, uint32_t slots) { return id < slots ? static_cast<int32_t>(id) : -1; }
  static uint32_t IdOf(uint32_t slot) { return slot; }
};
// ...or, for the transforms, its place in kTransformIds.
struct TransformSlots {
  static int32_t SlotOf(uint32_t id, uint32_t slots);
  static uint32_t IdOf(uint32_t slot);
};

// The values of one kind a block holds, in one array of a record per
// slot, made (zeroed) when the first id comes, with a bit per slot held.
// It answers as the kind's ordered map would: iteration in ascending id
// order, find, size; Apply and capture walk the bits and the array
// directly, with no node to follow.
template <class Record, uint32_t Slots, class Ids = SlotIsId>
class SlotMap {
 public:
  static constexpr uint32_t kWords = (Slots + 63) / 64;
  struct Entry {
    uint32_t first;
    Record* second;
  };
  class iterator {
   public:
    iterator(const SlotMap* map, uint32_t slot) : map_(map) { Set(slot); }
    const Entry& operator*() const { return entry_; }
    const Entry* operator->() const { return &entry_; }
    bool operator==(const iterator& other) const { return slot_ == other.slot_; }
    iterator& operator++() {
      Set(map_->NextSlot(slot_ + 1));
      return *this;
    }

   private:
    void Set(uint32_t slot) {
      slot_ = slot;
      entry_ = {slot < Slots ? Ids::IdOf(slot) : 0, slot < Slots ? map_->values_ + slot : nullptr};
    }
    const SlotMap* map_;
    uint32_t slot_ = Slots;
    Entry entry_ = {};
  };

  SlotMap() = default;
  ~SlotMap() { DeleteAll(); }
  SlotMap(const SlotMap&) = delete;
  SlotMap& operator=(const SlotMap&) = delete;

  bool ok() const { return true; }
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  iterator begin() const { return iterator(this, NextSlot(0)); }
  iterator end() const { return iterator(this, Slots); }
  iterator find(uint32_t id) const {
    const int32_t slot = Ids::SlotOf(id, Slots);
    return slot >= 0 && Held(static_cast<uint32_t>(slot)) ? iterator(this, static_cast<uint32_t>(slot)) : end();
  }
  // 1 when the id was added; 0 when it has no slot, is held already or
  // the array cannot be made (nothing changes then).
  uint8_t AddIfAbsent(uint32_t id) {
    const int32_t slot = Ids::SlotOf(id, Slots);
    if (slot < 0 || Held(static_cast<uint32_t>(slot))) return 0;
    if (values_ == nullptr) {
      values_ = static_cast<Record*>(memAlloc(sizeof(Record) * Slots));  // zeroed
      if (values_ == nullptr) return 0;
    }
    bits_[slot >> 6] |= uint64_t{1} << (slot & 63);
    ++count_;
    return 1;
  }
  void DeleteAll() {
    if (values_ != nullptr) memFree(values_);
    values_ = nullptr;
    for (uint64_t& w : bits_) w = 0;
    count_ = 0;
  }

  bool Held(uint32_t slot) const { return (bits_[slot >> 6] >> (slot & 63) & 1) != 0; }
  // The first slot held from `from` on, or Slots.
  uint32_t NextSlot(uint32_t from) const {
    for (uint32_t w = from >> 6; w < kWords; ++w) {
      const uint64_t bits = bits_[w] & (from > w * 64 ? ~uint64_t{0} << (from & 63) : ~uint64_t{0});
      if (bits != 0) return w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
    }
    return Slots;
  }
  // Bits of slots w * 64 to w * 64 + 63 held, and the array (null before
  // the first id).
  uint64_t BitsWord(uint32_t w) const { return bits_[w]; }
  const Record* Values() const { return values_; }
  // Calls f(slot, record) for every slot held, in ascending order.
  template <class F>
  void ForEach(F&& f) const {
    for (uint32_t w = 0; w < kWords; ++w) {
      for (uint64_t bits = bits_[w]; bits != 0; bits &= bits - 1) {
        const uint32_t slot = w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
        f(slot, values_[slot]);
      }
    }
  }

 private:
  uint64_t bits_[kWords] = {};
  uint32_t count_ = 0;
  Record* values_ = nullptr;
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
  // Writes the values back into the render state, only what differs. The
  // pixel program and the pixel constants are captured but never written
  // back: applying a block leaves the bound pixel program and its
  // constants as they are.
  void Apply(bool applying);

  RenderState3d* owner;
  uint32_t captureKind = kCaptureRecorded;
  uint32_t key;
  uint8_t recording = 0;

  // The kinds a block of every state holds many values of are kept in
  // arrays; the others in ordered maps of a record per key.
  SlotMap<U32Record, kRenderStateIds> renderStates;
  SlotMap<U32Record, kStageStates + 1> stageStates[kBlockStages];
  Otl::Map<uint32_t, LightRecord*> lights;
  Otl::Map<uint32_t, U32Record*> lightEnables;
  Otl::Map<uint32_t, Dword3*> streams;
  Otl::Map<uint32_t, Dword3*> indexSource;
  SlotMap<Matrix4Words, kTransformIdCount, TransformSlots> transforms;
  SlotMap<Dword4, kMaxClipPlanes> clipPlanes;
  Otl::Map<uint32_t, Dword4*> viewport;
  Otl::Map<uint32_t, Dword2*> depthRange;
  Otl::Map<uint32_t, MaterialRecord*> material;
  Otl::Map<uint32_t, U32Record*> pixelProgram;
  Otl::Map<uint32_t, Dword4*> pixelConstants;
  Otl::Map<uint32_t, U32Record*> vertexShader;
  SlotMap<Dword4, kMaxVertexConstantId + 1> vertexConstants;

 private:
  void AddLights();
  void ApplyTransforms();
  void ApplyVertexConstants();
  void ApplyVertexShader();
};

// Calls f with the map of the kind (kind 1: the stage's); false for a kind
// without one.
template <class F>
bool StateBlockVisit(StateBlock& b, uint32_t kind, uint32_t stage, F&& f) {
  switch (kind) {
    case kSbRenderStates: f(b.renderStates); return true;
    case kSbStageStates:
      if (stage >= kBlockStages) return false;
      f(b.stageStates[stage]);
      return true;
    case kSbTransforms: f(b.transforms); return true;
    case kSbClipPlanes: f(b.clipPlanes); return true;
    case kSbMaterial: f(b.material); return true;
    case kSbLights: f(b.lights); return true;
    case kSbLightEnables: f(b.lightEnables); return true;
    case kSbViewport: f(b.viewport); return true;
    case kSbDepthRange: f(b.depthRange); return true;
    case kSbPixelProgram: f(b.pixelProgram); return true;
    case kSbPixelConstants: f(b.pixelConstants); return true;
    case kSbVertexShader: f(b.vertexShader); return true;
    case kSbVertexConstants: f(b.vertexConstants); return true;
    case kSbStreams: f(b.streams); return true;
    case kSbIndexSource: f(b.indexSource); return true;
    default: return false;
  }
}

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
  // pixel, 3 vertex) and capture it; apply.
  uint32_t Create(uint32_t key, uint32_t type);
  uint32_t ApplyBlock(uint32_t key);

  Otl::Map<uint32_t, StateBlock*> blocks;
  uint32_t depth = 0;
  RenderState3d* owner;
  StateBlock* saved = nullptr;
  uint8_t applying = 0;
};

// The render state's table: made (null without memory) and destroyed.
StateBlockTable* CreateStateBlockTable3d(RenderState3d* state);
void DestroyStateBlockTable3d(StateBlockTable* table);
