#include "tools/lib/Probe.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/chip_ids.h"
#include "platform/orvcfg/orvcfg_records.h"
#include "tools/lib/XCommInterface.h"
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
