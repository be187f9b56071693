// Every input of the constant-shadow fuzz corpus, replayed under the normal
// test build.
#include "tests/support/fuzz_replay.h"

TEST(ConstShadowFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("kernel_tnl_shadow_fuzz"); }
