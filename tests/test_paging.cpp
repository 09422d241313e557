// The paging tool box under a list view and under the tag view: when it shows, the
// order of its keys, and where each key leaves the view; and the item list, whose
// model holds one page of its listing.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ry_ctr.h"
#include "ry_iconview.h"
#include "ry_raii.h"
#include "window_fixture.h"

namespace {

// Lets GTK lay out, allocate and draw until nothing is pending.
void settle() {
    ryt::flush_events();
    g_usleep(20000);
    ryt::flush_events();
}

// A view in its view box, which adds the tool box, in a window.
class PagedView {
  protected:
    void place(GtkWidget* view, int width, int height) {
        view_ = view;
        box_ = ry_create_view_box_with_button(view);
        gtk_widget_set_size_request(box_, width, height);
        gtk_container_add(GTK_CONTAINER(window_), box_);
    }
    ~PagedView() {
        gtk_widget_destroy(window_);
        ryt::flush_events();
    }
    GtkWidget* tool_box() const { return ryt::nth_child(box_, 1); }
    bool tool_box_shown() const { return GTK_WIDGET_VISIBLE(tool_box()); }

    GtkWidget* window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* box_ = nullptr;
    GtkWidget* view_ = nullptr;
};

enum class Kind { list, icons };

// A list whose model holds all its rows, or the tag view, 240 pixels high.
class Paging : public PagedView, public testing::TestWithParam<Kind> {
  protected:
    bool list() const { return GetParam() == Kind::list; }

    void SetUp() override {
        if (list()) {
            place(ry_create_attachment_list(), 300, 240);
            model_ = GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(view_)));
            return;
        }
        place(ry_icon_view_new(), 300, 240);
        model_ = ry_create_label_model();
        gtk_icon_view_set_model(GTK_ICON_VIEW(view_), GTK_TREE_MODEL(model_));
        g_object_unref(model_);
        gtk_icon_view_set_text_column(GTK_ICON_VIEW(view_), LABEL_NAME);
        gtk_icon_view_set_row_spacing(GTK_ICON_VIEW(view_), 0);
        gtk_icon_view_set_item_width(GTK_ICON_VIEW(view_), 240);  // one item per row
    }

    void fill(int rows) {
        gtk_list_store_clear(model_);
        for (int i = 0; i < rows; ++i)
            gtk_list_store_insert_with_values(model_, nullptr, -1,
                                              list() ? int(ATTACHMENT_PATH) : int(LABEL_NAME),
                                              ("Row " + std::to_string(i)).c_str(), -1);
        gtk_widget_show(box_);
        gtk_widget_show(window_);
        settle();
    }

    GtkWidget* key(const char* stock) const {
        for (int i = 0; i < 4; ++i)
            if (std::string(gtk_button_get_label(GTK_BUTTON(ryt::nth_child(tool_box(), i)))) == stock)
                return ryt::nth_child(tool_box(), i);
        return nullptr;
    }
    void press(const char* stock) {
        gtk_button_clicked(GTK_BUTTON(key(stock)));
        settle();
    }

    // First and last (partly) visible row; (-1, -1) when none.
    std::pair<int, int> visible() const {
        GtkTreePath *start = nullptr, *end = nullptr;
        gboolean ok = list() ? gtk_tree_view_get_visible_range(GTK_TREE_VIEW(view_), &start, &end)
                             : gtk_icon_view_get_visible_range(GTK_ICON_VIEW(view_), &start, &end);
        if (!ok) return {-1, -1};
        ry::tree_path_ptr first(start), last(end);
        return {gtk_tree_path_get_indices(start)[0], gtk_tree_path_get_indices(end)[0]};
    }

    // Whether the row lies with its top at the view's top edge or with its bottom at
    // the bottom edge: for the list by its pixels (GTK counts a row that ends exactly
    // at the top edge as visible), for the tag view by its visible range.
    bool at_top(int row) const { return list() ? edges(row).first == 0 : visible().first == row; }
    bool at_bottom(int row) const {
        if (!list()) return visible().second == row;
        GdkRectangle rect;
        gtk_tree_view_get_visible_rect(GTK_TREE_VIEW(view_), &rect);
        return edges(row).second == rect.height;
    }
    std::pair<int, int> edges(int row) const {
        ry::tree_path_ptr path(gtk_tree_path_new_from_indices(row, -1));
        GdkRectangle rect;
        gtk_tree_view_get_background_area(GTK_TREE_VIEW(view_), path.get(), nullptr, &rect);
        return {rect.y, rect.y + rect.height};
    }

    GtkListStore* model_ = nullptr;
};

// Hidden while every row fits, shown once rows overflow, with Up and Down apart;
// over an empty view (the box shown by hand), every key leaves it be.
TEST_P(Paging, ShownOnlyWhileRowsOverflow) {
    ryt::MessageLog log;
    fill(0);
    EXPECT_FALSE(tool_box_shown());
    gtk_widget_show_all(tool_box());
    for (const char* stock : {GTK_STOCK_GOTO_TOP, GTK_STOCK_GO_UP, GTK_STOCK_GO_DOWN, GTK_STOCK_GOTO_BOTTOM})
        press(stock);
    EXPECT_EQ(visible(), std::make_pair(-1, -1));
    EXPECT_TRUE(log.messages.empty()) << log.messages.front();
    fill(3);
    EXPECT_EQ(visible(), std::make_pair(0, 2));
    EXPECT_FALSE(tool_box_shown());
    fill(100);
    ASSERT_TRUE(tool_box_shown());
    EXPECT_LT(visible().second, 99);
    const GtkAllocation up = key(GTK_STOCK_GO_UP)->allocation, down = key(GTK_STOCK_GO_DOWN)->allocation;
    EXPECT_LE(key(GTK_STOCK_GOTO_TOP)->allocation.x + 1, up.x);
    EXPECT_LT(up.x + up.width, down.x);  // the free space
    EXPECT_LE(down.x + down.width, key(GTK_STOCK_GOTO_BOTTOM)->allocation.x);
}

// Each key moves by pages or to an end, never touching the selection.
TEST_P(Paging, KeysMoveByPagesAndToTheEnds) {
    fill(100);
    ry::tree_path_ptr chosen(gtk_tree_path_new_from_indices(2, -1));
    if (list())
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view_)), chosen.get());
    else
        gtk_icon_view_select_path(GTK_ICON_VIEW(view_), chosen.get());
    for (int page = 0; page < 2; ++page) {
        const int last = visible().second;
        press(GTK_STOCK_GO_DOWN);
        EXPECT_TRUE(at_top(last)) << "page " << page;
    }
    press(GTK_STOCK_GOTO_BOTTOM);
    EXPECT_TRUE(at_bottom(99));
    EXPECT_GT(visible().first, 0);
    press(GTK_STOCK_GO_DOWN);  // already at the end: stays there
    EXPECT_TRUE(at_bottom(99));
    for (int page = 0; page < 2; ++page) {
        const int first = visible().first;
        press(GTK_STOCK_GO_UP);
        EXPECT_TRUE(at_bottom(first)) << "page " << page;
    }
    press(GTK_STOCK_GOTO_TOP);
    EXPECT_TRUE(at_top(0));
    EXPECT_LT(visible().second, 99);
    if (list())
        EXPECT_EQ(ryt::selected_rows(GTK_TREE_VIEW(view_)), std::vector<int>{2});
    else
        EXPECT_TRUE(gtk_icon_view_path_is_selected(GTK_ICON_VIEW(view_), chosen.get()));

    // Allocated while the last row shows, the tool box stays as long as rows lie
    // above; with a list that then fits, it goes.
    press(GTK_STOCK_GOTO_BOTTOM);
    gtk_widget_queue_resize(view_);
    settle();
    EXPECT_TRUE(tool_box_shown());
    fill(3);
    EXPECT_FALSE(tool_box_shown());
}

INSTANTIATE_TEST_SUITE_P(Views, Paging, testing::Values(Kind::list, Kind::icons),
                         [](const auto& info) { return info.param == Kind::list ? "List" : "Icons"; });

// The tag view's own cell, which measures each tag once a layout, puts every tag
// where GtkIconView's text column puts it: the same point falls on the same tag.
TEST(TagCell, PlacesEveryTagAsTheIconViewsTextColumnDoes) {
    ry::gobject_ptr<GtkListStore> model{ry_create_label_model()};
    for (const char* name :
         {"a", "fog", "lanterns", "a much longer tag than the others", "Maps", "ödön", "x"})
        gtk_list_store_insert_with_values(model.get(), nullptr, -1, LABEL_NAME, name, -1);
    auto tags_under_points = [&](bool tag_cell) {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWidget* view = ry_icon_view_new();
        gtk_icon_view_set_model(GTK_ICON_VIEW(view), GTK_TREE_MODEL(model.get()));
        if (tag_cell)
            ry_icon_view_set_text_cell(view, LABEL_NAME);
        else
            gtk_icon_view_set_text_column(GTK_ICON_VIEW(view), LABEL_NAME);
        gtk_widget_set_size_request(view, 600, 300);
        gtk_container_add(GTK_CONTAINER(window), view);
        gtk_widget_show_all(window);
        settle();
        std::vector<int> tags;
        for (int y = 0; y < 300; y += 2)
            for (int x = 0; x < 600; x += 2) {
                GtkTreePath* path = nullptr;
                bool on_tag = gtk_icon_view_get_item_at_pos(GTK_ICON_VIEW(view), x, y, &path, nullptr);
                ry::tree_path_ptr owned(path);
                tags.push_back(on_tag ? gtk_tree_path_get_indices(path)[0] : -1);
            }
        gtk_widget_destroy(window);
        return tags;
    };
    std::vector<int> expected = tags_under_points(false);
    EXPECT_EQ(std::set<int>(expected.begin(), expected.end()).size(), 8u) << "every tag, and space between";
    EXPECT_EQ(tags_under_points(true), expected);
}

// ---- The item list: one page of the listing in its model ----

// An item of a listing: its creators (0: one row without names) and how many
// times its title repeats a phrase (long titles wrap onto several lines).
struct Item {
    int creators, title_words;
};

class ItemPages : public PagedView, public testing::Test {
  protected:
    ItemPages() { place(ry_create_item_list(), 1000, 300); }
    ~ItemPages() { g_object_unref(gtk_tree_view_get_model(tree())); }
    GtkTreeView* tree() const { return GTK_TREE_VIEW(view_); }

    void list(const std::vector<Item>& items) {
        ry_item_rows& rows = *ry_item_rows_of(tree());
        rows.clear();
        for (size_t id = 0; id < items.size(); ++id) {
            std::string title = "Title " + std::to_string(id);
            for (int w = 0; w < items[id].title_words; ++w) title += " of a wrapping phrase";
            for (int c = 0; c < std::max(items[id].creators, 1); ++c)
                rows.append(gint64(id), c == 0 ? title.c_str() : nullptr, "First",
                            items[id].creators ? "Last" : "");
        }
        rows.append(-1, "---", nullptr, nullptr);
        ry_show_first_page(tree());
        gtk_widget_show_all(window_);
        settle();
    }
    size_t size() const { return ry_item_rows_of(tree())->size(); }
    size_t top() const { return ry_page_top(view_); }
    bool head(size_t i) const { return ry_item_rows_of(tree())->is_head(i); }

    // The page as the view lays it out: the listing index of each model row, and
    // the first row that does not show whole (the listing's size when all do).
    struct Shown {
        std::vector<size_t> whole;
        size_t first_cut;
    };
    Shown shown() const {
        GdkRectangle visible;
        gtk_tree_view_get_visible_rect(tree(), &visible);
        GtkTreeModel* model = gtk_tree_view_get_model(tree());
        const int n = gtk_tree_model_iter_n_children(model, nullptr);
        Shown s{{}, top() + size_t(n)};
        int bottom = 0;  // of the model's last row
        for (int i = 0; i < n; ++i) {
            ry::tree_path_ptr path(gtk_tree_path_new_from_indices(i, -1));
            GdkRectangle rect;
            gtk_tree_view_get_background_area(tree(), path.get(), nullptr, &rect);
            EXPECT_LT(rect.y, visible.height) << "row " << i << " lies below the view";
            bottom = rect.y + rect.height;
            if (bottom <= visible.height)
                s.whole.push_back(top() + size_t(i));
            else if (s.first_cut == top() + size_t(n))
                s.first_cut = top() + size_t(i);
        }
        // A page fills the view, unless it reaches the end of the listing.
        EXPECT_TRUE(top() + size_t(n) == size() || bottom >= visible.height);
        return s;
    }
    void press(void (*key)(GtkWidget*, gpointer)) {
        key(nullptr, view_);
        settle();
    }
};

// Down pages to the first row that did not show whole, Up brings the top row to
// the bottom; together they show every row, and a page begins with an item's
// first row unless that item alone fills more than a page.
TEST_F(ItemPages, DownAndUpShowEveryRowAndBeginPagesWithAnItem) {
    struct Case {
        const char* name;
        std::vector<Item> items;
        bool long_item;  // one item's rows fill more than a page
    };
    std::vector<Item> mixed, one_long = {{1, 0}, {40, 3}, {2, 0}};
    for (int i = 0; i < 80; ++i) mixed.push_back({i % 4, i % 7 == 0 ? 12 : 0});
    for (const Case& c : {Case{"mixed", mixed, false}, Case{"one long item", one_long, true}}) {
        SCOPED_TRACE(c.name);
        list(c.items);
        EXPECT_TRUE(tool_box_shown());
        std::set<size_t> seen;
        for (int page = 0; page < 200; ++page) {
            Shown before = shown();
            seen.insert(before.whole.begin(), before.whole.end());
            const size_t old_top = top();
            press(ry_scroll_down);
            if (before.first_cut >= size()) {
                EXPECT_EQ(top(), old_top) << "the end: Down stays";
                break;
            }
            EXPECT_TRUE(top() == before.first_cut ||
                        (top() < before.first_cut && top() > old_top && head(top())))
                << "page " << page << ": top " << top() << ", first cut " << before.first_cut;
            EXPECT_TRUE(c.long_item || head(top())) << top();
        }
        EXPECT_EQ(seen.size(), size()) << "Down skipped rows";
        EXPECT_TRUE(tool_box_shown()) << "the list can still be paged up";
        seen.clear();
        while (top() > 0) {
            Shown before = shown();
            seen.insert(before.whole.begin(), before.whole.end());
            const size_t old_top = top();
            press(ry_scroll_up);
            ASSERT_LT(top(), old_top);
            std::vector<size_t> whole = shown().whole;
            EXPECT_TRUE(std::find(whole.begin(), whole.end(), old_top) != whole.end() || c.long_item);
            EXPECT_TRUE(c.long_item || head(top())) << top();
        }
        const std::vector<size_t> first_page = shown().whole;
        seen.insert(first_page.begin(), first_page.end());
        EXPECT_EQ(seen.size(), size()) << "Up skipped rows";
        press(ry_scroll_to_last);
        EXPECT_EQ(shown().whole.back(), size() - 1) << "the separator shows whole";
        press(ry_scroll_to_first);
        EXPECT_EQ(top(), 0u);
    }
}

// The model holds the page alone: a listing of any length gives the view the same
// rows to lay out, the tool box shows only while there is more than the page, and
// a selected row stays selected while it shows.
TEST_F(ItemPages, ModelHoldsOnlyThePage) {
    list(std::vector<Item>(3, Item{1, 0}));
    EXPECT_FALSE(tool_box_shown());
    EXPECT_EQ(ryt::model_ids(gtk_tree_view_get_model(tree()), ITEM_ID).size(), 4u);
    std::vector<size_t> page_rows;
    for (int items : {100, 20000}) {
        list(std::vector<Item>(size_t(items), Item{2, 1}));
        EXPECT_TRUE(tool_box_shown());
        page_rows.push_back(ryt::model_ids(gtk_tree_view_get_model(tree()), ITEM_ID).size());
    }
    EXPECT_EQ(page_rows[0], page_rows[1]);
    EXPECT_LT(page_rows[0], 30u);
    ry::tree_path_ptr second(gtk_tree_path_new_from_indices(1, -1));
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(tree()), second.get());
    press(ry_scroll_down);
    EXPECT_EQ(ryt::selected_rows(tree()), std::vector<int>{});
    press(ry_scroll_up);
    EXPECT_EQ(ryt::selected_rows(tree()), std::vector<int>{1});
}

}  // namespace
