// The cell renderer of the polarity columns: a text renderer whose editing
// opens a ComboBoxCellEditable over the cell.
#include "tools/gui/CellRendererComboBox.h"

#include <algorithm>

#include "tools/gui/ComboBoxCellEditable.h"

namespace {

constexpr gint kRendererPad = 2;
constexpr gint kRendererWidth = 55;
constexpr gint kRendererHeight = 10;

enum { kPropRendererModel = 1, kPropRendererTextColumn = 2 };

GtkCellRendererTextClass* s_rendererParent = nullptr;

CellRendererComboBox* AsRenderer(gpointer p) {
  return G_TYPE_CHECK_INSTANCE_CAST(p, CellRendererComboBoxGetType(), CellRendererComboBox);
}

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

  // The cell's area is in the coordinates of the list's row window, which
  // the list moves as it scrolls: from that window's place on the screen,
  // the menu opens right below the cell, wherever the list is scrolled to.
  GdkWindow* rows = GTK_IS_TREE_VIEW(widget) ? gtk_tree_view_get_bin_window(GTK_TREE_VIEW(widget))
                                             : widget->window;
  gint originX = 0, originY = 0;
  if (rows != nullptr) gdk_window_get_origin(rows, &originX, &originY);
  const gint x = std::max(0, originX + background->x);
  const gint y = std::max(0, originY + background->y + background->height);

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
