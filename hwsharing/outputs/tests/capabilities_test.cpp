#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "core/chip_ids.h"
#include "hwsharing/chip/boardhandle.h"
#include "hwsharing/outputs/capabilities.h"

namespace {

constexpr uint32_t A0 = kOutAnalog0, A1 = kOutAnalog1, A2 = kOutAnalog2, A3 = kOutAnalog3;
constexpr uint32_t D0 = kOutDigital0, D1 = kOutDigital1, D2 = kOutDigital2, D3 = kOutDigital3;
constexpr uint32_t T0 = kOutTv0, T1 = kOutTv1, T2 = kOutTv2, T3 = kOutTv3;
constexpr uint32_t F2 = kOutFourth2, F3 = kOutFourth3;
constexpr uint32_t kA = D1 | D0 | A1 | T1 | A0 | T0;
constexpr uint32_t kB = D2 | D3 | T3 | T2 | A3 | A2;
constexpr uint32_t kS1 = D2 | D0 | F2 | A2;
constexpr uint32_t kS2 = D1 | F3 | D3 | A3;

constexpr uint32_t kAllOutputBits[] = {A0, A1, A2, A3, D0, D1, D2, D3, T0, T1, T2, T3,
                                       kOutFourth0, kOutFourth1, F2, F3};

struct Board {
  uint32_t mo;
  uint32_t type;
  uint16_t moduleCode;  // of the expansion-module record
  uint8_t pinsCode;     // of the board description
  bool si4;
  bool dualLink;
};

std::unique_ptr<BOARDHANDLE> Make(const Board& b) {
  auto h = std::make_unique<BOARDHANDLE>();
  std::memset(h.get(), 0, sizeof(BOARDHANDLE));
  h->oCem.ulPresent = b.mo;
  h->oCem.ulBoardType = b.type;
  h->oCem.usModuleCode = b.moduleCode;
  h->oPins.aucData[421] = b.pinsCode;
  for (I2CDEVICE& d : h->aSiI164) d.ulPresent = b.si4 ? 1 : 0;
  if (b.dualLink) {
    h->aFpga[1].ulPresent = 1;
    h->oPins.aucData[150] = 0x10;
  }
  return h;
}

struct CapRow {
  const char* name;
  Board board;
  bool quad, quadDvi, standard;
  uint32_t dvo1, dvo2, dac1, dac2, path0, path1, path2, path3;
};

const CapRow kCapRows[] = {
    {"standard type 0", {0, 0, 0, 0, false, false}, false, false, true,
     kS1, kS2, A0, A1 | T1, kS1, kS2, 0, 0},
    {"type 4 without multi-output is a mirrored standard board", {0, 4, 0, 0, false, false},
     false, false, true, kS2, kS1, A0, A1 | T1, kS1, kS2, 0, 0},
    {"type 20 with multi-output is a mirrored standard board", {1, 20, 0, 0, false, false},
     false, false, true, kS2, kS1, A0, A1 | T1, kS1, kS2, 0, 0},
    {"type 22 with multi-output is standard", {1, 22, 0, 0, false, false}, false, false, true,
     kS1, kS2, A0, A1 | T1, kS1, kS2, 0, 0},
    {"quad type 2", {1, 2, 0, 0, false, false}, true, false, false,
     kA, kB, 0, 0, D0 | A0 | T0, D1 | A1 | T1, D2 | T2 | A2, D3 | T3 | A3},
    {"quad type 5 with the SP module", {1, 5, 0, 37, false, false}, true, false, false,
     kA, kB, 0, 0, D0 | A0 | T0 | A2, D1 | A1 | T1 | A3, D2 | T2 | A2, D3 | T3 | A3},
    {"quad DVI type 9", {1, 9, 0, 0, true, false}, true, true, false,
     kB, kA, A0, 0, D2 | T0 | A2, T1 | D3 | A3, A0 | T2 | D0, D1 | A1 | T3},
    {"twin type 10", {1, 10, 0, 0, false, false}, false, false, false,
     D2 | A2, D1 | A1, A0, 0, D2 | A2, D1 | A1, 0, 0},
    {"twin type 16 with four transmitters", {1, 16, 0, 0, true, false}, false, false, false,
     D1 | A1, D2 | A2, A0, 0, D2, D3, D1, D0},
    {"twin type 16 with four transmitters and SP", {1, 16, 0, 37, true, false}, false, false,
     false, D1 | A1, D2 | A2, A0, 0, D2 | A2, D3 | A3, D1, D0},
    {"expansion type 13", {1, 13, 0, 0, false, false}, false, false, false,
     D0 | A0, D2 | A2, 0, 0, D0 | A0, D2 | A2, 0, 0},
    {"type 13 with module code 37 is standard", {1, 13, 37, 37, false, false}, false, false, true,
     kS1 | A0, kS2 | D2 | A2, A0, A1 | T1, kS1 | A0, kS2 | D2 | A2, 0, 0},
    {"expansion type 14 with SP in the description", {1, 14, 0, 37, false, false}, false, false,
     false, D0 | A2, D1 | A3, A0, A1, D0 | A2, D1 | A3, 0, 0},
    {"expansion type 19 with dual link", {1, 19, 0, 0, false, true}, false, false, false,
     D0, D1, A0, A1, D0, 0, D1, 0},
    {"type 19 with module code 37", {1, 19, 37, 0, false, false}, false, false, true,
     kS1, kS2, A0, A1 | T1, kS1, kS2, 0, 0},
    {"expansion type 21", {1, 21, 0, 0, false, false}, false, false, false,
     D1, D0, A0, A1, D0, D1, 0, 0},
    {"type 21 with module code 37", {1, 21, 37, 0, false, false}, false, false, true,
     kS2, kS1, A0, A1 | T1, kS1, kS2, 0, 0},
};

TEST(BoardCapabilities, GroupsAndOutputMasksPerBoard) {
  for (const CapRow& row : kCapRows) {
    auto h = Make(row.board);
    EXPECT_EQ(IsQuadBoard(h.get()), row.quad) << row.name;
    EXPECT_EQ(IsQuadDviBoard(h.get()), row.quadDvi) << row.name;
    EXPECT_EQ(IsStandardBoard(h.get()), row.standard) << row.name;
    struct Pred {
      const char* name;
      bool (*test)(const BOARDHANDLE*, uint32_t);
      uint32_t mask;
    } preds[] = {
        {"UsesDvo1", UsesDvo1, row.dvo1},
        {"UsesDvo2", UsesDvo2, row.dvo2},
        {"UsesDac1", UsesDac1, row.dac1},
        {"UsesDac2", UsesDac2, row.dac2},
        {"UsesFirstOutputPath", UsesFirstOutputPath, row.path0},
        {"UsesSecondOutputPath", UsesSecondOutputPath, row.path1},
        {"UsesThirdOutputPath", UsesThirdOutputPath, row.path2},
        {"UsesFourthOutputPath", UsesFourthOutputPath, row.path3},
    };
    for (const Pred& p : preds) {
      EXPECT_FALSE(p.test(h.get(), 0)) << row.name << " " << p.name;
      EXPECT_FALSE(p.test(h.get(), kOutFourth0 | kOutFourth1 | kControllerOffWord[3]))
          << row.name << " " << p.name;
      for (uint32_t bit : kAllOutputBits)
        EXPECT_EQ(p.test(h.get(), bit), (bit & p.mask) != 0)
            << row.name << " " << p.name << " bit 0x" << std::hex << bit;
    }
  }
}

struct CemRow {
  const char* name;
  Board board;
  uint32_t outputCaps;
  uint32_t formats[3];
  uint32_t cpld;
  uint32_t flOutput;
  bool needsCem;
};

const CemRow kCemRows[] = {
    {"standard board, digital 0", {0, 0, 0, 0, false, false}, 0, {0, 0, 0}, 0, D0, false},
    {"routing bit 29 with digital 0", {0, 0, 0, 0, false, false}, 1u << 29, {0, 0, 0}, 0, D0, true},
    {"routing bit 29 with digital 1", {0, 0, 0, 0, false, false}, 1u << 29, {0, 0, 0}, 0, D1, false},
    {"routing bit 30 with digital 1", {0, 0, 0, 0, false, false}, 1u << 30, {0, 0, 0}, 0, D1, true},
    {"twin: routing bit 29 follows digital 1", {1, 10, 0, 0, false, false}, 1u << 29, {0, 0, 0},
     0, D1, true},
    {"quad board, no outputs", {1, 3, 0, 0, false, false}, 0, {0, 0, 0}, 0, 0, true},
    {"format 16 on digital 0", {0, 0, 0, 0, false, false}, 0, {16, 0, 0}, 0, D0, true},
    {"format 17 of digital 0 with digital 1", {0, 0, 0, 0, false, false}, 0, {17, 0, 0}, 0, D1,
     false},
    {"format 17 on digital 1", {0, 0, 0, 0, false, false}, 0, {0, 17, 0}, 0, D1, true},
    {"twin board, no outputs", {1, 16, 0, 0, false, false}, 0, {0, 0, 0}, 0, 0, true},
    {"expansion board, no outputs", {1, 21, 0, 0, false, false}, 0, {0, 0, 0}, 0, 0, true},
    {"type 21 with module code 37", {1, 21, 37, 0, false, false}, 0, {0, 0, 0}, 0, A0, false},
    {"SP module in the description", {0, 0, 0, 37, false, false}, 0, {0, 0, 0}, 0, 0, true},
    {"type 15 with the CPLD", {0, 15, 0, 0, false, false}, 0, {0, 0, 0}, 1, 0, true},
    {"type 15 without the CPLD", {0, 15, 0, 0, false, false}, 0, {0, 0, 0}, 0, A0, false},
};

TEST(BoardCapabilities, NeedsCemRules) {
  for (const CemRow& row : kCemRows) {
    auto h = Make(row.board);
    h->ulOutputCaps = row.outputCaps;
    for (int i = 0; i < 3; ++i) h->aulDigitalOutputFormat[i] = row.formats[i];
    h->oCpld.ulPresent = row.cpld;
    EXPECT_EQ(NeedsCem(h.get(), row.flOutput), row.needsCem) << row.name;
  }
}

// The output arrangement: the first chips, the later generation's first
// chip at revision 1 and board type 4 always take the first one; other
// boards take it when their connector description (board description bytes
// 0x90-0x97) is of type 2 or 9, has bit 0x10 in byte 0x94, none of the bits
// 0x0A in bytes 0x91-0x93 and none of the bits 0xDA in bytes 0x95-0x97.
TEST(BoardCapabilities, OutputArrangementFollowsTheConnectorDescription) {
  struct Row {
    const char* name;
    uint16_t device;
    uint32_t revision, type;
    uint8_t connectors[8];
    uint32_t value;
  };
  const Row rows[] = {
      {"first chip", kDeviceKestrion1, 0, 0, {}, 0x40},
      {"second chip", kDeviceKestrion2, 0, 0, {}, 0x40},
      {"later first chip at revision 1", kDeviceKestrionNext1, 1, 0, {}, 0x40},
      {"later first chip at revision 0", kDeviceKestrionNext1, 0, 0, {}, 0},
      {"board type 4", kDeviceKestrionNext3, 0, 4, {}, 0x40},
      {"type 2 with bit 0x10", kDeviceKestrionNext3, 0, 0, {2, 0, 0, 0, 0x10, 0, 0, 0}, 0x40},
      {"type 9 with bit 0x10", kDeviceKestrionNext3, 0, 0, {9, 0, 0, 0, 0x10, 0, 0, 0}, 0x40},
      {"type 3", kDeviceKestrionNext3, 0, 0, {3, 0, 0, 0, 0x10, 0, 0, 0}, 0},
      {"type 2 without bit 0x10", kDeviceKestrionNext3, 0, 0, {2, 0, 0, 0, 0xEF, 0, 0, 0}, 0},
      {"a bit of 0x0A in byte 0x91", kDeviceKestrionNext3, 0, 0, {2, 0x02, 0, 0, 0x10, 0, 0, 0}, 0},
      {"a bit of 0x0A in byte 0x93", kDeviceKestrionNext3, 0, 0, {2, 0, 0, 0x08, 0x10, 0, 0, 0}, 0},
      {"other bits in bytes 0x91-0x93", kDeviceKestrionNext3, 0, 0,
       {2, 0xF5, 0xF5, 0xF5, 0x10, 0, 0, 0}, 0x40},
      {"a bit of 0xDA in byte 0x97", kDeviceKestrionNext3, 0, 0, {2, 0, 0, 0, 0x10, 0, 0, 0x80}, 0},
      {"other bits in bytes 0x95-0x97", kDeviceKestrionNext3, 0, 0,
       {2, 0, 0, 0, 0x10, 0x25, 0x25, 0x25}, 0x40},
  };
  for (const Row& row : rows) {
    auto h = Make({0, row.type, 0, 0, false, false});
    h->usDeviceId = row.device;
    h->ulRevision = row.revision;
    std::memcpy(h->oPins.aucData + 0x90, row.connectors, sizeof row.connectors);
    EXPECT_EQ(OutputArrangementValue(h.get()), row.value) << row.name;
  }
}

}  // namespace
