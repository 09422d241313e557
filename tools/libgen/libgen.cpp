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
    (13, 'webpage', 1), (14, 'attachment', 0), (17, 'case', 1), (20, 'statute', 1), (21, 'email', 1),
    (33, 'conferencePaper', 1), (34, 'document', 1);
INSERT INTO fields (fieldID, fieldName) VALUES
    (1, 'url'), (14, 'date'), (110, 'title'), (111, 'caseName'), (112, 'nameOfAct'), (113, 'subject');
)SQL";

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
    : WriterCore(dir, seed, now, false) {
    create_classic_schema(db());
}

int ClassicLibraryBuilder::insert_item(int type, const std::string& date_added) {
    sqlite3_stmt* s = stmt(
        "INSERT INTO items (itemTypeID, dateAdded, dateModified, clientDateModified, libraryID, key) "
        "VALUES (?, ?, ?, ?, NULL, ?)");
    std::string date = stamp(date_added), key = new_key();
    Binder{s} << type << date << date << date << key;
    step(s);
    remember_key(last_id(), key);
    return last_id();
}

int ClassicLibraryBuilder::creator_id(const Creator& c, const std::string& date) {
    return cached_creator(c, [&] {
        sqlite3_stmt* d = stmt(
            "INSERT INTO creatorData (firstName, lastName, shortName, fieldMode, birthYear) "
            "VALUES (?, ?, '', ?, NULL)");
        Binder{d} << c.first << c.last << c.field_mode;
        step(d);
        int data_id = last_id();
        sqlite3_stmt* s = stmt(
            "INSERT INTO creators (creatorDataID, dateAdded, dateModified, clientDateModified, libraryID, "
            "key) "
            "VALUES (?, ?, ?, ?, NULL, ?)");
        Binder{s} << data_id << date << date << date << new_key();
        step(s);
        return last_id();
    });
}

int ClassicLibraryBuilder::add_note(int parent, const std::string& html, const std::string& date_added) {
    int id = insert_item(item_type::note, date_added);
    sqlite3_stmt* s = stmt("INSERT INTO itemNotes (itemID, sourceItemID, note, title) VALUES (?, ?, ?, ?)");
    Binder b{s};
    b << id;
    b.id_or_null(parent) << html << note_title(html);
    step(s);
    return id;
}

AddedAttachment ClassicLibraryBuilder::add_attachment(const Attachment& a) {
    AddedAttachment out = begin_attachment(a);
    sqlite3_stmt* s = stmt(
        "INSERT INTO itemAttachments (itemID, sourceItemID, linkMode, mimeType, charsetID, path, "
        "originalPath, syncState, storageModTime, storageHash) VALUES (?, ?, ?, ?, NULL, ?, NULL, 0, NULL, "
        "NULL)");
    Binder b{s};
    b << out.item_id;
    b.id_or_null(a.parent) << int(a.link_mode) << a.mime_type << out.path;
    step(s);
    return out;
}

int ClassicLibraryBuilder::add_collection(const std::string& name, int parent) {
    sqlite3_stmt* s = stmt(
        "INSERT INTO collections (collectionName, parentCollectionID, dateAdded, dateModified, "
        "clientDateModified, libraryID, key) VALUES (?, ?, ?, ?, ?, NULL, ?)");
    std::string date = stamp("");
    Binder b{s};
    b << name;
    b.id_or_null(parent) << date << date << date << new_key();
    step(s);
    return last_id();
}

int ClassicLibraryBuilder::add_tag(const std::string& name, int type) {
    ry::gchar_ptr folded(g_utf8_casefold(name.c_str(), -1));
    return cached(tags_, std::to_string(type) + '\n' + folded.get(), [&] {
        sqlite3_stmt* s = stmt(
            "INSERT INTO tags (name, type, dateAdded, dateModified, clientDateModified, libraryID, key) "
            "VALUES (?, ?, ?, ?, ?, NULL, ?)");
        std::string date = stamp("");
        Binder{s} << name << type << date << date << date << new_key();
        step(s);
        return last_id();
    });
}

void ClassicLibraryBuilder::tag_item(int item_id, int tag_id) {
    sqlite3_stmt* s = stmt("INSERT OR IGNORE INTO itemTags (itemID, tagID) VALUES (?, ?)");
    Binder{s} << item_id << tag_id;
    step(s);
}

}  // namespace libgen
