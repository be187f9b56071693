#pragma once

// Helpers of the configuration library tests: temporary files, parsing text
// and capturing what the library prints.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/lib/parser/xconfig.h"
#include "tools/testsupport/files.h"

namespace toolcfg_test {

using tools_test::ReadFile;
using tools_test::WriteFile;

// A directory removed again when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "toolcfg.XXXXXX").string();
    char* made = mkdtemp(templ.data());
    if (made != nullptr) path_ = made;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The tree read from a file, with what the reader printed.
struct Parsed {
  XConfFile* file = nullptr;
  std::string err;
  Parsed() = default;
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;
  Parsed(Parsed&& o) noexcept : file(o.file), err(std::move(o.err)) { o.file = nullptr; }
  Parsed& operator=(Parsed&& o) noexcept {
    std::swap(file, o.file);
    std::swap(err, o.err);
    return *this;
  }
  ~Parsed() { xf86freeConfig(file); }
};

inline Parsed ParsePath(const std::string& path) {
  Parsed result;
  testing::internal::CaptureStderr();
  if (xf86openConfigFile("%A", path.c_str(), nullptr) != nullptr) {
    result.file = xf86readConfigFile();
    xf86closeConfigFile();
  }
  result.err = testing::internal::GetCapturedStderr();
  return result;
}

// Parses the text from a file named "xorg.conf" in a temporary directory; the
// messages name that path, so tests replace it with "FILE".
inline Parsed ParseText(const std::string& text) {
  TempDir dir;
  std::string path = dir.File("xorg.conf");
  WriteFile(path, text);
  Parsed result = ParsePath(path);
  size_t at;
  while ((at = result.err.find(path)) != std::string::npos) result.err.replace(at, path.size(), "FILE");
  return result;
}

// Writes the tree through the library's writer and returns the text.
inline std::string WriteText(XConfFile* file) {
  TempDir dir;
  std::string path = dir.File("out.conf");
  EXPECT_EQ(xf86writeConfigFile(path.c_str(), file), 1);
  return ReadFile(path);
}

inline std::string SourceDir() {
  const char* dir = std::getenv("ORV_SOURCE_DIR");
  return dir != nullptr ? dir : ".";
}

}  // namespace toolcfg_test
