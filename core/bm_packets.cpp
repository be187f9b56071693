#include "core/bm_packets.h"

#include "core/os.h"
#include "core/poll.h"
#include "core/shared_word.h"

// ---- Command lock ---------------------------------------------------------------------------

bool BmWaitCommandLock(SharedLockedData_t* shared) {
  // The word is read first and exchanged only when it reads free: a waiter
  // does not keep taking the word's cache line from the holder.
  return WaitFor("command lock", kCommandLockWaitMicroseconds, [&] {
    return ReadShared(&shared->commandLock) == 0 && OsInterlockedExchange(&shared->commandLock, 1) == 0;
  });
}
