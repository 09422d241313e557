// Ending the program at the worst moments, and what it leaves for the next start: a
// close request or any of its signals in the main loop, during the snapshot of
// start-up, while the daemon has not yet answered "startTask" or with an error dialog
// up. Each ending is prompt, with status 0, the history written and no snapshot left.
//
// The moments inside an opening are reached by a driver: this test program started
// again with only the disabled driver test, which runs the program's own ry_main and
// taps as a user would. The driver's own checks decide its exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <optional>
#include <sstream>

#include "gconf_registry.h"
#include "libgen.h"
#include "libgen_modern.h"
#include "library_files.h"
#include "lock_holder.h"
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
// Ways to end besides a signal.
constexpr int kCloseRequest = -1, kQuitButton = -2, kDestroyWindow = -3;

// The test program's own share directory (see the test entry point).
std::string history_path() { return ry_share_file("ryx.history"); }

std::string id(long i) { return std::to_string(i); }

// As the program writes the history back (naming the library the list is for).
std::string history(const std::vector<int>& head, const std::string& library = "") {
    std::string items;
    for (int i = 0; i < 10; ++i) items += id(i < int(head.size()) ? head[i] : -1) + ";";
    return "[HISTORY]\nmax_history=10\nitems=" + items + "\n" +
           (library.empty() ? "" : "library=" + library + "\n");
}

// What the program told the daemon of its start.
std::vector<std::string> startup_messages(const ryt::SysdStub& stub) {
    std::vector<std::string> out;
    for (const auto& m : stub.messages())
        if (m.member == "startupComplete") {
            out.push_back(m.kind + " " + m.path + " " + m.interface);
            out.insert(out.end(), m.args.begin(), m.args.end());
        }
    return out;
}

class Ending : public testing::Test {
  protected:
    void SetUp() override {
        libgen::ModernLibraryBuilder lib(dir.path());
        alpha = lib.add_item({.title = "Alpha", .creators = {{"Ann", "Lee"}}});
        beta = lib.add_item({.title = "Beta", .creators = {{"Bo", "Kim"}}});
        for (int item : {alpha, beta})
            lib.add_attachment(
                {.parent = item, .mime_type = "application/pdf", .file = "a.pdf", .contents = "%PDF"});
        lock_sql = ryt::insert_book_sql(lib.type_id("book"), lib.field_id("title"));
        lib.finish();
        library = lib.database_path();
    }
    std::vector<std::string> env() const {
        return {session.bus_env(), "TMPDIR=" + tmp.path(), "NO_AT_BRIDGE=1", "RYX_DRIVE_LIBRARY=" + library};
    }
    // Runs the driver below in a child on `task` ("MOMENT FIRST WAY [PATH]") with a daemon
    // that answers as given; returns the calls the daemon had, up to a first space.
    std::vector<std::string> drive(const std::string& daemon, const std::string& task) const {
        ryt::SysdStub stub({daemon, "--no-exec"});
        std::vector<std::string> child_env = env();
        child_env.insert(child_env.end(), {"RYX_DRIVE=" + task, "G_DEBUG=fatal-criticals"});
        ryt::Child child(
            {"/proc/self/exe", "--gtest_filter=DISABLED_Driver.*", "--gtest_also_run_disabled_tests"},
            child_env);
        auto r = child.wait(30000);
        EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("[  PASSED  ] 1 test."), std::string::npos) << r.out;
        stub.wait_for_messages(4, 1000);
        std::vector<std::string> calls;
        for (const auto& m : stub.messages())
            if (m.kind == "call") calls.push_back(ryt::brief(m).substr(0, ryt::brief(m).find(' ')));
        return calls;
    }

    ryt::PrivateSession& session = ryt::PrivateSession::shared();
    ryt::TempDir dir, tmp;
    std::string library, lock_sql;
    int alpha = 0, beta = 0;
};

// The library is read in place, or from a snapshot because of a log beside it or of
// another process that holds it locked, or ends while "copying" it. Also: the start-up
// message is sent once, naming the shown window; a relative path, or one beginning
// with "//", opens; the library in WAL mode, its log and its directory stay as they were.
TEST_F(Ending, SignalsAndACloseRequestInTheMainLoopAndDuringTheSnapshot) {
    // As many "../" as the working directory is deep lead to the root.
    std::string up;
    for (char c : std::string(ry::gchar_ptr(g_get_current_dir()).get())) up += c == '/' ? "../" : "";
    const struct {
        std::string read, root;
        int way;
    } cases[] = {{"in place", up, SIGINT},  {"in place", "//", SIGHUP},     {"logged", "/", SIGTERM},
                 {"logged", "/", SIGQUIT},  {"logged", "/", kCloseRequest}, {"copying", "/", SIGINT},
                 {"copying", "/", SIGTERM}, {"locked", "/", SIGTERM}};
    // A large library takes a while to copy.
    ASSERT_TRUE(
        ryt::exec_sql(library, "CREATE TABLE ballast(b); INSERT INTO ballast VALUES(zeroblob(30000000))"));
    const std::vector<std::string> left{"ryx-snapshot-left", "ryx-snapshot-other"};
    auto snapshot_begun = [&] {
        auto names = ryt::files_in(tmp.path());
        return names.size() >= 2 && names != left;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.read + " " + c.root + " " + id(c.way));
        const bool copying = c.read == "copying";
        ryt::SysdStub stub({"--no-exec"});
        ryt::write_file(history_path(), "garbage");
        // Snapshots as killed runs leave them: ours, with their lock files free.
        for (const std::string& name : left) {
            g_mkdir_with_parents(tmp.file(name).c_str(), 0700);
            ryt::write_file(tmp.file(name + "/library.sqlite"), "old copy");
            ryt::write_file(tmp.file(name + "/owner.lock"), "");
        }
        ryt::write_file(tmp.file("ryx-snapshot-other/notes.txt"), "not ours");
        // A log beside the library, even an empty one, makes the program read a snapshot.
        if (c.read == "in place")
            ryt::remove_tree(library + "-wal");
        else
            ryt::write_file(library + "-wal", "");
        // Last of the rows: the holder's log goes when it lets go.
        std::optional<ryt::LockHolder> holder;
        if (c.read == "locked") holder.emplace(ryt::exclusive_writer(library, lock_sql));
        ASSERT_TRUE(!holder || holder->ok());
        const ryt::LibraryFiles before{dir.path(), library};
        ryt::Child child({RYX_BINARY, c.root + library.substr(1), "0"}, env());
        unsigned long window = 0;
        if (copying) {
            ASSERT_TRUE(ryt::iterate_until(snapshot_begun));
        } else {
            ASSERT_NE(window = ryt::wait_for_window_of(child.pid()), 0u);
            ASSERT_TRUE(ryt::iterate_until([&] { return !startup_messages(stub).empty(); }, 15000));
        }
        gint64 sent = g_get_monotonic_time();
        if (c.way == kCloseRequest)
            ryt::send_close_request(window);
        else
            child.signal(c.way);
        auto r = child.wait();
        EXPECT_LT(g_get_monotonic_time() - sent, kPromptly);
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.err, "") << "nothing to say on a clean run";
        EXPECT_EQ(ryt::read_file(history_path()), history({}, library));
        // Only the snapshot of a run that was killed goes, never a directory with more in it.
        EXPECT_EQ(ryt::files_in(tmp.path()), std::vector<std::string>{"ryx-snapshot-other"});
        before.expect_unchanged();
        if (!copying) {
            EXPECT_EQ(startup_messages(stub),
                      (std::vector<std::string>{"signal /com/irexnet/ryx com.irexnet.sysd", "s:ryx",
                                                "i:" + id(child.pid()), "b:true", "s:com.irexnet.ryx",
                                                "i:" + id(long(window)), "b:true"}));
        }
    }
}

// An item enters the history once the daemon has taken its file on; the next start
// shows it first, and so does "Recent". Each run taps the second item of the list.
TEST_F(Ending, DuringAnOpeningAndWhatTheNextStartShows) {
    ryt::set_filetype_dir("docs", "docview", "doc", {"pdf"});
    const struct {
        const char *moment, *daemon;
        int way;
    } cases[] = {
        {"opened", "--no-exec", kQuitButton}, {"opened", "--no-exec", kCloseRequest},
        {"opened", "--no-exec", SIGTERM},     {"pending", "--silent", SIGTERM},
        {"pending", "--silent", SIGINT},      {"pending", "--silent", SIGQUIT},
        {"dialog", "--refuse", SIGHUP},       {"dialog", "--refuse", kDestroyWindow},
    };
    std::vector<int> now{beta, alpha};
    ryt::write_file(history_path(), history(now));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.moment) + " " + id(c.way));
        auto calls = drive(c.daemon, std::string(c.moment) + " " + id(now[0]) + " " + id(c.way));
        // Two quick taps, one viewer; the busy indication is hidden however it ends.
        EXPECT_EQ(calls,
                  (std::vector<std::string>{"setBusyShow:show", "startTask:docview", "setBusyShow:hide"}));
        if (c.moment == std::string("opened")) std::swap(now[0], now[1]);
        EXPECT_EQ(ryt::read_file(history_path()), history(now, library));
    }
}

// A library replaced on disk while the program runs is read anew before the next
// listing, as on a new start; the history stays.
TEST_F(Ending, ALibraryReplacedWhileRunningIsReadAnew) {
    ryt::TempDir other;
    libgen::ClassicLibraryBuilder next(other.path());
    int item = 0;
    for (const char* title : {"Gamma", "Delta", "Epsilon"}) item = next.add_item({.title = title});
    next.finish();
    ASSERT_TRUE(item != alpha && item != beta);
    ryt::write_file(history_path(), history({item}));
    drive("--no-exec", "replaced " + id(item) + " " + id(SIGTERM) + " " + next.database_path());
}

// ---- The driver, run only inside the child ----

// The lists and buttons the driver works.
struct Widgets {
    GtkTreeView *items = nullptr, *attachments = nullptr;
    GtkButton *quit = nullptr, *recent = nullptr;
};

void find_widgets(GtkWidget* w, gpointer found) {
    auto* f = static_cast<Widgets*>(found);
    const char* label = GTK_IS_BUTTON(w) ? gtk_button_get_label(GTK_BUTTON(w)) : nullptr;
    if (GTK_IS_TREE_VIEW(w) && g_strcmp0(gtk_widget_get_name(w), "attachment-list-ryx") == 0)
        f->attachments = GTK_TREE_VIEW(w);
    else if (GTK_IS_TREE_VIEW(w) &&
             gtk_tree_model_get_n_columns(gtk_tree_view_get_model(GTK_TREE_VIEW(w))) == N_ITEM_COLUMNS)
        f->items = GTK_TREE_VIEW(w);
    else if (g_strcmp0(label, "Quit") == 0)
        f->quit = GTK_BUTTON(w);
    else if (g_strcmp0(label, "Recent") == 0)
        f->recent = GTK_BUTTON(w);
    if (GTK_IS_CONTAINER(w)) gtk_container_forall(GTK_CONTAINER(w), find_widgets, found);
}

// The item id of a row of the item or attachment list (column 0 of both).
int row_id(GtkTreeView* view, int row) {
    GtkTreeIter iter;
    int id = -100;
    if (gtk_tree_model_iter_nth_child(gtk_tree_view_get_model(view), &iter, nullptr, row))
        gtk_tree_model_get(gtk_tree_view_get_model(view), &iter, 0, &id, -1);
    return id;
}

// Selects the row and activates it, as a tap on it does.
void activate_row(GtkTreeView* view, int row) {
    ry::tree_path_ptr path(gtk_tree_path_new_from_indices(row, -1));
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path.get());
    gtk_tree_view_row_activated(view, path.get(), gtk_tree_view_get_column(view, 0));
}

// Checks that the start screen and "Recent" list `first` first; then, at the moment
// "replaced", replaces the library by the one at path before "Recent" and ends, or taps
// the second item's attachment and ends once it is "opened", "pending" or a "dialog" is up.
struct Driver : Widgets {
    std::string moment, path;
    int first = 0, way = 0;
    bool tapped = false;
    gint64 ended_at = 0;

    // One look at the window once it is up; false when the work is done.
    bool step() {
        if (g_main_window == nullptr || !GTK_WIDGET_VISIBLE(g_main_window) || gtk_main_level() == 0)
            return true;
        find_widgets(g_main_window, static_cast<Widgets*>(this));
        if (!tapped) {
            bool replaced = moment == "replaced";
            EXPECT_EQ(row_id(items, 0) == first, !replaced) << "the start screen";
            EXPECT_TRUE(!replaced || rename(path.c_str(), g_getenv("RYX_DRIVE_LIBRARY")) == 0);
            // Empty the list first, so that what follows is the button's own listing.
            gtk_list_store_clear(GTK_LIST_STORE(gtk_tree_view_get_model(items)));
            gtk_button_clicked(recent);
            EXPECT_EQ(row_id(items, 0), first) << "\"Recent\"";
            if (replaced) return end();
            int second = row_id(items, 1);
            activate_row(items, 1);
            EXPECT_EQ(row_id(attachments, 0), second);
            activate_row(attachments, 0);
            activate_row(attachments, 0);
            tapped = true;
            return true;
        }
        bool reached = moment == "opened"    ? !ry_attachment_opening()
                       : moment == "pending" ? ry_attachment_opening() != FALSE
                                             : gtk_grab_get_current() != nullptr;  // a modal dialog
        return reached ? end() : true;
    }

    bool end() {
        ended_at = g_get_monotonic_time();
        unsigned long window = ryt::wait_for_window_of(getpid());
        if (way == kQuitButton)
            gtk_button_clicked(quit);
        else if (way == kCloseRequest)
            ryt::send_close_request(window);
        else if (way == kDestroyWindow)  // under its owner's feet, as a killed window manager may
            ryt::destroy_window(window);
        else
            kill(getpid(), way);
        return false;
    }
};

}  // namespace

TEST(DISABLED_Driver, RunTheProgram) {
    const char* library = g_getenv("RYX_DRIVE_LIBRARY");
    ASSERT_NE(library, nullptr) << "started only by the tests above";
    Driver driver;
    std::istringstream(g_getenv("RYX_DRIVE")) >> driver.moment >> driver.first >> driver.way >> driver.path;
    g_timeout_add(
        20, +[](gpointer d) -> gboolean { return static_cast<Driver*>(d)->step(); }, &driver);
    char* argv[] = {const_cast<char*>("ryx"), const_cast<char*>(library), const_cast<char*>("0"), nullptr};
    EXPECT_EQ(ry_main(3, argv), 0);
    ASSERT_NE(driver.ended_at, 0);
    EXPECT_LT(g_get_monotonic_time() - driver.ended_at, kPromptly);
}
