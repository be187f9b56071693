// Heads on a mode-0 board for the feature tests: the fake kernel module
// serves the node, runs posted ranges on the board's DMA engine (with the
// 2D engine behind it) and, at a vertical sync the test signals, the
// transform sequences the VSync requests name.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "core/bm_packets.h"
#include "core/bm_transform.h"
#include "core/hw_manager.h"
#include "core/pdev.h"
#include "core/tests/pdev_fixture.h"
#include "platform/board/chip_2d.h"
#include "xdriver/dps_manager.h"
#include "xdriver/feature_mgr.h"
#include "xdriver/primary_surface.h"
#include "xdriver/tests/dps_golden.h"

namespace featuretest {

// The colour controls of a TV output without anti-flicker, and the X
// driver's defaults (anti-flicker 25).
inline constexpr SProcampValues kPlainProcamp = {{0, 750, 1, 10000, 100, 0, 10000}};
inline constexpr SProcampValues kDefaultProcamp = {{25, 750, 1, 10000, 100, 0, 10000}};

class FeatureBoardTest : public testing::Test, protected coretest::KernelBoard {
 protected:
  void SetUp() override {
    orvstandin::Reset();
    SetUpBoard(orvmachine::k2d);
    engine2d_ = machine_.Board().engine2d.get();
    // The plane mask as the kernel module's engine preset leaves it.
    board_->Poke(orvsim::k2dRegPlaneMask, 4, 0xFFFFFFFF);
  }
  void TearDown() override {
    for (auto& head : heads_) {
      if (head->pdev != nullptr && head->pdev->featureMgr != nullptr && setUp_[head->pdev]) {
        head->pdev->featureMgr->Disable(head->pdev);
        head->pdev->featureMgr->Cleanup(head->pdev);
      }
    }
    TearDownBoard();
    orvstandin::Reset();
  }

  // A head whose primary surface is placed, as the device start leaves it;
  // `flags` are the binding's (a rotation among them: the mode then carries
  // the desktop as the X server sees it, width and height turned).
  PDEV* Started(uint32_t unit, uint32_t width = 1024, uint32_t height = 768, uint32_t flags = 0) {
    const bool quarter = (flags & (kPdevRotateCW | kPdevRotateCCW)) != 0;
    coretest::Head& head = Construct(unit, quarter ? height : width, quarter ? width : height);
    EXPECT_EQ(head.ok, 1);
    head.pdev->bindingFlags |= flags;
    EXPECT_TRUE(CreatePrimarySurface(head.pdev));
    return head.pdev;
  }

  // The board's manager asked for TV output through `controller` at the
  // standard (1: 484 lines, else 576).
  void WantTv(PDEV* pdev, uint32_t controller, uint32_t standard,
              const SProcampValues& procamp = kPlainProcamp) {
    CFeatureMgr* f = pdev->featureMgr;
    f->flags = 1;
    f->outputKind = controller;
    f->tvStandard = standard;
    f->procamp = procamp;
  }

  // The features set up as the device start does; the tear-down disables
  // and cleans up what it set up.
  bool SetUpFeatures(PDEV* pdev) {
    setUp_[pdev] = true;
    return pdev->featureMgr->Setup(pdev);
  }

  // Everything the DMA engine wrote since the last call.
  std::vector<orvsim::DmaEngine::RegWrite> TakeWrites() {
    std::vector<orvsim::DmaEngine::RegWrite> w = engine_->Writes();
    engine_->ClearWrites();
    return w;
  }
  static dpsgolden::Pairs AsPairs(const std::vector<orvsim::DmaEngine::RegWrite>& w) {
    dpsgolden::Pairs out;
    for (const auto& r : w) out.push_back({r.reg, r.value});
    return out;
  }

  orvsim::Engine2d* engine2d_ = nullptr;
  std::map<PDEV*, bool> setUp_;
};

}  // namespace featuretest
