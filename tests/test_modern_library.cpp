// Libraries of current versions of the reference manager, read through the classic
// statements: both numberings of types and fields, the trash, feeds, groups, WAL files,
// libraries that another process holds locked, and classic libraries left as they are.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
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
    Fixture f{};
    f.atlas = b.add_item({.type = libgen::item_type::book,
                          .title = "Atlas of Clouds",
                          .creators = {{"Ann", "Lee"}, {"Bob", "Zed"}},
                          .date_added = "2021-03-04 10:00:00"});
    b.set_field(f.atlas, libgen::field::url, "http://example.org/atlas");
    f.art = b.add_item({.type = libgen::item_type::journalArticle,
                        .title = "The Art of Listing",
                        .creators = {{"Carl", "Moss"}},
                        .date_added = "2021-03-15 09:00:00"});
    f.anchor_doc = b.add_item({.type = libgen::item_type::document,
                               .title = "Anchor Document",
                               .date_added = "2021-04-01 08:00:00"});
    f.roe_case = b.add_item({.type = libgen::item_type::legal_case,
                             .title = "Roe Case",
                             .creators = {{"Kay", "Judge"}},
                             .date_added = "2021-04-02 08:00:00"});
    f.clean_air = b.add_item(
        {.type = libgen::more_type::statute, .title = "Clean Air Act", .date_added = "2021-05-01 08:00:00"});
    f.email = b.add_item(
        {.type = libgen::more_type::email, .title = "Subject Line", .date_added = "2021-05-02 08:00:00"});
    f.trashed_book = b.add_item({.type = libgen::item_type::book,
                                 .title = "Another Trashed Book",
                                 .creators = {{"Ann", "Lee"}},
                                 .date_added = "2021-03-10 08:00:00"});
    b.trash(f.trashed_book);

    f.child_note = b.add_note(f.atlas, "<p>About the atlas</p>", "2021-03-05 08:00:00");
    f.loose_note = b.add_note(0, "<p>A loose note</p>", "2021-03-06 08:00:00");
    auto pdf = b.add_attachment({.parent = f.atlas,
                                 .mime_type = "application/pdf",
                                 .file = "atlas.pdf",
                                 .contents = "%PDF-1.4",
                                 .title = "Appendix PDF",
                                 .date_added = "2021-03-05 08:00:00"});
    f.atlas_pdf = pdf.item_id;
    f.atlas_pdf_key = pdf.key;
    auto link = b.add_attachment({.parent = f.atlas,
                                  .link_mode = libgen::LinkMode::linked_url,
                                  .mime_type = "text/html",
                                  .title = "Atlas site",
                                  .url = "http://example.org/atlas"});
    f.atlas_link = link.item_id;
    f.atlas_link_key = link.key;
    f.trashed_attachment =
        b.add_attachment(
             {.parent = f.atlas, .mime_type = "application/pdf", .file = "old.pdf", .title = "Old"})
            .item_id;
    b.trash(f.trashed_attachment);
    f.loose_pdf =
        b.add_attachment({.mime_type = "application/pdf", .file = "loose.pdf", .title = "A loose PDF"})
            .item_id;
    f.annotation = b.add_annotation(f.atlas_pdf, "A highlighted passage");
    f.orphan_pdf = b.add_attachment({.parent = f.trashed_book,
                                     .mime_type = "application/pdf",
                                     .file = "orphan.pdf",
                                     .title = "Abandoned PDF"})
                       .item_id;
    f.orphan_note = b.add_note(f.trashed_book, "<p>Under the trash</p>");

    f.beta = b.add_collection("Beta");
    f.zeta = b.add_collection("Zeta");
    f.alpha = b.add_collection("alpha");
    f.old_trash = b.add_collection("Old Trash");
    b.trash_collection(f.old_trash);
    // Members come after some other collection's, so that their positions differ
    // from the positions of their creators.
    b.add_to_collection(f.zeta, f.anchor_doc);
    b.add_to_collection(f.zeta, f.roe_case);
    b.add_to_collection(f.beta, f.trashed_book);
    b.add_to_collection(f.beta, f.atlas);
    b.add_to_collection(f.beta, f.art);
    b.add_to_collection(f.alpha, f.clean_air);
    b.add_to_collection(f.old_trash, f.email);

    f.maps = b.add_tag("maps");
    f.reading = b.add_tag("reading");
    f.auto_only = b.add_tag("auto-only", libgen::tag_automatic);
    b.tag_item(f.atlas, f.maps);
    b.tag_item(f.art, f.maps);
    b.tag_item(f.trashed_book, f.maps);
    b.tag_item(f.art, f.reading);
    b.tag_item(f.anchor_doc, f.auto_only);
    f.both = b.add_tag("both", libgen::tag_automatic);
    b.tag_item(f.anchor_doc, f.both);
    EXPECT_EQ(b.add_tag("both", libgen::tag_manual), f.both);
    b.tag_item(f.roe_case, f.both);

    int group = b.add_group("Reading Group");
    b.use_library(group);
    f.group_paper = b.add_item({.type = libgen::item_type::book,
                                .title = "Group Paper",
                                .creators = {{"Gail", "Group"}},
                                .date_added = "2021-06-01 08:00:00"});
    f.group_shelf = b.add_collection("Group Shelf");
    b.add_to_collection(f.group_shelf, f.group_paper);

    int feed = b.add_feed("News", "http://example.org/feed.xml");
    b.use_library(feed);
    f.feed_story = b.add_item({.type = libgen::item_type::journalArticle,
                               .title = "A Feed Story",
                               .creators = {{"Fay", "Lamb"}},
                               .date_added = "2021-03-20 08:00:00"});
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

Rows sorted(Rows rows) {
    std::sort(rows.begin(), rows.end());
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
    }
    void TearDown() override { lib_.reset(); }

    Row r(int id, const char* title, const char* first = "", const char* last = "") {
        return {id, title, first, last};
    }

    ryt::TempDir dir_;
    Fixture f_;
    std::unique_ptr<Library> lib_;
};

TEST_P(ModernListing, NumberingIsTheOneAsked) {
    ModernLibraryBuilder b(dir_.file("numbers"), {.numbering = GetParam()});
    if (GetParam() == Numbering::fresh) {
        EXPECT_EQ(b.type_id("annotation"), 1);
        EXPECT_EQ(b.type_id("attachment"), 3);
        EXPECT_EQ(b.type_id("document"), 14);
        EXPECT_EQ(b.type_id("note"), 28);
        EXPECT_EQ(b.field_id("title"), 1);
        EXPECT_EQ(b.field_id("url"), 110);
    } else {
        EXPECT_EQ(b.type_id("note"), 1);
        EXPECT_EQ(b.type_id("attachment"), 14);
        EXPECT_EQ(b.field_id("title"), 110);
        EXPECT_GT(b.type_id("annotation"), b.type_id("dictionaryEntry"));
    }
}

TEST_P(ModernListing, TitleOrderListsOnlyLiveRegularItemsOfOwnLibraries) {
    EXPECT_EQ(lib_->run(ZTINCR, {}, {{STITLE, "[aA]*"}}),
              (Rows{r(f_.anchor_doc, "Anchor Document"), r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"),
                    r(f_.atlas, "Atlas of Clouds", "Bob", "Zed"),
                    r(f_.art, "The Art of Listing", "Carl", "Moss")}));
    // Cases, statutes and e-mails by the field that stands for their title.
    EXPECT_EQ(
        lib_->run(ZTINCR, {}, {{STITLE, "*"}}),
        (Rows{r(f_.anchor_doc, "Anchor Document"), r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"),
              r(f_.atlas, "Atlas of Clouds", "Bob", "Zed"), r(f_.clean_air, "Clean Air Act"),
              r(f_.group_paper, "Group Paper", "Gail", "Group"), r(f_.roe_case, "Roe Case", "Kay", "Judge"),
              r(f_.email, "Subject Line"), r(f_.art, "The Art of Listing", "Carl", "Moss")}));
    EXPECT_EQ(
        lib_->run(ZC_TINCR, {{SCID, f_.beta}}, {{STITLE, "[aA]*"}}),
        (Rows{r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"), r(f_.atlas, "Atlas of Clouds", "Bob", "Zed"),
              r(f_.art, "The Art of Listing", "Carl", "Moss")}));
}

TEST_P(ModernListing, CreatorOrder) {
    EXPECT_EQ(lib_->run(ZNCRTI, {}, {{STITLE, "*"}}),
              (Rows{r(f_.anchor_doc, "Anchor Document"), r(f_.clean_air, "Clean Air Act"),
                    r(f_.email, "Subject Line"), r(f_.group_paper, "Group Paper", "Gail", "Group"),
                    r(f_.roe_case, "Roe Case", "Kay", "Judge"), r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"),
                    r(f_.art, "The Art of Listing", "Carl", "Moss"),
                    r(f_.atlas, "Atlas of Clouds", "Bob", "Zed")}));
    EXPECT_EQ(lib_->run(ZC_NCRTI, {{SCID, f_.zeta}}, {{STITLE, "*"}}),
              (Rows{r(f_.anchor_doc, "Anchor Document"), r(f_.roe_case, "Roe Case", "Kay", "Judge")}));
}

// These statements reach titles without the items table: the trashed book and the
// feed story (creators Lee and Lamb) must still stay out.
TEST_P(ModernListing, TitleAndCreatorLetters) {
    EXPECT_EQ(lib_->run(ZTICR, {}, {{STITLE, "*"}, {SCREATOR, "[lL]*"}}),
              (Rows{r(f_.atlas, "Atlas of Clouds", "Ann", "Lee")}));
    EXPECT_EQ(
        lib_->run(ZCRTI, {}, {{STITLE, "*"}, {SCREATOR, "*"}}),
        (Rows{r(f_.group_paper, "Group Paper", "Gail", "Group"), r(f_.roe_case, "Roe Case", "Kay", "Judge"),
              r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"), r(f_.art, "The Art of Listing", "Carl", "Moss"),
              r(f_.atlas, "Atlas of Clouds", "Bob", "Zed")}));
    // Every creator of every member, whatever the member's position in the collection.
    EXPECT_EQ(
        lib_->run(ZC_TICR, {{SCID, f_.beta}}, {{STITLE, "*"}, {SCREATOR, "*"}}),
        (Rows{r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"), r(f_.atlas, "Atlas of Clouds", "Bob", "Zed"),
              r(f_.art, "The Art of Listing", "Carl", "Moss")}));
    EXPECT_EQ(lib_->run(ZC_CRTI, {{SCID, f_.zeta}}, {{STITLE, "[rR]*"}, {SCREATOR, "*"}}),
              (Rows{r(f_.roe_case, "Roe Case", "Kay", "Judge")}));
}

TEST_P(ModernListing, MonthAdded) {
    // The feed story and the trashed book were added in March too.
    EXPECT_EQ(
        creators_sorted(lib_->run(ZDATE, {}, {{SDATE, "2021-03%"}})),
        (Rows{r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"), r(f_.atlas, "Atlas of Clouds", "Bob", "Zed"),
              r(f_.art, "The Art of Listing", "Carl", "Moss")}));
    EXPECT_EQ(lib_->run(ZC_DATE, {{SCID, f_.zeta}}, {{SDATE, "2021-04%"}}),
              (Rows{r(f_.anchor_doc, "Anchor Document"), r(f_.roe_case, "Roe Case", "Kay", "Judge")}));
}

TEST_P(ModernListing, TaggedItems) {
    EXPECT_EQ(
        creators_sorted(lib_->run(ZTAGED, {{STAG0, f_.maps}, {STAGS, f_.maps}})),
        (Rows{r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"), r(f_.atlas, "Atlas of Clouds", "Bob", "Zed"),
              r(f_.art, "The Art of Listing", "Carl", "Moss")}));
    // A tag used both ways lists the items of both uses.
    EXPECT_EQ(lib_->run(ZTAGED, {{STAG0, f_.both}, {STAGS, f_.both}}),
              (Rows{r(f_.anchor_doc, "Anchor Document"), r(f_.roe_case, "Roe Case", "Kay", "Judge")}));
    EXPECT_EQ(lib_->run(ZC_TAGED, {{SCID, f_.beta}, {STAG0, f_.reading}, {STAGS, f_.reading}}),
              (Rows{r(f_.art, "The Art of Listing", "Carl", "Moss")}));
    EXPECT_EQ(lib_->run(ZTAG, {{STAG0, f_.reading}, {STAGS, f_.reading}}),
              (Rows{r(f_.reading, "reading"), r(f_.maps, "maps")}));
    EXPECT_EQ(lib_->run(ZC_TAG, {{SCID, f_.zeta}, {STAG0, f_.both}, {STAGS, f_.both}}),
              (Rows{r(f_.auto_only, "auto-only"), r(f_.both, "both")}));
}

TEST_P(ModernListing, AttachmentsOfLiveItemsOnly) {
    EXPECT_EQ(sorted(lib_->run(ZAT, {{SITID, f_.atlas}})),
              sorted({r(f_.atlas, "application/pdf", "storage:atlas.pdf", f_.atlas_pdf_key.c_str()),
                      r(f_.atlas, "text/html", "", f_.atlas_link_key.c_str())}));
    // The trashed book's attachment is alive itself, but under a trashed parent.
    EXPECT_EQ(lib_->run(ZAT, {{SITID, f_.trashed_book}}), Rows{});
    // An annotation is no attachment.
    EXPECT_EQ(lib_->run(ZAT, {{SITID, f_.atlas_pdf}}), Rows{});
}

TEST_P(ModernListing, RecentItemOnlyWhenListable) {
    EXPECT_EQ(
        creators_sorted(lib_->run(ZRECENT, {{SREID, f_.atlas}})),
        (Rows{r(f_.atlas, "Atlas of Clouds", "Ann", "Lee"), r(f_.atlas, "Atlas of Clouds", "Bob", "Zed")}));
    EXPECT_EQ(lib_->run(ZRECENT, {{SREID, f_.anchor_doc}}), (Rows{r(f_.anchor_doc, "Anchor Document")}));
    EXPECT_EQ(lib_->run(ZRECENT, {{SREID, f_.roe_case}}), (Rows{r(f_.roe_case, "Roe Case", "Kay", "Judge")}));
    for (int hidden : {f_.trashed_book, f_.feed_story, f_.child_note, f_.loose_note, f_.atlas_pdf,
                       f_.loose_pdf, f_.annotation, f_.orphan_pdf, f_.orphan_note, f_.trashed_attachment})
        EXPECT_EQ(lib_->run(ZRECENT, {{SREID, hidden}}), Rows{}) << "item " << hidden;
}

TEST_P(ModernListing, Labels) {
    // Descending by bytes; the trashed collection is left out.
    EXPECT_EQ(lib_->labels(0), (Rows{r(f_.alpha, "alpha"), r(f_.zeta, "Zeta"),
                                     r(f_.group_shelf, "Group Shelf"), r(f_.beta, "Beta")}));
    // Only tags that some item carries as a manual tag.
    EXPECT_EQ(lib_->labels(1), (Rows{r(f_.reading, "reading"), r(f_.maps, "maps"), r(f_.both, "both")}));
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

struct timespec mtime_of(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mtim;
}

int count(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return -1;
    ry::unique_stmt s(raw);
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : -1;
}

Rows titles_like(Library& lib, const char* pattern) {
    Rows rows;
    for (const Row& row : lib.run(ZTINCR, {}, {{STITLE, pattern}})) rows.push_back(row);
    return rows;
}

TEST(WalLibrary, ReadInPlaceLeavesNothingBeside) {
    ryt::TempDir dir;
    ModernLibraryBuilder b(dir.path());
    b.add_item({.title = "Quiet Book"});
    b.finish();
    std::string path = b.database_path();
    auto names = names_in(dir.path());
    std::string bytes = ryt::read_file(path);
    auto mtime = mtime_of(path);
    {
        Library lib(path);
        ASSERT_EQ(lib.rc(), SQLITE_OK);
        ASSERT_TRUE(lib.prepared());
        EXPECT_TRUE(ry_snapshot_dir().empty());
        EXPECT_EQ(titles_like(lib, "[qQ]*").size(), 1u);
        EXPECT_EQ(names_in(dir.path()), names);
    }
    EXPECT_EQ(names_in(dir.path()), names);
    EXPECT_EQ(ryt::read_file(path), bytes);
    EXPECT_EQ(mtime_of(path).tv_sec, mtime.tv_sec);
    EXPECT_EQ(mtime_of(path).tv_nsec, mtime.tv_nsec);
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
        ASSERT_EQ(lib.rc(), SQLITE_OK);
        ASSERT_TRUE(lib.prepared());
        snapshot = ry_snapshot_dir();
        EXPECT_FALSE(snapshot.empty());
        EXPECT_EQ(titles_like(lib, "[nN]*").size(), 1u);
        EXPECT_EQ(titles_like(lib, "[oO]*").size(), 1u);
    }
    EXPECT_TRUE(ry_snapshot_dir().empty());
    EXPECT_FALSE(ryt::file_exists(snapshot));
    EXPECT_EQ(names_in(dir.path()), names);
    EXPECT_EQ(ryt::read_file(path), bytes);
    EXPECT_EQ(ryt::read_file(path + "-wal"), log);
}

// ---- Libraries held by another process ----

std::string insert_item_sql(int type, int title_field, const char* library, const char* title) {
    return "BEGIN; INSERT INTO itemDataValues (value) VALUES ('" + std::string(title) +
           "'); INSERT INTO items (itemTypeID, libraryID, key) VALUES (" + std::to_string(type) + ", " +
           library + ", 'LOCKED01'); INSERT INTO itemData VALUES (last_insert_rowid(), " +
           std::to_string(title_field) + ", (SELECT valueID FROM itemDataValues WHERE value='" + title +
           "')); COMMIT;";
}

TEST(LockedLibrary, ModernLibraryIsReadFromASnapshotThatIsRemovedAfterwards) {
    ryt::TempDir dir;
    std::string path;
    std::string sql;
    {
        ModernLibraryBuilder b(dir.path());
        b.add_item({.title = "Old Book"});
        sql = insert_item_sql(b.type_id("book"), b.field_id("title"), "1", "Newest Locked Book");
        path = b.database_path();
    }
    ryt::LockHolder holder(ryt::exclusive_writer(path, sql));
    ASSERT_TRUE(holder.ok());
    std::string snapshot;
    {
        Library lib(path);
        ASSERT_EQ(lib.rc(), SQLITE_OK);
        ASSERT_TRUE(lib.prepared());
        snapshot = ry_snapshot_dir();
        EXPECT_FALSE(snapshot.empty());
        EXPECT_EQ(titles_like(lib, "[nN]*").size(), 1u);
        EXPECT_EQ(count(lib.db(), "SELECT count(*) FROM temp.sqlite_master WHERE type='view'"), 8);
    }
    EXPECT_FALSE(ryt::file_exists(snapshot));
}

TEST(LockedLibrary, ClassicLibraryIsReadFromASnapshotWithoutViews) {
    ryt::TempDir dir;
    std::string path;
    {
        libgen::ClassicLibraryBuilder b(dir.path());
        b.add_item({.title = "Old Book"});
        path = b.database_path();
    }
    ryt::LockHolder holder(ryt::exclusive_writer(
        path, insert_item_sql(libgen::item_type::book, libgen::field::title, "NULL", "Newest Locked Book")));
    ASSERT_TRUE(holder.ok());
    Library lib(path);
    ASSERT_EQ(lib.rc(), SQLITE_OK);
    ASSERT_TRUE(lib.prepared());
    EXPECT_FALSE(ry_snapshot_dir().empty());
    EXPECT_EQ(titles_like(lib, "[nN]*").size(), 1u);
    EXPECT_EQ(count(lib.db(), "SELECT count(*) FROM temp.sqlite_master"), 0);
}

// ---- Classic libraries and others ----

TEST(ClassicLibrary, IsReadInPlaceThroughItsOwnTables) {
    ryt::TempDir dir;
    libgen::ClassicLibraryBuilder b(dir.path());
    int atlas = b.add_item({.title = "Atlas", .creators = {{"Ann", "Lee"}}});
    int note = b.add_note(atlas, "<p>A note</p>");
    b.add_attachment({.parent = atlas, .mime_type = "application/pdf", .file = "a.pdf"});
    int trashed = b.add_item({.title = "Another"});
    b.trash(trashed);
    b.finish();
    EXPECT_GT(note, 0);
    Library lib(b.database_path());
    ASSERT_EQ(lib.rc(), SQLITE_OK);
    ASSERT_TRUE(lib.prepared());
    EXPECT_TRUE(ry_snapshot_dir().empty());
    EXPECT_EQ(ry_detect_schema(lib.db()), ry_schema::classic);
    EXPECT_EQ(count(lib.db(), "SELECT count(*) FROM temp.sqlite_master"), 0);
    // As before: the classic statements know nothing of the trash.
    EXPECT_EQ(titles_like(lib, "[aA]*"),
              (Rows{{trashed, "Another", "", ""}, {atlas, "Atlas", "Ann", "Lee"}}));
    EXPECT_EQ(lib.run(ZAT, {{SITID, atlas}}).size(), 1u);
}

TEST(OtherLibrary, NeitherShapeFailsToPrepare) {
    ryt::TempDir dir;
    std::string path = dir.file("other.sqlite");
    {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE items (itemID INTEGER PRIMARY KEY)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    sqlite3* db = nullptr;
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

namespace {

Rows live_rows(Library& lib) { return creators_sorted(lib.run(ZTINCR, {}, {{STITLE, "*"}})); }

// The demo written both ways: the modern library lists what the classic one lists,
// less what lies in the trash, plus the items whose title is kept in a field mapped
// onto title (a case, an act), which the classic statements cannot see.
TEST(DemoLibrary, ModernListsWhatClassicListsLessTheTrashPlusMappedTitles) {
    const std::time_t now = 1700000000;
    ryt::TempDir classic_dir;
    {
        libgen::ClassicLibraryBuilder b(classic_dir.path(), 7, now);
        libgen::write_demo_library(b, now);
    }
    Library classic(classic_dir.file("zotero.sqlite"));
    ASSERT_TRUE(classic.prepared());
    Rows expected;
    for (const Row& row : live_rows(classic)) {
        std::string sql =
            "SELECT count(*) FROM deletedItems WHERE itemID=" + std::to_string(std::get<0>(row));
        if (count(classic.db(), sql.c_str()) == 0) expected.push_back(row);
    }
    ASSERT_FALSE(expected.empty());
    std::vector<int> mapped;
    {
        sqlite3_stmt* raw = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(
                      classic.db(),
                      "SELECT itemID FROM itemData WHERE fieldID IN (111, 112, 113) AND itemID NOT IN "
                      "(SELECT itemID FROM deletedItems) ORDER BY itemID",
                      -1, &raw, nullptr),
                  SQLITE_OK);
        ry::unique_stmt s(raw);
        while (sqlite3_step(s.get()) == SQLITE_ROW) mapped.push_back(sqlite3_column_int(s.get(), 0));
    }
    ASSERT_FALSE(mapped.empty());
    for (Numbering numbering : {Numbering::fresh, Numbering::upgraded}) {
        ryt::TempDir dir;
        {
            ModernLibraryBuilder b(dir.path(), {.numbering = numbering, .seed = 7, .now = now});
            libgen::write_demo_library(b, now);
        }
        Library modern(dir.file("zotero.sqlite"));
        ASSERT_TRUE(modern.prepared());
        Rows got = live_rows(modern), common;
        std::vector<int> extra;
        for (const Row& row : got) {
            if (std::find(expected.begin(), expected.end(), row) != expected.end())
                common.push_back(row);
            else if (extra.empty() || extra.back() != std::get<0>(row))
                extra.push_back(std::get<0>(row));
        }
        std::sort(extra.begin(), extra.end());
        EXPECT_EQ(common, expected);
        EXPECT_EQ(extra, mapped);
    }
}

}  // namespace
