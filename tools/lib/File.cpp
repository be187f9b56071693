#include "tools/lib/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

bool IsDir(const char* path) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return false;
  return S_ISDIR(st.st_mode);
}

int FileExist(const char* path) {
  if (path == nullptr) return 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  close(fd);
  return 1;
}

namespace {

bool WriteAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

void SyncDirectory(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool ReplaceFile(const char* path, const std::string& text) {
  std::string target = path;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link points at, not the link.
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) target = resolved;
  }
  bool exists = stat(target.c_str(), &st) == 0;
  mode_t mode;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }

  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = dir + "/." + base + ".XXXXXX";

  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && fchmod(fd, mode) == 0;
  if (ok && exists) {
    // Keep the owner where we may; a failure here is not a write failure.
    if (fchown(fd, st.st_uid, st.st_gid) != 0) errno = 0;
  }
  ok = ok && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    errno = saved;
    return false;
  }
  SyncDirectory(dir);
  return true;
}

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
