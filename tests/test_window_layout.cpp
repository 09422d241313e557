// The main window as the program builds it, as large as the screen: what it shows
// first, the fixed-height browse row, the attachment list that keeps its own height, and the paging tool
// boxes of the browse row under a large library.
#include <gtest/gtest.h>

#include <string>

#include "window_fixture.h"

namespace {

class WindowLayout : public ryt::WindowFixture {
  protected:
    // A library with `collections` collections and `tags` tags besides two items.
    void build_library(int collections, int tags) {
        build([&](libgen::LibraryBuilder& lib) {
            atlas_ = lib.add_item({.title = "Atlas of Birds", .creators = {{"Ann", "Lee"}}});
            bee_ = lib.add_item({.title = "The Bee Book", .creators = {{"Bob", "Carter"}}});
            for (int i = 0; i < collections; ++i) lib.add_collection("Collection " + std::to_string(i));
            for (int i = 0; i < tags; ++i) lib.tag_item(atlas_, lib.add_tag("tag" + std::to_string(i)));
            // Most recent first.
            g_queue_push_tail(&history_, GINT_TO_POINTER(bee_));
            g_queue_push_tail(&history_, GINT_TO_POINTER(-1));
            g_queue_push_tail(&history_, GINT_TO_POINTER(atlas_));
        });
    }

    GtkWidget* tool_box_of(GtkWidget* view) const { return ryt::nth_child(gtk_widget_get_parent(view), 1); }

    int atlas_ = 0, bee_ = 0;
};

TEST_F(WindowLayout, FirstShowListsRecentItemsWithFocusOnCollections) {
    build_library(2, 3);
    std::vector<int> ids = ryt::model_ids(item_model(), ITEM_ID);
    ASSERT_GE(ids.size(), 2u);
    EXPECT_EQ(ids[0], bee_);
    EXPECT_EQ(ids[1], atlas_);
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window_)), collection_list_);
    EXPECT_EQ(gtk_tree_model_iter_n_children(
                  gtk_tree_view_get_model(GTK_TREE_VIEW(search_data_.attachment_list)), nullptr),
              0);
    // Nothing has been chosen through the keys yet.
    EXPECT_EQ(sql_que.sql, -1);
    EXPECT_EQ(sql_que.cid, -1);
}

TEST_F(WindowLayout, BrowseRowIs350PixelsWithFewLabels) {
    build_library(1, 2);
    EXPECT_EQ(browse_row()->allocation.height, 350);
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(tool_box_of(collection_list_)));
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(tool_box_of(tag_view())));
}

TEST_F(WindowLayout, BrowseRowIs350PixelsWithManyLabels) {
    build_library(80, 400);
    EXPECT_EQ(browse_row()->allocation.height, 350);
    // Both views overflow and get their tool boxes.
    EXPECT_TRUE(GTK_WIDGET_VISIBLE(tool_box_of(collection_list_)));
    EXPECT_TRUE(GTK_WIDGET_VISIBLE(tool_box_of(tag_view())));
}

TEST_F(WindowLayout, ItemListTakesSpareHeightAndAttachmentListKeepsItsOwn) {
    build_library(2, 3);
    GtkWidget* attachments = GTK_WIDGET(search_data_.attachment_list);
    GtkRequisition wanted;
    gtk_widget_get_child_requisition(attachments, &wanted);
    EXPECT_EQ(attachments->allocation.height, wanted.height);
    GtkRequisition item_box_wanted;
    gtk_widget_get_child_requisition(item_box(), &item_box_wanted);
    EXPECT_GT(item_box()->allocation.height, item_box_wanted.height + 300);
    // Top to bottom: attachments, items, browse row, keys.
    EXPECT_LT(attachments->allocation.y, item_box()->allocation.y);
    EXPECT_LT(item_box()->allocation.y, browse_row()->allocation.y);
    EXPECT_LT(browse_row()->allocation.y, search_box()->allocation.y);
}

TEST_F(WindowLayout, TagColumnHasLabelAndFifteenPixelBand) {
    build_library(2, 3);
    GtkWidget* column = gtk_widget_get_parent(gtk_widget_get_parent(tag_view()));
    GtkWidget* label = ryt::nth_child(column, 0);
    GtkWidget* band = ryt::nth_child(column, 1);
    ASSERT_TRUE(GTK_IS_LABEL(label));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "Tag");
    EXPECT_STREQ(gtk_widget_get_name(label), "tag-label");
    ASSERT_TRUE(GTK_IS_EVENT_BOX(band));
    EXPECT_STREQ(gtk_widget_get_name(band), "tag-label");
    EXPECT_EQ(band->allocation.height, 15);
    EXPECT_FALSE(GTK_WIDGET_CAN_FOCUS(band));
    EXPECT_STREQ(gtk_widget_get_name(GTK_WIDGET(search_data_.attachment_list)), "attachment-list-ryx");
}

}  // namespace
