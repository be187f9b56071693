// The cell-editable widget of the combo-box cell renderer: it pops up a menu
// of the words in its tree model (column 0) and stores the word chosen.
#pragma once

#include <gtk/gtk.h>

#include "tools/gui/CellRendererComboBox.h"

struct ComboBoxCellEditable {
  GtkBin parent;
  GtkTreeModel* model;
  gint x;
  gint y;
  GtkWidget* menu;
  gboolean canceled;  // "editing-canceled": closed without a choice
};

struct ComboBoxCellEditableClass {
  GtkBinClass parentClass;
};

GType ComboBoxCellEditableGetType();
// Null (with the toolkit's critical message) when `model` is not a tree model.
GtkWidget* ComboBoxCellEditableNew(GtkTreeModel* model);
// The menu of a started editable, for callers that drive it directly.
GtkWidget* ComboBoxCellEditableGetMenu(ComboBoxCellEditable* editable);
