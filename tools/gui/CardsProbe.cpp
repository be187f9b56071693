#include "tools/gui/CardsProbe.h"

#include <cstring>

#include "tools/gui/ProbeInfo.h"

int ProbeHardwareNew() {
  ConfigEngine& engine = GetConfigEngine();
  engine.ProbeCard(&GetCardInfo()[0]);

  DriverInfo drivers{};
  engine.ProbeDrivers(&drivers);
  drivers.qlbVersion[sizeof drivers.qlbVersion - 1] = '\0';
  drivers.orvVersion[sizeof drivers.orvVersion - 1] = '\0';
  SetQlbDriverInfo(drivers.qlbVersion);
  SetOrvDriverInfo(drivers.orvVersion);
  SetOrvKernelDriverFound(drivers.kernelModuleInstalled != 0 ? 1 : 0);

  XConfigSummary* summary = GetXConfigStruct();
  *summary = XConfigSummary{};
  return engine.ProbeXConfig(summary);
}
