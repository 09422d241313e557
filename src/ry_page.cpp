// The item list's page store: the rows of a whole listing kept compactly, the
// page of them that the view's model holds, and paging through them. The view
// measures and draws only the page, whatever the listing's length.
#include "ry_page.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "ry_model.h"
#include "ry_raii.h"

// ---- The compact rows ----

namespace {

constexpr size_t kBlock = 64 * 1024;

}  // namespace

void ry_item_rows::clear() {
    // Given back, not kept: the next listing may be a page where this was a library.
    std::deque<Row>().swap(rows_);
    for (TextSet* set : {&titles_, &names_}) {
        std::vector<uint32_t>().swap(set->slots);
        set->count = 0;
    }
    blocks_.clear();
    used_ = 0;
}

const char* ry_item_rows::text(uint32_t offset) const {
    return offset == kNone ? nullptr : blocks_[offset / kBlock].get() + offset % kBlock;
}

const char* ry_item_rows::last(size_t i) const {
    const char* f = first(i);
    return f != nullptr ? f + strlen(f) + 1 : nullptr;
}

// A text longer than a block gets blocks of its own, the first holding it whole.
uint32_t ry_item_rows::store(const char* bytes, size_t n) {
    if (blocks_.empty() || used_ + n > kBlock) {
        size_t count = (n + kBlock - 1) / kBlock;
        blocks_.push_back(std::make_unique<char[]>(count * kBlock));
        for (size_t extra = 1; extra < count; ++extra) blocks_.emplace_back();
        used_ = n > kBlock ? kBlock : 0;
        if (n > kBlock) {
            memcpy(blocks_[blocks_.size() - count].get(), bytes, n);
            return uint32_t((blocks_.size() - count) * kBlock);
        }
    }
    uint32_t offset = uint32_t((blocks_.size() - 1) * kBlock + used_);
    memcpy(blocks_.back().get() + used_, bytes, n);
    used_ += n;
    return offset;
}

std::string_view ry_item_rows::stored(uint32_t offset, int parts) const {
    const char* begin = text(offset);
    const char* end = begin;
    for (int p = 0; p < parts; ++p) end += strlen(end) + 1;
    return {begin, size_t(end - begin)};
}

void ry_item_rows::grow(TextSet& set) {
    std::vector<uint32_t> old(std::max<size_t>(set.slots.size() * 2, 1024), kNone);
    old.swap(set.slots);
    const size_t mask = set.slots.size() - 1;
    for (uint32_t offset : old) {
        if (offset == kNone) continue;
        size_t slot = std::hash<std::string_view>{}(stored(offset, set.parts)) & mask;
        while (set.slots[slot] != kNone) slot = (slot + 1) & mask;
        set.slots[slot] = offset;
    }
}

uint32_t ry_item_rows::intern(TextSet& set, std::string_view key) {
    if (2 * (set.count + 1) > set.slots.size()) grow(set);
    const size_t mask = set.slots.size() - 1;
    size_t slot = std::hash<std::string_view>{}(key)&mask;
    for (; set.slots[slot] != kNone; slot = (slot + 1) & mask)
        if (stored(set.slots[slot], set.parts) == key) return set.slots[slot];
    ++set.count;
    return set.slots[slot] = store(key.data(), key.size());
}

void ry_item_rows::append(gint id, const char* title, const char* first, const char* last) {
    uint32_t t = title != nullptr ? intern(titles_, {title, strlen(title) + 1}) : kNone;
    uint32_t names = kNone;
    if (first != nullptr && last != nullptr) {
        key_.assign(first);
        key_.push_back('\0');
        key_.append(last);
        key_.push_back('\0');
        names = intern(names_, key_);
    }
    rows_.push_back({id, t, names});
}

// ---- The page on screen ----

namespace {

const char kPageKey[] = "ry-item-page";

struct ItemPage {
    ry_item_rows rows;
    size_t top = 0;       // the listing's index of the page's first row
    size_t fully = 0;     // rows of the page that show whole
    int filled_for = -1;  // the visible height the page was made for
    long selected = -1;   // the listing's index of the selected row, shown or not
    guint refill_source = 0;
    // One row, through which the view's own columns measure a row of the listing.
    ry::gobject_ptr<GtkListStore> scratch{ry_create_item_model()};

    ~ItemPage() {
        if (refill_source != 0) g_source_remove(refill_source);
    }
};

ItemPage* page_of(GtkWidget* view) {
    if (!GTK_IS_TREE_VIEW(view)) return nullptr;
    return static_cast<ItemPage*>(g_object_get_data(G_OBJECT(view), kPageKey));
}

// The four columns of row i as the model holds them; unset columns are NULL.
void set_row_values(const ry_item_rows& rows, size_t i, GValue (&values)[4]) {
    g_value_init(&values[0], G_TYPE_INT);
    g_value_set_int(&values[0], rows.id(i));
    const char* texts[3] = {rows.title(i), rows.first(i), rows.last(i)};
    for (int c = 0; c < 3; ++c) {
        g_value_init(&values[c + 1], G_TYPE_STRING);
        g_value_set_static_string(&values[c + 1], texts[c]);
    }
}

gint kColumns[4] = {ITEM_ID, ITEM_TITLE, ITEM_CREATOR_FIRSTNAME, ITEM_CREATOR_LASTNAME};

void insert_row(GtkListStore* store, GtkTreeIter* iter, const ry_item_rows& rows, size_t i) {
    GValue values[4] = {G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT, G_VALUE_INIT};
    set_row_values(rows, i, values);
    gtk_list_store_insert_with_valuesv(store, iter, -1, kColumns, values, 4);
    for (GValue& v : values) g_value_unset(&v);
}

// Row i's height in the view, measured as the view measures its rows: the
// tallest of its columns' cells, plus the row separator, and at least an expander.
int row_height(GtkTreeView* view, ItemPage& page, size_t i) {
    GtkListStore* scratch = page.scratch.get();
    gtk_list_store_clear(scratch);
    GtkTreeIter iter;
    insert_row(scratch, &iter, page.rows, i);
    int height = 0;
    GList* columns = gtk_tree_view_get_columns(view);
    for (GList* c = columns; c != nullptr; c = c->next) {
        auto* column = GTK_TREE_VIEW_COLUMN(c->data);
        if (!gtk_tree_view_column_get_visible(column)) continue;
        gtk_tree_view_column_cell_set_cell_data(column, GTK_TREE_MODEL(scratch), &iter, FALSE, FALSE);
        int h = 0;
        gtk_tree_view_column_cell_get_size(column, nullptr, nullptr, nullptr, nullptr, &h);
        height = MAX(height, h);
    }
    g_list_free(columns);
    gint separator = 0, expander = 0;
    gtk_widget_style_get(GTK_WIDGET(view), "vertical-separator", &separator, "expander-size", &expander,
                         NULL);
    return MAX(height + separator, expander + 4);
}

// The height the rows get: before the view has its size, the screen's.
int visible_height(GtkTreeView* view) {
    GtkWidget* widget = GTK_WIDGET(view);
    if (widget->allocation.height <= 1) return gdk_screen_get_height(gtk_widget_get_screen(widget));
    GdkRectangle rect;
    gtk_tree_view_get_visible_rect(view, &rect);
    return rect.height;
}

// The listing's index of the row selected in the view; the one selected before
// while the view shows none, since the page it was on went.
long selected_row(GtkTreeView* view, const ItemPage& page) {
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(view), &model, &iter))
        return page.selected;
    ry::tree_path_ptr path(gtk_tree_model_get_path(model, &iter));
    return long(page.top) + gtk_tree_path_get_indices(path.get())[0];
}

// Fills the view's model with the rows from `top` that fill the view, the last
// of them possibly in part. A row selected before stays selected while it shows.
void show_page(GtkTreeView* view, ItemPage& page, size_t top) {
    const int height = visible_height(view);
    size_t end = top, fully = 0;
    for (int used = 0; end < page.rows.size() && used < height; ++end) {
        used += row_height(view, page, end);
        if (used <= height) fully = end + 1 - top;
    }
    const long selected = page.selected = selected_row(view, page);
    page.top = top;
    page.fully = fully;
    page.filled_for = height;

    GtkTreeModel* model = gtk_tree_view_get_model(view);
    if (model == nullptr) return;
    // Detached while it is refilled, so that the view lays out the page once.
    g_object_ref(model);
    gtk_tree_view_set_model(view, nullptr);
    gtk_list_store_clear(GTK_LIST_STORE(model));
    for (size_t i = top; i < end; ++i) insert_row(GTK_LIST_STORE(model), nullptr, page.rows, i);
    gtk_tree_view_set_model(view, model);
    g_object_unref(model);
    if (selected >= long(top) && selected < long(end)) {
        ry::tree_path_ptr path(gtk_tree_path_new_from_indices(int(selected - long(top)), -1));
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path.get());
    }
}

// Where a page that should begin at row i begins: never with a continuation row,
// unless the item's rows fill more than a page. Down looks back for the item's
// first row, but not to `floor` or before it (the page it leaves began there);
// Up and Bottom look forward, up to `ceiling` exclusive, so that no row is passed.
size_t back_to_head(const ry_item_rows& rows, size_t i, size_t floor) {
    size_t h = i;
    while (h > floor && !rows.is_head(h)) --h;
    return h > floor ? h : i;
}
size_t forward_to_head(const ry_item_rows& rows, size_t i, size_t ceiling) {
    for (size_t j = i; j < ceiling; ++j)
        if (rows.is_head(j)) return j;
    return i;
}

// The first row of the page that ends with row `last` fully at the bottom edge.
size_t page_ending_at(GtkTreeView* view, ItemPage& page, size_t last) {
    const int height = visible_height(view);
    size_t first = last;
    for (int used = row_height(view, page, last); first > 0; --first) {
        used += row_height(view, page, first - 1);
        if (used > height) break;
    }
    return first;
}

gboolean refill_page(gpointer data) {
    GtkTreeView* view = GTK_TREE_VIEW(data);
    ItemPage* page = page_of(GTK_WIDGET(view));
    page->refill_source = 0;
    if (visible_height(view) != page->filled_for) show_page(view, *page, page->top);
    return G_SOURCE_REMOVE;
}

// A new height makes a new page, from the same first row, once the layout is done.
void on_size_allocate(GtkWidget* widget, GtkAllocation*, gpointer) {
    ItemPage* page = page_of(widget);
    if (page == nullptr || page->refill_source != 0) return;
    if (visible_height(GTK_TREE_VIEW(widget)) == page->filled_for) return;
    page->refill_source = g_idle_add_full(G_PRIORITY_HIGH_IDLE, refill_page, widget, nullptr);
}

}  // namespace

void ry_attach_item_rows(GtkTreeView* item_list) {
    ry::set_owned_data(item_list, kPageKey, std::make_unique<ItemPage>());
    g_signal_connect_after(item_list, "size-allocate", G_CALLBACK(on_size_allocate), nullptr);
}

ry_item_rows* ry_item_rows_of(GtkTreeView* view) {
    ItemPage* page = page_of(GTK_WIDGET(view));
    return page != nullptr ? &page->rows : nullptr;
}

void ry_show_first_page(GtkTreeView* item_list) {
    if (ItemPage* page = page_of(GTK_WIDGET(item_list))) {
        gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(item_list));
        page->selected = -1;
        show_page(item_list, *page, 0);
    }
}

bool ry_page_to_first(GtkWidget* view) {
    ItemPage* page = page_of(view);
    if (page == nullptr) return false;
    if (page->top > 0) show_page(GTK_TREE_VIEW(view), *page, 0);
    return true;
}

// The row that was at the top goes to the bottom edge.
bool ry_page_up(GtkWidget* view) {
    ItemPage* page = page_of(view);
    if (page == nullptr) return false;
    if (page->top == 0) return true;
    GtkTreeView* tree = GTK_TREE_VIEW(view);
    size_t first = page_ending_at(tree, *page, page->top);
    if (first == page->top) --first;  // the top row alone is taller than the view
    show_page(tree, *page, forward_to_head(page->rows, first, page->top));
    return true;
}

// The first row that was not fully visible becomes the top row.
bool ry_page_down(GtkWidget* view) {
    ItemPage* page = page_of(view);
    if (page == nullptr) return false;
    if (page->top + page->fully >= page->rows.size()) return true;  // the last row shows whole
    size_t next = page->top + MAX(page->fully, size_t(1));
    show_page(GTK_TREE_VIEW(view), *page, back_to_head(page->rows, next, page->top));
    return true;
}

bool ry_page_to_last(GtkWidget* view) {
    ItemPage* page = page_of(view);
    if (page == nullptr) return false;
    if (page->rows.size() == 0) return true;
    size_t last = page->rows.size() - 1;
    size_t first = page_ending_at(GTK_TREE_VIEW(view), *page, last);
    show_page(GTK_TREE_VIEW(view), *page, forward_to_head(page->rows, first, last));
    return true;
}

int ry_page_can_move(GtkWidget* view) {
    ItemPage* page = page_of(view);
    if (page == nullptr) return -1;
    return page->top > 0 || page->top + page->fully < page->rows.size();
}

size_t ry_page_top(GtkWidget* view) {
    ItemPage* page = page_of(view);
    return page != nullptr ? page->top : 0;
}
