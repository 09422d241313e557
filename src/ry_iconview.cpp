// ryIconView: the tag view, a GtkIconView whose class carries the "item-height"
// style property so that the widget style file may name it without a warning.
#include "ry_iconview.h"

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "ry_layout.h"
#include "ry_raii.h"

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

// ---- The tag cell ----

// GtkIconView measures every item on each layout twice, for its size and for the
// place of its text: with thousands of tags each pass through Pango is a third of
// the layout. The tag cell is a GtkCellRendererText that measures each text once a
// layout, and places it in a cell area as the text cell does: by its alignment,
// never above the area's top.
namespace {

using TextSizes = std::unordered_map<std::string, std::pair<int, int>>;
const char kTextSizes[] = "ry-text-sizes";
GtkCellRendererClass* text_cell_class = nullptr;

void tag_cell_get_size(GtkCellRenderer* cell, GtkWidget* widget, GdkRectangle* area, gint* x_offset,
                       gint* y_offset, gint* width, gint* height) {
    const char* text = GTK_CELL_RENDERER_TEXT(cell)->text;
    auto* sizes = static_cast<TextSizes*>(g_object_get_data(G_OBJECT(cell), kTextSizes));
    if (text == nullptr || sizes == nullptr) {
        text_cell_class->get_size(cell, widget, area, x_offset, y_offset, width, height);
        return;
    }
    // Kept for one layout only: thousands of texts would otherwise hold memory for good.
    if (sizes->empty())
        g_idle_add_full(
            G_PRIORITY_LOW,
            +[](gpointer c) -> gboolean {
                if (auto* s = static_cast<TextSizes*>(g_object_get_data(G_OBJECT(c), kTextSizes)))
                    TextSizes().swap(*s);
                return G_SOURCE_REMOVE;
            },
            g_object_ref(cell), g_object_unref);
    auto [known, added] = sizes->try_emplace(text);
    auto& [w, h] = known->second;
    if (added) text_cell_class->get_size(cell, widget, nullptr, nullptr, nullptr, &w, &h);
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    const bool rtl = gtk_widget_get_direction(widget) == GTK_TEXT_DIR_RTL;
    if (x_offset != nullptr)
        *x_offset = area != nullptr ? int((rtl ? 1.0 - cell->xalign : cell->xalign) * (area->width - w)) : 0;
    if (y_offset != nullptr) *y_offset = area != nullptr ? MAX(int(cell->yalign * (area->height - h)), 0) : 0;
}

GType tag_cell_get_type() {
    static GType type = 0;
    if (type == 0)
        type = g_type_register_static_simple(
            GTK_TYPE_CELL_RENDERER_TEXT, "ryTagCell", sizeof(GtkCellRendererTextClass),
            +[](gpointer klass, gpointer) {
                text_cell_class = GTK_CELL_RENDERER_CLASS(g_type_class_peek_parent(klass));
                GTK_CELL_RENDERER_CLASS(klass)->get_size = tag_cell_get_size;
            },
            sizeof(GtkCellRendererText), nullptr, GTypeFlags(0));
    return type;
}

}  // namespace

// Set up as GtkIconView sets up its own text column.
void ry_icon_view_set_text_cell(GtkWidget* widget, int column) {
    GtkCellRenderer* cell =
        GTK_CELL_RENDERER(g_object_new(tag_cell_get_type(), "alignment", PANGO_ALIGN_CENTER, "wrap-mode",
                                       PANGO_WRAP_WORD_CHAR, "xalign", 0.0, "yalign", 0.0, NULL));
    ry::set_owned_data(cell, kTextSizes, std::make_unique<TextSizes>());
    gtk_cell_layout_pack_end(GTK_CELL_LAYOUT(widget), cell, FALSE);
    gtk_cell_layout_add_attribute(GTK_CELL_LAYOUT(widget), cell, "text", column);
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
