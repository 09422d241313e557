// The statement catalogue on generated libraries of every generation (classic, current
// as a fresh install numbers it, current upgraded from classic): every text compiles
// on a library opened read-only, returns the rows the library's data implies, and
// returns the same rows in the same order as the texts it replaced; and the library file,
// read in place or from a snapshot, is left as it was.
// (How the listings bind these statements and build their models is the item listing's test.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "libgen.h"
#include "libgen_modern.h"
#include "library_files.h"
#include "lock_holder.h"
#include "replaced_statements.h"
#include "ry_que.h"

using namespace libgen;
using ryt::Bindings;
using ryt::Row;
using ryt::Rows;

namespace {

const std::vector<std::string> generations = {"classic", "fresh", "upgraded"};

std::unique_ptr<LibraryBuilder> builder(const std::string& generation, const std::string& dir,
                                        std::time_t now) {
    if (generation == "classic") return std::make_unique<ClassicLibraryBuilder>(dir, 11, now);
    Numbering numbering = generation == "fresh" ? Numbering::fresh : Numbering::upgraded;
    return std::make_unique<ModernLibraryBuilder>(dir, ModernOptions{.numbering = numbering, .now = now});
}

// Whether the kind orders an item's rows by last name; the others leave them in no order.
bool ordered_by_name(int kind) { return kind != ZDATE && kind != ZC_DATE && kind != ZRECENT; }

// Sorts each run of rows of one item (of one last name, when by_name) by last, then first
// name: the order that no ORDER BY fixes.
Rows settled(Rows rows, bool by_name) {
    auto names = [](const Row& r) { return std::tie(std::get<3>(r), std::get<2>(r)); };
    for (auto begin = rows.begin(); begin != rows.end();) {
        auto end = std::find_if(begin, rows.end(), [&](const Row& r) {
            return std::get<0>(r) != std::get<0>(*begin) ||
                   (by_name && std::get<3>(r) != std::get<3>(*begin));
        });
        std::sort(begin, end, [&](const Row& a, const Row& b) { return names(a) < names(b); });
        begin = end;
    }
    return rows;
}

// A small library in which every rule of the catalogue shows: leading word groups, several
// creators, titles kept in the fields that stand for them, notes and attachments carrying
// titles and tags, nested collections. Traps that every listing must leave out begin with
// "A", have a creator and a March date and carry a tag: a trashed book with its children,
// a trashed attachment and, in current libraries, a feed's item and an annotation. Items in
// a group library are the user's own; the document type and the url field have the
// numbers of an attachment and of the title in some numbering.
struct Fixture {
    int art, atlas, theme, tides, year, anchors, note, trashed, feed_story = 0, annotation = 0;
    AddedAttachment art_pdf, art_url, old, orphan;
    int shelf, inner, empty, red, blue, automatic, both, gone;

    explicit Fixture(LibraryBuilder& b) {
        auto* modern = dynamic_cast<ModernLibraryBuilder*>(&b);
        auto item = [&](int type, const char* title, std::vector<Creator> creators, const char* date) {
            return b.add_item({.type = type, .title = title, .creators = creators, .date_added = date});
        };
        using namespace item_type;
        art = item(book, "The Art of Listing", {{"Ann", "Zeller"}, {"Bob", "Adams"}}, "2009-03-05 10:00:00");
        atlas = item(journalArticle, "Atlas", {{"Cy", "Brown"}}, "2009-03-20 10:00:00");
        b.set_field(atlas, field::url, "http://example.org/atlas");
        theme = item(legal_case, "On a Theme", {}, "2009-04-01 09:00:00");
        tides = item(statute, "Theory of Tides", {{"Dee", "Tanner"}}, "2009-03-20 10:00:00");
        if (modern) modern->use_library(modern->add_group("Reading Group"));
        year = item(email, "1984", {institution("Bureau of Records")}, "2009-05-01 08:00:00");
        if (modern) modern->use_library(1);
        anchors =
            item(document, "Anchors", {{"Eve", "Young"}, {"Fay", "Xu"}, {"Gus", "West"}, {"Hal", "Vance"}},
                 "2009-06-10 12:00:00");
        trashed = item(book, "Another Trashed Book", {{"Al", "Abbot"}}, "2009-03-10 08:00:00");
        b.trash(trashed);
        note = b.add_note(art, "<p>A reading note</p>", "2009-03-07 10:00:00");
        b.set_field(note, field::title, "A reading note");
        // A stored file, or with no file a linked URL.
        auto attach = [&](int parent, const char* mime, const char* file, const char* title) {
            LinkMode mode = *file ? LinkMode::imported_file : LinkMode::linked_url;
            return b.add_attachment({parent, mode, mime, file, "", title, "", "2009-03-05 10:01:00"});
        };
        art_pdf = attach(art, "application/pdf", "art.pdf", "Art full text");
        art_url = attach(art, "text/html", "", "A publisher page");
        old = attach(theme, "application/pdf", "old.pdf", "An old version");
        b.trash(old.item_id);
        orphan = attach(trashed, "application/pdf", "orphan.pdf", "Abandoned PDF");

        shelf = b.add_collection("Shelf");
        inner = b.add_collection("inner", shelf);
        empty = b.add_collection("empty");
        // The trashed book joins first, so that members' positions differ from their creators'.
        for (int item : {trashed, art, atlas, anchors}) b.add_to_collection(shelf, item);
        b.add_to_collection(inner, atlas);
        red = b.add_tag("red");
        blue = b.add_tag("blue");
        gone = b.add_tag("gone");
        both = b.add_tag("both");
        automatic = b.add_tag("auto", tag_automatic);
        // Red reaches the art only through its note and PDF, never through the trashed attachment.
        for (int item : {atlas, note, art_pdf.item_id, old.item_id, trashed}) b.tag_item(item, red);
        for (int item : {art, theme}) b.tag_item(item, blue);
        for (int item : {theme, year}) b.tag_item(item, automatic);
        b.tag_item(trashed, gone);
        b.tag_item(anchors, both);
        if (!modern) {
            b.tag_item(tides, both);
            return;
        }
        modern->tag_item(tides, both, tag_automatic);  // a tag used both ways: both uses count
        annotation = modern->add_annotation(art_pdf.item_id, "A highlighted passage");
        int old_shelf = b.add_collection("Old Trash");
        b.add_to_collection(old_shelf, tides);
        modern->trash_collection(old_shelf);
        modern->use_library(modern->add_feed("News", "http://example.org/feed.xml"));
        feed_story = item(journalArticle, "A Feed Story", {{"Fay", "Lamb"}}, "2009-03-21 08:00:00");
        b.tag_item(feed_story, red);
    }
};

class CatalogueRows : public testing::TestWithParam<std::string> {
  protected:
    ryt::TempDir dir_;
    std::unique_ptr<LibraryBuilder> b_ = builder(GetParam(), dir_.path(), std::time(nullptr));
    Fixture f_{*b_};
    ryt::Catalogue cat_{(b_->finish(), b_->database_path())};  // opened once written

    static Row label(int id, const char* name) { return {id, name, "", ""}; }
    const Row art_a{f_.art, "The Art of Listing", "Bob", "Adams"},
        art_z{f_.art, "The Art of Listing", "Ann", "Zeller"}, atlas{f_.atlas, "Atlas", "Cy", "Brown"},
        theme{f_.theme, "On a Theme", "", ""}, tides{f_.tides, "Theory of Tides", "Dee", "Tanner"},
        year{f_.year, "1984", "", "Bureau of Records"};
    const Rows anchors{{f_.anchors, "Anchors", "Hal", "Vance"},
                       {f_.anchors, "Anchors", "Gus", "West"},
                       {f_.anchors, "Anchors", "Fay", "Xu"},
                       {f_.anchors, "Anchors", "Eve", "Young"}};
    static Rows join(std::initializer_list<Rows> parts) {
        Rows out;
        for (const Rows& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    }
};

TEST_P(CatalogueRows, EveryKindListsTheRowsTheLibraryImplies) {
    auto title = [](const char* key, const char* creator = nullptr) {
        Bindings b{{STITLE, key}};
        if (creator) b[SCREATOR] = creator;
        return b;
    };
    auto in = [](int collection, Bindings b) {
        b[SCID] = collection;
        return b;
    };
    // One or two tags as the listing binds them: ?8 the sum.
    auto tags = [](int tag, int other = 0) {
        Bindings b{{STAG0, tag}, {STAGS, tag + other}};
        if (other) b[STAG1] = other;
        return b;
    };
    const Bindings march{{SDATE, "2009-03%"}};
    struct Case {
        int kind;
        Bindings bindings;
        Rows want;
    };
    const Case cases[] = {
        // "The Art of Listing" under A through "The ", "On a Theme" through "On a ".
        {ZTINCR, title("[aA]*"), join({anchors, {atlas, theme, art_a, art_z}})},
        // Under T "The Art of Listing" matches twice over and still gives one row per creator.
        {ZTINCR, title("[tT]*"), {theme, art_a, art_z, tides}},
        {ZTINCR, title("[^a-zA-Z]*"), {year}},  // the integer title is matched as its text
        {ZTINCR, title("*"), join({{year}, anchors, {atlas, theme, art_a, art_z, tides}})},
        // Creator order puts items without creators first.
        {ZNCRTI, title("*"), join({{theme, art_a, atlas, year, tides}, anchors, {art_z}})},
        {ZC_TINCR, in(f_.shelf, title("*")), join({anchors, {atlas, art_a, art_z}})},
        {ZC_TINCR, in(f_.empty, title("*")), {}},
        {ZC_NCRTI, in(f_.shelf, title("[aA]*")), join({{art_a, atlas}, anchors, {art_z}})},
        {ZTICR, title("*", "[aA]*"), {art_a}},
        {ZTICR, title("*", "[bB]*"), {year, atlas}},  // title order: the integer title first
        {ZTICR, title("[oO]*", "*"), {}},             // "On a Theme" has no creator
        {ZCRTI, title("*", "*"), join({{art_a, atlas, year, tides}, anchors, {art_z}})},
        {ZCRTI, title("[aA]*", "[v-zV-Z]*"), join({anchors, {art_z}})},
        // Both itemCreators and collectionItems have an orderIndex column: the join on the
        // collection must not match the two, or creators and whole items go missing.
        {ZC_TICR, in(f_.shelf, title("*", "*")), join({anchors, {atlas, art_a, art_z}})},
        {ZC_CRTI, in(f_.shelf, title("*", "*")), join({{art_a, atlas}, anchors, {art_z}})},
        // Oldest first, and of one time the later item first; notes and attachments were added in March too.
        {ZDATE, march, {art_a, art_z, tides, atlas}},
        {ZDATE, {{SDATE, "%"}}, join({{art_a, art_z, tides, atlas, theme, year}, anchors})},
        {ZC_DATE, in(f_.shelf, march), {art_a, art_z, atlas}},
        {ZC_DATE, in(f_.shelf, {{SDATE, "2009-06%"}}), anchors},
        {ZTAGED, tags(f_.red), {atlas, art_a, art_z}},
        {ZTAGED, tags(f_.automatic), {year, theme}},
        {ZTAGED, tags(f_.both), join({anchors, {tides}})},
        {ZTAGED, tags(f_.red, f_.blue), {art_a, art_z}},
        {ZC_TAGED, in(f_.shelf, tags(f_.red)), {atlas, art_a, art_z}},
        {ZC_TAGED, in(f_.shelf, tags(f_.blue)), {art_a, art_z}},
        // The tags of the items carrying the chosen ones, automatic first, by name descending.
        {ZTAG, tags(f_.blue), {label(f_.automatic, "auto"), label(f_.red, "red"), label(f_.blue, "blue")}},
        {ZC_TAG, in(f_.shelf, tags(f_.red)), {label(f_.red, "red"), label(f_.blue, "blue")}},
    };
    ASSERT_TRUE(cat_.ok());
    for (const Case& c : cases)
        EXPECT_EQ(settled(cat_.run(c.kind, c.bindings), ordered_by_name(c.kind)), c.want)
            << "kind " << c.kind;
}

TEST_P(CatalogueRows, AttachmentsRecentItemsAndLabelsOnlyWhenLive) {
    ASSERT_TRUE(cat_.ok());
    auto attachments = [&](int item) {
        Rows rows = cat_.run(ZAT, {{SITID, item}});
        return std::set<Row>(rows.begin(), rows.end());
    };
    EXPECT_EQ(attachments(f_.art),
              (std::set<Row>{{f_.art, "application/pdf", "storage:art.pdf", f_.art_pdf.key},
                             {f_.art, "text/html", "A publisher page", f_.art_url.key}}));
    // A trashed attachment, one under a trashed parent, an annotation: none is listed.
    for (int item : {f_.theme, f_.trashed, f_.art_pdf.item_id}) EXPECT_EQ(attachments(item), std::set<Row>{});

    Rows recent;
    for (int item : {f_.theme, f_.art, f_.year})
        for (const Row& r : cat_.run(ZRECENT, {{SREID, item}})) recent.push_back(r);
    EXPECT_EQ(settled(recent, false), (Rows{theme, art_a, art_z, year}));
    for (int hidden : {f_.trashed, f_.note, f_.art_pdf.item_id, f_.old.item_id, f_.orphan.item_id,
                       f_.feed_story, f_.annotation})
        EXPECT_EQ(cat_.run(ZRECENT, {{SREID, hidden}}), Rows{}) << "item " << hidden;

    // Descending by bytes, without a trashed collection; only manual tags that lead to a live item.
    EXPECT_EQ(cat_.query(ry_label_texts[0]),
              (Rows{label(f_.inner, "inner"), label(f_.empty, "empty"), label(f_.shelf, "Shelf")}));
    EXPECT_EQ(cat_.query(ry_label_texts[1]),
              (Rows{label(f_.red, "red"), label(f_.both, "both"), label(f_.blue, "blue")}));
}

INSTANTIATE_TEST_SUITE_P(Generations, CatalogueRows, testing::ValuesIn(generations),
                         [](const auto& info) { return info.param; });

// A file that is no library, or a library lacking a table or column the catalogue reads
// (without creatorData it is of neither generation), fails to prepare and says why.
TEST(CatalogueCompiles, FailsOnAFileThatIsNotALibraryOrLacksATableOrColumn) {
    std::vector<std::string> changes = {"", "ALTER TABLE itemAttachments DROP COLUMN mimeType",
                                        "ALTER TABLE creatorData DROP COLUMN firstName",
                                        "ALTER TABLE tags RENAME COLUMN type TO kind",
                                        "ALTER TABLE items DROP COLUMN dateAdded"};
    for (const char* t : {"items", "itemData", "itemDataValues", "itemCreators", "creators", "creatorData",
                          "collectionItems", "tags", "itemTags", "itemAttachments"})
        changes.push_back(std::string("DROP TABLE ") + t);
    for (const std::string& change : changes) {
        ryt::TempDir dir;
        std::string path = builder("classic", dir.path(), 0)->database_path();
        if (change.empty()) {
            ryt::write_file(path, "this is not a database, only some text to read\n");
        } else {
            sqlite3* raw = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
            ry::unique_db db(raw);
            ASSERT_EQ(sqlite3_exec(db.get(), change.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << change;
        }
        testing::internal::CaptureStderr();
        ryt::Catalogue c(path);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(c.ok()) << change;
        EXPECT_EQ(err.rfind("SQL Error: ", 0), 0u) << change << ": " << err;
        for (int k = 0; k < ZLAST; ++k) EXPECT_EQ(c[k], nullptr) << change << " " << k;
    }
}

// ---- The library file ----

// A classic library, and a modern one without a log, are read in place, creating nothing
// beside them; a modern one with a log, and either shape held locked after a write, from
// a snapshot removed afterwards that shows the newest rows; the files stay as they were.
TEST(LibraryFiles, AreReadInPlaceOrFromASnapshotAndLeftUntouched) {
    // classic_hot: a writer died in a transaction, leaving a journal to roll back.
    enum Shape { classic, modern, modern_log, classic_locked, modern_locked, classic_hot };
    for (Shape shape : {classic, modern, modern_log, classic_locked, modern_locked, classic_hot}) {
        SCOPED_TRACE(shape);
        bool is_modern = shape == modern || shape == modern_log || shape == modern_locked;
        bool locked = shape == classic_locked || shape == modern_locked;
        ryt::TempDir dir;
        std::string path, sql;
        {
            auto b = builder(is_modern ? "fresh" : "classic", dir.path(), std::time(nullptr));
            auto* m = dynamic_cast<ModernLibraryBuilder*>(b.get());
            b->add_item({.title = "Old Book"});
            if (m) m->checkpoint();
            b->add_item({.title = "Newest Book"});
            shape == modern_log ? m->finish_leaving_log() : b->finish();
            sql = m ? ryt::insert_book_sql(m->type_id("book"), m->field_id("title"))
                    : ryt::insert_book_sql(item_type::book, field::title, "NULL");
            path = b->database_path();
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
            ryt::Catalogue lib(path);
            ASSERT_TRUE(lib.ok());
            snapshot = ry_snapshot_dir();
            EXPECT_EQ(snapshot.empty(), shape == classic || shape == modern);
            EXPECT_EQ(lib.run(ZTINCR, {{STITLE, "[nN]*"}}).size(), locked ? 2u : 1u);
            EXPECT_EQ(lib.run(ZTINCR, {{STITLE, "[oO]*"}}).size(), 1u);
            EXPECT_EQ(ryt::names_in(dir.path()), before.names);
        }
        EXPECT_TRUE(ry_snapshot_dir().empty());
        EXPECT_TRUE(snapshot.empty() || !ryt::file_exists(snapshot));
        before.expect_unchanged();
    }
}

// ---- The texts replaced ----

// Every binding a listing can make on this library, and more: each parameter the text
// reads takes every title key, some creator keys, every month, every tag, the fullest
// collections and one that does not exist, every fourth item.
std::vector<Bindings> bindings_for(ryt::Catalogue& cat, sqlite3_stmt* s) {
    std::map<int, std::vector<Bindings::mapped_type>> values;
    for (int i = 0; i < nl; ++i) values[STITLE].push_back(search_buttons[i].que);
    for (int i : {0, 1, 13, 19, 27}) values[SCREATOR].push_back(search_buttons[i].que);
    for (auto [parameter, sql] :
         {std::pair{SDATE, "SELECT 0, substr(dateAdded,1,7)||'%' FROM items UNION SELECT 0, '%'"},
          {STAG0, "SELECT tagID FROM tags"},
          {SREID, "SELECT itemID FROM items WHERE itemID % 4 = 0"},
          {SCID,
           "SELECT * FROM (SELECT collectionID FROM collectionItems GROUP BY collectionID "
           "ORDER BY count(*) DESC LIMIT 3) UNION ALL SELECT 999999"}})
        for (const Row& r : cat.query(sql))
            values[parameter].push_back(parameter == SDATE ? Bindings::mapped_type(std::get<1>(r))
                                                           : std::get<0>(r));
    std::vector<Bindings> out{{}};
    for (const auto& [parameter, choices] : values) {
        if (sqlite3_bind_parameter_index(s, ("?" + std::to_string(parameter)).c_str()) == 0) continue;
        std::vector<Bindings> more;
        for (const Bindings& b : out)
            for (const auto& value : choices) {
                more.push_back(b);
                more.back()[parameter] = value;
                if (parameter == STAG0) more.back()[STAGS] = value;  // one tag: the sum is the tag
            }
        out = more;
    }
    return out;
}

// On the demo library and a synthetic one of each generation, the rewritten texts give the
// same rows in the same order for every kind and binding; and no plan of theirs
// materialises a join of the whole library.
TEST(CatalogueRewrite, SameRowsInTheSameOrderAsTheTextsReplaced) {
    const std::time_t now = std::time(nullptr);
    for (const std::string& g : generations) {
        SCOPED_TRACE(g);
        ryt::TempDir dir;
        {
            auto b = builder(g, dir.path(), now);
            write_demo_library(*b, now);
            write_synthetic_library(*b, {.items = 250, .tags = 30, .collections = 5, .seed = 3}, now);
            b->finish();
        }
        ryt::Catalogue cat(dir.file("zotero.sqlite"));
        ASSERT_TRUE(cat.ok());
        for (int kind = 0; kind < ZLAST; ++kind) {
            if (ry_replaced_texts[kind] == nullptr) continue;
            sqlite3_stmt* raw = nullptr;
            ASSERT_EQ(sqlite3_prepare_v2(cat.db(), ry_replaced_texts[kind], -1, &raw, nullptr), SQLITE_OK);
            ry::unique_stmt before(raw);
            size_t compared = 0;
            for (const Bindings& b : bindings_for(cat, before.get())) {
                Rows expected = ryt::rows_of(before.get(), b);
                ASSERT_EQ(cat.run(kind, b), expected) << "kind " << kind;
                compared += expected.size();
            }
            EXPECT_GT(compared, 0u) << "kind " << kind << " listed nothing";
            for (const Row& step : cat.query(std::string("EXPLAIN QUERY PLAN ") + ry_statement_texts[kind]))
                EXPECT_EQ(std::get<3>(step).find("MATERIALIZE"), std::string::npos) << "kind " << kind;
        }
    }
}

}  // namespace
