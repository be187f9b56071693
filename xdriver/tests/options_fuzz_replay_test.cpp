// Every input of the driver's configuration-text fuzz corpus, replayed.
#include "tests/support/fuzz_replay.h"

TEST(XdriverOptionsFuzz, CorpusReplays) { orvtest::ReplayCorpus("xdriver_options_fuzz"); }
