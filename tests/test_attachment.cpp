// Opening an activated attachment: viewer and icon from a real GConf registry,
// the path in the library's storage, the metadata database of its directory, the
// messages the daemon stand-in receives and the dialogs the user sees.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dialog_responder.h"
#include "ermetadb.h"
#include "gconf_registry.h"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <gconf/gconf-client.h>
#pragma GCC diagnostic pop
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
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db.get(), "SELECT filename || ' ' || size || ' ' || modified FROM documents", -1, &s,
                       nullptr);
    ry::unique_stmt stmt(s);
    while (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW)
        out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
    return out;
}

// Every metadata database below root.
Strings metadbs_below(const std::string& root) {
    Strings found;
    GDir* dir = g_dir_open(root.c_str(), 0, nullptr);
    while (const gchar* name = dir ? g_dir_read_name(dir) : nullptr) {
        std::string path = root + "/" + name;
        Strings below = std::string(name) == kMetadbFile ? Strings{path} : metadbs_below(path);
        found.insert(found.end(), below.begin(), below.end());
    }
    if (dir) g_dir_close(dir);
    return found;
}

void set_mtime(const std::string& path, time_t when) {
    struct utimbuf times = {when, when};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

class Activation : public testing::Test {
  protected:
    void SetUp() override {
        // Started by the first test, so that a failure to start it fails that test.
        static bool connected = false;
        if (!connected) {
            ryt::PrivateSession::shared();
            ipc_set_services();
            connected = true;
            ryt::clear_filetypes();
            ryt::set_filetype_dir("docs", "docview --fit", "doc", {"pdf", "epub"});
            ryt::set_filetype_dir("text", "pager", "txt", {"txt"});
            ry_forget_filetype_info();
        }
        g_main_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_widget_show(g_main_window);
        for (int i = 0; i < 5; ++i) g_queue_push_tail(&history_, GINT_TO_POINTER(-1));
        with_metadb = NO_METADB;
        library_ = temp_.path() + "/library";
        g_mkdir_with_parents((library_ + "/storage").c_str(), 0755);
    }
    void TearDown() override {
        gtk_widget_destroy(g_main_window);
        g_main_window = nullptr;
        g_queue_clear(&history_);
        with_metadb = WITH_METADB;
    }

    // Puts a file into the storage directory of key.
    std::string store(const std::string& key, const std::string& name, const std::string& contents) {
        std::string dir = library_ + "/storage/" + key;
        g_mkdir_with_parents(dir.c_str(), 0755);
        ryt::write_file(dir + "/" + name, contents);
        return dir + "/" + name;
    }

    // Activates each row of an attachment list wired as the main window wires it,
    // answering every dialog; returns the dialogs' texts.
    Strings open(const std::vector<Row>& rows, const std::string& library_dir) {
        ryt::DialogResponder responder;
        ry::gobject_ptr<GtkListStore> store(ry_create_attachment_model());
        for (const Row& r : rows)
            gtk_list_store_insert_with_values(store.get(), nullptr, -1, ATTACHMENT_SOURCE_ID, r.item_id,
                                              ATTACHMENT_MIMETYPE, r.mimetype, ATTACHMENT_PATH, r.path,
                                              ATTACHMENT_KEY, r.key, ATTACHMENT_LINK_MODE, r.link_mode, -1);
        auto* view = GTK_TREE_VIEW(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store.get())));
        GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
            "path", gtk_cell_renderer_text_new(), "text", ATTACHMENT_PATH, nullptr);
        gtk_tree_view_append_column(view, column);
        ry_attachment_context context{library_dir.c_str(), &history_};
        g_signal_connect(view, "row-activated", G_CALLBACK(ry_ignore_taps_while_opening), nullptr);
        g_signal_connect(view, "row-activated", G_CALLBACK(ry_attachment_activated), &context);
        gtk_container_add(GTK_CONTAINER(g_main_window), GTK_WIDGET(view));
        for (size_t i = 0; i < rows.size(); ++i) {
            ry::tree_path_ptr path(gtk_tree_path_new_from_indices(int(i), -1));
            gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path.get());
            gtk_tree_view_row_activated(view, path.get(), column);
            ryt::iterate_until([] { return !ry_attachment_opening(); });
        }
        ryt::flush_events();
        gtk_widget_destroy(GTK_WIDGET(view));
        return responder.texts();
    }
    Strings open(const Row& row) { return open(std::vector<Row>{row}, library_); }

    // The startTask calls the daemon got, once the hide after the last has come.
    std::vector<ryt::StubMessage> start_tasks(const ryt::SysdStub& stub, size_t expected) {
        stub.wait_for_messages(expected * 3, 3000);
        std::vector<ryt::StubMessage> out;
        for (const auto& m : stub.messages())
            if (m.member == "startTask") out.push_back(m);
        return out;
    }

    // Gives stray messages time to arrive before a test counts them.
    static void settle() {
        ryt::iterate_until([] { return false; }, 200);
    }

    int history_head() { return GPOINTER_TO_INT(g_queue_peek_head(&history_)); }

    ryt::TempDir temp_;
    std::string library_;
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
                      bare = temp_.file("odd.d/noext\\");
    for (const std::string& f : {linked, relative, bare}) {
        g_mkdir_with_parents(ry::gchar_ptr(g_path_get_dirname(f.c_str())).get(), 0755);
        ryt::write_file(f, "%PDF");
    }
    for (auto [key, name] : {std::pair{"ABCD2345", "paper.pdf"},
                             {"K1", "x.dat"},
                             {"K3", "notes.TXT"},
                             {"K", "a.pdf"},
                             {"K", nasty.c_str()},
                             {"UNK", "x.dat"}})
        store(key, name, "%PDF");
    ryt::write_file(storage + "outside.pdf", "pdf");
    ryt::write_file(library_ + "/outside.pdf", "pdf");
    std::string outside = temp_.path() + "/outside";
    g_mkdir_with_parents(outside.c_str(), 0755);
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
        {{25, "application/pdf", "storage:a.pdf", "K/../.."}, refused, {}},
        {{26, "application/pdf", "storage:../outside.pdf", "K"}, refused, {}},
        {{27, "application/pdf", "storage:../../outside.pdf", "K"}, refused, {}},
        {{28, "application/pdf", "/mnt/../../../outside.pdf", "K"}, refused, {}},
        {{29, "application/pdf", "storage:a.pdf", "."}, refused, {}},
        {{30, "application/pdf", "storage:a.pdf", ""}, refused, {}},
    };
    GConfClient* client = gconf_client_get_default();
    gconf_client_set_string(client, "/apps/ryx/linked_attachment_base", base.c_str(), nullptr);
    size_t sent = 0;
    for (const Case& c : cases) {
        g_queue_clear(&history_);
        g_queue_push_tail(&history_, GINT_TO_POINTER(-1));
        EXPECT_EQ(open(c.row), c.dialog.empty() ? Strings{} : Strings{c.dialog}) << c.row.item_id;
        if (c.argv.empty()) settle();
        auto tasks = start_tasks(stub, sent += !c.argv.empty());
        ASSERT_EQ(tasks.size(), sent) << c.row.item_id;
        EXPECT_EQ(history_head(), c.argv.empty() ? -1 : c.row.item_id) << c.row.item_id;
        if (c.argv.empty()) continue;
        gchar** argv = nullptr;
        ASSERT_TRUE(g_shell_parse_argv(tasks.back().args[0].c_str() + 2, nullptr, &argv, nullptr));
        ry::gstrv_ptr owned(argv);
        EXPECT_EQ(Strings(argv, argv + g_strv_length(argv)), c.argv) << c.row.item_id;
        EXPECT_EQ(tasks.back().args[3], "s:/usr/share/ctb/icon-" + c.icon + "-small.png") << c.row.item_id;
    }
    gconf_client_unset(client, "/apps/ryx/linked_attachment_base", nullptr);
    g_object_unref(client);
    Strings metadbs = metadbs_below(temp_.path());
    std::sort(metadbs.begin(), metadbs.end());
    Strings want;
    for (const char* key : {"ABCD2345", "ALIAS", "K", "K1", "K3"})
        want.push_back(storage + key + "/" + kMetadbFile);
    EXPECT_EQ(metadbs, want);
}

TEST_F(Activation, RefusedOpeningSaysSoAndLeavesTheHistory) {
    ryt::SysdStub stub({"--refuse"});
    store("K", "a.pdf", "pdf");
    EXPECT_EQ(open({4, "application/pdf", "storage:a.pdf", "K"}), Strings{"Sorry, could not open"});
    EXPECT_EQ(start_tasks(stub, 1).size(), 1u);
    EXPECT_EQ(history_head(), -1);
}

// Only when asked, the first opening makes the database with the file's size and time;
// later openings leave it as it is, even for a changed file.
TEST_F(Activation, FirstOpeningCreatesTheDatabaseWithSizeAndTime) {
    ryt::SysdStub stub({"--no-exec"});
    std::string file = store("ABCD2345", "paper.pdf", "%PDF-1.4 twelve");
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
    std::string big = store("BIG23456", "big.pdf", "");
    ASSERT_EQ(truncate(big.c_str(), 2200000000), 0);
    set_mtime(big, 1500000000);
    EXPECT_TRUE(open({2, "application/pdf", "storage:big.pdf", "BIG23456"}).empty());
    EXPECT_EQ(documents_in(library_ + "/storage/BIG23456"), Strings{"big.pdf 2200000000 1500000000"});
    EXPECT_EQ(start_tasks(stub, 5).size(), 5u);

    // A document that cannot be looked at leaves no empty database behind.
    std::string gone = library_ + "/storage/GONE2345";
    ASSERT_EQ(g_mkdir_with_parents(gone.c_str(), 0700), 0);
    EXPECT_NE(create_metadatabase(gone.c_str(), "gone.pdf", (gone + "/gone.pdf").c_str()), 0);
    EXPECT_FALSE(g_file_test((gone + "/" + kMetadbFile).c_str(), G_FILE_TEST_EXISTS));
}

// A database is never replaced, nor is something else under its name taken for a missing one.
TEST(Metadb, CreatingNeverReplaces) {
    ryt::TempDir dir, other;
    ry::gstring_ptr path(g_string_new(dir.path().c_str())), other_path(g_string_new(other.path().c_str()));
    ASSERT_EQ(ermetadb_create_database(path.get()), ER_OK);
    {
        ry::metadb_ptr db(ermetadb_new());
        ASSERT_EQ(ermetadb_open_database(db.get(), path.get()), ER_OK);
        ry::gstring_ptr name(g_string_new("a paper é.pdf"));
        ASSERT_EQ(ermetadb_add_document(db.get(), name.get(), 5000000000LL, 4102444800LL), ER_OK);
        ASSERT_EQ(ermetadb_close_database(db.get()), ER_OK);
    }
    EXPECT_EQ(ermetadb_create_database(path.get()), ER_FAIL);
    EXPECT_EQ(documents_in(dir.path()), Strings{"a paper é.pdf 5000000000 4102444800"});

    const std::string text = "not a database, just some text that is long enough\n";
    ryt::write_file(other.file(kMetadbFile), text);
    ry::metadb_ptr db(ermetadb_new());
    EXPECT_EQ(ermetadb_open_database_readonly(db.get(), other_path.get()), ER_INVALID_DATA);
    EXPECT_NE(ermetadb_create_database(other_path.get()), ER_OK);
    EXPECT_EQ(ryt::read_file(other.file(kMetadbFile)), text);
}

}  // namespace
