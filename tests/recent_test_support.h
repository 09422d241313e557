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

// The text GLib writes for a key file, and for key-file text once loaded.
inline std::string key_file_text(GKeyFile* keyfile) {
    ry::gchar_ptr data(g_key_file_to_data(keyfile, nullptr, nullptr));
    return data.get();
}
inline std::string key_file_text(const std::string& text) {
    ry::key_file_ptr keyfile(g_key_file_new());
    g_key_file_load_from_data(keyfile.get(), text.data(), text.size(),
                              GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
                              nullptr);
    return key_file_text(keyfile.get());
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

// A tree view over an attachment model with one row per owning item id, its
// "row-activated" connected to ry_push_history as the main window connects it.
class AttachmentView {
  public:
    AttachmentView(const std::vector<int>& source_ids, GQueue* history) {
        store_.reset(ry_create_attachment_model());
        for (int id : source_ids) {
            GtkTreeIter iter;
            gtk_list_store_append(store_.get(), &iter);
            gtk_list_store_set(store_.get(), &iter, ATTACHMENT_SOURCE_ID, id, ATTACHMENT_MIMETYPE,
                               "application/pdf", ATTACHMENT_PATH, "storage:paper.pdf", ATTACHMENT_KEY,
                               "ABCD2345", -1);
        }
        view_.reset(
            GTK_TREE_VIEW(g_object_ref_sink(gtk_tree_view_new_with_model(GTK_TREE_MODEL(store_.get())))));
        column_ = gtk_tree_view_column_new_with_attributes("path", gtk_cell_renderer_text_new(), "text",
                                                           ATTACHMENT_PATH, nullptr);
        gtk_tree_view_append_column(view_.get(), column_);
        g_signal_connect(view_.get(), "row-activated", G_CALLBACK(ry_push_history), history);
    }
    ~AttachmentView() { gtk_widget_destroy(GTK_WIDGET(view_.get())); }
    AttachmentView(const AttachmentView&) = delete;
    AttachmentView& operator=(const AttachmentView&) = delete;

    // Selects the row and activates it, as a press on it does.
    void activate(int row) {
        ry::tree_path_ptr path(gtk_tree_path_new_from_indices(row, -1));
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(view_.get()), path.get());
        gtk_tree_view_row_activated(view_.get(), path.get(), column_);
    }
    // Activates the row while no row is selected.
    void activate_unselected(int row) {
        gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(view_.get()));
        ry::tree_path_ptr path(gtk_tree_path_new_from_indices(row, -1));
        gtk_tree_view_row_activated(view_.get(), path.get(), column_);
    }

  private:
    ry::gobject_ptr<GtkListStore> store_;
    ry::gobject_ptr<GtkTreeView> view_;  // adopts the sunk floating reference
    GtkTreeViewColumn* column_ = nullptr;
};

// Counts every message logged through GLib (warnings, criticals, ...) while
// still printing it.
class LogCounter {
  public:
    static void reset() { counter() = 0; }
    static int count() { return counter(); }
    static void install() {
        g_log_set_writer_func(
            +[](GLogLevelFlags level, const GLogField* fields, gsize n, gpointer) {
                if (level &
                    (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE))
                    ++counter();
                return g_log_writer_default(level, fields, n, nullptr);
            },
            nullptr, nullptr);
    }

  private:
    static std::atomic<int>& counter() {
        static std::atomic<int> n{0};
        return n;
    }
};

// Installed before main, so before anything can log.
inline const bool log_counter_installed = (LogCounter::install(), true);

}  // namespace ryt
