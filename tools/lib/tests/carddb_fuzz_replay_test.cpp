// Replays the database fuzzer's corpus and the inputs it once crashed on,
// under the normal build.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/lib/tests/sysfixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(CardDbFuzzReplay, CorpusReadsCleanly) {
  const char* source = std::getenv("ORV_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::filesystem::path dir = std::filesystem::path(source) / "tests/data/carddb_fuzz";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
    std::string bytes = ReadFile(entry.path().string());
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    EXPECT_EQ(LLVMFuzzerTestOneInput(copy.data(), copy.size()), 0) << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0);
}
