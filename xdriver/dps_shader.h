// The pixel shader of display processing: the colour conversion from the
// RGB desktop to studio-range YCbCr with brightness, contrast, saturation
// and hue, the anti-flicker filter over three lines and the pass-through;
// with the procamp state it is built from and the anti-flicker levels.
#pragma once

#include <stdint.h>

#include "core/os.h"
#include "core/regs/engine3d.h"
#include "xdriver/cdh_matrix.h"
#include "xdriver/dps_types.h"

class CDPSHwManager;

// The seven colour-control values in their order.
enum ProcampIndex : unsigned {
  kProcampAntiFlicker = 0,  // 0..25
  kProcampBrightness,       // 0..10000
  kProcampColorEnable,      // 0..1
  kProcampContrast,         // 0..20000
  kProcampGamma,            // 1..500
  kProcampHue,              // -180..180 degrees
  kProcampSaturation,       // 0..20000
  kProcampCount
};

// The colour controls as the programs use them.
class CDHProcampState {
 public:
  CDHProcampState() { Reset(); }
  // Converts the values (gamma is not used): brightness as an offset of Y
  // (750 gives 0), contrast and saturation as factors (10000 gives 1.0),
  // hue in radians.
  void Set(const SProcampValues& values);
  void Reset();
  // Two invalid states are equal; otherwise every field must be.
  bool operator==(const CDHProcampState& other) const;
  bool operator!=(const CDHProcampState& other) const { return !(*this == other); }

  uint32_t valid;
  int32_t antiFlickerLevel;
  OrvFloat brightness;
  int32_t colourEnable;
  OrvFloat contrast;
  OrvFloat saturation;
  OrvFloat hue;
};

// The anti-flicker weights of the line above, the line itself and the line
// below, in percent, for each level 0..25: row L = (L, 100 - 2L, L).
class CDPSAntiFlicker {
 public:
  static constexpr int32_t kLevels = 26;
  void Reset() { level = 0; }
  void SetLevel(int32_t value);
  void GetLevelData(int32_t* above, int32_t* centre, int32_t* below) const;

  int32_t level = 0;
  static const int32_t m_aoLevels[kLevels][3];
};

// One stage of the shader. Option bits: 0 writes the option pair, 1 and 2
// write the four constants. Constants hold two 11-bit two's-complement
// fields (bits 0-10 and 16-26); 1.0 is 1024.
struct DpsShaderStage {
  uint32_t spare = 0;
  uint32_t control = kDefaultControl;
  uint32_t second = kDefaultSecond;
  uint32_t option = 0;
  uint32_t option2 = 0;
  uint32_t constants[4] = {};

  static constexpr uint32_t kDefaultControl = 128;  // input field 4
  static constexpr uint32_t kDefaultSecond = k3dStageSecondDefault;
};

inline constexpr uint32_t kDpsShaderStages = 10;
// The stages written when a program uses five stages or fewer.
inline constexpr uint32_t kDpsShaderShortStages = 5;

class CDPSPixelShader {
 public:
  CDPSPixelShader() { Reset(); }

  void Reset();
  // Types 1 and 2 pass through, 4, 8, 16 and 32 convert; others are refused.
  bool SetOutputFormat(EDPSOutputType type);
  void SetBrightness(OrvFloat value);
  void SetContrast(OrvFloat value);
  void SetSaturation(OrvFloat value, int32_t colourEnable);
  void SetHue(OrvFloat angle);
  // Takes a state that differs from the last one; with rebuild, rebuilds
  // when that made the shader dirty.
  bool SetProcampState(const CDHProcampState* state, uint32_t rebuild);
  bool SetupShader(EDPSOutputType type, const CDHProcampState* state);
  void PrepareShaderMatrix();
  bool BuildShader();
  bool BuildCustomShader();
  // Each answers the number of stages it used.
  uint32_t BuildPassThroughShader(uint32_t stage, uint32_t input, uint32_t output);
  uint32_t BuildColorConvertShader(uint32_t stage, uint32_t input, uint32_t output);
  uint32_t BuildAntiFlickerShader(uint32_t stage, uint32_t input, uint32_t output);
  // Appends the stages' registers; false, with nothing written, while dirty.
  bool UpdateHardware();

  // Stages UpdateHardware writes: 5, or 10 when the program uses six or more.
  uint32_t WrittenStages() const { return stageCount >= 6 ? kDpsShaderStages : kDpsShaderShortStages; }

  CDPSHwManager* hw = nullptr;
  CDPSAntiFlicker antiFlicker;
  DpsShaderStage stages[kDpsShaderStages];
  uint32_t dirty;
  uint32_t passThrough;
  uint32_t mode;        // 0 pass-through, 1 colour conversion, 2 anti-flicker then conversion
  uint32_t stageCount;
  CDHMatrix rgbToYCbCr;
  CDHVector brightnessVector;
  CDHMatrix contrastMatrix;
  CDHMatrix saturationMatrix;
  CDHMatrix hueMatrix;
  CDHMatrix product;
  CDHVector offset;
  CDHProcampState lastProcamp;
};

// The hardware number of the n-th written stage: 0, 2, 4, 8, 10, 1, 3, 5, 9, 11.
uint32_t DpsStageNumber(uint32_t n);
// A value as one 11-bit constant field: trunc(value x 1024), two's complement.
uint32_t DpsConstantField(float value);
