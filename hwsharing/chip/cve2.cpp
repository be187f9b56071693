#include "hwsharing/chip/cve2.h"

#include <cstddef>

#include "core/regs/cve2.h"
#include "core/regs/field.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/chip/halstatus.h"
#include "hwsharing/chip/reg_access.h"

namespace {

struct Cve2Field {
  uint8_t field;
  uint16_t reg;
  uint32_t mask;
};

// Each row names the setting when the TV encoder code gives it a meaning
// (the encoder parameter words are those of its 19-word record).
const Cve2Field kCve2Fields[] = {
    {0, 0x1D94, 0xFFFFFFFF},    // colour subcarrier increment (encoder parameter word 0)
    {4, 0x1D98, 0xFF},          // encoder parameter word 1
    {8, 0x1D80, 0xFF},          // encoder parameter word 3
    {9, 0x1D84, 0x7F0000},      // encoder parameter word 5
    {10, 0x1D84, 0xFF},         // encoder parameter word 4
    {11, 0x1D9C, 0xFF},         // encoder parameter word 9
    {12, 0x1D9C, 0xFF00},       // encoder parameter word 10
    {13, 0x1DA4, 0x2},
    {14, 0x1D90, 0x3FF},        // black level
    {16, 0x1D8C, 0x3FF},        // blank level
    {18, 0x1DA8, 0x3F00},
    {19, 0x1DA8, 0x3F000000},
    {20, 0x1DB0, 0x3F},
    {21, 0x1DB0, 0x3F00},
    {22, 0x1DB0, 0x3F0000},
    {23, 0x1D88, 0x3FF},        // lines per frame
    {25, 0x1DA8, 0xFF},
    {26, 0x1DB8, 0xFF},
    {27, 0x1DB8, 0xFF00},
    {28, 0x1DB8, 0xFF0000},
    {29, 0x1DAC, 0x700},
    {30, 0x1D90, 0xFFC00},      // white level
    {32, 0x1DA0, 0xFF},         // saturation, first colour-difference gain
    {33, 0x1DBC, 0xE000},
    {34, 0x1DA0, 0xFF00},       // saturation, second colour-difference gain
    {35, 0x1DBC, 0x1},
    {36, 0x1DAC, 0x3000000},
    {37, 0x1DA0, 0xFF0000},     // hue
    {38, 0x1DBC, 0x1E},
    {39, 0x1DBC, 0x1E00},
    {40, 0x1DBC, 0x1E0},
    {41, 0x1D84, 0x1F00},       // encoder parameter word 6
    {42, 0x1DBC, 0x3FF0000},
    {44, 0x1D80, 0x3F00},       // encoder parameter word 2
    {45, 0x1DB4, 0x7FFF},
    {47, 0x1DB4, 0x7FFF0000},
    {49, 0x1D80, 0x7FF0000},    // samples per line
    {51, 0x1D88, 0xFF0000},
    {53, 0x1D90, 0xFF000000},   // encoder parameter word 11
    {54, 0x1DBC, 0x4000000},
    {55, 0x1DC0, 0xFF},
    {56, 0x1DC0, 0xFF00},
    {57, 0x1DAC, 0x7F},
    {58, 0x1DAC, 0x70000},
    {59, 0x1DA8, 0x7F0000},
    {60, 0x1D8C, 0xFFC00},
    {62, 0x1DA4, 0x1},          // encoder disable (1 = off)
    {63, 0x1DA4, 0xFF000000},
};

// Bits of the standard control byte (field 52) and where each sits.
struct StandardBit {
  uint8_t byteMask;
  uint16_t reg;
  uint32_t regMask;
};
const StandardBit kStandardBits[] = {
    {0x01, kRegCve2Control, 1u << 22},
    {0x02, kRegCve2Standard, 1u << 8},
    {0x04, kRegCve2Standard, 1u << 9},
    {0x08, kRegCve2Control, 1u << 21},
    {0x10, kRegCve2Control, 1u << 4},
    {0x20, kRegCve2Control, 1u << 8},
    {0x40, kRegCve2Control, 1u << 20},
    {0x80, kRegCve2Control, 1u << 7},
};
// Byte bit 6 also reads back from, and clears on write, this bit.
constexpr uint32_t kControlBit6Alias = 1u << 9;
constexpr uint8_t kStandardAliasedBit = 0x40;

const Cve2Field* FindField(uint32_t field) {
  for (const Cve2Field& f : kCve2Fields)
    if (f.field == field) return &f;
  return nullptr;
}

}  // namespace

HALSTATUS HSLKSTCVE2AccessRegister(BOARDHANDLE* h, uint32_t write, uint32_t field, uint8_t* bytes,
                                   uint32_t length) {
  if (HalFailed(h->status)) return h->status;
  if (field == kCve2FieldStandardControl)
    return HSLKSTCVE2AccessRegister_ENC_STANDARD_CTR(h, write, bytes);
  const Cve2Field* f = FindField(field);
  if (f == nullptr) return SetError(h, kErrCve2UnknownField);
  const uint32_t reg = RegRead(h, f->reg);
  if (write) {
    // Written most significant byte first.
    uint32_t v = 0;
    for (uint32_t i = 0; i < length; ++i) v = (v << 8) | bytes[i];
    RegWrite(h, f->reg, SetMaskedField(reg, f->mask, v));
  } else {
    // Read back least significant byte first.
    const uint32_t v = GetMaskedField(reg, f->mask);
    for (uint32_t j = 0; j < length; ++j) bytes[j] = static_cast<uint8_t>(v >> (8 * (j % 4)));
  }
  return h->status;
}

HALSTATUS HSLKSTCVE2AccessRegister_ENC_STANDARD_CTR(BOARDHANDLE* h, uint32_t write, uint8_t* byte) {
  if (HalFailed(h->status)) return h->status;
  uint32_t control = RegRead(h, kRegCve2Control);
  uint32_t standard = RegRead(h, kRegCve2Standard);
  if (write) {
    for (const StandardBit& b : kStandardBits) {
      uint32_t& r = b.reg == kRegCve2Control ? control : standard;
      r = WithBit(r, b.regMask, (*byte & b.byteMask) != 0);
    }
    control &= ~kControlBit6Alias;
    RegWrite(h, kRegCve2Control, control);
    RegWrite(h, kRegCve2Standard, standard);
  } else {
    uint8_t v = 0;
    for (const StandardBit& b : kStandardBits) {
      const uint32_t r = b.reg == kRegCve2Control ? control : standard;
      if (r & b.regMask) v |= b.byteMask;
    }
    if (control & kControlBit6Alias) v |= kStandardAliasedBit;
    *byte = v;
  }
  return h->status;
}
