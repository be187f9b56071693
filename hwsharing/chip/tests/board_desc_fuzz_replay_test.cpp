// Replays the board description fuzzer's corpus and the inputs it once
// failed on, under the normal build.
#include "tests/support/fuzz_replay.h"

TEST(BoardDescFuzzReplay, CorpusReadsCleanly) { orvtest::ReplayCorpus("board_desc_fuzz"); }
