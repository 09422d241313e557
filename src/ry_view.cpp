// The list views, the tag view set-up, the search box and the view boxes.
#include "ry_view.h"

#include "ergtklistview.h"
#include "ry_iconview.h"
#include "ry_model.h"

// ---- The list views and the tag view ----

namespace {

// One text column: title, the model column shown as "text", and a maximum width
// (none when below 1). The renderer comes with its properties already set.
void append_text_column(erGtkListView* view, const char* title, GtkCellRenderer* renderer,
                        int model_column, int max_width) {
    GtkTreeViewColumn* column =
        gtk_tree_view_column_new_with_attributes(title, renderer, "text", model_column, NULL);
    if (max_width > 0) gtk_tree_view_column_set_max_width(column, max_width);
    ergtk_list_view_append_column(view, column);
}

}  // namespace

// The item model keeps the factory's reference besides the view's: it lives for the whole run.
GtkWidget* ry_create_item_list() {
    GtkListStore* model = ry_create_item_model();
    GtkWidget* item_list = ergtk_list_view_new_with_model(GTK_TREE_MODEL(model));
    erGtkListView* er_item_list = ERGTK_LIST_VIEW(item_list);
    ergtk_list_view_set_focus_mode(er_item_list, TRUE, TRUE);

    // A long title wraps at word boundaries instead of widening the list.
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, "wrap-width", 635, "wrap-mode", 0, NULL);
    append_text_column(er_item_list, "TITLE", renderer, ITEM_TITLE, 640);

    // The first name stands right-aligned against the last name.
    renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "xalign", 1.0, "ypad", 0, NULL);
    append_text_column(er_item_list, "", renderer, ITEM_CREATOR_FIRSTNAME, 0);

    renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, NULL);
    append_text_column(er_item_list, "NAME", renderer, ITEM_CREATOR_LASTNAME, 0);
    return item_list;
}

// Like the item model, the attachment model keeps the factory's reference.
GtkWidget* ry_create_attachment_list() {
    GtkListStore* model = ry_create_attachment_model();
    GtkWidget* attachment_list = ergtk_list_view_new_with_model(GTK_TREE_MODEL(model));
    erGtkListView* er_attachment_list = ERGTK_LIST_VIEW(attachment_list);
    ergtk_list_view_set_focus_mode(er_attachment_list, TRUE, TRUE);

    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, NULL);
    append_text_column(er_attachment_list, "MIMETYPE", renderer, ATTACHMENT_MIMETYPE, 0);

    renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, NULL);
    append_text_column(er_attachment_list, "FILE", renderer, ATTACHMENT_PATH, 0);
    return attachment_list;
}

GtkWidget* ry_initialize_collection_list(sqlite3* db) {
    GtkListStore* model = ry_create_label_model();
    ry_initialize_labels(db, 0, GTK_TREE_MODEL(model));
    GtkWidget* collection_list = ergtk_list_view_new_with_model(GTK_TREE_MODEL(model));
    g_object_unref(model);  // the view is the model's only owner
    erGtkListView* er_collection_list = ERGTK_LIST_VIEW(collection_list);
    ergtk_list_view_set_focus_mode(er_collection_list, TRUE, TRUE);

    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, NULL);
    append_text_column(er_collection_list, "Collection", renderer, LABEL_NAME, 256);
    return collection_list;
}

// The model is filled before the view gets it, so that the view lays out once.
// Like the item model, it keeps the factory's reference for the whole run.
GtkWidget* ry_initialize_tag_view(sqlite3* db, ry_radio_group* rgroup) {
    GtkWidget* tag_view = rgroup->tag_view;
    GtkListStore* model = ry_create_label_model();
    ry_initialize_labels(db, 1, GTK_TREE_MODEL(model));
    GtkIconView* icon_view = GTK_ICON_VIEW(tag_view);
    gtk_icon_view_set_model(icon_view, GTK_TREE_MODEL(model));
    gtk_icon_view_set_selection_mode(icon_view, GTK_SELECTION_SINGLE);
    gtk_icon_view_set_row_spacing(icon_view, 0);
    gtk_icon_view_set_text_column(icon_view, LABEL_NAME);
    return tag_view;
}

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
