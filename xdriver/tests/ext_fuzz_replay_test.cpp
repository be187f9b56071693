// Every input of the driver's X-extension fuzz corpus, replayed.
#include "tests/support/fuzz_replay.h"

TEST(XdriverExtFuzz, CorpusReplays) { orvtest::ReplayCorpus("xdriver_ext_fuzz"); }
