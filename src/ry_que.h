// The query record that every search control writes and the item listing reads,
// the search keys, the statement kinds and the handlers that change the record.
#pragma once

#include <ctime>

#include "gtk_include.h"

// What the item list shows next. title and creator always point into search_buttons.
struct ry_sql_que {
    gint32 cid;           // collection id to restrict to; 0 or less: the whole library
    const char* title;    // GLOB pattern on the title
    const char* creator;  // GLOB pattern on a creator's last name
    char date[9];         // LIKE pattern on the date added: "%" or "YYYY-MM%"
    gint32 tags[3];       // tag ids; 0 or less: empty slot
    gint32 sql;           // statement kind to run; -1: nothing chosen yet
};
extern ry_sql_que sql_que;

struct ry_search_button {
    const char* label;
    const char* que;
};
// Index 0 is "any", 1..26 the letters A..Z (accented ones with their base letter),
// 27 anything else.
extern const ry_search_button search_buttons[];
extern int nl;

// Statement kinds: index into the statement array and value of sql_que.sql.
// Each odd kind below ZSEP is the even kind restricted to collection ?1.
enum {
    ZTINCR = 0,
    ZC_TINCR = 1,
    ZNCRTI = 2,
    ZC_NCRTI = 3,
    ZTICR = 4,
    ZC_TICR = 5,
    ZCRTI = 6,
    ZC_CRTI = 7,
    ZDATE = 8,
    ZC_DATE = 9,
    ZTAGED = 10,
    ZC_TAGED = 11,
    ZSEP = 12,
    ZTAG = 12,
    ZC_TAG = 13,
    ZAT = 14,
    ZRECENT = 15,
    ZLAST = 16
};

// The three hidden anchors of the key rows' radio groups and the tag view.
struct ry_radio_group {
    GtkWidget* tbutton;
    GtkWidget* cbutton;
    GtkWidget* mbutton;
    GtkWidget* tag_view;
};

// Key handlers; data is the key's index as a pointer-sized integer.
void ry_set_title_que(GtkWidget* widget, gpointer data);
void ry_set_creator_que(GtkWidget* widget, gpointer data);
void ry_set_date_que(GtkWidget* widget, gpointer data);
// data: another radio button, made active.
void ry_radio_active(GtkWidget* widget, gpointer data);
// data: the tag view, whose selection is cleared.
void ry_unselect_tag(GtkWidget* widget, gpointer data);
// data: the ry_radio_group. Releases every key and the tag, so that nothing is chosen.
void ry_release_keys(GtkWidget* widget, gpointer data);
// data: the ry_radio_group.
void ry_set_tag_que_by_icon_selection(GtkIconView* tag_view, gpointer data);
void ry_set_tag_que_by_icon_activation(GtkIconView* tag_view, GtkTreePath* path, gpointer data);
void ry_set_collection_que_by_selection(GtkTreeSelection* selection, gpointer data);
void ry_set_collection_que_by_row_activation(GtkTreeView* tree_view, GtkTreePath* path,
                                             GtkTreeViewColumn* column, gpointer data);

// Writes the LIKE key of the month `months_back` calendar months before the
// month of `now` ("%4d-%02d%%", eight characters); months_back below 0 gives "%".
void ry_format_month_key(char out[9], int months_back, const struct tm& now);
