// Every input of the kernel node's fuzz corpus, replayed under the normal
// test build.
#include "tests/support/fuzz_replay.h"

TEST(KernelNodeFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("kernel_node_fuzz"); }
