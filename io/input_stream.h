// The input stream the `in` statement reads values from: the keyboard (the
// console's typed lines through the keyboard queue), a cell's text field, or
// a text file through the byte reader. Also streams_reset, which puts both
// streams back to closed when a web is started, opened or reverted.
#pragma once

#include "core/node_store.h"
#include "core/text.h"
#include "io/keyboard_queue.h"

#include <string>
#include <string_view>

namespace tarvex {

constexpr int INPUT_VALUE_MAX = 255;             // characters of one input value
constexpr int INPUT_CELL_MAX = TEXT_SCRATCH_MAX; // characters of a cell's text read
constexpr int INPUT_PROMPT_MAX = 255;

// 0, or SE_INPUT_IN_USE (-12), SE_INPUT_CELL (-10), SE_OUT_OF_MEMORY
// (-1, no scratch buffer) or SE_OPEN_INPUT (-6: the file cannot be opened
// or its name is refused, see io/stream_path.h; flashed here with the path
// and the reason). Sets eof to 0.
int input_open();
void input_close();
bool input_is_open();

// The next character, or 0 at the end of the input (eof is then 1, and stays
// the end while it is 1). Keyboard input waits, pumping events, while the
// queue is empty; Escape, Ctrl+C and Ctrl+Z end it.
int input_char();

// The next value (a new Value the caller owns), or 0 for none: at the end of
// the input ("End Of File on Input") or when the input cannot be opened
// ("Unable to open input").
NodeHandle input_value();

// Writes the prompt of an `in` statement ("?" when empty).
void input_prompt(std::string_view text);

// Set while the stream waits for a typed character.
bool input_wait();
void input_wait_clear();

// The name of the open (or last) input file.
const std::string& input_file_name();

// Both streams closed without writing to any file, the wait flag cleared,
// the keyboard queue and the console line buffer emptied, the input state
// cleared.
void streams_reset();

} // namespace tarvex
