// Helpers that both library writers use to write rows and files. Internal to the
// generator; failures throw std::runtime_error.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>

#include "libgen.h"

namespace libgen::detail {

// The characters of the reference manager's 8-character keys.
inline constexpr char key_alphabet[] = "23456789ABCDEFGHIJKLMNPQRSTUVWXYZ";

void check(sqlite3* db, int rc, const char* what);
// The reference manager stores a value that reads as an integer as an integer.
bool integer_text(const std::string& s, sqlite3_int64* out);
void write_whole_file(const std::string& path, const std::string& contents);
void make_dirs(const std::string& path);
// Writes a stored attachment's file into key_dir, or a linked file's contents to its
// absolute path, and sets out.path and out.file_on_disk to match.
// A linked file "attachments:PATH" goes under library_dir, the default base directory.
void place_attachment_file(const Attachment& a, const std::string& library_dir, const std::string& key_dir,
                           AddedAttachment& out);
// A note's title column holds its first line as plain text.
std::string note_title(const std::string& html);

// Binds the arguments in order: ints, strings, optional strings (NULL when empty).
struct Binder {
    sqlite3_stmt* s;
    int n = 0;
    Binder& operator<<(int v) {
        sqlite3_bind_int(s, ++n, v);
        return *this;
    }
    Binder& operator<<(const std::string& v) {
        sqlite3_bind_text(s, ++n, v.c_str(), int(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Binder& operator<<(const std::optional<std::string>& v) {
        if (v) return *this << *v;
        sqlite3_bind_null(s, ++n);
        return *this;
    }
    // 0 or less: NULL (no parent, top level).
    Binder& id_or_null(int v) {
        if (v > 0) return *this << v;
        sqlite3_bind_null(s, ++n);
        return *this;
    }
};

}  // namespace libgen::detail
