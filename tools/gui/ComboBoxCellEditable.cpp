// The editing widget of the polarity cells: a bin that implements the
// cell-editable interface and pops up a menu of the model's words.
#include "tools/gui/ComboBoxCellEditable.h"

#include <algorithm>

namespace {

enum {
  kPropEditableModel = 1,
  kPropEditableX = 2,
  kPropEditableY = 3,
  // The cell-editable interface's own property: the toolkit reads it when
  // the editing ends.
  kPropEditingCanceled = 4,
};

ComboBoxCellEditable* AsEditable(gpointer p) {
  return G_TYPE_CHECK_INSTANCE_CAST(p, ComboBoxCellEditableGetType(), ComboBoxCellEditable);
}

void ComboBoxSetPosition(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  ComboBoxCellEditable* self = AsEditable(object);
  switch (id) {
    case kPropEditableModel: {
      GtkTreeModel* model = GTK_TREE_MODEL(g_value_get_object(value));
      if (model) g_object_ref(model);
      if (self->model) g_object_unref(self->model);
      self->model = model;
      break;
    }
    case kPropEditableX: self->x = g_value_get_int(value); break;
    case kPropEditableY: self->y = g_value_get_int(value); break;
    case kPropEditingCanceled: self->canceled = g_value_get_boolean(value); break;
    default: (void)pspec; break;
  }
}

void EditableGetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  ComboBoxCellEditable* self = AsEditable(object);
  switch (id) {
    case kPropEditableModel: g_value_set_object(value, self->model); break;
    case kPropEditableX: g_value_set_int(value, self->x); break;
    case kPropEditableY: g_value_set_int(value, self->y); break;
    case kPropEditingCanceled: g_value_set_boolean(value, self->canceled); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
}

GtkWidgetClass* s_editableParent = nullptr;

void EditableDestroy(GtkObject* object) {
  ComboBoxCellEditable* self = AsEditable(object);
  if (self->menu) {
    GtkWidget* menu = self->menu;
    self->menu = nullptr;
    gtk_widget_destroy(menu);
  }
  if (self->model) {
    g_object_unref(self->model);
    self->model = nullptr;
  }
  GTK_OBJECT_CLASS(s_editableParent)->destroy(object);
}

void MenuPosition(GtkMenu*, gint* x, gint* y, gboolean* pushIn, gpointer data) {
  ComboBoxCellEditable* self = AsEditable(data);
  *x = self->x;
  *y = self->y;
  *pushIn = TRUE;
}

void FinishEditing(ComboBoxCellEditable* self) {
  if (g_object_get_data(G_OBJECT(self), "combo-finished")) return;
  g_object_set_data(G_OBJECT(self), "combo-finished", GINT_TO_POINTER(1));
  gtk_cell_editable_editing_done(GTK_CELL_EDITABLE(self));
  gtk_cell_editable_remove_widget(GTK_CELL_EDITABLE(self));
}

void MenuItemActivated(GtkMenuItem* item, gpointer data) {
  ComboBoxCellEditable* self = AsEditable(data);
  const gchar* text = gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(item))));
  g_object_set_data_full(G_OBJECT(self), kComboPathKey, g_strdup(text), g_free);
  FinishEditing(self);
}

gboolean FinishWithoutChoice(gpointer data) {
  ComboBoxCellEditable* self = AsEditable(data);
  // The menu went away without a word chosen: the editing was cancelled.
  if (g_object_get_data(G_OBJECT(self), kComboPathKey) == nullptr) self->canceled = TRUE;
  FinishEditing(self);
  g_object_unref(data);
  return FALSE;
}

// The menu closes before an item's "activate" runs; closing without a choice
// must still end the editing, so that is decided once the menu is done.
void MenuDeactivated(GtkMenuShell*, gpointer data) {
  g_idle_add(FinishWithoutChoice, g_object_ref(data));
}

void ComboBoxCellEditableStartEditing(GtkCellEditable* editable, GdkEvent*) {
  ComboBoxCellEditable* self = AsEditable(editable);
  GtkWidget* menu = gtk_menu_new();
  self->menu = menu;
  g_object_ref_sink(menu);
  GtkTreeIter iter;
  if (self->model && gtk_tree_model_get_iter_first(self->model, &iter)) {
    do {
      gchar* text = nullptr;
      gtk_tree_model_get(self->model, &iter, 0, &text, -1);
      GtkWidget* item = gtk_menu_item_new_with_label(text ? text : "");
      g_free(text);
      g_signal_connect(item, "activate", G_CALLBACK(MenuItemActivated), self);
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
      gtk_widget_show(item);
    } while (gtk_tree_model_iter_next(self->model, &iter));
  }
  // The menu takes the width of its words, so none is cut.
  g_signal_connect(menu, "deactivate", G_CALLBACK(MenuDeactivated), self);
  gtk_menu_popup(GTK_MENU(menu), nullptr, nullptr, MenuPosition, self, 0, gtk_get_current_event_time());
}

void EditableInterfaceInit(gpointer g, gpointer) {
  auto* iface = static_cast<GtkCellEditableIface*>(g);
  iface->start_editing = ComboBoxCellEditableStartEditing;
}

void EditableFinalize(GObject* object) {
  ComboBoxCellEditable* self = AsEditable(object);
  if (self->menu) g_object_unref(self->menu);
  G_OBJECT_CLASS(s_editableParent)->finalize(object);
}

void EditableClassInit(gpointer klass, gpointer) {
  s_editableParent = GTK_WIDGET_CLASS(g_type_class_peek_parent(klass));
  GObjectClass* object = G_OBJECT_CLASS(klass);
  object->set_property = ComboBoxSetPosition;
  object->get_property = EditableGetProperty;
  object->finalize = EditableFinalize;
  GTK_OBJECT_CLASS(klass)->destroy = EditableDestroy;
  const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_CONSTRUCT);
  g_object_class_install_property(
      object, kPropEditableModel,
      g_param_spec_object("model", "ComboBoxCellEditable model", "The model for ComboBoxCellEditable",
                          GTK_TYPE_TREE_MODEL, G_PARAM_READWRITE));
  g_object_class_install_property(
      object, kPropEditableX,
      g_param_spec_int("x", "ComboBoxCellEditable x pos", "The location of ComboBoxCellEditable", 0,
                       G_MAXINT, 0, flags));
  g_object_class_install_property(
      object, kPropEditableY,
      g_param_spec_int("y", "ComboBoxCellEditable y pos", "The location of ComboBoxCellEditable", 0,
                       G_MAXINT, 0, flags));
  g_object_class_override_property(object, kPropEditingCanceled, "editing-canceled");
}

}  // namespace

GType ComboBoxCellEditableGetType() {
  static GType type = 0;
  if (!type) {
    static const GTypeInfo info = {
        sizeof(ComboBoxCellEditableClass), nullptr, nullptr, EditableClassInit, nullptr, nullptr,
        sizeof(ComboBoxCellEditable), 0, nullptr, nullptr};
    static const GInterfaceInfo editableInfo = {EditableInterfaceInit, nullptr, nullptr};
    type = g_type_register_static(GTK_TYPE_BIN, "ComboBoxCellEditable", &info, GTypeFlags(0));
    g_type_add_interface_static(type, GTK_TYPE_CELL_EDITABLE, &editableInfo);
  }
  return type;
}

GtkWidget* ComboBoxCellEditableNew(GtkTreeModel* poModel) {
  g_return_val_if_fail(GTK_IS_TREE_MODEL(poModel), nullptr);
  return GTK_WIDGET(g_object_new(ComboBoxCellEditableGetType(), "model", poModel, nullptr));
}

GtkWidget* ComboBoxCellEditableGetMenu(ComboBoxCellEditable* editable) { return editable->menu; }
