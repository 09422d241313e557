// The item list's rows: a whole listing kept compactly, and the one page of it
// that the view's model holds, paged with the tool box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "gtk_include.h"

// The rows of one listing. A row without a title continues the item of the row
// above; a row without names is the separator that ends a listing. Texts are kept
// once in blocks that never move, and each pair of names only once, since a
// listing names the same creators again and again.
class ry_item_rows {
  public:
    void clear();
    // Copies the texts; title nullptr for a continuation row, first and last
    // nullptr for the separator.
    void append(gint64 id, const char* title, const char* first, const char* last);
    size_t size() const { return rows_.size(); }
    gint64 id(size_t i) const { return rows_[i].id; }
    // nullptr where the row leaves the column unset.
    const char* title(size_t i) const { return text(rows_[i].title); }
    const char* first(size_t i) const { return text(rows_[i].names); }
    const char* last(size_t i) const;
    bool is_head(size_t i) const { return rows_[i].title != kNone; }

  private:
    static constexpr uint32_t kNone = UINT32_MAX;
    struct Row {
        gint64 id;
        uint32_t title, names;  // offsets of the title and of "first\0last\0"
    };
    const char* text(uint32_t offset) const;
    uint32_t store(const char* bytes, size_t n);
    uint32_t store_names(const char* first, const char* last);

    std::deque<Row> rows_;
    std::vector<std::unique_ptr<char[]>> blocks_;  // an offset's high bits name the block
    size_t used_ = 0;                              // of the last block
    std::unordered_map<std::string_view, uint32_t> names_;
    std::string key_;  // the names being looked up
};

// Gives the item list a store of its own; the view's model then holds one page.
void ry_attach_item_rows(GtkTreeView* item_list);
// The store of the item list; nullptr for any other view.
ry_item_rows* ry_item_rows_of(GtkTreeView* view);
// Shows the page that begins with the first row; called after each new listing.
void ry_show_first_page(GtkTreeView* item_list);

// Paging the item list's listing. Each returns false, doing nothing, for a view
// without a store.
bool ry_page_to_first(GtkWidget* view);
bool ry_page_up(GtkWidget* view);
bool ry_page_down(GtkWidget* view);
bool ry_page_to_last(GtkWidget* view);
// 1 while rows of the listing lie above or below the page's fully visible rows,
// 0 when all of them show, -1 for a view without a store.
int ry_page_can_move(GtkWidget* view);
// The listing's index of the page's first row; 0 for a view without a store.
size_t ry_page_top(GtkWidget* view);
