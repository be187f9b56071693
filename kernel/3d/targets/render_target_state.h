// A render context's render-target state: the colour and depth targets it
// draws to, its viewport, clip rectangle and scale factors, and its work
// buffer in video memory, whose engine counters are saved when another
// render context takes the engine and restored when this one draws again.
// Beside it: the module-wide engine-mode and clear-mode words (register
// 0xC0) that clears, flips and draws switch, the board's 16 work-buffer
// slots and its counter read-back surface.
//
// Everything here runs on the 3D request path under the command lock; the
// module-wide cached words assume that single path.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/mm_surface.h"
#include "kernel/3d/targets/clear_values.h"

class BmBufferPool;
class BmSecondaryInt;
struct FormatDescriptor;
class PDEV;
class Surface3d;
struct CommonData;
struct RenderContext3d;
class RenderTargetState;

// Work-buffer kinds.
enum : uint32_t {
  kWorkBufferNone = 0,
  kWorkBufferOwn = 1,        // own buffer, under a key
  kWorkBufferOwnNoKey = 2,
  kWorkBufferReleased = 3,
  kWorkBufferFailed = 4,
  kWorkBufferShared = 5,     // another context's buffer of the same key
};

inline constexpr uint32_t kMiB = 1048576;
inline constexpr uint32_t kWorkBufferMinimum = 6 * kMiB;
inline constexpr uint32_t kWorkBufferStep = 2 * kMiB;
inline constexpr uint32_t kWorkBufferClampWide = 32 * kMiB;   // capability bits 0x70000
inline constexpr uint32_t kWorkBufferClampLater = 8 * kMiB;   // capability bits 0x7FC00
inline constexpr uint32_t kWorkBufferClampFirst = 16 * kMiB;
inline constexpr uint32_t kCapsWide = 0x70000;
inline constexpr uint32_t kCapsLater = 0x7FC00;
inline constexpr uint32_t kCounterMask = 0x3FFFF;
inline constexpr uint32_t kReadbackSize = 256;

// The engine-mode words of register 0xC0.
inline constexpr uint32_t kEngineModeAtLoad = 0x0A;
inline constexpr uint32_t kEngineModeOnBit = 0x200;
inline constexpr uint32_t kEngineModeAlternateBit = 0x800;
inline constexpr uint32_t kClearModeTags = 0x108;
inline constexpr uint32_t kClearModeNoTags = 0x308;

// One of the board's 16 work-buffer slots (CommonData's render-target
// slots), indexed by the render context's handle.
struct WorkBufferSlot {
  uint32_t kind;
  RenderTargetState* owner;
  uint32_t size;
  uintptr_t key;
};
static_assert(sizeof(WorkBufferSlot) == 32);

// What the board's switches answer the render targets: capability bits of
// the work buffer for a surface and key (bit 16 always asks for one, bit
// 64 sizes it by the surface; bits 0-1 3, or bits 1-3 2 for a surface with
// flag 4, allow it), the work-buffer size in MiB per unit of the size
// factor, and whether a depth rectangle may be cleared by the engine.
struct TargetSwitches3d {
  uint32_t memoryBits = 0;
  float sizeMiB = 8.0f;
  uint8_t fastClear = 0;
  // Bit 0x08 of the target control byte on the chips with capability bits
  // 0x3C0.
  uint8_t targetControl = 0;
};

// The board's render-target record: its switches, the counter read-back
// surface, the depth surface the engine fast-cleared last and the target
// state that drew last.
struct TargetBoard3d : OsHeapObject {
  TargetSwitches3d switches;
  MmSurface* readback = nullptr;
  Surface3d* fastClearedDepth = nullptr;
  RenderTargetState* drewLast = nullptr;
};

// The module-wide words of register 0xC0.
struct EngineModeCache {
  uint32_t modeWord = kEngineModeAtLoad;
  uint8_t on = 0;
  uint32_t clearWord = 0;
  uint8_t clearFlag = 0;
  uint8_t syncTagsOn = 0;
};
// The one cache of the module, inline so that the hot paths' checks of it
// need no call.
inline EngineModeCache g_engineModeCache3d;
inline EngineModeCache& EngineMode3d() { return g_engineModeCache3d; }

// The board's record, made on first use (null without memory), and freed
// with its read-back surface (kept while the engine may still write it).
TargetBoard3d* TargetBoard(CommonData* common);
void ReleaseTargetBoard3d(CommonData* common);
// The board's 256-byte counter read-back surface, made zeroed when it is
// missing; false when it cannot be placed.
bool CreateReadbackSurface(CommonData* common);
// The processor's view of a placed surface of the board while it lives:
// through its heap's mapping, the frame-buffer window, or a host-aperture
// window of its own; cpu is null when none can be had.
class TargetSurfaceMapping {
 public:
  TargetSurfaceMapping(CommonData* common, MmSurface* surface, uint32_t size);
  ~TargetSurfaceMapping();
  TargetSurfaceMapping(const TargetSurfaceMapping&) = delete;
  TargetSurfaceMapping& operator=(const TargetSurfaceMapping&) = delete;
  uint8_t* cpu = nullptr;

 private:
  MmHostAperture* aperture_ = nullptr;
};

// The work buffer: the surface in video memory the engine keeps its
// counters in.
class TargetWorkBuffer : public MmSurface {
 public:
  TargetWorkBuffer() = default;
  ~TargetWorkBuffer() override = default;

 protected:
  // Places the buffer (size bytes, linear, video memory); false when it
  // does not fit.
  virtual bool CreateBuffer(CommonData* common, uint32_t size);
  void DestroyBuffer(CommonData* common);
  bool placed_ = false;
};

// A clear record of a target state: its kind, its links to the render
// context and the state, and the target it clears with three address
// words of that target's descriptor (the usage record's address, format
// and extent words), taken when the target is bound and dropped while the
// work buffer is out of use.
struct TargetClearRecord {
  uint32_t kind = 0;
  RenderContext3d* context = nullptr;
  RenderTargetState* state = nullptr;
  const Surface3d* target = nullptr;
  uint32_t addressWords[3] = {};
};

// The last depth-clear conversion of a target state: the format code, the
// clear depth's bits, the stencil and the depth and stencil flags it was
// made for, and its value and mask.
struct DepthClearMemo {
  uint32_t code = 0;
  uint32_t depthBits = 0;
  uint32_t stencil = 0;
  uint32_t flags = 0;
  DepthClear result = {};
  uint8_t valid = 0;
};

class RenderTargetState : public TargetWorkBuffer {
 public:
  RenderTargetState();
  ~RenderTargetState() override;

  // Links the context (its board, streams and engine state) and makes the
  // board's read-back surface when it is missing; false when that fails.
  bool Bind(RenderContext3d* context);
  // The links Bind takes from a context, for a state used on its own.
  void Attach(CommonData* common, BmSecondaryInt* stream, uint32_t handle);

  uint32_t kind = kWorkBufferNone;
  uint32_t requestedSize = 0;
  uint8_t switchByte = 0;
  uintptr_t key = 0;
  RenderContext3d* context = nullptr;
  CommonData* common = nullptr;
  BmSecondaryInt* stream = nullptr;
  uint32_t handle = 0;
  uint32_t counters[2][4] = {};
  uint32_t pendingSwitch = 0;
  uint32_t stateWord = 0;
  // Registers 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, and the four words of
  // the chip-specific set-up.
  uint32_t addressWords[6] = {};
  uint32_t setupWords[4] = {};
  // The work-buffer size as the engine takes it (bits 14 and up).
  uint32_t sizeWord = 0;
  float scaleX = 1.0f;
  float scaleY = 1.0f;
  Surface3d* colourRequested = nullptr;
  Surface3d* colourCurrent = nullptr;
  Surface3d* depthRequested = nullptr;
  Surface3d* depthCurrent = nullptr;
  int32_t clip[4] = {};          // left, top, right, bottom
  int32_t viewport[4] = {};      // left, top, width, height
  uint8_t flagByte = 0;
  // What the clears read: the device's colour-depth mode, the colour write
  // mask of the engine state; the colour-clear and depth-clear records.
  uint32_t colourDepthMode = 0;
  uint32_t colourWriteMask = 0xFFFFFFFF;
  TargetClearRecord colourClear;
  TargetClearRecord depthClear;
  DepthClearMemo depthClearMemo;
  // What binding the targets records for the engine state: the depth
  // target's W-buffer flag, its depth-format code as the engine takes it
  // and its depth scale (with a mark when the scale changed), and the
  // format the colour target is bound as.
  uint8_t wBuffer = 0;
  uint32_t depthCode = 0;
  float depthScale = 1.5259022e-5f;
  uint8_t depthScaleChanged = 0;
  const FormatDescriptor* colourFormat = nullptr;
  // What a draw's validation decided: the work-buffer mode (kWb*) and the
  // set-up mode it gives, a mark when the mode changed, the target-mode
  // word of the render state, the depth surface the last reservation was
  // for (a failed one is not tried again for the same surface), whether
  // the write mask came from the plane mask, and the flags of a write mask
  // covering part of a channel and of a raster operation that reads the
  // target.
  uint32_t workBufferMode = 1;
  uint32_t setupMode = 0;
  uint8_t modeChanged = 0;
  uint32_t targetMode = 0;
  const Surface3d* reservedFor = nullptr;
  uint8_t writeMaskFromPlanes = 0;
  uint8_t partialMask = 0;
  uint8_t rasterOpReadsTarget = 0;

  // Bottom minus top of the viewport (its height).
  int32_t GetViewportHeight() const { return viewport[3]; }

  // Whether the surface is the requested or the current depth target; the
  // same of the colour slots.
  bool UsesSurface(const Surface3d* surface) const {
    return surface != nullptr && (surface == depthRequested || surface == depthCurrent);
  }
  bool UsesColourSurface(const Surface3d* surface) const {
    return surface != nullptr && (surface == colourRequested || surface == colourCurrent);
  }

  friend bool ReserveTargetMemory(RenderTargetState* state, Surface3d* surface, uintptr_t key);
  friend void ReleaseTargetMemory(RenderTargetState* state, bool clearSlot);
};

// The clear records forget their targets (and their address words); a
// surface that goes is forgotten by the record that holds it.
void UnbindClearTargets(RenderTargetState* state);
void ForgetClearTarget(RenderTargetState* state, const Surface3d* surface);

// Sizes and reserves the work buffer for the surface under the key:
// false when none is taken (not asked for, a bad size, or no memory).
bool ReserveTargetMemory(RenderTargetState* state, Surface3d* surface, uintptr_t key);
// Frees an own buffer (kinds 1 and 2) and, when asked, clears the device
// slot of the context when it names this state; the kind becomes 3.
void ReleaseTargetMemory(RenderTargetState* state, bool clearSlot);
// The work-buffer size factor of a target: 1, or with capability bit 64
// max(w x h / 786,432, sqrt(w^2 + h^2) / 1280).
double WorkBufferFactor(uint32_t width, uint32_t height, uint32_t bits);

// Whether register 0xC0 holds the engine mode already by the cached words
// (the later chips, capability bits 0x7FC00, keep the whole mode word, the
// others only whether it is on): WriteEngineModeWord then writes nothing.
inline uint32_t EngineModeWord(bool on, bool alternate) {
  return (on ? kEngineModeOnBit : 0) | (alternate ? kEngineModeAlternateBit : 0) | kEngineModeAtLoad;
}
inline bool EngineModeIs(bool later, bool on, bool alternate) {
  const EngineModeCache& cache = EngineMode3d();
  return later ? cache.modeWord == EngineModeWord(on, alternate) : (cache.on != 0) == on;
}

// Register 0xC0: the engine mode (on, alternate), the clear mode; the
// cached on-flag set at device construction.
void WriteEngineModeWord(CommonData* common, BmSecondaryInt* stream, bool on, bool alternate);
void SetEngineModeFlag(bool on);
void WriteClearModeWord(CommonData* common, BmSecondaryInt* stream, bool force);
bool IsClearModeIdle();

// The engine counters of the state's work buffer saved into its store
// (answering whether the engine mode was on), and written back.
bool SaveTargetCounters(RenderTargetState* state);
void RestoreTargetCounters(RenderTargetState* state, bool wasOn);
// Programs the work buffer and the bound targets before a draw, when a
// switch is pending (checked inline: most draws and clears find none).
void EmitPendingRenderTargetSetup(RenderTargetState* state);
inline void EmitRenderTargetSetup(RenderTargetState* state) {
  if (state != nullptr && state->pendingSwitch != 0) EmitPendingRenderTargetSetup(state);
}

// Binds the depth target (null: none), its shadow as the current surface
// when it has one and shadows are wanted; the engine mode follows whether
// it is the board's fast-cleared depth surface.
void BindDepthTarget(RenderTargetState* state, Surface3d* surface, bool useShadow);
// Binds the colour target: false, with the colour slots left empty, for a
// surface of memory kind below 2; formats 7, 9 and 12 are bound as 6, 8
// and 11.
bool BindColourTarget(RenderTargetState* state, Surface3d* surface, bool useShadow);

// A new render context's target state, made and bound (false when it
// cannot be); a draw's preparation of the targets: the fast-cleared depth
// surface decides the engine mode, and the counters of the context that
// rendered last are saved before this one's are restored.
bool BindRenderTargetState3d(RenderContext3d* context);
void PrepareRenderTargetState3d(RenderContext3d* context, RenderContext3d* renderedLast);

// The device lifetime's parts: a device object that goes releases the
// board's work-buffer slots, its read-back surface and its render-target
// record; a complete device object clears the cached engine-mode bit.
void ReleaseRenderTargets3d(PDEV* pdev);
void ResetEngineMode3d(PDEV* pdev);
