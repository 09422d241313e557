// Ending the program at the worst moments: a signal in the main loop, during the
// snapshot of start-up, with an error dialog up or while the daemon has not yet
// answered "startTask", and the window destroyed from outside with a dialog up. Each ends
// promptly, with status 0, the history written and nothing left behind.
//
// The moments inside an opening are reached by a driver: this test program started
// again with only the disabled driver test, which runs the program's own ry_main and
// taps an attachment as a user would. The driver's own checks decide its exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "gconf_registry.h"
#include "libgen.h"
#include "main.h"
#include "private_session.h"
#include "ry_file.h"
#include "ry_model.h"
#include "ry_raii.h"
#include "sysd_stub.h"
#include "x11_support.h"

namespace {

// Far above the few milliseconds an ending takes, far below the waits it must not
// sit out (a daemon's whole minute, a dialog nobody answers, a FIFO that never opens).
constexpr gint64 kPromptly = 5 * G_USEC_PER_SEC;

// The test program's own share directory (see the test entry point).
std::string history_path() { return ry_share_file("ryx.history"); }

class Ending : public testing::Test {
  protected:
    void SetUp() override {
        libgen::ClassicLibraryBuilder lib(dir.path());
        int item = lib.add_item({.title = "Alpha", .creators = {{"Ann", "Lee"}}});
        lib.add_attachment(
            {.parent = item, .mime_type = "application/pdf", .file = "a.pdf", .contents = "%PDF"});
        lib.finish();
        library = lib.database_path();
        g_mkdir_with_parents(tmp.file("t").c_str(), 0700);
        // The file of the row the driver taps (key "K").
        g_mkdir_with_parents(dir.file("storage/K").c_str(), 0755);
        ryt::write_file(dir.file("storage/K/a.pdf"), "%PDF");
    }
    // The history is rewritten by every clean ending.
    void expect_history_written() { EXPECT_EQ(ryt::read_file(history_path()).rfind("[HISTORY]\n", 0), 0u); }
    std::vector<std::string> env() const { return {"TMPDIR=" + tmp.file("t"), "NO_AT_BRIDGE=1"}; }

    ryt::TempDir dir, tmp;
    std::string library;
};

// A snapshot directory as a killed run leaves it: ours, with its lock file free.
void leave_snapshot(const std::string& path, const char* extra_file) {
    g_mkdir_with_parents(path.c_str(), 0700);
    ryt::write_file(path + "/library.sqlite", "old copy");
    ryt::write_file(path + "/owner.lock", "");
    if (extra_file) ryt::write_file(path + "/" + extra_file, "not ours");
}

TEST_F(Ending, SignalsInTheMainLoopAndDuringTheSnapshot) {
    const struct {
        const char* moment;
        int signo;
    } cases[] = {{"main loop", SIGTERM}, {"main loop", SIGHUP}, {"snapshot", SIGINT}, {"snapshot", SIGTERM}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.moment) + " " + strsignal(c.signo));
        ryt::write_file(history_path(), "garbage");
        bool snapshot = std::string(c.moment) == "snapshot";
        std::string t = tmp.file("t");
        if (snapshot) {
            // A log beside the library makes it read from a copy; a large one takes a while.
            ryt::write_file(library + "-wal", "");
            sqlite3* db = nullptr;
            sqlite3_open(library.c_str(), &db);
            sqlite3_exec(db, "CREATE TABLE ballast(b); INSERT INTO ballast VALUES(zeroblob(30000000))",
                         nullptr, nullptr, nullptr);
            sqlite3_close(db);
            leave_snapshot(t + "/ryx-snapshot-left", nullptr);
            leave_snapshot(t + "/ryx-snapshot-other", "notes.txt");
        }
        ryt::Child child({RYX_BINARY, library, "0"}, env());
        if (snapshot)
            ASSERT_TRUE(ryt::iterate_until([&] {
                auto names = ryt::files_in(t);
                return std::any_of(names.begin(), names.end(), [](const std::string& n) {
                    return n != "ryx-snapshot-left" && n != "ryx-snapshot-other";
                });
            }));
        else
            ASSERT_NE(ryt::wait_for_window_of(child.pid()), 0u);
        gint64 sent = g_get_monotonic_time();
        child.signal(c.signo);
        auto r = child.wait();
        EXPECT_LT(g_get_monotonic_time() - sent, kPromptly);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        expect_history_written();
        // Only the snapshot of a run that was killed goes, never a directory with more in it.
        if (snapshot) {
            EXPECT_EQ(ryt::files_in(t), std::vector<std::string>{"ryx-snapshot-other"});
        }
        ryt::remove_tree(library + "-wal");
    }
}

// Runs the driver below in a child with this test program's session and a daemon that
// answers as given; returns the daemon's messages.
std::vector<std::string> drive(const std::string& library, const std::string& moment, int signo,
                               const std::vector<std::string>& env, const std::string& daemon) {
    ryt::PrivateSession& session = ryt::PrivateSession::shared();
    ryt::SysdStub stub({daemon, "--no-exec"});
    ry::gchar_ptr self(g_file_read_link("/proc/self/exe", nullptr));
    std::vector<std::string> child_env = env;
    for (std::string e :
         {session.bus_env(), "RYX_DRIVE_LIBRARY=" + library, "RYX_DRIVE=" + moment,
          "RYX_DRIVE_SIGNAL=" + std::to_string(signo), std::string("G_DEBUG=fatal-criticals")})
        child_env.push_back(e);
    ryt::Child child(
        {self.get(), "--gtest_filter=DISABLED_EndingDriver.*", "--gtest_also_run_disabled_tests"}, child_env);
    auto r = child.wait(30000);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ] 1 test."), std::string::npos) << r.out;
    stub.wait_for_messages(4, 1000);
    std::vector<std::string> calls;
    for (const auto& m : stub.messages())
        if (m.kind == "call") calls.push_back(ryt::brief(m));
    return calls;
}

TEST_F(Ending, SignalsAndCloseRequestsDuringAnOpening) {
    ryt::PrivateSession::shared();
    ryt::clear_filetypes();
    ryt::set_filetype_dir("docs", "docview", "doc", {"pdf"});
    const struct {
        const char* moment;
        const char* daemon;
        int signo;
    } cases[] = {
        {"pending", "--silent", SIGTERM}, {"pending", "--silent", SIGINT}, {"dialog", "--refuse", SIGHUP},
        {"dialog", "--refuse", SIGTERM},  {"destroyed", "--refuse", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.moment) + " " + std::to_string(c.signo));
        ryt::write_file(history_path(), "garbage");
        auto messages = drive(library, c.moment, c.signo, env(), c.daemon);
        // Two quick taps, one viewer; the busy indication is hidden however it ends.
        ASSERT_EQ(messages.size(), 3u);
        EXPECT_EQ(messages[0], "setBusyShow:show");
        EXPECT_EQ(messages[1].rfind("startTask:docview ", 0), 0u);
        EXPECT_EQ(messages[2], "setBusyShow:hide");
        expect_history_written();
    }
}

// A library replaced on disk while the program runs is read anew before the next
// listing, as on a new start; the history stays.
TEST_F(Ending, ALibraryReplacedWhileRunningIsReadAnew) {
    ryt::TempDir other;
    libgen::ClassicLibraryBuilder next(other.path());
    int item = next.add_item({.title = "Beta", .creators = {{"Bo", "Kim"}}});
    next.finish();
    ryt::write_file(history_path(), "[HISTORY]\nmax_history=10\nitems=" + std::to_string(item) + ";\n");
    drive(library, "replaced:" + next.database_path(), SIGTERM, env(), "--no-exec");
}

// ---- The driver, run only inside the child ----

std::vector<GtkWidget*> all_widgets() {
    std::vector<GtkWidget*> all, todo{g_main_window};
    while (!todo.empty()) {
        GtkWidget* w = todo.back();
        todo.pop_back();
        all.push_back(w);
        if (GTK_IS_CONTAINER(w)) {
            GList* children = gtk_container_get_children(GTK_CONTAINER(w));
            for (GList* l = children; l; l = l->next) todo.push_back(GTK_WIDGET(l->data));
            g_list_free(children);
        }
    }
    return all;
}

GtkTreeView* tree_view_where(bool (*wanted)(GtkTreeView*)) {
    for (GtkWidget* w : all_widgets())
        if (GTK_IS_TREE_VIEW(w) && wanted(GTK_TREE_VIEW(w))) return GTK_TREE_VIEW(w);
    return nullptr;
}

GtkTreeView* attachment_list() {
    return tree_view_where([](GtkTreeView* v) {
        return g_strcmp0(gtk_widget_get_name(GTK_WIDGET(v)), "attachment-list-ryx") == 0;
    });
}

// The first title the item list shows.
std::string first_title() {
    GtkTreeView* items = tree_view_where([](GtkTreeView* v) {
        return gtk_tree_model_get_n_columns(gtk_tree_view_get_model(v)) == N_ITEM_COLUMNS;
    });
    GtkTreeIter iter;
    gchar* title = nullptr;
    if (items && gtk_tree_model_get_iter_first(gtk_tree_view_get_model(items), &iter))
        gtk_tree_model_get(gtk_tree_view_get_model(items), &iter, ITEM_TITLE, &title, -1);
    std::string out = title ? title : "";
    g_free(title);
    return out;
}

// Replaces the library with the one named after "replaced:" and lists the recent items again.
void replace_library(const std::string& moment) {
    EXPECT_EQ(first_title(), "Alpha");
    ASSERT_EQ(rename(moment.substr(moment.find(':') + 1).c_str(), g_getenv("RYX_DRIVE_LIBRARY")), 0);
    for (GtkWidget* w : all_widgets())
        if (GTK_IS_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), "Recent") == 0)
            gtk_button_clicked(GTK_BUTTON(w));
    EXPECT_EQ(first_title(), "Beta");
}

bool dialog_shown() {
    GList* toplevels = gtk_window_list_toplevels();
    bool shown = false;
    for (GList* l = toplevels; l; l = l->next)
        shown = shown || (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_mapped(GTK_WIDGET(l->data)));
    g_list_free(toplevels);
    return shown;
}

struct Driver {
    std::string moment;
    int signo = 0;
    bool tapped = false;
    gint64 ended_at = 0;

    bool step() {
        if (g_main_window == nullptr || !GTK_WIDGET_VISIBLE(g_main_window) || gtk_main_level() == 0)
            return true;
        if (moment.rfind("replaced:", 0) == 0) {
            replace_library(moment);
            ended_at = g_get_monotonic_time();
            kill(getpid(), signo);
            return false;
        }
        if (!tapped) {
            GtkTreeView* list = attachment_list();
            GtkTreeModel* model = gtk_tree_view_get_model(list);
            gtk_list_store_insert_with_values(GTK_LIST_STORE(model), nullptr, 0, ATTACHMENT_SOURCE_ID, 1,
                                              ATTACHMENT_MIMETYPE, "application/pdf", ATTACHMENT_PATH,
                                              "storage:a.pdf", ATTACHMENT_KEY, "K", -1);
            ry::tree_path_ptr path(gtk_tree_path_new_from_indices(0, -1));
            gtk_tree_selection_select_path(gtk_tree_view_get_selection(list), path.get());
            for (int tap = 0; tap < 2; ++tap)
                gtk_tree_view_row_activated(list, path.get(), gtk_tree_view_get_column(list, 0));
            tapped = true;
            return true;
        }
        bool reached = moment == "pending" ? ry_attachment_opening() != FALSE : dialog_shown();
        if (!reached) return true;
        ended_at = g_get_monotonic_time();
        if (moment == "destroyed")
            ryt::destroy_window(ryt::wait_for_window_of(getpid()));
        else
            kill(getpid(), signo);
        return false;
    }
};

}  // namespace

TEST(DISABLED_EndingDriver, RunTheProgram) {
    const char* library = g_getenv("RYX_DRIVE_LIBRARY");
    ASSERT_NE(library, nullptr) << "started only by the end-to-end test";
    Driver driver{g_getenv("RYX_DRIVE"), atoi(g_getenv("RYX_DRIVE_SIGNAL"))};
    g_timeout_add(
        20, +[](gpointer d) -> gboolean { return static_cast<Driver*>(d)->step(); }, &driver);
    std::string program = "ryx", zero = "0";
    std::vector<char*> argv = {program.data(), const_cast<char*>(library), zero.data(), nullptr};
    EXPECT_EQ(ry_main(3, argv.data()), 0);
    ASSERT_NE(driver.ended_at, 0);
    EXPECT_LT(g_get_monotonic_time() - driver.ended_at, kPromptly);
}
