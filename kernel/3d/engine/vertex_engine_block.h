// The vertex engine's part of a context state: the fields the transform-
// and-lighting set-up computes for a draw (controls, routing, clipping,
// primitive set-up, the program slots and their start addresses) and the
// prebuilt packet images the state's writer copies into the stream. The
// render context creates it with its context state; the vertex engine fills
// it.
#pragma once

#include <stdint.h>

class PDEV;
struct VertexProgram;

// Bits of the block's flag byte.
inline constexpr uint8_t kVeFlagEngineCapable = 0x02;

// Bits of the dirty header's first byte: the guard band, the controls
// (vertex control, routing, fog nibble), the lighting programs and fetch
// flags, and the programs.
inline constexpr uint8_t kVeR1GuardBand = 0x10;
inline constexpr uint8_t kVeR1Controls = 0x20;
inline constexpr uint8_t kVeR1Lighting = 0x40;
inline constexpr uint8_t kVeR1Programs = 0x80;
// Bits of its second byte: the register fields (primitive set-up, cull,
// two-side, fill, clip and offset enables, specular, transform enable, the
// point and shadow programs), the program header, the light-combination
// program, the constants, the parameter blocks and the coordinate sets.
inline constexpr uint8_t kVeR2Registers = 0x01;
inline constexpr uint8_t kVeR2Header = 0x02;
inline constexpr uint8_t kVeR2LightCombination = 0x04;
inline constexpr uint8_t kVeR2Constants = 0x08;
inline constexpr uint8_t kVeR2Parameters = 0x10;
inline constexpr uint8_t kVeR2CoordSets = 0x80;

inline constexpr uint32_t kVeMainPrograms = 7;  // kinds 0 and 2 to 6 (slot 1 unused)
inline constexpr uint32_t kVeHeaderImageWords = 65;
inline constexpr uint32_t kVeBindingImageWords = 24;
inline constexpr uint32_t kVeRangeImageWords = 25;
inline constexpr uint32_t kVeRangeImages = 4;

struct VertexEngineProgramSlot {
  VertexProgram* program;
  uint32_t startAddress;
};

struct VertexEngineBlock {
  PDEV* owner;         // the device whose vertex engine it feeds, or null
  uint8_t flags;       // kVeFlag*
  uint8_t dirtyR1;     // the dirty header's two bytes: kVeR1*
  uint8_t dirtyR2;     // kVeR2*

  uint32_t vertexControl;   // bits 1, 2 and 5 controls, bits 8-11 coordinate outputs
  uint8_t fogNibble;
  uint32_t routing;         // four nibbles
  uint32_t clipWord;
  uint8_t clipEnable;       // two bits
  uint8_t setupA;           // three bits
  uint8_t setupB;           // four bits
  uint8_t offsetEnable;
  uint8_t cull;             // two bits each
  uint8_t twoSide;
  uint8_t fill;
  uint8_t transformEnable;
  uint8_t specular;
  uint8_t pointProgram;
  uint8_t shadowProgram;
  uint16_t guardBand[4];    // upper halves of four floats
  const void* constantImage;

  VertexEngineProgramSlot mainPrograms[kVeMainPrograms];
  VertexEngineProgramSlot transformPrograms[2];
  VertexEngineProgramSlot pointPrograms[2];
  VertexEngineProgramSlot clipProgram;
  VertexEngineProgramSlot lightingPrograms[2];
  VertexEngineProgramSlot lightCombination;
  const void* lightCombinationParameters;
  uint32_t lightCombinationCount;
  VertexEngineProgramSlot fixedProgram;     // fixed program 1 or 2
  const void* fixedParameters;
  uint32_t fixedParameterCount;
  uint8_t fogFallback;
  uint8_t clipFallback;
  uint32_t clipPlaneCount;   // user clip planes the clip program handles
  uint8_t pointSprite;
  uint32_t lineStipple;      // cleared while the shadow-volume program runs
  uint32_t coordSets;        // texture-coordinate sets the engine counts
  uint8_t coordFields[2];    // the two 4-bit coordinate fields
  uint32_t stageCount;

  uint32_t engineWord;
  uint32_t bindingSelectors[3];  // two selector bytes and a selector word
  uint32_t headerImage[1 + kVeHeaderImageWords];
  uint32_t bindingImages[3][1 + kVeBindingImageWords];
  uint32_t rangeImages[kVeRangeImages][kVeRangeImageWords];
  uint32_t rangeCount;
  uint32_t fenceImages[kVeRangeImages][kVeRangeImageWords];
  uint32_t fenceCount;
  uint8_t rangeFlag;
};
