#include "kernel/3d/tnl/fixed_programs.h"

namespace {

// Placeholder microcode: instruction j of program p holds {p << 16 | j,
// j, p}. Stored as bytes the way the engine reads them (little-endian
// words).
template <uint32_t Bytes, uint32_t Program>
struct PlaceholderCode {
  static_assert(Bytes % 12 == 0);
  uint8_t bytes[Bytes];
  constexpr PlaceholderCode() : bytes() {
    for (uint32_t j = 0; j < Bytes / 12; ++j) {
      const uint32_t words[3] = {Program << 16 | j, j, Program};
      for (uint32_t w = 0; w < 3; ++w)
        for (uint32_t b = 0; b < 4; ++b) bytes[12 * j + 4 * w + b] = static_cast<uint8_t>(words[w] >> (8 * b));
    }
  }
};

constexpr uint32_t IndexedBytes(uint32_t i) { return i <= 3 ? 120 : 120 + 24 * (i - 3); }

constexpr PlaceholderCode<168, 0> kProgram0;
constexpr PlaceholderCode<348, 1> kProgram1;
constexpr PlaceholderCode<300, 2> kProgram2;
constexpr PlaceholderCode<204, 3> kProgram3;
constexpr PlaceholderCode<552, 6> kProgram6;
constexpr PlaceholderCode<564, 7> kProgram7;
constexpr PlaceholderCode<240, 8> kProgram8;
constexpr PlaceholderCode<492, 9> kProgram9;
constexpr PlaceholderCode<504, 10> kProgram10;
constexpr PlaceholderCode<192, 11> kProgram11;
constexpr PlaceholderCode<120, 12> kProgram12;
constexpr PlaceholderCode<684, 15> kProgram15;
constexpr PlaceholderCode<120, 16> kProgram16;
constexpr PlaceholderCode<4932, 17> kProgram17;
constexpr PlaceholderCode<kConstantCheckProgramBytes, 0xC4EC> kCheckProgram;

#define ORV_INDEXED(i) constexpr PlaceholderCode<IndexedBytes(i), 0x400 + (i)> kIndexed##i;
ORV_INDEXED(0)
ORV_INDEXED(1)
ORV_INDEXED(2)
ORV_INDEXED(3)
ORV_INDEXED(4)
ORV_INDEXED(5)
ORV_INDEXED(6)
ORV_INDEXED(7)
ORV_INDEXED(8)
ORV_INDEXED(9)
ORV_INDEXED(10)
ORV_INDEXED(11)
ORV_INDEXED(12)
ORV_INDEXED(13)
ORV_INDEXED(14)
ORV_INDEXED(15)
#undef ORV_INDEXED

template <class Code>
constexpr FixedProgramCode Of(const Code& c) {
  return FixedProgramCode{c.bytes, static_cast<uint32_t>(sizeof c.bytes)};
}

constexpr FixedProgramCode kIndexedCode[16] = {
    Of(kIndexed0),  Of(kIndexed1),  Of(kIndexed2),  Of(kIndexed3), Of(kIndexed4),  Of(kIndexed5),
    Of(kIndexed6),  Of(kIndexed7),  Of(kIndexed8),  Of(kIndexed9), Of(kIndexed10), Of(kIndexed11),
    Of(kIndexed12), Of(kIndexed13), Of(kIndexed14), Of(kIndexed15)};

}  // namespace

FixedProgramCode FixedProgramCodeOf(uint32_t id) {
  switch (id) {
    case 0: return Of(kProgram0);
    case 1: return Of(kProgram1);
    case 2: return Of(kProgram2);
    case 3: return Of(kProgram3);
    case 6: return Of(kProgram6);
    case 7: return Of(kProgram7);
    case 8: return Of(kProgram8);
    case 9: return Of(kProgram9);
    case 10: return Of(kProgram10);
    case 11: return Of(kProgram11);
    case 12: return Of(kProgram12);
    case 15: return Of(kProgram15);
    case 16: return Of(kProgram16);
    case 17: return Of(kProgram17);
    default: return FixedProgramCode{nullptr, 0};
  }
}

FixedProgramCode IndexedProgramCodeOf(uint32_t index) {
  return index < 16 ? kIndexedCode[index] : FixedProgramCode{nullptr, 0};
}

FixedProgramCode ConstantCheckProgramCode() { return Of(kCheckProgram); }
