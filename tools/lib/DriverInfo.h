// What is installed: the X driver modules with their versions and the
// kernel module. Paths are taken below the system root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum DriverKind : int { kDriverKindOrv = 1, kDriverKindQlb = 2 };

struct DriverInfo {
  char qlbVersion[256];  // "major.minor.patch", "0.0.0" when unknown
  char orvVersion[256];
  int32_t kernelModuleInstalled;
};

// The running kernel's release text, at most `length` bytes with its end.
char* DrvInfoGetKernelReleaseVersion(char* buffer, size_t length);
// 1 when the family's kernel module lies under /lib/modules/<release>.
int DrvInfoIsKernelModuleInstall(int kind);
// The first readable module file of the family, empty when none. An
// unknown kind ends the process with status 1.
std::string GetDriverPath(int kind);
void ProbeDriverInfo(DriverInfo* info);
void ProbeDriver(DriverInfo* info);
