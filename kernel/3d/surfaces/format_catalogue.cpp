// The capability table, the format descriptors and the board's catalogue.
#include "kernel/3d/surfaces/format_catalogue.h"

#include <string.h>

#include "core/common_data.h"
#include "core/pdev.h"

namespace {

// ---- The capability table ----------------------------------------------------------------------

struct CapabilityRow {
  uint8_t format, usage, hardware, swap, isSigned, noAlpha, p1, p2, p3, p4, extra;
};

// Stored format by format, in the order the engine's tables list them.
const CapabilityRow kCapabilityRows[kCapabilityEntries] = {
    // format, usage, hardware, swap, signed, no-alpha, P1, P2, P3, P4, extra
    // 11: 8:8:8:8
    {11, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {11, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {11, kUsageTexture,       50,  0,  0,  0, 31,  4,  1,  1,  0},
    {11, kUsageTextureSigned, 50,  0,  0,  0, 31,  4,  1,  1,  0},
    {11, kUsageCpuView,       50,  0,  0,  0,  0,  0,  0,  0,  0},
    {11, kUsageSurfaceB,      50,  0,  0,  0,  0,  0,  0,  0,  0},
    {11, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    {11, kUsageSurfaceC,      50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 12: x8:8:8
    {12, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {12, kUsageRenderTarget,  50,  0,  0,  1,  0,  0,  0,  0,  0},
    {12, kUsageTexture,       51,  0,  0,  0, 31,  4,  1,  0,  0},
    {12, kUsageTextureSigned, 51,  0,  0,  0, 31,  4,  1,  0,  0},
    {12, kUsageCpuView,       51,  0,  0,  0,  0,  0,  0,  0,  0},
    {12, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    {12, kUsageSurfaceC,      50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 13: 8:8:8:8 swapped
    {13, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {13, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {13, kUsageTexture,       50,  1,  0,  0, 31,  4,  1,  1,  0},
    {13, kUsageTextureSigned, 50,  1,  0,  0, 31,  4,  1,  1,  0},
    {13, kUsageCpuView,       50,  0,  0,  0,  0,  0,  0,  0,  0},
    {13, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    {13, kUsageSurfaceC,      50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 14: x8:8:8 swapped
    {14, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {14, kUsageRenderTarget,  50,  0,  0,  1,  0,  0,  0,  0,  0},
    {14, kUsageTexture,       51,  1,  0,  0, 31,  4,  1,  0,  0},
    {14, kUsageTextureSigned, 51,  1,  0,  0, 31,  4,  1,  0,  0},
    {14, kUsageCpuView,       51,  0,  0,  0,  0,  0,  0,  0,  0},
    {14, kUsageMemoryView,    51,  0,  0,  0,  0,  0,  0,  0,  0},
    {14, kUsageSurfaceC,      50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 10: 5:6:5
    {10, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {10, kUsageRenderTarget,  40,  0,  0,  0,  0,  0,  0,  0,  0},
    {10, kUsageTexture,       40,  0,  0,  0, 31,  4,  1,  0,  0},
    {10, kUsageTextureSigned, 40,  0,  0,  0, 31,  4,  1,  0,  0},
    {10, kUsageCpuView,       40,  0,  0,  0,  0,  0,  0,  0,  0},
    {10, kUsageSurfaceB,      40,  0,  0,  0,  0,  0,  0,  0,  0},
    {10, kUsageMemoryView,    40,  0,  0,  0,  0,  0,  0,  0,  0},
    {10, kUsageSurfaceC,      40,  0,  0,  0,  0,  0,  0,  0,  0},
    // 8: 1:5:5:5
    { 8, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    { 8, kUsageRenderTarget,  38,  0,  0,  0,  0,  0,  0,  0,  0},
    { 8, kUsageTexture,       38,  0,  0,  0, 31,  4,  1,  1,  0},
    { 8, kUsageTextureSigned, 38,  0,  0,  0, 31,  4,  1,  1,  0},
    { 8, kUsageCpuView,       38,  0,  0,  0,  0,  0,  0,  0,  0},
    { 8, kUsageSurfaceB,      38,  0,  0,  0,  0,  0,  0,  0,  0},
    { 8, kUsageMemoryView,    38,  0,  0,  0,  0,  0,  0,  0,  0},
    // 9: x1:5:5:5
    { 9, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    { 9, kUsageRenderTarget,  38,  0,  0,  1,  0,  0,  0,  0,  0},
    { 9, kUsageTexture,       39,  0,  0,  0, 31,  4,  1,  0,  0},
    { 9, kUsageTextureSigned, 39,  0,  0,  0, 31,  4,  1,  0,  0},
    { 9, kUsageCpuView,       39,  0,  0,  0,  0,  0,  0,  0,  0},
    { 9, kUsageSurfaceB,      39,  0,  0,  0,  0,  0,  0,  0,  0},
    { 9, kUsageMemoryView,    38,  0,  0,  0,  0,  0,  0,  0,  0},
    // 6: 4:4:4:4
    { 6, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    { 6, kUsageRenderTarget,  36,  0,  0,  0,  0,  0,  0,  0,  0},
    { 6, kUsageTexture,       36,  0,  0,  0, 31,  4,  1,  1,  0},
    { 6, kUsageTextureSigned, 36,  0,  0,  0, 31,  4,  1,  1,  0},
    { 6, kUsageCpuView,       36,  0,  0,  0,  0,  0,  0,  0,  0},
    { 6, kUsageMemoryView,    36,  0,  0,  0,  0,  0,  0,  0,  0},
    // 15: 2:10:10:10 swapped
    {15, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {15, kUsageRenderTarget,  52,  0,  0,  0,  0,  0,  0,  0,  0},
    {15, kUsageTexture,       52,  1,  0,  0, 31,  4,  0,  0,  0},
    {15, kUsageTextureSigned, 52,  1,  0,  0, 31,  4,  0,  0,  0},
    {15, kUsageCpuView,       52,  0,  0,  0,  0,  0,  0,  0,  0},
    {15, kUsageMemoryView,    52,  0,  0,  0,  0,  0,  0,  0,  0},
    {15, kUsageSurfaceC,      52,  0,  0,  0,  0,  0,  0,  0,  0},
    // 16: 2:10:10:10
    {16, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {16, kUsageRenderTarget,  52,  0,  0,  0,  0,  0,  0,  0,  0},
    {16, kUsageTexture,       52,  1,  0,  0, 31,  4,  0,  0,  0},
    {16, kUsageTextureSigned, 52,  1,  0,  0, 31,  4,  0,  0,  0},
    {16, kUsageCpuView,       52,  0,  0,  0,  0,  0,  0,  0,  0},
    {16, kUsageMemoryView,    52,  0,  0,  0,  0,  0,  0,  0,  0},
    {16, kUsageSurfaceC,      52,  0,  0,  0,  0,  0,  0,  0,  0},
    // 7: x4:4:4
    { 7, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    { 7, kUsageRenderTarget,  36,  0,  0,  1,  0,  0,  0,  0,  0},
    { 7, kUsageTexture,       37,  0,  0,  0, 31,  4,  1,  0,  0},
    { 7, kUsageTextureSigned, 37,  0,  0,  0, 31,  4,  1,  0,  0},
    { 7, kUsageCpuView,       36,  0,  0,  0,  0,  0,  0,  0,  0},
    { 7, kUsageMemoryView,    36,  0,  0,  0,  0,  0,  0,  0,  0},
    // 31: alpha 8
    {31, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    {31, kUsageTexture,       18,  0,  0,  0, 31,  4,  1,  1,  0},
    {31, kUsageTextureSigned, 18,  0,  0,  0, 31,  4,  1,  1,  0},
    {31, kUsageCpuView,       18,  0,  0,  0,  0,  0,  0,  0,  0},
    {31, kUsageMemoryView,    18,  0,  0,  0,  0,  0,  0,  0,  0},
    // 29: luminance 8
    {29, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    {29, kUsageRenderTarget,  17,  0,  0,  0,  0,  0,  0,  0,  0},
    {29, kUsageTexture,       17,  0,  0,  0, 31,  4,  1,  0,  0},
    {29, kUsageTextureSigned, 17,  0,  0,  0, 31,  4,  1,  0,  0},
    {29, kUsageCpuView,       17,  0,  0,  0,  0,  0,  0,  0,  0},
    {29, kUsageMemoryView,    17,  0,  0,  0,  0,  0,  0,  0,  0},
    {29, kUsageSurfaceC,      16,  0,  0,  0,  0,  0,  0,  0,  0},
    // 32: alpha 8, luminance 8
    {32, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {32, kUsageRenderTarget,  34,  0,  0,  0,  0,  0,  0,  0,  0},
    {32, kUsageTexture,       34,  0,  0,  0, 31,  4,  0,  1,  0},
    {32, kUsageTextureSigned, 34,  0,  0,  0, 31,  4,  1,  1,  0},
    {32, kUsageCpuView,       34,  0,  0,  0,  0,  0,  0,  0,  0},
    {32, kUsageMemoryView,    34,  0,  0,  0,  0,  0,  0,  0,  0},
    // 30: luminance 16
    {30, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {30, kUsageRenderTarget,  33,  0,  0,  0,  0,  0,  0,  0,  0},
    {30, kUsageTexture,       33,  0,  0,  0, 31,  4,  0,  0,  0},
    {30, kUsageTextureSigned, 33,  0,  0,  0, 31,  4,  0,  0,  0},
    {30, kUsageCpuView,       33,  0,  0,  0,  0,  0,  0,  0,  0},
    {30, kUsageMemoryView,    33,  0,  0,  0,  0,  0,  0,  0,  0},
    // 33: V8 U8
    {33, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {33, kUsageTexture,       44,  1,  1,  0, 31,  8,  0,  0,  0},
    {33, kUsageTextureSigned, 44,  1,  1,  0, 31,  8,  0,  0,  0},
    {33, kUsageCpuView,       44,  0,  0,  0,  0,  0,  0,  0,  0},
    {33, kUsageMemoryView,    44,  0,  0,  0,  0,  0,  0,  0,  0},
    // 34: L6 V5 U5
    {34, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {34, kUsageTextureSigned, 45,  1,  1,  0, 19,  8,  0,  0,  0},
    {34, kUsageCpuView,       45,  0,  0,  0,  0,  0,  0,  0,  0},
    {34, kUsageMemoryView,    45,  0,  0,  0,  0,  0,  0,  0,  0},
    // 35: L8 V8 U8
    {35, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {35, kUsageTextureSigned, 56,  1,  1,  0, 19,  8,  0,  0,  0},
    {35, kUsageCpuView,       51,  0,  0,  0,  0,  0,  0,  0,  0},
    {35, kUsageMemoryView,    51,  0,  0,  0,  0,  0,  0,  0,  0},
    // 36: V8 U8 in 32
    {36, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {36, kUsageTexture,       50,  1,  1,  0, 31,  4,  0,  0,  0},
    {36, kUsageTextureSigned, 50,  1,  1,  0, 31,  4,  0,  0,  0},
    {36, kUsageCpuView,       50,  0,  0,  0,  0,  0,  0,  0,  0},
    {36, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 37: V16 U16
    {37, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {37, kUsageTextureSigned, 58,  1,  1,  0,  3,  8,  0,  0,  0},
    {37, kUsageCpuView,       58,  0,  0,  0,  0,  0,  0,  0,  0},
    {37, kUsageMemoryView,    58,  0,  0,  0,  0,  0,  0,  0,  0},
    // 38: V10 U10
    {38, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {38, kUsageTextureSigned, 52,  1,  1,  0, 23,  4,  0,  0,  0},
    {38, kUsageCpuView,       52,  0,  0,  0,  0,  0,  0,  0,  0},
    {38, kUsageMemoryView,    52,  0,  0,  0,  0,  0,  0,  0,  0},
    // 1: block-compressed, 4 bits
    { 1, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    { 1, kUsageTexture,        8,  0,  0,  0, 31,  4,  0,  1,  0},
    { 1, kUsageCpuView,        8,  0,  0,  0,  0,  0,  0,  0,  0},
    { 1, kUsageMemoryView,     8,  0,  0,  0,  0,  0,  0,  0,  0},
    // 2: block-compressed, 8 bits
    { 2, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    { 2, kUsageTexture,        9,  0,  0,  0, 31,  4,  0,  1,  0},
    { 2, kUsageCpuView,        9,  0,  0,  0,  0,  0,  0,  0,  0},
    { 2, kUsageMemoryView,     9,  0,  0,  0,  0,  0,  0,  0,  0},
    // 3: block-compressed, 8 bits
    { 3, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    { 3, kUsageTexture,       10,  0,  0,  0, 31,  4,  0,  1,  0},
    { 3, kUsageCpuView,       10,  0,  0,  0,  0,  0,  0,  0,  0},
    { 3, kUsageMemoryView,    10,  0,  0,  0,  0,  0,  0,  0,  0},
    // 4: block-compressed, 8 bits
    { 4, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    { 4, kUsageTexture,       11,  0,  0,  0, 31,  4,  0,  1,  0},
    { 4, kUsageCpuView,       11,  0,  0,  0,  0,  0,  0,  0,  0},
    { 4, kUsageMemoryView,    11,  0,  0,  0,  0,  0,  0,  0,  0},
    // 5: block-compressed, 8 bits
    { 5, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    { 5, kUsageTexture,       12,  0,  0,  0, 31,  4,  0,  1,  0},
    { 5, kUsageCpuView,       12,  0,  0,  0,  0,  0,  0,  0,  0},
    { 5, kUsageMemoryView,    12,  0,  0,  0,  0,  0,  0,  0,  0},
    // 18: depth 15, stencil 1
    {18, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {18, kUsageRenderTarget,  40,  0,  0,  0,  0,  0,  0,  0,  0},
    {18, kUsageDepthStencil,  43,  0,  0,  0,  0,  0,  0,  0,  0},
    {18, kUsageCpuView,       43,  0,  0,  0,  0,  0,  0,  0,  0},
    {18, kUsageMemoryView,    40,  0,  0,  0,  0,  0,  0,  0,  0},
    // 21: depth 24, stencil 7, extra 1
    {21, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {21, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {21, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    // 19: depth 24, stencil 8
    {19, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {19, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {19, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {19, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    {19, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 25: depth 24, stencil 4
    {25, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {25, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {25, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {25, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    {25, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 22: depth 24, stencil 1
    {22, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {22, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {22, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {22, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    {22, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 23: depth 24, stencil 2
    {23, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {23, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {23, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {23, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    {23, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 24: depth 24, stencil 3
    {24, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {24, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {24, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {24, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    {24, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 26: depth 24, stencil 5
    {26, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {26, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {26, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {26, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    {26, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 27: depth 24, stencil 6
    {27, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {27, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {27, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {27, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    {27, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 28: depth 24, stencil 7
    {28, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {28, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {28, kUsageDepthStencil,  54,  0,  0,  0,  0,  0,  0,  0,  0},
    {28, kUsageCpuView,       54,  0,  0,  0,  0,  0,  0,  0,  0},
    {28, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    // 17: depth 16
    {17, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {17, kUsageRenderTarget,  40,  0,  0,  0,  0,  0,  0,  0,  0},
    {17, kUsageDepthStencil,  42,  0,  0,  0,  0,  0,  0,  0,  0},
    {17, kUsageCpuView,       42,  0,  0,  0,  0,  0,  0,  0,  0},
    {17, kUsageMemoryView,    40,  0,  0,  0,  0,  0,  0,  0,  0},
    // 41: packed video
    {41, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {41, kUsageTexture,       46,  0,  0,  0, 32,  0,  0,  0,  0},
    {41, kUsageCpuView,       46,  0,  0,  0,  0,  0,  0,  0,  0},
    {41, kUsageSurfaceB,      46,  0,  0,  0,  0,  0,  0,  0,  0},
    {41, kUsageMemoryView,    46,  0,  0,  0,  0,  0,  0,  0,  0},
    // 42: packed video
    {42, kUsageSurface,       32,  0,  0,  0,  0,  0,  0,  0,  0},
    {42, kUsageTexture,       46,  0,  0,  0, 32,  0,  0,  0,  1},
    {42, kUsageCpuView,       46,  0,  0,  0,  0,  0,  0,  0,  1},
    {42, kUsageSurfaceB,      46,  0,  0,  0,  0,  0,  0,  0,  1},
    {42, kUsageMemoryView,    46,  0,  0,  0,  0,  0,  0,  0,  0},
    // 43: video 32
    {43, kUsageSurface,       48,  0,  0,  0,  0,  0,  0,  0,  0},
    {43, kUsageRenderTarget,  50,  0,  0,  0,  0,  0,  0,  0,  0},
    {43, kUsageTexture,       50,  0,  0,  0, 32,  0,  0,  0,  0},
    {43, kUsageCpuView,       50,  0,  0,  0,  0,  0,  0,  0,  0},
    {43, kUsageSurfaceB,      59,  0,  0,  0,  0,  0,  0,  0,  0},
    {43, kUsageMemoryView,    50,  0,  0,  0,  0,  0,  0,  0,  0},
    {43, kUsageSurfaceC,      59,  0,  0,  0,  0,  0,  0,  0,  0},
    // 39: planar video
    {39, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    {39, kUsageRenderTarget,  17,  0,  0,  0,  0,  0,  0,  0,  0},
    {39, kUsageCpuView,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    {39, kUsageMemoryView,    18,  0,  0,  0,  0,  0,  0,  0,  0},
    // 40: planar video
    {40, kUsageSurface,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    {40, kUsageCpuView,       16,  0,  0,  0,  0,  0,  0,  0,  0},
    {40, kUsageMemoryView,    18,  0,  0,  0,  0,  0,  0,  0,  0},
};

FormatCapability g_capabilities[kCapabilityRoom];
uint32_t g_capabilityCount = 0;
// The table depends on the rows alone and nothing writes it after it is
// filled: a later load of the module finds it as the first one left it.
bool g_capabilitiesFilled = false;

// The first entry of each (format, usage) pair (null: none), so that
// building a catalogue binds a descriptor's capabilities by copying its
// row instead of walking the table for every format and usage. Codes past
// the index are looked up by the walk.
constexpr uint32_t kIndexedFormats = 64;
const FormatCapability* g_capabilityIndex[kIndexedFormats][kUsageCount];

// ---- Formats -------------------------------------------------------------------------------------

// Channel masks of each code, in the order red, green, blue, alpha,
// luminance, V, U, depth, stencil, extra; codes without masks have none.
constexpr uint32_t kChannelMasks[kFormatCodeLimit][kChannelCount] = {
    {},                                                                  //  0: no format
    {},                                                                  //  1: block-compressed
    {},                                                                  //  2: block-compressed
    {},                                                                  //  3: block-compressed
    {},                                                                  //  4: block-compressed
    {},                                                                  //  5: block-compressed
    {0x0F00, 0x00F0, 0x000F, 0xF000},                                    //  6: 4:4:4:4
    {0x0F00, 0x00F0, 0x000F},                                            //  7: x4:4:4
    {0x7C00, 0x03E0, 0x001F, 0x8000},                                    //  8: 1:5:5:5
    {0x7C00, 0x03E0, 0x001F},                                            //  9: x1:5:5:5
    {0xF800, 0x07E0, 0x001F},                                            // 10: 5:6:5
    {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},                    // 11: 8:8:8:8
    {0x00FF0000, 0x0000FF00, 0x000000FF},                                // 12: x8:8:8
    {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000},                    // 13: 8:8:8:8 swapped
    {0x000000FF, 0x0000FF00, 0x00FF0000},                                // 14: x8:8:8 swapped
    {0x000003FF, 0x000FFC00, 0x3FF00000, 0xC0000000},                    // 15: 2:10:10:10 swapped
    {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000},                    // 16: 2:10:10:10
    {0, 0, 0, 0, 0, 0, 0, 0xFFFF},                                       // 17: depth 16
    {0, 0, 0, 0, 0, 0, 0, 0xFFFE, 0x0001},                               // 18: depth 15, stencil 1
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0xFF000000},                       // 19: depth 24, stencil 8
    {},                                                                  // 20: unused
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0xFE000000, 0x01000000},           // 21: depth 24, stencil 7, extra 1
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0x80000000},                       // 22: depth 24, stencil 1
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0xC0000000},                       // 23: depth 24, stencil 2
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0xE0000000},                       // 24: depth 24, stencil 3
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0xF0000000},                       // 25: depth 24, stencil 4
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0xF8000000},                       // 26: depth 24, stencil 5
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0xFC000000},                       // 27: depth 24, stencil 6
    {0, 0, 0, 0, 0, 0, 0, 0x00FFFFFF, 0xFE000000},                       // 28: depth 24, stencil 7
    {0, 0, 0, 0, 0xFF},                                                  // 29: luminance 8
    {0, 0, 0, 0, 0xFFFF},                                                // 30: luminance 16
    {0, 0, 0, 0xFF},                                                     // 31: alpha 8
    {0, 0, 0, 0xFF00, 0x00FF},                                           // 32: alpha 8, luminance 8
    {0, 0, 0, 0, 0, 0xFF00, 0x00FF},                                     // 33: V8 U8
    {0, 0, 0, 0, 0xFC00, 0x03E0, 0x001F},                                // 34: L6 V5 U5
    {0, 0, 0, 0, 0x00FF0000, 0x0000FF00, 0x000000FF},                    // 35: L8 V8 U8
    {0, 0, 0, 0, 0, 0xFF00, 0x00FF},                                     // 36: V8 U8 in 32
    {0, 0, 0, 0, 0, 0xFFFF0000, 0x0000FFFF},                             // 37: V16 U16
    {0, 0, 0, 0, 0, 0x000FFC00, 0x000003FF},                             // 38: V10 U10
    {},                                                                  // 39: planar video
    {},                                                                  // 40: planar video
    {},                                                                  // 41: packed video
    {},                                                                  // 42: packed video
    {},                                                                  // 43: video 32
    {},                                                                  // 44: no capabilities
    {},                                                                  // 45: no capabilities
    {},                                                                  // 46: no capabilities
};

// How the catalogue is built, group by group: a new descriptor or a copy of
// one already built, then flag bits set and cleared, and the bits per pixel
// (0: the copy's own).
struct BuildRow {
  uint8_t group;
  uint8_t code;
  uint8_t copyOf;
  uint8_t setFlags;
  uint8_t clearFlags;
  uint8_t bitsPerPixel;
};

const BuildRow kBuildRows[kCatalogueDescriptors] = {
    {1, 10, 0, 3, 0, 16},   // 5:6:5
    {1, 6, 10, 2, 0, 0},    // 4:4:4:4, copy of 10
    {1, 7, 10, 2, 0, 0},    // x4:4:4, copy of 10
    {1, 8, 10, 2, 0, 0},    // 1:5:5:5, copy of 10
    {1, 9, 10, 2, 0, 0},    // x1:5:5:5, copy of 10
    {1, 12, 0, 3, 0, 32},   // x8:8:8
    {1, 11, 12, 2, 0, 0},   // 8:8:8:8, copy of 12
    {1, 14, 0, 0, 2, 32},   // x8:8:8 swapped
    {1, 13, 14, 0, 2, 0},   // 8:8:8:8 swapped, copy of 14
    {1, 15, 0, 3, 0, 32},   // 2:10:10:10 swapped
    {1, 16, 0, 3, 0, 32},   // 2:10:10:10
    {2, 17, 0, 0, 1, 16},   // depth 16
    {2, 18, 17, 0, 0, 0},   // depth 15 stencil 1, copy of 17
    {2, 19, 0, 0, 1, 32},   // depth 24 stencil 8
    {2, 21, 19, 0, 0, 0},   // depth 24 stencil 7 extra 1, copy of 19
    {2, 23, 19, 0, 0, 0},   // depth 24 stencil 2, copy of 19
    {2, 24, 19, 0, 0, 0},   // depth 24 stencil 3, copy of 19
    {2, 26, 19, 0, 0, 0},   // depth 24 stencil 5, copy of 19
    {2, 27, 19, 0, 0, 0},   // depth 24 stencil 6, copy of 19
    {2, 28, 19, 0, 0, 0},   // depth 24 stencil 7, copy of 19
    {2, 25, 19, 0, 0, 0},   // depth 24 stencil 4, copy of 19
    {2, 22, 19, 0, 0, 0},   // depth 24 stencil 1, copy of 19
    {3, 1, 0, 1, 0, 4},     // block-compressed 4 bits
    {3, 2, 0, 1, 0, 8},     // block-compressed 8 bits
    {3, 3, 2, 0, 0, 0},     // block-compressed, copy of 2
    {3, 4, 2, 0, 0, 0},     // block-compressed, copy of 2
    {3, 5, 2, 0, 0, 0},     // block-compressed, copy of 2
    {4, 31, 0, 1, 0, 8},    // alpha 8
    {5, 29, 0, 1, 0, 8},    // luminance 8
    {5, 30, 0, 1, 0, 16},   // luminance 16
    {5, 32, 0, 1, 0, 16},   // alpha 8 luminance 8
    {6, 33, 0, 1, 0, 16},   // V8 U8
    {6, 34, 33, 0, 0, 0},   // L6 V5 U5, copy of 33
    {6, 35, 0, 1, 0, 32},   // L8 V8 U8
    {6, 37, 35, 0, 0, 0},   // V16 U16, copy of 35
    {6, 36, 0, 1, 0, 32},   // V8 U8 in 32
    {6, 38, 0, 1, 0, 32},   // V10 U10
    {7, 41, 0, 2, 1, 16},   // packed video
    {7, 42, 41, 2, 1, 0},   // packed video, copy of 41
    {7, 43, 0, 3, 0, 32},   // video 32
    {7, 39, 0, 2, 1, 8},    // planar video
    {7, 40, 0, 2, 1, 8},    // planar video
    {8, 44, 0, 0, 0, 32},   // no capabilities
    {8, 45, 0, 0, 0, 32},   // no capabilities
    {8, 46, 0, 0, 0, 8},    // no capabilities
};

// ---- Client format numbers -----------------------------------------------------------------------

struct NumberPair {
  uint32_t from, to;
};

// Client number to internal code.
const NumberPair kClientToCode[] = {
    {20, 12},  // x8:8:8 (also 22)
    {21, 11},  // 8:8:8:8
    {22, 12},  // x8:8:8
    {23, 10},  // 5:6:5
    {24, 9},   // x1:5:5:5
    {25, 8},   // 1:5:5:5
    {26, 6},   // 4:4:4:4
    {28, 31},  // alpha 8
    {30, 7},   // x4:4:4
    {31, 13},  // 8:8:8:8 swapped
    {50, 29},  // luminance 8
    {51, 32},  // alpha 8 luminance 8
    {60, 33},  // V8 U8
    {61, 34},  // L6 V5 U5
    {62, 35},  // L8 V8 U8
    {64, 37},  // V16 U16
    {65, 41},  // packed video
    {66, 42},  // packed video
    {67, 1},   // block-compressed 4 bits
    {68, 2},   // block-compressed
    {69, 3},   // block-compressed
    {70, 4},   // block-compressed
    {72, 5},   // block-compressed
    {73, 18},  // depth 15 stencil 1
    {75, 19},  // depth 24 stencil 8
    {79, 21},  // depth 24 stencil 7 extra 1
    {80, 17},  // depth 16
};

// Internal code to client number.
const NumberPair kCodeToClient[] = {
    {0, 77},   // no format
    {1, 67},   // block-compressed 4 bits
    {2, 68},   // block-compressed
    {3, 69},   // block-compressed
    {4, 70},   // block-compressed
    {5, 72},   // block-compressed
    {6, 26},   // 4:4:4:4
    {7, 30},   // x4:4:4
    {8, 25},   // 1:5:5:5
    {9, 24},   // x1:5:5:5
    {10, 23},  // 5:6:5
    {11, 21},  // 8:8:8:8
    {12, 22},  // x8:8:8
    {13, 31},  // 8:8:8:8 swapped
    {17, 80},  // depth 16
    {18, 73},  // depth 15 stencil 1
    {19, 75},  // depth 24 stencil 8
    {21, 79},  // depth 24 stencil 7 extra 1
    {29, 50},  // luminance 8
    {31, 28},  // alpha 8
    {32, 51},  // alpha 8 luminance 8
    {33, 60},  // V8 U8
    {34, 61},  // L6 V5 U5
    {35, 62},  // L8 V8 U8
    {37, 64},  // V16 U16
    {41, 65},  // packed video
    {42, 66},  // packed video
};
static_assert(sizeof(kClientToCode) / sizeof(kClientToCode[0]) == 27);
static_assert(sizeof(kCodeToClient) / sizeof(kCodeToClient[0]) == 27);

uint32_t Translate(const NumberPair* pairs, size_t count, uint32_t from) {
  for (size_t i = 0; i < count; ++i)
    if (pairs[i].from == from) return pairs[i].to;
  return 0;
}

constexpr uint32_t LowestSetBit(uint32_t mask) {
  return mask == 0 ? 0 : static_cast<uint32_t>(__builtin_ctz(mask));
}

// The shift of every channel mask (its lowest set bit; 0 for no mask),
// worked out when the driver is built.
struct ChannelShiftTable {
  uint32_t of[kFormatCodeLimit][kChannelCount];
};
constexpr ChannelShiftTable kChannelShifts = [] {
  ChannelShiftTable table{};
  for (uint32_t code = 0; code < kFormatCodeLimit; ++code)
    for (uint32_t c = 0; c < kChannelCount; ++c) table.of[code][c] = LowestSetBit(kChannelMasks[code][c]);
  return table;
}();

// Each 4-bit channel widened to 8 bits.
uint32_t Widen4(uint32_t c) { return (c << 4) | c; }
// A 5-bit channel widened to 10 bits.
uint32_t Widen5To10(uint32_t c) { return (c << 5) | c; }

}  // namespace

uint32_t UsageClassBits(uint32_t usage) {
  uint32_t bits = 0;
  if (usage == kUsageCpuView || usage == kUsageMemoryView) bits |= 0x1 | 0x2 | 0x8;
  if (usage == kUsageSurface || usage == kUsageRenderTarget || usage == kUsageDepthStencil || usage == kUsageSurfaceB ||
      usage == kUsageSurfaceC)
    bits |= 0x4;
  if (usage == kUsageTexture || usage == kUsageTextureSigned) bits |= 0x10;
  else bits |= 0x20;
  return bits;
}

void FormatCapability::Set(uint32_t formatCode, uint32_t usageIndex, uint32_t hardware, uint8_t swapFlag,
                           uint8_t signedFlag, uint8_t noAlphaFlag, uint32_t param1, uint32_t param2,
                           uint8_t param3, uint8_t param4, uint32_t extraWord) {
  usageClassBits = 0;
  format = formatCode;
  usage = usageIndex;
  hardwareCode = hardware;
  swap = swapFlag;
  isSigned = signedFlag;
  noAlpha = noAlphaFlag;
  p1 = param1;
  p2 = param2;
  p3 = param3;
  p4 = param4;
  extra = extraWord;
  usageClassBits = UsageClassBits(usageIndex) & 0xFF;
}

void InitFormatCapabilityTable() {
  if (g_capabilitiesFilled) return;
  for (uint32_t i = 0; i < kCapabilityEntries; ++i) {
    const CapabilityRow& r = kCapabilityRows[i];
    g_capabilities[i].Set(r.format, r.usage, r.hardware, r.swap, r.isSigned, r.noAlpha, r.p1, r.p2, r.p3,
                          r.p4, r.extra);
  }
  g_capabilityCount = kCapabilityEntries;
  memset(g_capabilityIndex, 0, sizeof(g_capabilityIndex));
  for (uint32_t i = 0; i < g_capabilityCount; ++i) {
    const FormatCapability& c = g_capabilities[i];
    if (c.format < kIndexedFormats && c.usage < kUsageCount && g_capabilityIndex[c.format][c.usage] == nullptr)
      g_capabilityIndex[c.format][c.usage] = &c;
  }
  g_capabilitiesFilled = true;
}

uint32_t FormatCapabilityCount() { return g_capabilityCount; }

const FormatCapability* FormatCapabilityAt(uint32_t index) {
  return index < g_capabilityCount ? &g_capabilities[index] : nullptr;
}

const FormatCapability* FindFormatCapability(uint32_t format, uint32_t usage) {
  if (format < kIndexedFormats && usage < kUsageCount) return g_capabilityIndex[format][usage];
  for (uint32_t i = 0; i < g_capabilityCount; ++i)
    if (g_capabilities[i].format == format && g_capabilities[i].usage == usage) return &g_capabilities[i];
  return nullptr;
}

uint32_t FormatClassOf(uint32_t code) {
  if (code >= 1 && code <= 5) return 1;
  if (code >= 6 && code <= 16) return 2;
  if ((code >= 17 && code <= 19) || (code >= 21 && code <= 28)) return 3;
  if (code >= 29 && code <= 32) return 4;
  if (code == 33 || (code >= 36 && code <= 38)) return 5;
  if (code == 34 || code == 35) return 6;
  if (code >= 39 && code <= 43) return 7;
  if (code >= 44 && code <= 46) return 8;
  return 0;
}

// ---- FormatDescriptor ----------------------------------------------------------------------------

FormatDescriptor::FormatDescriptor(uint32_t formatCode, const char* formatName)
    : code(formatCode), formatClass(FormatClassOf(formatCode)), name(formatName), flags(kFormatAgpAllowed) {
  SetChannelMasks();
  BindCapabilities();
}

FormatDescriptor::FormatDescriptor(const FormatDescriptor& source, uint32_t formatCode, const char* formatName)
    : FormatDescriptor(source) {
  code = formatCode;
  formatClass = FormatClassOf(formatCode);
  name = formatName;
  SetChannelMasks();
  BindCapabilities();
}

void FormatDescriptor::SetChannelMasks() {
  if (code < kFormatCodeLimit) {
    memcpy(masks, kChannelMasks[code], sizeof(masks));
    memcpy(shifts, kChannelShifts.of[code], sizeof(shifts));
  } else {
    memset(masks, 0, sizeof(masks));
    memset(shifts, 0, sizeof(shifts));
  }
}

void FormatDescriptor::BindCapabilities() {
  if (code < kIndexedFormats) {
    memcpy(capabilities, g_capabilityIndex[code], sizeof(capabilities));
    return;
  }
  for (uint32_t usage = 0; usage < kUsageCount; ++usage) capabilities[usage] = FindFormatCapability(code, usage);
}

bool FormatDescriptor::ExpandToArgb(uint32_t* out, uint32_t pixel, uint32_t usage) const {
  // The entry of the usage gives the swap and signed flags: a usage the
  // format lacks has no conversion.
  const FormatCapability* entry = usage < kUsageCount ? capabilities[usage] : nullptr;
  if (entry == nullptr) return false;
  uint32_t value = 0;
  switch (code) {
    case 6:
    case 7: {
      const uint32_t a = code == 6 ? Widen4((pixel >> 12) & 0xF) : 0xFF;
      value = a << 24 | Widen4((pixel >> 8) & 0xF) << 16 | Widen4((pixel >> 4) & 0xF) << 8 | Widen4(pixel & 0xF);
      break;
    }
    case 8:
    case 9: {
      const uint32_t a = (pixel >> 15) & 1;
      const uint32_t top = code == 8 ? (a << 1 | a) : 3;
      value = top << 30 | Widen5To10((pixel >> 10) & 0x1F) << 20 | Widen5To10((pixel >> 5) & 0x1F) << 10 |
              Widen5To10(pixel & 0x1F);
      break;
    }
    case 10: {
      uint32_t p = pixel & 0xFFFF;
      if (entry->swap) p = (p & 0x07E0) | (p & 0x1F) << 11 | (p >> 11);
      const uint32_t g = (p >> 5) & 0x3F;
      value = 3u << 30 | Widen5To10(p >> 11) << 20 | ((g << 4) | (g >> 2)) << 10 | Widen5To10(p & 0x1F);
      break;
    }
    case 11:
    case 12: {
      uint32_t p = pixel;
      if (entry->isSigned) p ^= 0x80808080;
      if (entry->swap) p = (p & 0xFF00FF00) | (p & 0xFF) << 16 | ((p >> 16) & 0xFF);
      value = code == 12 ? (p & 0x00FFFFFF) | 0xFF000000 : p;
      break;
    }
    case 15:
    case 16: {
      uint32_t p = pixel;
      if (entry->isSigned) p ^= 0x80000000 | 1u << 29 | 1u << 19 | 1u << 9;
      if (entry->swap) p = (p & 0xC00FFC00) | (p & 0x3FF) << 20 | ((p >> 20) & 0x3FF);
      value = p;
      break;
    }
    case 29: {
      const uint32_t l = pixel & 0xFF;
      value = 0xFF000000 | l << 16 | l << 8 | l;
      break;
    }
    case 30:
      value = pixel << 16 | 0xFFFF;
      break;
    case 31:
      value = pixel << 24;
      break;
    case 32: {
      const uint32_t l = pixel & 0xFF;
      value = ((pixel >> 8) & 0xFF) << 24 | l << 16 | l << 8 | l;
      break;
    }
    default:
      return false;
  }
  *out = value;
  return true;
}

bool FormatDescriptor::ToTextureUnitColour(uint32_t* out, uint32_t argb) const {
  const uint32_t a = argb >> 24;
  const uint32_t r = (argb >> 16) & 0xFF;
  const uint32_t g = (argb >> 8) & 0xFF;
  const uint32_t b = argb & 0xFF;
  uint32_t value = 0;
  switch (code) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7:
    case 11: case 12: case 29: case 31: case 32: case 33: case 36:
      value = argb;
      break;
    case 8: case 9: case 10: case 15: case 16:
      value = (a / 85) << 30 | (r * 1023 / 255) << 20 | (g * 1023 / 255) << 10 | (b * 1023 / 255);
      break;
    case 30:
      value = 0xFFFF0000 | (r * 257);
      break;
    case 34: case 35:
      value = (argb & 0xFFFFFF00) | 0xFF;
      break;
    case 37:
      value = ((b * 32767 / 255) ^ 0x8000) << 16 | ((r * 32767 / 255) ^ 0x8000);
      break;
    case 38:
      value = (a / 85) << 30 | ((r * 511 / 255) ^ 0x200) << 20 | ((g * 511 / 255) ^ 0x200) << 10 |
              ((b * 511 / 255) ^ 0x200);
      break;
    default:
      return false;
  }
  *out = value;
  return true;
}

// ---- FormatCatalogue -----------------------------------------------------------------------------

bool FormatCatalogue::Add(FormatDescriptor* descriptor) {
  if (count_ > kFormatCodeLimit - 1) return false;
  descriptors_[count_++] = descriptor;
  if (descriptor->code < kFormatCodeLimit && byCode_[descriptor->code] == nullptr)
    byCode_[descriptor->code] = descriptor;
  return true;
}

bool FormatCatalogue::Build() {
  for (const BuildRow& row : kBuildRows) {
    FormatDescriptor* made = nullptr;
    if (row.copyOf != 0) {
      const FormatDescriptor* source = Find(row.copyOf);
      if (source == nullptr) return false;
      made = new FormatDescriptor(*source, row.code, "");
    } else {
      made = new FormatDescriptor(row.code, "");
    }
    if (made == nullptr) return false;
    made->flags = (made->flags | row.setFlags) & ~uint32_t{row.clearFlags};
    if (row.bitsPerPixel != 0) made->bitsPerPixel = row.bitsPerPixel;
    if (!Add(made)) {
      delete made;  // a full catalogue keeps what it has
      return false;
    }
  }
  return true;
}

void FormatCatalogue::Clear() {
  for (uint32_t i = 0; i < count_; ++i) {
    delete descriptors_[i];
    descriptors_[i] = nullptr;
  }
  for (FormatDescriptor*& entry : byCode_) entry = nullptr;
  count_ = 0;
}

FormatDescriptor* FormatCatalogue::Find(uint32_t code) const {
  return code < kFormatCodeLimit ? byCode_[code] : nullptr;
}

FormatDescriptor* FormatCatalogue::FindByClientFormat(uint32_t clientNumber) const {
  const uint32_t code = ClientFormatToCode(clientNumber);
  return code != 0 ? Find(code) : nullptr;
}

uint32_t FormatCatalogue::ClientFormatToCode(uint32_t clientNumber) {
  return Translate(kClientToCode, sizeof(kClientToCode) / sizeof(kClientToCode[0]), clientNumber);
}

uint32_t FormatCatalogue::ToClientFormat(uint32_t code) {
  return Translate(kCodeToClient, sizeof(kCodeToClient) / sizeof(kCodeToClient[0]), code);
}

// ---- Component entry 16 --------------------------------------------------------------------------

bool InitFormatCatalogue(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard()) {
    FormatCatalogue* catalogue = new FormatCatalogue();
    common->formatCatalogue = catalogue;
    if (catalogue == nullptr || !catalogue->Build()) {
      CleanupFormatCatalogue(pdev);
      return false;
    }
  }
  pdev->formatCatalogue = common->formatCatalogue;
  return pdev->formatCatalogue != nullptr;
}

void CleanupFormatCatalogue(PDEV* pdev) {
  pdev->formatCatalogue = nullptr;
  CommonData* common = pdev->common;
  if (!pdev->IsFirstForBoard() || common->formatCatalogue == nullptr) return;
  delete common->formatCatalogue;  // clears every descriptor
  common->formatCatalogue = nullptr;
}
