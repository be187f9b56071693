#include "tools/gui/GtkDialogs.h"

#include "tools/gui/WindowUtils.h"

namespace {

class GtkUserDialogs : public UserDialogs {
 public:
  GtkWidget* parent = nullptr;
  bool Ask(const std::string& question) override {
    GtkWidget* d = gtk_message_dialog_new(GTK_WINDOW(parent), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                          GTK_BUTTONS_YES_NO, "%s", question.c_str());
    gtk_window_set_title(GTK_WINDOW(d), "");
    bool yes = gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_YES;
    gtk_widget_destroy(d);
    return yes;
  }
  void Message(const std::string& text, const std::string& title) override {
    GtkWidget* d = gtk_message_dialog_new(GTK_WINDOW(parent), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE,
                                          "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(d), title.c_str());
    gtk_dialog_run(GTK_DIALOG(d));
    gtk_widget_destroy(d);
  }
};

GtkUserDialogs s_dialogs;

}  // namespace

void InitWindowUtil(GtkWidget* parent) {
  s_dialogs.parent = parent;
  SetUserDialogs(&s_dialogs);
  SetExitHandler([] { gtk_main_quit(); });
}
