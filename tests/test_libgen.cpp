// The library generator: the classic schema it writes, the rows and files of the
// builder, the variety of the demo library and the command-line tool.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "libgen.h"
#include "ry_raii.h"
#include "test_support.h"

using namespace libgen;

namespace {

// A library opened read-only: rows(sql) gives each row with its columns joined by '|'
// (NULL as "<null>"), db(sql) those rows joined by ", ".
struct Db {
    ry::unique_db db;
    explicit Db(const std::string& path) {
        sqlite3* raw = nullptr;
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        db.reset(raw);
    }
    std::vector<std::string> rows(const std::string& sql) {
        sqlite3_stmt* raw = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, nullptr), SQLITE_OK) << sql;
        ry::unique_stmt s(raw);
        std::vector<std::string> out;
        while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
            out.emplace_back();
            for (int c = 0; c < sqlite3_column_count(s.get()); ++c) {
                const unsigned char* t = sqlite3_column_text(s.get(), c);
                out.back() += (c ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "<null>");
            }
        }
        return out;
    }
    std::string operator()(const std::string& sql) {
        std::string out;
        for (const std::string& row : rows(sql)) out += (out.empty() ? "" : ", ") + row;
        return out;
    }
    int n(const std::string& sql) { return std::stoi((*this)(sql)); }
    // Keys are eight characters of the key alphabet (no 0, 1 or O) and unique per table.
    void expect_keys(std::initializer_list<std::string> tables) {
        for (const std::string& t : tables)
            EXPECT_EQ(
                n("SELECT count(*) FROM " + t + " WHERE length(key)<>8 OR key GLOB '*[^2-9A-NP-Z]*' OR " +
                  "key IN (SELECT key FROM " + t + " GROUP BY key HAVING count(*)>1)"),
                0)
                << t;
    }
};

std::string id(int i) { return std::to_string(i); }

}  // namespace

// The tables the program reads, joined NATURAL-ly: an added or renamed column changes the joins.
TEST(LibgenSchema, TablesAndColumnsAreThoseOfAClassicLibrary) {
    ryt::TempDir dir;
    ClassicLibraryBuilder(dir.path()).finish();
    Db db(dir.file("zotero.sqlite"));
    const std::string stamps =
        "dateAdded TIMESTAMP, dateModified TIMESTAMP, clientDateModified TIMESTAMP, libraryID INT, key TEXT";
    const std::map<std::string, std::string> tables = {
        {"items", "itemID INTEGER, itemTypeID INT, " + stamps},
        {"itemDataValues", "valueID INTEGER, value"},
        {"itemData", "itemID INT, fieldID INT, valueID"},
        {"itemCreators", "itemID INT, creatorID INT, creatorTypeID INT, orderIndex INT"},
        {"creators", "creatorID INTEGER, creatorDataID INT, " + stamps},
        {"creatorData",
         "creatorDataID INTEGER, firstName TEXT, lastName TEXT, shortName TEXT, fieldMode INT, birthYear "
         "INT"},
        {"collections", "collectionID INTEGER, collectionName TEXT, parentCollectionID INT, " + stamps},
        {"collectionItems", "collectionID INT, itemID INT, orderIndex INT"},
        {"tags", "tagID INTEGER, name TEXT, type INT, " + stamps},
        {"itemTags", "itemID INT, tagID INT"},
        {"itemAttachments",
         "itemID INTEGER, sourceItemID INT, linkMode INT, mimeType TEXT, charsetID INT, path TEXT, "
         "originalPath TEXT, syncState INT, storageModTime INT, storageHash TEXT"},
        {"itemNotes", "itemID INTEGER, sourceItemID INT, note TEXT, title TEXT"},
    };
    for (const auto& [table, columns] : tables)
        EXPECT_EQ(db("SELECT trim(name || ' ' || type) FROM pragma_table_info('" + table + "')"), columns)
            << table;
    // The numbers the statements rely on.
    EXPECT_EQ(db("SELECT version FROM version WHERE schema='userdata'"), "76");
    EXPECT_EQ(db("SELECT fieldName FROM fields WHERE fieldID=110"), "title");
    EXPECT_EQ(db("SELECT typeName FROM itemTypes WHERE itemTypeID IN (1,14) ORDER BY itemTypeID"),
              "note, attachment");
}

// Items, creators and attachments as the reference manager writes them; stored files
// lie where the path says.
TEST(LibgenBuilder, RowsAndFilesAsTheReferenceManagerWritesThem) {
    ryt::TempDir dir;
    ClassicLibraryBuilder b(dir.path(), 5, 1236000000);  // 2009-03-02 13:20:00 UTC
    int dated = b.add_item({.type = item_type::journalArticle,
                            .title = "Atlas",
                            .creators = {{"Ann", "Lee"}, institution("Board of Works"), {"Bo", "Ng"}},
                            .date_added = "2008-11-30 23:59:59"});
    int year = b.add_item({.title = "1984"});
    b.add_item({.title = "01984"});
    b.add_item({.title = "1984a"});
    b.add_item({.type = item_type::legal_case});
    const std::string elsewhere = dir.file("elsewhere/paper.pdf");
    // Each attachment and its linkMode|mimeType|path.
    const std::vector<std::pair<Attachment, std::string>> cases = {
        {{.parent = year, .mime_type = "application/pdf", .file = "Full text.pdf", .contents = "%PDF-1.4"},
         "0|application/pdf|storage:Full text.pdf"},
        {{.parent = year, .link_mode = LinkMode::imported_url, .file = "page.html", .contents = "<html/>"},
         "1|<null>|storage:page.html"},
        {{.parent = year, .link_mode = LinkMode::linked_file, .file = elsewhere, .contents = "%PDF"},
         "2|<null>|" + elsewhere},
        {{.parent = year, .link_mode = LinkMode::linked_url, .url = "http://example.org/"},
         "3|<null>|<null>"},
    };
    std::vector<AddedAttachment> added;
    for (const auto& c : cases) added.push_back(b.add_attachment(c.first));
    std::string key = b.key_of(dated);
    b.finish();

    Db db(b.database_path());
    EXPECT_EQ(db("SELECT itemTypeID, dateAdded, dateModified, libraryID, key FROM items WHERE itemID IN (" +
                 id(dated) + "," + id(year) + ")"),
              "4|2008-11-30 23:59:59|2008-11-30 23:59:59|<null>|" + key + ", 2|2009-03-02 13:20:00|" +
                  "2009-03-02 13:20:00|<null>|" + b.key_of(year));
    // A number-like title is stored as an integer, unless that would change its text.
    EXPECT_EQ(db("SELECT typeof(value), value FROM itemData NATURAL JOIN itemDataValues WHERE fieldID=110 "
                 "AND itemID <= " +
                 id(year + 3) + " ORDER BY itemID"),
              "text|Atlas, integer|1984, text|01984, text|1984a");  // none for the untitled case
    EXPECT_EQ(
        db("SELECT orderIndex, creatorTypeID, firstName, lastName, fieldMode FROM itemCreators NATURAL JOIN "
           "creators NATURAL JOIN creatorData WHERE itemID=" +
           id(dated) + " ORDER BY orderIndex"),
        "0|1|Ann|Lee|0, 1|1||Board of Works|1, 2|1|Bo|Ng|0");
    for (size_t k = 0; k < cases.size(); ++k) {
        const std::string& key = added[k].key;
        std::string row =
            db("SELECT itemTypeID, key, sourceItemID, linkMode, mimeType, path FROM items "
               "NATURAL JOIN itemAttachments WHERE itemID=" +
               id(added[k].item_id));
        EXPECT_EQ(row, "14|" + key + "|" + id(year) + "|" + cases[k].second);
        std::string path = row.substr(row.rfind('|') + 1);
        if (path.rfind("storage:", 0) == 0) path = dir.file("storage/" + key + "/" + path.substr(8));
        if (path == "<null>")
            EXPECT_FALSE(ryt::file_exists(dir.file("storage/" + key)));
        else
            EXPECT_EQ(ryt::read_file(path), cases[k].first.contents) << path;
    }
    db.expect_keys({"items", "creators"});
}

TEST(LibgenDemo, HoldsEveryKindOfRowTheProgramMeets) {
    ryt::TempDir dir;
    std::time_t now = std::time(nullptr);
    ClassicLibraryBuilder b(dir.path(), 1, now);
    DemoSummary sum = write_demo_library(b, now);
    b.finish();
    Db db(dir.file("zotero.sqlite"));
    const std::string R = " FROM items i WHERE itemTypeID NOT IN (1,14)";  // the regular items
    const std::string T =
        "SELECT count(*) FROM items NATURAL JOIN itemData NATURAL JOIN itemDataValues WHERE "
        "fieldID=110 AND itemTypeID NOT IN (1,14) AND ";  // their titles
    EXPECT_EQ(db.n("SELECT count(*)" + R), sum.regular_items);
    EXPECT_TRUE(sum.regular_items >= 90 && sum.regular_items <= 130) << sum.regular_items;
    EXPECT_EQ(db.n("SELECT count(*) FROM items NATURAL JOIN itemNotes WHERE itemTypeID=1"), sum.notes);
    EXPECT_EQ(db.n("SELECT count(*) FROM items NATURAL JOIN itemAttachments WHERE itemTypeID=14"),
              sum.attachments);
    std::vector<std::pair<int, std::string>> at_least = {
        {1, "SELECT count(*) FROM itemNotes WHERE sourceItemID IS NULL"},
        {1, "SELECT count(*)" + R + " AND itemID NOT IN (SELECT itemID FROM itemData WHERE fieldID=110)"},
        {1, T + "typeof(value)='integer'"},
        {1, T + "typeof(value)='text' AND value GLOB '[0-9]*'"},
        {1, T + "unicode(value) < 128 AND NOT value GLOB '[0-9A-Za-z]*'"},  // punctuation
        {1, T + "unicode(value) >= 128"},
        {1, T + "length(value) > 120"},  // wraps in the list
        {1, T + "value GLOB '[a-z]*'"},
        // Items with no, one and four creators; institutions.
        {3,
         "SELECT count(DISTINCT n) FROM (SELECT (SELECT count(*) FROM itemCreators c WHERE "
         "c.itemID=i.itemID) n" +
             R + ") WHERE n IN (0,1,4)"},
        {2, "SELECT count(*) FROM creatorData WHERE fieldMode=1 AND firstName='' AND lastName<>''"},
        // Collections nested two deep; tags of both types.
        {1,
         "SELECT count(*) FROM collections c JOIN collections p ON c.parentCollectionID=p.collectionID "
         "WHERE p.parentCollectionID IS NOT NULL"},
        {2, "SELECT count(DISTINCT type) FROM tags"},
        // Attachments of every kind; items with none, one and several.
        {4,
         "SELECT count(DISTINCT mimeType) FROM itemAttachments WHERE mimeType IN "
         "('application/pdf','application/epub+zip','text/html','text/plain')"},
        {4, "SELECT count(DISTINCT linkMode) FROM itemAttachments"},
        {3,
         "SELECT count(DISTINCT min(n,2)) FROM (SELECT (SELECT count(*) FROM itemAttachments a WHERE "
         "a.sourceItemID=i.itemID) n" +
             R + ")"},
        // At least two items added in each of the last twelve months.
        {12, "SELECT count(*) FROM (SELECT substr(dateAdded,1,7) m" + R + " AND dateAdded >= date(" +
                 std::to_string(now) +
                 ", 'unixepoch', 'start of month', '-11 months') GROUP BY m HAVING count(*)>=2)"},
    };
    for (const char* prefix : {"The", "A", "An", "On", "On a", "On an", "On the"})
        at_least.push_back({1, T + "value GLOB '" + prefix + " *'"});
    for (const auto& [min, sql] : at_least) EXPECT_GE(db.n(sql), min) << sql;
    // The PDFs are real PDFs.
    const std::string stored =
        "SELECT 'storage/' || key || '/' || substr(path, 9) FROM items NATURAL JOIN "
        "itemAttachments WHERE linkMode IN (0,1)";
    // One stored and one linked file have gone, as on a real card.
    int missing = 0;
    for (const std::string& f : db.rows(stored)) missing += !ryt::file_exists(dir.file(f));
    for (const std::string& f : db.rows("SELECT path FROM itemAttachments WHERE linkMode=2"))
        missing += !ryt::file_exists(f.starts_with("attachments:") ? dir.file(f.substr(12)) : f);
    EXPECT_EQ(missing, 2);
    std::string pdf = ryt::read_file(dir.file(db(stored + " AND mimeType='application/pdf' LIMIT 1")));
    EXPECT_TRUE(pdf.starts_with("%PDF-1.") && pdf.find("%%EOF") != std::string::npos);
    db.expect_keys({"items", "creators", "collections", "tags"});
}

TEST(LibgenTool, WritesTheDemoAndSyntheticLibrariesAndRejectsBadArguments) {
    ryt::TempDir dir;
    auto gen = [&](std::vector<std::string> args, const std::string& query) {
        args.insert(args.begin(), RYX_LIBGEN_BINARY);
        EXPECT_EQ(ryt::run(args).exit_status, 0);
        return Db(args.back() + "/zotero.sqlite")(query);
    };
    std::string items = gen({"--demo", dir.file("lib")}, "SELECT count(*) FROM items");
    EXPECT_EQ(gen({"--demo", dir.file("lib")}, "SELECT count(*) FROM items"),
              items);  // replaced, not added to
    // Synthetic libraries: the counts asked for, the same rows for the same seed.
    auto synthetic = [&](const std::string& name, const char* seed) {
        return gen({"--items", "300", "--tags", "40", "--collections", "12", "--seed", seed, "--now",
                    "1236000000", dir.file(name)},
                   "SELECT count(*) FROM items WHERE itemTypeID NOT IN (1,14) UNION ALL SELECT count(*) FROM "
                   "tags UNION ALL SELECT count(*) FROM collections UNION ALL SELECT group_concat(key || "
                   "dateAdded || value) FROM items NATURAL JOIN itemData NATURAL JOIN itemDataValues WHERE "
                   "fieldID=110");
    };
    std::string a = synthetic("a", "7");
    EXPECT_EQ(a.substr(0, a.find(", ", 8)), "300, 40, 12");
    EXPECT_EQ(a, synthetic("b", "7"));
    EXPECT_NE(a, synthetic("c", "8"));
    for (std::vector<std::string> bad :
         {std::vector<std::string>{}, {"--items", "many"}, {"--items", "-3"}}) {
        bad.insert(bad.begin(), RYX_LIBGEN_BINARY);
        if (bad.size() > 1) bad.push_back(dir.file("x"));
        EXPECT_EQ(ryt::run(bad).exit_status, 2) << bad.size();
    }
    EXPECT_FALSE(ryt::file_exists(dir.file("x")));
}
