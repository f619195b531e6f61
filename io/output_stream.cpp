// The output stream: escape processing, the console line buffer, the output
// file with its newline mode, and the event pumping that keeps the window
// live while output is produced.
#include "io/output_stream.h"

#include "core/errors.h"
#include "frontend/frontend.h"
#include "io/buffered_writer.h"
#include "io/stream_path.h"
#include "settings/settings.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace tarvex {

namespace {
using Clock = std::chrono::steady_clock;

bool g_open = false;
bool g_console = true;

// Escape state: a backslash waiting for its character, and the quote
// character whose string is being written (0 outside quotes).
bool g_backslash = false;
uint8_t g_quote = 0;

char g_line[CONSOLE_LINE_SIZE];
int g_line_count = 0;

FilePtr g_file;
BufferedWriter g_writer;
std::string g_file_name;
bool g_write_error_shown = false;
// The file that could not be opened: every later write of the same run
// tries again, and one report (or one question) is enough. Forgotten when
// the stream is closed, which ends a run and precedes a change of name.
std::string g_failed_path;

Clock::duration g_pump_interval = std::chrono::milliseconds(5);
Clock::time_point g_last_pump;
bool& g_pumping = detail::g_pump_gate.pumping;
unsigned& g_pump_calls = detail::g_pump_gate.calls;

bool dest_is_console(uint8_t dest) { return dest != OUT_FILE; }

void line_put(uint8_t ch) {
    if (g_line_count == CONSOLE_LINE_SIZE) console_flush();
    g_line[g_line_count++] = static_cast<char>(ch);
}

int file_put(uint8_t ch) {
    uint8_t mode = settings_newline_mode();
    if ((mode == NL_CR && ch == '\n') || (mode == NL_LF && ch == '\r')) return 0;
    int rc = writer_put(g_writer, ch);
    if (rc != 0 && !g_write_error_shown) {
        g_write_error_shown = true;
        status_error(rc);
    }
    return rc;
}

// How many of the next calls to pump_while_busy return without looking at
// the clock (all of them while the window's events are being handled).
size_t pump_quiet_calls() {
    if (g_pumping) return SIZE_MAX;
    if (g_pump_interval <= Clock::duration::zero()) return 0;
    return 63 - (g_pump_calls & 63);
}

// Stands for that many quiet calls.
void pump_skip(size_t calls) {
    if (!g_pumping && g_pump_interval > Clock::duration::zero())
        g_pump_calls += static_cast<unsigned>(calls);
}

// The leading bytes output_char would pass on unchanged: no zero, and
// nothing that starts an escape or opens or closes a quoted string.
size_t plain_run(std::string_view s) {
    size_t n = 0;
    if (g_quote == 0)
        while (n < s.size() && s[n] != 0 && s[n] != '\\' && s[n] != '\'' && s[n] != '"')
            ++n;
    else
        while (n < s.size() && s[n] != 0 && static_cast<uint8_t>(s[n]) != g_quote)
            ++n;
    return n;
}

// A plain run, as line_put or file_put would take it byte by byte.
int put_plain(std::string_view s) {
    if (g_console) {
        while (!s.empty()) {
            if (g_line_count == CONSOLE_LINE_SIZE) console_flush();
            size_t k = std::min(s.size(), static_cast<size_t>(CONSOLE_LINE_SIZE - g_line_count));
            std::memcpy(g_line + g_line_count, s.data(), k);
            g_line_count += static_cast<int>(k);
            s.remove_prefix(k);
        }
        return 0;
    }
    uint8_t mode = settings_newline_mode();
    char dropped = mode == NL_CR ? '\n' : mode == NL_LF ? '\r' : 0;
    int rc = 0;
    for (size_t at = 0; at < s.size() && rc == 0;) {
        size_t end = dropped == 0 ? s.size() : std::min(s.find(dropped, at), s.size());
        rc = writer_write(g_writer, s.substr(at, end - at));
        at = end + 1;
    }
    if (rc != 0 && !g_write_error_shown) {
        g_write_error_shown = true;
        status_error(rc);
    }
    return rc;
}

} // namespace

detail::PumpGate detail::g_pump_gate;

// Lets the window handle its events, at most once per pump interval; the
// console is brought up to date first so the user sees what was written.
// Reading the clock on every call (each character written, each statement
// run) would cost more than the call: pump_while_busy comes here every 64
// calls (every call when no interval is set).
void detail::pump_at_clock() {
    Clock::time_point now = Clock::now();
    if (now - g_last_pump < g_pump_interval) return;
    g_last_pump = now;
    if (g_console) console_flush();
    struct Reset {
        ~Reset() { g_pumping = false; }
    } reset;
    g_pumping = true;
    pump_pending();
}

int output_open() {
    if (g_open) return status_error(SE_OUTPUT_IN_USE);
    g_backslash = false;
    g_quote = 0;
    g_console = dest_is_console(settings_output_dest());
    if (g_console) {
        status_show("Working...");
        g_line_count = 0;
        console_clear();
    } else {
        if (settings_output_name()[0] == 0) settings_set_output_name("./Output");
        const char* input = settings_input_type() != IN_FILE ? nullptr
                            : settings_input_name()[0]       ? settings_input_name()
                                                             : "./Input";
        if (int rc = stream_file_open(settings_output_name(), true, g_file, &g_file_name,
                                      &g_failed_path, input))
            return rc;
        writer_start(g_writer, g_file.get());
        g_write_error_shown = false;
        status_show("Writing output file...");
    }
    g_last_pump = Clock::now() - g_pump_interval; // the first character pumps
    g_open = true;
    return 0;
}

int output_close() {
    g_failed_path.clear();
    if (!g_open) return 0;
    int rc = 0;
    if (g_console) {
        console_flush();
    } else {
        rc = writer_flush(g_writer);
        if (!file_close(g_file) && rc == 0) rc = SE_WRITE_WEB;
        if (rc != 0 && !g_write_error_shown) {
            g_write_error_shown = true;
            status_error(rc);
        }
        writer_start(g_writer, nullptr);
    }
    g_open = false;
    status_ready();
    return rc;
}

bool output_is_open() { return g_open; }

bool output_to_console() { return g_open ? g_console : dest_is_console(settings_output_dest()); }

int output_char(uint8_t ch) {
    if (ch == 0) return 0;
    if (!g_open) {
        int rc = output_open();
        if (rc != 0) return rc;
    }
    if (g_backslash) {
        g_backslash = false;
        if (ch == 'n') ch = '\n';
    } else if (g_quote == 0) {
        if (ch == '\\') {
            g_backslash = true;
            return 0;
        }
        if (ch == '\'' || ch == '"') g_quote = ch;
    } else if (ch == g_quote) {
        g_quote = 0;
    }
    int rc = 0;
    if (g_console)
        line_put(ch);
    else
        rc = file_put(ch);
    pump_while_busy();
    return rc;
}

// Byte by byte through output_char would cost tens of instructions a byte:
// runs of plain bytes are copied at once.
int output_text(std::string_view s) {
    while (!s.empty()) {
        // A run ends where output_char would look at the clock, so the
        // window is pumped after the same bytes.
        size_t quiet = pump_quiet_calls();
        std::string_view ahead = quiet < s.size() ? s.substr(0, quiet + 1) : s;
        size_t n = g_open && !g_backslash ? plain_run(ahead) : 0;
        if (n == 0) {
            int rc = output_char(static_cast<uint8_t>(s[0]));
            if (rc != 0) return rc;
            s.remove_prefix(1);
            continue;
        }
        int rc = put_plain(s.substr(0, n));
        pump_skip(n - 1);
        pump_while_busy();
        if (rc != 0) return rc;
        s.remove_prefix(n);
    }
    return 0;
}

int output_text(const char* s) { return output_text(std::string_view(s ? s : "")); }

int output_newline() { return output_char('\n'); }

int output_field(Text t) {
    char buf[OUTPUT_FIELD_MAX + 1];
    TextLen n = text_to_buffer(buf, t, OUTPUT_FIELD_MAX);
    return output_text(std::string_view(buf, n));
}

int output_location(const char* prefix, CellHandle cell) {
    int rc = output_text(prefix);
    if (rc == 0) rc = output_text(" IN CELL ");
    if (rc == 0 && cell != 0) {
        char name[OUTPUT_CELL_NAME_MAX + 1];
        TextLen n = text_to_buffer(name, cell_name(cell), OUTPUT_CELL_NAME_MAX);
        rc = output_text(std::string_view(name, n));
    }
    return rc;
}

void console_flush() {
    if (g_line_count == 0) return;
    // A copy, and the buffer emptied first: the frontend may write again
    // while it takes the bytes.
    char bytes[CONSOLE_LINE_SIZE];
    size_t n = static_cast<size_t>(g_line_count);
    std::memcpy(bytes, g_line, n);
    g_line_count = 0;
    console_append(std::string_view(bytes, n), CONSOLE_STYLE_DEFAULT);
    console_caret_to_end();
}

void console_write(std::string_view bytes) {
    for (char c : bytes)
        line_put(static_cast<uint8_t>(c));
    console_flush();
}

void console_break_line(std::string_view text) {
    if (text.size() > OUTPUT_FIELD_MAX) text = text.substr(0, OUTPUT_FIELD_MAX);
    line_put('\r');
    for (char c : std::string_view("<BRK:"))
        line_put(static_cast<uint8_t>(c));
    for (char c : text)
        line_put(static_cast<uint8_t>(c));
    line_put('>');
    line_put('\r');
    console_flush();
}

const std::string& output_file_name() { return g_file_name; }

void output_pump_interval(int ms) {
    g_pump_interval = std::chrono::milliseconds(ms < 0 ? 0 : ms);
    detail::g_pump_gate.counting = g_pump_interval > Clock::duration::zero();
}

void output_reset() {
    g_open = false;
    g_console = dest_is_console(settings_output_dest());
    g_backslash = false;
    g_quote = 0;
    g_line_count = 0;
    g_file.reset();
    writer_start(g_writer, nullptr);
    g_write_error_shown = false;
    g_failed_path.clear();
    g_pumping = false;
    g_file_name = stream_file_path(settings_output_name(), true);
}

} // namespace tarvex
