// The query record, the search keys, and the handlers through which the keys,
// the tag view and the collection list change the record.
#include "ry_que.h"

#include "ry_model.h"

ry_sql_que sql_que = {-1, "*", "*", "*", {0, 0, 0}, -1};

const ry_search_button search_buttons[] = {
    {"*", "*"},     {"A", "[aA]*"}, {"B", "[bB]*"}, {"C", "[cC]*"},      {"D", "[dD]*"}, {"E", "[eE]*"},
    {"F", "[fF]*"}, {"G", "[gG]*"}, {"H", "[hH]*"}, {"I", "[iI]*"},      {"J", "[jJ]*"}, {"K", "[kK]*"},
    {"L", "[lL]*"}, {"M", "[mM]*"}, {"N", "[nN]*"}, {"O", "[oO]*"},      {"P", "[pP]*"}, {"Q", "[qQ]*"},
    {"R", "[rR]*"}, {"S", "[sS]*"}, {"T", "[tT]*"}, {"U", "[uU]*"},      {"V", "[vV]*"}, {"W", "[wW]*"},
    {"X", "[xX]*"}, {"Y", "[yY]*"}, {"Z", "[zZ]*"}, {"!", "[^a-zA-Z]*"},
};
int nl = G_N_ELEMENTS(search_buttons);

// PENDING(window issue): the handlers.
void ry_set_title_que(GtkWidget*, gpointer) {}
void ry_set_creator_que(GtkWidget*, gpointer) {}
void ry_set_date_que(GtkWidget*, gpointer) {}
void ry_radio_active(GtkWidget*, gpointer) {}
void ry_unselect_tag(GtkWidget*, gpointer) {}
void ry_set_tag_que_by_icon_selection(GtkIconView*, gpointer) {}
void ry_set_tag_que_by_icon_activation(GtkIconView*, GtkTreePath*, gpointer) {}
void ry_set_collection_que_by_selection(GtkTreeSelection*, gpointer) {}
void ry_set_collection_que_by_row_activation(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer) {}
void ry_format_month_key(char out[9], int, const struct tm&) {
    out[0] = '%';
    out[1] = 0;
}
