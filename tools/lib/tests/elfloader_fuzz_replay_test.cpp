// Replays the module version reader's fuzz corpus and the inputs it once
// failed on, under the normal build; the shipped fixtures must still read.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/fuzz_replay.h"
#include "tools/lib/elfloader.h"
#include "tools/lib/tests/sysfixture.h"

TEST(ElfLoaderFuzzReplay, CorpusReadsCleanly) { orvtest::ReplayCorpus("elfloader_fuzz"); }

TEST(ElfLoaderFuzzReplay, SeedModulesGiveTheirVersions) {
  ASSERT_NE(std::getenv("ORV_SOURCE_DIR"), nullptr);
  struct Row {
    const char* file;
    const char* name;
    int major, minor, patch;
  } const rows[] = {
      {"orv_shared", "orv", 1, 4, 7},
      {"qlb_relocatable", "qlb", 2, 3, 258},
      {"qlb_relocatable_gcc", "qlb", 2, 3, 258},
  };
  for (const Row& row : rows) {
    std::string bytes = ReadFile((orvtest::CorpusDir("elfloader_fuzz") / row.file).string());
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    int major = -1, minor = -1, patch = -1;
    ASSERT_EQ(GetModuleVersionFromImage(copy.data(), copy.size(), row.name, &major, &minor,
                                        &patch),
              0)
        << row.file;
    EXPECT_EQ(major, row.major) << row.file;
    EXPECT_EQ(minor, row.minor) << row.file;
    EXPECT_EQ(patch, row.patch) << row.file;
  }
}
