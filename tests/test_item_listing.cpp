// The item listing over libraries of both generations: which statement runs with
// which bindings, how rows merge into items, the separator, the recent listing and
// what a failing step leaves; the labels of the collection list and the tag view;
// the attachment listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "ry_raii.h"
#include "window_fixture.h"

using ryt::ItemRow;
using ryt::separator_row;
using Rows = std::vector<ItemRow>;
using Ids = std::vector<int>;
using Strings = std::vector<std::string>;

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

// One item of each shape that real libraries hold: several creators that sort apart,
// a leading word group, a trashed item and its children, items titled by another
// field, a creator named twice, no title, accented initials, attachments of each kind,
// collections and tags in mixed case, tags carried only by a note or only by the trash.
struct Shelf {
    int atlas, anchor, apart, theme, legal, statute, email, twice, untitled, emile;
    int collection, zeta, alpha, red, green, grey;
};

Shelf fill_shelf(libgen::LibraryBuilder& b) {
    using namespace libgen::item_type;
    Shelf s{};
    auto item = [&](int type, std::optional<std::string> title, std::vector<libgen::Creator> creators,
                    const char* added) {
        return b.add_item({.type = type, .title = title, .creators = creators, .date_added = added});
    };
    s.atlas = item(book, "Atlas", {{"Ann", "Lee"}}, "2021-03-01 08:00:00");
    s.anchor = item(book, "Anchor", {{"Ann", "Lee"}}, "2021-03-02 08:00:00");
    s.apart = item(book, "Apart", {{"Xi", "Aaron"}, {"Bob", "Zed"}, {"Cy", "Mid"}}, "2020-01-05 08:00:00");
    s.theme = item(book, "On a Theme", {}, "2021-06-01 08:00:00");
    s.legal = item(legal_case, "Able v. Baker", {{"Kay", "Judge"}}, "2021-04-01 08:00:00");
    s.statute = item(statute, "Clean Air Act", {}, "2021-04-02 08:00:00");
    s.email = item(email, "Subject Line", {}, "2021-04-03 08:00:00");
    s.twice =
        item(book, "Tide Tables", {{"X.", "Xu"}, {"X.", "Xu"}, {"X.", "Xu", 0, 3}}, "2021-03-03 08:00:00");
    s.untitled = item(book, std::nullopt, {{"Quinn", "Quill"}}, "2021-03-04 08:00:00");
    s.emile = item(book, "\xC3\x89mile", {{"J\xC3\xBCrgen", "\xC3\x96zkan"}}, "2021-05-01 08:00:00");
    b.add_attachment(
        {.parent = s.atlas, .mime_type = "application/pdf", .file = "a.pdf", .contents = "%PDF"});
    b.add_attachment(
        {.parent = s.anchor, .mime_type = "application/pdf", .file = "b.pdf", .contents = "%PDF"});
    b.add_attachment(
        {.parent = s.apart, .mime_type = "application/pdf", .file = "apart.pdf", .contents = "%PDF"});
    b.add_attachment(
        {.parent = s.apart, .link_mode = libgen::LinkMode::linked_url, .url = "http://example.org"});
    b.add_attachment(
        {.parent = s.apart, .mime_type = "application/epub+zip", .file = "apart.epub", .contents = "PK"});
    b.add_attachment({.parent = s.theme, .mime_type = "text/html", .file = "theme.html", .contents = "<p>"});
    int anchor_note = b.add_note(s.anchor, "<p>gone</p>");
    b.trash(s.anchor);
    s.collection = b.add_collection("Shelf");
    s.zeta = b.add_collection("Zeta");
    s.alpha = b.add_collection("alpha");
    for (int i : {s.atlas, s.anchor, s.untitled}) b.add_to_collection(s.collection, i);
    s.red = b.add_tag("Red");
    s.green = b.add_tag("green");
    s.grey = b.add_tag("grey");
    b.add_tag("charlie");
    for (int i : {s.atlas, s.anchor, s.twice, s.untitled}) b.tag_item(i, s.red);
    b.tag_item(b.add_note(s.atlas, "<p>about</p>"), s.green);
    b.tag_item(anchor_note, s.grey);
    b.tag_item(s.emile, b.add_tag("automatic", libgen::tag_automatic));
    b.finish();
    return s;
}

// The shelf in a library of the older generation (false) or of the current one.
class Listing : public ryt::WindowFixture, public testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        build([this](libgen::LibraryBuilder& b) { s = fill_shelf(b); }, GetParam());
    }
    Shelf s{};
};

// Each visible item once under each key it matches, with all its creators; nothing
// trashed.
TEST_P(Listing, EveryListingShowsEachVisibleItemWithAllItsCreators) {
    const Rows atlas{head(s.atlas, "Atlas", "Ann", "Lee")},
        apart{head(s.apart, "Apart", "Xi", "Aaron"), more(s.apart, "Cy", "Mid"), more(s.apart, "Bob", "Zed")},
        theme{head(s.theme, "On a Theme")},  // also under A, by "a Theme"
        legal{head(s.legal, "Able v. Baker", "Kay", "Judge")}, statute{head(s.statute, "Clean Air Act")},
        email{head(s.email, "Subject Line")},
        twice{head(s.twice, "Tide Tables", "X.", "Xu"), more(s.twice, "X.", "Xu"), more(s.twice, "X.", "Xu")},
        untitled{head(s.untitled, "(untitled)", "Quinn", "Quill")},
        emile{head(s.emile, "\xC3\x89mile", "J\xC3\xBCrgen", "\xC3\x96zkan")};
    struct Case {
        const char* what;
        int kind;
        char title, creator;
        const char* month;
        int tag, collection;
        std::vector<Rows> want;
    };
    const Case cases[] = {
        {"all",
         ZTINCR,
         '*',
         '*',
         "",
         0,
         0,
         {untitled, legal, apart, atlas, statute, theme, email, twice, emile}},
        {"title key A", ZTINCR, 'A', '*', "", 0, 0, {legal, apart, atlas, theme}},
        {"untitled under !", ZTINCR, '#', '*', "", 0, 0, {untitled}},
        {"accented title", ZTINCR, 'E', '*', "", 0, 0, {emile}},
        {"accented creator", ZCRTI, '*', 'O', "", 0, 0, {emile}},
        {"creator key L", ZCRTI, '*', 'L', "", 0, 0, {atlas}},
        {"untitled creator", ZTICR, '*', 'Q', "", 0, 0, {untitled}},
        {"month", ZDATE, '*', '*', "2021-03%", 0, 0, {atlas, twice, untitled}},
        {"tag", ZTAGED, '*', '*', "", s.red, 0, {untitled, atlas, twice}},
        {"tag on a note", ZTAGED, '*', '*', "", s.green, 0, {atlas}},
        {"tag on the trash", ZTAGED, '*', '*', "", s.grey, 0, {}},
        {"collection", ZTINCR, '*', '*', "", 0, s.collection, {untitled, atlas}},
        {"tag in collection", ZTAGED, '*', '*', "", s.red, s.collection, {untitled, atlas}},
        {"title and creator in collection", ZTICR, 'A', 'L', "", 0, s.collection, {atlas}},
    };
    for (const Case& c : cases) {
        sql_que = {c.collection ? c.collection : -1, key(c.title), key(c.creator), "", {c.tag, 0, 0}, -1};
        std::snprintf(sql_que.date, sizeof sql_que.date, "%s", c.month);
        Rows want;
        for (const Rows& item : c.want) want.insert(want.end(), item.begin(), item.end());
        want.push_back(separator_row());
        EXPECT_EQ(list(c.kind), want) << c.what;
    }
    // By creator, an item's title repeats where its creators sort apart.
    sql_que = {-1, key('A'), key('*'), "", {0, 0, 0}, -1};
    EXPECT_EQ(list(ZNCRTI), (Rows{theme[0], apart[0], legal[0], atlas[0], head(s.apart, "Apart", "Cy", "Mid"),
                                  more(s.apart, "Bob", "Zed"), separator_row()}));
    // Neither the recent list nor the attachment list shows the trash.
    list_recent({s.anchor, s.untitled, s.atlas});
    EXPECT_EQ(items(), (Rows{untitled[0], atlas[0], separator_row()}));
    activate_item_row(1);
    EXPECT_EQ(attachments(), Strings{"application/pdf|storage:a.pdf"});
    GtkListStore* items = GTK_LIST_STORE(gtk_tree_view_get_model(item_list()));
    gtk_list_store_insert_with_values(items, nullptr, 0, ITEM_ID, s.anchor, -1);
    activate_item_row(0);
    EXPECT_EQ(attachments(), Strings{});
}

// The record's fields reach the statement: the collection variant only for a
// positive collection, both letter patterns, the month pattern in place (the record
// is its only storage), and the tag slots up to the first empty one, with their sum.
TEST_P(Listing, StatementsAreBoundFromTheRecord) {
    const Rows whole = list(ZTINCR);
    sql_que.cid = 0;
    EXPECT_EQ(list(ZTINCR), whole) << "0: the whole library";
    sql_que.title = key('A');
    sql_que.creator = key('Z');
    EXPECT_EQ(list(ZTICR), (Rows{head(s.apart, "Apart", "Bob", "Zed"), separator_row()}));
    std::snprintf(sql_que.date, sizeof sql_que.date, "%s", "2021-03%");
    list(ZDATE);
    sql_que.date[6] = '4';
    EXPECT_TRUE(has(ryt::expanded(statements_[ZDATE]), "LIKE '2021-04%'"));

    const std::string r = std::to_string(s.red), g = std::to_string(s.green);
    sql_que.tags[0] = s.red;
    sql_que.tags[1] = s.green;
    EXPECT_EQ(ids(list(ZTAGED)), (Ids{s.atlas, -1}));
    // The third slot is not bound although the sum counts it; slot 1 keeps its last binding.
    sql_que.tags[1] = 0;
    sql_que.tags[2] = s.green;
    list(ZTAGED);
    const std::string text = ryt::expanded(statements_[ZTAGED]);
    EXPECT_TRUE(has(text, "IN (" + r + "," + g + ",NULL)")) << text;
    EXPECT_TRUE(has(text, "=" + std::to_string(s.red + s.green) + ")")) << text;
}

// Collections by bytes; tags that lead to an item by the collation the library
// gives their names: letter case ignored in the older generation, bytes in the
// current one. Under a German locale the lists and labels come in the same order.
TEST_P(Listing, ListsAndLabelsCompareBytesWhateverTheLocale) {
    const ryt::Labels collections{{-1, "*"}, {s.collection, "Shelf"}, {s.zeta, "Zeta"}, {s.alpha, "alpha"}},
        tags = GetParam() ? ryt::Labels{{s.red, "Red"}, {s.green, "green"}}
                          : ryt::Labels{{s.green, "green"}, {s.red, "Red"}};
    EXPECT_EQ(labels_of(db_, 0), collections);
    EXPECT_EQ(labels_of(db_, 1), tags);
    const Rows titles = list(ZTINCR);
    ryt::TempDir locales;
    if (!ryt::use_german_latin1_locale(locales)) GTEST_SKIP() << "no de_DE.ISO-8859-1 locale";
    ryt::Labels german_collections = labels_of(db_, 0), german_tags = labels_of(db_, 1);
    const Rows german_titles = list(ZTINCR);
    setlocale(LC_ALL, "C");
    g_unsetenv("LOCPATH");
    EXPECT_EQ(german_collections, collections);
    EXPECT_EQ(german_tags, tags);
    EXPECT_EQ(german_titles, titles);
}

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
    std::string str = text ? text : "<null>";
    g_free(text);
    return str;
}

// Under "A": Able v. Baker, Apart (rows 1 to 3), Atlas, On a Theme, separator. Each
// activation replaces the attachments, each prepended as the library hands it out;
// the separator, no selection or another listing keep them.
TEST_P(Listing, ActivatingAnItemRowListsItsAttachments) {
    sql_que.title = key('A');
    ASSERT_EQ(list(ZTINCR)[1].id, s.apart);
    EXPECT_EQ(shown(item_list(), 0, 0) + "|" + shown(item_list(), 1, 0) + "|" + shown(item_list(), 2, 0),
              "Able v. Baker|Kay|Judge");
    EXPECT_EQ(shown(item_list(), 1, 5), "");
    const Strings apart{"application/epub+zip|storage:apart.epub", "|http://example.org",
                        "application/pdf|storage:apart.pdf"};
    activate_item_row(1);
    EXPECT_EQ(attachments(), apart);
    EXPECT_EQ(shown(attachment_list(), 0, 0) + "|" + shown(attachment_list(), 1, 0),
              "application/epub+zip|storage:apart.epub");
    activate_item_row(5);  // On a Theme
    EXPECT_EQ(attachments(), Strings{"text/html|storage:theme.html"});
    activate_item_row(3);  // Apart again, from its third creator's row
    EXPECT_EQ(attachments(), apart);
    activate_item_row(6);  // the separator
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(item_list()));
    ry_list_attachments(item_list(), nullptr, nullptr, &search_data_);
    list_recent({s.legal});
    EXPECT_EQ(attachments(), apart);
    activate_item_row(0);  // Able v. Baker: no attachments
    EXPECT_EQ(attachments(), Strings{});
}

// One item's rows come in the library's own order: a head row, then continuations.
TEST_P(Listing, RecentListsHistoryHeadToTailSkippingEmptyAndVanished) {
    for (int id : {s.legal, -1, s.apart, -1, 99999, s.theme, -1})
        g_queue_push_tail(&history_, GINT_TO_POINTER(id));
    sql_que.sql = ZDATE;
    ry_list_recent_items_by_button(nullptr, &search_data_);
    Rows rows = items();
    ASSERT_EQ(ids(rows), (Ids{s.legal, s.apart, s.apart, s.apart, s.theme, -1}));
    EXPECT_EQ(rows[0], head(s.legal, "Able v. Baker", "Kay", "Judge"));
    EXPECT_EQ(rows[1].title + "|" + rows[2].title + "|" + rows[3].title, "Apart|<unset>|<unset>");
    EXPECT_EQ(rows[4], head(s.theme, "On a Theme"));
    EXPECT_EQ(sql_que.sql, ZDATE);
    EXPECT_EQ(sql_que.cid, -1);
    // A history of empty slots lists the separator alone.
    g_queue_clear(&history_);
    list_recent({-1, -1, -1, -1, -1, -1, -1, -1, -1, -1});
    EXPECT_EQ(items(), Rows{separator_row()});
}

INSTANTIATE_TEST_SUITE_P(Generations, Listing, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "modern" : "classic"; });

using Library = ryt::WindowFixture;

TEST_F(Library, NullNamesBecomeEmptyStrings) {
    Shelf s{};
    write_library([&](libgen::LibraryBuilder& b) { s = fill_shelf(b); }, false);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir_.file("zotero.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE creatorData SET firstName=NULL WHERE lastName='Judge';"
                           "UPDATE creatorData SET lastName=NULL WHERE lastName='Mid';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    open_window();
    // A NULL last name fails every creator key, but the outer join of kind 0 keeps it.
    sql_que.title = key('A');
    EXPECT_EQ(list(ZTICR),
              (Rows{head(s.legal, "Able v. Baker", "", "Judge"), head(s.apart, "Apart", "Xi", "Aaron"),
                    more(s.apart, "Bob", "Zed"), head(s.atlas, "Atlas", "Ann", "Lee"), separator_row()}));
    Rows rows = list(ZTINCR);
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const ItemRow& r) {
        return r.id == s.apart && r.first == "Cy" && r.last.empty();
    }));
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

TEST_F(Library, CorruptedAfterStartUpPrintsSqlErrorAndKeepsRowsRead) {
    int first = 0, last = 0;
    build([&](libgen::LibraryBuilder& b) {
        // Enough items that the first and the last live on different pages.
        for (int i = 0; i < 600; ++i) {
            last = b.add_item({.title = "Item " + std::to_string(i) + std::string(300, 'x'),
                               .creators = {{"First", "Last" + std::to_string(i)}}});
            if (i == 0) first = last;
        }
    });
    list_recent({first});  // the first item's pages are now cached
    ASSERT_EQ(items().size(), 2u);

    // Overwrite every page but the first, leaving the change counter as it was.
    const std::string path = dir_.file("zotero.sqlite");
    std::string bytes = ryt::read_file(path);
    const size_t page = (unsigned char)bytes[16] << 8 | (unsigned char)bytes[17];  // from the header
    std::fill(bytes.begin() + long(page), bytes.end(), char(0xA5));
    ryt::write_file(path, bytes);

    testing::internal::CaptureStderr();
    list_recent({last});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SQL error\n");
    EXPECT_EQ(items(), (Rows{{first, "Item 0" + std::string(300, 'x'), "First", "Last0"}, separator_row()}));
    // The failed statement is left reset, ready for the next listing.
    EXPECT_FALSE(sqlite3_stmt_busy(statements_[ZRECENT]));
}

}  // namespace
