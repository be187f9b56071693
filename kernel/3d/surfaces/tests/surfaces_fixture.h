// A started board whose first device object has its surface manager and
// format catalogue, with requests for surfaces and texture sets, and the
// means to make any of the three places (local video, AGP, system memory)
// refuse every block: the place's policies are swapped for the refusing one
// for the test's lifetime.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/tests/stream_fixture.h"
#include "kernel/vidmem/surface_manager.h"

namespace stest {

class SurfaceBoard : public ktest::StartedBoard {
 protected:
  using StartedBoard::StartedBoard;

  void SetUp() override {
    StartedBoard::SetUp();
    ASSERT_NE(pdev, nullptr);
    ASSERT_NE(pdev->formatCatalogue, nullptr);
    ASSERT_NE(pdev->surfaceManager, nullptr);
  }

  void TearDown() override {
    Restore();
    StartedBoard::TearDown();
  }

  const FormatDescriptor* Format(uint32_t code) const { return pdev->formatCatalogue->Find(code); }

  SurfaceCreateRequest Request(uint32_t code, uint32_t width, uint32_t height, uint8_t placement = kPlaceLocal,
                               uint32_t type = 3) const {
    SurfaceCreateRequest r;
    r.placement = placement;
    r.format = Format(code);
    r.surfaceType = type;
    r.width = width;
    r.height = height;
    r.levels = 1;
    r.depth = 1;
    return r;
  }

  SurfaceCreateRequest SetRequest(uint32_t code, uint32_t width, uint32_t height, uint32_t levels,
                                  uint8_t kind, uint8_t placement = kPlaceLocal) const {
    SurfaceCreateRequest r = Request(code, width, height, static_cast<uint8_t>(placement | kind));
    r.levels = levels;
    return r;
  }

  // Every block of the place (0 local, 2 AGP, 4 system memory) is refused.
  void Exhaust(uint32_t location) {
    MmHeapSet* set = pdev->surfaceManager->heapSet;
    Saved saved{location, {}};
    for (uint32_t cell = 0; cell < kPlacementCodes; ++cell) {
      saved.row[cell] = set->table[location][cell];
      set->table[location][cell] = pdev->surfaceManager->policies->Member(0);
    }
    saved_.push_back(saved);
  }
  void Restore() {
    if (pdev == nullptr || pdev->surfaceManager == nullptr) return;
    MmHeapSet* set = pdev->surfaceManager->heapSet;
    for (auto s = saved_.rbegin(); s != saved_.rend(); ++s)
      for (uint32_t cell = 0; cell < kPlacementCodes; ++cell) set->table[s->location][cell] = s->row[cell];
    saved_.clear();
  }

  // What the glue holds: blocks, locked pages.
  struct Held {
    size_t blocks;
    size_t pages;
    bool operator==(const Held&) const = default;
  };
  Held Holding() const { return Held{glue.LiveBlocks().size(), glue.LiveLockedPages()}; }

 private:
  struct Saved {
    uint32_t location;
    MmPolicy* row[kPlacementCodes];
  };
  std::vector<Saved> saved_;
};

}  // namespace stest
