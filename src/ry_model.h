// The three list stores: items, attachments and labels (collections and tags).
#pragma once

#include "gtk_include.h"

enum { ITEM_ID, ITEM_TITLE, ITEM_CREATOR_FIRSTNAME, ITEM_CREATOR_LASTNAME, N_ITEM_COLUMNS };
enum {
    ATTACHMENT_SOURCE_ID,
    ATTACHMENT_MIMETYPE,
    ATTACHMENT_PATH,
    ATTACHMENT_KEY,
    ATTACHMENT_LINK_MODE,  // RY_LINK_IMPORTED_FILE ... RY_LINK_URL
    N_ATTACHMENT_COLUMNS
};
// How the reference manager keeps an attachment: a file it stored under storage/KEY/
// (downloaded or saved from a page), a file elsewhere that it links to, or a web link.
enum { RY_LINK_IMPORTED_FILE, RY_LINK_IMPORTED_URL, RY_LINK_FILE, RY_LINK_URL };
enum { LABEL_ID, LABEL_NAME, N_LABEL_COLUMNS };

// Each returns a new store; the caller owns the reference.
GtkListStore* ry_create_item_model();
GtkListStore* ry_create_attachment_model();
GtkListStore* ry_create_label_model();
