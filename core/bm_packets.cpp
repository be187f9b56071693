#include "core/bm_packets.h"

#include "core/os.h"
#include "core/poll.h"
#include "core/shared_word.h"

// ---- Command lock ---------------------------------------------------------------------------

namespace {

// The depth owner holds, read where the lock is taken and released: a
// helper of this file, which the compiler inlines (the exported entry
// below may be bound elsewhere at load, so a call of it is never inlined).
inline uint32_t LockDepth(const SharedLockedData_t* shared, uint32_t owner) {
  const uint32_t depth = static_cast<uint32_t>(ReadShared(&shared->commandLockDepth));
  if ((depth >> kCmdLockOwnerShift) != owner) return 0;
  return depth & kCmdLockDepthMask;
}

}  // namespace

uint32_t BmCommandLockDepth(const SharedLockedData_t* shared, uint32_t owner) {
  return LockDepth(shared, owner);
}

bool BmAcquireCommandLock(SharedLockedData_t* shared, uint32_t owner) {
  // Only the holder writes the depth word, so finding our own id there
  // means we hold the lock already.
  uint32_t depth = LockDepth(shared, owner);
  if (depth == 0 && !WaitFor("command lock", kCommandLockWaitMicroseconds, [&] {
        return OsInterlockedExchange(&shared->commandLock, 1) == 0;
      })) {
    return false;
  }
  ++depth;
  *static_cast<volatile int32_t*>(&shared->commandLockDepth) =
      static_cast<int32_t>((owner << kCmdLockOwnerShift) | depth);
  return true;
}

void BmReleaseCommandLock(SharedLockedData_t* shared, uint32_t owner) {
  const uint32_t depth = LockDepth(shared, owner);
  if (depth == 0) return;  // not ours
  if (depth > 1) {
    *static_cast<volatile int32_t*>(&shared->commandLockDepth) =
        static_cast<int32_t>((owner << kCmdLockOwnerShift) | (depth - 1));
    return;
  }
  *static_cast<volatile int32_t*>(&shared->commandLockDepth) = 0;
  // Released by storing 0, ordered after every write made under the lock:
  // a store with release order, which costs no more than a plain store
  // (an exchange would also wait for every pending store to drain).
  __atomic_store_n(&shared->commandLock, 0, __ATOMIC_RELEASE);
}
