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

using ryt::History;
using ryt::ids;

namespace {

const std::vector<int> ten_empty(10, -1);
const std::string new_file = "[HISTORY]\nmax_history=10\nitems=-1;-1;-1;-1;-1;-1;-1;-1;-1;-1;\n";

std::string history_file(int max_history, const std::string& items) {
    return "[HISTORY]\nmax_history=" + std::to_string(max_history) + "\nitems=" + items + "\n";
}

class RecentTest : public ::testing::Test {
  protected:
    void SetUp() override { ryt::LogCounter::reset(); }
    void TearDown() override { EXPECT_EQ(ryt::LogCounter::count(), 0) << "GLib logged a message"; }

    ryt::TempDir dir;
    std::string path = dir.file("ryx.history");
};

// Loading: what the file gives the queue.
using RecentLoad = RecentTest;

TEST_F(RecentLoad, MissingFileGivesTenEmptySlotsAndNewKeys) {
    History h(path);
    EXPECT_EQ(ids(h.queue()), ten_empty);
    EXPECT_EQ(g_key_file_get_integer(h.keyfile(), "HISTORY", "max_history", nullptr), 10);
    gsize n = 0;
    gint* items = g_key_file_get_integer_list(h.keyfile(), "HISTORY", "items", &n, nullptr);
    EXPECT_EQ(std::vector<int>(items, items + n), ten_empty);
    g_free(items);
    EXPECT_FALSE(ryt::file_exists(path)) << "loading never writes";
}

TEST_F(RecentLoad, IdsFillSlotsHeadFirstPaddedWithEmptySlots) {
    ryt::write_file(path, history_file(5, "7;3;9;"));
    History h(path);
    EXPECT_EQ(ids(h.queue()), (std::vector<int>{7, 3, 9, -1, -1}));
}

TEST_F(RecentLoad, IdsBeyondMaxHistoryAreIgnored) {
    ryt::write_file(path, history_file(3, "1;2;3;4;5;6;"));
    History h(path);
    EXPECT_EQ(ids(h.queue()), (std::vector<int>{1, 2, 3}));
}

TEST_F(RecentLoad, LoadedFileIsNotModified) {
    std::string text = "# mine\n" + history_file(3, "4;5;") + "extra=yes\n";
    ryt::write_file(path, text);
    History h(path);
    EXPECT_EQ(ryt::key_file_text(h.keyfile()), ryt::key_file_text(text));
}

TEST_F(RecentLoad, UnusableFilesGiveTenEmptySlots) {
    struct Case {
        const char* name;
        std::string contents;
    };
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += char((i * 7919 + 13) % 256);
    const std::vector<Case> cases = {
        {"binary garbage", garbage},
        {"not a key file", "max_history=5\nitems=1;2;3;\n"},
        {"junk after good lines", history_file(3, "1;2;") + "this is not a key\n"},
        {"empty file", ""},
        {"only comments and blank lines", "# nothing yet\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ryt::write_file(path, c.contents);
        History h(path);
        EXPECT_EQ(ids(h.queue()), ten_empty);
        EXPECT_EQ(g_key_file_get_integer(h.keyfile(), "HISTORY", "max_history", nullptr), 10);
    }
}

TEST_F(RecentLoad, DirectoryInPlaceOfFileGivesTenEmptySlots) {
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    History h(path);
    EXPECT_EQ(ids(h.queue()), ten_empty);
}

TEST_F(RecentLoad, UnreadableFileGivesTenEmptySlots) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
    ryt::write_file(path, history_file(3, "1;2;3;"));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    History h(path);
    EXPECT_EQ(ids(h.queue()), ten_empty);
}

TEST_F(RecentLoad, NoUsableMaxHistoryGivesEmptyQueue) {
    const std::vector<std::string> cases = {
        "[HISTORY]\nitems=1;2;3;\n",
        "[HISTORY]\nmax_history=lots\nitems=1;2;3;\n",
        "[HISTORY]\nmax_history=\nitems=1;2;3;\n",
        "[Other]\nmax_history=3\nitems=1;2;3;\n",
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        ryt::write_file(path, text);
        History h(path);
        EXPECT_EQ(h.queue()->length, 0u);
    }
}

TEST_F(RecentLoad, NegativeMaxHistoryGivesNoSlots) {
    ryt::write_file(path, history_file(-4, "1;2;3;"));
    History h(path);
    EXPECT_EQ(h.queue()->length, 0u);
}

TEST_F(RecentLoad, AbsurdMaxHistoryIsBoundedAtTheDocumentedMaximum) {
    std::string items;
    for (int i = 1; i <= 100000; ++i) items += std::to_string(i) + ";";
    ryt::write_file(path, history_file(2147483647, items));
    History h(path);
    std::vector<int> got = ids(h.queue());
    ASSERT_EQ(got.size(), size_t(RY_MAX_HISTORY_SLOTS));
    EXPECT_EQ(got.front(), 1);
    EXPECT_EQ(got.back(), RY_MAX_HISTORY_SLOTS);
}

TEST_F(RecentLoad, MaxHistoryWithinTheMaximumIsTakenAsWritten) {
    ryt::write_file(path, history_file(RY_MAX_HISTORY_SLOTS, "8;"));
    History h(path);
    EXPECT_EQ(h.queue()->length, guint(RY_MAX_HISTORY_SLOTS));
}

TEST_F(RecentLoad, ListWithNonIntegerIdsCountsAsEmpty) {
    const std::vector<std::string> cases = {"1;x;2;", "1;2.5;", "1;99999999999;", "1;\xff\xfe;"};
    for (const auto& items : cases) {
        SCOPED_TRACE(items);
        ryt::write_file(path, history_file(3, items));
        History h(path);
        EXPECT_EQ(ids(h.queue()), (std::vector<int>{-1, -1, -1}));
    }
}

// Recording: what activating a row of the attachment list does to the queue.
using RecentPush = RecentTest;

TEST_F(RecentPush, ReopenedItemMovesToHeadOthersKeepOrder) {
    History h(path);
    ryt::AttachmentView view({31, 42}, h.queue());
    view.activate(0);
    view.activate(1);
    view.activate(0);
    std::vector<int> expected{31, 42};
    expected.resize(10, -1);
    EXPECT_EQ(ids(h.queue()), expected);
}

TEST_F(RecentPush, HeadItemOpenedAgainChangesNothing) {
    ryt::write_file(path, history_file(4, "5;6;-1;7;"));
    History h(path);
    ryt::AttachmentView view({5}, h.queue());
    view.activate(0);
    EXPECT_EQ(ids(h.queue()), (std::vector<int>{5, 6, -1, 7}));
}

TEST_F(RecentPush, NewItemDropsTheTailWhateverItHolds) {
    ryt::write_file(path, history_file(10, "1;2;3;4;5;6;7;8;9;10;"));
    History h(path);
    ryt::AttachmentView view({11}, h.queue());
    view.activate(0);
    EXPECT_EQ(ids(h.queue()), (std::vector<int>{11, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

    ryt::write_file(path, history_file(3, "1;-1;2;"));
    History placeholders(path);
    ryt::AttachmentView other({12}, placeholders.queue());
    other.activate(0);
    EXPECT_EQ(ids(placeholders.queue()), (std::vector<int>{12, 1, -1}));
}

TEST_F(RecentPush, RowActivatedWithNothingSelectedRecordsEmptySlot) {
    ryt::write_file(path, history_file(4, "5;-1;7;-1;"));
    History h(path);
    ryt::AttachmentView view({5}, h.queue());
    view.activate_unselected(0);
    EXPECT_EQ(ids(h.queue()), (std::vector<int>{-1, 5, 7, -1}));

    ryt::write_file(path, history_file(3, "5;6;7;"));
    History full(path);
    ryt::AttachmentView other({5}, full.queue());
    other.activate_unselected(0);
    EXPECT_EQ(ids(full.queue()), (std::vector<int>{-1, 5, 6}));
}

TEST_F(RecentPush, EmptyQueueHoldsOnlyTheLastOpenedItem) {
    ryt::write_file(path, "[HISTORY]\nitems=1;2;\n");
    History h(path);
    ryt::AttachmentView view({21, 22}, h.queue());
    view.activate(0);
    EXPECT_EQ(ids(h.queue()), (std::vector<int>{21}));
    view.activate(1);
    EXPECT_EQ(ids(h.queue()), (std::vector<int>{22}));
}

// Saving: what the file holds afterwards.
using RecentSave = RecentTest;

TEST_F(RecentSave, FirstRunThatOpensNothingWritesThreeLines) {
    History h(path);
    h.save();
    EXPECT_EQ(ryt::read_file(path), new_file);
}

TEST_F(RecentSave, OpenedItemsAreListedMostRecentFirst) {
    {
        History h(path);
        ryt::AttachmentView view({31, 42}, h.queue());
        view.activate(0);
        view.activate(1);
        view.activate(0);
        h.save();
    }
    EXPECT_EQ(ryt::read_file(path), "[HISTORY]\nmax_history=10\nitems=31;42;-1;-1;-1;-1;-1;-1;-1;-1;\n");
    History again(path);
    EXPECT_EQ(ids(again.queue()).front(), 31);
}

TEST_F(RecentSave, ListIsCutOrPaddedToMaxHistoryWhichStaysAsWritten) {
    ryt::write_file(path, history_file(5, "1;2;3;4;5;6;7;"));
    History(path).save();
    EXPECT_EQ(ryt::read_file(path), history_file(5, "1;2;3;4;5;"));

    ryt::write_file(path, history_file(5, "8;9;"));
    History(path).save();
    EXPECT_EQ(ryt::read_file(path), history_file(5, "8;9;-1;-1;-1;"));
}

TEST_F(RecentSave, CommentsOtherGroupsAndKeysSurvive) {
    const std::string text =
        "# my reading list\n"
        "[HISTORY]\n"
        "# slots\n"
        "max_history=3\n"
        "items=1;2;3;\n"
        "note=kept\n"
        "\n"
        "[Display]\n"
        "name=Recent\n"
        "name[de]=Zuletzt\n";
    ryt::write_file(path, text);
    {
        History h(path);
        ryt::AttachmentView view({9}, h.queue());
        view.activate(0);
        h.save();
    }
    std::string expected = text;
    expected.replace(expected.find("items=1;2;3;"), 12, "items=9;1;2;");
    // Compared as GLib lays the text out (it puts a blank line after a leading comment).
    EXPECT_EQ(ryt::read_file(path), ryt::key_file_text(expected));
    EXPECT_NE(ryt::read_file(path).find("# my reading list\n"), std::string::npos);
}

TEST_F(RecentSave, NoUsableMaxHistoryWritesEmptyList) {
    for (std::string max : {"max_history=-4\n", "max_history=many\n", ""}) {
        SCOPED_TRACE(max);
        ryt::write_file(path, "[HISTORY]\n" + max + "items=1;2;\n");
        {
            History h(path);
            ryt::AttachmentView view({9}, h.queue());
            view.activate(0);
            h.save();
        }
        EXPECT_EQ(ryt::read_file(path), "[HISTORY]\n" + max + "items=\n");
    }
}

TEST_F(RecentSave, AbsurdMaxHistoryIsKeptButSlotsAreBounded) {
    ryt::write_file(path, history_file(2147483647, "4;"));
    History(path).save();
    std::string expected_items = "4;";
    for (int i = 1; i < RY_MAX_HISTORY_SLOTS; ++i) expected_items += "-1;";
    EXPECT_EQ(ryt::read_file(path), history_file(2147483647, expected_items));
}

TEST_F(RecentSave, UnusableFileIsReplacedByANewOne) {
    ryt::write_file(path, history_file(3, "1;2;") + "this is not a key\n");
    History(path).save();
    EXPECT_EQ(ryt::read_file(path), new_file);
}

TEST_F(RecentSave, MissingDirectoryEndsQuietly) {
    std::string missing = dir.file("no/such/dir/ryx.history");
    History(missing).save();
    EXPECT_FALSE(ryt::file_exists(dir.file("no")));
}

TEST_F(RecentSave, DirectoryInPlaceOfFileStaysUntouched) {
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    ryt::write_file(dir.file("ryx.history/inside"), "x");
    History(path).save();
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(ryt::read_file(dir.file("ryx.history/inside")), "x");
}

TEST_F(RecentSave, ReadOnlyDirectoryKeepsTheOldFileWhole) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    const std::string old = history_file(3, "1;2;3;");
    ryt::write_file(path, old);
    {
        History h(path);
        ryt::AttachmentView view({9}, h.queue());
        view.activate(0);
        ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
        h.save();
        chmod(dir.path().c_str(), 0700);
    }
    EXPECT_EQ(ryt::read_file(path), old);
}

}  // namespace
