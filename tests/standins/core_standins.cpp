// Stand-ins of the component-table rows listed in core/pending.h and of the
// 2D record's constructor and destructor. An init logs "Init<Name>" and
// succeeds unless a test chose a non-zero result for that name; a cleanup
// logs "Cleanup<Name>".
#include "core/pending.h"
#include "tests/standins/standin_log.h"

#define ORV_DEFINE_STANDIN_ROW(Name, row)                               \
  bool Init##Name(PDEV*) {                                              \
    uint32_t chosen = 0;                                                \
    return !orvstandin::Called("Init" #Name, &chosen) || chosen == 0;   \
  }                                                                     \
  void Cleanup##Name(PDEV*) {                                           \
    uint32_t ignored = 0;                                               \
    orvstandin::Called("Cleanup" #Name, &ignored);                      \
  }
ORV_PENDING_COMPONENT_ROWS(ORV_DEFINE_STANDIN_ROW)
#undef ORV_DEFINE_STANDIN_ROW
