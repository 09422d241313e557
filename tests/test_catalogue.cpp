// The statement catalogue against a generated classic library: every text compiles
// on a library opened read-only, and, stepped, returns the rows the library's data implies.
// (How the listings bind these statements and build their models from the rows is the
// item listing's test.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "libgen.h"
#include "ry_library.h"
#include "ry_raii.h"
#include "ry_sql.h"
#include "test_support.h"

using namespace libgen;

namespace {

// One result row: an id and three texts (an item: title, creator first and last name).
using Row = std::tuple<int, std::string, std::string, std::string>;
using Rows = std::vector<Row>;

// A small library in which every rule of the catalogue shows: leading word groups, several
// creators, notes and attachments carrying titles and tags, nested collections, two tags
// of one name.
struct Library {
    ryt::TempDir dir;
    int art, atlas, theme, tides, year, anchors, note, shelf, inner, empty, red, blue, red_auto;
    AddedAttachment art_pdf, art_url, atlas_epub, loose;

    Library() {
        ClassicLibraryBuilder b(dir.path(), 11);
        auto item = [&](int type, std::optional<std::string> title, std::vector<Creator> creators,
                        const char* date) {
            return b.add_item({.type = type, .title = title, .creators = creators, .date_added = date});
        };
        using namespace item_type;
        art = item(book, "The Art of Listing", {{"Ann", "Zeller"}, {"Bob", "Adams"}}, "2009-03-05 10:00:00");
        atlas = item(journalArticle, "Atlas", {{"Cy", "Brown"}}, "2009-03-20 10:00:00");
        theme = item(book, "On a Theme", {}, "2009-04-01 09:00:00");
        tides = item(book, "Theory of Tides", {{"Dee", "Tanner"}}, "2009-03-20 10:00:00");
        year = item(book, "1984", {institution("Bureau of Records")}, "2009-05-01 08:00:00");
        anchors =
            item(document, "Anchors", {{"Eve", "Young"}, {"Fay", "Xu"}, {"Gus", "West"}, {"Hal", "Vance"}},
                 "2009-06-10 12:00:00");
        // A note and attachments that carry titles, dates and tags like items do.
        note = b.add_note(art, "<p>A reading note</p>", "2009-03-07 10:00:00");
        b.set_field(note, field::title, "A reading note");
        // A stored file, or with no file a linked URL.
        auto attach = [&](int parent, const char* mime, const char* file, const char* title,
                          const char* date) {
            return b.add_attachment({.parent = parent,
                                     .link_mode = *file ? LinkMode::imported_file : LinkMode::linked_url,
                                     .mime_type = mime,
                                     .file = file,
                                     .contents = "%PDF-1.4\n",
                                     .title = title,
                                     .url = *file ? "" : "http://example.org/art",
                                     .date_added = date});
        };
        art_pdf = attach(art, "application/pdf", "art.pdf", "Art full text", "2009-03-05 10:01:00");
        art_url = attach(art, "text/html", "", "A publisher page", "2009-03-05 10:02:00");
        atlas_epub = attach(atlas, "application/epub+zip", "atlas.epub", "Atlas e-book", "");
        loose = attach(0, "application/pdf", "scan.pdf", "Atlas scan", "");

        shelf = b.add_collection("Shelf");
        inner = b.add_collection("inner", shelf);
        empty = b.add_collection("empty");
        for (int item : {art, atlas, anchors}) b.add_to_collection(shelf, item);
        b.add_to_collection(inner, atlas);
        red = b.add_tag("red");
        blue = b.add_tag("blue");
        red_auto = b.add_tag("red", tag_automatic);
        for (int item : {art, atlas, note, art_pdf.item_id}) b.tag_item(item, red);
        for (int item : {art, theme}) b.tag_item(item, blue);
        for (int item : {theme, year}) b.tag_item(item, red_auto);
        b.finish();
    }
    std::string path() const { return dir.file("zotero.sqlite"); }
};

// The compiled catalogue over one read-only connection.
class Catalogue {
  public:
    explicit Catalogue(const std::string& path) {
        sqlite3* raw = nullptr;
        EXPECT_EQ(ry_open_library(path.c_str(), &raw), SQLITE_OK);
        db_.reset(raw);
        ok_ = ry_sql_try_prepare(db_.get(), statement_);
    }
    ~Catalogue() {
        for (sqlite3_stmt* s : statement_) sqlite3_finalize(s);
    }
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;
    bool ok() const { return ok_; }
    sqlite3* db() { return db_.get(); }
    sqlite3_stmt* operator[](int kind) { return statement_[kind]; }

    // Binds what a listing would bind (parameters not given stay NULL) and steps.
    Rows run(int kind, std::map<int, int> ints, std::map<int, const char*> texts = {}, int collection = 0) {
        sqlite3_stmt* s = statement_[kind];
        ry::StmtResetGuard guard(s);
        sqlite3_clear_bindings(s);
        if (collection) ints[SCID] = collection;
        for (auto [n, v] : ints) sqlite3_bind_int(s, n, v);
        for (auto [n, v] : texts) sqlite3_bind_text(s, n, v, -1, SQLITE_STATIC);
        auto text = [s](int c) {
            const unsigned char* v = c < sqlite3_column_count(s) ? sqlite3_column_text(s, c) : nullptr;
            return v ? reinterpret_cast<const char*>(v) : c < sqlite3_column_count(s) ? "<null>" : "";
        };
        Rows rows;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW)
            rows.emplace_back(sqlite3_column_int(s, 0), text(1), text(2), text(3));
        EXPECT_EQ(rc, SQLITE_DONE);
        return rows;
    }
    Rows by_title(int kind, const char* title, int collection = 0, const char* creator = nullptr) {
        std::map<int, const char*> texts{{STITLE, title}};
        if (creator) texts[SCREATOR] = creator;
        return run(kind, {}, texts, collection);
    }
    Rows by_date(int kind, const char* month, int collection = 0) {
        return run(kind, {}, {{SDATE, month}}, collection);
    }
    // One or two tags as the listing binds them: the third slot (and the second) left NULL, ?8 the sum.
    Rows by_tags(int kind, int tag, int other = 0, int collection = 0) {
        std::map<int, int> ints{{STAG0, tag}, {STAGS, tag + other}};
        if (other) ints[STAG1] = other;
        return run(kind, ints, {}, collection);
    }

  private:
    ry::unique_db db_;
    sqlite3_stmt* statement_[ZLAST] = {};
    bool ok_ = false;
};

std::vector<int> ids(const Rows& rows) {
    std::vector<int> out;
    for (const Row& r : rows) out.push_back(std::get<0>(r));
    return out;
}

// Rows whose order among themselves the statement leaves open (same sort keys) are compared as a set.
std::multiset<Row> as_set(const Rows& rows) { return {rows.begin(), rows.end()}; }

Rows cat_rows(std::initializer_list<Rows> parts) {
    Rows out;
    for (const Rows& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class CatalogueRows : public testing::Test {
  protected:
    static void SetUpTestSuite() { lib_ = new Library; }
    static void TearDownTestSuite() {
        delete lib_;
        lib_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(cat.ok());
        for (int k = 0; k < ZLAST; ++k) ASSERT_NE(cat[k], nullptr) << k;
    }
    static Library* lib_;
    const Library& L = *lib_;
    Catalogue cat{lib_->path()};

    // The rows of the fixture's items, per creator.
    Row art_adams() { return {L.art, "The Art of Listing", "Bob", "Adams"}; }
    Row art_zeller() { return {L.art, "The Art of Listing", "Ann", "Zeller"}; }
    Row atlas() { return {L.atlas, "Atlas", "Cy", "Brown"}; }
    Row theme() { return {L.theme, "On a Theme", "", ""}; }
    Row tides() { return {L.tides, "Theory of Tides", "Dee", "Tanner"}; }
    Row year() { return {L.year, "1984", "", "Bureau of Records"}; }
    Rows anchors() {
        return {{L.anchors, "Anchors", "Hal", "Vance"},
                {L.anchors, "Anchors", "Gus", "West"},
                {L.anchors, "Anchors", "Fay", "Xu"},
                {L.anchors, "Anchors", "Eve", "Young"}};
    }
    // Each case: kind, title pattern, collection (0: none), creator pattern (nullptr: none), the rows.
    void expect(const std::vector<std::tuple<int, const char*, int, const char*, Rows>>& cases) {
        for (const auto& [kind, title, collection, creator, want] : cases)
            EXPECT_EQ(cat.by_title(kind, title, collection, creator), want)
                << kind << " " << title << " " << collection << " " << (creator ? creator : "-");
    }
};
Library* CatalogueRows::lib_ = nullptr;

}  // namespace

TEST(CatalogueCompiles, FailsOnAFileThatIsNotALibraryOrLacksATableOrColumn) {
    // The text file is written as it is; the rest are changes to a library.
    std::vector<std::string> changes = {
        "this is not a database, only some text to read\n",
        "ALTER TABLE itemAttachments DROP COLUMN mimeType", "ALTER TABLE creatorData DROP COLUMN firstName",
        "ALTER TABLE tags RENAME COLUMN type TO kind", "ALTER TABLE items DROP COLUMN dateAdded"};
    for (const char* t : {"items", "itemData", "itemDataValues", "itemCreators", "creators", "creatorData",
                          "collectionItems", "tags", "itemTags", "itemAttachments"})
        changes.push_back(std::string("DROP TABLE ") + t);
    for (const std::string& change : changes) {
        Library lib;
        bool sql = isupper(change[0]);
        if (sql) {
            sqlite3* raw = nullptr;
            ASSERT_EQ(sqlite3_open(lib.path().c_str(), &raw), SQLITE_OK);
            ry::unique_db db(raw);
            ASSERT_EQ(sqlite3_exec(db.get(), change.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << change;
        } else {
            ryt::write_file(lib.path(), change);
        }
        Catalogue c(lib.path());
        EXPECT_FALSE(c.ok()) << change;
        for (int k = 0; k < ZLAST; ++k) EXPECT_EQ(c[k], nullptr) << change << " " << k;
        // The connection stays usable after the failure.
        if (sql) {
            EXPECT_EQ(sqlite3_exec(c.db(), "SELECT 1", nullptr, nullptr, nullptr), SQLITE_OK) << change;
        }
    }
}

TEST_F(CatalogueRows, TitleLetterMatchesTheTitleAndTheWordAfterALeadingGroup) {
    expect({
        // "The Art of Listing" under A through "The ", "On a Theme" through "On ".
        {ZTINCR, "[aA]*", 0, nullptr, cat_rows({anchors(), {atlas(), theme(), art_adams(), art_zeller()}})},
        // Under T "The Art of Listing" matches twice over and still gives one row per creator.
        {ZTINCR, "[tT]*", 0, nullptr, {theme(), art_adams(), art_zeller(), tides()}},
        {ZTINCR, "[^a-zA-Z]*", 0, nullptr, {year()}},  // the integer title is matched as its text
        {ZTINCR, "[qQ]*", 0, nullptr, {}},
        // Everything: the six items, neither the note nor the attachments.
        {ZTINCR, "*", 0, nullptr,
         cat_rows({{year()}, anchors(), {atlas(), theme(), art_adams(), art_zeller(), tides()}})},
        // Creator order puts items without creators first.
        {ZNCRTI, "[aA]*", 0, nullptr, cat_rows({{theme(), art_adams(), atlas()}, anchors(), {art_zeller()}})},
        {ZNCRTI, "*", 0, nullptr,
         cat_rows({{theme(), art_adams(), atlas(), year(), tides()}, anchors(), {art_zeller()}})},
        // Within a collection.
        {ZC_TINCR, "*", L.shelf, nullptr, cat_rows({anchors(), {atlas(), art_adams(), art_zeller()}})},
        {ZC_TINCR, "*", L.inner, nullptr, {atlas()}},
        {ZC_TINCR, "[tT]*", L.shelf, nullptr, {art_adams(), art_zeller()}},
        {ZC_TINCR, "*", L.empty, nullptr, {}},
        {ZC_NCRTI, "[aA]*", L.shelf, nullptr, cat_rows({{art_adams(), atlas()}, anchors(), {art_zeller()}})},
    });
}

TEST_F(CatalogueRows, CreatorLetterGivesOneRowPerMatchingCreatorOfTitledItems) {
    expect({
        {ZTICR, "*", 0, "[zZ]*", {art_zeller()}},
        {ZTICR, "[tT]*", 0, "[aA]*", {art_adams()}},
        {ZTICR, "*", 0, "[bB]*", {year(), atlas()}},  // title order: the integer title before every text
        {ZTICR, "[oO]*", 0, "*", {}},                 // "On a Theme" has no creator
        {ZCRTI, "*", 0, "*", cat_rows({{art_adams(), atlas(), year(), tides()}, anchors(), {art_zeller()}})},
        {ZCRTI, "[aA]*", 0, "[v-zV-Z]*", cat_rows({anchors(), {art_zeller()}})},
        // Both itemCreators and collectionItems have an orderIndex column, and the reference manager
        // numbers the members of a collection: the join on the collection must not match the two, or
        // creators and whole items go missing; nor may anything outside the collection come back.
        {ZC_TICR, "*", L.shelf, "*", cat_rows({anchors(), {atlas(), art_adams(), art_zeller()}})},
        {ZC_CRTI, "*", L.shelf, "*", cat_rows({{art_adams(), atlas()}, anchors(), {art_zeller()}})},
        {ZC_TICR, "*", L.inner, "*", {atlas()}},
        {ZC_CRTI, "*", L.inner, "*", {atlas()}},
        {ZC_TICR, "*", L.empty, "*", {}},
        {ZC_CRTI, "*", L.empty, "*", {}},
    });
}

TEST_F(CatalogueRows, MonthListsItemsAddedThenOldestFirstAndLaterIdsFirst) {
    // The PDF, the link and the note of "The Art of Listing" were added in March too.
    Rows march = cat.by_date(ZDATE, "2009-03%");
    EXPECT_EQ(ids(march), (std::vector<int>{L.art, L.art, L.tides, L.atlas}));
    EXPECT_EQ(as_set(march), as_set({art_adams(), art_zeller(), tides(), atlas()}));
    EXPECT_EQ(cat.by_date(ZDATE, "2009-04%"), (Rows{theme()}));
    EXPECT_EQ(cat.by_date(ZDATE, "2010-03%"), Rows{});
    std::vector<int> all = ids(cat.by_date(ZDATE, "%"));
    EXPECT_EQ(std::set<int>(all.begin(), all.end()),
              (std::set<int>{L.art, L.atlas, L.theme, L.tides, L.year, L.anchors}));
    EXPECT_EQ(all.size(), 10u);
    EXPECT_EQ(ids(cat.by_date(ZC_DATE, "2009-03%", L.shelf)), (std::vector<int>{L.art, L.art, L.atlas}));
    EXPECT_EQ(as_set(cat.by_date(ZC_DATE, "2009-06%", L.shelf)), as_set(anchors()));
    EXPECT_EQ(cat.by_date(ZC_DATE, "2009-06%", L.inner), Rows{});
}

TEST_F(CatalogueRows, TagListsItemsCarryingEveryChosenTag) {
    // One slot used: the note and the PDF carry the tag too but are no items.
    Rows red = cat.by_tags(ZTAGED, L.red);
    EXPECT_EQ(ids(red), (std::vector<int>{L.atlas, L.art, L.art}));
    EXPECT_EQ(as_set(red), as_set({atlas(), art_adams(), art_zeller()}));
    // The automatic tag of the same name is another tag.
    EXPECT_EQ(cat.by_tags(ZTAGED, L.red_auto), (Rows{year(), theme()}));
    // Two slots: only the item with both.
    EXPECT_EQ(as_set(cat.by_tags(ZTAGED, L.red, L.blue)), as_set({art_adams(), art_zeller()}));
    EXPECT_EQ(ids(cat.by_tags(ZC_TAGED, L.red, 0, L.shelf)), (std::vector<int>{L.atlas, L.art, L.art}));
    EXPECT_EQ(cat.by_tags(ZC_TAGED, L.red, 0, L.inner), (Rows{atlas()}));
    EXPECT_EQ(ids(cat.by_tags(ZC_TAGED, L.blue, 0, L.shelf)), (std::vector<int>{L.art, L.art}));
}
