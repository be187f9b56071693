#include "tools/gui/AdvancedWindow.h"

#include <cstring>

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/GuiAssert.h"
#include "tools/gui/UiController.h"
#include "tools/gui/support.h"

namespace {

GtkWidget* s_poAdvWindow = nullptr;
constexpr size_t kMaxChosenName = 1024;

void SetRadioButtonState(const char* name, bool on) {
  if (s_poAdvWindow == nullptr) return;
  GtkWidget* w = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(s_poAdvWindow), name));
  if (w != nullptr) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), on);
}

gboolean AdvancedWindowDestroyEventCb(GtkWidget*, GdkEvent*, gpointer) {
  HideAdvancedWindowCtrl();
  return TRUE;
}
void AwCloseButtonCb(GtkButton*, gpointer) { HideAdvancedWindowCtrl(); }
void AwCheckBusMasteringToggled(GtkToggleButton* b, gpointer) { SetBusMasteringCtrl(gtk_toggle_button_get_active(b)); }
void AwForceDVICheckButtonToggledCb(GtkToggleButton* b, gpointer) { SetForcingDVICtrl(gtk_toggle_button_get_active(b)); }
void AwCheck3DToggled(GtkToggleButton* b, gpointer) { Set3DCtrl(gtk_toggle_button_get_active(b)); }
void AwCheckButtonEdidToggled(GtkToggleButton* b, gpointer) {
  SetUsingEdidCtrl(gtk_toggle_button_get_active(b));
  UpdateResolutionComboBox();
}
void AwOutputFileEntryChangedCb(GtkEditable* e, gpointer) {
  SetOutputFileCtrl(gtk_entry_get_text(GTK_ENTRY(e)));
}
void AwOutputFileChooseButtonClickCb(GtkButton*, gpointer) {
  GtkWidget* chooser = gtk_file_chooser_dialog_new("OrvaneConfig - FileChooser", GTK_WINDOW(s_poAdvWindow),
                                                   GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
  GtkWidget* cancel = gtk_dialog_add_button(GTK_DIALOG(chooser), GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL);
  GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(chooser), GTK_STOCK_OPEN, GTK_RESPONSE_OK);
  register_widget(chooser, cancel, "fcButtonCancel");
  register_widget(chooser, ok, "fcButtonOk");
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_OK);
  gtk_file_chooser_set_show_hidden(GTK_FILE_CHOOSER(chooser), TRUE);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_window_set_position(GTK_WINDOW(chooser), GTK_WIN_POS_MOUSE);
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_OK) {
    gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    if (name != nullptr && std::strlen(name) < kMaxChosenName) SetOutputFileEntry(name);
    g_free(name);
  }
  gtk_widget_destroy(chooser);
}
void AwButtonDefaultClickedCb(GtkButton*, gpointer) { AdvancedWindowSetDefaultCtrl(); }

class GtkAdvancedView : public AdvancedView {
 public:
  void SetOutputFileEntry(const char* text) override { ::SetOutputFileEntry(text); }
  void SetUsingBusMastering(bool on) override { ::SetUsingBusMastering(on); }
  void SetForcingDVI(bool on) override { ::SetForcingDVI(on); }
  void SetUsingEdid(bool on) override { ::SetUsingEdid(on); }
  void SetUsingGl(bool on) override { ::SetUsingGl(on); }
  void Show() override { ShowAdvancedWindow(); }
  void Hide() override { HideAdvancedWindow(); }
};
GtkAdvancedView s_view;

GtkWidget* Check(GtkWidget* top, GtkWidget* box, const char* name, const char* label, GtkTooltips* tips,
                 const char* tip, GCallback cb) {
  GtkWidget* b = gtk_check_button_new_with_mnemonic(label);
  register_widget(top, b, name);
  if (tip != nullptr) gtk_tooltips_set_tip(tips, b, tip, nullptr);
  gtk_box_pack_start(GTK_BOX(box), b, FALSE, FALSE, 0);
  g_signal_connect(b, "toggled", cb, nullptr);
  return b;
}

}  // namespace

GtkWidget* create_AdvancedWindow() {
  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(top), "OrvaneConfig - Advanced");
  gtk_window_set_modal(GTK_WINDOW(top), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
  gtk_window_set_position(GTK_WINDOW(top), GTK_WIN_POS_MOUSE);
  gtk_window_set_type_hint(GTK_WINDOW(top), GDK_WINDOW_TYPE_HINT_DIALOG);
  g_object_set_data(G_OBJECT(top), "AdvancedWindow", top);
  GtkTooltips* tips = gtk_tooltips_new();
  GtkWidget* vbox = gtk_vbox_new(FALSE, 6);
  gtk_container_set_border_width(GTK_CONTAINER(vbox), 8);
  gtk_container_add(GTK_CONTAINER(top), vbox);

  GtkWidget* mode = gtk_frame_new(nullptr);
  GtkWidget* modeLabel = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(modeLabel), "<b>Mode</b>");
  gtk_frame_set_label_widget(GTK_FRAME(mode), modeLabel);
  register_widget(top, mode, "awFrameMode");
  GtkWidget* checks = gtk_vbox_new(FALSE, 2);
  gtk_container_add(GTK_CONTAINER(mode), checks);
  Check(top, checks, "awCheckBusMast", "Enable bus mastering", tips, nullptr, G_CALLBACK(AwCheckBusMasteringToggled));
  Check(top, checks, "awForceDVICheck", "Force digital output", tips, "Force digital output for every displays",
        G_CALLBACK(AwForceDVICheckButtonToggledCb));
  Check(top, checks, "awCheck3D", "Enable OpenGL hardware acceleration", tips, "Add support from OpenGL application",
        G_CALLBACK(AwCheck3DToggled));
  Check(top, checks, "awCheckButtonEdid", "Filter with monitor EDID", tips, nullptr,
        G_CALLBACK(AwCheckButtonEdidToggled));
  gtk_box_pack_start(GTK_BOX(vbox), mode, FALSE, FALSE, 0);

  GtkWidget* out = gtk_frame_new(nullptr);
  GtkWidget* outLabel = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(outLabel), "<b>Output file :</b>");
  gtk_frame_set_label_widget(GTK_FRAME(out), outLabel);
  GtkWidget* row = gtk_hbox_new(FALSE, 4);
  gtk_container_add(GTK_CONTAINER(out), row);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(entry), 256);
  gtk_widget_set_size_request(entry, 260, -1);
  gtk_tooltips_set_tip(tips, entry,
                       "To save the output file to a location other than your default xorg.conf path, insert path "
                       "and file name here.",
                       nullptr);
  register_widget(top, entry, "awOutputFileEntry");
  gtk_box_pack_start(GTK_BOX(row), entry, TRUE, TRUE, 0);
  GtkWidget* choose = gtk_button_new_from_stock(GTK_STOCK_OPEN);
  register_widget(top, choose, "awButtonOutputChoose");
  gtk_box_pack_start(GTK_BOX(row), choose, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(vbox), out, FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_hbutton_box_new();
  GtkWidget* def = gtk_button_new_with_mnemonic("Default");
  register_widget(top, def, "awButtonDefault");
  GtkWidget* close = gtk_button_new_from_stock(GTK_STOCK_CLOSE);
  register_widget(top, close, "awButtonClose");
  gtk_container_add(GTK_CONTAINER(buttons), def);
  gtk_container_add(GTK_CONTAINER(buttons), close);
  gtk_box_pack_start(GTK_BOX(vbox), buttons, FALSE, FALSE, 0);

  g_signal_connect(top, "delete_event", G_CALLBACK(AdvancedWindowDestroyEventCb), nullptr);
  g_signal_connect(close, "clicked", G_CALLBACK(AwCloseButtonCb), nullptr);
  g_signal_connect(entry, "changed", G_CALLBACK(AwOutputFileEntryChangedCb), nullptr);
  g_signal_connect(choose, "clicked", G_CALLBACK(AwOutputFileChooseButtonClickCb), nullptr);
  g_signal_connect(def, "clicked", G_CALLBACK(AwButtonDefaultClickedCb), nullptr);
  gtk_widget_show_all(vbox);
  return top;
}

void InitAdvancedWindow(GtkWidget* window) {
  s_poAdvWindow = window;
  SetAdvancedView(&s_view);
  CardInfo* card = GetSelectedCardCtrl();
  gtk_widget_set_sensitive(lookup_widget(window, "awCheck3D"), card != nullptr && card->openGL != 0);
}

void ShowAdvancedWindow() {
  GUI_ASSERT(s_poAdvWindow != nullptr);
  gtk_widget_show(s_poAdvWindow);
}
void HideAdvancedWindow() {
  GUI_ASSERT(s_poAdvWindow != nullptr);
  gtk_widget_hide(s_poAdvWindow);
}
void DestroyAdvancedWindow() {
  GUI_ASSERT(s_poAdvWindow != nullptr);
  SetAdvancedView(nullptr);
  gtk_widget_destroy(s_poAdvWindow);
  s_poAdvWindow = nullptr;
}

void SetOutputFileEntry(const char* text) {
  if (s_poAdvWindow == nullptr) return;
  gtk_entry_set_text(GTK_ENTRY(lookup_widget(s_poAdvWindow, "awOutputFileEntry")), text);
}
void SetUsingBusMastering(bool on) { SetRadioButtonState("awCheckBusMast", on); }
void SetForcingDVI(bool on) { SetRadioButtonState("awForceDVICheck", on); }
void SetUsingEdid(bool on) { SetRadioButtonState("awCheckButtonEdid", on); }
void SetUsingGl(bool on) { SetRadioButtonState("awCheck3D", on); }
