// The sizes of the window's parts, derived once from the screen's pixel size and
// physical size, so that one layout serves every e-paper screen.
#pragma once

#include <vector>

#include "gtk_include.h"

// The month keys: any date, then this month and the nine before it.
constexpr int ry_month_keys = 11;

// Everything is in pixels unless named otherwise.
struct ry_layout {
    int width, height;             // the screen
    double px_per_mm;              // the density the sizes are made for
    double scale;                  // the screen against the 1024x1280 one the program was first drawn for
    int border;                    // around the window's contents
    int font_px;                   // body text
    int key_height;                // keys and paging keys
    int key_width;                 // the least width of a key
    int row_height;                // list rows and tag items
    int header_height;             // a list's column titles
    int grid_columns;              // columns of the key grids; wide screens show each key row on one line
    int title_lines, month_lines;  // grid lines of a letter row and of the month row
    int title_width;               // the item list's title column; longer titles wrap
    int name_width;                // each of its two creator columns
    int collection_width;
    int browse_height;  // the row of collections and tags
    int list_space;     // the height that the attachment and item lists share
};

// The layout for a screen of width x height pixels and width_mm x height_mm.
ry_layout ry_layout_for(int width, int height, int width_mm, int height_mm);
ry_layout ry_layout_for_screen(GdkScreen* screen);
// The layout in use: the default screen's, unless a test chose another.
const ry_layout& ry_sizes();
// Shares the height again from the search box's and a column title's true heights,
// known once the window's widgets have their style.
void ry_fit_layout(int search_box_height, int header_height);

// A cell of a key grid: columns left to right (exclusive), on line top.
struct ry_grid_cell {
    int left, right, top;
};
// A letter row on a grid of `columns`: its label, then one key per search key. On
// a narrow grid the keys wrap onto further lines, under the keys above.
std::vector<ry_grid_cell> ry_letter_row_cells(int columns);
// The month row: "Added", the month keys, "month ago", then "Recent" and "Quit"
// at the right end of its last line.
std::vector<ry_grid_cell> ry_month_row_cells(int columns);

// Pixels a list needs to show `rows` rows under its column titles, with its paging
// keys below when `paged`.
int ry_list_height(int rows, bool paged);
// Rows of a list that fit in `height` pixels, paging keys included when `paged`.
int ry_list_rows(int height, bool paged);

// The body font and plain-text keys for the sizes in use; GTK's settings outrank
// the style file, so the sizes hold whatever the file says.
void ry_apply_layout_settings();
