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

    GtkWidget* anchor_t() const { return rgroup_.tbutton; }
    GtkWidget* anchor_c() const { return rgroup_.cbutton; }
    GtkWidget* anchor_m() const { return rgroup_.mbutton; }

    int atlas_ = 0, bee_ = 0, zebra_ = 0, birds_ = 0, insects_ = 0, nature_ = 0;
};

TEST_F(QueryKeys, StartsWithEveryRowOnItsAnchorAndNoKind) {
    EXPECT_TRUE(is_pressed(anchor_t()));
    EXPECT_TRUE(is_pressed(anchor_c()));
    EXPECT_TRUE(is_pressed(anchor_m()));
    for (int i = 0; i < nl; ++i) {
        EXPECT_FALSE(is_pressed(title_key(i))) << i;
        EXPECT_FALSE(is_pressed(creator_key(i))) << i;
    }
    for (int i = 0; i <= 10; ++i) EXPECT_FALSE(is_pressed(month_key(i))) << i;
    EXPECT_EQ(sql_que.sql, -1);
}

// ---- Title keys ----

TEST_F(QueryKeys, TitleKeyAloneFiltersTitleInTitleOrder) {
    click(title_key(2));
    EXPECT_STREQ(sql_que.title, "[bB]*");
    EXPECT_STREQ(sql_que.creator, "*");
    EXPECT_EQ(sql_que.sql, ZTINCR);
    EXPECT_TRUE(is_pressed(title_key(2)));
    EXPECT_FALSE(is_pressed(anchor_t()));

    // Back on the creator row's "*" key: still no creator filter.
    click(creator_key(0));
    click(title_key(1));
    EXPECT_EQ(sql_que.sql, ZTINCR);
}

TEST_F(QueryKeys, TitleKeyWithCreatorLetterFiltersBoth) {
    click(creator_key(3));
    click(title_key(1));
    EXPECT_STREQ(sql_que.title, "[aA]*");
    EXPECT_STREQ(sql_que.creator, "[cC]*");
    EXPECT_EQ(sql_que.sql, ZTICR);
    EXPECT_TRUE(is_pressed(creator_key(3)));
    EXPECT_TRUE(is_pressed(title_key(1)));
}

TEST_F(QueryKeys, TitleKeyReleasesMonthRowAndResetsDate) {
    click(month_key(1));
    ASSERT_STRNE(sql_que.date, "%");
    click(title_key(1));
    EXPECT_FALSE(is_pressed(month_key(1)));
    EXPECT_TRUE(is_pressed(anchor_m()));
    EXPECT_STREQ(sql_que.date, "%");
    EXPECT_TRUE(is_pressed(title_key(1)));
    EXPECT_EQ(sql_que.sql, ZTINCR);
}

TEST_F(QueryKeys, TitleKeyClearsTagSelectionButKeepsTagSlot) {
    select_tag(birds_, true);
    click(title_key(1));
    GList* selected = gtk_icon_view_get_selected_items(GTK_ICON_VIEW(tag_view()));
    EXPECT_EQ(selected, nullptr);
    g_list_free_full(selected, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    EXPECT_EQ(sql_que.tags[0], birds_);
    EXPECT_EQ(sql_que.sql, ZTINCR);
}

TEST_F(QueryKeys, KeyPressedAgainStaysPressedAndListsAgain) {
    click(title_key(1));
    gtk_list_store_clear(GTK_LIST_STORE(item_model()));
    click(title_key(1));
    EXPECT_TRUE(is_pressed(title_key(1)));
    EXPECT_TRUE(contains(ryt::model_ids(item_model(), ITEM_ID), atlas_));
}

// ---- Creator keys ----

TEST_F(QueryKeys, CreatorStarOrdersByCreatorWithoutFilter) {
    click(creator_key(0));
    EXPECT_STREQ(sql_que.creator, "*");
    EXPECT_EQ(sql_que.sql, ZNCRTI);
}

TEST_F(QueryKeys, CreatorLetterKeepsTitleKeyAndOrdersByCreator) {
    click(title_key(5));
    click(creator_key(26));
    EXPECT_STREQ(sql_que.creator, "[zZ]*");
    EXPECT_STREQ(sql_que.title, "[eE]*");
    EXPECT_EQ(sql_que.sql, ZCRTI);
    EXPECT_TRUE(is_pressed(title_key(5)));
    EXPECT_TRUE(is_pressed(creator_key(26)));
}

TEST_F(QueryKeys, CreatorKeyReleasesMonthRow) {
    click(month_key(4));
    click(creator_key(2));
    EXPECT_FALSE(is_pressed(month_key(4)));
    EXPECT_TRUE(is_pressed(anchor_m()));
    EXPECT_STREQ(sql_que.date, "%");
    EXPECT_TRUE(is_pressed(creator_key(2)));
    EXPECT_EQ(sql_que.sql, ZCRTI);
}

// ---- Month keys ----

TEST_F(QueryKeys, MonthKeysGiveMonthsBackFromNow) {
    click(month_key(1));
    EXPECT_EQ(std::string(sql_que.date), month_key_by_mktime(0));
    EXPECT_EQ(sql_que.sql, ZDATE);
    click(month_key(10));
    EXPECT_EQ(std::string(sql_que.date), month_key_by_mktime(9));
    click(month_key(0));
    EXPECT_STREQ(sql_que.date, "%");
    EXPECT_EQ(sql_que.sql, ZDATE);
    EXPECT_FALSE(is_pressed(month_key(10)));
}

TEST_F(QueryKeys, MonthKeyReleasesBothLetterRows) {
    click(title_key(1));
    click(creator_key(2));
    click(month_key(2));
    EXPECT_FALSE(is_pressed(title_key(1)));
    EXPECT_FALSE(is_pressed(creator_key(2)));
    EXPECT_TRUE(is_pressed(anchor_t()));
    EXPECT_TRUE(is_pressed(anchor_c()));
    EXPECT_STREQ(sql_que.title, "*");
    EXPECT_STREQ(sql_que.creator, "*");
    EXPECT_TRUE(is_pressed(month_key(2)));
    EXPECT_EQ(sql_que.sql, ZDATE);
}

TEST_F(QueryKeys, MonthKeyListsItemsAddedThatMonth) {
    click(month_key(1));
    std::vector<int> ids = ryt::model_ids(item_model(), ITEM_ID);
    EXPECT_TRUE(contains(ids, zebra_));
    EXPECT_FALSE(contains(ids, atlas_));
}

// ---- Tag view ----

TEST_F(QueryKeys, FocusedTagReleasesEveryRowAndFiltersByTag) {
    click(title_key(1));
    click(creator_key(2));
    select_tag(birds_, true);
    EXPECT_EQ(sql_que.tags[0], birds_);
    EXPECT_EQ(sql_que.tags[1], 0);
    EXPECT_EQ(sql_que.tags[2], 0);
    EXPECT_EQ(sql_que.sql, ZTAGED);
    EXPECT_STREQ(sql_que.title, "*");
    EXPECT_STREQ(sql_que.creator, "*");
    EXPECT_FALSE(is_pressed(title_key(1)));
    EXPECT_FALSE(is_pressed(creator_key(2)));
    EXPECT_TRUE(is_pressed(anchor_t()));
    EXPECT_TRUE(is_pressed(anchor_c()));
    EXPECT_EQ(ryt::model_ids(item_model(), ITEM_ID).front(), atlas_);

    click(month_key(3));
    select_tag(insects_, true);
    EXPECT_EQ(sql_que.tags[0], insects_);
    EXPECT_STREQ(sql_que.date, "%");
    EXPECT_FALSE(is_pressed(month_key(3)));
    EXPECT_TRUE(is_pressed(anchor_m()));
    EXPECT_EQ(sql_que.sql, ZTAGED);
}

TEST_F(QueryKeys, TagSelectedWithoutFocusChangesNothing) {
    click(title_key(1));
    const ry_sql_que before = sql_que;
    select_tag(birds_, false);
    EXPECT_TRUE(same_record(sql_que, before));
    EXPECT_TRUE(is_pressed(title_key(1)));
}

TEST_F(QueryKeys, EmptiedTagSelectionChangesNothing) {
    select_tag(birds_, true);
    const ry_sql_que before = sql_que;
    take_focus(tag_view());
    gtk_icon_view_unselect_all(GTK_ICON_VIEW(tag_view()));
    ryt::flush_events();
    EXPECT_TRUE(same_record(sql_que, before));
}

TEST_F(QueryKeys, TagRowWithNegativeIdFillsSlotOnly) {
    GtkListStore* tags = ry_create_label_model();
    GtkTreeIter iter;
    gtk_list_store_append(tags, &iter);
    gtk_list_store_set(tags, &iter, LABEL_ID, -1, LABEL_NAME, "none", -1);
    gtk_icon_view_set_model(GTK_ICON_VIEW(tag_view()), GTK_TREE_MODEL(tags));
    g_object_unref(tags);
    click(title_key(1));
    select_tag(-1, true);
    EXPECT_EQ(sql_que.tags[0], -1);
    EXPECT_EQ(sql_que.sql, ZTINCR);
    EXPECT_TRUE(is_pressed(title_key(1)));
}

// ---- Collection list ----

TEST_F(QueryKeys, FocusedCollectionChangesOnlyCollection) {
    click(title_key(1));
    ry_sql_que expected = sql_que;
    select_collection(nature_, true);
    expected.cid = nature_;
    EXPECT_TRUE(same_record(sql_que, expected));
    select_collection(-1, true);
    expected.cid = -1;
    EXPECT_TRUE(same_record(sql_que, expected));
}

TEST_F(QueryKeys, CollectionSelectedWithoutFocusChangesNothing) {
    const ry_sql_que before = sql_que;
    select_collection(nature_, false);
    EXPECT_TRUE(same_record(sql_que, before));
}

TEST_F(QueryKeys, CollectionAloneListsNothingBeforeAKind) {
    GtkListStore* store = GTK_LIST_STORE(item_model());
    GtkTreeIter iter;
    gtk_list_store_append(store, &iter);
    gtk_list_store_set(store, &iter, ITEM_ID, 4242, -1);
    const std::vector<int> before = ryt::model_ids(item_model(), ITEM_ID);

    select_collection(nature_, true);
    GtkTreeModel* collections = gtk_tree_view_get_model(GTK_TREE_VIEW(collection_list_));
    GtkTreePath* path = find_row(collections, nature_);
    gtk_tree_view_row_activated(GTK_TREE_VIEW(collection_list_), path,
                                gtk_tree_view_get_column(GTK_TREE_VIEW(collection_list_), 0));
    gtk_tree_path_free(path);
    ryt::flush_events();
    EXPECT_EQ(sql_que.cid, nature_);
    EXPECT_EQ(sql_que.sql, -1);
    EXPECT_EQ(ryt::model_ids(item_model(), ITEM_ID), before);

    // The first key then lists within the collection.
    click(title_key(0));
    std::vector<int> ids = ryt::model_ids(item_model(), ITEM_ID);
    EXPECT_TRUE(contains(ids, atlas_));
    EXPECT_FALSE(contains(ids, bee_));
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

    take_focus(GTK_WIDGET(search_data_.item_list));
    GtkTreePath* path = find_row(gtk_icon_view_get_model(GTK_ICON_VIEW(tag_view())), insects_);
    gtk_icon_view_select_path(GTK_ICON_VIEW(tag_view()), path);
    gtk_tree_path_free(path);
    ry_unselect_tag(title_key(5), tag_view());
    GList* selected = gtk_icon_view_get_selected_items(GTK_ICON_VIEW(tag_view()));
    EXPECT_EQ(g_list_length(selected), 1u);
    g_list_free_full(selected, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
}

TEST_F(QueryKeys, LetterKeyListsMatchingTitles) {
    click(title_key(2));  // "The Bee Book" matches B through its article
    std::vector<int> ids = ryt::model_ids(item_model(), ITEM_ID);
    EXPECT_TRUE(contains(ids, bee_));
    EXPECT_FALSE(contains(ids, atlas_));
    EXPECT_FALSE(contains(ids, zebra_));
    EXPECT_EQ(ids.back(), -1);  // the separator row
}

// ---- The month key itself ----

struct tm date(int year, int month, int day) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 23;
    return tm;
}

TEST(MonthKey, GoesBackCalendarMonthsAcrossYears) {
    char key[9];
    ry_format_month_key(key, 0, date(2009, 3, 15));
    EXPECT_STREQ(key, "2009-03%");
    ry_format_month_key(key, 1, date(2010, 1, 1));
    EXPECT_STREQ(key, "2009-12%");
    ry_format_month_key(key, 3, date(2010, 2, 28));
    EXPECT_STREQ(key, "2009-11%");
    ry_format_month_key(key, 9, date(2009, 3, 31));  // no 31st in June
    EXPECT_STREQ(key, "2008-06%");
    ry_format_month_key(key, 9, date(2009, 10, 31));
    EXPECT_STREQ(key, "2009-01%");
}

TEST(MonthKey, AlwaysEightCharactersAndAnyDateBelowZero) {
    char key[9];
    for (int month = 1; month <= 12; ++month)
        for (int back = 0; back <= 9; ++back) {
            ry_format_month_key(key, back, date(2001, month, 31));
            EXPECT_EQ(strlen(key), 8u) << month << " " << back;
            EXPECT_EQ(key[4], '-');
            EXPECT_EQ(key[7], '%');
        }
    ry_format_month_key(key, -1, date(2009, 3, 15));
    EXPECT_STREQ(key, "%");
}

}  // namespace
