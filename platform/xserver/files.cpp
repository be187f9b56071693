// File, directory and device-node services, all inside the sandbox root.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/board/phys_map.h"
#include "platform/xserver/state.h"
#include "platform/xserver/xservices.h"

using xstub::detail::Current;
using xstub::detail::NoSandbox;
using xstub::detail::Resolved;
using xstub::detail::State;

namespace {

// Resolves or sets errno and answers false.
bool ResolveOrFail(State& s, const char* path, bool follow_last, std::string* host) {
  Resolved r = s.Resolve(path, follow_last);
  if (r.error != 0) {
    errno = r.error;
    return false;
  }
  *host = std::move(r.host);
  return true;
}

bool Exists(const std::string& host) {
  struct stat st;
  return lstat(host.c_str(), &st) == 0;
}

// Host modes: the sandbox acts for a root process, so its own files and
// directories stay usable whatever permissions the driver asks for.
constexpr mode_t kHostFileMode = 0600;
constexpr mode_t kHostDirMode = 0700;

int OpenDevice(State& s, const std::string& host, const xstub::detail::NodeRecord& node,
               int flags) {
  if ((flags & O_CREAT) && (flags & O_EXCL)) {
    errno = EEXIST;
    return -1;
  }
  uint32_t major = xstub::DeviceMajor(node.device);
  uint32_t minor = xstub::DeviceMinor(node.device);
  auto it = s.endpoints.find(major);
  if (S_ISBLK(node.mode) || it == s.endpoints.end()) {
    errno = ENXIO;  // no driver behind the node
    return -1;
  }
  const uint64_t file = s.next_file++;
  int rc = it->second->OpenFile(minor, file);
  if (rc < 0) {
    errno = -rc;
    return -1;
  }
  // The placeholder file holds a real descriptor number, so descriptors of
  // the stand-in never collide with the process's own.
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int saved = errno;
    it->second->CloseFile(minor, file);
    errno = saved;
    return -1;
  }
  s.open_devices[fd] = xstub::detail::OpenDevice{it->second, major, minor, file};
  return fd;
}

// Enters a mapping in the register routing table when its host bytes are a
// board's register window.
bool RouteRegisters(State& s, void* host, size_t length) {
  orvsim::PhysicalMap* map = s.PhysMap();
  orvsim::PhysTarget target;
  if (map == nullptr || !map->ResolveHost(host, length, &target) ||
      target.kind != orvsim::ResourceKind::kRegisters) {
    return false;
  }
  xstub::detail::AddRegisterWindow(host, length, target.board,
                                   static_cast<uint32_t>(target.offset));
  return true;
}

// Records a call that changes the tree, with its result and errno.
int Logged(State& s, xstub::FileOp op, const char* path, mode_t mode, dev_t device, int rc) {
  const int error = rc == 0 ? 0 : errno;
  s.file_calls.push_back(
      xstub::FileCall{op, path != nullptr ? path : "", mode, device, rc, error});
  errno = error;
  return rc;
}

int Mknod(State& s, const char* path, mode_t mode, dev_t device) {
  std::string host;
  if (!ResolveOrFail(s, path, false, &host)) return -1;
  mode_t type = mode & S_IFMT;
  if (type != 0 && type != S_IFREG && type != S_IFCHR && type != S_IFBLK) {
    errno = EINVAL;  // fifos and sockets are not modelled
    return -1;
  }
  int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kHostFileMode);
  if (fd < 0) return -1;
  struct stat st;
  fstat(fd, &st);
  close(fd);
  mode_t permissions = mode & 07777 & ~xstub::detail::kUmask;
  if (type == S_IFCHR || type == S_IFBLK) {
    s.nodes[host] = xstub::detail::NodeRecord{static_cast<mode_t>(type | permissions), device,
                                              st.st_dev, st.st_ino};
  } else {
    s.SetPerm(host, permissions);
  }
  return 0;
}

int Mkdir(State& s, const char* path, mode_t mode) {
  std::string host;
  if (!ResolveOrFail(s, path, false, &host)) return -1;
  if (mkdir(host.c_str(), kHostDirMode) != 0) return -1;
  s.SetPerm(host, mode & 07777 & ~xstub::detail::kUmask);
  return 0;
}

int Chmod(State& s, const char* path, mode_t mode) {
  std::string host;
  if (!ResolveOrFail(s, path, true, &host)) return -1;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return -1;
  if (s.FindNode(host) != nullptr) {
    xstub::detail::NodeRecord& node = s.nodes[host];
    node.mode = (node.mode & S_IFMT) | (mode & 07777);
    return 0;
  }
  s.SetPerm(host, mode);
  return 0;
}

int Remove(State& s, const char* path) {
  std::string host;
  if (!ResolveOrFail(s, path, false, &host)) return -1;
  if (host == s.root_text) {
    errno = EBUSY;
    return -1;
  }
  if (remove(host.c_str()) != 0) return -1;
  s.Forget(host);
  return 0;
}

}  // namespace

extern "C" {

int xf86open(const char* path, int flags, ...) {
  mode_t mode = 0;
  // O_TMPFILE includes the O_DIRECTORY bit: only all of its bits mean a
  // mode argument follows.
  if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86open", path);
    return -1;
  }
  std::string host;
  if (!ResolveOrFail(*s, path, true, &host)) return -1;
  if (const auto* node = s->FindNode(host)) return OpenDevice(*s, host, *node, flags);

  bool existed = Exists(host);
  int fd = open(host.c_str(), flags | O_CLOEXEC, kHostFileMode);
  if (fd < 0) return -1;
  if (!existed) s->SetPerm(host, mode & ~xstub::detail::kUmask);
  s->open_files.insert(fd);
  return fd;
}

int xf86close(int fd) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86close", nullptr);
    return -1;
  }
  if (auto it = s->open_devices.find(fd); it != s->open_devices.end()) {
    if (it->second.endpoint != nullptr)
      it->second.endpoint->CloseFile(it->second.minor, it->second.file);
    s->open_devices.erase(it);
    return close(fd);
  }
  if (s->open_files.erase(fd) == 1) return close(fd);
  errno = EBADF;  // never the process's own descriptors
  return -1;
}

int xf86ioctl(int fd, unsigned long request, void* argument) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86ioctl", nullptr);
    return -1;
  }
  auto it = s->open_devices.find(fd);
  if (it == s->open_devices.end()) {
    errno = s->open_files.count(fd) ? ENOTTY : EBADF;
    return -1;
  }
  if (it->second.endpoint == nullptr) {
    errno = ENODEV;
    return -1;
  }
  int rc = it->second.endpoint->FileIoctl(it->second.minor, it->second.file, request, argument);
  if (rc < 0) {
    errno = -rc;
    return -1;
  }
  return rc;
}

void* xf86mmap(void* address, size_t length, int protection, int flags, int fd,
               off_t offset) {
  (void)address;  // a hint only
  (void)protection;
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86mmap", nullptr);
    return MAP_FAILED;
  }
  auto it = s->open_devices.find(fd);
  if (it == s->open_devices.end()) {
    errno = s->open_files.count(fd) ? ENODEV : EBADF;
    return MAP_FAILED;
  }
  // Device memory is mapped shared: a private copy of registers or of a
  // kernel buffer would silently lose every write.
  if (length == 0 || offset < 0 || offset % xstub::kPageSize != 0 ||
      (flags & MAP_FIXED) || (flags & MAP_TYPE) != MAP_SHARED) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  if (it->second.endpoint == nullptr) {
    errno = ENODEV;
    return MAP_FAILED;
  }
  size_t pages = (length + xstub::kPageSize - 1) / xstub::kPageSize * xstub::kPageSize;
  void* host = it->second.endpoint->FileMmap(it->second.minor, it->second.file,
                                             static_cast<uint64_t>(offset), pages);
  if (host == nullptr) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  // A board's register window, whoever mapped it, is routed to the board.
  const bool registers = RouteRegisters(*s, host, pages);
  s->mappings.push_back(xstub::detail::Mapping{host, pages, it->second.endpoint,
                                               it->second.major, it->second.minor,
                                               it->second.file, registers});
  return host;
}

int xf86munmap(void* address, size_t length) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86munmap", nullptr);
    return -1;
  }
  // Only whole mappings of a device are undone: the start of a mapping and
  // its length, rounded up to pages as munmap does. Anything else is a fault
  // of the caller that a real munmap would hide (a shorter length leaves the
  // rest of the mapping behind).
  const size_t pages = (length + xstub::kPageSize - 1) / xstub::kPageSize * xstub::kPageSize;
  for (auto it = s->mappings.begin(); it != s->mappings.end(); ++it) {
    if (it->address != address) continue;
    if (pages != it->length) continue;
    xstub::detail::Mapping m = *it;
    s->mappings.erase(it);
    if (m.registers) xstub::detail::RemoveRegisterWindow(m.address);
    m.endpoint->FileUnmap(m.minor, m.file, m.address, m.length);
    return 0;
  }
  fprintf(stderr, "xserver stand-in: xf86munmap(%p, %zu) matches no mapping\n", address,
          length);
  errno = EINVAL;
  return -1;
}

int xf86stat(const char* path, struct stat* out) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86stat", path);
    return -1;
  }
  std::string host;
  if (!ResolveOrFail(*s, path, true, &host)) return -1;
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return -1;
  if (const auto* node = s->FindNode(host)) {
    st.st_mode = node->mode;
    st.st_rdev = node->device;
    st.st_size = 0;
  } else if (const auto* perm = s->FindPerm(host)) {
    st.st_mode = (st.st_mode & S_IFMT) | perm->permissions;
  }
  if (out != nullptr) *out = st;
  return 0;
}

int xf86mknod(const char* path, mode_t mode, dev_t device) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86mknod", path);
    return -1;
  }
  return Logged(*s, xstub::FileOp::kMknod, path, mode, device, Mknod(*s, path, mode, device));
}

int xf86mkdir(const char* path, mode_t mode) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86mkdir", path);
    return -1;
  }
  return Logged(*s, xstub::FileOp::kMkdir, path, mode, 0, Mkdir(*s, path, mode));
}

int xf86chmod(const char* path, mode_t mode) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86chmod", path);
    return -1;
  }
  return Logged(*s, xstub::FileOp::kChmod, path, mode, 0, Chmod(*s, path, mode));
}

int xf86remove(const char* path) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86remove", path);
    return -1;
  }
  return Logged(*s, xstub::FileOp::kRemove, path, 0, 0, Remove(*s, path));
}

FILE* xf86fopen(const char* path, const char* mode) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86fopen", path);
    return nullptr;
  }
  if (mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  std::string host;
  if (!ResolveOrFail(*s, path, true, &host)) return nullptr;
  if (s->FindNode(host) != nullptr) {
    errno = ENXIO;  // device nodes are opened with xf86open
    return nullptr;
  }
  bool existed = Exists(host);
  FILE* f = fopen(host.c_str(), mode);
  if (f == nullptr) return nullptr;
  if (!existed) s->SetPerm(host, 0666 & ~xstub::detail::kUmask);
  s->streams.insert(f);
  return f;
}

char* xf86fgets(char* buffer, int size, FILE* file) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86fgets", nullptr);
    return nullptr;
  }
  if (s->streams.count(file) == 0) {
    errno = EBADF;
    return nullptr;
  }
  return fgets(buffer, size, file);
}

int xf86fclose(FILE* file) {
  State* s = Current();
  if (s == nullptr) {
    NoSandbox("xf86fclose", nullptr);
    return EOF;
  }
  if (s->streams.erase(file) == 0) {
    errno = EBADF;
    return EOF;
  }
  return fclose(file);
}

int xf86sscanf(const char* text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsscanf(text, format, args);
  va_end(args);
  return n;
}

}  // extern "C"
