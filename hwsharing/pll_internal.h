// Pieces of the PLL divider library shared by both chip generations.
#pragma once

#include <climits>
#include <cstdint>

#include "hwsharing/pll.h"

namespace pllutil {

inline bool IsB90(const PLLDESCRIPTOR* d) { return d->ulKind == kPllKindB90; }
// Messages name the synthesizer "PLL<n>" on the first generation, "FS<n>" on
// the later one.
inline const char* Tag(const PLLDESCRIPTOR* d) { return IsB90(d) ? "FS" : "PLL"; }

template <class... A>
void ErrorPrint(const PLLDESCRIPTOR* d, const char* format, A... args) {
  if (d->pfnErrorPrint != nullptr) d->pfnErrorPrint(format, args...);
}
template <class... A>
void DebugPrint(const PLLDESCRIPTOR* d, const char* format, A... args) {
  if (d->pfnDebugPrint != nullptr) d->pfnDebugPrint(format, args...);
}
template <class... A>
void VerbosePrint(const PLLDESCRIPTOR* d, const char* format, A... args) {
  if (d->ulVerbose != 0) DebugPrint(d, format, args...);
}

inline uint32_t ReadReg(void* handle, const PLLDESCRIPTOR* d, uint32_t reg) {
  return d->pfnReadReg != nullptr ? d->pfnReadReg(handle, reg) : 0;
}
inline uint32_t ReadShadow(void* handle, const PLLDESCRIPTOR* d, uint32_t reg) {
  return d->pfnReadShadow != nullptr ? d->pfnReadShadow(handle, reg) : 0;
}
inline void WriteReg(void* handle, const PLLDESCRIPTOR* d, uint32_t value, uint32_t reg) {
  if (d->pfnWriteReg != nullptr) d->pfnWriteReg(handle, value, reg);
}
inline void Delay(void* handle, const PLLDESCRIPTOR* d, uint32_t units) {
  if (d->pfnDelay != nullptr) d->pfnDelay(handle, units);
}

// The best candidate of a search so far.
struct Best {
  bool found = false;
  int32_t error = INT_MAX;
  int32_t achieved = 0;
  int32_t m1 = 0, p1 = 0, m2 = 0, p2 = 0;
};

// Offers one candidate: it becomes the best when it beats the best error (in
// first-fit mode, at once) and passes its lock test. Answers whether a
// first-fit search ends here.
bool Consider(void* handle, uint32_t sel, int32_t frequency, int32_t m1, int32_t p1, int32_t m2,
              int32_t p2, int32_t achieved, Best* best, PLLDESCRIPTOR* d);
// Programs the best candidate, or reports that there is none.
uint32_t Finish(void* handle, uint32_t sel, int32_t frequency, const Best& best,
                const char* summary, PLLDESCRIPTOR* d);
// Limits and lock test of one divider set, both generations.
uint32_t TestDividers(void* handle, uint32_t program, uint32_t sel, int32_t target,
                      int32_t achieved, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                      PLLDESCRIPTOR* d);
// The unlocked share, in percent, of `count` reads of `bit` in `reg`; keeps
// the unlocked count in vco->lLastUnlock.
int32_t UnlockRatio(void* handle, uint32_t reg, uint32_t bit, int32_t count, PLLVCOCONFIG* vco,
                    const PLLDESCRIPTOR* d);
// Reads the PLL register up to vco->lLockPolls times for `bit`, then answers
// the generation's unlock status over as many reads; a lock that never came
// counts as 100 %. Without a register reader the test passes (0).
int32_t WaitLock(void* handle, uint32_t bit, PLLVCOCONFIG* vco, const PLLDESCRIPTOR* d);
// The request clamped into the range of the selected output, with a warning
// when it had to move.
int32_t ClampRequest(uint32_t sel, int32_t frequency, const PLLDESCRIPTOR* d);
// The range checks common to both generations; answers the failed check's
// verdict (1) or 0.
uint32_t CheckRanges(int32_t fin, int32_t m, int32_t p, const PLLVCOCONFIG* vco,
                     const PLLDESCRIPTOR* d);

}  // namespace pllutil
