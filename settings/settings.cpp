// The per-web settings.
#include "settings/settings.h"

#include "settings/setting_table.h"

#include "core/errors.h"
#include "core/value.h"
#include "settings/modified_mark.h"

#include <cstring>
#include <string>

namespace tarvex {

namespace {

// The numbers of SK_WORD and SK_NUMBER settings, by SettingId; the texts
// and the plot limits are kept below.
int64_t g_number[S_COUNT];

struct TextsAndLimits {
    char list_format[SET_LIST_FORMAT_MAX + 1];
    char report_format[SET_REPORT_FORMAT_MAX + 1];
    char search_text[SET_SEARCH_MAX + 1];
    char replace_text[SET_SEARCH_MAX + 1];
    char font_name[SET_FONT_NAME_MAX + 1];
    char plot_cells[SET_PLOT_CELLS_MAX + 1];
    double xmax, xmin, ymax, ymin;
};

TextsAndLimits g;
// The stream file names are kept whole whatever their length: a name too
// long for a file is refused when the stream opens, never cut to another
// name or dropped for the default.
std::string g_input_name;
std::string g_output_name;
SettingsHook g_plot_colour_hook = nullptr;
char g_limit_text[NUMBER_TEXT_MAX + 1];
char g_x_cell[SET_PLOT_CELL_MAX + 1];
char g_y_cell[SET_PLOT_CELL_MAX + 1];

// A name given for one side of the plot cells is cut to this before the
// pair is joined again: one more than a name taken out of the pair keeps, so
// a name that long stays in the pair (and the plot refuses it at run start).
constexpr int PLOT_JOIN_NAME_MAX = 48;

NumberFormat number_format_of_settings() {
    NumberFormat f;
    f.style = static_cast<uint8_t>(g_number[S_NUMBER_STYLE]);
    f.decimals = static_cast<uint8_t>(g_number[S_DECIMALS]);
    return f;
}

uint8_t byte_of(SettingId id) { return static_cast<uint8_t>(g_number[id]); }

const char* limit_text(double d) {
    number_format(g_limit_text, d, format_current());
    return g_limit_text;
}

// A number too large for a double reads as 0, as text without a number
// does: an infinite limit would be saved as a text that reads back as 0.
double limit_from_text(const char* s) {
    double d = 0.0;
    return number_parse(s ? s : "", d) == 0 ? d : 0.0;
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

// A save records the settings that have a web file tag: changing one is a
// change to the web. The search and replacement texts are stored too, but
// they are what was last looked for, not an edit: a search must not bring
// up the save question.
void note_change(SettingId id, bool changed) {
    if (changed && setting_row(id).tag && id != S_SEARCH_TEXT && id != S_REPLACE_TEXT)
        web_set_modified(true);
}

void set_text(SettingId id, char* dst, const char* s, int max) {
    std::string before = dst;
    settings_copy_cut(dst, s, max);
    note_change(id, before != dst);
}

// A limit is stored as its text in the current number format.
void set_limit(SettingId id, double& limit, const char* s) {
    std::string before = limit_text(limit);
    limit = limit_from_text(s);
    note_change(id, before != limit_text(limit));
}

void join_plot_cells(const char* x, const char* y) {
    char xs[PLOT_JOIN_NAME_MAX + 1], ys[PLOT_JOIN_NAME_MAX + 1];
    char both[2 * PLOT_JOIN_NAME_MAX + 2];
    settings_copy_cut(xs, x, PLOT_JOIN_NAME_MAX);
    settings_copy_cut(ys, y, PLOT_JOIN_NAME_MAX);
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
        while (k > 0 && (static_cast<uint8_t>(s[k]) & 0xC0) == 0x80)
            --k;
        if (k < n) n = k;
    }
    std::memmove(dst, s, n);
    dst[n] = 0;
}

int64_t setting_number(SettingId id) { return g_number[id]; }

void setting_set_number(SettingId id, int64_t v) {
    const SettingRow& row = setting_row(id);
    int64_t before = g_number[id];
    g_number[id] = row.setter_clamps ? setting_clamp(v, row.lo, row.hi) : v;
    note_change(id, g_number[id] != before);
    if (id == S_NUMBER_STYLE || id == S_DECIMALS) format_set_current(number_format_of_settings());
    if (id == S_PLOT_COLOUR && g_plot_colour_hook) g_plot_colour_hook();
}

void settings_defaults() {
    // A reset to the defaults belongs to starting or reading a web, which
    // decide the modified mark themselves.
    bool modified = web_modified();
    for (int i = 0; i < S_COUNT; ++i) {
        auto id = static_cast<SettingId>(i);
        const SettingRow& row = setting_row(id);
        if (row.kind == SK_TEXT)
            row.set_text(row.def_text);
        else
            setting_set_number(id, row.def);
    }
    // The default number format is the one the settings start with.
    format_set_defaults(number_format_of_settings());
    web_set_modified(modified);
}

InputType settings_input_type() { return InputType(byte_of(S_INPUT_TYPE)); }
uint8_t settings_echo() { return byte_of(S_ECHO); }
OutputDest settings_output_dest() { return OutputDest(byte_of(S_OUTPUT_DEST)); }
NewlineMode settings_newline_mode() { return NewlineMode(byte_of(S_NEWLINE_MODE)); }
uint32_t settings_iterations() { return static_cast<uint32_t>(g_number[S_ITERATIONS]); }
AutoOutput settings_auto_output() { return AutoOutput(byte_of(S_AUTO_OUTPUT)); }
ReportType settings_report_type() { return ReportType(byte_of(S_REPORT_TYPE)); }
uint8_t settings_report_all() { return byte_of(S_REPORT_ALL); }
uint32_t settings_scount() { return static_cast<uint32_t>(g_number[S_SCOUNT]); }
uint8_t settings_sout() { return byte_of(S_SOUT); }
NumberStyle settings_number_style() { return NumberStyle(byte_of(S_NUMBER_STYLE)); }
uint8_t settings_decimals() { return byte_of(S_DECIMALS); }
TrigUnits settings_trig_units() { return TrigUnits(byte_of(S_TRIG_UNITS)); }
uint8_t settings_plotting() { return byte_of(S_PLOTTING); }
uint8_t settings_x_intervals() { return byte_of(S_X_INTERVALS); }
uint8_t settings_y_intervals() { return byte_of(S_Y_INTERVALS); }
Colour settings_plot_colour() { return Colour(byte_of(S_PLOT_COLOUR)); }
Colour settings_link_colour() { return Colour(byte_of(S_LINK_COLOUR)); }
uint8_t settings_create_on_double_click() { return byte_of(S_CREATE_ON_DOUBLE_CLICK); }
uint8_t settings_ask_before_create() { return byte_of(S_ASK_BEFORE_CREATE); }
uint8_t settings_search_case() { return byte_of(S_SEARCH_CASE); }
int32_t settings_font_size() { return static_cast<int32_t>(g_number[S_FONT_SIZE]); }
uint32_t settings_font_style() { return static_cast<uint32_t>(g_number[S_FONT_STYLE]); }
int32_t settings_zoom() { return static_cast<int32_t>(g_number[S_ZOOM]); }

void settings_set_input_type(uint8_t v) { setting_set_number(S_INPUT_TYPE, v); }
void settings_set_echo(uint8_t v) { setting_set_number(S_ECHO, v); }
void settings_set_output_dest(uint8_t v) { setting_set_number(S_OUTPUT_DEST, v); }
void settings_set_newline_mode(uint8_t v) { setting_set_number(S_NEWLINE_MODE, v); }
void settings_set_iterations(uint32_t v) { setting_set_number(S_ITERATIONS, v); }
void settings_set_auto_output(uint8_t v) { setting_set_number(S_AUTO_OUTPUT, v); }
void settings_set_report_type(uint8_t v) { setting_set_number(S_REPORT_TYPE, v); }
void settings_set_report_all(uint8_t v) { setting_set_number(S_REPORT_ALL, v); }
void settings_set_scount(uint32_t v) { setting_set_number(S_SCOUNT, v); }
void settings_set_sout(uint8_t v) { setting_set_number(S_SOUT, v); }
void settings_set_number_style(uint8_t v) { setting_set_number(S_NUMBER_STYLE, v); }
void settings_set_decimals(uint8_t v) { setting_set_number(S_DECIMALS, v); }
void settings_set_trig_units(uint8_t v) { setting_set_number(S_TRIG_UNITS, v); }
void settings_set_plotting(uint8_t v) { setting_set_number(S_PLOTTING, v); }
void settings_set_x_intervals(uint8_t v) { setting_set_number(S_X_INTERVALS, v); }
void settings_set_y_intervals(uint8_t v) { setting_set_number(S_Y_INTERVALS, v); }
void settings_set_plot_colour(uint8_t v) { setting_set_number(S_PLOT_COLOUR, v); }
void settings_set_link_colour(uint8_t v) { setting_set_number(S_LINK_COLOUR, v); }
void settings_set_create_on_double_click(uint8_t v) {
    setting_set_number(S_CREATE_ON_DOUBLE_CLICK, v);
}
void settings_set_ask_before_create(uint8_t v) { setting_set_number(S_ASK_BEFORE_CREATE, v); }
void settings_set_search_case(uint8_t v) { setting_set_number(S_SEARCH_CASE, v); }
void settings_set_font_size(int32_t v) { setting_set_number(S_FONT_SIZE, v); }
void settings_set_font_style(uint32_t v) { setting_set_number(S_FONT_STYLE, v); }
void settings_set_zoom(int32_t v) { setting_set_number(S_ZOOM, v); }

int settings_with_output_dest(uint8_t dest, int (*body)(void*), void* context) {
    uint8_t saved = settings_output_dest();
    bool modified = web_modified();
    settings_set_output_dest(dest);
    int rc = body(context);
    settings_set_output_dest(saved);
    web_set_modified(modified);
    return rc;
}

void settings_set_plot_colour_hook(SettingsHook hook) { g_plot_colour_hook = hook; }

const char* settings_input_name() { return g_input_name.c_str(); }
const char* settings_output_name() { return g_output_name.c_str(); }
const char* settings_list_format() { return g.list_format; }
const char* settings_report_format() { return g.report_format; }
const char* settings_search_text() { return g.search_text; }
const char* settings_replace_text() { return g.replace_text; }
const char* settings_font_name() { return g.font_name; }

bool settings_name_fits(const char* s) { return std::strlen(s) <= SET_NAME_MAX; }

// A name too long for a file is told at once, and kept: the stream that
// opens it refuses it (a cut name would name another file).
namespace {
void set_name(SettingId id, std::string& name, const char* s) {
    if (!settings_name_fits(s)) status_error(SE_NAME_TOO_LONG);
    note_change(id, name != s);
    name = s;
}
} // namespace
void settings_set_input_name(const char* s) { set_name(S_INPUT_NAME, g_input_name, s); }
void settings_set_output_name(const char* s) { set_name(S_OUTPUT_NAME, g_output_name, s); }
void settings_set_list_format(const char* s) {
    set_text(S_LIST_FORMAT, g.list_format, s, SET_LIST_FORMAT_MAX);
}
void settings_set_report_format(const char* s) {
    set_text(S_REPORT_FORMAT, g.report_format, s, SET_REPORT_FORMAT_MAX);
}
void settings_set_search_text(const char* s) {
    set_text(S_SEARCH_TEXT, g.search_text, s, SET_SEARCH_MAX);
}
void settings_set_replace_text(const char* s) {
    set_text(S_REPLACE_TEXT, g.replace_text, s, SET_SEARCH_MAX);
}
void settings_set_font_name(const char* s) {
    set_text(S_FONT_NAME, g.font_name, s, SET_FONT_NAME_MAX);
}

const char* settings_xmax_text() { return limit_text(g.xmax); }
const char* settings_xmin_text() { return limit_text(g.xmin); }
const char* settings_ymax_text() { return limit_text(g.ymax); }
const char* settings_ymin_text() { return limit_text(g.ymin); }
void settings_set_xmax_text(const char* s) { set_limit(S_XMAX, g.xmax, s); }
void settings_set_xmin_text(const char* s) { set_limit(S_XMIN, g.xmin, s); }
void settings_set_ymax_text(const char* s) { set_limit(S_YMAX, g.ymax, s); }
void settings_set_ymin_text(const char* s) { set_limit(S_YMIN, g.ymin, s); }
double settings_xmax() { return g.xmax; }
double settings_xmin() { return g.xmin; }
double settings_ymax() { return g.ymax; }
double settings_ymin() { return g.ymin; }

const char* settings_plot_cells() { return g.plot_cells; }
void settings_set_plot_cells(const char* s) {
    set_text(S_PLOT_CELLS, g.plot_cells, s, SET_PLOT_CELLS_MAX);
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

} // namespace tarvex
