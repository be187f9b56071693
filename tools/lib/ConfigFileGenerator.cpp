#include "tools/lib/ConfigFileGenerator.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/lib/ErrorCodes.h"
#include "tools/lib/File.h"
#include "tools/lib/Log.h"
#include "tools/lib/parser/write.h"
#include "tools/lib/Probe.h"
#include "tools/lib/carddb.h"

int m_nbResolutionArgs = 0;
int m_nbRefreshArgs = 0;
int m_nbBppArgs = 0;
int m_nbRotateArgs = 0;

namespace {

// Why the last write of a configuration failed, and its errno.
std::string s_writeFailure;
int s_writeError = 0;
// Whether a write is announced on standard output.
bool s_announceWrites = true;

constexpr const char* kUseModesOverwrite = "OrvaneModeLine";
constexpr size_t kPathSize = 4096;
constexpr int kRefreshLowest = 60;
constexpr int kRefreshHighest = 100;

void CopyText(char* dest, size_t size, const char* text) {
  std::snprintf(dest, size, "%s", text != nullptr ? text : "");
}

void InitTarget(XConfigOpt* target) {
  *target = XConfigOpt{};
  target->family = 1;
  target->screens = 1;
  target->screenPosition = kToolRightOf;
  target->monitor2Position = kToolRightOf;
  for (int i = 0; i < kToolPanels; ++i) {
    target->depth[i] = 16;
    target->refresh[i] = 60;
  }
  CopyText(target->resolution[0], kToolTextSize, "1024x768");
  CopyText(target->resolution[1], kToolTextSize, "1024x768");
  target->busMastering = target->edid = target->openGL = 1;
  CopyText(target->metaModes, kToolTextSize, "1024x768-1024x768");
  CopyText(target->monitor2VRefresh, kToolTextSize, "60");
}

// Opens and reads the file given or found; 1 also for a given file that is
// missing, as there is nothing to change then.
int OpenForEdit(const char* given, XConfFile** config, std::string* path) {
  UserSelection selection{};
  selection.outputFile = given;
  if (given != nullptr) selection.presentFlags |= kSelOutputFile;
  char found[kPathSize] = {};
  int result = OpenXConfigFile(&selection, config, found, sizeof found);
  if (result != kErrNone) return result;
  if (*config == nullptr) return kErrNoConfigFile;
  *path = found;
  return kErrNone;
}

int SignedRate(uint32_t rate) { return rate == kRefreshNoValue ? -1 : int(rate); }

bool ValidDepth(int depth) { return depth == 8 || depth == 16 || depth == 24; }

int RuleCheck(const XConfigOpt& t, const UserSelection& sel,
              const std::optional<CardAttribute>& board, bool ratesGiven) {
  const int k = t.kvd;
  const int s = t.screens;
  const int n = sel.outputs;
  const int m = sel.mode;
  const int l = sel.layout;
  const bool single = m == kModeMerge || s != 2;
  if (k && t.family == 2) return kErrKvdWithQlb;
  // What the driver and the board can drive at all comes before the rules
  // of a mode: with more outputs than that, a message about rotation or a
  // second depth in "this mode" would not say what is wrong.
  if (n > 2 && t.family == 2) return kErrQlbOutputs;
  if (n > 4 && t.family == 1) return kErrOrvOutputs;
  if (sel.useCapabilities && board) {
    if (board->driver != t.family) return kErrDriverCapability;
    if (board->kvd != k) return kErrKvdCapability;
    if (board->openGL != t.openGL) return kErrGlCapability;
    if (n > board->outputs) return kErrOutputCapability;
  }
  if (m_nbBppArgs == 2 && single) return kErrOneBpp;
  if (m_nbRefreshArgs == 2 && single) return kErrOneRefresh;
  if (m_nbRotateArgs == 2 && single) return kErrOneRotate;
  if (m_nbResolutionArgs == 2 && single) return kErrOneResolution;
  if ((t.rotation[0] != kRotateNone || t.rotation[1] != kRotateNone) && !k && s > 2)
    return kErrRotateUnsupported;
  const int r0 = ratesGiven ? SignedRate(t.refresh[0]) : 60;
  const int r1 = ratesGiven ? SignedRate(t.refresh[1]) : 60;
  if (r0 == -1) {
    if (r1 > kRefreshHighest) return kErrRefreshTooHigh;
  } else if (r1 != -1) {
    if (r0 < kRefreshLowest || r1 < kRefreshLowest) return kErrRefreshTooLow;
    if (r0 > kRefreshHighest || r1 > kRefreshHighest) return kErrRefreshTooHigh;
  }
  if (k && (n & 1)) return kErrKvdOutputs;
  if (l == kToolLayoutSquare && !(k && n == 4)) return kErrSquareLayout;
  if (k && l == kToolLayoutVertical) return kErrVerticalLayout;
  if (!ValidDepth(t.depth[0]) || !ValidDepth(t.depth[1])) return kErrBpp;
  if (t.xinerama && t.depth[0] != t.depth[1]) return kErrXineramaBpp;
  return kErrNone;
}

// Two values, or the first one twice; answers how many were given.
template <typename T>
int TakePair(const T* given, T* out, bool secondEmpty) {
  out[0] = given[0];
  out[1] = secondEmpty ? given[0] : given[1];
  return secondEmpty ? 1 : 2;
}

}  // namespace

int GetRotateArgs(const char* word) {
  if (word == nullptr || *word == '\0' || strcasecmp(word, "none") == 0) return kRotateNone;
  if (strcasecmp(word, "cw") == 0) return kRotateCw;
  if (strcasecmp(word, "ccw") == 0) return kRotateCcw;
  ErrorF("invalid rotate parameter: %s.\n", word);
  std::exit(1);
}

void SetXConfigDispModeOption(XConfigOpt* target, int mode, int outputs) {
  // A later call replaces the multi-display options of an earlier one.
  target->mergedFB = target->spanThree = target->spanFour = 0;
  target->s3i = target->s4i = target->xinerama = 0;
  const bool kvd = target->kvd != 0;
  if (mode == kModeMerge) {
    // One desktop over every output is one Screen line, whatever the file
    // held before: a merge after an independent layout drops the others.
    target->screens = 1;
    if ((outputs == 2 && !kvd) || (outputs == 4 && kvd)) target->mergedFB = 1;
    else if (outputs == 3) target->spanThree = 1;
    else if (outputs == 4) target->spanFour = 1;
    return;
  }
  target->screens = kvd ? outputs / 2 : outputs;
  if (outputs == 3) target->s3i = 1;
  if (outputs == 4 && !kvd) target->s4i = 1;
  if (mode == kModeXinerama) target->xinerama = 1;
}

void SetXConfigLayout(XConfigOpt* target, int outputs, int layout) {
  target->layoutRewrite = 1;
  const bool kvd = target->kvd != 0;
  // Every layout sets the position, so a horizontal layout after a
  // vertical one puts the screens side by side again.
  const bool below = (layout == kToolLayoutVertical && !kvd) ||
                     (layout == kToolLayoutSquare && kvd && outputs == 4);
  target->screenPosition = below ? kToolBelow : kToolRightOf;
  target->monitor2Position = below ? kToolBelow : kToolRightOf;
}

int OpenXConfigFile(UserSelection* selection, XConfFile** config, char* path, size_t pathSize) {
  *config = nullptr;
  const char* given = (selection->presentFlags & kSelOutputFile) ? selection->outputFile : nullptr;
  if (given != nullptr && *given == '\0') given = nullptr;
  const char* found = xf86openConfigFile(kConfToolSearchPath, given, nullptr);
  if (found == nullptr) {
    selection->overwrite = 1;
    if (given == nullptr) return kErrNoConfigFile;
    CopyText(path, pathSize, given);
    return kErrNone;
  }
  CopyText(path, pathSize, found);
  *config = xf86readConfigFile();
  xf86closeConfigFile();
  return *config == nullptr ? kErrParseConfig : kErrNone;
}

int WriteToXConfigFile(const char* path, XConfFile* config) {
  if (path == nullptr || config == nullptr) {
    s_writeFailure = "no configuration file to write";
    s_writeError = 0;
    return kErrWritePermission;
  }
  if (!xconf::WriteConfigFileWith(path, config, WriteFileWithBackup)) {
    s_writeFailure = xconf::LastWriteFailure();
    s_writeError = xconf::LastWriteError();
    return kErrWritePermission;
  }
  s_writeFailure.clear();
  s_writeError = 0;
  if (!s_announceWrites) return kErrNone;
  std::printf("Writing config file to `%s'\n", path);
  if (!xconf::LastWriteNotice().empty()) std::printf("%s\n", xconf::LastWriteNotice().c_str());
  return kErrNone;
}

void SetWriteAnnouncement(bool on) { s_announceWrites = on; }

const std::string& WriteFailureReason() { return s_writeFailure; }

bool WriteFailureIsPermission() {
  return s_writeError == EACCES || s_writeError == EPERM || s_writeFailure.empty();
}

void ProbeXConfigPath(char* path, size_t pathSize) {
  const char* found = xf86openConfigFile(kConfToolSearchPath, nullptr, nullptr);
  CopyText(path, pathSize, found);
  xf86closeConfigFile();
}

bool ClearModeLine(XConfFile* config) {
  if (config == nullptr || config->layouts == nullptr) return false;
  XConfLayout* layout = config->layouts;
  bool changed = layout->inactives != nullptr;
  xf86freeInactiveList(layout->inactives);
  layout->inactives = nullptr;
  for (XConfAdjacency* a = layout->adjacencies; a != nullptr; a = a->next) {
    XConfScreen* screen = xf86findScreen(a->screen_name, config->screens);
    if (screen == nullptr || screen->monitor_name == nullptr) continue;
    XConfMonitor* monitor = xf86findMonitor(screen->monitor_name, config->monitors);
    if (monitor == nullptr || monitor->modes_links == nullptr) continue;
    XConfModes* modes = xf86findModes(monitor->modes_links->name, config->modes);
    if (modes == nullptr) continue;
    changed = changed || modes->modelines != nullptr;
    xf86freeModeLineList(modes->modelines);
    modes->modelines = nullptr;
  }
  return changed;
}

int AddModelineToConfig(PrivateList* modeLines, const char* path) {
  XConfFile* config = nullptr;
  std::string found;
  int result = OpenForEdit(path, &config, &found);
  if (result != kErrNone) return result;
  // A mode line whose name the file already has keeps the file's values;
  // when that is so of every one, the file is not rewritten.
  std::vector<std::string> kept;
  int added = 0;
  for (PrivateList* node = modeLines; node != nullptr; node = node->next) {
    const auto* line = static_cast<const UiModeLine*>(node->Payload());
    const int places = AppendSingleModeLineToConfig(line, config);
    if (places == 0) kept.push_back(line->name);
    added += places;
  }
  if (s_announceWrites) {
    for (const std::string& name : kept)
      std::printf("A modeline named `%s' already exists in `%s'; it was kept%s\n", name.c_str(),
                  found.c_str(), added == 0 ? " and the file is unchanged" : "");
  }
  result = added == 0 ? kErrNone : WriteToXConfigFile(found.c_str(), config);
  xf86freeConfig(config);
  return result;
}

int ClearModelineFromConfig(const char* path) {
  XConfFile* config = nullptr;
  std::string found;
  int result = OpenForEdit(path, &config, &found);
  if (result != kErrNone) return result;
  // Nothing to clear: the file stays as it is, byte for byte.
  if (!ClearModeLine(config)) {
    if (s_announceWrites) std::printf("No modeline to clear in `%s'; the file is unchanged\n", found.c_str());
    xf86freeConfig(config);
    return kErrNone;
  }
  result = WriteToXConfigFile(found.c_str(), config);
  xf86freeConfig(config);
  return result;
}

int UpdateConfigFile(UserSelection* sel) {
  XConfigOpt target;
  InitTarget(&target);
  ParsedOpt parsed;
  InitParsedOpt(&parsed);

  XConfFile* config = nullptr;
  char path[kPathSize] = {};
  int result = OpenXConfigFile(sel, &config, path, sizeof path);
  if (result != kErrNone) return result;
  // A given file that does not exist leaves nothing to merge into.
  if (config == nullptr) return kErrNoConfigFile;
  CopyText(parsed.path, sizeof parsed.path, path);

  struct Cleanup {
    XConfFile* config;
    ParsedOpt* parsed;
    ~Cleanup() {
      xf86freeConfig(config);
      FreeParsedOpt(parsed);
    }
  } cleanup{config, &parsed};

  const int read = SetParsedOptFromConfig(&parsed, config, sel->overwrite, 0);
  if (read != kErrNone) return read;
  if (sel->overwrite) AppendUseModeList(&parsed.useModes, kUseModesOverwrite);
  if (parsed.useModes != nullptr && parsed.useModes->next != nullptr &&
      std::strcmp(parsed.useModes->name, parsed.useModes->next->name) != 0)
    return kErrTwoModesSections;

  // Without a board on the bus the layout asked for is written all the same;
  // only the checks against the board are skipped.
  std::optional<CardAttribute> board;
  ProbePciBusId(board, parsed.busId, sizeof parsed.busId, sel->overwrite);

  if (!(sel->presentFlags & kSelOutputs) && board && board->kvd && (parsed.screens & 1)) {
    sel->outputs = parsed.screens + 1;
    sel->presentFlags |= kSelOutputs;
  }

  target.screens = parsed.layoutScreens;
  target.edid = parsed.edid;
  target.kvd = parsed.kvd;
  target.family = parsed.family;
  target.busMastering = parsed.busMastering;
  target.forceDigital = parsed.forceDigital;
  target.openGL = parsed.openGL;
  for (int i = 0; i < 2; ++i) {
    target.depth[i] = parsed.depth[i];
    target.rotation[i] = GetRotateArgs(parsed.rotation[i]);
  }
  CopyText(target.metaModes, kToolTextSize, parsed.metaModes);
  CopyText(target.monitor2VRefresh, kToolTextSize, parsed.monitor2VRefresh);
  if (board) target.kvd = board->kvd;

  if (sel->overwrite && sel->useCapabilities && board) {
    sel->family = board->driver == kDriverQlb ? 2 : 1;
    sel->kvd = board->kvd;
    sel->openGL = board->openGL;
    if (sel->outputs > board->outputs) sel->outputs = board->outputs;
    sel->presentFlags |= kSelFromBoard;
  }

  if (sel->presentFlags & kSelOutputs) {
    if (!(sel->presentFlags & kSelMode)) SetXConfigDispModeOption(&target, parsed.mode, sel->outputs);
    SetXConfigLayout(&target, sel->outputs, parsed.layout);
  } else {
    sel->outputs = parsed.screens;
    // The file's mode and layout stand in for the ones not given; a given
    // one is never dropped.
    if (!sel->overwrite) {
      if (!(sel->presentFlags & kSelMode)) sel->mode = parsed.mode;
      if (!(sel->presentFlags & kSelLayout)) sel->layout = parsed.layout;
    }
    SetXConfigDispModeOption(&target, sel->mode, sel->outputs);
    SetXConfigLayout(&target, sel->outputs, sel->layout);
  }

  const uint32_t f = sel->presentFlags;
  if (f & kSelFamily) {
    target.family = sel->family;
    if (sel->family == 2 && !sel->useCapabilities) target.kvd = 0;
  }
  if (f & kSelKvd) target.kvd = sel->kvd;
  if (f & kSelBusMastering) {
    target.busMastering = sel->busMastering;
    if (!sel->busMastering) target.openGL = 0;
  }
  if (f & kSelOpenGL) target.openGL = sel->openGL;
  if (f & kSelEdid) target.edid = sel->edid;
  if (f & kSelForceDigital) target.forceDigital = sel->forceDigital;
  if (f & kSelMode) SetXConfigDispModeOption(&target, sel->mode, sel->outputs);
  if (f & kSelLayout) SetXConfigLayout(&target, sel->outputs, sel->layout);

  if (f & kSelResolution) {
    if (sel->resolution[1][0] == '\0') {
      CopyText(sel->resolution[1], kToolTextSize, sel->resolution[0]);
      m_nbResolutionArgs = 1;
    } else {
      m_nbResolutionArgs = 2;
    }
    CopyText(target.resolution[0], kToolTextSize, sel->resolution[0]);
    CopyText(target.resolution[1], kToolTextSize, sel->resolution[1]);
    const std::string metaModes = std::string(sel->resolution[0]) + "-" + sel->resolution[0];
    CopyText(target.metaModes, kToolTextSize, metaModes.c_str());
    target.resolutionGiven = 1;
  }
  if (f & kSelRefresh) {
    m_nbRefreshArgs = TakePair(sel->refresh, target.refresh, sel->refresh[1] == 0);
    sel->refresh[1] = target.refresh[1];
    if (target.refresh[0] == kRefreshNoValue || target.refresh[1] == kRefreshNoValue)
      std::snprintf(target.monitor2VRefresh, kToolTextSize, "%u-%u", 60u, 90u);
    else
      std::snprintf(target.monitor2VRefresh, kToolTextSize, "%u-%u", target.refresh[0],
                    target.refresh[1]);
    target.refreshGiven = 1;
  }
  if (f & kSelDepth) {
    uint32_t depths[2];
    m_nbBppArgs = TakePair(sel->depth, depths, sel->depth[1] == 0);
    sel->depth[1] = depths[1];
    target.depth[0] = int32_t(depths[0]);
    target.depth[1] = int32_t(depths[1]);
  }
  if (f & kSelRotation) {
    m_nbRotateArgs = TakePair(sel->rotation, target.rotation, sel->rotation[1] == 0);
    sel->rotation[1] = target.rotation[1];
  }
  if (parsed.busId[0] != '\0')
    for (auto& busId : target.busId) CopyText(busId, kToolTextSize, parsed.busId);
  target.useModes = parsed.useModes;
  target.strippedComments = &parsed.strippedComments;

  result = RuleCheck(target, *sel, board, (f & kSelRefresh) != 0);
  if (result != kErrNone) return result;

  SetConfigFromXConfigOpt(&target, config);
  return WriteToXConfigFile(path, config);
}
