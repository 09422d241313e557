// The texts the catalogue's item statements replaced. They joined every creator of
// the library to the items (the parenthesised join is built whole) before filtering.
// Kept only to compare against: the catalogue test proves that the new texts give the
// same rows in the same order, and the benchmark times both.
#pragma once

#include "ry_que.h"

#define OLD_ROWS(from)                                                                  \
    "SELECT i.itemID,i.value,ifnull(cr.firstName,''),ifnull(cr.lastName,'') FROM " from \
    " LEFT OUTER JOIN "                                                                 \
    "(itemCreators ic NATURAL JOIN creators c NATURAL JOIN creatorData cd) cr ON i.itemID=cr.itemID WHERE "
#define OLD_IN_COLLECTION "collectionItems ci JOIN listedItems i ON i.itemID=ci.itemID"
#define OLD_KEY                                                                                         \
    "(i.value GLOB ?2 OR i.value GLOB 'On '||?2 OR i.value GLOB 'A '||?2 OR i.value GLOB 'An '||?2 OR " \
    "i.value GLOB 'On a '||?2 OR i.value GLOB 'On an '||?2 OR i.value GLOB 'The '||?2 OR i.value GLOB " \
    "'On the '||?2)"
#define OLD_NAMED(collection)                                                                                \
    "SELECT i.itemID,i.value,cd.firstName,cd.lastName FROM itemCreators ic NATURAL JOIN creators c NATURAL " \
    "JOIN creatorData cd JOIN listedItems i ON i.itemID=ic.itemID " collection "WHERE "
#define OLD_COLLECTION_JOIN "JOIN collectionItems ci ON ci.itemID=i.itemID "
// The tagged items as distinct pairs, as the view once gave them.
#define OLD_TAGGED                                                                                     \
    "i.itemID IN (SELECT itemID FROM (SELECT DISTINCT itemID, tagID FROM taggedItems) WHERE tagID IN " \
    "(?5,?6,?7) GROUP BY itemID HAVING SUM(tagID)=?8)"
inline const char* const ry_replaced_texts[ZLAST] = {
    OLD_ROWS("listedItems i") OLD_KEY " ORDER BY i.value,i.itemID,cr.lastname",
    OLD_ROWS(OLD_IN_COLLECTION) "ci.collectionID=?1 AND " OLD_KEY " ORDER BY i.value,i.itemID,cr.lastname",
    OLD_ROWS("listedItems i") OLD_KEY " ORDER BY cr.lastname,i.value,i.itemID",
    OLD_ROWS(OLD_IN_COLLECTION) "ci.collectionID=?1 AND " OLD_KEY " ORDER BY cr.lastname,i.value,i.itemID",
    OLD_NAMED("") "cd.lastName GLOB ?3 AND " OLD_KEY " ORDER BY i.value,i.itemID,cd.lastName",
    OLD_NAMED(OLD_COLLECTION_JOIN) "ci.collectionID=?1 AND cd.lastName GLOB ?3 AND " OLD_KEY
                                   " ORDER BY i.value,i.itemID,cd.lastName",
    OLD_NAMED("") "cd.lastName GLOB ?3 AND " OLD_KEY " ORDER BY cd.lastName,i.value,i.itemID",
    OLD_NAMED(OLD_COLLECTION_JOIN) "ci.collectionID=?1 AND cd.lastName GLOB ?3 AND " OLD_KEY
                                   " ORDER BY cd.lastName,i.value,i.itemID",
    OLD_ROWS("listedItems i") "i.dateAdded LIKE ?4 ORDER BY i.dateAdded,i.itemID DESC",
    OLD_ROWS(
        OLD_IN_COLLECTION) "ci.collectionID=?1 AND i.dateAdded LIKE ?4 ORDER BY i.dateAdded,i.itemID DESC",
    OLD_ROWS("listedItems i") OLD_TAGGED " ORDER BY i.value,i.itemID,cr.lastname",
    OLD_ROWS(OLD_IN_COLLECTION) "ci.collectionID=?1 AND " OLD_TAGGED " ORDER BY i.value,i.itemID,cr.lastname",
    nullptr,  // the tag statements, the attachment statement: not replaced
    nullptr,
    nullptr,
    OLD_ROWS("listedItems i") "i.itemID=?10",
};
