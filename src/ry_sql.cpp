// The statement catalogue over the library, its preparation, and the listings
// that fill the item, attachment and label models.
#include "ry_sql.h"

#include <cstdio>
#include <cstdlib>

#include "ry_raii.h"

// The texts are the library's query contract: kept character for character,
// double and trailing blanks included.
const char* const ry_statement_texts[ZLAST] = {
    // ZTINCR
    "SELECT i.itemID,i.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM (items itm NATURAL JOIN "
    "itemData id NATURAL JOIN itemDataValues idv) i LEFT OUTER JOIN (itemCreators ic NATURAL JOIN creators c "
    "NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE (i.value GLOB ?2 OR i.value GLOB 'On '||?2 "
    "OR i.value GLOB 'A '||?2 OR i.value GLOB 'An '||?2 OR i.value GLOB 'On a '||?2 OR i.value GLOB 'On an "
    "'||?2 OR i.value GLOB 'The '||?2 OR i.value GLOB 'On the '||?2 ) AND i.fieldID=110  AND i.itemTypeID "
    "NOT IN (1,14) ORDER BY i.value,i.itemID,cr.lastname",
    // ZC_TINCR
    "SELECT i.itemID,i.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM collectionitems ci NATURAL "
    "JOIN (items itm NATURAL JOIN itemData id NATURAL JOIN itemDataValues idv) i LEFT OUTER JOIN "
    "(itemCreators ic NATURAL JOIN creators c NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE "
    "ci.collectionID=?1 AND (i.value GLOB ?2 OR i.value GLOB 'On '||?2 OR i.value GLOB 'A '||?2 OR i.value "
    "GLOB 'An '||?2 OR i.value GLOB 'On a '||?2 OR i.value GLOB 'On an '||?2 OR i.value GLOB 'The '||?2 OR "
    "i.value GLOB 'On the '||?2 ) AND i.fieldID=110  AND i.itemTypeID NOT IN (1,14) ORDER BY "
    "i.value,i.itemID,cr.lastname",
    // ZNCRTI
    "SELECT i.itemID,i.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM (items itm NATURAL JOIN "
    "itemData id NATURAL JOIN itemDataValues idv) i LEFT OUTER JOIN (itemCreators ic NATURAL JOIN creators c "
    "NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE (i.value GLOB ?2 OR i.value GLOB 'On '||?2 "
    "OR i.value GLOB 'A '||?2 OR i.value GLOB 'An '||?2 OR i.value GLOB 'On a '||?2 OR i.value GLOB 'On an "
    "'||?2 OR i.value GLOB 'The '||?2 OR i.value GLOB 'On the '||?2 ) AND i.fieldID=110  AND i.itemTypeID "
    "NOT IN (1,14) ORDER BY cr.lastname,i.value,i.itemID",
    // ZC_NCRTI
    "SELECT i.itemID,i.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM collectionitems ci NATURAL "
    "JOIN (items itm NATURAL JOIN itemData id NATURAL JOIN itemDataValues idv) i LEFT OUTER JOIN "
    "(itemCreators ic NATURAL JOIN creators c NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE "
    "ci.collectionID=?1 AND (i.value GLOB ?2 OR i.value GLOB 'On '||?2 OR i.value GLOB 'A '||?2 OR i.value "
    "GLOB 'An '||?2 OR i.value GLOB 'On a '||?2 OR i.value GLOB 'On an '||?2 OR i.value GLOB 'The '||?2 OR "
    "i.value GLOB 'On the '||?2 ) AND i.fieldID=110  AND i.itemTypeID NOT IN (1,14) ORDER BY "
    "cr.lastname,i.value,i.itemID",
    // ZTICR
    "SELECT id.itemID,idv.value,cd.firstName,cd.lastName FROM itemCreators ic NATURAL JOIN creators c "
    "NATURAL JOIN creatorData cd, itemDataValues idv NATURAL JOIN itemData id WHERE cd.lastname GLOB ?3 AND "
    "(idv.value GLOB ?2 OR idv.value GLOB 'On '||?2 OR idv.value GLOB 'A '||?2 OR idv.value GLOB 'An '||?2 "
    "OR idv.value GLOB 'On a '||?2 OR idv.value GLOB 'On an '||?2 OR idv.value GLOB 'The '||?2 OR idv.value "
    "GLOB 'On the '||?2 ) AND id.itemID=ic.itemID AND id.fieldID=110 ORDER BY "
    "idv.value,id.itemID,cd.lastname",
    // ZC_TICR
    "SELECT id.itemID,idv.value,cd.firstName,cd.lastName FROM itemCreators ic NATURAL JOIN creators c "
    "NATURAL JOIN creatorData cd, itemDataValues idv NATURAL JOIN itemData id NATURAL JOIN collectionitems "
    "ci WHERE ci.collectionID=?1 AND cd.lastname GLOB ?3 AND (idv.value GLOB ?2 OR idv.value GLOB 'On '||?2 "
    "OR idv.value GLOB 'A '||?2 OR idv.value GLOB 'An '||?2 OR idv.value GLOB 'On a '||?2 OR idv.value GLOB "
    "'On an '||?2 OR idv.value GLOB 'The '||?2 OR idv.value GLOB 'On the '||?2 ) AND id.itemID=ic.itemID AND "
    "id.fieldID=110 ORDER BY idv.value,id.itemID,cd.lastname",
    // ZCRTI
    "SELECT id.itemID,idv.value,cd.firstName,cd.lastName FROM itemCreators ic NATURAL JOIN creators c "
    "NATURAL JOIN creatorData cd, itemDataValues idv NATURAL JOIN itemData id WHERE cd.lastname GLOB ?3 AND "
    "(idv.value GLOB ?2 OR idv.value GLOB 'On '||?2 OR idv.value GLOB 'A '||?2 OR idv.value GLOB 'An '||?2 "
    "OR idv.value GLOB 'On a '||?2 OR idv.value GLOB 'On an '||?2 OR idv.value GLOB 'The '||?2 OR idv.value "
    "GLOB 'On the '||?2 ) AND id.itemID=ic.itemID AND id.fieldID=110 ORDER BY "
    "cd.lastname,idv.value,id.itemID",
    // ZC_CRTI
    "SELECT id.itemID,idv.value,cd.firstName,cd.lastName FROM itemCreators ic NATURAL JOIN creators c "
    "NATURAL JOIN creatorData cd, itemDataValues idv NATURAL JOIN itemData id NATURAL JOIN collectionitems "
    "ci WHERE ci.collectionID=?1 AND cd.lastname GLOB ?3 AND (idv.value GLOB ?2 OR idv.value GLOB 'On '||?2 "
    "OR idv.value GLOB 'A '||?2 OR idv.value GLOB 'An '||?2 OR idv.value GLOB 'On a '||?2 OR idv.value GLOB "
    "'On an '||?2 OR idv.value GLOB 'The '||?2 OR idv.value GLOB 'On the '||?2 ) AND id.itemID=ic.itemID AND "
    "id.fieldID=110 ORDER BY cd.lastname,idv.value,id.itemID",
    // ZDATE
    "SELECT i.itemID,i.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM (items itm NATURAL JOIN "
    "itemData id NATURAL JOIN itemDataValues idv) i LEFT OUTER JOIN (itemCreators ic NATURAL JOIN creators c "
    "NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE i.dateAdded LIKE ?4 AND i.fieldID=110 AND "
    "i.itemTypeID NOT IN (1,14) ORDER BY i.dateAdded,i.itemID DESC ",
    // ZC_DATE
    "SELECT i.itemID,i.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM collectionitems ci NATURAL "
    "JOIN (items itm NATURAL JOIN itemData id NATURAL JOIN itemDataValues idv) i LEFT OUTER JOIN "
    "(itemCreators ic NATURAL JOIN creators c NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE "
    "ci.collectionID=?1 AND i.dateAdded LIKE ?4 AND i.fieldID=110 AND i.itemTypeID NOT IN (1,14) ORDER BY "
    "i.dateAdded,i.itemID DESC ",
    // ZTAGED
    "SELECT id.itemID,idv.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM items i NATURAL JOIN "
    "itemTags it NATURAL JOIN itemData id NATURAL JOIN itemDataValues idv LEFT OUTER JOIN (itemCreators ic "
    "NATURAL JOIN creators c NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE it.tagID IN "
    "(?5,?6,?7) AND id.fieldID=110 AND i.itemTypeID NOT IN (1,14) GROUP BY "
    "i.itemID,idv.value,cr.firstName,cr.lastName HAVING SUM(it.tagID)=?8 ORDER BY idv.value,i.itemID ",
    // ZC_TAGED
    "SELECT id.itemID,idv.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM collectionItems ci "
    "NATURAL JOIN items i NATURAL JOIN itemTags it NATURAL JOIN itemData id NATURAL JOIN itemDataValues idv "
    "LEFT OUTER JOIN (itemCreators ic NATURAL JOIN creators c NATURAL JOIN creatorData cd) cr ON "
    "i.itemID=cr.itemID WHERE ci.collectionID=?1 AND it.tagID IN (?5,?6,?7) AND id.fieldID=110 AND "
    "i.itemTypeID NOT IN (1,14) GROUP BY i.itemID,idv.value,cr.firstName,cr.lastName HAVING SUM(it.tagID)=?8 "
    "ORDER BY idv.value,i.itemID ",
    // ZTAG
    "SELECT DISTINCT t.tagID, t.name FROM tags t NATURAL JOIN itemTags it WHERE it.itemID IN (SELECT "
    "it.itemID from itemTags it  WHERE it.tagID IN (?5,?6,?7)  GROUP BY it.itemID  HAVING SUM(it.tagID)=?8 ) "
    "ORDER BY t.type DESC, t.name DESC",
    // ZC_TAG
    "SELECT DISTINCT t.tagID, t.name FROM tags t NATURAL JOIN itemTags it NATURAL JOIN collectionitems ci "
    "WHERE ci.collectionID=?1 AND it.itemID IN (SELECT it.itemID from itemTags it  WHERE it.tagID IN "
    "(?5,?6,?7)  GROUP BY it.itemID  HAVING SUM(it.tagID)=?8 ) ORDER BY t.type DESC, t.name DESC",
    // ZAT
    "SELECT a.sourceitemID, a.mimeType, a.path, i.key FROM itemAttachments a NATURAL JOIN items i WHERE "
    "sourceitemID=?9",
    // ZRECENT
    "SELECT i.itemID,i.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM (items itm NATURAL JOIN "
    "itemData id NATURAL JOIN itemDataValues idv) i LEFT OUTER JOIN (itemCreators ic NATURAL JOIN creators c "
    "NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE i.itemID=?10 AND i.fieldID=110  AND "
    "i.itemTypeID NOT IN (1,14) ",
};

const char* const ry_label_texts[2] = {
    "SELECT c.collectionID,c.collectionName FROM collections c ORDER BY c.collectionName DESC",
    "SELECT t.tagID,t.name FROM tags t WHERE t.type=0 ORDER BY t.name DESC",
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

// PENDING(lists issue): the listings.
void ry_list_items(ry_search_data*) {}
void ry_append_items(sqlite3_stmt*, GtkTreeModel*, gboolean) {}
void ry_append_items_foreach(gpointer, gpointer) {}
void ry_list_recent_items(gpointer) {}
void ry_list_items_by_button(GtkWidget*, gpointer) {}
void ry_list_items_by_row_activation(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer) {}
void ry_list_items_by_icon_activation(GtkIconView*, GtkTreePath*, gpointer) {}
void ry_list_items_by_selection(GtkTreeSelection*, gpointer) {}
void ry_list_items_by_icon_selection(GtkIconView*, gpointer) {}
void ry_list_recent_items_by_button(GtkWidget*, gpointer) {}
void ry_list_attachments(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer) {}
void ry_prepend_attachments(sqlite3_stmt*, GtkTreeModel*) {}
void ry_initialize_labels(sqlite3*, int, GtkTreeModel*) {}
void ry_prepend_labels(sqlite3_stmt*, GtkTreeModel*) {}
