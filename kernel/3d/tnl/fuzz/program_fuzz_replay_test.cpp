// Every input of the vertex-program fuzz corpus, replayed under the normal
// test build.
#include "tests/support/fuzz_replay.h"

TEST(VertexProgramFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("kernel_tnl_program_fuzz"); }
