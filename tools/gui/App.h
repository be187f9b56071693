// The program's windows as start-up builds them.
#pragma once
#include <string>

// Creates the main, Advanced, About and Info windows, initialises them in
// start-up order and shows the main window. GTK must be initialised.
void CreateAppWindows();
// The start-up warnings: a library failure, a missing configuration
// extension, more than one board (`probe` 3), no board (`probe` 26).
void ShowStartupMessages(const std::string& failure, int probe);
// Destroys the secondary windows and releases the main window's parts.
void DestroyAppWindows();
