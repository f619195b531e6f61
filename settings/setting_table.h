// The settings table: one row per setting with its web file tag, the words
// that stand for its values (in the web file, after `set` and in the
// settings dialog), its range and its default. The web file reader and
// writer, the `set` statement, the dialog and settings_defaults all work
// from these rows, so what a setting means is said once, in
// setting_table.cpp.
#pragma once

#include "settings/settings.h"

#include <cstdint>
#include <span>

namespace tarvex {

// Every setting, in the order of the web file; those the file does not hold
// come last.
enum SettingId : uint8_t {
    S_INPUT_TYPE,
    S_INPUT_NAME,
    S_ECHO,
    S_OUTPUT_DEST,
    S_OUTPUT_NAME,
    S_NEWLINE_MODE,
    S_LIST_FORMAT,
    S_ITERATIONS,
    S_AUTO_OUTPUT,
    S_REPORT_TYPE,
    S_REPORT_FORMAT,
    S_REPORT_ALL,
    S_SEARCH_TEXT,
    S_REPLACE_TEXT,
    S_SCOUNT,
    S_SOUT,
    S_NUMBER_STYLE,
    S_DECIMALS,
    S_TRIG_UNITS,
    S_PLOTTING,
    S_XMAX,
    S_XMIN,
    S_YMAX,
    S_YMIN,
    S_X_INTERVALS,
    S_Y_INTERVALS,
    S_PLOT_CELLS,
    S_PLOT_COLOUR,
    S_LINK_COLOUR,
    S_CREATE_ON_DOUBLE_CLICK,
    S_ASK_BEFORE_CREATE,
    S_SEARCH_CASE,
    S_FONT_NAME,
    S_FONT_SIZE,
    S_FONT_STYLE,
    S_ZOOM,
    S_COUNT
};

enum SettingKind : uint8_t {
    SK_WORD,   // one of its words
    SK_NUMBER, // a whole number
    SK_TEXT,   // a text, kept by its own getter and setter
};

// One value of a setting chosen from words. Words are compared ignoring
// case (and "_", as cstring_compare does).
struct SettingWord {
    uint8_t value;
    const char* file;   // in the web file
    const char* script; // after the `set` word; nullptr: the file's word
    const char* label;  // in the settings dialog; nullptr: not offered there
};

struct SettingRow {
    const char* tag = nullptr; // the web file element; nullptr: not stored
    SettingKind kind = SK_NUMBER;
    std::span<const SettingWord> words{};
    // SK_WORD: the value whose word a web file brings back as the default.
    int unread = -1;
    // SK_NUMBER: what a web file gives is clamped to lo..hi; the dialog and
    // the `set` statement take up to their own highest where they have one.
    int64_t lo = 0, hi = 0, dialog_hi = 0, script_hi = 0;
    bool setter_clamps = false; // the setter itself keeps to lo..hi
    int64_t def = 0;
    // SK_TEXT
    const char* def_text = nullptr;
    const char* (*text)() = nullptr;
    void (*set_text)(const char*) = nullptr;
};

const SettingRow& setting_row(SettingId id);

// The number a setting of kind SK_WORD or SK_NUMBER holds, and its setter
// (with the setter's effects: the number format follows the style and the
// decimals, the plot hears of its colour).
int64_t setting_number(SettingId id);
void setting_set_number(SettingId id, int64_t v);

// The value of a setting's word, from the web file or from a script; -1
// when word is none of them.
int setting_file_value(SettingId id, const char* word);
int setting_script_value(SettingId id, const char* word);
// The web file's word for v; nullptr when v has none.
const char* setting_file_word(SettingId id, int64_t v);

int64_t setting_clamp(int64_t v, int64_t lo, int64_t hi);

} // namespace tarvex
