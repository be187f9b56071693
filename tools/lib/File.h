// The library's file routines and the root its system paths are taken below.
#pragma once

#include <sys/stat.h>

#include <string>

// True when the path names a directory.
bool IsDir(const char* path);
// 1 when the path can be opened for reading, else 0.
int FileExist(const char* path);
// Writes the text into a temporary file beside the target and renames it
// into place, so the old file stays whole until the new one is complete on
// disk. An existing file keeps its mode and owner, and a symbolic link keeps
// pointing at it. False with errno set when anything failed; the old file is
// then untouched. With `like`, the new file takes that file's mode and owner
// instead.
bool ReplaceFile(const char* path, const std::string& text, const struct stat* like = nullptr);

// How a write through WriteFileWithBackup went.
struct SafeWrite {
  bool ok = false;
  std::string failure;  // why nothing was written
  int error = 0;        // the errno of that failure, 0 when it has none
  std::string notice;   // what the user should know of a write that went through
};

// The tools' way of writing a file the user owns: the caller must be
// allowed to write the file itself. Its old text is kept as "<path>.bak"
// (with the file's mode and owner) and the new text replaces it whole
// (ReplaceFile); a failed backup stops the write. In a directory where
// neither can be made, the file is written in place and its old text put
// back when the new one cannot be written whole; the notice then says that
// no backup was made.
SafeWrite WriteFileWithBackup(const char* path, const std::string& text);

// Every fixed system path the tools read (/proc/bus/pci, /proc/modules,
// /lib/modules, the X server's driver directories, the board database's
// default place) is taken below one root directory: "/" on a real system,
// a fixture tree in tests.

// Sets the root; an empty text means "/".
void SysRootSet(const std::string& root);
const std::string& SysRootGet();

// The absolute system path `path` under the root.
std::string SysRootPath(const std::string& path);
