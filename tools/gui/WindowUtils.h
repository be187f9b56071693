// Commands, desktop detection and the message dialogs.
#pragma once
#include <gtk/gtk.h>

#include <string>
#include <vector>

// The dialogs as the window system shows them; tests answer for the user.
class UserDialogs {
 public:
  virtual ~UserDialogs() = default;
  virtual bool Ask(const std::string& question) = 0;
  virtual void Message(const std::string& text, const std::string& title) = 0;
};

void SetUserDialogs(UserDialogs* dialogs);
// Ends the main loop.
void SetExitHandler(void (*handler)());

// Runs the program with its arguments (argv[0] searched along PATH) and
// waits: true only when it exits with status 0 and writes nothing to its
// error output.
bool ExecuteCommand(const std::vector<std::string>& argv);
// Starts the program without waiting; false when it cannot be started.
bool ExecuteCommandNoWait(const std::vector<std::string>& argv);

bool ValidateWithUser(const std::string& question);
void OutputMsg(const std::string& text, const std::string& title);
void OutputErrorMsg(const std::string& text);

bool IsUsingKde();
bool IsUsingGnome();
bool IsUsingIceWM();
void KillIceWmSessionManager();
void RestartXSession();
// The first privilege tool "which" finds, "gksu" when none.
std::string GetGtkSuCmd();
bool HasPermission(const char* path);
void ExitProgram();

// The dialogs on `parent` (the main window); installs them for the GUI.
void InitWindowUtil(GtkWidget* parent);
// The start-up warnings: a library failure, a missing configuration
// extension, more than one board (`probe` 3), no board (`probe` 26).
void ShowStartupMessages(const std::string& failure, int probe);
