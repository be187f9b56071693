// Stand-ins of the screen hooks whose code is not part of the tests' build
// yet (screen initialisation and the virtual-terminal switches): they log
// their call and answer as a screen that could not be brought up.
#include "tests/standins/standin_log.h"
#include "xdriver/orv_driver.h"

Bool ORVScreenInit(int, ScreenPtr, int, char**) {
  uint32_t chosen = 0;
  orvstandin::Called("ORVScreenInit", &chosen);
  return FALSE;
}

Bool ORVEnterVT(int, int) {
  uint32_t chosen = 0;
  orvstandin::Called("ORVEnterVT", &chosen);
  return FALSE;
}

void ORVLeaveVT(int, int) {
  uint32_t chosen = 0;
  orvstandin::Called("ORVLeaveVT", &chosen);
}
