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
    {11, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  //   0: format 11 usage 0
    {11, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //   1: format 11 usage 1
    {11, 2, 50, 0, 0, 0, 31, 4, 1, 1, 0},  //   2: format 11 usage 2
    {11, 3, 50, 0, 0, 0, 31, 4, 1, 1, 0},  //   3: format 11 usage 3
    {11, 5, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //   4: format 11 usage 5
    {11, 6, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //   5: format 11 usage 6
    {11, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //   6: format 11 usage 7
    {11, 8, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //   7: format 11 usage 8
    {12, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  //   8: format 12 usage 0
    {12, 1, 50, 0, 0, 1,  0, 0, 0, 0, 0},  //   9: format 12 usage 1
    {12, 2, 51, 0, 0, 0, 31, 4, 1, 0, 0},  //  10: format 12 usage 2
    {12, 3, 51, 0, 0, 0, 31, 4, 1, 0, 0},  //  11: format 12 usage 3
    {12, 5, 51, 0, 0, 0,  0, 0, 0, 0, 0},  //  12: format 12 usage 5
    {12, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //  13: format 12 usage 7
    {12, 8, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //  14: format 12 usage 8
    {13, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  //  15: format 13 usage 0
    {13, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //  16: format 13 usage 1
    {13, 2, 50, 1, 0, 0, 31, 4, 1, 1, 0},  //  17: format 13 usage 2
    {13, 3, 50, 1, 0, 0, 31, 4, 1, 1, 0},  //  18: format 13 usage 3
    {13, 5, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //  19: format 13 usage 5
    {13, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //  20: format 13 usage 7
    {13, 8, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //  21: format 13 usage 8
    {14, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  //  22: format 14 usage 0
    {14, 1, 50, 0, 0, 1,  0, 0, 0, 0, 0},  //  23: format 14 usage 1
    {14, 2, 51, 1, 0, 0, 31, 4, 1, 0, 0},  //  24: format 14 usage 2
    {14, 3, 51, 1, 0, 0, 31, 4, 1, 0, 0},  //  25: format 14 usage 3
    {14, 5, 51, 0, 0, 0,  0, 0, 0, 0, 0},  //  26: format 14 usage 5
    {14, 7, 51, 0, 0, 0,  0, 0, 0, 0, 0},  //  27: format 14 usage 7
    {14, 8, 50, 0, 0, 0,  0, 0, 0, 0, 0},  //  28: format 14 usage 8
    {10, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  //  29: format 10 usage 0
    {10, 1, 40, 0, 0, 0,  0, 0, 0, 0, 0},  //  30: format 10 usage 1
    {10, 2, 40, 0, 0, 0, 31, 4, 1, 0, 0},  //  31: format 10 usage 2
    {10, 3, 40, 0, 0, 0, 31, 4, 1, 0, 0},  //  32: format 10 usage 3
    {10, 5, 40, 0, 0, 0,  0, 0, 0, 0, 0},  //  33: format 10 usage 5
    {10, 6, 40, 0, 0, 0,  0, 0, 0, 0, 0},  //  34: format 10 usage 6
    {10, 7, 40, 0, 0, 0,  0, 0, 0, 0, 0},  //  35: format 10 usage 7
    {10, 8, 40, 0, 0, 0,  0, 0, 0, 0, 0},  //  36: format 10 usage 8
    { 8, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  //  37: format 8 usage 0
    { 8, 1, 38, 0, 0, 0,  0, 0, 0, 0, 0},  //  38: format 8 usage 1
    { 8, 2, 38, 0, 0, 0, 31, 4, 1, 1, 0},  //  39: format 8 usage 2
    { 8, 3, 38, 0, 0, 0, 31, 4, 1, 1, 0},  //  40: format 8 usage 3
    { 8, 5, 38, 0, 0, 0,  0, 0, 0, 0, 0},  //  41: format 8 usage 5
    { 8, 6, 38, 0, 0, 0,  0, 0, 0, 0, 0},  //  42: format 8 usage 6
    { 8, 7, 38, 0, 0, 0,  0, 0, 0, 0, 0},  //  43: format 8 usage 7
    { 9, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  //  44: format 9 usage 0
    { 9, 1, 38, 0, 0, 1,  0, 0, 0, 0, 0},  //  45: format 9 usage 1
    { 9, 2, 39, 0, 0, 0, 31, 4, 1, 0, 0},  //  46: format 9 usage 2
    { 9, 3, 39, 0, 0, 0, 31, 4, 1, 0, 0},  //  47: format 9 usage 3
    { 9, 5, 39, 0, 0, 0,  0, 0, 0, 0, 0},  //  48: format 9 usage 5
    { 9, 6, 39, 0, 0, 0,  0, 0, 0, 0, 0},  //  49: format 9 usage 6
    { 9, 7, 38, 0, 0, 0,  0, 0, 0, 0, 0},  //  50: format 9 usage 7
    { 6, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  //  51: format 6 usage 0
    { 6, 1, 36, 0, 0, 0,  0, 0, 0, 0, 0},  //  52: format 6 usage 1
    { 6, 2, 36, 0, 0, 0, 31, 4, 1, 1, 0},  //  53: format 6 usage 2
    { 6, 3, 36, 0, 0, 0, 31, 4, 1, 1, 0},  //  54: format 6 usage 3
    { 6, 5, 36, 0, 0, 0,  0, 0, 0, 0, 0},  //  55: format 6 usage 5
    { 6, 7, 36, 0, 0, 0,  0, 0, 0, 0, 0},  //  56: format 6 usage 7
    {15, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  //  57: format 15 usage 0
    {15, 1, 52, 0, 0, 0,  0, 0, 0, 0, 0},  //  58: format 15 usage 1
    {15, 2, 52, 1, 0, 0, 31, 4, 0, 0, 0},  //  59: format 15 usage 2
    {15, 3, 52, 1, 0, 0, 31, 4, 0, 0, 0},  //  60: format 15 usage 3
    {15, 5, 52, 0, 0, 0,  0, 0, 0, 0, 0},  //  61: format 15 usage 5
    {15, 7, 52, 0, 0, 0,  0, 0, 0, 0, 0},  //  62: format 15 usage 7
    {15, 8, 52, 0, 0, 0,  0, 0, 0, 0, 0},  //  63: format 15 usage 8
    {16, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  //  64: format 16 usage 0
    {16, 1, 52, 0, 0, 0,  0, 0, 0, 0, 0},  //  65: format 16 usage 1
    {16, 2, 52, 1, 0, 0, 31, 4, 0, 0, 0},  //  66: format 16 usage 2
    {16, 3, 52, 1, 0, 0, 31, 4, 0, 0, 0},  //  67: format 16 usage 3
    {16, 5, 52, 0, 0, 0,  0, 0, 0, 0, 0},  //  68: format 16 usage 5
    {16, 7, 52, 0, 0, 0,  0, 0, 0, 0, 0},  //  69: format 16 usage 7
    {16, 8, 52, 0, 0, 0,  0, 0, 0, 0, 0},  //  70: format 16 usage 8
    { 7, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  //  71: format 7 usage 0
    { 7, 1, 36, 0, 0, 1,  0, 0, 0, 0, 0},  //  72: format 7 usage 1
    { 7, 2, 37, 0, 0, 0, 31, 4, 1, 0, 0},  //  73: format 7 usage 2
    { 7, 3, 37, 0, 0, 0, 31, 4, 1, 0, 0},  //  74: format 7 usage 3
    { 7, 5, 36, 0, 0, 0,  0, 0, 0, 0, 0},  //  75: format 7 usage 5
    { 7, 7, 36, 0, 0, 0,  0, 0, 0, 0, 0},  //  76: format 7 usage 7
    {31, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  //  77: format 31 usage 0
    {31, 2, 18, 0, 0, 0, 31, 4, 1, 1, 0},  //  78: format 31 usage 2
    {31, 3, 18, 0, 0, 0, 31, 4, 1, 1, 0},  //  79: format 31 usage 3
    {31, 5, 18, 0, 0, 0,  0, 0, 0, 0, 0},  //  80: format 31 usage 5
    {31, 7, 18, 0, 0, 0,  0, 0, 0, 0, 0},  //  81: format 31 usage 7
    {29, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  //  82: format 29 usage 0
    {29, 1, 17, 0, 0, 0,  0, 0, 0, 0, 0},  //  83: format 29 usage 1
    {29, 2, 17, 0, 0, 0, 31, 4, 1, 0, 0},  //  84: format 29 usage 2
    {29, 3, 17, 0, 0, 0, 31, 4, 1, 0, 0},  //  85: format 29 usage 3
    {29, 5, 17, 0, 0, 0,  0, 0, 0, 0, 0},  //  86: format 29 usage 5
    {29, 7, 17, 0, 0, 0,  0, 0, 0, 0, 0},  //  87: format 29 usage 7
    {29, 8, 16, 0, 0, 0,  0, 0, 0, 0, 0},  //  88: format 29 usage 8
    {32, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  //  89: format 32 usage 0
    {32, 1, 34, 0, 0, 0,  0, 0, 0, 0, 0},  //  90: format 32 usage 1
    {32, 2, 34, 0, 0, 0, 31, 4, 0, 1, 0},  //  91: format 32 usage 2
    {32, 3, 34, 0, 0, 0, 31, 4, 1, 1, 0},  //  92: format 32 usage 3
    {32, 5, 34, 0, 0, 0,  0, 0, 0, 0, 0},  //  93: format 32 usage 5
    {32, 7, 34, 0, 0, 0,  0, 0, 0, 0, 0},  //  94: format 32 usage 7
    {30, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  //  95: format 30 usage 0
    {30, 1, 33, 0, 0, 0,  0, 0, 0, 0, 0},  //  96: format 30 usage 1
    {30, 2, 33, 0, 0, 0, 31, 4, 0, 0, 0},  //  97: format 30 usage 2
    {30, 3, 33, 0, 0, 0, 31, 4, 0, 0, 0},  //  98: format 30 usage 3
    {30, 5, 33, 0, 0, 0,  0, 0, 0, 0, 0},  //  99: format 30 usage 5
    {30, 7, 33, 0, 0, 0,  0, 0, 0, 0, 0},  // 100: format 30 usage 7
    {33, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  // 101: format 33 usage 0
    {33, 2, 44, 1, 1, 0, 31, 8, 0, 0, 0},  // 102: format 33 usage 2
    {33, 3, 44, 1, 1, 0, 31, 8, 0, 0, 0},  // 103: format 33 usage 3
    {33, 5, 44, 0, 0, 0,  0, 0, 0, 0, 0},  // 104: format 33 usage 5
    {33, 7, 44, 0, 0, 0,  0, 0, 0, 0, 0},  // 105: format 33 usage 7
    {34, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  // 106: format 34 usage 0
    {34, 3, 45, 1, 1, 0, 19, 8, 0, 0, 0},  // 107: format 34 usage 3
    {34, 5, 45, 0, 0, 0,  0, 0, 0, 0, 0},  // 108: format 34 usage 5
    {34, 7, 45, 0, 0, 0,  0, 0, 0, 0, 0},  // 109: format 34 usage 7
    {35, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 110: format 35 usage 0
    {35, 3, 56, 1, 1, 0, 19, 8, 0, 0, 0},  // 111: format 35 usage 3
    {35, 5, 51, 0, 0, 0,  0, 0, 0, 0, 0},  // 112: format 35 usage 5
    {35, 7, 51, 0, 0, 0,  0, 0, 0, 0, 0},  // 113: format 35 usage 7
    {36, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 114: format 36 usage 0
    {36, 2, 50, 1, 1, 0, 31, 4, 0, 0, 0},  // 115: format 36 usage 2
    {36, 3, 50, 1, 1, 0, 31, 4, 0, 0, 0},  // 116: format 36 usage 3
    {36, 5, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 117: format 36 usage 5
    {36, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 118: format 36 usage 7
    {37, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 119: format 37 usage 0
    {37, 3, 58, 1, 1, 0,  3, 8, 0, 0, 0},  // 120: format 37 usage 3
    {37, 5, 58, 0, 0, 0,  0, 0, 0, 0, 0},  // 121: format 37 usage 5
    {37, 7, 58, 0, 0, 0,  0, 0, 0, 0, 0},  // 122: format 37 usage 7
    {38, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 123: format 38 usage 0
    {38, 3, 52, 1, 1, 0, 23, 4, 0, 0, 0},  // 124: format 38 usage 3
    {38, 5, 52, 0, 0, 0,  0, 0, 0, 0, 0},  // 125: format 38 usage 5
    {38, 7, 52, 0, 0, 0,  0, 0, 0, 0, 0},  // 126: format 38 usage 7
    { 1, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 127: format 1 usage 0
    { 1, 2,  8, 0, 0, 0, 31, 4, 0, 1, 0},  // 128: format 1 usage 2
    { 1, 5,  8, 0, 0, 0,  0, 0, 0, 0, 0},  // 129: format 1 usage 5
    { 1, 7,  8, 0, 0, 0,  0, 0, 0, 0, 0},  // 130: format 1 usage 7
    { 2, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 131: format 2 usage 0
    { 2, 2,  9, 0, 0, 0, 31, 4, 0, 1, 0},  // 132: format 2 usage 2
    { 2, 5,  9, 0, 0, 0,  0, 0, 0, 0, 0},  // 133: format 2 usage 5
    { 2, 7,  9, 0, 0, 0,  0, 0, 0, 0, 0},  // 134: format 2 usage 7
    { 3, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 135: format 3 usage 0
    { 3, 2, 10, 0, 0, 0, 31, 4, 0, 1, 0},  // 136: format 3 usage 2
    { 3, 5, 10, 0, 0, 0,  0, 0, 0, 0, 0},  // 137: format 3 usage 5
    { 3, 7, 10, 0, 0, 0,  0, 0, 0, 0, 0},  // 138: format 3 usage 7
    { 4, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 139: format 4 usage 0
    { 4, 2, 11, 0, 0, 0, 31, 4, 0, 1, 0},  // 140: format 4 usage 2
    { 4, 5, 11, 0, 0, 0,  0, 0, 0, 0, 0},  // 141: format 4 usage 5
    { 4, 7, 11, 0, 0, 0,  0, 0, 0, 0, 0},  // 142: format 4 usage 7
    { 5, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 143: format 5 usage 0
    { 5, 2, 12, 0, 0, 0, 31, 4, 0, 1, 0},  // 144: format 5 usage 2
    { 5, 5, 12, 0, 0, 0,  0, 0, 0, 0, 0},  // 145: format 5 usage 5
    { 5, 7, 12, 0, 0, 0,  0, 0, 0, 0, 0},  // 146: format 5 usage 7
    {18, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  // 147: format 18 usage 0
    {18, 1, 40, 0, 0, 0,  0, 0, 0, 0, 0},  // 148: format 18 usage 1
    {18, 4, 43, 0, 0, 0,  0, 0, 0, 0, 0},  // 149: format 18 usage 4
    {18, 5, 43, 0, 0, 0,  0, 0, 0, 0, 0},  // 150: format 18 usage 5
    {18, 7, 40, 0, 0, 0,  0, 0, 0, 0, 0},  // 151: format 18 usage 7
    {21, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 152: format 21 usage 0
    {21, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 153: format 21 usage 4
    {21, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 154: format 21 usage 5
    {19, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 155: format 19 usage 0
    {19, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 156: format 19 usage 1
    {19, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 157: format 19 usage 4
    {19, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 158: format 19 usage 5
    {19, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 159: format 19 usage 7
    {25, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 160: format 25 usage 0
    {25, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 161: format 25 usage 1
    {25, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 162: format 25 usage 4
    {25, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 163: format 25 usage 5
    {25, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 164: format 25 usage 7
    {22, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 165: format 22 usage 0
    {22, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 166: format 22 usage 1
    {22, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 167: format 22 usage 4
    {22, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 168: format 22 usage 5
    {22, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 169: format 22 usage 7
    {23, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 170: format 23 usage 0
    {23, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 171: format 23 usage 1
    {23, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 172: format 23 usage 4
    {23, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 173: format 23 usage 5
    {23, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 174: format 23 usage 7
    {24, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 175: format 24 usage 0
    {24, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 176: format 24 usage 1
    {24, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 177: format 24 usage 4
    {24, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 178: format 24 usage 5
    {24, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 179: format 24 usage 7
    {26, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 180: format 26 usage 0
    {26, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 181: format 26 usage 1
    {26, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 182: format 26 usage 4
    {26, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 183: format 26 usage 5
    {26, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 184: format 26 usage 7
    {27, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 185: format 27 usage 0
    {27, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 186: format 27 usage 1
    {27, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 187: format 27 usage 4
    {27, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 188: format 27 usage 5
    {27, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 189: format 27 usage 7
    {28, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 190: format 28 usage 0
    {28, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 191: format 28 usage 1
    {28, 4, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 192: format 28 usage 4
    {28, 5, 54, 0, 0, 0,  0, 0, 0, 0, 0},  // 193: format 28 usage 5
    {28, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 194: format 28 usage 7
    {17, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  // 195: format 17 usage 0
    {17, 1, 40, 0, 0, 0,  0, 0, 0, 0, 0},  // 196: format 17 usage 1
    {17, 4, 42, 0, 0, 0,  0, 0, 0, 0, 0},  // 197: format 17 usage 4
    {17, 5, 42, 0, 0, 0,  0, 0, 0, 0, 0},  // 198: format 17 usage 5
    {17, 7, 40, 0, 0, 0,  0, 0, 0, 0, 0},  // 199: format 17 usage 7
    {41, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  // 200: format 41 usage 0
    {41, 2, 46, 0, 0, 0, 32, 0, 0, 0, 0},  // 201: format 41 usage 2
    {41, 5, 46, 0, 0, 0,  0, 0, 0, 0, 0},  // 202: format 41 usage 5
    {41, 6, 46, 0, 0, 0,  0, 0, 0, 0, 0},  // 203: format 41 usage 6
    {41, 7, 46, 0, 0, 0,  0, 0, 0, 0, 0},  // 204: format 41 usage 7
    {42, 0, 32, 0, 0, 0,  0, 0, 0, 0, 0},  // 205: format 42 usage 0
    {42, 2, 46, 0, 0, 0, 32, 0, 0, 0, 1},  // 206: format 42 usage 2
    {42, 5, 46, 0, 0, 0,  0, 0, 0, 0, 1},  // 207: format 42 usage 5
    {42, 6, 46, 0, 0, 0,  0, 0, 0, 0, 1},  // 208: format 42 usage 6
    {42, 7, 46, 0, 0, 0,  0, 0, 0, 0, 0},  // 209: format 42 usage 7
    {43, 0, 48, 0, 0, 0,  0, 0, 0, 0, 0},  // 210: format 43 usage 0
    {43, 1, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 211: format 43 usage 1
    {43, 2, 50, 0, 0, 0, 32, 0, 0, 0, 0},  // 212: format 43 usage 2
    {43, 5, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 213: format 43 usage 5
    {43, 6, 59, 0, 0, 0,  0, 0, 0, 0, 0},  // 214: format 43 usage 6
    {43, 7, 50, 0, 0, 0,  0, 0, 0, 0, 0},  // 215: format 43 usage 7
    {43, 8, 59, 0, 0, 0,  0, 0, 0, 0, 0},  // 216: format 43 usage 8
    {39, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 217: format 39 usage 0
    {39, 1, 17, 0, 0, 0,  0, 0, 0, 0, 0},  // 218: format 39 usage 1
    {39, 5, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 219: format 39 usage 5
    {39, 7, 18, 0, 0, 0,  0, 0, 0, 0, 0},  // 220: format 39 usage 7
    {40, 0, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 221: format 40 usage 0
    {40, 5, 16, 0, 0, 0,  0, 0, 0, 0, 0},  // 222: format 40 usage 5
    {40, 7, 18, 0, 0, 0,  0, 0, 0, 0, 0},  // 223: format 40 usage 7
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
  if (usage == 5 || usage == 7) bits |= 0x1 | 0x2 | 0x8;
  if (usage == 0 || usage == 1 || usage == 4 || usage == 6 || usage == 8) bits |= 0x4;
  if (usage == 2 || usage == 3) bits |= 0x10;
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
