// The command line's metadata flag and the directory of the library path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main.h"
#include "ry_file.h"
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

TEST(MetadataFlag, NoSecondArgumentMeansWithMetadb) {
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite"}), WITH_METADB);
}

TEST(MetadataFlag, ValuesZeroToTwoAreKept) {
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "0"}), NO_METADB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "1"}), WITH_METADB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "2"}), WITH_CTB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", " +2"}), WITH_CTB);
}

TEST(MetadataFlag, NumbersOutsideTheRangeMeanWithMetadb) {
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "3"}), WITH_METADB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "-1"}), WITH_METADB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "99"}), WITH_METADB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "99999999999999999999999"}), WITH_METADB);
}

TEST(MetadataFlag, TextReadsAsItsLeadingNumber) {
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "abc"}), NO_METADB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", ""}), NO_METADB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "2abc"}), WITH_CTB);
    EXPECT_EQ(flag_for({"ryx", "lib.sqlite", "1.9"}), WITH_METADB);
}

TEST(DirName, IsEverythingBeforeTheLastSlash) {
    EXPECT_EQ(dir_of("library.sqlite"), "");
    EXPECT_EQ(dir_of("/x"), "");
    EXPECT_EQ(dir_of("/mnt/lib/library.sqlite"), "/mnt/lib");
    EXPECT_EQ(dir_of("lib/"), "lib");
    EXPECT_EQ(dir_of("a/b/c.tar.gz"), "a/b");
}
