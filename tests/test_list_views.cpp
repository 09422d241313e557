// The three list views and the tag view as the window gets them: columns,
// renderers, widths, ownership of the models, and the tag view's set-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ergtklistview.h"
#include "list_fixture.h"
#include "ry_iconview.h"
#include "ry_raii.h"
#include "shelf_library.h"

namespace {

struct ColumnInfo {
    std::string title;
    int max_width;
    GtkCellRenderer* renderer;
};

std::vector<ColumnInfo> columns_of(GtkWidget* view) {
    std::vector<ColumnInfo> out;
    GList* columns = gtk_tree_view_get_columns(GTK_TREE_VIEW(view));
    for (GList* l = columns; l != nullptr; l = l->next) {
        auto* column = GTK_TREE_VIEW_COLUMN(l->data);
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
        EXPECT_EQ(g_list_length(cells), 1u);
        out.push_back({gtk_tree_view_column_get_title(column), gtk_tree_view_column_get_max_width(column),
                       GTK_CELL_RENDERER(cells->data)});
        g_list_free(cells);
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
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    gchar* text = nullptr;
    g_object_get(cells->data, "text", &text, NULL);
    g_list_free(cells);
    std::string s = text ? text : "<null>";
    g_free(text);
    return s;
}

template <class T>
T property(gpointer object, const char* name) {
    T value{};
    g_object_get(object, name, &value, NULL);
    return value;
}

class Views : public testing::Test {
  protected:
    ryt::TempDir dir;
    ryt::Shelf shelf = ryt::write_shelf(dir.path());
    ryt::ListingLibrary lib{dir.file("zotero.sqlite")};
};

TEST_F(Views, ItemListShowsTitleFirstNameAndNameButNeverTheId) {
    GtkWidget* view = GTK_WIDGET(lib.item_list());
    EXPECT_TRUE(ERGTK_IS_LIST_VIEW(view));
    std::vector<ColumnInfo> cols = columns_of(view);
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].title, "TITLE");
    EXPECT_EQ(cols[1].title, "");
    EXPECT_EQ(cols[2].title, "NAME");
    EXPECT_EQ(cols[0].max_width, 640);
    EXPECT_EQ(cols[1].max_width, -1);
    EXPECT_EQ(cols[2].max_width, -1);
    EXPECT_EQ(property<gint>(cols[0].renderer, "wrap-width"), 635);
    EXPECT_EQ(property<PangoWrapMode>(cols[0].renderer, "wrap-mode"), PANGO_WRAP_WORD);
    EXPECT_FLOAT_EQ(property<gfloat>(cols[1].renderer, "xalign"), 1.0f);
    for (const ColumnInfo& c : cols) EXPECT_EQ(property<guint>(c.renderer, "ypad"), 0u);

    // Fresh: columns and no rows. Then a listing fills what the columns show.
    EXPECT_EQ(gtk_tree_model_iter_n_children(lib.item_model(), nullptr), 0);
    sql_que.title = search_buttons[20].que;
    lib.list(ZTINCR);  // On a Theme (no creators), The Art of Listing (Tom Young)
    EXPECT_EQ(shown_text(view, 0, 1), "The Art of Listing");
    EXPECT_EQ(shown_text(view, 1, 1), "Tom");
    EXPECT_EQ(shown_text(view, 2, 1), "Young");
    EXPECT_EQ(shown_text(view, 1, 0), "");
}

TEST_F(Views, AttachmentListShowsMimeTypeAndFile) {
    GtkWidget* view = GTK_WIDGET(lib.attachment_list());
    EXPECT_TRUE(ERGTK_IS_LIST_VIEW(view));
    std::vector<ColumnInfo> cols = columns_of(view);
    ASSERT_EQ(cols.size(), 2u);
    EXPECT_EQ(cols[0].title, "MIMETYPE");
    EXPECT_EQ(cols[1].title, "FILE");
    for (const ColumnInfo& c : cols) {
        EXPECT_EQ(c.max_width, -1);
        EXPECT_EQ(property<guint>(c.renderer, "ypad"), 0u);
    }
    EXPECT_EQ(gtk_tree_model_iter_n_children(lib.attachment_model(), nullptr), 0);
    sql_que.title = search_buttons[1].que;
    lib.list(ZTINCR);
    lib.activate_item_row(2);  // Atlas
    std::vector<std::string> mimes, files;
    for (int r = 0; r < 3; ++r) {
        mimes.push_back(shown_text(view, 0, r));
        files.push_back(shown_text(view, 1, r));
    }
    EXPECT_NE(std::find(mimes.begin(), mimes.end(), "application/pdf"), mimes.end());
    EXPECT_NE(std::find(files.begin(), files.end(), "storage:atlas.epub"), files.end());
}

TEST_F(Views, CollectionListOwnsItsFilledModel) {
    GtkWidget* view = ry_initialize_collection_list(lib.db());
    g_object_ref_sink(view);
    EXPECT_TRUE(ERGTK_IS_LIST_VIEW(view));
    std::vector<ColumnInfo> cols = columns_of(view);
    ASSERT_EQ(cols.size(), 1u);
    EXPECT_EQ(cols[0].title, "Collection");
    EXPECT_EQ(cols[0].max_width, 256);
    EXPECT_EQ(property<guint>(cols[0].renderer, "ypad"), 0u);
    EXPECT_EQ(shown_text(view, 0, 0), "*");
    EXPECT_EQ(shown_text(view, 0, 1), "Beta");

    GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(view));
    bool finalized = false;
    g_object_weak_ref(
        G_OBJECT(model), +[](gpointer flag, GObject*) { *static_cast<bool*>(flag) = true; }, &finalized);
    gtk_widget_destroy(view);
    g_object_unref(view);
    EXPECT_TRUE(finalized) << "the view was the model's only owner";
}

TEST_F(Views, LongTitleWrapsInsideItsColumn) {
    libgen::ClassicLibraryBuilder b(dir.file("long"));
    std::string title;
    for (int i = 0; i < 40; ++i) title += "wordy ";
    b.add_item({.title = title, .creators = {{"Ann", "Lee"}}});
    b.add_item({.title = "short", .creators = {{"Ann", "Lee"}}});
    b.finish();
    ryt::ListingLibrary long_lib(b.database_path());

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 1024, 600);
    GtkWidget* view = GTK_WIDGET(long_lib.item_list());
    gtk_container_add(GTK_CONTAINER(window), view);
    sql_que.title = search_buttons[0].que;
    long_lib.list(ZTINCR);  // short, then the long title (bytes: 's' < 'w')
    gtk_widget_show_all(window);
    ASSERT_TRUE(ryt::iterate_until([&] { return gtk_widget_get_mapped(view); }));
    ryt::flush_events();

    GtkTreeViewColumn* title_column = gtk_tree_view_get_column(GTK_TREE_VIEW(view), 0);
    EXPECT_LE(gtk_tree_view_column_get_width(title_column), 640);
    GdkRectangle short_row, long_row;
    GtkTreePath* p0 = gtk_tree_path_new_from_indices(0, -1);
    GtkTreePath* p1 = gtk_tree_path_new_from_indices(1, -1);
    gtk_tree_view_get_background_area(GTK_TREE_VIEW(view), p0, title_column, &short_row);
    gtk_tree_view_get_background_area(GTK_TREE_VIEW(view), p1, title_column, &long_row);
    gtk_tree_path_free(p0);
    gtk_tree_path_free(p1);
    EXPECT_GE(long_row.height, 2 * short_row.height) << "the long title takes several lines of one row";
    gtk_container_remove(GTK_CONTAINER(window), view);
    gtk_widget_destroy(window);
}

// ---- the tag view ----

TEST_F(Views, TagViewShowsTypeZeroTagsOneSelectableAtATime) {
    ry_radio_group rgroup{};
    rgroup.tag_view = ry_icon_view_new();
    g_object_ref_sink(rgroup.tag_view);
    GtkWidget* tag_view = ry_initialize_tag_view(lib.db(), &rgroup);
    ASSERT_EQ(tag_view, rgroup.tag_view);
    GtkIconView* icons = GTK_ICON_VIEW(tag_view);
    EXPECT_EQ(gtk_icon_view_get_selection_mode(icons), GTK_SELECTION_SINGLE);
    EXPECT_EQ(gtk_icon_view_get_row_spacing(icons), 0);
    EXPECT_EQ(gtk_icon_view_get_text_column(icons), int(LABEL_NAME));
    EXPECT_EQ(gtk_icon_view_get_pixbuf_column(icons), -1);
    GtkTreeModel* model = gtk_icon_view_get_model(icons);
    EXPECT_EQ(ryt::label_rows(model),
              (std::vector<ryt::LabelRow>{
                  {shelf.tag_alpha, "alpha"}, {shelf.tag_beta, "Beta"}, {shelf.tag_charlie, "charlie"}}));

    GtkTreePath* first = gtk_tree_path_new_from_indices(0, -1);
    GtkTreePath* second = gtk_tree_path_new_from_indices(1, -1);
    gtk_icon_view_select_path(icons, first);
    gtk_icon_view_select_path(icons, second);
    GList* selected = gtk_icon_view_get_selected_items(icons);
    ASSERT_EQ(g_list_length(selected), 1u);
    EXPECT_EQ(gtk_tree_path_compare(static_cast<GtkTreePath*>(selected->data), second), 0);
    g_list_free_full(selected, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    gtk_tree_path_free(first);
    gtk_tree_path_free(second);

    gtk_widget_destroy(tag_view);
    g_object_unref(tag_view);
    g_object_unref(model);  // the builder's reference, kept for the whole run
}

TEST_F(Views, TagSelectionListsOnlyWhenTheTagViewHasTheFocus) {
    ry_radio_group rgroup{};
    rgroup.tag_view = ry_icon_view_new();
    GtkWidget* tag_view = ry_initialize_tag_view(lib.db(), &rgroup);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box = gtk_vbox_new(FALSE, 0);
    GtkWidget* button = gtk_button_new_with_label("B");
    gtk_box_pack_start(GTK_BOX(box), button, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), tag_view, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    ASSERT_TRUE(ryt::present_with_focus(window));
    g_signal_connect(tag_view, "selection-changed", G_CALLBACK(ry_list_items_by_icon_selection), lib.data());
    sql_que.tags[0] = shelf.tag_beta;
    sql_que.sql = ZTAGED;

    gtk_widget_grab_focus(button);
    GtkTreePath* path = gtk_tree_path_new_from_indices(1, -1);
    gtk_icon_view_select_path(GTK_ICON_VIEW(tag_view), path);
    EXPECT_TRUE(lib.items().empty()) << "a change made while a key has the focus lists nothing";
    gtk_widget_grab_focus(tag_view);
    gtk_icon_view_unselect_all(GTK_ICON_VIEW(tag_view));
    std::vector<ryt::ItemRow> rows = lib.items();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front().id, shelf.atlas);
    gtk_tree_path_free(path);
    GtkTreeModel* model = gtk_icon_view_get_model(GTK_ICON_VIEW(tag_view));
    gtk_widget_destroy(window);
    g_object_unref(model);
}

}  // namespace
