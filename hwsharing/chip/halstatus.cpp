#include "hwsharing/chip/halstatus.h"

#include "hwsharing/chip/boardhandle.h"

HALSTATUS ReturnCorrectError(HALSTATUS current, HALSTATUS next) {
  switch (HalSeverity(current)) {
    case kSeverityOk:
      return next;
    case kSeverityWarning:
      return HalFailed(next) ? next : current;
    default:
      return current;
  }
}

HALSTATUS SetError(BOARDHANDLE* h, HALSTATUS code) {
  h->status = ReturnCorrectError(h->status, code);
  return h->status;
}
