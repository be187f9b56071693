#include "tools/lib/ProbeReport.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "tools/lib/DriverInfo.h"
#include "tools/lib/carddb.h"
#include "tools/lib/error_codes.h"

const char* const s_dispMode[4] = {"disp_none", "merge", "independent", "xinerama"};
const char* const s_layout[4] = {"layout_none", "horizontal", "vertical", "square"};
const char* const s_rotate[3] = {"none", "cw", "ccw"};

namespace {

const char* Word(const char* const* table, int size, int index) {
  return index >= 0 && index < size ? table[index] : table[0];
}

const char* TrueFalse(int value) { return value ? "true" : "false"; }

int RotationCode(const char* word) {
  if (word == nullptr || *word == '\0') return kRotateNone;
  for (int i = 0; i < 3; ++i)
    if (strcasecmp(word, s_rotate[i]) == 0) return i;
  return kRotateNone;
}

// The current configuration read back with probing, and the board.
struct ProbeState {
  ParsedOpt parsed;
  std::optional<CardAttribute> board;
  // The whole path: the record's own field holds 99 characters only.
  std::string path;
  int result = kErrNone;

  ProbeState() { InitParsedOpt(&parsed); }
  ~ProbeState() { FreeParsedOpt(&parsed); }
  ProbeState(const ProbeState&) = delete;
  ProbeState& operator=(const ProbeState&) = delete;
};

void ReadState(ProbeState* state) {
  if (const char* found = xf86openConfigFile(kConfToolSearchPath, nullptr, nullptr)) {
    state->path = found;
    std::snprintf(state->parsed.path, sizeof state->parsed.path, "%s", found);
    XConfFile* config = xf86readConfigFile();
    xf86closeConfigFile();
    if (config == nullptr) {
      state->result = kErrParseConfig;
      return;
    }
    SetParsedOptFromConfig(&state->parsed, config, 0, 1);
    xf86freeConfig(config);
  } else {
    xf86closeConfigFile();
  }
  state->result = ProbePciBusId(state->board, state->parsed.busId, sizeof state->parsed.busId, 0);
  if (state->result != kErrNone && state->result != kErrOneCardOnly) return;
  if (!state->board) state->result = kErrNoCard;
}

void AddScreen(XConfigInfo* info, const ParsedOpt& parsed, const char* group, int index) {
  XConfigScreen screen{};
  std::snprintf(screen.group, sizeof screen.group, "%s", group);
  std::snprintf(screen.resolution, sizeof screen.resolution, "%s", parsed.resolution[index]);
  screen.refresh = parsed.refresh[index];
  screen.depth = parsed.depth[index];
  screen.rotation = RotationCode(parsed.rotation[index]);
  info->screens = PrivateListAppend(info->screens, &screen, sizeof screen, nullptr);
}

void AddScreens(XConfigInfo* info, const ParsedOpt& parsed, bool qlb) {
  const int n = parsed.screens;
  const bool separate = parsed.mode == kModeIndependent || parsed.mode == kModeXinerama;
  if (parsed.kvd) {
    if (qlb) {
      AddScreen(info, parsed, "1,2", 0);
    } else if (parsed.mode == kModeMerge && n == 4) {
      AddScreen(info, parsed, "1,2,3,4", 0);
    } else {
      AddScreen(info, parsed, "1,2", 0);
      if (n == 4) AddScreen(info, parsed, "3,4", 1);
    }
    return;
  }
  if (n == 1) {
    AddScreen(info, parsed, "1", 0);
  } else if (n == 2) {
    if (separate) {
      AddScreen(info, parsed, "1", 0);
      AddScreen(info, parsed, "2", 1);
    } else {
      AddScreen(info, parsed, "1,2", 0);
    }
  } else if (!qlb && n == 3) {
    AddScreen(info, parsed, "1,2,3", 0);
  } else if (!qlb && n == 4) {
    AddScreen(info, parsed, "1,2,3,4", 0);
  }
}

}  // namespace

void FreeXConfigInfo(XConfigInfo* info) {
  PrivateDeleteList(info->screens);
  PrivateDeleteList(info->modeLines);
  info->screens = info->modeLines = nullptr;
}

int ProbeXConfig(XConfigInfo* info) {
  ProbeState state;
  ReadState(&state);
  if (state.result == kErrParseConfig) return state.result;
  const ParsedOpt& parsed = state.parsed;

  std::snprintf(info->fileName, sizeof info->fileName, "%s", state.path.c_str());
  std::snprintf(info->busId, sizeof info->busId, "%s", parsed.busId);
  info->outputs = parsed.screens;
  info->layout = parsed.layout;
  info->mode = parsed.mode == kModeXinerama ? kModeIndependent : parsed.mode;
  info->board = 0;

  const bool qlb = state.board ? state.board->driver == kDriverQlb : parsed.family == 2;
  AddScreens(info, parsed, qlb);

  for (const ModeLineResolution* m = parsed.modeLines; m != nullptr; m = m->next) {
    UiModeLine line{};
    std::snprintf(line.name, sizeof line.name, "%s", m->name);
    line.clock = m->clock;
    CopyModeTimings(&line, *m);
    line.hpolarity = (m->flags & kModeFlagPHSync) ? kPolarityPositive : kPolarityNegative;
    line.vpolarity = (m->flags & kModeFlagPVSync) ? kPolarityPositive : kPolarityNegative;
    info->modeLines = PrivateListAppend(info->modeLines, &line, sizeof line, nullptr);
  }

  info->xinerama = parsed.mode == kModeXinerama;
  info->busMastering = parsed.busMastering;
  info->openGL = parsed.openGL;
  info->edid = parsed.edid;
  info->forceDigital = parsed.forceDigital;
  return state.result;
}

int ProbeCardInfoStruct(CardInfo* card) {
  ProbeState state;
  ReadState(&state);
  if (state.result != kErrNone && state.result != kErrOneCardOnly) return state.result;
  ProbeCardInfo(card, state.parsed.busId, *state.board);
  return state.result;
}

int ProbeSystem() {
  DriverInfo driver{};
  ProbeDriver(&driver);
  std::printf("[Driver]\n");
  std::printf("qlb %s\n", driver.qlbVersion);
  std::printf("orv %s\n", driver.orvVersion);
  std::printf("orv_kernel %s\n", TrueFalse(driver.kernelModuleInstalled));
  std::printf("\n");

  XConfigInfo info{};
  const int result = ProbeXConfig(&info);
  if (result != kErrNone && result != kErrOneCardOnly && result != kErrNoCard) return result;

  std::printf("[Xconfig]\n");
  std::printf("filename %s\n", info.fileName);
  std::printf("card %d %s\n", info.board, info.busId);
  std::printf("layout %d,%s,%s\n", info.outputs, Word(s_dispMode, 4, info.mode),
              Word(s_layout, 4, info.layout));
  for (PrivateList* node = info.screens; node != nullptr; node = node->next) {
    const auto* screen = static_cast<const XConfigScreen*>(node->Payload());
    std::printf("screen ");
    std::printf("%s ", screen->group);
    std::printf("\"%s\"@%d,%d,%s\n", screen->resolution, screen->refresh, screen->depth,
                Word(s_rotate, 3, screen->rotation));
  }
  std::printf("xinerama %s\n", TrueFalse(info.xinerama));
  std::printf("gl %s\n", TrueFalse(info.openGL));
  std::printf("bm %s\n", TrueFalse(info.busMastering));
  std::printf("edid %s\n", TrueFalse(info.edid));
  std::printf("dvi %s\n", TrueFalse(info.forceDigital));
  for (PrivateList* node = info.modeLines; node != nullptr; node = node->next) {
    const auto* line = static_cast<const UiModeLine*>(node->Payload());
    std::printf("ModeLine %s : clock = %f, hdisplay = %d, vdisplay = %d\n", line->name,
                line->clock, line->hdisplay, line->vdisplay);
  }
  std::printf("\n");
  FreeXConfigInfo(&info);
  if (result == kErrNoCard) return result;

  CardInfo card{};
  if (ProbeCardInfoStruct(&card) == kErrParseConfig) return kErrParseConfig;
  std::printf("[Card%d]\n", 0);
  std::printf("busid %s\n", card.busId);
  std::printf("name %s\n", card.name);
  std::printf("driver %s\n", card.driver);
  std::printf("kvd %s\n", TrueFalse(card.kvd));
  std::printf("gl %s\n", TrueFalse(card.openGL));
  for (int i = 0; i < kMaxOutputCounts && card.outputCounts[i] != -1; ++i)
    std::printf(i == 0 ? "output %d" : ",%d", card.outputCounts[i]);
  std::printf("\n");
  for (PrivateList* node = card.layouts; node != nullptr; node = node->next) {
    const auto* layout = static_cast<const CardLayout*>(node->Payload());
    std::printf("layout %d,%s,%s,%s\n", layout->outputsMinusOne + 1,
                Word(s_dispMode, 4, layout->mode), Word(s_layout, 4, layout->layout),
                TrueFalse(layout->rotation));
  }
  for (PrivateList* node = card.fallbackResolutions; node != nullptr; node = node->next) {
    const auto* mode = static_cast<const CardMonitorMode*>(node->Payload());
    if (mode->output == kAllOutputs) std::printf("Monitor %s \"%s\"@", "all", mode->resolution);
    else std::printf("Monitor %d \"%s\"@", mode->output + 1, mode->resolution);
    for (int i = 0; i < kMaxRefreshRates && mode->refresh[i] != -1; ++i)
      std::printf(i == 0 ? "%d" : ",%d", mode->refresh[i]);
    std::printf("\n");
  }
  FreeCardInfo(&card);
  return result;
}
