// Helpers for the history tests: a loaded history that frees itself, a plain
// attachment list wired to the history, and a counter of GLib log messages.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "gtk_include.h"
#include "ry_model.h"
#include "ry_raii.h"
#include "ry_recent.h"

namespace ryt {

inline std::vector<int> ids(GQueue* queue) {
    std::vector<int> out;
    for (GList* l = queue->head; l != nullptr; l = l->next) out.push_back(GPOINTER_TO_INT(l->data));
    return out;
}

// Key-file text as GLib lays it out once loaded.
inline std::string key_file_text(const std::string& text) {
    ry::key_file_ptr keyfile(g_key_file_new());
    g_key_file_load_from_data(keyfile.get(), text.data(), text.size(),
                              GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
                              nullptr);
    return ry::gchar_ptr(g_key_file_to_data(keyfile.get(), nullptr, nullptr)).get();
}

// The queue and key file as start-up has them; save() hands both over as shutdown does.
class History {
  public:
    explicit History(const std::string& path) : path_(path) {
        keyfile_ = ry_parse_history_file(path_.c_str(), &queue_);
    }
    ~History() {
        if (keyfile_ != nullptr) g_key_file_free(keyfile_);
        g_queue_clear(&queue_);
    }
    History(const History&) = delete;
    History& operator=(const History&) = delete;
    GQueue* queue() { return &queue_; }
    GKeyFile* keyfile() { return keyfile_; }
    void save() {
        ry_save_history_file(path_.c_str(), keyfile_, &queue_);
        keyfile_ = nullptr;
    }

  private:
    std::string path_;
    GQueue queue_ = G_QUEUE_INIT;
    GKeyFile* keyfile_ = nullptr;
};

// Activates row `row` of an attachment list whose rows belong to the items
// `source_ids`, its "row-activated" connected to ry_push_history as the window
// connects it; with the row selected, as a tap leaves it, or with nothing selected.
inline void activate(GQueue* history, const std::vector<int>& source_ids, int row, bool selected = true) {
    ry::gobject_ptr<GtkListStore> store(ry_create_attachment_model());
    for (int id : source_ids)
        gtk_list_store_insert_with_values(store.get(), nullptr, -1, ATTACHMENT_SOURCE_ID, id, -1);
    GtkWidget* view =
        GTK_WIDGET(g_object_ref_sink(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store.get()))));
    GtkTreeViewColumn* column = gtk_tree_view_column_new();
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), column);
    g_signal_connect(view, "row-activated", G_CALLBACK(ry_push_history), history);
    ry::tree_path_ptr path(gtk_tree_path_new_from_indices(row, -1));
    if (selected)
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), path.get());
    gtk_tree_view_row_activated(GTK_TREE_VIEW(view), path.get(), column);
    gtk_widget_destroy(view);
    g_object_unref(view);
}

// Counts every message logged through GLib (warnings, criticals, ...) while
// still printing it; installed before main, so before anything can log.
inline std::atomic<int> log_messages{0};
inline const bool log_counter_installed =
    (g_log_set_writer_func(
         +[](GLogLevelFlags level, const GLogField* fields, gsize n, gpointer) {
             if (level &
                 (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE))
                 ++log_messages;
             return g_log_writer_default(level, fields, n, nullptr);
         },
         nullptr, nullptr),
     true);

}  // namespace ryt
