// The surfaces of display processing and its three back buffers: a surface
// knows its memory-manager surface, the descriptors the 2D engine, the
// texture units and the display controller take for it, and its viewport;
// it clears, copies, stretches (with the pixel shader, texture engine and
// texture set-up it shares with the other back buffers) and flips.
#pragma once

#include <stdint.h>

#include "core/mm_surface.h"
#include "core/utils.h"
#include "xdriver/dps_shader.h"
#include "xdriver/dps_texture.h"
#include "xdriver/dps_types.h"

class CDPSHwManager;
class HwManager;
class PDEV;

// Surface types: the memory manager's allocation policy of each surface.
inline constexpr uint32_t kDpsSurfaceDesktop = 1;
inline constexpr uint32_t kDpsSurfaceBackBuffer = 3;
inline constexpr uint32_t kDpsSurfacePreScale = 4;

// Largest width or height a surface copies in one piece.
inline constexpr int32_t kDpsMaxBltSize = 2048;

class CDPSSurface {
 public:
  CDPSSurface() = default;
  ~CDPSSurface() = default;
  CDPSSurface(const CDPSSurface&) = delete;
  CDPSSurface& operator=(const CDPSSurface&) = delete;

  // Describes the surface (its allocation, texture and display descriptors
  // by pixel kind) with the whole surface as viewport. True.
  bool Init(PDEV* pdev, LSIZE size, uint32_t kind, uint32_t surfaceType);
  // Places it; its offset becomes the address of every descriptor.
  bool Create(PDEV* pdev);
  void Destroy(PDEV* pdev);
  // Forgets the description (the option word and collaborators stay).
  void Reset();
  // 1: the texture descriptor; 0: the destination descriptor.
  SDPSSurfDesc GetDPSSurfDesc(uint32_t which) const;
  void SetViewport(const LRECT& rect);
  // Takes address words (of a surface placed elsewhere) for every descriptor.
  void SetAddress(uint32_t address);

  // A 2D fill through the primary command stream.
  bool Fill(HwManager* hw, const LRECT& rect, uint32_t value);
  // Black (YCbCr black for the TV output format) over the viewport or all.
  bool Clear(HwManager* hw, uint32_t viewportOnly);
  // 2D copy of src's viewport to this one's, through the register list.
  bool Blit(HwManager* hw, CDPSSurface* src);
  // src's viewport textured into this one's viewport through the shader.
  bool Stretch(HwManager* hw, CDPSSurface* src);
  // Flips the controller to this surface.
  bool Display(PDEV* pdev, EDPSController controller);

  uint32_t width = 0;   // 14 bits
  uint32_t height = 0;  // 14 bits
  uint32_t kind = 0;
  uint32_t initialised = 0;
  uint32_t option = 0;  // later boards: the stretch sets a bias
  uint32_t created = 0;
  uint32_t needsClear = 1;
  LRECT viewport = {};
  float viewportF[4] = {};
  SDPSSurfDesc destination;  // address, allocation format word
  SDPSSurfDesc texture;      // address, texture format word, height word
  uint32_t displayAddress = 0;
  uint32_t displayFormat = 0;
  EDPSOutputType outputType = kDpsOutputRgb;
  CDPSHwManager* hw = nullptr;
  CDPSPixelShader* shader = nullptr;
  CDPSTextureEngine* textureEngine = nullptr;
  CDPSTextureSetup* textureSetup = nullptr;
  MmSurface surface;
};

inline constexpr uint32_t kDpsBackBuffers = 3;

class CDPSBackBuffersMgr {
 public:
  // Later boards (revision bits 0x7FC00) get the option word and the
  // texture engine's table.
  CDPSBackBuffersMgr(uint32_t revisionBits, CDPSHwManager* hw);

  bool Init(PDEV* pdev, LSIZE size, uint32_t kind, uint32_t surfaceType);
  // True when more than one buffer could be placed.
  bool Create(PDEV* pdev);
  bool Destroy(PDEV* pdev);
  // Fits the destination into the buffers and prepares the shader, the
  // texture engine and the texture set-up for `source`. False when the
  // destination is larger than the buffers.
  bool Initialize(EDPSOutputType type, EDPSFiltering filtering, const CDPSSurface& source,
                  const LRECT& dst, uint32_t keepAspect);
  // Shrinks dst around its centre to src's aspect ratio.
  static bool ComputeDstViewport(const LRECT& src, LRECT& dst);
  void Reset();
  CDPSSurface* Lock(uint32_t index);
  bool UnLock(CDPSSurface* surface);
  uint32_t GetInactiveIndex() const { return 1; }
  bool SetActive(PDEV* pdev, uint32_t index, EDPSController controller);
  uint32_t GetBackBufferAddress(uint32_t index) const;

  CDPSPixelShader shader;
  CDPSSurface buffers[kDpsBackBuffers];
  CDPSTextureEngine textureEngine;
  CDPSTextureSetup textureSetup;
  EDPSFiltering filtering = kDpsFilterNone;
  uint32_t locks[kDpsBackBuffers] = {};
  uint32_t activeIndex = 0;
  uint32_t createdCount = 0;
};

// Filtering for a source viewport ws x hs shown in wd x hd: 1 for equal
// sizes (or with filtering off), 3 for a strong reduction, else 2.
EDPSFiltering DpsChooseFiltering(uint32_t filteringOn, EDPSOutputType type, const LRECT& source,
                                 const LRECT& destination);
