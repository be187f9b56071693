// Every input of the vertex-format fuzz corpus, replayed under the normal
// test build.
#include "tests/support/fuzz_replay.h"

TEST(VertexFormatFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("kernel_tnl_format_fuzz"); }
