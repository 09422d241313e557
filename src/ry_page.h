// The item list's rows: a whole listing kept compactly, and the one page of it
// that the view's model holds, paged with the tool box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gtk_include.h"

// The rows of one listing. A row without a title continues the item of the row
// above; a row without names is the separator that ends a listing. Texts are kept
// in blocks that never move, each title and each pair of names only once, since
// a listing names the same creators again and again: beside its distinct texts,
// a row takes 12 bytes, and a text about 8.
class ry_item_rows {
  public:
    void clear();
    // Copies the texts; title nullptr for a continuation row, first and last
    // nullptr for the separator.
    void append(gint id, const char* title, const char* first, const char* last);
    size_t size() const { return rows_.size(); }
    gint id(size_t i) const { return rows_[i].id; }
    // nullptr where the row leaves the column unset.
    const char* title(size_t i) const { return text(rows_[i].title); }
    const char* first(size_t i) const { return text(rows_[i].names); }
    const char* last(size_t i) const;
    bool is_head(size_t i) const { return rows_[i].title != kNone; }

  private:
    static constexpr uint32_t kNone = UINT32_MAX;
    struct Row {
        gint id;
        uint32_t title, names;  // offsets of the title and of "first\0last\0"
    };
    // Texts kept once each, found by hash: their offsets in an open-addressed
    // table at most half full, 4 bytes a slot where a node-based map takes ten
    // times that. A text is `parts` strings, each with its NUL.
    struct TextSet {
        int parts;
        std::vector<uint32_t> slots;
        size_t count = 0;
    };
    const char* text(uint32_t offset) const;
    std::string_view stored(uint32_t offset, int parts) const;
    uint32_t store(const char* bytes, size_t n);
    uint32_t intern(TextSet& set, std::string_view key);
    void grow(TextSet& set);

    std::deque<Row> rows_;
    std::vector<std::unique_ptr<char[]>> blocks_;  // an offset's high bits name the block
    size_t used_ = 0;                              // of the last block
    // In creator order an item's title comes once for each of its creators.
    TextSet titles_{1, {}, 0}, names_{2, {}, 0};
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
