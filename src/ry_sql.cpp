// The statement catalogue over the library, its preparation, and the listings
// that fill the item, attachment and label models.
#include "ry_sql.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ry_library.h"
#include "ry_model.h"
#include "ry_page.h"
#include "ry_raii.h"

// Pieces the texts share. An item's rows are one per creator, or one with empty names
// for an item without creators. The creators are joined to each item already chosen
// (a creator counts only with its name, as the join of the three tables gives it),
// never all of the library's creators first.
#define RY_ITEM_ROWS(from)                                                                                \
    "SELECT i.itemID,i.value,ifnull(cd.firstName,''),ifnull(cd.lastName,'') FROM " from                   \
    " LEFT JOIN itemCreators ic ON ic.itemID=i.itemID AND EXISTS (SELECT 1 FROM creators c NATURAL JOIN " \
    "creatorData cd WHERE c.creatorID=ic.creatorID) LEFT JOIN creators c ON c.creatorID=ic.creatorID "    \
    "NATURAL LEFT JOIN creatorData cd WHERE "
#define RY_LISTED "listedItems i"
#define RY_IN_COLLECTION "collectionItems ci JOIN listedItems i ON i.itemID=ci.itemID"
// Kinds 4 to 7 list only creators whose last name matches.
#define RY_NAMED_ROWS(collection)                                                                    \
    "SELECT i.itemID,i.value,cd.firstName,cd.lastName FROM itemCreators ic NATURAL JOIN creators c " \
    "NATURAL JOIN creatorData cd JOIN listedItems i ON i.itemID=ic.itemID " collection               \
    "WHERE cd.lastName "                                                                             \
    "GLOB ?3 AND "
#define RY_COLLECTION_JOIN "JOIN collectionItems ci ON ci.itemID=i.itemID "
#define RY_TITLE_KEY                                                                                    \
    "(i.value GLOB ?2 OR i.value GLOB 'On '||?2 OR i.value GLOB 'A '||?2 OR i.value GLOB 'An '||?2 OR " \
    "i.value GLOB 'On a '||?2 OR i.value GLOB 'On an '||?2 OR i.value GLOB 'The '||?2 OR i.value GLOB " \
    "'On the '||?2)"
// A tag listing matches the tags per item before its creators are joined: grouped per
// creator, a creator named twice on one item (as author and editor, or two people of
// one name) would count every tag twice and lose the item.
#define RY_TAGGED_ITEMS                                                                                     \
    "(SELECT itemID FROM (SELECT DISTINCT itemID, tagID FROM taggedItems WHERE tagID IN (?5,?6,?7)) GROUP " \
    "BY itemID HAVING SUM(tagID)=?8)"
#define RY_TAGGED "i.itemID IN " RY_TAGGED_ITEMS
#define RY_BY_TITLE " ORDER BY i.value,i.itemID,cd.lastName"
#define RY_BY_CREATOR " ORDER BY cd.lastName,i.value,i.itemID"
#define RY_BY_DATE " ORDER BY i.dateAdded,i.itemID DESC"
// One item's creators that the order above leaves level come by first name, then
// last name, as the texts these replaced gave them. Named by their result columns,
// so that the sorter does not carry the names twice.
#define RY_THEN_NAMES ",3,4"

// Every item statement reads listedItems, the view of the items a user sees with their
// titles, which opening the library creates.
const char* const ry_statement_texts[ZLAST] = {
    // ZTINCR
    RY_ITEM_ROWS(RY_LISTED) RY_TITLE_KEY RY_BY_TITLE RY_THEN_NAMES,
    // ZC_TINCR
    RY_ITEM_ROWS(RY_IN_COLLECTION) "ci.collectionID=?1 AND " RY_TITLE_KEY RY_BY_TITLE RY_THEN_NAMES,
    // ZNCRTI
    RY_ITEM_ROWS(RY_LISTED) RY_TITLE_KEY RY_BY_CREATOR RY_THEN_NAMES,
    // ZC_NCRTI
    RY_ITEM_ROWS(RY_IN_COLLECTION) "ci.collectionID=?1 AND " RY_TITLE_KEY RY_BY_CREATOR RY_THEN_NAMES,
    // ZTICR
    RY_NAMED_ROWS("") RY_TITLE_KEY RY_BY_TITLE,
    // ZC_TICR
    RY_NAMED_ROWS(RY_COLLECTION_JOIN) "ci.collectionID=?1 AND " RY_TITLE_KEY RY_BY_TITLE,
    // ZCRTI
    RY_NAMED_ROWS("") RY_TITLE_KEY RY_BY_CREATOR,
    // ZC_CRTI
    RY_NAMED_ROWS(RY_COLLECTION_JOIN) "ci.collectionID=?1 AND " RY_TITLE_KEY RY_BY_CREATOR,
    // ZDATE
    RY_ITEM_ROWS(RY_LISTED) "i.dateAdded LIKE ?4" RY_BY_DATE RY_THEN_NAMES,
    // ZC_DATE
    RY_ITEM_ROWS(RY_IN_COLLECTION) "ci.collectionID=?1 AND i.dateAdded LIKE ?4" RY_BY_DATE RY_THEN_NAMES,
    // ZTAGED
    RY_ITEM_ROWS(RY_LISTED) RY_TAGGED RY_BY_TITLE RY_THEN_NAMES,
    // ZC_TAGED
    RY_ITEM_ROWS(RY_IN_COLLECTION) "ci.collectionID=?1 AND " RY_TAGGED RY_BY_TITLE RY_THEN_NAMES,
    // ZTAG
    "SELECT DISTINCT t.tagID, t.name FROM tags t NATURAL JOIN taggedItems ti WHERE ti.itemID "
    "IN " RY_TAGGED_ITEMS " ORDER BY t.type DESC, t.name DESC",
    // ZC_TAG
    "SELECT DISTINCT t.tagID, t.name FROM tags t NATURAL JOIN taggedItems ti JOIN collectionitems ci ON "
    "ci.itemID=ti.itemID WHERE ci.collectionID=?1 AND ti.itemID IN " RY_TAGGED_ITEMS
    " ORDER BY t.type DESC, t.name DESC",
    // ZAT. A web link has no path: it shows its title, or else its address.
    "SELECT a.sourceitemID, a.mimeType, CASE WHEN a.linkMode=3 THEN (SELECT v.value FROM main.itemData d "
    "JOIN main.fields f ON f.fieldID=d.fieldID JOIN main.itemDataValues v ON v.valueID=d.valueID WHERE "
    "d.itemID=a.itemID AND f.fieldName IN ('title','url') ORDER BY f.fieldName='url' LIMIT 1) ELSE a.path "
    "END, i.key, a.linkMode FROM itemAttachments a NATURAL JOIN items i WHERE sourceitemID=?9",
    // ZRECENT
    RY_ITEM_ROWS(RY_LISTED) "i.itemID=?10 ORDER BY 3,4",
};

const char* const ry_label_texts[2] = {
    "SELECT c.collectionID,c.collectionName FROM collections c ORDER BY c.collectionName DESC",
    // Only tags that lead to some item; asked per tag, so that the first item found
    // answers and the library's other tagged items are never read.
    "SELECT t.tagID,t.name FROM tags t WHERE t.type=0 AND EXISTS (SELECT 1 FROM taggedItems ti WHERE "
    "ti.tagID=t.tagID) ORDER BY t.name DESC",
};

const char* const ry_separator_text =
    "---------------------------------------------------------------------------------";

bool ry_sql_try_prepare(sqlite3* db, sqlite3_stmt** statement) {
    for (int k = 0; k < ZLAST; ++k) statement[k] = nullptr;
    for (int k = 0; k < ZLAST; ++k) {
        if (sqlite3_prepare_v2(db, ry_statement_texts[k], -1, &statement[k], nullptr) != SQLITE_OK) {
            fprintf(stderr, "SQL Error: %s\n", sqlite3_errmsg(db));
            for (int j = 0; j <= k; ++j) {
                sqlite3_finalize(statement[j]);
                statement[j] = nullptr;
            }
            return false;
        }
    }
    return true;
}

void ry_sql_prepare(sqlite3* db, sqlite3_stmt** statement) {
    if (!ry_sql_try_prepare(db, statement)) {
        sqlite3_close(db);
        exit(1);
    }
}

// ---- Listings ----

namespace {

// A NULL text column (a title-less row, an attachment without a path) becomes "".
const char* column_text(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// Texts are bound without a copy: the patterns live in static storage and the
// date in sql_que itself, both unchanged while a listing runs.
void bind_static_text(sqlite3_stmt* statement, int parameter, const char* text) {
    sqlite3_bind_text(statement, parameter, text, int(strlen(text)), SQLITE_STATIC);
}

// Ids are kept as the models' int: a row whose id does not fit (or is negative,
// which -1 already means "none") is left out, so that no id is taken for another.
bool listable_id(sqlite3_stmt* statement, int column, int* id) {
    sqlite3_int64 wide = sqlite3_column_int64(statement, column);
    if (wide < 0 || wide > G_MAXINT) return false;
    *id = int(wide);
    return true;
}

// Each row the statement gives goes first into the store, emptied before.
template <typename Insert>
void prepend_rows(sqlite3_stmt* statement, GtkTreeModel* model, Insert insert) {
    GtkListStore* store = GTK_LIST_STORE(model);
    ry::StmtResetGuard reset(statement);
    gtk_list_store_clear(store);
    int rc, id;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        if (listable_id(statement, 0, &id)) insert(store, id);
    if (rc != SQLITE_DONE) fputs("SQL error\n", stderr);
}

}  // namespace

// The rows go to the item list's own store, which copies their texts once; the
// view's model then gets only the page on screen.
void ry_append_items(sqlite3_stmt* statement, ry_item_rows* rows, gboolean with_tail) {
    {
        ry::StmtResetGuard reset(statement);
        gint64 pid = -1;
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            int id = -1;
            if (!listable_id(statement, 0, &id)) continue;
            // A further row of the same item names one more creator; its title
            // stays unset so that the item reads as one entry.
            rows->append(id, id == pid ? nullptr : column_text(statement, 1), column_text(statement, 2),
                         column_text(statement, 3));
            pid = id;
        }
        if (rc != SQLITE_DONE) fputs("SQL error\n", stderr);
    }
    if (with_tail) rows->append(-1, ry_separator_text, nullptr, nullptr);
}

void ry_list_items(ry_search_data* data) {
    ry_check_library();
    int k = sql_que.sql;
    // Only the whole-library item kinds are ever stored; anything else would
    // index past the item statements.
    if (k < 0 || k >= ZSEP || k % 2 != 0) return;
    ry_item_rows* rows = ry_item_rows_of(data->item_list);
    if (rows == nullptr) return;

    sqlite3_stmt* statement;
    if (sql_que.cid > 0) {
        k += 1;
        statement = data->statement[k];
        sqlite3_reset(statement);
        sqlite3_bind_int(statement, SCID, sql_que.cid);
    } else {
        statement = data->statement[k];
        sqlite3_reset(statement);
    }
    switch (k) {
        case ZTINCR:
        case ZC_TINCR:
        case ZNCRTI:
        case ZC_NCRTI:
            bind_static_text(statement, STITLE, sql_que.title);
            break;
        case ZTICR:
        case ZC_TICR:
        case ZCRTI:
        case ZC_CRTI:
            bind_static_text(statement, STITLE, sql_que.title);
            bind_static_text(statement, SCREATOR, sql_que.creator);
            break;
        case ZDATE:
        case ZC_DATE:
            bind_static_text(statement, SDATE, sql_que.date);
            break;
        case ZTAGED:
        case ZC_TAGED: {
            // Empty slots stay unbound (NULL), so that one tag filters alone.
            for (int j = 0; j < 3 && sql_que.tags[j] > 0; ++j)
                sqlite3_bind_int(statement, STAG0 + j, sql_que.tags[j]);
            int tagsum = sql_que.tags[0] + sql_que.tags[1] + sql_que.tags[2];
            sqlite3_bind_int(statement, STAGS, tagsum);
            break;
        }
        default:
            break;
    }
    rows->clear();
    ry_append_items(statement, rows, TRUE);
    ry_show_first_page(data->item_list);
}

void ry_append_items_foreach(gpointer id, gpointer data) {
    int item_id = GPOINTER_TO_INT(id);
    if (item_id < 0) return;  // an empty history slot
    auto* sql_data = static_cast<ry_sql_data*>(data);
    sqlite3_reset(sql_data->statement);
    sqlite3_bind_int(sql_data->statement, SREID, item_id);
    ry_append_items(sql_data->statement, sql_data->rows, FALSE);
}

void ry_list_recent_items(gpointer data) {
    ry_check_library();
    auto* search_data = static_cast<ry_search_data*>(data);
    ry_item_rows* rows = ry_item_rows_of(search_data->item_list);
    if (rows == nullptr) return;
    ry_sql_data sql_data{search_data->statement[ZRECENT], rows};
    rows->clear();
    if (search_data->history != nullptr)
        g_queue_foreach(search_data->history, ry_append_items_foreach, &sql_data);
    // No item has the id -1: this run appends only the separator.
    sqlite3_bind_int(sql_data.statement, SREID, -1);
    ry_append_items(sql_data.statement, sql_data.rows, TRUE);
    ry_show_first_page(search_data->item_list);
}

// GTK also emits "clicked" on the key that its row switches off: only the key now
// active lists, so that a tap runs one statement.
void ry_list_items_by_button(GtkWidget* widget, gpointer data) {
    if (GTK_IS_TOGGLE_BUTTON(widget) && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget))) return;
    ry_list_items(static_cast<ry_search_data*>(data));
}

// A collection chosen while no key is lists its items by title.
void ry_list_items_by_row_activation(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer data) {
    if (sql_que.sql < 0) sql_que.sql = ZTINCR;
    ry_list_items(static_cast<ry_search_data*>(data));
}

void ry_list_items_by_icon_activation(GtkIconView*, GtkTreePath*, gpointer data) {
    ry_list_items(static_cast<ry_search_data*>(data));
}

// Selection changes made by the program happen while another widget has the focus.
void ry_list_items_by_selection(GtkTreeSelection* selection, gpointer data) {
    GtkTreeView* tree_view = gtk_tree_selection_get_tree_view(selection);
    if (gtk_widget_has_focus(GTK_WIDGET(tree_view))) ry_list_items(static_cast<ry_search_data*>(data));
}

void ry_list_items_by_icon_selection(GtkIconView* iconview, gpointer data) {
    if (gtk_widget_has_focus(GTK_WIDGET(iconview))) ry_list_items(static_cast<ry_search_data*>(data));
}

void ry_list_recent_items_by_button(GtkWidget*, gpointer data) { ry_list_recent_items(data); }

void ry_prepend_attachments(sqlite3_stmt* statement, GtkTreeModel* model) {
    prepend_rows(statement, model, [statement](GtkListStore* store, int id) {
        gtk_list_store_insert_with_values(
            store, nullptr, 0, ATTACHMENT_SOURCE_ID, id, ATTACHMENT_MIMETYPE, column_text(statement, 1),
            ATTACHMENT_PATH, column_text(statement, 2), ATTACHMENT_KEY, column_text(statement, 3),
            ATTACHMENT_LINK_MODE, sqlite3_column_int(statement, 4), -1);
    });
}

// The selected row is the one listed: a tap or a key activates the row it selects.
void ry_list_attachments(GtkTreeView* tree_view, GtkTreePath*, GtkTreeViewColumn*, gpointer data) {
    ry_check_library();
    int id = -1;
    GtkTreeModel* item_model = nullptr;
    GtkTreeIter iter;
    if (gtk_tree_selection_get_selected(gtk_tree_view_get_selection(tree_view), &item_model, &iter))
        gtk_tree_model_get(item_model, &iter, ITEM_ID, &id, -1);
    if (id < 0) return;  // nothing selected, or the separator row

    auto* search_data = static_cast<ry_search_data*>(data);
    sqlite3_stmt* statement = search_data->statement[ZAT];
    sqlite3_reset(statement);
    sqlite3_bind_int(statement, SITID, id);
    ry_prepend_attachments(statement, gtk_tree_view_get_model(search_data->attachment_list));
}

void ry_prepend_labels(sqlite3_stmt* statement, GtkTreeModel* model) {
    prepend_rows(statement, model, [statement](GtkListStore* store, int id) {
        gtk_list_store_insert_with_values(store, nullptr, 0, LABEL_ID, id, LABEL_NAME,
                                          column_text(statement, 1), -1);
    });
}

void ry_initialize_labels(sqlite3* db, int i, GtkTreeModel* model) {
    g_return_if_fail(i == 0 || i == 1);
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, ry_label_texts[i], -1, &raw, nullptr);
    ry::unique_stmt statement(raw);
    if (rc != SQLITE_OK) {
        fprintf(stderr, "SQL Error: %s\n", sqlite3_errmsg(db));
        return;
    }
    // The texts sort descending and every row is prepended: the model ends ascending.
    ry_prepend_labels(statement.get(), model);
    if (i == 0)
        gtk_list_store_insert_with_values(GTK_LIST_STORE(model), nullptr, 0, LABEL_ID, -1, LABEL_NAME, "*",
                                          -1);
}
