// The output stream: everything scripts, reports, automatic output, error
// reports and help write goes through it, to the console pane (in batches of
// a 48-character line buffer) or to the output file (through the buffered
// writer, with the newline mode). Backslash escapes and quote state are
// processed on every character written.
#pragma once

#include "core/text.h"
#include "web/cell.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

constexpr int CONSOLE_LINE_SIZE = 48;
constexpr int OUTPUT_FIELD_MAX = TEXT_SCRATCH_MAX;
// The name in a "... IN CELL name" line: as much as a typed name holds.
constexpr int OUTPUT_CELL_NAME_MAX = CELL_NAME_TYPED_MAX;

// 0, or SE_OUTPUT_IN_USE (-13) when already open, or SE_OPEN_OUTPUT
// (-7) when the output file cannot be created or its name is refused (see
// io/stream_path.h). A failure is flashed here, a file's with its path and
// the reason. Opening to the console clears it.
int output_open();
// Writes what waits and closes; 0, or SE_WRITE_WEB (-4) when a write to the
// output file failed at any time since it was opened. A failed write is
// flashed by the stream itself, once, when it happens: the callers of
// output_char only see that the output failed.
int output_close();
bool output_is_open();
// Whether the output goes to the console: the open stream's kind, or, while
// closed, the kind the output destination setting gives.
bool output_to_console();

// Each opens the stream when it is closed and returns 0 or the first failure.
int output_char(uint8_t ch);
int output_text(const char* s);
int output_text(std::string_view s);
int output_newline();
int output_field(Text t); // at most the first OUTPUT_FIELD_MAX characters
// prefix, " IN CELL " and the cell's name (at most 47 characters).
int output_location(const char* prefix, CellHandle cell);

// Appends the console line buffer to the console pane.
void console_flush();
// The line a breakpoint shows: CR "<BRK:" text ">" CR, straight into the
// console (no escape processing), then flushed.
void console_break_line(std::string_view text);
// Bytes straight into the console through the line buffer, without escape
// processing and without opening, closing or redirecting the stream; then
// flushed.
void console_write(std::string_view bytes);

// The name of the open (or last) output file.
const std::string& output_file_name();

// Lets the window handle its events while the engine is busy (writing
// output, or computing in a run), at most once per pump interval; the
// console is brought up to date first. Never nests.
namespace detail {
// The quiet side of pump_while_busy, inline: it is called at every
// statement and every character written, and nearly every call only counts.
struct PumpGate {
    bool pumping = false; // the window's events are being handled
    bool counting = true; // a pump interval is set: the clock is read every 64 calls
    unsigned calls = 0;
};
extern PumpGate g_pump_gate;
void pump_at_clock();
} // namespace detail
inline void pump_while_busy() {
    detail::PumpGate& g = detail::g_pump_gate;
    if (g.pumping || (g.counting && (++g.calls & 63) != 0)) return;
    detail::pump_at_clock();
}

// The least time between two event pumps while output is produced (5 ms by
// default; 0 pumps after every character).
void output_pump_interval(int ms);

// Marks the output closed and forgets its state (a file still open is closed
// without writing what waits); part of streams_reset.
void output_reset();

} // namespace tarvex
