// The description of a vertex's attributes: for every attribute the input
// stream it lies in, its offset there, its data type and the defaults of
// the components it does not supply, in one fixed table of elements. Built
// from a flexible-vertex-format code, a stream declaration or a compact
// layout record; each answers 0 when built and 1 when the input is refused
// (the caller then discards the partly filled format).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/otl_vector.h"

// Element data types. The numbers index the fetch layout's type table
// (format code and component count), so the names say what the fetch
// makes of each; the types no input path here produces keep their number.
enum VertexElementType : uint32_t {
  kVtxTypeNone = 0,
  kVtxTypeFloat1 = 1,
  kVtxTypeFloat2 = 2,
  kVtxTypeFloat3 = 3,
  kVtxTypeFloat4 = 4,
  kVtxTypeUByte4 = 5,          // four unsigned bytes
  kVtxType6 = 6,               // engine format 5, one component
  kVtxTypeLayoutX = 7,         // layout colour format 2: one word, x
  kVtxTypePackedColour = 8,
  kVtxTypePackedIndices = 9,   // packed blend indices
  kVtxType10 = 10,             // engine format 7, one component
  kVtxTypeShort2 = 11,         // two 16-bit integers
  kVtxType12 = 12,             // engine format 11, one component
  kVtxTypeShort4 = 13,         // four 16-bit integers
  kVtxTypeLayoutXY = 14,       // layout colour format 3: xy
  kVtxType15 = 15,
  kVtxType16 = 16,
  kVtxType17 = 17,
  kVtxTypeLayoutXY2 = 18,      // layout colour format 4: xy
  kVtxTypeCount = 19,
};

// Usage codes of the element word.
enum VertexUsage : uint32_t {
  kVtxUsagePosition = 0,
  kVtxUsageBlendWeights = 1,  // the second position for declaration register 15
  kVtxUsageBlendIndices = 2,  // the second normal for declaration register 16
  kVtxUsageNormal = 3,
  kVtxUsagePointSize = 4,
  kVtxUsageDiffuse = 5,
  kVtxUsageSpecular = 6,
  kVtxUsageTexCoord = 7,
};

// Element indexes by attribute.
enum VertexElementIndex : uint32_t {
  kVtxElemPosition = 0,
  kVtxElemPosition2 = 1,
  kVtxElemBlendWeights = 2,
  kVtxElemBlendIndices = 3,
  kVtxElemNormal = 4,
  kVtxElemNormal2 = 5,
  kVtxElemExtra3 = 6,  // the layout path's extra three-float attribute
  kVtxElemPointSize = 7,
  kVtxElemDiffuse = 8,
  kVtxElemSpecular = 9,
  kVtxElemExtra1 = 10,  // the layout path's extra one-float attribute
  kVtxElemTexCoord0 = 16,
};

inline constexpr unsigned kVtxElementCount = 24;
inline constexpr unsigned kVtxStreamCount = 8;
inline constexpr unsigned kVtxTexSetCount = 8;
// Offsets are held in 8 bits of the element word, in 32-bit words.
inline constexpr uint32_t kVtxMaxOffsetWords = 255;

// Component bits of the default and write masks.
inline constexpr uint32_t kVtxX = 1, kVtxY = 2, kVtxZ = 4, kVtxW = 8;
inline constexpr uint32_t kVtxXY = 3, kVtxXYZ = 7, kVtxXYZW = 15;

// The element word's fields.
struct VertexElement {
  static constexpr uint32_t kOffsetMask = 0xFF;
  static constexpr unsigned kStreamShift = 8, kUsageShift = 11, kTypeShift = 15;
  static constexpr unsigned kDefaultShift = 20, kWriteShift = 24;
  static constexpr uint32_t kDescribed = 1u << 30;

  uint32_t word = 0;
  uint32_t reserved = 0;

  static uint32_t Make(uint32_t offset, uint32_t stream, uint32_t usage, uint32_t type,
                       uint32_t defaults, uint32_t writes) {
    return (offset & kOffsetMask) | (stream & 7) << kStreamShift | (usage & 15) << kUsageShift |
           (type & 31) << kTypeShift | (defaults & 15) << kDefaultShift |
           (writes & 15) << kWriteShift | kDescribed;
  }
  uint32_t Offset() const { return word & kOffsetMask; }
  uint32_t Stream() const { return word >> kStreamShift & 7; }
  uint32_t Usage() const { return word >> kUsageShift & 15; }
  uint32_t Type() const { return word >> kTypeShift & 31; }
  uint32_t Defaults() const { return word >> kDefaultShift & 15; }
  uint32_t Writes() const { return word >> kWriteShift & 15; }
  bool Described() const { return (word & kDescribed) != 0; }
};

// One constant a declaration carries: four words for a register.
struct VertexDeclConstant {
  uint32_t value[4];
  uint32_t reg;
};

// What the format was built from.
enum VertexFormatKind : uint32_t {
  kVtxFormatEmpty = 0,
  kVtxFormatLayout = 1,
  kVtxFormatFvf = 2,
  kVtxFormatDeclaration = 3,
};

// Codes of the flexible vertex format.
inline constexpr uint32_t kFvfPositionMask = 0xE;
inline constexpr uint32_t kFvfPosition = 0x2;
inline constexpr uint32_t kFvfPreTransformed = 0x4;
inline constexpr uint32_t kFvfNormal = 0x10;
inline constexpr uint32_t kFvfPointSize = 0x20;
inline constexpr uint32_t kFvfDiffuse = 0x40;
inline constexpr uint32_t kFvfSpecular = 0x80;
inline constexpr uint32_t kFvfTexCountShift = 8;
inline constexpr uint32_t kFvfLastWeightIndices = 0x1000;
inline constexpr uint32_t kFvfTexFormatShift = 16;
inline constexpr uint32_t kFvfWellKnown = 0x1C4;

// Declaration tokens: the type in bits 29-31.
enum VertexDeclToken : uint32_t {
  kDeclNop = 0,
  kDeclStream = 1,
  kDeclStreamData = 2,
  kDeclConstants = 4,
  kDeclEnd = 7,
};
inline constexpr unsigned kDeclTokenShift = 29;
inline constexpr uint32_t kDeclFlagBit = 1u << 28;  // selector: refused; data: a skip
// Words before the tokens: two the reader does not use and the program word.
inline constexpr size_t kDeclHeaderWords = 3;

class VertexFormat {
 public:
  VertexFormat();
  virtual ~VertexFormat();
  VertexFormat(const VertexFormat&) = delete;
  VertexFormat& operator=(const VertexFormat&) = delete;

  uint32_t FromFvf(uint32_t code);
  // `words` holds `count` 32-bit words: the declaration's three leading
  // words, then its tokens up to the end token.
  uint32_t FromDeclaration(const uint32_t* words, size_t count);
  uint32_t FromLayout(const uint32_t record[6]);

  // Presence flags, one byte each.
  struct Presence {
    uint8_t wellKnown;
    uint8_t preTransformed;
    uint8_t position;
    uint8_t position2;
    uint8_t normal;
    uint8_t normal2;
    uint8_t blendWeights;
    uint8_t blendIndices;  // or: the last weight packed as indices
    uint8_t pointSize;
    uint8_t diffuse;
    uint8_t specular;
    uint8_t texCoord[kVtxTexSetCount];
    uint8_t extra1;         // element 10
    uint8_t element11to14[4];
  };

  uint32_t kind = kVtxFormatEmpty;
  uint32_t fixedFunction = 1;
  uint32_t source[5] = {};  // the code, or the layout record's first five words
  uint32_t sourceSixth = 0;
  uint32_t further[3] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  uint32_t furtherZero = 0;
  Presence present = {};
  uint32_t texComponents[kVtxTexSetCount] = {};
  uint32_t blendWeightCount = 0;
  // While building: the running size of each stream in words; once built,
  // each stream's stride in bytes.
  uint32_t streamOffset[kVtxStreamCount] = {};
  uint8_t built = 0;
  uint8_t streamUsed[kVtxStreamCount] = {};
  VertexElement elements[kVtxElementCount] = {};
  Otl::Vector<VertexDeclConstant> constants;

 private:
  void Clear();
  void Set(uint32_t index, uint32_t offset, uint32_t stream, uint32_t usage, uint32_t type,
           uint32_t defaults, uint32_t writes) {
    elements[index].word = VertexElement::Make(offset, stream, usage, type, defaults, writes);
    elements[index].reserved = 0;
  }
};
