// The render state of one render context: the client's render-state,
// driver-state, texture-stage and sampler values, stored by compare-and-
// store setters that mark the dirty bits of the state group each value
// feeds, and applied before every draw by walking the dirty groups in one
// fixed order. A failed step makes the draw emit nothing and keeps every
// dirty bit, so the next draw retries.
//
// Every id, stage and state index here comes from a client's token stream:
// each is bounded before it indexes anything.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <utility>

#include "kernel/3d/render/pixel_pipeline_state.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"

struct RenderContext3d;
struct RenderState3d;
struct VecConstShadow;
class StateBlock;
class StateBlockTable;

inline constexpr uint32_t kRenderStateIds = 257;      // ids 0 to 256
inline constexpr uint32_t kRenderStateWords = (kRenderStateIds + 63) / 64;  // a bit per id
inline constexpr uint32_t kTranslatedStateIds = 171;  // ids 1 to 171 feed the groups
inline constexpr uint32_t kLockControlFirst = 257;
inline constexpr uint32_t kLockControlLast = 512;
inline constexpr uint32_t kDriverStateIds = 29;       // ids 0 to 28
inline constexpr uint32_t kStateStages = 10;
inline constexpr uint32_t kStageStates = 28;
inline constexpr uint32_t kFactorStages = 8;          // stages the texture factor reaches
// Sampler states 0 to 10 of each stage; state 10 is stored only.
inline constexpr uint32_t kSamplerStates = 11;
inline constexpr uint32_t kModeStateLast = 5;
inline constexpr uint32_t kStippleRows = 32;
inline constexpr uint32_t kStreams = 8;
// Light indices a client may name; each names one record.
inline constexpr uint32_t kMaxLightIndex = 255;
inline constexpr uint32_t kConstRingRecords = 42;
inline constexpr uint32_t kTargetStatuses = 5;
// Lights that may be on at once.
inline constexpr uint32_t kActiveLights = 12;

// The render states the groups follow, by the client's id; the ids between
// and after them (up to 256) are stored only.
enum RenderStateId : uint32_t {
  kRsIdStage0Texture = 1,
  kRsIdAntialias = 2,
  kRsIdStage0Address = 3,  // U and V together
  kRsIdWrapU = 5,
  kRsIdWrapV = 6,
  kRsIdDepthEnable = 7,
  kRsIdFillMode = 8,
  kRsIdShadeMode = 9,
  kRsIdLinePattern = 10,  // the line-stipple word, to the stipple, pixel and vertex groups
  kRsIdRasterOp = 12,
  kRsIdPlaneMask = 13,
  kRsIdDepthWrite = 14,
  kRsIdAlphaTestEnable = 15,
  kRsIdVertexControlBit1 = 16,
  kRsIdStage0MagFilter = 17,
  kRsIdStage0MinMipFilter = 18,
  kRsIdSrcBlend = 19,
  kRsIdDstBlend = 20,
  kRsIdTextureBlendPreset = 21,
  kRsIdCullMode = 22,
  kRsIdDepthFunc = 23,
  kRsIdAlphaRef = 24,
  kRsIdAlphaFunc = 25,
  kRsIdDither = 26,
  kRsIdBlendEnable = 27,
  kRsIdFogEnable = 28,
  kRsIdSpecularEnable = 29,
  kRsIdFogColour = 34,
  kRsIdFogTableMode = 35,
  kRsIdFogStart = 36,
  kRsIdFogEnd = 37,
  kRsIdFogDensity = 38,
  kRsIdStippleEnable = 39,
  kRsIdColourKeyEnable = 41,
  kRsIdStage0Border = 43,
  kRsIdStage0AddressU = 44,
  kRsIdStage0AddressV = 45,
  kRsIdStage0LodBias = 46,
  kRsIdDepthBias = 47,
  kRsIdRangeFog = 48,
  kRsIdStage0Anisotropy = 49,
  kRsIdStencilEnable = 52,
  kRsIdStencilFail = 53,
  kRsIdStencilDepthFail = 54,
  kRsIdStencilPass = 55,
  kRsIdStencilFunc = 56,
  kRsIdStencilRef = 57,
  kRsIdStencilMask = 58,
  kRsIdStencilWriteMask = 59,
  kRsIdTextureFactor = 60,
  kRsIdTargetMode = 62,
  kRsIdStippleRow0 = 64,  // rows 0-31: ids 64-95
  kRsIdWrap0 = 128,       // the wrap flags of coordinate sets 0-7: ids 128-135
  kRsIdClipping = 136,
  kRsIdLighting = 137,
  kRsIdAmbient = 139,
  kRsIdFogVertexMode = 140,
  kRsIdColourVertex = 141,
  kRsIdLocalViewer = 142,
  kRsIdNormalise = 143,
  kRsIdColourKeyBlend = 144,
  kRsIdDiffuseSource = 145,
  kRsIdSpecularSource = 146,
  kRsIdAmbientSource = 147,
  kRsIdEmissiveSource = 148,
  kRsIdVertexBlend = 151,
  kRsIdClipPlaneEnable = 152,
  kRsIdPointSize = 154,
  kRsIdPointSizeMin = 155,
  kRsIdPointSprite = 156,
  kRsIdPointScale = 157,
  kRsIdPointScaleA = 158,
  kRsIdPointScaleB = 159,
  kRsIdPointScaleC = 160,
  kRsIdMultisample = 161,
  kRsIdPointSizeMax = 166,
  kRsIdIndexedBlend = 167,
  kRsIdColourWriteMask = 168,
  kRsIdTweenFactor = 170,
  kRsIdBlendOp = 171,
};

// ---- Dirty bits --------------------------------------------------------------------------------

// Raster group.
inline constexpr uint32_t kRsTargetGone = 0x01;
inline constexpr uint32_t kRsDither = 0x02;
inline constexpr uint32_t kRsColourWriteMask = 0x04;
inline constexpr uint32_t kRsPlaneMask = 0x08;
inline constexpr uint32_t kRsRasterOp = 0x10;
inline constexpr uint32_t kRsAntialias = 0x20;
inline constexpr uint32_t kRsAlphaTest = 0x40;
inline constexpr uint32_t kRsBlend = 0x80;
inline constexpr uint32_t kRsFloat4A = 0x100;
inline constexpr uint32_t kRsTargetMode = 0x200;
inline constexpr uint32_t kRsPrimitiveMode = 0x400;
// Depth-stencil group.
inline constexpr uint32_t kDsTargetGone = 0x01;
inline constexpr uint32_t kDsDepth = 0x04;
inline constexpr uint32_t kDsStencil = 0x08;
inline constexpr uint32_t kDsTargetMode = 0x40;
// Fog group.
inline constexpr uint32_t kFgColour = 0x01;
inline constexpr uint32_t kFgEnable = 0x02;
inline constexpr uint32_t kFgTable = 0x04;
// Pixel-pipeline group.
inline constexpr uint32_t kPxProgram = 0x01;
inline constexpr uint32_t kPxStageRecords = 0x04;
inline constexpr uint32_t kPxStages = 0x08;
inline constexpr uint32_t kPxSpecular = 0x10;
inline constexpr uint32_t kPxWrap = 0x20;
inline constexpr uint32_t kPxColourKey = 0x40;
inline constexpr uint32_t kPxId10 = 0x81;
// Stipple group.
inline constexpr uint32_t kStRows = 0x01;
inline constexpr uint32_t kStId10 = 0x02;
// A texture-stage entry's dirty word (bytes 1 and 2).
inline constexpr uint32_t kSgTexture = 0x08u << 8;
inline constexpr uint32_t kSgOps = 0x10u << 8;
inline constexpr uint32_t kSgPresence = 0x10u << 8;
inline constexpr uint32_t kSgBump = 0x20u << 8;
inline constexpr uint32_t kSgCoordIndex = 0x40u << 8;
inline constexpr uint32_t kSgAddress = 0x80u << 8;
inline constexpr uint32_t kSgBorder = 0x01u << 16;
inline constexpr uint32_t kSgFilter = 0x02u << 16;
inline constexpr uint32_t kSgLod = 0x04u << 16;
inline constexpr uint32_t kSgTexGen = 0x08u << 16;
inline constexpr uint32_t kSgStipple = 0x10u << 16;  // summary only: the stipple enable
inline constexpr uint32_t kSgFactor = 0x20u << 16;
// Stream flags.
inline constexpr uint8_t kSfIndexSource = 0x01;
inline constexpr uint8_t kSfPrimitiveType = 0x02;
inline constexpr uint8_t kSfElements = 0x04;
inline constexpr uint8_t kSfNoDrawChanged = 0x08;
inline constexpr uint8_t kSfIndexSize = 0x10;

// Sub-block flag bits Apply reads.
inline constexpr uint32_t kRsubFixedA = 0x01;
inline constexpr uint32_t kRsubBinding = 0x04;
inline constexpr uint32_t kRsubFixedB = 0x08;
inline constexpr uint32_t kDsubBinding = 0x01;
inline constexpr uint32_t kDsubFixed = 0x02 | 0x20 | 0x40 | 0x200 | 0x400 | 0x800;
inline constexpr uint32_t kDsubProgram = 0x04;
inline constexpr uint32_t kDsubClip = 0x40;
inline constexpr uint8_t kVsubByte1Control = 0x10;
inline constexpr uint8_t kVsubLayoutMask = 0x07;
inline constexpr uint8_t kVsubLayoutElements = 0x01;
inline constexpr uint8_t kVsubLayoutChanged = 0x04;
inline constexpr uint8_t kVsubLayoutBinding = 0x08;
inline constexpr uint8_t kPsubTargetTag = 0x20;     // byte 92
inline constexpr uint8_t kPsubTargetKind2 = 0x40;   // byte 92

// The engine control word and its parts.
inline constexpr uint32_t kControlWordBase = 0x860E00;
inline constexpr uint32_t kControlTargetTag = 0x80000;
inline constexpr uint32_t kControlTargetKind = 0x200000;
inline constexpr uint32_t kControlVertexBit5 = 1u << 22;

// ---- Records -----------------------------------------------------------------------------------

struct RasterGroup {
  uint32_t dirty;
  uint32_t stamp;
  uint32_t dither;
  uint32_t colourWriteMask;
  uint32_t planeMask;
  uint32_t rasterOp;
  uint32_t antialias;
  uint8_t alphaTestEnable;
  uint32_t alphaRef;
  uint32_t alphaFunc;
  uint32_t srcBlend[2];   // colour and alpha slots
  uint32_t dstBlend[2];
  uint8_t blendEnable;
  uint32_t blendOp;
  uint32_t blendConstants[4];
  uint32_t float4A[4];
  uint32_t targetMode;
  uint32_t primitiveCode;
};

struct RasterSubBlock {
  uint32_t flags;
  uint32_t words[5];
  uint32_t target;        // the target word of the engine control word
};
static_assert(offsetof(RasterSubBlock, target) == 24);

struct DepthStencilGroup {
  uint32_t dirty;
  uint32_t stamp;
  uint32_t depthEnable;
  uint32_t depthWrite;
  uint32_t depthFunc;
  uint32_t stencil[8];    // ids 52 to 59
  uint32_t targetMode;
};

// The depth-stencil sub-block is the 83-byte factor record its defaults
// loader fills: the flag word and the two clip words lead it, the factor
// fields follow as the loader packs them.
struct DepthStencilSubBlock {
  uint32_t flags;
  uint32_t clip[2];
  uint8_t factors[71];
};
static_assert(offsetof(DepthStencilSubBlock, factors) == 12);

struct FogGroup {
  uint32_t dirty;
  uint32_t stamp;
  uint32_t colour;
  uint8_t enables;        // bit 0 fog enable, bit 1 range fog
  uint32_t tableMode;
  uint32_t start;
  uint32_t end;
  uint32_t density;
  uint32_t vertexMode;
  uint32_t driverWord;    // driver state 26
};

struct FogValues {
  uint32_t flags;
};

// One argument set of a pipeline stage: an operation and three arguments
// (index 255: none).
struct StageArgumentSet {
  uint32_t operation;
  uint32_t word4;
  uint32_t word8;
  uint32_t word12;
  struct {
    uint32_t index;
    uint32_t value[2];
  } args[3];
};
static_assert(sizeof(StageArgumentSet) == 52);

// A stage of the client's pipeline record: two argument sets, each with its
// enable word after it.
struct StageRecord {
  StageRecord();
  StageArgumentSet colour;
  uint32_t colourEnable;
  StageArgumentSet alpha;
  uint32_t alphaEnable;
  uint32_t words[9];
};
static_assert(sizeof(StageRecord) == 148);
static_assert(offsetof(StageRecord, alpha) == 56);
static_assert(offsetof(StageRecord, alphaEnable) == 108);

// A texture of the pixel-pipeline record: present when its first word is
// non-zero; bound directly when its second word (a byte) is 1; up to four
// dependent textures that take its unit's parameters; its flag word (bit
// 0 goes into the pixel-program key) and a status word. In descriptions of
// kind 1 (a client program with sampler entries) word 2 is the sampler
// kind (0-3) and word 3 the sampler's parameter word.
struct PipelineTextureRecord {
  PipelineTextureRecord();
  uint32_t presence;
  uint8_t bound;
  uint8_t pad[3];
  uint32_t dependentCount;   // at most 4 are read
  uint32_t dependents[4];
  uint32_t flags;
  uint32_t status;           // 0: the unit's first status byte is set
};
static_assert(sizeof(PipelineTextureRecord) == 36);

// The pixel-pipeline record a client loads whole (token 69), and the
// description pixel programs are built from: the stage count, ten stages,
// the kind word (1: a client program with sampler entries), the texture
// count and four textures.
inline constexpr uint32_t kPipelineStages = 10;
inline constexpr uint32_t kPipelineTextures = 4;
struct PipelineRecord {
  uint32_t count;
  StageRecord stages[kPipelineStages];
  uint32_t kind;
  uint32_t textureCount;
  PipelineTextureRecord textures[kPipelineTextures];
};
static_assert(sizeof(PipelineRecord) == 1636);
static_assert(offsetof(PipelineRecord, kind) == 1484);

struct PixelGroup {
  uint32_t dirty;
  uint32_t stamp;
  uint32_t stageSummary;  // the OR of the stages' dirty words
  uint8_t control;        // bit 0 specular, bit 1 colour key
  uint8_t colourKeyBlend;
  uint8_t stippleEnable;
  uint32_t wrap;          // 3 bits per coordinate set, 8 sets
  uint32_t id10;
  uint8_t programSelector;  // driver state 19
  uint32_t constantBlock;   // driver state 20 plus one
  uint32_t programMode;
  uint8_t stageRecords[kPipelineStages][2][16];
  uint32_t pixelConstants[2][32][4];  // token 72: bank, index
  uint32_t shadowMode;      // non-zero while the pipeline draws in its shadow mode
};

// The render context's texture-unit binding record, which the committed
// pixel program hands over: two change words (the first: groups of the
// binding changed; the second: the binding flags that changed), the
// binding flags in force (bit 0: a combiner stage reads register 16, bit
// 1: register 17) and the target flags.
struct PipelineSubBlock {
  uint32_t first;
  uint32_t second;
  uint32_t bindingFlags;
  uint8_t body[80];
  uint8_t control;        // kPsub*
  uint8_t tail[3];
};
static_assert(offsetof(PipelineSubBlock, control) == 92);

struct StippleGroup {
  uint32_t dirty;
  uint32_t rows[kStippleRows];
  uint32_t id10;          // the line-stipple word: low 16 bits pattern, high 16 bits repeat
};

struct VertexSubBlock {
  uint8_t bytes[5];       // byte 1 bit 0x10, byte 3 control bits, byte 4 layout
  uint8_t vertexProgram;
  uint8_t programKind;
  uint32_t elementWord;
  uint32_t fetchWord;
};

// What a stage's texture word holds: a client value, or the handle of a
// texture in the client's resource table (type 1).
inline constexpr uint32_t kStageTextureValue = 0;
inline constexpr uint32_t kStageTextureHandle = 1;

struct TextureStage {
  uint32_t dirty;
  uint32_t texture;       // the bound texture: a value or a handle
  uint32_t textureKind;   // kStageTexture*
  uint8_t colourOp, colourArg1, colourArg2, colourArg0;
  uint8_t alphaOp, alphaArg1, alphaArg2, alphaArg0;
  uint8_t resultArg;
  uint32_t bumpMatrix[4];
  uint8_t coordIndex;     // 3 bits
  uint8_t texGen;         // 2 bits
  uint8_t addressU, addressV, addressW;
  uint32_t border;
  uint8_t magFilter, minFilter, mipFilter, anisotropy;
  uint32_t lodBias;
  uint32_t maxMipLevel;
  uint32_t bumpScale;
  uint32_t bumpOffset;
  uint32_t transformFlags;
  uint8_t samplerFields[5];   // sampler states 1 to 5
  uint32_t samplerWords[3];   // sampler states 6 to 8
  uint8_t presetFlag;
  float factor[4];
};

// A stream source as its binder gives it: a kind, then the kind's fields.
// Kind 0 (a resource buffer): handle, stride, flag. Kind 1 (an address
// word): address, stride, size, flag. Kind 2 (a kernel pointer): the 64-bit
// pointer, stride, vertex count. The index source: kind, an 8-byte value
// (kind 0: handle and index size; 1: address; 2: the pointer), the index
// size of kinds 1 and 2, and the byte size of a kernel pointer's data.
struct StreamBinding {
  uint32_t kind;
  uint32_t handle;
  uint32_t stride;
  uint32_t word3;
  uint32_t word4;
};
static_assert(sizeof(StreamBinding) == 20);

struct StreamGroup {
  StreamBinding bindings[kStreams];
  StreamBinding indexSource;
  uint32_t indexKind;
  uint32_t elements;
  uint8_t changedMask;    // one bit per stream
  uint8_t flags;          // kSf*
  uint32_t primitiveType;
  uint8_t noDraw;
  uint8_t indexSize;
  uint32_t emitterSelector;
  uint32_t clip[2];
  uint32_t scratch;
  uint8_t flaggedMask;    // bindings marked dirty as a whole, one bit per stream
  // The draw's per-stream words {start vertex, base offset} and the index
  // source's {start index, base offset}.
  int32_t drawWords[kStreams][2];
  uint32_t indexDrawWords[2];
};

// The light a client sets: type 1 point, 2 spot, 3 directional.
struct LightRecord {
  uint32_t type;
  uint32_t diffuse[4];
  uint32_t specular[4];
  uint32_t ambient[4];
  uint32_t position[3];
  uint32_t direction[3];
  uint32_t range;
  uint32_t attenuation[3];
  uint32_t falloff;
  uint32_t theta;
  uint32_t phi;
};
static_assert(sizeof(LightRecord) == 104);
static_assert(offsetof(LightRecord, position) == 52);
static_assert(offsetof(LightRecord, direction) == 64);

// A record of the vertex-constant update ring.
struct ConstRangeRecord {
  uint32_t words[16];
};

// A draw emitter: the function that writes a draw of the current state.
using DrawEmitter3d = bool (*)(RenderContext3d* context, const void* draw);
bool NoOpEmitter3d(RenderContext3d* context, const void* draw);

struct RenderState3d {
  RenderState3d();
  ~RenderState3d();
  RenderState3d(const RenderState3d&) = delete;
  RenderState3d& operator=(const RenderState3d&) = delete;

  bool Init(RenderContext3d* context);
  void LoadDefaults();

  // ---- Setters (the client's state tokens) ----
  void SetRenderStates(const uint32_t* pairs, uint32_t count);
  // The render states whose bits are set in `held` (bit id % 64 of word
  // id / 64; id 0 is skipped) to values[id], in ascending id order, as
  // SetRenderStates of each pair in turn would set them.
  void SetRenderStatesHeld(const uint64_t held[kRenderStateWords], const uint32_t values[kRenderStateIds]);
  void SetStageState(uint32_t stage, uint32_t state, uint32_t value);
  // The states of one stage whose bits are set in `held` (1-28; bit 0 and
  // bits above are skipped) to values[state], in ascending order, as
  // SetStageState of each would set them; the stage's groups are marked
  // once at the end.
  void SetStageStates(uint32_t stage, uint32_t held, const uint32_t values[kStageStates + 1]);
  void SetDriverStates(const uint32_t* pairs, uint32_t count);
  // Triples {u16 stage, u16 sampler state, u32 value}, eight bytes each.
  void SetSamplerStates(const uint16_t* triples, uint32_t count);
  void SetModeStates(const uint32_t* pairs, uint32_t count);
  void SetFloat4StateA(const uint32_t value[4]);
  void SetFloat4StateB(const float* values, uint32_t count);
  void LoadPipelineRecord(const PipelineRecord* record);
  void SetPrimitiveMode(uint32_t type);
  void SetViewport(const uint32_t words[6]);
  // False for an index above kMaxLightIndex or when no record can be made.
  bool SetLight(uint32_t index, const LightRecord* light);
  void SetTargetMode(bool on);
  // Turns a light index on (listed once, at most kActiveLights of them; a
  // further one is ignored) or off (every entry of it cleared).
  void EnableLight(uint32_t index, bool on);
  // The vertex group's list of enabled lights from activeLights.
  void SyncEnabledLights();
  void SetStamp(uint32_t value);
  void SetIndexSize(uint8_t size);
  // Token 14: a stage's bound texture (a value or a texture handle);
  // stages from 10 are ignored.
  void SetStageTexture(uint32_t stage, uint32_t value, uint32_t kind = kStageTextureValue);
  // Token 32: a transform by id; other ids are ignored.
  void SetTransform(uint32_t id, const Matrix4Words& matrix);
  void SetRectA(const uint32_t words[4]);
  void SetRectB(const uint32_t words[4]);
  // Planes 0 to 5; others are ignored.
  void SetClipPlane(uint32_t plane, const uint32_t coefficients[4]);
  void SetDepthRange(const uint32_t words[2]);
  // The client's material: diffuse, ambient, specular (the power in its
  // fourth value) and emissive, four floats each as bit patterns.
  void SetMaterial(const uint32_t words[16]);
  void SetFloatPair(const uint32_t words[2]);

  uint8_t GetFogMode() const { return static_cast<uint8_t>(fog.vertexMode); }
  float ComputeFogDistance(float rhw) const;
  uint32_t* GetStateValues() { return values; }
  void ForgetBuffer(uint32_t kind, uint32_t handle);
  void MarkAllDirty();
  void ClearDirty();
  void FlushVertexConstants();
  // Copies into the block the current value of every id it holds.
  void CaptureInto(StateBlock* block);

  // ---- Application before a draw ----
  bool Apply();
  bool Revalidate();

  RenderContext3d* owner = nullptr;
  StateBlockTable* stateBlocks = nullptr;
  uint32_t values[kRenderStateIds] = {};
  uint32_t driverValues[kDriverStateIds] = {};
  uint32_t locks[8] = {};  // bit k: render-state id k + 1 locked
  uint32_t deviceTargetMode = 0;

  RasterGroup raster = {};
  RasterSubBlock rasterSub = {};
  DepthStencilGroup depthStencil = {};
  DepthStencilSubBlock depthStencilSub = {};
  FogGroup fog = {};
  FogValues fogValues = {};
  PixelGroup pixel = {};
  // The live pixel-pipeline record the pixel programs are built from and
  // take their changes from.
  PixelPipelineState pipelineState = {};
  PipelineSubBlock pipelineSub = {};
  StippleGroup stipple = {};
  uint32_t extraWord = 0;
  VertexProcessingBlock vertex = {};
  VertexSubBlock vertexSub = {};
  VertexFetchControl fetch = {};
  StreamGroup streams = {};
  uint32_t targetRecord[9] = {};
  // The bound depth and colour surfaces as {resource type, handle}.
  uint32_t depthBinding[2] = {};
  uint32_t colourBinding[2] = {};

  TextureStage stages[kStateStages] = {};
  uint32_t samplers[kStateStages][kSamplerStates] = {};
  PipelineRecord pipeline;

  LightRecord* lights[kMaxLightIndex + 1] = {};
  uint32_t activeLights[kActiveLights] = {};
  uint32_t activeLightCount = 0;
  // Each stage's states as the client set them, by stage-state id.
  uint32_t stageValues[kStateStages][kStageStates + 1] = {};
  uint8_t captureRunning = 0;

  ConstRangeRecord constHomes[kConstRingRecords] = {};
  ConstRangeRecord* constRing[kConstRingRecords] = {};
  uint32_t constPending = 0;
  VecConstShadow* constShadow = nullptr;

  DrawEmitter3d drawEmitter = NoOpEmitter3d;
  DrawEmitter3d indexEmitter = NoOpEmitter3d;

 private:
  // Render state 1-256 to value, unless locked or unchanged; its groups
  // follow through the translation of its id, looked up for an id known at
  // run time, inlined where the id is a constant (SetRenderStateOf).
  void SetRenderState(uint32_t id, uint32_t value);
  template <uint32_t Id>
  void SetRenderStateOf(uint32_t value);
  // False, nothing stored, for a locked id or an unchanged value; `old`
  // is the value replaced.
  bool StoreRenderState(uint32_t id, uint32_t value, uint32_t* old);
  // The translation of render state Id (0-171) into its groups, made from
  // its row of the render-state table; `old` is the value it replaced.
  template <uint32_t Id>
  void TranslateRenderState(uint32_t value, uint32_t old);
  // The ids whose translation is more than a store into one field.
  void TranslateOwnRule(uint32_t id, uint32_t value);
  template <uint32_t Id>
  static void Translate(RenderState3d* state, uint32_t value, uint32_t old);
  struct Translations {
    void (*of[kTranslatedStateIds + 1])(RenderState3d* state, uint32_t value, uint32_t old);
  };
  template <uint32_t... I>
  static constexpr Translations TranslationsOf(std::integer_sequence<uint32_t, I...>);
  static const Translations kTranslations;
  void SyncVertexFog();
  void SyncTexCoordSet(uint32_t stage);
  void PresetBlendMode(uint32_t value);
  void MarkStage(uint32_t stage, uint32_t bits);
  void RunStreams(bool noDraw);
  void BuildControlWord();
  void BindTargetsIfNeeded();
  bool ApplySteps();
  void NoDrawPath();
};
