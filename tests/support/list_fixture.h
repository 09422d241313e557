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
struct AttachmentRow {
    int source;
    std::string mime, path, key;
    bool operator==(const AttachmentRow&) const = default;
};

inline void PrintTo(const ItemRow& r, std::ostream* os) {
    *os << "{" << r.id << ", \"" << r.title << "\", \"" << r.first << "\", \"" << r.last << "\"}";
}
inline void PrintTo(const LabelRow& r, std::ostream* os) { *os << "{" << r.id << ", \"" << r.name << "\"}"; }
inline void PrintTo(const AttachmentRow& r, std::ostream* os) {
    *os << "{" << r.source << ", \"" << r.mime << "\", \"" << r.path << "\", \"" << r.key << "\"}";
}

// A text column's value; "<unset>" for a column never set.
inline std::string column_string(GtkTreeModel* model, GtkTreeIter* iter, int column) {
    gchar* text = nullptr;
    gtk_tree_model_get(model, iter, column, &text, -1);
    std::string s = text != nullptr ? text : "<unset>";
    g_free(text);
    return s;
}

// Every row of the model: its int column, then its text columns.
template <class Row, class... Texts>
std::vector<Row> rows_of(GtkTreeModel* model, int id_column, Texts... text_columns) {
    std::vector<Row> rows;
    GtkTreeIter iter;
    for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok;
         ok = gtk_tree_model_iter_next(model, &iter)) {
        int id = 0;
        gtk_tree_model_get(model, &iter, id_column, &id, -1);
        rows.push_back({id, column_string(model, &iter, text_columns)...});
    }
    return rows;
}
inline std::vector<LabelRow> label_rows(GtkTreeModel* model) {
    return rows_of<LabelRow>(model, LABEL_ID, LABEL_NAME);
}

// Shows a toplevel and makes it the active window, so that its widgets can hold
// the keyboard focus. Tests share one X server and run in parallel: the window
// stays out of everybody's way (off the screen, where no pointer goes), and its
// activation is told to GTK directly instead of moving the server's input focus.
inline bool present_with_focus(GtkWidget* window) {
    gtk_window_move(GTK_WINDOW(window), 5000, 5000);
    gtk_widget_show_all(window);
    if (!iterate_until([&] { return gtk_widget_get_mapped(window); })) return false;
    GdkEvent* focus = gdk_event_new(GDK_FOCUS_CHANGE);
    focus->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    focus->focus_change.send_event = TRUE;
    focus->focus_change.in = TRUE;
    gtk_widget_event(window, focus);
    gdk_event_free(focus);
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

// Every row of the item list's listing; unset texts read "<unset>", as in the model.
inline std::vector<ItemRow> listing_rows(GtkTreeView* item_list) {
    const ry_item_rows& rows = *ry_item_rows_of(item_list);
    auto text = [](const char* t) { return std::string(t != nullptr ? t : "<unset>"); };
    std::vector<ItemRow> out;
    for (size_t i = 0; i < rows.size(); ++i)
        out.push_back({int(rows.id(i)), text(rows.title(i)), text(rows.first(i)), text(rows.last(i))});
    return out;
}

// The separator row that ends every item list; its creator columns are never set.
inline ItemRow separator_row() { return {-1, ry_separator_text, "<unset>", "<unset>"}; }

// Everything a listing needs, over a library that the test has written.
class ListingLibrary {
  public:
    // Opens the library as the program does and compiles the catalogue.
    explicit ListingLibrary(const std::string& database) {
        if (ry_open_library(database.c_str(), &db_) != SQLITE_OK || !ry_sql_try_prepare(db_, statements_))
            throw std::runtime_error("cannot open " + database);
        item_list_ = GTK_WIDGET(g_object_ref_sink(ry_create_item_list()));
        attachment_list_ = GTK_WIDGET(g_object_ref_sink(ry_create_attachment_list()));
        data_ = {statements_, item_list(), attachment_list(), nullptr, &history_};
        // Every test starts from the record as the program loads it.
        sql_que = ry_sql_que{-1, "*", "*", {'*'}, {0, 0, 0}, -1};
    }
    ~ListingLibrary() {
        // The two models keep their factory's reference besides the view's.
        for (GtkWidget* view : {item_list_, attachment_list_}) {
            GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
            gtk_widget_destroy(view);
            g_object_unref(view);
            if (model) g_object_unref(model);
        }
        g_queue_clear(&history_);
        for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
        sqlite3_close(db_);
        ry_close_library();
    }
    ListingLibrary(const ListingLibrary&) = delete;
    ListingLibrary& operator=(const ListingLibrary&) = delete;

    sqlite3* db() const { return db_; }
    sqlite3_stmt* statement(int kind) const { return statements_[kind]; }
    ry_search_data* data() { return &data_; }
    GQueue* history() { return &history_; }
    GtkTreeView* item_list() const { return GTK_TREE_VIEW(item_list_); }
    GtkTreeView* attachment_list() const { return GTK_TREE_VIEW(attachment_list_); }
    GtkTreeModel* item_model() const { return gtk_tree_view_get_model(item_list()); }
    // The whole listing, as the item list's store holds it; the model holds a page.
    std::vector<ItemRow> items() const { return listing_rows(item_list()); }
    std::vector<AttachmentRow> attachments() const {
        return rows_of<AttachmentRow>(gtk_tree_view_get_model(attachment_list()), ATTACHMENT_SOURCE_ID,
                                      ATTACHMENT_MIMETYPE, ATTACHMENT_PATH, ATTACHMENT_KEY);
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
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statements_[ZLAST] = {};
    GtkWidget* item_list_ = nullptr;
    GtkWidget* attachment_list_ = nullptr;
    GQueue history_ = G_QUEUE_INIT;
    ry_search_data data_{};
};

// The text of a statement with its current bindings in place of the ?N.
inline std::string expanded(sqlite3_stmt* statement) {
    char* text = sqlite3_expanded_sql(statement);
    std::string s = text != nullptr ? text : "";
    sqlite3_free(text);
    return s;
}

}  // namespace ryt
