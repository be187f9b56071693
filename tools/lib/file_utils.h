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
