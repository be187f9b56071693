#include "tools/lib/SysRoot.h"

namespace {
std::string& Root() {
  static std::string s_root = "/";
  return s_root;
}
}  // namespace

void SysRootSet(const std::string& root) {
  Root() = root.empty() ? "/" : root;
}

const std::string& SysRootGet() { return Root(); }

std::string SysRootPath(const std::string& path) {
  const std::string& root = Root();
  if (root == "/") return path;
  std::string joined = root;
  while (joined.size() > 1 && joined.back() == '/') joined.pop_back();
  if (path.empty() || path.front() != '/') joined += '/';
  return joined + path;
}
