// Paging handlers of the tool boxes, and quitting.
#pragma once

#include "gtk_include.h"

gboolean ry_quit_program(GtkWidget* widget, gpointer data);

// data: the tool box of the view.
void ry_show_toolbox(GtkWidget* widget, GtkAllocation* allocation, gpointer data);
// data: the view (a tree view or an icon view).
void ry_scroll_to_first(GtkWidget* widget, gpointer data);
void ry_scroll_up(GtkWidget* widget, gpointer data);
void ry_scroll_down(GtkWidget* widget, gpointer data);
void ry_scroll_to_last(GtkWidget* widget, gpointer data);
