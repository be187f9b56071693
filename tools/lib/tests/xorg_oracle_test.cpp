// The real X server's configuration parser as the oracle for our reader and
// writer.

#include <gtest/gtest.h>

#include <string>

#include "tools/lib/parser/xconfig.h"
#include "tools/lib/tests/broken_files.h"
#include "tools/lib/tests/corpus.h"
#include "tools/lib/tests/test_util.h"
#include "tools/lib/tests/xorg_oracle.h"

namespace {

using namespace toolcfg_test;

class CfgXorgOracle : public testing::Test {
 protected:
  void SetUp() override {
    if (XorgBinary().empty()) GTEST_SKIP() << "the X server is not installed";
    TempDir dir;
    std::string probe = dir.File("probe.conf");
    WriteFile(probe, "");
    if (!RunXorg(probe).ran) GTEST_SKIP() << "the X server cannot run here";
  }

  // Writes the tree and expects the server to accept the written file when it
  // accepts the original.
  void ExpectAcceptedWritten(XConfFile* file, const std::string& original,
                                const std::string& what) {
    TempDir dir;
    std::string path = dir.File("written.conf");
    ASSERT_EQ(xf86writeConfigFile(path.c_str(), file), 1) << what;
    XorgVerdict before = RunXorg(original);
    XorgVerdict after = RunXorg(path);
    EXPECT_TRUE(after.ran) << what;
    if (!before.refused) {
      EXPECT_FALSE(after.refused) << what << "\n" << after.output << "\n" << ReadFile(path);
    }
  }
};

TEST_F(CfgXorgOracle, RealFilesGetTheSameVerdict) {
  for (const std::string& n : CorpusNumbers()) {
    std::string path = CorpusDir() + "/" + n + ".conf";
    XorgVerdict server = RunXorg(path);
    ASSERT_TRUE(server.ran) << n << "\n" << server.output;
    Parsed ours = ParseCorpus(n);
    if (ours.file != nullptr) {
      EXPECT_FALSE(server.refused) << n << ": we accept what the server refuses\n" << server.output;
      ExpectAcceptedWritten(ours.file, path, n);
      continue;
    }
    const RefusedFile* refused = FindRefused(n);
    ASSERT_NE(refused, nullptr) << n << "\n" << ours.err;
    if (refused->server_differs != nullptr) {
      RecordProperty("file_" + n, refused->server_differs);
      continue;
    }
    EXPECT_TRUE(server.refused) << n << "\n" << server.output;
    EXPECT_EQ(server.parse_error_line, ParseErrorLine(ours.err)) << n << "\n" << server.output;
    // Validation messages are the server's own texts.
    size_t tab = ours.err.find("\n\t");
    EXPECT_NE(server.output.find(ours.err.substr(tab)), std::string::npos) << n;
  }
}

TEST_F(CfgXorgOracle, BrokenFilesAreRefusedOnTheSameLine) {
  for (const BrokenFile& broken : kBrokenFiles) {
    TempDir dir;
    std::string path = dir.File("broken.conf");
    WriteFile(path, broken.text);
    XorgVerdict server = RunXorg(path);
    ASSERT_TRUE(server.ran) << broken.name;
    if (broken.server_differs != nullptr) {
      RecordProperty(broken.name, broken.server_differs);
      continue;
    }
    EXPECT_TRUE(server.refused) << broken.name << "\n" << server.output;
    int our_line = ParseErrorLine(broken.message);
    EXPECT_EQ(server.parse_error_line, our_line) << broken.name << "\n" << server.output;
    if (our_line < 0) {
      std::string message = broken.message;
      EXPECT_NE(server.output.find(message.substr(message.find("\n\t"))), std::string::npos)
          << broken.name << "\n" << server.output;
    }
  }
}

TEST_F(CfgXorgOracle, WrittenFixturesAreAccepted) {
  for (const char* name : {"layout_multi", "legacy_input", "monitor_modes"}) {
    std::string original = SourceDir() + "/tools/lib/tests/fixtures/" + name + ".conf";
    Parsed p = ParsePath(original);
    ASSERT_NE(p.file, nullptr) << name;
    ExpectAcceptedWritten(p.file, original, name);
  }
  // The server's newer grammar refuses two parts of monitor_modes (an
  // Identifier in a Vendor subsection, DRI Buffers lines); without them it
  // accepts the written file.
  Parsed p = ParsePath(SourceDir() + "/tools/lib/tests/fixtures/monitor_modes.conf");
  ASSERT_NE(p.file, nullptr);
  xf86freeVendorSubList(p.file->vendors->subs);
  p.file->vendors->subs = nullptr;
  xf86freeBuffersList(p.file->dri->buffers);
  p.file->dri->buffers = nullptr;
  TempDir dir;
  std::string path = dir.File("written.conf");
  ASSERT_EQ(xf86writeConfigFile(path.c_str(), p.file), 1);
  XorgVerdict v = RunXorg(path);
  EXPECT_FALSE(v.refused) << v.output;
}

}  // namespace
