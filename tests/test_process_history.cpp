// The history across runs of the whole program: the file the program rewrites when it
// ends, and opening an item's attachment, quitting and starting again.
//
// Driving the window from outside is impractical, so the opening runs in a child: this
// test program started again with only the disabled driver test, which runs the
// program's own ry_main with a timer that works its widgets as a user would. The
// driver's own expectations decide the child's exit status.
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sstream>
#include <vector>

#include "dialog_responder.h"
#include "gconf_registry.h"
#include "libgen.h"
#include "main.h"
#include "private_session.h"
#include "ry_ctr.h"
#include "ry_file.h"
#include "ry_model.h"
#include "ry_raii.h"
#include "sysd_stub.h"
#include "test_support.h"
#include "x11_support.h"

namespace {

// The test program's own share directory (see the test entry point).
std::string history_path() { return ry_share_file("ryx.history"); }

std::string id(int i) { return std::to_string(i); }

// With a library: as the program writes it back, naming the library the group is for.
std::string ten_slots(const std::vector<int>& head, const std::string& library = "") {
    std::string items;
    for (int i = 0; i < 10; ++i) items += id(i < int(head.size()) ? head[i] : -1) + ";";
    return "[HISTORY]\nmax_history=10\nitems=" + items + "\n" +
           (library.empty() ? "" : "library=" + library + "\n");
}

// Every test starts without a history file.
class ProgramHistory : public testing::Test {
  protected:
    void SetUp() override {
        ryt::remove_tree(history_path());
        libgen::ClassicLibraryBuilder lib(dir.path());
        alpha = lib.add_item({.title = "Alpha and the Lists", .creators = {{"Ann", "Lee"}}});
        beta = lib.add_item({.title = "Beta Readings", .creators = {{"Bo", "Kim"}}});
        for (int item : {alpha, beta})
            lib.add_attachment({.parent = item,
                                .mime_type = "application/pdf",
                                .file = "paper.pdf",
                                .contents = "%PDF-1.4"});
        lib.finish();
        library = lib.database_path();
    }

    ryt::TempDir dir;
    std::string library;
    int alpha = 0, beta = 0;
};

// The real binary, ended alternately by SIGTERM and by a close request.
TEST_F(ProgramHistory, TheFileIsWrittenBackWhenTheProgramEnds) {
    std::string bounded = "[HISTORY]\nmax_history=2147483647\nitems=5;";
    for (int i = 1; i < 256; ++i) bounded += "-1;";
    const std::string user =
        "# opened lately\n\n[HISTORY]\nmax_history=4\nitems=" + id(beta) + ";" + id(alpha);
    const struct {
        const char* name;
        std::optional<std::string> before;
        std::string after;
    } cases[] = {
        {"no file", std::nullopt, ten_slots({}, library)},
        {"the user's comments and keys", user + ";7;8;9;\nmine=yes\n",
         user + ";7;8;\nmine=yes\nlibrary=" + library + "\n"},
        {"garbage",
         std::string("\x7f"
                     "ELF\x01\x00\xff[[[=;",
                     12),
         ten_slots({}, library)},
        {"absurd max_history", "[HISTORY]\nmax_history=2147483647\nitems=5;\n",
         bounded + "\nlibrary=" + library + "\n"},
    };
    bool by_signal = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ryt::remove_tree(history_path());
        if (c.before) ryt::write_file(history_path(), *c.before);
        ryt::Child child({RYX_BINARY, library, "0"});
        unsigned long window = ryt::wait_for_window_of(child.pid());
        ASSERT_NE(window, 0u);
        if (by_signal)
            child.signal(SIGTERM);
        else
            ryt::send_close_request(window);
        by_signal = !by_signal;
        auto r = child.wait();
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ryt::read_file(history_path()), c.after);
    }
}

// Runs the driver below in a child; `task` is "open ITEM QUIT-WAY" or "expect FIRST SECOND".
void drive(const std::string& library, const std::string& task) {
    ry::gchar_ptr self(g_file_read_link("/proc/self/exe", nullptr));
    ryt::Child child(
        {self.get(), "--gtest_filter=DISABLED_HistoryDriver.*", "--gtest_also_run_disabled_tests"},
        {"RYX_DRIVE_LIBRARY=" + library, "RYX_DRIVE=" + task});
    auto r = child.wait();
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ] 1 test."), std::string::npos) << r.out;
}

TEST_F(ProgramHistory, AnItemOpenedBeforeQuittingIsFirstOnTheNextStartAndInRecent) {
    ryt::PrivateSession::shared();
    // An item enters the history once its file has a viewer and the daemon takes it on.
    ryt::set_filetype_dir("docs", "true", "doc", {"pdf"});
    ryt::SysdStub stub({"--no-exec"});
    for (const char* quit : {"button", "close-request", "sigterm"}) {
        SCOPED_TRACE(quit);
        ryt::write_file(history_path(), ten_slots({beta, alpha}));
        drive(library, "open " + id(alpha) + " " + quit);
        EXPECT_EQ(ryt::read_file(history_path()), ten_slots({alpha, beta}, library));
        drive(library, "expect " + id(alpha) + " " + id(beta));
    }
}

// ---- The driver, run only inside the child ----

void collect_widgets(GtkWidget* widget, std::vector<GtkWidget*>* out) {
    out->push_back(widget);
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(
            GTK_CONTAINER(widget),
            +[](GtkWidget* child, gpointer data) {
                collect_widgets(child, static_cast<std::vector<GtkWidget*>*>(data));
            },
            out);
}

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

struct Driver {
    std::string verb, last;  // last: the way to quit, or the second id expected
    int first = 0;
    bool done = false;

    // One look at the window once it is up; false when the work is done.
    bool step() {
        if (g_main_window == nullptr || !GTK_WIDGET_VISIBLE(g_main_window) || gtk_main_level() == 0)
            return true;
        done = true;
        std::vector<GtkWidget*> widgets;
        collect_widgets(g_main_window, &widgets);
        GtkTreeView *attachments = nullptr, *items = nullptr;
        GtkButton *quit_button = nullptr, *recent = nullptr;
        for (GtkWidget* w : widgets) {
            if (GTK_IS_TREE_VIEW(w) && g_strcmp0(gtk_widget_get_name(w), "attachment-list-ryx") == 0)
                attachments = GTK_TREE_VIEW(w);
            else if (GTK_IS_TREE_VIEW(w) && gtk_tree_model_get_n_columns(
                                                gtk_tree_view_get_model(GTK_TREE_VIEW(w))) == N_ITEM_COLUMNS)
                items = GTK_TREE_VIEW(w);
            else if (GTK_IS_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), "Quit") == 0)
                quit_button = GTK_BUTTON(w);
            else if (GTK_IS_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), "Recent") == 0)
                recent = GTK_BUTTON(w);
        }
        if (attachments == nullptr || items == nullptr || quit_button == nullptr || recent == nullptr) {
            ADD_FAILURE() << "the window lacks a list or button";
            ry_quit_program(nullptr, nullptr);
            return false;
        }

        if (verb == "expect") {
            EXPECT_EQ(row_id(items, 0), first) << "the start screen";
            EXPECT_EQ(row_id(items, 1), std::stoi(last)) << "the start screen";
            // Empty the list first, so that what follows is the button's own listing.
            gtk_list_store_clear(GTK_LIST_STORE(gtk_tree_view_get_model(items)));
            gtk_button_clicked(recent);
            EXPECT_EQ(row_id(items, 0), first) << "\"Recent\"";
            gtk_button_clicked(quit_button);
            return false;
        }
        for (int row = 0; row < gtk_tree_model_iter_n_children(gtk_tree_view_get_model(items), nullptr);
             ++row)
            if (row_id(items, row) == first) activate_row(items, row);
        EXPECT_EQ(row_id(attachments, 0), first);
        activate_row(attachments, 0);
        // The item enters the history when the daemon's answer comes.
        ryt::iterate_until([] { return !ry_attachment_opening(); });
        if (last == "button")
            gtk_button_clicked(quit_button);
        else if (last == "close-request")
            ryt::send_close_request(ryt::wait_for_window_of(getpid()));
        else
            kill(getpid(), SIGTERM);
        return false;
    }
};

}  // namespace

TEST(DISABLED_HistoryDriver, RunTheProgram) {
    const char* library = g_getenv("RYX_DRIVE_LIBRARY");
    ASSERT_NE(library, nullptr) << "started only by the end-to-end test";
    Driver driver;
    std::istringstream(g_getenv("RYX_DRIVE")) >> driver.verb >> driver.first >> driver.last;
    g_timeout_add(
        50, +[](gpointer d) -> gboolean { return static_cast<Driver*>(d)->step(); }, &driver);
    ryt::DialogResponder responder;  // opening a file may end in an error dialog
    std::string program = "ryx", zero = "0";
    std::vector<char*> argv = {program.data(), const_cast<char*>(library), zero.data(), nullptr};
    EXPECT_EQ(ry_main(3, argv.data()), 0);
    EXPECT_TRUE(driver.done);
}
