// Screens of this driver made by hand, without PreInit: a screen record
// with a zeroed ORVRec, one board's entity record and a board handle whose
// colour-table and power-state slots record what the facade hands them.
// With a simulated board, the register aperture is mapped through the
// server so the cursor's register writes reach the board's cursor engines.
#pragma once

#include <stdint.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "hwsharing/chip/boardhandle.h"
#include "platform/board/chip_cursor.h"
#include "platform/board/chip_dma.h"
#include "platform/board/simulation.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_rec.h"

namespace baretest {

// One colour table the facade handed on.
struct LutCall {
  uint32_t controller;
  uint32_t first;
  uint32_t count;
  uint32_t zero;
  std::vector<uint16_t> entries;  // red, green, blue
};

inline std::vector<LutCall>& LutCalls() {
  static std::vector<LutCall> calls;
  return calls;
}
inline std::vector<uint32_t>& PowerStates() {
  static std::vector<uint32_t> states;
  return states;
}

// The colour-table slot takes the range first and the controller last.
inline HALSTATUS RecordLut(BOARDHANDLE* h, uint32_t first, uint32_t count, const PUBLICLUT* table,
                           uint32_t controller) {
  LutCall call{controller, first, count, 0, std::vector<uint16_t>(3 * 256)};
  std::memcpy(&call.zero, table, 4);
  std::memcpy(call.entries.data(), reinterpret_cast<const uint8_t*>(table) + 4, 3 * 256 * 2);
  LutCalls().push_back(call);
  return h->status;
}

inline HALSTATUS RecordPower(BOARDHANDLE* h, uint32_t state) {
  PowerStates().push_back(state);
  return h->status;
}

// A reply field in the client's byte order.
inline uint32_t Get32(const std::vector<uint8_t>& r, size_t at, bool swapped) {
  uint32_t v;
  std::memcpy(&v, &r[at], 4);
  return swapped ? __builtin_bswap32(v) : v;
}
inline uint16_t Get16(const std::vector<uint8_t>& r, size_t at, bool swapped) {
  uint16_t v;
  std::memcpy(&v, &r[at], 2);
  return swapped ? static_cast<uint16_t>(v >> 8 | v << 8) : v;
}

class BareScreens : public testing::Test {
 protected:
  void SetUp() override {
    LutCalls().clear();
    PowerStates().clear();
    board_ = static_cast<BOARDHANDLE*>(calloc(1, sizeof(BOARDHANDLE)));
    board_->oJumpTable.SetColorLUT = RecordLut;
    board_->oJumpTable.SetPowerState = RecordPower;
    entity_ = std::make_unique<ORVEntityRec>();
  }
  void TearDown() override {
    for (ScrnInfoPtr info : infos_) info->driverPrivate = nullptr;
    free(board_);
  }

  // A screen of this driver (or, with ours false, of another driver) on
  // the board; the server's screen record fills its screenInfo slot.
  ORVRec* AddScreen(bool ours = true) {
    ScrnInfoPtr info = server_.NewScrnInfo();
    server_.NewScreen(info);
    infos_.push_back(info);
    if (!ours) return nullptr;
    recs_.push_back(std::make_unique<ORVRec>());
    ORVRec* rec = recs_.back().get();
    info->PreInit = ORVPreInit;
    info->driverPrivate = rec;
    rec->pBoard = board_;
    rec->pEnt = entity_.get();
    rec->pBridgeStatus = &entity_->bridgeStatus;
    return rec;
  }

  xstub::Sandbox box_;
  xstub::XServer server_;
  BOARDHANDLE* board_ = nullptr;
  std::unique_ptr<ORVEntityRec> entity_;
  std::vector<std::unique_ptr<ORVRec>> recs_;
  std::vector<ScrnInfoPtr> infos_;
};

// The same on a simulated board with its DMA engine (for the status
// register) and cursor engines; every screen's register aperture is the
// board's register window, its frame buffer the board's memory.
class BareBoardScreens : public BareScreens {
 protected:
  void SetUp() override {
    BareScreens::SetUp();
    orvsim::BoardConfig config;
    config.device_id = orvsim::kDeviceKestrionNext3;
    board_sim_ = &sim_.AddBoard(config);
    dma_ = std::make_unique<orvsim::DmaEngine>(*board_sim_);
    cursor_ = std::make_unique<orvsim::ChipCursor>(*board_sim_);
    const auto at = board_sim_->Location();
    const auto regs = board_sim_->Bar(orvsim::ResourceKind::kRegisters);
    ASSERT_TRUE(regs.has_value());
    registers_ = static_cast<uint8_t*>(xf86MapPciMem(0, VIDMEM_MMIO, pciTag(at.bus, at.device, at.function),
                                                     regs->base, 8192));
    ASSERT_NE(registers_, nullptr);
  }
  void TearDown() override {
    xf86UnMapVidMem(0, registers_, 8192);
    cursor_.reset();
    dma_.reset();
    BareScreens::TearDown();
  }

  ORVRec* AddBoardScreen(int head = 0) {
    ORVRec* rec = AddScreen();
    rec->head = head;
    rec->head2 = head == 1;
    rec->head3 = head == 2;
    rec->head4 = head == 3;
    rec->chipId = orvsim::kDeviceKestrionNext3;
    rec->ioBase = registers_;
    rec->fbBase = board_sim_->Memory();
    rec->cursorAperture = kCursorOffset;
    rec->cursorOffset = kCursorOffset;
    rec->hwCursor = 1;
    return rec;
  }

  // Where the tests put the cursor image: the frame buffer shows local
  // memory from 0, so the aperture offset and the local address agree.
  static constexpr uint32_t kCursorOffset = 0x100000;

  orvsim::Simulation sim_;
  orvsim::Board* board_sim_ = nullptr;
  std::unique_ptr<orvsim::DmaEngine> dma_;
  std::unique_ptr<orvsim::ChipCursor> cursor_;
  uint8_t* registers_ = nullptr;
};

}  // namespace baretest
