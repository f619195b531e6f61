// The per-web settings.
#include "webfile/settings.h"

#include "core/value.h"

#include <cstring>

namespace tarvex {

namespace {

struct Settings {
    uint8_t input_type, echo, output_dest, newline_mode, auto_output, report_type, report_all;
    uint8_t sout, number_style, decimals, trig_units, plotting, x_intervals, y_intervals;
    uint8_t plot_colour, link_colour, create_on_double_click, ask_before_create, search_case;
    uint32_t iterations, scount, font_style;
    int32_t font_size, zoom;
    double xmax, xmin, ymax, ymin;
    char input_name[SET_NAME_MAX + 1];
    char output_name[SET_NAME_MAX + 1];
    char list_format[SET_LIST_FORMAT_MAX + 1];
    char report_format[SET_REPORT_FORMAT_MAX + 1];
    char search_text[SET_SEARCH_MAX + 1];
    char replace_text[SET_SEARCH_MAX + 1];
    char font_name[SET_FONT_NAME_MAX + 1];
    char plot_cells[SET_PLOT_CELLS_MAX + 1];
};

Settings g;
SettingsHook g_plot_colour_hook = nullptr;
char g_limit_text[NUMBER_TEXT_MAX + 1];
char g_x_cell[SET_PLOT_CELL_MAX + 1];
char g_y_cell[SET_PLOT_CELL_MAX + 1];

void apply_number_format() {
    NumberFormat f;
    f.style = g.number_style;
    f.decimals = g.decimals;
    format_set_current(f);
}

const char* limit_text(double d) {
    number_format(g_limit_text, d, format_current());
    return g_limit_text;
}

double limit_from_text(const char* s) {
    double d = 0.0;
    number_parse(s ? s : "", d);
    return d;
}

// Splits "x,y" at the first comma into the two plot cell buffers.
void split_plot_cells() {
    const char* comma = std::strchr(g.plot_cells, ',');
    if (!comma) {
        settings_copy_cut(g_x_cell, g.plot_cells, SET_PLOT_CELL_MAX);
        g_y_cell[0] = 0;
        return;
    }
    char x[SET_PLOT_CELLS_MAX + 1];
    size_t n = static_cast<size_t>(comma - g.plot_cells);
    std::memcpy(x, g.plot_cells, n);
    x[n] = 0;
    settings_copy_cut(g_x_cell, x, SET_PLOT_CELL_MAX);
    settings_copy_cut(g_y_cell, comma + 1, SET_PLOT_CELL_MAX);
}

void join_plot_cells(const char* x, const char* y) {
    char xs[49], ys[49], both[100];
    settings_copy_cut(xs, x, 48);
    settings_copy_cut(ys, y, 48);
    std::strcpy(both, xs);
    std::strcat(both, ",");
    std::strcat(both, ys);
    settings_set_plot_cells(both);
}

} // namespace

void settings_copy_cut(char* dst, const char* s, int max) {
    if (!s) s = "";
    size_t n = std::strlen(s);
    if (n > static_cast<size_t>(max)) {
        n = static_cast<size_t>(max);
        // Back up over continuation bytes so no UTF-8 sequence is split.
        size_t k = n;
        while (k > 0 && (static_cast<uint8_t>(s[k]) & 0xC0) == 0x80) --k;
        if (k < n) n = k;
    }
    std::memmove(dst, s, n);
    dst[n] = 0;
}

void settings_defaults() {
    settings_set_report_format("\\n*****\\N**************************\\n\\T\\n\\n");
    g.report_all = 1;
    g.report_type = RPT_FORMATTED;
    g.output_dest = OUT_SCREEN;
    settings_set_output_name("OUTPUT");
    g.newline_mode = NL_LF;
    g.input_type = IN_KEYBOARD;
    settings_set_input_name("INPUT");
    g.echo = 0;
    settings_set_list_format("~\\n");
    g.auto_output = AUTO_NONE;
    g.iterations = 1;
    settings_set_search_text("");
    g.search_case = 0;
    settings_set_replace_text("");
    g.scount = 1;
    g.sout = 1;
    g.number_style = 2;
    g.decimals = 2;
    g.trig_units = TRIG_DEGREES;
    NumberFormat f;
    f.style = g.number_style;
    f.decimals = g.decimals;
    f.width = 24;
    f.point = '.';
    format_set_defaults(f);
    g.plotting = 1;
    g.xmax = 5;
    g.ymax = 5;
    g.xmin = -5;
    g.ymin = -5;
    g.x_intervals = 5;
    g.y_intervals = 5;
    settings_set_plot_cells("home,home");
    settings_set_plot_colour(0);
    g.create_on_double_click = 1;
    g.ask_before_create = 1;
    g.link_colour = 0;
    settings_set_font_name("Tahoma");
    g.font_size = 90;
    g.font_style = 0;
    g.zoom = 0;
}

uint8_t settings_input_type() { return g.input_type; }
void settings_set_input_type(uint8_t v) { g.input_type = v; }
const char* settings_input_name() { return g.input_name; }
void settings_set_input_name(const char* s) { settings_copy_cut(g.input_name, s, SET_NAME_MAX); }
uint8_t settings_echo() { return g.echo; }
void settings_set_echo(uint8_t v) { g.echo = v; }
uint8_t settings_output_dest() { return g.output_dest; }
void settings_set_output_dest(uint8_t v) { g.output_dest = v; }
const char* settings_output_name() { return g.output_name; }
void settings_set_output_name(const char* s) { settings_copy_cut(g.output_name, s, SET_NAME_MAX); }
uint8_t settings_newline_mode() { return g.newline_mode; }
void settings_set_newline_mode(uint8_t v) { g.newline_mode = v; }
const char* settings_list_format() { return g.list_format; }
void settings_set_list_format(const char* s) {
    settings_copy_cut(g.list_format, s, SET_LIST_FORMAT_MAX);
}
uint32_t settings_iterations() { return g.iterations; }
void settings_set_iterations(uint32_t v) { g.iterations = v; }
uint8_t settings_auto_output() { return g.auto_output; }
void settings_set_auto_output(uint8_t v) { g.auto_output = v; }
uint8_t settings_report_type() { return g.report_type; }
void settings_set_report_type(uint8_t v) { g.report_type = v; }
const char* settings_report_format() { return g.report_format; }
void settings_set_report_format(const char* s) {
    settings_copy_cut(g.report_format, s, SET_REPORT_FORMAT_MAX);
}
uint8_t settings_report_all() { return g.report_all; }
void settings_set_report_all(uint8_t v) { g.report_all = v; }
const char* settings_search_text() { return g.search_text; }
void settings_set_search_text(const char* s) { settings_copy_cut(g.search_text, s, SET_SEARCH_MAX); }
const char* settings_replace_text() { return g.replace_text; }
void settings_set_replace_text(const char* s) {
    settings_copy_cut(g.replace_text, s, SET_SEARCH_MAX);
}
uint32_t settings_scount() { return g.scount; }
void settings_set_scount(uint32_t v) { g.scount = v; }
uint8_t settings_sout() { return g.sout; }
void settings_set_sout(uint8_t v) { g.sout = v; }
uint8_t settings_number_style() { return g.number_style; }
void settings_set_number_style(uint8_t v) {
    g.number_style = v;
    apply_number_format();
}
uint8_t settings_decimals() { return g.decimals; }
void settings_set_decimals(uint8_t v) {
    g.decimals = v;
    apply_number_format();
}
uint8_t settings_trig_units() { return g.trig_units; }
void settings_set_trig_units(uint8_t v) { g.trig_units = v; }
uint8_t settings_plotting() { return g.plotting; }
void settings_set_plotting(uint8_t v) { g.plotting = v; }
uint8_t settings_x_intervals() { return g.x_intervals; }
void settings_set_x_intervals(uint8_t v) { g.x_intervals = v; }
uint8_t settings_y_intervals() { return g.y_intervals; }
void settings_set_y_intervals(uint8_t v) { g.y_intervals = v; }

const char* settings_xmax_text() { return limit_text(g.xmax); }
const char* settings_xmin_text() { return limit_text(g.xmin); }
const char* settings_ymax_text() { return limit_text(g.ymax); }
const char* settings_ymin_text() { return limit_text(g.ymin); }
void settings_set_xmax_text(const char* s) { g.xmax = limit_from_text(s); }
void settings_set_xmin_text(const char* s) { g.xmin = limit_from_text(s); }
void settings_set_ymax_text(const char* s) { g.ymax = limit_from_text(s); }
void settings_set_ymin_text(const char* s) { g.ymin = limit_from_text(s); }
double settings_xmax() { return g.xmax; }
double settings_xmin() { return g.xmin; }
double settings_ymax() { return g.ymax; }
double settings_ymin() { return g.ymin; }

const char* settings_plot_cells() { return g.plot_cells; }
void settings_set_plot_cells(const char* s) {
    settings_copy_cut(g.plot_cells, s, SET_PLOT_CELLS_MAX);
    split_plot_cells();
}
const char* settings_plot_x_cell() { return g_x_cell; }
const char* settings_plot_y_cell() { return g_y_cell; }
void settings_set_plot_x_cell(const char* s) {
    char y[SET_PLOT_CELL_MAX + 1];
    std::strcpy(y, g_y_cell);
    join_plot_cells(s, y);
}
void settings_set_plot_y_cell(const char* s) {
    char x[SET_PLOT_CELL_MAX + 1];
    std::strcpy(x, g_x_cell);
    join_plot_cells(x, s);
}

uint8_t settings_plot_colour() { return g.plot_colour; }
void settings_set_plot_colour(uint8_t v) {
    g.plot_colour = v;
    if (g_plot_colour_hook) g_plot_colour_hook();
}
void settings_set_plot_colour_hook(SettingsHook hook) { g_plot_colour_hook = hook; }
uint8_t settings_link_colour() { return g.link_colour; }
void settings_set_link_colour(uint8_t v) { g.link_colour = v; }
uint8_t settings_create_on_double_click() { return g.create_on_double_click; }
void settings_set_create_on_double_click(uint8_t v) { g.create_on_double_click = v; }
uint8_t settings_ask_before_create() { return g.ask_before_create; }
void settings_set_ask_before_create(uint8_t v) { g.ask_before_create = v; }
uint8_t settings_search_case() { return g.search_case; }
void settings_set_search_case(uint8_t v) { g.search_case = v; }
const char* settings_font_name() { return g.font_name; }
void settings_set_font_name(const char* s) { settings_copy_cut(g.font_name, s, SET_FONT_NAME_MAX); }
int32_t settings_font_size() { return g.font_size; }
void settings_set_font_size(int32_t v) { g.font_size = v; }
uint32_t settings_font_style() { return g.font_style; }
void settings_set_font_style(uint32_t v) { g.font_style = v; }
int32_t settings_zoom() { return g.zoom; }
void settings_set_zoom(int32_t v) { g.zoom = v < -10 ? -10 : v > 20 ? 20 : v; }

} // namespace tarvex
