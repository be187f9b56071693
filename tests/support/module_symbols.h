// The dynamic symbols of a built module as `nm` lists them, and whether a
// name belongs to the C and C++ runtime: for tests that check what a
// module exports and what it leaves to whoever loads it.
#pragma once

#include <dlfcn.h>
#include <stdio.h>

#include <set>
#include <sstream>
#include <string>

namespace testsupport {

// The names an `nm` command prints: "U name", "w name" (undefined) or
// "address T name" (defined), without the version of a shared library's
// ("name@VERSION"). Empty when the command cannot run.
inline std::set<std::string> Symbols(const std::string& command) {
  std::set<std::string> names;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return names;
  char line[4096];
  while (fgets(line, sizeof(line), pipe) != nullptr) {
    std::istringstream in(line);
    std::string a, b, c;
    in >> a >> b >> c;
    std::string name = c.empty() ? b : c;
    name = name.substr(0, name.find('@'));
    if (!name.empty() && name.back() != ':') names.insert(name);
  }
  pclose(pipe);
  return names;
}

inline std::set<std::string> UndefinedIn(const std::string& file) {
  return Symbols("nm -D --undefined-only " + file);
}
inline std::set<std::string> ExportedBy(const std::string& file) {
  return Symbols("nm -D --defined-only " + file);
}
// Every global the file defines (a static library's too).
inline std::set<std::string> DefinedIn(const std::string& file) {
  return Symbols("nm -g --defined-only " + file);
}

// A name this process finds in the C or C++ runtime, the dynamic linker or
// the sanitizers' libraries (which take the place of some C functions), or
// one of the toolchain's own references.
inline bool InRuntime(const std::string& name) {
  void* found = dlsym(RTLD_DEFAULT, name.c_str());
  Dl_info info;
  if (found != nullptr && dladdr(found, &info) != 0 && info.dli_fname != nullptr) {
    const std::string file = info.dli_fname;
    for (const char* runtime : {"/libc.so", "/libm.so", "/libstdc++.so", "/libgcc_s.so",
                                "/ld-linux", "/libasan.so", "/libubsan.so"}) {
      if (file.find(runtime) != std::string::npos) return true;
    }
  }
  // A sanitizer linked into the program itself (clang's) defines its
  // replacements of C functions and of operator new there, so the process
  // finds those first: look in the runtime's own libraries as well (a
  // library's look-up covers the libraries it needs).
  for (const char* runtime : {"libstdc++.so.6", "libc.so.6", "libm.so.6", "libgcc_s.so.1"}) {
    void* library = dlopen(runtime, RTLD_LAZY | RTLD_NOLOAD);
    if (library == nullptr) continue;
    const bool defines = dlsym(library, name.c_str()) != nullptr;
    dlclose(library);
    if (defines) return true;
  }
  // The sanitizers' and the coverage counters' entries (their data may sit
  // in the program) and the weak references every shared object carries.
  for (const char* prefix :
       {"__asan_", "__ubsan_", "__sanitizer_", "__lsan_", "__sancov_", "_ITM_"}) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return name == "__gmon_start__" || name == "__cxa_finalize";
}

}  // namespace testsupport
