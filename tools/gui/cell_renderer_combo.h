// A text cell renderer whose editing pops up a menu of the words in a tree
// model (column 0), and the cell-editable widget that shows the menu.
#pragma once

#include <gtk/gtk.h>

// Key carrying a text: on the renderer the path of the cell being edited,
// on the editable the word chosen.
inline constexpr char kComboPathKey[] = "gtk-cell-renderer-combo-path";

struct CellRendererComboBox {
  GtkCellRendererText parent;
  GtkTreeModel* model;
  gint textColumn;
};

struct CellRendererComboBoxClass {
  GtkCellRendererTextClass parentClass;
};

struct ComboBoxCellEditable {
  GtkBin parent;
  GtkTreeModel* model;
  gint x;
  gint y;
  GtkWidget* menu;
};

struct ComboBoxCellEditableClass {
  GtkBinClass parentClass;
};

GType CellRendererComboBoxGetType();
GtkCellRenderer* CellRendererComboBoxNew();

GType ComboBoxCellEditableGetType();
// Null (with the toolkit's critical message) when `model` is not a tree model.
GtkWidget* ComboBoxCellEditableNew(GtkTreeModel* model);
// The menu of a started editable, for callers that drive it directly.
GtkWidget* ComboBoxCellEditableGetMenu(ComboBoxCellEditable* editable);
