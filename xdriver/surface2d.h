// 2D surfaces: memory-manager surfaces that know the mode and address
// words the drawing engine receives for them, and that can be enabled
// (placed), disabled and re-established across mode changes. Also the
// processor's access to a surface's memory.
#pragma once

#include <stdint.h>

#include "core/mm_surface.h"
#include "core/utils.h"

class MmSurfaceManager;
class PDEV;
class TempBit;

// Memory types (heap selectors) and location options of the 2D layer's
// surfaces, as the memory manager knows them.
inline constexpr uint32_t k2dMemoryPrimary = 1;
inline constexpr uint32_t k2dMemoryDeviceBitmap = 15;
inline constexpr uint32_t k2dLocationLocal = 0;
inline constexpr uint32_t k2dLocationAperture = 1;  // local, processor through an aperture only

class Surface2d : public MmSurface {
 public:
  Surface2d() = default;
  ~Surface2d() override = default;

  // Forgets the enabled state and the cached temporary bitmap first.
  bool OnDiscard() override;

  // Places the surface (when it has no memory yet) through the manager and
  // takes its address word; without a manager it only reports whether the
  // surface has memory. Answers whether it is enabled.
  virtual bool Enable(MmSurfaceManager* manager);
  // Gives the memory back through the manager (none: keeps it).
  virtual void Disable(MmSurfaceManager* manager);
  // Enable or disable with the device's manager across a mode change;
  // surfaces in system memory keep their memory.
  virtual void OnAssertMode(PDEV* pdev, uint8_t enable);

  // A temporary surface of about `size` pixels of `format` in `memoryType`:
  // when it cannot be placed the width is halved down to 32, then the
  // height down to 63, then once more from 512 x 256 through an aperture;
  // `size` gets what was placed. False when nothing could be.
  bool AllocTmp(PDEV* pdev, LSIZE* size, uint32_t format, uint32_t memoryType);

  // Descriptor of a surface with a pitch, a layout, a format and a height
  // (depth 1) in the given memory, its size and alignment from the
  // descriptor.
  void Describe(PDEV* pdev, uint32_t pitch, uint32_t layout, uint32_t format, uint32_t height,
                uint32_t memoryType, uint32_t location);

  void ModifySurfMode(uint32_t pitch, uint32_t layout, uint32_t format, uint32_t lines);
  void ModifySurfDim(uint32_t height, uint32_t depthWord);
  void SwapSurfMode(bool swap);

  uint32_t ModeWord() const { return options.desc.word1; }
  uint32_t DimensionsWord() const { return options.desc.word2; }
  // The location bits of the address word: 0 local memory, else system memory.
  uint32_t LocationBits() const { return options.desc.word0 & 0x3; }

  uint32_t memoryId = 0;
  uint8_t enabled = 0;
  TempBit* tempBit = nullptr;  // the cached temporary bitmap, or null
  uint32_t addressWord = 0;    // what the engine receives as the descriptor address
};

// The processor's view of a surface's memory, by where the memory manager
// placed it: local memory through the surface's host aperture when it has
// one (else its window or the frame-buffer mapping), local memory of kind 1
// through the aperture only, system and process memory through the block's
// mapping. Null when there is none. Every successful call is paired with
// ReleaseSurfaceCpu.
uint8_t* LockSurfaceCpu(MmSurface* surface);
void ReleaseSurfaceCpu(MmSurface* surface);
