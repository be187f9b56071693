// Replays the EDID fuzzer's hand-written hostile blocks and the inputs it
// once failed on, and the real dumps it starts from, under the normal build.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/fuzz_replay.h"

TEST(EdidFuzzReplay, HostileBlocksDecodeCleanly) { orvtest::ReplayCorpus("edid_fuzz"); }

// Every real dump behind control bytes that set each of the control bits
// (output, pixel doubling, analog outputs only) once.
TEST(EdidFuzzReplay, RealDumpsDecodeCleanly) {
  int dumps = 0;
  for (const auto& entry : std::filesystem::directory_iterator(orvtest::CorpusDir("edid"))) {
    if (entry.path().extension() != ".bin") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> dump((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (uint8_t control : {0x00, 0x05, 0x0A, 0x0F}) {
      std::vector<uint8_t> input{control};
      input.insert(input.end(), dump.begin(), dump.end());
      EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0) << entry.path() << " control " << int(control);
    }
    ++dumps;
  }
  EXPECT_EQ(dumps, 300);
}
