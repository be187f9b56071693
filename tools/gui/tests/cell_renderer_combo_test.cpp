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

}  // namespace
