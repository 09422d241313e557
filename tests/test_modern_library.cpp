// Libraries of current versions of the reference manager, read through the classic
// statements: both numberings of types and fields, the trash, feeds, groups, WAL files,
// libraries that another process holds locked, and classic libraries left as they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "libgen.h"
#include "libgen_modern.h"
#include "library_files.h"
#include "lock_holder.h"
#include "ry_library.h"
#include "ry_que.h"
#include "ry_raii.h"
#include "ry_sql.h"
#include "test_support.h"

using libgen::Creator;
using libgen::Item;
using libgen::ModernLibraryBuilder;
using libgen::Numbering;

namespace {

// One result row of an item statement: id, title, first name, last name.
using Row = std::tuple<int, std::string, std::string, std::string>;
using Rows = std::vector<Row>;

// Steps s to the end: an id and up to three texts per row.
Rows rows_of(sqlite3_stmt* s) {
    auto text = [s](int c) {
        const unsigned char* t = c < sqlite3_column_count(s) ? sqlite3_column_text(s, c) : nullptr;
        return t ? reinterpret_cast<const char*>(t) : "";
    };
    Rows rows;
    int step;
    while ((step = sqlite3_step(s)) == SQLITE_ROW)
        rows.emplace_back(sqlite3_column_int(s, 0), text(1), text(2), text(3));
    EXPECT_EQ(step, SQLITE_DONE) << sqlite3_errmsg(sqlite3_db_handle(s));
    return rows;
}

// The ids of everything the fixture wrote.
struct Fixture {
    int atlas, art, anchor_doc, roe_case, clean_air, email, group_paper, feed_story, trashed_book;
    int child_note, loose_note, atlas_pdf, atlas_link, trashed_attachment, loose_pdf, annotation;
    int orphan_pdf, orphan_note;  // live children of the trashed book
    int beta, zeta, alpha, group_shelf, old_trash;
    int maps, reading, both, auto_only;
    std::string atlas_pdf_key, atlas_link_key;
};

// The same content in either numbering. Each trap shows: the feed story and the trashed
// book begin with "A" like the listed items, the document is type 14 in the fresh
// numbering, the url field is 110 there.
Fixture fill(ModernLibraryBuilder& b) {
    using namespace libgen::item_type;
    auto item = [&](int type, const char* title, std::vector<Creator> creators, const char* added) {
        return b.add_item({.type = type, .title = title, .creators = creators, .date_added = added});
    };
    auto attach = [&](int parent, const char* file, const char* title, const char* mime = "application/pdf") {
        return b.add_attachment(
            {.parent = parent,
             .link_mode = *file ? libgen::LinkMode::imported_file : libgen::LinkMode::linked_url,
             .mime_type = mime,
             .file = file,
             .title = title,
             .url = *file ? "" : "http://example.org/atlas",
             .date_added = "2021-03-05 08:00:00"});
    };
    Fixture f{};
    f.atlas = item(book, "Atlas of Clouds", {{"Ann", "Lee"}, {"Bob", "Zed"}}, "2021-03-04 10:00:00");
    b.set_field(f.atlas, libgen::field::url, "http://example.org/atlas");
    f.art = item(journalArticle, "The Art of Listing", {{"Carl", "Moss"}}, "2021-03-15 09:00:00");
    f.anchor_doc = item(document, "Anchor Document", {}, "2021-04-01 08:00:00");
    f.roe_case = item(legal_case, "Roe Case", {{"Kay", "Judge"}}, "2021-04-02 08:00:00");
    f.clean_air = item(statute, "Clean Air Act", {}, "2021-05-01 08:00:00");
    f.email = item(email, "Subject Line", {}, "2021-05-02 08:00:00");
    f.trashed_book = item(book, "Another Trashed Book", {{"Ann", "Lee"}}, "2021-03-10 08:00:00");
    b.trash(f.trashed_book);

    f.child_note = b.add_note(f.atlas, "<p>About the atlas</p>", "2021-03-05 08:00:00");
    f.loose_note = b.add_note(0, "<p>A loose note</p>", "2021-03-06 08:00:00");
    auto stored = attach(f.atlas, "atlas.pdf", "Appendix PDF"),
         link = attach(f.atlas, "", "Atlas site", "text/html");
    std::tie(f.atlas_pdf, f.atlas_pdf_key, f.atlas_link, f.atlas_link_key) =
        std::tuple(stored.item_id, stored.key, link.item_id, link.key);
    f.trashed_attachment = attach(f.atlas, "old.pdf", "Old").item_id;
    b.trash(f.trashed_attachment);
    f.loose_pdf = attach(0, "loose.pdf", "A loose PDF").item_id;
    f.annotation = b.add_annotation(f.atlas_pdf, "A highlighted passage");
    f.orphan_pdf = attach(f.trashed_book, "orphan.pdf", "Abandoned PDF").item_id;
    f.orphan_note = b.add_note(f.trashed_book, "<p>Under the trash</p>");

    f.beta = b.add_collection("Beta");
    f.zeta = b.add_collection("Zeta");
    f.alpha = b.add_collection("alpha");
    f.old_trash = b.add_collection("Old Trash");
    b.trash_collection(f.old_trash);
    // Members come after some other collection's, so that their positions differ
    // from the positions of their creators.
    for (auto [c, i] : {std::pair{f.zeta, f.anchor_doc},
                        {f.zeta, f.roe_case},
                        {f.beta, f.trashed_book},
                        {f.beta, f.atlas},
                        {f.beta, f.art},
                        {f.alpha, f.clean_air},
                        {f.old_trash, f.email}})
        b.add_to_collection(c, i);

    f.maps = b.add_tag("maps");
    f.reading = b.add_tag("reading");
    f.auto_only = b.add_tag("auto-only", libgen::tag_automatic);
    f.both = b.add_tag("both");
    for (auto [i, t] : {std::pair{f.atlas, f.maps},
                        {f.art, f.maps},
                        {f.trashed_book, f.maps},
                        {f.art, f.reading},
                        {f.roe_case, f.both}})
        b.tag_item(i, t, libgen::tag_manual);
    for (int t : {f.auto_only, f.both}) b.tag_item(f.anchor_doc, t, libgen::tag_automatic);

    b.use_library(b.add_group("Reading Group"));
    f.group_paper = item(book, "Group Paper", {{"Gail", "Group"}}, "2021-06-01 08:00:00");
    f.group_shelf = b.add_collection("Group Shelf");
    b.add_to_collection(f.group_shelf, f.group_paper);
    b.use_library(b.add_feed("News", "http://example.org/feed.xml"));
    f.feed_story = item(journalArticle, "A Feed Story", {{"Fay", "Lamb"}}, "2021-03-20 08:00:00");
    b.use_library(1);
    return f;
}

// A library opened as the program opens it, with the catalogue prepared.
class Library {
  public:
    explicit Library(const std::string& path) {
        if (ry_open_library(path.c_str(), &db_) == SQLITE_OK)
            prepared_ = ry_sql_try_prepare(db_, statements_);
    }
    ~Library() {
        if (prepared_)
            for (auto* s : statements_) sqlite3_finalize(s);
        sqlite3_close(db_);
        ry_close_library();
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool prepared() const { return prepared_; }
    sqlite3* db() const { return db_; }

    // Steps kind k with the bindings the listings make: ints by parameter number, texts likewise.
    Rows run(int k, const std::map<int, int>& ints, const std::map<int, const char*>& texts = {}) {
        sqlite3_stmt* s = statements_[k];
        ry::StmtResetGuard reset(s);
        sqlite3_clear_bindings(s);
        for (auto [n, v] : ints) sqlite3_bind_int(s, n, v);
        for (auto [n, v] : texts) sqlite3_bind_text(s, n, v, -1, SQLITE_STATIC);
        return rows_of(s);
    }
    Rows query(const char* sql) {
        sqlite3_stmt* raw = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
        ry::unique_stmt s(raw);
        return rows_of(s.get());
    }
    int views() { return std::get<0>(query("SELECT count(*) FROM temp.sqlite_master WHERE type='view'")[0]); }

  private:
    sqlite3* db_ = nullptr;
    bool prepared_ = false;
    sqlite3_stmt* statements_[ZLAST] = {};
};

// Rows of one item whose order among themselves no ORDER BY fixes: sorted by last name.
Rows creators_sorted(Rows rows) {
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j < rows.size() && std::get<0>(rows[j]) == std::get<0>(rows[i])) ++j;
        std::sort(rows.begin() + long(i), rows.begin() + long(j),
                  [](const Row& a, const Row& b) { return std::get<3>(a) < std::get<3>(b); });
        i = j;
    }
    return rows;
}

class ModernListing : public testing::TestWithParam<Numbering> {
  protected:
    void SetUp() override {
        ModernLibraryBuilder b(dir_.path(), {.numbering = GetParam()});
        f_ = fill(b);
        b.finish();
        lib_ = std::make_unique<Library>(b.database_path());
        ASSERT_TRUE(lib_->prepared());
    }
    static Row label(int id, const char* name) { return {id, name, "", ""}; }

    ryt::TempDir dir_;
    Fixture f_;
    std::unique_ptr<Library> lib_;
};

// The trashed book and the feed story begin with "A", have creators Lee and Lamb, were
// added in March and carry a tag, like the items listed: every kind must leave them out.
TEST_P(ModernListing, EveryKindListsOnlyLiveRegularItemsOfOwnLibraries) {
    const Row anchor{f_.anchor_doc, "Anchor Document", "", ""},
        atlas_lee{f_.atlas, "Atlas of Clouds", "Ann", "Lee"},
        atlas_zed{f_.atlas, "Atlas of Clouds", "Bob", "Zed"},
        art{f_.art, "The Art of Listing", "Carl", "Moss"}, roe{f_.roe_case, "Roe Case", "Kay", "Judge"},
        group{f_.group_paper, "Group Paper", "Gail", "Group"},
        clean_air{f_.clean_air, "Clean Air Act", "", ""}, email{f_.email, "Subject Line", "", ""};
    auto tag = [](int t, int cid = 0) {
        std::map<int, int> ints{{STAG0, t}, {STAGS, t}};
        if (cid) ints[SCID] = cid;
        return ints;
    };
    struct Case {
        int kind;
        std::map<int, int> ints;
        std::map<int, const char*> texts;
        Rows want;
    };
    const Case cases[] = {
        {ZTINCR, {}, {{STITLE, "[aA]*"}}, {anchor, atlas_lee, atlas_zed, art}},
        // Cases, statutes and e-mails by the field that stands for their title.
        {ZTINCR, {}, {{STITLE, "*"}}, {anchor, atlas_lee, atlas_zed, clean_air, group, roe, email, art}},
        {ZC_TINCR, {{SCID, f_.beta}}, {{STITLE, "[aA]*"}}, {atlas_lee, atlas_zed, art}},
        {ZNCRTI, {}, {{STITLE, "*"}}, {anchor, clean_air, email, group, roe, atlas_lee, art, atlas_zed}},
        {ZC_NCRTI, {{SCID, f_.zeta}}, {{STITLE, "*"}}, {anchor, roe}},
        // These reach titles without the items table.
        {ZTICR, {}, {{STITLE, "*"}, {SCREATOR, "[lL]*"}}, {atlas_lee}},
        {ZCRTI, {}, {{STITLE, "*"}, {SCREATOR, "*"}}, {group, roe, atlas_lee, art, atlas_zed}},
        // Every creator of every member, whatever the member's position in the collection.
        {ZC_TICR, {{SCID, f_.beta}}, {{STITLE, "*"}, {SCREATOR, "*"}}, {atlas_lee, atlas_zed, art}},
        {ZC_CRTI, {{SCID, f_.zeta}}, {{STITLE, "[rR]*"}, {SCREATOR, "*"}}, {roe}},
        {ZDATE, {}, {{SDATE, "2021-03%"}}, {atlas_lee, atlas_zed, art}},
        {ZC_DATE, {{SCID, f_.zeta}}, {{SDATE, "2021-04%"}}, {anchor, roe}},
        {ZTAGED, tag(f_.maps), {}, {atlas_lee, atlas_zed, art}},
        {ZTAGED, tag(f_.both), {}, {anchor, roe}},  // a tag used both ways: both uses
        {ZC_TAGED, tag(f_.reading, f_.beta), {}, {art}},
        {ZTAG, tag(f_.reading), {}, {label(f_.reading, "reading"), label(f_.maps, "maps")}},
        {ZC_TAG, tag(f_.both, f_.zeta), {}, {label(f_.auto_only, "auto-only"), label(f_.both, "both")}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(creators_sorted(lib_->run(c.kind, c.ints, c.texts)), c.want) << "kind " << c.kind;
}

TEST_P(ModernListing, AttachmentsAndRecentItemsOnlyWhenLiveAndListable) {
    Rows attachments = lib_->run(ZAT, {{SITID, f_.atlas}});
    EXPECT_EQ(std::set<Row>(attachments.begin(), attachments.end()),
              (std::set<Row>{{f_.atlas, "application/pdf", "storage:atlas.pdf", f_.atlas_pdf_key},
                             {f_.atlas, "text/html", "Atlas site", f_.atlas_link_key}}));
    // The trashed book's attachment is alive itself, but under a trashed parent; an annotation is no
    // attachment.
    EXPECT_EQ(lib_->run(ZAT, {{SITID, f_.trashed_book}}), Rows{});
    EXPECT_EQ(lib_->run(ZAT, {{SITID, f_.atlas_pdf}}), Rows{});

    Rows recent;
    for (int id : {f_.anchor_doc, f_.roe_case, f_.atlas})
        for (const Row& r : creators_sorted(lib_->run(ZRECENT, {{SREID, id}}))) recent.push_back(r);
    EXPECT_EQ(recent, (Rows{{f_.anchor_doc, "Anchor Document", "", ""},
                            {f_.roe_case, "Roe Case", "Kay", "Judge"},
                            {f_.atlas, "Atlas of Clouds", "Ann", "Lee"},
                            {f_.atlas, "Atlas of Clouds", "Bob", "Zed"}}));
    for (int hidden : {f_.trashed_book, f_.feed_story, f_.child_note, f_.loose_note, f_.atlas_pdf,
                       f_.loose_pdf, f_.annotation, f_.orphan_pdf, f_.orphan_note, f_.trashed_attachment})
        EXPECT_EQ(lib_->run(ZRECENT, {{SREID, hidden}}), Rows{}) << "item " << hidden;
}

TEST_P(ModernListing, Labels) {
    // Descending by bytes; the trashed collection is left out.
    EXPECT_EQ(lib_->query(ry_label_texts[0]),
              (Rows{label(f_.alpha, "alpha"), label(f_.zeta, "Zeta"), label(f_.group_shelf, "Group Shelf"),
                    label(f_.beta, "Beta")}));
    // Only tags that some item carries as a manual tag.
    EXPECT_EQ(lib_->query(ry_label_texts[1]),
              (Rows{label(f_.reading, "reading"), label(f_.maps, "maps"), label(f_.both, "both")}));
}

INSTANTIATE_TEST_SUITE_P(Numberings, ModernListing, testing::Values(Numbering::fresh, Numbering::upgraded),
                         [](const auto& info) {
                             return info.param == Numbering::fresh ? "fresh" : "upgraded";
                         });

// ---- Files beside the library ----

size_t titles_like(Library& lib, const char* pattern) {
    return lib.run(ZTINCR, {}, {{STITLE, pattern}}).size();
}

// A classic library, and a modern one without a log, are read in place, creating nothing
// beside them; a modern one with a log, and either shape held locked after a write, from
// a snapshot removed afterwards that shows the newest rows. Only the modern shape gets
// views under the classic names, and the files stay as they were.
TEST(LibraryFiles, AreReadInPlaceOrFromASnapshotAndLeftUntouched) {
    // classic_hot: a writer died in a transaction, leaving a journal to roll back.
    enum Shape { classic, modern, modern_log, classic_locked, modern_locked, classic_hot };
    for (Shape shape : {classic, modern, modern_log, classic_locked, modern_locked, classic_hot}) {
        SCOPED_TRACE(shape);
        bool is_modern = shape == modern || shape == modern_log || shape == modern_locked;
        bool locked = shape == classic_locked || shape == modern_locked;
        ryt::TempDir dir;
        std::string path, sql;
        if (!is_modern) {
            libgen::ClassicLibraryBuilder b(dir.path());
            for (const char* title : {"Old Book", "Newest Book"}) b.add_item({.title = title});
            sql = ryt::insert_book_sql(libgen::item_type::book, libgen::field::title, "NULL");
            path = b.database_path();
        } else {
            ModernLibraryBuilder b(dir.path());
            b.add_item({.title = "Old Book"});
            b.checkpoint();
            b.add_item({.title = "Newest Book"});
            shape == modern_log ? b.finish_leaving_log() : b.finish();
            sql = ryt::insert_book_sql(b.type_id("book"), b.field_id("title"));
            path = b.database_path();
        }
        std::optional<ryt::LockHolder> holder;
        if (locked || shape == classic_hot) {
            // Pages that overflow a one-page cache reach the file before the crash.
            std::string uncommitted =
                "PRAGMA cache_size=1;" + sql.substr(0, sql.rfind("COMMIT")) +
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<2000) INSERT INTO "
                "itemDataValues (value) SELECT hex(randomblob(200)) FROM n;";
            holder.emplace(ryt::exclusive_writer(path, locked ? sql : uncommitted));
            ASSERT_TRUE(holder->ok());
        }
        if (shape == classic_hot) {
            holder.reset();
            ASSERT_TRUE(ryt::file_exists(path + "-journal"));
        }
        ryt::LibraryFiles before{dir.path(), path};
        std::string snapshot;
        {
            Library lib(path);
            ASSERT_TRUE(lib.prepared());
            snapshot = ry_snapshot_dir();
            EXPECT_EQ(snapshot.empty(), shape == classic || shape == modern);
            EXPECT_EQ(ry_detect_schema(lib.db()), is_modern ? ry_schema::modern : ry_schema::classic);
            EXPECT_EQ(lib.views(), is_modern ? 9 : 3);
            EXPECT_EQ(titles_like(lib, "[nN]*"), locked ? 2u : 1u);
            EXPECT_EQ(titles_like(lib, "[oO]*"), 1u);
            EXPECT_EQ(ryt::names_in(dir.path()), before.names);
        }
        EXPECT_TRUE(ry_snapshot_dir().empty());
        EXPECT_TRUE(snapshot.empty() || !ryt::file_exists(snapshot));
        before.expect_unchanged();
    }
}

// A database of neither shape fails to prepare, with the message, and is given no views.
TEST(OtherLibrary, NeitherShapeFailsToPrepare) {
    ryt::TempDir dir;
    std::string path = dir.file("other.sqlite");
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE items (itemID INTEGER PRIMARY KEY)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    testing::internal::CaptureStderr();
    Library lib(path);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(lib.prepared());
    EXPECT_EQ(ry_detect_schema(lib.db()), ry_schema::unknown);
    EXPECT_EQ(err.rfind("SQL Error: ", 0), 0u) << err;
    EXPECT_EQ(std::get<0>(lib.query("SELECT count(*) FROM temp.sqlite_master")[0]), 0);
}

}  // namespace
