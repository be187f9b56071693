// Writing the tree back: the fixed section order and the safe replacement of
// the file on disk.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/lib/log.h"
#include "tools/lib/xconfig_internal.h"
#include "tools/lib/xconfig_print.h"
#include "tools/lib/xconfig_scanner.h"

using namespace xconf;

namespace {

void PrintFile(FILE* cf, XConfFile* file) {
  if (file->comment != nullptr) {
    // The comments outside every section lead the file.
    if (file->comment[0] != '\n') std::fputc('\n', cf);
    PrintComment(cf, file->comment);
    std::fputc('\n', cf);
  }
  xf86printLayoutSection(cf, file->layouts);
  PrintSectionHead(cf, "Files", file->files != nullptr ? file->files->comment : nullptr);
  xf86printFileSection(cf, file->files);
  std::fprintf(cf, "EndSection\n\n");
  PrintSectionHead(cf, "Module", file->modules != nullptr ? file->modules->comment : nullptr);
  xf86printModuleSection(cf, file->modules);
  std::fprintf(cf, "EndSection\n\n");
  xf86printVendorSection(cf, file->vendors);
  xf86printServerFlagsSection(cf, file->flags);
  xf86printInputSection(cf, file->inputs);
  xf86printVideoAdaptorSection(cf, file->videoadaptors);
  xf86printModesSection(cf, file->modes);
  xf86printMonitorSection(cf, file->monitors);
  xf86printDeviceSection(cf, file->devices);
  xf86printScreenSection(cf, file->screens);
  xf86printDRISection(cf, file->dri);
  xf86printExtensionsSection(cf, file->extensions);
}

bool Render(XConfFile* file, std::string* text) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* cf = open_memstream(&buffer, &size);
  if (cf == nullptr) return false;
  ResetQuoteCheck();
  PrintFile(cf, file);
  bool ok = std::fflush(cf) == 0 && !std::ferror(cf);
  std::fclose(cf);
  if (ok) text->assign(buffer, size);
  std::free(buffer);
  return ok;
}

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

// Writes the text into a temporary file beside the target and renames it into
// place, so the old file stays whole until the new one is complete on disk.
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
  if (fd < 0) {
    ErrorF("Cannot write %s: %s\n", path, std::strerror(errno));
    return false;
  }
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
    ErrorF("Cannot write %s: %s\n", path, std::strerror(saved));
    return false;
  }
  SyncDirectory(dir);
  return true;
}

}  // namespace

int doWriteConfigFile(const char* path, XConfFile* file) {
  if (path == nullptr || file == nullptr) return 0;
  std::string text;
  if (!Render(file, &text)) {
    ErrorF("Cannot write %s: %s\n", path, std::strerror(ENOMEM));
    return 0;
  }
  if (QuoteCheckFailed()) {
    ErrorF("Cannot write %s: a name holds a double quote or a line break, or a comment holds "
           "a line that is not a comment\n", path);
    return 0;
  }
  return ReplaceFile(path, text) ? 1 : 0;
}

int xf86writeConfigFile(const char* path, XConfFile* file) {
  uid_t real = getuid();
  uid_t effective = geteuid();
  if (real == effective) return doWriteConfigFile(path, file);
  // Write with the rights of the user who ran the program.
  if (seteuid(real) != 0) {
    ErrorF("xf86writeConfigFile(): seteuid(%d) failed (%s)\n", static_cast<int>(real),
           std::strerror(errno));
    return 0;
  }
  int result = doWriteConfigFile(path, file);
  if (seteuid(effective) != 0) {
    ErrorF("xf86writeConfigFile(): seteuid(%d) failed (%s)\n", static_cast<int>(effective),
           std::strerror(errno));
  }
  return result;
}
