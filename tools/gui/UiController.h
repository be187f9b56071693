// What the user chose in the main window, and the rules that tie the
// choices together. The widgets sit behind `MainView`; selecting an item or
// activating a radio there re-enters the matching setter, as a widget's
// signal does.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/lib/Probe.h"

enum class PanelCombo { kResolution, kRefresh, kDepth, kRotation };

enum Topology : uint32_t { kTopologyHorizontal = 1, kTopologyVertical = 2, kTopologySquare = 3 };
enum Agglutination : uint32_t { kAggMerge = 1, kAggIndependent = 2, kAggXinerama = 3 };

// A resolution offered to a panel: a board mode, a fallback mode or a mode
// line (no refresh rate); `preferred` marks a monitor's preferred mode line.
struct UiMonitor {
  CardMonitorMode mode;
  int32_t preferred;
};

class MainView {
 public:
  virtual ~MainView() = default;
  // Panel 0 holds the "12" combos, panel 1 the "34" combos.
  virtual void ClearCombo(int panel, PanelCombo combo) = 0;  // emits nothing
  // Sorted, skipping a text already there; preferred ones at the end, starred.
  virtual void AppendResolution(int panel, const char* text, bool preferred) = 0;
  virtual void AppendRefresh(int panel, const char* text) = 0;
  // Selects by text (see SelectionIndexFor); emits when the item changes.
  virtual void SelectText(int panel, PanelCombo combo, const char* text) = 0;
  virtual void SetRotationItem(int panel, int item) = 0;
  virtual bool HasActive(int panel, PanelCombo combo) = 0;
  virtual void SetComboSensitive(int panel, PanelCombo combo, bool sensitive) = 0;
  // An empty title leaves the frame untitled.
  virtual void SetPanelTitle(int panel, const char* title, bool sensitive) = 0;
  virtual void SelectCardRow(int row) = 0;
  virtual void FillOutputCombo(const std::vector<int>& counts) = 0;
  virtual void SelectOutputItem(const char* text) = 0;
  virtual void SetLayoutRadioActive(uint32_t layout) = 0;
  virtual void SetModeRadioActive(uint32_t mode) = 0;
  virtual void SetLayoutRadioSensitive(uint32_t layout, bool sensitive) = 0;
  virtual void SetModeRadioSensitive(uint32_t mode, bool sensitive) = 0;
  virtual void RedrawPreview() = 0;
  // The settings and Apply; without a board they are insensitive and the
  // window shows `reason`.
  virtual void SetSettingsSensitive(bool sensitive, const char* reason) = 0;
};

// What the rules ask of the running driver, through the configuration
// extension; board 0 always.
class BoardQueries {
 public:
  virtual ~BoardQueries() = default;
  virtual bool IsMonitorWithEdid(int output) = 0;
  virtual bool IsDviResolutionLimited() = 0;
  virtual int OutputType(int output) = 0;
  virtual bool IsModeAcceptedByEdid(int output, int width, int height, int refresh) = 0;
  virtual bool IsModeLineAcceptedByEdid(int output, const UiModeLine& mode) = 0;
};

// The layout preview, filled in by the preview's module.
struct PreviewHooks {
  void (*redraw)(int x, int y, int w, int h) = nullptr;
  void (*eraseBackground)() = nullptr;
};

void SetMainView(MainView* view);
void SetBoardQueries(BoardQueries* queries);  // null: the extension client
void SetPreviewHooks(const PreviewHooks& hooks);

void UiControllerInit();
void SetMainWindowXorgDefaultCfg();

uint32_t GetNumOutputCtrl();
uint32_t GetTopologyCtrl();
uint32_t GetAgglutinationCtrl();
const char* GetResolutionCtrl(int panel);
const char* GetRefreshRateCtrl(int panel);
int GetBppCtrl(int panel);
uint32_t GetPivotCtrl(int panel);
CardInfo* GetSelectedCardCtrl();
bool IsKvdBoardCtrl();
bool IsDisplayPanelEnableCtrl(int panel);
void SetPanelDisplayEnableCtrl(int panel, bool enabled);

void SetSelectedCardCtrl(int row);
void SetNumOutputCtrl(uint32_t countIndex);
void SetTopologyCtrl(uint32_t layout);
void SetAgglutinationCtrl(uint32_t mode);
void SetResolutionCtrl(const char* text, int panel);
void SetRefreshRateCtrl(const char* text, int panel);
void SetBppCtrl(const char* text, int panel);
void SetPivotCtrl(uint32_t rotation, int panel);
void UpdateResolutionComboBox();
uint32_t GetPivotState(int output);
void SendRedrawPreviewArea(int x, int y, int w, int h);
void SendErasePreviewAreaBg();

// Rules, open to tests.
bool IsResolutionValid(const char* text);
// The panel that edits output 0-3, or -1.
int GetOutputPanel(int output);
// The resolution list behind a panel.
const std::vector<UiMonitor>& GetResolutionList(int panel);
bool IsLayoutAllowedCtrl(uint32_t layout);
bool IsModeAllowedCtrl(uint32_t mode);
bool IsRotationAllowedCtrl();
