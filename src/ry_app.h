// What the running program shares with the code that opens attachments and talks to
// the platform: the metadata flag, the one window and the error dialog over it.
#pragma once

#include "gtk_include.h"

enum { NO_METADB = 0, WITH_METADB = 1, WITH_CTB = 2 };

// Set once at start-up, before the window exists.
extern int with_metadb;
// The program's only top-level window; set once at start-up, before the main loop runs.
extern GtkWidget* g_main_window;

// Shows msg literally in an error dialog over the main window and waits for OK.
void run_error_dialog(const gchar* msg);
