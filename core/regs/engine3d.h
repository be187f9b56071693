// Registers of the 3D texture engine as the display processing and the
// post-draw transforms program it: the vertex records (three corners of a
// textured rectangle), the four texture units, the pixel-shader stages and
// the engine words around a draw. Packet index i writes register
// 0x1000 + 4 * i (core/regs/engine2d.h).
#pragma once

#include <stdint.h>

#include "core/regs/engine2d.h"

// The packet index of a register of the window (DmaWindowReg the other way).
constexpr uint8_t IndexOfReg(uint32_t reg) { return static_cast<uint8_t>((reg - kRegDmaWindow) / 4); }

// ---- Padding ---------------------------------------------------------------------------
// Index 0x20: the engine consumes the data word and writes nothing.
inline constexpr uint32_t k3dRegPad = 0x1080;

// ---- Vertex records ----------------------------------------------------------------------
// A corner j (0-2) is given by its four words: w3 into 0x1160 + 4j, w2, w1
// (0x1178, or 0x117C for the record whose control bit 0 is set), and last w0
// into the register of the record's kind, which takes the corner.
inline constexpr uint32_t k3dRegVertexW3 = 0x1160;  // + 4 * corner
inline constexpr uint32_t k3dRegVertexW2 = 0x1174;
inline constexpr uint32_t k3dRegVertexW1 = 0x1178;
inline constexpr uint32_t k3dRegVertexW1Alt = 0x117C;
inline constexpr uint32_t k3dRegVertexPosition = 0x1180;  // kind 1: destination x
inline constexpr uint32_t k3dRegVertexTex0 = 0x118C;      // kind 2: texture unit 0 s
inline constexpr uint32_t k3dRegVertexTex1 = 0x1190;      // kind 3
inline constexpr uint32_t k3dRegVertexTex2 = 0x1194;      // kind 4
inline constexpr uint32_t k3dRegVertexTex3 = 0x1198;      // kind 5
inline constexpr uint32_t k3dVertexKindPosition = 1;

// ---- Texture units ---------------------------------------------------------------------
// The unit words are written for the units named by the low four bits of
// the last unit-control write.
inline constexpr uint32_t k3dRegTexFilter = 0x11C0;
inline constexpr uint32_t k3dRegTexWord585 = 0x11C4;
inline constexpr uint32_t k3dRegTexWordC8 = 0x11C8;
inline constexpr uint32_t k3dRegTexWordCC = 0x11CC;
inline constexpr uint32_t k3dRegTexWordD0 = 0x11D0;
inline constexpr uint32_t k3dRegTexWordD4 = 0x11D4;
inline constexpr uint32_t k3dRegTexWordD8 = 0x11D8;
inline constexpr uint32_t k3dRegTexAddress = 0x11DC;     // texture descriptor: address
inline constexpr uint32_t k3dRegTexMode = 0x11E0;        // mode word (pitch, layout, format)
inline constexpr uint32_t k3dRegTexDimensions = 0x11E4;  // height word
inline constexpr uint32_t k3dRegTexTable = 0x11E8;
inline constexpr uint32_t k3dRegUnitControl0 = 0x1200;   // + 4 * unit
inline constexpr uint32_t k3dUnitBitsMask = 0xF;          // units the control write names
inline constexpr uint32_t k3dTexWord585 = 585;

// ---- Render target ---------------------------------------------------------------------
// The 3D engine draws into surface descriptor 0 of the 2D engine.
inline constexpr uint32_t k3dRegTargetAddress = k2dRegDescAddress0;
inline constexpr uint32_t k3dRegTargetMode = k2dRegDescMode0;

// ---- Pixel-shader stages -----------------------------------------------------------------
inline constexpr uint32_t k3dRegStageOption = 0x1260;
inline constexpr uint32_t k3dRegStageControl = 0x1264;
inline constexpr uint32_t k3dRegStageOption2 = 0x1268;
inline constexpr uint32_t k3dRegStageSecond = 0x126C;
inline constexpr uint32_t k3dRegStageConst0 = 0x1278;
inline constexpr uint32_t k3dRegStageConst1 = 0x127C;
inline constexpr uint32_t k3dRegStageConst2 = 0x1280;
inline constexpr uint32_t k3dRegStageConst3 = 0x1284;

// ---- Vertex engine ---------------------------------------------------------------------
// Program mode: bit 0 slot mode. Bring-up clears bit 31.
inline constexpr uint32_t kRegVertexProgramMode = 0x920;

// ---- Engine words around a draw ------------------------------------------------------------
// Beside these, a draw sets the 2D registers named in core/regs/dma.h and
// engine2d.h: the sync tag 0x12BC, the control word 0x1300, the source start
// 0x1304, the origin 0x1308, the plane mask 0x1324, 0x1374 (index 0xDD) and
// the size 0x138C.
inline constexpr uint32_t k3dRegWordB0 = 0x12B0;
inline constexpr uint32_t k3dRegWordC0 = 0x12C0;
inline constexpr uint32_t k3dRegWordC4 = 0x12C4;
inline constexpr uint32_t k3dRegWordC8 = 0x12C8;
inline constexpr uint32_t k3dRegWordCC = 0x12CC;
inline constexpr uint32_t k3dRegWordD0 = 0x12D0;
inline constexpr uint32_t k3dRegWordD4 = 0x12D4;
inline constexpr uint32_t k3dRegWordE4 = 0x12E4;
inline constexpr uint32_t k3dRegWordE8 = 0x12E8;
inline constexpr uint32_t k3dRegStretchBias = 0x12F4;  // 15.0 on the later boards
inline constexpr uint32_t k3dRegWordFC = 0x12FC;

static_assert(k3dRegTargetAddress == 0x1220 && k3dRegTargetMode == 0x1224);
static_assert(IndexOfReg(k3dRegVertexPosition) == 0x60);
