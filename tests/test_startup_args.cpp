// The library path on the command line: made absolute, and its directory.
#include <gtest/gtest.h>

#include <string>

#include "ry_file.h"
#include "ry_library.h"
#include "ry_raii.h"

namespace {

std::string dir_of(const char* path) { return ry::gchar_ptr(get_dir_name(path)).get(); }

}  // namespace

TEST(LibraryPath, IsMadeAbsoluteOnceAndItsDirectoryIsBeforeTheLastSlash) {
    const std::string cwd = ry::gchar_ptr(g_get_current_dir()).get();
    const std::pair<std::string, std::string> cases[] = {
        {"zotero.sqlite", cwd + "/zotero.sqlite"},
        {"lib/./zotero.sqlite", cwd + "/lib/zotero.sqlite"},
        {"//media/card/lib/zotero.sqlite", "/media/card/lib/zotero.sqlite"},
        {"///media//card/x/../lib/zotero.sqlite", "/media/card/lib/zotero.sqlite"},
    };
    for (const auto& [given, absolute] : cases) EXPECT_EQ(ry_absolute_library_path(given.c_str()), absolute);
    EXPECT_EQ(dir_of("library.sqlite"), "");
    EXPECT_EQ(dir_of("/x"), "");
    EXPECT_EQ(dir_of("/mnt/lib/library.sqlite"), "/mnt/lib");
    EXPECT_EQ(dir_of("a/b/c.tar.gz"), "a/b");
}
