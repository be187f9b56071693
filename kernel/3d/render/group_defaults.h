// The default loaders of the render-state groups: each sets a group's
// fixed values or reads them from the device's state queries. Several of
// the records are packed (fields at byte positions that are not multiples
// of their width), so the loaders write byte images.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct FogValues;
struct RasterSubBlock;
struct RenderContext3d;
struct RenderState3d;
struct VertexSubBlock;

// Sizes of the packed records.
inline constexpr size_t kRasterDefaultsBytes = 91;
inline constexpr size_t kViewDefaultsBytes = 122;
inline constexpr size_t kFactorDefaultsBytes = 83;
inline constexpr size_t kScaleDefaultsBytes = 56;
inline constexpr size_t kVertexGroupBytes = 688;
inline constexpr size_t kTargetDefaultsBytes = 300;
inline constexpr size_t kRegisterListWords = 17;

// A query of the device's 3D state owner: the objects answer through their
// fifth virtual slot.
class StateQuery3d {
 public:
  virtual ~StateQuery3d() = default;
  virtual void Reserved3() {}
  virtual void Reserved4() {}
  virtual uint32_t Answer(RenderContext3d* context, uint32_t argument) = 0;
};

// The queries the loaders read: four of the raster group's (the fourth is
// also the view group's) and the render-target query; and the feature
// flag: while it is 0, bit 0 of the fourth query's answer is cleared (the
// device's queries keep it at 1).
struct StateQueries3d {
  StateQuery3d* raster[4];
  StateQuery3d* target;
  uint32_t featureFlag = 1;
};

// What the raster loader writes outside its record: the context state's
// word at 132 and the bits 5-6 of its byte 128 (when any of bits 6-9 of the
// render context's flag word is set).
struct RasterDefaultsOut {
  uint32_t word132;
  uint8_t byte128;
  uint32_t contextFlags;
};

// The transform-and-lighting set-up's fields the vertex-group loader reads:
// the light-enable mask, the light-state block (32 words), the 4,096-byte
// light table and two 64-byte records.
inline constexpr uint32_t kLightStateWords = 32;
inline constexpr uint32_t kMergedLights = 14;   // word i + 15 stays inside the block
inline constexpr size_t kLightTableBytes = 4096;
struct VertexGroupLinks {
  uint32_t* lightMask;
  uint32_t* lightState;
  uint8_t* lightTable;
  uint8_t* records[2];
};

// The queries a device answers for its render states. Its 3D state owner
// keeps one value the loaders ask for: the target-mode word (the fourth
// query, read into the render state as its device target mode); the other
// queries have no value on these boards and answer 0.
const StateQueries3d& DeviceStateQueries3d();

void LoadRasterDefaults(uint8_t* record, RenderContext3d* context, uint32_t argument, const StateQueries3d& queries,
                        RasterDefaultsOut* out);
void LoadViewDefaults(uint8_t* record, RenderContext3d* context, const StateQueries3d& queries);
void LoadFactorDefaults(uint8_t* record);
void LoadScaleDefaults(uint8_t* record);
void LoadVertexGroupDefaults(uint8_t* record, const VertexGroupLinks& links);
void LoadTargetDefaults(uint8_t* record, RenderContext3d* context, const StateQueries3d& queries);
// The loaders of the records that start all zero: the raster group's
// sub-block, the fog group's values, the vertex group's sub-block and the
// streams' scratch word.
void ClearRecord28(RasterSubBlock* record);
void ClearRecord35(FogValues* record);
void ClearRecord92(VertexSubBlock* record);
void ClearRecord4(uint32_t* record);
// A 17-word register list (a count and 16 entries) cleared.
void ClearRegisterList(uint32_t* list);
void EmptyStateHook();

// Runs the defaults of the render state's groups: the loaders fill their
// packed records and the fields the render state keeps take their values
// (ApplyRasterDefaults and the others below), and the render-state values
// of the client ids those fields stand for follow.
void LoadRenderStateDefaults3d(RenderState3d* state);

// What the packed records give the render state's groups. The raster
// record holds, after its query words, the raster fields in the order of
// their dirty bits: dither (byte 28), colour-write mask (29), plane mask
// (33), raster operation (37), antialias mode (41), alpha test enable (45),
// reference (46) and function (50), blend enable (54) and operation (55),
// the colour and alpha source factors (59, 63), the destination factors
// (67, 71) and the four blend constants (75-87). The view record is the
// depth-stencil group's: depth enable (word 20), depth write (byte 24),
// depth function (byte 25), then the eight stencil states from byte 29
// (enable, fail, depth-fail and pass operations, function, reference,
// mask, write mask). Both records carry the device's target-mode word (at
// 12 and 114) as it reads while the mode is on; the groups keep their
// target mode off, as a new render context starts with its target mode
// switched off, and take the word when the client switches it on. The
// scale record is the fog group's: colour (word 8), the fog and
// range-fog enables (bits 0-1 of word 20), table mode (24), start (28),
// end (40), density (44), vertex fog mode (48) and driver word (52).
void ApplyRasterDefaults(RenderState3d* state, const uint8_t* record);
void ApplyDepthStencilDefaults(RenderState3d* state, const uint8_t* record);
void ApplyFogDefaults(RenderState3d* state, const uint8_t* record);
