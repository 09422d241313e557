// Globals shared by the program's parts, and the program's start-up and shutdown.
#pragma once

#include "gtk_include.h"

enum { NO_METADB = 0, WITH_METADB = 1, WITH_CTB = 2 };

extern int with_metadb;
extern GtkWidget* g_main_window;

// Shows msg literally in an error dialog over the main window and waits for OK.
void run_error_dialog(const gchar* msg);
gboolean on_startup_complete(gpointer data);
// The handler of SIGTERM, SIGINT, SIGHUP and SIGQUIT: async-signal-safe, it only
// records the request and wakes the main loop.
void on_sigterm(int signo);
// Ends the program from wherever it is: the main loop ends, a dialog on the screen
// is dismissed, and start-up stops at its next step. Each way out then runs the one
// shutdown (history saved, snapshot removed, status 0).
void ry_request_quit();
// Whether a signal or the user has asked the program to end; the steps that follow
// a wait (a dialog, a long copy) check it before they go on.
bool ry_quit_requested();

struct sqlite3;
struct sqlite3_stmt;
struct ry_radio_group;
struct ry_search_data;

// The top-level window, not yet shown.
GtkWidget* create_main_window();
// Fills the window: views, first listing, handlers, boxes. Returns the main box,
// already added to the window but not shown; *collection_list is the view that
// gets the focus once the window is shown.
GtkWidget* build_window_contents(GtkWidget* window, sqlite3* db, sqlite3_stmt** statements, GQueue* history,
                                 gchar* zotero_dir, ry_radio_group* rgroup, ry_search_data* search_data,
                                 GtkWidget** collection_list);

// The metadata flag from the arguments left after GTK's options.
int ry_metadb_flag(int argc, char** argv);
// The whole program; main() only calls this.
int ry_main(int argc, char** argv);
