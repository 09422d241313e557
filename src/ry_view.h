// The list views, the tag view set-up, the search box with its radio groups and
// the view boxes with their paging tool boxes.
#pragma once

#include <sqlite3.h>

#include "gtk_include.h"
#include "ry_que.h"
#include "ry_sql.h"

GtkWidget* ry_create_item_list();
// The attachment list fits itself to its rows as they are listed.
GtkWidget* ry_create_attachment_list();
void ry_fit_attachment_list(GtkWidget* attachment_list, GtkTreeModel* model);
GtkWidget* ry_initialize_collection_list(sqlite3* db);
GtkWidget* ry_initialize_tag_view(sqlite3* db, ry_radio_group* rgroup);

void ry_initialize_radio_group(ry_radio_group* rgroup);
// The search box; its children are shown, the box itself is not.
GtkWidget* ry_create_search_box(ry_search_data* search_data, ry_radio_group* rgroup);

// Draws the button's outline in black after GTK's own drawing.
void ry_outline_black(GtkWidget* button);
// Gives a key or paging key the size a pen needs and a black outline.
void ry_size_key(GtkWidget* key);

GtkWidget* ry_create_view_box_with_button(GtkWidget* widget);
GtkWidget* ry_create_tool_box(GtkWidget* widget);
