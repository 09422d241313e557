// ryIconView: the style file sets its item height, which GTK only accepts for a
// style property the class installs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ry_iconview.h"
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
        "style \"ry-test-tags\" { ryIconView::item-height = 33 }\n"
        "widget \"*.ry-test-tag-view\" style \"ry-test-tags\"\n");
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* view = ry_icon_view_new();
    gtk_widget_set_name(view, "ry-test-tag-view");
    gtk_container_add(GTK_CONTAINER(window), view);
    gtk_widget_show_all(window);
    ryt::flush_events();
    gint height = -1;
    gtk_widget_style_get(view, "item-height", &height, NULL);
    EXPECT_EQ(height, 33);
    EXPECT_TRUE(log.messages.empty()) << log.messages.front();
    gtk_widget_destroy(window);
}

}  // namespace
