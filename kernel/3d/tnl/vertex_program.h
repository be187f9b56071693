// Vertex programs and the state they are built for: the fixed-function
// state key of a render context's transform-and-lighting set-up, the record
// of further inputs that program selection reads from the render state, a
// built or prebuilt program with its residency and cache keys, and the
// lists in which a context keeps the programs built for it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"

// ---- The transform-and-lighting state key -----------------------------------------------

struct TnlCoordEntry {
  uint32_t dimension;   // 4 at construction
  uint32_t generation;  // coordinate generation mode (3 bits)
  uint32_t source;      // coordinate source (3 bits)
};

// Mode, class and clip-count byte.
inline constexpr uint8_t kTnlModeMask = 0x03;          // the mode pair
inline constexpr unsigned kTnlClassShift = 2;          // vertex-processing mode, 0-5
inline constexpr uint8_t kTnlClassMask = 0x07;
inline constexpr unsigned kTnlClipCountShift = 5;      // enabled user clip planes
inline constexpr uint8_t kTnlClipCountMask = 0x07;

// Bits of the key's four dirty bytes: which parts of the key changed since
// the programs were chosen.
// Byte 0: the indexed-blend flag; the spot, point and directional light
// counts; the primitive class or fill mode; the point program (or class 4
// entered); the layout's point size; the blend count or screen mapping.
inline constexpr uint8_t kKd0IndexedBlend = 0x01;
inline constexpr uint8_t kKd0SpotLights = 0x02;
inline constexpr uint8_t kKd0PointLights = 0x04;
inline constexpr uint8_t kKd0DirectionalLights = 0x08;
inline constexpr uint8_t kKd0Class = 0x10;
inline constexpr uint8_t kKd0PointProgram = 0x20;
inline constexpr uint8_t kKd0LayoutPointSize = 0x40;
inline constexpr uint8_t kKd0BlendCount = 0x80;
inline constexpr uint8_t kKd0Lights = kKd0SpotLights | kKd0PointLights | kKd0DirectionalLights;
// Byte 1: lighting with positional lights (or stage summary A); eye space;
// the layout's second normal and blend indices; the last stage projects;
// the stage-argument flag; the clip-plane count; the mode.
inline constexpr uint8_t kKd1LitPositional = 0x01;
inline constexpr uint8_t kKd1EyeSpace = 0x02;
inline constexpr uint8_t kKd1SecondNormal = 0x04;
inline constexpr uint8_t kKd1BlendIndices = 0x08;
inline constexpr uint8_t kKd1Projects = 0x10;
inline constexpr uint8_t kKd1StageArgument = 0x20;
inline constexpr uint8_t kKd1ClipCount = 0x40;
inline constexpr uint8_t kKd1Mode = 0x80;
// Byte 2: a coordinate dimension reset; the material colour sources;
// two-sided lighting; the light layout; the emissive term; constant 312.
inline constexpr uint8_t kKd2CoordDimension = 0x04;
inline constexpr uint8_t kKd2ColourSources = 0x08;
inline constexpr uint8_t kKd2TwoSided = 0x10;
inline constexpr uint8_t kKd2LightLayout = 0x20;
inline constexpr uint8_t kKd2Emissive = 0x40;
inline constexpr uint8_t kKd2GlobalAmbient = 0x80;
// Byte 3: the colour scale; polygon offset or the point/line mode; stage
// summaries A and B; coordinate generation; primitive kind 2.
inline constexpr uint8_t kKd3ColourScale = 0x01;
inline constexpr uint8_t kKd3PointLineMode = 0x02;
inline constexpr uint8_t kKd3StageSummaryA = 0x04;
inline constexpr uint8_t kKd3StageSummaryB = 0x08;
inline constexpr uint8_t kKd3CoordGeneration = 0x10;
inline constexpr uint8_t kKd3Kind2 = 0x20;

struct TnlStateKey {
  TnlStateKey();

  uint8_t keyDirty[4];    // kKd0*, kKd1*, kKd2*, kKd3*
  uint8_t flags4;         // the T&L flag byte
  uint8_t flags5;         // the second flag byte
  uint8_t flags6;         // the option byte
  uint8_t modeClassClip;  // the T&L mode byte
  uint8_t coordGeneration;
  uint32_t previousClass;
  uint32_t blendCount;  // the transform word, 0-5
  uint32_t previousBlendCount;
  uint32_t spotLights;         // first light count
  uint32_t pointLights;        // second light count
  uint32_t directionalLights;  // third light count
  uint32_t lightLayout;
  // Front diffuse, back diffuse, front specular, back specular, front
  // ambient, back ambient, front emissive, back emissive: 0 material, 1
  // first vertex colour, 2 second vertex colour.
  uint32_t colourSources[8];
  uint32_t pointLineMode;  // the T&L mode word (3 while polygon offset applies)
  TnlCoordEntry coords[4];
  uint8_t stageSummary[2];
  uint32_t coordGenerationCount;
  uint8_t mainProgramKey[8];
  uint32_t primitiveKind;
  uint32_t fillMode;

  uint32_t ModePair() const { return modeClassClip & kTnlModeMask; }
  uint32_t Class() const { return modeClassClip >> kTnlClassShift & kTnlClassMask; }
  uint32_t ClipCount() const { return modeClassClip >> kTnlClipCountShift & kTnlClipCountMask; }
  // The flag byte, second flag byte, option byte and mode byte as one
  // little-endian word.
  uint32_t FlagWord() const {
    return uint32_t{flags4} | uint32_t{flags5} << 8 | uint32_t{flags6} << 16 | uint32_t{modeClassClip} << 24;
  }
};

// ---- Inputs of program selection beyond the key -----------------------------------------
//
// The render state's side of program selection, and the T&L words it
// reads that the key does not hold, as one record. The context's update
// pass fills it from its vertex-processing block; tests fill it directly.
// Field by field, the names program selection gives them:
//   firstFlags      the render state's first flag byte
//   nextFlags       the byte after it ("next flag byte")
//   afterNextFlags  the byte after that
//   secondFlags     the render state's second flag byte
//   thirdFlags      the render state's third flag byte
//   selector        the render state's two-bit selector
//   pointSize       the render state's point size
//   elements        the element list: count, per element its flag byte, two
//                   bytes of four source nibbles and its first word; and
//                   elementFlags, the element flags
//   aux             the auxiliary record: first, second and third bytes,
//                   mode byte and flag
//   furtherWord     the further render-state word (bit 0 read)
//   selectorWord    the T&L selector word
//   lightMask       the T&L light mask (bit n: light number n)
//   indexWords      the three T&L index words of the light-pair key
//   entryCount      the T&L entry count of the counted fragment, with the
//                   entries' selector words
//   elementWords    the T&L word of each element (0-4)
// Every count and word is clamped to its table when read.
inline constexpr uint32_t kMaxProgramElements = 8;
inline constexpr uint32_t kMaxCountedEntries = 4;

struct TnlElement {
  uint8_t flags;       // bits 1-3 coordinate count (0: 4), 4 projected, 5, 7 pass-through
  uint8_t sources[2];  // four 4-bit source numbers, component 0 in the low nibble
  uint8_t unused;
  uint32_t firstWord;
};

struct TnlAuxRecord {
  uint8_t first;
  uint8_t second;
  uint8_t third;
  uint8_t mode;
  uint8_t flag;
};

struct TnlProgramInputs {
  uint8_t firstFlags;
  uint8_t nextFlags;
  uint8_t afterNextFlags;
  uint8_t secondFlags;
  uint8_t thirdFlags;
  uint8_t selector;
  float pointSize;
  uint32_t elementCount;
  uint32_t elementFlags;
  TnlElement elements[kMaxProgramElements];
  TnlAuxRecord aux;
  uint32_t furtherWord;
  uint32_t selectorWord;
  uint32_t lightMask;
  uint32_t indexWords[3];
  uint32_t entryCount;
  uint32_t entrySelectors[kMaxCountedEntries];
  uint32_t elementWords[kMaxProgramElements];

  uint32_t Elements() const { return elementCount < kMaxProgramElements ? elementCount : kMaxProgramElements; }
};

// ---- The fixed-function key --------------------------------------------------------------

struct FixedFunctionKey {
  uint32_t modePair;
  uint32_t transformWord;
  uint32_t vpMode;
  uint32_t flagWord;
  uint32_t modeWord;
  uint32_t selectorWord;
  uint32_t lightMask;
  uint32_t count;
  uint32_t lightCounts[3];
  uint32_t lightWord;
  uint32_t indexWords[3];
  uint32_t colourSources[8];
  uint32_t elementCount;
  uint32_t elementFirstWords[kMaxProgramElements];
  uint32_t elementWords[kMaxProgramElements];
  uint32_t selector;
  TnlAuxRecord aux;
  uint8_t firstFlags;
  uint8_t nextFlags;
  uint8_t afterNextFlags;
  uint32_t elementFlags;
  uint32_t furtherWord;
};

// ---- Programs ----------------------------------------------------------------------------

inline constexpr uint32_t kProgramEntries = 11;
inline constexpr uint32_t kSlotBytes = 1536;

struct VertexProgram : OsHeapObject {
  VertexProgram();
  ~VertexProgram();
  VertexProgram(const VertexProgram&) = delete;
  VertexProgram& operator=(const VertexProgram&) = delete;

  // Attaches code of size bytes; an owned buffer (from memAlloc) goes with
  // the record. A previously owned buffer is freed first.
  void SetCode(const uint8_t* buffer, uint32_t size, bool owns);

  void SetStartAddress(uint32_t address) { startAddress = address; }
  uint32_t GetStartAddress() const { return startAddress; }
  void SetLoadPending(uint32_t pending) { loadPending = pending; }
  uint32_t IsLoadPending() const { return loadPending; }

  // A context's hardware record names the program (taken and dropped by the
  // context's update pass): a named program is never evicted.
  void TakeReference() { ++references; }
  void DropReference() {
    if (references > 0) --references;
  }

  // Programs from client shader data are not built here: 1 (nothing built)
  // whatever it is given; 0 would be a program compiled from the data.
  static uint32_t BuildFromShader(VertexProgram* program, const void* shaderData, uint32_t flag,
                                  uint32_t count, const void* declaration);

  // The program key (kinds 0 and 2-6) from the state.
  void SetKey(uint32_t kind, const TnlProgramInputs& render, const TnlStateKey& tnl);
  uint32_t Key() const;
  void SetFixedFunctionKey(const TnlProgramInputs& render, const TnlStateKey& tnl);
  bool MatchesFixedFunctionKey(const TnlProgramInputs& render, const TnlStateKey& tnl) const;

  uint8_t permanent = 0;
  uint8_t resident = 0;
  uint8_t ownsCode = 1;
  uint8_t reclaimable = 1;
  uint8_t hasEntryTable = 0;
  // Used by the batch being built; its tag is sealed at the end of the
  // batch, and until then neither its slots nor the program are reclaimed.
  uint8_t inBatch = 0;
  uint32_t firstSlot = 0;
  uint32_t startAddress = 0;
  uint32_t loadPending = 1;
  uint32_t tag = 0;
  uint32_t codeSize = 0;
  const uint8_t* code = nullptr;
  uint32_t slotCount = 0;
  uint32_t entryOffsets[kProgramEntries] = {};
  uint32_t references = 0;
  uint64_t reserved[3] = {};
  uint32_t words[2] = {1, 4};
  VertexProgram* nextInBatch = nullptr;
  FixedFunctionKey ffKey = {};
  uint8_t key[4] = {};
};

inline constexpr uint32_t SlotCountOf(uint32_t codeSize) { return codeSize == 0 ? 1 : (codeSize - 1) / kSlotBytes + 1; }

// ---- Program lists -----------------------------------------------------------------------

// A circular doubly linked list with a sentinel; new programs go to the tail
// and searches run from the head, oldest first. The list owns its nodes,
// not the programs.
struct VertexProgramNode : OsHeapObject {
  VertexProgramNode* next = nullptr;
  VertexProgramNode* previous = nullptr;
  VertexProgram* program = nullptr;
};

class VertexProgramList {
 public:
  VertexProgramList();
  ~VertexProgramList();
  VertexProgramList(const VertexProgramList&) = delete;
  VertexProgramList& operator=(const VertexProgramList&) = delete;

  // False when no node could be allocated (nothing changes).
  bool Append(VertexProgram* program);
  // Unlinks the node (the program stays).
  void Unlink(VertexProgramNode* node);
  VertexProgramNode* Head() const { return sentinel_.next == &sentinel_ ? nullptr : sentinel_.next; }
  VertexProgramNode* Next(VertexProgramNode* node) const {
    return node->next == &sentinel_ ? nullptr : node->next;
  }
  uint32_t Count() const { return count_; }

 private:
  VertexProgramNode sentinel_;
  uint32_t count_ = 0;
};

// The recent fixed-function programs: five entries filled round-robin.
inline constexpr uint32_t kRecentPrograms = 5;
struct RecentPrograms {
  VertexProgram* programs[kRecentPrograms] = {};
  uint32_t index = 0;
};
