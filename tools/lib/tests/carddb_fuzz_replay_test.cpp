// Replays the database fuzzer's corpus and the inputs it once crashed on,
// under the normal build.
#include "tests/support/fuzz_replay.h"

TEST(CardDbFuzzReplay, CorpusReadsCleanly) { orvtest::ReplayCorpus("carddb_fuzz"); }
