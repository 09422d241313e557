// PENDING(lists issue): placeholder until the real list view lands.
#include "ergtklistview.h"

GType ergtk_list_view_get_type(void) { return gtk_tree_view_get_type(); }
GtkWidget* ergtk_list_view_new_with_model(GtkTreeModel* model) { return gtk_tree_view_new_with_model(model); }
void ergtk_list_view_set_focus_mode(erGtkListView*, gboolean, gboolean) {}
gint ergtk_list_view_append_column(erGtkListView* v, GtkTreeViewColumn* c) { return gtk_tree_view_append_column(GTK_TREE_VIEW(v), c); }
