// The vertex-processing group of a render state: what the client set for
// transform and lighting (matrices, lights, clip planes, point and blend
// state, material sources) with its dirty words, read and cleared by the
// transform-and-lighting set-up before a draw.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct LightRecord;

// A 4x4 matrix as the client sends it (floats as their bit patterns).
struct Matrix4Words {
  uint32_t m[16];
};

// Bits of the transform dirty word, by byte.
inline constexpr uint32_t kVxPrimitiveMode = 0x01;          // byte 0
inline constexpr uint32_t kVxMaterial = 0x02;               // constants 308-311 and 342-345 written
inline constexpr uint32_t kVxLight = 0x04;
inline constexpr uint32_t kVxTextureTransforms = 0x08;  // the coordinate sets' texture matrices
inline constexpr uint32_t kVxClipPlaneEnable = 0x10;
// The viewport, driver state 18, and the vertex shader: the set-up takes it
// as "the input layout may have changed" and selects the layout again.
inline constexpr uint32_t kVxViewport = 0x20;
// A change that asks for a pass but for no matrix work.
inline constexpr uint32_t kVxNoMatrixWork = 0x40;
inline constexpr uint32_t kVxFillMode = 0x80;
inline constexpr uint32_t kVxShadeMode = 0x01u << 8;         // byte 1
inline constexpr uint32_t kVxId16 = 0x02u << 8;
inline constexpr uint32_t kVxCullMode = 0x04u << 8;
inline constexpr uint32_t kVxDriver1 = 0x08u << 8;
inline constexpr uint32_t kVxDriver2 = 0x10u << 8;
inline constexpr uint32_t kVxLighting = 0x10u << 8;
inline constexpr uint32_t kVxAmbient = 0x20u << 8;
inline constexpr uint32_t kVxDriver5 = 0x20u << 8;
inline constexpr uint32_t kVxLocalViewer = 0x40u << 8;
inline constexpr uint32_t kVxNormalise = 0x80u << 8;
inline constexpr uint32_t kVxMaterialSource = 0x01u << 16;   // byte 2
inline constexpr uint32_t kVxVertexBlend = 0x02u << 16;
inline constexpr uint32_t kVxPoint = 0x04u << 16;
inline constexpr uint32_t kVxClipPlanes = 0x08u << 16;
inline constexpr uint32_t kVxTwoSide = 0x10u << 16;          // two-sided lighting and the cull it implies
inline constexpr uint32_t kVxTwoSideMode = 0x20u << 16;
inline constexpr uint32_t kVxScreenMapping = 0x40u << 16;
inline constexpr uint32_t kVxDepthBias = 0x01u << 24;        // byte 3
inline constexpr uint32_t kVxDriver27 = 0x02u << 24;
inline constexpr uint32_t kVxDriver13 = 0x04u << 24;
inline constexpr uint32_t kVxRectA = 0x10u << 24;
inline constexpr uint32_t kVxRectB = 0x20u << 24;
inline constexpr uint32_t kVxDepthRange = 0x40u << 24;
inline constexpr uint32_t kVxFloatPair = 0x80u << 24;

// Bits of the matrix dirty word.
inline constexpr uint32_t kMxViewWorld = 0x01;
inline constexpr uint32_t kMxProjection = 0x02;
inline constexpr uint32_t kMxTextureShift = 2;  // bits 2-9: texture matrices 0-7
inline constexpr uint32_t kMxTextures = 0xFFu << kMxTextureShift;

// Bits of the vertex flag word.
inline constexpr uint32_t kVfClipping = 1u << 2;
inline constexpr uint32_t kVfLocalViewer = 1u << 3;
inline constexpr uint32_t kVfNormalise = 1u << 4;
inline constexpr uint32_t kVfDepthBias = 1u << 5;
inline constexpr uint32_t kVfColourVertex = 1u << 6;
inline constexpr uint32_t kVfIndexedBlendShift = 7;
inline constexpr uint32_t kVfPointSprite = 1u << 12;
inline constexpr uint32_t kVfPointScale = 1u << 13;
inline constexpr uint32_t kVfDriver1 = 1u << 16;
inline constexpr uint32_t kVfDriver2 = 1u << 17;
inline constexpr uint32_t kVfDriver13 = 1u << 18;
inline constexpr uint32_t kVfDriver18 = 1u << 19;
inline constexpr uint32_t kVfDriver4 = 1u << 20;
inline constexpr uint32_t kVfDriver23 = 1u << 21;
inline constexpr uint32_t kVfDriver24 = 1u << 22;
inline constexpr uint32_t kVfDriver25 = 1u << 23;
inline constexpr uint32_t kVfLighting = 1u << 24;
inline constexpr uint32_t kVfTwoSide = 1u << 25;         // two-sided lighting asked for
inline constexpr uint32_t kVfPointPerVertex = 1u << 26;  // the size comes with each vertex
inline constexpr uint32_t kVfOffsetScaled = 1u << 27;    // the polygon-offset factor is scaled already
inline constexpr uint32_t kVfLineStipple = 1u << 28;     // line stipple asked for

// Bits of the vertex flags word.
inline constexpr uint32_t kVfwShaderLayout = 1u << 2;    // the layout key is the vertex shader's handle

inline constexpr uint32_t kMaxClipPlanes = 6;
inline constexpr uint32_t kWorldMatrices = 32;
inline constexpr uint32_t kTextureMatrices = 8;
inline constexpr uint32_t kFurtherMatrices = 3;
inline constexpr uint32_t kMaxEnabledLights = 12;

// Bits of the viewport group's dirty word: the depth value and format the
// polygon offset scales by, the screen mapping (origin and size, and the
// depth range), the scale factors the point sizes follow and the shadow
// byte the point-size step reads.
inline constexpr uint32_t kVpDepth = 1u << 1;
inline constexpr uint32_t kVpMapping = 1u << 5;
inline constexpr uint32_t kVpDepthRange = 1u << 6;
inline constexpr uint32_t kVpDepthFormat = 1u << 9;
inline constexpr uint32_t kVpScale = 1u << 10;
inline constexpr uint32_t kVpShadow = 1u << 11;
// The texture-coordinate group: four sets, each with a control word that
// holds the source set and the generation mode, and bit 0 of its second
// dirty word: the sets changed (analysis, routing, coordinate outputs and
// each set's texture matrix follow).
inline constexpr uint32_t kTexCoordSets = 4;
inline constexpr uint32_t kTcSourceShift = 3;
inline constexpr uint32_t kTcGenerationShift = 6;
inline constexpr uint32_t kTcControlFields = 0x1F8;
// Bits of its first dirty word: the flags byte (two vertex controls), the
// three values and the stage inputs the analysis reads.
inline constexpr uint32_t kTcFlags = 1u << 0;
inline constexpr uint32_t kTcValues = 1u << 1;
inline constexpr uint32_t kTcStageInputs = 3u << 2;
// Bits of its second dirty word: the sets, a bit the transform-and-lighting
// set-up does not follow, the sets' sources (analysis, routing and texture
// matrices follow), their texture matrices, and their stage arguments.
inline constexpr uint32_t kTcSets = 1u << 0;
inline constexpr uint32_t kTcSetsUnfollowed = 1u << 1;
inline constexpr uint32_t kTcSetSources = 1u << 2;
inline constexpr uint32_t kTcSetMatrices = 1u << 3;
inline constexpr uint32_t kTcSetArguments = 3u << 4;
// Bit 0 of the fog group's dirty word: the vertex fog changed.
inline constexpr uint32_t kVfgFog = 1u << 0;
// Bits of the third group's dirty word: its value for constant 333, and
// what the point size and the programs follow.
inline constexpr uint32_t kThConstant = 1u << 0;
inline constexpr uint32_t kThPointSize = 1u << 3;

// A group record the transform-and-lighting set-up keeps per concern, each
// with its dirty word first.
struct VertexTexCoordGroup {
  uint32_t dirty;   // the first dirty word (kTcFlags, kTcValues, kTcStageInputs)
  uint32_t dirty1;  // the second (kTcSets and the sets' bits)
  uint32_t setCount;
  struct {
    uint32_t control;          // source bits 3-5, generation bits 6-8, arguments bits 16-31
    uint32_t transformFlags;   // count bits 0-2, 0x100 projected
  } sets[kTexCoordSets];
  uint8_t flags;
  uint32_t values[3];
};
struct VertexFogGroup {
  uint32_t dirty;
  uint8_t vertexFog;           // fog computed per vertex from the second range
  uint8_t firstRange;
  uint32_t startEnd[2][2];     // floats as their bit patterns
  uint32_t density;
  uint32_t mode;               // 1 exponential, 2 exponential squared, 3 linear
};
struct VertexThirdGroup {
  uint32_t dirty;
  uint32_t constant333y;
  uint32_t shadow;
};
struct VertexViewportGroup {
  uint32_t dirty;              // kVp*
  uint32_t depthFormat;
  uint32_t origin[2];          // signed
  uint32_t size[2];
  uint32_t targetOrigin[2];
  uint32_t scale[2];           // floats: 1.0 until a target scales its coordinates
  uint32_t depth;
  uint8_t shadow;
};

struct VertexProcessingBlock {
  // The three dirty words: transform (four bytes by concern), matrices
  // (kMx*) and world matrices (one bit each).
  uint32_t transformDirty;
  uint32_t matrixDirty;
  uint32_t worldDirty;
  uint32_t transformDirtyCopy;  // cleared by the set-up when it has taken the changes

  Matrix4Words model;           // transform 1
  Matrix4Words view;            // transform 2
  Matrix4Words projection;      // transform 3
  Matrix4Words further[kFurtherMatrices];  // transforms 4 to 6
  Matrix4Words world[kWorldMatrices];      // transforms 256 to 287
  Matrix4Words texture[kTextureMatrices];  // transforms 16 to 23
  uint8_t projectionChanged;

  uint32_t flags;               // kVf*
  uint32_t control;             // primitive kind bits 0-3, fill 4-5, shade 6-7; bit 0 the stamp bit
  uint8_t controlByte;          // bit 1: render state 16
  uint32_t cullMode;
  uint32_t twoSideMode;
  uint32_t tnlMode;             // vertex-blend mode in bits 14-16
  uint32_t blendFlags;
  uint32_t tweenFactor;
  uint8_t clipPlaneEnable;      // bits 0-5
  uint32_t clipPlanes[kMaxClipPlanes][4];
  uint32_t viewport[6];
  uint32_t layout[6];
  uint32_t vertexShader;
  float ambient[4];
  uint32_t factor;
  uint32_t pointSize, pointMin, pointMax;
  uint32_t pointScale[3];
  uint32_t lineWidth;
  uint16_t lineStippleFactor;
  float depthBias;              // the client's value and a quarter of it
  float depthBiasQuarter;
  uint32_t depthBiasWords[2];   // driver states 21 and 22
  uint32_t materialSources;     // diffuse, specular, ambient, emissive: 2 bits each
  uint32_t materialSourcesB;    // the second set the mode states write
  uint32_t driverWord27;
  uint32_t rectA[4];
  uint32_t rectB[4];
  uint32_t depthRange[2];
  uint32_t floatPair[2];
  uint8_t enabledLightCount;    // 4 bits
  uint32_t enabledLights[kMaxEnabledLights];
  // The render state's light records by index (null: none), and the
  // number of indices.
  LightRecord* const* lightTable;
  uint32_t lightTableSize;
  uint32_t vertexFlags;         // kVfw*
  // The pixel pipeline's shadow mode (non-zero while on), linked by the
  // render state; null reads as off.
  const uint32_t* pixelShadowMode;

  VertexTexCoordGroup texCoords;
  VertexFogGroup fog;
  VertexThirdGroup third;
  VertexViewportGroup viewportGroup;
};
