// Every input of the 3D client requests' fuzz corpus, replayed under the
// normal test build.
#include "tests/support/fuzz_replay.h"

TEST(KernelClient3dFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("kernel_client3d_fuzz"); }
