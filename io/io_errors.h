// The upper-case messages of the stream and file operations (codes 0 to
// -20), shown on the status line when such an operation fails.
#pragma once

namespace tarvex {

constexpr int IO_OK = 0;
constexpr int IO_ERR_OUT_OF_MEMORY = -1;
constexpr int IO_ERR_OPEN_WEB = -3;
constexpr int IO_ERR_WRITE = -4;
constexpr int IO_ERR_READ = -5;
constexpr int IO_ERR_OPEN_INPUT = -6;
constexpr int IO_ERR_OPEN_OUTPUT = -7;
constexpr int IO_ERR_INPUT_CELL = -10;
constexpr int IO_ERR_INPUT_IN_USE = -12;
constexpr int IO_ERR_OUTPUT_IN_USE = -13;
constexpr int IO_ERR_INTERNAL = -20;

// The message of a code; "Unexpected Error!" outside 0..-20.
const char* io_error_text(int code);

// Flashes the message of a non-zero code on the status line and returns the
// code unchanged; 0 shows nothing.
int status_error(int code);

} // namespace tarvex
