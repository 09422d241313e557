// Stand-in for the platform's list view: a GtkTreeView made for a pen.
#pragma once

#ifndef GLIB_DISABLE_DEPRECATION_WARNINGS
#define GLIB_DISABLE_DEPRECATION_WARNINGS
#endif
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <gtk/gtk.h>
#pragma GCC diagnostic pop

G_BEGIN_DECLS

#define ERGTK_TYPE_LIST_VIEW (ergtk_list_view_get_type())
#define ERGTK_LIST_VIEW(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), ERGTK_TYPE_LIST_VIEW, erGtkListView))
#define ERGTK_IS_LIST_VIEW(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), ERGTK_TYPE_LIST_VIEW))

typedef struct _erGtkListView erGtkListView;

GType ergtk_list_view_get_type(void);
GtkWidget* ergtk_list_view_new_with_model(GtkTreeModel* model);
void ergtk_list_view_set_focus_mode(erGtkListView* list_view, gboolean focus_in, gboolean focus_out);
gint ergtk_list_view_append_column(erGtkListView* list_view, GtkTreeViewColumn* column);

G_END_DECLS
