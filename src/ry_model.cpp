// The list stores of items, attachments and labels.
#include "ry_model.h"

GtkListStore* ry_create_item_model() {
    return gtk_list_store_new(N_ITEM_COLUMNS, G_TYPE_INT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
}

GtkListStore* ry_create_attachment_model() {
    return gtk_list_store_new(N_ATTACHMENT_COLUMNS, G_TYPE_INT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                              G_TYPE_INT);
}

GtkListStore* ry_create_label_model() {
    return gtk_list_store_new(N_LABEL_COLUMNS, G_TYPE_INT, G_TYPE_STRING);
}
