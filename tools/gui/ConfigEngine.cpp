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
// Why the last write in a child failed.
std::string s_writeFailure;

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
    // The answer, then why a write failed.
    std::string reply(reinterpret_cast<const char*>(&value), sizeof value);
    if (value == kErrWritePermission) reply += WriteFailureReason();
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
  if (answerBytes.size() >= sizeof(int) && value != kErrConfigRefused) {
    *answer = value;
    s_writeFailure = answerBytes.substr(sizeof(int));
    return true;
  }
  // The leak checker's report of the ended child is not the library's.
  size_t cut = errorText.find("\n=====");
  if (cut != std::string::npos) errorText.resize(cut);
  if (errorText.rfind("=====", 0) == 0) errorText.clear();
  while (!errorText.empty() && (errorText.back() == '\n' || errorText.back() == '\t')) errorText.pop_back();
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
  // A write that failed says why after the library's message.
  if (code == kErrWritePermission && !s_writeFailure.empty())
    return ConfigEngine::ErrorText(code) + "\n" + s_writeFailure;
  return ConfigEngine::ErrorText(code);
}

int LibraryEngine::InitCore() {
  return Guarded([] { return InitCoreModule(); }) == kLibraryAborted ? kLibraryAborted : InitCoreModule();
}

int LibraryEngine::ProbeXConfig(XConfigSummary* summary) {
  int dry = Guarded([] {
    XConfigInfo info{};
    int r = ::ProbeXConfig(&info);
    FreeXConfigInfo(&info);
    return r;
  });
  if (dry == kLibraryAborted) return kLibraryAborted;
  XConfigInfo info{};
  int result = ::ProbeXConfig(&info);
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
  if (dry == kLibraryAborted) return;
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
