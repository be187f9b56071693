#include "tools/gui/WindowUtils.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/gui/ConfigEngine.h"
#include "tools/gui/LogSystem.h"
#include "tools/lib/ErrorCodes.h"
#include "tools/lib/XCommInterface.h"

namespace {

UserDialogs* s_dialogs = nullptr;
void (*s_exitHandler)() = nullptr;

constexpr size_t kPipeBlock = 8192;
constexpr size_t kMaxDialogText = 1024;
constexpr long kMaxPropertyUnits = 64;

std::vector<char*> ArgvOf(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// The window manager's check window, or None.
Window CheckWindow(Display* dpy) {
  Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == None) return None;
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  Window result = None;
  if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), check, 0, kMaxPropertyUnits, False, XA_WINDOW, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr && type == XA_WINDOW && format == 32 && count >= 1) {
    result = *reinterpret_cast<Window*>(data);
  }
  if (data != nullptr) XFree(data);
  return result;
}

}  // namespace

void SetUserDialogs(UserDialogs* dialogs) { s_dialogs = dialogs; }
void SetExitHandler(void (*handler)()) { s_exitHandler = handler; }

bool ExecuteCommand(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  PrintCommand(argv);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    PrintError("ERROR: cannot create a pipe\n");
    return false;
  }
  std::vector<char*> args = ArgvOf(argv);
  pid_t pid = fork();
  if (pid < 0) {
    PrintError("ERROR: forking child process failed\n");
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    dup2(fds[1], STDERR_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  char block[kPipeBlock];
  size_t written = 0;
  for (;;) {
    ssize_t n = read(fds[0], block, sizeof block);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && written == 0;
}

bool ExecuteCommandNoWait(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  PrintCommand(argv);
  std::vector<char*> args = ArgvOf(argv);
  pid_t pid = fork();
  if (pid < 0) {
    PrintError("ERROR: forking child process failed\n");
    return false;
  }
  if (pid == 0) {
    execvp(args[0], args.data());
    _exit(1);
  }
  return true;
}

bool ValidateWithUser(const std::string& question) {
  if (s_dialogs == nullptr) return false;
  return s_dialogs->Ask(question);
}

void OutputMsg(const std::string& text, const std::string& title) {
  if (s_dialogs == nullptr) {
    std::printf("%s\n", text.c_str());
    return;
  }
  // A message longer than a dialog holds is cut, never dropped: the user
  // must still learn that something went wrong.
  if (text.size() > kMaxDialogText) {
    s_dialogs->Message(text.substr(0, kMaxDialogText - 3) + "...", title);
    return;
  }
  s_dialogs->Message(text, title);
}

void OutputErrorMsg(const std::string& text) { OutputMsg(text, "Error"); }

bool IsUsingKde() { return std::getenv("KDE_FULL_SESSION") != nullptr; }
bool IsUsingGnome() { return std::getenv("GNOME_DESKTOP_SESSION_ID") != nullptr; }

bool IsUsingIceWM() {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return false;
  bool iceWm = false;
  Window wm = CheckWindow(dpy);
  Atom nameAtom = XInternAtom(dpy, "_NET_WM_NAME", True);
  if (wm != None && nameAtom != None) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    // Only a name that can be read decides.
    if (XGetWindowProperty(dpy, wm, nameAtom, 0, kMaxPropertyUnits, False, AnyPropertyType, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 8) {
      iceWm = count >= 5 && std::strncmp(reinterpret_cast<const char*>(data), "IceWM", 5) == 0;
    }
    if (data != nullptr) XFree(data);
  }
  XCloseDisplay(dpy);
  return iceWm;
}

void KillIceWmSessionManager() {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return;
  Window wm = CheckWindow(dpy);
  Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", True);
  long pid = 0;
  if (wm != None && pidAtom != None) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, wm, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
            Success &&
        data != nullptr && format == 32 && count == 1) {
      pid = *reinterpret_cast<long*>(data);
    }
    if (data != nullptr) XFree(data);
  }
  XCloseDisplay(dpy);
  // 0, 1 and negative numbers would reach init or whole process groups.
  if (pid > 1) kill(static_cast<pid_t>(pid), SIGKILL);
}

void RestartXSession() {
  if (IsUsingGnome()) {
    ExecuteCommandNoWait({"gnome-session-save", "--kill"});
    ExitProgram();
  } else if (IsUsingKde()) {
    ExecuteCommandNoWait({"kdeinit_shutdown"});
    ExitProgram();
  }
}

std::string GetGtkSuCmd() {
  for (const char* tool : {"gksu", "gnomesu", "gksudo"})
    if (ExecuteCommand({"which", tool})) return tool;
  return "gksu";
}

bool HasPermission(const char* path) { return access(path, W_OK) == 0; }

void ExitProgram() {
  if (s_exitHandler != nullptr) s_exitHandler();
}

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
    // A message titled as a warning or a note shows the warning icon, not
    // the error icon.
    const GtkMessageType type = title == "Warning" || title == "Attention" ? GTK_MESSAGE_WARNING : GTK_MESSAGE_ERROR;
    GtkWidget* d =
        gtk_message_dialog_new(GTK_WINDOW(parent), GTK_DIALOG_MODAL, type, GTK_BUTTONS_CLOSE, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(d), title.c_str());
    gtk_dialog_run(GTK_DIALOG(d));
    gtk_widget_destroy(d);
  }
};

GtkUserDialogs s_gtkDialogs;

}  // namespace

void InitWindowUtil(GtkWidget* parent) {
  s_gtkDialogs.parent = parent;
  SetUserDialogs(&s_gtkDialogs);
  SetExitHandler([] { gtk_main_quit(); });
}

void ShowStartupMessages(const std::string& failure, int probe) {
  if (!failure.empty()) OutputErrorMsg(failure);
  // A file that does not parse is said once, with where and what.
  else if (probe == kErrParseConfig) OutputErrorMsg(GetConfigEngine().ErrorText(probe));
  if (!ORVCommIsORVCfgExtFound())
    OutputMsg("You are currently running this application without the ORVCFG X Server extension. No modeline "
              "validation will be possible.",
              "Warning");
  if (probe == kErrOneCardOnly) OutputMsg(ErrorCodeToString(kErrOneCardOnly), "Warning");
  // Without a board there is nothing to configure: say so rather than show
  // an empty list.
  if (probe == kErrNoCard) OutputMsg(ErrorCodeToString(kErrNoCard), "Warning");
}
