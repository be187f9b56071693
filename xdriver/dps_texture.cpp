#include "xdriver/dps_texture.h"

#include "core/regs/engine3d.h"
#include "xdriver/dps_hw.h"
#include "xdriver/dps_shader.h"

namespace {

constexpr uint32_t kUnitOnControl = 0x40100;
constexpr uint32_t kUnitOffControl = 0x10000;
constexpr uint32_t kFilterStretch = 0x12;
constexpr uint32_t kFilterReduce = 0x09;
constexpr uint32_t kUnitWordAllOnes = 0xFFFFFFFF;
// Table words of the standard and the three-line units.
constexpr uint32_t kStandardTableBase = 0;
constexpr uint32_t kAntiFlickerTableBase = 8;

// Coordinate kinds: 1 the destination, 2-5 texture units 0-3.
constexpr uint8_t kKindShift = 1;
constexpr uint8_t kSecondRegister = 0x1;
constexpr uint32_t kKindRegisters[] = {0, k3dRegVertexPosition, k3dRegVertexTex0,
                                       k3dRegVertexTex1, k3dRegVertexTex2, k3dRegVertexTex3};

uint32_t KindOf(const DpsCoordinate& c) { return (c.control >> kKindShift) & 0xF; }

}  // namespace

// ---- CDPSTextureEngine ------------------------------------------------------------------------

void CDPSTextureEngine::Reset() {
  antiFlicker = 0;
  dirty = 1;
  filtering = kDpsFilterNone;
  source = SDPSSurfDesc();
  for (DpsTextureUnit& u : units) {
    u = DpsTextureUnit();
    u.control = kUnitOffControl;
    u.word585 = k3dTexWord585;
  }
}

bool CDPSTextureEngine::SetupTextureEngine(EDPSFiltering f, const SDPSSurfDesc* desc,
                                           const CDHProcampState* state) {
  if (desc != nullptr) {
    source = *desc;
    dirty = 1;
  }
  if (f != filtering) dirty = 1;
  filtering = f;
  SetProcampState(state, 0);
  return dirty ? BuildTextureEngine() : true;
}

bool CDPSTextureEngine::SetProcampState(const CDHProcampState* state, uint32_t rebuild) {
  if (state != nullptr) {
    const uint32_t on = state->antiFlickerLevel != 0 ? 1 : 0;
    if (on != antiFlicker) dirty = 1;
    antiFlicker = on;
  }
  if (rebuild && dirty) return BuildTextureEngine();
  return true;
}

void CDPSTextureEngine::UpdateSrcSurfDesc(const SDPSSurfDesc* desc) {
  if (desc == nullptr) return;
  source = *desc;
  for (DpsTextureUnit& u : units) {
    if (!u.enabled) continue;
    u.desc[0] = source.address;
    u.desc[1] = source.format;
    u.desc[2] = source.height;
  }
}

bool CDPSTextureEngine::BuildTextureEngine() {
  const bool units = antiFlicker ? BuildAntiFlickerTextureEngine() : BuildStandardTextureEngine();
  if (units && BuildCommonTextureEngine()) dirty = 0;
  return true;
}

bool CDPSTextureEngine::BuildStandardTextureEngine() {
  BuildUnits(1, kStandardTableBase);
  return true;
}

bool CDPSTextureEngine::BuildAntiFlickerTextureEngine() {
  BuildUnits(3, kAntiFlickerTableBase);
  return true;
}

void CDPSTextureEngine::BuildUnits(uint32_t enabled, uint32_t tableBase) {
  for (uint32_t i = 0; i < kDpsTextureUnits; ++i) {
    DpsTextureUnit& u = units[i];
    u = DpsTextureUnit();
    u.enabled = i < enabled ? 1 : 0;
    u.control = u.enabled ? kUnitOnControl : kUnitOffControl;
    u.word585 = k3dTexWord585;
    if (tableFlag) {
      u.tableValueValid = 1;
      u.tableValue = table[tableBase + i];
    }
  }
}

bool CDPSTextureEngine::BuildCommonTextureEngine() {
  const uint32_t filter = filtering == kDpsFilterStretch  ? kFilterStretch
                          : filtering == kDpsFilterReduce ? kFilterReduce
                                                          : 0;
  for (DpsTextureUnit& u : units) {
    if (!u.enabled) continue;
    u.filter = filter;
    u.word585 = k3dTexWord585;
  }
  UpdateSrcSurfDesc(&source);
  return true;
}

bool CDPSTextureEngine::UpdateHardware() {
  if (dirty) return false;
  for (uint32_t i = 0; i < kDpsTextureUnits; ++i) {
    const DpsTextureUnit& u = units[i];
    hw->Add(k3dRegUnitControl0 + 4 * i, (u.control & ~k3dUnitBitsMask) | 1u << i);
    if (u.tableValueValid) hw->Add(k3dRegTexTable, u.tableValue);
    if (!u.enabled) continue;
    hw->Add(k3dRegTexFilter, u.filter);
    hw->Add(k3dRegTexWord585, u.word585);
    hw->Add(k3dRegTexWordC8, 0);
    hw->Add(k3dRegTexWordCC, kUnitWordAllOnes);
    hw->Add(k3dRegTexWordD0, 0);
    hw->Add(k3dRegTexWordD4, 0);
    hw->Add(k3dRegTexWordD8, 0);
    hw->Add(k3dRegTexAddress, u.desc[0]);
    hw->Add(k3dRegTexMode, u.desc[1]);
    hw->Add(k3dRegTexDimensions, u.desc[2]);
  }
  return true;
}

// ---- CDPSTextureSetup -------------------------------------------------------------------------

void CDPSTextureSetup::Reset() {
  dirty = 1;
  antiFlicker = 0;
  incrementH = incrementV = OrvFloat(0);
  srcWidth = srcHeight = 0;
  srcViewport = LRECT{};
  dst = LRECT{};
  for (DpsCoordinateRecord& r : units) r = DpsCoordinateRecord();
  destination = DpsCoordinateRecord();
}

void CDPSTextureSetup::SetSrc(const LRECT& full, const LRECT& viewport) {
  srcViewport = viewport;
  srcWidth = full.right - full.left;
  srcHeight = full.bottom - full.top;
  dirty = 1;
}

void CDPSTextureSetup::SetDst(const LRECT& d) {
  dst = d;
  dirty = 1;
}

bool CDPSTextureSetup::SetupTextureSetup(const LRECT& full, const LRECT& viewport, const LRECT& d,
                                         const CDHProcampState* state) {
  SetSrc(full, viewport);
  SetDst(d);
  const bool increments = ComputeIncrements();
  SetProcampState(state, 0);
  if (!increments) return false;
  return dirty ? BuildTextureSetup() : true;
}

bool CDPSTextureSetup::ComputeIncrements() {
  const int32_t dw = dst.right - dst.left;
  const int32_t dh = dst.bottom - dst.top;
  if (dw == 0 || dh == 0) return false;
  incrementH = OrvFloat(static_cast<float>(srcViewport.right - srcViewport.left) / static_cast<float>(dw));
  incrementV = OrvFloat(static_cast<float>(srcViewport.bottom - srcViewport.top) / static_cast<float>(dh));
  return true;
}

bool CDPSTextureSetup::MoveSrcViewport(const LRECT& rect) {
  if (!TOOL_RectIsEgual(&rect, &srcViewport)) {
    srcViewport = rect;
    dirty = 1;
  }
  if (!dirty) return true;
  return ComputeIncrements() && BuildTextureSetup();
}

bool CDPSTextureSetup::SetProcampState(const CDHProcampState* state, uint32_t rebuild) {
  if (state != nullptr) {
    const uint32_t on = state->antiFlickerLevel != 0 ? 1 : 0;
    if (on != antiFlicker) dirty = 1;
    antiFlicker = on;
  }
  if (rebuild && dirty) return ComputeIncrements() && BuildTextureSetup();
  return true;
}

bool CDPSTextureSetup::BuildTextureSetup() {
  if (dst.right == dst.left || dst.bottom == dst.top || srcWidth == 0 || srcHeight == 0)
    return false;
  InitVertexSets();
  if (antiFlicker) {
    BuildAntiFlickerTextureSetup();
  } else {
    BuildStandardTextureSetup();
  }
  dirty = 0;
  return true;
}

void CDPSTextureSetup::InitVertexSets() {
  for (uint32_t j = 0; j < 3; ++j) {
    destination.corners[j].control = static_cast<uint8_t>(1 << kKindShift);
    for (uint32_t u = 0; u < kDpsTextureUnits; ++u)
      units[u].corners[j].control = static_cast<uint8_t>((2 + u) << kKindShift);
  }
  // The destination's third corner takes its y through the second register,
  // as the transforms' textured rectangles give it.
  destination.corners[2].control |= kSecondRegister;
}

OrvFloat CDPSTextureSetup::GetNormalizedValue(OrvFloat coordinate, OrvFloat increment,
                                              OrvFloat size) {
  return (coordinate + increment / OrvFloat(2)) / size;
}

void CDPSTextureSetup::BuildUnit(uint32_t u, float shift) {
  const OrvFloat w(static_cast<float>(srcWidth));
  const OrvFloat h(static_cast<float>(srcHeight));
  const OrvFloat left = GetNormalizedValue(OrvFloat(static_cast<float>(srcViewport.left)), incrementH, w);
  const OrvFloat right = GetNormalizedValue(OrvFloat(static_cast<float>(srcViewport.right)), incrementH, w);
  const OrvFloat top =
      GetNormalizedValue(OrvFloat(static_cast<float>(srcViewport.top) + shift), incrementV, h);
  const OrvFloat bottom =
      GetNormalizedValue(OrvFloat(static_cast<float>(srcViewport.bottom) + shift), incrementV, h);
  const OrvFloat s[3] = {left, right, left};
  const OrvFloat t[3] = {top, top, bottom};
  DpsCoordinateRecord& r = units[u];
  r.active = 1;
  for (uint32_t j = 0; j < 3; ++j) {
    r.corners[j].w0 = s[j];
    r.corners[j].w1 = t[j];
    r.corners[j].w2 = OrvFloat(0);
    r.corners[j].w3 = OrvFloat(0);
  }
}

void CDPSTextureSetup::BuildStandardTextureSetup() {
  for (DpsCoordinateRecord& r : units) r.active = 0;
  BuildUnit(0, 0.0f);
  BuildDestinationTextureSetup();
}

void CDPSTextureSetup::BuildAntiFlickerTextureSetup() {
  units[3].active = 0;
  // The line above, the line itself and the line below.
  BuildUnit(0, -incrementV.f);
  BuildUnit(1, 0.0f);
  BuildUnit(2, incrementV.f);
  BuildDestinationTextureSetup();
}

void CDPSTextureSetup::BuildDestinationTextureSetup() {
  const float x[3] = {static_cast<float>(dst.left), static_cast<float>(dst.right),
                      static_cast<float>(dst.left)};
  const float y[3] = {static_cast<float>(dst.top), static_cast<float>(dst.top),
                      static_cast<float>(dst.bottom)};
  destination.active = 1;
  for (uint32_t j = 0; j < 3; ++j) {
    DpsCoordinate& c = destination.corners[j];
    c.w0 = OrvFloat(x[j]);
    c.w1 = OrvFloat(y[j]);
    c.w2 = OrvFloat(0);
    c.w3 = OrvFloat(KindOf(c) == k3dVertexKindPosition ? 1.0f : 0.0f);
  }
}

uint32_t CDPSTextureSetup::ActiveUnits() const {
  uint32_t n = 0;
  for (const DpsCoordinateRecord& r : units) n += r.active ? 1 : 0;
  return n;
}

bool CDPSTextureSetup::UpdateHardware() {
  if (dirty) return false;
  auto put = [this](const DpsCoordinateRecord& r) {
    for (uint32_t j = 0; j < 3; ++j) {
      const DpsCoordinate& c = r.corners[j];
      hw->AddFloat(k3dRegVertexW3 + 4 * j, c.w3.f);
      hw->AddFloat(k3dRegVertexW2, c.w2.f);
      hw->AddFloat((c.control & kSecondRegister) ? k3dRegVertexW1Alt : k3dRegVertexW1, c.w1.f);
      const uint32_t kind = KindOf(c);
      if (kind >= 1 && kind <= 5) hw->AddFloat(kKindRegisters[kind], c.w0.f);
    }
  };
  for (const DpsCoordinateRecord& r : units)
    if (r.active) put(r);
  if (destination.active) put(destination);
  return true;
}
