// Every fixed system path the tools read (/proc/bus/pci, /proc/modules,
// /lib/modules, the X server's driver directories, the board database's
// default place) is taken below one root directory: "/" on a real system,
// a fixture tree in tests.
#pragma once

#include <string>

// Sets the root; an empty text means "/".
void SysRootSet(const std::string& root);
const std::string& SysRootGet();

// The absolute system path `path` under the root.
std::string SysRootPath(const std::string& path);
