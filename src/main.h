// The program's start-up, its window and its shutdown (the settings shared with the
// other parts are in ry_app.h).
#pragma once

#include <string>

#include "gtk_include.h"
#include "ry_app.h"

gboolean on_startup_complete(gpointer data);
// The handler of SIGTERM, SIGINT, SIGHUP and SIGQUIT: async-signal-safe, it only
// records the request and wakes the main loop.
void on_sigterm(int signo);

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
// name inside the directory of the style and history files: $RYX_SHARE_DIR when it is
// set and not empty, else the directory the program was built for.
std::string ry_share_file(const char* name);
// The whole program; main() only calls this.
int ry_main(int argc, char** argv);
