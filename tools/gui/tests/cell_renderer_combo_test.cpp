#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/gui/ComboBoxCellEditable.h"
#include "tools/gui/tests/gui2_xvfb.h"

extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

GtkListStore* Words() {
  GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
  for (const char* w : {"Up(+)", "Down(-)"}) {
    GtkTreeIter it;
    gtk_list_store_append(store, &it);
    gtk_list_store_set(store, &it, 0, w, -1);
  }
  return store;
}

TEST(CellRendererCombo, DefaultsPropertiesAndSize) {
  REQUIRE_XVFB();
  GtkCellRenderer* cell = CellRendererComboBoxNew();
  g_object_ref_sink(cell);
  EXPECT_STREQ(G_OBJECT_TYPE_NAME(cell), "CustomCellRendererProgress");
  EXPECT_TRUE(GTK_IS_CELL_RENDERER_TEXT(cell));
  EXPECT_EQ(cell->mode, GTK_CELL_RENDERER_MODE_INERT);
  gint column = 0;
  g_object_get(cell, "text_column", &column, nullptr);
  EXPECT_EQ(column, -1);

  GtkListStore* words = Words();
  g_object_set(cell, "model", words, "text-column", 0, "editable", TRUE, nullptr);
  GtkTreeModel* model = nullptr;
  g_object_get(cell, "model", &model, "text_column", &column, nullptr);
  EXPECT_EQ(model, GTK_TREE_MODEL(words));
  EXPECT_EQ(column, 0);
  EXPECT_EQ(cell->mode, GTK_CELL_RENDERER_MODE_EDITABLE);
  g_object_unref(model);
  g_object_unref(words);  // the renderer keeps its own reference

  const struct {
    GdkRectangle area;
    gfloat xalign, yalign;
    gint x, y;
  } cases[] = {
      {{0, 0, 100, 40}, 0.5f, 0.5f, 20, 13},
      {{0, 0, 100, 40}, 0.0f, 1.0f, 0, 26},
      {{0, 0, 30, 8}, 1.0f, 1.0f, 0, 0},  // a smaller area never gives negative offsets
  };
  for (const auto& c : cases) {
    g_object_set(cell, "xalign", c.xalign, "yalign", c.yalign, nullptr);
    gint x = -1, y = -1, w = 0, h = 0;
    GdkRectangle area = c.area;
    gtk_cell_renderer_get_size(cell, nullptr, &area, &x, &y, &w, &h);
    EXPECT_EQ(w, 55 + 2 * 2);
    EXPECT_EQ(h, 10 + 2 * 2);
    EXPECT_EQ(x, c.x) << c.area.width;
    EXPECT_EQ(y, c.y) << c.area.height;
  }
  g_object_unref(cell);
}

TEST(CellRendererCombo, EditableNeedsAModel) {
  REQUIRE_XVFB();
  GtkWidget* label = gtk_label_new("x");
  g_object_ref_sink(label);
  EXPECT_EQ(ComboBoxCellEditableNew(reinterpret_cast<GtkTreeModel*>(label)), nullptr);
  g_object_unref(label);

  GtkListStore* words = Words();
  GtkWidget* editable = ComboBoxCellEditableNew(GTK_TREE_MODEL(words));
  ASSERT_NE(editable, nullptr);
  g_object_ref_sink(editable);
  EXPECT_STREQ(G_OBJECT_TYPE_NAME(editable), "ComboBoxCellEditable");
  EXPECT_TRUE(GTK_IS_CELL_EDITABLE(editable));
  g_object_set(editable, "x", 120, "y", 45, nullptr);
  gint x = 0, y = 0;
  g_object_get(editable, "x", &x, "y", &y, nullptr);
  EXPECT_EQ(x, 120);
  EXPECT_EQ(y, 45);
  gtk_widget_destroy(editable);
  g_object_unref(editable);
  g_object_unref(words);
}

struct Edited {
  std::vector<std::string> seen;
};

void OnEdited(GtkCellRendererText*, gchar* path, gchar* text, gpointer data) {
  static_cast<Edited*>(data)->seen.push_back(std::string(path) + "=" + text);
}

// The renderer alone, outside a list: a choice gives one "edited" signal
// with the path and the word; closing the menu gives none.
TEST(CellRendererCombo, ChoiceEmitsEditedOnce) {
  REQUIRE_XVFB();
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* view = gtk_tree_view_new();
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  DrainEvents();
  GtkCellRenderer* cell = CellRendererComboBoxNew();
  g_object_ref_sink(cell);
  GtkListStore* words = Words();
  g_object_set(cell, "model", words, "text-column", 0, "editable", TRUE, nullptr);
  g_object_unref(words);
  Edited edited;
  g_signal_connect(cell, "edited", G_CALLBACK(OnEdited), &edited);

  for (int choose = 0; choose < 2; ++choose) {
    GdkRectangle area = {10, 10, 60, 20};
    GtkCellEditable* editable = gtk_cell_renderer_start_editing(cell, nullptr, view, "3", &area, &area,
                                                                GtkCellRendererState(0));
    ASSERT_NE(editable, nullptr);
    g_object_ref_sink(editable);
    gtk_cell_editable_start_editing(editable, nullptr);
    GtkWidget* menu = ComboBoxCellEditableGetMenu(reinterpret_cast<ComboBoxCellEditable*>(editable));
    ASSERT_NE(menu, nullptr);
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    if (choose)
      gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), GTK_WIDGET(items->next->data), TRUE);
    else
      gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu));
    g_list_free(items);
    DrainEvents();
    gtk_widget_destroy(GTK_WIDGET(editable));
    g_object_unref(editable);
  }
  EXPECT_EQ(edited.seen, std::vector<std::string>{"3=Down(-)"});
  g_object_unref(cell);
  gtk_widget_destroy(window);
  DrainEvents();
}

// GLib warnings and criticals raised while a test runs.
struct LogCount {
  int problems = 0;
  std::vector<std::string> messages;
};

void CountProblem(const gchar*, GLogLevelFlags, const gchar* message, gpointer data) {
  auto* count = static_cast<LogCount*>(data);
  ++count->problems;
  count->messages.push_back(message != nullptr ? message : "");
}

ComboBoxCellEditable* EditableIn(GtkWidget* view) {
  ComboBoxCellEditable* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(view));
  for (GList* c = children; c != nullptr; c = c->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(c->data, ComboBoxCellEditableGetType()))
      found = reinterpret_cast<ComboBoxCellEditable*>(c->data);
  g_list_free(children);
  return found;
}

// The polarity column of a list wider than its window, as on the mode-line
// page: the list is scrolled to the column and the cell edited. The menu
// opens inside the window, right below the cell, wide enough for its words,
// and the edit raises no toolkit warning.
TEST(CellRendererCombo, MenuOpensBelowTheScrolledCell) {
  REQUIRE_XVFB();
  LogCount log;
  const guint handler = g_log_set_handler(
      "Gtk", GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING), CountProblem, &log);
  const guint glibHandler = g_log_set_handler(
      "GLib-GObject", GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING), CountProblem,
      &log);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_move(GTK_WINDOW(window), 40, 30);
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_ALWAYS,
                                 GTK_POLICY_AUTOMATIC);
  gtk_widget_set_size_request(scrolled, 300, 160);
  constexpr int kTextColumns = 10;
  GType types[kTextColumns + 1];
  for (GType& type : types) type = G_TYPE_STRING;
  GtkListStore* store = gtk_list_store_newv(kTextColumns + 1, types);
  for (int row = 0; row < 3; ++row) {
    GtkTreeIter it;
    gtk_list_store_append(store, &it);
    for (int c = 0; c < kTextColumns; ++c) gtk_list_store_set(store, &it, c, "1024 wide cell", -1);
    gtk_list_store_set(store, &it, kTextColumns, "Up(+)", -1);
  }
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  for (int c = 0; c < kTextColumns; ++c)
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "Column",
                                                gtk_cell_renderer_text_new(), "text", c, nullptr);
  GtkCellRenderer* cell = CellRendererComboBoxNew();
  GtkListStore* words = Words();
  g_object_set(cell, "model", words, "text-column", 0, "editable", TRUE, nullptr);
  g_object_unref(words);
  GtkTreeViewColumn* polarity = gtk_tree_view_column_new_with_attributes(
      "HSync polarity", cell, "text", kTextColumns, nullptr);
  gtk_tree_view_append_column(GTK_TREE_VIEW(view), polarity);
  Edited edited;
  g_signal_connect(cell, "edited", G_CALLBACK(OnEdited), &edited);
  gtk_container_add(GTK_CONTAINER(scrolled), view);
  gtk_container_add(GTK_CONTAINER(window), scrolled);
  gtk_widget_show_all(window);
  DrainEvents();

  // Scrolled to the far right, where the polarity column is.
  GtkAdjustment* h = gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(scrolled));
  ASSERT_GT(h->upper - h->page_size, 200.0) << "the list must be wider than its window";
  gtk_adjustment_set_value(h, h->upper - h->page_size);
  DrainEvents();

  GtkTreePath* path = gtk_tree_path_new_from_indices(1, -1);
  GdkRectangle cellArea;
  gtk_tree_view_get_background_area(GTK_TREE_VIEW(view), path, polarity, &cellArea);
  gtk_tree_view_set_cursor_on_cell(GTK_TREE_VIEW(view), path, polarity, cell, TRUE);
  gtk_tree_path_free(path);
  DrainEvents();
  ComboBoxCellEditable* editable = EditableIn(view);
  ASSERT_NE(editable, nullptr);
  GtkWidget* menu = ComboBoxCellEditableGetMenu(editable);
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(GTK_WIDGET_VISIBLE(menu));

  gint windowX = 0, windowY = 0, rowsX = 0, rowsY = 0, menuX = 0, menuY = 0;
  gdk_window_get_origin(window->window, &windowX, &windowY);
  gdk_window_get_origin(gtk_tree_view_get_bin_window(GTK_TREE_VIEW(view)), &rowsX, &rowsY);
  gdk_window_get_origin(gtk_widget_get_toplevel(menu)->window, &menuX, &menuY);
  const gint cellLeft = rowsX + cellArea.x;
  const gint cellBottom = rowsY + cellArea.y + cellArea.height;
  EXPECT_GE(menuX, windowX);
  EXPECT_LT(menuX, windowX + window->allocation.width);
  EXPECT_EQ(menuX, cellLeft);
  EXPECT_EQ(menuY, cellBottom);

  // Wide enough for its widest word.
  GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* i = items; i != nullptr; i = i->next) {
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(i->data));
    GtkRequisition need;
    gtk_widget_size_request(label, &need);
    EXPECT_GE(GTK_WIDGET(i->data)->allocation.width, need.width)
        << gtk_label_get_text(GTK_LABEL(label));
    EXPECT_GE(label->allocation.width, need.width) << gtk_label_get_text(GTK_LABEL(label));
  }
  gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), GTK_WIDGET(items->next->data), TRUE);
  g_list_free(items);
  DrainEvents();
  EXPECT_EQ(edited.seen, std::vector<std::string>{"1=Down(-)"});
  EXPECT_EQ(log.problems, 0) << (log.messages.empty() ? "" : log.messages[0]);

  g_log_remove_handler("Gtk", handler);
  g_log_remove_handler("GLib-GObject", glibHandler);
  gtk_widget_destroy(window);
  DrainEvents();
}

}  // namespace
