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
#include "ry_model.h"
#include "ry_page.h"
#include "ry_view.h"
#include "test_support.h"

namespace {

int warnings_seen = 0;

// Lets GTK lay out, allocate and draw until nothing is pending.
void settle() {
    ryt::flush_events();
    g_usleep(20000);
    ryt::flush_events();
}

// The tool box under the view in its view box.
GtkWidget* tool_box_in(GtkWidget* view_box) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(view_box));
    GtkWidget* box = GTK_WIDGET(g_list_nth_data(children, 1));
    g_list_free(children);
    return box;
}

enum class Kind { list, icons };

// A view of the given kind in its view box, in a window 240 pixels high. The list
// is one whose model holds all its rows.
class Paging : public ::testing::TestWithParam<Kind> {
  protected:
    bool list() const { return GetParam() == Kind::list; }

    void SetUp() override {
        warnings_seen = 0;
        handler_ = g_log_set_handler(
            "Gtk", GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
            [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
                ++warnings_seen;
                g_log_default_handler(domain, level, message, nullptr);
            },
            nullptr);
        if (list()) {
            view_ = ry_create_attachment_list();
            model_ = GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(view_)));
        } else {
            view_ = ry_icon_view_new();
            model_ = ry_create_label_model();
            gtk_icon_view_set_model(GTK_ICON_VIEW(view_), GTK_TREE_MODEL(model_));
            g_object_unref(model_);
            gtk_icon_view_set_text_column(GTK_ICON_VIEW(view_), LABEL_NAME);
            gtk_icon_view_set_row_spacing(GTK_ICON_VIEW(view_), 0);
            gtk_icon_view_set_item_width(GTK_ICON_VIEW(view_), 240);  // one item per row
        }
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        box_ = ry_create_view_box_with_button(view_);
        gtk_widget_set_size_request(box_, 300, 240);
        gtk_container_add(GTK_CONTAINER(window_), box_);
    }

    void TearDown() override {
        gtk_widget_destroy(window_);
        ryt::flush_events();
        g_log_remove_handler("Gtk", handler_);
    }

    void fill(int rows) {
        gtk_list_store_clear(model_);
        for (int i = 0; i < rows; ++i) {
            std::string text = "Row " + std::to_string(i);
            gtk_list_store_insert_with_values(
                model_, nullptr, -1, list() ? int(ATTACHMENT_SOURCE_ID) : int(LABEL_ID), i,
                list() ? int(ATTACHMENT_PATH) : int(LABEL_NAME), text.c_str(), -1);
        }
    }

    void show() {
        gtk_widget_show(box_);
        gtk_widget_show(window_);
        settle();
    }

    GtkWidget* tool_box() const { return tool_box_in(box_); }
    bool tool_box_shown() const { return GTK_WIDGET_VISIBLE(tool_box()); }

    GtkWidget* key(const char* stock) const {
        GtkWidget* found = nullptr;
        GList* children = gtk_container_get_children(GTK_CONTAINER(tool_box()));
        for (GList* l = children; l; l = l->next)
            if (std::string(gtk_button_get_label(GTK_BUTTON(l->data))) == stock) found = GTK_WIDGET(l->data);
        g_list_free(children);
        return found;
    }

    void press(const char* stock) {
        GtkWidget* button = key(stock);
        ASSERT_NE(button, nullptr) << stock;
        gtk_button_clicked(GTK_BUTTON(button));
        settle();
    }

    // First and last (partly) visible row; (-1, -1) when none.
    std::pair<int, int> visible() const {
        GtkTreePath* start = nullptr;
        GtkTreePath* end = nullptr;
        gboolean ok = list() ? gtk_tree_view_get_visible_range(GTK_TREE_VIEW(view_), &start, &end)
                             : gtk_icon_view_get_visible_range(GTK_ICON_VIEW(view_), &start, &end);
        if (!ok) return {-1, -1};
        std::pair<int, int> range{gtk_tree_path_get_indices(start)[0], gtk_tree_path_get_indices(end)[0]};
        gtk_tree_path_free(start);
        gtk_tree_path_free(end);
        return range;
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
        GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
        GdkRectangle rect;
        gtk_tree_view_get_background_area(GTK_TREE_VIEW(view_), path, nullptr, &rect);
        gtk_tree_path_free(path);
        return {rect.y, rect.y + rect.height};
    }

    guint handler_ = 0;
    GtkWidget* window_ = nullptr;
    GtkWidget* box_ = nullptr;
    GtkWidget* view_ = nullptr;
    GtkListStore* model_ = nullptr;
};

TEST_P(Paging, HiddenWhileEveryRowFitsShownInOrderOnceRowsOverflow) {
    fill(3);
    show();
    EXPECT_EQ(visible(), std::make_pair(0, 2));
    EXPECT_FALSE(tool_box_shown());
    fill(100);
    settle();
    ASSERT_TRUE(tool_box_shown());
    EXPECT_LT(visible().second, 99);
    const GtkAllocation top = key(GTK_STOCK_GOTO_TOP)->allocation, up = key(GTK_STOCK_GO_UP)->allocation,
                        down = key(GTK_STOCK_GO_DOWN)->allocation,
                        bottom = key(GTK_STOCK_GOTO_BOTTOM)->allocation;
    EXPECT_LE(top.x + top.width, up.x);
    EXPECT_LT(up.x + up.width, down.x);  // the free space
    EXPECT_LE(down.x + down.width, bottom.x);
    EXPECT_EQ(bottom.x + bottom.width, tool_box()->allocation.x + tool_box()->allocation.width);
    for (const char* stock : {GTK_STOCK_GOTO_TOP, GTK_STOCK_GO_UP, GTK_STOCK_GO_DOWN, GTK_STOCK_GOTO_BOTTOM})
        EXPECT_TRUE(GTK_WIDGET_VISIBLE(key(stock))) << stock;
    EXPECT_STREQ(gtk_widget_get_name(key(GTK_STOCK_GO_UP)), "small-button-ryx");
}

// Each key moves by pages or to an end, never touching the selection.
TEST_P(Paging, KeysMoveByPagesAndToTheEnds) {
    fill(100);
    show();
    GtkTreePath* chosen = gtk_tree_path_new_from_indices(2, -1);
    if (list())
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view_)), chosen);
    else
        gtk_icon_view_select_path(GTK_ICON_VIEW(view_), chosen);
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
    if (list()) {
        GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(view_));
        EXPECT_EQ(gtk_tree_selection_count_selected_rows(selection), 1);
        EXPECT_TRUE(gtk_tree_selection_path_is_selected(selection, chosen));
    } else {
        EXPECT_TRUE(gtk_icon_view_path_is_selected(GTK_ICON_VIEW(view_), chosen));
    }
    gtk_tree_path_free(chosen);

    // Allocated while the last row shows, the tool box stays as long as rows lie
    // above; with a list that then fits, it goes.
    press(GTK_STOCK_GOTO_BOTTOM);
    gtk_widget_queue_resize(view_);
    settle();
    EXPECT_TRUE(tool_box_shown());
    fill(3);
    settle();
    EXPECT_FALSE(tool_box_shown());
}

TEST_P(Paging, EmptyListLeavesEverything) {
    fill(0);
    show();
    EXPECT_FALSE(tool_box_shown());
    gtk_widget_show_all(tool_box());
    gtk_widget_queue_resize(view_);
    settle();
    EXPECT_TRUE(tool_box_shown());
    for (const char* stock : {GTK_STOCK_GOTO_TOP, GTK_STOCK_GO_UP, GTK_STOCK_GO_DOWN, GTK_STOCK_GOTO_BOTTOM})
        press(stock);
    EXPECT_TRUE(tool_box_shown());
    EXPECT_EQ(visible(), std::make_pair(-1, -1));
    EXPECT_EQ(warnings_seen, 0);
}

INSTANTIATE_TEST_SUITE_P(Views, Paging, ::testing::Values(Kind::list, Kind::icons),
                         [](const auto& info) { return info.param == Kind::list ? "List" : "Icons"; });

// ---- The item list: one page of the listing in its model ----

// An item of a listing: its creators (0: one row without names) and how many
// times its title repeats a phrase (long titles wrap onto several lines).
struct Item {
    int creators, title_words;
};

class ItemPages : public ::testing::Test {
  protected:
    void SetUp() override {
        view_ = GTK_TREE_VIEW(ry_create_item_list());
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        box_ = ry_create_view_box_with_button(GTK_WIDGET(view_));
        gtk_widget_set_size_request(box_, 1000, 300);
        gtk_container_add(GTK_CONTAINER(window_), box_);
    }
    void TearDown() override {
        g_object_unref(gtk_tree_view_get_model(view_));
        gtk_widget_destroy(window_);
        ryt::flush_events();
    }

    void list(const std::vector<Item>& items) {
        ry_item_rows& rows = *ry_item_rows_of(view_);
        rows.clear();
        for (size_t id = 0; id < items.size(); ++id) {
            std::string title = "Title " + std::to_string(id);
            for (int w = 0; w < items[id].title_words; ++w) title += " of a wrapping phrase";
            for (int c = 0; c < std::max(items[id].creators, 1); ++c)
                rows.append(gint64(id), c == 0 ? title.c_str() : nullptr, "First",
                            items[id].creators ? "Last" : "");
        }
        rows.append(-1, "---", nullptr, nullptr);
        ry_show_first_page(view_);
        gtk_widget_show_all(window_);
        settle();
    }
    size_t size() const { return ry_item_rows_of(view_)->size(); }
    size_t top() const { return ry_page_top(GTK_WIDGET(view_)); }
    bool head(size_t i) const { return ry_item_rows_of(view_)->is_head(i); }

    // The page as the view lays it out: the listing index of each model row, and
    // the first row that does not show whole (the listing's size when all do).
    struct Shown {
        std::vector<size_t> whole;
        size_t first_cut;
    };
    Shown shown() const {
        GdkRectangle visible;
        gtk_tree_view_get_visible_rect(view_, &visible);
        GtkTreeModel* model = gtk_tree_view_get_model(view_);
        const int n = gtk_tree_model_iter_n_children(model, nullptr);
        Shown s{{}, top() + size_t(n)};
        int bottom = 0;  // of the model's last row
        for (int i = 0; i < n; ++i) {
            GtkTreePath* path = gtk_tree_path_new_from_indices(i, -1);
            GdkRectangle rect;
            gtk_tree_view_get_background_area(view_, path, nullptr, &rect);
            gtk_tree_path_free(path);
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
    bool tool_box_shown() const { return GTK_WIDGET_VISIBLE(tool_box_in(box_)); }

    GtkTreeView* view_ = nullptr;
    GtkWidget* window_ = nullptr;
    GtkWidget* box_ = nullptr;
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
    EXPECT_EQ(gtk_tree_model_iter_n_children(gtk_tree_view_get_model(view_), nullptr), 4);
    std::vector<int> page_rows;
    for (int items : {100, 20000}) {
        list(std::vector<Item>(size_t(items), Item{2, 1}));
        EXPECT_TRUE(tool_box_shown());
        page_rows.push_back(gtk_tree_model_iter_n_children(gtk_tree_view_get_model(view_), nullptr));
    }
    EXPECT_EQ(page_rows[0], page_rows[1]);
    EXPECT_LT(page_rows[0], 30);
    GtkTreeSelection* selection = gtk_tree_view_get_selection(view_);
    GtkTreePath* second = gtk_tree_path_new_from_indices(1, -1);
    gtk_tree_selection_select_path(selection, second);
    press(ry_scroll_down);
    EXPECT_EQ(gtk_tree_selection_count_selected_rows(selection), 0);
    press(ry_scroll_up);
    EXPECT_TRUE(gtk_tree_selection_path_is_selected(selection, second));
    gtk_tree_path_free(second);
}

}  // namespace
