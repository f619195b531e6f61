// The settings table. A row gives a setting's web file tag, its words, its
// range and its default; the rows are in the order of the web file.
#include "settings/setting_table.h"

#include "core/text.h"
#include "core/value.h"

namespace tarvex {

namespace {

// Words both streams use.
constexpr const char* FILE_WORD = "file";
constexpr const char* FILE_LABEL = "File";
constexpr const char* CONSOLE_LABEL = "Console";

constexpr SettingWord k_input_types[] = {
    {IN_KEYBOARD, "keyboard", nullptr, CONSOLE_LABEL},
    {IN_CELL, "cell", nullptr, "Cell"},
    {IN_FILE, FILE_WORD, nullptr, FILE_LABEL},
};
// The dialog has no entry for the printer.
constexpr SettingWord k_output_dests[] = {
    {OUT_SCREEN, "screen", nullptr, CONSOLE_LABEL},
    {OUT_FILE, FILE_WORD, nullptr, FILE_LABEL},
    {OUT_PRINTER, "print", "printer", nullptr},
};
constexpr SettingWord k_newline_modes[] = {
    {NL_LF, "lf", nullptr, nullptr},
    {NL_CR, "cr", nullptr, nullptr},
    {NL_CRLF, "crlf", nullptr, nullptr},
};
constexpr SettingWord k_auto_outputs[] = {
    {AUTO_GENERIC, "list", nullptr, "Generic List"},
    {AUTO_FORMATTED, "fmtlist", nullptr, "Formatted List"},
    {AUTO_NONE, "nolist", nullptr, "None"},
};
constexpr SettingWord k_report_types[] = {
    {RPT_FORMATTED, "fmt", "formatted", "Formatted"},
    {RPT_IN_POINTERS, "inptr", "inptrs", "In Pointers"},
    {RPT_OUT_POINTERS, "outptr", "outptrs", "Out Pointers"},
    {RPT_TRAIL, "trail", nullptr, "Trail"},
};
constexpr SettingWord k_number_styles[] = {
    {NUM_FIXED, "fixed", nullptr, "Fixed"},
    {NUM_EXPONENT, "exponent", "expn", "Exponential"},
    {NUM_GENERAL, "general", nullptr, "General"},
};
constexpr const char* DEGREES = "degrees";
constexpr SettingWord k_trig_units[] = {
    {TRIG_DEGREES, DEGREES, nullptr, DEGREES}, // the dialog spells it as the file does
    {TRIG_RADIANS, "radians", nullptr, "Radians"},
};
constexpr SettingWord k_yes_no[] = {{1, "yes", nullptr, nullptr}, {0, "no", nullptr, nullptr}};
constexpr SettingWord k_on_off[] = {{1, "on", nullptr, nullptr}, {0, "off", nullptr, nullptr}};
// Not in the web file: only the dialog names them.
constexpr SettingWord k_colours[] = {
    {COLOUR_RED, nullptr, nullptr, "Red"},
    {COLOUR_GREEN, nullptr, nullptr, "Green"},
    {COLOUR_BLUE, nullptr, nullptr, "Blue"},
    {COLOUR_BLACK, nullptr, nullptr, "Black"},
};

// A byte of a web file (grid intervals) holds at most this.
constexpr int64_t BYTE_MAX = 255;

// The backslashes of the formats are characters of the setting, read by
// whoever uses it.
constexpr SettingRow k_rows[S_COUNT] = {
    {.tag = "isrc", .kind = SK_WORD, .words = k_input_types, .def = IN_KEYBOARD},
    {.tag = "iname",
     .kind = SK_TEXT,
     .def_text = "INPUT",
     .text = settings_input_name,
     .set_text = settings_set_input_name},
    {.tag = "iecho", .kind = SK_WORD, .words = k_yes_no, .def = 0},
    // A web never opens with printer output.
    {.tag = "odest",
     .kind = SK_WORD,
     .words = k_output_dests,
     .unread = OUT_PRINTER,
     .def = OUT_SCREEN},
    {.tag = "oname",
     .kind = SK_TEXT,
     .def_text = "OUTPUT",
     .text = settings_output_name,
     .set_text = settings_set_output_name},
    {.tag = "onewl", .kind = SK_WORD, .words = k_newline_modes, .def = NL_LF},
    {.tag = "cfmt",
     .kind = SK_TEXT,
     .def_text = "~\\n",
     .text = settings_list_format,
     .set_text = settings_set_list_format},
    {.tag = "citer", .lo = 1, .hi = SET_COUNT_MAX, .dialog_hi = SET_COUNT_MAX, .def = 1},
    {.tag = "cdisp", .kind = SK_WORD, .words = k_auto_outputs, .def = AUTO_NONE},
    {.tag = "rtype", .kind = SK_WORD, .words = k_report_types, .def = RPT_FORMATTED},
    {.tag = "rfmt",
     .kind = SK_TEXT,
     .def_text = "\\n*****\\N**************************\\n\\T\\n\\n",
     .text = settings_report_format,
     .set_text = settings_set_report_format},
    {.tag = "rall", .kind = SK_WORD, .words = k_yes_no, .def = 1},
    {.tag = "starg",
     .kind = SK_TEXT,
     .def_text = "",
     .text = settings_search_text,
     .set_text = settings_set_search_text},
    {.tag = "srpl",
     .kind = SK_TEXT,
     .def_text = "",
     .text = settings_replace_text,
     .set_text = settings_set_replace_text},
    {.tag = "scount", .lo = 1, .hi = SET_COUNT_MAX, .def = 1},
    {.tag = "sout", .kind = SK_WORD, .words = k_yes_no, .def = 1},
    {.tag = "nfmt", .kind = SK_WORD, .words = k_number_styles, .def = NUM_GENERAL},
    {.tag = "ndec",
     .lo = 0,
     .hi = NUMBER_DECIMALS_MAX,
     .dialog_hi = NUMBER_DECIMALS_MAX,
     .script_hi = SET_SCRIPT_DECIMALS_MAX,
     .def = 2},
    {.tag = "nang", .kind = SK_WORD, .words = k_trig_units, .def = TRIG_DEGREES},
    {.tag = "pltng", .kind = SK_WORD, .words = k_on_off, .def = 1},
    {.tag = "xmax",
     .kind = SK_TEXT,
     .def_text = "5",
     .text = settings_xmax_text,
     .set_text = settings_set_xmax_text},
    {.tag = "xmin",
     .kind = SK_TEXT,
     .def_text = "-5",
     .text = settings_xmin_text,
     .set_text = settings_set_xmin_text},
    {.tag = "ymax",
     .kind = SK_TEXT,
     .def_text = "5",
     .text = settings_ymax_text,
     .set_text = settings_set_ymax_text},
    {.tag = "ymin",
     .kind = SK_TEXT,
     .def_text = "-5",
     .text = settings_ymin_text,
     .set_text = settings_set_ymin_text},
    {.tag = "xintrvls", .lo = 1, .hi = BYTE_MAX, .dialog_hi = SET_INTERVALS_ENTRY_MAX, .def = 5},
    {.tag = "yintrvls", .lo = 1, .hi = BYTE_MAX, .dialog_hi = SET_INTERVALS_ENTRY_MAX, .def = 5},
    {.tag = "xycells",
     .kind = SK_TEXT,
     .def_text = "home,home",
     .text = settings_plot_cells,
     .set_text = settings_set_plot_cells},
    // S_PLOT_COLOUR, S_LINK_COLOUR
    {.kind = SK_WORD, .words = k_colours, .def = COLOUR_RED},
    {.kind = SK_WORD, .words = k_colours, .def = COLOUR_RED},
    // S_CREATE_ON_DOUBLE_CLICK, S_ASK_BEFORE_CREATE, S_SEARCH_CASE
    {.lo = 0, .hi = 1, .def = 1},
    {.lo = 0, .hi = 1, .def = 1},
    {.lo = 0, .hi = 1, .def = 0},
    // S_FONT_NAME, S_FONT_SIZE (in tenths of a point), S_FONT_STYLE (bits)
    {.kind = SK_TEXT,
     .def_text = "Tahoma",
     .text = settings_font_name,
     .set_text = settings_set_font_name},
    {.lo = INT32_MIN, .hi = INT32_MAX, .def = 90},
    {.lo = 0, .hi = UINT32_MAX, .def = 0},
    // S_ZOOM
    {.lo = -10, .hi = 20, .setter_clamps = true, .def = 0},
};

// The rows follow SettingId: the last one the file holds, then the first
// one it does not, and the zoom at the end.
static_assert(k_rows[S_PLOT_CELLS].tag != nullptr && k_rows[S_PLOT_COLOUR].tag == nullptr &&
              k_rows[S_ZOOM].setter_clamps);

int word_value(SettingId id, const char* word, bool script) {
    for (const SettingWord& w : k_rows[id].words) {
        const char* own = script && w.script ? w.script : w.file;
        if (own && cstring_compare(word, own) == 0) return w.value;
    }
    return -1;
}

} // namespace

const SettingRow& setting_row(SettingId id) { return k_rows[id]; }

int setting_file_value(SettingId id, const char* word) {
    int v = word_value(id, word, false);
    return v >= 0 && v == k_rows[id].unread ? static_cast<int>(k_rows[id].def) : v;
}

int setting_script_value(SettingId id, const char* word) { return word_value(id, word, true); }

const char* setting_file_word(SettingId id, int64_t v) {
    for (const SettingWord& w : k_rows[id].words)
        if (w.value == v) return w.file;
    return nullptr;
}

int64_t setting_clamp(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : v > hi ? hi : v; }

} // namespace tarvex
