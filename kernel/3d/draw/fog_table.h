// The fog unit of a render context: from the fog state (mode, density,
// start, end) and the projection's near and far planes it builds the
// engine's 64-entry piecewise-linear fog table and the two 24-bit depth
// marks, in the fog block of the context's engine state.
//
// Every value here comes from a client: near equal to far, zero terms, NaN
// and infinity all give defined entries, and every float is clamped before
// it becomes an integer.
#pragma once

#include <stdint.h>

struct RenderContext3d;

inline constexpr uint32_t kFogEntries = 64;
inline constexpr uint32_t kFogSamples = 65;

// Fog modes; any other mode computes as linear.
inline constexpr uint32_t kFogExp = 1;
inline constexpr uint32_t kFogExp2 = 2;
inline constexpr uint32_t kFogLinear = 3;

// The scale of linear fog whose start equals its end.
inline constexpr float kFogLinearScaleFlat = 1.0e7f;

// The hardware fog record: words of the engine state's fog block.
inline constexpr uint32_t kFogRecordControl = 0;   // register 0xB5
inline constexpr uint32_t kFogRecordStart = 1;     // 0xB6: fog-start mark
inline constexpr uint32_t kFogRecordEnd = 2;       // 0xB7: fog-end mark
inline constexpr uint32_t kFogRecordEntries = 3;   // 0xB8 x 64
inline constexpr uint32_t kFogRecordNear = 67;     // kept for the engine state, not sent
inline constexpr uint32_t kFogRecordFar = 68;
inline constexpr uint32_t kFogRecordWords = 70;

// Bits of the control word.
inline constexpr uint32_t kFogControlOn = 0x01;
inline constexpr uint32_t kFogControlDepthTable = 0x02;
inline constexpr uint32_t kFogControlDistanceTable = 0x04;
inline constexpr uint32_t kFogControlFromNear = 0x10;  // depth samples rise from 0

inline constexpr uint32_t kFogMarkStartDefault = 0;
inline constexpr uint32_t kFogMarkEndDefault = 0xFFFFFF;

// Depth sample points of the depth tables: entry i (0-59) is
// 2^-(i / 4) x (1 - (i % 4) / 8); entries 60-63 are 2^-15 x (1, 0.75, 0.5,
// 0.25) and entry 64 is 0.
extern const float FogSampleOffsets[kFogSamples];

// What Update builds from.
struct FogState {
  uint8_t enabled = 0;
  uint8_t range = 0;        // range-based fog: a table over distance
  uint32_t mode = kFogLinear;
  float density = 0.0f;
  float start = 0.0f;
  float end = 1.0f;
  float nearPlane = 0.0f;
  float farPlane = 1.0f;
  float depthOffset = 0.0f;
  float depthScale = 1.0f;
};

class FogTable {
 public:
  FogTable();
  FogTable(const FogTable&) = delete;
  FogTable& operator=(const FogTable&) = delete;

  // Links the render context and its engine state's fog block, and marks
  // the fog registers dirty; false for a null context.
  bool Bind(RenderContext3d* context);

  float DepthToDistance(float z) const;
  float DistanceToDepth(float d) const;
  float FogFactor(float x) const;

  // Builds the table the state asks for and marks the record dirty.
  bool Update(const FogState& state);

  // The record: the bound context state's fog block, or the table's own.
  uint32_t* Record() const { return record_; }

  RenderContext3d* context = nullptr;
  uint8_t valid = 0;
  uint8_t alternateSampling = 1;
  uint32_t mode = kFogLinear;
  float density = 0.0f;
  float start = 0.0f;
  float end = 0.0f;
  float linearScale = 0.0f;
  float nearPlane = 0.0f;
  float farPlane = 0.0f;
  float farMinusNear = 0.0f;
  float nearTimesFar = 0.0f;
  float depthOffset = 0.0f;
  float depthScale = 1.0f;
  uint8_t inputIsDistance = 0;

 private:
  void TakeState(const FogState& state);
  void BuildDistanceTable();
  void BuildDepthTable();
  void PutEntry(uint32_t i, float f0, float slope);
  void MarkDirty(uint32_t bits);

  uint32_t ownRecord_[kFogRecordWords] = {};
  uint32_t* record_ = ownRecord_;
};

// A render context's fog unit bound at creation, and its table rebuilt
// from the render state's fog group when that is dirty.
bool FogTableBind(RenderContext3d* context);
bool FogTableUpdate(RenderContext3d* context);
// The fog state of a render state's fog group, projection and depth range.
FogState FogStateOf(const RenderContext3d* context);
