#include "kernel/3d/targets/target_binding.h"

#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/targets/target_tables.h"

namespace {

constexpr uint32_t kFactorConstant = 12;
constexpr uint32_t kFactorInverseConstant = 13;
constexpr uint32_t kOperationMin = 4;
constexpr uint32_t kOperationMax = 5;
constexpr uint32_t kKeep = 1;
constexpr uint32_t kReplace = 3;
constexpr uint32_t kAlways = 8;

}  // namespace

float DepthScale(const FormatDescriptor* depthFormat) {
  if (depthFormat == nullptr) return kDepthScaleNone;
  const uint32_t shift = depthFormat->shifts[kChannelDepth] & 31;
  const uint32_t range = depthFormat->masks[kChannelDepth] >> shift;
  return range == 0 ? kDepthScaleNone : 1.0f / static_cast<float>(range);
}

uint32_t BoundColourFormatCode(uint32_t code) {
  switch (code) {
    case 7:
      return 6;
    case 9:
      return 8;
    case 12:
      return 11;
    default:
      return code;
  }
}

uint32_t BlendWord(const BlendStates& s, bool withAlpha) {
  uint32_t f[4] = {BlendFactorCode(s.source, withAlpha).source,
                   BlendFactorCode(s.destination, withAlpha).destination,
                   BlendFactorCode(s.alphaSource, withAlpha).source,
                   BlendFactorCode(s.alphaDestination, withAlpha).destination};
  // The constant-colour factors take the pair of fields of their side.
  if (s.source == kFactorConstant) f[0] = 6, f[2] = 7;
  if (s.source == kFactorInverseConstant) f[0] = 7, f[2] = 6;
  if (s.destination == kFactorConstant) f[1] = 6, f[3] = 7;
  if (s.destination == kFactorInverseConstant) f[1] = 7, f[3] = 6;
  // Minimum and maximum take no factors.
  if (s.operation == kOperationMin || s.operation == kOperationMax) f[0] = f[1] = f[2] = f[3] = 1;
  const uint32_t op = BlendOperationCode(s.operation) & 7;
  return f[0] | f[1] << 4 | f[2] << 8 | f[3] << 12 | op << 16 | op << 19;
}

bool StencilInactive(const StencilStates& s, bool switchPending) {
  if (s.enable == 0) return true;
  if (s.fail == kKeep && s.depthFail == kKeep && s.pass == kKeep) return true;
  return s.fail == kKeep && s.depthFail == kKeep && s.pass == kReplace && s.function == kAlways && !switchPending;
}

DepthTest DecideDepthTest(bool haveSurface, uint32_t enable, uint32_t write, uint32_t function,
                          uint32_t workBufferMode, uint32_t stateWord) {
  DepthTest t = {haveSurface && enable != 0, function, 0};
  if (t.on && function == kAlways && write == 0 && workBufferMode != kWbInUse) t.on = false;
  if (!haveSurface && (workBufferMode == kWbInUse || stateWord == 1)) {
    t.on = true;
    t.function = kAlways;
  }
  t.control = (t.on ? 1u : 0u) | (CompareFunctionCode(t.function) & 7) << 1;
  return t;
}

uint32_t SetupModeOf(uint32_t workBufferMode) {
  switch (workBufferMode) {
    case kWbInUse:
      return 3;
    case kWbSuspended:
      return 2;
    default:
      return 0;
  }
}

uint32_t TargetControlLowBits(uint32_t setupMode, uint32_t targetCount, uint32_t stateWord) {
  if (targetCount < 2 && setupMode == 3) return stateWord == 1 ? 0 : 1;
  return setupMode & 3;
}
