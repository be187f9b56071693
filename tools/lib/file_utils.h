#pragma once

// True when the path names a directory.
bool IsDir(const char* path);
// 1 when the path can be opened for reading, else 0.
int FileExist(const char* path);
