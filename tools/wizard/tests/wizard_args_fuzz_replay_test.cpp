// Every input of the wizard's command-line fuzz corpus, replayed.
#include "tests/support/fuzz_replay.h"

TEST(WizardArgsFuzzReplay, CorpusRunsCleanly) { orvtest::ReplayCorpus("wizard_args_fuzz"); }
