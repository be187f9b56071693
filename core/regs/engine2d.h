// Registers of the 2D drawing engine as DMA packets name them (packet index
// i writes register 0x1000 + 4 * i), the drawing control word's fields and
// the surface descriptors' mode and dimension words.
#pragma once

#include <stdint.h>

#include "core/regs/dma.h"
#include "core/regs/field.h"

// ---- Packet indexes --------------------------------------------------------------------
// Surface descriptor d: its address 0x88 + 2d and mode word 0x89 + 2d.
inline constexpr PacketIndex k2dIdxDescAddress0{0x88};
inline constexpr PacketIndex k2dIdxDescMode0{0x89};
inline constexpr PacketIndex k2dIdxDescAddress1{0x8A};
inline constexpr PacketIndex k2dIdxDescMode1{0x8B};
inline constexpr PacketIndex k2dIdxDescAddress2{0x8C};
inline constexpr PacketIndex k2dIdxDescMode2{0x8D};
inline constexpr PacketIndex k2dIdxDescAddress3{0x8E};
inline constexpr PacketIndex k2dIdxDescMode3{0x8F};
inline constexpr PacketIndex k2dIdxControl{0xC0};
inline constexpr PacketIndex k2dIdxStart{0xC1};         // line start; copy or expansion source start
inline constexpr PacketIndex k2dIdxOrigin{0xC2};        // destination y << 16 | x
inline constexpr PacketIndex k2dIdxSize{0xC3};          // h << 16 | w, stored only
inline constexpr PacketIndex k2dIdxForeground{0xC5};
inline constexpr PacketIndex k2dIdxBackground{0xC6};
inline constexpr PacketIndex k2dIdxPatternLow{0xC7};
inline constexpr PacketIndex k2dIdxPatternHigh{0xC8};
inline constexpr PacketIndex k2dIdxPlaneMask{0xC9};
inline constexpr PacketIndex k2dIdxClipTopLeft{0xCA};   // top << 16 | left
inline constexpr PacketIndex k2dIdxClipBottomRight{0xCB};
// Written 0 by the sync packet; for the 3D engine the start of the
// operation its control word names.
inline constexpr PacketIndex k2dIdxSyncZero{0xDD};
inline constexpr PacketIndex k2dIdxLineEnd{0xE2};       // y << 16 | x, draws the line
inline constexpr PacketIndex k2dIdxSizeGo{0xE3};        // h << 16 | w, draws
inline constexpr PacketIndex k2dIdxStoredSizeGo{0xE9};  // draws with the size held in 0xC3
inline constexpr PacketIndex k2dIdxSyncTag{0xAF};
inline constexpr PacketIndex k2dIdxRepeatHeader{0x22};
inline constexpr PacketIndex k2dIdxRepeatCount{0x23};

// The index of descriptor d's (0-3) address and mode words.
constexpr PacketIndex DescAddressIndex(uint32_t d) { return k2dIdxDescAddress0 + 2 * d; }
constexpr PacketIndex DescModeIndex(uint32_t d) { return k2dIdxDescMode0 + 2 * d; }
// The header that loads descriptor d (0-3): address, then mode.
constexpr uint32_t DescriptorHeader(uint32_t d) { return PacketHeader(DescAddressIndex(d), DescModeIndex(d)); }

// ---- Registers ---------------------------------------------------------------------------
// The same registers by address, for the engine start-up's direct writes.
inline constexpr uint32_t k2dRegDescAddress0 = DmaWindowReg(k2dIdxDescAddress0);    // 0x1220
inline constexpr uint32_t k2dRegDescMode0 = DmaWindowReg(k2dIdxDescMode0);          // 0x1224
inline constexpr uint32_t k2dRegDescAddress1 = DmaWindowReg(k2dIdxDescAddress1);  // 0x1228
inline constexpr uint32_t k2dRegDescMode1 = DmaWindowReg(k2dIdxDescMode1);          // 0x122C
inline constexpr uint32_t k2dRegStart = DmaWindowReg(k2dIdxStart);                  // 0x1304
inline constexpr uint32_t k2dRegOrigin = DmaWindowReg(k2dIdxOrigin);                // 0x1308
inline constexpr uint32_t k2dRegPlaneMask = DmaWindowReg(k2dIdxPlaneMask);          // 0x1324
inline constexpr uint32_t k2dRegClipTopLeft = DmaWindowReg(k2dIdxClipTopLeft);      // 0x1328
inline constexpr uint32_t k2dRegClipBottomRight = DmaWindowReg(k2dIdxClipBottomRight);  // 0x132C
inline constexpr uint32_t k2dRegSyncZero = DmaWindowReg(k2dIdxSyncZero);            // 0x1374
inline constexpr uint32_t k2dRegSizeGo = DmaWindowReg(k2dIdxSizeGo);                // 0x138C

// ---- Drawing control word (index 0xC0) --------------------------------------------------
inline constexpr uint32_t k2dOpFill = 0;
inline constexpr uint32_t k2dOpLine = 1;
inline constexpr uint32_t k2dOpCopy = 2;
inline constexpr uint32_t k2dOpExpand = 3;
using Control2dRop = RegField<4, 4>;
inline constexpr uint32_t k2dRopCopy = 0xC;       // copies the source
using Control2dSource = RegField<8, 2>;           // source descriptor
using Control2dDest = RegField<10, 2>;            // destination descriptor
inline constexpr uint32_t k2dRightToLeft = 0x1000;
inline constexpr uint32_t k2dTransparentBg = 0x1000;
inline constexpr uint32_t k2dBottomToTop = 0x2000;
inline constexpr uint32_t k2dPatternFill = 0x2000;
using Control2dPatternX = RegField<14, 3>;
using Control2dPatternY = RegField<17, 3>;
inline constexpr uint32_t k2dLineBits = 0x300000;
inline constexpr uint32_t k2dLastPixel = 0x400000;
inline constexpr uint32_t k2dTransparent = 0x400000;
inline constexpr uint32_t k2dClipOn = 0x800000;
// The value the 2D state starts with and that every sync packet writes.
inline constexpr uint32_t k2dControlIdle = 0x707;
// The word that closes a run of drawing (a display clear, a stretch, a
// stream's sync prologue) before the engine is waited for.
inline constexpr uint32_t k2dControlDone = 0x307;

// ---- Surface descriptor words -----------------------------------------------------------
// Mode word (index 0x89 + 2d, the surface descriptor's word 1): pitch (its
// bit 13 also the 8192-pixel pitch flag), layout, line-count code, byte
// swap, format.
using Mode2dPitch = RegField<0, 14>;
using Mode2dLayout = RegField<16, 3>;
using Mode2dLines = RegField<19, 2>;
inline constexpr uint32_t k2dModeByteSwap = 1u << 23;
using Mode2dFormat = RegField<24, 6>;
inline constexpr uint32_t k2dLayoutLinear = 2;    // bound as a temporary linear descriptor
inline constexpr uint32_t k2dLayoutBitmap = 3;    // device bitmaps
// Dimensions word (the descriptor's word 2): height, the 14-15 field, depth.
using Dim2dHeight = RegField<0, 14>;
using Dim2dField14 = RegField<14, 2>;
using Dim2dDepth = RegField<16, 12>;
// Address word: bit 27 tells the two banks of local memory apart.
inline constexpr uint32_t k2dAddressBankB = 1u << 27;
inline constexpr uint32_t k2dAddressMemoryBits = 0x3;

static_assert(PacketHeader(k2dIdxOrigin, k2dIdxSizeGo) == 0x2121E3C2);
static_assert(DescriptorHeader(1) == 0x21218B8A);
static_assert(k2dRegDescAddress0 == 0x1220 && k2dRegDescMode1 == 0x122C && k2dRegStart == 0x1304);
static_assert(k2dRegPlaneMask == 0x1324 && k2dRegClipBottomRight == 0x132C);
static_assert(k2dRegSyncZero == 0x1374 && k2dRegSizeGo == 0x138C);
