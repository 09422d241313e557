// The list views, the tag view set-up, the search box and the view boxes.
#include "ry_view.h"

#include "ergtklistview.h"
#include "ry_ctr.h"
#include "ry_iconview.h"
#include "ry_model.h"
#include "ry_page.h"

// ---- The list views and the tag view ----

namespace {

// One text column: title, the model column shown as "text", and a maximum width
// (none when below 1). The renderer comes with its properties already set.
void append_text_column(erGtkListView* view, const char* title, GtkCellRenderer* renderer, int model_column,
                        int max_width) {
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
    // Its rows never size it: it shows a page of its listing in the height it gets.
    gtk_widget_set_size_request(item_list, -1, 1);
    ry_attach_item_rows(GTK_TREE_VIEW(item_list));
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

namespace {

// A key of a radio row: drawn as a plain push button, a member of the anchor's group.
GtkWidget* create_key(GtkWidget* anchor, const char* text) {
    GtkWidget* key = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(anchor), text);
    gtk_toggle_button_set_mode(GTK_TOGGLE_BUTTON(key), FALSE);
    return key;
}

void attach_and_show(GtkWidget* table, GtkWidget* child, guint left, guint right, guint top, guint bottom) {
    gtk_table_attach_defaults(GTK_TABLE(table), child, left, right, top, bottom);
    gtk_widget_show(child);
}

// A hidden anchor: active while no key of its row is, and resetting its query field
// to "everything" when it becomes active.
GtkWidget* create_anchor(GCallback reset) {
    GtkWidget* anchor = gtk_radio_button_new(nullptr);
    gtk_toggle_button_set_mode(GTK_TOGGLE_BUTTON(anchor), FALSE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(anchor), TRUE);
    g_signal_connect(anchor, "clicked", reset, GINT_TO_POINTER(0));
    // Never packed: keep the anchor alive for the whole run.
    g_object_ref_sink(anchor);
    return anchor;
}

}  // namespace

void ry_initialize_radio_group(ry_radio_group* rgroup) {
    rgroup->tbutton = create_anchor(G_CALLBACK(ry_set_title_que));
    rgroup->cbutton = create_anchor(G_CALLBACK(ry_set_creator_que));
    rgroup->mbutton = create_anchor(G_CALLBACK(ry_set_date_que));
    rgroup->tag_view = ry_icon_view_new();
}

// The handlers of one key run in connection order: the other rows are released and
// the tag selection cleared before the key writes its own field, and the listing
// comes last, with the query complete.
GtkWidget* ry_create_search_box(ry_search_data* search_data, ry_radio_group* rgroup) {
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    const guint columns = nl + 3;

    GtkWidget* letters = gtk_table_new(2, columns, TRUE);
    gtk_table_set_row_spacings(GTK_TABLE(letters), 1);
    attach_and_show(letters, gtk_label_new("Title"), 0, 3, 0, 1);
    attach_and_show(letters, gtk_label_new("Creator"), 0, 3, 1, 2);
    for (int i = 0; i < nl; ++i) {
        GtkWidget* title_key = create_key(rgroup->tbutton, search_buttons[i].label);
        g_signal_connect(title_key, "clicked", G_CALLBACK(ry_radio_active), rgroup->mbutton);
        g_signal_connect(title_key, "clicked", G_CALLBACK(ry_unselect_tag), rgroup->tag_view);
        g_signal_connect(title_key, "clicked", G_CALLBACK(ry_set_title_que), GINT_TO_POINTER(i));
        g_signal_connect(title_key, "clicked", G_CALLBACK(ry_list_items_by_button), search_data);
        attach_and_show(letters, title_key, i + 3, i + 4, 0, 1);

        GtkWidget* creator_key = create_key(rgroup->cbutton, search_buttons[i].label);
        g_signal_connect(creator_key, "clicked", G_CALLBACK(ry_radio_active), rgroup->mbutton);
        g_signal_connect(creator_key, "clicked", G_CALLBACK(ry_unselect_tag), rgroup->tag_view);
        g_signal_connect(creator_key, "clicked", G_CALLBACK(ry_set_creator_que), GINT_TO_POINTER(i));
        g_signal_connect(creator_key, "clicked", G_CALLBACK(ry_list_items_by_button), search_data);
        attach_and_show(letters, creator_key, i + 3, i + 4, 1, 2);
    }
    gtk_box_pack_start(GTK_BOX(box), letters, FALSE, TRUE, 2);
    gtk_widget_show(letters);

    GtkWidget* separator = gtk_hseparator_new();
    gtk_box_pack_start(GTK_BOX(box), separator, FALSE, TRUE, 0);
    gtk_widget_show(separator);

    GtkWidget* months = gtk_table_new(1, columns, TRUE);
    gtk_table_set_row_spacings(GTK_TABLE(months), 1);
    attach_and_show(months, gtk_label_new("Added"), 0, 3, 0, 1);
    attach_and_show(months, gtk_label_new("month ago"), 14, 18, 0, 1);
    // Eleven keys: "*" any date, then 0 (this month) to 9 months back.
    for (int i = 0; i <= 10; ++i) {
        char mon[3];
        if (i == 0)
            g_strlcpy(mon, search_buttons[0].label, sizeof mon);
        else
            g_snprintf(mon, sizeof mon, "%d", i - 1);
        GtkWidget* month_key = create_key(rgroup->mbutton, mon);
        g_signal_connect(month_key, "clicked", G_CALLBACK(ry_radio_active), rgroup->tbutton);
        g_signal_connect(month_key, "clicked", G_CALLBACK(ry_radio_active), rgroup->cbutton);
        g_signal_connect(month_key, "clicked", G_CALLBACK(ry_unselect_tag), rgroup->tag_view);
        g_signal_connect(month_key, "clicked", G_CALLBACK(ry_set_date_que), GINT_TO_POINTER(i));
        g_signal_connect(month_key, "clicked", G_CALLBACK(ry_list_items_by_button), search_data);
        attach_and_show(months, month_key, i + 3, i + 4, 0, 1);
    }

    GtkWidget* recent = gtk_button_new_with_label("Recent");
    g_signal_connect(recent, "clicked", G_CALLBACK(ry_list_recent_items_by_button), search_data);
    attach_and_show(months, recent, nl - 2, nl + 1, 0, 1);

    GtkWidget* quit = gtk_button_new_with_label("Quit");
    g_signal_connect(quit, "clicked", G_CALLBACK(ry_quit_program), nullptr);
    attach_and_show(months, quit, nl + 1, nl + 3, 0, 1);

    gtk_box_pack_start(GTK_BOX(box), months, FALSE, TRUE, 2);
    gtk_widget_show(months);
    return box;
}

// The view above its tool box; the tool box starts hidden and follows the view's
// allocations.
GtkWidget* ry_create_view_box_with_button(GtkWidget* widget) {
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), widget, TRUE, TRUE, 0);
    gtk_widget_show(widget);
    GtkWidget* tool_box = ry_create_tool_box(widget);
    gtk_box_pack_end(GTK_BOX(box), tool_box, FALSE, FALSE, 0);
    g_signal_connect(widget, "size-allocate", G_CALLBACK(ry_show_toolbox), tool_box);
    return box;
}

GtkWidget* ry_create_tool_box(GtkWidget* widget) {
    struct ToolButton {
        const char* stock;
        void (*handler)(GtkWidget*, gpointer);
        bool at_start;
    };
    // goto-top and go-up at the left, go-down and goto-bottom at the right.
    static const ToolButton buttons[] = {
        {GTK_STOCK_GOTO_TOP, ry_scroll_to_first, true},
        {GTK_STOCK_GO_UP, ry_scroll_up, true},
        {GTK_STOCK_GOTO_BOTTOM, ry_scroll_to_last, false},
        {GTK_STOCK_GO_DOWN, ry_scroll_down, false},
    };
    GtkWidget* box = gtk_hbox_new(FALSE, 0);
    for (const ToolButton& b : buttons) {
        GtkWidget* button = gtk_button_new_from_stock(b.stock);
        gtk_widget_set_name(button, "small-button-ryx");
        g_signal_connect(button, "clicked", G_CALLBACK(b.handler), widget);
        if (b.at_start)
            gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
        else
            gtk_box_pack_end(GTK_BOX(box), button, FALSE, FALSE, 0);
        gtk_widget_show(button);
    }
    return box;
}
