#include "tools/lib/Probe.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "core/chip_ids.h"
#include "core/orvcfg_records.h"
#include "tools/lib/DriverInfo.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/XCommInterface.h"
#include "tools/lib/carddb.h"
#include "tools/lib/pci.h"

namespace {

const char* const s_aszDriverType[] = {"unknown", "orv", "qlb"};

// Boards whose outputs cannot be stacked vertically as separate screens.
constexpr uint32_t kBoardIdNoVertical1 = 0xC0;
constexpr uint32_t kBoardIdNoVertical2 = 0x80;
constexpr int kMaxOutputs = kMaxOutputCounts - 1;

struct FallbackMode {
  const char* resolution;
  int32_t refresh[5];  // ended by -1
};

const FallbackMode kFallbackModes[] = {
    {"640x480", {60, 72, 75, 85, -1}},
    {"800x600", {60, 72, 75, 85, -1}},
    {"1024x768", {60, 70, 75, 85, -1}},
    {"1280x1024", {60, 75, 85, -1}},
    {"1600x1200", {60, 65, -1}},
};

// Matches a CardMonitorMode by output index (the key number) and text.
int CompareFind(const void* payload, const void* key, int output) {
  auto* mode = static_cast<const CardMonitorMode*>(payload);
  return mode->output == output && std::strcmp(mode->resolution, static_cast<const char*>(key)) == 0;
}

void AddRefresh(CardMonitorMode* mode, int32_t refresh) {
  int end = 0;
  while (end < kMaxRefreshRates && mode->refresh[end] != -1) ++end;
  // A full list keeps its rates; the end mark always stays.
  if (end >= kMaxRefreshRates - 1) return;
  mode->refresh[end] = refresh;
  mode->refresh[end + 1] = -1;
}

void AppendMonitorMode(PrivateList*& list, int32_t output, const char* resolution,
                       const int32_t* refresh) {
  CardMonitorMode mode{};
  mode.output = output;
  std::snprintf(mode.resolution, sizeof mode.resolution, "%s", resolution);
  int i = 0;
  for (; i < kMaxRefreshRates - 1 && refresh[i] != -1; ++i) mode.refresh[i] = refresh[i];
  mode.refresh[i] = -1;
  list = PrivateListAppend(list, &mode, sizeof mode, nullptr);
}

// The output counts the board allows: every n up to its outputs, even ones
// only on the quad-display series.
int OutputCounts(const CardAttribute& board, int32_t (&counts)[kMaxOutputCounts]) {
  int used = 0;
  for (int n = 1; n <= board.outputs && n <= kMaxOutputs; ++n) {
    if (board.kvd && (n & 1)) continue;
    counts[used++] = n;
  }
  counts[used] = -1;
  return used;
}

void AppendQlbLayouts(CardInfo* card, int n, bool kvd) {
  const int32_t f = kvd ? 0 : 1;
  AppendLayout(card, n - 1, kLayoutHorizontal, kDisplayMerge, f);
  if (n >= 2 && !kvd) {
    AppendLayout(card, n - 1, kLayoutVertical, kDisplayIndependent, f);
    AppendLayout(card, n - 1, kLayoutHorizontal, kDisplayIndependent, f);
  }
  if (n == 2) AppendLayout(card, n - 1, kLayoutVertical, kDisplayMerge, f);
}

void AppendOrvLayouts(CardInfo* card, int n, bool kvd, uint32_t boardId) {
  const int32_t f = (n <= 2 && !kvd) ? 1 : 0;
  const bool noVertical = boardId == kBoardIdNoVertical1 || boardId == kBoardIdNoVertical2;
  AppendLayout(card, n - 1, kLayoutHorizontal, kDisplayMerge, f);
  if (n < 2) return;
  if (!kvd && !noVertical) {
    AppendLayout(card, n - 1, kLayoutVertical, kDisplayIndependent, f);
    if (n == 2) {
      AppendLayout(card, n - 1, kLayoutHorizontal, kDisplayIndependent, f);
      AppendLayout(card, n - 1, kLayoutVertical, kDisplayMerge, f);
    }
  } else if (n == 4 && kvd) {
    AppendLayout(card, n - 1, kLayoutHorizontal, kDisplayIndependent, f);
  } else if (noVertical) {
    AppendLayout(card, n - 1, kLayoutHorizontal, kDisplayIndependent, f);
  }
  if (n == 4 && kvd) {
    AppendLayout(card, n - 1, kLayoutSquare, kDisplayMerge, f);
    AppendLayout(card, n - 1, kLayoutSquare, kDisplayIndependent, f);
  }
}

bool HasTiming(const ORVCFGVideoMode& mode) { return mode.ulPixClock != 0 && mode.ulHActive != 0; }

void AddMonitorModes(CardInfo* card) {
  if (!ORVCommIsORVCfgExtFound()) return;
  auto state = std::make_unique<ORVCFGOutputState>();
  for (int output = 0; output < ORVCFG_OUTPUT_COUNT; ++output) {
    *state = ORVCFGOutputState{};
    ORVCommGetOutputState(0, output, state.get());
    if (HasTiming(state->oPreferred)) {
      CardPreferredMode preferred{};
      preferred.output = output;
      ConvertORVCFGValidateOutputToUiModeLine(&preferred.mode, &state->oPreferred);
      int vendorLength = int(strnlen(state->szVendor, sizeof state->szVendor));
      std::snprintf(preferred.mode.name, sizeof preferred.mode.name, "%.*s_%dx%d@%d",
                    vendorLength, state->szVendor, preferred.mode.hdisplay,
                    preferred.mode.vdisplay, int(state->oPreferred.ulRefreshRate));
      card->preferredModes =
          PrivateListAppend(card->preferredModes, &preferred, sizeof preferred, nullptr);
    }
    for (const ORVCFGVideoMode& timing : state->aoEdidModes) {
      if (!HasTiming(timing)) continue;
      UiModeLine line{};
      ConvertORVCFGValidateOutputToUiModeLine(&line, &timing);
      char resolution[256];
      std::snprintf(resolution, sizeof resolution, "%dx%d", line.hdisplay, line.vdisplay);
      const int32_t refresh = int32_t(timing.ulRefreshRate);
      if (PrivateList* node = PrivateListFind(card->resolutions, resolution, output, CompareFind)) {
        AddRefresh(static_cast<CardMonitorMode*>(node->Payload()), refresh);
      } else {
        const int32_t rates[] = {refresh, -1};
        AppendMonitorMode(card->resolutions, output, resolution, rates);
      }
    }
  }
}

}  // namespace

int ProbePciBusId(std::optional<CardAttribute>& board, char* busId, size_t busIdSize, int force) {
  PciDeviceList* pci = PciAlloc();
  PciScan(pci);
  const PciDeviceRecord* chosen = nullptr;
  int found = 0;
  for (const PciDeviceRecord* rec = *pci; rec; rec = rec->next) {
    if (rec->classWord != kPciClassVga || rec->vendorId != kKestrionVendorId) continue;
    chosen = rec;  // the list is newest first: the kernel's first board wins
    ++found;
  }
  int result = found > 1 ? 3 : 0;
  if (chosen) {
    board = CardFindAttribute(chosen->subsysId);
    if (busId && busIdSize > 0 && (force || busId[0] == '\0'))
      std::snprintf(busId, busIdSize, "PCI:%d:%d:%d", chosen->bus, chosen->device,
                    chosen->function);
  }
  PciCleanup(pci);
  return result;
}

void AppendLayout(CardInfo* card, int32_t outputsMinusOne, int32_t layout, int32_t mode,
                  int32_t rotation) {
  const CardLayout entry{outputsMinusOne, layout, mode, rotation};
  card->layouts = PrivateListAppend(card->layouts, &entry, sizeof entry, nullptr);
}

void AppendCardSupportedVesaMode(CardInfo* card) {
  for (const FallbackMode& mode : kFallbackModes)
    AppendMonitorMode(card->fallbackResolutions, kAllOutputs, mode.resolution, mode.refresh);
}

void ProbeCardInfo(CardInfo* card, const char* busId, const CardAttribute& board) {
  card->layouts = card->resolutions = card->fallbackResolutions = card->preferredModes = nullptr;
  std::snprintf(card->busId, sizeof card->busId, "%s", busId ? busId : "");
  std::snprintf(card->name, sizeof card->name, "%.*s", int(strnlen(board.name, sizeof board.name)),
                board.name);
  const bool knownFamily = board.driver == kDriverOrv || board.driver == kDriverQlb;
  std::snprintf(card->driver, sizeof card->driver, "%s",
                s_aszDriverType[knownFamily ? board.driver : 0]);
  card->kvd = board.kvd;
  card->openGL = board.openGL;

  const int used = OutputCounts(board, card->outputCounts);
  for (int i = 0; i < used; ++i) {
    const int n = card->outputCounts[i];
    if (board.driver == kDriverQlb)
      AppendQlbLayouts(card, n, board.kvd != 0);
    else if (board.driver == kDriverOrv)
      AppendOrvLayouts(card, n, board.kvd != 0, board.boardId);
  }

  AddMonitorModes(card);
  AppendCardSupportedVesaMode(card);
}

void FreeCardInfo(CardInfo* card) {
  PrivateDeleteList(card->layouts);
  PrivateDeleteList(card->resolutions);
  PrivateDeleteList(card->fallbackResolutions);
  PrivateDeleteList(card->preferredModes);
  card->layouts = card->resolutions = card->fallbackResolutions = card->preferredModes = nullptr;
}

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
    const int read = SetParsedOptFromConfig(&state->parsed, config, 0, 1);
    xf86freeConfig(config);
    if (read != kErrNone) {
      state->result = read;
      return;
    }
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
  // A file that does not parse, or that the tools refuse, is still named:
  // it is the file a rewrite would go to.
  std::snprintf(info->fileName, sizeof info->fileName, "%s", state.path.c_str());
  if (state.result == kErrParseConfig || state.result == kErrConfigRefused) return state.result;
  const ParsedOpt& parsed = state.parsed;

  std::snprintf(info->busId, sizeof info->busId, "%s", parsed.busId);
  info->outputs = parsed.screens;
  info->layout = parsed.layout;
  info->mode = parsed.mode == kModeXinerama ? kModeIndependent : parsed.mode;
  info->board = 0;

  const bool qlb = state.board ? state.board->driver == kDriverQlb : parsed.family == 2;
  AddScreens(info, parsed, qlb);

  PrivateListTail modeLines(&info->modeLines);
  for (const ModeLineResolution* m = parsed.modeLines; m != nullptr; m = m->next) {
    UiModeLine line{};
    std::snprintf(line.name, sizeof line.name, "%s", m->name);
    line.clock = m->clock;
    CopyModeTimings(&line, *m);
    line.hpolarity = (m->flags & kModeFlagPHSync) ? kPolarityPositive : kPolarityNegative;
    line.vpolarity = (m->flags & kModeFlagPVSync) ? kPolarityPositive : kPolarityNegative;
    modeLines.Append(&line, sizeof line, nullptr);
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
  // A configuration file that does not parse, or that the tools refuse,
  // says nothing of the board on the bus: it is probed all the same, and
  // the file's failure is the answer.
  if (state.result == kErrParseConfig || state.result == kErrConfigRefused) {
    const int fileResult = state.result;
    const int bus = ProbePciBusId(state.board, state.parsed.busId, sizeof state.parsed.busId, 0);
    if ((bus == kErrNone || bus == kErrOneCardOnly) && state.board)
      ProbeCardInfo(card, state.parsed.busId, *state.board);
    return fileResult;
  }
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
  const int cardResult = ProbeCardInfoStruct(&card);
  if (cardResult == kErrParseConfig || cardResult == kErrConfigRefused) return cardResult;
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
