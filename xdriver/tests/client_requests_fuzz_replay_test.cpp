// Every input of the X client request fuzz corpus, replayed.
#include "tests/support/fuzz_replay.h"

TEST(XdriverClientRequestsFuzz, CorpusReplays) { orvtest::ReplayCorpus("xdriver_client_requests_fuzz"); }
