// Runs an installed program for a test that holds the library against an
// independent oracle (edid-decode, cvt, gtf, the suite's own test programs).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace hwtest {

// The path of a program on PATH (or the path itself when it holds a '/'),
// empty when there is none.
inline std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

struct ToolResult {
  int exitCode = -1;
  std::string output;  // standard output
};

// Runs argv[0] (found on PATH) with the arguments; standard error is
// discarded. posix_spawn keeps this cheap from a large sanitized process.
inline ToolResult RunTool(const std::vector<std::string>& argv) {
  ToolResult result;
  const std::string program = FindProgram(argv.at(0));
  if (program.empty()) return result;
  int out[2];
  if (pipe(out) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char chunk[4096];
  ssize_t n = 0;
  while ((n = read(out[0], chunk, sizeof(chunk))) > 0) result.output.append(chunk, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

}  // namespace hwtest
