// Libraries of current versions of the reference manager, read through the classic
// statements: both numberings of types and fields, the trash, feeds, groups, WAL files,
// libraries that another process holds locked, and classic libraries left as they are.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "libgen.h"
#include "libgen_modern.h"
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

std::string text_of(sqlite3_stmt* s, int column) {
    const unsigned char* t = sqlite3_column_text(s, column);
    return t ? reinterpret_cast<const char*>(t) : "";
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

// The same content in either numbering. Titles are chosen so that each trap shows:
// the feed story and the trashed book begin with "A" like the listed items, the
// document is type 14 in the fresh numbering, the url field is 110 there.
Fixture fill(ModernLibraryBuilder& b) {
    using namespace libgen::item_type;
    using libgen::more_type::email;
    using libgen::more_type::statute;
    auto item = [&](int type, const char* title, std::vector<Creator> creators, const char* added) {
        return b.add_item({.type = type, .title = title, .creators = creators, .date_added = added});
    };
    auto pdf = [&](int parent, const char* file, const char* title) {
        return b.add_attachment(
            {.parent = parent, .mime_type = "application/pdf", .file = file, .title = title});
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
    auto stored = b.add_attachment({.parent = f.atlas,
                                    .mime_type = "application/pdf",
                                    .file = "atlas.pdf",
                                    .contents = "%PDF-1.4",
                                    .title = "Appendix PDF",
                                    .date_added = "2021-03-05 08:00:00"});
    f.atlas_pdf = stored.item_id;
    f.atlas_pdf_key = stored.key;
    auto link = b.add_attachment({.parent = f.atlas,
                                  .link_mode = libgen::LinkMode::linked_url,
                                  .mime_type = "text/html",
                                  .title = "Atlas site",
                                  .url = "http://example.org/atlas"});
    f.atlas_link = link.item_id;
    f.atlas_link_key = link.key;
    f.trashed_attachment = pdf(f.atlas, "old.pdf", "Old").item_id;
    b.trash(f.trashed_attachment);
    f.loose_pdf = pdf(0, "loose.pdf", "A loose PDF").item_id;
    f.annotation = b.add_annotation(f.atlas_pdf, "A highlighted passage");
    f.orphan_pdf = pdf(f.trashed_book, "orphan.pdf", "Abandoned PDF").item_id;
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
    f.both = b.add_tag("both", libgen::tag_automatic);
    EXPECT_EQ(b.add_tag("both", libgen::tag_manual), f.both);
    for (auto [i, t] : {std::pair{f.atlas, f.maps},
                        {f.art, f.maps},
                        {f.trashed_book, f.maps},
                        {f.art, f.reading},
                        {f.anchor_doc, f.auto_only},
                        {f.anchor_doc, f.both},
                        {f.roe_case, f.both}})
        b.tag_item(i, t);

    b.use_library(b.add_group("Reading Group"));
    f.group_paper = item(book, "Group Paper", {{"Gail", "Group"}}, "2021-06-01 08:00:00");
    f.group_shelf = b.add_collection("Group Shelf");
    b.add_to_collection(f.group_shelf, f.group_paper);
    b.use_library(b.add_feed("News", "http://example.org/feed.xml"));
    f.feed_story = item(journalArticle, "A Feed Story", {{"Fay", "Lamb"}}, "2021-03-20 08:00:00");
    b.use_library(1);
    return f;
}

// An open library with the catalogue prepared.
class Library {
  public:
    explicit Library(const std::string& path) {
        rc_ = ry_open_library(path.c_str(), &db_);
        if (rc_ == SQLITE_OK) prepared_ = ry_sql_try_prepare(db_, statements_);
    }
    ~Library() {
        if (prepared_)
            for (auto* s : statements_) sqlite3_finalize(s);
        sqlite3_close(db_);
        ry_close_library();
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    int rc() const { return rc_; }
    bool prepared() const { return prepared_; }
    sqlite3* db() const { return db_; }

    // Steps kind k with the bindings the listings make: ints by parameter number, texts likewise.
    Rows run(int k, const std::map<int, int>& ints, const std::map<int, const char*>& texts = {}) {
        sqlite3_stmt* s = statements_[k];
        ry::StmtResetGuard reset(s);
        sqlite3_clear_bindings(s);
        for (auto [n, v] : ints) sqlite3_bind_int(s, n, v);
        for (auto [n, v] : texts) sqlite3_bind_text(s, n, v, -1, SQLITE_STATIC);
        Rows rows;
        int step;
        while ((step = sqlite3_step(s)) == SQLITE_ROW) {
            if (sqlite3_column_count(s) == 2)
                rows.emplace_back(sqlite3_column_int(s, 0), text_of(s, 1), "", "");
            else
                rows.emplace_back(sqlite3_column_int(s, 0), text_of(s, 1), text_of(s, 2), text_of(s, 3));
        }
        EXPECT_EQ(step, SQLITE_DONE) << sqlite3_errmsg(db_);
        return rows;
    }
    Rows labels(int i) {
        sqlite3_stmt* raw = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, ry_label_texts[i], -1, &raw, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_);
        ry::unique_stmt s(raw);
        Rows rows;
        while (sqlite3_step(s.get()) == SQLITE_ROW)
            rows.emplace_back(sqlite3_column_int(s.get(), 0), text_of(s.get(), 1), "", "");
        return rows;
    }

  private:
    sqlite3* db_ = nullptr;
    int rc_ = SQLITE_ERROR;
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
        ASSERT_EQ(lib_->rc(), SQLITE_OK);
        ASSERT_TRUE(lib_->prepared());
        anchor = {f_.anchor_doc, "Anchor Document", "", ""};
        atlas_lee = {f_.atlas, "Atlas of Clouds", "Ann", "Lee"};
        atlas_zed = {f_.atlas, "Atlas of Clouds", "Bob", "Zed"};
        art = {f_.art, "The Art of Listing", "Carl", "Moss"};
        roe = {f_.roe_case, "Roe Case", "Kay", "Judge"};
        group = {f_.group_paper, "Group Paper", "Gail", "Group"};
        clean_air = {f_.clean_air, "Clean Air Act", "", ""};
        email = {f_.email, "Subject Line", "", ""};
    }
    Rows run(int k, const std::map<int, int>& ints, const std::map<int, const char*>& texts = {}) {
        return lib_->run(k, ints, texts);
    }
    Rows tagged(int k, int tag, int cid = 0) {
        std::map<int, int> ints{{STAG0, tag}, {STAGS, tag}};
        if (cid) ints[SCID] = cid;
        return creators_sorted(run(k, ints));
    }
    static Row label(int id, const char* name) { return {id, name, "", ""}; }

    ryt::TempDir dir_;
    Fixture f_;
    std::unique_ptr<Library> lib_;
    Row anchor, atlas_lee, atlas_zed, art, roe, group, clean_air, email;
};

TEST_P(ModernListing, NumberingIsTheOneAsked) {
    ModernLibraryBuilder b(dir_.file("numbers"), {.numbering = GetParam()});
    using V = std::vector<int>;
    V ids{b.type_id("note"), b.type_id("attachment"), b.field_id("title")};
    // Fresh: the document is type 14 and the url field 110, the classic ids of attachment and title.
    if (GetParam() == Numbering::fresh) {
        EXPECT_EQ(ids, (V{28, 3, 1}));
        EXPECT_EQ((V{b.type_id("document"), b.field_id("url")}), (V{14, 110}));
    } else {
        EXPECT_EQ(ids, (V{1, 14, 110}));
    }
}

TEST_P(ModernListing, TitleOrderListsOnlyLiveRegularItemsOfOwnLibraries) {
    EXPECT_EQ(run(ZTINCR, {}, {{STITLE, "[aA]*"}}), (Rows{anchor, atlas_lee, atlas_zed, art}));
    // Cases, statutes and e-mails by the field that stands for their title.
    EXPECT_EQ(run(ZTINCR, {}, {{STITLE, "*"}}),
              (Rows{anchor, atlas_lee, atlas_zed, clean_air, group, roe, email, art}));
    EXPECT_EQ(run(ZC_TINCR, {{SCID, f_.beta}}, {{STITLE, "[aA]*"}}), (Rows{atlas_lee, atlas_zed, art}));
}

TEST_P(ModernListing, CreatorOrder) {
    EXPECT_EQ(run(ZNCRTI, {}, {{STITLE, "*"}}),
              (Rows{anchor, clean_air, email, group, roe, atlas_lee, art, atlas_zed}));
    EXPECT_EQ(run(ZC_NCRTI, {{SCID, f_.zeta}}, {{STITLE, "*"}}), (Rows{anchor, roe}));
}

// These statements reach titles without the items table: the trashed book and the
// feed story (creators Lee and Lamb) must still stay out.
TEST_P(ModernListing, TitleAndCreatorLetters) {
    EXPECT_EQ(run(ZTICR, {}, {{STITLE, "*"}, {SCREATOR, "[lL]*"}}), (Rows{atlas_lee}));
    EXPECT_EQ(run(ZCRTI, {}, {{STITLE, "*"}, {SCREATOR, "*"}}),
              (Rows{group, roe, atlas_lee, art, atlas_zed}));
    // Every creator of every member, whatever the member's position in the collection.
    EXPECT_EQ(run(ZC_TICR, {{SCID, f_.beta}}, {{STITLE, "*"}, {SCREATOR, "*"}}),
              (Rows{atlas_lee, atlas_zed, art}));
    EXPECT_EQ(run(ZC_CRTI, {{SCID, f_.zeta}}, {{STITLE, "[rR]*"}, {SCREATOR, "*"}}), (Rows{roe}));
}

TEST_P(ModernListing, MonthAddedAndTags) {
    // The feed story and the trashed book were added in March too.
    EXPECT_EQ(creators_sorted(run(ZDATE, {}, {{SDATE, "2021-03%"}})), (Rows{atlas_lee, atlas_zed, art}));
    EXPECT_EQ(run(ZC_DATE, {{SCID, f_.zeta}}, {{SDATE, "2021-04%"}}), (Rows{anchor, roe}));
    EXPECT_EQ(tagged(ZTAGED, f_.maps), (Rows{atlas_lee, atlas_zed, art}));
    EXPECT_EQ(tagged(ZTAGED, f_.both), (Rows{anchor, roe}));  // a tag used both ways: both uses
    EXPECT_EQ(tagged(ZC_TAGED, f_.reading, f_.beta), (Rows{art}));
    EXPECT_EQ(tagged(ZTAG, f_.reading), (Rows{label(f_.reading, "reading"), label(f_.maps, "maps")}));
    EXPECT_EQ(tagged(ZC_TAG, f_.both, f_.zeta),
              (Rows{label(f_.auto_only, "auto-only"), label(f_.both, "both")}));
}

TEST_P(ModernListing, AttachmentsAndRecentItemsOnlyWhenLiveAndListable) {
    Rows attachments = run(ZAT, {{SITID, f_.atlas}});
    std::sort(attachments.begin(), attachments.end());
    Rows expected{{f_.atlas, "application/pdf", "storage:atlas.pdf", f_.atlas_pdf_key},
                  {f_.atlas, "text/html", "", f_.atlas_link_key}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(attachments, expected);
    // The trashed book's attachment is alive itself, but under a trashed parent; an annotation is no
    // attachment.
    EXPECT_EQ(run(ZAT, {{SITID, f_.trashed_book}}), Rows{});
    EXPECT_EQ(run(ZAT, {{SITID, f_.atlas_pdf}}), Rows{});

    EXPECT_EQ(creators_sorted(run(ZRECENT, {{SREID, f_.atlas}})), (Rows{atlas_lee, atlas_zed}));
    EXPECT_EQ(run(ZRECENT, {{SREID, f_.anchor_doc}}), Rows{anchor});
    EXPECT_EQ(run(ZRECENT, {{SREID, f_.roe_case}}), Rows{roe});
    for (int hidden : {f_.trashed_book, f_.feed_story, f_.child_note, f_.loose_note, f_.atlas_pdf,
                       f_.loose_pdf, f_.annotation, f_.orphan_pdf, f_.orphan_note, f_.trashed_attachment})
        EXPECT_EQ(run(ZRECENT, {{SREID, hidden}}), Rows{}) << "item " << hidden;
}

TEST_P(ModernListing, Labels) {
    // Descending by bytes; the trashed collection is left out.
    EXPECT_EQ(lib_->labels(0), (Rows{label(f_.alpha, "alpha"), label(f_.zeta, "Zeta"),
                                     label(f_.group_shelf, "Group Shelf"), label(f_.beta, "Beta")}));
    // Only tags that some item carries as a manual tag.
    EXPECT_EQ(lib_->labels(1),
              (Rows{label(f_.reading, "reading"), label(f_.maps, "maps"), label(f_.both, "both")}));
}

INSTANTIATE_TEST_SUITE_P(Numberings, ModernListing, testing::Values(Numbering::fresh, Numbering::upgraded),
                         [](const auto& info) {
                             return info.param == Numbering::fresh ? "fresh" : "upgraded";
                         });

// ---- Files beside the library ----

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
        while (const gchar* n = g_dir_read_name(d)) names.push_back(n);
        g_dir_close(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int count(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return -1;
    ry::unique_stmt s(raw);
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : -1;
}

size_t titles_like(Library& lib, const char* pattern) {
    return lib.run(ZTINCR, {}, {{STITLE, pattern}}).size();
}

TEST(WalLibrary, ReadInPlaceLeavesNothingBesideAndTheFileUntouched) {
    ryt::TempDir dir;
    ModernLibraryBuilder b(dir.path());
    b.add_item({.title = "Quiet Book"});
    b.finish();
    std::string path = b.database_path();
    auto names = names_in(dir.path());
    std::string bytes = ryt::read_file(path);
    struct stat before {
    }, after{};
    stat(path.c_str(), &before);
    {
        Library lib(path);
        ASSERT_TRUE(lib.prepared());
        EXPECT_TRUE(ry_snapshot_dir().empty());
        EXPECT_EQ(titles_like(lib, "[qQ]*"), 1u);
        EXPECT_EQ(names_in(dir.path()), names);
    }
    EXPECT_EQ(names_in(dir.path()), names);
    EXPECT_EQ(ryt::read_file(path), bytes);
    stat(path.c_str(), &after);
    EXPECT_TRUE(before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
                before.st_mtim.tv_nsec == after.st_mtim.tv_nsec);
}

TEST(WalLibrary, RowsOnlyInTheLogAreSeenFromASnapshot) {
    ryt::TempDir dir;
    ModernLibraryBuilder b(dir.path());
    b.add_item({.title = "Old Book"});
    b.checkpoint();
    b.add_item({.title = "Newest Book"});
    b.finish_leaving_log();
    std::string path = b.database_path();
    ASSERT_GT(ryt::read_file(path + "-wal").size(), 0u);
    auto names = names_in(dir.path());
    std::string bytes = ryt::read_file(path), log = ryt::read_file(path + "-wal");
    std::string snapshot;
    {
        Library lib(path);
        ASSERT_TRUE(lib.prepared());
        snapshot = ry_snapshot_dir();
        EXPECT_FALSE(snapshot.empty());
        EXPECT_EQ(titles_like(lib, "[nN]*"), 1u);
        EXPECT_EQ(titles_like(lib, "[oO]*"), 1u);
    }
    EXPECT_TRUE(ry_snapshot_dir().empty());
    EXPECT_FALSE(ryt::file_exists(snapshot));
    EXPECT_EQ(names_in(dir.path()), names);
    EXPECT_EQ(ryt::read_file(path), bytes);
    EXPECT_EQ(ryt::read_file(path + "-wal"), log);
}

// ---- Libraries held by another process ----

std::string insert_item_sql(int type, int title_field, const char* library) {
    return "BEGIN; INSERT INTO itemDataValues (value) VALUES ('Newest Locked Book'); INSERT INTO items "
           "(itemTypeID, libraryID, key) VALUES (" +
           std::to_string(type) + ", " + library +
           ", 'LOCKED01'); INSERT INTO itemData VALUES (last_insert_rowid(), " + std::to_string(title_field) +
           ", (SELECT valueID FROM itemDataValues WHERE value='Newest Locked Book')); COMMIT;";
}

// Either generation, locked after a write: read from a snapshot, with views only
// for the modern one, and the snapshot removed afterwards.
TEST(LockedLibrary, IsReadFromASnapshotThatIsRemovedAfterwards) {
    for (bool modern : {true, false}) {
        SCOPED_TRACE(modern ? "modern" : "classic");
        ryt::TempDir dir;
        std::string path, sql;
        if (modern) {
            ModernLibraryBuilder b(dir.path());
            b.add_item({.title = "Old Book"});
            sql = insert_item_sql(b.type_id("book"), b.field_id("title"), "1");
            path = b.database_path();
        } else {
            libgen::ClassicLibraryBuilder b(dir.path());
            b.add_item({.title = "Old Book"});
            sql = insert_item_sql(libgen::item_type::book, libgen::field::title, "NULL");
            path = b.database_path();
        }
        ryt::LockHolder holder(ryt::exclusive_writer(path, sql));
        ASSERT_TRUE(holder.ok());
        std::string snapshot;
        {
            Library lib(path);
            ASSERT_TRUE(lib.prepared());
            snapshot = ry_snapshot_dir();
            EXPECT_FALSE(snapshot.empty());
            EXPECT_EQ(titles_like(lib, "[nN]*"), 1u);
            EXPECT_EQ(count(lib.db(), "SELECT count(*) FROM temp.sqlite_master WHERE type='view'"),
                      modern ? 8 : 0);
        }
        EXPECT_FALSE(ryt::file_exists(snapshot));
    }
}

// ---- Classic libraries and others ----

TEST(ClassicLibrary, IsReadInPlaceThroughItsOwnTables) {
    ryt::TempDir dir;
    libgen::ClassicLibraryBuilder b(dir.path());
    int atlas = b.add_item({.title = "Atlas", .creators = {{"Ann", "Lee"}}});
    b.add_note(atlas, "<p>A note</p>");
    b.add_attachment({.parent = atlas, .mime_type = "application/pdf", .file = "a.pdf"});
    int trashed = b.add_item({.title = "Another"});
    b.trash(trashed);
    b.finish();
    Library lib(b.database_path());
    ASSERT_TRUE(lib.prepared());
    EXPECT_TRUE(ry_snapshot_dir().empty());
    EXPECT_EQ(ry_detect_schema(lib.db()), ry_schema::classic);
    EXPECT_EQ(count(lib.db(), "SELECT count(*) FROM temp.sqlite_master"), 0);
    // As before: the classic statements know nothing of the trash.
    EXPECT_EQ(lib.run(ZTINCR, {}, {{STITLE, "[aA]*"}}),
              (Rows{{trashed, "Another", "", ""}, {atlas, "Atlas", "Ann", "Lee"}}));
    EXPECT_EQ(lib.run(ZAT, {{SITID, atlas}}).size(), 1u);
}

TEST(OtherLibrary, NeitherShapeFailsToPrepare) {
    ryt::TempDir dir;
    std::string path = dir.file("other.sqlite");
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE items (itemID INTEGER PRIMARY KEY)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(ry_open_library(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(ry_detect_schema(db), ry_schema::unknown);
    sqlite3_stmt* statements[ZLAST];
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ry_sql_try_prepare(db, statements));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("SQL Error: ", 0), 0u) << err;
    EXPECT_EQ(count(db, "SELECT count(*) FROM temp.sqlite_master"), 0);
    sqlite3_close(db);
    ry_close_library();
}

}  // namespace
