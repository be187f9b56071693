#include "tools/gui/callbacks.h"

#include <cstdlib>

#include "tools/gui/AboutWindow.h"
#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/ComboBoxUtils.h"
#include "tools/gui/FileGenerator.h"
#include "tools/gui/InfoWindow.h"
#include "tools/gui/MainWindow.h"
#include "tools/gui/ProbeUtils.h"
#include "tools/gui/UiController.h"
#include "tools/gui/UiModeLineTabCtrl.h"
#include "tools/gui/WindowUtils.h"
#include "tools/gui/support.h"

namespace {

void LayoutRadio(GtkToggleButton* button, uint32_t layout) {
  if (gtk_toggle_button_get_active(button)) SetTopologyCtrl(layout);
}

void ModeRadio(GtkToggleButton* button, uint32_t mode) {
  if (gtk_toggle_button_get_active(button)) SetAgglutinationCtrl(mode);
}

template <void (*Setter)(const char*, int)>
void ComboText(GtkComboBox* combo, int panel) {
  gchar* text = ComboBoxGetActiveText(combo);
  if (text == nullptr) return;
  Setter(text, panel);
  g_free(text);
}

// Rotation items: "None", "Clockwise", "Counter clockwise".
void PivotItem(GtkComboBox* combo, int panel) {
  const int item = gtk_combo_box_get_active(combo);
  SetPivotCtrl(item == 1 ? 1 : item == 2 ? 2 : 0, panel);
}

}  // namespace

void InitCallBackModules() {
  GtkWidget* list = lookup_widget(GetMainWindow(), "mwCardList");
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list));
  gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
  g_signal_connect(selection, "changed", G_CALLBACK(TreeSelectionChangedCb), nullptr);
}

void MainWindowDestroyCb(GtkObject*, gpointer) { ExitProgram(); }
void MainWindowShowCb(GtkWidget*, gpointer) { UiControllerInit(); }

gboolean MainWindowDeleteEvent(GtkWidget*, GdkEvent*, gpointer) {
  QuitApplication();
  return TRUE;
}

gboolean MainWindowKeyPressCb(GtkWidget* widget, GdkEventKey* event, gpointer) {
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(widget));
  if (focus == nullptr || !GTK_IS_CELL_EDITABLE(focus)) return FALSE;
  GtkWidget* parent = gtk_widget_get_parent(focus);
  if (parent == nullptr || !GTK_IS_TREE_VIEW(parent)) return FALSE;
  // The editor and the list around it see the key; the window's own
  // handling, which activates accelerators first, is skipped.
  gtk_window_propagate_key_event(GTK_WINDOW(widget), event);
  return TRUE;
}

gboolean MainWindowStateEventCb(GtkWidget* widget, GdkEventWindowState* event, gpointer) {
  if (event->changed_mask & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN)) {
    gtk_window_unfullscreen(GTK_WINDOW(widget));
    return TRUE;
  }
  return FALSE;
}

void ApplyMenuActivateCb(GtkMenuItem*, gpointer) { ApplyConfiguration(); }
void ButtonApplyClickedCb(GtkButton*, gpointer) { ApplyConfiguration(); }
void ResetMenuActivateCb(GtkMenuItem*, gpointer) { SetMainWindowXorgDefaultCfg(); }
void MwButtonDefaultClickedCb(GtkButton*, gpointer) { SetMainWindowXorgDefaultCfg(); }
void ShowAdvancedActivateCb(GtkMenuItem*, gpointer) { ShowAdvancedWindowCtrl(); }
void AdvancedButtonCb(GtkButton*, gpointer) { ShowAdvancedWindowCtrl(); }
void QuitMenuActivateCb(GtkMenuItem*, gpointer) { QuitApplication(); }
void MwButtonCancelClickedCb(GtkButton*, gpointer) { QuitApplication(); }
void AboutMenuActivateCb(GtkMenuItem*, gpointer) { ShowAboutWindow(); }
void MwButtonInfoClickedCb(GtkButton*, gpointer) { ShowInfoWindow(); }

gboolean DrawAreaExposeEvent(GtkWidget*, GdkEventExpose* event, gpointer) {
  SendRedrawPreviewArea(event->area.x, event->area.y, event->area.width, event->area.height);
  return FALSE;
}

gboolean DrawAreaConfigEvent(GtkWidget*, GdkEventConfigure*, gpointer) {
  SendErasePreviewAreaBg();
  return TRUE;
}

void Notebook1SwitchPageCb(GtkNotebook*, GtkNotebookPage*, guint, gpointer) {
  ValidateModeLinesWithVideoCard();
  UpdateResolutionComboBox();
}

void MwComboOutputChangedCb(GtkComboBox* combo, gpointer) {
  gchar* text = ComboBoxGetActiveText(combo);
  if (text == nullptr) return;
  uint32_t index = 0;
  GetOutputEnum(std::atoi(text), &index);
  g_free(text);
  SetNumOutputCtrl(index);
}

void MwTopoRadioRowGroupChangedCb(GtkRadioButton* button, gpointer) {
  LayoutRadio(GTK_TOGGLE_BUTTON(button), 1);
}
void MwTopoRadioVertiGroupChangedCb(GtkRadioButton* button, gpointer) {
  LayoutRadio(GTK_TOGGLE_BUTTON(button), 2);
}
void MwTopoRadioVertiToggledCb(GtkToggleButton* button, gpointer) { LayoutRadio(button, 2); }
void MwTopoRadioSqrGroupChangedCb(GtkRadioButton* button, gpointer) {
  LayoutRadio(GTK_TOGGLE_BUTTON(button), 3);
}
void MwTopoRadioSqrToggledCb(GtkToggleButton* button, gpointer) { LayoutRadio(button, 3); }

void MwAggRadioMergeChangedCb(GtkToggleButton* button, gpointer) { ModeRadio(button, 1); }
void MwAggRadioIndChangedCb(GtkToggleButton* button, gpointer) { ModeRadio(button, 2); }
void MwAggRadioXineChangedCb(GtkToggleButton* button, gpointer) { ModeRadio(button, 3); }

void MwCombo12ResChanged(GtkComboBox* combo, gpointer) { ComboText<SetResolutionCtrl>(combo, 0); }
void MwCombo2ResChangedCb(GtkComboBox* combo, gpointer) { ComboText<SetResolutionCtrl>(combo, 1); }
void MwCombo12RefRateChanged(GtkComboBox* combo, gpointer) {
  ComboText<SetRefreshRateCtrl>(combo, 0);
}
void MwCombo2RefRateChangedCb(GtkComboBox* combo, gpointer) {
  ComboText<SetRefreshRateCtrl>(combo, 1);
}
void MwCombo12BppChanged(GtkComboBox* combo, gpointer) { ComboText<SetBppCtrl>(combo, 0); }
void MwCombo2BppChangedCb(GtkComboBox* combo, gpointer) { ComboText<SetBppCtrl>(combo, 1); }
void MwCombo12PivotChanged(GtkComboBox* combo, gpointer) { PivotItem(combo, 0); }
void MwCombo34PivotChangedCb(GtkComboBox* combo, gpointer) { PivotItem(combo, 1); }
gboolean MwCombo12ResFocusOutEvent(GtkWidget*, GdkEventFocus*, gpointer) { return FALSE; }

void MwModeLineListRowActivatedCb(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn*,
                                  gpointer) {
  // Reads the row's name; activating a row has no effect beyond that.
  GtkTreeModel* model = gtk_tree_view_get_model(view);
  GtkTreeIter row;
  if (model == nullptr || !gtk_tree_model_get_iter(model, &row, path)) return;
  gchar* name = nullptr;
  gtk_tree_model_get(model, &row, 0, &name, -1);
  g_free(name);
}

void MtAddButtonClickedCb(GtkButton*, gpointer) { AddNewModeLineCtrl(); }
void MtDeleteButtonClickedCb(GtkButton*, gpointer) { RemoveModeLineCtrl(); }

void TreeSelectionChangedCb(GtkTreeSelection* selection, gpointer) {
  GtkTreeModel* model = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(selection, &model, &it)) return;
  GtkTreePath* path = gtk_tree_model_get_path(model, &it);
  const int row = gtk_tree_path_get_indices(path)[0];
  gtk_tree_path_free(path);
  SetSelectedCardCtrl(row);
}
