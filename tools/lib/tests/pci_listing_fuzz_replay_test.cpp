// Every input of the PCI listing fuzz corpus, replayed.
#include "tests/support/fuzz_replay.h"

TEST(PciListingFuzzReplay, CorpusReadsCleanly) { orvtest::ReplayCorpus("pci_listing_fuzz"); }
