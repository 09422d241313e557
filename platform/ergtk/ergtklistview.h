// Stand-in for the platform's list view: a GtkTreeView made for a pen.
//
// A single tap on a row (button 1 pressed and released over the same row) selects
// that row and emits "row-activated"; a double tap is two taps, never a third
// activation. The keyboard keeps GtkTreeView's bindings: Enter and Space activate
// the cursor row. Everything else is a plain GtkTreeView.
#pragma once

// GTK+ 2's headers use GLib API that GLib now marks deprecated.
#ifndef GLIB_DISABLE_DEPRECATION_WARNINGS
#define GLIB_DISABLE_DEPRECATION_WARNINGS
#endif
#include <gtk/gtk.h>

G_BEGIN_DECLS

#define ERGTK_TYPE_LIST_VIEW (ergtk_list_view_get_type())
#define ERGTK_LIST_VIEW(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), ERGTK_TYPE_LIST_VIEW, erGtkListView))
#define ERGTK_IS_LIST_VIEW(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), ERGTK_TYPE_LIST_VIEW))

typedef struct _erGtkListView erGtkListView;

GType ergtk_list_view_get_type(void);
// A new list view over model; the view takes its own reference to the model.
GtkWidget* ergtk_list_view_new_with_model(GtkTreeModel* model);
// focus_in: TRUE makes a tap give the view the keyboard focus before the tapped row
//   is selected, so that selection handlers that act only while their view has the
//   focus see the user's choice. FALSE leaves the focus where it is on a tap.
// focus_out: TRUE keeps the selected row selected when the view loses the focus;
//   FALSE clears the selection then, so that only the focused list shows a choice.
// Both default to TRUE, which is how a GtkTreeView treats a mouse click.
void ergtk_list_view_set_focus_mode(erGtkListView* list_view, gboolean focus_in, gboolean focus_out);
// Appends column after those already there; returns the number of columns.
gint ergtk_list_view_append_column(erGtkListView* list_view, GtkTreeViewColumn* column);

G_END_DECLS
