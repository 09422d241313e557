// The item listing: which statement runs with which bindings, how rows merge into
// items, the separator, the recent listing, and what a failing step leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "list_fixture.h"
#include "shelf_library.h"

using ryt::ItemRow;
using ryt::separator_row;
using Rows = std::vector<ItemRow>;
using Ids = std::vector<int>;

namespace {

Ids ids(const Rows& rows) {
    Ids out;
    for (const ItemRow& r : rows) out.push_back(r.id);
    return out;
}
bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

ItemRow head(int id, const char* title, const char* first = "", const char* last = "") {
    return {id, title, first, last};
}
// A further creator of the item on the row above: the title column is never set.
ItemRow more(int id, const char* first, const char* last) { return {id, "<unset>", first, last}; }

// Title keys by letter: '*' is the first key, '#' (neither letter nor "*") the last.
const char* key(char letter) {
    return search_buttons[letter == '*' ? 0 : letter == '#' ? 27 : letter - 'A' + 1].que;
}

class Listing : public testing::Test {
  protected:
    ryt::TempDir dir;
    ryt::Shelf shelf = ryt::write_shelf(dir.path());
    ryt::ListingLibrary lib{dir.file("zotero.sqlite")};
};

// ---- binding ----

TEST_F(Listing, CollectionVariantRunsWithCidOnlyWhenPositive) {
    sql_que.cid = shelf.zeta;
    EXPECT_EQ(ids(lib.list(ZTINCR)), (Ids{shelf.atlas, shelf.atlas, shelf.atlas, shelf.art, -1}));
    EXPECT_TRUE(has(ryt::expanded(lib.statement(ZC_TINCR)), "ci.collectionID=" + std::to_string(shelf.zeta)));
    for (int whole : {-1, 0}) {
        sql_que.cid = whole;
        Ids got = ids(lib.list(ZTINCR));
        EXPECT_NE(std::find(got.begin(), got.end(), shelf.apart), got.end()) << "cid " << whole;
    }
}

// Within a collection all three parameters are bound.
TEST_F(Listing, TitleAndCreatorPatternsFilterTheirColumns) {
    sql_que.title = key('A');
    sql_que.creator = key('Z');
    EXPECT_EQ(lib.list(ZTICR), (Rows{head(shelf.apart, "Apart", "Yu", "Zulu"),
                                     head(shelf.atlas, "Atlas", "Bob", "Zed"), separator_row()}));
    sql_que.cid = shelf.alpha_collection;
    EXPECT_EQ(lib.list(ZTICR), (Rows{head(shelf.apart, "Apart", "Yu", "Zulu"), separator_row()}));
    std::string text = ryt::expanded(lib.statement(ZC_TICR));
    EXPECT_TRUE(has(text, "lastname GLOB '[zZ]*'") && has(text, "value GLOB '[aA]*'") &&
                has(text, "collectionID=" + std::to_string(shelf.alpha_collection)))
        << text;
}

TEST_F(Listing, MonthPatternIsBoundInPlace) {
    std::snprintf(sql_que.date, sizeof sql_que.date, "%4d-%02d%%", 2009, 3);
    EXPECT_EQ(ids(lib.list(ZDATE)),
              (Ids{shelf.number, shelf.atlas, shelf.atlas, shelf.atlas, shelf.art, -1}));
    // The pattern is bound in place, not copied: the record is the only storage.
    sql_que.date[6] = '4';
    EXPECT_TRUE(has(ryt::expanded(lib.statement(ZDATE)), "LIKE '2009-04%'"));
}

TEST_F(Listing, TagSlotsBoundOnlyWhilePositiveWithTheirSum) {
    const std::string a = std::to_string(shelf.tag_alpha), b = std::to_string(shelf.tag_beta);
    sql_que.tags[0] = shelf.tag_alpha;
    EXPECT_EQ(ids(lib.list(ZTAGED)), (Ids{shelf.atlas, shelf.atlas, shelf.atlas, shelf.art, -1}));
    std::string text = ryt::expanded(lib.statement(ZTAGED));
    EXPECT_TRUE(has(text, "IN (" + a + ",NULL,NULL)") && has(text, "SUM(it.tagID)=" + a + " ")) << text;
    sql_que.tags[1] = shelf.tag_beta;
    EXPECT_EQ(ids(lib.list(ZTAGED)), (Ids{shelf.atlas, shelf.atlas, shelf.atlas, -1}));
    // An empty slot ends the bindings: the third is not bound although the sum counts it,
    // and slot 1 keeps its last binding.
    sql_que.tags[1] = 0;
    sql_que.tags[2] = shelf.tag_beta;
    lib.list(ZTAGED);
    text = ryt::expanded(lib.statement(ZTAGED));
    EXPECT_TRUE(has(text, "IN (" + a + "," + b + ",NULL)")) << text;
    EXPECT_TRUE(has(text, "=" + std::to_string(shelf.tag_alpha + shelf.tag_beta) + " ")) << text;
}

// ---- merging and the separator ----

TEST_F(Listing, TitleOrderGivesOneHeadRowAndContinuationRowsPerItem) {
    sql_que.title = key('A');
    EXPECT_EQ(lib.list(ZTINCR), (Rows{
                                    head(shelf.apart, "Apart", "Xi", "Aaron"),
                                    more(shelf.apart, "Yu", "Zulu"),
                                    head(shelf.atlas, "Atlas", "Ann", "Lee"),
                                    more(shelf.atlas, "Cy", "Mid"),
                                    more(shelf.atlas, "Bob", "Zed"),
                                    head(shelf.theme, "On a Theme"),  // "On " then "a Theme"
                                    head(shelf.art, "The Art of Listing", "Tom", "Young"),
                                    separator_row(),
                                }));
    EXPECT_EQ(std::string(ry_separator_text), std::string(81, '-'));
    sql_que.title = key('Q');
    EXPECT_EQ(lib.list(ZTINCR), Rows{separator_row()});
}

TEST_F(Listing, CreatorOrderRepeatsTheTitleWhenCreatorsSortApart) {
    sql_que.title = key('A');
    EXPECT_EQ(lib.list(ZNCRTI), (Rows{
                                    head(shelf.theme, "On a Theme"),
                                    head(shelf.apart, "Apart", "Xi", "Aaron"),
                                    head(shelf.atlas, "Atlas", "Ann", "Lee"),
                                    more(shelf.atlas, "Cy", "Mid"),  // adjacent: merged
                                    head(shelf.art, "The Art of Listing", "Tom", "Young"),
                                    head(shelf.atlas, "Atlas", "Bob", "Zed"),
                                    head(shelf.apart, "Apart", "Yu", "Zulu"),
                                    separator_row(),
                                }));
}

// ---- recent listing ----

TEST_F(Listing, RecentListsHistoryHeadToTailSkippingEmptyAndVanished) {
    for (int id : {shelf.art, -1, shelf.atlas, -1, 99999, shelf.theme, -1})
        g_queue_push_tail(lib.history(), GINT_TO_POINTER(id));
    sql_que.sql = ZDATE;
    ry_list_recent_items_by_button(nullptr, lib.data());
    // One item's rows come in the library's own order: a head row, then continuations.
    Rows rows = lib.items();
    ASSERT_EQ(ids(rows), (Ids{shelf.art, shelf.atlas, shelf.atlas, shelf.atlas, shelf.theme, -1}));
    EXPECT_EQ(rows[0], head(shelf.art, "The Art of Listing", "Tom", "Young"));
    EXPECT_EQ(rows[1].title, "Atlas");
    EXPECT_EQ(rows[2].title + rows[3].title, "<unset><unset>");
    EXPECT_EQ(rows[4], head(shelf.theme, "On a Theme"));
    EXPECT_EQ(rows[5], separator_row());
    EXPECT_EQ(sql_que.sql, ZDATE);
    EXPECT_EQ(sql_que.cid, -1);
    // A history of empty slots lists the separator alone.
    g_queue_clear(lib.history());
    for (int i = 0; i < 10; ++i) g_queue_push_tail(lib.history(), GINT_TO_POINTER(-1));
    ry_list_recent_items(lib.data());
    EXPECT_EQ(lib.items(), Rows{separator_row()});
}

// ---- the focus-gated wrapper ----

TEST_F(Listing, SelectionWrapperListsOnlyWhileItsViewHasTheFocus) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    GtkWidget* button = gtk_button_new_with_label("key");
    GtkWidget* other = ry_create_attachment_list();
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), other, FALSE, FALSE, 0);
    ASSERT_TRUE(ryt::present_with_focus(window));
    sql_que.title = key('A');
    sql_que.sql = ZTINCR;
    for (GtkWidget* focus : {button, other}) {
        gtk_widget_grab_focus(focus);
        ry_list_items_by_selection(gtk_tree_view_get_selection(GTK_TREE_VIEW(other)), lib.data());
        EXPECT_EQ(lib.items().size() > 1, focus == other);
    }
    g_object_unref(gtk_tree_view_get_model(GTK_TREE_VIEW(other)));
    gtk_widget_destroy(window);
}

// ---- NULL texts ----

TEST(ListingNulls, NullNamesAndTitlesBecomeEmptyStrings) {
    ryt::TempDir dir;
    ryt::Shelf shelf = ryt::write_shelf(dir.path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("zotero.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE creatorData SET firstName=NULL WHERE lastName='Young';"
                           "UPDATE creatorData SET lastName=NULL WHERE lastName='Mid';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ryt::ListingLibrary lib(dir.file("zotero.sqlite"));
    sql_que.title = key('T');
    EXPECT_EQ(lib.list(ZTICR), (Rows{head(shelf.art, "The Art of Listing", "", "Young"), separator_row()}));
    // A NULL last name fails every creator key, but the outer join of kind 0 keeps it.
    sql_que.title = key('A');
    Rows rows = lib.list(ZTINCR);
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const ItemRow& r) {
        return r.id == shelf.atlas && r.first == "Cy" && r.last.empty();
    }));
}

// ---- a failing step ----

TEST(ListingFailure, LibraryCorruptedAfterStartUpPrintsSqlErrorAndKeepsRowsRead) {
    ryt::TempDir dir;
    int first = 0, last = 0;
    {
        libgen::ClassicLibraryBuilder b(dir.path());
        // Enough items that the first and the last live on different pages.
        for (int i = 0; i < 600; ++i) {
            last = b.add_item({.title = "Item " + std::to_string(i) + std::string(300, 'x'),
                               .creators = {{"First", "Last" + std::to_string(i)}}});
            if (i == 0) first = last;
        }
        b.finish();
    }
    std::string path = dir.file("zotero.sqlite");
    ryt::ListingLibrary lib(path);
    g_queue_push_tail(lib.history(), GINT_TO_POINTER(first));
    ry_list_recent_items(lib.data());  // the first item's pages are now cached
    ASSERT_EQ(lib.items().size(), 2u);

    // Overwrite every page but the first, leaving the change counter as it was.
    std::string bytes = ryt::read_file(path);
    const size_t page = (unsigned char)bytes[16] << 8 | (unsigned char)bytes[17];  // from the header
    std::fill(bytes.begin() + long(page), bytes.end(), char(0xA5));
    ryt::write_file(path, bytes);

    g_queue_push_tail(lib.history(), GINT_TO_POINTER(last));
    testing::internal::CaptureStderr();
    ry_list_recent_items(lib.data());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SQL error\n");
    EXPECT_EQ(lib.items(),
              (Rows{{first, "Item 0" + std::string(300, 'x'), "First", "Last0"}, separator_row()}));
    // The failed statement is left reset, ready for the next listing.
    EXPECT_FALSE(sqlite3_stmt_busy(lib.statement(ZRECENT)));
}

// ---- under another locale ----

TEST(ListingLocale, LetterKeysCompareBytesWhateverTheLocale) {
    ryt::TempDir locales, dir;
    if (!ryt::use_german_latin1_locale(locales)) GTEST_SKIP() << "no de_DE.ISO-8859-1 locale";
    int umlaut = 0, zebra = 0, apfel = 0;
    {
        libgen::ClassicLibraryBuilder b(dir.path());
        umlaut = b.add_item({.title = "Ärger im Büro"});
        zebra = b.add_item({.title = "zebra"});
        apfel = b.add_item({.title = "Apfel"});
        b.finish();
    }
    {
        ryt::ListingLibrary lib(dir.file("zotero.sqlite"));
        // A German collation would put Ärger among the A titles and zebra last.
        sql_que.title = key('*');
        EXPECT_EQ(ids(lib.list(ZTINCR)), (Ids{apfel, zebra, umlaut, -1}));
        sql_que.title = key('A');
        EXPECT_EQ(ids(lib.list(ZTINCR)), (Ids{apfel, -1}));
        sql_que.title = key('#');
        EXPECT_EQ(ids(lib.list(ZTINCR)), (Ids{umlaut, -1}));
    }
    setlocale(LC_ALL, "C");
    g_unsetenv("LOCPATH");
}

}  // namespace
