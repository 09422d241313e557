// ryIconView: its type, its style property, and the checks of its two calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ry_iconview.h"
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

TEST(RyIconView, IsAnIconViewTypeNamedRyIconView) {
    GType type = ry_icon_view_get_type();
    EXPECT_EQ(type, ry_icon_view_get_type());
    EXPECT_STREQ(g_type_name(type), "ryIconView");
    EXPECT_EQ(g_type_parent(type), GTK_TYPE_ICON_VIEW);
    GtkWidget* view = ry_icon_view_new();
    g_object_ref_sink(view);
    EXPECT_TRUE(RY_IS_ICON_VIEW(view));
    EXPECT_EQ(gtk_icon_view_get_model(GTK_ICON_VIEW(view)), nullptr);
    gtk_widget_destroy(view);
    g_object_unref(view);
}

TEST(RyIconView, ItemHeightStylePropertyIsAReadableStaticInt) {
    gpointer klass = g_type_class_ref(ry_icon_view_get_type());
    GParamSpec* pspec = gtk_widget_class_find_style_property(GTK_WIDGET_CLASS(klass), "item-height");
    ASSERT_NE(pspec, nullptr);
    ASSERT_TRUE(G_IS_PARAM_SPEC_INT(pspec));
    EXPECT_STREQ(g_param_spec_get_nick(pspec), "Item height");
    EXPECT_STREQ(g_param_spec_get_blurb(pspec), "Height in pixels occupied by text and pixbuf");
    GParamSpecInt* ispec = G_PARAM_SPEC_INT(pspec);
    EXPECT_EQ(ispec->minimum, G_MININT);
    EXPECT_EQ(ispec->maximum, G_MAXINT);
    EXPECT_EQ(ispec->default_value, 0);
    EXPECT_EQ(int(pspec->flags), 225);
    EXPECT_EQ(pspec->owner_type, ry_icon_view_get_type());
    g_type_class_unref(klass);
}

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

TEST(RyIconView, NullModelGivesNullAndOneCriticalWarning) {
    MessageLog log;
    EXPECT_EQ(ry_icon_view_new_with_model(nullptr), nullptr);
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_NE(log.messages[0].find("ry_icon_view_new_with_model"), std::string::npos);
    EXPECT_NE(log.messages[0].find("'model'"), std::string::npos);
}

TEST(RyIconView, WithModelShowsThatModel) {
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    GtkWidget* view = ry_icon_view_new_with_model(GTK_TREE_MODEL(model.get()));
    g_object_ref_sink(view);
    EXPECT_TRUE(RY_IS_ICON_VIEW(view));
    EXPECT_EQ(gtk_icon_view_get_model(GTK_ICON_VIEW(view)), GTK_TREE_MODEL(model.get()));
    gtk_widget_destroy(view);
    g_object_unref(view);
}

TEST(RyIconView, SetModelRefusesAPlainIconView) {
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    GtkWidget* plain = gtk_icon_view_new();
    g_object_ref_sink(plain);
    MessageLog log;
    ry_icon_view_set_model(reinterpret_cast<ryIconView*>(plain), GTK_TREE_MODEL(model.get()));
    EXPECT_EQ(gtk_icon_view_get_model(GTK_ICON_VIEW(plain)), nullptr);
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_NE(log.messages[0].find("ry_icon_view_set_model"), std::string::npos);
    EXPECT_NE(log.messages[0].find("RY_IS_ICON_VIEW(ry_iconview)"), std::string::npos);
    gtk_widget_destroy(plain);
    g_object_unref(plain);
}

}  // namespace
