// The file-type registry read from a real GConf source, and which keys and names
// stay inside the storage directory.
#include <gtest/gtest.h>

#include <algorithm>
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
}

// Lookups ignore case. Within a directory, and between directories in the order GConf lists
// them, the first claim of an extension wins; an empty extension always finds the
// catch-all; a directory lacking a key gives nothing; long directory names are read whole
// (far beyond a 128-byte key buffer). The registry is read once and kept for the run.
TEST_F(Registry, FirstClaimWinsWhateverTheCase) {
    ryt::set_filetype_dir("alpha", "alpha-view", "alpha", {"pdf", "Epub", "PDF", "djvu", ""});
    ryt::set_filetype_dir("beta", "beta-view", "beta", {"PDF", "pdf", "ps"});
    ryt::set_filetype_dir("no-viewer", nullptr, "icon", {"a1"});
    ryt::set_filetype_dir("no-icon", "view", nullptr, {"a2"});
    ryt::set_filetype_dir("no-extensions", "view", "icon", nullptr);
    ryt::set_filetype_dir(std::string(200, 'd'), "long-view", "long", {"lng"});
    std::vector<std::string> order = ryt::listed_filetype_dirs();
    auto listed = [&](const char* name) {
        return std::find(order.begin(), order.end(), std::string(ryt::kFiletypeDir) + "/" + name) -
               order.begin();
    };
    const bool alpha_first = listed("alpha") < listed("beta");
    const std::string winner = alpha_first ? "alpha" : "beta";
    struct Case {
        const char* extension;
        std::string viewer, icon;
    };
    const Case cases[] = {
        {"pDf", winner + "-view", winner}, {"PDF", winner + "-view", winner}, {"EPUB", "alpha-view", "alpha"},
        {"djvu", "alpha-view", "alpha"},   {"ps", "beta-view", "beta"},       {"lng", "long-view", "long"},
        {"a1", "(null)", "(null)"},        {"a2", "(null)", "(null)"},        {"txt", "(null)", "(null)"},
        {"", "(null)", "unknown"},         {nullptr, "(null)", "unknown"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(str(get_viewer_from_file_extension(c.extension)), c.viewer) << str(c.extension);
        std::string icon = take(get_icon_file_from_file_extension(c.extension));
        EXPECT_EQ(icon, c.icon == "(null)" ? c.icon : icon_path(c.icon)) << str(c.extension);
    }
    // The entry keeps the spelling of the claim that won.
    EXPECT_EQ(str(find_filetype_info("pdf")->extension), alpha_first ? "pdf" : "PDF");

    ryt::clear_filetypes();
    ryt::set_filetype_dir("later", "later-view", "later", {"pdf", "txt"});
    EXPECT_EQ(str(get_viewer_from_file_extension("pdf")), winner + "-view");
    EXPECT_EQ(get_viewer_from_file_extension("txt"), nullptr);
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
