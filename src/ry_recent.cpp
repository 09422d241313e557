// The history of opened items and its key file.
#include "ry_recent.h"

// PENDING(history issue).
GKeyFile* ry_parse_history_file(const gchar*, GQueue*) { return g_key_file_new(); }
void ry_push_history(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer) {}
void ry_save_history_file(const gchar*, GKeyFile* histfile, GQueue*) { g_key_file_free(histfile); }
