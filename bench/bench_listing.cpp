// How much the item listing costs over its bare statement, per kind, and how long
// the tag view takes to build and lay out, on a large synthetic library.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "gtk_include.h"
#include "libgen.h"
#include "ry_iconview.h"
#include "ry_library.h"
#include "ry_model.h"
#include "ry_que.h"
#include "ry_sql.h"
#include "ry_view.h"

namespace {

// CPU time of this thread: the machine may be shared, and time spent waiting
// for a core says nothing about the code.
struct Clock {
    using time_point = double;
    static time_point now() {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    }
};

double ms_since(Clock::time_point start) { return Clock::now() - start; }

template <class F>
double median_ms(int runs, F f) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        Clock::time_point start = Clock::now();
        f();
        times.push_back(ms_since(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The statement alone: the same reset, bindings and steps, reading the same columns.
int step_bare(sqlite3_stmt* s) {
    int rows = 0;
    size_t bytes = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
        bytes += size_t(sqlite3_column_int(s, 0));
        for (int c = 1; c <= 3; ++c)
            if (const unsigned char* t = sqlite3_column_text(s, c)) bytes += t[0];
        ++rows;
    }
    sqlite3_reset(s);
    return rows + int(bytes & 0);
}

void bind_like_the_listing(sqlite3_stmt* s, int k) {
    sqlite3_reset(s);
    if (k % 2 == 1) sqlite3_bind_int(s, SCID, sql_que.cid);
    if (k <= ZC_CRTI) sqlite3_bind_text(s, STITLE, sql_que.title, -1, SQLITE_STATIC);
    if (k >= ZTICR && k <= ZC_CRTI) sqlite3_bind_text(s, SCREATOR, sql_que.creator, -1, SQLITE_STATIC);
    if (k == ZDATE || k == ZC_DATE) sqlite3_bind_text(s, SDATE, sql_que.date, -1, SQLITE_STATIC);
    if (k == ZTAGED || k == ZC_TAGED) {
        sqlite3_bind_int(s, STAG0, sql_que.tags[0]);
        sqlite3_bind_int(s, STAGS, sql_que.tags[0]);
    }
}

int query_int(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    int v = 0;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        v = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        fprintf(stderr, "no display: run under xvfb-run -a\n");
        return 1;
    }
    libgen::SyntheticOptions options;  // 20,000 items, 2,000 tags, 200 collections
    gchar* dir = g_dir_make_tmp("ryx-bench-XXXXXX", nullptr);
    if (dir == nullptr) return 1;
    std::string database;
    {
        Clock::time_point start = Clock::now();
        libgen::ClassicLibraryBuilder b(dir);
        libgen::write_synthetic_library(b, options, std::time(nullptr));
        b.finish();
        database = b.database_path();
        printf("library: %d items, %d tags, %d collections, written in %.0f ms\n", options.items,
               options.tags, options.collections, ms_since(start));
    }

    sqlite3* db = nullptr;
    sqlite3_stmt* statements[ZLAST] = {};
    if (ry_open_library(database.c_str(), &db) != SQLITE_OK ||
        !ry_sql_try_prepare(db, statements))
        return 1;

    GtkWidget* item_list = ry_create_item_list();
    GtkWidget* attachment_list = ry_create_attachment_list();
    GQueue history = G_QUEUE_INIT;
    ry_search_data data{statements, GTK_TREE_VIEW(item_list), GTK_TREE_VIEW(attachment_list), nullptr,
                        &history};

    // The busiest tag and the fullest collection: the largest lists of their kinds.
    int tag = query_int(db, "SELECT tagID FROM itemTags GROUP BY tagID ORDER BY count(*) DESC LIMIT 1");
    int collection = query_int(
        db, "SELECT collectionID FROM collectionItems GROUP BY collectionID ORDER BY count(*) DESC LIMIT 1");
    sql_que.title = search_buttons[0].que;
    sql_que.creator = search_buttons[0].que;
    snprintf(sql_que.date, sizeof sql_que.date, "%%");
    sql_que.tags[0] = tag;

    struct Case {
        const char* name;
        int kind;
        const char* title;
        int cid;
    };
    const Case cases[] = {
        {"ZTINCR  title *", ZTINCR, "*", -1},
        {"ZTINCR  title S", ZTINCR, "[sS]*", -1},
        {"ZNCRTI  title *", ZNCRTI, "*", -1},
        {"ZTICR   title *", ZTICR, "*", -1},
        {"ZCRTI   title *", ZCRTI, "*", -1},
        {"ZDATE   all", ZDATE, "*", -1},
        {"ZTAGED  top tag", ZTAGED, "*", -1},
        {"ZC_TINCR top coll", ZTINCR, "*", collection},
        {"ZC_NCRTI top coll", ZNCRTI, "*", collection},
        {"ZC_DATE top coll", ZDATE, "*", collection},
    };
    const int runs = 7;
    printf("\nCPU milliseconds, fastest of %d alternating runs\n%-20s %8s %12s %12s %9s %10s\n", runs, "kind",
           "rows", "listing ms", "bare ms", "overhead", "clear ms");
    for (const Case& c : cases) {
        sql_que.title = c.title;
        sql_que.cid = c.cid;
        sql_que.sql = c.kind;
        int k = c.kind + (c.cid > 0 ? 1 : 0);
        ry_list_items(&data);  // warm the page cache once
        // Alternating runs, fastest of each: the machine is shared, and the
        // fastest run is the one least disturbed by others.
        double listing = 1e9, bare = 1e9;
        for (int r = 0; r < runs; ++r) {
            listing = std::min(listing, median_ms(1, [&] { ry_list_items(&data); }));
            bare = std::min(bare, median_ms(1, [&] {
                                bind_like_the_listing(statements[k], k);
                                step_bare(statements[k]);
                            }));
        }
        int rows = gtk_tree_model_iter_n_children(gtk_tree_view_get_model(GTK_TREE_VIEW(item_list)), nullptr);
        // Of the listing, the part spent emptying the previous list of the same rows.
        GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(item_list));
        g_object_ref(model);
        gtk_tree_view_set_model(GTK_TREE_VIEW(item_list), nullptr);
        Clock::time_point start = Clock::now();
        gtk_list_store_clear(GTK_LIST_STORE(model));
        double clear = ms_since(start);
        gtk_tree_view_set_model(GTK_TREE_VIEW(item_list), model);
        g_object_unref(model);
        printf("%-20s %8d %12.2f %12.2f %8.1f%% %10.2f\n", c.name, rows, listing, bare,
               100.0 * (listing - bare) / bare, clear);
    }

    // The floor under the listing's own share: the store alone, filling and
    // emptying as many rows as the largest list, three ways.
    {
        const int n = 50000;
        GtkListStore* store = ry_create_item_model();
        const char* title = "A title of an ordinary length, some forty characters";
        auto fill_append_set = [&] {
            GtkTreeIter iter;
            for (int i = 0; i < n; ++i) {
                gtk_list_store_append(store, &iter);
                gtk_list_store_set(store, &iter, ITEM_ID, i, ITEM_TITLE, title, ITEM_CREATOR_FIRSTNAME, "Ann",
                                   ITEM_CREATOR_LASTNAME, "Lee", -1);
            }
        };
        auto fill_with_values = [&] {
            for (int i = 0; i < n; ++i)
                gtk_list_store_insert_with_values(store, nullptr, -1, ITEM_ID, i, ITEM_TITLE, title,
                                                  ITEM_CREATOR_FIRSTNAME, "Ann", ITEM_CREATOR_LASTNAME, "Lee",
                                                  -1);
        };
        auto fill_valuesv = [&] {
            gint columns[] = {ITEM_ID, ITEM_TITLE, ITEM_CREATOR_FIRSTNAME, ITEM_CREATOR_LASTNAME};
            GValue v[4] = {G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT};
            g_value_init(&v[0], G_TYPE_INT);
            for (int c = 1; c < 4; ++c) g_value_init(&v[c], G_TYPE_STRING);
            for (int i = 0; i < n; ++i) {
                g_value_set_int(&v[0], i);
                g_value_set_static_string(&v[1], title);
                g_value_set_static_string(&v[2], "Ann");
                g_value_set_static_string(&v[3], "Lee");
                gtk_list_store_insert_with_valuesv(store, nullptr, -1, columns, v, 4);
            }
            for (GValue& x : v) g_value_unset(&x);
        };
        struct Way {
            const char* name;
            std::function<void()> fill;
        } ways[] = {{"append + set", fill_append_set},
                    {"insert_with_values", fill_with_values},
                    {"insert_with_valuesv, static texts", fill_valuesv}};
        printf("\nthe store alone, %d rows (CPU ms, fastest of %d)\n", n, runs);
        for (const Way& w : ways) {
            double fill = 1e9, clear = 1e9;
            for (int r = 0; r < runs; ++r) {
                fill = std::min(fill, median_ms(1, w.fill));
                clear = std::min(clear, median_ms(1, [&] { gtk_list_store_clear(store); }));
            }
            printf("  %-36s fill %7.2f  clear %7.2f\n", w.name, fill, clear);
        }
        g_object_unref(store);
    }

    // The tag view: filled, set on the widget and laid out in a window of the
    // size it gets on the device.
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 768, 350);
    std::vector<double> build_times, layout_times;
    for (int i = 0; i < runs; ++i) {
        ry_radio_group rgroup{};
        rgroup.tag_view = ry_icon_view_new();
        Clock::time_point start = Clock::now();
        GtkWidget* tag_view = ry_initialize_tag_view(db, &rgroup);
        build_times.push_back(ms_since(start));
        start = Clock::now();
        gtk_container_add(GTK_CONTAINER(window), tag_view);
        gtk_widget_show_all(window);
        while (gtk_events_pending()) gtk_main_iteration();
        layout_times.push_back(ms_since(start));
        GtkTreeModel* model = gtk_icon_view_get_model(GTK_ICON_VIEW(tag_view));
        gtk_container_remove(GTK_CONTAINER(window), tag_view);
        g_object_unref(model);
    }
    std::sort(build_times.begin(), build_times.end());
    std::sort(layout_times.begin(), layout_times.end());
    printf("\ntag view (%d tags of type 0): build %.2f ms, show and lay out %.2f ms (medians of %d)\n",
           query_int(db, "SELECT count(*) FROM tags WHERE type=0"), build_times[runs / 2],
           layout_times[runs / 2], runs);

    gtk_widget_destroy(window);
    for (sqlite3_stmt* s : statements) sqlite3_finalize(s);
    sqlite3_close(db);
    gchar* rm[] = {const_cast<gchar*>("rm"), const_cast<gchar*>("-rf"), dir, nullptr};
    g_spawn_sync(nullptr, rm, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr);
    g_free(dir);
    return 0;
}
