// The history of opened items: a fixed-length queue of item ids kept in a key file.
#pragma once

#include "gtk_include.h"

// The most slots the queue ever gets, whatever "max_history" the file asks for: the
// file lives on a removable card, and a value such as 2147483647 must not make the
// program allocate billions of slots. The value in the file is kept as written.
// A negative "max_history" counts as 0.
constexpr int RY_MAX_HISTORY_SLOTS = 256;

// Loads the history into `history` (empty on entry); returns the key file to keep
// and hand to ry_save_history_file. Never fails and prints nothing: a missing,
// unreadable or malformed file, or one with no group at all, gives ten empty slots.
GKeyFile* ry_parse_history_file(const gchar* filename, GQueue* history);
// "row-activated" of the attachment list; moves the selected row's item to the head
// (-1 when no row is selected). path and column are not used.
void ry_push_history(GtkTreeView* tree_view, GtkTreePath* path, GtkTreeViewColumn* column, gpointer history);
// Moves item id to the head of the queue (dropping the tail entry when it is new).
void ry_remember_item(GQueue* history, gint id);
// Writes the queue into the key file and the file; consumes the queue, frees histfile.
// A failed write is silent and leaves the old file whole.
void ry_save_history_file(const gchar* filename, GKeyFile* histfile, GQueue* history);
