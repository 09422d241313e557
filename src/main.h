// Globals shared by the program's parts, and the program's start-up and shutdown.
#pragma once

#include "gtk_include.h"

enum { NO_METADB = 0, WITH_METADB = 1, WITH_CTB = 2 };

extern int with_metadb;
extern GtkWidget* g_main_window;

// Shows msg literally in an error dialog over the main window and waits for OK.
void run_error_dialog(const gchar* msg);
gboolean on_startup_complete(gpointer data);
void on_sigterm(int signo);

// The metadata flag from the arguments left after GTK's options.
int ry_metadb_flag(int argc, char** argv);
// The whole program; main() only calls this.
int ry_main(int argc, char** argv);
