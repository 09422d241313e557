// The item listing: which statement runs with which bindings, how rows merge into
// items, the separator, the recent listing, and what a failing step leaves; the
// labels of the collection list and the tag view; the attachment listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libgen_modern.h"
#include "list_fixture.h"
#include "ry_raii.h"
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
ryt::Labels labels_of(sqlite3* db, int i) {
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    ry_initialize_labels(db, i, GTK_TREE_MODEL(model.get()));
    return ryt::label_rows(GTK_TREE_MODEL(model.get()));
}
bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

ItemRow head(int id, const char* title, const char* first = "", const char* last = "") {
    return {id, title, first, last};
}
// A further creator of the item on the row above: the title column is never set.
ItemRow more(int id, const char* first, const char* last) { return {id, "<unset>", first, last}; }

// Keys by letter: '*' is the first key, '#' (neither letter nor "*") the last.
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

// The record's fields reach the statement: the collection variant only for a
// positive collection, both letter patterns, the month pattern in place (the record
// is its only storage), and the tag slots up to the first empty one, with their sum.
TEST_F(Listing, StatementsAreBoundFromTheRecord) {
    sql_que.cid = shelf.zeta;
    EXPECT_EQ(ids(lib.list(ZTINCR)), (Ids{shelf.atlas, shelf.atlas, shelf.atlas, shelf.art, -1}));
    sql_que.cid = 0;
    EXPECT_EQ(lib.list(ZTINCR).size(), 10u) << "0: the whole library, ten rows";
    sql_que.title = key('A');
    sql_que.creator = key('Z');
    EXPECT_EQ(lib.list(ZTICR), (Rows{head(shelf.apart, "Apart", "Yu", "Zulu"),
                                     head(shelf.atlas, "Atlas", "Bob", "Zed"), separator_row()}));
    std::snprintf(sql_que.date, sizeof sql_que.date, "%4d-%02d%%", 2009, 3);
    EXPECT_EQ(ids(lib.list(ZDATE)),
              (Ids{shelf.untitled, shelf.number, shelf.atlas, shelf.atlas, shelf.atlas, shelf.art, -1}));
    sql_que.date[6] = '4';
    EXPECT_TRUE(has(ryt::expanded(lib.statement(ZDATE)), "LIKE '2009-04%'"));

    const std::string a = std::to_string(shelf.tag_alpha), b = std::to_string(shelf.tag_beta);
    sql_que.tags[0] = shelf.tag_alpha;
    sql_que.tags[1] = shelf.tag_beta;
    EXPECT_EQ(ids(lib.list(ZTAGED)), (Ids{shelf.atlas, shelf.atlas, shelf.atlas, -1}));
    // The third slot is not bound although the sum counts it; slot 1 keeps its last binding.
    sql_que.tags[1] = 0;
    sql_que.tags[2] = shelf.tag_beta;
    lib.list(ZTAGED);
    const std::string text = ryt::expanded(lib.statement(ZTAGED));
    EXPECT_TRUE(has(text, "IN (" + a + "," + b + ",NULL)")) << text;
    EXPECT_TRUE(has(text, "=" + std::to_string(shelf.tag_alpha + shelf.tag_beta) + ")")) << text;
}

// ---- merging and the separator ----

// By title, an item gives a head row and a continuation row for each further
// creator; by creator, its title repeats where its creators sort apart.
TEST_F(Listing, RowsMergeIntoItemsByTitleAndRepeatTheTitleByCreator) {
    sql_que.title = key('A');
    EXPECT_EQ(lib.list(ZTINCR),
              (Rows{head(shelf.apart, "Apart", "Xi", "Aaron"), more(shelf.apart, "Yu", "Zulu"),
                    head(shelf.atlas, "Atlas", "Ann", "Lee"), more(shelf.atlas, "Cy", "Mid"),
                    more(shelf.atlas, "Bob", "Zed"), head(shelf.theme, "On a Theme"),  // "On " then "a Theme"
                    head(shelf.art, "The Art of Listing", "Tom", "Young"), separator_row()}));
    EXPECT_EQ(
        lib.list(ZNCRTI),
        (Rows{head(shelf.theme, "On a Theme"), head(shelf.apart, "Apart", "Xi", "Aaron"),
              head(shelf.atlas, "Atlas", "Ann", "Lee"), more(shelf.atlas, "Cy", "Mid"),  // adjacent: merged
              head(shelf.art, "The Art of Listing", "Tom", "Young"), head(shelf.atlas, "Atlas", "Bob", "Zed"),
              head(shelf.apart, "Apart", "Yu", "Zulu"), separator_row()}));
    sql_que.title = key('Q');
    EXPECT_EQ(lib.list(ZTINCR), Rows{separator_row()});
}

// ---- labels ----

TEST_F(Listing, CollectionsByBytesAndTypeZeroTagsByNocaseWhateverTheLocale) {
    const ryt::Labels collections{
        {-1, "*"}, {shelf.beta_collection, "Beta"}, {shelf.zeta, "Zeta"}, {shelf.alpha_collection, "alpha"}};
    // charlie is on no item.
    const ryt::Labels tags{{shelf.tag_alpha, "alpha"}, {shelf.tag_beta, "Beta"}};
    EXPECT_EQ(labels_of(lib.db(), 0), collections);
    EXPECT_EQ(labels_of(lib.db(), 1), tags);
    ryt::TempDir locales;
    if (!ryt::use_german_latin1_locale(locales)) GTEST_SKIP() << "no de_DE.ISO-8859-1 locale";
    ryt::Labels german_collections = labels_of(lib.db(), 0), german_tags = labels_of(lib.db(), 1);
    setlocale(LC_ALL, "C");
    g_unsetenv("LOCPATH");
    EXPECT_EQ(german_collections, collections);
    EXPECT_EQ(german_tags, tags);
}

TEST(LabelsFailure, TextThatDoesNotCompileLeavesTheModelAndSaysWhy) {
    ryt::TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("other.sqlite").c_str(), &db), SQLITE_OK);
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    gtk_list_store_insert_with_values(model.get(), nullptr, -1, LABEL_ID, 7, LABEL_NAME, "before", -1);
    testing::internal::CaptureStderr();
    ry_initialize_labels(db, 0, GTK_TREE_MODEL(model.get()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SQL Error: no such table: collections\n");
    EXPECT_EQ(ryt::label_rows(GTK_TREE_MODEL(model.get())), (ryt::Labels{{7, "before"}}));
    sqlite3_close(db);
}

// ---- attachments ----

// What column n of the view shows for the model's row `row`.
std::string shown(GtkTreeView* view, int n, int row) {
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    GtkTreeIter iter;
    EXPECT_TRUE(gtk_tree_model_iter_nth_child(model, &iter, nullptr, row));
    GtkTreeViewColumn* column = gtk_tree_view_get_column(view, n);
    gtk_tree_view_column_cell_set_cell_data(column, model, &iter, FALSE, FALSE);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    gchar* text = nullptr;
    g_object_get(cells->data, "text", &text, NULL);
    g_list_free(cells);
    std::string s = text ? text : "<null>";
    g_free(text);
    return s;
}

// Under "A": Apart (rows 0, 1), Atlas (rows 2 to 4), On a Theme, The Art of Listing,
// separator. Each activation replaces the attachments, each prepended as the library
// hands it out; the separator, no selection or another listing keep them.
TEST_F(Listing, ActivatingAnItemRowListsItsAttachments) {
    sql_que.title = search_buttons[1].que;
    ASSERT_EQ(lib.list(ZTINCR)[2].id, shelf.atlas);
    EXPECT_EQ(shown(lib.item_list(), 0, 6) + "|" + shown(lib.item_list(), 1, 6) + "|" +
                  shown(lib.item_list(), 2, 6),
              "The Art of Listing|Tom|Young");
    EXPECT_EQ(shown(lib.item_list(), 1, 5), "");
    const std::vector<std::string> atlas{"application/epub+zip|storage:atlas.epub", "|http://example.org",
                                         "application/pdf|storage:atlas.pdf"};
    lib.activate_item_row(2);
    EXPECT_EQ(lib.attachments(), atlas);
    EXPECT_EQ(shown(lib.attachment_list(), 0, 0) + "|" + shown(lib.attachment_list(), 1, 0),
              "application/epub+zip|storage:atlas.epub");
    lib.activate_item_row(1);  // Apart, another item
    EXPECT_EQ(lib.attachments().size(), 1u);
    lib.activate_item_row(4);  // Atlas again, from its third creator's row
    EXPECT_EQ(lib.attachments(), atlas);
    lib.activate_item_row(7);  // the separator
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(lib.item_list()));
    ry_list_attachments(lib.item_list(), nullptr, nullptr, lib.data());
    g_queue_push_tail(lib.history(), GINT_TO_POINTER(shelf.art));
    ry_list_recent_items(lib.data());
    EXPECT_EQ(lib.attachments(), atlas);
    lib.activate_item_row(0);  // The Art of Listing: no attachments
    EXPECT_TRUE(lib.attachments().empty());
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

// ---- what a reader owns, in either generation of library ----

// One item of each shape that real libraries hold: a trashed item and its children, items
// titled by another field, a creator named twice, no title, accented initials, tags
// carried only by a note or only by the trash.
struct Owned {
    int atlas, anchor, legal, statute, email, twice, untitled, emile, collection, red, green, grey;
};

Owned fill_owned(libgen::LibraryBuilder& b) {
    using namespace libgen::item_type;
    Owned o{};
    auto item = [&](int type, std::optional<std::string> title, std::vector<libgen::Creator> creators,
                    const char* added) {
        return b.add_item({.type = type, .title = title, .creators = creators, .date_added = added});
    };
    o.atlas = item(book, "Atlas", {{"Ann", "Lee"}}, "2021-03-01 08:00:00");
    o.anchor = item(book, "Anchor", {{"Ann", "Lee"}}, "2021-03-02 08:00:00");
    o.legal = item(legal_case, "Able v. Baker", {{"Kay", "Judge"}}, "2021-04-01 08:00:00");
    o.statute = item(statute, "Clean Air Act", {}, "2021-04-02 08:00:00");
    o.email = item(email, "Subject Line", {}, "2021-04-03 08:00:00");
    o.twice =
        item(book, "Tide Tables", {{"X.", "Xu"}, {"X.", "Xu"}, {"X.", "Xu", 0, 3}}, "2021-03-03 08:00:00");
    o.untitled = item(book, std::nullopt, {{"Quinn", "Quill"}}, "2021-03-04 08:00:00");
    o.emile = item(book, "\xC3\x89mile", {{"J\xC3\xBCrgen", "\xC3\x96zkan"}}, "2021-05-01 08:00:00");
    b.add_attachment(
        {.parent = o.atlas, .mime_type = "application/pdf", .file = "a.pdf", .contents = "%PDF"});
    b.add_attachment(
        {.parent = o.anchor, .mime_type = "application/pdf", .file = "b.pdf", .contents = "%PDF"});
    int anchor_note = b.add_note(o.anchor, "<p>gone</p>");
    b.trash(o.anchor);
    o.collection = b.add_collection("Shelf");
    for (int i : {o.atlas, o.anchor, o.untitled}) b.add_to_collection(o.collection, i);
    o.red = b.add_tag("red");
    o.green = b.add_tag("green");
    o.grey = b.add_tag("grey");
    for (int i : {o.atlas, o.anchor, o.twice, o.untitled}) b.tag_item(i, o.red);
    b.tag_item(b.add_note(o.atlas, "<p>about</p>"), o.green);
    b.tag_item(anchor_note, o.grey);
    b.tag_item(o.emile, b.add_tag("automatic", libgen::tag_automatic));
    b.finish();
    return o;
}

class OwnedListing : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam()) {
            libgen::ModernLibraryBuilder b(dir.path());
            o = fill_owned(b);
        } else {
            libgen::ClassicLibraryBuilder b(dir.path());
            o = fill_owned(b);
        }
        lib = std::make_unique<ryt::ListingLibrary>(dir.file("zotero.sqlite"));
    }
    ryt::TempDir dir;
    Owned o{};
    std::unique_ptr<ryt::ListingLibrary> lib;
};

// Each visible item once under each key it matches, with all its creators; nothing trashed.
TEST_P(OwnedListing, EveryListingShowsEachVisibleItemWithAllItsCreators) {
    const Rows atlas{head(o.atlas, "Atlas", "Ann", "Lee")},
        legal{head(o.legal, "Able v. Baker", "Kay", "Judge")}, statute{head(o.statute, "Clean Air Act")},
        email{head(o.email, "Subject Line")},
        twice{head(o.twice, "Tide Tables", "X.", "Xu"), more(o.twice, "X.", "Xu"), more(o.twice, "X.", "Xu")},
        untitled{head(o.untitled, "(untitled)", "Quinn", "Quill")},
        emile{head(o.emile, "\xC3\x89mile", "J\xC3\xBCrgen", "\xC3\x96zkan")};
    struct Case {
        const char* what;
        int kind;
        char title, creator;
        const char* month;
        int tag, collection;
        std::vector<Rows> want;
    };
    const Case cases[] = {
        {"all titles", ZTINCR, '*', '*', "", 0, 0, {untitled, legal, atlas, statute, email, twice, emile}},
        {"title key A", ZTINCR, 'A', '*', "", 0, 0, {legal, atlas}},
        {"untitled under !", ZTINCR, '#', '*', "", 0, 0, {untitled}},
        {"accented title", ZTINCR, 'E', '*', "", 0, 0, {emile}},
        {"accented creator", ZCRTI, '*', 'O', "", 0, 0, {emile}},
        {"creator key L", ZCRTI, '*', 'L', "", 0, 0, {atlas}},
        {"untitled creator", ZTICR, '*', 'Q', "", 0, 0, {untitled}},
        {"month", ZDATE, '*', '*', "2021-03%", 0, 0, {atlas, twice, untitled}},
        {"tag", ZTAGED, '*', '*', "", o.red, 0, {untitled, atlas, twice}},
        {"tag on a note", ZTAGED, '*', '*', "", o.green, 0, {atlas}},
        {"tag on the trash", ZTAGED, '*', '*', "", o.grey, 0, {}},
        {"collection", ZTINCR, '*', '*', "", 0, o.collection, {untitled, atlas}},
        {"tag in collection", ZTAGED, '*', '*', "", o.red, o.collection, {untitled, atlas}},
        {"title and creator in collection", ZTICR, 'A', 'L', "", 0, o.collection, {atlas}},
    };
    for (const Case& c : cases) {
        sql_que = {c.collection ? c.collection : -1, key(c.title), key(c.creator), "", {c.tag, 0, 0}, -1};
        std::snprintf(sql_que.date, sizeof sql_que.date, "%s", c.month);
        Rows want;
        for (const Rows& item : c.want) want.insert(want.end(), item.begin(), item.end());
        want.push_back(separator_row());
        EXPECT_EQ(lib->list(c.kind), want) << c.what;
    }
    for (int id : {o.anchor, o.untitled, o.atlas}) g_queue_push_tail(lib->history(), GINT_TO_POINTER(id));
    ry_list_recent_items(lib->data());
    EXPECT_EQ(lib->items(), (Rows{untitled[0], atlas[0], separator_row()}));
}

// Only tags that lead to an item are offered; a trashed item's attachments are not listed.
TEST_P(OwnedListing, TagsLeadSomewhereAndTrashedAttachmentsStayHidden) {
    EXPECT_EQ(labels_of(lib->db(), 1), (ryt::Labels{{o.green, "green"}, {o.red, "red"}}));
    for (auto [id, n] : {std::pair{o.atlas, 1u}, {o.anchor, 0u}}) {
        GtkListStore* items = GTK_LIST_STORE(gtk_tree_view_get_model(lib->item_list()));
        gtk_list_store_clear(items);
        gtk_list_store_insert_with_values(items, nullptr, 0, ITEM_ID, id, -1);
        lib->activate_item_row(0);
        EXPECT_EQ(lib->attachments().size(), n) << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, OwnedListing, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "modern" : "classic"; });

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
        // A German collation would sort Ärger among the A titles and zebra last; the key
        // files it under A all the same.
        sql_que.title = key('*');
        EXPECT_EQ(ids(lib.list(ZTINCR)), (Ids{apfel, zebra, umlaut, -1}));
        sql_que.title = key('A');
        EXPECT_EQ(ids(lib.list(ZTINCR)), (Ids{apfel, umlaut, -1}));
        sql_que.title = key('#');
        EXPECT_EQ(ids(lib.list(ZTINCR)), (Ids{-1}));
    }
    setlocale(LC_ALL, "C");
    g_unsetenv("LOCPATH");
}

}  // namespace
