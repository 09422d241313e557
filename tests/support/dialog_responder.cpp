// Dismissing dialogs from inside their own nested main loop.
#include "dialog_responder.h"

namespace ryt {

DialogResponder::DialogResponder() { source_ = g_timeout_add(20, poll, this); }

DialogResponder::~DialogResponder() { g_source_remove(source_); }

gboolean DialogResponder::poll(gpointer data) {
    auto* self = static_cast<DialogResponder*>(data);
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* l = toplevels; l != nullptr; l = l->next) {
        auto* widget = static_cast<GtkWidget*>(l->data);
        if (!GTK_IS_MESSAGE_DIALOG(widget) || !gtk_widget_get_mapped(widget)) continue;
        gchar* text = nullptr;
        g_object_get(widget, "text", &text, nullptr);
        self->texts_.push_back(text != nullptr ? text : "");
        g_free(text);
        gtk_dialog_response(GTK_DIALOG(widget), GTK_RESPONSE_OK);
        break;  // one at a time: the next is answered on a later tick
    }
    g_list_free(toplevels);
    return G_SOURCE_CONTINUE;
}

}  // namespace ryt
