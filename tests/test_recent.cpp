// The history file: loading it, recording opened items and saving it, against real
// files in a private directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "ry_model.h"
#include "ry_raii.h"
#include "ry_recent.h"
#include "test_support.h"

namespace {

// Opened with nothing selected in the attachment list.
constexpr int kUnselected = -1;

std::string history_file(const std::string& max_history, const std::string& items) {
    return "[HISTORY]\nmax_history=" + max_history + "\nitems=" + items + "\n";
}

std::vector<int> padded(std::vector<int> ids, size_t n) {
    ids.resize(n, -1);
    return ids;
}

std::string slots(const std::vector<int>& ids, size_t n = 10) {
    std::string out;
    for (int id : padded(ids, n)) out += std::to_string(id) + ";";
    return out;
}

// A tap on the one row of an attachment list: the item's, or one with nothing selected.
void tap(GQueue* history, int item) {
    ry::gobject_ptr<GtkListStore> store(ry_create_attachment_model());
    GtkTreeIter row;
    gtk_list_store_insert_with_values(store.get(), &row, -1, ATTACHMENT_SOURCE_ID,
                                      item == kUnselected ? 99 : item, -1);
    ry::gobject_ptr<GtkWidget> view(
        GTK_WIDGET(g_object_ref_sink(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store.get())))));
    if (item != kUnselected)
        gtk_tree_selection_select_iter(gtk_tree_view_get_selection(GTK_TREE_VIEW(view.get())), &row);
    ry_push_history(GTK_TREE_VIEW(view.get()), nullptr, nullptr, history);
}

// Loads the file as start-up does, opens the items and saves as the program's end does;
// returns the ids loaded.
std::vector<int> load_open_save(const std::string& path, const std::vector<int>& opened) {
    const bool existed = ryt::file_exists(path);
    GQueue queue = G_QUEUE_INIT;
    GKeyFile* keyfile = ry_parse_history_file(path.c_str(), &queue);
    EXPECT_EQ(ryt::file_exists(path), existed) << "loading never writes";
    std::vector<int> loaded;
    for (GList* l = queue.head; l != nullptr; l = l->next) loaded.push_back(GPOINTER_TO_INT(l->data));
    for (int item : opened) tap(&queue, item);
    ry_save_history_file(path.c_str(), keyfile, &queue);
    return loaded;
}

// GLib's warnings end the test: the history is read and written quietly.
class HistoryFile : public testing::Test {
  protected:
    void SetUp() override {
        g_log_set_always_fatal(
            GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE));
    }
    ryt::TempDir dir;
    std::string path = dir.file("ryx.history");
};

TEST_F(HistoryFile, SlotsAreLoadedOpenedAndSavedMostRecentFirst) {
    const std::string fresh = history_file("10", slots({}));
    std::string garbage, huge;
    for (int i = 0; i < 4096; ++i) garbage += char((i * 7919 + 13) % 256);
    std::vector<int> bounded;
    for (int i = 1; i <= 300; ++i) huge += std::to_string(i) + ";";
    for (int i = 1; i <= RY_MAX_HISTORY_SLOTS; ++i) bounded.push_back(i);
    const struct {
        std::optional<std::string> before;
        std::vector<int> opened;
        std::string after;
    } cases[] = {
        {std::nullopt, {}, fresh},
        {std::nullopt, {31, 42, 31}, history_file("10", slots({31, 42}))},
        {history_file("5", "7;3;9;"), {}, history_file("5", "7;3;9;-1;-1;")},
        {history_file("5", "1;2;3;4;5;6;7;"), {}, history_file("5", "1;2;3;4;5;")},
        {history_file("4", "5;6;-1;7;"), {5}, history_file("4", "5;6;-1;7;")},
        {history_file("10", slots({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})),
         {11},
         history_file("10", "11;1;2;3;4;5;6;7;8;9;")},
        {history_file("3", "1;-1;2;"), {12}, history_file("3", "12;1;-1;")},
        {history_file("4", "5;-1;7;-1;"), {kUnselected}, history_file("4", "-1;5;7;-1;")},
        {history_file("3", "5;6;7;"), {kUnselected}, history_file("3", "-1;5;6;")},
        // The file keeps what it asked for; the queue never grows past its bound.
        {history_file("2147483647", huge), {}, history_file("2147483647", slots(bounded, bounded.size()))},
        // Files that are not a history: ten empty slots.
        {garbage, {}, fresh},
        {"max_history=5\nitems=1;2;3;\n", {}, fresh},
        {history_file("3", "1;2;") + "this is not a key\n", {}, fresh},
        {"", {}, fresh},
        {"#" + std::string(RY_MAX_HISTORY_BYTES, ' ') + "\n" + history_file("3", "1;2;3;"), {}, fresh},
        // No usable max_history: no slots.
        {history_file("-4", "1;2;3;"), {9}, history_file("-4", "")},
        {"[HISTORY]\nitems=1;2;3;\n", {9}, "[HISTORY]\nitems=\n"},
        {"[HISTORY]\nmax_history=lots\nitems=1;2;\n", {9}, "[HISTORY]\nmax_history=lots\nitems=\n"},
        // Ids that are not integers: the list counts as empty.
        {history_file("3", "1;x;2;"), {}, history_file("3", "-1;-1;-1;")},
        {history_file("3", "1;99999999999;"), {}, history_file("3", "-1;-1;-1;")},
        // Comments, other keys and groups survive (GLib puts a blank line after a leading comment).
        {"# my list\n[HISTORY]\n# "
         "slots\nmax_history=3\nitems=1;2;3;\nnote=kept\n\n[Display]\nname[de]=Zuletzt\n",
         {9},
         "# my list\n\n[HISTORY]\n# "
         "slots\nmax_history=3\nitems=9;1;2;\nnote=kept\n\n[Display]\nname[de]=Zuletzt\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before.value_or("no file").substr(0, 60));
        ryt::remove_tree(path);
        if (c.before) ryt::write_file(path, *c.before);
        load_open_save(path, c.opened);
        EXPECT_EQ(ryt::read_file(path), c.after);
    }
}

// Ten empty slots from what is not a readable file, and the save leaves it as it was.
TEST_F(HistoryFile, WhatIsNotAUsableFileStaysAsItWas) {
    const std::string fifo = dir.file("fifo"), sub = dir.file("sub"), missing = dir.file("no/ryx.history");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    ryt::write_file(sub + "/inside", "x");
    for (const std::string& p : {fifo, sub, missing}) EXPECT_EQ(load_open_save(p, {9}), padded({}, 10)) << p;
    struct stat st;
    EXPECT_TRUE(stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_EQ(ryt::read_file(sub + "/inside"), "x");
    EXPECT_FALSE(ryt::file_exists(dir.file("no")));

    if (geteuid() == 0) GTEST_SKIP() << "root reads and writes whatever the modes say";
    const std::string ro = dir.file("ro"), kept = ro + "/ryx.history", old = history_file("3", "1;2;3;");
    ASSERT_EQ(mkdir(ro.c_str(), 0700), 0);
    ryt::write_file(kept, old);
    ASSERT_EQ(chmod(kept.c_str(), 0), 0);
    ASSERT_EQ(chmod(ro.c_str(), 0500), 0);
    EXPECT_EQ(load_open_save(kept, {9}), padded({}, 10));
    chmod(ro.c_str(), 0700);
    chmod(kept.c_str(), 0600);
    EXPECT_EQ(ryt::read_file(kept), old);
}

// Each library keeps its own list; a file of an earlier version goes to the first library
// opened. Each step: the library, the ids it should find, the item it then opens.
TEST_F(HistoryFile, EachLibraryKeepsItsOwnList) {
    ryt::write_file(path, history_file("10", "5;6;"));
    const struct {
        const char* library;
        std::vector<int> found;
        int opened;
    } steps[] = {
        {"/card/a/zotero.sqlite", padded({5, 6}, 10), 7},
        {"/card/b/zotero.sqlite", padded({}, 10), 8},
        {"/card/a/zotero.sqlite", padded({7, 5, 6}, 10), 9},
        {"/card/b/zotero.sqlite", padded({8}, 10), 8},
    };
    for (const auto& s : steps) {
        ry_set_history_library(s.library);
        EXPECT_EQ(load_open_save(path, {s.opened}), s.found) << s.library;
    }
    ry_set_history_library(nullptr);
}

}  // namespace
