// The three list views and the tag view as the window gets them: columns,
// renderers, widths, ownership of the models, and the tag view's set-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ergtklistview.h"
#include "list_fixture.h"
#include "ry_iconview.h"
#include "shelf_library.h"

namespace {

template <class T>
T property(gpointer object, const char* name) {
    T value{};
    g_object_get(object, name, &value, NULL);
    return value;
}

GtkCellRenderer* renderer(GtkTreeViewColumn* column) {
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    EXPECT_EQ(g_list_length(cells), 1u);
    auto* cell = GTK_CELL_RENDERER(cells->data);
    g_list_free(cells);
    return cell;
}

// Each column as "title/max width", checking that it has one renderer without padding.
std::vector<std::string> columns_of(GtkWidget* view) {
    EXPECT_TRUE(ERGTK_IS_LIST_VIEW(view));
    std::vector<std::string> out;
    GList* columns = gtk_tree_view_get_columns(GTK_TREE_VIEW(view));
    for (GList* l = columns; l != nullptr; l = l->next) {
        auto* column = GTK_TREE_VIEW_COLUMN(l->data);
        out.push_back(std::string(gtk_tree_view_column_get_title(column)) + "/" +
                      std::to_string(gtk_tree_view_column_get_max_width(column)));
        EXPECT_EQ(property<guint>(renderer(column), "ypad"), 0u) << out.back();
    }
    g_list_free(columns);
    return out;
}

// What column n of the view shows for the model's row `row`.
std::string shown_text(GtkWidget* view, int n, int row) {
    GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
    GtkTreeIter iter;
    EXPECT_TRUE(gtk_tree_model_iter_nth_child(model, &iter, nullptr, row));
    GtkTreeViewColumn* column = gtk_tree_view_get_column(GTK_TREE_VIEW(view), n);
    gtk_tree_view_column_cell_set_cell_data(column, model, &iter, FALSE, FALSE);
    gchar* text = property<gchar*>(renderer(column), "text");
    std::string s = text ? text : "<null>";
    g_free(text);
    return s;
}

class Views : public testing::Test {
  protected:
    ryt::TempDir dir;
    ryt::Shelf shelf = ryt::write_shelf(dir.path());
    ryt::ListingLibrary lib{dir.file("zotero.sqlite")};
};

TEST_F(Views, ItemAndAttachmentListsShowTheirColumnsFromFreshModels) {
    GtkWidget* items = GTK_WIDGET(lib.item_list());
    GtkWidget* attachments = GTK_WIDGET(lib.attachment_list());
    // On the 1024-pixel screen: the first layout's title column, the rest shared by the names.
    EXPECT_EQ(columns_of(items), (std::vector<std::string>{"TITLE/640", "/188", "NAME/188"}));
    EXPECT_EQ(columns_of(attachments), (std::vector<std::string>{"MIMETYPE/320", "FILE/-1"}));
    GtkTreeViewColumn* title = gtk_tree_view_get_column(GTK_TREE_VIEW(items), 0);
    EXPECT_EQ(property<gint>(renderer(title), "wrap-width"), 635);
    EXPECT_EQ(property<PangoWrapMode>(renderer(title), "wrap-mode"), PANGO_WRAP_WORD);
    EXPECT_FLOAT_EQ(property<gfloat>(renderer(gtk_tree_view_get_column(GTK_TREE_VIEW(items), 1)), "xalign"),
                    1);
    EXPECT_EQ(gtk_tree_model_iter_n_children(lib.item_model(), nullptr), 0);
    EXPECT_EQ(gtk_tree_model_iter_n_children(gtk_tree_view_get_model(lib.attachment_list()), nullptr), 0);

    // A listing fills what the columns show, never the id.
    sql_que.title = search_buttons[1].que;
    lib.list(ZTINCR);  // Apart (2 rows), Atlas (3 rows), On a Theme, The Art of Listing (Tom Young)
    EXPECT_EQ(shown_text(items, 0, 6) + "|" + shown_text(items, 1, 6) + "|" + shown_text(items, 2, 6),
              "The Art of Listing|Tom|Young");
    EXPECT_EQ(shown_text(items, 1, 5), "");
    lib.activate_item_row(2);  // Atlas: the epub comes first
    EXPECT_EQ(shown_text(attachments, 0, 0) + "|" + shown_text(attachments, 1, 0),
              "application/epub+zip|storage:atlas.epub");
}

TEST_F(Views, CollectionListOwnsItsFilledModel) {
    GtkWidget* view = GTK_WIDGET(g_object_ref_sink(ry_initialize_collection_list(lib.db())));
    EXPECT_EQ(columns_of(view), std::vector<std::string>{"Collection/256"});
    EXPECT_EQ(shown_text(view, 0, 0), "*");
    EXPECT_EQ(shown_text(view, 0, 1), "Beta");

    bool finalized = false;
    g_object_weak_ref(
        G_OBJECT(gtk_tree_view_get_model(GTK_TREE_VIEW(view))),
        +[](gpointer flag, GObject*) { *static_cast<bool*>(flag) = true; }, &finalized);
    gtk_widget_destroy(view);
    g_object_unref(view);
    EXPECT_TRUE(finalized) << "the view was the model's only owner";
}

TEST_F(Views, TagViewShowsTypeZeroTagsOneSelectableAtATime) {
    ry_radio_group rgroup{};
    rgroup.tag_view = GTK_WIDGET(g_object_ref_sink(ry_icon_view_new()));
    GtkWidget* tag_view = ry_initialize_tag_view(lib.db(), &rgroup);
    ASSERT_EQ(tag_view, rgroup.tag_view);
    GtkIconView* icons = GTK_ICON_VIEW(tag_view);
    EXPECT_EQ(gtk_icon_view_get_selection_mode(icons), GTK_SELECTION_SINGLE);
    EXPECT_EQ(gtk_icon_view_get_row_spacing(icons), 0);
    EXPECT_EQ(gtk_icon_view_get_text_column(icons), int(LABEL_NAME));
    EXPECT_EQ(gtk_icon_view_get_pixbuf_column(icons), -1);
    GtkTreeModel* model = gtk_icon_view_get_model(icons);
    EXPECT_EQ(ryt::label_rows(model),
              (std::vector<ryt::LabelRow>{{shelf.tag_alpha, "alpha"}, {shelf.tag_beta, "Beta"}}));

    for (int row : {0, 1}) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
        gtk_icon_view_select_path(icons, path);
        gtk_tree_path_free(path);
    }
    GList* selected = gtk_icon_view_get_selected_items(icons);
    ASSERT_EQ(g_list_length(selected), 1u);
    EXPECT_EQ(gtk_tree_path_get_indices(static_cast<GtkTreePath*>(selected->data))[0], 1);
    g_list_free_full(selected, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));

    gtk_widget_destroy(tag_view);
    g_object_unref(tag_view);
    g_object_unref(model);  // the builder's reference, kept for the whole run
}

}  // namespace
