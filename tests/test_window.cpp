// The program's real window over generated libraries: how the keys, the tag view
// and the collection list change the query record, checked on the record, the key
// rows, the statements run and the item list; and the window as the program builds
// it with its style file, on the screens of small and large e-paper readers whose X
// servers report 100 dpi: what it shows first, every part on screen, keys, rows and
// text large enough on the device itself.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "main.h"
#include "ry_layout.h"
#include "ry_raii.h"
#include "ry_test_hooks.h"
#include "ry_view.h"
#include "window_fixture.h"

namespace {

using namespace ryt;

// ---- The keys ----

// The record as "title creator date tag cid kind", letter patterns by their key.
std::string record() {
    auto key = [](const char* pattern) {
        for (int i = 0; i < nl; ++i)
            if (std::string_view(search_buttons[i].que) == pattern)
                return std::string(search_buttons[i].label);
        return std::string("?");
    };
    return key(sql_que.title) + " " + key(sql_que.creator) + " " + sql_que.date + " " +
           std::to_string(sql_que.tags[0]) + "," + std::to_string(sql_que.tags[1]) + "," +
           std::to_string(sql_que.tags[2]) + " " + std::to_string(sql_que.cid) + " " +
           std::to_string(sql_que.sql);
}
std::string record(const char* title, const char* creator, const std::string& date, int tag, int cid,
                   int kind) {
    return std::string(title) + " " + creator + " " + date + " " + std::to_string(tag) + ",0,0 " +
           std::to_string(cid) + " " + std::to_string(kind);
}

// The LIKE key of the month `back` months before now, by the C library's own
// calendar normalisation.
std::string months_back(int back) {
    time_t t = time(nullptr);
    struct tm tm {};
    localtime_r(&t, &tm);
    tm.tm_mday = 1;
    tm.tm_hour = 12;
    tm.tm_mon -= back;
    mktime(&tm);
    char buf[16];
    strftime(buf, sizeof buf, "%Y-%m%%", &tm);
    return buf;
}

class QueryKeys : public WindowFixture {
  protected:
    void SetUp() override {
        build([this](libgen::LibraryBuilder& lib) {
            atlas_ = lib.add_item({.title = "Atlas of Birds",
                                   .creators = {{"Ann", "Lee"}},
                                   .date_added = "2009-03-04 10:00:00"});
            bee_ = lib.add_item({.title = "The Bee Book",
                                 .creators = {{"Bob", "Carter"}},
                                 .date_added = "2009-02-01 10:00:00"});
            zebra_ = lib.add_item({.title = "Zebra Stripes",
                                   .creators = {{"Cid", "Zorn"}},
                                   .date_added = libgen::utc_timestamp(time(nullptr))});
            birds_ = lib.add_tag("birds");
            lib.tag_item(atlas_, birds_);
            insects_ = lib.add_tag("insects");
            lib.tag_item(bee_, insects_);
            nature_ = lib.add_collection("Nature");
            lib.add_to_collection(nature_, atlas_);
        });
    }

    std::vector<int> listed() const { return ryt::model_ids(item_model(), ITEM_ID); }
    int selected_tags() const {
        GList* selected = gtk_icon_view_get_selected_items(GTK_ICON_VIEW(tag_view()));
        int n = int(g_list_length(selected));
        g_list_free_full(selected, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
        return n;
    }
    int statements_run() const {
        int n = 0;
        for (sqlite3_stmt* s : statements_) n += sqlite3_stmt_status(s, SQLITE_STMTSTATUS_RUN, 0);
        return n;
    }
    void activate_collection(int id) {
        select(collection_list_, id, true);
        ry::tree_path_ptr path(find_row(collection_list_, id));
        gtk_tree_view_row_activated(GTK_TREE_VIEW(collection_list_), path.get(),
                                    gtk_tree_view_get_column(GTK_TREE_VIEW(collection_list_), 0));
        ryt::flush_events();
    }

    int atlas_ = 0, bee_ = 0, zebra_ = 0, birds_ = 0, insects_ = 0, nature_ = 0;
};

// One tap after another; each leaves the record, the key rows and the list as
// designed, and a tap that lists runs exactly one statement.
TEST_F(QueryKeys, EachTapSetsTheRecordAndRunsOneStatement) {
    GtkWidget *anchor_t = rgroup_.tbutton, *anchor_c = rgroup_.cbutton, *anchor_m = rgroup_.mbutton;
    for (GtkWidget* anchor : {anchor_t, anchor_c, anchor_m}) EXPECT_TRUE(is_pressed(anchor));
    for (int i = 1; i < nl; ++i) EXPECT_FALSE(is_pressed(title_key(i)) || is_pressed(creator_key(i))) << i;
    for (int i = 0; i <= 10; ++i) EXPECT_FALSE(is_pressed(month_key(i))) << i;
    EXPECT_EQ(sql_que.sql, -1);

    auto tap = [this](GtkWidget* key) { return [this, key] { click(key); }; };
    auto pick = [this](GtkWidget* view, int id, bool focused) {
        return [=, this] { select(view, id, focused); };
    };
    struct Step {
        const char* what;
        std::function<void()> tap;
        std::string record;
        GtkWidget *pressed, *released;
        int runs;    // statements run
        int listed;  // the one item listed; -1: none; 0: not checked
    };
    const int N = -1;  // the whole library
    const std::vector<Step> steps = {
        {"title key, through the article", tap(title_key(2)), record("B", "*", "*", 0, N, ZTINCR),
         title_key(2), anchor_t, 1, bee_},
        {"creator *: by creator, title kept", tap(creator_key(0)), record("B", "*", "*", 0, N, ZNCRTI),
         title_key(2), anchor_c, 1, bee_},
        {"title key under creator *", tap(title_key(1)), record("A", "*", "*", 0, N, ZTINCR), title_key(1),
         title_key(2), 1, atlas_},
        {"creator letter", tap(creator_key(3)), record("A", "C", "*", 0, N, ZCRTI), creator_key(3),
         creator_key(0), 1, -1},
        {"the same title key again", tap(title_key(1)), record("A", "C", "*", 0, N, ZTICR), title_key(1),
         anchor_t, 1, 0},
        {"month key releases both letter rows", tap(month_key(4)),
         record("*", "*", months_back(3), 0, N, ZDATE), anchor_c, title_key(1), 1, 0},
        {"title key releases the month row", tap(title_key(1)), record("A", "*", "%", 0, N, ZTINCR), anchor_m,
         month_key(4), 1, 0},
        {"this month", tap(month_key(1)), record("*", "*", months_back(0), 0, N, ZDATE), anchor_t,
         title_key(1), 1, zebra_},
        {"creator key releases the month row", tap(creator_key(2)), record("*", "B", "%", 0, N, ZCRTI),
         anchor_m, month_key(1), 1, 0},
        {"ten months back", tap(month_key(10)), record("*", "*", months_back(9), 0, N, ZDATE), anchor_c,
         creator_key(2), 1, 0},
        {"any month", tap(month_key(0)), record("*", "*", "%", 0, N, ZDATE), month_key(0), month_key(10), 1,
         0},
        {"title key", tap(title_key(1)), record("A", "*", "%", 0, N, ZTINCR), title_key(1), anchor_t, 1, 0},
        {"creator key", tap(creator_key(2)), record("A", "B", "%", 0, N, ZCRTI), creator_key(2), anchor_c, 1,
         0},
        {"focused tag releases the letter rows", pick(tag_view(), birds_, true),
         record("*", "*", "%", birds_, N, ZTAGED), anchor_t, creator_key(2), 1, atlas_},
        {"month key", tap(month_key(3)), record("*", "*", months_back(2), birds_, N, ZDATE), month_key(3),
         anchor_m, 1, 0},
        {"focused tag releases the month row", pick(tag_view(), insects_, true),
         record("*", "*", "%", insects_, N, ZTAGED), anchor_m, month_key(3), 1, bee_},
        {"title key unselects the tag, keeps its slot", tap(title_key(1)),
         record("A", "*", "%", insects_, N, ZTINCR), title_key(1), anchor_t, 1, 0},
        {"tag selected without focus", pick(tag_view(), birds_, false),
         record("A", "*", "%", insects_, N, ZTINCR), title_key(1), anchor_t, 0, 0},
        {"collection selected without focus", pick(collection_list_, nature_, false),
         record("A", "*", "%", insects_, N, ZTINCR), title_key(1), anchor_t, 0, 0},
        {"focused collection, the whole library", pick(collection_list_, -1, true),
         record("A", "*", "%", insects_, N, ZTINCR), title_key(1), anchor_t, 0, 0},
        {"focused collection changes only the collection", pick(collection_list_, nature_, true),
         record("A", "*", "%", insects_, nature_, ZTINCR), title_key(1), anchor_t, 0, 0},
        {"Recent lets every key go", tap(table_cell(month_grid(), nl - 2, 0)),
         record("*", "*", "%", insects_, nature_, -1), anchor_t, title_key(1), 1, -1},
        {"a collection alone lists its items by title", [&] { activate_collection(nature_); },
         record("*", "*", "%", insects_, nature_, ZTINCR), anchor_t, title_key(1), 1, atlas_},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const int before = statements_run();
        step.tap();
        EXPECT_EQ(record(), step.record);
        EXPECT_TRUE(is_pressed(step.pressed));
        EXPECT_FALSE(is_pressed(step.released));
        EXPECT_EQ(statements_run() - before, step.runs);
        const std::vector<int> want = step.listed < 0 ? std::vector<int>{-1} : std::vector{step.listed, -1};
        EXPECT_TRUE(step.listed == 0 || listed() == want);
    }
    EXPECT_EQ(selected_tags(), 0) << "Recent unselects the tag";
    // A tag emptied by the pen changes nothing either.
    select(tag_view(), birds_, true);
    const std::string before = record();
    take_focus(tag_view());
    gtk_icon_view_unselect_all(GTK_ICON_VIEW(tag_view()));
    ryt::flush_events();
    EXPECT_EQ(record(), before);
}

// GTK calls the handlers also for the key being switched off: those change nothing.
// A tag row without a real id fills the slot and leaves the keys.
TEST_F(QueryKeys, SwitchedOffKeysAndRowsWithoutIdsLeaveTheRecord) {
    click(month_key(3));
    select(tag_view(), insects_, false);
    const std::string before = record();
    ry_set_title_que(title_key(5), GINT_TO_POINTER(5));
    ry_set_creator_que(creator_key(5), GINT_TO_POINTER(5));
    ry_set_date_que(month_key(6), GINT_TO_POINTER(6));
    ry_radio_active(title_key(5), rgroup_.mbutton);
    ry_unselect_tag(title_key(5), tag_view());
    EXPECT_EQ(record(), before);
    EXPECT_TRUE(is_pressed(month_key(3)));
    EXPECT_EQ(selected_tags(), 1);

    GtkListStore* tags = ry_create_label_model();
    gtk_list_store_insert_with_values(tags, nullptr, -1, LABEL_ID, -1, LABEL_NAME, "none", -1);
    gtk_icon_view_set_model(GTK_ICON_VIEW(tag_view()), GTK_TREE_MODEL(tags));
    g_object_unref(tags);
    click(title_key(1));
    select(tag_view(), -1, true);
    EXPECT_EQ(record(), record("A", "*", "%", -1, -1, ZTINCR));
    EXPECT_TRUE(is_pressed(title_key(1)));
}

TEST(MonthKey, GoesBackCalendarMonths) {
    auto key = [](int back, int year, int month, int day) {
        char out[9];
        struct tm tm {};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = 23;
        ry_format_month_key(out, back, tm);
        return std::string(out);
    };
    EXPECT_EQ(key(0, 2009, 3, 15), "2009-03%");
    EXPECT_EQ(key(1, 2010, 1, 1), "2009-12%");
    EXPECT_EQ(key(3, 2010, 2, 28), "2009-11%");
    EXPECT_EQ(key(9, 2009, 3, 31), "2008-06%");  // no 31st in June
    EXPECT_EQ(key(9, 2009, 10, 31), "2009-01%");
    EXPECT_EQ(key(-1, 2009, 3, 15), "%");
}

// ---- The window on the readers' screens ----

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

class WindowGeometry : public WindowFixture, public testing::WithParamInterface<Screen> {
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
        const int first = gtk_tree_path_get_indices(start)[0];
        gtk_tree_path_free(start);
        GdkRectangle visible, row;
        gtk_tree_view_get_visible_rect(view, &visible);
        for (int i = first;; ++i) {
            ry::tree_path_ptr path(gtk_tree_path_new_from_indices(i, -1));
            gtk_tree_view_get_background_area(view, path.get(), nullptr, &row);
            if (row.height == 0 || row.y + row.height > visible.height) return i - first;
            EXPECT_GE(mm(row.height), 6.0) << "row " << i;
        }
    }

    // The height of a line of tags: from where a pen first picks the first tag to
    // where it first picks a tag on the next line.
    int tag_line_height() const {
        GtkIconView* tags = GTK_ICON_VIEW(tag_view());
        int first = -1;
        for (int y = 0; y < tag_view()->allocation.height; ++y) {
            ry::tree_path_ptr here(gtk_icon_view_get_path_at_pos(tags, 20, y));
            int index = here ? gtk_tree_path_get_indices(here.get())[0] : -1;
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
    activate_item_row(0);
    ASSERT_EQ(attachments().size(), 60u);
    check("sixty attachments", 3, 1);
}

INSTANTIATE_TEST_SUITE_P(Readers, WindowGeometry,
                         testing::Values(Screen{"Small", 600, 800, 167}, Screen{"Large", 1404, 1872, 227}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
