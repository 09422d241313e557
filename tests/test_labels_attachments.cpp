// The label models (collection list and tag view) and the attachment listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "list_fixture.h"
#include "ry_raii.h"
#include "shelf_library.h"

using ryt::AttachmentRow;
using ryt::LabelRow;

namespace {

std::vector<LabelRow> labels_of(sqlite3* db, int i) {
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    ry_initialize_labels(db, i, GTK_TREE_MODEL(model.get()));
    return ryt::label_rows(GTK_TREE_MODEL(model.get()));
}

std::string key_of(sqlite3* db, int item_id) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT key FROM items WHERE itemID=?", -1, &s, nullptr);
    ry::unique_stmt owner(s);
    sqlite3_bind_int(s, 1, item_id);
    if (sqlite3_step(s) != SQLITE_ROW) return "";
    return reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
}

class Labels : public testing::Test {
  protected:
    ryt::TempDir dir;
    ryt::Shelf shelf = ryt::write_shelf(dir.path());
    ryt::ListingLibrary lib{dir.file("zotero.sqlite")};
};

// ---- labels ----

TEST_F(Labels, CollectionsAscendByBytesBelowTheWholeLibraryRow) {
    EXPECT_EQ(labels_of(lib.db(), 0), (std::vector<LabelRow>{{-1, "*"},
                                                             {shelf.beta_collection, "Beta"},
                                                             {shelf.zeta, "Zeta"},
                                                             {shelf.alpha_collection, "alpha"}}));
}

TEST_F(Labels, TagsOfTypeZeroOnlyAscendingUnderTheirNocaseColumn) {
    EXPECT_EQ(labels_of(lib.db(), 1),
              (std::vector<LabelRow>{
                  {shelf.tag_alpha, "alpha"}, {shelf.tag_beta, "Beta"}, {shelf.tag_charlie, "charlie"}}));
}

TEST_F(Labels, SameOrderUnderANonUtf8GermanLocale) {
    ryt::TempDir locales;
    if (!setlocale(LC_ALL, "de_DE.ISO-8859-1")) {
        std::string cmd =
            "localedef -i de_DE -f ISO-8859-1 " + locales.file("de_DE.ISO-8859-1") + " >/dev/null 2>&1";
        g_setenv("LOCPATH", locales.path().c_str(), TRUE);
        if (std::system(cmd.c_str()) != 0 || !setlocale(LC_ALL, "de_DE.ISO-8859-1")) {
            g_unsetenv("LOCPATH");
            GTEST_SKIP() << "no de_DE.ISO-8859-1 locale";
        }
    }
    std::vector<LabelRow> collections = labels_of(lib.db(), 0);
    std::vector<LabelRow> tags = labels_of(lib.db(), 1);
    setlocale(LC_ALL, "C");
    g_unsetenv("LOCPATH");
    EXPECT_EQ(collections, labels_of(lib.db(), 0));
    EXPECT_EQ(tags, labels_of(lib.db(), 1));
}

TEST(LabelsEmpty, EmptyLibraryGivesTheStarRowAndNoTags) {
    ryt::TempDir dir;
    libgen::ClassicLibraryBuilder b(dir.path());
    b.add_tag("automatic only", libgen::tag_automatic);
    b.finish();
    ryt::ListingLibrary lib(dir.file("zotero.sqlite"));
    EXPECT_EQ(labels_of(lib.db(), 0), (std::vector<LabelRow>{{-1, "*"}}));
    EXPECT_TRUE(labels_of(lib.db(), 1).empty());
}

TEST(LabelsFailure, TextThatDoesNotCompileLeavesTheModelAndSaysWhy) {
    ryt::TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("other.sqlite").c_str(), &db), SQLITE_OK);
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    gtk_list_store_insert_with_values(model.get(), nullptr, -1, LABEL_ID, 7, LABEL_NAME, "before", -1);
    ryt::StderrCapture err;
    ry_initialize_labels(db, 0, GTK_TREE_MODEL(model.get()));
    EXPECT_EQ(err.take(), "SQL Error: no such table: collections\n");
    EXPECT_EQ(ryt::label_rows(GTK_TREE_MODEL(model.get())), (std::vector<LabelRow>{{7, "before"}}));
    sqlite3_close(db);
}

// ---- attachments ----

TEST_F(Labels, AttachmentsArePrependedInReverseStatementOrder) {
    sql_que.title = search_buttons[1].que;
    std::vector<ryt::ItemRow> rows = lib.list(ZTINCR);
    ASSERT_EQ(rows[2].id, shelf.atlas);

    // The order in which the library hands them out.
    sqlite3_stmt* at = lib.statement(ZAT);
    sqlite3_bind_int(at, SITID, shelf.atlas);
    std::vector<AttachmentRow> stepped;
    while (sqlite3_step(at) == SQLITE_ROW) {
        auto text = [&](int c) {
            const unsigned char* t = sqlite3_column_text(at, c);
            return std::string(t ? reinterpret_cast<const char*>(t) : "");
        };
        stepped.insert(stepped.begin(), {sqlite3_column_int(at, 0), text(1), text(2), text(3)});
    }
    sqlite3_reset(at);
    ASSERT_EQ(stepped.size(), 3u);

    lib.activate_item_row(2);
    EXPECT_EQ(lib.attachments(), stepped);
}

TEST_F(Labels, AttachmentWithoutPathOrMimeTypeShowsEmptyTexts) {
    sql_que.title = search_buttons[1].que;
    lib.list(ZTINCR);
    lib.activate_item_row(2);
    std::vector<AttachmentRow> got = lib.attachments();
    EXPECT_NE(
        std::find(got.begin(), got.end(), AttachmentRow{shelf.atlas, "", "", key_of(lib.db(), shelf.url)}),
        got.end());
}

TEST_F(Labels, ContinuationRowListsItsItemsAttachments) {
    sql_que.title = search_buttons[1].que;
    lib.list(ZTINCR);
    lib.activate_item_row(2);
    std::vector<AttachmentRow> from_head = lib.attachments();
    lib.activate_item_row(1);  // Apart, another item
    ASSERT_NE(lib.attachments(), from_head);
    lib.activate_item_row(4);  // Atlas again, its third creator
    EXPECT_EQ(lib.attachments(), from_head);
}

TEST_F(Labels, EveryActivationReplacesTheList) {
    sql_que.title = search_buttons[1].que;
    lib.list(ZTINCR);
    lib.activate_item_row(2);
    ASSERT_EQ(lib.attachments().size(), 3u);
    lib.activate_item_row(6);  // The Art of Listing: no attachments
    EXPECT_TRUE(lib.attachments().empty());
}

TEST_F(Labels, SeparatorOrNoSelectionKeepsTheList) {
    sql_que.title = search_buttons[1].que;
    std::vector<ryt::ItemRow> rows = lib.list(ZTINCR);
    lib.activate_item_row(2);
    std::vector<AttachmentRow> before = lib.attachments();
    lib.activate_item_row(int(rows.size()) - 1);
    EXPECT_EQ(lib.attachments(), before);
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(lib.item_list()));
    ry_list_attachments(lib.item_list(), nullptr, nullptr, lib.data());
    EXPECT_EQ(lib.attachments(), before);
}

TEST_F(Labels, ItemListingLeavesTheAttachmentsAlone) {
    sql_que.title = search_buttons[1].que;
    lib.list(ZTINCR);
    lib.activate_item_row(2);
    std::vector<AttachmentRow> before = lib.attachments();
    sql_que.title = search_buttons[20].que;
    lib.list(ZTINCR);
    g_queue_push_tail(lib.history(), GINT_TO_POINTER(shelf.art));
    ry_list_recent_items(lib.data());
    EXPECT_EQ(lib.attachments(), before);
}

}  // namespace
