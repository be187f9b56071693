// A text cell renderer whose editing pops up a menu of the words in a tree
// model (column 0), through a ComboBoxCellEditable.
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

GType CellRendererComboBoxGetType();
GtkCellRenderer* CellRendererComboBoxNew();
