// The input stream: opening by input type, reading characters with the end
// rules of each kind, and the value reader with its classification rules,
// comments and echo.
#include "io/input_stream.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/number_scan.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "io/byte_reader.h"
#include "io/output_stream.h"
#include "io/stream_path.h"
#include "settings/settings.h"
#include "tokens/char_class.h"
#include "web/cell.h"

#include <cstring>

namespace tarvex {

namespace {
constexpr int CUR_NONE = -1; // no character read yet; 0 is the end

bool g_open = false;
uint8_t g_kind = IN_KEYBOARD;
int g_cur = CUR_NONE;
bool g_at_end = false; // mirrors eof, which needs the builtin tree
bool g_wait = false;

// Cell input: a copy of the text field in a scratch buffer.
int g_scratch = 0;
size_t g_cell_len = 0;
size_t g_cell_pos = 0;

// File input.
FilePtr g_file;
ByteReader g_reader;
std::string g_file_name;
// The file that could not be opened, reported once (see the output stream).
std::string g_failed_path;

char g_value[INPUT_VALUE_MAX + 1];
int g_value_len = 0;

void release_scratch() {
    if (g_scratch != 0) scratch_release(g_scratch);
    g_scratch = 0;
}

int set_end() {
    g_at_end = true;
    eof_set(1);
    return 0;
}

bool keyboard() { return g_kind == IN_KEYBOARD; }

void echo(int c) {
    if (c > 0 && settings_echo()) output_char(static_cast<uint8_t>(c));
}

// Reads the next character of a value into g_cur: line ends become spaces
// (a CR from the keyboard stays: it ends the typed line), and a "#" comment
// reads as one space.
void next() {
    if (g_cur == 0) return;
    int c = input_char();
    echo(c);
    if (c == '#') {
        for (;;) {
            c = input_char();
            if (c == 0) break;
            echo(c);
            // A typed line ends with its CR and has no LF: the comment ends
            // there, or it would swallow the lines typed after it.
            if (c == '\n' || (c == '\r' && keyboard())) {
                c = ' ';
                break;
            }
        }
    }
    if (c == '\n' || (c == '\r' && !keyboard())) c = ' ';
    g_cur = c;
}

void skip_spaces() {
    while (g_cur == ' ')
        next();
}

// Appends the current character and reads the next; false when the value is
// full, leaving the character for the next value.
bool take() {
    if (g_value_len == INPUT_VALUE_MAX) return false;
    g_value[g_value_len++] = static_cast<char>(g_cur);
    next();
    return true;
}

// Spaces may stand before each run of digits of a typed number.
struct InputSource {
    int peek() const { return g_cur; }
    bool take() { return tarvex::take(); }
    void before_digits() { skip_spaces(); }
};

void collect_number() {
    InputSource src;
    number_scan(src, true);
}

void collect_quoted() {
    next();
    while (g_cur != 0 && char_class(static_cast<uint8_t>(g_cur)) != CC_QUOTE) {
        if (!take()) return;
    }
    if (g_cur != 0) next(); // the closing quote
}

void collect_word() {
    for (;;) {
        CharClass k = char_class(static_cast<uint8_t>(g_cur));
        if (k != CC_LETTER && k != CC_DIGIT && k != CC_UNDERSCORE) return;
        if (!take()) return;
    }
}

// A new Value from the collected text; nothing is left behind when the
// store runs out half way.
NodeHandle make_value(bool numeric) {
    g_value[g_value_len] = 0;
    NodeHandle v = value_new();
    try {
        value_set_cstring(v, g_value);
    } catch (...) {
        value_free(v);
        throw;
    }
    if (numeric) value_to_number(v);
    return v;
}
} // namespace

int input_open() {
    if (g_open) return SE_INPUT_IN_USE;
    g_at_end = false;
    eof_set(0);
    g_kind = settings_input_type();
    g_cur = CUR_NONE;
    if (g_kind == IN_CELL) {
        const char* name = settings_input_name();
        CellHandle cell = cell_find(name[0] != 0 ? name : "Input");
        if (cell == 0) return SE_INPUT_CELL;
        if (g_scratch == 0) g_scratch = scratch_get();
        if (g_scratch == 0) return SE_OUT_OF_MEMORY;
        char* buf = reinterpret_cast<char*>(scratch_buffer(g_scratch));
        g_cell_len = text_to_buffer(buf, cell_text(cell), INPUT_CELL_MAX);
        g_cell_pos = 0;
    } else if (g_kind == IN_FILE) {
        if (settings_input_name()[0] == 0) settings_set_input_name("./Input");
        if (int rc = stream_file_open(settings_input_name(), false, g_file, &g_file_name,
                                      &g_failed_path))
            return rc;
        byte_reader_start(g_reader, g_file.get());
    } else {
        g_kind = IN_KEYBOARD;
        keyboard_clear();
        status_show("Stop Button Aborts Input");
        show_view(VIEW_CONS);
    }
    g_open = true;
    return 0;
}

void input_close() {
    g_failed_path.clear();
    if (!g_open) return;
    if (g_kind == IN_KEYBOARD) status_ready();
    g_file.reset();
    byte_reader_start(g_reader, nullptr);
    release_scratch();
    g_cur = CUR_NONE;
    g_at_end = false; // eof itself stays as it is until the next open or run
    g_open = false;
}

bool input_is_open() { return g_open; }

int input_char() {
    if (g_at_end || eof_get() == 1) return 0;
    if (!g_open && input_open() != 0) return set_end();
    int c = 0;
    if (g_kind == IN_KEYBOARD) {
        // What was written so far is seen before the user is asked to type.
        if (output_is_open() && output_to_console()) console_flush();
        struct Reset {
            ~Reset() { g_wait = false; }
        } reset;
        g_wait = true;
        while ((c = keyboard_pop()) < 0)
            ui_pump_once();
        if (c == KEY_ESCAPE || c == KEY_CTRL_C || c == KEY_CTRL_Z) return set_end();
    } else if (g_kind == IN_CELL) {
        const uint8_t* buf = scratch_buffer(g_scratch);
        c = buf && g_cell_pos < g_cell_len ? buf[g_cell_pos++] : 0;
        if (c == 0) return set_end();
    } else {
        c = byte_reader_next(g_reader);
        // A zero byte ends file input as it ends cell input.
        if (c == BYTE_END || c == 0) return set_end();
    }
    return c;
}

NodeHandle input_value() {
    if (!g_open && input_open() != 0) {
        status_flash("Unable to open input");
        return 0;
    }
    if (g_cur == CUR_NONE) next();
    g_value_len = 0;
    skip_spaces();
    NodeHandle v = 0;
    for (;;) {
        if (g_cur == 0) {
            status_flash("End Of File on Input");
            return 0;
        }
        uint8_t ch = static_cast<uint8_t>(g_cur);
        CharClass k = char_class(ch);
        if (k == CC_QUOTE) {
            collect_quoted();
            v = make_value(false);
        } else if (k == CC_DIGIT || k == CC_POINT || ch == '-' || ch == '+') {
            collect_number();
            v = make_value(true);
        } else if (k == CC_LETTER) {
            collect_word();
            v = make_value(false);
        } else if (keyboard() && ch == '\r') {
            v = value_new(); // a line with nothing on it
        } else {
            next();
            continue;
        }
        break;
    }
    if (keyboard())
        g_cur = CUR_NONE;
    else
        skip_spaces();
    return v;
}

void input_prompt(std::string_view text) {
    if (text.size() > INPUT_PROMPT_MAX) text = text.substr(0, INPUT_PROMPT_MAX);
    if (text.empty()) text = "?";
    bool console = output_to_console();
    if (console && output_is_open()) console_flush();
    uint8_t kind = g_open ? g_kind : uint8_t(settings_input_type());
    if (kind == IN_CELL || kind == IN_FILE) {
        if (settings_echo()) output_text(text);
        return;
    }
    if (!console) {
        output_text(text);
        return;
    }
    // Opening the output clears the console: open it before measuring.
    if (!output_is_open() && output_open() != 0) return;
    int64_t start = console_length();
    output_text(text);
    console_flush();
    console_set_style(start, console_length() - start, CONSOLE_STYLE_PROMPT);
    console_append(" ", CONSOLE_STYLE_DEFAULT);
    console_caret_to_end();
}

bool input_wait() { return g_wait; }
void input_wait_clear() { g_wait = false; }

const std::string& input_file_name() { return g_file_name; }

void streams_reset() {
    output_reset();
    g_open = false;
    g_kind = settings_input_type();
    g_cur = CUR_NONE;
    g_at_end = false;
    g_wait = false;
    g_file.reset();
    byte_reader_start(g_reader, nullptr);
    release_scratch();
    g_cell_len = g_cell_pos = 0;
    g_value_len = 0;
    g_failed_path.clear();
    g_file_name = stream_file_path(settings_input_name(), false);
    keyboard_clear();
}

} // namespace tarvex
