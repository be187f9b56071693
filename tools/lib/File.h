// The library's file routines and the root its system paths are taken below.
#pragma once

#include <string>

// True when the path names a directory.
bool IsDir(const char* path);
// 1 when the path can be opened for reading, else 0.
int FileExist(const char* path);
// Writes the text into a temporary file beside the target and renames it
// into place, so the old file stays whole until the new one is complete on
// disk. An existing file keeps its mode and owner, and a symbolic link keeps
// pointing at it. False with errno set when anything failed; the old file is
// then untouched.
bool ReplaceFile(const char* path, const std::string& text);

// Every fixed system path the tools read (/proc/bus/pci, /proc/modules,
// /lib/modules, the X server's driver directories, the board database's
// default place) is taken below one root directory: "/" on a real system,
// a fixture tree in tests.

// Sets the root; an empty text means "/".
void SysRootSet(const std::string& root);
const std::string& SysRootGet();

// The absolute system path `path` under the root.
std::string SysRootPath(const std::string& path);
