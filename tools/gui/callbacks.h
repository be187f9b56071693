// The main window's signal handlers. They only forward: to the controller,
// the apply sequence, the preview, the mode-line page, the advanced options
// and the secondary windows. A handler that stops the event returns TRUE.
#pragma once

#include <gtk/gtk.h>

// Single selection on the board list, its "changed" to
// TreeSelectionChangedCb.
void InitCallBackModules();

void MainWindowDestroyCb(GtkObject* object, gpointer data);
void MainWindowShowCb(GtkWidget* widget, gpointer data);
gboolean MainWindowDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer data);
gboolean MainWindowStateEventCb(GtkWidget* widget, GdkEventWindowState* event, gpointer data);
// While a cell of a list is being edited its editor takes every key: the
// window's accelerators (Ctrl+A applies) and mnemonics do not fire.
gboolean MainWindowKeyPressCb(GtkWidget* widget, GdkEventKey* event, gpointer data);

void ApplyMenuActivateCb(GtkMenuItem* item, gpointer data);
void ButtonApplyClickedCb(GtkButton* button, gpointer data);
void ResetMenuActivateCb(GtkMenuItem* item, gpointer data);
void MwButtonDefaultClickedCb(GtkButton* button, gpointer data);
void ShowAdvancedActivateCb(GtkMenuItem* item, gpointer data);
void AdvancedButtonCb(GtkButton* button, gpointer data);
void QuitMenuActivateCb(GtkMenuItem* item, gpointer data);
void MwButtonCancelClickedCb(GtkButton* button, gpointer data);
void AboutMenuActivateCb(GtkMenuItem* item, gpointer data);
void MwButtonInfoClickedCb(GtkButton* button, gpointer data);

// The preview area's events, through the controller.
gboolean DrawAreaExposeEvent(GtkWidget* widget, GdkEventExpose* event, gpointer data);
gboolean DrawAreaConfigEvent(GtkWidget* widget, GdkEventConfigure* event, gpointer data);

void Notebook1SwitchPageCb(GtkNotebook* notebook, GtkNotebookPage* page, guint pageNum,
                           gpointer data);
void MwComboOutputChangedCb(GtkComboBox* combo, gpointer data);

// Layout radios: "group_changed" and "toggled" (the row radio has one
// handler for both).
void MwTopoRadioRowGroupChangedCb(GtkRadioButton* button, gpointer data);
void MwTopoRadioVertiGroupChangedCb(GtkRadioButton* button, gpointer data);
void MwTopoRadioVertiToggledCb(GtkToggleButton* button, gpointer data);
void MwTopoRadioSqrGroupChangedCb(GtkRadioButton* button, gpointer data);
void MwTopoRadioSqrToggledCb(GtkToggleButton* button, gpointer data);
// Multi-display mode radios: "toggled".
void MwAggRadioMergeChangedCb(GtkToggleButton* button, gpointer data);
void MwAggRadioIndChangedCb(GtkToggleButton* button, gpointer data);
void MwAggRadioXineChangedCb(GtkToggleButton* button, gpointer data);

// Panel combos: "changed". The names keep the window's own spelling.
void MwCombo12ResChanged(GtkComboBox* combo, gpointer data);
void MwCombo2ResChangedCb(GtkComboBox* combo, gpointer data);
void MwCombo12RefRateChanged(GtkComboBox* combo, gpointer data);
void MwCombo2RefRateChangedCb(GtkComboBox* combo, gpointer data);
void MwCombo12BppChanged(GtkComboBox* combo, gpointer data);
void MwCombo2BppChangedCb(GtkComboBox* combo, gpointer data);
void MwCombo12PivotChanged(GtkComboBox* combo, gpointer data);
void MwCombo34PivotChangedCb(GtkComboBox* combo, gpointer data);
gboolean MwCombo12ResFocusOutEvent(GtkWidget* widget, GdkEventFocus* event, gpointer data);

void MwModeLineListRowActivatedCb(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn* column,
                                  gpointer data);
void MtAddButtonClickedCb(GtkButton* button, gpointer data);
void MtDeleteButtonClickedCb(GtkButton* button, gpointer data);

void TreeSelectionChangedCb(GtkTreeSelection* selection, gpointer data);
