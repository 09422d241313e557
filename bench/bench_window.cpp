// What a reader waits for, on generated libraries of several sizes: start-up with
// an empty and a full history, and each kind of listing in the real window from
// the tap until the main loop is idle again (every row of the page measured and
// drawn), next to the bare statement stepped in the same process and to the text
// that statement replaced; with the process's memory and the tag view's layout.
// Prints a table; it is not a test.
//
//   xvfb-run -a -s "-screen 0 1024x1280x24" dbus-run-session --
//       build/bench/bench_window [--sizes 1000,20000,100000] [--dir DIR]
//
// Each library size runs in processes of its own (the program's start-up twice,
// the replaced texts, then the taps), so that no figure carries another's memory or
// caches; --dir keeps the generated libraries between runs.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gtk_include.h"
#include "main.h"
#include "replaced_statements.h"
#include "ry_ctr.h"
#include "ry_library.h"
#include "ry_page.h"
#include "ry_que.h"
#include "ry_raii.h"
#include "ry_sql.h"
#include "ry_view.h"

namespace {

double cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
double wall_ms() { return g_get_monotonic_time() / 1e3; }

// Resident and peak resident memory of this process, in kB.
long status_kb(const char* field) {
    std::string status = [] {
        gchar* text = nullptr;
        g_file_get_contents("/proc/self/status", &text, nullptr, nullptr);
        ry::gchar_ptr owned(text);
        return std::string(text != nullptr ? text : "");
    }();
    size_t at = status.find(field);
    return at == std::string::npos ? 0 : atol(status.c_str() + at + strlen(field) + 1);
}

// Runs the main loop until nothing is pending, then makes sure the X server has
// drawn what was sent, and handles what that brought back.
void until_idle() {
    do {
        while (gtk_events_pending()) gtk_main_iteration();
        gdk_display_sync(gdk_display_get_default());
    } while (gtk_events_pending());
}

int query_int(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    ry::unique_stmt s(raw);
    return s && sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : 0;
}

// ---- The taps, in a process of their own ----

// Binds the statement of the record's kind as the listing does, and steps it,
// reading every column.
int step_bare(sqlite3_stmt** statements, GQueue* history, bool recent) {
    auto step = [](sqlite3_stmt* s) {
        int rows = 0;
        size_t bytes = 0;
        while (sqlite3_step(s) == SQLITE_ROW) {
            bytes += size_t(sqlite3_column_int64(s, 0));
            for (int c = 1; c <= 3; ++c)
                if (const unsigned char* t = sqlite3_column_text(s, c)) bytes += t[0];
            ++rows;
        }
        sqlite3_reset(s);
        return rows + int(bytes & 0);
    };
    if (recent) {
        int rows = 0;
        for (GList* l = history->head; l != nullptr; l = l->next) {
            if (GPOINTER_TO_INT(l->data) < 0) continue;
            sqlite3_reset(statements[ZRECENT]);
            sqlite3_bind_int(statements[ZRECENT], SREID, GPOINTER_TO_INT(l->data));
            rows += step(statements[ZRECENT]);
        }
        return rows;
    }
    int k = sql_que.sql + (sql_que.cid > 0 ? 1 : 0);
    sqlite3_stmt* s = statements[k];
    sqlite3_reset(s);
    if (k % 2 == 1) sqlite3_bind_int(s, SCID, sql_que.cid);
    if (k <= ZC_CRTI) sqlite3_bind_text(s, STITLE, sql_que.title, -1, SQLITE_STATIC);
    if (k >= ZTICR && k <= ZC_CRTI) sqlite3_bind_text(s, SCREATOR, sql_que.creator, -1, SQLITE_STATIC);
    if (k == ZDATE || k == ZC_DATE) sqlite3_bind_text(s, SDATE, sql_que.date, -1, SQLITE_STATIC);
    if (k == ZTAGED || k == ZC_TAGED) {
        sqlite3_bind_int(s, STAG0, sql_que.tags[0]);
        sqlite3_bind_int(s, STAGS, sql_que.tags[0]);
    }
    return step(s);
}

// The keys of one radio row, by index: the group lists its newest member first and
// the hidden anchor last.
std::vector<GtkWidget*> keys_of(GtkWidget* anchor) {
    std::vector<GtkWidget*> keys;
    for (GSList* l = gtk_radio_button_get_group(GTK_RADIO_BUTTON(anchor)); l != nullptr; l = l->next)
        if (l->data != anchor) keys.insert(keys.begin(), GTK_WIDGET(l->data));
    return keys;
}

GtkTreePath* row_with_id(GtkTreeModel* model, int id) {
    GtkTreeIter iter;
    for (bool ok = gtk_tree_model_get_iter_first(model, &iter); ok;
         ok = gtk_tree_model_iter_next(model, &iter)) {
        int row_id = 0;
        gtk_tree_model_get(model, &iter, 0, &row_id, -1);
        if (row_id == id) return gtk_tree_model_get_path(model, &iter);
    }
    return nullptr;
}

struct Tap {
    const char* name;
    std::function<void()> set_up;  // untimed: brings the record to where the tap starts
    std::function<void()> tap;
    bool whole = false;  // lists the whole library
    bool recent = false;
};

int run_taps(const char* library, bool replaced_too) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statements[ZLAST] = {};
    if (ry_open_library(library, &db) != SQLITE_OK || !ry_sql_try_prepare(db, statements)) return 1;
    // The texts the item statements replaced, where there is one, to time them too.
    sqlite3_stmt* replaced[ZLAST] = {};
    for (int k = 0; k < ZLAST; ++k)
        if (ry_replaced_texts[k] == nullptr ||
            sqlite3_prepare_v2(db, ry_replaced_texts[k], -1, &replaced[k], nullptr) != SQLITE_OK)
            replaced[k] = nullptr;
    const int tag =
        query_int(db,
                  "SELECT it.tagID FROM itemTags it JOIN tags t ON t.tagID=it.tagID WHERE t.type=0 GROUP BY "
                  "it.tagID ORDER BY count(*) DESC LIMIT 1");
    const int collection = query_int(
        db, "SELECT collectionID FROM collectionItems GROUP BY collectionID ORDER BY count(*) DESC LIMIT 1");
    GQueue history = G_QUEUE_INIT;
    for (int i = 1; i <= 10; ++i)
        g_queue_push_tail(&history,
                          GINT_TO_POINTER(query_int(
                              db, ("SELECT itemID FROM items WHERE itemTypeID NOT IN (1,14) LIMIT 1 OFFSET " +
                                   std::to_string(i * 37))
                                      .c_str())));

    GtkWidget* window = create_main_window();
    ry_radio_group rgroup{};
    ry_search_data data{};
    GtkWidget* collections = nullptr;
    ry::gchar_ptr dir(g_path_get_dirname(library));
    GtkWidget* box =
        build_window_contents(window, db, statements, &history, dir.get(), &rgroup, &data, &collections);
    gtk_widget_show(box);
    gtk_widget_show(window);
    until_idle();
    // The window has the keyboard focus, as under a window manager, so that the lists
    // and the tag view take it when tapped.
    GdkEvent* focus = gdk_event_new(GDK_FOCUS_CHANGE);
    focus->focus_change.window = GDK_WINDOW(g_object_ref(window->window));
    focus->focus_change.send_event = TRUE;
    focus->focus_change.in = TRUE;
    gtk_widget_send_focus_change(window, focus);
    gdk_event_free(focus);

    const std::vector<GtkWidget*> titles = keys_of(rgroup.tbutton), creators = keys_of(rgroup.cbutton),
                                  months = keys_of(rgroup.mbutton);
    auto press = [](GtkWidget* key) {
        gtk_widget_grab_focus(key);
        gtk_button_clicked(GTK_BUTTON(key));
    };
    auto choose_collection = [&](int id) {
        GtkTreeView* view = GTK_TREE_VIEW(collections);
        ry::tree_path_ptr path(row_with_id(gtk_tree_view_get_model(view), id));
        gtk_widget_grab_focus(collections);
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path.get());
        gtk_tree_view_row_activated(view, path.get(), gtk_tree_view_get_column(view, 0));
    };
    // Cleared with the focus elsewhere, as a key clears it, so that only the choice lists.
    auto clear_tag = [&] {
        gtk_widget_grab_focus(GTK_WIDGET(data.item_list));
        gtk_icon_view_unselect_all(data.tag_view);
    };
    auto choose_tag = [&] {
        GtkIconView* view = data.tag_view;
        ry::tree_path_ptr path(row_with_id(gtk_icon_view_get_model(view), tag));
        gtk_widget_grab_focus(GTK_WIDGET(view));
        if (path) gtk_icon_view_select_path(view, path.get());
    };
    auto none = [] {};
    const int S = 'S' - 'A' + 1, A = 1;
    const std::vector<Tap> taps = {
        {"title *", none, [&] { press(titles[0]); }, true},
        {"title S", none, [&] { press(titles[S]); }},
        {"creator *", [&] { press(titles[0]); }, [&] { press(creators[0]); }, true},
        {"creator S", none, [&] { press(creators[S]); }},
        {"title A, creator S", none, [&] { press(titles[A]); }},
        {"month *", none, [&] { press(months[0]); }, true},
        {"month 0", none, [&] { press(months[1]); }},
        {"busiest tag", clear_tag, choose_tag},
        {"Down, whole library", [&] { press(titles[0]); }, [&] { ry_scroll_down(nullptr, data.item_list); }},
        {"Bottom, whole library", none, [&] { ry_scroll_to_last(nullptr, data.item_list); }},
        {"Recent", none, [&] { ry_list_recent_items_by_button(nullptr, &data); }, false, true},
        {"coll: title *", [&] { press(titles[0]); }, [&] { choose_collection(collection); }},
        {"coll: creator *", none, [&] { press(creators[0]); }},
        {"coll: creator S", none, [&] { press(creators[S]); }},
        {"coll: title A, creator S", none, [&] { press(titles[A]); }},
        {"coll: month *", none, [&] { press(months[0]); }},
        {"coll: busiest tag", clear_tag, choose_tag},
    };
    const int runs = 3;
    for (const Tap& t : taps) {
        double cpu = 1e12, wall = 1e12, bare = 1e12, old = 0;
        int rows = 0;
        for (int r = 0; r < runs; ++r) {
            t.set_up();
            until_idle();
            double c0 = cpu_ms(), w0 = wall_ms();
            t.tap();
            until_idle();
            cpu = std::min(cpu, cpu_ms() - c0);
            wall = std::min(wall, wall_ms() - w0);
            const bool paging = std::string(t.name).find(", whole") != std::string::npos;
            double b0 = cpu_ms();
            if (!paging) rows = step_bare(statements, &history, t.recent);
            bare = paging ? 0 : std::min(bare, cpu_ms() - b0);
            if (paging) rows = int(ry_item_rows_of(data.item_list)->size());
            // Once: on large libraries the replaced texts take seconds.
            double o0 = cpu_ms();
            if (replaced_too && !paging && r == 0) step_bare(replaced, &history, t.recent);
            if (r == 0) old = paging ? 0 : cpu_ms() - o0;
        }
        printf("tap\t%s\t%d\t%.2f\t%.2f\t%.2f\t%.2f\n", t.name, rows, cpu, wall, bare, old);
        if (t.whole) printf("rss\t%s\t%ld\t%ld\n", t.name, status_kb("VmRSS:"), status_kb("VmHWM:"));
    }
    gtk_widget_destroy(window);
    for (sqlite3_stmt* s : statements) sqlite3_finalize(s);
    for (sqlite3_stmt* s : replaced) sqlite3_finalize(s);
    sqlite3_close(db);
    g_queue_clear(&history);
    return 0;
}

// ---- Start-up, in a process of its own: the program itself, until it is idle ----

gboolean report_startup(gpointer) {
    until_idle();
    printf("startup\t%.2f\t%.3f\t%ld\n", cpu_ms(), wall_ms(), status_kb("VmHWM:"));
    fflush(stdout);
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

int run_startup(const char* library) {
    g_idle_add(report_startup, nullptr);
    std::string program = "ryx", path = library, flag = "0";
    char* argv[] = {program.data(), path.data(), flag.data(), nullptr};
    return ry_main(3, argv);
}

// ---- The tag view alone ----

void measure_tag_view(const char* library) {
    sqlite3* db = nullptr;
    if (ry_open_library(library, &db) != SQLITE_OK) return;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    // The size the tag column has on the device; no number of tags makes it larger.
    gtk_widget_set_size_request(window, 768, 350);
    double best = 1e12;
    int shown = 0;
    for (int r = 0; r < 3; ++r) {
        ry_radio_group rgroup{};
        ry_initialize_radio_group(&rgroup);
        double c0 = cpu_ms();
        GtkWidget* tag_view = ry_initialize_tag_view(db, &rgroup);
        GtkWidget* box = ry_create_view_box_with_button(tag_view);
        gtk_container_add(GTK_CONTAINER(window), box);
        gtk_widget_show_all(window);
        until_idle();
        best = std::min(best, cpu_ms() - c0);
        GtkTreeModel* model = gtk_icon_view_get_model(GTK_ICON_VIEW(tag_view));
        shown = gtk_tree_model_iter_n_children(model, nullptr);
        gtk_container_remove(GTK_CONTAINER(window), box);
        g_object_unref(model);
        for (GtkWidget* anchor : {rgroup.tbutton, rgroup.cbutton, rgroup.mbutton}) g_object_unref(anchor);
    }
    double bare = 1e12;
    for (int r = 0; r < 3; ++r) {
        double c0 = cpu_ms();
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(db, ry_label_texts[1], -1, &raw, nullptr);
        ry::unique_stmt s(raw);
        while (s && sqlite3_step(s.get()) == SQLITE_ROW) sqlite3_column_text(s.get(), 1);
        bare = std::min(bare, cpu_ms() - c0);
    }
    printf("tagview\t%d\t%.2f\t%.2f\n", shown, best, bare);
    gtk_widget_destroy(window);
    sqlite3_close(db);
}

// ---- The parent: libraries, children, table ----

std::vector<std::string> lines_of(const std::vector<std::string>& argv,
                                  const std::vector<std::string>& env_add, double* spawned_at = nullptr) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    gchar** env = g_get_environ();
    for (const std::string& e : env_add) {
        size_t eq = e.find('=');
        env = g_environ_setenv(env, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), TRUE);
    }
    ry::gstrv_ptr owned_env(env);
    gchar* out = nullptr;
    if (spawned_at) *spawned_at = wall_ms();
    g_spawn_sync(nullptr, args.data(), env, G_SPAWN_DEFAULT, nullptr, nullptr, &out, nullptr, nullptr,
                 nullptr);
    ry::gchar_ptr owned_out(out);
    std::vector<std::string> lines;
    ry::gstrv_ptr split(g_strsplit(out != nullptr ? out : "", "\n", -1));
    for (gchar** l = split.get(); *l != nullptr; ++l)
        if (**l != '\0') lines.push_back(*l);
    return lines;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    ry::gstrv_ptr split(g_strsplit(line.c_str(), "\t", -1));
    for (gchar** f = split.get(); *f != nullptr; ++f) out.push_back(*f);
    return out;
}

// Start-up of the program with the given history file content ("" for none): CPU
// ms, wall ms to idle, peak memory kB.
std::vector<double> startup(const std::string& self, const std::string& library, const std::string& share,
                            const std::string& history) {
    std::string file = share + "/ryx.history";
    if (history.empty())
        unlink(file.c_str());
    else
        g_file_set_contents(file.c_str(), history.c_str(), -1, nullptr);
    double best_cpu = 1e12, best_wall = 1e12, peak = 0;
    for (int r = 0; r < 3; ++r) {
        double spawned = 0;
        for (const std::string& line :
             lines_of({self, "--startup", library}, {"RYX_SHARE_DIR=" + share, "NO_AT_BRIDGE=1"}, &spawned)) {
            std::vector<std::string> f = fields(line);
            if (f.size() != 4 || f[0] != "startup") continue;
            best_cpu = std::min(best_cpu, atof(f[1].c_str()));
            best_wall = std::min(best_wall, atof(f[2].c_str()) - spawned);
            peak = atof(f[3].c_str());
        }
        if (!history.empty()) g_file_set_contents(file.c_str(), history.c_str(), -1, nullptr);
    }
    return {best_cpu, best_wall, peak};
}

std::string ensure_library(const std::string& dir, int items, int tags) {
    std::string lib = dir + "/lib" + std::to_string(items) + "-" + std::to_string(tags);
    std::string db = lib + "/zotero.sqlite";
    if (!g_file_test(db.c_str(), G_FILE_TEST_EXISTS))
        lines_of({RYX_LIBGEN_BINARY, "--items", std::to_string(items), "--tags", std::to_string(tags),
                  "--collections", std::to_string(std::max(items / 100, 1)), "--seed", "7", lib},
                 {});
    return db;
}

std::string history_of(const std::string& library) {
    sqlite3* db = nullptr;
    std::string items;
    if (sqlite3_open_v2(library.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
        for (int i = 1; i <= 10; ++i)
            items += std::to_string(query_int(
                         db, ("SELECT itemID FROM items WHERE itemTypeID NOT IN (1,14) LIMIT 1 OFFSET " +
                              std::to_string(i * 37))
                                 .c_str())) +
                     ";";
    sqlite3_close(db);
    return "[HISTORY]\nmax_history=10\nitems=" + items + "\n";
}

int run_parent(const std::string& self, std::vector<int> sizes, std::string dir) {
    bool own_dir = dir.empty();
    if (own_dir) {
        ry::gchar_ptr made(g_dir_make_tmp("ryx-bench-XXXXXX", nullptr));
        dir = made.get();
    }
    std::string share = dir + "/share";
    g_mkdir_with_parents(share.c_str(), 0700);
    gchar* rc = nullptr;
    if (g_file_get_contents(RYX_SOURCE_DIR "/share/ryx/ryx.rc", &rc, nullptr, nullptr))
        g_file_set_contents((share + "/ryx.rc").c_str(), rc, -1, nullptr);
    g_free(rc);

    printf(
        "CPU ms of this process (best of 3), from the tap until the main loop is idle,\n"
        "against the bare statement stepped in the same process, and against the text it\n"
        "replaced (stepped once, in a process of its own); memory in MB.\n");
    for (int items : sizes) {
        std::string library = ensure_library(dir, items, items / 10);
        std::vector<double> empty = startup(self, library, share, "");
        std::vector<double> full = startup(self, library, share, history_of(library));
        printf("\n== %d items, %d tags, %d collections\n", items, items / 10, std::max(items / 100, 1));
        printf(
            "start-up to idle: empty history %.0f ms CPU (%.0f ms wall), 10 recent items %.0f ms CPU "
            "(%.0f ms wall): %.2fx; peak %.1f MB\n",
            empty[0], empty[1], full[0], full[1], full[0] / empty[0], full[2] / 1024);
        printf("%-26s %8s %9s %9s %9s %7s %11s %7s\n", "tap", "rows", "CPU ms", "wall ms", "bare ms", "ratio",
               "replaced ms", "ratio");
        // The replaced texts in a process of their own, since they take more memory.
        std::map<std::string, double> replaced;
        for (const std::string& line : lines_of({self, "--replaced", library}, {"NO_AT_BRIDGE=1"}))
            if (std::vector<std::string> f = fields(line); f.size() == 7 && f[0] == "tap")
                replaced[f[1]] = atof(f[6].c_str());
        for (const std::string& line : lines_of({self, "--taps", library}, {"NO_AT_BRIDGE=1"})) {
            std::vector<std::string> f = fields(line);
            if (f.size() == 7 && f[0] == "tap") {
                double cpu = atof(f[3].c_str()), bare = atof(f[5].c_str()), old = replaced[f[1]];
                auto ratio = [cpu](double base) {
                    return base > 0 ? std::to_string(cpu / base).substr(0, 4) + "x" : std::string("-");
                };
                printf("%-26s %8s %9.1f %9.1f %9.1f %7s %11.1f %7s\n", f[1].c_str(), f[2].c_str(), cpu,
                       atof(f[4].c_str()), bare, ratio(bare).c_str(), old, ratio(old).c_str());
            } else if (f.size() == 4 && f[0] == "rss") {
                printf("%-26s RSS %.1f MB, peak so far %.1f MB\n", ("  after " + f[1]).c_str(),
                       atof(f[2].c_str()) / 1024, atof(f[3].c_str()) / 1024);
            }
        }
    }
    // One tag in five is automatic, and not every tag is used: this shows about 22,000.
    std::string tag_library = ensure_library(dir, 100000, 30000);
    for (const std::string& line : lines_of({self, "--tag-view", tag_library}, {"NO_AT_BRIDGE=1"})) {
        std::vector<std::string> f = fields(line);
        if (f.size() == 4 && f[0] == "tagview")
            printf("\ntag view with %s tags: built and laid out in %s ms CPU (its statement alone %s ms)\n",
                   f[1].c_str(), f[2].c_str(), f[3].c_str());
    }
    if (own_dir) {
        std::string rm = "rm -rf '" + dir + "'";
        if (system(rm.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--startup") == 0) return run_startup(argv[2]);
    if (!gtk_init_check(&argc, &argv)) {
        fprintf(stderr, "no display: run under xvfb-run -a dbus-run-session --\n");
        return 1;
    }
    if (argc == 3 && strcmp(argv[1], "--taps") == 0) return run_taps(argv[2], false);
    if (argc == 3 && strcmp(argv[1], "--replaced") == 0) return run_taps(argv[2], true);
    if (argc == 3 && strcmp(argv[1], "--tag-view") == 0) {
        measure_tag_view(argv[2]);
        return 0;
    }
    std::vector<int> sizes = {1000, 20000, 100000};
    std::string dir;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
        if (strcmp(argv[i], "--sizes") == 0) {
            sizes.clear();
            ry::gstrv_ptr split(g_strsplit(argv[i + 1], ",", -1));
            for (gchar** s = split.get(); *s != nullptr; ++s) sizes.push_back(atoi(*s));
        }
    }
    ry::gchar_ptr self(g_file_read_link("/proc/self/exe", nullptr));
    return run_parent(self.get(), sizes, dir);
}
