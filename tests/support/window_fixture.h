// The program's main window, built as the program builds it over a generated
// library, and readers for what its lists and keys hold; helpers for views alone.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "libgen.h"
#include "libgen_modern.h"
#include "main.h"
#include "ry_library.h"
#include "ry_model.h"
#include "ry_page.h"
#include "ry_que.h"
#include "ry_raii.h"
#include "ry_sql.h"
#include "ry_view.h"
#include "test_support.h"

namespace ryt {

struct ItemRow {
    int id;
    std::string title, first, last;
    bool operator==(const ItemRow&) const = default;
};
struct LabelRow {
    int id;
    std::string name;
    bool operator==(const LabelRow&) const = default;
};

inline void PrintTo(const ItemRow& r, std::ostream* os) {
    *os << "{" << r.id << ", \"" << r.title << "\", \"" << r.first << "\", \"" << r.last << "\"}";
}
inline void PrintTo(const LabelRow& r, std::ostream* os) { *os << "{" << r.id << ", \"" << r.name << "\"}"; }

// Calls f with each row of the model.
template <class F>
void for_each_row(GtkTreeModel* model, F f) {
    GtkTreeIter iter;
    for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok;
         ok = gtk_tree_model_iter_next(model, &iter))
        f(&iter);
}

// A text column's value; "<unset>" for a column never set.
inline std::string column_string(GtkTreeModel* model, GtkTreeIter* iter, int column) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, iter, column, &text, -1);
    std::string s = text != nullptr ? text : "<unset>";
    g_free(text);
    return s;
}

// The ids of a model's rows, separator rows included (as -1).
inline std::vector<int> model_ids(GtkTreeModel* model, int column) {
    std::vector<int> ids;
    for_each_row(
        model, [&](GtkTreeIter* iter) { gtk_tree_model_get(model, iter, column, &ids.emplace_back(), -1); });
    return ids;
}

using Labels = std::vector<LabelRow>;
inline Labels label_rows(GtkTreeModel* model) {
    Labels rows;
    for_each_row(model, [&](GtkTreeIter* iter) {
        int id = 0;
        gtk_tree_model_get(model, iter, LABEL_ID, &id, -1);
        rows.push_back({id, column_string(model, iter, LABEL_NAME)});
    });
    return rows;
}

inline GtkWidget* nth_child(GtkWidget* container, guint n) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(container));
    GtkWidget* child = GTK_WIDGET(g_list_nth_data(children, n));
    g_list_free(children);
    return child;
}

// The indices of the rows selected in the view.
inline std::vector<int> selected_rows(GtkTreeView* view) {
    std::vector<int> rows;
    GList* paths = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(view), nullptr);
    for (GList* l = paths; l; l = l->next)
        rows.push_back(gtk_tree_path_get_indices((GtkTreePath*)l->data)[0]);
    g_list_free_full(paths, GDestroyNotify(gtk_tree_path_free));
    return rows;
}

// Collects GLib warnings of every domain for the life of the object.
class MessageLog {
  public:
    MessageLog() { old_ = g_log_set_default_handler(collect, this); }
    ~MessageLog() { g_log_set_default_handler(old_, nullptr); }
    std::vector<std::string> messages;

  private:
    static void collect(const gchar*, GLogLevelFlags level, const gchar* message, gpointer self) {
        if (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))
            static_cast<MessageLog*>(self)->messages.push_back(message);
    }
    GLogFunc old_;
};

// Makes the toplevel believe it has the keyboard focus, as under a window manager,
// so that a view given the focus gets GTK_HAS_FOCUS.
inline void focus_toplevel(GtkWidget* window) {
    GdkEvent* event = gdk_event_new(GDK_FOCUS_CHANGE);
    event->focus_change.window = GDK_WINDOW(g_object_ref(window->window));
    event->focus_change.send_event = TRUE;
    event->focus_change.in = TRUE;
    gtk_widget_send_focus_change(window, event);
    gdk_event_free(event);
}

// Shows a toplevel and makes it the active window. Tests share one X server and
// run in parallel: the window stays off the screen, where no pointer goes, and its
// activation is told to GTK directly instead of moving the server's input focus.
inline bool present_with_focus(GtkWidget* window) {
    gtk_window_move(GTK_WINDOW(window), 5000, 5000);
    gtk_widget_show_all(window);
    if (!iterate_until([&] { return gtk_widget_get_mapped(window); })) return false;
    focus_toplevel(window);
    flush_events();
    return gtk_window_is_active(GTK_WINDOW(window)) != FALSE;
}

// Switches to a German locale in ISO-8859-1 (built into `locales` when the system
// lacks it); false when none can be had. The caller restores "C".
inline bool use_german_latin1_locale(const TempDir& locales) {
    if (setlocale(LC_ALL, "de_DE.ISO-8859-1")) return true;
    g_setenv("LOCPATH", locales.path().c_str(), TRUE);
    std::string cmd =
        "localedef -i de_DE -f ISO-8859-1 " + locales.path() + "/de_DE.ISO-8859-1 >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 && setlocale(LC_ALL, "de_DE.ISO-8859-1");
}

// The separator row that ends every item list; its creator columns are never set.
inline ItemRow separator_row() { return {-1, ry_separator_text, "<unset>", "<unset>"}; }

// The text of a statement with its current bindings in place of the ?N.
inline std::string expanded(sqlite3_stmt* statement) {
    char* text = sqlite3_expanded_sql(statement);
    std::string s = text != nullptr ? text : "";
    sqlite3_free(text);
    return s;
}

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

using Fill = std::function<void(libgen::LibraryBuilder&)>;

// The window built exactly as the program builds it, over a library that the test
// writes: of the older generation, or of the current one when `modern`.
class WindowFixture : public ::testing::Test {
  protected:
    void build(const Fill& fill, bool modern = false) {
        write_library(fill, modern);
        open_window();
    }
    void write_library(const Fill& fill, bool modern) {
        std::unique_ptr<libgen::LibraryBuilder> lib;
        if (modern)
            lib = std::make_unique<libgen::ModernLibraryBuilder>(dir_.path());
        else
            lib = std::make_unique<libgen::ClassicLibraryBuilder>(dir_.path());
        fill(*lib);
        lib->finish();
    }
    // Opens the library as the program does, compiles the catalogue, and starts from
    // the record as the program loads it.
    void open_window() {
        ASSERT_EQ(ry_open_library(dir_.file("zotero.sqlite").c_str(), &db_), SQLITE_OK);
        ASSERT_TRUE(ry_sql_try_prepare(db_, statements_));
        sql_que = ry_sql_que{-1, search_buttons[0].que, search_buttons[0].que, {'*'}, {0, 0, 0}, -1};
        window_ = create_main_window();
        main_box_ = build_window_contents(window_, db_, statements_, &history_,
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
        for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
        sqlite3_close(db_);
        ry_close_library();
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
        ry::tree_path_ptr path(find_row(view, id));
        ASSERT_NE(path, nullptr) << "no row " << id;
        if (GTK_IS_ICON_VIEW(view))
            gtk_icon_view_select_path(GTK_ICON_VIEW(view), path.get());
        else
            gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), path.get());
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

    GtkTreeView* item_list() const { return search_data_.item_list; }
    GtkTreeView* attachment_list() const { return search_data_.attachment_list; }
    // The whole listing, as the item list's store holds it (the model holds a page);
    // unset texts read "<unset>", as in the model.
    std::vector<ItemRow> items() const {
        const ry_item_rows& rows = *ry_item_rows_of(item_list());
        auto text = [](const char* t) { return std::string(t != nullptr ? t : "<unset>"); };
        std::vector<ItemRow> out;
        for (size_t i = 0; i < rows.size(); ++i)
            out.push_back({int(rows.id(i)), text(rows.title(i)), text(rows.first(i)), text(rows.last(i))});
        return out;
    }
    // Each attachment as "MIME type|path".
    std::vector<std::string> attachments() const {
        GtkTreeModel* model = gtk_tree_view_get_model(attachment_list());
        std::vector<std::string> rows;
        for_each_row(model, [&](GtkTreeIter* iter) {
            rows.push_back(column_string(model, iter, ATTACHMENT_MIMETYPE) + "|" +
                           column_string(model, iter, ATTACHMENT_PATH));
        });
        return rows;
    }
    // Lists by the record with the given kind, as a search key would.
    std::vector<ItemRow> list(int kind) {
        sql_que.sql = kind;
        ry_list_items(&search_data_);
        return items();
    }
    void list_recent(std::initializer_list<int> history) {
        for (int id : history) g_queue_push_tail(&history_, GINT_TO_POINTER(id));
        ry_list_recent_items(&search_data_);
    }
    // Selects row n of the item list and activates it, as a tap does.
    void activate_item_row(int n) {
        ry::tree_path_ptr path(gtk_tree_path_new_from_indices(n, -1));
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(item_list()), path.get());
        gtk_tree_view_row_activated(item_list(), path.get(), nullptr);
    }

    static GtkTreePath* find_row(GtkWidget* view, int id) {
        std::vector<int> ids =
            model_ids(GTK_IS_ICON_VIEW(view) ? gtk_icon_view_get_model(GTK_ICON_VIEW(view))
                                             : gtk_tree_view_get_model(GTK_TREE_VIEW(view)),
                      LABEL_ID);
        auto at = std::find(ids.begin(), ids.end(), id);
        return at == ids.end() ? nullptr : gtk_tree_path_new_from_indices(int(at - ids.begin()), -1);
    }

    TempDir dir_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statements_[ZLAST] = {};
    GQueue history_ = G_QUEUE_INIT;
    ry_radio_group rgroup_{};
    ry_search_data search_data_{};
    GtkWidget* window_ = nullptr;
    GtkWidget* main_box_ = nullptr;
    GtkWidget* collection_list_ = nullptr;
};

}  // namespace ryt
