// ryIconView: the tag view, a GtkIconView whose class carries the "item-height"
// style property so that the widget style file may name it without a warning.
#include "ry_iconview.h"

#include <algorithm>

#include "ry_layout.h"

static GType class_type = 0;
static gpointer g_parent_class = nullptr;

// GtkIconView measures and places every item again on each allocation, also on the
// one of unchanged size that follows its own first layout: with thousands of tags
// that is a second whole layout. Whatever changes the items queues a layout of its
// own, so an allocation that changes nothing is left out.
static void ry_icon_view_size_allocate(GtkWidget* widget, GtkAllocation* allocation) {
    const GtkAllocation& now = widget->allocation;
    if (allocation->x == now.x && allocation->y == now.y && allocation->width == now.width &&
        allocation->height == now.height)
        return;
    GTK_WIDGET_CLASS(g_parent_class)->size_allocate(widget, allocation);
}

static void ry_icon_view_class_init(gpointer klass, gpointer) {
    // No key binding of our own: the widget keeps GtkIconView's.
    gtk_binding_set_by_class(klass);
    g_parent_class = g_type_class_peek_parent(klass);
    GTK_WIDGET_CLASS(klass)->size_allocate = ry_icon_view_size_allocate;
    gtk_widget_class_install_style_property(
        GTK_WIDGET_CLASS(klass),
        g_param_spec_int("item-height", "Item height", "Height in pixels occupied by text and pixbuf",
                         G_MININT, G_MAXINT, 0, GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
}

// "item-height" is given in pixels of the screen the program was first drawn for:
// every item gets that height scaled to the screen, and never less than a list row.
void ry_icon_view_apply_item_height(GtkWidget* widget) {
    gint item_height = 0;
    gtk_widget_style_get(widget, "item-height", &item_height, NULL);
    const ry_layout& sizes = ry_sizes();
    int height = std::max(int(item_height * sizes.scale), sizes.row_height);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(widget));
    for (GList* l = cells; l; l = l->next) g_object_set(l->data, "height", height, NULL);
    g_list_free(cells);
    gtk_widget_queue_resize(widget);
}

static void ry_icon_view_init(GTypeInstance* instance, gpointer) {
    g_return_if_fail(RY_IS_ICON_VIEW(instance));
    g_signal_connect(instance, "style-set", G_CALLBACK(+[](GtkWidget* widget, GtkStyle*, gpointer) {
                         ry_icon_view_apply_item_height(widget);
                     }),
                     nullptr);
}

GType ry_icon_view_get_type(void) {
    if (class_type == 0) {
        static const GTypeInfo info = {
            sizeof(ryIconViewClass),
            nullptr,  // base_init
            nullptr,  // base_finalize
            ry_icon_view_class_init,
            nullptr,  // class_finalize
            nullptr,  // class_data
            sizeof(ryIconView),
            0,  // n_preallocs
            ry_icon_view_init,
            nullptr,  // value_table
        };
        class_type = g_type_register_static(gtk_icon_view_get_type(), "ryIconView", &info, GTypeFlags(0));
    }
    return class_type;
}

GtkWidget* ry_icon_view_new(void) { return GTK_WIDGET(g_object_new(RY_TYPE_ICON_VIEW, NULL)); }

// The warnings name the C function, not the C++ signature that G_STRFUNC would give.
GtkWidget* ry_icon_view_new_with_model(GtkTreeModel* model) {
    if (model == nullptr) {
        g_return_if_fail_warning(G_LOG_DOMAIN, "ry_icon_view_new_with_model", "model");
        return nullptr;
    }
    GtkWidget* widget = GTK_WIDGET(g_object_new(RY_TYPE_ICON_VIEW, NULL));
    ry_icon_view_set_model(RY_ICON_VIEW(widget), model);
    return widget;
}

void ry_icon_view_set_model(ryIconView* ry_iconview, GtkTreeModel* model) {
    if (!RY_IS_ICON_VIEW(ry_iconview)) {
        g_return_if_fail_warning(G_LOG_DOMAIN, "ry_icon_view_set_model", "RY_IS_ICON_VIEW(ry_iconview)");
        return;
    }
    gtk_icon_view_set_model(GTK_ICON_VIEW(ry_iconview), model);
}
