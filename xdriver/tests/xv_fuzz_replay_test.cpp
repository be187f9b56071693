// Every input of the Xv request fuzz corpus, replayed.
#include "tests/support/fuzz_replay.h"

TEST(XdriverXvFuzz, CorpusReplays) { orvtest::ReplayCorpus("xdriver_xv_fuzz"); }
