// Every input of the configuration-extension request fuzz corpus, replayed.
#include "tests/support/fuzz_replay.h"

TEST(XdriverOrvcfgRequestsFuzz, CorpusReplays) { orvtest::ReplayCorpus("xdriver_orvcfg_requests_fuzz"); }
