// The settings and the window that the whole program shares, and the error dialog.
#include "ry_app.h"

int with_metadb = WITH_METADB;
GtkWidget* g_main_window = nullptr;

void run_error_dialog(const gchar* msg) {
    // "%s" keeps a "%" in the message from being read as a directive.
    GtkWidget* dialog = gtk_message_dialog_new(GTK_WINDOW(g_main_window), GTK_DIALOG_DESTROY_WITH_PARENT,
                                               GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", msg);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}
