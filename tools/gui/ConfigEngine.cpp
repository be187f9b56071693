#include "tools/gui/ConfigEngine.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "tools/gui/support.h"
#include "tools/lib/ConfigFileGenerator.h"
#include "tools/lib/Probe.h"
#include "tools/lib/carddb.h"

namespace {
ConfigEngine* s_engine = nullptr;
}

void SetConfigEngine(ConfigEngine* engine) { s_engine = engine; }

ConfigEngine& GetConfigEngine() {
  GUI_ASSERT(s_engine != nullptr);
  return *s_engine;
}

namespace {

std::string s_failure;
// What the reader said of a configuration file that did not parse.
std::string s_parseFailure;
// Why the last write in a child failed, and whether for want of permission.
std::string s_writeFailure;
bool s_writePermission = true;
// Whether the last call in a child refused the configuration file (and so
// answered no value).
bool s_refused = false;

// The library's messages after the leak checker's report of an ended child
// is cut off and the line ends trimmed.
std::string LibraryText(std::string text) {
  const size_t cut = text.find("\n=====");
  if (cut != std::string::npos) text.resize(cut);
  if (text.rfind("=====", 0) == 0) text.clear();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\t')) text.pop_back();
  return text;
}

// Keeps the standard error stream quiet while a library call that already
// ran in a child runs again here: what it says was taken from the child.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      dup2(null, STDERR_FILENO);
      close(null);
    }
  }
  ~QuietStderr() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      dup2(saved_, STDERR_FILENO);
      close(saved_);
    }
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

std::string ReadAll(int fd) {
  std::string text;
  char block[4096];
  for (;;) {
    ssize_t n = read(fd, block, sizeof block);
    if (n > 0) {
      text.append(block, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return text;
}

// Runs `fn` in a child. True with its answer when it returned; false with
// the child's error output when the library ended the process or refused
// the configuration file.
bool RunInChild(const std::function<int()>& fn, int* answer) {
  int result[2], errors[2];
  if (pipe2(result, O_CLOEXEC) != 0) return false;
  if (pipe2(errors, O_CLOEXEC) != 0) {
    close(result[0]);
    close(result[1]);
    return false;
  }
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(result[0]);
    close(errors[0]);
    dup2(errors[1], STDERR_FILENO);
    int value = fn();
    std::fflush(nullptr);
    // The answer, then for a failed write whether it was for want of
    // permission and why.
    std::string reply(reinterpret_cast<const char*>(&value), sizeof value);
    if (value == kErrWritePermission) reply += (WriteFailureIsPermission() ? "p" : "o") + WriteFailureReason();
    for (size_t at = 0; at < reply.size();) {
      const ssize_t n = write(result[1], reply.data() + at, reply.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(result[1]);
  close(errors[1]);
  std::string answerBytes = pid > 0 ? ReadAll(result[0]) : std::string();
  std::string errorText = pid > 0 ? ReadAll(errors[0]) : std::string();
  close(result[0]);
  close(errors[0]);
  if (pid < 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // A refused configuration file is reported like an ended call: by what
  // the library printed.
  int value = 0;
  if (answerBytes.size() >= sizeof(int)) std::memcpy(&value, answerBytes.data(), sizeof(int));
  s_refused = answerBytes.size() >= sizeof(int) && value == kErrConfigRefused;
  if (answerBytes.size() >= sizeof(int) && value != kErrConfigRefused) {
    *answer = value;
    if (value == kErrParseConfig) s_parseFailure = LibraryText(errorText);
    const std::string write = answerBytes.substr(sizeof(int));
    s_writePermission = write.empty() || write[0] == 'p';
    s_writeFailure = write.empty() ? std::string() : write.substr(1);
    return true;
  }
  errorText = LibraryText(errorText);
  s_failure = errorText.empty() ? "The configuration library stopped." : errorText;
  return false;
}

int Guarded(const std::function<int()>& fn) {
  int answer = 0;
  return RunInChild(fn, &answer) ? answer : kLibraryAborted;
}

}  // namespace

const std::string& LibraryFailureText() { return s_failure; }

std::string LibraryEngine::ErrorText(int code) {
  if (code == kLibraryAborted) return s_failure;
  // A write that failed says why after the library's message, or alone
  // when it failed for another cause than permission (a full disk).
  if (code == kErrWritePermission && !s_writeFailure.empty())
    return s_writePermission ? ConfigEngine::ErrorText(code) + "\n" + s_writeFailure : s_writeFailure;
  // A file that did not parse is named with the line and what is wrong.
  if (code == kErrParseConfig && !s_parseFailure.empty())
    return ConfigEngine::ErrorText(code) + "\n" + s_parseFailure;
  return ConfigEngine::ErrorText(code);
}

int LibraryEngine::InitCore() {
  // A new round of calls: what an earlier one said is no longer news.
  s_failure.clear();
  s_parseFailure.clear();
  return Guarded([] { return InitCoreModule(); }) == kLibraryAborted ? kLibraryAborted : InitCoreModule();
}

int LibraryEngine::ProbeXConfig(XConfigSummary* summary) {
  int dry = Guarded([] {
    XConfigInfo info{};
    int r = ::ProbeXConfig(&info);
    FreeXConfigInfo(&info);
    return r;
  });
  // A refused file is still named in the summary, as the file to write.
  const bool refused = dry == kLibraryAborted && s_refused;
  if (dry == kLibraryAborted && !refused) return kLibraryAborted;
  XConfigInfo info{};
  int result;
  {
    QuietStderr quiet;
    result = ::ProbeXConfig(&info);
  }
  if (refused) result = kLibraryAborted;
  *summary = XConfigSummary{};
  summary->fileName = info.fileName;
  summary->busId = info.busId;
  summary->outputs = info.outputs;
  summary->boardIndex = info.board;
  summary->layout = info.layout;
  summary->mode = info.mode;
  summary->xinerama = info.xinerama;
  summary->busMastering = info.busMastering;
  summary->openGL = info.openGL;
  summary->useEdid = info.edid;
  summary->forceDvi = info.forceDigital;
  for (PrivateList* n = info.screens; n != nullptr; n = n->next) {
    auto* s = static_cast<const XConfigScreen*>(n->Payload());
    summary->screens.push_back({s->group, s->resolution, s->refresh, s->depth, static_cast<uint32_t>(s->rotation)});
  }
  for (PrivateList* n = info.modeLines; n != nullptr; n = n->next)
    summary->modeLines.push_back(*static_cast<const UiModeLine*>(n->Payload()));
  FreeXConfigInfo(&info);
  return result;
}

void LibraryEngine::ProbeCard(CardInfo* card) {
  int dry = Guarded([] {
    CardInfo probe{};
    int r = ProbeCardInfoStruct(&probe);
    FreeCardInfo(&probe);
    return r;
  });
  // The board is on the bus whatever the configuration file says: a file
  // the library refused still lets the board be probed.
  if (dry == kLibraryAborted && !s_refused) return;
  QuietStderr quiet;
  ProbeCardInfoStruct(card);
}

void LibraryEngine::ProbeDrivers(DriverInfo* info) { ProbeDriver(info); }

int LibraryEngine::UpdateConfigFile(const UserSelection& selection) {
  return Guarded([&selection] {
    UserSelection copy = selection;
    return ::UpdateConfigFile(&copy);
  });
}

int LibraryEngine::ClearModelines(const char* path) {
  return Guarded([path] { return ClearModelineFromConfig(path); });
}

int LibraryEngine::AddModelines(PrivateList* modeLines, const char* path) {
  if (modeLines == nullptr) return 0;
  return Guarded([modeLines, path] { return AddModelineToConfig(modeLines, path); });
}
