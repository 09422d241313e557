// Library files of either generation are read in place or from a private snapshot,
// whether or not another process holds them locked, and are left as they were.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "libgen.h"
#include "libgen_modern.h"
#include "library_files.h"
#include "lock_holder.h"

namespace {

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
        if (!is_modern) {
            libgen::ClassicLibraryBuilder b(dir.path());
            for (const char* title : {"Old Book", "Newest Book"}) b.add_item({.title = title});
            sql = ryt::insert_book_sql(libgen::item_type::book, libgen::field::title, "NULL");
            path = b.database_path();
        } else {
            libgen::ModernLibraryBuilder b(dir.path());
            b.add_item({.title = "Old Book"});
            b.checkpoint();
            b.add_item({.title = "Newest Book"});
            shape == modern_log ? b.finish_leaving_log() : b.finish();
            sql = ryt::insert_book_sql(b.type_id("book"), b.field_id("title"));
            path = b.database_path();
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

}  // namespace
