// The layout preview drawn into the main window's "mwDrawArea".
#pragma once

#include <gtk/gtk.h>

#include "tools/gui/preview_geometry.h"

// What the controller currently holds; the area width is filled in here.
using PreviewStateFn = preview::Input (*)();

// Finds "mwDrawArea" on `window` and makes the digit images.
void InitPreviewDrawArea(GtkWidget* window, PreviewStateFn state);
// A new white backing pixmap of the area's size (configure event).
void EraseDrawPreviewArea();
// Copies that part of the backing pixmap onto the area and draws the
// picture over it (expose event).
void RedrawPreviewArea(int x, int y, int w, int h);
void DrawPreview();
void ShutdownPreviewDrawArea();

// Signal handlers for the area, as the main window connects them.
gboolean DrawAreaConfigEvent(GtkWidget* widget, GdkEventConfigure* event, gpointer data);
gboolean DrawAreaExposeEvent(GtkWidget* widget, GdkEventExpose* event, gpointer data);

// A turned copy: 90 counter-clockwise, 270 clockwise, 180 upside down, 0 a
// plain copy; null (with a warning) for any other angle.
GdkPixbuf* GdkPixbufRotateSimple(const GdkPixbuf* src, int angle);
// Digit image 1-4 (owned by the preview).
GdkPixbuf* PreviewDigitImage(int digit);
