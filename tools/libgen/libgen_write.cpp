// Helpers that both library writers use to write rows and files.
#include "libgen_write.h"

#include <glib.h>

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

void place_attachment_file(const Attachment& a, const std::string& key_dir, AddedAttachment& out) {
    bool stored = a.link_mode == LinkMode::imported_file || a.link_mode == LinkMode::imported_url;
    if (stored && !a.file.empty()) {
        out.path = "storage:" + a.file;
        make_dirs(key_dir);
        out.file_on_disk = key_dir + "/" + a.file;
        write_whole_file(out.file_on_disk, a.contents);
    } else if (a.link_mode == LinkMode::linked_file && !a.file.empty()) {
        if (!g_path_is_absolute(a.file.c_str()))
            throw std::invalid_argument("a linked file needs an absolute path: " + a.file);
        out.path = a.file;
        if (!a.contents.empty()) {
            gchar* parent_dir = g_path_get_dirname(a.file.c_str());
            std::string d = parent_dir;
            g_free(parent_dir);
            make_dirs(d);
            write_whole_file(a.file, a.contents);
            out.file_on_disk = a.file;
        }
    }
}

}  // namespace libgen::detail
