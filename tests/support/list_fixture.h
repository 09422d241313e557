// A generated library opened as the program opens it, with its catalogue compiled,
// and the item and attachment lists built over their models: what the listing
// tests drive, and readers for the rows the listings leave in the models.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <clocale>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "libgen.h"
#include "ry_library.h"
#include "ry_model.h"
#include "ry_page.h"
#include "ry_que.h"
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

// A library opened as the program opens it, its catalogue compiled; closed with
// the object. The record starts as the program loads it.
class OpenLibrary {
  public:
    explicit OpenLibrary(const std::string& database) {
        if (ry_open_library(database.c_str(), &db_) != SQLITE_OK || !ry_sql_try_prepare(db_, statements_))
            throw std::runtime_error("cannot open " + database);
        sql_que = ry_sql_que{-1, "*", "*", {'*'}, {0, 0, 0}, -1};
    }
    ~OpenLibrary() {
        for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
        sqlite3_close(db_);
        ry_close_library();
    }
    OpenLibrary(const OpenLibrary&) = delete;
    OpenLibrary& operator=(const OpenLibrary&) = delete;

    sqlite3* db() const { return db_; }
    sqlite3_stmt** statements() { return statements_; }
    sqlite3_stmt* statement(int kind) const { return statements_[kind]; }

  private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statements_[ZLAST] = {};
};

// Everything a listing needs, over a library that the test has written.
class ListingLibrary : public OpenLibrary {
  public:
    explicit ListingLibrary(const std::string& database) : OpenLibrary(database) {}
    ~ListingLibrary() {
        // The two models keep their factory's reference besides the view's.
        for (GtkWidget* view : {item_list_, attachment_list_}) {
            GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
            gtk_widget_destroy(view);
            g_object_unref(view);
            g_object_unref(model);
        }
        g_queue_clear(&history_);
    }

    ry_search_data* data() { return &data_; }
    GQueue* history() { return &history_; }
    GtkTreeView* item_list() const { return GTK_TREE_VIEW(item_list_); }
    GtkTreeView* attachment_list() const { return GTK_TREE_VIEW(attachment_list_); }

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
        ry_list_items(&data_);
        return items();
    }

    // Selects row n of the item list and activates it, as a tap does.
    void activate_item_row(int n) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(n, -1);
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(item_list()), path);
        ry_list_attachments(item_list(), path, nullptr, &data_);
        gtk_tree_path_free(path);
    }

  private:
    GtkWidget* item_list_ = GTK_WIDGET(g_object_ref_sink(ry_create_item_list()));
    GtkWidget* attachment_list_ = GTK_WIDGET(g_object_ref_sink(ry_create_attachment_list()));
    GQueue history_ = G_QUEUE_INIT;
    ry_search_data data_{statements(), item_list(), attachment_list(), nullptr, &history_};
};

// The text of a statement with its current bindings in place of the ?N.
inline std::string expanded(sqlite3_stmt* statement) {
    char* text = sqlite3_expanded_sql(statement);
    std::string s = text != nullptr ? text : "";
    sqlite3_free(text);
    return s;
}

}  // namespace ryt
