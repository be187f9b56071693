// Replays the EDID fuzzer's hand-written hostile blocks and the inputs it
// once failed on, and the real dumps it starts from, under the normal build.
#include "tests/support/fuzz_replay.h"

TEST(EdidFuzzReplay, HostileBlocksDecodeCleanly) { orvtest::ReplayCorpus("edid_fuzz"); }
TEST(EdidFuzzReplay, RealDumpsDecodeCleanly) { orvtest::ReplayCorpus("edid"); }
