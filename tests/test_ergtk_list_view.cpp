// The pen list view: taps through the X server, keys, and the two focus flags.
#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ergtklistview.h"
#include "ry_raii.h"
#include "window_fixture.h"

namespace {

class PenListView : public testing::Test {
  protected:
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* button = gtk_button_new_with_label("elsewhere");
    GtkWidget* view = nullptr;
    std::vector<int> activated;         // row index of every "row-activated"
    std::vector<bool> focus_on_change;  // the view's focus at every selection change

    void SetUp() override {
        ry::gobject_ptr<GtkListStore> store(gtk_list_store_new(1, G_TYPE_STRING));
        for (const char* row : {"first", "second", "third", "fourth"})
            gtk_list_store_insert_with_values(store.get(), nullptr, -1, 0, row, -1);
        view = ergtk_list_view_new_with_model(GTK_TREE_MODEL(store.get()));
        GtkTreeViewColumn* column =
            gtk_tree_view_column_new_with_attributes("Row", gtk_cell_renderer_text_new(), "text", 0, NULL);
        ergtk_list_view_append_column(ERGTK_LIST_VIEW(view), column);
        ergtk_list_view_set_focus_mode(ERGTK_LIST_VIEW(view), TRUE, TRUE);
        g_signal_connect(view, "row-activated",
                         G_CALLBACK(+[](GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, PenListView* t) {
                             t->activated.push_back(gtk_tree_path_get_indices(path)[0]);
                         }),
                         this);
        g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), "changed",
                         G_CALLBACK(+[](GtkTreeSelection*, PenListView* t) {
                             t->focus_on_change.push_back(gtk_widget_has_focus(t->view));
                         }),
                         this);
        GtkWidget* box = gtk_vbox_new(FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(box), view, TRUE, TRUE, 0);
        gtk_container_add(GTK_CONTAINER(window), box);
        gtk_window_set_default_size(GTK_WINDOW(window), 300, 300);
        ASSERT_TRUE(ryt::present_with_focus(window));
        gtk_widget_grab_focus(button);
        ryt::flush_events();
    }
    void TearDown() override { gtk_widget_destroy(window); }
    std::vector<int> selected() const { return ryt::selected_rows(GTK_TREE_VIEW(view)); }

    // Button 1 events as the X server delivers them to the list, sent through
    // GTK's own dispatch (no pointer of the shared X server is moved).
    void pen(int row, GdkEventType type) {
        GdkRectangle r;
        GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
        gtk_tree_view_get_cell_area(GTK_TREE_VIEW(view), path, nullptr, &r);
        gtk_tree_path_free(path);
        GdkEvent* event = gdk_event_new(type);
        event->button.window = GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(GTK_TREE_VIEW(view))));
        event->button.time = ++clock;
        event->button.x = r.x + 10;
        event->button.y = r.y + r.height / 2;
        event->button.button = 1;
        event->button.device = gdk_device_get_core_pointer();
        gtk_main_do_event(event);
        gdk_event_free(event);
        ryt::flush_events();
    }
    void tap(int row) {
        pen(row, GDK_BUTTON_PRESS);
        pen(row, GDK_BUTTON_RELEASE);
    }
    // A second tap soon after the first: X reports the press twice, once as a
    // plain press and once as a double press.
    void double_tap(int row) {
        tap(row);
        pen(row, GDK_BUTTON_PRESS);
        pen(row, GDK_2BUTTON_PRESS);
        pen(row, GDK_BUTTON_RELEASE);
    }
    guint32 clock = 1000;

    void key(guint keyval) {
        for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
            GdkEvent* event = gdk_event_new(type);
            event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
            event->key.time = ++clock;
            event->key.keyval = keyval;
            GdkKeymapKey* keys = nullptr;
            gint n = 0;
            if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_default(), keyval, &keys, &n) && n > 0)
                event->key.hardware_keycode = guint16(keys[0].keycode);
            g_free(keys);
            gtk_main_do_event(event);
            gdk_event_free(event);
        }
        ryt::flush_events();
    }
};

// As the program sets the view up: a tap gives it the focus before the tapped row is
// selected (one selection change, not a first row chosen on the way) and activates
// that row; a double tap is two taps; a pen lifted over another row only selects;
// Enter and Space activate the cursor row; the selection stays when the focus goes.
TEST_F(PenListView, TapsAndKeysActivateTheRowUnderThePenOrCursor) {
    tap(3);
    ASSERT_TRUE(ryt::iterate_until([&] { return !activated.empty(); }));
    EXPECT_TRUE(gtk_widget_has_focus(view));
    EXPECT_EQ(focus_on_change, std::vector<bool>{true});
    EXPECT_EQ(selected(), std::vector<int>{3});
    EXPECT_EQ(activated, std::vector<int>{3});
    double_tap(0);
    EXPECT_EQ(activated, (std::vector<int>{3, 0, 0}));
    pen(1, GDK_BUTTON_PRESS);
    pen(3, GDK_BUTTON_RELEASE);
    EXPECT_EQ(selected(), std::vector<int>{1});
    EXPECT_EQ(activated.size(), 3u) << "lifted over another row";
    tap(1);  // not confused by the stray one
    EXPECT_EQ(activated.back(), 1);
    activated.clear();
    key(GDK_Down);
    key(GDK_Return);
    key(GDK_space);
    EXPECT_EQ(activated, (std::vector<int>{2, 2}));
    gtk_widget_grab_focus(button);
    ryt::flush_events();
    EXPECT_EQ(selected(), std::vector<int>{2});
}

}  // namespace
