// ryIconView: the tag view.
#include "ry_iconview.h"

// PENDING(lists issue): the real type.
GType ry_icon_view_get_type(void) { return gtk_icon_view_get_type(); }
GtkWidget* ry_icon_view_new(void) { return gtk_icon_view_new(); }
GtkWidget* ry_icon_view_new_with_model(GtkTreeModel* model) { return gtk_icon_view_new_with_model(model); }
void ry_icon_view_set_model(ryIconView* v, GtkTreeModel* model) { gtk_icon_view_set_model(GTK_ICON_VIEW(v), model); }
