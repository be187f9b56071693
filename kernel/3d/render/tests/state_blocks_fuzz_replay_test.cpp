// Every input of the state blocks' fuzz corpus, replayed under the normal
// test build.
#include "tests/support/fuzz_replay.h"

TEST(KernelStateBlocksFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("kernel_state_blocks_fuzz"); }
