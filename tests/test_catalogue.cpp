// The statement catalogue against a generated classic library: every text compiles
// on a library opened read-only, and, stepped, returns the rows the library's data implies.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "libgen.h"
#include "ry_raii.h"
#include "ry_sql.h"
#include "test_support.h"

using namespace libgen;

namespace {

// One item row: id, title, creator first name, creator last name.
using Row = std::tuple<int, std::string, std::string, std::string>;
using Rows = std::vector<Row>;

std::string text(sqlite3_stmt* s, int col) {
    const unsigned char* t = sqlite3_column_text(s, col);
    return t ? reinterpret_cast<const char*>(t) : "<null>";
}

// The ids and names of a small library, built so that every rule of the catalogue
// shows in the rows: leading word groups, several creators, an untitled item, notes
// and attachments carrying titles and tags, nested collections, two tags of one name.
struct Library {
    ryt::TempDir dir;
    int art, atlas, theme, tides, year, anchors, untitled_case, note;
    AddedAttachment art_pdf, art_url, atlas_epub, loose;
    int shelf, inner, unused_collection;
    int red, blue, red_auto;

    Library() {
        ClassicLibraryBuilder b(dir.path(), 11);
        art = b.add_item({.type = item_type::book,
                          .title = "The Art of Listing",
                          .creators = {{"Ann", "Zeller"}, {"Bob", "Adams"}},
                          .date_added = "2009-03-05 10:00:00"});
        atlas = b.add_item({.type = item_type::journalArticle,
                            .title = "Atlas",
                            .creators = {{"Cy", "Brown"}},
                            .date_added = "2009-03-20 10:00:00"});
        theme = b.add_item({.title = "On a Theme", .date_added = "2009-04-01 09:00:00"});
        tides = b.add_item({.title = "Theory of Tides",
                            .creators = {{"Dee", "Tanner"}},
                            .date_added = "2009-03-20 10:00:00"});
        year = b.add_item({.title = "1984",
                           .creators = {institution("Bureau of Records")},
                           .date_added = "2009-05-01 08:00:00"});
        anchors =
            b.add_item({.type = item_type::document,
                        .title = "Anchors",
                        .creators = {{"Eve", "Young"}, {"Fay", "Xu"}, {"Gus", "West"}, {"Hal", "Vance"}},
                        .date_added = "2009-06-10 12:00:00"});
        // A case has a case name, not a title.
        untitled_case = b.add_item({.type = item_type::legal_case,
                                    .creators = {{"Ann", "Zeller"}},
                                    .date_added = "2009-03-06 10:00:00"});
        b.set_field(untitled_case, field::caseName, "Able v. Baker");
        // A note and attachments that carry titles, dates and tags like items do.
        note = b.add_note(art, "<p>A reading note</p>", "2009-03-07 10:00:00");
        b.set_field(note, field::title, "A reading note");
        Attachment a;
        a.parent = art;
        a.mime_type = "application/pdf";
        a.file = "art.pdf";
        a.contents = "%PDF-1.4\n";
        a.title = "Art full text";
        a.date_added = "2009-03-05 10:01:00";
        art_pdf = b.add_attachment(a);
        Attachment u;
        u.parent = art;
        u.link_mode = LinkMode::linked_url;
        u.mime_type = "text/html";
        u.url = "http://example.org/art";
        u.title = "A publisher page";
        u.date_added = "2009-03-05 10:02:00";
        art_url = b.add_attachment(u);
        Attachment e;
        e.parent = atlas;
        e.mime_type = "application/epub+zip";
        e.file = "atlas.epub";
        e.contents = "PK";
        e.title = "Atlas e-book";
        atlas_epub = b.add_attachment(e);
        Attachment l;
        l.mime_type = "application/pdf";
        l.file = "scan.pdf";
        l.contents = "%PDF-1.4\n";
        l.title = "Atlas scan";
        loose = b.add_attachment(l);

        shelf = b.add_collection("Shelf");
        inner = b.add_collection("inner", shelf);
        unused_collection = b.add_collection("empty");
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

ry::unique_db open_read_only(const std::string& path) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    return ry::unique_db(db);
}

// The compiled catalogue over one read-only connection.
class Catalogue {
  public:
    explicit Catalogue(const std::string& path) : db_(open_read_only(path)) {
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

    // Resets the statement of a kind; the caller binds what the listing would bind.
    sqlite3_stmt* fresh(int kind) {
        sqlite3_stmt* s = statement_[kind];
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        return s;
    }
    static Rows item_rows(sqlite3_stmt* s) {
        ry::StmtResetGuard guard(s);
        Rows rows;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW)
            rows.emplace_back(sqlite3_column_int(s, 0), text(s, 1), text(s, 2), text(s, 3));
        EXPECT_EQ(rc, SQLITE_DONE);
        return rows;
    }
    // ?2 and, when given, ?1 (collection) and ?3 (creator).
    Rows by_title(int kind, const char* title, int collection = 0, const char* creator = nullptr) {
        sqlite3_stmt* s = fresh(kind);
        if (collection > 0) sqlite3_bind_int(s, SCID, collection);
        sqlite3_bind_text(s, STITLE, title, -1, SQLITE_STATIC);
        if (creator) sqlite3_bind_text(s, SCREATOR, creator, -1, SQLITE_STATIC);
        return item_rows(s);
    }
    Rows by_date(int kind, const char* month, int collection = 0) {
        sqlite3_stmt* s = fresh(kind);
        if (collection > 0) sqlite3_bind_int(s, SCID, collection);
        sqlite3_bind_text(s, SDATE, month, -1, SQLITE_STATIC);
        return item_rows(s);
    }
    // Tag slots as the listing binds them: the empty ones are left NULL.
    sqlite3_stmt* bind_tags(int kind, std::vector<int> tags, int collection = 0) {
        sqlite3_stmt* s = fresh(kind);
        if (collection > 0) sqlite3_bind_int(s, SCID, collection);
        int sum = 0;
        for (size_t k = 0; k < tags.size(); ++k) {
            sqlite3_bind_int(s, STAG0 + int(k), tags[k]);
            sum += tags[k];
        }
        sqlite3_bind_int(s, STAGS, sum);
        return s;
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

// Rows whose order among themselves the statement leaves open (same sort keys) are
// compared as a set.
std::multiset<Row> as_set(const Rows& rows) { return {rows.begin(), rows.end()}; }

class CatalogueRows : public testing::Test {
  protected:
    static void SetUpTestSuite() { lib_ = new Library; }
    static void TearDownTestSuite() {
        delete lib_;
        lib_ = nullptr;
    }
    void SetUp() override {
        cat_ = std::make_unique<Catalogue>(lib_->path());
        ASSERT_TRUE(cat_->ok());
    }
    static Library* lib_;
    std::unique_ptr<Catalogue> cat_;
    Catalogue& cat() { return *cat_; }
    const Library& L() { return *lib_; }

    // The rows of the items the fixture gives, per creator.
    Row art_adams() { return {L().art, "The Art of Listing", "Bob", "Adams"}; }
    Row art_zeller() { return {L().art, "The Art of Listing", "Ann", "Zeller"}; }
    Row atlas() { return {L().atlas, "Atlas", "Cy", "Brown"}; }
    Row theme() { return {L().theme, "On a Theme", "", ""}; }
    Row tides() { return {L().tides, "Theory of Tides", "Dee", "Tanner"}; }
    Row year() { return {L().year, "1984", "", "Bureau of Records"}; }
    Rows anchors() {
        return {{L().anchors, "Anchors", "Hal", "Vance"},
                {L().anchors, "Anchors", "Gus", "West"},
                {L().anchors, "Anchors", "Fay", "Xu"},
                {L().anchors, "Anchors", "Eve", "Young"}};
    }
};
Library* CatalogueRows::lib_ = nullptr;

Rows cat_rows(std::initializer_list<Rows> parts) {
    Rows out;
    for (const Rows& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

// ---- compiling --------------------------------------------------------------

TEST(CatalogueCompiles, OnGeneratedLibrariesOpenedReadOnly) {
    Library small;
    Catalogue a(small.path());
    EXPECT_TRUE(a.ok());
    for (int k = 0; k < ZLAST; ++k) EXPECT_NE(a[k], nullptr) << k;

    ryt::TempDir demo_dir;
    {
        ClassicLibraryBuilder b(demo_dir.path());
        write_demo_library(b, std::time(nullptr));
    }
    Catalogue demo(demo_dir.file("zotero.sqlite"));
    EXPECT_TRUE(demo.ok());
    // The demo's notes and attachments never come back as items, whatever the letter.
    std::set<int> not_items;
    ry::unique_stmt s;
    {
        sqlite3_stmt* raw = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(demo.db(), "SELECT itemID FROM items WHERE itemTypeID IN (1,14)", -1,
                                     &raw, nullptr),
                  SQLITE_OK);
        s.reset(raw);
    }
    while (sqlite3_step(s.get()) == SQLITE_ROW) not_items.insert(sqlite3_column_int(s.get(), 0));
    ASSERT_FALSE(not_items.empty());
    Rows all = demo.by_title(ZTINCR, "*");
    EXPECT_GE(all.size(), 90u);
    Rows dated = demo.by_date(ZDATE, "%");
    for (const Rows* rows : {&all, &dated})
        for (const Row& r : *rows) EXPECT_FALSE(not_items.count(std::get<0>(r))) << std::get<1>(r);
}

TEST(CatalogueCompiles, FailsOnAFileThatIsNotALibrary) {
    ryt::TempDir dir;
    {
        // An empty database.
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(dir.file("empty.sqlite").c_str(), &raw), SQLITE_OK);
        sqlite3_close(raw);
    }
    ryt::write_file(dir.file("text.sqlite"), "this is not a database, only some text to read\n");
    for (const char* name : {"empty.sqlite", "text.sqlite"}) {
        Catalogue c(dir.file(name));
        EXPECT_FALSE(c.ok()) << name;
        for (int k = 0; k < ZLAST; ++k) EXPECT_EQ(c[k], nullptr) << name << " " << k;
    }
}

TEST(CatalogueCompiles, FailsWhenOneTableOrColumnIsMissing) {
    const char* changes[] = {
        "DROP TABLE items",
        "DROP TABLE itemData",
        "DROP TABLE itemDataValues",
        "DROP TABLE itemCreators",
        "DROP TABLE creators",
        "DROP TABLE creatorData",
        "DROP TABLE collectionItems",
        "DROP TABLE tags",
        "DROP TABLE itemTags",
        "DROP TABLE itemAttachments",
        "ALTER TABLE itemAttachments DROP COLUMN mimeType",
        "ALTER TABLE creatorData DROP COLUMN firstName",
        "ALTER TABLE tags RENAME COLUMN type TO kind",
        "ALTER TABLE items DROP COLUMN dateAdded",
    };
    for (const char* change : changes) {
        Library lib;
        {
            sqlite3* raw = nullptr;
            ASSERT_EQ(sqlite3_open(lib.path().c_str(), &raw), SQLITE_OK);
            ry::unique_db db(raw);
            ASSERT_EQ(sqlite3_exec(db.get(), change, nullptr, nullptr, nullptr), SQLITE_OK)
                << change << ": " << sqlite3_errmsg(db.get());
        }
        Catalogue c(lib.path());
        EXPECT_FALSE(c.ok()) << change;
        for (int k = 0; k < ZLAST; ++k) EXPECT_EQ(c[k], nullptr) << change << " " << k;
        // The connection stays usable after the failure.
        EXPECT_EQ(sqlite3_exec(c.db(), "SELECT 1", nullptr, nullptr, nullptr), SQLITE_OK);
    }
}

// ---- the rows ---------------------------------------------------------------

TEST_F(CatalogueRows, TitleLetterMatchesTheTitleAndTheWordAfterALeadingGroup) {
    // "The Art of Listing" under A through "The ", "On a Theme" through "On ".
    EXPECT_EQ(cat().by_title(ZTINCR, "[aA]*"),
              cat_rows({anchors(), {atlas(), theme(), art_adams(), art_zeller()}}));
    // Under T "The Art of Listing" matches twice over and still gives one row per creator.
    EXPECT_EQ(cat().by_title(ZTINCR, "[tT]*"), (Rows{theme(), art_adams(), art_zeller(), tides()}));
    // The integer title is matched as its text.
    EXPECT_EQ(cat().by_title(ZTINCR, "[^a-zA-Z]*"), (Rows{year()}));
    EXPECT_EQ(cat().by_title(ZTINCR, "[qQ]*"), Rows{});
    // Everything: the six titled items, neither the untitled case nor the note or attachments.
    EXPECT_EQ(cat().by_title(ZTINCR, "*"),
              cat_rows({{year()}, anchors(), {atlas(), theme(), art_adams(), art_zeller(), tides()}}));
}

TEST_F(CatalogueRows, CreatorOrderPutsItemsWithoutCreatorsFirst) {
    EXPECT_EQ(cat().by_title(ZNCRTI, "[aA]*"),
              cat_rows({{theme(), art_adams(), atlas()}, anchors(), {art_zeller()}}));
    EXPECT_EQ(cat().by_title(ZNCRTI, "*"),
              cat_rows({{theme(), art_adams(), atlas(), year(), tides()}, anchors(), {art_zeller()}}));
}

TEST_F(CatalogueRows, TitleLetterWithinACollection) {
    EXPECT_EQ(cat().by_title(ZC_TINCR, "*", L().shelf),
              cat_rows({anchors(), {atlas(), art_adams(), art_zeller()}}));
    EXPECT_EQ(cat().by_title(ZC_TINCR, "*", L().inner), (Rows{atlas()}));
    EXPECT_EQ(cat().by_title(ZC_TINCR, "[tT]*", L().shelf), (Rows{art_adams(), art_zeller()}));
    EXPECT_EQ(cat().by_title(ZC_TINCR, "*", L().unused_collection), Rows{});
    EXPECT_EQ(cat().by_title(ZC_NCRTI, "[aA]*", L().shelf),
              cat_rows({{art_adams(), atlas()}, anchors(), {art_zeller()}}));
}

TEST_F(CatalogueRows, CreatorLetterGivesOneRowPerMatchingCreatorOfTitledItems) {
    // The case's creator matches too, but the case has no title.
    EXPECT_EQ(cat().by_title(ZTICR, "*", 0, "[zZ]*"), (Rows{art_zeller()}));
    EXPECT_EQ(cat().by_title(ZTICR, "[tT]*", 0, "[aA]*"), (Rows{art_adams()}));
    // Title order: the integer title sorts before every text.
    EXPECT_EQ(cat().by_title(ZTICR, "*", 0, "[bB]*"), (Rows{year(), atlas()}));
    EXPECT_EQ(cat().by_title(ZTICR, "[oO]*", 0, "*"), Rows{});  // "On a Theme" has no creator
    EXPECT_EQ(cat().by_title(ZCRTI, "*", 0, "*"),
              cat_rows({{art_adams(), atlas(), year(), tides()}, anchors(), {art_zeller()}}));
    EXPECT_EQ(cat().by_title(ZCRTI, "[aA]*", 0, "[v-zV-Z]*"), cat_rows({anchors(), {art_zeller()}}));
}

// Both itemCreators and collectionItems have an orderIndex column, and the reference
// manager numbers the members of a collection: the join on the collection must not
// match the two, or creators and whole items go missing.
TEST_F(CatalogueRows, CreatorLetterWithinACollectionKeepsEveryCreator) {
    EXPECT_EQ(cat().by_title(ZC_TICR, "*", L().shelf, "*"),
              cat_rows({anchors(), {atlas(), art_adams(), art_zeller()}}));
    EXPECT_EQ(cat().by_title(ZC_CRTI, "*", L().shelf, "*"),
              cat_rows({{art_adams(), atlas()}, anchors(), {art_zeller()}}));
}

TEST_F(CatalogueRows, CreatorLetterWithinACollectionKeepsOnlyMembers) {
    // Whatever the join keeps, nothing outside the collection comes back.
    for (int kind : {ZC_TICR, ZC_CRTI}) {
        for (int id : ids(cat().by_title(kind, "*", L().shelf, "*")))
            EXPECT_TRUE(id == L().art || id == L().atlas || id == L().anchors) << kind << " " << id;
        for (int id : ids(cat().by_title(kind, "*", L().inner, "*"))) EXPECT_EQ(id, L().atlas) << kind;
        EXPECT_EQ(cat().by_title(kind, "*", L().unused_collection, "*"), Rows{}) << kind;
    }
}

TEST_F(CatalogueRows, MonthListsItemsAddedThenOldestFirstAndLaterIdsFirst) {
    // The PDF, the link and the note of "The Art of Listing" were added in March too.
    Rows march = cat().by_date(ZDATE, "2009-03%");
    EXPECT_EQ(ids(march), (std::vector<int>{L().art, L().art, L().tides, L().atlas}));
    EXPECT_EQ(as_set(march), as_set({art_adams(), art_zeller(), tides(), atlas()}));
    EXPECT_EQ(cat().by_date(ZDATE, "2009-04%"), (Rows{theme()}));
    EXPECT_EQ(cat().by_date(ZDATE, "2010-03%"), Rows{});
    std::vector<int> all = ids(cat().by_date(ZDATE, "%"));
    EXPECT_EQ(std::set<int>(all.begin(), all.end()),
              (std::set<int>{L().art, L().atlas, L().theme, L().tides, L().year, L().anchors}));
    EXPECT_EQ(all.size(), 10u);

    Rows shelf_march = cat().by_date(ZC_DATE, "2009-03%", L().shelf);
    EXPECT_EQ(ids(shelf_march), (std::vector<int>{L().art, L().art, L().atlas}));
    EXPECT_EQ(as_set(cat().by_date(ZC_DATE, "2009-06%", L().shelf)), as_set(anchors()));
    EXPECT_EQ(cat().by_date(ZC_DATE, "2009-06%", L().inner), Rows{});
}

TEST_F(CatalogueRows, TagListsItemsCarryingEveryChosenTag) {
    // One slot used: the other two stay NULL and the sum is that tag's id. The note and
    // the PDF carry the tag too but are no items.
    Rows red = Catalogue::item_rows(cat().bind_tags(ZTAGED, {L().red}));
    EXPECT_EQ(ids(red), (std::vector<int>{L().atlas, L().art, L().art}));
    EXPECT_EQ(as_set(red), as_set({atlas(), art_adams(), art_zeller()}));
    // The automatic tag of the same name is another tag.
    EXPECT_EQ(Catalogue::item_rows(cat().bind_tags(ZTAGED, {L().red_auto})), (Rows{year(), theme()}));
    // Two slots: only the item with both.
    EXPECT_EQ(as_set(Catalogue::item_rows(cat().bind_tags(ZTAGED, {L().red, L().blue}))),
              as_set({art_adams(), art_zeller()}));

    EXPECT_EQ(ids(Catalogue::item_rows(cat().bind_tags(ZC_TAGED, {L().red}, L().shelf))),
              (std::vector<int>{L().atlas, L().art, L().art}));
    EXPECT_EQ(Catalogue::item_rows(cat().bind_tags(ZC_TAGED, {L().red}, L().inner)), (Rows{atlas()}));
    EXPECT_EQ(ids(Catalogue::item_rows(cat().bind_tags(ZC_TAGED, {L().blue}, L().shelf))),
              (std::vector<int>{L().art, L().art}));
}

TEST_F(CatalogueRows, TagsOfTheTaggedItemsComeAutomaticFirstThenByNameDescending) {
    auto tag_rows = [](sqlite3_stmt* s) {
        ry::StmtResetGuard guard(s);
        std::vector<std::pair<int, std::string>> rows;
        while (sqlite3_step(s) == SQLITE_ROW) rows.emplace_back(sqlite3_column_int(s, 0), text(s, 1));
        return rows;
    };
    using Tags = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(tag_rows(cat().bind_tags(ZTAG, {L().blue})),
              (Tags{{L().red_auto, "red"}, {L().red, "red"}, {L().blue, "blue"}}));
    EXPECT_EQ(tag_rows(cat().bind_tags(ZC_TAG, {L().blue}, L().shelf)),
              (Tags{{L().red, "red"}, {L().blue, "blue"}}));
    EXPECT_EQ(tag_rows(cat().bind_tags(ZC_TAG, {L().blue}, L().inner)), Tags{});
}

TEST_F(CatalogueRows, AttachmentsOfAnItemWithPathAndTheirOwnKey) {
    auto attachments = [&](int item) {
        sqlite3_stmt* s = cat().fresh(ZAT);
        sqlite3_bind_int(s, SITID, item);
        ry::StmtResetGuard guard(s);
        std::set<std::tuple<int, std::string, std::string, std::string>> rows;
        while (sqlite3_step(s) == SQLITE_ROW)
            rows.emplace(sqlite3_column_int(s, 0), text(s, 1), text(s, 2), text(s, 3));
        return rows;
    };
    using Set = std::set<std::tuple<int, std::string, std::string, std::string>>;
    EXPECT_EQ(attachments(L().art), (Set{{L().art, "application/pdf", "storage:art.pdf", L().art_pdf.key},
                                         {L().art, "text/html", "<null>", L().art_url.key}}));
    EXPECT_EQ(attachments(L().atlas),
              (Set{{L().atlas, "application/epub+zip", "storage:atlas.epub", L().atlas_epub.key}}));
    EXPECT_EQ(attachments(L().theme), Set{});
    // The key leads to the stored file.
    EXPECT_TRUE(ryt::file_exists(L().dir.file("storage/" + L().art_pdf.key + "/art.pdf")));
}

TEST_F(CatalogueRows, RecentListsOneTitledItem) {
    auto recent = [&](int item) {
        sqlite3_stmt* s = cat().fresh(ZRECENT);
        sqlite3_bind_int(s, SREID, item);
        return Catalogue::item_rows(s);
    };
    EXPECT_EQ(as_set(recent(L().art)), as_set({art_adams(), art_zeller()}));
    EXPECT_EQ(recent(L().theme), (Rows{theme()}));
    EXPECT_EQ(recent(L().year), (Rows{year()}));
    for (int none : {L().note, L().art_pdf.item_id, L().loose.item_id, L().untitled_case, 99999})
        EXPECT_EQ(recent(none), Rows{}) << none;
}
