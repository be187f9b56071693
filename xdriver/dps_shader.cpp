#include "xdriver/dps_shader.h"

#include "core/regs/engine3d.h"
#include "core/regs/field.h"
#include "core/utils.h"
#include "xdriver/dps_hw.h"

namespace {

// ITU-R BT.601 studio range for the row vector (R, G, B): the columns give
// Y, Cb and Cr.
const OrvFloatVar kBt601[3][3] = {
    {ORVFLOATVAR_POS_000_2570, ORVFLOATVAR_NEG_000_1480, ORVFLOATVAR_POS_000_4390},  // R
    {ORVFLOATVAR_POS_000_5040, ORVFLOATVAR_NEG_000_2910, ORVFLOATVAR_NEG_000_3680},  // G
    {ORVFLOATVAR_POS_000_0980, ORVFLOATVAR_POS_000_4390, ORVFLOATVAR_NEG_000_0710},  // B
};
// Added after the matrix: black at Y 16/256, no colour at Cb = Cr = 128/256.
const CDHVector kYCbCrOffset(ORVFLOATVAR_POS_000_0625, ORVFLOATVAR_POS_000_5000,
                             ORVFLOATVAR_POS_000_5000);

// Procamp conversions.
constexpr float kBrightnessScale = 213.33334f;
constexpr float kBrightnessBias = 16.0f;
constexpr float kBrightnessRange = 256.0f;
constexpr float kFactorRange = 20000.0f;
constexpr float kDegreesHalfTurn = 180.0f;
constexpr float kPi = 3.1415923f;

// The shader sees colours and constants in quarters: the matrix goes out
// scaled by 0.25 x 255/256, the offset by 0.25.
constexpr float kMatrixScale = 0.2490234375f;
constexpr float kOffsetScale = 0.25f;
constexpr float kFieldOne = 1024.0f;
constexpr uint32_t kFieldMask = 0x7FF;
constexpr unsigned kFieldHighShift = 16;

// Stage words of the programs.
constexpr uint32_t kOptionConstants = 0x2;       // write the four constants
constexpr uint32_t kOptionConstantsAlt = 0x4;
constexpr uint32_t kOptionPair = 0x1;            // write the option pair
constexpr uint32_t kControlInputMask = 0x3E0;    // input field, bits 5-9
constexpr unsigned kControlInputShift = 5;
constexpr uint32_t kControlOutputMask = 0x7C000; // output selector, bits 14-18
constexpr unsigned kControlOutputShift = 14;
constexpr uint32_t kControlNumberMask = 0x1F;    // the hardware number, bits 0-4
constexpr unsigned kSecondOutputShift = 20;
constexpr uint32_t kPassThroughSecond = 1024;

constexpr uint32_t kConvertControl = 0x703C000;
constexpr uint32_t kConvertSecond = 0x803;
constexpr uint32_t kConvertSecondLow = 0x3;
constexpr uint32_t kConvertSecondRow1 = 0x2;
constexpr uint32_t kConvertRow2Keep = 0xFF01FFFC;
constexpr uint32_t kConvertRow2Set = 0x40001;
constexpr uint32_t kClampControl = 0x7038000;
constexpr uint32_t kClampSecond = 0x5C00;
constexpr uint32_t kLowClampControl = 0x70101C0;
constexpr float kClampHighChroma = 0.9375f;
constexpr float kClampHighLuma = 0.91796875f;
constexpr float kClampLow = 0.0625f;

constexpr uint32_t kFilterControl = 0x7038000;
constexpr uint32_t kFilterNextControl = 0x7000000;
constexpr uint32_t kFilterNextSecond = 0x800;
constexpr float kPercent = 100.0f;

// The hardware stage numbers in the order the stages are written.
constexpr uint32_t kStageNumbers[kDpsShaderStages] = {0, 2, 4, 8, 10, 1, 3, 5, 9, 11};

uint32_t OutputSelector(uint32_t output) { return output <= 5 ? output : 0; }

uint32_t PairOfFields(float low, float high) {
  return DpsConstantField(low) | DpsConstantField(high) << kFieldHighShift;
}

}  // namespace

uint32_t DpsStageNumber(uint32_t n) { return n < kDpsShaderStages ? kStageNumbers[n] : 0; }

uint32_t DpsConstantField(float value) {
  return static_cast<uint32_t>(static_cast<int32_t>(value * kFieldOne)) & kFieldMask;
}

// ---- CDHProcampState ------------------------------------------------------------------------

void CDHProcampState::Set(const SProcampValues& v) {
  valid = 1;
  antiFlickerLevel = v.value[kProcampAntiFlicker];
  const float b = static_cast<float>(v.value[kProcampBrightness]);
  brightness = OrvFloat((b * kBrightnessScale / 10000.0f - kBrightnessBias) / kBrightnessRange);
  colourEnable = v.value[kProcampColorEnable];
  contrast = OrvFloat(static_cast<float>(v.value[kProcampContrast]) / kFactorRange * 2.0f);
  saturation = OrvFloat(static_cast<float>(v.value[kProcampSaturation]) / kFactorRange * 2.0f);
  hue = OrvFloat(static_cast<float>(v.value[kProcampHue]) / kDegreesHalfTurn * kPi);
}

void CDHProcampState::Reset() {
  valid = 0;
  antiFlickerLevel = 0;
  colourEnable = 0;
  brightness = contrast = saturation = hue = OrvFloat(0);
}

bool CDHProcampState::operator==(const CDHProcampState& o) const {
  if (!valid && !o.valid) return true;
  return valid == o.valid && antiFlickerLevel == o.antiFlickerLevel && brightness == o.brightness &&
         colourEnable == o.colourEnable && contrast == o.contrast && hue == o.hue &&
         saturation == o.saturation;
}

// ---- CDPSAntiFlicker --------------------------------------------------------------------------

const int32_t CDPSAntiFlicker::m_aoLevels[kLevels][3] = {
#define ORV_AF_ROW(L) {L, 100 - 2 * (L), L}
    ORV_AF_ROW(0),  ORV_AF_ROW(1),  ORV_AF_ROW(2),  ORV_AF_ROW(3),  ORV_AF_ROW(4),
    ORV_AF_ROW(5),  ORV_AF_ROW(6),  ORV_AF_ROW(7),  ORV_AF_ROW(8),  ORV_AF_ROW(9),
    ORV_AF_ROW(10), ORV_AF_ROW(11), ORV_AF_ROW(12), ORV_AF_ROW(13), ORV_AF_ROW(14),
    ORV_AF_ROW(15), ORV_AF_ROW(16), ORV_AF_ROW(17), ORV_AF_ROW(18), ORV_AF_ROW(19),
    ORV_AF_ROW(20), ORV_AF_ROW(21), ORV_AF_ROW(22), ORV_AF_ROW(23), ORV_AF_ROW(24),
    ORV_AF_ROW(25),
#undef ORV_AF_ROW
};

void CDPSAntiFlicker::SetLevel(int32_t value) {
  level = value < 0 ? 0 : (value >= kLevels ? kLevels - 1 : value);
}

void CDPSAntiFlicker::GetLevelData(int32_t* above, int32_t* centre, int32_t* below) const {
  *above = m_aoLevels[level][0];
  *centre = m_aoLevels[level][1];
  *below = m_aoLevels[level][2];
}

// ---- CDPSPixelShader ----------------------------------------------------------------------------

void CDPSPixelShader::Reset() {
  antiFlicker.Reset();
  for (DpsShaderStage& s : stages) s = DpsShaderStage();
  stages[0].control = 0;
  dirty = 1;
  passThrough = 1;
  mode = 0;
  stageCount = 1;
  rgbToYCbCr.Load(kBt601);
  brightnessVector = CDHVector();
  contrastMatrix.Identity();
  saturationMatrix.Identity();
  hueMatrix.Identity();
  product.Identity();
  offset = CDHVector();
  lastProcamp.Reset();
}

bool CDPSPixelShader::SetOutputFormat(EDPSOutputType type) {
  uint32_t through;
  if (DpsIsRgbOutput(type)) {
    through = 1;
  } else if (DpsIsTvOutput(type)) {
    through = 0;
  } else {
    return false;
  }
  if (through != passThrough) dirty = 1;
  passThrough = through;
  return true;
}

void CDPSPixelShader::SetBrightness(OrvFloat value) { brightnessVector.x = value; }

void CDPSPixelShader::SetContrast(OrvFloat value) { contrastMatrix.e[0] = value; }

void CDPSPixelShader::SetSaturation(OrvFloat value, int32_t colourEnable) {
  const OrvFloat s = colourEnable != 0 ? value : OrvFloat(0);
  saturationMatrix.e[4] = s;
  saturationMatrix.e[8] = s;
}

void CDPSPixelShader::SetHue(OrvFloat angle) {
  const OrvFloat c(static_cast<float>(LocCos(angle.f)));
  const OrvFloat s(static_cast<float>(LocSin(angle.f)));
  hueMatrix.e[4] = c;
  hueMatrix.e[5] = -s;
  hueMatrix.e[7] = s;
  hueMatrix.e[8] = c;
}

bool CDPSPixelShader::SetProcampState(const CDHProcampState* state, uint32_t rebuild) {
  if (state != nullptr && *state != lastProcamp) {
    if (state->valid) {
      SetBrightness(state->brightness);
      SetContrast(state->contrast);
      SetSaturation(state->saturation, state->colourEnable);
      SetHue(state->hue);
      antiFlicker.SetLevel(state->antiFlickerLevel);
    }
    dirty = 1;
  }
  if (state != nullptr) lastProcamp = *state;
  if (rebuild && dirty) return BuildShader();
  return true;
}

bool CDPSPixelShader::SetupShader(EDPSOutputType type, const CDHProcampState* state) {
  if (!SetOutputFormat(type) || !SetProcampState(state, 0)) return false;
  return dirty ? BuildShader() : true;
}

void CDPSPixelShader::PrepareShaderMatrix() {
  if (passThrough) {
    mode = 0;
    return;
  }
  CDHVector base = kYCbCrOffset;
  if (lastProcamp.valid) {
    mode = lastProcamp.antiFlickerLevel != 0 ? 2 : 1;
    product = rgbToYCbCr * contrastMatrix * hueMatrix * saturationMatrix;
    offset = base + brightnessVector;
  } else {
    mode = 1;
    product = rgbToYCbCr;
    offset = base;
  }
}

bool CDPSPixelShader::BuildCustomShader() {
  PrepareShaderMatrix();
  switch (mode) {
    case 0:
      stageCount = BuildPassThroughShader(0, 0, 4);
      break;
    case 1:
      stageCount = BuildColorConvertShader(0, 0, 4);
      break;
    default: {
      const uint32_t filtered = BuildAntiFlickerShader(0, 0, 3);
      stageCount = filtered + BuildColorConvertShader(filtered, 3, 4);
      break;
    }
  }
  if (stageCount == 0) return false;
  dirty = 0;
  return true;
}

bool CDPSPixelShader::BuildShader() {
  if (dirty && !BuildCustomShader()) return false;
  const uint32_t last = stageCount < 6 ? kDpsShaderShortStages : kDpsShaderStages;
  for (uint32_t i = stageCount; i < last; ++i) {
    stages[i].control = DpsShaderStage::kDefaultControl;
    stages[i].second = DpsShaderStage::kDefaultSecond;
    stages[i].spare = 0;
  }
  return true;
}

uint32_t CDPSPixelShader::BuildPassThroughShader(uint32_t n, uint32_t input, uint32_t output) {
  if (n >= kDpsShaderStages) return 0;
  stages[n].control = (input & 0x1F) << kControlInputShift;
  stages[n].second = ((output & 0xF) << kSecondOutputShift) + kPassThroughSecond;
  dirty = 0;
  return 1;
}

uint32_t CDPSPixelShader::BuildColorConvertShader(uint32_t n, uint32_t input, uint32_t output) {
  if (n + 5 > kDpsShaderStages) return 0;
  const uint32_t a = OutputSelector(output);
  const CDHMatrix m = product * OrvFloat(kMatrixScale);
  const CDHVector o = offset * OrvFloat(kOffsetScale);
  auto at = [&m](int r, int c) { return m.e[3 * r + c].f; };

  DpsShaderStage s;
  s.option = kOptionConstants | kOptionConstantsAlt;
  s.control = ((input << kControlInputShift) & kControlInputMask) | kConvertControl;
  s.second = ((output & 0xF) << kSecondOutputShift) + kConvertSecond;
  s.constants[0] = DpsConstantField(at(0, 0));
  s.constants[1] = PairOfFields(at(0, 2), at(0, 1));
  s.constants[2] = DpsConstantField(o.x.f);
  s.constants[3] = PairOfFields(o.z.f, o.y.f);
  stages[n] = s;

  s.option &= ~kOptionConstantsAlt;
  s.control = SetMaskedField(s.control, kControlOutputMask, a);
  s.second = (s.second & ~kConvertSecondLow) | kConvertSecondRow1;
  s.constants[0] = DpsConstantField(at(1, 0));
  s.constants[1] = PairOfFields(at(1, 2), at(1, 1));
  stages[n + 1] = s;

  s.control = SetMaskedField(s.control, kControlOutputMask, a);
  s.second = (s.second & kConvertRow2Keep) | kConvertRow2Set | (output & 0xF) << kSecondOutputShift;
  s.constants[0] = DpsConstantField(at(2, 0));
  s.constants[1] = PairOfFields(at(2, 2), at(2, 1));
  stages[n + 2] = s;

  // Upper clamp of Y to 235/256 and of Cb, Cr to 240/256.
  DpsShaderStage clamp;
  clamp.option = kOptionConstants;
  clamp.control = ((a << kControlInputShift) & kControlInputMask) | kClampControl;
  clamp.second = (output & 0xF) << kSecondOutputShift | kClampSecond;
  clamp.constants[0] = DpsConstantField(kClampHighLuma);
  clamp.constants[1] = PairOfFields(kClampHighChroma, kClampHighChroma);
  stages[n + 3] = clamp;

  // Lower clamp of all three to 16/256.
  clamp.control = kLowClampControl | (clamp.control & kControlNumberMask);
  clamp.constants[0] = 0;
  clamp.constants[1] = PairOfFields(kClampLow, kClampLow);
  stages[n + 4] = clamp;
  dirty = 0;
  return 5;
}

uint32_t CDPSPixelShader::BuildAntiFlickerShader(uint32_t n, uint32_t input, uint32_t output) {
  if (n + 3 > kDpsShaderStages) return 0;
  const uint32_t a = OutputSelector(output);
  int32_t weights[3];
  antiFlicker.GetLevelData(&weights[0], &weights[1], &weights[2]);
  auto weight = [&weights](int i) {
    return static_cast<uint32_t>(LocFloor(static_cast<float>(weights[i]) * kFieldOne / kPercent)) &
           kFieldMask;
  };

  DpsShaderStage s;
  s.option = kOptionConstants;
  s.control = ((input & 0x1F) << kControlInputShift) + kFilterControl;
  s.second = (output & 0xF) << kSecondOutputShift;
  s.constants[0] = weight(0);
  s.constants[1] = weight(0) | weight(0) << kFieldHighShift;
  stages[n] = s;

  for (uint32_t line = 1; line <= 2; ++line) {
    s.second |= kFilterNextSecond;
    s.control = (((input + line) << kControlInputShift) & kControlInputMask) |
                ((a << kControlOutputShift) & kControlOutputMask) | kFilterNextControl;
    s.constants[0] = weight(static_cast<int>(line));
    s.constants[1] = weight(static_cast<int>(line)) | weight(static_cast<int>(line)) << kFieldHighShift;
    stages[n + line] = s;
  }
  dirty = 0;
  return 3;
}

bool CDPSPixelShader::UpdateHardware() {
  if (dirty) return false;
  const uint32_t written = WrittenStages();
  for (uint32_t i = 0; i < written; ++i) {
    DpsShaderStage& s = stages[i];
    s.control = (s.control & ~kControlNumberMask) | DpsStageNumber(i);
    hw->Add(k3dRegStageControl, s.control);
    hw->Add(k3dRegStageSecond, s.second);
    if (s.option & kOptionPair) {
      hw->Add(k3dRegStageOption, s.option);
      hw->Add(k3dRegStageOption2, s.option2);
    }
    if (s.option & (kOptionConstants | kOptionConstantsAlt)) {
      hw->Add(k3dRegStageConst0, s.constants[0]);
      hw->Add(k3dRegStageConst1, s.constants[1]);
      hw->Add(k3dRegStageConst2, s.constants[2]);
      hw->Add(k3dRegStageConst3, s.constants[3]);
    }
  }
  return true;
}
