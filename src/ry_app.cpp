// The settings and the window that the whole program shares, and the error dialog.
#include "ry_app.h"

#include <csignal>

#include "ry_raii.h"

int with_metadb = WITH_METADB;
GtkWidget* g_main_window = nullptr;

namespace {

// Written by the signal handler, read by everything else.
volatile sig_atomic_t quit_signalled = 0;
bool quitting = false;
// The error dialog on the screen, which a request to quit dismisses.
GtkWidget* running_dialog = nullptr;

}  // namespace

void ry_note_quit_signal() { quit_signalled = 1; }

bool ry_quit_requested() { return quitting || quit_signalled != 0; }

void ry_request_quit() {
    quitting = true;
    if (gtk_main_level() > 0) gtk_main_quit();
    // Its own loop would otherwise keep the program until someone presses OK.
    if (running_dialog != nullptr) gtk_dialog_response(GTK_DIALOG(running_dialog), GTK_RESPONSE_NONE);
}

void run_error_dialog(const gchar* msg) {
    if (ry_quit_requested()) return;
    // "%s" keeps a "%" in the message from being read as a directive.
    GtkWidget* dialog = gtk_message_dialog_new(GTK_WINDOW(g_main_window), GTK_DIALOG_DESTROY_WITH_PARENT,
                                               GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", msg);
    // Our own reference: the main window, when it goes, takes the dialog with it.
    ry::gobject_ptr<GtkWidget> hold(GTK_WIDGET(g_object_ref(dialog)));
    GtkWidget* outer = running_dialog;
    running_dialog = dialog;
    gtk_dialog_run(GTK_DIALOG(dialog));
    running_dialog = outer;
    gtk_widget_destroy(dialog);
}
