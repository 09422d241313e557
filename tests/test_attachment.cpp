// Opening an activated attachment: viewer and icon from the file-type registry in a real
// GConf source, the path in the library's storage, the metadata database of its
// directory, the messages the daemon stand-in receives and the dialogs the user sees.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>
#include <utime.h>

#include <string>
#include <tuple>
#include <vector>

#include "dialog_responder.h"
#include "ermetadb.h"
#include "gconf_registry.h"
#include "ipc.h"
#include "private_session.h"
#include "ry_app.h"
#include "ry_file.h"
#include "ry_model.h"
#include "ry_raii.h"
#include "ry_recent.h"
#include "ry_test_hooks.h"
#include "sysd_stub.h"

namespace {

using Strings = std::vector<std::string>;

const char kMetadbFile[] = "metadata.db";

struct Row {
    int item_id;
    const char* mimetype;
    const char* path;
    const char* key;
    int link_mode = RY_LINK_IMPORTED_FILE;
};

// The documents recorded in a directory's metadata database, as "name size mtime".
Strings documents_in(const std::string& dir) {
    Strings out;
    sqlite3* raw = nullptr;
    sqlite3_open_v2((dir + "/" + kMetadbFile).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    ry::unique_db db(raw);
    auto add = [](void* out, int, char** values, char**) {
        static_cast<Strings*>(out)->emplace_back(values[0]);
        return 0;
    };
    sqlite3_exec(db.get(), "SELECT filename || ' ' || size || ' ' || modified FROM documents", add, &out,
                 nullptr);
    return out;
}

// Every metadata database below root.
Strings metadbs_below(const std::string& root) {
    Strings found;
    for (const std::string& name : ryt::files_in(root)) {
        Strings below = name == kMetadbFile ? Strings{root + "/" + name} : metadbs_below(root + "/" + name);
        found.insert(found.end(), below.begin(), below.end());
    }
    return found;
}

// Writes the file, making its directories; returns its path.
std::string put(const std::string& path, const std::string& contents = "%PDF") {
    g_mkdir_with_parents(ry::gchar_ptr(g_path_get_dirname(path.c_str())).get(), 0755);
    ryt::write_file(path, contents);
    return path;
}

void set_mtime(const std::string& path, time_t when) {
    struct utimbuf times = {when, when};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

std::string str(const gchar* s) { return s != nullptr ? s : "(null)"; }
std::string take(gchar* s) {
    ry::gchar_ptr owned(s);
    return str(s);
}
std::string icon_path(const std::string& name) { return "/usr/share/ctb/icon-" + name + "-small.png"; }

// A registry read afresh from an empty GConf source on the private session.
class Registry : public testing::Test {
  protected:
    void SetUp() override {
        // Started by the first test, so that a failure to start it fails that test.
        ryt::PrivateSession::shared();
        [[maybe_unused]] static const bool connected = (ipc_set_services(), true);
        ryt::clear_filetypes();
        ry_forget_filetype_info();
    }
    void TearDown() override { ry_forget_filetype_info(); }
};

class Activation : public Registry {
  protected:
    void SetUp() override {
        Registry::SetUp();
        ryt::set_filetype_dir("docs", "docview --fit", "doc", {"pdf", "epub"});
        ryt::set_filetype_dir("text", "pager", "txt", {"txt"});
        g_main_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_widget_show(g_main_window);
        g_queue_push_tail(&history_, GINT_TO_POINTER(-1));
        with_metadb = NO_METADB;
    }
    void TearDown() override {
        gtk_widget_destroy(g_main_window);
        g_main_window = nullptr;
        g_queue_clear(&history_);
        Registry::TearDown();
    }

    // Activates the row in an attachment list wired as the main window wires it, answering
    // every dialog; returns the dialogs' texts.
    Strings open(const Row& r) {
        ryt::DialogResponder responder;
        ry::gobject_ptr<GtkListStore> store(ry_create_attachment_model());
        gtk_list_store_insert_with_values(store.get(), nullptr, -1, ATTACHMENT_SOURCE_ID, r.item_id,
                                          ATTACHMENT_MIMETYPE, r.mimetype, ATTACHMENT_PATH, r.path,
                                          ATTACHMENT_KEY, r.key, ATTACHMENT_LINK_MODE, r.link_mode, -1);
        auto* view = GTK_TREE_VIEW(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store.get())));
        GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
            "path", gtk_cell_renderer_text_new(), "text", ATTACHMENT_PATH, nullptr);
        gtk_tree_view_append_column(view, column);
        ry_attachment_context context{library_.c_str(), &history_};
        g_signal_connect(view, "row-activated", G_CALLBACK(ry_ignore_taps_while_opening), nullptr);
        g_signal_connect(view, "row-activated", G_CALLBACK(ry_attachment_activated), &context);
        gtk_container_add(GTK_CONTAINER(g_main_window), GTK_WIDGET(view));
        ry::tree_path_ptr path(gtk_tree_path_new_first());
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path.get());
        gtk_tree_view_row_activated(view, path.get(), column);
        ryt::iterate_until([] { return !ry_attachment_opening(); });
        ryt::flush_events();
        gtk_widget_destroy(GTK_WIDGET(view));
        return responder.texts();
    }

    // The startTask calls the daemon got, once the hide after the last has come.
    std::vector<ryt::StubMessage> start_tasks(const ryt::SysdStub& stub, size_t expected) {
        stub.wait_for_messages(expected * 3, 3000);
        std::vector<ryt::StubMessage> out;
        for (const auto& m : stub.messages())
            if (m.member == "startTask") out.push_back(m);
        return out;
    }

    int history_head() { return GPOINTER_TO_INT(g_queue_peek_head(&history_)); }

    ryt::TempDir temp_;
    std::string library_ = temp_.path() + "/library";
    GQueue history_ = G_QUEUE_INIT;
};

// Stored kinds open from their key's directory, a linked file at its own path or under
// the base directory, each with the viewer and icon of its extension, else of its MIME
// subtype, its path one argument whatever it holds. A web link, a missing file, an unknown
// format and a key or name that leads out of storage (also through a link) say why and send
// nothing. Only what the daemon took on enters the history; metadata only inside storage.
TEST_F(Activation, EveryKindOfAttachmentOpensFromWhereItLies) {
    ryt::SysdStub stub({"--no-exec"});
    with_metadb = WITH_METADB;
    const std::string nasty = "a\"; touch pwned; \"$(id)`id`\\.pdf", stored_nasty = "storage:" + nasty,
                      storage = library_ + "/storage/", linked = temp_.file("elsewhere/own.pdf"),
                      base = temp_.path() + "/base", relative = base + "/sub/rel.pdf",
                      bare = temp_.file("odd.d/noext\\"), outside = temp_.path() + "/outside";
    for (const std::string& f :
         {linked, relative, bare, storage + "ABCD2345/paper.pdf", storage + "K1/x.dat",
          storage + "K3/notes.TXT", storage + "K/a.pdf", storage + "K/" + nasty, storage + "UNK/x.dat",
          storage + "outside.pdf", library_ + "/outside.pdf", outside + "/x.pdf"})
        put(f);
    // Links on the way: one that stays inside, and ones that lead out from a key
    // directory, a file and a directory under a key.
    ASSERT_EQ(symlink("K", (storage + "ALIAS").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (storage + "OUT").c_str()), 0);
    ASSERT_EQ(symlink((library_ + "/outside.pdf").c_str(), (storage + "K/b.pdf").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (storage + "K/sub").c_str()), 0);
    struct Case {
        Row row;
        std::string dialog;  // "" for none
        Strings argv;        // what the viewer is started with; none: nothing sent
        std::string icon = "doc";
    };
    auto docview = [](const std::string& path) { return Strings{"docview", "--fit", path}; };
    const char* refused = "Sorry, could not open";
    const std::vector<Case> cases = {
        {{7, "application/pdf", "storage:paper.pdf", "ABCD2345"},
         "",
         docview(storage + "ABCD2345/paper.pdf")},
        {{8, "text/html", "storage:paper.pdf", "ABCD2345", RY_LINK_IMPORTED_URL},
         "",
         docview(storage + "ABCD2345/paper.pdf")},
        {{9, "application/pdf", linked.c_str(), "LINKKEY1", RY_LINK_FILE}, "", docview(linked)},
        {{10, "application/pdf", "attachments:sub/rel.pdf", "LINKKEY2", RY_LINK_FILE}, "", docview(relative)},
        {{11, "application/pdf", stored_nasty.c_str(), "K"}, "", docview(storage + "K/" + nasty)},
        {{12, "application/pdf", "storage:a.pdf", "ALIAS"}, "", docview(storage + "ALIAS/a.pdf")},
        // An unregistered extension, or none (a dot only in a directory): viewer and icon of the
        // MIME subtype, but with no extension the catch-all's icon; a registered one in any case.
        {{13, "application/pdf", "storage:x.dat", "K1"}, "", docview(storage + "K1/x.dat")},
        {{14, "application/pdf", bare.c_str(), "LINKKEY3", RY_LINK_FILE}, "", docview(bare), "unknown"},
        {{15, "application/pdf", "storage:notes.TXT", "K3"}, "", {"pager", storage + "K3/notes.TXT"}, "txt"},
        {{16, "application/x-unheard-of", "storage:x.dat", "UNK"}, "The format is unknown", {}},
        {{17, "text/html", "Publisher page", "WEBKEY01", RY_LINK_URL},
         "Web links cannot be opened on the reader",
         {}},
        {{18, "application/pdf", "storage:gone.pdf", "ABCD2345"}, "File not found: gone.pdf", {}},
        {{19, "application/pdf", "/nowhere/lost.pdf", "LINKKEY4", RY_LINK_FILE},
         "File not found: lost.pdf",
         {}},
        {{20, "application/pdf", "attachments:../rel.pdf", "LINKKEY5", RY_LINK_FILE}, refused, {}},
        {{21, "application/pdf", "storage:a.pdf", "OUT"}, refused, {}},
        {{22, "application/pdf", "storage:b.pdf", "K"}, refused, {}},
        {{23, "application/pdf", "storage:sub/new/c.pdf", "K"}, refused, {}},
        {{24, "application/pdf", "storage:outside.pdf", ".."}, refused, {}},
        {{26, "application/pdf", "storage:../outside.pdf", "K"}, refused, {}},
    };
    auto client = ryt::registry::client();
    gconf_client_set_string(client.get(), "/apps/ryx/linked_attachment_base", base.c_str(), nullptr);
    size_t sent = 0;
    for (const Case& c : cases) {
        g_queue_clear(&history_);
        g_queue_push_tail(&history_, GINT_TO_POINTER(-1));
        EXPECT_EQ(open(c.row), c.dialog.empty() ? Strings{} : Strings{c.dialog}) << c.row.item_id;
        if (c.argv.empty()) ryt::iterate_until([] { return false; }, 200);  // time for stray messages
        auto tasks = start_tasks(stub, sent += !c.argv.empty());
        ASSERT_EQ(tasks.size(), sent) << c.row.item_id;
        EXPECT_EQ(history_head(), c.argv.empty() ? -1 : c.row.item_id) << c.row.item_id;
        if (c.argv.empty()) continue;
        // The command as a shell reads it (in a directory of ours): the viewer, then the path as it is.
        std::string script = "cd '" + temp_.path() + "' && set -- " + tasks.back().args[0].substr(2);
        std::string words;
        for (const std::string& word : c.argv) words += word + "\n";
        EXPECT_EQ(ryt::run({"/bin/sh", "-c", script + " && printf '%s\\n' \"$@\""}).out, words)
            << c.row.item_id;
        EXPECT_EQ(tasks.back().args[3], "s:/usr/share/ctb/icon-" + c.icon + "-small.png") << c.row.item_id;
    }
    gconf_client_unset(client.get(), "/apps/ryx/linked_attachment_base", nullptr);
    EXPECT_EQ(metadbs_below(temp_.path()),
              (Strings{storage + "ABCD2345/metadata.db", storage + "ALIAS/metadata.db",
                       storage + "K/metadata.db", storage + "K1/metadata.db", storage + "K3/metadata.db"}));
}

TEST_F(Activation, RefusedOpeningSaysSoAndLeavesTheHistory) {
    ryt::SysdStub stub({"--refuse"});
    put(library_ + "/storage/K/a.pdf");
    EXPECT_EQ(open({4, "application/pdf", "storage:a.pdf", "K"}), Strings{"Sorry, could not open"});
    EXPECT_EQ(start_tasks(stub, 1).size(), 1u);
    EXPECT_EQ(history_head(), -1);
}

// Only when asked, the first opening makes the database with the file's size and time;
// later openings leave it as it is, even for a changed file.
TEST_F(Activation, FirstOpeningCreatesTheDatabaseWithSizeAndTime) {
    ryt::SysdStub stub({"--no-exec"});
    std::string file = put(library_ + "/storage/ABCD2345/paper.pdf", "%PDF-1.4 twelve");
    set_mtime(file, 1500000000);
    std::string dir = library_ + "/storage/ABCD2345";
    const Row paper{1, "application/pdf", "storage:paper.pdf", "ABCD2345"};
    for (int flag : {NO_METADB, WITH_CTB}) {
        with_metadb = flag;
        EXPECT_TRUE(open(paper).empty()) << flag;
    }
    EXPECT_TRUE(metadbs_below(temp_.path()).empty());
    with_metadb = WITH_METADB;
    EXPECT_TRUE(open(paper).empty());
    EXPECT_EQ(documents_in(dir), Strings{"paper.pdf 15 1500000000"});
    ryt::write_file(file, "%PDF-1.4 a longer body now");
    set_mtime(file, 1600000000);
    EXPECT_TRUE(open(paper).empty());
    EXPECT_EQ(documents_in(dir), Strings{"paper.pdf 15 1500000000"});
    EXPECT_EQ(metadbs_below(library_), Strings{dir + "/" + kMetadbFile});

    // Sizes past 2 GiB too (the file is sparse).
    std::string big = put(library_ + "/storage/BIG23456/big.pdf", "");
    ASSERT_EQ(truncate(big.c_str(), 2200000000), 0);
    set_mtime(big, 1500000000);
    EXPECT_TRUE(open({2, "application/pdf", "storage:big.pdf", "BIG23456"}).empty());
    EXPECT_EQ(documents_in(library_ + "/storage/BIG23456"), Strings{"big.pdf 2200000000 1500000000"});
    EXPECT_EQ(start_tasks(stub, 5).size(), 5u);

    // A document that cannot be looked at leaves no empty database behind.
    std::string gone = library_ + "/storage/GONE2345";
    ASSERT_EQ(g_mkdir_with_parents(gone.c_str(), 0755), 0);
    EXPECT_NE(create_metadatabase(gone.c_str(), "gone.pdf", (gone + "/gone.pdf").c_str()), 0);
    EXPECT_FALSE(g_file_test((gone + "/" + kMetadbFile).c_str(), G_FILE_TEST_EXISTS));
}

// A database is never replaced, nor is something else under its name taken for a missing one.
TEST(Metadb, CreatingNeverReplaces) {
    ryt::TempDir dir, other;
    set_mtime(put(dir.file("a.pdf")), 1500000000);
    ASSERT_EQ(create_metadatabase(dir.path().c_str(), "a.pdf", dir.file("a.pdf").c_str()), 0);
    ry::gstring_ptr path(g_string_new(dir.path().c_str())), other_path(g_string_new(other.path().c_str()));
    EXPECT_EQ(ermetadb_create_database(path.get()), ER_FAIL);
    EXPECT_EQ(documents_in(dir.path()), Strings{"a.pdf 4 1500000000"});

    const std::string text = "not a database, just some text that is long enough\n";
    ryt::write_file(other.file(kMetadbFile), text);
    ry::metadb_ptr db(ermetadb_new());
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), other_path.get()), ER_INVALID_DATA);
    EXPECT_NE(ermetadb_create_database(other_path.get()), ER_OK);
    EXPECT_EQ(ryt::read_file(other.file(kMetadbFile)), text);
}

// Lookups ignore case. Within a directory, and between directories in the order GConf lists
// them, the first claim of an extension wins; an empty extension always finds the
// catch-all; a directory lacking a key gives nothing; long directory names are read whole
// (far beyond a 128-byte key buffer); other extensions find nothing. The registry is read
// once and kept for the run.
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
    const std::tuple<const char*, const char*, bool> cases[] = {{"ABCD2345", "paper.pdf", true},
                                                                {"K", "/mnt/x.pdf", true},
                                                                {"K", "sub/x.pdf", true},
                                                                {"K", "..x.pdf", true},
                                                                {"K", "x..pdf", true},
                                                                {"..", "a.pdf", false},
                                                                {".", "a.pdf", false},
                                                                {"", "a.pdf", false},
                                                                {nullptr, "a.pdf", false},
                                                                {"AB/CD", "a.pdf", false},
                                                                {"K", "../x.pdf", false},
                                                                {"K", "..", false},
                                                                {"K", "sub/../../x.pdf", false},
                                                                {"K", "/mnt/../../../x.pdf", false},
                                                                {"K", nullptr, false}};
    for (auto [key, name, safe] : cases)
        EXPECT_EQ(bool(ry_storage_path_is_safe(key, name)), safe) << str(key) << " " << str(name);
}

}  // namespace
