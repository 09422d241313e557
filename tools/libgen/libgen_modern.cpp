// The modern library writer: the schema of current versions, its two numberings of item
// types and fields, libraries (user, group, feed), the trash and annotations.
#include "libgen_modern.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "libgen_write.h"

namespace libgen {

using namespace detail;

namespace {

// The column sets follow the reference manager's own schema, so that natural joins
// over a generated file see the same shared columns as over a user's library.
const char* const modern_schema_sql = R"SQL(
CREATE TABLE version (schema TEXT PRIMARY KEY, version INT NOT NULL);
CREATE TABLE settings (setting TEXT, key TEXT, value, PRIMARY KEY (setting, key));
CREATE TABLE itemTypes (itemTypeID INTEGER PRIMARY KEY, typeName TEXT, templateItemTypeID INT,
    display INT DEFAULT 1);
CREATE TABLE fields (fieldID INTEGER PRIMARY KEY, fieldName TEXT, fieldFormatID INT);
CREATE TABLE baseFieldMappings (itemTypeID INT, baseFieldID INT, fieldID INT,
    PRIMARY KEY (itemTypeID, baseFieldID, fieldID));
CREATE TABLE creatorTypes (creatorTypeID INTEGER PRIMARY KEY, creatorType TEXT);
CREATE TABLE libraries (libraryID INTEGER PRIMARY KEY, type TEXT NOT NULL, editable INT NOT NULL,
    filesEditable INT NOT NULL, version INT NOT NULL DEFAULT 0, storageVersion INT NOT NULL DEFAULT 0,
    lastSync INT NOT NULL DEFAULT 0, archived INT NOT NULL DEFAULT 0);
CREATE TABLE groups (groupID INTEGER PRIMARY KEY, libraryID INT NOT NULL UNIQUE, name TEXT NOT NULL,
    description TEXT NOT NULL, version INT NOT NULL);
CREATE TABLE feeds (libraryID INTEGER PRIMARY KEY, name TEXT NOT NULL, url TEXT NOT NULL UNIQUE,
    lastUpdate TIMESTAMP, lastCheck TIMESTAMP, lastCheckError TEXT, cleanupReadAfter INT,
    cleanupUnreadAfter INT, refreshInterval INT);
CREATE TABLE items (itemID INTEGER PRIMARY KEY, itemTypeID INT NOT NULL,
    dateAdded TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    dateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    clientDateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP,
    libraryID INT NOT NULL, key TEXT NOT NULL, version INT NOT NULL DEFAULT 0,
    synced INT NOT NULL DEFAULT 0, UNIQUE (libraryID, key));
CREATE INDEX items_synced ON items(synced);
CREATE TABLE itemDataValues (valueID INTEGER PRIMARY KEY, value UNIQUE);
CREATE TABLE itemData (itemID INT, fieldID INT, valueID, PRIMARY KEY (itemID, fieldID));
CREATE INDEX itemData_fieldID ON itemData(fieldID);
CREATE TABLE itemNotes (itemID INTEGER PRIMARY KEY, parentItemID INT, note TEXT, title TEXT);
CREATE INDEX itemNotes_parentItemID ON itemNotes(parentItemID);
CREATE TABLE itemAttachments (itemID INTEGER PRIMARY KEY, parentItemID INT, linkMode INT,
    contentType TEXT, charsetID INT, path TEXT, syncState INT DEFAULT 0, storageModTime INT,
    storageHash TEXT, lastProcessedModificationTime INT);
CREATE INDEX itemAttachments_parentItemID ON itemAttachments(parentItemID);
CREATE INDEX itemAttachments_contentType ON itemAttachments(contentType);
CREATE TABLE itemAnnotations (itemID INTEGER PRIMARY KEY, parentItemID INT NOT NULL,
    type INTEGER NOT NULL, authorName TEXT, text TEXT, comment TEXT, color TEXT, pageLabel TEXT,
    sortIndex TEXT NOT NULL, position TEXT NOT NULL, isExternal INT NOT NULL);
CREATE INDEX itemAnnotations_parentItemID ON itemAnnotations(parentItemID);
CREATE TABLE tags (tagID INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE itemTags (itemID INT NOT NULL, tagID INT NOT NULL, type INT NOT NULL,
    PRIMARY KEY (itemID, tagID));
CREATE INDEX itemTags_tagID ON itemTags(tagID);
CREATE TABLE creators (creatorID INTEGER PRIMARY KEY, firstName TEXT, lastName TEXT, fieldMode INT,
    UNIQUE (lastName, firstName, fieldMode));
CREATE TABLE itemCreators (itemID INT NOT NULL, creatorID INT NOT NULL,
    creatorTypeID INT NOT NULL DEFAULT 1, orderIndex INT NOT NULL DEFAULT 0,
    PRIMARY KEY (itemID, creatorID, creatorTypeID, orderIndex), UNIQUE (itemID, orderIndex));
CREATE INDEX itemCreators_creatorTypeID ON itemCreators(creatorTypeID);
CREATE TABLE collections (collectionID INTEGER PRIMARY KEY, collectionName TEXT NOT NULL,
    parentCollectionID INT DEFAULT NULL,
    clientDateModified TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP, libraryID INT NOT NULL,
    key TEXT NOT NULL, version INT NOT NULL DEFAULT 0, synced INT NOT NULL DEFAULT 0,
    UNIQUE (libraryID, key));
CREATE TABLE collectionItems (collectionID INT NOT NULL, itemID INT NOT NULL,
    orderIndex INT NOT NULL DEFAULT 0, PRIMARY KEY (collectionID, itemID));
CREATE INDEX collectionItems_itemID ON collectionItems(itemID);
CREATE TABLE feedItems (itemID INTEGER PRIMARY KEY, guid TEXT NOT NULL UNIQUE, readTime TIMESTAMP,
    translatedTime TIMESTAMP);
CREATE TABLE deletedItems (itemID INTEGER PRIMARY KEY, dateDeleted DEFAULT CURRENT_TIMESTAMP NOT NULL);
CREATE INDEX deletedItems_dateDeleted ON deletedItems(dateDeleted);
CREATE TABLE deletedCollections (collectionID INTEGER PRIMARY KEY,
    dateDeleted DEFAULT CURRENT_TIMESTAMP NOT NULL);
CREATE TABLE charsets (charsetID INTEGER PRIMARY KEY, charset TEXT UNIQUE);

INSERT INTO version VALUES ('userdata', 120), ('system', 32), ('globalSchema', 34);
INSERT INTO libraries (libraryID, type, editable, filesEditable) VALUES (1, 'user', 1, 1);
INSERT INTO creatorTypes VALUES (1, 'author'), (2, 'contributor'), (3, 'editor');
)SQL";

// The item types of a current install in its schema's (alphabetical) order.
const char* const fresh_types[] = {
    "annotation",
    "artwork",
    "attachment",
    "audioRecording",
    "bill",
    "blogPost",
    "book",
    "bookSection",
    "case",
    "computerProgram",
    "conferencePaper",
    "dataset",
    "dictionaryEntry",
    "document",
    "email",
    "encyclopediaArticle",
    "film",
    "forumPost",
    "hearing",
    "instantMessage",
    "interview",
    "journalArticle",
    "letter",
    "magazineArticle",
    "manuscript",
    "map",
    "newspaperArticle",
    "note",
    "patent",
    "podcast",
    "preprint",
    "presentation",
    "radioBroadcast",
    "report",
    "standard",
    "statute",
    "thesis",
    "tvBroadcast",
    "videoRecording",
    "webpage",
};

// The classic numbers, which an upgraded library keeps; types added since come after.
const char* const classic_types[] = {
    "note",
    "book",
    "bookSection",
    "journalArticle",
    "magazineArticle",
    "newspaperArticle",
    "thesis",
    "letter",
    "manuscript",
    "interview",
    "film",
    "artwork",
    "webpage",
    "attachment",
    "report",
    "bill",
    "case",
    "hearing",
    "patent",
    "statute",
    "email",
    "map",
    "blogPost",
    "instantMessage",
    "forumPost",
    "audioRecording",
    "presentation",
    "videoRecording",
    "tvBroadcast",
    "radioBroadcast",
    "podcast",
    "computerProgram",
    "conferencePaper",
    "document",
    "encyclopediaArticle",
    "dictionaryEntry",
};
const char* const types_added_since[] = {"annotation", "preprint", "dataset", "standard"};

// Fresh numbering: title first; url lands on 110, the classic title's number, so that
// a reader that trusts fixed numbers shows the wrong text.
const char* const fresh_fields[] = {
    "title",
    "abstractNote",
    "artworkMedium",
    "medium",
    "artworkSize",
    "date",
    "language",
    "shortTitle",
    "archive",
    "archiveLocation",
    "libraryCatalog",
    "callNumber",
    "rights",
    "extra",
    "audioRecordingFormat",
    "seriesTitle",
    "volume",
    "numberOfVolumes",
    "place",
    "label",
    "publisher",
    "runningTime",
    "ISBN",
    "billNumber",
    "number",
    "code",
    "codeVolume",
    "section",
    "codePages",
    "pages",
    "legislativeBody",
    "session",
    "history",
    "blogTitle",
    "publicationTitle",
    "websiteType",
    "type",
    "series",
    "seriesNumber",
    "edition",
    "numPages",
    "bookTitle",
    "caseName",
    "court",
    "dateDecided",
    "docketNumber",
    "reporter",
    "reporterVolume",
    "firstPage",
    "versionNumber",
    "system",
    "company",
    "programmingLanguage",
    "proceedingsTitle",
    "conferenceName",
    "DOI",
    "identifier",
    "repository",
    "archiveID",
    "citationKey",
    "dictionaryTitle",
    "subject",
    "encyclopediaTitle",
    "distributor",
    "genre",
    "videoRecordingFormat",
    "forumTitle",
    "postType",
    "committee",
    "documentNumber",
    "interviewMedium",
    "issue",
    "seriesText",
    "journalAbbreviation",
    "ISSN",
    "letterType",
    "manuscriptType",
    "mapType",
    "scale",
    "country",
    "assignee",
    "issuingAuthority",
    "patentNumber",
    "filingDate",
    "applicationNumber",
    "priorityNumbers",
    "issueDate",
    "references",
    "legalStatus",
    "episodeNumber",
    "audioFileType",
    "presentationType",
    "meetingName",
    "programTitle",
    "network",
    "reportNumber",
    "reportType",
    "institution",
    "organization",
    "status",
    "nameOfAct",
    "codeNumber",
    "publicLawNumber",
    "dateEnacted",
    "thesisType",
    "university",
    "studio",
    "websiteTitle",
    "accessDate",
    "url",
};

// Upgraded numbering: the classic numbers of libgen.h kept, later fields after them.
const std::pair<int, const char*> classic_fields[] = {
    {field::url, "url"},           {field::date, "date"},           {field::title, "title"},
    {field::caseName, "caseName"}, {field::nameOfAct, "nameOfAct"}, {field::subject, "subject"},
};
const char* const fields_added_since[] = {"abstractNote", "extra", "DOI", "shortTitle", "accessDate"};

// The fields mapped onto title for the types that have no title field of their own.
const std::pair<const char*, const char*> title_mappings[] = {
    {"case", "caseName"}, {"statute", "nameOfAct"}, {"email", "subject"}};

void exec_on(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : sql;
        sqlite3_free(message);
        throw std::runtime_error(text);
    }
}

std::string quoted(const std::string& s) {
    char* q = sqlite3_mprintf("%Q", s.c_str());
    std::string out = q;
    sqlite3_free(q);
    return out;
}

// The classic numbers the builder interface is given, by name.
std::string classic_type_name(int classic_id) {
    if (classic_id < 1 || classic_id > int(std::size(classic_types)))
        throw std::invalid_argument("unknown item type " + std::to_string(classic_id));
    return classic_types[classic_id - 1];
}

std::string classic_field_name(int classic_id) {
    for (const auto& [id, name] : classic_fields)
        if (id == classic_id) return name;
    throw std::invalid_argument("unknown field " + std::to_string(classic_id));
}

}  // namespace

void create_modern_schema(sqlite3* db, Numbering numbering) {
    exec_on(db, modern_schema_sql);
    std::string types = "INSERT INTO itemTypes (itemTypeID, typeName) VALUES ";
    std::string fields = "INSERT INTO fields (fieldID, fieldName) VALUES ";
    auto add = [](std::string& sql, int id, const char* name) {
        if (sql.back() == ')') sql += ", ";
        sql += '(';
        sql += std::to_string(id);
        sql += ", ";
        sql += quoted(name);
        sql += ')';
    };
    if (numbering == Numbering::fresh) {
        int id = 0;
        for (const char* name : fresh_types) add(types, ++id, name);
        id = 0;
        for (const char* name : fresh_fields) add(fields, ++id, name);
    } else {
        int id = 0;
        for (const char* name : classic_types) add(types, ++id, name);
        for (const char* name : types_added_since) add(types, ++id, name);
        int last = 0;
        for (const auto& [fid, name] : classic_fields) {
            add(fields, fid, name);
            last = std::max(last, fid);
        }
        for (const char* name : fields_added_since) add(fields, ++last, name);
    }
    exec_on(db, types);
    exec_on(db, fields);
    for (const auto& [type, field] : title_mappings)
        exec_on(db,
                "INSERT INTO baseFieldMappings SELECT t.itemTypeID, b.fieldID, f.fieldID FROM itemTypes t, "
                "fields b, fields f WHERE t.typeName=" +
                    quoted(type) + " AND b.fieldName='title' AND f.fieldName=" + quoted(field));
}

ModernLibraryBuilder::ModernLibraryBuilder(const std::string& dir, ModernOptions options)
    : WriterCore(dir, options.seed, options.now, options.wal), options_(options) {
    create_modern_schema(db(), options_.numbering);
    for (auto* map : {&type_ids_, &field_ids_}) {
        const char* sql = map == &type_ids_ ? "SELECT typeName, itemTypeID FROM itemTypes"
                                            : "SELECT fieldName, fieldID FROM fields";
        sqlite3_stmt* s = stmt(sql);
        while (sqlite3_step(s) == SQLITE_ROW)
            (*map)[reinterpret_cast<const char*>(sqlite3_column_text(s, 0))] = sqlite3_column_int(s, 1);
        sqlite3_reset(s);
    }
}

void ModernLibraryBuilder::checkpoint() {
    if (!wal()) throw std::logic_error("checkpoint: the library is not in WAL mode");
    if (finished()) throw std::logic_error("library already finished");
    exec("COMMIT");
    exec("PRAGMA wal_checkpoint(TRUNCATE)");
    exec("BEGIN");
}

int ModernLibraryBuilder::type_id(const std::string& name) const {
    auto found = type_ids_.find(name);
    if (found == type_ids_.end()) throw std::out_of_range("no item type " + name);
    return found->second;
}

int ModernLibraryBuilder::field_id(const std::string& name) const {
    auto found = field_ids_.find(name);
    if (found == field_ids_.end()) throw std::out_of_range("no field " + name);
    return found->second;
}

int ModernLibraryBuilder::insert_item(int type, const std::string& date_added) {
    return insert_named_item(classic_type_name(type), date_added);
}

int ModernLibraryBuilder::insert_named_item(const std::string& type_name, const std::string& date_added) {
    sqlite3_stmt* s = stmt(
        "INSERT INTO items (itemTypeID, dateAdded, dateModified, clientDateModified, libraryID, key, "
        "version, synced) VALUES (?, ?, ?, ?, ?, ?, 0, 0)");
    std::string date = stamp(date_added), key = new_key();
    Binder{s} << type_id(type_name) << date << date << date << library_ << key;
    step(s);
    int id = last_id();
    remember_key(id, key);
    item_types_[id] = type_name;
    if (feeds_.count(library_)) {
        sqlite3_stmt* f =
            stmt("INSERT INTO feedItems (itemID, guid, readTime, translatedTime) VALUES (?, ?, NULL, NULL)");
        Binder{f} << id << ("urn:ryx:feed-item:" + std::to_string(++feed_guid_));
        step(f);
    }
    return id;
}

int ModernLibraryBuilder::creator_id(const Creator& c, const std::string& /*date*/) {
    return cached_creator(c, [&] {
        sqlite3_stmt* s = stmt("INSERT INTO creators (firstName, lastName, fieldMode) VALUES (?, ?, ?)");
        Binder{s} << c.first << c.last << c.field_mode;
        step(s);
        return last_id();
    });
}

int ModernLibraryBuilder::stored_field(int item_id, int classic_field) {
    std::string name = classic_field_name(classic_field);
    if (name == "title") {
        auto type = item_types_.find(item_id);
        if (type != item_types_.end())
            for (const auto& [mapped_type, mapped_field] : title_mappings)
                if (type->second == mapped_type) name = mapped_field;
    }
    return field_id(name);
}

int ModernLibraryBuilder::add_note(int parent, const std::string& html, const std::string& date_added) {
    int id = insert_named_item("note", date_added);
    sqlite3_stmt* s = stmt("INSERT INTO itemNotes (itemID, parentItemID, note, title) VALUES (?, ?, ?, ?)");
    Binder b{s};
    b << id;
    b.id_or_null(parent) << html << note_title(html);
    step(s);
    return id;
}

AddedAttachment ModernLibraryBuilder::add_attachment(const Attachment& a) {
    AddedAttachment out = begin_attachment(a);
    sqlite3_stmt* s = stmt(
        "INSERT INTO itemAttachments (itemID, parentItemID, linkMode, contentType, charsetID, path, "
        "syncState, storageModTime, storageHash, lastProcessedModificationTime) "
        "VALUES (?, ?, ?, ?, NULL, ?, 0, NULL, NULL, NULL)");
    Binder b{s};
    b << out.item_id;
    b.id_or_null(a.parent) << int(a.link_mode) << a.mime_type << out.path;
    step(s);
    return out;
}

int ModernLibraryBuilder::add_annotation(int attachment_id, const std::string& text, AnnotationType type) {
    int id = insert_named_item("annotation", "");
    sqlite3_stmt* s = stmt(
        "INSERT INTO itemAnnotations (itemID, parentItemID, type, authorName, text, comment, color, "
        "pageLabel, sortIndex, position, isExternal) VALUES (?, ?, ?, NULL, ?, NULL, '#ffd400', '1', "
        "'00000|000000|00000', '{\"pageIndex\":0,\"rects\":[[0,0,10,10]]}', 0)");
    Binder{s} << id << attachment_id << int(type) << text;
    step(s);
    return id;
}

int ModernLibraryBuilder::add_collection(const std::string& name, int parent) {
    sqlite3_stmt* s = stmt(
        "INSERT INTO collections (collectionName, parentCollectionID, clientDateModified, libraryID, key, "
        "version, synced) VALUES (?, ?, ?, ?, ?, 0, 0)");
    Binder b{s};
    b << name;
    b.id_or_null(parent) << stamp("") << library_ << new_key();
    step(s);
    return last_id();
}

int ModernLibraryBuilder::add_tag(const std::string& name, int type) {
    ry::gchar_ptr folded(g_utf8_casefold(name.c_str(), -1));
    int id = cached(tags_, folded.get(), [&] {
        sqlite3_stmt* s = stmt("INSERT INTO tags (name) VALUES (?)");
        Binder{s} << name;
        step(s);
        return last_id();
    });
    tag_last_type_[id] = type;
    return id;
}

void ModernLibraryBuilder::tag_item(int item_id, int tag_id) {
    auto found = tag_last_type_.find(tag_id);
    tag_item(item_id, tag_id, found == tag_last_type_.end() ? tag_manual : found->second);
}

void ModernLibraryBuilder::tag_item(int item_id, int tag_id, int type) {
    sqlite3_stmt* s = stmt("INSERT OR IGNORE INTO itemTags (itemID, tagID, type) VALUES (?, ?, ?)");
    Binder{s} << item_id << tag_id << type;
    step(s);
}

void ModernLibraryBuilder::trash_collection(int collection_id) {
    sqlite3_stmt* s =
        stmt("INSERT OR IGNORE INTO deletedCollections (collectionID, dateDeleted) VALUES (?, ?)");
    Binder{s} << collection_id << stamp("");
    step(s);
}

int ModernLibraryBuilder::add_group(const std::string& name) {
    int id = next_library_++;
    sqlite3_stmt* s =
        stmt("INSERT INTO libraries (libraryID, type, editable, filesEditable) VALUES (?, 'group', 1, 1)");
    Binder{s} << id;
    step(s);
    sqlite3_stmt* g =
        stmt("INSERT INTO groups (groupID, libraryID, name, description, version) VALUES (?, ?, ?, '', 0)");
    Binder{g} << 1000 + id << id << name;
    step(g);
    return id;
}

int ModernLibraryBuilder::add_feed(const std::string& name, const std::string& url) {
    int id = next_library_++;
    sqlite3_stmt* s =
        stmt("INSERT INTO libraries (libraryID, type, editable, filesEditable) VALUES (?, 'feed', 0, 0)");
    Binder{s} << id;
    step(s);
    sqlite3_stmt* f = stmt("INSERT INTO feeds (libraryID, name, url) VALUES (?, ?, ?)");
    Binder{f} << id << name << url;
    step(f);
    feeds_.insert(id);
    return id;
}

void ModernLibraryBuilder::use_library(int library_id) {
    if (library_id < 1 || library_id >= next_library_)
        throw std::out_of_range("no library " + std::to_string(library_id));
    library_ = library_id;
}

}  // namespace libgen
