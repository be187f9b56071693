// A main window without widgets: combos, radios and the board list keep
// their state, and a change of the active item calls the controller the
// way the widget's signal handler does.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/gui/ComboBoxUtils.h"
#include "tools/gui/ProbeUtils.h"
#include "tools/gui/UiController.h"

class FakeMainView : public MainView {
 public:
  struct Combo {
    std::vector<std::string> items;
    std::vector<bool> starred;
    int active = -1;
    bool sensitive = true;
    std::string Active() const { return active >= 0 ? items[active] : std::string(); }
  };

  Combo combos[2][4];
  std::string titles[2] = {"1 and 2", "3 and 4"};
  bool frameSensitive[2] = {true, true};
  std::vector<std::string> outputItems;
  int outputActive = -1;
  int cardRow = -1;
  uint32_t layoutActive = 1;  // the first radio of a group starts active
  uint32_t modeActive = 1;    // "Merge" is active at creation
  bool layoutSensitive[4] = {true, true, true, true};
  bool modeSensitive[4] = {true, true, true, true};
  int redraws = 0;
  // Emit even when the item does not change, as a careless widget would.
  bool alwaysEmit = false;
  int depth = 0;
  int maxDepth = 0;
  long emits = 0;

  FakeMainView() {
    for (int p = 0; p < 2; ++p) {
      combos[p][Idx(PanelCombo::kDepth)].items = {"8", "16", "24"};
      combos[p][Idx(PanelCombo::kDepth)].active = 0;
      combos[p][Idx(PanelCombo::kRotation)].items = {"None", "Clockwise", "Counter clockwise"};
      combos[p][Idx(PanelCombo::kRotation)].active = 0;
    }
  }

  static int Idx(PanelCombo c) { return static_cast<int>(c); }
  Combo& Get(int panel, PanelCombo c) { return combos[panel][Idx(c)]; }
  std::vector<std::string> Items(int panel, PanelCombo c) { return Get(panel, c).items; }
  std::string Active(int panel, PanelCombo c) { return Get(panel, c).Active(); }

  // User actions.
  void ChooseOutputs(int n) { SelectOutputItem(std::to_string(n).c_str()); }
  void ClickLayout(uint32_t l) { SetLayoutRadioActive(l); }
  void ClickMode(uint32_t m) { SetModeRadioActive(m); }
  void Choose(int panel, PanelCombo c, const std::string& text) { SelectText(panel, c, text.c_str()); }

  void ClearCombo(int panel, PanelCombo c) override {
    Get(panel, c).items.clear();
    Get(panel, c).starred.clear();
    Get(panel, c).active = -1;
  }
  void AppendResolution(int panel, const char* text, bool preferred) override {
    Combo& c = Get(panel, PanelCombo::kResolution);
    if (std::find(c.items.begin(), c.items.end(), text) != c.items.end()) return;
    size_t at = preferred ? c.items.size() : SortedInsertPosition(c.items, text);
    c.items.insert(c.items.begin() + at, text);
    c.starred.insert(c.starred.begin() + at, preferred);
    if (c.active >= static_cast<int>(at)) ++c.active;
  }
  void AppendRefresh(int panel, const char* text) override {
    Combo& c = Get(panel, PanelCombo::kRefresh);
    if (std::find(c.items.begin(), c.items.end(), text) != c.items.end()) return;
    size_t at = SortedInsertPosition(c.items, text);
    c.items.insert(c.items.begin() + at, text);
    if (c.active >= static_cast<int>(at)) ++c.active;
  }
  void SelectText(int panel, PanelCombo c, const char* text) override {
    SetActive(panel, c, SelectionIndexFor(Get(panel, c).items, text));
  }
  void SetRotationItem(int panel, int item) override { SetActive(panel, PanelCombo::kRotation, item); }
  bool HasActive(int panel, PanelCombo c) override { return Get(panel, c).active >= 0; }
  void SetComboSensitive(int panel, PanelCombo c, bool s) override { Get(panel, c).sensitive = s; }
  void SetPanelTitle(int panel, const char* title, bool sensitive) override {
    titles[panel] = title;
    frameSensitive[panel] = sensitive;
  }
  void SelectCardRow(int row) override {
    if (row == cardRow && !alwaysEmit) return;
    cardRow = row;
    Emit([&] { SetSelectedCardCtrl(row); });
  }
  void FillOutputCombo(const std::vector<int>& counts) override {
    outputItems.clear();
    for (int n : counts) outputItems.push_back(std::to_string(n));
    outputActive = -1;
  }
  void SelectOutputItem(const char* text) override {
    auto it = std::find(outputItems.begin(), outputItems.end(), text);
    if (it == outputItems.end()) return;
    int idx = static_cast<int>(it - outputItems.begin());
    if (idx == outputActive && !alwaysEmit) return;
    outputActive = idx;
    Emit([&] {
      uint32_t index = 0;
      GetOutputEnum(std::atoi(text), &index);
      SetNumOutputCtrl(index);
    });
  }
  void SetLayoutRadioActive(uint32_t l) override {
    if (l < 1 || l > 3 || (l == layoutActive && !alwaysEmit)) return;
    layoutActive = l;
    Emit([&] { SetTopologyCtrl(l); });
  }
  void SetModeRadioActive(uint32_t m) override {
    if (m < 1 || m > 3 || (m == modeActive && !alwaysEmit)) return;
    modeActive = m;
    Emit([&] { SetAgglutinationCtrl(m); });
  }
  void SetLayoutRadioSensitive(uint32_t l, bool s) override { layoutSensitive[l] = s; }
  void SetModeRadioSensitive(uint32_t m, bool s) override { modeSensitive[m] = s; }
  void RedrawPreview() override { ++redraws; }
  void SetSettingsSensitive(bool sensitive, const char* reason) override {
    settingsSensitive = sensitive;
    settingsReason = reason;
  }
  bool settingsSensitive = true;
  std::string settingsReason;

 private:
  template <typename F>
  void Emit(F f) {
    ++emits;
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    f();
    --depth;
  }

  void SetActive(int panel, PanelCombo which, int idx) {
    Combo& c = Get(panel, which);
    if (idx < 0 || idx >= static_cast<int>(c.items.size())) return;
    if (idx == c.active && !alwaysEmit) return;
    c.active = idx;
    std::string text = c.items[idx];
    Emit([&] {
      switch (which) {
        case PanelCombo::kResolution: SetResolutionCtrl(text.c_str(), panel); break;
        case PanelCombo::kRefresh: SetRefreshRateCtrl(text.c_str(), panel); break;
        case PanelCombo::kDepth: SetBppCtrl(text.c_str(), panel); break;
        case PanelCombo::kRotation: SetPivotCtrl(idx == 1 ? 1 : idx == 2 ? 2 : 0, panel); break;
      }
    });
  }
};

// The extension's answers, set per test.
class FakeQueries : public BoardQueries {
 public:
  bool edid[4] = {false, false, false, false};
  bool dviLimited = false;
  int outputType0 = 0;
  // "WxH@rate" rejected by the monitor on output 0-3; mode-line names too.
  std::vector<std::string> rejected[4];

  bool IsMonitorWithEdid(int output) override { return edid[output]; }
  bool IsDviResolutionLimited() override { return dviLimited; }
  int OutputType(int output) override { return output == 0 ? outputType0 : 0; }
  bool IsModeAcceptedByEdid(int output, int w, int h, int r) override {
    std::string key = std::to_string(w) + "x" + std::to_string(h) + "@" + std::to_string(r);
    return std::find(rejected[output].begin(), rejected[output].end(), key) == rejected[output].end();
  }
  bool IsModeLineAcceptedByEdid(int output, const UiModeLine& m) override {
    return std::find(rejected[output].begin(), rejected[output].end(), m.name) == rejected[output].end();
  }
};
