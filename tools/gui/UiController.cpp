#include "tools/gui/UiController.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/ModeLineCollector.h"
#include "tools/gui/ProbeInfo.h"
#include "tools/gui/support.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/XCommInterface.h"
#include "tools/lib/XValidationInterface.h"

namespace {

struct DisplayMode {
  uint32_t topology;
  uint32_t agglutination;
  uint32_t numOutput;  // index: 0 = one output
};

struct DispInfo {
  char resolution[256];
  char bpp[256];
  uint32_t pivot;
  char refreshRate[256];
};

struct DisplayStatus {
  bool enabled[2];
  bool panel1Initialised;
};

struct Permissions {
  bool layout[4];
  bool mode[4];
  bool rotation[4][4];
};

constexpr int kNoPanel = -1;
// The output whose monitor uses the board's digital output type.
constexpr int kDigitalOutputType = 2;
constexpr int kDefaultPairWidth = 1024;
// Signals re-enter the setters; a chain deeper than this is a loop.
constexpr int kMaxSetterDepth = 24;

// The extension client behind the rules.
class ExtensionQueries : public BoardQueries {
 public:
  bool IsMonitorWithEdid(int output) override { return ORVCommIsMonitorContainsEdid(0, output); }
  bool IsDviResolutionLimited() override { return ORVCommIsBoardDVIResolutionLimited(0); }
  int OutputType(int output) override { return XValidGetOutputType(output); }
  bool IsModeAcceptedByEdid(int output, int width, int height, int refresh) override {
    UiModeLine mode{};
    XValidFindModeLine(0, width, height, refresh, &mode);
    return XValidValidateModeLineEDID(output, &mode) != 0;
  }
  bool IsModeLineAcceptedByEdid(int output, const UiModeLine& mode) override {
    return XValidValidateModeLineEDID(output, &mode) != 0;
  }
};

ExtensionQueries s_extensionQueries;

// oDisplayMode: layout, multi-display mode and output-count index.
DisplayMode oDisplayMode{};
// oDispInfo: panel 0 edits displays "1 and 2", panel 1 displays "3 and 4"
// (or display "2" on a two-output board).
DispInfo oDispInfo[2]{};
DisplayStatus oDisplayStatus{};
// The resolution last chosen on each panel (by the user or from the file).
// A list rebuilt for another display count may lack it, and the combo then
// shows another entry; the choice is selected again once it is offered.
std::string s_chosenResolution[2];
// Set while the rebuilt lists are selected again: what the combos then pick
// is no choice.
bool s_reselecting = false;
Permissions oPermissions{};
CardInfo* poSelectedCard = nullptr;
// oDisplay: the panel whose combos edit each output 0-3.
int oDisplay[4] = {kNoPanel, kNoPanel, kNoPanel, kNoPanel};
// The resolutions behind panel 0 and panel 1.
std::vector<UiMonitor> oResolutionList1;
std::vector<UiMonitor> oResolutionList2;
MainView* s_view = nullptr;
BoardQueries* s_queries = &s_extensionQueries;
PreviewHooks s_preview;
// Setter calls in progress, so that a signal re-entering a setter with the
// very value it is handling stops there.
std::vector<std::string> s_activeSetters;

std::vector<UiMonitor>& ResolutionList(int panel) {
  return (panel & 1) == 0 ? oResolutionList1 : oResolutionList2;
}

// Enters a setter unless the same call is already running further up.
class SetterScope {
 public:
  explicit SetterScope(std::string key) : key_(std::move(key)) {
    for (const std::string& k : s_activeSetters)
      if (k == key_) return;
    if (s_activeSetters.size() >= kMaxSetterDepth) return;
    s_activeSetters.push_back(key_);
    entered_ = true;
  }
  ~SetterScope() {
    if (entered_) s_activeSetters.pop_back();
  }
  SetterScope(const SetterScope&) = delete;
  SetterScope& operator=(const SetterScope&) = delete;
  bool Entered() const { return entered_; }

 private:
  std::string key_;
  bool entered_ = false;
};

std::string Key(const char* setter, int panel, const char* value) {
  return std::string(setter) + '/' + std::to_string(panel) + '/' + value;
}

MainView& View() {
  GUI_ASSERT(s_view != nullptr);
  return *s_view;
}

bool IsKvd() { return poSelectedCard != nullptr && poSelectedCard->kvd != 0; }
uint32_t Count() { return oDisplayMode.numOutput; }
uint32_t Mode() { return oDisplayMode.agglutination; }
uint32_t Layout() { return oDisplayMode.topology; }
bool InRange(uint32_t v) { return v >= 1 && v <= 3; }

void CopyText(char* dest, const char* text) {
  std::snprintf(dest, 256, "%s", text != nullptr ? text : "");
}

int WidthOf(const char* text) {
  if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return 0;
  return std::atoi(text);
}

int HeightOf(const char* text) {
  const char* x = std::strchr(text, 'x');
  return x != nullptr ? std::atoi(x + 1) : 0;
}

std::vector<int> RatesOf(const UiMonitor& m) {
  std::vector<int> rates;
  for (int i = 0; i < kMaxRefreshRates && m.mode.refresh[i] != -1; ++i) rates.push_back(m.mode.refresh[i]);
  return rates;
}

const UiMonitor* FindInList(int panel, const char* text) {
  for (const UiMonitor& m : ResolutionList(panel))
    if (std::strcmp(m.mode.resolution, text) == 0) return &m;
  return nullptr;
}

bool OffersRate(const UiMonitor& m, int rate) {
  for (int r : RatesOf(m))
    if (r == rate) return true;
  return false;
}

void Redraw() { View().RedrawPreview(); }

void UpdateComboBoxRouting() {
  for (int& r : oDisplay) r = kNoPanel;
  const bool merge = Mode() == kAggMerge;
  const uint32_t count = Count();
  if (!IsKvd() && !merge && count == 1) {
    oDisplay[0] = 0;
    oDisplay[1] = 1;
  } else if (IsKvd() && !merge) {
    oDisplay[0] = oDisplay[1] = 0;
    if (count == 3) oDisplay[2] = oDisplay[3] = 1;
  } else {
    for (uint32_t o = 0; o <= count && o < 4; ++o) oDisplay[o] = 0;
  }
}

// The rotation combo routed to `output`: usable when rotation is allowed,
// else back to "none".
void UpdateRotationCombo(uint32_t output, bool allowed) {
  int panel = output < 4 ? oDisplay[output] : kNoPanel;
  if (panel == kNoPanel) return;
  View().SetComboSensitive(panel, PanelCombo::kRotation, allowed);
  if (!allowed) View().SetRotationItem(panel, 0);
}

void UpdateLayoutPermission() {
  Permissions& p = oPermissions;
  p = Permissions{};
  if (poSelectedCard == nullptr) return;
  std::vector<CardLayout> entries;
  for (PrivateList* n = poSelectedCard->layouts; n != nullptr; n = n->next) {
    auto* l = static_cast<const CardLayout*>(n->Payload());
    if (l->outputsMinusOne == static_cast<int32_t>(Count())) entries.push_back(*l);
  }
  for (const CardLayout& l : entries)
    if (InRange(static_cast<uint32_t>(l.layout))) p.layout[l.layout] = true;

  if (!entries.empty() && !(InRange(Layout()) && p.layout[Layout()])) {
    for (uint32_t layout = 1; layout <= 3; ++layout) {
      if (!p.layout[layout]) continue;
      oDisplayMode.topology = layout;
      View().SetLayoutRadioActive(layout);
      oDisplayMode.topology = layout;
      break;
    }
  }
  for (const CardLayout& l : entries) {
    if (static_cast<uint32_t>(l.layout) != Layout() || !InRange(static_cast<uint32_t>(l.mode))) continue;
    p.mode[l.mode] = true;
    p.rotation[l.layout][l.mode] = l.rotation != 0;
    if (l.mode == kAggIndependent) {
      p.mode[kAggXinerama] = true;
      p.rotation[l.layout][kAggXinerama] = l.rotation != 0;
    }
  }
  if (!entries.empty() && !(InRange(Mode()) && p.mode[Mode()])) {
    for (uint32_t mode = 1; mode <= 3; ++mode) {
      if (!p.mode[mode]) continue;
      oDisplayMode.agglutination = mode;
      View().SetModeRadioActive(mode);
      oDisplayMode.agglutination = mode;
      break;
    }
  }
  for (uint32_t layout = 1; layout <= 3; ++layout) View().SetLayoutRadioSensitive(layout, p.layout[layout]);
  for (uint32_t mode = 1; mode <= 3; ++mode)
    View().SetModeRadioSensitive(mode, InRange(Layout()) && p.layout[Layout()] && p.mode[mode]);

  const bool allowed = IsRotationAllowedCtrl();
  UpdateRotationCombo(Count(), allowed);
  if (IsKvd() && Count() == 3) UpdateRotationCombo(1, allowed);
  if ((IsKvd() && Count() == 1) || (!IsKvd() && Count() == 1 && Mode() != kAggMerge))
    UpdateRotationCombo(0, allowed);
}

std::string AllDisplaysTitle(uint32_t count) {
  std::string title = "1";
  for (uint32_t n = 2; n <= count + 1; ++n) {
    title += n == count + 1 ? " and " : ",";
    title += std::to_string(n);
  }
  return title;
}

void UpdateDisplayPanelTitle() {
  oDisplayStatus.enabled[0] = oDisplayStatus.enabled[1] = false;
  const bool merge = Mode() == kAggMerge;
  if (!IsKvd() && !merge && Count() == 1) {
    View().SetPanelTitle(0, "1", true);
    View().SetPanelTitle(1, "2", true);
    oDisplayStatus.enabled[0] = oDisplayStatus.enabled[1] = true;
  } else if (IsKvd() && !merge) {
    View().SetPanelTitle(0, "1 and 2", true);
    oDisplayStatus.enabled[0] = true;
    if (Count() == 3) {
      View().SetPanelTitle(1, "3 and 4", true);
      oDisplayStatus.enabled[1] = true;
    } else {
      View().SetPanelTitle(1, "", true);
    }
  } else {
    View().SetPanelTitle(0, AllDisplaysTitle(Count()).c_str(), true);
    oDisplayStatus.enabled[0] = true;
    View().SetPanelTitle(1, "", false);
  }
}

void AddResolutionToList(int output, const UiMonitor& m) {
  const bool merge = Mode() == kAggMerge;
  if (output == kAllOutputs) {
    ResolutionList(0).push_back(m);
    ResolutionList(1).push_back(m);
  } else if (IsKvd() && !merge) {
    ResolutionList(0).push_back(m);
    if (output == 2 || output == 3) ResolutionList(1).push_back(m);
  } else if (output == 1 && Count() == 1 && !merge) {
    ResolutionList(1).push_back(m);
  } else {
    ResolutionList(0).push_back(m);
  }
}

UiMonitor ModeLineMonitor(int output, const char* name, int32_t preferred) {
  UiMonitor m{};
  m.mode.output = output;
  CopyText(m.mode.resolution, name);
  m.mode.refresh[0] = -1;
  m.preferred = preferred;
  return m;
}

void ValidateListWithOutput(int panel, int output) {
  BoardQueries& q = *s_queries;
  if (!q.IsMonitorWithEdid(output)) return;
  std::vector<UiMonitor> kept;
  for (UiMonitor m : ResolutionList(panel)) {
    std::vector<int> rates = RatesOf(m);
    if (rates.empty()) {
      const UiModeLine* line = FindMatchingModeLine(m.mode.resolution);
      if (line == nullptr || q.IsModeLineAcceptedByEdid(output, *line)) kept.push_back(m);
      continue;
    }
    int w = WidthOf(m.mode.resolution), h = HeightOf(m.mode.resolution);
    int n = 0;
    for (int rate : rates)
      if (q.IsModeAcceptedByEdid(output, w, h, rate)) m.mode.refresh[n++] = rate;
    if (n == 0) continue;
    if (n < kMaxRefreshRates) m.mode.refresh[n] = -1;
    kept.push_back(m);
  }
  ResolutionList(panel) = kept;
}

void ValidateResolutionList() {
  const bool merge = Mode() == kAggMerge;
  if (IsKvd() && !merge) {
    ValidateListWithOutput(0, 0);
    ValidateListWithOutput(0, 1);
    if (Count() == 3) {
      ValidateListWithOutput(1, 2);
      ValidateListWithOutput(1, 3);
    }
  } else if (Count() == 1 && !merge) {
    ValidateListWithOutput(0, 0);
    ValidateListWithOutput(1, 1);
  } else {
    for (uint32_t o = 0; o <= Count() && o < 4; ++o) ValidateListWithOutput(0, static_cast<int>(o));
  }
}

void FillResolution() {
  ResolutionList(0).clear();
  ResolutionList(1).clear();
  View().ClearCombo(0, PanelCombo::kResolution);
  View().ClearCombo(1, PanelCombo::kResolution);
  if (poSelectedCard == nullptr) return;

  for (PrivateList* n = poSelectedCard->resolutions; n != nullptr; n = n->next) {
    auto* mode = static_cast<const CardMonitorMode*>(n->Payload());
    if (!IsResolutionValid(mode->resolution)) continue;
    AddResolutionToList(mode->output, UiMonitor{*mode, 0});
  }
  for (PrivateList* n = GetCustomModeLineList(); n != nullptr; n = n->next) {
    auto* line = static_cast<const UiModeLine*>(n->Payload());
    AddResolutionToList(kAllOutputs, ModeLineMonitor(kAllOutputs, line->name, 0));
  }
  for (unsigned o = 0; o < iNumMaxModeLine; ++o) {
    if (!HasAPreferedModeLine(o)) continue;
    AddResolutionToList(static_cast<int>(o),
                        ModeLineMonitor(static_cast<int>(o), GetPreferedModeLine(o)->name, 1));
  }
  const bool edid = IsUsingEdidCtrl();
  for (uint32_t o = 0; o <= Count() && o < 4; ++o) {
    if (edid && s_queries->IsMonitorWithEdid(static_cast<int>(o))) continue;
    for (PrivateList* n = poSelectedCard->fallbackResolutions; n != nullptr; n = n->next) {
      UiMonitor m{*static_cast<const CardMonitorMode*>(n->Payload()), 0};
      // The width limits of three and four displays hold here too: the
      // fallback list offers 1280 and 1600 pixels wide.
      if (!IsResolutionValid(m.mode.resolution)) continue;
      m.mode.output = static_cast<int32_t>(o);
      AddResolutionToList(static_cast<int>(o), m);
    }
  }
  if (edid) ValidateResolutionList();
  for (int panel = 0; panel < 2; ++panel)
    for (const UiMonitor& m : ResolutionList(panel))
      View().AppendResolution(panel, m.mode.resolution, m.preferred != 0);
}

void ReselectResolutions() {
  for (int panel = 0; panel < 2; ++panel) {
    const std::string& chosen = s_chosenResolution[panel];
    const std::string text = !chosen.empty() && FindInList(panel, chosen.c_str()) != nullptr
                                 ? chosen
                                 : std::string(oDispInfo[panel].resolution);
    s_reselecting = true;
    View().SelectText(panel, PanelCombo::kResolution, text.c_str());
    s_reselecting = false;
  }
}

// The board cannot drive every mode on both digital outputs: the second
// panel follows the first.
bool PanelsPaired() {
  return s_queries->IsDviResolutionLimited() && s_queries->OutputType(0) == kDigitalOutputType &&
         Mode() != kAggMerge && Count() != 2;
}

// The nearest resolution of list 1 to `text` that list 2 also has with a
// refresh rate in common; null when there is none.
const UiMonitor* NearestSharedResolution(const char* text) {
  int target = WidthOf(text);
  if (target == 0) target = kDefaultPairWidth;
  const UiMonitor* match = nullptr;
  int best = 0;
  for (const UiMonitor& m : ResolutionList(0)) {
    const UiMonitor* other = FindInList(1, m.mode.resolution);
    if (other == nullptr) continue;
    bool shared = false;
    for (int rate : RatesOf(m)) shared = shared || OffersRate(*other, rate);
    if (!shared) continue;
    int distance = std::abs(WidthOf(m.mode.resolution) - target);
    if (match != nullptr && distance > best) continue;
    best = distance;
    match = &m;
  }
  return match;
}

void SetDepthRuleForMode() {
  if (Mode() == kAggXinerama) {
    View().SelectText(1, PanelCombo::kDepth, oDispInfo[0].bpp);
    View().SetComboSensitive(1, PanelCombo::kDepth, false);
  } else {
    View().SetComboSensitive(1, PanelCombo::kDepth, oDisplayStatus.enabled[1]);
  }
}

void AfterDisplayModeChange() {
  UpdateDisplayPanelTitle();
  UpdateComboBoxRouting();
  UpdateLayoutPermission();
  FillResolution();
  ReselectResolutions();
}

}  // namespace

void SetMainView(MainView* view) { s_view = view; }
void SetBoardQueries(BoardQueries* queries) {
  s_queries = queries != nullptr ? queries : &s_extensionQueries;
}
void SetPreviewHooks(const PreviewHooks& hooks) { s_preview = hooks; }

uint32_t GetNumOutputCtrl() { return Count(); }
uint32_t GetTopologyCtrl() { return Layout(); }
uint32_t GetAgglutinationCtrl() { return Mode(); }
const char* GetResolutionCtrl(int panel) { return oDispInfo[panel & 1].resolution; }
const char* GetRefreshRateCtrl(int panel) { return oDispInfo[panel & 1].refreshRate; }
int GetBppCtrl(int panel) { return std::atoi(oDispInfo[panel & 1].bpp); }
uint32_t GetPivotCtrl(int panel) { return oDispInfo[panel & 1].pivot; }
CardInfo* GetSelectedCardCtrl() { return poSelectedCard; }
bool IsKvdBoardCtrl() { return IsKvd(); }
bool IsDisplayPanelEnableCtrl(int panel) { return oDisplayStatus.enabled[panel & 1]; }
void SetPanelDisplayEnableCtrl(int panel, bool enabled) { oDisplayStatus.enabled[panel & 1] = enabled; }
int GetOutputPanel(int output) { return output >= 0 && output < 4 ? oDisplay[output] : kNoPanel; }
const std::vector<UiMonitor>& GetResolutionList(int panel) { return ResolutionList(panel & 1); }
bool IsLayoutAllowedCtrl(uint32_t layout) { return InRange(layout) && oPermissions.layout[layout]; }
bool IsModeAllowedCtrl(uint32_t mode) { return InRange(mode) && oPermissions.mode[mode]; }
bool IsRotationAllowedCtrl() {
  return InRange(Layout()) && InRange(Mode()) && oPermissions.rotation[Layout()][Mode()];
}

bool IsResolutionValid(const char* text) {
  int width = WidthOf(text);
  if (!IsKvd() && Count() == 2) return width < 1600;
  if (Count() == 3 && Layout() == kTopologyHorizontal && Mode() == kAggMerge) return width < 1025;
  return true;
}

void UiControllerInit() {
  oDisplayMode = DisplayMode{};
  oDisplayStatus = DisplayStatus{};
  // The panels' combos start empty and unturned.
  oDispInfo[0] = DispInfo{};
  oDispInfo[1] = DispInfo{};
  s_chosenResolution[0].clear();
  s_chosenResolution[1].clear();
  SetMainWindowXorgDefaultCfg();
}

void SetMainWindowXorgDefaultCfg() {
  const XConfigSummary& cfg = *GetXConfigStruct();
  const bool board = cfg.boardIndex >= 0 && cfg.boardIndex < kMaxCards &&
                     GetCardInfo()[cfg.boardIndex].busId[0] != '\0';
  // Without a board nothing can be offered or written: the settings wait.
  View().SetSettingsSensitive(board, board ? "" : ErrorCodeToString(kErrNoCard));
  if (!board) {
    poSelectedCard = nullptr;
    return;
  }
  View().SelectCardRow(cfg.boardIndex);
  SetSelectedCardCtrl(cfg.boardIndex);
  // The file's number of displays when the board offers it, else the first
  // the board offers.
  int outputs = cfg.outputs;
  bool offered = false;
  for (int i = 0; i < kMaxOutputCounts && poSelectedCard->outputCounts[i] != -1; ++i)
    offered = offered || poSelectedCard->outputCounts[i] == outputs;
  if (!offered && poSelectedCard->outputCounts[0] != -1) outputs = poSelectedCard->outputCounts[0];
  View().SelectOutputItem(std::to_string(outputs).c_str());
  View().SetLayoutRadioActive(static_cast<uint32_t>(cfg.layout));
  View().SetModeRadioActive(cfg.xinerama != 0 ? kAggXinerama : static_cast<uint32_t>(cfg.mode));
  for (const XConfigScreenEntry& screen : cfg.screens) {
    size_t start = 0;
    while (start <= screen.outputs.size()) {
      size_t comma = screen.outputs.find(',', start);
      std::string word = screen.outputs.substr(start, comma == std::string::npos ? std::string::npos
                                                                                  : comma - start);
      start = comma == std::string::npos ? screen.outputs.size() + 1 : comma + 1;
      int n = std::atoi(word.c_str());
      if (n < 1 || n > 4 || static_cast<uint32_t>(n - 1) > Count()) continue;
      int panel = oDisplay[n - 1];
      if (panel == kNoPanel) continue;
      View().SelectText(panel, PanelCombo::kResolution, screen.resolution.c_str());
      // The file's resolution is a choice like the user's, also when the
      // combo already showed it and so called no setter: a list rebuilt
      // without it selects it again once it is offered.
      s_chosenResolution[panel] = screen.resolution;
      View().SelectText(panel, PanelCombo::kRefresh, std::to_string(screen.refresh).c_str());
      View().SelectText(panel, PanelCombo::kDepth, std::to_string(screen.depth).c_str());
      View().SetRotationItem(panel, static_cast<int>(screen.rotation));
    }
  }
}

void SetSelectedCardCtrl(int row) {
  if (row < 0 || row >= kMaxCards) return;
  SetterScope scope(Key("card", 0, std::to_string(row).c_str()));
  if (!scope.Entered()) return;
  poSelectedCard = &GetCardInfo()[row];
  std::vector<int> counts;
  for (int i = 0; i < kMaxOutputCounts && poSelectedCard->outputCounts[i] != -1; ++i)
    counts.push_back(poSelectedCard->outputCounts[i]);
  View().FillOutputCombo(counts);
}

void SetNumOutputCtrl(uint32_t countIndex) {
  if (countIndex > 3) return;
  SetterScope scope(Key("outputs", 0, std::to_string(countIndex).c_str()));
  if (!scope.Entered()) return;
  oDisplayMode.numOutput = countIndex;
  UpdateComboBoxRouting();
  UpdateLayoutPermission();
  UpdateDisplayPanelTitle();
  UpdateResolutionComboBox();
  // The panels just enabled or disabled decide the second depth combo too.
  SetDepthRuleForMode();
  Redraw();
}

void SetTopologyCtrl(uint32_t layout) {
  SetterScope scope(Key("layout", 0, std::to_string(layout).c_str()));
  if (!scope.Entered()) return;
  oDisplayMode.topology = layout;
  AfterDisplayModeChange();
  SetDepthRuleForMode();
  Redraw();
}

void SetAgglutinationCtrl(uint32_t mode) {
  SetterScope scope(Key("mode", 0, std::to_string(mode).c_str()));
  if (!scope.Entered()) return;
  oDisplayMode.agglutination = mode;
  AfterDisplayModeChange();
  SetDepthRuleForMode();
  Redraw();
}

void UpdateResolutionComboBox() {
  FillResolution();
  ReselectResolutions();
}

void SetResolutionCtrl(const char* text, int panel) {
  panel &= 1;
  SetterScope scope(Key("resolution", panel, text));
  if (!scope.Entered()) return;
  MainView& view = View();
  CopyText(oDispInfo[panel].resolution, text);
  if (!s_reselecting) s_chosenResolution[panel] = text != nullptr ? text : "";
  view.ClearCombo(panel, PanelCombo::kRefresh);
  for (const UiMonitor& m : ResolutionList(panel)) {
    if (std::strcmp(m.mode.resolution, text) != 0) continue;
    for (int rate : RatesOf(m)) view.AppendRefresh(panel, std::to_string(rate).c_str());
  }

  const bool paired = PanelsPaired();
  if (paired && panel == 0) {
    if (FindInList(1, text) != nullptr) {
      view.SelectText(1, PanelCombo::kResolution, text);
    } else if (const UiMonitor* match = NearestSharedResolution(text)) {
      // Copy: the lists are rebuilt by nothing here, but the call re-enters.
      std::string chosen = match->mode.resolution;
      view.SelectText(0, PanelCombo::kResolution, chosen.c_str());
      view.SelectText(1, PanelCombo::kResolution, chosen.c_str());
    }
    view.SelectText(1, PanelCombo::kResolution, oDispInfo[0].resolution);
    view.SetComboSensitive(1, PanelCombo::kResolution, false);
  }

  view.SelectText(panel, PanelCombo::kRefresh, oDispInfo[panel].refreshRate);
  view.SetComboSensitive(panel, PanelCombo::kRefresh, view.HasActive(panel, PanelCombo::kRefresh));

  if (paired) {
    view.SelectText(1, PanelCombo::kResolution, oDispInfo[0].resolution);
    view.SetComboSensitive(1, PanelCombo::kRefresh, false);
  } else {
    view.SetComboSensitive(1, PanelCombo::kRefresh,
                           oDisplayStatus.enabled[1] && view.HasActive(1, PanelCombo::kRefresh));
  }

  if (panel == 1 && oDisplayStatus.enabled[1] && !oDisplayStatus.panel1Initialised) {
    oDisplayStatus.panel1Initialised = true;
    DispInfo first = oDispInfo[0];
    view.SelectText(1, PanelCombo::kResolution, first.resolution);
    view.SelectText(1, PanelCombo::kRefresh, first.refreshRate);
    view.SelectText(1, PanelCombo::kDepth, first.bpp);
    view.SetRotationItem(1, static_cast<int>(first.pivot));
  }
}

void SetRefreshRateCtrl(const char* text, int panel) {
  panel &= 1;
  SetterScope scope(Key("refresh", panel, text));
  if (!scope.Entered()) return;
  CopyText(oDispInfo[panel].refreshRate, text);
  if (panel != 0 || !PanelsPaired()) return;
  const int rate = std::atoi(text);
  const UiMonitor* second = FindInList(1, oDispInfo[0].resolution);
  if (second != nullptr && OffersRate(*second, rate)) {
    View().SelectText(1, PanelCombo::kRefresh, text);
    return;
  }
  std::string common = text;
  const UiMonitor* first = FindInList(0, oDispInfo[0].resolution);
  if (first != nullptr && second != nullptr) {
    for (int r : RatesOf(*first)) {
      if (OffersRate(*second, r)) {
        common = std::to_string(r);
        break;
      }
    }
  }
  View().SelectText(0, PanelCombo::kRefresh, common.c_str());
  View().SelectText(1, PanelCombo::kRefresh, common.c_str());
}

void SetBppCtrl(const char* text, int panel) {
  panel &= 1;
  SetterScope scope(Key("depth", panel, text));
  if (!scope.Entered()) return;
  CopyText(oDispInfo[panel].bpp, text);
  if (Mode() == kAggXinerama && panel == 0) View().SelectText(1, PanelCombo::kDepth, text);
}

void SetPivotCtrl(uint32_t rotation, int panel) {
  oDispInfo[panel & 1].pivot = rotation;
  Redraw();
}

uint32_t GetPivotState(int output) {
  if (IsKvd()) return oDispInfo[output >= 2 ? 1 : 0].pivot;
  if (output == 1 && Count() == 1 && Mode() != kAggMerge) return oDispInfo[1].pivot;
  return oDispInfo[0].pivot;
}

void SendRedrawPreviewArea(int x, int y, int w, int h) {
  if (s_preview.redraw != nullptr) s_preview.redraw(x, y, w, h);
}

void SendErasePreviewAreaBg() {
  if (s_preview.eraseBackground != nullptr) s_preview.eraseBackground();
}
