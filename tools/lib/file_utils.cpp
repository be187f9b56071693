#include "tools/lib/file_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
