// Helpers that both library writers use to write rows and files.
#include "libgen_write.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdlib>
#include <stdexcept>

namespace libgen::detail {

void check(sqlite3* db, int rc, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

bool integer_text(const std::string& s, sqlite3_int64* out) {
    if (s.empty() || s.size() > 18) return false;
    size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size() || (s[i] == '0' && s.size() > i + 1)) return false;
    for (size_t j = i; j < s.size(); ++j)
        if (s[j] < '0' || s[j] > '9') return false;
    *out = std::strtoll(s.c_str(), nullptr, 10);
    return true;
}

void write_whole_file(const std::string& path, const std::string& contents) {
    GError* error = nullptr;
    if (!g_file_set_contents(path.c_str(), contents.data(), gssize(contents.size()), &error)) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error(message);
    }
}

void make_dirs(const std::string& path) {
    if (g_mkdir_with_parents(path.c_str(), 0755) != 0) throw std::runtime_error("cannot create " + path);
}

sqlite3_stmt* StatementCache::get(sqlite3* db, const char* sql) {
    auto& slot = stmts_[sql];
    if (!slot) {
        sqlite3_stmt* s = nullptr;
        check(db, sqlite3_prepare_v2(db, sql, -1, &s, nullptr), sql);
        slot.reset(s);
    } else {
        sqlite3_reset(slot.get());
        sqlite3_clear_bindings(slot.get());
    }
    return slot.get();
}

void place_attachment_file(const Attachment& a, const std::string& library_dir, const std::string& key_dir,
                           AddedAttachment& out) {
    bool stored = a.link_mode == LinkMode::imported_file || a.link_mode == LinkMode::imported_url;
    if (stored && !a.file.empty()) {
        out.path = "storage:" + a.file;
        make_dirs(key_dir);
        out.file_on_disk = key_dir + "/" + a.file;
        write_whole_file(out.file_on_disk, a.contents);
    } else if (a.link_mode == LinkMode::linked_file && !a.file.empty()) {
        // "attachments:PATH" is relative to the base directory, here the library's own.
        bool relative = a.file.rfind("attachments:", 0) == 0;
        std::string on_disk = relative ? library_dir + "/" + a.file.substr(12) : a.file;
        if (!relative && !g_path_is_absolute(a.file.c_str()))
            throw std::invalid_argument("a linked file needs an absolute path: " + a.file);
        out.path = a.file;
        if (!a.contents.empty()) {
            gchar* parent_dir = g_path_get_dirname(on_disk.c_str());
            std::string d = parent_dir;
            g_free(parent_dir);
            make_dirs(d);
            write_whole_file(on_disk, a.contents);
            out.file_on_disk = on_disk;
        }
    }
}

std::string note_title(const std::string& html) {
    std::string title;
    for (size_t i = 0; i < html.size(); ++i) {
        if (html[i] != '<') {
            title += html[i];
            continue;
        }
        size_t end = html.find('>', i);
        if (end == std::string::npos) break;
        std::string tag = html.substr(i + 1, end - i - 1);
        if (!title.empty() && (tag == "/p" || tag.rfind("br", 0) == 0)) break;
        i = end;
    }
    if (size_t nl = title.find('\n'); nl != std::string::npos) title.resize(nl);
    return title;
}

WriterCore::WriterCore(const std::string& dir, std::uint32_t seed, std::time_t now, bool wal)
    : dir_(dir), now_(now), wal_(wal), rng_(seed) {
    make_dirs(dir_ + "/storage");
    std::string path = database_path();
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) g_unlink((path + suffix).c_str());
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(db);
    if (rc != SQLITE_OK) throw std::runtime_error("cannot create " + path);
    if (wal_) {
        exec("PRAGMA journal_mode=WAL");
        // Nothing reaches the library file before finish() or a checkpoint.
        exec("PRAGMA wal_autocheckpoint=0");
    } else {
        exec("PRAGMA journal_mode=DELETE");
    }
    exec("PRAGMA synchronous=OFF");
    exec("BEGIN");
}

WriterCore::~WriterCore() {
    try {
        close(true);
    } catch (const std::exception&) {
    }
}

void WriterCore::close(bool merge_log) {
    if (finished_) return;
    finished_ = true;
    stmts_.clear();
    exec("COMMIT");
    if (!merge_log) {
        if (!wal_) throw std::logic_error("no log to leave: the library is not in WAL mode");
        check(db(), sqlite3_db_config(db(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr), "keeping the log");
    }
    db_.reset();
}

void WriterCore::exec(const char* sql) {
    check(db(), sqlite3_exec(db(), sql, nullptr, nullptr, nullptr), sql);
}

sqlite3_stmt* WriterCore::stmt(const char* sql) {
    if (finished_) throw std::logic_error("library already finished");
    return stmts_.get(db(), sql);
}

void WriterCore::step(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) throw std::runtime_error(std::string("write failed: ") + sqlite3_errmsg(db()));
}

std::string WriterCore::new_key() {
    for (;;) {
        std::string key(8, ' ');
        for (char& c : key) c = key_alphabet[rng_() % (sizeof key_alphabet - 1)];
        if (keys_.insert(key).second) return key;
    }
}

std::string WriterCore::stamp(const std::string& given) const {
    return given.empty() ? utc_timestamp(now_) : given;
}

int WriterCore::value_id(const std::string& value) {
    return cached(values_, value, [&] {
        sqlite3_stmt* s = stmt("INSERT INTO itemDataValues (value) VALUES (?)");
        sqlite3_int64 number;
        if (integer_text(value, &number))
            sqlite3_bind_int64(s, 1, number);
        else
            Binder{s} << value;
        step(s);
        return last_id();
    });
}

int WriterCore::add_item(const Item& item) {
    std::string date = stamp(item.date_added);
    int id = insert_item(item.type, date);
    // Cases, statutes and e-mails keep their title in a field of their own.
    int title_field = item.type == item_type::legal_case ? field::caseName
                      : item.type == item_type::statute  ? field::nameOfAct
                      : item.type == item_type::email    ? field::subject
                                                         : field::title;
    if (item.title) set_field(id, title_field, *item.title);
    int order = 0;
    for (const Creator& c : item.creators) {
        sqlite3_stmt* s = stmt(
            "INSERT INTO itemCreators (itemID, creatorID, creatorTypeID, orderIndex) VALUES (?, ?, ?, ?)");
        Binder{s} << id << creator_id(c, date) << c.creator_type << order++;
        step(s);
    }
    return id;
}

void WriterCore::set_field(int item_id, int field_id, const std::string& value) {
    sqlite3_stmt* s = stmt("INSERT OR REPLACE INTO itemData (itemID, fieldID, valueID) VALUES (?, ?, ?)");
    Binder{s} << item_id << stored_field(item_id, field_id) << value_id(value);
    step(s);
}

AddedAttachment WriterCore::begin_attachment(const Attachment& a) {
    AddedAttachment out;
    out.item_id = insert_item(item_type::attachment, a.date_added);
    out.key = key_of(out.item_id);
    if (!a.title.empty()) set_field(out.item_id, field::title, a.title);
    if (!a.url.empty()) set_field(out.item_id, field::url, a.url);
    place_attachment_file(a, directory(), storage_path(out.key), out);
    return out;
}

void WriterCore::add_to_collection(int collection_id, int item_id) {
    // Each new member goes to the end of the collection, as the reference manager
    // numbers them; adding a member twice changes nothing.
    sqlite3_stmt* s =
        stmt("INSERT OR IGNORE INTO collectionItems (collectionID, itemID, orderIndex) VALUES (?, ?, ?)");
    int& next = collection_order_[collection_id];
    Binder{s} << collection_id << item_id << next;
    step(s);
    if (sqlite3_changes(db()) > 0) ++next;
}

void WriterCore::trash(int item_id) {
    sqlite3_stmt* s = stmt("INSERT OR IGNORE INTO deletedItems (itemID, dateDeleted) VALUES (?, ?)");
    Binder{s} << item_id << stamp("");
    step(s);
}

const std::string& WriterCore::key_of(int item_id) const {
    auto found = item_keys_.find(item_id);
    if (found == item_keys_.end()) throw std::out_of_range("no item " + std::to_string(item_id));
    return found->second;
}

}  // namespace libgen::detail
