#pragma once
#include <gtk/gtk.h>

GtkWidget* create_AboutWindow();
void InitAboutWindow(GtkWidget* window);
void ShowAboutWindow();
void HideAboutWindow();
void DestroyAboutWindow();
