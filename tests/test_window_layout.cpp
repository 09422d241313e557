// The main window as the program builds it with its style file, on the screens of
// small and large e-paper readers whose X servers report 100 dpi: what it shows
// first, every part on screen, keys, rows and text large enough on the device itself.
#include <gtest/gtest.h>

#include <string>

#include "ry_layout.h"
#include "ry_test_hooks.h"
#include "ry_view.h"
#include "window_fixture.h"

namespace {

struct Screen {
    const char* name;
    int width, height;
    double dpi;  // the panel's; X reports 100
};

void PrintTo(const Screen& screen, std::ostream* out) { *out << screen.name; }

// Everything visible in the window, depth first.
void collect(GtkWidget* widget, std::vector<GtkWidget*>* out) {
    if (!GTK_WIDGET_VISIBLE(widget)) return;
    out->push_back(widget);
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(
            GTK_CONTAINER(widget),
            +[](GtkWidget* child, gpointer list) {
                collect(child, static_cast<std::vector<GtkWidget*>*>(list));
            },
            out);
}

class WindowGeometry : public ryt::WindowFixture, public testing::WithParamInterface<Screen> {
  protected:
    void SetUp() override {
        const Screen& screen = GetParam();
        ry_set_layout(ry_layout_for(screen.width, screen.height, int(screen.width * 25.4 / 100),
                                    int(screen.height * 25.4 / 100)));
        gtk_rc_parse(RYX_SOURCE_DIR "/share/ryx/ryx.rc");
        build([&](libgen::LibraryBuilder& lib) {
            for (int i = 0; i < 40; ++i) {
                std::string title = i == 1 ? "A title long enough to wrap on the narrower screens" : "Title";
                int id = lib.add_item({.title = title + " " + std::to_string(i),
                                       .creators = {{"Annabel Katharina", "Leeuwenhoek-Smith"}}});
                g_queue_push_tail(&history_, GINT_TO_POINTER(id));
            }
            for (int i = 0; i < 60; ++i)
                lib.add_attachment({.parent = GPOINTER_TO_INT(g_queue_peek_nth(&history_, 1)),
                                    .mime_type = "application/pdf",
                                    .file = "part" + std::to_string(i) + ".pdf"});
            for (int i = 0; i < 30; ++i) lib.add_collection("Collection " + std::to_string(i));
            for (int i = 0; i < 200; ++i)
                lib.tag_item(GPOINTER_TO_INT(g_queue_peek_tail(&history_)),
                             lib.add_tag("tag" + std::to_string(i)));
        });
    }
    void TearDown() override {
        WindowFixture::TearDown();
        ry_set_layout(ry_layout_for_screen(gdk_screen_get_default()));
    }

    double mm(int px) const { return px * 25.4 / GetParam().dpi; }

    // Rows of the list fully visible from its first visible row on, each tall
    // enough for a pen.
    int whole_rows(GtkTreeView* view) const {
        GtkTreePath* start = nullptr;
        if (!gtk_tree_view_get_visible_range(view, &start, nullptr)) return 0;
        GdkRectangle visible, row;
        gtk_tree_view_get_visible_rect(view, &visible);
        int rows = 0;
        for (int i = gtk_tree_path_get_indices(start)[0];; ++i, ++rows) {
            GtkTreePath* path = gtk_tree_path_new_from_indices(i, -1);
            gtk_tree_view_get_background_area(view, path, nullptr, &row);
            gtk_tree_path_free(path);
            if (row.height == 0 || row.y + row.height > visible.height) break;
            EXPECT_GE(mm(row.height), 6.0) << "row " << i;
        }
        gtk_tree_path_free(start);
        return rows;
    }

    // The height of a line of tags: from where a pen first picks the first tag to
    // where it first picks a tag on the next line.
    int tag_line_height() const {
        GtkIconView* tags = GTK_ICON_VIEW(tag_view());
        int first = -1;
        for (int y = 0; y < tag_view()->allocation.height; ++y) {
            GtkTreePath* here = gtk_icon_view_get_path_at_pos(tags, 20, y);
            int index = here ? gtk_tree_path_get_indices(here)[0] : -1;
            if (here) gtk_tree_path_free(here);
            if (index == 0 && first < 0) first = y;
            if (index > 0) return y - first;
        }
        return 0;
    }

    void check(const std::string& state, int least_item_rows, int least_attachment_rows) {
        SCOPED_TRACE(state);
        ryt::flush_events();
        const Screen& screen = GetParam();
        EXPECT_LE(window_->allocation.width, screen.width);
        EXPECT_LE(window_->allocation.height, screen.height);
        std::vector<GtkWidget*> widgets, targets;
        collect(window_, &widgets);
        for (GtkWidget* w : widgets) {
            int x = 0, y = 0;
            ASSERT_TRUE(gtk_widget_translate_coordinates(w, window_, 0, 0, &x, &y));
            const GtkAllocation& a = w->allocation;
            std::string name = G_OBJECT_TYPE_NAME(w);
            if (GTK_IS_LABEL(w)) name += std::string(" ") + gtk_label_get_text(GTK_LABEL(w));
            EXPECT_TRUE(x >= 0 && y >= 0 && x + a.width <= screen.width && y + a.height <= screen.height)
                << name << " at " << x << "," << y << " " << a.width << "x" << a.height;
            if (GTK_IS_LABEL(w)) {
                GtkRequisition wanted;
                gtk_widget_get_child_requisition(w, &wanted);
                EXPECT_GE(a.width, wanted.width) << name << " clipped";
                EXPECT_GE(a.height, wanted.height) << name << " clipped";
                EXPECT_GE(mm(pango_font_description_get_size(w->style->font_desc) / PANGO_SCALE), 2.5)
                    << name;
            }
            bool header = GTK_IS_TREE_VIEW(gtk_widget_get_parent(w));
            if (GTK_IS_BUTTON(w) && !header) {
                EXPECT_GE(mm(a.height), 7.0) << name;
                EXPECT_GE(mm(a.width), 5.0) << name;
            }
            if ((GTK_IS_BUTTON(w) && !header) || GTK_IS_TREE_VIEW(w) || GTK_IS_ICON_VIEW(w)) {
                GdkRectangle r{x, y, a.width, a.height};
                for (GtkWidget* other : targets) {
                    int ox = 0, oy = 0;
                    gtk_widget_translate_coordinates(other, window_, 0, 0, &ox, &oy);
                    GdkRectangle o{ox, oy, other->allocation.width, other->allocation.height};
                    EXPECT_FALSE(gdk_rectangle_intersect(&r, &o, nullptr))
                        << name << " overlaps " << G_OBJECT_TYPE_NAME(other);
                }
                targets.push_back(w);
            }
        }
        GdkRectangle items;
        gtk_tree_view_get_visible_rect(search_data_.item_list, &items);
        EXPECT_GE(items.height, least_item_rows * ry_sizes().row_height);
        EXPECT_GE(whole_rows(search_data_.item_list), 1);
        EXPECT_GE(whole_rows(search_data_.attachment_list), least_attachment_rows);
        EXPECT_GE(whole_rows(GTK_TREE_VIEW(collection_list_)), 1);
        // The style file's tag height, scaled to the screen.
        gint item_height = 0;
        gtk_widget_style_get(tag_view(), "item-height", &item_height, NULL);
        EXPECT_GE(tag_line_height(), int(item_height * ry_sizes().scale));
        EXPECT_GE(mm(tag_line_height()), 6.0);
        EXPECT_TRUE(log_.messages.empty()) << log_.messages.front();
    }

    ryt::MessageLog log_;
};

TEST_P(WindowGeometry, EverythingFitsTheScreenAndThePen) {
    // At first the recent items, most recent first, and the focus on the collections.
    std::vector<int> recent = ryt::model_ids(item_model(), ITEM_ID);
    ASSERT_GE(recent.size(), 2u);
    EXPECT_EQ(recent[0], GPOINTER_TO_INT(g_queue_peek_nth(&history_, 0)));
    EXPECT_EQ(recent[1], GPOINTER_TO_INT(g_queue_peek_nth(&history_, 1)));
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window_)), collection_list_);
    EXPECT_EQ(sql_que.sql, -1);
    check("start", 6, 0);
    click(title_key(0));
    check("whole library", 6, 0);
    GtkTreePath* first = gtk_tree_path_new_first();
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(search_data_.item_list), first);
    gtk_tree_view_row_activated(search_data_.item_list, first, nullptr);
    gtk_tree_path_free(first);
    ASSERT_EQ(gtk_tree_model_iter_n_children(gtk_tree_view_get_model(search_data_.attachment_list), nullptr),
              60);
    check("sixty attachments", 3, 1);
}

INSTANTIATE_TEST_SUITE_P(Readers, WindowGeometry,
                         testing::Values(Screen{"Small", 600, 800, 167}, Screen{"Large", 1404, 1872, 227}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
