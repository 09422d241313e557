// The catalogue of prepared statements over the library and the listings that
// fill the item, attachment and label models from them.
#pragma once

#include <sqlite3.h>

#include "gtk_include.h"
#include "ry_que.h"

class ry_item_rows;

// Positional parameter numbers (?N) shared by all statement texts.
enum {
    SCID = 1,
    STITLE = 2,
    SCREATOR = 3,
    SDATE = 4,
    STAG0 = 5,
    STAG1 = 6,
    STAG2 = 7,
    STAGS = 8,
    SITID = 9,
    SREID = 10
};

// The browsing context handed to every listing callback.
struct ry_search_data {
    sqlite3_stmt** statement;  // ZLAST prepared statements, indexed by kind
    GtkTreeView* item_list;
    GtkTreeView* attachment_list;
    GtkIconView* tag_view;
    GQueue* history;
};

// Handed through the walk of the history queue.
struct ry_sql_data {
    sqlite3_stmt* statement;  // the ZRECENT statement
    ry_item_rows* rows;       // the item list's store
};

// The statement texts by kind, and the two label texts (0 collections, 1 tags).
extern const char* const ry_statement_texts[ZLAST];
extern const char* const ry_label_texts[2];
// The text of the row that ends every item list (81 hyphens).
extern const char* const ry_separator_text;

// Compiles the catalogue into statement[0..ZLAST-1]. On failure prints
// "SQL Error: %s\n", closes db and ends the process with status 1.
void ry_sql_prepare(sqlite3* db, sqlite3_stmt** statement);
// The same without ending the process: on failure prints the message, finalizes
// what it compiled, leaves every slot NULL and returns false. db stays open.
bool ry_sql_try_prepare(sqlite3* db, sqlite3_stmt** statement);

void ry_list_items(ry_search_data* data);
// Appends the statement's rows to the store: one per creator, the title on an
// item's first row only; with_tail adds the separator row.
void ry_append_items(sqlite3_stmt* statement, ry_item_rows* rows, gboolean with_tail);
void ry_append_items_foreach(gpointer id, gpointer data);
void ry_list_recent_items(gpointer data);

void ry_list_items_by_button(GtkWidget* widget, gpointer data);
void ry_list_items_by_row_activation(GtkTreeView* tree_view, GtkTreePath* path, GtkTreeViewColumn* column,
                                     gpointer data);
void ry_list_items_by_icon_activation(GtkIconView* iconview, GtkTreePath* path, gpointer data);
void ry_list_items_by_selection(GtkTreeSelection* selection, gpointer data);
void ry_list_items_by_icon_selection(GtkIconView* iconview, gpointer data);
void ry_list_recent_items_by_button(GtkWidget* widget, gpointer data);

void ry_list_attachments(GtkTreeView* tree_view, GtkTreePath* path, GtkTreeViewColumn* column, gpointer data);
void ry_prepend_attachments(sqlite3_stmt* statement, GtkTreeModel* model);
void ry_initialize_labels(sqlite3* db, int i, GtkTreeModel* model);
void ry_prepend_labels(sqlite3_stmt* statement, GtkTreeModel* model);
