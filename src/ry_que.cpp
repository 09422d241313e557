// The query record, the search keys, and the handlers through which the keys,
// the tag view and the collection list change the record.
#include "ry_que.h"

#include <initializer_list>

#include "ry_model.h"

// A letter key also takes the letters whose canonical decomposition begins with it
// ("Émile" under E, "Özkan" under O) and the few that have none but read as it
// (Æ, Œ, Ø, Ł, Đ), in both cases; "!" takes everything else.
const ry_search_button search_buttons[] = {
    {"*", "*"},
    {"A",
     "[aAÀÁÂÃÄÅàáâãäåĀāĂăĄąǍǎǞǟǠǡǺǻȀȁȂȃȦȧḀḁẠạẢ"
     "ảẤấẦầẨẩẪẫẬậẮắẰằẲẳẴẵẶặÅÆæ]*"},
    {"B", "[bBḂḃḄḅḆḇ]*"},
    {"C", "[cCÇçĆćĈĉĊċČčḈḉ]*"},
    {"D", "[dDĎďḊḋḌḍḎḏḐḑḒḓĐđ]*"},
    {"E",
     "[eEÈÉÊËèéêëĒēĔĕĖėĘęĚěȄȅȆȇȨȩḔḕḖḗḘḙḚḛḜḝẸẹẺ"
     "ẻẼẽẾếỀềỂểỄễỆệ]*"},
    {"F", "[fFḞḟ]*"},
    {"G", "[gGĜĝĞğĠġĢģǦǧǴǵḠḡ]*"},
    {"H", "[hHĤĥȞȟḢḣḤḥḦḧḨḩḪḫẖ]*"},
    {"I", "[iIÌÍÎÏìíîïĨĩĪīĬĭĮįİǏǐȈȉȊȋḬḭḮḯỈỉỊị]*"},
    {"J", "[jJĴĵǰ]*"},
    {"K", "[kKĶķǨǩḰḱḲḳḴḵK]*"},
    {"L", "[lLĹĺĻļĽľḶḷḸḹḺḻḼḽŁł]*"},
    {"M", "[mMḾḿṀṁṂṃ]*"},
    {"N", "[nNÑñŃńŅņŇňǸǹṄṅṆṇṈṉṊṋ]*"},
    {"O",
     "[oOÒÓÔÕÖòóôõöŌōŎŏŐőƠơǑǒǪǫǬǭȌȍȎȏȪȫȬȭȮȯȰȱṌ"
     "ṍṎṏṐṑṒṓỌọỎỏỐốỒồỔổỖỗỘộỚớỜờỞởỠỡỢợŒœØø]*"},
    {"P", "[pPṔṕṖṗ]*"},
    {"Q", "[qQ]*"},
    {"R", "[rRŔŕŖŗŘřȐȑȒȓṘṙṚṛṜṝṞṟ]*"},
    {"S", "[sSŚśŜŝŞşŠšȘșṠṡṢṣṤṥṦṧṨṩ]*"},
    {"T", "[tTŢţŤťȚțṪṫṬṭṮṯṰṱẗ]*"},
    {"U",
     "[uUÙÚÛÜùúûüŨũŪūŬŭŮůŰűŲųƯưǓǔǕǖǗǘǙǚǛǜȔȕȖȗṲ"
     "ṳṴṵṶṷṸṹṺṻỤụỦủỨứỪừỬửỮữỰự]*"},
    {"V", "[vVṼṽṾṿ]*"},
    {"W", "[wWŴŵẀẁẂẃẄẅẆẇẈẉẘ]*"},
    {"X", "[xXẊẋẌẍ]*"},
    {"Y", "[yYÝýÿŶŷŸȲȳẎẏẙỲỳỴỵỶỷỸỹ]*"},
    {"Z", "[zZŹźŻżŽžẐẑẒẓẔẕ]*"},
    {"!",
     "[^a-zA-ZÀÁÂÃÄÅàáâãäåĀāĂăĄąǍǎǞǟǠǡǺǻȀȁȂȃȦȧ"
     "ḀḁẠạẢảẤấẦầẨẩẪẫẬậẮắẰằẲẳẴẵẶặÅÆæḂḃḄḅḆḇÇçĆćĈ"
     "ĉĊċČčḈḉĎďḊḋḌḍḎḏḐḑḒḓĐđÈÉÊËèéêëĒēĔĕĖėĘęĚěȄ"
     "ȅȆȇȨȩḔḕḖḗḘḙḚḛḜḝẸẹẺẻẼẽẾếỀềỂểỄễỆệḞḟĜĝĞğĠġĢ"
     "ģǦǧǴǵḠḡĤĥȞȟḢḣḤḥḦḧḨḩḪḫẖÌÍÎÏìíîïĨĩĪīĬĭĮįİǏ"
     "ǐȈȉȊȋḬḭḮḯỈỉỊịĴĵǰĶķǨǩḰḱḲḳḴḵKĹĺĻļĽľḶḷḸḹḺḻḼ"
     "ḽŁłḾḿṀṁṂṃÑñŃńŅņŇňǸǹṄṅṆṇṈṉṊṋÒÓÔÕÖòóôõöŌōŎ"
     "ŏŐőƠơǑǒǪǫǬǭȌȍȎȏȪȫȬȭȮȯȰȱṌṍṎṏṐṑṒṓỌọỎỏỐốỒồỔ"
     "ổỖỗỘộỚớỜờỞởỠỡỢợŒœØøṔṕṖṗŔŕŖŗŘřȐȑȒȓṘṙṚṛṜṝṞ"
     "ṟŚśŜŝŞşŠšȘșṠṡṢṣṤṥṦṧṨṩŢţŤťȚțṪṫṬṭṮṯṰṱẗÙÚÛÜ"
     "ùúûüŨũŪūŬŭŮůŰűŲųƯưǓǔǕǖǗǘǙǚǛǜȔȕȖȗṲṳṴṵṶṷṸṹ"
     "ṺṻỤụỦủỨứỪừỬửỮữỰựṼṽṾṿŴŵẀẁẂẃẄẅẆẇẈẉẘẊẋẌẍÝýÿ"
     "ŶŷŸȲȳẎẏẙỲỳỴỵỶỷỸỹŹźŻżŽžẐẑẒẓẔẕ]*"},
};

ry_sql_que sql_que = {-1, search_buttons[0].que, search_buttons[0].que, "*", {0, 0, 0}, -1};
int nl = G_N_ELEMENTS(search_buttons);

namespace {

bool is_active(GtkWidget* button) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)); }

// The key index carried as user data; -1 when it names no search key.
int key_index(gpointer data) {
    int i = GPOINTER_TO_INT(data);
    return (i >= 0 && i < nl) ? i : -1;
}

// A tag picked in the tag view: its id fills the first slot and, for a real tag,
// every key row is released (their anchors reset title, creator and date) so that
// the tag alone filters the list.
void set_tag_que(GtkTreeModel* model, GtkTreeIter* iter, ry_radio_group* rgroup) {
    gint id = -1;
    gtk_tree_model_get(model, iter, LABEL_ID, &id, -1);
    sql_que.tags[0] = id;
    if (id < 0) return;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(rgroup->tbutton), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(rgroup->cbutton), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(rgroup->mbutton), TRUE);
    sql_que.sql = ZTAGED;
}

}  // namespace

// GTK also emits "clicked" on the radio button being switched off; every key handler
// therefore acts only for the button that ends up active.

void ry_set_title_que(GtkWidget* widget, gpointer data) {
    if (!is_active(widget)) return;
    int i = key_index(data);
    if (i < 0) return;
    sql_que.title = search_buttons[i].que;
    sql_que.sql = (sql_que.creator[0] == '*') ? ZTINCR : ZTICR;
}

void ry_set_creator_que(GtkWidget* widget, gpointer data) {
    if (!is_active(widget)) return;
    int i = key_index(data);
    if (i < 0) return;
    sql_que.creator = search_buttons[i].que;
    sql_que.sql = (i > 0) ? ZCRTI : ZNCRTI;
}

void ry_format_month_key(char out[9], int months_back, const struct tm& now) {
    if (months_back < 0) {
        g_snprintf(out, 9, "%%");
        return;
    }
    // Count in months from year 0 so that going back past January borrows a year.
    long months = (now.tm_year + 1900L) * 12 + now.tm_mon - months_back;
    long year = months / 12;
    int month = static_cast<int>(months % 12);
    if (month < 0) {
        month += 12;
        --year;
    }
    g_snprintf(out, 9, "%4ld-%02d%%", year, month + 1);
}

void ry_set_date_que(GtkWidget* widget, gpointer data) {
    if (!is_active(widget)) return;
    // Key 0 ("*") is any date; key i shows the number i - 1 of months back.
    int i = GPOINTER_TO_INT(data);
    time_t t = time(nullptr);
    struct tm now {};
    localtime_r(&t, &now);
    ry_format_month_key(sql_que.date, i - 1, now);
    sql_que.sql = ZDATE;
}

void ry_radio_active(GtkWidget* widget, gpointer data) {
    if (!is_active(widget)) return;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(data), TRUE);
}

void ry_unselect_tag(GtkWidget* widget, gpointer data) {
    if (!is_active(widget)) return;
    gtk_icon_view_unselect_all(GTK_ICON_VIEW(data));
}

// Selection changes made by the program itself happen while the view has no focus
// and are ignored.
void ry_set_tag_que_by_icon_selection(GtkIconView* tag_view, gpointer data) {
    if (!GTK_WIDGET_HAS_FOCUS(tag_view)) return;
    GtkTreeModel* model = gtk_icon_view_get_model(tag_view);
    GList* selected = gtk_icon_view_get_selected_items(tag_view);
    GtkTreeIter iter;
    if (selected && model && gtk_tree_model_get_iter(model, &iter, static_cast<GtkTreePath*>(selected->data)))
        set_tag_que(model, &iter, static_cast<ry_radio_group*>(data));
    for (GList* l = selected; l; l = l->next) gtk_tree_path_free(static_cast<GtkTreePath*>(l->data));
    g_list_free(selected);
}

void ry_set_tag_que_by_icon_activation(GtkIconView* tag_view, GtkTreePath* path, gpointer data) {
    GtkTreeModel* model = gtk_icon_view_get_model(tag_view);
    GtkTreeIter iter;
    if (model && path && gtk_tree_model_get_iter(model, &iter, path))
        set_tag_que(model, &iter, static_cast<ry_radio_group*>(data));
}

void ry_set_collection_que_by_selection(GtkTreeSelection* selection, gpointer /*data*/) {
    if (!GTK_WIDGET_HAS_FOCUS(gtk_tree_selection_get_tree_view(selection))) return;
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter)) return;
    gint id = -1;
    gtk_tree_model_get(model, &iter, LABEL_ID, &id, -1);
    sql_que.cid = id;
}

void ry_set_collection_que_by_row_activation(GtkTreeView* tree_view, GtkTreePath* /*path*/,
                                             GtkTreeViewColumn* /*column*/, gpointer data) {
    ry_set_collection_que_by_selection(gtk_tree_view_get_selection(tree_view), data);
}

// The recent items are no key's list: every key row lets go (each anchor resets
// its field), the tag goes, and nothing counts as chosen.
void ry_release_keys(GtkWidget* /*widget*/, gpointer data) {
    auto* rgroup = static_cast<ry_radio_group*>(data);
    for (GtkWidget* anchor : {rgroup->tbutton, rgroup->cbutton, rgroup->mbutton})
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(anchor), TRUE);
    gtk_icon_view_unselect_all(GTK_ICON_VIEW(rgroup->tag_view));
    sql_que.sql = -1;
}
