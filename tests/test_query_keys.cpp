// The keys, the tag view and the collection list change the query record: driven
// through the real window, checked on the record, the radio rows and the item list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "window_fixture.h"

namespace {

using ryt::is_pressed;

bool same_record(const ry_sql_que& a, const ry_sql_que& b) {
    return a.cid == b.cid && a.title == b.title && a.creator == b.creator && strcmp(a.date, b.date) == 0 &&
           a.tags[0] == b.tags[0] && a.tags[1] == b.tags[1] && a.tags[2] == b.tags[2] && a.sql == b.sql;
}

// Title pattern, creator pattern and kind of the record.
std::string que() {
    return std::string(sql_que.title) + " " + sql_que.creator + " " + std::to_string(sql_que.sql);
}
std::string que(const char* title, const char* creator, int kind) {
    return std::string(title) + " " + creator + " " + std::to_string(kind);
}

bool all_pressed(std::initializer_list<GtkWidget*> buttons) {
    return std::all_of(buttons.begin(), buttons.end(), is_pressed);
}
bool none_pressed(std::initializer_list<GtkWidget*> buttons) {
    return std::none_of(buttons.begin(), buttons.end(), is_pressed);
}

// The LIKE key of the month `back` months before now, by the C library's own
// calendar normalisation.
std::string month_key_by_mktime(int back) {
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

bool contains(const std::vector<int>& ids, int id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
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

    GtkWidget* anchor_t() const { return rgroup_.tbutton; }
    GtkWidget* anchor_c() const { return rgroup_.cbutton; }
    GtkWidget* anchor_m() const { return rgroup_.mbutton; }

    int atlas_ = 0, bee_ = 0, zebra_ = 0, birds_ = 0, insects_ = 0, nature_ = 0;
};

TEST_F(QueryKeys, StartsWithEveryRowOnItsAnchorAndNoKind) {
    EXPECT_TRUE(all_pressed({anchor_t(), anchor_c(), anchor_m()}));
    for (int i = 0; i < nl; ++i) EXPECT_TRUE(none_pressed({title_key(i), creator_key(i)})) << i;
    for (int i = 0; i <= 10; ++i) EXPECT_FALSE(is_pressed(month_key(i))) << i;
    EXPECT_EQ(sql_que.sql, -1);
}

// ---- Title keys ----

TEST_F(QueryKeys, TitleKeyFiltersTitleAndKeepsTheCreatorKey) {
    click(title_key(2));  // "The Bee Book" is under B through its article
    EXPECT_EQ(que(), que(search_buttons[2].que, "*", ZTINCR));
    EXPECT_TRUE(is_pressed(title_key(2)));
    EXPECT_FALSE(is_pressed(anchor_t()));
    std::vector<int> ids = listed();
    EXPECT_TRUE(contains(ids, bee_) && !contains(ids, atlas_) && !contains(ids, zebra_));
    EXPECT_EQ(ids.back(), -1);  // the separator row
    // Back on the creator row's "*" key: still no creator filter.
    click(creator_key(0));
    click(title_key(1));
    EXPECT_EQ(que(), que(search_buttons[1].que, "*", ZTINCR));
    // With a creator letter, both filter.
    click(creator_key(3));
    click(title_key(1));
    EXPECT_EQ(que(), que(search_buttons[1].que, search_buttons[3].que, ZTICR));
    EXPECT_TRUE(all_pressed({creator_key(3), title_key(1)}));
    // Pressed again: stays pressed and lists again.
    gtk_list_store_clear(GTK_LIST_STORE(item_model()));
    click(title_key(1));
    EXPECT_TRUE(is_pressed(title_key(1)));
    EXPECT_FALSE(listed().empty());
}

TEST_F(QueryKeys, LetterKeysReleaseTheMonthRow) {
    for (GtkWidget* letter : {title_key(1), creator_key(2)}) {
        click(month_key(4));
        ASSERT_STRNE(sql_que.date, "%");
        click(letter);
        EXPECT_FALSE(is_pressed(month_key(4)));
        EXPECT_TRUE(all_pressed({anchor_m(), letter}));
        EXPECT_STREQ(sql_que.date, "%");
    }
    EXPECT_EQ(sql_que.sql, ZCRTI);
}

TEST_F(QueryKeys, TitleKeyClearsTagSelectionButKeepsTagSlot) {
    select(tag_view(), birds_, true);
    click(title_key(1));
    EXPECT_EQ(selected_tags(), 0);
    EXPECT_EQ(sql_que.tags[0], birds_);
    EXPECT_EQ(sql_que.sql, ZTINCR);
}

// ---- Creator keys ----

TEST_F(QueryKeys, CreatorKeysOrderByCreator) {
    click(creator_key(0));
    EXPECT_EQ(que(), que("*", "*", ZNCRTI));
    click(title_key(5));
    click(creator_key(26));
    EXPECT_EQ(que(), que(search_buttons[5].que, search_buttons[26].que, ZCRTI));
    EXPECT_TRUE(all_pressed({title_key(5), creator_key(26)}));
}

// ---- Month keys ----

TEST_F(QueryKeys, MonthKeysGiveMonthsBackFromNowAndReleaseBothLetterRows) {
    click(title_key(1));
    click(creator_key(2));
    click(month_key(1));
    EXPECT_EQ(std::string(sql_que.date), month_key_by_mktime(0));
    EXPECT_EQ(que(), que("*", "*", ZDATE));
    EXPECT_TRUE(none_pressed({title_key(1), creator_key(2)}));
    EXPECT_TRUE(all_pressed({anchor_t(), anchor_c(), month_key(1)}));
    EXPECT_TRUE(contains(listed(), zebra_));
    EXPECT_FALSE(contains(listed(), atlas_));
    click(month_key(10));
    EXPECT_EQ(std::string(sql_que.date), month_key_by_mktime(9));
    click(month_key(0));
    EXPECT_STREQ(sql_que.date, "%");
    EXPECT_EQ(sql_que.sql, ZDATE);
    EXPECT_FALSE(is_pressed(month_key(10)));
}

// ---- Tag view ----

TEST_F(QueryKeys, FocusedTagReleasesEveryRowAndFiltersByTag) {
    click(title_key(1));
    click(creator_key(2));
    select(tag_view(), birds_, true);
    EXPECT_EQ(que(), que("*", "*", ZTAGED));
    EXPECT_EQ(std::vector<int>(sql_que.tags, sql_que.tags + 3), (std::vector<int>{birds_, 0, 0}));
    EXPECT_TRUE(none_pressed({title_key(1), creator_key(2)}));
    EXPECT_TRUE(all_pressed({anchor_t(), anchor_c()}));
    EXPECT_EQ(listed().front(), atlas_);

    click(month_key(3));
    select(tag_view(), insects_, true);
    EXPECT_EQ(sql_que.tags[0], insects_);
    EXPECT_STREQ(sql_que.date, "%");
    EXPECT_FALSE(is_pressed(month_key(3)));
    EXPECT_TRUE(is_pressed(anchor_m()));
    EXPECT_EQ(sql_que.sql, ZTAGED);
}

TEST_F(QueryKeys, TagSelectionWithoutFocusOrEmptiedChangesNothing) {
    click(title_key(1));
    ry_sql_que before = sql_que;
    gtk_list_store_clear(GTK_LIST_STORE(item_model()));
    select(tag_view(), insects_, false);
    EXPECT_TRUE(same_record(sql_que, before));
    EXPECT_TRUE(listed().empty()) << "nothing listed";
    EXPECT_TRUE(is_pressed(title_key(1)));

    select(tag_view(), birds_, true);
    before = sql_que;
    take_focus(tag_view());
    gtk_icon_view_unselect_all(GTK_ICON_VIEW(tag_view()));
    ryt::flush_events();
    EXPECT_TRUE(same_record(sql_que, before));
}

TEST_F(QueryKeys, TagRowWithNegativeIdFillsSlotOnly) {
    GtkListStore* tags = ry_create_label_model();
    gtk_list_store_insert_with_values(tags, nullptr, -1, LABEL_ID, -1, LABEL_NAME, "none", -1);
    gtk_icon_view_set_model(GTK_ICON_VIEW(tag_view()), GTK_TREE_MODEL(tags));
    g_object_unref(tags);
    click(title_key(1));
    select(tag_view(), -1, true);
    EXPECT_EQ(sql_que.tags[0], -1);
    EXPECT_EQ(sql_que.sql, ZTINCR);
    EXPECT_TRUE(is_pressed(title_key(1)));
}

// ---- Collection list ----

TEST_F(QueryKeys, FocusedCollectionChangesOnlyCollection) {
    click(title_key(1));
    ry_sql_que expected = sql_que;
    select(collection_list_, nature_, false);
    EXPECT_TRUE(same_record(sql_que, expected)) << "not focused";
    for (int cid : {-1, nature_, -1}) {  // each a change of selection
        select(collection_list_, cid, true);
        expected.cid = cid;
        EXPECT_TRUE(same_record(sql_que, expected)) << cid;
    }
}

// With no key chosen, at start and again after "Recent" (which releases every key
// and the tag), a collection lists its own items by title.
TEST_F(QueryKeys, CollectionAloneListsItsItemsByTitleAlsoAfterRecent) {
    GtkWidget* recent = ryt::table_cell(month_grid(), nl - 2, 0);
    for (int round = 0; round < 2; ++round) {
        select(collection_list_, nature_, true);
        GtkTreePath* path = find_row(gtk_tree_view_get_model(GTK_TREE_VIEW(collection_list_)), nature_);
        gtk_tree_view_row_activated(GTK_TREE_VIEW(collection_list_), path,
                                    gtk_tree_view_get_column(GTK_TREE_VIEW(collection_list_), 0));
        gtk_tree_path_free(path);
        ryt::flush_events();
        EXPECT_EQ(listed(), (std::vector<int>{atlas_, -1})) << round;
        click(title_key(2));
        click(creator_key(3));
        select(tag_view(), insects_, true);
        click(recent);
        EXPECT_TRUE(all_pressed({anchor_t(), anchor_c(), anchor_m()}));
        EXPECT_EQ(selected_tags(), 0);
        EXPECT_EQ(sql_que.sql, -1);
    }
}

// ---- Keys switched off by their row ----

TEST_F(QueryKeys, SwitchedOffKeyNeverChangesRecord) {
    click(month_key(3));
    const ry_sql_que before = sql_que;
    // Handlers called for keys that are off, as GTK does for the key being released.
    ry_set_title_que(title_key(5), GINT_TO_POINTER(5));
    ry_set_creator_que(creator_key(5), GINT_TO_POINTER(5));
    ry_set_date_que(month_key(6), GINT_TO_POINTER(6));
    EXPECT_TRUE(same_record(sql_que, before));
    ry_radio_active(title_key(5), anchor_m());
    EXPECT_TRUE(is_pressed(month_key(3)));
    select(tag_view(), insects_, false);
    ry_unselect_tag(title_key(5), tag_view());
    EXPECT_EQ(selected_tags(), 1);
}

// A tap lists once, for the key now active, whichever keys its rows release.
TEST_F(QueryKeys, EveryTapRunsOneStatement) {
    auto runs = [this] {
        int n = 0;
        for (sqlite3_stmt* s : statements_) n += sqlite3_stmt_status(s, SQLITE_STMTSTATUS_RUN, 0);
        return n;
    };
    const std::vector<std::function<void()>> taps = {
        [&] { click(title_key(1)); },
        [&] { click(creator_key(3)); },
        [&] { click(month_key(0)); },
        [&] { click(month_key(2)); },
        [&] { select(tag_view(), birds_, true); },
        [&] { click(creator_key(0)); },
        [&] { click(month_key(1)); },
    };
    for (size_t i = 0; i < taps.size(); ++i) {
        const int before = runs();
        taps[i]();
        EXPECT_EQ(runs() - before, 1) << "tap " << i;
    }
}

// ---- The month key itself ----

TEST(MonthKey, GoesBackCalendarMonthsAlwaysEightCharacters) {
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
    for (int month = 1; month <= 12; ++month)
        for (int back = 0; back <= 9; ++back) {
            std::string k = key(back, 2001, month, 31);
            EXPECT_TRUE(k.size() == 8 && k[4] == '-' && k[7] == '%') << k;
        }
}

}  // namespace
