// ryIconView: the style file sets its item height, which GTK only accepts for a
// style property the class installs, and which the items then get, scaled to the screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ry_iconview.h"
#include "ry_layout.h"
#include "ry_model.h"
#include "ry_raii.h"
#include "test_support.h"

namespace {

// Collects GLib messages of every domain for the life of the object.
class MessageLog {
  public:
    MessageLog() { old_ = g_log_set_default_handler(collect, this); }
    ~MessageLog() { g_log_set_default_handler(old_, nullptr); }
    std::vector<std::string> messages;

  private:
    static void collect(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
        static_cast<MessageLog*>(self)->messages.push_back(message);
    }
    GLogFunc old_;
};

TEST(RyIconView, StyleFileMaySetItemHeightWithoutAWarning) {
    MessageLog log;
    gtk_rc_parse_string(
        "style \"ry-test-tags\" { ryIconView::item-height = 200 }\n"
        "widget \"*.ry-test-tag-view\" style \"ry-test-tags\"\n");
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* view = ry_icon_view_new();
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    gtk_icon_view_set_model(GTK_ICON_VIEW(view), GTK_TREE_MODEL(model.get()));
    gtk_icon_view_set_text_column(GTK_ICON_VIEW(view), LABEL_NAME);
    gtk_widget_set_name(view, "ry-test-tag-view");
    gtk_container_add(GTK_CONTAINER(window), view);
    gtk_widget_show_all(window);
    ryt::flush_events();
    gint height = -1;
    gtk_widget_style_get(view, "item-height", &height, NULL);
    EXPECT_EQ(height, 200);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(view));
    ASSERT_NE(cells, nullptr);
    for (GList* l = cells; l; l = l->next) {
        g_object_get(l->data, "height", &height, NULL);
        EXPECT_EQ(height, int(200 * ry_sizes().scale));
    }
    g_list_free(cells);
    EXPECT_TRUE(log.messages.empty()) << log.messages.front();
    gtk_widget_destroy(window);
}

}  // namespace
