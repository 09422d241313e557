// The item listing: which statement runs with which bindings, how rows merge into
// items, the separator, the recent listing, and what a failing step leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "list_fixture.h"
#include "shelf_library.h"

using ryt::ItemRow;
using ryt::separator_row;

namespace {

class Listing : public testing::Test {
  protected:
    ryt::TempDir dir;
    ryt::Shelf shelf = ryt::write_shelf(dir.path());
    ryt::ListingLibrary lib{dir.file("zotero.sqlite")};

    std::vector<int> ids(const std::vector<ItemRow>& rows) {
        std::vector<int> out;
        for (const ItemRow& r : rows) out.push_back(r.id);
        return out;
    }
};

ItemRow head(int id, const char* title, const char* first, const char* last) {
    return {id, title, first, last};
}
// A further creator of the item on the row above: the title column is never set.
ItemRow more(int id, const char* first, const char* last) { return {id, "<unset>", first, last}; }

// ---- binding ----

TEST_F(Listing, CollectionVariantRunsWithCidOnlyWhenPositive) {
    sql_que.cid = shelf.zeta;
    EXPECT_EQ(ids(lib.list(ZTINCR)),
              (std::vector<int>{shelf.atlas, shelf.atlas, shelf.atlas, shelf.art, -1}));
    EXPECT_NE(ryt::expanded(lib.statement(ZC_TINCR)).find("ci.collectionID=" + std::to_string(shelf.zeta)),
              std::string::npos);

    for (int whole : {-1, 0}) {
        sql_que.cid = whole;
        std::vector<int> got = ids(lib.list(ZTINCR));
        EXPECT_NE(std::find(got.begin(), got.end(), shelf.apart), got.end()) << "cid " << whole;
    }
}

TEST_F(Listing, TitleAndCreatorPatternsFilterTheirColumns) {
    sql_que.title = search_buttons[1].que;     // A
    sql_que.creator = search_buttons[26].que;  // Z
    EXPECT_EQ(lib.list(ZTICR),
              (std::vector<ItemRow>{head(shelf.apart, "Apart", "Yu", "Zulu"),
                                    head(shelf.atlas, "Atlas", "Bob", "Zed"), separator_row()}));
    // Restricted to a collection, all three parameters are bound, and a later
    // creator of a member is found as well as its first one.
    sql_que.cid = shelf.alpha_collection;
    EXPECT_EQ(lib.list(ZTICR),
              (std::vector<ItemRow>{head(shelf.apart, "Apart", "Yu", "Zulu"), separator_row()}));
    sql_que.creator = search_buttons[1].que;
    EXPECT_EQ(lib.list(ZTICR),
              (std::vector<ItemRow>{head(shelf.apart, "Apart", "Xi", "Aaron"), separator_row()}));
    std::string text = ryt::expanded(lib.statement(ZC_TICR));
    EXPECT_NE(text.find("lastname GLOB '[aA]*'"), std::string::npos);
    EXPECT_NE(text.find("value GLOB '[aA]*'"), std::string::npos);
}

TEST_F(Listing, MonthPatternSelectsDateAddedInDateThenIdDescendingOrder) {
    std::snprintf(sql_que.date, sizeof sql_que.date, "%4d-%02d%%", 2009, 3);
    std::vector<int> got = ids(lib.list(ZDATE));
    // 1984 and Atlas were added at the same second: the larger id comes first.
    EXPECT_EQ(got, (std::vector<int>{shelf.number, shelf.atlas, shelf.atlas, shelf.atlas, shelf.art, -1}));
    // The pattern is bound in place, not copied: the record is the only storage.
    sql_que.date[6] = '4';
    EXPECT_NE(ryt::expanded(lib.statement(ZDATE)).find("LIKE '2009-04%'"), std::string::npos);
}

TEST_F(Listing, OneTagSlotBindsOnlyItselfAndTheSum) {
    sql_que.tags[0] = shelf.tag_alpha;
    EXPECT_EQ(ids(lib.list(ZTAGED)),
              (std::vector<int>{shelf.atlas, shelf.atlas, shelf.atlas, shelf.art, -1}));
    std::string text = ryt::expanded(lib.statement(ZTAGED));
    std::string t = std::to_string(shelf.tag_alpha);
    EXPECT_NE(text.find("IN (" + t + ",NULL,NULL)"), std::string::npos) << text;
    EXPECT_NE(text.find("SUM(it.tagID)=" + t + " "), std::string::npos);
}

TEST_F(Listing, TwoTagSlotsKeepItemsCarryingBoth) {
    sql_que.tags[0] = shelf.tag_alpha;
    sql_que.tags[1] = shelf.tag_beta;
    EXPECT_EQ(ids(lib.list(ZTAGED)), (std::vector<int>{shelf.atlas, shelf.atlas, shelf.atlas, -1}));
    // An empty slot ends the bindings: the third is not bound although the sum counts it.
    sql_que.tags[1] = 0;
    sql_que.tags[2] = shelf.tag_beta;
    lib.list(ZTAGED);
    std::string text = ryt::expanded(lib.statement(ZTAGED));
    EXPECT_NE(
        text.find("IN (" + std::to_string(shelf.tag_alpha) + "," + std::to_string(shelf.tag_beta) + ",NULL)"),
        std::string::npos)
        << "slot 1 keeps its last binding";
    EXPECT_NE(text.find("=" + std::to_string(shelf.tag_alpha + shelf.tag_beta) + " "), std::string::npos);
}

TEST_F(Listing, NothingHappensBeforeAKindIsChosen) {
    sql_que.title = search_buttons[1].que;
    lib.list(ZTINCR);
    std::vector<ItemRow> before = lib.items();
    sql_que.sql = -1;
    sql_que.cid = shelf.zeta;
    ry_list_items_by_row_activation(nullptr, nullptr, nullptr, lib.data());
    EXPECT_EQ(lib.items(), before);
    EXPECT_EQ(gtk_tree_view_get_model(lib.item_list()), lib.item_model());
    EXPECT_NE(lib.item_model(), nullptr);
}

// ---- merging ----

TEST_F(Listing, TitleOrderGivesOneHeadRowAndContinuationRowsPerItem) {
    sql_que.title = search_buttons[1].que;
    EXPECT_EQ(lib.list(ZTINCR), (std::vector<ItemRow>{
                                    head(shelf.apart, "Apart", "Xi", "Aaron"),
                                    more(shelf.apart, "Yu", "Zulu"),
                                    head(shelf.atlas, "Atlas", "Ann", "Lee"),
                                    more(shelf.atlas, "Cy", "Mid"),
                                    more(shelf.atlas, "Bob", "Zed"),
                                    head(shelf.theme, "On a Theme", "", ""),  // "On " then "a Theme"
                                    head(shelf.art, "The Art of Listing", "Tom", "Young"),
                                    separator_row(),
                                }));
}

TEST_F(Listing, EmptyResultIsTheSeparatorAlone) {
    sql_que.title = search_buttons[17].que;  // Q
    EXPECT_EQ(lib.list(ZTINCR), (std::vector<ItemRow>{separator_row()}));
    EXPECT_EQ(std::string(ry_separator_text), std::string(81, '-'));
}

TEST_F(Listing, CreatorOrderRepeatsTheTitleWhenCreatorsSortApart) {
    sql_que.title = search_buttons[1].que;
    EXPECT_EQ(lib.list(ZNCRTI), (std::vector<ItemRow>{
                                    head(shelf.theme, "On a Theme", "", ""),
                                    head(shelf.apart, "Apart", "Xi", "Aaron"),
                                    head(shelf.atlas, "Atlas", "Ann", "Lee"),
                                    more(shelf.atlas, "Cy", "Mid"),  // adjacent: merged
                                    head(shelf.art, "The Art of Listing", "Tom", "Young"),
                                    head(shelf.atlas, "Atlas", "Bob", "Zed"),
                                    head(shelf.apart, "Apart", "Yu", "Zulu"),
                                    separator_row(),
                                }));
}

TEST_F(Listing, ItemWithoutCreatorsOnlyInKindsThatJoinCreatorsFromOutside) {
    sql_que.title = search_buttons[15].que;  // O
    EXPECT_EQ(lib.list(ZTINCR),
              (std::vector<ItemRow>{head(shelf.theme, "On a Theme", "", ""), separator_row()}));
    EXPECT_EQ(lib.list(ZTICR), (std::vector<ItemRow>{separator_row()}));
}

// ---- the leading word groups ----

TEST_F(Listing, TitleAfterALeadingGroupIsListedUnderBothLettersOncePerCreator) {
    sql_que.title = search_buttons[20].que;  // T: "The Art" as itself, "On a Theme" after "On a "
    EXPECT_EQ(lib.list(ZTINCR),
              (std::vector<ItemRow>{head(shelf.theme, "On a Theme", "", ""),
                                    head(shelf.art, "The Art of Listing", "Tom", "Young"), separator_row()}));
    // "The [tT]*" matches too, yet the item comes once per creator row.
    EXPECT_EQ(lib.list(ZTICR),
              (std::vector<ItemRow>{head(shelf.art, "The Art of Listing", "Tom", "Young"), separator_row()}));
    sql_que.title = search_buttons[1].que;
    std::vector<int> under_a = ids(lib.list(ZTINCR));
    EXPECT_EQ(std::count(under_a.begin(), under_a.end(), shelf.art), 1);
}

TEST_F(Listing, NumericAndNonLetterTitlesUnderTheLastKey) {
    sql_que.title = search_buttons[27].que;
    EXPECT_EQ(lib.list(ZTINCR),
              (std::vector<ItemRow>{head(shelf.number, "1984", "Geo", "Orwell"), separator_row()}));
}

// ---- notes and attachment items ----

TEST_F(Listing, NotesAndAttachmentItemsAreNeverListed) {
    sql_que.tags[0] = shelf.tag_alpha;
    std::snprintf(sql_que.date, sizeof sql_que.date, "%%");
    for (int cid : {-1, shelf.zeta}) {
        sql_que.cid = cid;
        for (int kind : {ZTINCR, ZNCRTI, ZDATE, ZTAGED}) {
            std::vector<int> got = ids(lib.list(kind));
            EXPECT_GT(got.size(), 1u) << "kind " << kind << " cid " << cid;
            for (int id : {shelf.note, shelf.attachment_item, shelf.pdf, shelf.untitled})
                EXPECT_EQ(std::count(got.begin(), got.end(), id), 0) << "kind " << kind << " cid " << cid;
        }
    }
    g_queue_push_tail(lib.history(), GINT_TO_POINTER(shelf.note));
    g_queue_push_tail(lib.history(), GINT_TO_POINTER(shelf.attachment_item));
    ry_list_recent_items(lib.data());
    EXPECT_EQ(lib.items(), (std::vector<ItemRow>{separator_row()}));
}

// ---- recent listing ----

TEST_F(Listing, RecentListsHistoryHeadToTailSkippingEmptyAndVanished) {
    for (int id : {shelf.art, -1, shelf.atlas, -1, 99999, shelf.theme, -1})
        g_queue_push_tail(lib.history(), GINT_TO_POINTER(id));
    sql_que.sql = ZDATE;
    ry_sql_que before = sql_que;
    ry_list_recent_items_by_button(nullptr, lib.data());
    std::vector<ItemRow> rows = lib.items();
    EXPECT_EQ(ids(rows),
              (std::vector<int>{shelf.art, shelf.atlas, shelf.atlas, shelf.atlas, shelf.theme, -1}));
    EXPECT_EQ(rows[0], head(shelf.art, "The Art of Listing", "Tom", "Young"));
    // One item's rows come in the library's own order: a head row, then continuations.
    EXPECT_EQ(rows[1].title, "Atlas");
    EXPECT_EQ(rows[2].title, "<unset>");
    EXPECT_EQ(rows[3].title, "<unset>");
    EXPECT_EQ(rows[4], head(shelf.theme, "On a Theme", "", ""));
    EXPECT_EQ(rows[5], separator_row());
    EXPECT_EQ(sql_que.sql, before.sql);
    EXPECT_EQ(sql_que.cid, before.cid);
}

TEST_F(Listing, RecentWithEmptyHistoryIsTheSeparatorAlone) {
    sql_que.title = search_buttons[1].que;
    lib.list(ZTINCR);
    for (int i = 0; i < 10; ++i) g_queue_push_tail(lib.history(), GINT_TO_POINTER(-1));
    ry_list_recent_items(lib.data());
    EXPECT_EQ(lib.items(), (std::vector<ItemRow>{separator_row()}));
    EXPECT_NE(lib.item_model(), nullptr);
}

// ---- focus-gated wrappers ----

TEST_F(Listing, SelectionWrapperListsOnlyWhileItsViewHasTheFocus) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    GtkWidget* button = gtk_button_new_with_label("key");
    GtkWidget* other = ry_create_attachment_list();
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), other, FALSE, FALSE, 0);
    ASSERT_TRUE(ryt::present_with_focus(window));
    sql_que.title = search_buttons[1].que;
    sql_que.sql = ZTINCR;

    gtk_widget_grab_focus(button);
    ry_list_items_by_selection(gtk_tree_view_get_selection(GTK_TREE_VIEW(other)), lib.data());
    EXPECT_EQ(lib.items().size(), 0u);
    gtk_widget_grab_focus(other);
    ry_list_items_by_selection(gtk_tree_view_get_selection(GTK_TREE_VIEW(other)), lib.data());
    EXPECT_GT(lib.items().size(), 1u);
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
    sql_que.title = search_buttons[20].que;
    EXPECT_EQ(lib.list(ZTICR),
              (std::vector<ItemRow>{head(shelf.art, "The Art of Listing", "", "Young"), separator_row()}));
    // A NULL last name fails every creator key, but the outer join of kind 0 keeps it.
    sql_que.title = search_buttons[1].que;
    std::vector<ItemRow> rows = lib.list(ZTINCR);
    EXPECT_NE(std::find_if(
                  rows.begin(), rows.end(),
                  [&](const ItemRow& r) { return r.id == shelf.atlas && r.first == "Cy" && r.last.empty(); }),
              rows.end());
}

// ---- failing steps ----

// Lets a statement run for `budget` progress calls, then interrupts it.
struct Interrupter {
    int budget;
    static int tick(void* self) { return --static_cast<Interrupter*>(self)->budget < 0; }
};

TEST_F(Listing, InterruptedStepKeepsRowsReadAndStillEndsWithTheSeparator) {
    for (int i = 0; i < 3; ++i)
        g_queue_push_tail(lib.history(), GINT_TO_POINTER(i == 1 ? shelf.atlas : shelf.art));
    ry_list_recent_items(lib.data());
    std::vector<ItemRow> full = lib.items();
    ASSERT_EQ(full.size(), 6u);

    // Find a budget that stops the walk after the first entry's rows.
    for (int budget = 1; budget < 2000; ++budget) {
        Interrupter stop{budget};
        sqlite3_progress_handler(lib.db(), 1, Interrupter::tick, &stop);
        ryt::StderrCapture err;
        ry_list_recent_items(lib.data());
        std::string message = err.take();
        sqlite3_progress_handler(lib.db(), 0, nullptr, nullptr);
        std::vector<ItemRow> rows = lib.items();
        if (message.empty()) {
            EXPECT_EQ(rows, full);
            break;
        }
        EXPECT_EQ(message.substr(0, 10), "SQL error\n");
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back(), separator_row());
        // What came before the failure is a prefix of the full list.
        for (size_t i = 0; i + 1 < rows.size(); ++i) EXPECT_EQ(rows[i], full[i]) << "budget " << budget;
    }
    // Every statement is left reset: listing again works unchanged.
    ry_list_recent_items(lib.data());
    EXPECT_EQ(lib.items(), full);
}

TEST(ListingFailure, LibraryCorruptedAfterStartUpPrintsSqlErrorAndKeepsRowsRead) {
    ryt::TempDir dir;
    int first = 0, last = 0;
    {
        libgen::ClassicLibraryBuilder b(dir.path());
        // Enough items that the first and the last live on different pages.
        std::string padding(300, 'x');
        for (int i = 0; i < 600; ++i) {
            int id = b.add_item({.title = "Item " + std::to_string(i) + " " + padding,
                                 .creators = {{"First" + std::to_string(i), "Last" + std::to_string(i)}}});
            if (i == 0) first = id;
            last = id;
        }
        b.finish();
    }
    std::string path = dir.file("zotero.sqlite");
    ryt::ListingLibrary lib(path);
    g_queue_push_tail(lib.history(), GINT_TO_POINTER(first));
    ry_list_recent_items(lib.data());  // the first item's pages are now cached
    ASSERT_EQ(lib.items().size(), 2u);

    // Overwrite every page but the first, leaving the change counter as it was.
    sqlite3_stmt* size = nullptr;
    sqlite3_prepare_v2(lib.db(), "PRAGMA page_size", -1, &size, nullptr);
    sqlite3_step(size);
    long page = sqlite3_column_int(size, 0);
    sqlite3_finalize(size);
    std::string bytes = ryt::read_file(path);
    for (size_t i = page; i < bytes.size(); ++i) bytes[i] = char(0xA5);
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    g_queue_push_tail(lib.history(), GINT_TO_POINTER(last));
    ryt::StderrCapture err;
    ry_list_recent_items(lib.data());
    EXPECT_EQ(err.take(), "SQL error\n");
    std::vector<ItemRow> rows = lib.items();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, first);
    EXPECT_EQ(rows[1], separator_row());
}

// ---- under another locale ----

TEST(ListingLocale, LetterKeysCompareBytesWhateverTheLocale) {
    ryt::TempDir locales;
    std::string target = locales.file("de_DE.ISO-8859-1");
    std::string cmd = "localedef -i de_DE -f ISO-8859-1 " + target + " >/dev/null 2>&1";
    if (!setlocale(LC_ALL, "de_DE.ISO-8859-1")) {
        if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "no de_DE.ISO-8859-1 locale";
        g_setenv("LOCPATH", locales.path().c_str(), TRUE);
        if (!setlocale(LC_ALL, "de_DE.ISO-8859-1")) GTEST_SKIP() << "no de_DE.ISO-8859-1 locale";
    }
    ryt::TempDir dir;
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
        sql_que.title = search_buttons[0].que;
        std::vector<ItemRow> rows = lib.list(ZTINCR);
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows[0].id, apfel);
        EXPECT_EQ(rows[1].id, zebra);
        EXPECT_EQ(rows[2].id, umlaut);
        sql_que.title = search_buttons[1].que;
        EXPECT_EQ(lib.list(ZTINCR).size(), 2u);
        sql_que.title = search_buttons[27].que;
        rows = lib.list(ZTINCR);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].title, "Ärger im Büro");
    }
    setlocale(LC_ALL, "C");
    g_unsetenv("LOCPATH");
}

}  // namespace
