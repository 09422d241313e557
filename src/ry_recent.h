// The history of opened items: a fixed-length queue of item ids kept in a key file.
#pragma once

#include "gtk_include.h"

// Loads the history into `history` (empty on entry); returns the key file to keep
// and hand to ry_save_history_file. Never fails: a bad file gives ten empty slots.
GKeyFile* ry_parse_history_file(const gchar* filename, GQueue* history);
// "row-activated" of the attachment list; moves the selected row's item to the head.
void ry_push_history(GtkTreeView* tree_view, GtkTreePath* path, GtkTreeViewColumn* column,
                     gpointer history);
// Writes the queue into the key file and the file; consumes the queue, frees histfile.
void ry_save_history_file(const gchar* filename, GKeyFile* histfile, GQueue* history);
