// The texture side of display processing: the texture engine (which units
// read the source and how they filter it) and the texture set-up (the
// coordinates of the source viewport for each unit and the destination
// corners), each rebuilt when dirty and appended to the register list.
#pragma once

#include <stdint.h>

#include "core/utils.h"
#include "xdriver/cdh_matrix.h"
#include "xdriver/dps_types.h"

class CDHProcampState;
class CDPSHwManager;

inline constexpr uint32_t kDpsTextureUnits = 4;
inline constexpr uint32_t kDpsTableWords = 16;

struct DpsTextureUnit {
  uint32_t enabled = 0;
  uint32_t tableValueValid = 0;
  uint32_t control = 0;
  uint32_t tableValue = 0;
  uint32_t filter = 0;
  uint32_t spare = 0;
  uint32_t word585 = 0;
  uint32_t desc[3] = {};
};

class CDPSTextureEngine {
 public:
  CDPSTextureEngine() { Reset(); }

  void Reset();
  bool SetupTextureEngine(EDPSFiltering filtering, const SDPSSurfDesc* desc,
                          const CDHProcampState* state);
  // A non-zero anti-flicker level switches the three-line units on, level 0
  // off; with rebuild, rebuilds when that made the engine dirty.
  bool SetProcampState(const CDHProcampState* state, uint32_t rebuild);
  void UpdateSrcSurfDesc(const SDPSSurfDesc* desc);
  bool BuildTextureEngine();
  bool BuildStandardTextureEngine();
  bool BuildAntiFlickerTextureEngine();
  bool BuildCommonTextureEngine();
  // Appends the units' registers; false, with nothing written, while dirty.
  bool UpdateHardware();

  CDPSHwManager* hw = nullptr;
  uint32_t tableFlag = 0;  // set on the later boards: units load a table word
  uint32_t table[kDpsTableWords] = {0x400000, 0x400000, 0x400000,  0x400000,
                                    0x1600000, 0x1600000, 0x400000, 0x400000,
                                    0x1600000, 0x1600000, 0x400000, 0x400000,
                                    0x1600000, 0x1600000, 0x1600000, 0x1600000};
  uint32_t antiFlicker;
  uint32_t dirty;
  EDPSFiltering filtering;
  SDPSSurfDesc source;
  DpsTextureUnit units[kDpsTextureUnits];

 private:
  // Units 0 .. enabled-1 read the source, the others are off; with the
  // table flag unit i loads table word tableBase + i.
  void BuildUnits(uint32_t enabled, uint32_t tableBase);
};

// One corner of a coordinate record: the words w0..w3 and a control byte
// (bit 0: w1 goes to the second register; bits 1-4: the record's kind).
struct DpsCoordinate {
  OrvFloat w0 = OrvFloat(0), w1 = OrvFloat(0), w2 = OrvFloat(0), w3 = OrvFloat(0);
  uint8_t control = 0;
};
struct DpsCoordinateRecord {
  uint32_t active = 0;
  DpsCoordinate corners[3];
};

class CDPSTextureSetup {
 public:
  CDPSTextureSetup() { Reset(); }

  void Reset();
  // False (nothing rebuilt, still dirty) for a destination without area.
  bool SetupTextureSetup(const LRECT& srcFull, const LRECT& srcViewport, const LRECT& dst,
                         const CDHProcampState* state);
  void SetSrc(const LRECT& srcFull, const LRECT& srcViewport);
  void SetDst(const LRECT& dst);
  bool ComputeIncrements();
  bool MoveSrcViewport(const LRECT& rect);
  bool SetProcampState(const CDHProcampState* state, uint32_t rebuild);
  bool BuildTextureSetup();
  void InitVertexSets();
  void BuildStandardTextureSetup();
  void BuildAntiFlickerTextureSetup();
  void BuildDestinationTextureSetup();
  static OrvFloat GetNormalizedValue(OrvFloat coordinate, OrvFloat increment, OrvFloat size);
  // Appends the coordinate records; false, with nothing written, while dirty.
  bool UpdateHardware();
  // Texture units the set-up reads.
  uint32_t ActiveUnits() const;

  CDPSHwManager* hw = nullptr;
  uint32_t dirty;
  uint32_t antiFlicker;
  OrvFloat incrementH, incrementV;
  int32_t srcWidth, srcHeight;
  LRECT srcViewport;
  LRECT dst;
  DpsCoordinateRecord units[kDpsTextureUnits];
  DpsCoordinateRecord destination;

 private:
  // Unit u's corners from the source viewport with its top and bottom
  // moved by `shift` lines.
  void BuildUnit(uint32_t u, float shift);
};
