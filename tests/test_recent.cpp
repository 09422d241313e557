// The history queue and its key file: loading, recording opened items, saving,
// against real files in a private directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "recent_test_support.h"
#include "ry_recent.h"
#include "test_support.h"

using ryt::activate;
using ryt::History;
using ryt::ids;

namespace {

const std::vector<int> ten_empty(10, -1);
const std::string new_file = "[HISTORY]\nmax_history=10\nitems=-1;-1;-1;-1;-1;-1;-1;-1;-1;-1;\n";

std::string history_file(long long max_history, const std::string& items) {
    return "[HISTORY]\nmax_history=" + std::to_string(max_history) + "\nitems=" + items + "\n";
}

std::vector<int> padded(std::vector<int> v, size_t n) {
    v.resize(n, -1);
    return v;
}

class Recent : public ::testing::Test {
  protected:
    void SetUp() override { ryt::log_messages = 0; }
    void TearDown() override { EXPECT_EQ(ryt::log_messages, 0) << "GLib logged a message"; }

    ryt::TempDir dir;
    std::string path = dir.file("ryx.history");
};

// ---- loading ----

TEST_F(Recent, MissingFileGivesTenEmptySlotsAndNewKeys) {
    History h(path);
    EXPECT_EQ(ids(h.queue()), ten_empty);
    EXPECT_EQ(g_key_file_get_integer(h.keyfile(), "HISTORY", "max_history", nullptr), 10);
    gsize n = 0;
    gint* items = g_key_file_get_integer_list(h.keyfile(), "HISTORY", "items", &n, nullptr);
    EXPECT_EQ(std::vector<int>(items, items + n), ten_empty);
    g_free(items);
    EXPECT_FALSE(ryt::file_exists(path)) << "loading never writes";
}

TEST_F(Recent, LoadedSlotsFollowTheFile) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += char((i * 7919 + 13) % 256);
    std::string huge;
    for (int i = 1; i <= 300; ++i) huge += std::to_string(i) + ";";
    std::vector<int> bounded(RY_MAX_HISTORY_SLOTS);
    for (int i = 0; i < RY_MAX_HISTORY_SLOTS; ++i) bounded[i] = i + 1;
    const struct {
        std::string text;
        std::vector<int> slots;
    } cases[] = {
        {history_file(5, "7;3;9;"), {7, 3, 9, -1, -1}},
        {history_file(3, "1;2;3;4;5;6;"), {1, 2, 3}},
        {history_file(RY_MAX_HISTORY_SLOTS, "8;"), padded({8}, RY_MAX_HISTORY_SLOTS)},
        {history_file(2147483647, huge), bounded},
        // Unusable files: ten empty slots.
        {garbage, ten_empty},
        {"max_history=5\nitems=1;2;3;\n", ten_empty},
        {history_file(3, "1;2;") + "this is not a key\n", ten_empty},
        {"", ten_empty},
        {"# nothing yet\n\n", ten_empty},
        {"#" + std::string(RY_MAX_HISTORY_BYTES, ' ') + "\n" + history_file(3, "1;2;3;"), ten_empty},
        // No usable max_history: no slots.
        {history_file(-4, "1;2;3;"), {}},
        {"[HISTORY]\nitems=1;2;3;\n", {}},
        {"[HISTORY]\nmax_history=lots\nitems=1;2;3;\n", {}},
        {"[HISTORY]\nmax_history=\nitems=1;2;3;\n", {}},
        {"[Other]\nmax_history=3\nitems=1;2;3;\n", {}},
        // Ids that are not integers: the list counts as empty.
        {history_file(3, "1;x;2;"), {-1, -1, -1}},
        {history_file(3, "1;2.5;"), {-1, -1, -1}},
        {history_file(3, "1;99999999999;"), {-1, -1, -1}},
        {history_file(3, "1;\xff\xfe;"), {-1, -1, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        ryt::write_file(path, c.text);
        History h(path);
        EXPECT_EQ(ids(h.queue()), c.slots);
    }
}

TEST_F(Recent, DirectoryOrUnreadableFileGivesTenEmptySlots) {
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    EXPECT_EQ(ids(History(path).queue()), ten_empty);
    if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
    std::string unreadable = dir.file("unreadable");
    ryt::write_file(unreadable, history_file(3, "1;2;3;"));
    ASSERT_EQ(chmod(unreadable.c_str(), 0), 0);
    EXPECT_EQ(ids(History(unreadable).queue()), ten_empty);
}

// ---- recording: a row of the attachment list activated ----

TEST_F(Recent, OpenedItemGoesToTheHead) {
    const struct {
        const char* file;                          // nullptr: no file
        std::vector<std::pair<int, bool>> opened;  // (item, row selected)
        std::vector<int> slots;
    } cases[] = {
        {nullptr, {{31, true}, {42, true}, {31, true}}, padded({31, 42}, 10)},
        {"[HISTORY]\nmax_history=4\nitems=5;6;-1;7;\n", {{5, true}}, {5, 6, -1, 7}},  // head again
        {"[HISTORY]\nmax_history=10\nitems=1;2;3;4;5;6;7;8;9;10;\n",
         {{11, true}},
         {11, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"[HISTORY]\nmax_history=3\nitems=1;-1;2;\n", {{12, true}}, {12, 1, -1}},
        // Nothing selected: an empty slot is recorded.
        {"[HISTORY]\nmax_history=4\nitems=5;-1;7;-1;\n", {{5, false}}, {-1, 5, 7, -1}},
        {"[HISTORY]\nmax_history=3\nitems=5;6;7;\n", {{5, false}}, {-1, 5, 6}},
        // No slots: only the last opened item is held.
        {"[HISTORY]\nitems=1;2;\n", {{21, true}, {22, true}}, {22}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "no file");
        if (c.file) ryt::write_file(path, c.file);
        History h(path);
        for (auto [item, selected] : c.opened) activate(h.queue(), {item}, 0, selected);
        EXPECT_EQ(ids(h.queue()), c.slots);
    }
}

// ---- saving ----

TEST_F(Recent, SavedFileHoldsMaxHistorySlotsMostRecentFirst) {
    std::string bounded = "4;";
    for (int i = 1; i < RY_MAX_HISTORY_SLOTS; ++i) bounded += "-1;";
    const struct {
        std::string before;  // empty: no file
        std::vector<int> opened;
        std::string after;
    } cases[] = {
        {"", {}, new_file},
        {"", {31, 42, 31}, "[HISTORY]\nmax_history=10\nitems=31;42;-1;-1;-1;-1;-1;-1;-1;-1;\n"},
        {history_file(5, "1;2;3;4;5;6;7;"), {}, history_file(5, "1;2;3;4;5;")},
        {history_file(5, "8;9;"), {}, history_file(5, "8;9;-1;-1;-1;")},
        {history_file(2147483647, "4;"), {}, history_file(2147483647, bounded)},
        {history_file(3, "1;2;") + "this is not a key\n", {}, new_file},
        {history_file(-4, "1;2;"), {9}, history_file(-4, "")},
        {"[HISTORY]\nmax_history=many\nitems=1;2;\n", {9}, "[HISTORY]\nmax_history=many\nitems=\n"},
        {"[HISTORY]\nitems=1;2;\n", {9}, "[HISTORY]\nitems=\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        if (!c.before.empty()) ryt::write_file(path, c.before);
        {
            History h(path);
            for (int item : c.opened) activate(h.queue(), {item}, 0);
            h.save();
        }
        EXPECT_EQ(ryt::read_file(path), c.after);
        unlink(path.c_str());
    }
}

TEST_F(Recent, CommentsOtherGroupsAndKeysSurvive) {
    const std::string text =
        "# my reading list\n[HISTORY]\n# slots\nmax_history=3\nitems=1;2;3;\nnote=kept\n\n"
        "[Display]\nname=Recent\nname[de]=Zuletzt\n";
    ryt::write_file(path, text);
    {
        History h(path);
        activate(h.queue(), {9}, 0);
        h.save();
    }
    std::string expected = text;
    expected.replace(expected.find("items=1;2;3;"), 12, "items=9;1;2;");
    // Compared as GLib lays the text out (it puts a blank line after a leading comment).
    EXPECT_EQ(ryt::read_file(path), ryt::key_file_text(expected));
    EXPECT_NE(ryt::read_file(path).find("# my reading list\n"), std::string::npos);
}

TEST_F(Recent, SaveThatCannotWriteEndsQuietlyAndKeepsWhatWasThere) {
    History(dir.file("no/such/dir/ryx.history")).save();
    EXPECT_FALSE(ryt::file_exists(dir.file("no")));

    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    ryt::write_file(dir.file("ryx.history/inside"), "x");
    History(path).save();
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(ryt::read_file(dir.file("ryx.history/inside")), "x");

    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    const std::string old = history_file(3, "1;2;3;"), file = dir.file("kept.history");
    ryt::write_file(file, old);
    {
        History h(file);
        activate(h.queue(), {9}, 0);
        ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
        h.save();
        chmod(dir.path().c_str(), 0700);
    }
    EXPECT_EQ(ryt::read_file(file), old);
}

}  // namespace

namespace {

// Each library keeps its own list; a file of an earlier version goes to the first library
// opened. Each step: the library, the ids it should find, the item it then opens.
TEST_F(Recent, EachLibraryKeepsItsOwnList) {
    ryt::write_file(path, history_file(10, "5;6;"));
    const struct {
        const char* library;
        std::vector<int> found;
        int opened;
    } steps[] = {
        {"/card/a/zotero.sqlite", padded({5, 6}, 10), 7},
        {"/card/b/zotero.sqlite", ten_empty, 8},
        {"/card/a/zotero.sqlite", padded({7, 5, 6}, 10), 9},
        {"/card/b/zotero.sqlite", padded({8}, 10), 8},
    };
    for (const auto& s : steps) {
        ry_set_history_library(s.library);
        History h(path);
        EXPECT_EQ(ids(h.queue()), s.found) << s.library;
        activate(h.queue(), {s.opened}, 0);
        h.save();
    }
    ry_set_history_library(nullptr);
}

}  // namespace
