// Recording stand-ins on PATH: small shell scripts named after the commands
// a tool runs, each noting its call in a log before doing its job.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "tools/testsupport/files.h"

namespace tools_test {

// How a stand-in notes its call: the command and its words on one line, or
// the command's name and then each argument as "  [arg]" on a line of its own.
enum class CallLog { kOneLine, kArgumentPerLine };

// Writes the stand-in `bin`/`name`: it appends its call to `log`, then runs `body`.
inline void WriteStandIn(const std::string& bin, const std::string& name, const std::string& log,
                         CallLog style, const std::string& body) {
  const std::string record =
      style == CallLog::kOneLine
          ? "echo \"$(basename \"$0\") $*\" >> '" + log + "'"
          : "{ echo \"$(basename \"$0\")\"; for a in \"$@\"; do echo \"  [$a]\"; done; } >> '" + log + "'";
  const std::string path = bin + "/" + name;
  WriteFile(path, "#!/bin/sh\n" + record + "\n" + body + "\n");
  chmod(path.c_str(), 0755);
}

// Puts `bin` in front of PATH; answers the PATH it replaced.
inline std::string PrependToPath(const std::string& bin) {
  const char* old = std::getenv("PATH");
  std::string previous = old != nullptr ? old : "";
  setenv("PATH", (bin + ":" + previous).c_str(), 1);
  return previous;
}

}  // namespace tools_test
