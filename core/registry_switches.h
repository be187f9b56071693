// Registry switches: typed, named settings of the driver core with built-in
// defaults, read from named parameters of the kernel module. One manager per
// board builds the 78 switches of the system.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/chip_ids.h"
#include "core/heap_object.h"

class PDEV;

class RegistrySwitchAbstract : public OsHeapObject {
 public:
  virtual ~RegistrySwitchAbstract() = default;
};

// Section.name longer than this is never asked for.
inline constexpr size_t kRegistryNameLimit = 511;

template <typename T>
class RegistrySwitch : public RegistrySwitchAbstract {
 public:
  enum Scope : uint32_t { kScopeDefault = 0 };

  // *ok is 0 when a copy of the section or the name cannot be allocated.
  RegistrySwitch(uint8_t* ok, const char* section, const char* name, Scope scope,
                 T defaultValue);
  ~RegistrySwitch() override;
  RegistrySwitch(const RegistrySwitch&) = delete;
  RegistrySwitch& operator=(const RegistrySwitch&) = delete;

  // The named parameter's value, or the default when it cannot be read.
  virtual T GetValue(PDEV* pdev);
  virtual bool SetValue(PDEV* pdev, T value);
  virtual T GetDefaultValue() { return defaultValue_; }

  const char* Section() const { return section_; }
  const char* Name() const { return name_; }

 private:
  bool NameFits() const;

  char* section_ = nullptr;
  char* name_ = nullptr;
  Scope scope_ = kScopeDefault;
  T defaultValue_;
};

extern template class RegistrySwitch<unsigned char>;
extern template class RegistrySwitch<unsigned int>;
using RegistrySwitchU8 = RegistrySwitch<unsigned char>;
using RegistrySwitchU32 = RegistrySwitch<unsigned int>;

// The 78 switches, in build order: X(name, section, value type, default,
// revision mask, default when the revision bits have any bit of the mask).
#define ORV_REGISTRY_SWITCHES(X)                                                   \
  X(AAMode, "3D", U32, 82, 0, 0)                                                   \
  X(ThresholdAA, "3D", U32, 0x7FFFFF, 0, 0)                                        \
  X(FragSize, "3D", U32, 0x40800000, 0, 0) /* the bits of the float 4.0 */         \
  X(ForceCompressedMask, "3D", U8, 1, 0, 0)                                        \
  X(ForcePLNWMASK4FAA, "3D", U8, 1, 0, 0)                                          \
  X(ResolveOnStencilOpChange, "3D", U8, 1, 0, 0)                                   \
  X(AdjustZ, "3D", U8, 0, 0, 0)                                                    \
  X(ResolveAlphaBlendedFrags, "3D", U8, 0, 0, 0)                                   \
  X(ForceAGPTextures, "3D", U8, 0, 0, 0)                                           \
  X(SwapTexturesVidMemOptions, "3D", U8, 0, 0, 0)                                  \
  X(HwTransformLight, "3D", U8, 1, 0, 0)                                           \
  X(HwPureDevice, "3D", U8, 1, 0, 0)                                               \
  X(EnableZinit, "3D", U8, 0, kRevKestrion2, 1)                                    \
  X(EnableZCompBrisol, "3D", U8, 0, 0, 0)                                          \
  X(ForceDepthToS8Z24Brisol, "3D", U8, 0, 0, 0)                                    \
  X(DivByZeroRefRastBrisol, "3D", U8, 1, 0, 0)                                     \
  X(Force3DTextureToABBrisol, "3D", U8, 0, 0, 0)                                   \
  X(Force3DTextureToCDBrisol, "3D", U8, 0, 0, 0)                                   \
  X(Force3DTextureTextiledToABBrisol, "3D", U8, 0, 0, 0)                           \
  X(Force3DTextureTextiledToCDBrisol, "3D", U8, 0, 0, 0)                           \
  X(Use2DClearForceZUncompBrisol, "3D", U8, 0, 0, 0)                               \
  X(Use3DClearBrisol, "3D", U8, 1, 0, 0)                                           \
  X(UseZCompInMultContextBrisol, "3D", U8, 1, 0, 0)                                \
  X(ColRndMode, "3D", U32, 1, kRevKestrionNext1, 0)                                \
  X(UseBrisolMemoryStrategies, "3D", U8, 0, 0, 0)                                  \
  X(ZUncompAnd2DClearSceneInProgBrisol, "3D", U8, 0, 0, 0)                         \
  X(PhysicalMemory, "System", U32, 256, 0, 0)                                      \
  X(HqCubemaps, "3D", U8, 0, 0, 0)                                                 \
  X(UseTextiled, "3D", U8, 1, 0, 0)                                                \
  X(VertexBuffers, "3D", U32, 1, 0, 0)                                             \
  X(MemLevels, "3D", U32, 0x3FFF8842, kRevKestrion1Rev3, 0x3FF00842)               \
  X(LightingType, "3D", U32, 1, 0, 0)                                              \
  X(VECacheMode, "3D", U8, 1, 0, 0)                                                \
  X(CullNoneMode, "3D", U32, 0, kRevKestrionNext1, 1)                              \
  X(TnLZFactor, "3D", U32, 1, 0, 0)                                                \
  X(ForcePCIAllocation, "3D", U8, 0, 0, 0)                                         \
  X(GuardBandClipping, "3D", U32, 2, 0, 0)                                         \
  X(VertexShader, "3D", U8, 1, 0, 0)                                               \
  X(VertexShaderOptions, "3D", U32, 17, 0, 0)                                      \
  X(LoxarEnable, "3D", U8, 1, 0, 0)                                                \
  X(PerformCRegCheck, "3D", U8, 0, 0, 0)                                           \
  X(ClipReject, "3D", U8, 0, 0, 0)                                                 \
  X(VolumetricShadow, "3D", U32, 1, 0, 0)                                          \
  X(ClippingType, "3D", U32, 0, 0, 0)                                              \
  X(TEEnable, "3D", U8, 1, 0, 0)                                                   \
  X(TEPipeSelect, "3D", U32, 4, 0, 0)                                              \
  X(TEDefaultColor, "3D", U32, 0xFFFF80C0, 0, 0)                                   \
  X(TEMultiplePipes, "3D", U32, 7, 0, 0)                                           \
  X(TEFastTrilinear, "3D", U8, 0, 0, 0)                                            \
  X(TEFilteringOptions, "3D", U32, 0xFFFFFF, 0, 0)                                 \
  X(TELodBias, "3D", U32, 0, 0, 0)                                                 \
  X(TEDLFCounters, "3D", U32, 0x4087, kRevKestrionNext1, 0x1E4087)                 \
  X(Spanthree, "OGL", U8, 0, 0, 0)                                                 \
  X(PolygonOffset, "OGL", U8, 1, 0, 0)                                             \
  X(WideLines, "OGL", U8, 1, 0, 0)                                                 \
  X(LineStipple, "OGL", U32, 1, 0, 0)                                              \
  X(TextureCompress, "OGL", U32, 0, 0, 0)                                          \
  X(Debug, "OGL", U32, 0, 0, 0)                                                    \
  X(FastBitmap, "OGL", U8, 1, 0, 0)                                                \
  X(FastRasterPos, "OGL", U8, 1, 0, 0)                                             \
  X(MmFlags, "System", U32, 2, 0, 0)                                               \
  X(MmDebugFlags, "System", U32, 0, 0, 0)                                          \
  X(BmDebugFlags, "System", U32, 0, 0, 0)                                          \
  X(BmDebugInfo, "System", U32, 0, 0, 0)                                           \
  X(BmDbgOutLvl, "System", U32, 0, 0, 0)                                           \
  X(BlitSoft, "3D", U8, 0, 0, 0)                                                   \
  X(DebugPatches, "System", U32, 0, 0, 0)                                          \
  X(VSyncInt, "System", U8, 0, 0, 0)                                               \
  X(FulmiraFullScreen, "3D", U8, 0, 0, 0)                                          \
  X(FulmiraRender, "3D", U8, 0, 0, 0)                                              \
  X(DxVaSupport, "3D", U8, 0, 0, 0)                                                \
  X(DxVaSupportIndicator, "DirectX", U8, 0, 0, 0)                                  \
  X(FlipOnVBlank, "3D", U32, 3, 0, 0)                                              \
  X(OverlayEnable, "DirectX", U8, 1, 0, 0)                                         \
  X(EnableCostlyOverlaySupport, "DirectX", U8, 0, 0, 0)                            \
  X(WaitOnFieldFlip, "DirectX", U8, 1, 0, 0)                                       \
  X(NonLocalToVideoBlit, "DirectX", U8, 0, 0, 0)                                   \
  X(VPEEnable, "DirectX", U8, 0, 0, 0)

inline constexpr unsigned kRegistrySwitchCount = 78;
inline constexpr unsigned kRegistrySwitchListSize = 128;

class RegistrySwitchManager : public OsHeapObject {
 public:
  // Builds the 78 switches in order; *ok is 0 when one cannot be built, and
  // then none is left.
  RegistrySwitchManager(uint8_t* ok, PDEV* pdev);
  ~RegistrySwitchManager();
  RegistrySwitchManager(const RegistrySwitchManager&) = delete;
  RegistrySwitchManager& operator=(const RegistrySwitchManager&) = delete;

  bool AddSwitchToList(RegistrySwitchAbstract* registrySwitch);
  // Destroys every listed switch and clears the named pointers.
  void DeleteAllSwitches();

#define ORV_REGISTRY_SWITCH_MEMBER(name, section, type, value, mask, masked)       \
  RegistrySwitch##type* name = nullptr;
  ORV_REGISTRY_SWITCHES(ORV_REGISTRY_SWITCH_MEMBER)
#undef ORV_REGISTRY_SWITCH_MEMBER

  RegistrySwitchAbstract* list[kRegistrySwitchListSize] = {};
  uint32_t count = 0;
};
