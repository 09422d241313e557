// The command line: the metadata flag, the library path made absolute and its directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main.h"
#include "ry_file.h"
#include "ry_library.h"
#include "ry_raii.h"

namespace {

int flag_for(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return ry_metadb_flag(static_cast<int>(args.size()), argv.data());
}

std::string dir_of(const char* path) { return ry::gchar_ptr(get_dir_name(path)).get(); }

}  // namespace

// Zero to two are kept; text reads as its leading number; anything else means the default.
TEST(MetadataFlag, ValuesInRangeAreKeptOthersMeanWithMetadb) {
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite"}), WITH_METADB);
    const std::pair<const char*, int> cases[] = {
        {"0", NO_METADB},    {"1", WITH_METADB},
        {"2", WITH_CTB},     {" +2", WITH_CTB},
        {"3", WITH_METADB},  {"-1", WITH_METADB},
        {"99", WITH_METADB}, {"99999999999999999999999", WITH_METADB},
        {"abc", NO_METADB},  {"", NO_METADB},
        {"2abc", WITH_CTB},  {"1.9", WITH_METADB},
    };
    for (auto [arg, flag] : cases) EXPECT_EQ(flag_for({"ryx", "lib.sqlite", arg}), flag) << arg;
}

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
