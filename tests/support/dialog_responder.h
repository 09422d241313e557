// Answers message dialogs as a user would: once a dialog is on the screen, its
// text is recorded and it is dismissed with OK.
#pragma once

#include <string>
#include <vector>

#include "gtk_include.h"

namespace ryt {

class DialogResponder {
  public:
    DialogResponder() { source_ = g_timeout_add(20, poll, this); }
    ~DialogResponder() { g_source_remove(source_); }
    DialogResponder(const DialogResponder&) = delete;
    DialogResponder& operator=(const DialogResponder&) = delete;

    // The primary texts of the dialogs answered so far, in order.
    const std::vector<std::string>& texts() const { return texts_; }

  private:
    // Runs inside the dialog's own nested main loop.
    static gboolean poll(gpointer data) {
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

    guint source_ = 0;
    std::vector<std::string> texts_;
};

}  // namespace ryt
