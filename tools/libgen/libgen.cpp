// The classic library writer: schema, row writing and the files of stored attachments.
#include "libgen.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdlib>
#include <stdexcept>

#include "libgen_write.h"

namespace libgen {

using namespace detail;

namespace {

// The column sets are those of a real 2.x library, so that natural joins over a
// generated file see the same shared columns as over a user's library.
const char* const classic_schema_sql = R"SQL(
CREATE TABLE version (schema TEXT PRIMARY KEY, version INT NOT NULL);
CREATE TABLE libraries (libraryID INTEGER PRIMARY KEY, libraryType TEXT NOT NULL);
CREATE TABLE itemTypes (itemTypeID INTEGER PRIMARY KEY, typeName TEXT, templateItemTypeID INT,
    display INT DEFAULT 1);
CREATE TABLE fields (fieldID INTEGER PRIMARY KEY, fieldName TEXT, fieldFormatID INT);
CREATE TABLE items (itemID INTEGER PRIMARY KEY, itemTypeID INT NOT NULL,
    dateAdded TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    dateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    clientDateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    libraryID INT, key TEXT NOT NULL, UNIQUE (libraryID, key));
CREATE TABLE itemDataValues (valueID INTEGER PRIMARY KEY, value UNIQUE);
CREATE TABLE itemData (itemID INT, fieldID INT, valueID, PRIMARY KEY (itemID, fieldID));
CREATE INDEX itemData_fieldID ON itemData(fieldID);
CREATE TABLE itemNotes (itemID INTEGER PRIMARY KEY, sourceItemID INT, note TEXT, title TEXT);
CREATE TABLE itemAttachments (itemID INTEGER PRIMARY KEY, sourceItemID INT, linkMode INT,
    mimeType TEXT, charsetID INT, path TEXT, originalPath TEXT, syncState INT DEFAULT 0,
    storageModTime INT, storageHash TEXT);
CREATE INDEX itemAttachments_sourceItemID ON itemAttachments(sourceItemID);
CREATE TABLE creators (creatorID INTEGER PRIMARY KEY, creatorDataID INT NOT NULL,
    dateAdded TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    dateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    clientDateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    libraryID INT, key TEXT NOT NULL, UNIQUE (libraryID, key));
CREATE TABLE creatorData (creatorDataID INTEGER PRIMARY KEY, firstName TEXT, lastName TEXT,
    shortName TEXT, fieldMode INT, birthYear INT);
CREATE TABLE itemCreators (itemID INT, creatorID INT, creatorTypeID INT DEFAULT 1,
    orderIndex INT DEFAULT 0, PRIMARY KEY (itemID, creatorID, creatorTypeID, orderIndex));
CREATE TABLE collections (collectionID INTEGER PRIMARY KEY, collectionName TEXT NOT NULL,
    parentCollectionID INT DEFAULT NULL,
    dateAdded TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    dateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    clientDateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    libraryID INT, key TEXT NOT NULL, UNIQUE (libraryID, key));
CREATE TABLE collectionItems (collectionID INT, itemID INT, orderIndex INT DEFAULT 0,
    PRIMARY KEY (collectionID, itemID));
CREATE INDEX itemID ON collectionItems(itemID);
CREATE TABLE tags (tagID INTEGER PRIMARY KEY, name TEXT NOT NULL COLLATE NOCASE, type INT NOT NULL,
    dateAdded TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    dateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    clientDateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    libraryID INT, key TEXT NOT NULL, UNIQUE (libraryID, name, type), UNIQUE (libraryID, key));
CREATE TABLE itemTags (itemID INT, tagID INT, PRIMARY KEY (itemID, tagID));
CREATE INDEX itemTags_tagID ON itemTags(tagID);
CREATE TABLE deletedItems (itemID INTEGER PRIMARY KEY, dateDeleted DEFAULT CURRENT_TIMESTAMP NOT NULL);

INSERT INTO version VALUES ('userdata', 76);
INSERT INTO itemTypes (itemTypeID, typeName, display) VALUES
    (1, 'note', 0), (2, 'book', 2), (3, 'bookSection', 2), (4, 'journalArticle', 2),
    (13, 'webpage', 1), (14, 'attachment', 0), (17, 'case', 1), (33, 'conferencePaper', 1),
    (34, 'document', 1);
INSERT INTO fields (fieldID, fieldName) VALUES
    (1, 'url'), (14, 'date'), (110, 'title'), (111, 'caseName'), (112, 'nameOfAct'), (113, 'subject');
)SQL";

// Runs a bound write statement to completion.
void run(sqlite3* db, sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) throw std::runtime_error(std::string("write failed: ") + sqlite3_errmsg(db));
}

}  // namespace

std::string utc_timestamp(std::time_t t) {
    struct tm tm;
    gmtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

void create_classic_schema(sqlite3* db) {
    char* message = nullptr;
    if (sqlite3_exec(db, classic_schema_sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "schema";
        sqlite3_free(message);
        throw std::runtime_error(text);
    }
}

ClassicLibraryBuilder::ClassicLibraryBuilder(const std::string& dir, std::uint32_t seed, std::time_t now)
    : dir_(dir), now_(now), rng_(seed) {
    make_dirs(dir_ + "/storage");
    std::string path = database_path();
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) g_unlink((path + suffix).c_str());
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(db);
    if (rc != SQLITE_OK) throw std::runtime_error("cannot create " + path);
    exec("PRAGMA journal_mode=DELETE");
    exec("PRAGMA synchronous=OFF");
    exec("BEGIN");
    create_classic_schema(db_.get());
}

ClassicLibraryBuilder::~ClassicLibraryBuilder() {
    try {
        finish();
    } catch (const std::exception&) {
    }
}

void ClassicLibraryBuilder::finish() {
    if (finished_) return;
    finished_ = true;
    stmts_.clear();
    exec("COMMIT");
    db_.reset();
}

void ClassicLibraryBuilder::exec(const char* sql) {
    check(db_.get(), sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr), sql);
}

sqlite3_stmt* ClassicLibraryBuilder::stmt(const char* sql) {
    if (finished_) throw std::logic_error("library already finished");
    return stmts_.get(db_.get(), sql);
}

std::string ClassicLibraryBuilder::new_key() {
    for (;;) {
        std::string key(8, ' ');
        for (char& c : key) c = key_alphabet[rng_() % (sizeof key_alphabet - 1)];
        if (keys_.insert(key).second) return key;
    }
}

std::string ClassicLibraryBuilder::stamp(const std::string& given) const {
    return given.empty() ? utc_timestamp(now_) : given;
}

int ClassicLibraryBuilder::insert_item(int type, const std::string& date_added) {
    sqlite3_stmt* s = stmt(
        "INSERT INTO items (itemTypeID, dateAdded, dateModified, clientDateModified, libraryID, key) "
        "VALUES (?, ?, ?, ?, NULL, ?)");
    std::string date = stamp(date_added), key = new_key();
    Binder{s} << type << date << date << date << key;
    run(db_.get(), s);
    int id = int(sqlite3_last_insert_rowid(db_.get()));
    item_keys_[id] = key;
    return id;
}

int ClassicLibraryBuilder::value_id(const std::string& value) {
    auto found = values_.find(value);
    if (found != values_.end()) return found->second;
    sqlite3_stmt* s = stmt("INSERT INTO itemDataValues (value) VALUES (?)");
    sqlite3_int64 number;
    if (integer_text(value, &number))
        sqlite3_bind_int64(s, 1, number);
    else
        Binder{s} << value;
    run(db_.get(), s);
    int id = int(sqlite3_last_insert_rowid(db_.get()));
    values_[value] = id;
    return id;
}

int ClassicLibraryBuilder::creator_id(const Creator& c, const std::string& date) {
    std::string lookup = std::to_string(c.field_mode) + '\n' + c.last + '\n' + c.first;
    auto found = creators_.find(lookup);
    if (found != creators_.end()) return found->second;
    sqlite3_stmt* d = stmt(
        "INSERT INTO creatorData (firstName, lastName, shortName, fieldMode, birthYear) "
        "VALUES (?, ?, '', ?, NULL)");
    Binder{d} << c.first << c.last << c.field_mode;
    run(db_.get(), d);
    int data_id = int(sqlite3_last_insert_rowid(db_.get()));
    sqlite3_stmt* s = stmt(
        "INSERT INTO creators (creatorDataID, dateAdded, dateModified, clientDateModified, libraryID, key) "
        "VALUES (?, ?, ?, ?, NULL, ?)");
    Binder{s} << data_id << date << date << date << new_key();
    run(db_.get(), s);
    int id = int(sqlite3_last_insert_rowid(db_.get()));
    creators_[lookup] = id;
    return id;
}

int ClassicLibraryBuilder::add_item(const Item& item) {
    std::string date = stamp(item.date_added);
    int id = insert_item(item.type, date);
    if (item.title) set_field(id, field::title, *item.title);
    int order = 0;
    for (const Creator& c : item.creators) {
        sqlite3_stmt* s = stmt(
            "INSERT INTO itemCreators (itemID, creatorID, creatorTypeID, orderIndex) VALUES (?, ?, ?, ?)");
        Binder{s} << id << creator_id(c, date) << c.creator_type << order++;
        run(db_.get(), s);
    }
    return id;
}

void ClassicLibraryBuilder::set_field(int item_id, int field_id, const std::string& value) {
    sqlite3_stmt* s = stmt("INSERT OR REPLACE INTO itemData (itemID, fieldID, valueID) VALUES (?, ?, ?)");
    Binder{s} << item_id << field_id << value_id(value);
    run(db_.get(), s);
}

int ClassicLibraryBuilder::add_note(int parent, const std::string& html, const std::string& date_added) {
    int id = insert_item(item_type::note, date_added);
    // The note's title column holds its first line as plain text.
    std::string title;
    for (size_t i = 0; i < html.size() && title.find('\n') == std::string::npos; ++i) {
        if (html[i] != '<') {
            title += html[i];
            continue;
        }
        size_t end = html.find('>', i);
        if (end == std::string::npos) break;
        std::string tag = html.substr(i + 1, end - i - 1);
        if (!title.empty() && (tag == "/p" || tag.rfind("br", 0) == 0)) title += '\n';
        i = end;
    }
    if (size_t nl = title.find('\n'); nl != std::string::npos) title.resize(nl);
    sqlite3_stmt* s = stmt("INSERT INTO itemNotes (itemID, sourceItemID, note, title) VALUES (?, ?, ?, ?)");
    Binder b{s};
    b << id;
    if (parent > 0)
        b << parent;
    else
        sqlite3_bind_null(s, ++b.n);
    b << html << title;
    run(db_.get(), s);
    return id;
}

AddedAttachment ClassicLibraryBuilder::add_attachment(const Attachment& a) {
    AddedAttachment out;
    out.item_id = insert_item(item_type::attachment, a.date_added);
    out.key = key_of(out.item_id);
    if (!a.title.empty()) set_field(out.item_id, field::title, a.title);
    if (!a.url.empty()) set_field(out.item_id, field::url, a.url);

    place_attachment_file(a, storage_path(out.key), out);

    sqlite3_stmt* s = stmt(
        "INSERT INTO itemAttachments (itemID, sourceItemID, linkMode, mimeType, charsetID, path, "
        "originalPath, syncState, storageModTime, storageHash) VALUES (?, ?, ?, ?, NULL, ?, NULL, 0, NULL, "
        "NULL)");
    Binder b{s};
    b << out.item_id;
    if (a.parent > 0)
        b << a.parent;
    else
        sqlite3_bind_null(s, ++b.n);
    b << int(a.link_mode) << a.mime_type << out.path;
    run(db_.get(), s);
    return out;
}

int ClassicLibraryBuilder::add_collection(const std::string& name, int parent) {
    sqlite3_stmt* s = stmt(
        "INSERT INTO collections (collectionName, parentCollectionID, dateAdded, dateModified, "
        "clientDateModified, libraryID, key) VALUES (?, ?, ?, ?, ?, NULL, ?)");
    std::string date = stamp("");
    Binder b{s};
    b << name;
    if (parent > 0)
        b << parent;
    else
        sqlite3_bind_null(s, ++b.n);
    b << date << date << date << new_key();
    run(db_.get(), s);
    return int(sqlite3_last_insert_rowid(db_.get()));
}

void ClassicLibraryBuilder::add_to_collection(int collection_id, int item_id) {
    // Each new member goes to the end of the collection, as the reference manager numbers them.
    // Adding a member twice changes nothing.
    sqlite3_stmt* s =
        stmt("INSERT OR IGNORE INTO collectionItems (collectionID, itemID, orderIndex) VALUES (?, ?, ?)");
    int& next = collection_order_[collection_id];
    Binder{s} << collection_id << item_id << next;
    run(db_.get(), s);
    if (sqlite3_changes(db_.get()) > 0) ++next;
}

int ClassicLibraryBuilder::add_tag(const std::string& name, int type) {
    gchar* folded = g_utf8_casefold(name.c_str(), -1);
    std::string lookup = std::to_string(type) + '\n' + folded;
    g_free(folded);
    auto found = tags_.find(lookup);
    if (found != tags_.end()) return found->second;
    sqlite3_stmt* s = stmt(
        "INSERT INTO tags (name, type, dateAdded, dateModified, clientDateModified, libraryID, key) "
        "VALUES (?, ?, ?, ?, ?, NULL, ?)");
    std::string date = stamp("");
    Binder{s} << name << type << date << date << date << new_key();
    run(db_.get(), s);
    int id = int(sqlite3_last_insert_rowid(db_.get()));
    tags_[lookup] = id;
    return id;
}

void ClassicLibraryBuilder::tag_item(int item_id, int tag_id) {
    sqlite3_stmt* s = stmt("INSERT OR IGNORE INTO itemTags (itemID, tagID) VALUES (?, ?)");
    Binder{s} << item_id << tag_id;
    run(db_.get(), s);
}

void ClassicLibraryBuilder::trash(int item_id) {
    sqlite3_stmt* s = stmt("INSERT OR IGNORE INTO deletedItems (itemID, dateDeleted) VALUES (?, ?)");
    Binder{s} << item_id << stamp("");
    run(db_.get(), s);
}

const std::string& ClassicLibraryBuilder::key_of(int item_id) const {
    auto found = item_keys_.find(item_id);
    if (found == item_keys_.end()) throw std::out_of_range("no item " + std::to_string(item_id));
    return found->second;
}

}  // namespace libgen
