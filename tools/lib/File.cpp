#include "tools/lib/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

namespace {

// The file a path names, through a symbolic link.
std::string ResolveLink(const char* path) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) return resolved;
  }
  return path;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool ReadWhole(const std::string& path, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char block[8192];
  for (;;) {
    const ssize_t n = read(fd, block, sizeof block);
    if (n > 0) {
      text->append(block, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      const int saved = errno;
      close(fd);
      errno = saved;
      return n == 0;
    }
  }
}

// Puts `text` in place of the file's bytes: truncate, write, sync.
bool Overwrite(int fd, const std::string& text) {
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) return false;
  return WriteAll(fd, text) && fsync(fd) == 0;
}

}  // namespace

bool ReplaceFile(const char* path, const std::string& text, const struct stat* like) {
  std::string target = ResolveLink(path);
  struct stat st;
  bool exists = stat(target.c_str(), &st) == 0;
  mode_t mode;
  if (like != nullptr) {
    mode = like->st_mode & 07777;
  } else if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  const struct stat* owner = like != nullptr ? like : exists ? &st : nullptr;

  std::string dir = DirectoryOf(target);
  size_t slash = target.rfind('/');
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = dir + "/." + base + ".XXXXXX";

  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && fchmod(fd, mode) == 0;
  if (ok && owner != nullptr) {
    // Keep the owner where we may; a failure here is not a write failure.
    if (fchown(fd, owner->st_uid, owner->st_gid) != 0) errno = 0;
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

SafeWrite WriteFileWithBackup(const char* path, const std::string& text) {
  SafeWrite result;
  const std::string target = ResolveLink(path);
  const std::string dir = DirectoryOf(target);
  struct stat st;
  const bool exists = stat(target.c_str(), &st) == 0;
  auto fail = [&](const std::string& why, int error) {
    result.failure = why;
    result.error = error;
    return result;
  };
  // The failure of the last call, named after `name`.
  auto failed = [&](const std::string& name) {
    const int error = errno;
    return fail(name + ": " + std::strerror(error), error);
  };
  if (exists && S_ISDIR(st.st_mode)) return fail(std::string(path) + ": " + std::strerror(EISDIR), EISDIR);
  // The caller must be allowed to write the file itself; that a new file
  // could be renamed over it is not enough.
  if (exists && access(target.c_str(), W_OK) != 0) return failed(path);
  // The backup goes beside the path the user named, which is not the
  // file's own directory when the path is a symbolic link.
  const std::string backup = std::string(path) + ".bak";
  const std::string backupDir = DirectoryOf(path);
  const bool targetDirWritable = access(dir.c_str(), W_OK | X_OK) == 0;
  const int targetDirError = errno;
  const bool backupDirWritable = access(backupDir.c_str(), W_OK | X_OK) == 0;
  const bool dirWritable = targetDirWritable && backupDirWritable;
  if (!exists) {
    if (!targetDirWritable) return fail(dir + ": " + std::strerror(targetDirError), targetDirError);
    if (!ReplaceFile(target.c_str(), text)) return failed(path);
    result.ok = true;
    return result;
  }
  std::string original;
  if (!ReadWhole(target, &original)) return failed(path);

  if (dirWritable) {
    if (!ReplaceFile(backup.c_str(), original, &st)) return failed("cannot make the backup " + backup);
    if (!ReplaceFile(target.c_str(), text)) return failed(path);
    result.ok = true;
    return result;
  }

  // A temporary file or the backup cannot be made: the file is
  // written in place, and its old text, kept here, is put back when the new
  // one cannot be written whole.
  int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return failed(path);
  if (Overwrite(fd, text)) {
    const bool closed = close(fd) == 0;
    if (!closed) return failed(path);
    result.ok = true;
    result.notice =
        "No backup could be made: " + (backupDirWritable ? dir : backupDir) + ": " + std::strerror(EACCES);
    return result;
  }
  const int saved = errno;
  const bool restored = Overwrite(fd, original);
  close(fd);
  return fail(std::string(path) + ": " + std::strerror(saved) +
                  (restored ? "; the file keeps its previous text"
                            : "; its previous text could not be written back either"),
              saved);
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
