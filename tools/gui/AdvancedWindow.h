#pragma once
#include <gtk/gtk.h>

GtkWidget* create_AdvancedWindow();
void InitAdvancedWindow(GtkWidget* window);
void ShowAdvancedWindow();
void HideAdvancedWindow();
void DestroyAdvancedWindow();
void SetOutputFileEntry(const char* text);
void SetUsingBusMastering(bool on);
void SetForcingDVI(bool on);
void SetUsingEdid(bool on);
void SetUsingGl(bool on);
