#include "tools/gui/AdvancedWindow.h"

#include <gdk/gdkkeysyms.h>

#include <cstring>

// Whether this build carries the leak checker (the sanitizer build).
#if defined(__SANITIZE_ADDRESS__)
#define ORV_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORV_LEAK_CHECKED 1
#endif
#endif
#ifdef ORV_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

#include "tools/gui/AdvancedWindowCtrl.h"
#include "tools/gui/UiController.h"
#include "tools/gui/interface.h"
#include "tools/gui/support.h"

namespace {

GtkWidget* s_poAdvWindow = nullptr;
constexpr size_t kMaxChosenName = 1024;

void SetRadioButtonState(const char* name, bool on) {
  if (s_poAdvWindow == nullptr) return;
  GtkWidget* w = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(s_poAdvWindow), name));
  if (w != nullptr) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), on);
}

}  // namespace

gboolean AdvancedWindowDestroyEventCb(GtkWidget*, GdkEvent*, gpointer) {
  HideAdvancedWindowCtrl();
  return TRUE;
}
gboolean AdvancedWindowKeyPressCb(GtkWidget*, GdkEventKey* event, gpointer) {
  if (event->keyval != GDK_Escape) return FALSE;
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
namespace {

// Takes the file chooser down. The toolkit's chooser leaves the name of its
// settings file behind when it goes (128 bytes a use): in the sanitizer
// build, what is allocated meanwhile is no leak of the program's, as none
// of the program's code runs while the chooser is destroyed.
void DestroyFileChooser(GtkWidget* chooser) {
#ifdef ORV_LEAK_CHECKED
  __lsan_disable();
  gtk_widget_destroy(chooser);
  __lsan_enable();
#else
  gtk_widget_destroy(chooser);
#endif
}

}  // namespace

void AwOutputFileChooseButtonClickCb(GtkButton*, gpointer) {
  GtkWidget* chooser = create_FileChooser(s_poAdvWindow);
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_OK) {
    gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    if (name != nullptr && std::strlen(name) < kMaxChosenName) SetOutputFileEntry(name);
    g_free(name);
  }
  DestroyFileChooser(chooser);
}
void AwButtonDefaultClickedCb(GtkButton*, gpointer) { AdvancedWindowSetDefaultCtrl(); }

namespace {

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

}  // namespace

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
