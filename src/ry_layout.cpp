// Sizes from the screen: the program was first drawn for a 1024x1280 screen whose X
// server reported about 100 dpi. Every size scales with the screen's pixels, and
// none falls below what a pen and a reader's eye need on the device itself.
#include "ry_layout.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "ry_que.h"
#include "ry_raii.h"
#include "ry_test_hooks.h"

namespace {

constexpr double mm_per_inch = 25.4;

// X servers on e-paper readers often report 100 dpi whatever the panel, so the
// reported size is believed only when it says the pixels are denser than those of
// the common panels with that many pixels on their long side.
struct Panel {
    int long_side;
    double dpi;
};
constexpr Panel panels[] = {{800, 167}, {1280, 160}, {1872, 227}};

double typical_dpi(int long_side) {
    if (long_side <= panels[0].long_side) return panels[0].dpi;
    for (size_t i = 1; i < std::size(panels); ++i) {
        const Panel &a = panels[i - 1], &b = panels[i];
        if (long_side <= b.long_side)
            return a.dpi + (b.dpi - a.dpi) * (long_side - a.long_side) / (b.long_side - a.long_side);
    }
    return panels[std::size(panels) - 1].dpi;
}

// The least sizes on the device, with a little margin for rounding.
constexpr double key_height_mm = 7.1;
constexpr double key_width_mm = 5.0;
constexpr double row_height_mm = 6.15;
constexpr double font_mm = 2.6;

// The sizes on the first screen, in its pixels.
constexpr int ref_width = 1024, ref_height = 1280;
constexpr int ref_font_px = 18, ref_key_height = 36, ref_row_height = 30, ref_browse_height = 350;
constexpr int ref_title_width = 640, ref_collection_width = 256;

std::optional<ry_layout> chosen;

int at_least(double reference_px, double scale, double mm, double px_per_mm) {
    return int(std::ceil(std::max(reference_px * scale, mm * px_per_mm)));
}

// Height of the search box: letter grid, separator, month grid, with their padding.
int search_box_height(const ry_layout& s) {
    int letter_lines = 2 * s.title_lines;
    return 2 * 2 + letter_lines * s.key_height + (letter_lines - 1) + 2 + 2 * 2 +
           s.month_lines * s.key_height + (s.month_lines - 1);
}

// Cells of the given spans one after another on lines of `columns`; a line that is
// full goes on at column `indent` of the next. The cells from `right_from` on end
// the last line at its right edge.
std::vector<ry_grid_cell> flow(const std::vector<int>& spans, size_t right_from, int columns, int indent) {
    std::vector<ry_grid_cell> cells(spans.size());
    int line = 0, column = 0;
    for (size_t i = 0; i < right_from; ++i) {
        if (column + spans[i] > columns && column > indent) {
            ++line;
            column = indent;
        }
        cells[i] = {column, column + spans[i], line};
        column += spans[i];
    }
    int right_span = 0;
    for (size_t i = right_from; i < spans.size(); ++i) right_span += spans[i];
    if (column > columns - right_span) ++line;
    column = columns - right_span;
    for (size_t i = right_from; i < spans.size(); ++i) {
        cells[i] = {column, column + spans[i], line};
        column += spans[i];
    }
    return cells;
}

int lines_of(const std::vector<ry_grid_cell>& cells) { return cells.back().top + 1; }

int list_height(const ry_layout& s, int rows, bool paged) {
    return s.header_height + rows * s.row_height + (paged ? s.key_height : 0);
}

// Below the keys and the two separators (each padded 2 above and below), the
// attachment and item lists (each padded 2) and the browse row share the height;
// the item list keeps at least six rows and its paging keys while no attachment
// is listed.
void share_height(ry_layout& s, int keys_height) {
    int lists_and_browse = s.height - 2 * s.border - keys_height - 2 * (2 + 2 * 2) - 2 * 2 * 2;
    int browse_max = int(ref_browse_height * s.height / double(ref_height));
    int browse_room = lists_and_browse - list_height(s, 6, true);
    s.browse_height = std::max(std::min(browse_max, browse_room), list_height(s, 1, true));
    s.list_space = lists_and_browse - s.browse_height;
}

}  // namespace

std::vector<ry_grid_cell> ry_letter_row_cells(int columns) {
    std::vector<int> spans(nl + 1, 1);
    spans[0] = 3;
    return flow(spans, spans.size(), columns, 3);
}

std::vector<ry_grid_cell> ry_month_row_cells(int columns) {
    std::vector<int> spans(1 + ry_month_keys + 3, 1);
    spans[0] = 3;                  // "Added"
    spans[ry_month_keys + 1] = 4;  // "month ago"
    spans[ry_month_keys + 2] = 3;  // "Recent"
    spans[ry_month_keys + 3] = 2;  // "Quit"
    return flow(spans, ry_month_keys + 2, columns, 3);
}

ry_layout ry_layout_for(int width, int height, int width_mm, int height_mm) {
    ry_layout s{};
    s.width = width;
    s.height = height;
    double reported = (width_mm > 0 && height_mm > 0)
                          ? std::max(width / double(width_mm), height / double(height_mm))
                          : 0.0;
    s.px_per_mm = std::max(reported, typical_dpi(std::max(width, height)) / mm_per_inch);
    s.scale = std::min(width / double(ref_width), height / double(ref_height));
    const double p = s.px_per_mm;

    s.border = 2;
    s.font_px = at_least(ref_font_px, s.scale, font_mm, p);
    s.key_height = at_least(ref_key_height, s.scale, key_height_mm, p);
    s.key_width = int(std::ceil(key_width_mm * p));
    s.row_height = at_least(ref_row_height, s.scale, row_height_mm, p);
    // A column title: one line of text in a button with a thin frame.
    s.header_height = int(std::ceil(s.font_px * 1.25)) + 10;

    const int inner = width - 2 * s.border;
    s.grid_columns = std::clamp(inner / s.key_width, 18, nl + 3);
    s.title_lines = lines_of(ry_letter_row_cells(s.grid_columns));
    s.month_lines = lines_of(ry_month_row_cells(s.grid_columns));

    const int list_width = inner - 2 * 2;
    const double widen = width / double(ref_width);
    s.title_width = int(ref_title_width * widen);
    s.name_width = (list_width - s.title_width) / 2;
    s.collection_width = std::max(int(ref_collection_width * widen), 4 * s.key_width + 8);

    share_height(s, search_box_height(s));
    return s;
}

ry_layout ry_layout_for_screen(GdkScreen* screen) {
    return ry_layout_for(gdk_screen_get_width(screen), gdk_screen_get_height(screen),
                         gdk_screen_get_width_mm(screen), gdk_screen_get_height_mm(screen));
}

const ry_layout& ry_sizes() {
    if (!chosen) chosen = ry_layout_for_screen(gdk_screen_get_default());
    return *chosen;
}

void ry_set_layout(const ry_layout& layout) { chosen = layout; }

void ry_fit_layout(int search_box_height, int header_height) {
    ry_layout s = ry_sizes();
    s.header_height = header_height;
    share_height(s, search_box_height);
    chosen = s;
}

int ry_list_height(int rows, bool paged) { return list_height(ry_sizes(), rows, paged); }

int ry_list_rows(int height, bool paged) {
    const ry_layout& s = ry_sizes();
    return std::max(0, (height - list_height(s, 0, paged)) / s.row_height);
}

void ry_apply_layout_settings() {
    GtkSettings* settings = gtk_settings_get_default();
    ry::gchar_ptr font(g_strdup_printf("Sans %dpx", ry_sizes().font_px));
    // Plain text on the keys: icons come in colours and greys that e-paper renders poorly.
    g_object_set(settings, "gtk-font-name", font.get(), "gtk-button-images", FALSE, NULL);
}
