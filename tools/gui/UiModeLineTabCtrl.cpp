#include "tools/gui/UiModeLineTabCtrl.h"

#include <cstdio>
#include <cstring>

#include "tools/gui/UiModeLineTab.h"
#include "tools/lib/Probe.h"

namespace {

ModeLineTabServices s_services{};
// The rows as mode lines, rebuilt on each request.
PrivateList* oModeLineList = nullptr;

}  // namespace

int32_t* ModeLineTimingField(UiModeLine* m, int column) {
  int32_t* timings[] = {&m->hdisplay, &m->hsyncstart, &m->hsyncend, &m->htotal,
                        &m->vdisplay, &m->vsyncstart, &m->vsyncend, &m->vtotal};
  return timings[column - kMlHdisp];
}

void SetModeLineTabServices(const ModeLineTabServices& services) { s_services = services; }
const ModeLineTabServices& GetModeLineTabServices() { return s_services; }

void SetModeLineField(UiModeLine* m, const char* text, int column) {
  if (column == kMlName) {
    std::snprintf(m->name, sizeof m->name, "%s", text);
  } else if (column == kMlClock) {
    if (!ParseModeLineClock(text, &m->clock)) m->clock = 0.0;
  } else if (column >= kMlHdisp && column <= kMlVtotal) {
    if (!ParseModeLineTiming(text, ModeLineTimingField(m, column))) *ModeLineTimingField(m, column) = 0;
  } else if (column == kMlHPolarity) {
    m->hpolarity = ModelinePolarity(ConvertToEnum(text));
  } else if (column == kMlVPolarity) {
    m->vpolarity = ModelinePolarity(ConvertToEnum(text));
  }
}

void InitUiModeLineTabCtrl(const PrivateList* preferredModes, const PrivateList* fileModeLines) {
  for (const PrivateList* n = preferredModes; n; n = n->next) {
    const auto* p = static_cast<const CardPreferredMode*>(n->Payload());
    AddModeLineCtrl(&p->mode);
    if (p->output >= 0 && p->output < 4) s_services.addPreferredModeLine(&p->mode, p->output);
  }
  for (const PrivateList* n = fileModeLines; n; n = n->next) {
    const auto* m = static_cast<const UiModeLine*>(n->Payload());
    bool preferred = false;
    for (const PrivateList* p = preferredModes; p && !preferred; p = p->next)
      preferred = std::strcmp(static_cast<const CardPreferredMode*>(p->Payload())->mode.name, m->name) == 0;
    if (preferred) continue;
    AddModeLineCtrl(m);
    AddModeLineToCollectorCtrl(m);
  }
}

void AddModeLineCtrl(const UiModeLine* m) { AddModeLine(m, m->hpolarity, m->vpolarity); }
void AddNewModeLineCtrl() { AddEmptyNewLine(); }
void RemoveModeLineCtrl() { RemoveSelectedModeLine(); }

void EditModeLineCtrl(const char* name, const char* text, int column) {
  if (column < kMlName || column > kMlVPolarity) return;
  UiModeLine* m = s_services.findMatchingModeLine(name);
  if (!m) return;
  SetModeLineField(m, text, column);
}

void RemoveModeLineFromNameCtrl(const char* name) { s_services.removeModeLineFromCollector(name); }
void AddModeLineToCollectorCtrl(const UiModeLine* m) { s_services.addCustomModeLine(m); }
void SetFocusModeLineTabCtrl() { SetFocusModeLineTab(); }
bool IsEveryModeLineValidCtrl() { return IsEveryModeLineValid(); }
const UiModeLine* GetPreferedModeLineCtrl(int output) { return s_services.getPreferredModeLine(output); }
PrivateList* GetCustomModeLineCtrl() { return s_services.getCustomModeLineList(); }

void ValidateModeLinesWithVideoCard() {
  GtkListStore* store = GetModeLineStore();
  GtkTreeModel* model = GTK_TREE_MODEL(store);
  GtkTreeIter row;
  if (!model || !gtk_tree_model_get_iter_first(model, &row)) return;
  do {
    const UiModeLine* m = s_services.findMatchingModeLine(GetModeLineCellText(&row, kMlName).c_str());
    if (m) SetModeLineUiColor(store, &row, m);
  } while (gtk_tree_model_iter_next(model, &row));
}

PrivateList* GetModeLineList() {
  FillCurrentModeLine(&oModeLineList);
  return oModeLineList;
}

bool IsThisAModeLine(const char* name) { return HasModeLineRow(name); }

void ShutdownUiModeLineTabCtrl() {
  PrivateDeleteList(oModeLineList);
  oModeLineList = nullptr;
  s_services = ModeLineTabServices{};
}
