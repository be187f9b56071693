// Scratch directory trees for the probe tests: a fixture system root, a
// database directory, module files.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/testsupport/files.h"

class TempTree {
 public:
  TempTree() {
    // In memory where the system offers it: the tools sync every file they
    // write, which costs a disk round trip per write elsewhere.
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec) &&
                                               access("/dev/shm", W_OK | X_OK) == 0
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "orvprobe-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) root_ = buf.data();
  }
  ~TempTree() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& Root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  // Writes `bytes` to `relative`, making the directories on the way.
  std::string Write(const std::string& relative, const std::string& bytes) const {
    std::string path = Path(relative);
    tools_test::WriteFile(path, bytes);
    return path;
  }
  std::string Copy(const std::string& from, const std::string& relative) const {
    std::string path = Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(from, path, std::filesystem::copy_options::overwrite_existing);
    return path;
  }

 private:
  std::string root_;
};

using tools_test::ReadFile;
