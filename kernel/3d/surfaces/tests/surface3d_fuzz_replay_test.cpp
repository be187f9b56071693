// Every input of the surfaces' fuzz corpus, replayed under the normal test
// build.
#include "tests/support/fuzz_replay.h"

TEST(KernelSurface3dFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("kernel_surface3d_fuzz"); }
