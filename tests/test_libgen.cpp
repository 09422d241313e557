// The library generator: the classic schema it writes, the rows and files of the
// builder, the variety of the demo library and the command-line tool.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "libgen.h"
#include "ry_raii.h"
#include "test_support.h"

using namespace libgen;

namespace {

ry::unique_db open_db(const std::string& path) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    return ry::unique_db(db);
}

// Every row of a query, each column as text ("<null>" for NULL).
std::vector<std::vector<std::string>> query(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    ry::unique_stmt s(raw);
    std::vector<std::vector<std::string>> rows;
    while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int c = 0; c < sqlite3_column_count(s.get()); ++c) {
            const unsigned char* t = sqlite3_column_text(s.get(), c);
            row.push_back(t ? reinterpret_cast<const char*>(t) : "<null>");
        }
        rows.push_back(row);
    }
    return rows;
}

std::string one(sqlite3* db, const std::string& sql) {
    auto rows = query(db, sql);
    return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
}

int count(sqlite3* db, const std::string& sql) { return std::stoi(one(db, sql)); }

bool is_key(const std::string& k) {
    if (k.size() != 8) return false;
    for (char c : k)
        if (std::string("23456789ABCDEFGHIJKLMNPQRSTUVWXYZ").find(c) == std::string::npos) return false;
    return true;
}

}  // namespace

// ---- the schema -------------------------------------------------------------

TEST(LibgenSchema, ColumnsAndDeclaredTypesAreThoseOfAClassicLibrary) {
    ryt::TempDir dir;
    ClassicLibraryBuilder(dir.path()).finish();
    auto db = open_db(dir.file("zotero.sqlite"));
    using Columns = std::vector<std::pair<std::string, std::string>>;
    const std::map<std::string, Columns> expected = {
        {"items",
         {{"itemID", "INTEGER"},
          {"itemTypeID", "INT"},
          {"dateAdded", "TIMESTAMP"},
          {"dateModified", "TIMESTAMP"},
          {"clientDateModified", "TIMESTAMP"},
          {"libraryID", "INT"},
          {"key", "TEXT"}}},
        {"itemDataValues", {{"valueID", "INTEGER"}, {"value", ""}}},
        {"itemData", {{"itemID", "INT"}, {"fieldID", "INT"}, {"valueID", ""}}},
        {"itemCreators",
         {{"itemID", "INT"}, {"creatorID", "INT"}, {"creatorTypeID", "INT"}, {"orderIndex", "INT"}}},
        {"creators",
         {{"creatorID", "INTEGER"},
          {"creatorDataID", "INT"},
          {"dateAdded", "TIMESTAMP"},
          {"dateModified", "TIMESTAMP"},
          {"clientDateModified", "TIMESTAMP"},
          {"libraryID", "INT"},
          {"key", "TEXT"}}},
        {"creatorData",
         {{"creatorDataID", "INTEGER"},
          {"firstName", "TEXT"},
          {"lastName", "TEXT"},
          {"shortName", "TEXT"},
          {"fieldMode", "INT"},
          {"birthYear", "INT"}}},
        {"collections",
         {{"collectionID", "INTEGER"},
          {"collectionName", "TEXT"},
          {"parentCollectionID", "INT"},
          {"dateAdded", "TIMESTAMP"},
          {"dateModified", "TIMESTAMP"},
          {"clientDateModified", "TIMESTAMP"},
          {"libraryID", "INT"},
          {"key", "TEXT"}}},
        {"collectionItems", {{"collectionID", "INT"}, {"itemID", "INT"}, {"orderIndex", "INT"}}},
        {"tags",
         {{"tagID", "INTEGER"},
          {"name", "TEXT"},
          {"type", "INT"},
          {"dateAdded", "TIMESTAMP"},
          {"dateModified", "TIMESTAMP"},
          {"clientDateModified", "TIMESTAMP"},
          {"libraryID", "INT"},
          {"key", "TEXT"}}},
        {"itemTags", {{"itemID", "INT"}, {"tagID", "INT"}}},
        {"itemAttachments",
         {{"itemID", "INTEGER"},
          {"sourceItemID", "INT"},
          {"linkMode", "INT"},
          {"mimeType", "TEXT"},
          {"charsetID", "INT"},
          {"path", "TEXT"},
          {"originalPath", "TEXT"},
          {"syncState", "INT"},
          {"storageModTime", "INT"},
          {"storageHash", "TEXT"}}},
        {"itemNotes", {{"itemID", "INTEGER"}, {"sourceItemID", "INT"}, {"note", "TEXT"}, {"title", "TEXT"}}},
        {"fields", {{"fieldID", "INTEGER"}, {"fieldName", "TEXT"}, {"fieldFormatID", "INT"}}},
        {"itemTypes",
         {{"itemTypeID", "INTEGER"},
          {"typeName", "TEXT"},
          {"templateItemTypeID", "INT"},
          {"display", "INT"}}},
        {"deletedItems", {{"itemID", "INTEGER"}, {"dateDeleted", ""}}},
        {"libraries", {{"libraryID", "INTEGER"}, {"libraryType", "TEXT"}}},
        {"version", {{"schema", "TEXT"}, {"version", "INT"}}},
    };
    for (const auto& [table, columns] : expected) {
        Columns actual;
        for (const auto& row : query(db.get(), "PRAGMA table_info(" + table + ")"))
            actual.push_back({row[1], row[2]});
        EXPECT_EQ(actual, columns) << table;
    }
    auto tables = query(db.get(), "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
    EXPECT_EQ(tables.size(), expected.size());
}

TEST(LibgenSchema, KeysIndexesAndNumbersAreTheReferenceManagers) {
    ryt::TempDir dir;
    ClassicLibraryBuilder(dir.path()).finish();
    auto db = open_db(dir.file("zotero.sqlite"));
    EXPECT_EQ(one(db.get(), "SELECT version FROM version WHERE schema='userdata'"), "76");
    // Primary keys that several statements join on.
    EXPECT_EQ(query(db.get(), "SELECT name FROM pragma_table_info('itemData') WHERE pk>0 ORDER BY pk"),
              (std::vector<std::vector<std::string>>{{"itemID"}, {"fieldID"}}));
    EXPECT_EQ(query(db.get(), "SELECT name FROM pragma_table_info('itemCreators') WHERE pk>0 ORDER BY pk"),
              (std::vector<std::vector<std::string>>{
                  {"itemID"}, {"creatorID"}, {"creatorTypeID"}, {"orderIndex"}}));
    EXPECT_EQ(count(db.get(),
                    "SELECT count(*) FROM pragma_index_list('itemData') l, pragma_index_info(l.name) i "
                    "WHERE l.origin='c' AND i.seqno=0 AND i.name='fieldID'"),
              1);
    EXPECT_NE(one(db.get(), "SELECT sql FROM sqlite_master WHERE name='tags'").find("COLLATE NOCASE"),
              std::string::npos);
    const std::map<std::string, std::string> fields = {{"1", "url"},         {"14", "date"},
                                                       {"110", "title"},     {"111", "caseName"},
                                                       {"112", "nameOfAct"}, {"113", "subject"}};
    for (const auto& [id, name] : fields)
        EXPECT_EQ(one(db.get(), "SELECT fieldName FROM fields WHERE fieldID=" + id), name);
    const std::map<std::string, std::string> types = {
        {"1", "note"},     {"2", "book"},        {"3", "bookSection"}, {"4", "journalArticle"},
        {"13", "webpage"}, {"14", "attachment"}, {"17", "case"},       {"33", "conferencePaper"},
        {"34", "document"}};
    for (const auto& [id, name] : types)
        EXPECT_EQ(one(db.get(), "SELECT typeName FROM itemTypes WHERE itemTypeID=" + id), name);
}

// ---- the builder's rows -----------------------------------------------------

TEST(LibgenBuilder, ItemsGetKeysDatesAndTheirFieldsAsTheReferenceManagerWritesThem) {
    ryt::TempDir dir;
    ClassicLibraryBuilder b(dir.path(), 5, 1236000000);  // 2009-03-02 13:20:00 UTC
    int dated = b.add_item(
        {.type = item_type::journalArticle, .title = "Atlas", .date_added = "2008-11-30 23:59:59"});
    int undated = b.add_item({.title = "1984"});
    int again = b.add_item({.title = "1984"});
    int padded = b.add_item({.title = "01984"});
    int mixed = b.add_item({.title = "1984a"});
    int untitled = b.add_item({.type = item_type::legal_case});
    b.set_field(untitled, field::caseName, "Able v. Baker");
    std::string dated_key = b.key_of(dated);
    b.finish();
    b.finish();  // a second finish is harmless

    auto db = open_db(b.database_path());
    EXPECT_EQ(query(db.get(),
                    "SELECT itemTypeID, dateAdded, dateModified, libraryID, key FROM items WHERE itemID=" +
                        std::to_string(dated)),
              (std::vector<std::vector<std::string>>{
                  {"4", "2008-11-30 23:59:59", "2008-11-30 23:59:59", "<null>", dated_key}}));
    EXPECT_EQ(one(db.get(), "SELECT dateAdded FROM items WHERE itemID=" + std::to_string(undated)),
              "2009-03-02 13:20:00");
    EXPECT_EQ(count(db.get(), "SELECT count(*) FROM items WHERE libraryID IS NOT NULL"), 0);

    auto title_of = [&](int id, const char* what) {
        return one(db.get(), std::string("SELECT ") + what +
                                 " FROM itemData NATURAL JOIN itemDataValues WHERE fieldID=110 AND itemID=" +
                                 std::to_string(id));
    };
    EXPECT_EQ(title_of(undated, "typeof(value)"), "integer");
    EXPECT_EQ(title_of(padded, "typeof(value)"), "text");  // an integer would lose the zero
    EXPECT_EQ(title_of(mixed, "typeof(value)"), "text");
    EXPECT_EQ(title_of(dated, "value"), "Atlas");
    // One value row serves every item with that value.
    EXPECT_EQ(one(db.get(), "SELECT count(DISTINCT valueID) FROM itemData WHERE itemID IN (" +
                                std::to_string(undated) + "," + std::to_string(again) + ")"),
              "1");
    EXPECT_EQ(title_of(untitled, "value"), "<none>");
    EXPECT_EQ(
        one(db.get(), "SELECT value FROM itemData NATURAL JOIN itemDataValues WHERE fieldID=111 AND itemID=" +
                          std::to_string(untitled)),
        "Able v. Baker");
}

TEST(LibgenBuilder, CreatorsKeepTheirOrderAndAreSharedBetweenItems) {
    ryt::TempDir dir;
    ClassicLibraryBuilder b(dir.path());
    int first = b.add_item(
        {.title = "One", .creators = {{"Ann", "Lee"}, institution("Board of Works"), {"Bo", "Ng"}}});
    int second = b.add_item({.title = "Two", .creators = {{"Bo", "Ng"}}});
    b.finish();
    auto db = open_db(b.database_path());
    EXPECT_EQ(query(db.get(),
                    "SELECT orderIndex, creatorTypeID, firstName, lastName, fieldMode FROM itemCreators "
                    "NATURAL JOIN creators NATURAL JOIN creatorData WHERE itemID=" +
                        std::to_string(first) + " ORDER BY orderIndex"),
              (std::vector<std::vector<std::string>>{{"0", "1", "Ann", "Lee", "0"},
                                                     {"1", "1", "", "Board of Works", "1"},
                                                     {"2", "1", "Bo", "Ng", "0"}}));
    EXPECT_EQ(count(db.get(),
                    "SELECT count(DISTINCT creatorID) FROM itemCreators NATURAL JOIN creators NATURAL JOIN "
                    "creatorData WHERE lastName='Ng' AND itemID IN (" +
                        std::to_string(first) + "," + std::to_string(second) + ")"),
              1);
    for (const auto& row : query(db.get(), "SELECT key FROM creators")) EXPECT_TRUE(is_key(row[0])) << row[0];
}

TEST(LibgenBuilder, AttachmentsAreItemsWithTheirOwnKeysAndStoredFilesLieWherePathSays) {
    ryt::TempDir dir;
    ClassicLibraryBuilder b(dir.path());
    int parent = b.add_item({.title = "Parent"});
    Attachment pdf;
    pdf.parent = parent;
    pdf.mime_type = "application/pdf";
    pdf.file = "Full text.pdf";
    pdf.contents = "%PDF-1.4 tiny";
    pdf.title = "Full Text";
    AddedAttachment stored = b.add_attachment(pdf);
    Attachment snapshot;
    snapshot.parent = parent;
    snapshot.link_mode = LinkMode::imported_url;
    snapshot.mime_type = "text/html";
    snapshot.file = "page.html";
    snapshot.contents = "<html></html>";
    AddedAttachment saved = b.add_attachment(snapshot);
    Attachment linked;
    linked.parent = parent;
    linked.link_mode = LinkMode::linked_file;
    linked.file = dir.file("elsewhere/paper.pdf");
    linked.contents = "%PDF";
    AddedAttachment linked_added = b.add_attachment(linked);
    Attachment url;
    url.parent = parent;
    url.link_mode = LinkMode::linked_url;
    url.url = "http://example.org/";
    AddedAttachment url_added = b.add_attachment(url);
    Attachment relative;
    relative.link_mode = LinkMode::linked_file;
    relative.file = "not/absolute.pdf";
    EXPECT_THROW(b.add_attachment(relative), std::invalid_argument);
    b.finish();

    auto db = open_db(b.database_path());
    auto row_of = [&](const AddedAttachment& a) {
        auto rows = query(db.get(),
                          "SELECT itemTypeID, key, sourceItemID, linkMode, ifnull(mimeType,'<null>'), "
                          "ifnull(path,'<null>') FROM items NATURAL JOIN itemAttachments WHERE itemID=" +
                              std::to_string(a.item_id));
        return rows.empty() ? std::vector<std::string>{} : rows[0];
    };
    const std::string p = std::to_string(parent);
    EXPECT_EQ(row_of(stored), (std::vector<std::string>{"14", stored.key, p, "0", "application/pdf",
                                                        "storage:Full text.pdf"}));
    EXPECT_EQ(row_of(saved),
              (std::vector<std::string>{"14", saved.key, p, "1", "text/html", "storage:page.html"}));
    EXPECT_EQ(row_of(linked_added),
              (std::vector<std::string>{"14", linked_added.key, p, "2", "<null>", linked.file}));
    EXPECT_EQ(row_of(url_added), (std::vector<std::string>{"14", url_added.key, p, "3", "<null>", "<null>"}));
    EXPECT_NE(stored.key, saved.key);
    EXPECT_NE(stored.key, b.key_of(parent));

    EXPECT_EQ(ryt::read_file(dir.file("storage/" + stored.key + "/Full text.pdf")), "%PDF-1.4 tiny");
    EXPECT_EQ(ryt::read_file(dir.file("storage/" + saved.key + "/page.html")), "<html></html>");
    EXPECT_EQ(ryt::read_file(linked.file), "%PDF");
    EXPECT_FALSE(ryt::file_exists(dir.file("storage/" + url_added.key)));
    EXPECT_EQ(
        one(db.get(), "SELECT value FROM itemData NATURAL JOIN itemDataValues WHERE fieldID=110 AND itemID=" +
                          std::to_string(stored.item_id)),
        "Full Text");
}

TEST(LibgenBuilder, NotesCollectionsTagsAndTrash) {
    ryt::TempDir dir;
    ClassicLibraryBuilder b(dir.path());
    int item = b.add_item({.title = "Item"});
    int other = b.add_item({.title = "Other"});
    int note = b.add_note(item, "<p>First <b>line</b></p><p>second</p>");
    int loose = b.add_note(0, "<p>Alone</p>");
    int top = b.add_collection("Top");
    int inner = b.add_collection("inner", top);
    b.add_to_collection(top, item);
    b.add_to_collection(top, other);
    b.add_to_collection(top, item);  // already a member
    b.add_to_collection(inner, other);
    int manual = b.add_tag("History");
    EXPECT_EQ(b.add_tag("history"), manual);  // the same name in another case is the same tag
    int automatic = b.add_tag("history", tag_automatic);
    EXPECT_NE(automatic, manual);
    b.tag_item(item, manual);
    b.tag_item(item, automatic);
    b.tag_item(item, manual);
    b.trash(other);
    b.finish();
    EXPECT_THROW(b.add_item({.title = "late"}), std::logic_error);

    auto db = open_db(b.database_path());
    EXPECT_EQ(
        query(db.get(),
              "SELECT itemTypeID, sourceItemID, title FROM items NATURAL JOIN itemNotes ORDER BY itemID"),
        (std::vector<std::vector<std::string>>{{"1", std::to_string(item), "First line"},
                                               {"1", "<null>", "Alone"}}));
    EXPECT_NE(note, loose);
    EXPECT_EQ(
        query(db.get(),
              "SELECT collectionName, ifnull(parentCollectionID, 0) FROM collections ORDER BY collectionID"),
        (std::vector<std::vector<std::string>>{{"Top", "0"}, {"inner", std::to_string(top)}}));
    // Members are numbered in the order they were added, per collection.
    EXPECT_EQ(
        query(
            db.get(),
            "SELECT collectionID, itemID, orderIndex FROM collectionItems ORDER BY collectionID, orderIndex"),
        (std::vector<std::vector<std::string>>{{std::to_string(top), std::to_string(item), "0"},
                                               {std::to_string(top), std::to_string(other), "1"},
                                               {std::to_string(inner), std::to_string(other), "0"}}));
    EXPECT_EQ(query(db.get(), "SELECT name, type FROM tags ORDER BY tagID"),
              (std::vector<std::vector<std::string>>{{"History", "0"}, {"history", "1"}}));
    EXPECT_EQ(count(db.get(), "SELECT count(*) FROM itemTags WHERE itemID=" + std::to_string(item)), 2);
    EXPECT_EQ(one(db.get(), "SELECT itemID FROM deletedItems"), std::to_string(other));
    for (const char* table : {"items", "collections", "tags"})
        for (const auto& row : query(db.get(), std::string("SELECT key FROM ") + table))
            EXPECT_TRUE(is_key(row[0])) << table << " " << row[0];
}

TEST(LibgenBuilder, ReplacesAnExistingLibrary) {
    ryt::TempDir dir;
    {
        ClassicLibraryBuilder b(dir.path());
        b.add_item({.title = "Old"});
    }  // the destructor commits
    ClassicLibraryBuilder b(dir.path());
    b.add_item({.title = "New"});
    b.finish();
    auto db = open_db(b.database_path());
    EXPECT_EQ(query(db.get(), "SELECT value FROM itemDataValues"),
              (std::vector<std::vector<std::string>>{{"New"}}));
}

// ---- the demo library -------------------------------------------------------

class LibgenDemo : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new ryt::TempDir;
        now_ = std::time(nullptr);
        ClassicLibraryBuilder b(dir_->path(), 1, now_);
        summary_ = write_demo_library(b, now_);
        b.finish();
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { db_ = open_db(dir_->file("zotero.sqlite")); }
    sqlite3* db() { return db_.get(); }
    // Regular items: neither notes nor attachments.
    static constexpr const char* regular = "itemTypeID NOT IN (1,14)";

    static ryt::TempDir* dir_;
    static std::time_t now_;
    static DemoSummary summary_;
    ry::unique_db db_;
};
ryt::TempDir* LibgenDemo::dir_ = nullptr;
std::time_t LibgenDemo::now_ = 0;
DemoSummary LibgenDemo::summary_;

TEST_F(LibgenDemo, HoldsAboutAHundredItemsWithNotesAndAttachmentsCountedRight) {
    int items = count(db(), std::string("SELECT count(*) FROM items WHERE ") + regular);
    EXPECT_GE(items, 90);
    EXPECT_LE(items, 130);
    EXPECT_EQ(items, summary_.regular_items);
    EXPECT_EQ(count(db(), "SELECT count(*) FROM items NATURAL JOIN itemNotes WHERE itemTypeID=1"),
              summary_.notes);
    EXPECT_EQ(count(db(), "SELECT count(*) FROM items NATURAL JOIN itemAttachments WHERE itemTypeID=14"),
              summary_.attachments);
    EXPECT_GE(summary_.notes, 5);
    EXPECT_GE(count(db(), "SELECT count(*) FROM itemNotes WHERE sourceItemID IS NULL"), 1);
    EXPECT_GE(count(db(), "SELECT count(DISTINCT itemTypeID) FROM items"), 8);
    // Items without a title field exist and are regular items.
    EXPECT_GE(count(db(), std::string("SELECT count(*) FROM items WHERE ") + regular +
                              " AND itemID NOT IN (SELECT itemID FROM itemData WHERE fieldID=110)"),
              1);
}

TEST_F(LibgenDemo, TitlesCoverEveryLeadingWordGroupDigitsPunctuationAndOtherScripts) {
    auto titles =
        query(db(), std::string("SELECT value, typeof(value) FROM items NATURAL JOIN itemData NATURAL JOIN "
                                "itemDataValues WHERE fieldID=110 AND ") +
                        regular);
    auto any = [&](auto pred) {
        for (const auto& t : titles)
            if (pred(t[0], t[1])) return true;
        return false;
    };
    for (const char* prefix : {"The ", "A ", "An ", "On ", "On a ", "On an ", "On the "})
        EXPECT_TRUE(any([&](const std::string& v, const std::string&) { return v.rfind(prefix, 0) == 0; }))
            << prefix;
    EXPECT_TRUE(any([](const std::string&, const std::string& type) { return type == "integer"; }));
    EXPECT_TRUE(
        any([](const std::string& v, const std::string& type) { return type == "text" && isdigit(v[0]); }));
    EXPECT_TRUE(any(
        [](const std::string& v, const std::string&) { return ispunct(static_cast<unsigned char>(v[0])); }));
    EXPECT_TRUE(any(
        [](const std::string& v, const std::string&) { return static_cast<unsigned char>(v[0]) >= 0x80; }));
    EXPECT_TRUE(
        any([](const std::string& v, const std::string&) { return v.size() > 120; }));  // wraps in the list
    EXPECT_TRUE(any(
        [](const std::string& v, const std::string&) { return islower(static_cast<unsigned char>(v[0])); }));
}

TEST_F(LibgenDemo, CreatorsRangeFromNoneToFourAndIncludeInstitutions) {
    auto counts =
        query(db(), std::string("SELECT (SELECT count(*) FROM itemCreators c WHERE c.itemID=i.itemID) n "
                                "FROM items i WHERE ") +
                        regular + " GROUP BY n");
    std::set<std::string> seen;
    for (const auto& row : counts) seen.insert(row[0]);
    for (const char* n : {"0", "1", "4"}) EXPECT_TRUE(seen.count(n)) << n << " creators";
    EXPECT_GE(
        count(db(), "SELECT count(*) FROM creatorData WHERE fieldMode=1 AND firstName='' AND lastName<>''"),
        2);
}

TEST_F(LibgenDemo, ItemsWereAddedInEachOfTheLastTwelveMonths) {
    struct tm tm;
    gmtime_r(&now_, &tm);
    for (int n = 0; n < 12; ++n) {
        int month = tm.tm_mon - n, year = tm.tm_year + 1900;
        if (month < 0) month += 12, --year;
        char pattern[32];
        snprintf(pattern, sizeof pattern, "%04d-%02d-%%", year, month + 1);
        EXPECT_GE(count(db(), std::string("SELECT count(*) FROM items WHERE ") + regular +
                                  " AND dateAdded LIKE '" + pattern + "'"),
                  2)
            << pattern;
    }
    EXPECT_EQ(count(db(), "SELECT count(*) FROM items WHERE dateAdded > '" + utc_timestamp(now_) + "'"), 0);
    EXPECT_EQ(count(db(),
                    "SELECT count(*) FROM items WHERE dateAdded NOT GLOB "
                    "'[0-9][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'"),
              0);
}

TEST_F(LibgenDemo, CollectionsAreMixedInCaseAndNested) {
    EXPECT_GE(count(db(), "SELECT count(*) FROM collections"), 8);
    EXPECT_GE(count(db(), "SELECT count(*) FROM collections WHERE substr(collectionName,1,1) GLOB '[a-z]'"),
              1);
    EXPECT_GE(count(db(), "SELECT count(*) FROM collections WHERE substr(collectionName,1,1) GLOB '[A-Z]'"),
              1);
    // A grandchild: nesting deeper than one level.
    EXPECT_GE(
        count(db(),
              "SELECT count(*) FROM collections c JOIN collections p ON c.parentCollectionID=p.collectionID "
              "WHERE p.parentCollectionID IS NOT NULL"),
        1);
    EXPECT_GE(count(db(), "SELECT count(DISTINCT collectionID) FROM collectionItems"), 8);
}

TEST_F(LibgenDemo, TagsOfBothTypesShareOneName) {
    EXPECT_GE(count(db(), "SELECT count(*) FROM tags WHERE type=0"), 5);
    EXPECT_GE(count(db(), "SELECT count(*) FROM tags WHERE type=1"), 2);
    EXPECT_GE(
        count(db(), "SELECT count(*) FROM tags a JOIN tags b ON a.name=b.name AND a.type=0 AND b.type=1"), 1);
    EXPECT_GE(
        count(db(), "SELECT count(*) FROM (SELECT itemID FROM itemTags GROUP BY itemID HAVING count(*)>=3)"),
        1);
}

TEST_F(LibgenDemo, AttachmentsOfEveryKindWithTheirFiles) {
    for (const char* mime : {"application/pdf", "application/epub+zip", "text/html", "text/plain"})
        EXPECT_GE(
            count(db(), std::string("SELECT count(*) FROM itemAttachments WHERE mimeType='") + mime + "'"), 1)
            << mime;
    for (int mode = 0; mode <= 3; ++mode)
        EXPECT_GE(count(db(), "SELECT count(*) FROM itemAttachments WHERE linkMode=" + std::to_string(mode)),
                  1)
            << mode;
    // Items with none, one and several attachments.
    auto per_item =
        query(db(), std::string("SELECT min(n,2), count(*) FROM (SELECT (SELECT count(*) FROM "
                                "itemAttachments a WHERE a.sourceItemID=i.itemID) n FROM items i WHERE ") +
                        regular + ") GROUP BY min(n,2)");
    EXPECT_EQ(per_item.size(), 3u);

    auto stored =
        query(db(), "SELECT key, path FROM items NATURAL JOIN itemAttachments WHERE linkMode IN (0,1)");
    ASSERT_FALSE(stored.empty());
    for (const auto& row : stored) {
        ASSERT_EQ(row[1].rfind("storage:", 0), 0u) << row[1];
        std::string file = dir_->file("storage/" + row[0] + "/" + row[1].substr(8));
        EXPECT_TRUE(ryt::file_exists(file)) << file;
    }
    for (const auto& row : query(db(), "SELECT path FROM itemAttachments WHERE linkMode=2")) {
        EXPECT_TRUE(g_path_is_absolute(row[0].c_str())) << row[0];
        EXPECT_TRUE(ryt::file_exists(row[0])) << row[0];
    }
    EXPECT_EQ(count(db(), "SELECT count(*) FROM itemAttachments WHERE linkMode=3 AND path IS NOT NULL"), 0);
    // The PDFs are real PDFs.
    auto pdf =
        query(db(),
              "SELECT key, path FROM items NATURAL JOIN itemAttachments WHERE mimeType='application/pdf' "
              "AND linkMode=0 LIMIT 1");
    ASSERT_EQ(pdf.size(), 1u);
    std::string bytes = ryt::read_file(dir_->file("storage/" + pdf[0][0] + "/" + pdf[0][1].substr(8)));
    EXPECT_EQ(bytes.rfind("%PDF-1.", 0), 0u);
    EXPECT_NE(bytes.find("%%EOF"), std::string::npos);
}

TEST_F(LibgenDemo, KeysAreEightCharactersFromTheKeyAlphabetAndUnique) {
    for (const char* table : {"items", "creators", "collections", "tags"}) {
        auto keys = query(db(), std::string("SELECT key FROM ") + table);
        std::set<std::string> unique;
        for (const auto& row : keys) {
            EXPECT_TRUE(is_key(row[0])) << table << ": " << row[0];
            unique.insert(row[0]);
        }
        EXPECT_EQ(unique.size(), keys.size()) << table;
    }
}

// ---- the command-line tool ----------------------------------------------------

TEST(LibgenTool, WritesTheDemoAndRejectsBadArguments) {
    ryt::TempDir dir;
    ryt::RunResult r = ryt::run({RYX_LIBGEN_BINARY, "--demo", dir.file("lib")});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(ryt::file_exists(dir.file("lib/zotero.sqlite")));
    EXPECT_TRUE(ryt::file_exists(dir.file("lib/storage")));
    EXPECT_EQ(ryt::run({RYX_LIBGEN_BINARY}).exit_status, 2);
    EXPECT_EQ(ryt::run({RYX_LIBGEN_BINARY, "--items", "many", dir.file("x")}).exit_status, 2);
    EXPECT_EQ(ryt::run({RYX_LIBGEN_BINARY, "--items", "-3", dir.file("x")}).exit_status, 2);
    EXPECT_FALSE(ryt::file_exists(dir.file("x")));
}

TEST(LibgenTool, SyntheticLibrariesFollowTheSeed) {
    ryt::TempDir dir;
    auto make = [&](const std::string& name, const char* seed) {
        ryt::RunResult r = ryt::run({RYX_LIBGEN_BINARY, "--items", "300", "--tags", "40", "--collections",
                                     "12", "--seed", seed, "--now", "1236000000", dir.file(name)});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        auto db = open_db(dir.file(name + "/zotero.sqlite"));
        return std::make_pair(
            query(db.get(),
                  "SELECT i.key, i.dateAdded, v.value FROM items i NATURAL JOIN itemData NATURAL JOIN "
                  "itemDataValues v WHERE fieldID=110 ORDER BY itemID"),
            std::vector<int>{count(db.get(), "SELECT count(*) FROM items WHERE itemTypeID NOT IN (1,14)"),
                             count(db.get(), "SELECT count(*) FROM tags"),
                             count(db.get(), "SELECT count(*) FROM collections")});
    };
    auto a = make("a", "7"), b = make("b", "7"), c = make("c", "8");
    EXPECT_EQ(a.second, (std::vector<int>{300, 40, 12}));
    EXPECT_EQ(a.first, b.first);
    EXPECT_NE(a.first, c.first);
}
