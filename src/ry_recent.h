// The history of opened items: a fixed-length queue of item ids kept in a key file.
#pragma once

#include "gtk_include.h"

// The most slots the queue ever gets, whatever "max_history" the file asks for: the
// file lives on a removable card, and a value such as 2147483647 must not make the
// program allocate billions of slots. The value in the file is kept as written.
// A negative "max_history" counts as 0.
constexpr int RY_MAX_HISTORY_SLOTS = 256;

// The largest history file that is read: 256 slots of ids take a few kilobytes,
// so a larger file is not ours (or is damaged). It counts as garbage: ten empty
// slots, and the file stays as it is until the next save replaces it.
constexpr long RY_MAX_HISTORY_BYTES = 64 * 1024;

// Loads the history into `history` (empty on entry); returns the key file to keep
// and hand to ry_save_history_file. Never fails and prints nothing: a missing,
// unreadable or malformed file, or one with no group at all, gives ten empty slots.
// Something other than a regular file at the path (a FIFO, a device, a directory)
// is not opened: one line on standard error, ten empty slots, and the save leaves
// it in place.
GKeyFile* ry_parse_history_file(const gchar* filename, GQueue* history);
// Names the library whose history the next load and save keep, so that each library
// has a "Recent" list of its own: group "HISTORY" for the first library (it records
// which in its key "library"; a file of an earlier version goes to the first library
// opened), "HISTORY <path>" for any other. Unnamed, only "HISTORY" is used, as before.
void ry_set_history_library(const gchar* library);
// "row-activated" of the attachment list; moves the selected row's item to the head
// (-1 when no row is selected). path and column are not used.
void ry_push_history(GtkTreeView* tree_view, GtkTreePath* path, GtkTreeViewColumn* column, gpointer history);
// Moves item id to the head of the queue (dropping the tail entry when it is new).
void ry_remember_item(GQueue* history, gint id);
// Writes the queue into the key file and the file; consumes the queue, frees histfile.
// A failed write is silent and leaves the old file whole; nothing is written over
// something other than a regular file.
void ry_save_history_file(const gchar* filename, GKeyFile* histfile, GQueue* history);
