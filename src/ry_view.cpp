// The list views, the tag view set-up, the search box and the view boxes.
#include "ry_view.h"

#include "ry_iconview.h"
#include "ry_model.h"

// ---- The list views and the tag view ----

// PENDING(lists issue).
GtkWidget* ry_create_item_list() { return gtk_tree_view_new_with_model(GTK_TREE_MODEL(ry_create_item_model())); }
GtkWidget* ry_create_attachment_list() { return gtk_tree_view_new_with_model(GTK_TREE_MODEL(ry_create_attachment_model())); }
GtkWidget* ry_initialize_collection_list(sqlite3*) { return gtk_tree_view_new_with_model(GTK_TREE_MODEL(ry_create_label_model())); }
GtkWidget* ry_initialize_tag_view(sqlite3*, ry_radio_group* rgroup) { return rgroup->tag_view; }




// ---- The search box, its radio groups, and the view boxes with their tool boxes ----

// PENDING(window issue).
void ry_initialize_radio_group(ry_radio_group* rgroup) { rgroup->tag_view = ry_icon_view_new(); }
GtkWidget* ry_create_search_box(ry_search_data*, ry_radio_group*) { return gtk_vbox_new(FALSE, 0); }
GtkWidget* ry_create_view_box_with_button(GtkWidget* widget) {
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), widget, TRUE, TRUE, 0);
    gtk_widget_show(widget);
    return box;
}
GtkWidget* ry_create_tool_box(GtkWidget*) { return gtk_hbox_new(FALSE, 0); }
