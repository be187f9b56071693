// Registers of the 3D texture engine as the display processing and the
// post-draw transforms program it: the vertex records (three corners of a
// textured rectangle), the four texture units, the pixel-shader stages and
// the engine words around a draw. Packet index i writes register
// 0x1000 + 4 * i (core/regs/engine2d.h).
#pragma once

#include <stdint.h>

#include "core/regs/engine2d.h"
#include "core/regs/field.h"

// ---- Padding ---------------------------------------------------------------------------
// The discarding index's register: the engine consumes the data word and
// writes nothing.
inline constexpr uint32_t k3dRegPad = DmaWindowReg(kIdxDiscard);

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

// ---- Engine start ------------------------------------------------------------------------
// The engine's initial-state register: the device enable writes the
// surface owner's value into it.
inline constexpr uint32_t k3dRegInitialState = 0xBC0;

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

// ---- Packet indexes of the kernel's 3D stream ----------------------------------------------
// Where a register above has a name, its index carries the same name; the
// engine words whose use the driver does not know are named by their
// address, as above.

// Vertex streams: stream s's address 0x00 + s (bits 0-1 the memory
// space), its stride two streams to a word from 0x10, and the index window.
inline constexpr PacketIndex k3dIdxStreamAddress0{0x00};
inline constexpr uint32_t k3dVertexStreams = 8;
inline constexpr PacketIndex k3dIdxStreamStrides0{0x10};
inline constexpr PacketIndex k3dIdxIndexMin{0x18};
inline constexpr PacketIndex k3dIdxIndexLimit{0x19};
// The primitive control word (the primitive code in bits 12-14).
inline constexpr PacketIndex k3dIdxPrimitiveControl{0x2C};
// The element list: the element number, then its word.
inline constexpr PacketIndex k3dIdxElementIndex{0x2D};
inline constexpr PacketIndex k3dIdxElementData{0x2E};

// Vertex programs: the program control word (the fence an upload opens),
// the two start addresses, the attribute layout (the slots in use) and the
// vertex engine's mode word.
inline constexpr PacketIndex k3dIdxProgramControl{0x3C};
inline constexpr PacketIndex k3dIdxProgramStart{0x40};
inline constexpr PacketIndex k3dIdxProgramStartAlt{0x41};
inline constexpr PacketIndex k3dIdxAttributeLayout{0x44};
inline constexpr PacketIndex k3dIdxVertexEngineWord{0x4C};
// Program control words: the fence an upload opens, the word it writes
// when the program memory changed, and the constant self-test's load.
inline constexpr uint32_t k3dProgramOpen = 0x20000028;
inline constexpr uint32_t k3dProgramMemoryChanged = 0x80000028;
inline constexpr uint32_t k3dProgramSelfTest = 0xA0000028;

// Vertex records: place k's w3 at k3dIdxVertexW3 + k, slot s's w0 at
// k3dIdxVertexPosition + s.
inline constexpr PacketIndex k3dIdxVertexW3 = IndexOfReg(k3dRegVertexW3);
inline constexpr PacketIndex k3dIdxVertexW2 = IndexOfReg(k3dRegVertexW2);
inline constexpr PacketIndex k3dIdxVertexW1 = IndexOfReg(k3dRegVertexW1);
inline constexpr PacketIndex k3dIdxVertexW1Alt = IndexOfReg(k3dRegVertexW1Alt);
inline constexpr PacketIndex k3dIdxVertexPosition = IndexOfReg(k3dRegVertexPosition);
inline constexpr PacketIndex k3dIdxVertexTex0 = IndexOfReg(k3dRegVertexTex0);
inline constexpr PacketIndex k3dIdxVertexTex1 = IndexOfReg(k3dRegVertexTex1);
inline constexpr PacketIndex k3dIdxVertexTex2 = IndexOfReg(k3dRegVertexTex2);
inline constexpr PacketIndex k3dIdxVertexTex3 = IndexOfReg(k3dRegVertexTex3);

// Texture units: the unit words, then unit u's control word at
// k3dIdxUnitControl0 + u.
inline constexpr PacketIndex k3dIdxTexFilter = IndexOfReg(k3dRegTexFilter);
inline constexpr PacketIndex k3dIdxTexWord585 = IndexOfReg(k3dRegTexWord585);
inline constexpr PacketIndex k3dIdxTexWordC8 = IndexOfReg(k3dRegTexWordC8);
inline constexpr PacketIndex k3dIdxTexWordCC = IndexOfReg(k3dRegTexWordCC);
inline constexpr PacketIndex k3dIdxTexWordD0 = IndexOfReg(k3dRegTexWordD0);
inline constexpr PacketIndex k3dIdxTexWordD4 = IndexOfReg(k3dRegTexWordD4);
inline constexpr PacketIndex k3dIdxTexWordD8 = IndexOfReg(k3dRegTexWordD8);
inline constexpr PacketIndex k3dIdxTexAddress = IndexOfReg(k3dRegTexAddress);
inline constexpr PacketIndex k3dIdxTexMode = IndexOfReg(k3dRegTexMode);
inline constexpr PacketIndex k3dIdxTexDimensions = IndexOfReg(k3dRegTexDimensions);
inline constexpr PacketIndex k3dIdxTexTable = IndexOfReg(k3dRegTexTable);
inline constexpr PacketIndex k3dIdxUnitControl0 = IndexOfReg(k3dRegUnitControl0);
inline constexpr uint32_t k3dTextureUnits = 4;
// A unit control word that passes every channel through with the unit off.
inline constexpr uint32_t k3dUnitControlPass = 0x1000F;
// Written before the unit control words are written again.
inline constexpr PacketIndex k3dIdxUnitSync{0x87};

// Pixel-shader stages.
inline constexpr PacketIndex k3dIdxStageOption = IndexOfReg(k3dRegStageOption);
inline constexpr PacketIndex k3dIdxStageControl = IndexOfReg(k3dRegStageControl);
inline constexpr PacketIndex k3dIdxStageOption2 = IndexOfReg(k3dRegStageOption2);
inline constexpr PacketIndex k3dIdxStageSecond = IndexOfReg(k3dRegStageSecond);
inline constexpr PacketIndex k3dIdxStageConst0 = IndexOfReg(k3dRegStageConst0);
inline constexpr PacketIndex k3dIdxStageConst1 = IndexOfReg(k3dRegStageConst1);
inline constexpr PacketIndex k3dIdxStageConst2 = IndexOfReg(k3dRegStageConst2);
inline constexpr PacketIndex k3dIdxStageConst3 = IndexOfReg(k3dRegStageConst3);
// A stage's default second word and option 2.
inline constexpr uint32_t k3dStageSecondDefault = 0x400400;
// The engine control word of the X driver's textured draws on the earlier
// chips.
inline constexpr uint32_t k3dControlTextureDraw = 0x2410CC;

// Engine words around a draw (0x12B0-0x12FC): the tag word, the clear
// value, the depth-stencil, fog and raster words, the fog table (64 words
// through one register) and the stretch bias, which the 3D stream also
// uses as the stages' level limit.
inline constexpr PacketIndex k3dIdxWordB0 = IndexOfReg(k3dRegWordB0);
inline constexpr PacketIndex k3dIdxClearValue{0xAD};
inline constexpr PacketIndex k3dIdxWordC0 = IndexOfReg(k3dRegWordC0);
inline constexpr PacketIndex k3dIdxWordC4 = IndexOfReg(k3dRegWordC4);
inline constexpr PacketIndex k3dIdxWordC8 = IndexOfReg(k3dRegWordC8);
inline constexpr PacketIndex k3dIdxWordCC = IndexOfReg(k3dRegWordCC);
inline constexpr PacketIndex k3dIdxWordD0 = IndexOfReg(k3dRegWordD0);
inline constexpr PacketIndex k3dIdxWordD4 = IndexOfReg(k3dRegWordD4);
inline constexpr PacketIndex k3dIdxWordD8{0xB6};
inline constexpr PacketIndex k3dIdxWordDC{0xB7};
inline constexpr PacketIndex k3dIdxFogTable{0xB8};
inline constexpr PacketIndex k3dIdxWordE4 = IndexOfReg(k3dRegWordE4);
inline constexpr PacketIndex k3dIdxWordE8 = IndexOfReg(k3dRegWordE8);
inline constexpr PacketIndex k3dIdxWordEC{0xBB};
inline constexpr PacketIndex k3dIdxWordF0{0xBC};
inline constexpr PacketIndex k3dIdxStretchBias = IndexOfReg(k3dRegStretchBias);
inline constexpr PacketIndex k3dIdxWordF8{0xBE};
inline constexpr PacketIndex k3dIdxWordFC = IndexOfReg(k3dRegWordFC);
// The engine's two counter banks of four words each.
inline constexpr PacketIndex k3dIdxCounterA0{0xD0};
inline constexpr PacketIndex k3dIdxCounterB0{0xF0};
// Starts the 3D engine's flush.
inline constexpr PacketIndex k3dIdxFlushStart{0xDE};

// ---- Primitive commands of the 3D stream --------------------------------------------------
// A command word (any of bits 24-31 set where a count is due) carries the
// words of its body minus one in bits 0-15. Bits 24 and 25 set make a
// primitive command, whose kind (bits 26-29) says where its vertices come
// from.
inline constexpr uint32_t k3dCommandPrimitive = 0x03000000;
inline constexpr uint32_t k3dCommandLengthMask = 0xFFFF;
inline constexpr uint32_t k3dPrimitiveKindMask = 0x3C000000;
inline constexpr uint32_t k3dPrimitiveInline16 = 0x04000000;   // 16-bit indices in the body
inline constexpr uint32_t k3dPrimitiveInline32 = 0x08000000;   // 32-bit indices in the body
inline constexpr uint32_t k3dPrimitiveRange = 0x0C000000;      // {first, count}
inline constexpr uint32_t k3dPrimitiveCopied = 0x14000000;     // {start, end} of vertices in the stream
inline constexpr uint32_t k3dPrimitiveAddress16 = 0x18000000;  // {start, end} of 16-bit indices
inline constexpr uint32_t k3dPrimitiveAddress32 = 0x1C000000;  // {start, end} of 32-bit indices
// Vertices copied into the stream, w words each (w - 1 in bits 17-22):
// their start and end bus addresses follow.
using CopiedVertexWords = RegField<17, 6>;
constexpr uint32_t CopiedVerticesCommand(uint32_t w) {
  return k3dCommandPrimitive | k3dPrimitiveCopied | CopiedVertexWords::Word(w - 1) | 1;
}
static_assert(CopiedVerticesCommand(1) == 0x17000001 && CopiedVerticesCommand(64) == 0x177E0001);

static_assert(k3dRegTargetAddress == 0x1220 && k3dRegTargetMode == 0x1224);
static_assert(k3dIdxVertexPosition.Byte() == 0x60 && k3dIdxVertexTex3.Byte() == 0x66);
static_assert(k3dIdxTexFilter.Byte() == 0x70 && k3dIdxTexTable.Byte() == 0x7A);
static_assert(k3dIdxUnitControl0.Byte() == 0x80 && k3dIdxStageConst3.Byte() == 0xA1);
static_assert(k3dIdxWordB0.Byte() == 0xAC && k3dIdxWordD4.Byte() == 0xB5 && k3dIdxWordE4.Byte() == 0xB9);
static_assert(k3dIdxStretchBias.Byte() == 0xBD && k3dIdxWordFC.Byte() == 0xBF);
