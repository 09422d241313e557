// Start-up, the one window and its wiring, and shutdown.
#include "main.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ipc.h"
#include "ry_ctr.h"
#include "ry_file.h"
#include "ry_layout.h"
#include "ry_library.h"
#include "ry_model.h"
#include "ry_que.h"
#include "ry_raii.h"
#include "ry_recent.h"
#include "ry_sql.h"
#include "ry_view.h"

#ifndef RYX_SHARE_DIR
#define RYX_SHARE_DIR "/media/mmcblk0p1/Programs/_ryx2/share/ryx"
#endif

namespace {

// The signals that end the program as its Quit key does.
constexpr int quit_signals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// Written by the signal handler; everything else happens on the main loop, woken
// through the pipe, or is polled by the long steps of start-up.
int quit_pipe[2] = {-1, -1};

gboolean on_quit_pipe(gint fd, GIOCondition /*condition*/, gpointer /*data*/) {
    char drained[16];
    while (read(fd, drained, sizeof drained) > 0) {
    }
    ry_request_quit();
    return G_SOURCE_CONTINUE;
}

// Handlers without SA_RESTART, so that a blocking read or wait of start-up returns
// and the step can see the request.
void watch_quit_signals() {
    if (pipe2(quit_pipe, O_CLOEXEC | O_NONBLOCK) == 0)
        g_unix_fd_add(quit_pipe[0], G_IO_IN, on_quit_pipe, nullptr);
    struct sigaction on_term = {};
    sigemptyset(&on_term.sa_mask);
    on_term.sa_handler = on_sigterm;
    for (int signo : quit_signals) sigaction(signo, &on_term, nullptr);
}

void pack_and_show(GtkWidget* box, GtkWidget* child, bool at_end, gboolean expand, gboolean fill,
                   guint padding) {
    if (at_end)
        gtk_box_pack_end(GTK_BOX(box), child, expand, fill, padding);
    else
        gtk_box_pack_start(GTK_BOX(box), child, expand, fill, padding);
    gtk_widget_show(child);
}

// The tag column: the "Tag" label, a narrow band under it and the tag view's box.
GtkWidget* create_tag_column(GtkWidget* tag_view) {
    GtkWidget* column = gtk_vbox_new(FALSE, 0);

    GtkWidget* label = gtk_label_new("Tag");
    gtk_widget_set_name(label, "tag-label");
    gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.0);
    gtk_misc_set_padding(GTK_MISC(label), 0, 2);
    pack_and_show(column, label, false, FALSE, FALSE, 0);

    GtkWidget* band = gtk_event_box_new();
    gtk_widget_set_name(band, "tag-label");
    gtk_widget_set_size_request(band, -1, int(15 * ry_sizes().scale));
    GTK_WIDGET_UNSET_FLAGS(band, GTK_CAN_FOCUS);
    pack_and_show(column, band, false, FALSE, FALSE, 0);

    pack_and_show(column, ry_create_view_box_with_button(tag_view), false, TRUE, TRUE, 0);
    return column;
}

// Shares the height from the true heights of the keys and of a column title, and
// sizes the lists by it.
void fit_lists(GtkWidget* search_box, GtkWidget* item_list, GtkWidget* attachment_list,
               GtkWidget* collection_list) {
    GtkRequisition keys, title;
    gtk_widget_size_request(search_box, &keys);
    gtk_widget_size_request(gtk_tree_view_get_column(GTK_TREE_VIEW(item_list), 0)->button, &title);
    ry_fit_layout(keys.height, title.height);
    gtk_widget_set_size_request(item_list, 1, ry_list_height(3, false));
    gtk_widget_set_size_request(collection_list, ry_sizes().collection_width, ry_list_height(1, false));
    ry_fit_attachment_list(attachment_list, gtk_tree_view_get_model(GTK_TREE_VIEW(attachment_list)));
}

}  // namespace

// Fills the window: views, first listing, handlers, boxes. Returns the main box,
// already added to the window but not shown.
GtkWidget* build_window_contents(GtkWidget* window, sqlite3* db, sqlite3_stmt** statements, GQueue* history,
                                 gchar* zotero_dir, ry_radio_group* rgroup, ry_search_data* search_data,
                                 GtkWidget** collection_list) {
    ry_initialize_radio_group(rgroup);
    *collection_list = ry_initialize_collection_list(db);
    GtkWidget* tag_view = ry_initialize_tag_view(db, rgroup);
    GtkWidget* item_list = ry_create_item_list();
    GtkWidget* attachment_list = ry_create_attachment_list();
    gtk_widget_set_name(attachment_list, "attachment-list-ryx");

    *search_data = {statements, GTK_TREE_VIEW(item_list), GTK_TREE_VIEW(attachment_list),
                    GTK_ICON_VIEW(tag_view), history};
    ry_list_recent_items(search_data);

    // The query handlers are connected before the listing handlers of the same signal.
    g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(*collection_list)), "changed",
                     G_CALLBACK(ry_set_collection_que_by_selection), nullptr);
    g_signal_connect(*collection_list, "row-activated", G_CALLBACK(ry_list_items_by_row_activation),
                     search_data);
    g_signal_connect(tag_view, "selection-changed", G_CALLBACK(ry_set_tag_que_by_icon_selection), rgroup);
    g_signal_connect(tag_view, "selection-changed", G_CALLBACK(ry_list_items_by_icon_selection), search_data);
    g_signal_connect(item_list, "row-activated", G_CALLBACK(ry_list_attachments), search_data);
    g_signal_connect(attachment_list, "row-activated", G_CALLBACK(ry_ignore_taps_while_opening), nullptr);
    // Lives as long as the list; an item enters the history once the daemon has taken
    // its file on.
    auto* context = g_new(ry_attachment_context, 1);
    *context = {zotero_dir, history};
    g_object_set_data_full(G_OBJECT(attachment_list), "ry-attachment-context", context, g_free);
    g_signal_connect(attachment_list, "row-activated", G_CALLBACK(ry_attachment_activated), context);

    // In the window from the start, so that the widgets have their style when measured.
    GtkWidget* main_box = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), main_box);
    GtkWidget* search_box = ry_create_search_box(search_data, rgroup);
    pack_and_show(main_box, search_box, true, FALSE, TRUE, 0);
    pack_and_show(main_box, gtk_hseparator_new(), true, FALSE, TRUE, 2);
    pack_and_show(main_box, ry_create_view_box_with_button(attachment_list), false, FALSE, TRUE, 2);
    pack_and_show(main_box, ry_create_view_box_with_button(item_list), false, TRUE, TRUE, 2);
    pack_and_show(main_box, gtk_hseparator_new(), false, FALSE, TRUE, 2);

    GtkWidget* browse_row = gtk_hbox_new(FALSE, 0);
    pack_and_show(browse_row, ry_create_view_box_with_button(*collection_list), false, FALSE, TRUE, 2);
    pack_and_show(browse_row, gtk_vseparator_new(), false, FALSE, TRUE, 2);
    pack_and_show(browse_row, create_tag_column(tag_view), false, TRUE, TRUE, 2);
    pack_and_show(main_box, browse_row, true, FALSE, FALSE, 0);
    fit_lists(search_box, item_list, attachment_list, *collection_list);
    gtk_widget_set_size_request(browse_row, -1, ry_sizes().browse_height);
    return main_box;
}

// The window is exactly as large as the screen, with or without a window manager,
// whatever its lists hold: the item list takes the height left and shows as many
// rows as fit.
GtkWidget* create_main_window() {
    ry_apply_layout_settings();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_size_request(window, ry_sizes().width, ry_sizes().height);
    gtk_window_maximize(GTK_WINDOW(window));
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(window), ry_sizes().border);
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    g_signal_connect(window, "delete_event", G_CALLBACK(ry_quit_program), nullptr);
    // Destroyed from outside, without a close request first: the program ends all the same.
    g_signal_connect(window, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer) {
                         g_main_window = nullptr;
                         ry_request_quit();
                     }),
                     nullptr);
    return window;
}

void on_sigterm(int /*signo*/) {
    int saved_errno = errno;
    ry_note_quit_signal();
    if (quit_pipe[1] >= 0 && write(quit_pipe[1], "q", 1) < 0) {
        // A full pipe already holds a wake-up.
    }
    errno = saved_errno;
}

gboolean on_startup_complete(gpointer /*data*/) {
    ipc_sys_startup_complete();
    return FALSE;
}

int ry_metadb_flag(int argc, char** argv) {
    if (argc < 3) return WITH_METADB;
    // As atoi, but without its undefined behaviour on overflow.
    errno = 0;
    long value = strtol(argv[2], nullptr, 10);
    if (errno != 0 || value < NO_METADB || value > WITH_CTB) return WITH_METADB;
    return static_cast<int>(value);
}

namespace {

// What one run holds from start-up to exit, released in one place on every way out:
// the statements, the library (and its snapshot), and the history, which is written
// back only by a run that got as far as its window or was asked to quit on the way.
struct ry_run {
    GQueue history = G_QUEUE_INIT;
    GKeyFile* histfile = nullptr;
    std::string hist_filename;
    sqlite3* db = nullptr;
    sqlite3_stmt* statements[ZLAST] = {};
    bool save_history = false;

    ry_run() = default;
    ry_run(const ry_run&) = delete;
    ry_run& operator=(const ry_run&) = delete;
    ~ry_run() {
        close_library();
        ipc_end_pending_tasks();
        if (save_history) {
            ry_save_history_file(hist_filename.c_str(), histfile, &history);
        } else {
            g_queue_clear(&history);
            if (histfile != nullptr) g_key_file_free(histfile);
        }
    }
    // The statements, the connection and the snapshot, ready to open the library again.
    void close_library() {
        for (sqlite3_stmt*& s : statements) {
            sqlite3_finalize(s);
            s = nullptr;
        }
        sqlite3_close(db);
        db = nullptr;
        ry_close_library();
    }
};

// Opens the library into the run; false, with the reason on standard error, when it
// cannot be read or holds no library.
bool open_into(ry_run& run, const char* path) {
    std::string problem;
    int open_rc = ry_open_library(path, &run.db, &problem);
    if (open_rc == SQLITE_OK) return ry_sql_try_prepare(run.db, run.statements);
    if (ry_quit_requested()) return false;
    if (!problem.empty())
        fprintf(stderr, "Can't open database: %s\n", problem.c_str());
    else if (open_rc == SQLITE_BUSY)
        // No consistent snapshot of a library that its owner holds locked.
        fprintf(stderr, "SQL Error: %s\n", sqlite3_errstr(open_rc));
    else
        fprintf(stderr, "Can't open database: %s\n", sqlite3_errmsg(run.db));
    return false;
}

// What a reopening needs: the run and the label lists filled at start-up.
struct ry_reopening {
    ry_run* run;
    const char* path;
    GtkTreeModel* collections;
    GtkTreeModel* tags;
};

// The library changed on disk: it is opened again as at start-up, snapshot and
// views included; the history stays.
bool reopen_library(gpointer data) {
    auto* r = static_cast<ry_reopening*>(data);
    r->run->close_library();
    if (!open_into(*r->run, r->path)) return false;
    // After the listing under way: the label lists' own handlers must not run inside it.
    g_idle_add(
        +[](gpointer d) -> gboolean {
            auto* again = static_cast<ry_reopening*>(d);
            ry_initialize_labels(again->run->db, 0, again->collections);
            ry_initialize_labels(again->run->db, 1, again->tags);
            return G_SOURCE_REMOVE;
        },
        r);
    return true;
}

// GDK ends the program at once on an X error it did not expect. A window that
// another client destroyed under us draws such errors from requests already on
// their way; the program then ends through the window's "destroy", saving the
// history, instead of dying with nothing saved.
int (*gdk_x_error_handler)(Display*, XErrorEvent*) = nullptr;
int ignore_vanished_windows(Display* display, XErrorEvent* error) {
    if (error->error_code == BadWindow || error->error_code == BadDrawable) return 0;
    return gdk_x_error_handler(display, error);
}

}  // namespace

std::string ry_share_file(const char* name) {
    const gchar* dir = g_getenv("RYX_SHARE_DIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : RYX_SHARE_DIR) + "/" + name;
}

int ry_main(int argc, char** argv) {
    watch_quit_signals();
    // Before GTK or GConf could reach for a session bus and start one of their own.
    ipc_keep_off_absent_bus();

    gtk_init(&argc, &argv);
    if (auto previous = XSetErrorHandler(ignore_vanished_windows); previous != ignore_vanished_windows)
        gdk_x_error_handler = previous;
    if (argc < 2) {
        fprintf(stderr, "Usage: %s DATABASENAME metadbflag \n", argv[0]);
        return 1;
    }

    ipc_set_services();
    const std::string rc_filename = ry_share_file("ryx.rc");
    if (!g_file_test(rc_filename.c_str(), G_FILE_TEST_IS_REGULAR))
        fprintf(stderr, "ryx: no style file %s: using GTK's default look\n", rc_filename.c_str());
    gtk_rc_parse(rc_filename.c_str());
    ry_run run;
    run.hist_filename = ry_share_file("ryx.history");
    // Attachments open at absolute paths, whatever the working directory.
    const std::string library_path = ry_absolute_library_path(argv[1]);
    ry_set_history_library(library_path.c_str());
    run.histfile = ry_parse_history_file(run.hist_filename.c_str(), &run.history);
    ry_remove_abandoned_snapshots();

    bool opened = open_into(run, library_path.c_str());
    // Asked to quit meanwhile: the same ending as from the main loop.
    run.save_history = ry_quit_requested();
    if (run.save_history) return 0;
    if (!opened) return 1;

    ry::gchar_ptr zotero_dir(get_dir_name(library_path.c_str()));
    with_metadb = ry_metadb_flag(argc, argv);
    ry_radio_group rgroup{};
    ry_search_data search_data{};
    GtkWidget* window = create_main_window();
    g_main_window = window;
    GtkWidget* collection_list = nullptr;
    GtkWidget* main_box = build_window_contents(window, run.db, run.statements, &run.history,
                                                zotero_dir.get(), &rgroup, &search_data, &collection_list);
    ry_reopening reopening{&run, library_path.c_str(),
                           gtk_tree_view_get_model(GTK_TREE_VIEW(collection_list)),
                           gtk_icon_view_get_model(GTK_ICON_VIEW(rgroup.tag_view))};
    ry_watch_library(library_path.c_str(), reopen_library, &reopening);

    gtk_widget_show(main_box);
    gtk_widget_show(window);
    gtk_widget_grab_focus(collection_list);
    g_idle_add(on_startup_complete, nullptr);

    if (!ry_quit_requested()) gtk_main();
    run.save_history = true;
    return 0;
}
