// erGtkListView: a GtkTreeView on which one tap selects and activates a row, with
// switchable focus handling for tap and focus loss.
#include "ergtklistview.h"

struct _erGtkListView {
    GtkTreeView parent;
    gboolean focus_in;
    gboolean focus_out;
    GtkTreePath* pressed;  // the row under the pen since the last press, or NULL
};

struct erGtkListViewClass {
    GtkTreeViewClass parent_class;
};

G_DEFINE_TYPE(erGtkListView, ergtk_list_view, GTK_TYPE_TREE_VIEW)

namespace {

void forget_press(erGtkListView* self) {
    if (self->pressed != nullptr) {
        gtk_tree_path_free(self->pressed);
        self->pressed = nullptr;
    }
}

// GtkTreeView's own grab_focus also moves the cursor to the first row and selects
// it, which would announce a row the user did not tap. Take the focus the way any
// widget does instead.
void take_focus(GtkWidget* widget) {
    GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(g_type_class_peek(GTK_TYPE_WIDGET));
    widget_class->grab_focus(widget);
}

gboolean on_button_press(GtkWidget* widget, GdkEventButton* event) {
    erGtkListView* self = ERGTK_LIST_VIEW(widget);
    GtkTreeView* tree_view = GTK_TREE_VIEW(widget);
    if (event->button != 1 || event->window != gtk_tree_view_get_bin_window(tree_view))
        return GTK_WIDGET_CLASS(ergtk_list_view_parent_class)->button_press_event(widget, event);
    // The second press of a double tap has already arrived as a plain press and
    // counts as a tap of its own; GtkTreeView would activate the row once more.
    if (event->type != GDK_BUTTON_PRESS) return TRUE;

    forget_press(self);
    GtkTreePath* path = nullptr;
    if (!gtk_tree_view_get_path_at_pos(tree_view, gint(event->x), gint(event->y), &path, nullptr,
                                       nullptr, nullptr))
        return TRUE;  // below the last row: nothing to pick
    // Focus first, so that the selection change below is seen as the user's.
    if (self->focus_in && !gtk_widget_has_focus(widget)) take_focus(widget);
    gtk_tree_view_set_cursor(tree_view, path, nullptr, FALSE);
    self->pressed = path;
    return TRUE;
}

gboolean on_button_release(GtkWidget* widget, GdkEventButton* event) {
    erGtkListView* self = ERGTK_LIST_VIEW(widget);
    GtkTreeView* tree_view = GTK_TREE_VIEW(widget);
    if (event->button != 1 || self->pressed == nullptr)
        return GTK_WIDGET_CLASS(ergtk_list_view_parent_class)->button_release_event(widget, event);

    GtkTreePath* pressed = self->pressed;
    self->pressed = nullptr;
    GtkTreePath* path = nullptr;
    GtkTreeViewColumn* column = nullptr;
    // A pen lifted over another row (or outside the list) is no tap.
    if (event->window == gtk_tree_view_get_bin_window(tree_view) &&
        gtk_tree_view_get_path_at_pos(tree_view, gint(event->x), gint(event->y), &path, &column,
                                      nullptr, nullptr)) {
        if (gtk_tree_path_compare(path, pressed) == 0) gtk_tree_view_row_activated(tree_view, path, column);
        gtk_tree_path_free(path);
    }
    gtk_tree_path_free(pressed);
    return TRUE;
}

gboolean on_focus_out(GtkWidget* widget, GdkEventFocus* event) {
    erGtkListView* self = ERGTK_LIST_VIEW(widget);
    if (!self->focus_out) gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(widget)));
    return GTK_WIDGET_CLASS(ergtk_list_view_parent_class)->focus_out_event(widget, event);
}

void on_finalize(GObject* object) {
    forget_press(ERGTK_LIST_VIEW(object));
    G_OBJECT_CLASS(ergtk_list_view_parent_class)->finalize(object);
}

}  // namespace

static void ergtk_list_view_class_init(erGtkListViewClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = on_finalize;
    GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
    widget_class->button_press_event = on_button_press;
    widget_class->button_release_event = on_button_release;
    widget_class->focus_out_event = on_focus_out;
}

static void ergtk_list_view_init(erGtkListView* self) {
    self->focus_in = TRUE;
    self->focus_out = TRUE;
    self->pressed = nullptr;
}

GtkWidget* ergtk_list_view_new_with_model(GtkTreeModel* model) {
    return GTK_WIDGET(g_object_new(ERGTK_TYPE_LIST_VIEW, "model", model, NULL));
}

void ergtk_list_view_set_focus_mode(erGtkListView* list_view, gboolean focus_in, gboolean focus_out) {
    g_return_if_fail(ERGTK_IS_LIST_VIEW(list_view));
    list_view->focus_in = focus_in;
    list_view->focus_out = focus_out;
}

gint ergtk_list_view_append_column(erGtkListView* list_view, GtkTreeViewColumn* column) {
    g_return_val_if_fail(ERGTK_IS_LIST_VIEW(list_view), -1);
    return gtk_tree_view_append_column(GTK_TREE_VIEW(list_view), column);
}
