// The transform-and-lighting set-up of one render context: before every
// draw it turns the context's changed vertex-processing state into
// vertex-engine constants (in one of two constant images), fixed and built
// vertex programs with their start addresses, fields of the context's
// vertex-engine record with their dirty bytes, and the input and fetch
// layouts. Nothing that did not change costs matrix work.
//
// Everything it reads of the render state is client data: every index,
// count and selector is bounded before it indexes a table.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <utility>

#include "core/heap_object.h"
#include "kernel/3d/engine/vec_const_shadow.h"
#include "kernel/3d/tnl/vertex_program.h"
#include "xdriver/matrix.h"

class VertexFormat;
class VertexProgramBuilder;
struct LightRecord;
struct TnlStateRecord;
struct VertexUploadSlot;
struct VertexEngineBlock;
struct VertexEngineProgramSlot;
struct VertexFetchControl;
struct VertexProcessingBlock;

// ---- Update flags ------------------------------------------------------------------------
// The light constants must be rebuilt; the light list collected again; the
// matrices were written (these three outlive a pass). The input layout's
// declaration changed; its program changed; the main-program key must be
// rebuilt (these last for one pass).
inline constexpr uint32_t kTnlUpdLights = 1u << 0;
inline constexpr uint32_t kTnlUpdCollect = 1u << 1;
inline constexpr uint32_t kTnlUpdMatrices = 1u << 2;
inline constexpr uint32_t kTnlUpdLayoutFormat = 1u << 3;
inline constexpr uint32_t kTnlUpdLayoutProgram = 1u << 4;
inline constexpr uint32_t kTnlUpdMainKey = 1u << 9;
inline constexpr uint32_t kTnlUpdKept = kTnlUpdLights | kTnlUpdCollect | kTnlUpdMatrices;

// ---- Constant numbers of the images ------------------------------------------------------
inline constexpr uint32_t kCLightBlocks = 224;
inline constexpr uint32_t kCMaterialDiffuse = 308, kCMaterialAmbient = 309, kCMaterialSpecular = 310,
                          kCMaterialEmissive = 311;
inline constexpr uint32_t kCGlobalAmbient = 312;
inline constexpr uint32_t kCTextureMatrices = 313;
inline constexpr uint32_t kCProjection = 329;
inline constexpr uint32_t kCThird = 333, kCFogLinear = 334, kCFogRange = 340, kCFactor = 341;
inline constexpr uint32_t kCBackMaterial = 342;
inline constexpr uint32_t kCScale = 352, kCOffset = 353;
inline constexpr uint32_t kCClipPlanes = 364;
inline constexpr uint32_t kCPoint = 370, kCPointRange = 371, kCGuardBand = 372, kCTexValues = 373;
inline constexpr uint32_t kCRaster = 376, kCSeries = 377, kCFixed381 = 381, kCStipple = 382;

// Distinct input layouts a set-up keeps; the oldest entry that is not
// current goes first when a new key would pass it.
inline constexpr uint32_t kMaxInputLayouts = 64;
// Light parameter records: 24 per light type; the light-combination
// programs take at most 16.
inline constexpr uint32_t kLightRecordsPerType = 24;
inline constexpr uint32_t kLightRecordWords = 8;
inline constexpr uint32_t kMaxLightCombination = 16;
inline constexpr uint32_t kTnlLights = 12;
// Element types of the fetch layout's type table.
inline constexpr uint32_t kFetchTypes = 19;

// Light-path flags.
inline constexpr uint32_t kPathTooManyRecords = 1;
inline constexpr uint32_t kPathFrontPower = 2;
inline constexpr uint32_t kPathBackPower = 4;
inline constexpr uint32_t kPathManyPositional = 16;
inline constexpr uint32_t kPathSpotFalloff = 32;
inline constexpr uint32_t kPathSinglePoint = 0x40000000;
inline constexpr uint32_t kPathWeakAttenuation = 0x80000000;

// One entry of the input-layout and vertex-shader list: a six-word key, its
// parsed input description and, for a shader, its program. Fetch
// descriptors (one word per fetched element, sorted by stream and offset)
// are kept with the entry.
class VertexShaderEntry : public OsHeapObject {
 public:
  VertexShaderEntry();
  virtual ~VertexShaderEntry();
  VertexShaderEntry(const VertexShaderEntry&) = delete;
  VertexShaderEntry& operator=(const VertexShaderEntry&) = delete;

  // Descriptors of every described element of the format in slot order
  // (type above the table: refused, false, nothing kept).
  bool BuildDescriptors();
  // Inserts one descriptor after those whose stream and offset are not
  // above its own.
  void InsertDescriptor(uint32_t descriptor);

  uint32_t handle = 0;
  uint32_t key[6] = {0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  uint8_t layoutFlag = 0;
  VertexFormat* format = nullptr;    // owned
  VertexProgram* program = nullptr;  // owned
  uint32_t descriptors[24] = {};
  uint32_t descriptorCount = 0;
  VertexShaderEntry* next = nullptr;  // list links (the set-up's list)
  VertexShaderEntry* previous = nullptr;
};

// The fetch descriptor of one element (type above the table: 0).
uint32_t FetchDescriptor(uint32_t offset, uint32_t stream, uint32_t type, uint32_t flags, uint32_t reg);

class TnlSetup : public OsHeapObject {
 public:
  TnlSetup();
  ~TnlSetup();
  TnlSetup(const TnlSetup&) = delete;
  TnlSetup& operator=(const TnlSetup&) = delete;

  // A program slot of the hardware record takes a reference on the
  // program it names and drops it when it names another.
  static void SetSlot(VertexEngineProgramSlot* slot, VertexProgram* program);

  void SetProgramBuilder(VertexProgramBuilder* b) { builder = b; }
  void SetModeBits(uint32_t mode);
  // False for a null record.
  bool AttachContext(TnlStateRecord* record);
  void ReadSwitches();
  // The pass before a draw; false when a program cannot be built or placed
  // (the draw is skipped, the state is sent again by the next pass).
  bool Update(VertexProcessingBlock* block, VertexFetchControl* fetch, VertexEngineBlock* hw);
  // After a pass: the engine state's four upload slots from what the pass
  // chose, and the upload bits of its first dirty word (byte 26, bits 1-4)
  // from the hardware record's upload bits (R2 bits 1-4) and those the
  // attachment set in the record. The slots are: fixed program 3 with the
  // program header; the light-combination program with its parameter
  // table; the main program with the dirty constants; fixed program 1 or 2
  // with its parameter block.
  void LinkUploads(VertexEngineBlock* hw, VertexUploadSlot uploads[4], uint32_t* dirtyWord);

  // ---- Steps of the pass (each writes only on a difference; the pass
  // runs them from its table in tnl_setup.cpp) ----
  void UpdateMatrices(const VertexProcessingBlock& b, bool full);
  void UpdateVertexBlend(const VertexProcessingBlock& b);
  void AnalyseTextureStages(const VertexProcessingBlock& b, VertexEngineBlock* hw);
  void UpdateDepthOffset(const VertexProcessingBlock& b, VertexEngineBlock* hw);
  void UpdatePointSize(const VertexProcessingBlock& b, VertexEngineBlock* hw);
  void UpdateFillMode(VertexEngineBlock* hw);
  void UpdateMaterialSources(const VertexProcessingBlock& b);
  void UpdateViewport(const VertexProcessingBlock& b);
  void UpdateTransformEnable(VertexEngineBlock* hw);
  void UpdateLightingFlags(const VertexProcessingBlock& b);
  void UpdateClipPlanes(const VertexProcessingBlock& b);
  void UpdateGuardBand(VertexEngineBlock* hw);
  void CollectLights(const VertexProcessingBlock& b);
  void UpdateLights(const VertexProcessingBlock& b);
  bool SelectPrograms(const VertexProcessingBlock& b, VertexEngineBlock* hw);
  bool SelectLightingPrograms(const VertexProcessingBlock& b, VertexEngineBlock* hw);
  void UpdateFetchFlags(const VertexProcessingBlock& b, VertexEngineBlock* hw);
  void FillInputs(const VertexProcessingBlock& b);

  // ---- Input layouts and vertex shaders ----
  VertexShaderEntry* FindVertexShader(uint32_t handle) const;
  VertexShaderEntry* FindInputLayout(const uint32_t key[6]) const;
  VertexShaderEntry* AddEntry(const uint32_t key[6]);
  uint32_t RemoveEntry(const uint32_t key[6]);
  void DeleteVertexShader(uint32_t handle);
  // words: the shader handle, then the declaration (count words in all).
  uint32_t LoadVertexDeclaration(const uint32_t* words, size_t count);
  // A shader entry for the handle in words[0], made from the declaration
  // that follows (count words in all): a layout entry keyed {handle, 0, 0,
  // -1, -1, -1} (so FindVertexShader, which looks for entries without the
  // layout flag, does not find it) with the format parsed from the
  // declaration and, when the declaration carries a function, a program
  // record the builder compiles from it. An earlier entry of the handle is
  // replaced. 0; 1 when anything fails, and then no entry is left.
  uint32_t CreateVertexShader(const uint32_t* words, size_t count);
  uint32_t SelectInputLayout(const uint32_t key[6]);
  void BuildFetchLayout(const VertexProcessingBlock& b, VertexFetchControl* fetch, VertexEngineBlock* hw);
  void ReleaseShaderPrograms();
  void ReleaseAll();

  VecConstShadow* BoundImage() { return imageSelect != 0 ? &fixedImage : &shaderImage; }
  float* F(uint32_t c) { return reinterpret_cast<float*>(fixedImage.image[c].w); }
  float* S(uint32_t c) { return reinterpret_cast<float*>(shaderImage.image[c].w); }

  // kTnlUpd*, and the force flag the render state sets when anything it
  // tracks for vertex processing changed.
  uint32_t updateFlags = 0;
  uint8_t force = 0;
  // The program header sent with fixed program 3, the parameter blocks of
  // fixed programs 1 and 2, the packed option word with its two floats,
  // and the clip-control mask.
  uint32_t programHeader[8] = {};
  uint32_t fixedBlock[16] = {};
  uint32_t shaderBlock[24] = {};
  uint32_t optionWord = 0x03800015;
  float optionFloats[2] = {0.0f, 1.0f};
  uint32_t clipControlMask = 0x0FC0;
  // The state key, the clip matrix, and the views of the fixed-function
  // image's matrix constants.
  TnlStateKey key;
  Matrix clipMatrix;
  MatrixPointer worldViews[37];
  UpMatrixPointer normals[32];
  // The guard band last sent, the lights, the summary flags and the
  // switches read at attachment.
  float guardBand[4] = {};
  uint32_t enabledLights = 0;
  uint32_t lightPath = 0;
  const LightRecord* lights[kTnlLights] = {};
  uint8_t ambientFlag = 0, emissiveFlag = 0, globalAmbientFlag = 0;
  uint8_t lastIndexedBlend = 0, lastPointProgram = 0, clipPlanesInUse = 0;
  // Which product the matrix constants hold: 0-3 world x view x
  // projection; 329-332 world x view x projection; 329-332 the projection.
  uint8_t combined[3] = {};
  float zFactor = 1.0f;
  float depthScale = 1.0f;
  uint32_t lightingType = 0, cullNoneMode = 0, guardBandClipping = 0, vertexShaderOptions = 0;
  uint32_t volumetricShadow = 0;
  uint8_t stippleAllowed = 0, pointProgramWanted = 0, shadowProgramWanted = 0;
  // The board's builder (not owned), the programs built for this context,
  // and the render context's record.
  VertexProgramBuilder* builder = nullptr;
  VertexProgramList mainList;
  VertexProgramList fixedList;
  VertexProgramList releaseList;
  RecentPrograms recent;
  TnlStateRecord* record = nullptr;
  // Which image is bound (1: the fixed-function image), and the input
  // layouts and vertex shaders.
  uint8_t imageSelect = 0;
  VertexShaderEntry* currentLayout = nullptr;
  VertexShaderEntry sentinel_;  // list head (never an entry)
  uint32_t entryCount = 0;
  uint8_t layoutInUse = 0;
  // 1: fixed-function vertex processing; 0: the vertex-shader mode, whose
  // constant image and fixed program Update binds instead.
  uint8_t fixedFunction = 1;
  uint8_t builderMode = 0;
  // The fixed-function and the shader-mode constant images.
  VecConstShadow fixedImage;
  VecConstShadow shaderImage;
  // What the render state's vertex-group loader links to.
  uint32_t loaderBlocks[2][16] = {};
  uint8_t loaderRecords[2][64] = {};
  uint32_t lightEnableMask = 0;
  uint32_t lightStateWords[32] = {};
  uint8_t lightTable[4096] = {};

  // The light parameter records of the light-combination program.
  uint32_t lightRecords[3 * kLightRecordsPerType][kLightRecordWords] = {};
  uint32_t lightRecordCount = 0;
  uint32_t lightRecordCounts[3] = {};
  // Last pass's texture-coordinate set count, the input route mask and the
  // selection inputs handed to the builder.
  uint32_t coordSets = 0;
  uint32_t inputRoute = 0;
  TnlProgramInputs inputs = {};
  uint32_t fetchCount = 0;        // recorded for the shader-mode fetch flags
  uint32_t fetchProjection = 0;

 private:
  // The changes a pass follows: the block's dirty words as the pass found
  // them (the coordinate sets' word without the bit the set-up does not
  // follow).
  struct PassChanges {
    uint32_t transform;     // kVx*
    uint32_t matrices;      // kMx*
    uint32_t worlds;        // one bit per world matrix
    uint32_t texCoords;     // the texture-coordinate group's first word
    uint32_t texCoordSets;  // and its second
    uint32_t fog;           // kVfgFog
    uint32_t third;         // kTh*
    uint32_t viewport;      // kVp*
  };
  // When a step runs: when any of these changed (the key's dirty bytes and
  // the update flags as the steps before it left them), or always.
  struct PassTrigger {
    uint32_t transform = 0, matrices = 0, worlds = 0, texCoords = 0, texCoordSets = 0, fog = 0, third = 0,
             viewport = 0;
    uint8_t key0 = 0, key1 = 0, key2 = 0, key3 = 0;  // kKd0*, kKd1*, kKd2*, kKd3*
    uint32_t updateFlags = 0;
    bool always = false;
  };
  using PassStepRun = bool (TnlSetup::*)(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock*);
  // A step of the pass: what runs it, the step (false ends the pass: the
  // draw is skipped), a further condition that runs it, and what is done
  // instead when it does not run.
  struct PassStep {
    PassTrigger when;
    PassStepRun run = nullptr;
    bool (TnlSetup::*also)(const VertexProcessingBlock&) const = nullptr;
    void (TnlSetup::*otherwise)() = nullptr;
  };
  // The steps of the pass in their order (the table in tnl_setup.cpp).
  static constexpr auto PassSteps();
  // Step I of the table when its changes call for it (else its otherwise
  // step); false ends the pass. Each step is made from its row at compile
  // time: the tests of its trigger and a direct call of its step.
  template <size_t I>
  bool RunPassStep(const VertexProcessingBlock& b, VertexFetchControl* fetch, VertexEngineBlock* hw);
  template <size_t... I>
  bool RunPassSteps(const VertexProcessingBlock& b, VertexFetchControl* fetch, VertexEngineBlock* hw,
                    std::index_sequence<I...>);
  // A step above, in the form of the table.
  template <auto Step>
  bool Run(const VertexProcessingBlock& b, VertexFetchControl* fetch, VertexEngineBlock* hw);
  // The pass when nothing but the matrices changed.
  void UpdateMatricesOnly(const VertexProcessingBlock& b);

  // Steps of the table, in its order.
  bool WriteCoordValues(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool WriteThirdConstant(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool SelectBlockLayout(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool UpdateCoordControls(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  bool UpdateVertexFog(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  bool WriteFactor(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool UpdateRouting(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  void KeepBlendCount();
  bool UpdatePrimitive(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  void KeepClass();
  bool UpdateStipple(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  bool UpdatePointAttenuation(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool UpdateSpecular(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  bool UpdateTwoSided(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  bool UpdateGlobalAmbientFlag(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool UpdateMaterialFlags(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock*);
  bool UpdateCull(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  bool LightingSwitchedOn(const VertexProcessingBlock& b) const;
  bool CollectEnabledLights(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool UpdateTextureMatrices(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool MappingFollows(const VertexProcessingBlock&) const;
  bool BlendCountBecameNonZero(const VertexProcessingBlock&) const;
  bool UpdateClipEnable(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  bool BlendMatricesFollow(const VertexProcessingBlock& b) const;
  bool UpdateBlendMatrices(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool UpdateClipPlaneConstants(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool RebuildLights(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool MarkMainKey(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock*);
  bool ProgramsFollow(const VertexProcessingBlock& b) const;
  bool WriteLineWidth(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock*);
  bool SelectLightingOrFetchFlags(const VertexProcessingBlock& b, VertexFetchControl*, VertexEngineBlock* hw);
  bool BindImageOfMode(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock* hw);
  bool TrackIndexedBlend(const VertexProcessingBlock&, VertexFetchControl*, VertexEngineBlock* hw);

  bool Finish(VertexProcessingBlock* block, VertexEngineBlock* hw);
  void SetSetup(VertexEngineBlock* hw, uint8_t a, uint8_t b);
  bool EnterLightCombination(VertexEngineBlock* hw);
  bool EnterStartAddresses(VertexEngineBlock* hw);
  VertexEngineProgramSlot& MainSlot(VertexEngineBlock* hw);
  static uint32_t PrimitiveControlWord(const VertexEngineBlock* hw);
  void WriteHeaderAndBlocks(const VertexProcessingBlock& b, VertexEngineBlock* hw);
  void BindImage(VertexEngineBlock* hw);
  void ReleaseProgram(VertexProgram* program);
  void DropSlots(VertexEngineBlock* hw);
  VertexProgram* MainProgram(uint32_t kind);
  bool SetConst(VecConstShadow* image, uint32_t c, const float v[4]);
  bool SetBoth(uint32_t c, const float v[4]);
  void WriteCombined(uint32_t block, const Matrix& m, bool normals);
  void LinkEntry(VertexShaderEntry* entry);
  void UnlinkEntry(VertexShaderEntry* entry);
  void DestroyEntry(VertexShaderEntry* entry);
  void EvictOldLayout();
  uint32_t oldClass_ = 0;
  PassChanges pass_ = {};
  VertexEngineBlock* hw_ = nullptr;  // the record whose slots name programs
  uint32_t lastView_[16] = {};
  uint8_t viewKnown_ = 0;
  uint32_t lightCount_ = 0;   // lights collected
  uint32_t passSets_ = 0;     // texture-coordinate sets of the pass
  uint32_t lightTableRecords_[3][kLightRecordsPerType][kLightRecordWords] = {};
  uint32_t fetchProjectionMask_ = 0;
  uint32_t fetchPoint_ = 0;
};

// The constant image a render context's client constants go to (its
// set-up's shader image), or null.
struct RenderContext3d;
VecConstShadow* RenderContext3dVecConstShadow(RenderContext3d* context);
// Copies the pending constants of the vertex shader a handle names into the
// context's constant image, each marked dirty; nothing for an unknown
// handle or without a set-up.
// Selects the vertex layout or shader `handle` for the context's next
// draws: whether a vertex program transforms them and, for a
// pre-transformed layout, the elements its vertices are read through.
void SelectVertexLayout3d(RenderContext3d* context, uint32_t handle);
void LoadVertexShaderConstants3d(RenderContext3d* context, uint32_t handle);

// The vertex-processing block's matrices as float matrices.
Matrix MatrixOf(const uint32_t words[16]);
