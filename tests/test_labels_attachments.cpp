// The label models (collection list and tag view) and the attachment listing.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "list_fixture.h"
#include "ry_raii.h"
#include "shelf_library.h"

using ryt::LabelRow;
using Labels = std::vector<LabelRow>;

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

// What column n of the view shows for the model's row `row`.
std::string shown(GtkTreeView* view, int n, int row) {
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    GtkTreeIter iter;
    EXPECT_TRUE(gtk_tree_model_iter_nth_child(model, &iter, nullptr, row));
    GtkTreeViewColumn* column = gtk_tree_view_get_column(view, n);
    gtk_tree_view_column_cell_set_cell_data(column, model, &iter, FALSE, FALSE);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    gchar* text = nullptr;
    g_object_get(cells->data, "text", &text, NULL);
    g_list_free(cells);
    std::string s = text ? text : "<null>";
    g_free(text);
    return s;
}

// Under "A": Apart (rows 0, 1), Atlas (rows 2 to 4), On a Theme, The Art of Listing,
// separator. Each activation replaces the attachments, each prepended as the library
// hands it out; the separator, no selection or another listing keep them.
TEST_F(Shelf, ActivatingAnItemRowListsItsAttachments) {
    sql_que.title = search_buttons[1].que;
    ASSERT_EQ(lib.list(ZTINCR)[2].id, shelf.atlas);
    EXPECT_EQ(shown(lib.item_list(), 0, 6) + "|" + shown(lib.item_list(), 1, 6) + "|" +
                  shown(lib.item_list(), 2, 6),
              "The Art of Listing|Tom|Young");
    EXPECT_EQ(shown(lib.item_list(), 1, 5), "");
    const std::vector<std::string> atlas{"application/epub+zip|storage:atlas.epub", "|http://example.org",
                                         "application/pdf|storage:atlas.pdf"};
    lib.activate_item_row(2);
    EXPECT_EQ(lib.attachments(), atlas);
    EXPECT_EQ(shown(lib.attachment_list(), 0, 0) + "|" + shown(lib.attachment_list(), 1, 0),
              "application/epub+zip|storage:atlas.epub");
    lib.activate_item_row(1);  // Apart, another item
    EXPECT_EQ(lib.attachments().size(), 1u);
    lib.activate_item_row(4);  // Atlas again, from its third creator's row
    EXPECT_EQ(lib.attachments(), atlas);
    lib.activate_item_row(7);  // the separator
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(lib.item_list()));
    ry_list_attachments(lib.item_list(), nullptr, nullptr, lib.data());
    g_queue_push_tail(lib.history(), GINT_TO_POINTER(shelf.art));
    ry_list_recent_items(lib.data());
    EXPECT_EQ(lib.attachments(), atlas);
    lib.activate_item_row(0);  // The Art of Listing: no attachments
    EXPECT_TRUE(lib.attachments().empty());
}

}  // namespace
