// The keys, the tag view and the collection list change the query record: driven
// through the real window, one tap after another, checked on the record, the key
// rows, the statements run and the item list.
#include <gtest/gtest.h>

#include <ctime>

#include "window_fixture.h"

namespace {

using ryt::is_pressed;

// The record as "title creator date tag cid kind", letter patterns by their key.
std::string record() {
    auto key = [](const char* pattern) {
        for (int i = 0; i < nl; ++i)
            if (search_buttons[i].que == pattern) return std::string(search_buttons[i].label);
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

class QueryKeys : public ryt::WindowFixture {
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
        for (int kind = 0; kind < ZLAST; ++kind)
            n += sqlite3_stmt_status(library_->statement(kind), SQLITE_STMTSTATUS_RUN, 0);
        return n;
    }
    void activate_collection(int id) {
        select(collection_list_, id, true);
        GtkTreePath* path = find_row(gtk_tree_view_get_model(GTK_TREE_VIEW(collection_list_)), id);
        gtk_tree_view_row_activated(GTK_TREE_VIEW(collection_list_), path,
                                    gtk_tree_view_get_column(GTK_TREE_VIEW(collection_list_), 0));
        gtk_tree_path_free(path);
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
        {"Recent lets every key go", tap(ryt::table_cell(month_grid(), nl - 2, 0)),
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

}  // namespace
