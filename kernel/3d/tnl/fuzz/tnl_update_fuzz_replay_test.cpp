// Every input of the transform-and-lighting update fuzz corpus, replayed
// under the normal test build.
#include "tests/support/fuzz_replay.h"

TEST(TnlUpdateFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("kernel_tnl_update_fuzz"); }
