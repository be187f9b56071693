#include "hwsharing/encoders/output_wiring.h"

#include <initializer_list>

#include "hwsharing/chip/boardhandle.h"

namespace {

// ---- Matching a row to a board --------------------------------------------------

enum class Cond : uint8_t { kAny, kYes, kNo };

bool Holds(Cond c, bool fact) { return c == Cond::kAny || (c == Cond::kYes) == fact; }

constexpr uint32_t Types(std::initializer_list<uint32_t> types) {
  uint32_t mask = 0;
  for (uint32_t t : types) mask |= 1u << t;
  return mask;
}

// Which boards a row holds for: boards without the multi-output flag when
// `plain` is set, and boards with it whose type is in `types` and whose
// facts meet the conditions.
struct BoardMatch {
  bool plain;
  uint32_t types;
  Cond allTransmitters = Cond::kAny;
  Cond variant37 = Cond::kAny;
  Cond module37 = Cond::kAny;
  Cond fpgaFlag = Cond::kAny;
};

bool Matches(const BoardMatch& m, const BOARDWIRING& b) {
  if (!b.multiOutput) return m.plain;
  if (b.boardType >= 32 || (m.types & (1u << b.boardType)) == 0) return false;
  return Holds(m.allTransmitters, b.allTransmitters) && Holds(m.variant37, b.variant37) &&
         Holds(m.module37, b.module37) && Holds(m.fpgaFlag, b.fpgaFlag);
}

// The boards that keep the default wiring.
constexpr uint32_t kDefaultTypes = Types({0, 1, 6, 7, 11, 15, 20, 22});
constexpr uint32_t kVariantTypes = Types({14, 19, 21});  // default wiring with variant 37
constexpr uint32_t kQuadTypes = Types({2, 3, 4, 5, 8, 9, 12, 17, 18});
constexpr uint32_t kPairTypes = Types({10, 16});

// ---- Cells spelled as in the board documentation -----------------------------------

// Not constexpr: reaching it while a table is built stops the compilation.
inline void WiringTableTypo() {}

// A row of 14 cells, one word per output bit in kWiringBit order, separated
// by spaces. The parse runs at compile time.
template <class Cell, class Parse>
struct Cells {
  Cell cell[kWiringBits];
  constexpr Cells(const char* text, Parse parse) : cell{} {
    size_t n = 0;
    const char* p = text;
    while (*p != '\0') {
      while (*p == ' ') ++p;
      const char* start = p;
      while (*p != ' ' && *p != '\0') ++p;
      if (p == start) break;
      if (n >= kWiringBits) WiringTableTypo();
      cell[n++] = parse(start, p);
    }
    if (n != kWiringBits) WiringTableTypo();
  }
};

constexpr bool Is(const char* b, const char* e, const char* word) {
  for (; b != e; ++b, ++word)
    if (*word == '\0' || *b != *word) return false;
  return *word == '\0';
}

// ---- Encoders per output bit -----------------------------------------------------------

// Encoder masks of one cell: always, with module code 37, with the FPGA
// flag, without it.
struct EncoderCell {
  uint8_t always, module37, fpga, noFpga;
};

// "2 0m" lists encoder 2, and encoder 0 with module code 37; "2f 1n"
// encoder 2 with the FPGA flag, else encoder 1; "-" none.
constexpr EncoderCell ParseEncoderCell(const char* text) {
  EncoderCell c{};
  for (const char* p = text; *p != '\0';) {
    if (*p == ' ' || *p == '-') {
      ++p;
      continue;
    }
    if (*p < '0' || *p > '3') WiringTableTypo();
    const uint8_t bit = static_cast<uint8_t>(1u << (*p - '0'));
    ++p;
    switch (*p) {
      case 'm': c.module37 |= bit; ++p; break;
      case 'f': c.fpga |= bit; ++p; break;
      case 'n': c.noFpga |= bit; ++p; break;
      default: c.always |= bit; break;
    }
  }
  return c;
}

struct EncoderRow {
  uint32_t bit;
  EncoderCell group[5];  // plain, quad, pair, t13, t14
};

constexpr EncoderRow ERow(uint32_t bit, const char* plain, const char* quad, const char* pair,
                          const char* t13, const char* t14) {
  return EncoderRow{bit,
                    {ParseEncoderCell(plain), ParseEncoderCell(quad), ParseEncoderCell(pair),
                     ParseEncoderCell(t13), ParseEncoderCell(t14)}};
}

constexpr EncoderRow kEncoderRows[] = {
    //    bit          plain  quad    pair  t13   t14
    ERow(0x2,         "0",   "2 0m", "0",  "1",  "0m"),
    ERow(0x4,         "1",   "3 1m", "1m", "-",  "1m"),
    ERow(0x10,        "-",   "0",    "-",  "-",  "-"),
    ERow(0x20,        "-",   "2",    "-",  "-",  "-"),
    ERow(0x40,        "-",   "3",    "-",  "-",  "-"),
    ERow(0x100,       "1",   "3",    "-",  "-",  "-"),
    ERow(0x4000,      "0",   "-",    "-",  "-",  "-"),
    ERow(0x8000,      "1",   "-",    "-",  "-",  "-"),
    ERow(0x1000000,   "-",   "0",    "-",  "0",  "-"),
    ERow(0x4000000,   "-",   "1",    "-",  "-",  "-"),
    ERow(0x8000000,   "-",   "1",    "1",  "-",  "-"),
    ERow(0x20000000,  "0",   "0",    "-",  "0",  "0"),
    ERow(0x40000000,  "1",   "1",    "1",  "2f", "2f 1n"),
    ERow(0x80000000,  "0",   "2",    "0",  "1",  "-"),
};
static_assert(sizeof(kEncoderRows) / sizeof(kEncoderRows[0]) == kWiringBits);

// ---- The opposite encoder ----------------------------------------------------------------

constexpr int8_t ParseOpposite(const char* b, const char* e) {
  if (Is(b, e, "1")) return 1;
  if (Is(b, e, "0")) return 0;
  if (Is(b, e, "-")) return -1;
  WiringTableTypo();
  return -1;
}
using OppositeCells = Cells<int8_t, decltype(&ParseOpposite)>;
constexpr OppositeCells Opp(const char* text) { return OppositeCells(text, &ParseOpposite); }

struct OppositeRow {
  BoardMatch match;
  OppositeCells cells;
};

constexpr Cond Y = Cond::kYes;
constexpr Cond N = Cond::kNo;
constexpr Cond A = Cond::kAny;

// Cells for:            0x2 0x4 0x10 0x20 0x40 0x100 0x4000 0x8000 0x1000000 0x4000000
//                       0x8000000 0x20000000 0x40000000 0x80000000
constexpr OppositeRow kOppositeRows[] = {
    {{true, kDefaultTypes},                  Opp("1 0 - - - 0 1 0 - - - 1 0 1")},
    {{false, kVariantTypes, A, Y},           Opp("1 0 - - - 0 1 0 - - - 1 0 1")},
    {{false, kQuadTypes, N, A, N},           Opp("- - 1 - - - - - 1 0 0 1 0 -")},
    {{false, kQuadTypes, N, A, Y},           Opp("1 0 1 - - - - - 1 0 0 1 0 -")},
    {{false, kQuadTypes, Y},                 Opp("1 0 1 - - 0 - - - 0 - - - 1")},
    {{false, kPairTypes, N, A, N},           Opp("1 - - - - - - - - - 0 - 0 1")},
    {{false, kPairTypes, N, A, Y},           Opp("1 0 - - - - - - - - 0 - 0 1")},
    {{false, kPairTypes, Y, A, N},           Opp("- - - - - 0 - - - - - - - 1")},
    {{false, kPairTypes, Y, A, Y},           Opp("1 0 - - - 0 - - - - - - - 1")},
    {{false, Types({13}), A, N},             Opp("0 - - - - - - - 1 - - 1 - 0")},
    {{false, Types({13}), A, Y},             Opp("1 0 - - - 0 1 0 1 - - 1 0 1")},
    {{false, kVariantTypes, A, N, N, N},     Opp("- - - - - - - - - - - 1 0 -")},
    {{false, kVariantTypes, A, N, Y, N},     Opp("1 0 - - - - - - - - - 1 0 -")},
    {{false, kVariantTypes, A, N, N, Y},     Opp("- - - - - - - - - - - 1 - -")},
    {{false, kVariantTypes, A, N, Y, Y},     Opp("1 0 - - - - - - - - - 1 - -")},
};

// ---- Outputs that pass through the FPGAs --------------------------------------------------

struct FpgaUseRow {
  BoardMatch match;
  uint32_t always, module37, fpgaFlag;
};

constexpr FpgaUseRow kFpgaUseRows[] = {
    {{false, Types({2, 3, 4, 5, 8, 9, 12, 17})},
     0x2 | 0x4 | 0x10 | 0x20 | 0x40 | 0x100 | 0x1000000 | 0x4000000 | 0x8000000 | 0x20000000 |
         0x40000000 | 0x80000000,
     0, 0},
    {{false, kPairTypes, N}, 0x2 | 0x8000000 | 0x40000000 | 0x80000000, 0x4, 0},
    {{false, kPairTypes, Y}, 0x100 | 0x20000000 | 0x40000000 | 0x80000000, 0x2 | 0x4, 0},
    {{false, Types({11})},
     0x2 | 0x4 | 0x100 | 0x4000 | 0x8000 | 0x20000000 | 0x40000000 | 0x80000000, 0, 0},
    {{false, Types({13})}, 0x2 | 0x1000000 | 0x20000000 | 0x80000000, 0, 0x40000000},
    {{false, kVariantTypes}, 0x20000000 | 0x40000000, 0x2 | 0x4, 0},
};

// ---- Which FPGA receives a program -----------------------------------------------------------

constexpr uint8_t ParseFpgas(const char* b, const char* e) {
  if (Is(b, e, "E0")) return kFpgaE0;
  if (Is(b, e, "E2")) return kFpgaE2;
  if (Is(b, e, "both")) return kFpgaE0 | kFpgaE2;
  if (Is(b, e, "-")) return 0;
  WiringTableTypo();
  return 0;
}
using FpgaCells = Cells<uint8_t, decltype(&ParseFpgas)>;
constexpr FpgaCells Fpga(const char* text) { return FpgaCells(text, &ParseFpgas); }

struct FpgaRow {
  BoardMatch match;
  FpgaCells cells;
};

constexpr uint32_t kQuadPlainTypes = Types({2, 3, 5, 8, 12, 17, 18});  // not mirrored
constexpr uint32_t kQuadMirroredTypes = Types({4, 9});

// Control methods 3 and 8: the primary FPGA is at 0xE2.
constexpr FpgaRow kFpgaRowsE2First[] = {
    {{true, kDefaultTypes},              Fpga("E2 E0 - - - E0 E2 E0 - - - E2 E0 E2")},
    {{false, kVariantTypes, A, Y},       Fpga("E2 E0 - - - E0 E2 E0 - - - E2 E0 E2")},
    {{false, kQuadPlainTypes},           Fpga("E2 E2 E0 E2 E2 E2 - - E0 E0 E0 E0 E0 E2")},
    {{false, kQuadMirroredTypes, N},     Fpga("E2 E2 E0 E2 E2 E2 - - E0 E0 E0 E0 E0 E2")},
    {{false, kQuadMirroredTypes, Y},     Fpga("E0 E0 E2 E0 E0 E0 - - E2 E2 E2 E2 E2 E0")},
    {{false, kPairTypes, N},             Fpga("E0 - - - - - - - - - E2 - E2 E0")},
    {{false, kPairTypes, Y},             Fpga("E2 - - - - - - - - - E0 - E0 E2")},
    {{false, Types({13}), A, N},         Fpga("E0 - - - - - - - E2 - - E2 - E0")},
    {{false, Types({13}), A, Y},         Fpga("both E0 - - - E0 E2 E0 E2 - - E2 E0 both")},
    {{false, kVariantTypes, A, N, N},    Fpga("- - - - - - - - - - - E2 E0 -")},
    {{false, kVariantTypes, A, N, Y},    Fpga("E2 E0 - - - - - - - - - E2 E0 -")},
};

// Every other control method: the primary FPGA is at 0xE0.
constexpr FpgaRow kFpgaRowsE0First[] = {
    {{true, kDefaultTypes},              Fpga("E0 E2 - - - E2 E0 E2 - - - E0 E2 E0")},
    {{false, kVariantTypes, A, Y},       Fpga("E0 E2 - - - E2 E0 E2 - - - E0 E2 E0")},
    {{false, kQuadPlainTypes, N},        Fpga("E2 E2 E0 E2 E2 E2 - - E0 E0 E0 E0 E0 E2")},
    {{false, kQuadMirroredTypes},        Fpga("E2 E2 E0 E2 E2 E2 - - E0 E0 E0 E0 E0 E2")},
    {{false, kQuadPlainTypes, Y},        Fpga("E0 E0 E2 E0 E0 E0 - - E2 E2 E2 E2 E2 E0")},
    {{false, kPairTypes, N},             Fpga("E2 - - - - - - - - - E0 - E0 E2")},
    {{false, kPairTypes, Y},             Fpga("E0 - - - - - - - - - E2 - E2 E0")},
    {{false, Types({13}), A, N},         Fpga("E2 - - - - - - - E0 - - E0 - E2")},
    {{false, Types({13}), A, Y},         Fpga("both E2 - - - E2 E0 E2 E0 - - E0 E2 both")},
    {{false, kVariantTypes, A, N, N},    Fpga("- - - - - - - - - - - E0 E2 -")},
    {{false, kVariantTypes, A, N, Y},    Fpga("E0 E2 - - - - - - - - - E0 E2 -")},
};

template <class Row, size_t N>
const Row* FirstMatch(const Row (&rows)[N], const BOARDWIRING& b) {
  for (const Row& row : rows)
    if (Matches(row.match, b)) return &row;
  return nullptr;
}

bool AllTransmitters(const BOARDHANDLE* h) {
  for (const I2CDEVICE& d : h->aSiI164)
    if (d.ulPresent == 0) return false;
  return true;
}

}  // namespace

BOARDWIRING BoardWiringOf(const BOARDHANDLE* h) {
  BOARDWIRING b{};
  b.multiOutput = MultiOutputFlag(h) != 0;
  b.boardType = BoardType(h);
  b.variant37 = CemModuleCode(h) == 37;
  b.module37 = PinsCemCode(h) == 37;
  b.allTransmitters = AllTransmitters(h);
  bool pinsFlag = false;
  for (unsigned i = 0; i < 4; ++i)
    pinsFlag |= (PinsConnectorByte(h, i) & kConnectorDualLink) != 0;
  b.fpgaFlag = pinsFlag && (h->aFpga[0].ulPresent != 0 || h->aFpga[1].ulPresent != 0);
  return b;
}

ChrGroup ChrGroupOf(const BOARDWIRING& b) {
  if (!b.multiOutput) return ChrGroup::kPlain;
  if (b.boardType < 32 && (kQuadTypes & (1u << b.boardType))) return ChrGroup::kQuad;
  if (b.boardType < 32 && (kPairTypes & (1u << b.boardType))) return ChrGroup::kPair;
  if (b.boardType == 13 && !b.variant37) return ChrGroup::kT13;
  if (b.boardType < 32 && (kVariantTypes & (1u << b.boardType)) && !b.variant37)
    return ChrGroup::kT14;
  return ChrGroup::kPlain;
}

uint32_t ChrEncodersForBits(const BOARDWIRING& b, uint32_t flOutput) {
  const unsigned group = static_cast<unsigned>(ChrGroupOf(b));
  uint32_t encoders = 0;
  for (const EncoderRow& row : kEncoderRows) {
    if ((flOutput & row.bit) == 0) continue;
    const EncoderCell& c = row.group[group];
    encoders |= c.always;
    if (b.module37) encoders |= c.module37;
    encoders |= b.fpgaFlag ? c.fpga : c.noFpga;
  }
  return encoders;
}

int OppositeEncoder(const BOARDWIRING& b, uint32_t flOutput) {
  const OppositeRow* row = FirstMatch(kOppositeRows, b);
  if (row == nullptr) return -1;
  int picked = -1;
  for (size_t i = 0; i < kWiringBits; ++i)
    if ((flOutput & kWiringBit[i]) && row->cells.cell[i] > picked) picked = row->cells.cell[i];
  return picked;
}

bool ModeUsesCemFpga(const BOARDWIRING& b, uint32_t flOutput) {
  if (!b.multiOutput || b.variant37) return false;
  const FpgaUseRow* row = FirstMatch(kFpgaUseRows, b);
  if (row == nullptr) return false;
  uint32_t bits = row->always;
  if (b.module37) bits |= row->module37;
  if (b.fpgaFlag) bits |= row->fpgaFlag;
  return (flOutput & bits) != 0;
}

uint32_t FpgasForOutputs(const BOARDWIRING& b, uint32_t controlMethod, uint32_t flOutput) {
  const bool e2First = controlMethod == 3 || controlMethod == 8;
  const FpgaRow* row = e2First ? FirstMatch(kFpgaRowsE2First, b) : FirstMatch(kFpgaRowsE0First, b);
  if (row == nullptr) return 0;
  uint32_t fpgas = 0;
  for (size_t i = 0; i < kWiringBits; ++i)
    if (flOutput & kWiringBit[i]) fpgas |= row->cells.cell[i];
  return fpgas;
}
