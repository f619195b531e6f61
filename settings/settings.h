// The per-web settings: plain values with one getter and one setter each,
// reset to their defaults whenever a web is started or read. What each one
// means (tag, words, range, default) is its row in setting_table.cpp.
#pragma once

#include "core/io_file.h"
#include "core/name_tree.h"

#include <cstdint>

namespace tarvex {

// Buffer lengths of the text settings, in bytes (terminator not counted).
constexpr int SET_NAME_MAX = FILE_NAME_MAX; // input and output names: file paths here
constexpr int SET_LIST_FORMAT_MAX = 79;
constexpr int SET_REPORT_FORMAT_MAX = 256;
constexpr int SET_SEARCH_MAX = 48;
constexpr int SET_FONT_NAME_MAX = 255;
constexpr int SET_PLOT_CELLS_MAX = 256;
constexpr int SET_PLOT_CELL_MAX = CELL_NAME_TYPED_MAX; // a name taken out of the pair

// The values of the settings chosen from words; setting_table.cpp gives
// their words. Unscoped over a byte, so a setting may hold any byte (the
// setters do not validate) and compares with plain numbers.
enum InputType : uint8_t { IN_KEYBOARD = 1, IN_CELL = 2, IN_FILE = 3 };
enum OutputDest : uint8_t { OUT_SCREEN = 1, OUT_FILE = 2, OUT_PRINTER = 3 };
enum NewlineMode : uint8_t { NL_LF = 1, NL_CR = 2, NL_CRLF = 3 };
enum AutoOutput : uint8_t { AUTO_GENERIC = 1, AUTO_FORMATTED = 2, AUTO_NONE = 3 };
enum ReportType : uint8_t {
    RPT_FORMATTED = 1,
    RPT_IN_POINTERS = 2,
    RPT_OUT_POINTERS = 3,
    RPT_TRAIL = 4
};
enum NumberStyle : uint8_t { NUM_FIXED = 0, NUM_EXPONENT = 1, NUM_GENERAL = 2 };
enum TrigUnits : uint8_t { TRIG_DEGREES = 1, TRIG_RADIANS = 2 };
enum Colour : uint8_t { COLOUR_RED = 0, COLOUR_GREEN = 1, COLOUR_BLUE = 2, COLOUR_BLACK = 3 };

// Counts (iterations, scount) are read as 16-bit integers, from a web file
// and from the dialog alike.
constexpr int SET_COUNT_MAX = 32767;
// Grid intervals the dialog takes: more would crowd the plot's small frame
// with lines (a web file may still bring up to 255).
constexpr int SET_INTERVALS_ENTRY_MAX = 20;
// `set numdec` keeps its number to 0..15, wider than NUMBER_DECIMALS_MAX:
// a script that asks for 9..15 gets the default decimals back from the
// number format, and scripts rely on that.
constexpr int SET_SCRIPT_DECIMALS_MAX = 15;

// Every setting is a row of setting_table.cpp (web file tag, words, range,
// default); these are the typed accessors the rest of the program uses.
void settings_defaults();

InputType settings_input_type();
const char* settings_input_name();
uint8_t settings_echo();
OutputDest settings_output_dest();
const char* settings_output_name();
NewlineMode settings_newline_mode();
const char* settings_list_format();
uint32_t settings_iterations();
AutoOutput settings_auto_output();
ReportType settings_report_type();
const char* settings_report_format();
uint8_t settings_report_all();
const char* settings_search_text();
const char* settings_replace_text();
uint32_t settings_scount();
uint8_t settings_sout();
NumberStyle settings_number_style();
uint8_t settings_decimals();
TrigUnits settings_trig_units();
uint8_t settings_plotting();
uint8_t settings_x_intervals();
uint8_t settings_y_intervals();

// The setters take any byte: the readers, the `set` statement and the
// dialog keep values in range. An input or output name longer than
// SET_NAME_MAX is kept whole and SE_NAME_TOO_LONG's status text is shown:
// the stream refuses it when it opens; settings_name_fits tells beforehand.
bool settings_name_fits(const char* s);
void settings_set_input_type(uint8_t v);
void settings_set_input_name(const char* s);
void settings_set_echo(uint8_t v);
void settings_set_output_dest(uint8_t v);
void settings_set_output_name(const char* s);
void settings_set_newline_mode(uint8_t v);
void settings_set_list_format(const char* s);
void settings_set_iterations(uint32_t v);
void settings_set_auto_output(uint8_t v);
void settings_set_report_type(uint8_t v);
void settings_set_report_format(const char* s);
void settings_set_report_all(uint8_t v);
void settings_set_search_text(const char* s);
void settings_set_replace_text(const char* s);
void settings_set_scount(uint32_t v);
void settings_set_sout(uint8_t v);
void settings_set_number_style(uint8_t v);
void settings_set_decimals(uint8_t v);
void settings_set_trig_units(uint8_t v);
void settings_set_plotting(uint8_t v);
void settings_set_x_intervals(uint8_t v);
void settings_set_y_intervals(uint8_t v);

// Plot limits. The text getters format with the
// current number format into one shared buffer; the setters read the number
// at the start of the text (0 when there is none).
const char* settings_xmax_text();
const char* settings_xmin_text();
const char* settings_ymax_text();
const char* settings_ymin_text();
void settings_set_xmax_text(const char* s);
void settings_set_xmin_text(const char* s);
void settings_set_ymax_text(const char* s);
void settings_set_ymin_text(const char* s);
double settings_xmax();
double settings_xmin();
double settings_ymax();
double settings_ymin();

// Plot cells: "x name,y name".
const char* settings_plot_cells();
const char* settings_plot_x_cell(); // own 48-byte buffer
const char* settings_plot_y_cell(); // own 48-byte buffer
void settings_set_plot_cells(const char* s);
void settings_set_plot_x_cell(const char* s);
void settings_set_plot_y_cell(const char* s);

// Not stored in the web file.
Colour settings_plot_colour();
Colour settings_link_colour();
uint8_t settings_create_on_double_click();
uint8_t settings_ask_before_create();
uint8_t settings_search_case();
const char* settings_font_name();
int32_t settings_font_size();
uint32_t settings_font_style();
int32_t settings_zoom();

void settings_set_plot_colour(uint8_t v); // also tells the plot
void settings_set_link_colour(uint8_t v);
void settings_set_create_on_double_click(uint8_t v);
void settings_set_ask_before_create(uint8_t v);
void settings_set_search_case(uint8_t v);
void settings_set_font_name(const char* s);
void settings_set_font_size(int32_t v);
void settings_set_font_style(uint32_t v);
void settings_set_zoom(int32_t v); // clamped to -10..20

// Writes through an output stream sent to dest for the span of body (Print,
// the help topics): the setting and the web's modified mark are as they were
// afterwards, since a borrowed setting is not an edit of the web. Returns
// what body returns.
int settings_with_output_dest(uint8_t dest, int (*body)(void*), void* context);

// Called by the plot colour setter; the plot registers plot_colour_changed.
using SettingsHook = void (*)();
void settings_set_plot_colour_hook(SettingsHook hook);

// Copies at most max bytes of s into dst, never splitting a UTF-8 sequence.
void settings_copy_cut(char* dst, const char* s, int max);

} // namespace tarvex
