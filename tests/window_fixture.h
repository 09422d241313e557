// The program's real window over a small generated library, for tests that drive
// the keys, the tag view, the collection list and the item list.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "list_fixture.h"
#include "main.h"

namespace ryt {

// The child attached at (left, top) of a table; nullptr when the cell is empty.
inline GtkWidget* table_cell(GtkWidget* table, guint left, guint top) {
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(table));
    for (GList* l = children; l; l = l->next) {
        guint l_attach = 0, t_attach = 0;
        gtk_container_child_get(GTK_CONTAINER(table), GTK_WIDGET(l->data), "left-attach", &l_attach,
                                "top-attach", &t_attach, nullptr);
        if (l_attach == left && t_attach == top) found = GTK_WIDGET(l->data);
    }
    g_list_free(children);
    return found;
}

inline bool is_pressed(GtkWidget* button) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)); }

// Builds the window exactly as the program does, over a library written by fill.
class WindowFixture : public ::testing::Test {
  protected:
    void build(const std::function<void(libgen::LibraryBuilder&)>& fill) {
        {
            libgen::ClassicLibraryBuilder lib(dir_.path());
            fill(lib);
            lib.finish();
        }
        library_.emplace(dir_.file("zotero.sqlite"));
        window_ = create_main_window();
        main_box_ = build_window_contents(window_, library_->db(), library_->statements(), &history_,
                                          const_cast<gchar*>(dir_.path().c_str()), &rgroup_, &search_data_,
                                          &collection_list_);
        gtk_widget_show(main_box_);
        gtk_widget_show(window_);
        gtk_widget_grab_focus(collection_list_);
        focus_toplevel(window_);
        flush_events();
    }

    void TearDown() override {
        if (window_) gtk_widget_destroy(window_);
        flush_events();
        for (GtkWidget* anchor : {rgroup_.tbutton, rgroup_.cbutton, rgroup_.mbutton})
            if (anchor) g_object_unref(anchor);
        library_.reset();
        g_queue_clear(&history_);
    }

    // GtkBox lists the children packed at the start first, then those packed at the
    // end from the outermost in: attachment list, item box, separator, browse row,
    // separator, search box (letter keys, separator, month keys).
    GtkWidget* letter_grid() const { return nth_child(nth_child(main_box_, 5), 0); }
    GtkWidget* month_grid() const { return nth_child(nth_child(main_box_, 5), 2); }
    GtkWidget* title_key(int i) const { return table_cell(letter_grid(), i + 3, 0); }
    GtkWidget* creator_key(int i) const { return table_cell(letter_grid(), i + 3, 1); }
    GtkWidget* month_key(int i) const { return table_cell(month_grid(), i + 3, 0); }

    GtkWidget* tag_view() const { return rgroup_.tag_view; }
    GtkTreeModel* item_model() const { return gtk_tree_view_get_model(search_data_.item_list); }

    // As a tap: the key takes the focus, then is clicked.
    void click(GtkWidget* button) {
        take_focus(button);
        gtk_button_clicked(GTK_BUTTON(button));
        flush_events();
    }

    // Selects the row whose id is `id` in the tag view or the collection list, with
    // that view focused or not.
    void select(GtkWidget* view, int id, bool focused) {
        take_focus(focused ? view : GTK_WIDGET(search_data_.item_list));
        bool icons = GTK_IS_ICON_VIEW(view);
        GtkTreePath* path = find_row(icons ? gtk_icon_view_get_model(GTK_ICON_VIEW(view))
                                           : gtk_tree_view_get_model(GTK_TREE_VIEW(view)),
                                     id);
        ASSERT_NE(path, nullptr) << "no row " << id;
        if (icons)
            gtk_icon_view_select_path(GTK_ICON_VIEW(view), path);
        else
            gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), path);
        gtk_tree_path_free(path);
        flush_events();
    }

    // Other test programs' windows on the same display take the X focus now and
    // then: handle what is pending, then claim the focus with no event in between
    // before the selection that follows.
    void take_focus(GtkWidget* widget) {
        flush_events();
        focus_toplevel(window_);
        gtk_widget_grab_focus(widget);
    }

    static GtkTreePath* find_row(GtkTreeModel* model, int id) {
        std::vector<int> ids = model_ids(model, LABEL_ID);
        auto at = std::find(ids.begin(), ids.end(), id);
        return at == ids.end() ? nullptr : gtk_tree_path_new_from_indices(int(at - ids.begin()), -1);
    }

    TempDir dir_;
    std::optional<OpenLibrary> library_;
    GQueue history_ = G_QUEUE_INIT;
    ry_radio_group rgroup_{};
    ry_search_data search_data_{};
    GtkWidget* window_ = nullptr;
    GtkWidget* main_box_ = nullptr;
    GtkWidget* collection_list_ = nullptr;
};

}  // namespace ryt
