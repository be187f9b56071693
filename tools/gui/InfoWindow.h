#pragma once
#include <gtk/gtk.h>

GtkWidget* create_InfoWindow();
void InitInfoWindow(GtkWidget* window);
void ShowInfoWindow();
void HideInfoWindow();
void DestroyInfoWindow();
