// The history across runs of the whole program: the file the program rewrites when it
// ends, and opening an item's attachment, quitting and starting again.
//
// Driving the window from outside is impractical, so the opening runs in a child: this
// test program started again with only the disabled driver test, which runs the
// program's own ry_main with a timer that works its widgets as a user would.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "libgen.h"
#include "main.h"
#include "ry_ctr.h"
#include "ry_model.h"
#include "ry_raii.h"
#include "test_support.h"
#include "x11_support.h"

namespace {

const std::string share_dir = RYX_SHARE_DIR_FOR_TESTS;
const std::string history_path = share_dir + "/ryx.history";

std::string ten_slots(const std::vector<int>& head) {
    std::string items;
    for (int i = 0; i < 10; ++i) items += std::to_string(i < int(head.size()) ? head[i] : -1) + ";";
    return "[HISTORY]\nmax_history=10\nitems=" + items + "\n";
}

// Every test here owns the program's one history file; what was there is put back.
class HistoryFileTest : public testing::Test {
  protected:
    void SetUp() override {
        g_mkdir_with_parents(share_dir.c_str(), 0755);
        had_file_ = ryt::file_exists(history_path);
        if (had_file_) saved_ = ryt::read_file(history_path);
        ryt::remove_tree(history_path);

        libgen::ClassicLibraryBuilder lib(dir.path());
        alpha = lib.add_item({.title = "Alpha and the Lists", .creators = {{"Ann", "Lee"}}});
        beta = lib.add_item({.title = "Beta Readings", .creators = {{"Bo", "Kim"}, {"Cy", "Ode"}}});
        for (int item : {alpha, beta})
            lib.add_attachment({.parent = item,
                                .mime_type = "application/pdf",
                                .file = "paper.pdf",
                                .contents = "%PDF-1.4"});
        lib.finish();
        library = lib.database_path();
    }
    void TearDown() override {
        ryt::remove_tree(history_path);
        if (had_file_) ryt::write_file(history_path, saved_);
    }

    ryt::TempDir dir;
    std::string library;
    int alpha = 0, beta = 0;

  private:
    bool had_file_ = false;
    std::string saved_;
};

// ---- The real binary: what it leaves in the history file when it ends ----

using ProgramHistoryFile = HistoryFileTest;

enum class Ending { sigterm, close_request };

ryt::RunResult run_and_end(const std::string& library, Ending ending) {
    ryt::Child child({RYX_BINARY, library, "0"});
    unsigned long window = ryt::wait_for_window_of(child.pid());
    EXPECT_NE(window, 0u);
    if (ending == Ending::sigterm)
        child.signal(SIGTERM);
    else if (window != 0)
        ryt::send_close_request(window);
    return child.wait();
}

TEST_F(ProgramHistoryFile, FirstRunWritesTenEmptySlots) {
    for (Ending ending : {Ending::sigterm, Ending::close_request}) {
        ryt::remove_tree(history_path);
        auto r = run_and_end(library, ending);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(ryt::read_file(history_path), ten_slots({}));
    }
}

TEST_F(ProgramHistoryFile, ExistingFileIsWrittenBackWithItsComments) {
    const std::string text = "# opened lately\n\n[HISTORY]\nmax_history=4\nitems=" + std::to_string(beta) +
                             ";" + std::to_string(alpha) + ";7;8;9;\nmine=yes\n";
    for (Ending ending : {Ending::sigterm, Ending::close_request}) {
        ryt::write_file(history_path, text);
        auto r = run_and_end(library, ending);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(ryt::read_file(history_path),
                  "# opened lately\n\n[HISTORY]\nmax_history=4\nitems=" + std::to_string(beta) + ";" +
                      std::to_string(alpha) + ";7;8;\nmine=yes\n");
    }
}

TEST_F(ProgramHistoryFile, UntrustedFilesNeitherStopNorBreakTheProgram) {
    struct Case {
        const char* name;
        std::string contents;
        std::string after;
    };
    std::string bounded = "[HISTORY]\nmax_history=2147483647\nitems=5;";
    for (int i = 1; i < 256; ++i) bounded += "-1;";
    bounded += "\n";
    const std::vector<Case> cases = {
        {"garbage",
         std::string("\x7f"
                     "ELF\x01\x00\xff[[[=;",
                     12),
         ten_slots({})},
        {"empty", "", ten_slots({})},
        {"absurd max_history", "[HISTORY]\nmax_history=2147483647\nitems=5;\n", bounded},
        {"negative max_history", "[HISTORY]\nmax_history=-3\nitems=5;\n",
         "[HISTORY]\nmax_history=-3\nitems=\n"},
        {"ids that are not numbers", "[HISTORY]\nmax_history=2\nitems=5;x;\n",
         "[HISTORY]\nmax_history=2\nitems=-1;-1;\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ryt::write_file(history_path, c.contents);
        auto r = run_and_end(library, Ending::sigterm);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ryt::read_file(history_path), c.after);
    }
}

// ---- Opening an item, quitting, starting again ----

// The driver's instructions and findings travel in the environment and a small file of
// key=value lines.
std::map<std::string, std::string> read_report(const std::string& path) {
    std::map<std::string, std::string> report;
    std::string text = ryt::read_file(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        size_t eq = line.find('=');
        if (eq != std::string::npos) report[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return report;
}

bool wait_for_file(const std::string& path, ryt::Child& child, int timeout_ms = 20000) {
    gint64 end = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!ryt::file_exists(path)) {
        if (g_get_monotonic_time() > end || !child.running()) return ryt::file_exists(path);
        g_usleep(10000);
    }
    return true;
}

std::string self_exe() {
    ry::gchar_ptr path(g_file_read_link("/proc/self/exe", nullptr));
    return path ? path.get() : "";
}

ryt::Child start_driver(const std::string& library, const std::string& action, const std::string& quit,
                        const std::string& report) {
    return ryt::Child(
        {self_exe(), "--gtest_filter=DISABLED_HistoryDriver.*", "--gtest_also_run_disabled_tests"},
        {"RYX_DRIVE_LIBRARY=" + library, "RYX_DRIVE_ACTION=" + action, "RYX_DRIVE_QUIT=" + quit,
         "RYX_DRIVE_REPORT=" + report});
}

enum class Quit { button, close_request, sigterm };

const char* quit_name(Quit q) {
    switch (q) {
        case Quit::button:
            return "QuitButton";
        case Quit::close_request:
            return "CloseRequest";
        default:
            return "Sigterm";
    }
}
void PrintTo(Quit q, std::ostream* os) { *os << quit_name(q); }

class OpenQuitRestart : public HistoryFileTest, public testing::WithParamInterface<Quit> {};

TEST_P(OpenQuitRestart, OpenedItemIsFirstInRecentAndOnTheStartScreen) {
    ryt::write_file(history_path, ten_slots({beta, alpha}));
    {
        std::string report = dir.file("open.report");
        Quit quit = GetParam();
        ryt::Child child = start_driver(library, "open:" + std::to_string(alpha),
                                        quit == Quit::button ? "button" : "wait", report);
        ASSERT_TRUE(wait_for_file(report, child)) << child.wait(0).out;
        auto opened = read_report(report);
        if (opened.count("skip")) {
            child.signal(SIGTERM);
            child.wait();
            GTEST_SKIP() << opened["skip"];
        }
        EXPECT_EQ(opened["opened"], std::to_string(alpha));
        if (quit == Quit::close_request) {
            unsigned long window = ryt::wait_for_window_of(child.pid());
            ASSERT_NE(window, 0u);
            ryt::send_close_request(window);
        } else if (quit == Quit::sigterm) {
            child.signal(SIGTERM);
        }
        auto r = child.wait();
        ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    }
    EXPECT_EQ(ryt::read_file(history_path), ten_slots({alpha, beta}));

    std::string report = dir.file("inspect.report");
    ryt::Child child = start_driver(library, "inspect", "any", report);
    auto r = child.wait();
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    auto seen = read_report(report);
    EXPECT_EQ(seen["start_first"], std::to_string(alpha));
    EXPECT_EQ(seen["start_second"], std::to_string(beta));
    if (seen.count("recent_first") == 0) GTEST_SKIP() << "no \"Recent\" button in this build's search box";
    EXPECT_EQ(seen["recent_first"], std::to_string(alpha));
}

INSTANTIATE_TEST_SUITE_P(EachWayToQuit, OpenQuitRestart,
                         testing::Values(Quit::button, Quit::close_request, Quit::sigterm),
                         [](const testing::TestParamInfo<Quit>& info) {
                             return std::string(quit_name(info.param));
                         });

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

GtkButton* find_button(const std::vector<GtkWidget*>& widgets, const char* label) {
    for (GtkWidget* w : widgets)
        if (GTK_IS_BUTTON(w) && !GTK_IS_TOGGLE_BUTTON(w)) {
            const gchar* text = gtk_button_get_label(GTK_BUTTON(w));
            if (text != nullptr && g_strcmp0(text, label) == 0) return GTK_BUTTON(w);
        }
    return nullptr;
}

int row_id(GtkTreeView* view, int row) {
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    GtkTreeIter iter;
    int id = -100;
    if (model != nullptr && gtk_tree_model_iter_nth_child(model, &iter, nullptr, row))
        gtk_tree_model_get(model, &iter, 0, &id, -1);
    return id;
}

// Selects the row and activates it, as a tap on it does.
void activate_row(GtkTreeView* view, int row) {
    ry::tree_path_ptr path(gtk_tree_path_new_from_indices(row, -1));
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path.get());
    gtk_tree_view_row_activated(view, path.get(), gtk_tree_view_get_column(view, 0));
}

struct Driver {
    std::string action, quit, report_path;
    std::string report;
    bool done = false;

    // Hands the report over whole, then quits unless the parent is to end the program.
    void finish(bool quit_now, GtkButton* quit_button) {
        ryt::write_file(report_path + ".part", report);
        std::rename((report_path + ".part").c_str(), report_path.c_str());
        done = true;
        if (quit_now) {
            if (quit_button != nullptr)
                gtk_button_clicked(quit_button);
            else
                ry_quit_program(nullptr, nullptr);
        }
    }

    // One look at the window; false once the work is done.
    bool step() {
        if (done) return false;
        if (g_main_window == nullptr || !GTK_WIDGET_VISIBLE(g_main_window) || gtk_main_level() == 0)
            return true;
        std::vector<GtkWidget*> widgets;
        collect_widgets(g_main_window, &widgets);
        GtkTreeView* attachment_list = nullptr;
        GtkTreeView* item_list = nullptr;
        for (GtkWidget* w : widgets) {
            if (!GTK_IS_TREE_VIEW(w)) continue;
            if (g_strcmp0(gtk_widget_get_name(w), "attachment-list-ryx") == 0)
                attachment_list = GTK_TREE_VIEW(w);
            else if (GtkTreeModel* m = gtk_tree_view_get_model(GTK_TREE_VIEW(w));
                     m != nullptr && gtk_tree_model_get_n_columns(m) == N_ITEM_COLUMNS)
                item_list = GTK_TREE_VIEW(w);
        }
        GtkButton* quit_button = find_button(widgets, "Quit");
        if (attachment_list == nullptr || item_list == nullptr) {
            report += "skip=the window has no item list or attachment list\n";
            finish(true, quit_button);
            return false;
        }
        if (quit == "button" && quit_button == nullptr) {
            report += "skip=no \"Quit\" button in this build's search box\n";
            finish(true, nullptr);
            return false;
        }

        if (action == "inspect") {
            report += "start_first=" + std::to_string(row_id(item_list, 0)) + "\n";
            report += "start_second=" + std::to_string(row_id(item_list, 1)) + "\n";
            if (GtkButton* recent = find_button(widgets, "Recent")) {
                // Empty the list first, so that what follows is the button's own listing.
                gtk_list_store_clear(GTK_LIST_STORE(gtk_tree_view_get_model(item_list)));
                gtk_button_clicked(recent);
                report += "recent_first=" + std::to_string(row_id(item_list, 0)) + "\n";
            }
            finish(true, quit_button);
            return false;
        }

        int wanted = atoi(action.c_str() + strlen("open:"));
        GtkTreeModel* items = gtk_tree_view_get_model(item_list);
        int n = gtk_tree_model_iter_n_children(items, nullptr);
        for (int row = 0; row < n; ++row)
            if (row_id(item_list, row) == wanted) {
                activate_row(item_list, row);
                break;
            }
        if (row_id(attachment_list, 0) >= 0) {
            report += "opened=" + std::to_string(row_id(attachment_list, 0)) + "\n";
            activate_row(attachment_list, 0);
        }
        finish(quit != "wait", quit_button);
        return false;
    }
};

}  // namespace

TEST(DISABLED_HistoryDriver, RunTheProgram) {
    const char* library = g_getenv("RYX_DRIVE_LIBRARY");
    ASSERT_NE(library, nullptr) << "started only by the end-to-end tests";
    Driver driver{g_getenv("RYX_DRIVE_ACTION"), g_getenv("RYX_DRIVE_QUIT"), g_getenv("RYX_DRIVE_REPORT"), ""};
    g_timeout_add(
        50, +[](gpointer d) -> gboolean { return static_cast<Driver*>(d)->step(); }, &driver);
    // Opening a file may end in an error dialog with a loop of its own: answer it.
    g_timeout_add(
        50,
        +[](gpointer) -> gboolean {
            GList* toplevels = gtk_window_list_toplevels();
            for (GList* l = toplevels; l != nullptr; l = l->next)
                if (GTK_IS_MESSAGE_DIALOG(l->data) && GTK_WIDGET_VISIBLE(l->data))
                    gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_OK);
            g_list_free(toplevels);
            return TRUE;
        },
        nullptr);

    std::string program = "ryx";
    std::string zero = "0";
    std::vector<char*> argv = {program.data(), const_cast<char*>(library), zero.data(), nullptr};
    EXPECT_EQ(ry_main(3, argv.data()), 0);
    EXPECT_TRUE(driver.done);
}
