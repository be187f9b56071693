// Reads the version of an X driver module from its file without loading it
// into a server: the module exports "<name>ModuleData", whose first member
// points to the version record (byte 28 major, 29 minor, 30-31 patch level).
// Shared objects and relocatable objects of x86-64 are understood.
#pragma once

#include <cstddef>
#include <cstdint>

// 0 on success; -1 on any failure, with the outputs untouched. The symbol is
// named after the part of `path` between its last '/' and the first '_'
// after it ("/x/orv_drv.so" gives "orvModuleData").
int GetModuleVersion(const char* path, int* major, int* minor, int* patch);

// The same over a file image already in memory, with the module's base name
// given ("orv" looks for "orvModuleData").
int GetModuleVersionFromImage(const uint8_t* data, size_t size, const char* moduleName,
                              int* major, int* minor, int* patch);
