// The label models (collection list and tag view) and the attachment listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "list_fixture.h"
#include "ry_raii.h"
#include "shelf_library.h"

using ryt::AttachmentRow;
using ryt::LabelRow;
using Labels = std::vector<LabelRow>;
using Attachments = std::vector<AttachmentRow>;

namespace {

Labels labels_of(sqlite3* db, int i) {
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    ry_initialize_labels(db, i, GTK_TREE_MODEL(model.get()));
    return ryt::label_rows(GTK_TREE_MODEL(model.get()));
}

class Shelf : public testing::Test {
  protected:
    ryt::TempDir dir;
    ryt::Shelf shelf = ryt::write_shelf(dir.path());
    ryt::ListingLibrary lib{dir.file("zotero.sqlite")};
};

// ---- labels ----

TEST_F(Shelf, CollectionsByBytesAndTypeZeroTagsByNocaseWhateverTheLocale) {
    const Labels collections{
        {-1, "*"}, {shelf.beta_collection, "Beta"}, {shelf.zeta, "Zeta"}, {shelf.alpha_collection, "alpha"}};
    // charlie is on no item.
    const Labels tags{{shelf.tag_alpha, "alpha"}, {shelf.tag_beta, "Beta"}};
    EXPECT_EQ(labels_of(lib.db(), 0), collections);
    EXPECT_EQ(labels_of(lib.db(), 1), tags);
    ryt::TempDir locales;
    if (!ryt::use_german_latin1_locale(locales)) GTEST_SKIP() << "no de_DE.ISO-8859-1 locale";
    Labels german_collections = labels_of(lib.db(), 0), german_tags = labels_of(lib.db(), 1);
    setlocale(LC_ALL, "C");
    g_unsetenv("LOCPATH");
    EXPECT_EQ(german_collections, collections);
    EXPECT_EQ(german_tags, tags);
}

TEST(LabelsEmpty, EmptyLibraryGivesTheStarRowAndNoTags) {
    ryt::TempDir dir;
    libgen::ClassicLibraryBuilder b(dir.path());
    b.add_tag("automatic only", libgen::tag_automatic);
    b.finish();
    ryt::ListingLibrary lib(dir.file("zotero.sqlite"));
    EXPECT_EQ(labels_of(lib.db(), 0), (Labels{{-1, "*"}}));
    EXPECT_TRUE(labels_of(lib.db(), 1).empty());
}

TEST(LabelsFailure, TextThatDoesNotCompileLeavesTheModelAndSaysWhy) {
    ryt::TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("other.sqlite").c_str(), &db), SQLITE_OK);
    ry::gobject_ptr<GtkListStore> model(ry_create_label_model());
    gtk_list_store_insert_with_values(model.get(), nullptr, -1, LABEL_ID, 7, LABEL_NAME, "before", -1);
    testing::internal::CaptureStderr();
    ry_initialize_labels(db, 0, GTK_TREE_MODEL(model.get()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SQL Error: no such table: collections\n");
    EXPECT_EQ(ryt::label_rows(GTK_TREE_MODEL(model.get())), (Labels{{7, "before"}}));
    sqlite3_close(db);
}

// ---- attachments ----

// Under "A": Apart (rows 0, 1), Atlas (rows 2 to 4), On a Theme, The Art of Listing, separator.
TEST_F(Shelf, AttachmentsArePrependedAndReplacedOnEveryActivation) {
    sql_que.title = search_buttons[1].que;
    ASSERT_EQ(lib.list(ZTINCR)[2].id, shelf.atlas);
    // The order in which the library hands them out, reversed.
    sqlite3_stmt* at = lib.statement(ZAT);
    sqlite3_bind_int(at, SITID, shelf.atlas);
    Attachments stepped;
    auto text = [&](int c) {
        const unsigned char* t = sqlite3_column_text(at, c);
        return std::string(t ? reinterpret_cast<const char*>(t) : "");
    };
    while (sqlite3_step(at) == SQLITE_ROW)
        stepped.insert(stepped.begin(), {sqlite3_column_int(at, 0), text(1), text(2), text(3)});
    sqlite3_reset(at);
    ASSERT_EQ(stepped.size(), 3u);
    // The web link without a title or MIME type shows its address.
    EXPECT_EQ(std::count_if(
                  stepped.begin(), stepped.end(),
                  [](const AttachmentRow& r) { return r.mime.empty() && r.path == "http://example.org"; }),
              1);

    lib.activate_item_row(2);
    EXPECT_EQ(lib.attachments(), stepped);
    lib.activate_item_row(1);  // Apart, another item
    EXPECT_EQ(lib.attachments().size(), 1u);
    lib.activate_item_row(4);  // Atlas again, from its third creator's row
    EXPECT_EQ(lib.attachments(), stepped);
    lib.activate_item_row(6);  // The Art of Listing: no attachments
    EXPECT_TRUE(lib.attachments().empty());
}

TEST_F(Shelf, SeparatorNoSelectionOrAnotherListingKeepsTheList) {
    sql_que.title = search_buttons[1].que;
    const size_t separator = lib.list(ZTINCR).size() - 1;
    lib.activate_item_row(2);
    const Attachments before = lib.attachments();
    ASSERT_EQ(before.size(), 3u);
    lib.activate_item_row(int(separator));
    EXPECT_EQ(lib.attachments(), before);
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(lib.item_list()));
    ry_list_attachments(lib.item_list(), nullptr, nullptr, lib.data());
    EXPECT_EQ(lib.attachments(), before);
    sql_que.title = search_buttons[20].que;
    lib.list(ZTINCR);
    g_queue_push_tail(lib.history(), GINT_TO_POINTER(shelf.art));
    ry_list_recent_items(lib.data());
    EXPECT_EQ(lib.attachments(), before);
}

}  // namespace
