// Paging the views with their tool boxes, and quitting.
#include "ry_ctr.h"

gboolean ry_quit_program(GtkWidget* /*widget*/, gpointer /*data*/) {
    gtk_main_quit();
    return FALSE;
}

// PENDING(window issue): paging handlers.
void ry_show_toolbox(GtkWidget*, GtkAllocation*, gpointer) {}
void ry_scroll_to_first(GtkWidget*, gpointer) {}
void ry_scroll_up(GtkWidget*, gpointer) {}
void ry_scroll_down(GtkWidget*, gpointer) {}
void ry_scroll_to_last(GtkWidget*, gpointer) {}
