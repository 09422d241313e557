// The file-type registry read from a real GConf source, the path helpers and the
// command line handed to the daemon.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gconf_registry.h"
#include "private_session.h"
#include "ry_file.h"
#include "ry_raii.h"
#include "ry_test_hooks.h"

namespace {

std::string icon_path(const std::string& name) { return "/usr/share/ctb/icon-" + name + "-small.png"; }

std::string str(const gchar* s) { return s != nullptr ? s : "(null)"; }
std::string take(gchar* s) {
    ry::gchar_ptr owned(s);
    return str(s);
}

class Registry : public testing::Test {
  protected:
    void SetUp() override {
        // Started by the first test, so that a failure to start it fails that test.
        ryt::PrivateSession::shared();
        ryt::clear_filetypes();
        ry_forget_filetype_info();
    }
    void TearDown() override { ry_forget_filetype_info(); }
};

TEST_F(Registry, WithoutGConfDirectoryOnlyTheCatchAllAnswers) {
    EXPECT_EQ(get_viewer_from_file_extension("pdf"), nullptr);
    EXPECT_EQ(get_icon_file_from_file_extension("pdf"), nullptr);
    EXPECT_EQ(take(get_icon_file_from_file_extension(nullptr)), icon_path("unknown"));
    EXPECT_EQ(take(get_icon_file_from_file_extension("")), icon_path("unknown"));
    filetype_info_t* catch_all = find_filetype_info(nullptr);
    ASSERT_NE(catch_all, nullptr);
    EXPECT_EQ(catch_all, find_filetype_info(""));
    EXPECT_EQ(catch_all->viewer_cmd, nullptr);
}

TEST_F(Registry, LookupIgnoresCaseAndFirstClaimInADirectoryWins) {
    ryt::set_filetype_dir("reader", "reader --full", "book", {"pdf", "Epub", "PDF"});
    filetype_info_t* pdf = find_filetype_info("pDf");
    ASSERT_NE(pdf, nullptr);
    EXPECT_EQ(str(pdf->extension), "pdf");
    EXPECT_EQ(find_filetype_info("PDF"), pdf);
    EXPECT_NE(find_filetype_info("epub"), pdf);
    EXPECT_EQ(str(get_viewer_from_file_extension("EPUB")), "reader --full");
    EXPECT_EQ(take(get_icon_file_from_file_extension("Pdf")), icon_path("book"));
    EXPECT_EQ(get_viewer_from_file_extension("txt"), nullptr);
}

TEST_F(Registry, FirstListedDirectoryWinsAnExtension) {
    ryt::set_filetype_dir("alpha", "alpha-view", "alpha-icon", {"pdf", "djvu"});
    ryt::set_filetype_dir("beta", "beta-view", "beta-icon", {"PDF", "ps"});
    std::vector<std::string> order = ryt::listed_filetype_dirs();
    ASSERT_EQ(order.size(), 2u) << testing::PrintToString(order);
    bool alpha_first = order[0] == std::string(ryt::kFiletypeDir) + "/alpha";
    std::string winner = alpha_first ? "alpha" : "beta";

    filetype_info_t* pdf = find_filetype_info("pdf");
    ASSERT_NE(pdf, nullptr);
    EXPECT_EQ(find_filetype_info("PDF"), pdf);
    EXPECT_EQ(str(pdf->viewer_cmd), winner + "-view");
    EXPECT_EQ(take(get_icon_file_from_file_extension("pdf")), icon_path(winner + "-icon"));
    // The entry keeps the spelling of the claim that won.
    EXPECT_EQ(str(pdf->extension), alpha_first ? "pdf" : "PDF");
    // The losing directory still provides what nobody else claimed.
    EXPECT_EQ(str(get_viewer_from_file_extension("djvu")), "alpha-view");
    EXPECT_EQ(str(get_viewer_from_file_extension("ps")), "beta-view");
}

TEST_F(Registry, EmptyExtensionAlwaysFindsTheCatchAll) {
    ryt::set_filetype_dir("greedy", "greedy-view", "greedy", {"", "pdf"});
    EXPECT_EQ(get_viewer_from_file_extension(""), nullptr);
    EXPECT_EQ(get_viewer_from_file_extension(nullptr), nullptr);
    EXPECT_EQ(take(get_icon_file_from_file_extension("")), icon_path("unknown"));
    EXPECT_EQ(str(get_viewer_from_file_extension("pdf")), "greedy-view");
}

TEST_F(Registry, IncompleteDirectoriesContributeNothing) {
    ryt::set_filetype_dir("no-viewer", nullptr, "icon", {"a1"});
    ryt::set_filetype_dir("no-icon", "view", nullptr, {"a2"});
    ryt::set_filetype_dir("no-extensions", "view", "icon", nullptr);
    ryt::set_filetype_dir("good", "good-view", "good", {"a4"});

    EXPECT_EQ(find_filetype_info("a1"), nullptr);
    EXPECT_EQ(find_filetype_info("a2"), nullptr);
    EXPECT_EQ(str(get_viewer_from_file_extension("a4")), "good-view");
}

TEST_F(Registry, LongDirectoryNamesGiveWholeKeyPaths) {
    // Far beyond a 128-byte key buffer: the keys must be read whole, not cut.
    std::string name(200, 'd');
    ryt::set_filetype_dir(name, "long-view", "long", {"lng"});
    ryt::set_filetype_dir(name.substr(0, 100), "short-view", "short", {"sht"});
    EXPECT_EQ(str(get_viewer_from_file_extension("lng")), "long-view");
    EXPECT_EQ(str(get_viewer_from_file_extension("sht")), "short-view");
}

TEST_F(Registry, IsReadOnceAndKeptForTheRun) {
    ryt::set_filetype_dir("first", "first-view", "first", {"pdf"});
    EXPECT_EQ(str(get_viewer_from_file_extension("pdf")), "first-view");
    ryt::clear_filetypes();
    ryt::set_filetype_dir("later", "later-view", "later", {"pdf", "txt"});
    EXPECT_EQ(str(get_viewer_from_file_extension("pdf")), "first-view");
    EXPECT_EQ(get_viewer_from_file_extension("txt"), nullptr);
}

TEST(PathFunctions, PointersIntoThePath) {
    // g_extension_pointer: after the last dot of the last component, or NULL.
    const std::vector<std::pair<const char*, const char*>> extensions{
        {"/x/archive.tar.gz", "gz"},  {"a/b.tar.gz", "gz"},   {"c.", ""},         {"/x/.hidden", "hidden"},
        {"storage:paper.PDF", "PDF"}, {"/x.y/file", nullptr}, {"README", nullptr}};
    for (auto [path, ext] : extensions) {
        const char* got = g_extension_pointer(path);
        EXPECT_EQ(str(got), str(ext)) << path;
        if (got) {
            EXPECT_EQ(got, path + strlen(path) - strlen(ext)) << path;
        }
    }
    // ry_mime_pointer: after the last slash, else the end of the string.
    EXPECT_EQ(str(ry_mime_pointer("application/vnd.ms-excel")), "vnd.ms-excel");
    const char* bare = "text";
    EXPECT_EQ(ry_mime_pointer(bare), bare + 4);
    // ry_remove_prefix: only at the start.
    const char* stored = "storage:a.pdf";
    EXPECT_EQ(ry_remove_prefix(stored, "storage:"), stored + 8);
    const char* inner = "x/storage:a.pdf";
    EXPECT_EQ(ry_remove_prefix(inner, "storage:"), inner);
}

TEST(CommandLine, ViewerThenQuotedPathWhoseSpecialCharactersCannotLeaveTheQuotes) {
    EXPECT_EQ(take(ry_build_command_line("mupdf", "/l/storage/K/paper.pdf")),
              "mupdf \"/l/storage/K/paper.pdf\"");
    EXPECT_EQ(take(ry_build_command_line("v", "a\"b\\c$d`e")), "v \"a\\\"b\\\\c\\$d\\`e\"");
    const std::vector<std::string> names{
        "/l/storage/K/\"; rm -rf ~; \".pdf", "/l/storage/K/$(touch x).pdf", "/l/storage/K/`id`.pdf",
        "/l/storage/K/back\\slash\\\".pdf",  "/l/storage/K/trailing\\",     "/l/storage/K/$HOME ${x}.pdf",
    };
    for (const auto& name : names) {
        ry::gchar_ptr cmd(ry_build_command_line("viewer --page 1", name.c_str()));
        gchar** argv = nullptr;
        ASSERT_TRUE(g_shell_parse_argv(cmd.get(), nullptr, &argv, nullptr)) << cmd.get();
        ry::gstrv_ptr owned(argv);
        ASSERT_EQ(g_strv_length(argv), 4u) << cmd.get();
        EXPECT_EQ(std::string(argv[3]), name) << cmd.get();
    }
}

TEST(StoragePath, NeitherKeyNorNameMayClimbOutOfStorage) {
    using Cases = std::vector<std::pair<const char*, const char*>>;
    const Cases safe{{"ABCD2345", "paper.pdf"},
                     {"K", "/mnt/x.pdf"},
                     {"K", "sub/x.pdf"},
                     {"K", "..x.pdf"},
                     {"K", "x..pdf"}};
    const Cases unsafe{{"..", "a.pdf"},    {".", "a.pdf"},           {"", "a.pdf"},
                       {nullptr, "a.pdf"}, {"AB/CD", "a.pdf"},       {"K", "../x.pdf"},
                       {"K", ".."},        {"K", "sub/../../x.pdf"}, {"K", "/mnt/../../../x.pdf"},
                       {"K", nullptr}};
    for (auto [key, name] : safe) EXPECT_TRUE(ry_storage_path_is_safe(key, name)) << key << " " << name;
    for (auto [key, name] : unsafe)
        EXPECT_FALSE(ry_storage_path_is_safe(key, name)) << str(key) << " " << str(name);
}

}  // namespace
