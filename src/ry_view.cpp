// The list views, the tag view set-up, the search box and the view boxes.
#include "ry_view.h"

#include "ergtklistview.h"
#include "ry_ctr.h"
#include "ry_iconview.h"
#include "ry_layout.h"
#include "ry_model.h"
#include "ry_page.h"

// ---- The list views and the tag view ----

namespace {

// One text column: title, the model column shown as "text", and a maximum width
// (none when below 1). The renderer comes with its properties already set.
GtkTreeViewColumn* append_text_column(erGtkListView* view, const char* title, GtkCellRenderer* renderer,
                                      int model_column, int max_width) {
    GtkTreeViewColumn* column =
        gtk_tree_view_column_new_with_attributes(title, renderer, "text", model_column, NULL);
    if (max_width > 0) gtk_tree_view_column_set_max_width(column, max_width);
    ergtk_list_view_append_column(view, column);
    ry_outline_black(column->button);
    return column;
}

// A column of one-line cells, as tall as a row should be for a pen (the view adds
// a one-pixel focus line above and below), exactly `width` wide (0: what is left);
// text too long for it ends in an ellipsis.
void append_one_line_column(erGtkListView* view, const char* title, int model_column, int width,
                            gfloat xalign = 0.0) {
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "xalign", xalign, "ypad", 0, "height", ry_sizes().row_height - 2, "ellipsize",
                 PANGO_ELLIPSIZE_END, NULL);
    GtkTreeViewColumn* column = append_text_column(view, title, renderer, model_column, width);
    if (width > 0) gtk_tree_view_column_set_min_width(column, width);
}

}  // namespace

// The item model keeps the factory's reference besides the view's: it lives for the whole run.
// The list asks for three rows; the window gives it all the height it can spare.
GtkWidget* ry_create_item_list() {
    const ry_layout& sizes = ry_sizes();
    GtkListStore* model = ry_create_item_model();
    GtkWidget* item_list = ergtk_list_view_new_with_model(GTK_TREE_MODEL(model));
    erGtkListView* er_item_list = ERGTK_LIST_VIEW(item_list);
    ergtk_list_view_set_focus_mode(er_item_list, TRUE, TRUE);

    // A long title wraps at word boundaries instead of widening the list.
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, "wrap-width", sizes.title_width - 5, "wrap-mode", 0, NULL);
    append_text_column(er_item_list, "TITLE", renderer, ITEM_TITLE, sizes.title_width);

    // The first name stands right-aligned against the last name.
    append_one_line_column(er_item_list, "", ITEM_CREATOR_FIRSTNAME, sizes.name_width, 1.0);
    append_one_line_column(er_item_list, "NAME", ITEM_CREATOR_LASTNAME, sizes.name_width);
    // Its rows never size it: it shows a page of its listing in the height it gets,
    // and asks for three rows.
    gtk_widget_set_size_request(item_list, 1, ry_list_height(3, false));
    ry_attach_item_rows(GTK_TREE_VIEW(item_list));
    return item_list;
}

// Like the item model, the attachment model keeps the factory's reference. The
// list asks for its column titles only until attachments are listed.
GtkWidget* ry_create_attachment_list() {
    GtkListStore* model = ry_create_attachment_model();
    GtkWidget* attachment_list = ergtk_list_view_new_with_model(GTK_TREE_MODEL(model));
    erGtkListView* er_attachment_list = ERGTK_LIST_VIEW(attachment_list);
    ergtk_list_view_set_focus_mode(er_attachment_list, TRUE, TRUE);
    append_one_line_column(er_attachment_list, "MIMETYPE", ATTACHMENT_MIMETYPE, ry_sizes().title_width / 2);
    append_one_line_column(er_attachment_list, "FILE", ATTACHMENT_PATH, 0);
    ry_fit_attachment_list(attachment_list, GTK_TREE_MODEL(model));
    g_signal_connect(model, "row-inserted",
                     G_CALLBACK(+[](GtkTreeModel* m, GtkTreePath*, GtkTreeIter*, gpointer list) {
                         ry_fit_attachment_list(GTK_WIDGET(list), m);
                     }),
                     attachment_list);
    g_signal_connect(model, "row-deleted", G_CALLBACK(+[](GtkTreeModel* m, GtkTreePath*, gpointer list) {
                         ry_fit_attachment_list(GTK_WIDGET(list), m);
                     }),
                     attachment_list);
    return attachment_list;
}

// The attachment list takes what the item list can spare while keeping three rows;
// longer lists page with the list's own tool box. Empty, it leaves its place to
// the browse row.
void ry_fit_attachment_list(GtkWidget* attachment_list, GtkTreeModel* model) {
    int rows = gtk_tree_model_iter_n_children(model, nullptr);
    int space = ry_sizes().list_space - ry_list_height(3, true);
    if (ry_list_height(rows, false) > space) rows = ry_list_rows(space, true);
    gtk_widget_set_size_request(attachment_list, 1, ry_list_height(rows, false));
    GtkWidget* view_box = gtk_widget_get_parent(attachment_list);
    if (view_box == nullptr) return;
    if (gtk_tree_model_iter_n_children(model, nullptr) > 0)
        gtk_widget_show(view_box);
    else
        gtk_widget_hide(view_box);
}

GtkWidget* ry_initialize_collection_list(sqlite3* db) {
    GtkListStore* model = ry_create_label_model();
    ry_initialize_labels(db, 0, GTK_TREE_MODEL(model));
    GtkWidget* collection_list = ergtk_list_view_new_with_model(GTK_TREE_MODEL(model));
    g_object_unref(model);  // the view is the model's only owner
    erGtkListView* er_collection_list = ERGTK_LIST_VIEW(collection_list);
    ergtk_list_view_set_focus_mode(er_collection_list, TRUE, TRUE);

    const ry_layout& sizes = ry_sizes();
    append_one_line_column(er_collection_list, "Collection", LABEL_NAME, sizes.collection_width);
    gtk_widget_set_size_request(collection_list, sizes.collection_width, ry_list_height(1, false));
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
    ry_icon_view_set_text_cell(tag_view, LABEL_NAME);
    ry_icon_view_apply_item_height(tag_view);
    // The window gives the tags the height left in the browse row.
    gtk_widget_set_size_request(tag_view, 1, 1);
    return tag_view;
}

// ---- The search box, its radio groups, and the view boxes with their tool boxes ----

// GTK shades a button's lower and right edge in grey; e-paper wants a black line all round.
void ry_outline_black(GtkWidget* button) {
    g_signal_connect_after(button, "expose-event",
                           G_CALLBACK(+[](GtkWidget* widget, GdkEventExpose*, gpointer) {
                               const GtkAllocation& a = widget->allocation;
                               gdk_draw_rectangle(widget->window, widget->style->black_gc, FALSE, a.x, a.y,
                                                  a.width - 1, a.height - 1);
                               return FALSE;
                           }),
                           nullptr);
}

void ry_size_key(GtkWidget* key) {
    gtk_widget_set_size_request(key, ry_sizes().key_width, ry_sizes().key_height);
    ry_outline_black(key);
}

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

namespace {

void attach_cell(GtkWidget* table, GtkWidget* child, const ry_grid_cell& cell, int line_offset) {
    attach_and_show(table, child, cell.left, cell.right, cell.top + line_offset, cell.top + line_offset + 1);
}

// A key as large as a pen needs, whatever its text.
void attach_key(GtkWidget* table, GtkWidget* key, const ry_grid_cell& cell, int line_offset) {
    ry_size_key(key);
    attach_cell(table, key, cell, line_offset);
}

GtkWidget* create_grid(int lines) {
    GtkWidget* grid = gtk_table_new(lines, ry_sizes().grid_columns, TRUE);
    gtk_table_set_row_spacings(GTK_TABLE(grid), 1);
    return grid;
}

}  // namespace

// The handlers of one key run in connection order: the other rows are released and
// the tag selection cleared before the key writes its own field, and the listing
// comes last, with the query complete. On a narrow screen a row of keys wraps.
GtkWidget* ry_create_search_box(ry_search_data* search_data, ry_radio_group* rgroup) {
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    const int columns = ry_sizes().grid_columns;

    const std::vector<ry_grid_cell> letter_cells = ry_letter_row_cells(columns);
    const int row_lines = letter_cells.back().top + 1;
    GtkWidget* letters = create_grid(2 * row_lines);
    attach_cell(letters, gtk_label_new("Title"), letter_cells[0], 0);
    attach_cell(letters, gtk_label_new("Creator"), letter_cells[0], row_lines);
    for (int i = 0; i < nl; ++i) {
        GtkWidget* title_key = create_key(rgroup->tbutton, search_buttons[i].label);
        g_signal_connect(title_key, "clicked", G_CALLBACK(ry_radio_active), rgroup->mbutton);
        g_signal_connect(title_key, "clicked", G_CALLBACK(ry_unselect_tag), rgroup->tag_view);
        g_signal_connect(title_key, "clicked", G_CALLBACK(ry_set_title_que), GINT_TO_POINTER(i));
        g_signal_connect(title_key, "clicked", G_CALLBACK(ry_list_items_by_button), search_data);
        attach_key(letters, title_key, letter_cells[i + 1], 0);

        GtkWidget* creator_key = create_key(rgroup->cbutton, search_buttons[i].label);
        g_signal_connect(creator_key, "clicked", G_CALLBACK(ry_radio_active), rgroup->mbutton);
        g_signal_connect(creator_key, "clicked", G_CALLBACK(ry_unselect_tag), rgroup->tag_view);
        g_signal_connect(creator_key, "clicked", G_CALLBACK(ry_set_creator_que), GINT_TO_POINTER(i));
        g_signal_connect(creator_key, "clicked", G_CALLBACK(ry_list_items_by_button), search_data);
        attach_key(letters, creator_key, letter_cells[i + 1], row_lines);
    }
    gtk_box_pack_start(GTK_BOX(box), letters, FALSE, TRUE, 2);
    gtk_widget_show(letters);

    GtkWidget* separator = gtk_hseparator_new();
    gtk_box_pack_start(GTK_BOX(box), separator, FALSE, TRUE, 0);
    gtk_widget_show(separator);

    const std::vector<ry_grid_cell> month_cells = ry_month_row_cells(columns);
    GtkWidget* months = create_grid(month_cells.back().top + 1);
    attach_cell(months, gtk_label_new("Added"), month_cells[0], 0);
    // "*" any date, then 0 (this month) to 9 months back.
    for (int i = 0; i < ry_month_keys; ++i) {
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
        attach_key(months, month_key, month_cells[i + 1], 0);
    }
    attach_cell(months, gtk_label_new("month ago"), month_cells[ry_month_keys + 1], 0);

    GtkWidget* recent = gtk_button_new_with_label("Recent");
    g_signal_connect(recent, "clicked", G_CALLBACK(ry_release_keys), rgroup);
    g_signal_connect(recent, "clicked", G_CALLBACK(ry_list_recent_items_by_button), search_data);
    attach_key(months, recent, month_cells[ry_month_keys + 2], 0);

    GtkWidget* quit = gtk_button_new_with_label("Quit");
    g_signal_connect(quit, "clicked", G_CALLBACK(ry_quit_program), nullptr);
    attach_key(months, quit, month_cells[ry_month_keys + 3], 0);

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
    // Arrows instead of the stock words, so that four keys fit under a narrow list.
    static const GtkStockItem arrows[] = {
        {const_cast<gchar*>(GTK_STOCK_GOTO_TOP), const_cast<gchar*>("\u21c8"), GdkModifierType(0), 0,
         nullptr},
        {const_cast<gchar*>(GTK_STOCK_GO_UP), const_cast<gchar*>("\u2191"), GdkModifierType(0), 0, nullptr},
        {const_cast<gchar*>(GTK_STOCK_GOTO_BOTTOM), const_cast<gchar*>("\u21ca"), GdkModifierType(0), 0,
         nullptr},
        {const_cast<gchar*>(GTK_STOCK_GO_DOWN), const_cast<gchar*>("\u2193"), GdkModifierType(0), 0, nullptr},
    };
    gtk_stock_add_static(arrows, G_N_ELEMENTS(arrows));
    GtkWidget* box = gtk_hbox_new(FALSE, 0);
    for (const ToolButton& b : buttons) {
        GtkWidget* button = gtk_button_new_from_stock(b.stock);
        gtk_widget_set_name(button, "small-button-ryx");
        ry_size_key(button);
        g_signal_connect(button, "clicked", G_CALLBACK(b.handler), widget);
        if (b.at_start)
            gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
        else
            gtk_box_pack_end(GTK_BOX(box), button, FALSE, FALSE, 0);
        gtk_widget_show(button);
    }
    return box;
}
