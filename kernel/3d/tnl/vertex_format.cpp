#include "kernel/3d/tnl/vertex_format.h"

namespace {

constexpr uint32_t kAccepted = 0;
constexpr uint32_t kRefused = 1;

// Write mask of each element type on the flexible-vertex-format path.
constexpr uint32_t kWritesByType[kVtxTypeCount] = {
    0, kVtxX, kVtxXY, kVtxXYZ, kVtxXYZW,       // none, 1-4 floats
    kVtxX, kVtxX, kVtxX, kVtxX, kVtxX, kVtxX,  // 5-10
    kVtxX, kVtxX,                              // 11-12
    kVtxXY, kVtxXY,                            // 13-14
    kVtxX, kVtxX,                              // 15-16
    kVtxXY, kVtxXY,                            // 17-18
};

// The flexible vertex format's texture-set formats (2-bit field per set).
struct FvfTexFormat {
  uint32_t type, defaults, words;
};
constexpr FvfTexFormat kFvfTexFormats[4] = {
    {kVtxTypeFloat2, kVtxW, 2},  // 0: two floats
    {kVtxTypeFloat3, kVtxW, 3},  // 1: three floats
    {kVtxTypeFloat4, 0, 4},      // 2: four floats
    {kVtxTypeFloat1, kVtxW, 1},  // 3: one float
};

// A declaration's data types 0-7.
struct DeclDataType {
  uint32_t type, writes, defaults, words;
};
constexpr DeclDataType kDeclDataTypes[8] = {
    {kVtxTypeFloat1, kVtxX, kVtxW, 1},        // one float
    {kVtxTypeFloat2, kVtxXY, kVtxW, 2},       // two floats
    {kVtxTypeFloat3, kVtxXYZ, kVtxW, 3},      // three floats
    {kVtxTypeFloat4, kVtxXYZW, 0, 4},         // four floats
    {kVtxTypePackedColour, kVtxX, 0, 1},      // packed colour
    {kVtxTypeUByte4, kVtxX, 0, 1},            // four unsigned bytes
    {kVtxTypeShort2, kVtxX, kVtxW, 1},        // two 16-bit integers
    {kVtxTypeShort4, kVtxXY, 0, 2},           // four 16-bit integers
};

// Fixed-function declaration registers 0-16: element and usage code.
struct DeclRegister {
  uint32_t element, usage;
};
constexpr DeclRegister kDeclRegisters[] = {
    {kVtxElemPosition, kVtxUsagePosition},         // 0
    {kVtxElemBlendWeights, kVtxUsageBlendWeights},  // 1
    {kVtxElemBlendIndices, kVtxUsageBlendIndices},  // 2
    {kVtxElemNormal, kVtxUsageNormal},             // 3
    {kVtxElemPointSize, kVtxUsagePointSize},       // 4
    {kVtxElemDiffuse, kVtxUsageDiffuse},           // 5
    {kVtxElemSpecular, kVtxUsageSpecular},         // 6
    {16, kVtxUsageTexCoord}, {17, kVtxUsageTexCoord},  // 7-8: texture sets 0-1
    {18, kVtxUsageTexCoord}, {19, kVtxUsageTexCoord},  // 9-10
    {20, kVtxUsageTexCoord}, {21, kVtxUsageTexCoord},  // 11-12
    {22, kVtxUsageTexCoord}, {23, kVtxUsageTexCoord},  // 13-14
    {kVtxElemPosition2, kVtxUsageBlendWeights},    // 15: second position
    {kVtxElemNormal2, kVtxUsageBlendIndices},      // 16: second normal
};
constexpr uint32_t kDeclLastFixedRegister = 16;
constexpr uint32_t kDeclFirstTexRegister = 7;
constexpr uint32_t kDeclLastTexRegister = 14;

// The layout record's colour formats 0-6 (diffuse and specular).
struct LayoutFormat {
  uint32_t type, writes, words;
};
constexpr LayoutFormat kLayoutColours[7] = {
    {kVtxTypeNone, 0, 0},               // 0: absent
    {kVtxTypeFloat3, kVtxXYZ, 3},       // 1
    {kVtxTypeLayoutX, kVtxX, 1},        // 2
    {kVtxTypeLayoutXY, kVtxXY, 2},      // 3
    {kVtxTypeLayoutXY2, kVtxXY, 2},     // 4
    {kVtxTypeFloat4, kVtxXYZW, 4},      // 5
    {kVtxTypeNone, 0, 0},               // 6: absent, reads as 1, 1, 1, 1 for specular
};
constexpr uint32_t kLayoutDiffuseDefaults[7] = {kVtxW, kVtxW, 0, 0, 0, 0, kVtxXYZW};
constexpr LayoutFormat kLayoutPositions[4] = {
    {kVtxTypeFloat2, kVtxXY, 2},
    {kVtxTypeFloat3, kVtxXYZ, 3},
    {kVtxTypeFloat4, kVtxXYZW, 4},
    {kVtxTypeShort4, kVtxXY, 2},
};
constexpr uint32_t kLayoutPacked = 0xFF;  // an offset byte of 255: after the stream's last

}  // namespace

VertexFormat::VertexFormat() = default;

VertexFormat::~VertexFormat() = default;

void VertexFormat::Clear() {
  kind = kVtxFormatEmpty;
  fixedFunction = 1;
  for (uint32_t& w : source) w = 0;
  sourceSixth = 0;
  present = Presence{};
  for (uint32_t& c : texComponents) c = 0;
  blendWeightCount = 0;
  for (uint32_t& o : streamOffset) o = 0;
  built = 0;
  for (uint8_t& u : streamUsed) u = 0;
  for (VertexElement& e : elements) e = VertexElement{};
  constants.erase(constants.begin(), constants.end());
}

uint32_t VertexFormat::FromFvf(uint32_t code) {
  Clear();
  kind = kVtxFormatFvf;
  source[0] = code;
  present.wellKnown = code == kFvfWellKnown ? 1 : 0;
  Set(kVtxElemPosition, 0, 0, kVtxUsagePosition, kVtxTypeFloat3, kVtxW, kVtxXYZ);
  present.position = 1;
  const bool packedIndices = (code & kFvfLastWeightIndices) != 0;

  uint32_t next = 3;  // the next free word of stream 0
  uint32_t last = 0;  // offset of the last element placed
  uint32_t lastWords = 3;
  switch (code & kFvfPositionMask) {
    case kFvfPosition:
      if (packedIndices) return kRefused;
      break;
    case kFvfPreTransformed:
      if (packedIndices) return kRefused;
      Set(kVtxElemPosition, 0, 0, kVtxUsagePosition, kVtxTypeFloat4, 0, kVtxXYZW);
      present.preTransformed = 1;
      next = lastWords = 4;
      break;
    case 0x6:
    case 0x8:
    case 0xA:
    case 0xC: {
      const uint32_t weights = ((code & kFvfPositionMask) - 4) / 2;  // 1-4
      const uint32_t floats = packedIndices ? weights - 1 : weights;
      if (floats > 0) {
        Set(kVtxElemBlendWeights, next, 0, kVtxUsageBlendWeights, floats, 0, kWritesByType[floats]);
        last = next;
        lastWords = floats;
        next += floats;
      }
      if (packedIndices) {
        Set(kVtxElemBlendIndices, next, 0, kVtxUsageBlendIndices, kVtxTypePackedIndices, 0, kVtxX);
        present.blendIndices = 1;
        last = next;
        lastWords = 1;
        next += 1;
      }
      blendWeightCount = floats;
      present.blendWeights = 1;
      break;
    }
    default:
      return kRefused;
  }

  auto place = [&](uint32_t element, uint32_t usage, uint32_t type, uint32_t defaults,
                   uint32_t writes, uint32_t words) {
    Set(element, next, 0, usage, type, defaults, writes);
    last = next;
    lastWords = words;
    next += words;
  };
  if (code & kFvfNormal) {
    place(kVtxElemNormal, kVtxUsageNormal, kVtxTypeFloat3, kVtxW, kVtxXYZ, 3);
    present.normal = 1;
  } else if (!present.preTransformed) {
    Set(kVtxElemNormal, last, 0, kVtxUsageNormal, kVtxTypeNone, kVtxW, 0);
  }
  if (code & kFvfPointSize) {
    place(kVtxElemPointSize, kVtxUsagePointSize, kVtxTypeFloat1, 0, kVtxW, 1);
    present.pointSize = 1;
  }
  if (code & kFvfDiffuse) {
    place(kVtxElemDiffuse, kVtxUsageDiffuse, kVtxTypePackedColour, 0,
          kWritesByType[kVtxTypePackedColour], 1);
    present.diffuse = 1;
  } else {
    Set(kVtxElemDiffuse, last, 0, kVtxUsageDiffuse, kVtxTypeNone, kVtxXYZW, 0);
  }
  if (code & kFvfSpecular) {
    place(kVtxElemSpecular, kVtxUsageSpecular, kVtxTypePackedColour, 0,
          kWritesByType[kVtxTypePackedColour], 1);
    present.specular = 1;
  } else {
    Set(kVtxElemSpecular, last, 0, kVtxUsageSpecular, kVtxTypeNone, 0, 0);
  }
  const uint32_t sets = code >> kFvfTexCountShift & 0xF;
  if (sets > kVtxTexSetCount) return kRefused;  // the element table holds eight
  for (uint32_t i = 0; i < sets; ++i) {
    const FvfTexFormat& f = kFvfTexFormats[code >> (kFvfTexFormatShift + 2 * i) & 3];
    place(kVtxElemTexCoord0 + i, kVtxUsageTexCoord, f.type, f.defaults, kWritesByType[f.type],
          f.words);
    texComponents[i] = f.words;
    present.texCoord[i] = 1;
  }
  for (uint32_t i = sets; i < kVtxTexSetCount; ++i)
    Set(kVtxElemTexCoord0 + i, last, 0, kVtxUsageTexCoord, kVtxTypeNone, kVtxW, 0);
  built = 1;
  streamOffset[0] = (last + lastWords) * 4;
  return kAccepted;
}

uint32_t VertexFormat::FromDeclaration(const uint32_t* words, size_t count) {
  Clear();
  kind = kVtxFormatDeclaration;
  if (words == nullptr || count < kDeclHeaderWords) return kRefused;
  fixedFunction = words[2] == 0 ? 1 : 0;
  bool selected[kVtxStreamCount] = {};
  int stream = -1;  // none selected, or the selection ended by constants
  size_t at = kDeclHeaderWords;
  bool ended = false;
  while (!ended) {
    if (at >= count) return kRefused;  // no end token
    const uint32_t token = words[at++];
    switch (token >> kDeclTokenShift) {
      case kDeclNop:
        break;
      case kDeclStream: {
        const uint32_t s = token & 0xF;
        if ((token & kDeclFlagBit) != 0 || s >= kVtxStreamCount || selected[s]) return kRefused;
        selected[s] = true;
        stream = static_cast<int>(s);
        streamOffset[s] = 0;
        break;
      }
      case kDeclStreamData: {
        if (stream < 0) return kRefused;
        uint32_t& running = streamOffset[stream];
        if (token & kDeclFlagBit) {
          running += token >> 16 & 0xF;
          if (running > kVtxMaxOffsetWords) return kRefused;
          break;
        }
        const uint32_t reg = token & 0x1F;
        const uint32_t dataType = token >> 16 & 0xF;
        if (dataType >= 8) return kRefused;
        const DeclDataType& d = kDeclDataTypes[dataType];
        uint32_t element = reg, usage = reg, writes = d.writes;
        if (fixedFunction) {
          if (reg > kDeclLastFixedRegister) return kRefused;
          element = kDeclRegisters[reg].element;
          usage = kDeclRegisters[reg].usage;
          if (element == kVtxElemPointSize) writes = kVtxW;
          if (reg >= kDeclFirstTexRegister && reg <= kDeclLastTexRegister)
            texComponents[reg - kDeclFirstTexRegister] = dataType < 4 ? dataType + 1 : 0;
          switch (element) {
            case kVtxElemPosition: present.position = 1; break;
            case kVtxElemPosition2: present.position2 = 1; break;
            case kVtxElemBlendWeights: present.blendWeights = 1; break;
            case kVtxElemBlendIndices: present.blendIndices = 1; break;
            case kVtxElemNormal: present.normal = 1; break;
            case kVtxElemNormal2: present.normal2 = 1; break;
            case kVtxElemPointSize: present.pointSize = 1; break;
            case kVtxElemDiffuse: present.diffuse = 1; break;
            case kVtxElemSpecular: present.specular = 1; break;
            default: present.texCoord[element - kVtxElemTexCoord0] = 1; break;
          }
        } else if (reg >= kVtxElementCount) {
          return kRefused;
        }
        if (running + d.words > kVtxMaxOffsetWords) return kRefused;
        Set(element, running, static_cast<uint32_t>(stream), usage, d.type, d.defaults, writes);
        running += d.words;
        break;
      }
      case kDeclConstants: {
        const uint32_t n = token >> 25 & 0xF;
        const uint32_t first = token & 0x7F;
        if (count - at < size_t{n} * 4) return kRefused;  // constants past the end
        for (uint32_t i = 0; i < n; ++i) {
          VertexDeclConstant c;
          for (uint32_t w = 0; w < 4; ++w) c.value[w] = words[at++];
          c.reg = first + i;
          if (!constants.Insert(constants.end(), 1, c)) return kRefused;
        }
        stream = -1;  // stream data must follow a new selector
        break;
      }
      case kDeclEnd:
        ended = true;
        break;
      default:  // 3, 5 and 6
        return kRefused;
    }
  }
  for (uint32_t s = 0; s < kVtxStreamCount; ++s) {
    streamOffset[s] *= 4;
    streamUsed[s] = selected[s] ? 1 : 0;
  }
  if (fixedFunction) {
    // Absent normal and colours read their defaults at the first element's place.
    const uint32_t at0 = elements[0].Offset(), s0 = elements[0].Stream();
    if (!present.normal) Set(kVtxElemNormal, at0, s0, kVtxUsageNormal, kVtxTypeNone, kVtxW, 0);
    if (!present.diffuse)
      Set(kVtxElemDiffuse, at0, s0, kVtxUsageDiffuse, kVtxTypeNone, kVtxXYZW, 0);
    if (!present.specular) Set(kVtxElemSpecular, at0, s0, kVtxUsageSpecular, kVtxTypeNone, 0, 0);
  }
  built = 1;
  return kAccepted;
}

uint32_t VertexFormat::FromLayout(const uint32_t record[6]) {
  Clear();
  kind = kVtxFormatLayout;
  for (int i = 0; i < 5; ++i) source[i] = record[i];
  sourceSixth = record[5];
  const uint32_t formats = record[0], streams = record[1], texStreams = record[2];

  // Per stream: where its last attribute lies and how long it is, and the
  // furthest word any attribute reaches (the stride).
  uint32_t lastAt[kVtxStreamCount] = {}, lastWords[kVtxStreamCount] = {};
  uint32_t extent[kVtxStreamCount] = {};
  bool refused = false;
  auto place = [&](uint32_t element, uint32_t usage, uint32_t stream, uint32_t offsetByte,
                   uint32_t type, uint32_t defaults, uint32_t writes, uint32_t words) {
    uint32_t offset = offsetByte == kLayoutPacked ? lastAt[stream] + lastWords[stream] : offsetByte;
    if (words == 0) {  // absent: described, the stream untouched
      Set(element, offset > kVtxMaxOffsetWords ? 0 : offset, stream, usage, kVtxTypeNone,
          defaults, 0);
      return;
    }
    if (offset + words > kVtxMaxOffsetWords) {
      refused = true;
      return;
    }
    Set(element, offset, stream, usage, type, defaults, writes);
    lastAt[stream] = offset;
    lastWords[stream] = words;
    if (offset + words > extent[stream]) extent[stream] = offset + words;
    streamUsed[stream] = 1;
  };
  auto byteOf = [](uint32_t word, unsigned i) { return word >> (8 * i) & 0xFF; };

  const LayoutFormat& pos = kLayoutPositions[formats & 3];
  const uint32_t posStream = streams & 7;
  place(kVtxElemPosition, kVtxUsagePosition, posStream, byteOf(record[3], 0), pos.type,
        (formats & 3) < 2 ? kVtxW : 0, pos.writes, pos.words);
  present.position = 1;
  present.preTransformed = formats >> 11 & 1;

  switch (formats >> 2 & 3) {
    case 0:
      place(kVtxElemNormal, kVtxUsageNormal, streams >> 4 & 7, byteOf(record[3], 1), kVtxTypeNone,
            kVtxZ | kVtxW, 0, 0);
      break;
    case 1:
      place(kVtxElemNormal, kVtxUsageNormal, streams >> 4 & 7, byteOf(record[3], 1),
            kVtxTypeFloat3, kVtxW, kVtxXYZ, 3);
      present.normal = 1;
      break;
    default:
      return 1;
  }
  if (formats >> 28 & 1) {
    place(kVtxElemPointSize, kVtxUsagePointSize, posStream, kLayoutPacked, kVtxTypeFloat1, 0,
          kVtxW, 1);
    present.pointSize = 1;
  }
  if (formats >> 7 & 1)
    place(kVtxElemExtra3, kVtxUsagePointSize, streams >> 12 & 7, byteOf(record[3], 3),
          kVtxTypeFloat3, kVtxW, kVtxXYZ, 3);

  const uint32_t diffuse = formats >> 4 & 7, specular = formats >> 8 & 7;
  if (diffuse > 6 || specular > 6) return 1;
  const LayoutFormat& d = kLayoutColours[diffuse];
  place(kVtxElemDiffuse, kVtxUsageDiffuse, streams >> 8 & 7, byteOf(record[3], 2), d.type,
        kLayoutDiffuseDefaults[diffuse], d.writes, d.words);
  present.diffuse = d.words != 0 ? 1 : 0;
  const LayoutFormat& s = kLayoutColours[specular];
  place(kVtxElemSpecular, kVtxUsageSpecular, streams >> 16 & 7, byteOf(record[4], 0), s.type,
        specular == 6 ? kVtxXYZW : 0, s.writes, s.words);
  present.specular = s.words != 0 ? 1 : 0;

  switch (formats >> 29 & 3) {
    case 0:
      break;
    case 1:
      place(kVtxElemExtra1, kVtxUsagePosition, streams >> 28 & 7, byteOf(record[4], 3),
            kVtxTypeFloat1, 0, kVtxX, 1);
      present.extra1 = 1;
      break;
    default:
      return 1;
  }
  for (unsigned i = 0; i < 4; ++i) {
    const uint32_t f = formats >> (16 + 3 * i) & 7;
    if (f > 4) return 1;
    place(kVtxElemTexCoord0 + i, kVtxUsageTexCoord + i, texStreams >> (4 * i) & 7,
          byteOf(record[5], i), f, f < 4 ? kVtxW : 0, kWritesByType[f], f);
    texComponents[i] = f;
    present.texCoord[i] = f != 0 ? 1 : 0;
  }
  if (refused) return 1;
  for (uint32_t st = 0; st < kVtxStreamCount; ++st) streamOffset[st] = extent[st] * 4;
  built = 1;
  return kAccepted;
}
