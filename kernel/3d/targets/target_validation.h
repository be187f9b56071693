// The target-related render states of a draw turned into engine-state
// fields: the depth and colour targets bound from the render context's
// bound surfaces, the depth, stencil, alpha-test, write-mask, raster
// operation and blend states translated into the context's ContextState3d,
// the work-buffer mode of the draw with the target control byte it gives,
// and the targets' surface registers. Each step looks only at the groups
// the render state marks dirty and marks only the register groups whose
// words changed.
//
// Where the words sit (register images of ContextState3d):
//   0xB2 depth control: bit 0 the test, bits 1-3 the compare code, bit 4
//        depth writes, bits 8-11 the depth-format code, bit 12 W-buffer;
//   0xB3 the depth scale (a float); 0xB4 the depth target's address word;
//   0xB0 stencil control: bit 0 on, bits 5-7 the compare code, bits 8-10,
//        11-13 and 14-16 the fail, depth-fail and pass operations (bits
//        17-31 keep their value);
//   0xB1 stencil values: reference, mask and write mask in bytes 0, 1 and
//        2, each cut to the stencil bits of the depth format;
//   0xBA the blend word (target_binding.h) with bit 31 the blend enable;
//   0xB9 alpha test: bit 0 on, bits 1-3 the compare code, byte 1 the
//        reference, bytes 2-3 zero;
//   0xBC the colour write mask, replicated to 32 bits;
//   0xBB colour control: bit 23 dithering allowed, bit 24 dither off,
//        bits 28-31 the raster operation;
//   0xBF target control byte (bits 0-7): bits 0-1 the set-up mode, bit 3
//        the board's switch, bit 4 the target-mode flag 0x20;
//   0x88/0x89 the colour target's descriptor words, 0x8A/0x8B the depth
//        target's.
#pragma once

#include <stdint.h>

struct RenderContext3d;
class Surface3d;

// Word places in the depth-stencil and raster blocks of ContextState3d.
inline constexpr uint32_t kDsbStencilControl = 2;  // 0xB0
inline constexpr uint32_t kDsbStencilValues = 3;   // 0xB1
inline constexpr uint32_t kDsbDepthControl = 4;    // 0xB2
inline constexpr uint32_t kDsbDepthScale = 5;      // 0xB3
inline constexpr uint32_t kDsbDepthAddress = 6;    // 0xB4
inline constexpr uint32_t kRbBlend = 4;            // 0xBA
inline constexpr uint32_t kRbColourControl = 5;    // 0xBB
inline constexpr uint32_t kRbWriteMask = 6;        // 0xBC
inline constexpr uint32_t kRbAlphaTest = 7;        // 0xB9
inline constexpr uint32_t kRbTargetControl = 8;    // 0xBF

inline constexpr uint32_t kDepthWriteBit = 0x10;
inline constexpr uint32_t kDepthCodeShift = 8;
inline constexpr uint32_t kDepthWBufferBit = 0x1000;
inline constexpr uint32_t kStencilKeptBits = 0xFFFE0000;
inline constexpr uint32_t kBlendEnableBit = 0x80000000;
inline constexpr uint32_t kColourDitherAllowed = 1u << 23;
inline constexpr uint32_t kColourDitherOff = 1u << 24;
inline constexpr uint32_t kColourRasterOpShift = 28;
inline constexpr uint32_t kControlTargetFlag = 0x10;
inline constexpr uint32_t kControlSwitchBit = 0x08;
inline constexpr uint32_t kControlSetupBits = 0x03;
// The render state's target-mode flag the control byte follows.
inline constexpr uint32_t kTargetModeFlag = 0x20;
// Capability bits of the chips whose control byte takes the switch.
inline constexpr uint32_t kCapsControlSwitch = 0x3C0;
// Bit of the render-target state's flag byte: a target with a shadow is
// bound through its shadow.
inline constexpr uint8_t kTargetUseShadows = 0x01;

// Render-state application's three target steps and the binding after
// the control word: false when a step cannot bind what the render state
// asks for (the draw then emits nothing).
bool ApplyDepthStencilState(RenderContext3d* context);
bool ApplyBlendState(RenderContext3d* context);
bool ValidateTargetBinding3d(RenderContext3d* context);
void BindRenderTargets3d(RenderContext3d* context);
// The target state's viewport and clip rectangle follow the render state's
// viewport where the draws map it: moved by the drawable's origin and
// scaled by the target's factors, the space clears reach the targets in.
void SyncTargetViewport3d(RenderContext3d* context);
// The render state's target-mode word handed to the target state.
void RenderTargetStateSetMode(RenderContext3d* context, uint32_t mode);

// The work-buffer mode of the next draw (kWb*): shared buffers re-split,
// a buffer reserved for a new depth target, a flush of the set-up when the
// buffer goes out of use.
uint32_t DecideWorkBufferMode(RenderContext3d* context);

// The surface of a resource type 0-2 and handle in the context's resource
// table when its memory kind is 4, else null.
Surface3d* LookupTargetSurface(RenderContext3d* context, uint32_t type, uint32_t handle);
// True when the context has no colour target or no flip is pending for
// it.
bool IsTargetFlipDone(RenderContext3d* context);
// Before a draw: the current depth surface and the engine owner marked in
// use (EngineOwner3d::targetsInUse, depthInUse); in set-up mode 3 the set-up becomes pending with the words it
// programs.
void MarkTargetsBusy(RenderContext3d* context);
// Whether the engine still uses the current colour target (and, with
// withDepth, the current depth target).
bool IsTargetBusy(RenderContext3d* context, bool withDepth);
// Clears the in-use mark a draw left on the surface (and the engine
// owner's with it); nothing when the surface holds none.
void ClearSurfaceBusy(const Surface3d* surface);
