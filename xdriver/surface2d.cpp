#include "xdriver/surface2d.h"

#include "core/driver_switches.h"
#include "core/mm_aperture.h"
#include "core/mm_surface_manager.h"
#include "core/pdev.h"
#include "core/regs/engine2d.h"

namespace {

// Bit 0 of the memory-option byte (the second byte of the BmDebugFlags
// switch): 2D surfaces get 2 in bits 14-15 of their dimensions word.
constexpr uint32_t kBmDebugSurfaceField = 0x100;
constexpr uint32_t kDimField14Value = 2;

bool SurfaceFieldWanted(const CommonData* common) {
  if (common == nullptr || common->driverSwitches == nullptr) return false;
  DsBmDebugFlags* flags = common->driverSwitches->BmDebugFlags;
  return flags != nullptr && (flags->GetValue() & kBmDebugSurfaceField) != 0;
}

// Smallest sizes AllocTmp shrinks to, and where it starts again.
constexpr int32_t kTmpMinWidth = 32;
constexpr int32_t kTmpMinHeight = 63;
constexpr LSIZE kTmpRetrySize = {512, 256};

}  // namespace

bool Surface2d::OnDiscard() {
  enabled = 0;
  tempBit = nullptr;
  return MmSurface::OnDiscard();
}

bool Surface2d::Enable(MmSurfaceManager* m) {
  enabled = block != nullptr ? 1 : 0;
  tempBit = nullptr;
  if (m == nullptr) return enabled != 0;
  if (block == nullptr) {
    enabled = m->CreateSurface(this) ? 1 : 0;
    if (enabled && SurfaceFieldWanted(m->common)) {
      options.desc.word2 = Dim2dField14::Set(options.desc.word2, kDimField14Value);
    }
  }
  addressWord = busWord;
  return enabled != 0;
}

void Surface2d::Disable(MmSurfaceManager* m) {
  if (block != nullptr && m != nullptr) m->DestroySurface(this);
  enabled = 0;
  tempBit = nullptr;
}

void Surface2d::OnAssertMode(PDEV* pdev, uint8_t enable) {
  if (enable) {
    Enable(pdev->surfaceManager);
  } else if (LocationBits() == 0) {
    Disable(pdev->surfaceManager);
  }
}

void Surface2d::Describe(PDEV* pdev, uint32_t pitch, uint32_t layout, uint32_t format,
                         uint32_t height, uint32_t memoryType, uint32_t location) {
  options.desc.word0 = 0;
  options.desc.word1 = MmSurfDesc::MakeWord1(pitch, layout, format);
  options.desc.word2 = MmSurfDesc::MakeWord2(height, 1);
  options.desc.size = 0;
  options.desc.revision = pdev->revisionBits;
  options.heapSelector = memoryType;
  options.requestedKind = location;
  options.physicalSize = options.desc.GetPhysicalMemSize(true);
  options.alignment = options.desc.GetRequiredAlignment(true);
  options.word28 = memoryId;
}

bool Surface2d::AllocTmp(PDEV* pdev, LSIZE* size, uint32_t format, uint32_t memoryType) {
  LSIZE tried = *size;
  uint32_t location = k2dLocationLocal;
  bool retried = false;
  for (;;) {
    const uint32_t pitch = (static_cast<uint32_t>(tried.width) + 31) & 0x3FE0;
    Describe(pdev, pitch, k2dLayoutBitmap, format, static_cast<uint32_t>(tried.height), memoryType,
             location);
    if (Enable(pdev->surfaceManager)) {
      *size = tried;
      return true;
    }
    if (tried.width > kTmpMinWidth) {
      tried.width /= 2;
    } else if (tried.height > kTmpMinHeight) {
      tried.height /= 2;
    } else if (!retried) {
      retried = true;
      tried = kTmpRetrySize;
      location = k2dLocationAperture;
    } else {
      return false;
    }
  }
}

void Surface2d::ModifySurfMode(uint32_t pitch, uint32_t layout, uint32_t format, uint32_t lines) {
  uint32_t word = options.desc.word1;
  word = Mode2dPitch::Set(word, pitch);
  word = Mode2dLayout::Set(word, layout);
  word = Mode2dFormat::Set(word, format);
  word = Mode2dLines::Set(word, lines);
  options.desc.word1 = word;
}

void Surface2d::ModifySurfDim(uint32_t height, uint32_t depthWord) {
  options.desc.word2 = Dim2dHeight::Word(height) | Dim2dDepth::Word(depthWord);
}

void Surface2d::SwapSurfMode(bool swap) {
  if (swap) {
    options.desc.word1 |= k2dModeByteSwap;
  } else {
    options.desc.word1 &= ~k2dModeByteSwap;
  }
}

// ---- Processor access ----------------------------------------------------------------------

uint8_t* LockSurfaceCpu(MmSurface* s) {
  switch (s->placedKind) {
    case kSurfLocal:
    case kSurfLocal7:
      if (s->aperture != nullptr) break;
      if (s->cpuAddress != nullptr) return s->cpuAddress;
      if (s->block == nullptr || s->manager == nullptr || s->manager->frameBufferCpuBase == nullptr)
        return nullptr;
      return s->manager->frameBufferCpuBase + s->block->offset;
    case kSurfLocalAperture:
      break;
    case kSurfAgp:
    case kSurfPciLocked:
    case kSurfProcess:
    case kSurfLocalMapped:
      if (s->cpuAddress != nullptr) return s->cpuAddress;
      return s->block != nullptr ? s->block->cpuAddress : nullptr;
    default:
      return nullptr;
  }
  uint8_t* cpu = nullptr;
  if (s->aperture == nullptr || !s->aperture->Lock(nullptr, &cpu)) return nullptr;
  return cpu;
}

void ReleaseSurfaceCpu(MmSurface* s) {
  const bool viaAperture = s->placedKind == kSurfLocal || s->placedKind == kSurfLocal7 ||
                           s->placedKind == kSurfLocalAperture;
  if (viaAperture && s->aperture != nullptr) s->aperture->Unlock();
}
