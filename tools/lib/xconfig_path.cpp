#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "tools/lib/log.h"
#include "tools/lib/xconfig.h"
#include "tools/lib/xconfig_internal.h"
#include "tools/lib/xconfig_scanner.h"

namespace {

constexpr size_t kMaxPathLength = 4096;
constexpr size_t kMaxHostName = 32;
constexpr const char* kDefaultProjectRoot = "/usr/X11R6";
constexpr const char* kServerMajorVersion = "4";

constexpr const char* kDefaultSearchPath =
    "/etc/X11/%S,%P/etc/X11/%S,/etc/X11/%G,%P/etc/X11/%G,/etc/X11/%X-%M,/etc/X11/%X,/etc/%X,"
    "%P/etc/X11/%X.%H,%P/etc/X11/%X-%M,%P/etc/X11/%X,%P/lib/X11/%X.%H,%P/lib/X11/%X-%M,"
    "%P/lib/X11/%X";

// Looked up once per process and kept.
struct Environment {
  std::optional<std::string> host;
  std::optional<std::string> home;
  std::optional<std::string> xorgconfig;
  bool loaded = false;
};

Environment g_env;

Environment& Env() {
  Environment& env = g_env;
  if (!env.loaded) {
    env.loaded = true;
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) == 0) {
      std::string name(host);
      if (name.size() > kMaxHostName) name.resize(kMaxHostName);
      env.host = name;
    }
    if (const char* home = std::getenv("HOME")) env.home = home;
    if (const char* config = std::getenv("XORGCONFIG")) env.xorgconfig = config;
  }
  return env;
}

}  // namespace

void xconf::ForgetEnvironment() { g_env = Environment{}; }

const char* const kConfToolSearchPath =
    "%A,%R,/etc/X11/%R,%P/etc/X11/%R,%E,%F,/etc/X11/%F,%P/etc/X11/%F,%D/%X,/etc/X11/%X-%M,"
    "/etc/X11/%X,/etc/%X,%P/etc/X11/%X.%H,%P/etc/X11/%X-%M,%P/etc/X11/%X,%P/lib/X11/%X.%H,"
    "%P/lib/X11/%X-%M,%P/lib/X11/%X";

int xf86pathIsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

int xf86pathIsSafe(const char* path) {
  if (path == nullptr) return 0;
  if (xf86pathIsAbsolute(path)) return 0;
  if (std::strcmp(path, "..") == 0) return 0;
  if (std::strncmp(path, "../", 3) == 0) return 0;
  size_t len = std::strlen(path);
  if (len >= 3 && std::strcmp(path + len - 3, "/..") == 0) return 0;
  if (std::strstr(path, "/../") != nullptr) return 0;
  return 1;
}

bool xconf::DoSubstitution(const char* templ, const char* cmdline, const char* projroot,
                           bool* cmdline_used, bool* env_used, const char* filename,
                           std::string* out) {
  *cmdline_used = false;
  *env_used = false;
  out->clear();
  if (projroot == nullptr || *projroot == '\0') projroot = kDefaultProjectRoot;
  const Environment& env = Env();
  const char* xorgconfig = env.xorgconfig ? env.xorgconfig->c_str() : nullptr;

  for (const char* p = templ; *p != '\0'; ++p) {
    if (*p != '%') {
      out->push_back(*p);
    } else {
      ++p;
      const char* insert = nullptr;
      switch (*p) {
        case 'A':
          if (!xf86pathIsAbsolute(cmdline)) return false;
          insert = cmdline;
          *cmdline_used = true;
          break;
        case 'R':
          if (cmdline == nullptr || xf86pathIsAbsolute(cmdline)) return false;
          insert = cmdline;
          *cmdline_used = true;
          break;
        case 'S':
          if (!xf86pathIsSafe(cmdline)) return false;
          insert = cmdline;
          *cmdline_used = true;
          break;
        case 'X':
          insert = filename;
          break;
        case 'H':
          insert = env.host ? env.host->c_str() : "";
          break;
        case 'E':
          if (!xf86pathIsAbsolute(xorgconfig)) return false;
          insert = xorgconfig;
          *env_used = true;
          break;
        case 'F':
          if (xorgconfig == nullptr || xf86pathIsAbsolute(xorgconfig)) return false;
          insert = xorgconfig;
          *env_used = true;
          break;
        case 'G':
          if (!xf86pathIsSafe(xorgconfig)) return false;
          insert = xorgconfig;
          *env_used = true;
          break;
        case 'D':
          if (!env.home || !xf86pathIsAbsolute(env.home->c_str())) return false;
          insert = env.home->c_str();
          break;
        case 'P':
          if (!xf86pathIsAbsolute(projroot)) return false;
          insert = projroot;
          break;
        case 'M':
          insert = kServerMajorVersion;
          break;
        case '%':
          insert = "%";
          break;
        default:
          ErrorF("invalid escape %%%c found in path template\n", *p);
          return false;
      }
      out->append(insert);
    }
    if (out->size() > kMaxPathLength) return false;
    if (*p == '\0') break;
  }
  return true;
}

namespace {

FILE* SearchPass(const char* templates, const char* cmdline, const char* projroot,
                 const char* filename, std::string* found) {
  std::string list(templates);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string templ = list.substr(start, comma - start);
    start = comma + 1;
    bool cmdline_used = false;
    bool env_used = false;
    std::string path;
    if (templ.empty() || !xconf::DoSubstitution(templ.c_str(), cmdline, projroot,
                                                &cmdline_used, &env_used, filename, &path))
      continue;
    // A name given by the caller is only found through the templates that use it.
    if (cmdline != nullptr && !cmdline_used) continue;
    FILE* file = std::fopen(path.c_str(), "re");
    if (file != nullptr) {
      *found = path;
      return file;
    }
  }
  return nullptr;
}

std::string g_open_path;

}  // namespace

const char* xf86openConfigFile(const char* templates, const char* cmdline, const char* projroot) {
  if (templates == nullptr || *templates == '\0') templates = kDefaultSearchPath;
  xconf::ScannerClose();
  std::string found;
  FILE* file = SearchPass(templates, cmdline, projroot, "xorg.conf", &found);
  if (file == nullptr) file = SearchPass(templates, cmdline, projroot, "XF86Config", &found);
  if (file == nullptr) {
    xconf::ScannerReset(nullptr, nullptr, "");
    return nullptr;
  }
  g_open_path = found;
  xconf::ScannerReset(file, nullptr, g_open_path.c_str());
  return g_open_path.c_str();
}
