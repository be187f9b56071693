// Driver switches: the validated form of the registry switches. Validation
// reads a registry switch once and may overrule the value by rules on other
// switches; the rest of the driver then asks the driver switch as often as
// it likes. One common set per board, one local set per device object.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/registry_switches.h"

class PDEV;

// Groups: 1 is validated when the board's sets are built, 2 again whenever a
// further device object of the board starts.
inline constexpr uint32_t kDsGroupBuild = 0x1;
inline constexpr uint32_t kDsGroupEveryHead = 0x2;
inline constexpr uint32_t kDsGroupAll = 0xFFFFFFFF;

class DriverSwitchValidation : public OsHeapObject {
 public:
  explicit DriverSwitchValidation(uint32_t groups) : groupMask(groups) {}
  virtual ~DriverSwitchValidation() = default;
  virtual void Validate(PDEV* pdev) = 0;
  virtual void Invalidate() = 0;

  uint32_t groupMask;
  uint8_t validated = 0;
};

template <typename T>
class DriverSwitch : public DriverSwitchValidation {
 public:
  // Stored value: the registry switch's default.
  DriverSwitch(RegistrySwitch<T>* source, uint32_t groups)
      : DriverSwitchValidation(groups),
        stored(source != nullptr ? source->GetDefaultValue() : T(0)),
        registrySwitch(source) {}
  // A fixed value without a registry switch.
  DriverSwitch(T value, uint32_t groups) : DriverSwitchValidation(groups), stored(value) {}
  ~DriverSwitch() override = default;

  // Reads the registry switch anew (or takes the stored value) and marks the
  // switch validated.
  void Validate(PDEV* pdev) override {
    if (registrySwitch != nullptr) {
      stored = registrySwitch->GetValue(pdev);
      current = stored;
    } else {
      current = stored;
    }
    validated = 1;
  }
  void Invalidate() override { validated = 0; }
  virtual T GetValue() { return current; }

  T stored;
  T current = T(0);
  RegistrySwitch<T>* registrySwitch = nullptr;
};

using DriverSwitchU8 = DriverSwitch<unsigned char>;
using DriverSwitchU32 = DriverSwitch<unsigned int>;

#define ORV_NAMED_U32_SWITCH(Class)                         \
  class Class : public DriverSwitchU32 {                    \
   public:                                                  \
    using DriverSwitchU32::DriverSwitchU32;                 \
    ~Class() override = default;                            \
  };
ORV_NAMED_U32_SWITCH(DsDebugPatches)
ORV_NAMED_U32_SWITCH(DsBmDebugFlags)
ORV_NAMED_U32_SWITCH(DsMmFlags)
ORV_NAMED_U32_SWITCH(DsMmDebugFlags)
ORV_NAMED_U32_SWITCH(DsBmDebugInfo)
ORV_NAMED_U32_SWITCH(DsVertexBuffers)
ORV_NAMED_U32_SWITCH(DsOGLLineStipple)
#undef ORV_NAMED_U32_SWITCH

// BmDebugFlags bit that switches the vertex engine off.
inline constexpr uint32_t kBmDebugNoLoxar = 0x4;

class DsLoxarEnabled : public DriverSwitchU8 {
 public:
  DsLoxarEnabled(RegistrySwitchU8* source, DsBmDebugFlags* debugFlags, uint32_t groups)
      : DriverSwitchU8(source, groups), debugFlags_(debugFlags) {}
  void Validate(PDEV* pdev) override;

 private:
  DsBmDebugFlags* debugFlags_;
};

class DsHwTransformLight : public DriverSwitchU8 {
 public:
  DsHwTransformLight(RegistrySwitchU8* source, DsLoxarEnabled* loxar, uint32_t groups)
      : DriverSwitchU8(source, groups), loxar_(loxar) {}
  void Validate(PDEV* pdev) override;

 private:
  DsLoxarEnabled* loxar_;
};

class DsHwPureDevice : public DriverSwitchU8 {
 public:
  DsHwPureDevice(RegistrySwitchU8* source, DsHwTransformLight* transformLight, uint32_t groups)
      : DriverSwitchU8(source, groups), transformLight_(transformLight) {}
  void Validate(PDEV* pdev) override;

 private:
  DsHwTransformLight* transformLight_;
};

// Overlays are always on: validation forces 1 without reading the parameter.
class DsOverlayEnable : public DriverSwitchU8 {
 public:
  DsOverlayEnable(RegistrySwitchU8* source, uint32_t groups) : DriverSwitchU8(source, groups) {}
  void Validate(PDEV* pdev) override;
};

class DsFakeHostAperture : public DriverSwitchU8 {
 public:
  DsFakeHostAperture(unsigned char value, uint32_t groups) : DriverSwitchU8(value, groups) {}
};

// A switch with a word of its own and no registry switch; no set of this
// system builds one.
class DriverMiniSwitch : public DriverSwitchU32 {
 public:
  DriverMiniSwitch(uint32_t word, uint32_t groups) : DriverSwitchU32(0u, groups), word(word) {}
  void Validate(PDEV* pdev) override;
  uint32_t word;
};

class DsGrayPaletteMode : public DriverMiniSwitch {
 public:
  DsGrayPaletteMode(uint32_t word, uint32_t groups) : DriverMiniSwitch(word, groups) {}
  void Validate(PDEV*) override {}
};

class DsPreviewSupport : public DriverMiniSwitch {
 public:
  DsPreviewSupport(uint32_t word, DsBmDebugFlags* debugFlags, uint32_t groups)
      : DriverMiniSwitch(word, groups), debugFlags_(debugFlags) {}
  void Validate(PDEV* pdev) override;

 private:
  DsBmDebugFlags* debugFlags_;
};

class DsCinefillSupport : public DriverMiniSwitch {
 public:
  DsCinefillSupport(uint32_t word, DsBmDebugFlags* debugFlags, uint32_t groups)
      : DriverMiniSwitch(word, groups), debugFlags_(debugFlags) {}
  void Validate(PDEV*) override { current = 1; }

 private:
  [[maybe_unused]] DsBmDebugFlags* debugFlags_;
};

inline constexpr unsigned kDriverSwitchListSize = 128;

class DriverSwitchManager {
 public:
  DriverSwitchManager() = default;
  ~DriverSwitchManager() { DeleteAllSwitches(); }
  DriverSwitchManager(const DriverSwitchManager&) = delete;
  DriverSwitchManager& operator=(const DriverSwitchManager&) = delete;

  bool AddSwitchToList(DriverSwitchValidation* driverSwitch);
  void Invalidate(uint32_t groups);
  // Invalidates, then validates in list order, the switches of the groups.
  void Validate(PDEV* pdev, uint32_t groups);
  void DeleteAllSwitches();

  DriverSwitchValidation* list[kDriverSwitchListSize] = {};
  uint32_t count = 0;
};

// The common switches in list order.
//   WRAP(name, class, groups): wraps the registry switch of the same name.
//   DEPEND(name, class, on, groups): also takes the switch `on`, listed before.
//   FIXED(name, class, value, groups): a fixed value.
#define ORV_DRIVER_SWITCHES(WRAP, DEPEND, FIXED)                          \
  WRAP(DebugPatches, DsDebugPatches, 1)                                   \
  WRAP(BmDebugFlags, DsBmDebugFlags, 1)                                   \
  WRAP(MmFlags, DsMmFlags, 1)                                             \
  WRAP(MmDebugFlags, DsMmDebugFlags, 3)                                   \
  WRAP(AAMode, DriverSwitchU32, 3)                                        \
  WRAP(ThresholdAA, DriverSwitchU32, 3)                                   \
  WRAP(FragSize, DriverSwitchU32, 3)                                      \
  WRAP(ForceCompressedMask, DriverSwitchU8, 3)                            \
  WRAP(ForcePLNWMASK4FAA, DriverSwitchU8, 3)                              \
  WRAP(AdjustZ, DriverSwitchU8, 3)                                        \
  WRAP(ResolveAlphaBlendedFrags, DriverSwitchU8, 3)                       \
  WRAP(ResolveOnStencilOpChange, DriverSwitchU8, 3)                       \
  WRAP(ForceAGPTextures, DriverSwitchU8, 3)                               \
  WRAP(SwapTexturesVidMemOptions, DriverSwitchU8, 3)                      \
  WRAP(EnableZinit, DriverSwitchU8, 3)                                    \
  WRAP(EnableZCompBrisol, DriverSwitchU8, 3)                              \
  WRAP(ForceDepthToS8Z24Brisol, DriverSwitchU8, 3)                        \
  WRAP(DivByZeroRefRastBrisol, DriverSwitchU8, 3)                         \
  WRAP(Force3DTextureToABBrisol, DriverSwitchU8, 1)                       \
  WRAP(Force3DTextureToCDBrisol, DriverSwitchU8, 1)                       \
  WRAP(Force3DTextureTextiledToABBrisol, DriverSwitchU8, 1)               \
  WRAP(Force3DTextureTextiledToCDBrisol, DriverSwitchU8, 1)               \
  WRAP(Use2DClearForceZUncompBrisol, DriverSwitchU8, 3)                   \
  WRAP(Use3DClearBrisol, DriverSwitchU8, 3)                               \
  WRAP(UseZCompInMultContextBrisol, DriverSwitchU8, 3)                    \
  WRAP(UseBrisolMemoryStrategies, DriverSwitchU8, 3)                      \
  WRAP(ZUncompAnd2DClearSceneInProgBrisol, DriverSwitchU8, 3)             \
  WRAP(ColRndMode, DriverSwitchU32, 3)                                    \
  WRAP(PhysicalMemory, DriverSwitchU32, 1)                                \
  WRAP(HqCubemaps, DriverSwitchU8, 3)                                     \
  WRAP(UseTextiled, DriverSwitchU8, 3)                                    \
  WRAP(VertexBuffers, DsVertexBuffers, 3)                                 \
  WRAP(MemLevels, DriverSwitchU32, 3)                                     \
  WRAP(LightingType, DriverSwitchU32, 3)                                  \
  WRAP(VECacheMode, DriverSwitchU8, 3)                                    \
  WRAP(CullNoneMode, DriverSwitchU32, 3)                                  \
  WRAP(TnLZFactor, DriverSwitchU32, 3)                                    \
  WRAP(ForcePCIAllocation, DriverSwitchU8, 3)                             \
  WRAP(GuardBandClipping, DriverSwitchU32, 3)                             \
  WRAP(VertexShader, DriverSwitchU8, 3)                                   \
  WRAP(VertexShaderOptions, DriverSwitchU32, 3)                           \
  DEPEND(LoxarEnable, DsLoxarEnabled, BmDebugFlags, 3)                    \
  DEPEND(HwTransformLight, DsHwTransformLight, LoxarEnable, 3)            \
  DEPEND(HwPureDevice, DsHwPureDevice, HwTransformLight, 3)               \
  WRAP(PerformCRegCheck, DriverSwitchU8, 1)                               \
  WRAP(ClipReject, DriverSwitchU8, 3)                                     \
  WRAP(VolumetricShadow, DriverSwitchU32, 3)                              \
  WRAP(ClippingType, DriverSwitchU32, 1)                                  \
  WRAP(TEEnable, DriverSwitchU8, 3)                                       \
  WRAP(TEPipeSelect, DriverSwitchU32, 3)                                  \
  WRAP(TEDefaultColor, DriverSwitchU32, 3)                                \
  WRAP(TEMultiplePipes, DriverSwitchU32, 3)                               \
  WRAP(TEFastTrilinear, DriverSwitchU8, 3)                                \
  WRAP(TEFilteringOptions, DriverSwitchU32, 3)                            \
  WRAP(TELodBias, DriverSwitchU32, 3)                                     \
  WRAP(TEDLFCounters, DriverSwitchU32, 3)                                 \
  WRAP(Spanthree, DriverSwitchU8, 3)                                      \
  WRAP(PolygonOffset, DriverSwitchU8, 3)                                  \
  WRAP(WideLines, DriverSwitchU8, 3)                                      \
  WRAP(LineStipple, DsOGLLineStipple, 3)                                  \
  WRAP(TextureCompress, DriverSwitchU32, 3)                               \
  WRAP(Debug, DriverSwitchU32, 3)                                         \
  WRAP(FastBitmap, DriverSwitchU8, 3)                                     \
  WRAP(FastRasterPos, DriverSwitchU8, 3)                                  \
  WRAP(BlitSoft, DriverSwitchU8, 3)                                       \
  FIXED(FixedZero66, DriverSwitchU8, 0, 1)                                \
  WRAP(BmDebugInfo, DsBmDebugInfo, 1)                                     \
  WRAP(BmDbgOutLvl, DriverSwitchU32, 3)                                   \
  WRAP(VSyncInt, DriverSwitchU8, 3)                                       \
  WRAP(FulmiraFullScreen, DriverSwitchU8, 3)                              \
  WRAP(FulmiraRender, DriverSwitchU8, 3)                                  \
  FIXED(FakeHostAperture, DsFakeHostAperture, 0, 1)                       \
  WRAP(FlipOnVBlank, DriverSwitchU32, 3)                                  \
  WRAP(OverlayEnable, DsOverlayEnable, 3)                                 \
  WRAP(EnableCostlyOverlaySupport, DriverSwitchU8, 3)                     \
  WRAP(WaitOnFieldFlip, DriverSwitchU8, 3)                                \
  WRAP(NonLocalToVideoBlit, DriverSwitchU8, 3)                            \
  WRAP(VPEEnable, DriverSwitchU8, 1)

inline constexpr unsigned kDriverSwitchCount = 78;

class DriverSwitchesCommon : public OsHeapObject {
 public:
  // Builds the 78 common switches over the board's registry switches, all
  // unvalidated; *ok is 0 when one cannot be allocated, and then none is left.
  DriverSwitchesCommon(uint8_t* ok, PDEV* pdev);
  virtual ~DriverSwitchesCommon() = default;
  DriverSwitchesCommon(const DriverSwitchesCommon&) = delete;
  DriverSwitchesCommon& operator=(const DriverSwitchesCommon&) = delete;

  // Destroys every switch and clears the named pointers.
  void DeleteAllSwitches();

  DriverSwitchManager manager;

#define ORV_DS_MEMBER(name, Class, ...) Class* name = nullptr;
  ORV_DRIVER_SWITCHES(ORV_DS_MEMBER, ORV_DS_MEMBER, ORV_DS_MEMBER)
#undef ORV_DS_MEMBER
};

class DriverSwitchesLocal : public OsHeapObject {
 public:
  DriverSwitchesLocal(uint8_t* ok, PDEV* pdev);
  virtual ~DriverSwitchesLocal() = default;
  DriverSwitchManager manager;
};

// Row 8 of the component table. The first device object of a board builds
// the registry switches and the common set and validates every switch; a
// further one validates group 2 again. Every device object gets a local set.
bool InitDriverSwitchManager(PDEV* pdev);
void CleanupDriverSwitchManager(PDEV* pdev);
