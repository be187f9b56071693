#include "core/component_standins.h"

#include "core/data2d.h"

namespace {

StandInProbe g_probe;

void Record(StandInEvent::Kind kind, int row) {
  if (g_probe.eventCount < StandInProbe::kMaxEvents) {
    g_probe.events[g_probe.eventCount++] = StandInEvent{kind, row};
  }
}

bool StandInInit(int row) {
  Record(StandInEvent::kInit, row);
  return row != g_probe.failRow;
}

void StandInCleanup(int row) { Record(StandInEvent::kCleanup, row); }

}  // namespace

StandInProbe& GetStandInProbe() { return g_probe; }

Data2d::Data2d() { Record(StandInEvent::kData2dBuilt, -1); }
Data2d::~Data2d() { Record(StandInEvent::kData2dDestroyed, -1); }

#define ORV_STANDIN_ROW(Name, row)                          \
  bool Init##Name(PDEV*) { return StandInInit(row); }       \
  void Cleanup##Name(PDEV*) { StandInCleanup(row); }

ORV_STANDIN_ROW(SurfDesc2dList, 12)
ORV_STANDIN_ROW(DeviceBitmap, 14)
ORV_STANDIN_ROW(PrimarySurface, 15)
ORV_STANDIN_ROW(TempBit, 16)
ORV_STANDIN_ROW(Context2d, 17)
ORV_STANDIN_ROW(PreDrawPostDraw, 18)
ORV_STANDIN_ROW(Pointer, 20)
ORV_STANDIN_ROW(FeatureMgr, 21)

#undef ORV_STANDIN_ROW
