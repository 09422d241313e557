// Paging the views with their tool boxes, and quitting.
#include "ry_ctr.h"

#include "ry_app.h"
#include "ry_page.h"
#include "ry_raii.h"

gboolean ry_quit_program(GtkWidget* /*widget*/, gpointer /*data*/) {
    ry_request_quit();
    return FALSE;
}

namespace {

// The model of a tree view or an icon view; nullptr for any other widget.
GtkTreeModel* view_model(GtkWidget* view) {
    if (GTK_IS_TREE_VIEW(view)) return gtk_tree_view_get_model(GTK_TREE_VIEW(view));
    if (GTK_IS_ICON_VIEW(view)) return gtk_icon_view_get_model(GTK_ICON_VIEW(view));
    return nullptr;
}

// The first and last (at least partly) visible rows; false when there are none.
// Either out pointer may be null.
bool visible_range(GtkWidget* view, ry::tree_path_ptr* start, ry::tree_path_ptr* end) {
    GtkTreePath* s = nullptr;
    GtkTreePath* e = nullptr;
    gboolean found = FALSE;
    if (GTK_IS_TREE_VIEW(view))
        found =
            gtk_tree_view_get_visible_range(GTK_TREE_VIEW(view), start ? &s : nullptr, end ? &e : nullptr);
    else if (GTK_IS_ICON_VIEW(view))
        found =
            gtk_icon_view_get_visible_range(GTK_ICON_VIEW(view), start ? &s : nullptr, end ? &e : nullptr);
    if (start) start->reset(s);
    if (end) end->reset(e);
    return found && (!start || s) && (!end || e);
}

// Aligned scrolling: 0.0 puts the row at the top edge, 1.0 at the bottom edge.
// Only vertically for a tree view (no column); selection and cursor stay.
void scroll_to(GtkWidget* view, GtkTreePath* path, gfloat align) {
    if (GTK_IS_TREE_VIEW(view))
        gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(view), path, nullptr, TRUE, align, align);
    else if (GTK_IS_ICON_VIEW(view))
        gtk_icon_view_scroll_to_path(GTK_ICON_VIEW(view), path, TRUE, align, align);
}

int row_count(GtkTreeModel* model) { return model ? gtk_tree_model_iter_n_children(model, nullptr) : 0; }

}  // namespace

// Runs at each new allocation of the view: the tool box is wanted while the list
// can be paged either way, rows lying above or below the visible part. With no
// visible row at all it is left as it is.
void ry_show_toolbox(GtkWidget* widget, GtkAllocation* /*allocation*/, gpointer data) {
    if (!GTK_IS_TREE_VIEW(widget) && !GTK_IS_ICON_VIEW(widget)) return;
    // The item list shows one page of its listing: the listing decides.
    if (int paged = ry_page_can_move(widget); paged >= 0) {
        if (paged)
            gtk_widget_show_all(GTK_WIDGET(data));
        else
            gtk_widget_hide_all(GTK_WIDGET(data));
        return;
    }
    ry::tree_path_ptr start, end;
    if (!visible_range(widget, &start, &end)) return;
    int rows = row_count(view_model(widget));
    int first_visible = gtk_tree_path_get_indices(start.get())[0];
    int last_visible = gtk_tree_path_get_indices(end.get())[0];
    if (first_visible > 0 || last_visible < rows - 1)
        gtk_widget_show_all(GTK_WIDGET(data));
    else
        gtk_widget_hide_all(GTK_WIDGET(data));
}

void ry_scroll_to_first(GtkWidget* /*widget*/, gpointer data) {
    GtkWidget* view = GTK_WIDGET(data);
    if (ry_page_to_first(view)) return;
    if (row_count(view_model(view)) <= 0) return;
    ry::tree_path_ptr first(gtk_tree_path_new_from_indices(0, -1));
    scroll_to(view, first.get(), 1.0);
}

// One page up: the row at the top edge goes to the bottom edge.
void ry_scroll_up(GtkWidget* /*widget*/, gpointer data) {
    GtkWidget* view = GTK_WIDGET(data);
    if (ry_page_up(view)) return;
    ry::tree_path_ptr start;
    if (!visible_range(view, &start, nullptr)) return;
    scroll_to(view, start.get(), 1.0);
}

// One page down: the row at the bottom edge goes to the top edge.
void ry_scroll_down(GtkWidget* /*widget*/, gpointer data) {
    GtkWidget* view = GTK_WIDGET(data);
    if (ry_page_down(view)) return;
    ry::tree_path_ptr end;
    if (!visible_range(view, nullptr, &end)) return;
    scroll_to(view, end.get(), 0.0);
}

void ry_scroll_to_last(GtkWidget* /*widget*/, gpointer data) {
    GtkWidget* view = GTK_WIDGET(data);
    if (ry_page_to_last(view)) return;
    int rows = row_count(view_model(view));
    if (rows <= 0) return;
    ry::tree_path_ptr last(gtk_tree_path_new_from_indices(rows - 1, -1));
    scroll_to(view, last.get(), 0.0);
}
