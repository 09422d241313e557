// ryIconView: the tag view, a GtkIconView with an "item-height" style property.
#pragma once

#include "gtk_include.h"

G_BEGIN_DECLS

#define RY_TYPE_ICON_VIEW (ry_icon_view_get_type())
#define RY_ICON_VIEW(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), RY_TYPE_ICON_VIEW, ryIconView))
#define RY_IS_ICON_VIEW(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), RY_TYPE_ICON_VIEW))

struct ryIconView {
    GtkIconView parent;
};

struct ryIconViewClass {
    GtkIconViewClass parent_class;
};

GType ry_icon_view_get_type(void);
GtkWidget* ry_icon_view_new(void);
// NULL (with a critical warning) when model is NULL.
GtkWidget* ry_icon_view_new_with_model(GtkTreeModel* model);
void ry_icon_view_set_model(ryIconView* ry_iconview, GtkTreeModel* model);
// Gives every item the height its style asks for, scaled to the screen; done again
// whenever the style changes.
void ry_icon_view_apply_item_height(GtkWidget* widget);
// Shows the model's text column as the view's one cell, which measures each text once.
void ry_icon_view_set_text_cell(GtkWidget* widget, int column);

G_END_DECLS
