// Every failure code of the engine and its texts. Operations return 0 or one
// of these negative codes and pass it up unchanged; the codes share one
// numbering whatever layer raises them, so they are defined here, below every
// layer. Each code has up to two texts: the message of the script error
// report, and the upper-case status-line text of the stream and file
// operations (codes 0 to -21 and the web file refusals).
#pragma once

#include <string>
#include <string_view>

namespace tarvex {

enum ScriptError : int {
    SE_OK = 0,

    // Streams and files. Only these have status-line texts.
    SE_OUT_OF_MEMORY = -1, // also: the node store ran out (core/guard.h)
    SE_NO_SUCH_METHOD = -2,
    SE_OPEN_WEB = -3,
    SE_WRITE_WEB = -4, // the buffered writer's code, for the output file too
    SE_READ_WEB = -5,  // the byte reader's code, for the input file too
    SE_OPEN_INPUT = -6,
    SE_OPEN_OUTPUT = -7,
    SE_READ_INPUT = -8,
    SE_WRITE_OUTPUT = -9,
    SE_INPUT_CELL = -10,
    SE_OUTPUT_CELL = -11,
    SE_INPUT_IN_USE = -12,
    SE_OUTPUT_IN_USE = -13,
    SE_INPUT_NOT_OPEN = -14,
    SE_OUTPUT_NOT_OPEN = -15,
    SE_OPERATION_ABORTED = -16,
    SE_NO_PRINTER = -17,
    SE_PRINTER = -18,
    SE_PRINTING_CANCELLED = -19,
    SE_INTERNAL_IO = -20,   // status text only: "INTERNAL ERROR"
    SE_NAME_TOO_LONG = -21, // an input or output name refused whole, never cut

    // A file that is not a web file: the reader flashes "Bad Input File"
    // itself; the code has no text of its own.
    SE_BAD_WEB_FILE = -30,
    // Refusals made before the current web is given up or a file replaced;
    // each text serves both as message and as status line.
    SE_NOT_A_WEB = -31,       // a non-empty file that does not begin as a web
    SE_WEB_NOT_FILE = -32,    // a device, folder or socket (or a pipe, in the application)
    SE_EXPORT_ONTO_WEB = -33, // an export would replace a web file
    SE_WEB_PAST_STORE = -34,  // the web does not fit the node store (the application's check)

    // Plot start-up errors, written to the console as a line of their own.
    SE_PLOT_X_CELL = -40,
    SE_PLOT_Y_CELL = -41,
    SE_PLOT_LIMITS = -42,

    // Lexical errors, carried in the aux byte of ERROR tokens (signed).
    SE_BAD_IDENTIFIER = -64,
    SE_ILLEGAL_CHARACTER = -65,
    SE_SCRIPT_TOO_LONG = -66,

    // The interpreter.
    SE_LEXICAL = -100,
    SE_MISSING_LBRACE = -101,
    SE_STACK_OVERFLOW = -102,
    SE_ILLEGAL_STATEMENT = -103,
    SE_MISSING_RBRACE = -104,
    SE_BAD_SET = -105,
    SE_INVALID_EXPRESSION = -107,
    SE_MISSING_PAREN = -108,
    SE_EXIT = -109,
    SE_HALTED = -110,
    SE_SUBSCRIPT_BRACKET = -111,
    SE_SUBSCRIPT_RANGE = -112,
    SE_EXPECTED_INNAME = -115,
    SE_EXPECTED_INTYPE = -116,
    SE_EXPECTED_OUTNAME = -121,
    SE_EXPECTED_OUTTYPE = -122,
    SE_EXPECTED_FORMAT = -126,
    SE_BAD_NUMFMT = -127,
    SE_BAD_NUMDEC = -128,
    SE_EXPECTED_RPTTYPE = -129,
    SE_EXPECTED_ARGNUM = -133,
    SE_BAD_TRIGUNITS = -135,
    SE_ARGLIST = -137,
    SE_BUILTIN_CALL = -138,
    SE_BUILTIN_ARG = -139,
    SE_ARGNUM_INVALID = -140,
    SE_UNEXPECTED_END = -141,
    SE_RESERVED_MISUSE = -142,
    SE_SET_TARGET = -143,
    SE_CELL_LIST = -144,
    SE_BAD_DO = -146,
    SE_CELL_IO_MEMORY = -148,
    SE_BAD_FOR = -151,
    SE_SYNTAX = -152,
    SE_EXPECTED_LPAREN = -153,
    SE_EXPECTED_RPAREN = -154,
    SE_EXPECTED_EQUAL = -155,
    SE_INPUT_ABORTED = -157,
    SE_READ_PAST_END = -158,
    SE_BAD_IN = -159,
    SE_BAD_OUT = -160,
    SE_INTERNAL = -199,
};

// The message of the script error report (and of a plot error line); "" for
// a code without one.
const char* script_error_message(int code);

// A cell I/O failure (SE_CELL_IO_MEMORY) whose stream file was refused by
// a rule of stream files: the code stays what scripts know, the status line
// says the reason.
constexpr const char* INPUT_OUTSIDE_TEXT = "Input file outside the web's folder";
constexpr const char* OUTPUT_OUTSIDE_TEXT = "Output file outside the web's folder";
constexpr const char* INPUT_NOT_REGULAR_TEXT = "Input file not a regular file";
constexpr const char* OUTPUT_NOT_REGULAR_TEXT = "Output file not a regular file";

// Sets the status text of the next script error report when the failure has
// a truer reason than its code's message (the text is copied).
void script_error_cause(std::string_view status_text);
// The status text of a script error report: the cause set for it (taken
// once), else the code's message.
const char* script_error_status(int code);

// A cell past the cell table: scripts cannot name it (capacity: the table's
// size). The status line says it when a script names such a cell and when
// one is created.
std::string cell_past_table_text(std::string_view name, int capacity);

// The note under a script error whose token uses name as a cell where no
// cell has it, and the quick fix it offers.
std::string cell_missing_text(std::string_view name);
std::string cell_missing_fix_text(std::string_view name);
// The quick fix asked for where no shown error names a missing cell.
constexpr const char* NO_QUICK_FIX_TEXT = "No script error names a missing cell";

// The cell-name refusals of the commands that take a name (New, Clone,
// Rename), and the rename of the cell every web is built around.
constexpr const char* BAD_CELL_NAME_TEXT = "Bad cell name supplied";
constexpr const char* DUPLICATE_CELL_NAME_TEXT = "Duplicate cell name supplied";
constexpr const char* RENAME_HOME_TEXT = "Can't Rename Home";
// A rename to a reserved word, builtin or constant would turn the scripts'
// names of the cell into that word.
constexpr const char* RENAME_SCRIPT_WORD_TEXT = "Scripts read that name as their own word";

// A breakpoint's condition that would call a cell, assign, or use a builtin
// with an effect: refused, and the pause it makes says so.
constexpr const char* CONDITION_EFFECT_TEXT = "Breakpoint condition would change the run";
// The status-line text of a stream or file code (0 to -21, -31 to -33);
// "Unexpected Error!" for any other code.
const char* io_error_text(int code);

// Flashes the status-line text of a non-zero code and returns the code
// unchanged; 0 shows nothing.
int status_error(int code);

} // namespace tarvex
