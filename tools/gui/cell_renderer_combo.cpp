#include "tools/gui/cell_renderer_combo.h"

#include <algorithm>

namespace {

constexpr gint kRendererPad = 2;
constexpr gint kRendererWidth = 55;
constexpr gint kRendererHeight = 10;
constexpr gint kMenuWidth = 63;
// The menu opens this far below the top of the cell's background area,
// clear of the column headers.
constexpr gint kMenuDrop = 20;

enum { kPropRendererModel = 1, kPropRendererTextColumn = 2 };
enum { kPropEditableModel = 1, kPropEditableX = 2, kPropEditableY = 3 };

GtkCellRendererTextClass* s_rendererParent = nullptr;

CellRendererComboBox* AsRenderer(gpointer p) {
  return G_TYPE_CHECK_INSTANCE_CAST(p, CellRendererComboBoxGetType(), CellRendererComboBox);
}
ComboBoxCellEditable* AsEditable(gpointer p) {
  return G_TYPE_CHECK_INSTANCE_CAST(p, ComboBoxCellEditableGetType(), ComboBoxCellEditable);
}

// ---- editable -------------------------------------------------------------

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
    default: (void)pspec; break;
  }
}

void EditableGetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  ComboBoxCellEditable* self = AsEditable(object);
  switch (id) {
    case kPropEditableModel: g_value_set_object(value, self->model); break;
    case kPropEditableX: g_value_set_int(value, self->x); break;
    case kPropEditableY: g_value_set_int(value, self->y); break;
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
  FinishEditing(AsEditable(data));
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
  gtk_widget_set_size_request(menu, kMenuWidth, -1);
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
}

// ---- renderer -------------------------------------------------------------

void RendererGetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  CellRendererComboBox* self = AsRenderer(object);
  switch (id) {
    case kPropRendererModel: g_value_set_object(value, self->model); break;
    case kPropRendererTextColumn: g_value_set_int(value, self->textColumn); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
}

void RendererSetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  CellRendererComboBox* self = AsRenderer(object);
  switch (id) {
    case kPropRendererModel: {
      GtkTreeModel* model = GTK_TREE_MODEL(g_value_get_object(value));
      if (model) g_object_ref(model);
      if (self->model) g_object_unref(self->model);
      self->model = model;
      break;
    }
    case kPropRendererTextColumn: self->textColumn = g_value_get_int(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
  }
}

void RendererFinalize(GObject* object) {
  CellRendererComboBox* self = AsRenderer(object);
  if (self->model) g_object_unref(self->model);
  self->model = nullptr;
  G_OBJECT_CLASS(s_rendererParent)->finalize(object);
}

void RendererGetSize(GtkCellRenderer* cell, GtkWidget*, GdkRectangle* area, gint* xOffset,
                     gint* yOffset, gint* width, gint* height) {
  const gint w = kRendererWidth + 2 * gint(cell->xpad);
  const gint h = kRendererHeight + 2 * gint(cell->ypad);
  if (width) *width = w;
  if (height) *height = h;
  if (area) {
    if (xOffset) *xOffset = std::max(0, gint((area->width - w) * cell->xalign));
    if (yOffset) *yOffset = std::max(0, gint((area->height - h) * cell->yalign));
  }
}

void RendererEditingDone(GtkCellEditable* editable, gpointer data) {
  CellRendererComboBox* self = AsRenderer(data);
  const gchar* chosen = static_cast<const gchar*>(g_object_get_data(G_OBJECT(editable), kComboPathKey));
  gtk_cell_renderer_stop_editing(GTK_CELL_RENDERER(self), chosen == nullptr);
  if (!chosen) return;
  const gchar* path = static_cast<const gchar*>(g_object_get_data(G_OBJECT(self), kComboPathKey));
  g_signal_emit_by_name(self, "edited", path, chosen);
}

GtkCellEditable* RendererStartEditing(GtkCellRenderer* cell, GdkEvent*, GtkWidget* widget,
                                      const gchar* path, GdkRectangle* background, GdkRectangle*,
                                      GtkCellRendererState) {
  CellRendererComboBox* self = AsRenderer(cell);
  g_object_set_data_full(G_OBJECT(self), kComboPathKey, g_strdup(path), g_free);

  gint originX = 0, originY = 0;
  if (widget->window) gdk_window_get_origin(widget->window, &originX, &originY);
  // The cell's area is in the list's visible coordinates, so the scroll
  // offsets are already part of it.
  const gint x = std::max(0, originX + background->x);
  const gint y = std::max(0, originY + background->y + kMenuDrop);

  GtkWidget* editable = ComboBoxCellEditableNew(self->model);
  if (!editable) return nullptr;
  g_object_set(editable, "x", x, "y", y, nullptr);
  gtk_widget_show(editable);
  g_signal_connect(editable, "editing_done", G_CALLBACK(RendererEditingDone), self);
  return GTK_CELL_EDITABLE(editable);
}

void RendererInit(GTypeInstance* instance, gpointer) {
  CellRendererComboBox* self = reinterpret_cast<CellRendererComboBox*>(instance);
  GtkCellRenderer* cell = GTK_CELL_RENDERER(instance);
  self->model = nullptr;
  self->textColumn = -1;
  cell->xpad = kRendererPad;
  cell->ypad = kRendererPad;
  cell->mode = GTK_CELL_RENDERER_MODE_INERT;
}

void RendererClassInit(gpointer klass, gpointer) {
  s_rendererParent = GTK_CELL_RENDERER_TEXT_CLASS(g_type_class_peek_parent(klass));
  GObjectClass* object = G_OBJECT_CLASS(klass);
  GtkCellRendererClass* cell = GTK_CELL_RENDERER_CLASS(klass);
  object->get_property = RendererGetProperty;
  object->set_property = RendererSetProperty;
  object->finalize = RendererFinalize;
  cell->get_size = RendererGetSize;
  cell->start_editing = RendererStartEditing;
  g_object_class_install_property(
      object, kPropRendererModel,
      g_param_spec_object("model", "Model", "The model containing the possible values for the combo box",
                          GTK_TYPE_TREE_MODEL, G_PARAM_READWRITE));
  g_object_class_install_property(
      object, kPropRendererTextColumn,
      g_param_spec_int("text_column", "Text Column",
                       "A column in the data source model to get the strings from", -1, G_MAXINT, -1,
                       G_PARAM_READWRITE));
}

}  // namespace

GType CellRendererComboBoxGetType() {
  static GType type = 0;
  if (!type) {
    static const GTypeInfo info = {
        sizeof(CellRendererComboBoxClass), nullptr, nullptr, RendererClassInit, nullptr, nullptr,
        sizeof(CellRendererComboBox), 0, RendererInit, nullptr};
    type = g_type_register_static(GTK_TYPE_CELL_RENDERER_TEXT, "CustomCellRendererProgress", &info,
                                  GTypeFlags(0));
  }
  return type;
}

GtkCellRenderer* CellRendererComboBoxNew() {
  return GTK_CELL_RENDERER(g_object_new(CellRendererComboBoxGetType(), nullptr));
}

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
