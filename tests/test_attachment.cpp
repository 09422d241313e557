// Opening an activated attachment: viewer and icon from a real GConf registry,
// the path in the library's storage, the metadata database of its directory, the
// messages the daemon stand-in receives and the dialogs the user sees.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>
#include <utime.h>

#include <string>
#include <vector>

#include "dialog_responder.h"
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
// the base directory; a web link and a missing file say why and send nothing. Only what
// the daemon took on enters the history.
TEST_F(Activation, EveryKindOfAttachmentOpensFromWhereItLies) {
    ryt::SysdStub stub({"--no-exec"});
    with_metadb = WITH_METADB;
    const std::string stored = store("ABCD2345", "paper.pdf", "%PDF"),
                      linked = temp_.file("elsewhere/own.pdf"), base = temp_.path() + "/base",
                      relative = base + "/sub/rel.pdf";
    for (const std::string& f : {linked, relative}) {
        g_mkdir_with_parents(ry::gchar_ptr(g_path_get_dirname(f.c_str())).get(), 0755);
        ryt::write_file(f, "%PDF");
    }
    struct Case {
        Row row;
        Strings dialogs;
        std::string opened;  // the path the viewer gets; "" for nothing sent
    };
    const std::vector<Case> cases = {
        {{7, "application/pdf", "storage:paper.pdf", "ABCD2345"}, {}, stored},
        {{8, "text/html", "storage:paper.pdf", "ABCD2345", RY_LINK_IMPORTED_URL}, {}, stored},
        {{9, "application/pdf", linked.c_str(), "LINKKEY1", RY_LINK_FILE}, {}, linked},
        {{10, "application/pdf", "attachments:sub/rel.pdf", "LINKKEY2", RY_LINK_FILE}, {}, relative},
        {{11, "text/html", "Publisher page", "WEBKEY01", RY_LINK_URL},
         {"Web links cannot be opened on the reader"},
         ""},
        {{12, "application/pdf", "storage:gone.pdf", "ABCD2345"}, {"File not found: gone.pdf"}, ""},
        {{13, "application/pdf", "/nowhere/lost.pdf", "LINKKEY3", RY_LINK_FILE},
         {"File not found: lost.pdf"},
         ""},
        {{14, "application/pdf", "attachments:../rel.pdf", "LINKKEY4", RY_LINK_FILE},
         {"Sorry, could not open"},
         ""},
    };
    GConfClient* client = gconf_client_get_default();
    gconf_client_set_string(client, "/apps/ryx/linked_attachment_base", base.c_str(), nullptr);
    size_t sent = 0;
    for (const Case& c : cases) {
        g_queue_clear(&history_);
        g_queue_push_tail(&history_, GINT_TO_POINTER(-1));
        EXPECT_EQ(open(c.row), c.dialogs) << c.row.path;
        if (c.opened.empty()) settle();
        auto tasks = start_tasks(stub, sent += !c.opened.empty());
        ASSERT_EQ(tasks.size(), sent) << c.row.path;
        if (!c.opened.empty()) {
            EXPECT_EQ(tasks.back().args[0], "s:docview --fit \"" + c.opened + "\"");
        }
        EXPECT_EQ(history_head(), c.opened.empty() ? -1 : c.row.item_id) << c.row.path;
    }
    gconf_client_unset(client, "/apps/ryx/linked_attachment_base", nullptr);
    g_object_unref(client);
    // Metadata only inside storage.
    EXPECT_EQ(metadbs_below(temp_.path()), Strings{library_ + "/storage/ABCD2345/" + kMetadbFile});
}

TEST_F(Activation, MimeSubtypeStandsInForAnUnknownExtension) {
    ryt::SysdStub stub({"--no-exec"});
    for (auto [key, name] : {std::pair{"K1", "x.dat"}, {"K2", "noext"}, {"K3", "notes.TXT"}})
        store(key, name, "");
    Strings dialogs = open(std::vector<Row>{{1, "application/pdf", "storage:x.dat", "K1"},
                                            {2, "application/pdf", "storage:noext", "K2"},
                                            {3, "application/pdf", "storage:notes.TXT", "K3"}},
                           library_);
    EXPECT_TRUE(dialogs.empty());
    auto tasks = start_tasks(stub, 3);
    ASSERT_EQ(tasks.size(), 3u);
    // An unregistered extension: viewer and icon of the MIME subtype.
    EXPECT_EQ(tasks[0].args[0], "s:docview --fit \"" + library_ + "/storage/K1/x.dat\"");
    EXPECT_EQ(tasks[0].args[3], "s:/usr/share/ctb/icon-doc-small.png");
    // No extension at all: the catch-all's icon comes first, the viewer from the subtype.
    EXPECT_EQ(tasks[1].args[0], "s:docview --fit \"" + library_ + "/storage/K2/noext\"");
    EXPECT_EQ(tasks[1].args[3], "s:/usr/share/ctb/icon-unknown-small.png");
    // A registered extension wins over the MIME type, whatever its case.
    EXPECT_EQ(tasks[2].args[0], "s:pager \"" + library_ + "/storage/K3/notes.TXT\"");
    EXPECT_EQ(tasks[2].args[3], "s:/usr/share/ctb/icon-txt-small.png");
}

TEST_F(Activation, UnknownFormatIsOneDialogAndNoMessage) {
    ryt::SysdStub stub({"--no-exec"});
    with_metadb = WITH_METADB;
    store("K", "x.dat", "data");
    EXPECT_EQ(open({9, "application/x-unheard-of", "storage:x.dat", "K"}), Strings{"The format is unknown"});
    settle();
    EXPECT_TRUE(stub.messages().empty());
    EXPECT_TRUE(metadbs_below(library_).empty());
    EXPECT_EQ(history_head(), -1);
}

TEST_F(Activation, RefusedOpeningSaysSoAndLeavesTheHistory) {
    ryt::SysdStub stub({"--refuse"});
    store("K", "a.pdf", "pdf");
    EXPECT_EQ(open({4, "application/pdf", "storage:a.pdf", "K"}), Strings{"Sorry, could not open"});
    EXPECT_EQ(start_tasks(stub, 1).size(), 1u);
    EXPECT_EQ(history_head(), -1);
}

TEST_F(Activation, FirstOpeningCreatesTheDatabaseWithSizeAndTime) {
    ryt::SysdStub stub({"--no-exec"});
    with_metadb = WITH_METADB;
    std::string file = store("ABCD2345", "paper.pdf", "%PDF-1.4 twelve");
    set_mtime(file, 1500000000);
    std::string dir = library_ + "/storage/ABCD2345";
    EXPECT_TRUE(open({1, "application/pdf", "storage:paper.pdf", "ABCD2345"}).empty());
    EXPECT_EQ(documents_in(dir), Strings{"paper.pdf 15 1500000000"});

    // Later openings find the database and leave it as it is, even for a changed file.
    ryt::write_file(file, "%PDF-1.4 a longer body now");
    set_mtime(file, 1600000000);
    EXPECT_TRUE(open({1, "application/pdf", "storage:paper.pdf", "ABCD2345"}).empty());
    EXPECT_EQ(documents_in(dir), Strings{"paper.pdf 15 1500000000"});
    EXPECT_EQ(metadbs_below(library_), Strings{dir + "/" + kMetadbFile});

    // Sizes past 2 GiB too (the file is sparse).
    std::string big = store("BIG23456", "big.pdf", "");
    ASSERT_EQ(truncate(big.c_str(), 2200000000), 0);
    set_mtime(big, 1500000000);
    EXPECT_TRUE(open({2, "application/pdf", "storage:big.pdf", "BIG23456"}).empty());
    EXPECT_EQ(documents_in(library_ + "/storage/BIG23456"), Strings{"big.pdf 2200000000 1500000000"});
    EXPECT_EQ(start_tasks(stub, 3).size(), 3u);

    // A document that cannot be looked at leaves no empty database behind.
    std::string gone = library_ + "/storage/GONE2345";
    ASSERT_EQ(g_mkdir_with_parents(gone.c_str(), 0700), 0);
    EXPECT_NE(create_metadatabase(gone.c_str(), "gone.pdf", (gone + "/gone.pdf").c_str()), 0);
    EXPECT_FALSE(g_file_test((gone + "/" + kMetadbFile).c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(Activation, OtherFlagsLeaveMetadataAlone) {
    ryt::SysdStub stub({"--no-exec"});
    store("K", "a.pdf", "pdf");
    for (int flag : {NO_METADB, WITH_CTB}) {
        with_metadb = flag;
        EXPECT_TRUE(open({1, "application/pdf", "storage:a.pdf", "K"}).empty()) << flag;
    }
    EXPECT_TRUE(metadbs_below(temp_.path()).empty());
    EXPECT_EQ(start_tasks(stub, 2).size(), 2u);
}

TEST_F(Activation, KeyOrNameLeavingStorageIsNotOpened) {
    ryt::SysdStub stub({"--no-exec"});
    with_metadb = WITH_METADB;
    store("K", "a.pdf", "pdf");
    ryt::write_file(library_ + "/storage/outside.pdf", "pdf");
    ryt::write_file(library_ + "/outside.pdf", "pdf");
    // Links on the way that lead out: a key directory, a file, a directory under a key.
    std::string outside = temp_.path() + "/outside";
    g_mkdir_with_parents(outside.c_str(), 0755);
    ASSERT_EQ(symlink(outside.c_str(), (library_ + "/storage/OUT").c_str()), 0);
    ASSERT_EQ(symlink((library_ + "/outside.pdf").c_str(), (library_ + "/storage/K/b.pdf").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (library_ + "/storage/K/sub").c_str()), 0);
    const std::vector<Row> rows{
        {7, "application/pdf", "storage:a.pdf", "OUT"},
        {8, "application/pdf", "storage:b.pdf", "K"},
        {9, "application/pdf", "storage:sub/new/c.pdf", "K"},
        {1, "application/pdf", "storage:outside.pdf", ".."},
        {2, "application/pdf", "storage:a.pdf", "K/../.."},
        {3, "application/pdf", "storage:../outside.pdf", "K"},
        {4, "application/pdf", "storage:../../outside.pdf", "K"},
        {5, "application/pdf", "/mnt/../../../outside.pdf", "K"},
        {6, "application/pdf", "storage:a.pdf", "."},
    };
    EXPECT_EQ(open(rows, library_), Strings(rows.size(), "Sorry, could not open"));
    settle();
    EXPECT_TRUE(stub.messages().empty());
    EXPECT_TRUE(metadbs_below(temp_.path()).empty());
    EXPECT_EQ(history_head(), -1);
}

TEST_F(Activation, LinksThatStayInsideStorageAreFollowed) {
    ryt::SysdStub stub({"--no-exec"});
    with_metadb = WITH_METADB;
    store("K", "a.pdf", "pdf");
    ASSERT_EQ(symlink("K", (library_ + "/storage/ALIAS").c_str()), 0);
    EXPECT_TRUE(open({1, "application/pdf", "storage:a.pdf", "ALIAS"}).empty());
    EXPECT_EQ(metadbs_below(library_ + "/storage/K").size(), 1u);
    EXPECT_EQ(start_tasks(stub, 1).size(), 1u);
}

TEST_F(Activation, QuotesAndDollarsInNamesStayInsideTheArgument) {
    ryt::SysdStub stub({"--no-exec"});
    const std::string name = "a\"; touch pwned; \"$(id)`id`\\.pdf";
    store("K", name, "pdf");
    EXPECT_TRUE(open({1, "application/pdf", ("storage:" + name).c_str(), "K"}).empty());
    auto tasks = start_tasks(stub, 1);
    ASSERT_EQ(tasks.size(), 1u);
    gchar** argv = nullptr;
    ASSERT_TRUE(g_shell_parse_argv(tasks[0].args[0].c_str() + 2, nullptr, &argv, nullptr));
    ry::gstrv_ptr owned(argv);
    ASSERT_EQ(g_strv_length(argv), 3u);
    EXPECT_EQ(std::string(argv[2]), library_ + "/storage/K/" + name);
    EXPECT_EQ(tasks[0].args[2], "s:" + name);
}

}  // namespace
