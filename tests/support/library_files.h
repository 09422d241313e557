// What lies beside a library on disk, to tell that a reader left it alone, and the
// write another process makes while it holds the library locked.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryt {

inline std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
        while (const gchar* n = g_dir_read_name(d)) names.push_back(n);
        g_dir_close(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The entries of a library's directory, the library's bytes and time, and its log's bytes.
struct LibraryFiles {
    std::string dir, path;
    std::vector<std::string> names = names_in(dir);
    std::string bytes = read_file(path), log = read_file(path + "-wal");
    timespec mtime = mtime_of(path);

    static timespec mtime_of(const std::string& path) {
        struct stat st {};
        stat(path.c_str(), &st);
        return st.st_mtim;
    }
    void expect_unchanged() const {
        LibraryFiles now{dir, path};
        EXPECT_EQ(now.names, names);
        EXPECT_TRUE(now.bytes == bytes) << "the library was written";
        EXPECT_TRUE(now.log == log) << "the log was written";
        EXPECT_TRUE(now.mtime.tv_sec == mtime.tv_sec && now.mtime.tv_nsec == mtime.tv_nsec);
    }
};

// A transaction adding the item "Newest Locked Book" of the given type to a library.
inline std::string insert_book_sql(int type, int title_field, const char* library = "1") {
    return "BEGIN; INSERT INTO itemDataValues (value) VALUES ('Newest Locked Book'); INSERT INTO items "
           "(itemTypeID, libraryID, key) VALUES (" +
           std::to_string(type) + ", " + library +
           ", 'LOCKED01'); INSERT INTO itemData VALUES (last_insert_rowid(), " + std::to_string(title_field) +
           ", (SELECT valueID FROM itemDataValues WHERE value='Newest Locked Book')); COMMIT;";
}

}  // namespace ryt
