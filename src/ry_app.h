// What the running program shares with the code that opens attachments and talks to
// the platform: the metadata flag, the one window and the error dialog over it.
#pragma once

#include "gtk_include.h"

enum { NO_METADB = 0, WITH_METADB = 1, WITH_CTB = 2 };

// Set once at start-up, before the window exists.
extern int with_metadb;
// The program's only top-level window; set once at start-up, before the main loop runs.
extern GtkWidget* g_main_window;

// Shows msg literally in an error dialog over the main window and waits for OK (or
// for a request to quit, which dismisses it; none is shown once one has come).
void run_error_dialog(const gchar* msg);

// Ends the program from wherever it is: the main loop ends, a dialog on the screen
// is dismissed, and start-up stops at its next step. Each way out then runs the one
// shutdown (history saved, snapshot removed, status 0).
void ry_request_quit();
// Whether a signal or the user has asked the program to end; the steps that follow
// a wait (a dialog, a long copy) check it before they go on.
bool ry_quit_requested();
// Async-signal-safe: records that a signal asked the program to end.
void ry_note_quit_signal();
