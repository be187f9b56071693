// The register image a context state keeps for the groups of its first
// dirty word, as the board's registers must hold it whenever the state is
// current and the group is not marked dirty. Shared by the engine tests and
// the 3D client fuzz target.
#pragma once

#include <stdint.h>

#include <utility>
#include <vector>

#include "kernel/3d/engine/context_state.h"

namespace ktest {

struct ImageGroup {
  uint32_t bit;
  std::vector<std::pair<uint8_t, uint32_t>> regs;
};

inline std::vector<ImageGroup> ImageOf(const ContextState3d& s) {
  const uint32_t* r = s.rasterBlock;
  const uint32_t* d = s.depthStencilBlock;
  const uint32_t* c = s.coordinateBlock;
  const uint32_t* o = s.operationBlock;
  return {
      {kCsDirtyRasterA, {{0xCA, r[2]}, {0xCB, r[3]}, {0xBF, r[8]}, {0xBE, r[9]}}},
      {kCsDirtyRasterB, {{0xBA, r[4]}, {0xB9, r[7]}, {0xBC, r[6]}, {0xBB, r[5]}}},
      {kCsDirtyDepth, {{0xB2, d[4]}, {0xB3, d[5]}, {0xB4, d[6]}}},
      {kCsDirtyStencil, {{0xB0, d[2]}, {0xB1, d[3]}}},
      {kCsDirtyFog, {{0xB5, s.fogBlock[0]}, {0xB6, s.fogBlock[1]}, {0xB7, s.fogBlock[2]}}},
      {kCsDirtyStageEnable, {{0xBD, s.textureUnits.stageEnable}}},
      {kCsDirtyCoordA, {{0x00, c[0]}, {0x10, c[8]}, {0x2C, c[14]}}},
      {kCsDirtyCoordB, {{0x01, c[1]}, {0x07, c[7]}, {0x11, c[9]}, {0x13, c[11]}, {0x18, c[12]}, {0x19, c[13]}}},
      {kCsDirtyCoordC, {{0x2D, c[15]}, {0x2E, c[16]}}},
      {kCsDirtySurfacesA, {{0x88, o[10]}, {0x89, o[14]}, {0x8C, o[12]}, {0x8D, o[16]}}},
      {kCsDirtySurfacesB, {{0x8A, o[11]}, {0x8B, o[15]}}},
      {kCsDirtySurfacesC, {{0x8E, o[13]}, {0x8F, o[17]}}},
      {kCsDirtyColours, {{0xC5, o[kOpForeground]}, {0xC6, o[kOpBackground]}}},
      {kCsDirtyPlacement, {{0xC1, o[kOpStart]}, {0xC2, o[kOpOrigin]}, {0xC3, o[kOpSize]}}},
      {kCsDirtyPlaneMask, {{0xC9, o[kOpPlaneMask]}}},
      {kCsDirtyControlWord, {{0xC0, s.controlWord}}},
  };
}

// The first register of a group the state does not mark dirty whose board
// register differs from its image; 0 when every one matches. peek reads the
// board register of an index.
template <class Peek>
int FirstImageMismatch(const ContextState3d& s, Peek peek) {
  for (const ImageGroup& g : ImageOf(s)) {
    if ((s.dirty.words[0] & g.bit) != 0) continue;
    for (const auto& [reg, value] : g.regs)
      if (peek(reg) != value) return 0x100 | reg;
  }
  return 0;
}

}  // namespace ktest
