#include "tools/lib/DriverInfo.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/lib/File.h"
#include "tools/lib/Log.h"
#include "tools/lib/elfloader.h"

namespace {

const char* const kDriverDirs[] = {
    "/usr/lib/xorg/modules/drivers",
    "/usr/X11R6/lib/modules/drivers",
    "/usr/X11/lib/modules/drivers",
};

const char* const kKernelModuleDirs[] = {"kernel", "kernel/drivers/video"};

void FormatVersion(char (&text)[256], int kind) {
  int major = 0, minor = 0, patch = 0;
  std::string path = GetDriverPath(kind);
  if (path.empty() || GetModuleVersion(path.c_str(), &major, &minor, &patch) != 0)
    major = minor = patch = 0;
  std::snprintf(text, sizeof text, "%d.%d.%d", major, minor, patch);
}

}  // namespace

char* DrvInfoGetKernelReleaseVersion(char* buffer, size_t length) {
  if (!buffer || length == 0) return buffer;
  struct utsname names;
  if (uname(&names) != 0) {
    buffer[0] = '\0';
    return buffer;
  }
  std::snprintf(buffer, length, "%s", names.release);
  return buffer;
}

int DrvInfoIsKernelModuleInstall(int kind) {
  const char* base = kind == kDriverKindQlb ? "qlb" : kind == kDriverKindOrv ? "orv" : nullptr;
  if (!base) return 0;
  char release[256];
  DrvInfoGetKernelReleaseVersion(release, sizeof release);
  for (const char* dir : kKernelModuleDirs) {
    for (const char* ext : {".ko", ".o"}) {
      std::string path = SysRootPath(std::string("/lib/modules/") + release + "/" + dir + "/" +
                                     base + ext);
      if (FileExist(path.c_str())) return 1;
    }
  }
  return 0;
}

std::string GetDriverPath(int kind) {
  const char* base;
  if (kind == kDriverKindOrv) {
    base = "orv_drv";
  } else if (kind == kDriverKindQlb) {
    base = "qlb_drv";
  } else {
    ErrorF("Trying to retrieve the path of an unknown video driver.\n");
    std::exit(1);
  }
  for (const char* dir : kDriverDirs) {
    for (const char* ext : {".o", ".so"}) {
      std::string path = SysRootPath(std::string(dir) + "/" + base + ext);
      if (FileExist(path.c_str())) return path;
    }
  }
  return {};
}

void ProbeDriverInfo(DriverInfo* info) {
  FormatVersion(info->qlbVersion, kDriverKindQlb);
  FormatVersion(info->orvVersion, kDriverKindOrv);
  info->kernelModuleInstalled = DrvInfoIsKernelModuleInstall(kDriverKindOrv);
}

void ProbeDriver(DriverInfo* info) { ProbeDriverInfo(info); }
