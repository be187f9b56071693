// Replays the module version reader's fuzz corpus and the inputs it once
// failed on, under the normal build; the shipped fixtures must still read.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/lib/elfloader.h"
#include "tools/lib/tests/sysfixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::filesystem::path CorpusDir() {
  const char* source = std::getenv("ORV_SOURCE_DIR");
  return std::filesystem::path(source ? source : ".") / "tests/data/elfloader_fuzz";
}

}  // namespace

TEST(ElfLoaderFuzzReplay, CorpusReadsCleanly) {
  ASSERT_NE(std::getenv("ORV_SOURCE_DIR"), nullptr);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CorpusDir())) {
    if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
    std::string bytes = ReadFile(entry.path().string());
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    EXPECT_EQ(LLVMFuzzerTestOneInput(copy.data(), copy.size()), 0) << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0);
}

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
    std::string bytes = ReadFile((CorpusDir() / row.file).string());
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
