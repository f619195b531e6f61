// The one table of error texts.
#include "core/errors.h"

#include "core/notices.h"

#include <utility>

namespace tarvex {

namespace {

struct ErrorTexts {
    int code;
    const char* message; // the script error report's
    const char* status;  // the status line's, for stream and file codes
};

// The spellings differ between the two columns ("OUPUT", "CANCELED") and
// are kept as users have always seen them.
constexpr ErrorTexts k_texts[] = {
    {SE_OK, "", "NONESUCH"},
    {SE_OUT_OF_MEMORY, "Out of memory", "OUT OF MEMORY"},
    {SE_NO_SUCH_METHOD, "No such method exists", "NO SUCH METHOD EXISTS"},
    {SE_OPEN_WEB, "Unable to open web file", "UNABLE TO OPEN WEB FILE"},
    {SE_WRITE_WEB, "Unable to write to web file", "UNABLE TO WRITE TO WEB FILE"},
    {SE_READ_WEB, "Unable to read from web file", "UNABLE TO READ FROM WEB FILE"},
    {SE_OPEN_INPUT, "Unable to open input file", "UNABLE TO OPEN INPUT FILE"},
    {SE_OPEN_OUTPUT, "Unable to open output file", "UNABLE TO OPEN OUTPUT FILE"},
    {SE_READ_INPUT, "Unable to read input file", "UNABLE TO READ FROM INPUT FILE"},
    {SE_WRITE_OUTPUT, "Unable to write output file", "UNABLE TO WRITE TO OUPUT FILE"},
    {SE_INPUT_CELL, "Input cell name invalid", "INPUT CELL NAME INVALID"},
    {SE_OUTPUT_CELL, "Output cell name invalid", "OUTPUT CELL NAME INVALID"},
    {SE_INPUT_IN_USE, "Input in use", "INPUT IN USE"},
    {SE_OUTPUT_IN_USE, "Output in use", "OUTPUT IN USE"},
    {SE_INPUT_NOT_OPEN, "Input not open", "INPUT NOT OPEN"},
    {SE_OUTPUT_NOT_OPEN, "Output not open", "OUTPUT NOT OPEN"},
    {SE_OPERATION_ABORTED, "Operation aborted", "OPERATION ABORTED"},
    {SE_NO_PRINTER, "Cannot find printer", "UNABLE TO FIND PRINTER"},
    {SE_PRINTER, "Printer error", "PRINTER ERROR"},
    {SE_PRINTING_CANCELLED, "Printing cancelled", "PRINTING CANCELED"},
    {SE_INTERNAL_IO, "", "INTERNAL ERROR"},
    {SE_NAME_TOO_LONG, "File name too long (at most 255 bytes)", "FILE NAME TOO LONG"},
    {SE_NOT_A_WEB, "The file is not a Tarvex web", "The file is not a Tarvex web"},
    {SE_WEB_NOT_FILE, "Not a web file (a device, folder, socket or pipe)",
     "Not a web file (a device, folder, socket or pipe)"},
    {SE_EXPORT_ONTO_WEB, "The export file is a Tarvex web: not replaced",
     "The export file is a Tarvex web: not replaced"},
    {SE_WEB_PAST_STORE, "The web does not fit the store: not opened",
     "The web does not fit the store: not opened"},
    {SE_PLOT_X_CELL, "BAD XCELL SPEC IN PLOT DIALOG", nullptr},
    {SE_PLOT_Y_CELL, "BAD YCELL SPEC IN PLOT DIALOG", nullptr},
    {SE_PLOT_LIMITS, "INVALID PLOT LIMITS", nullptr},
    {SE_BAD_IDENTIFIER, "Bad identifier", nullptr},
    {SE_ILLEGAL_CHARACTER, "Illegal character", nullptr},
    {SE_SCRIPT_TOO_LONG, "Script too long (at most 4095 characters)", nullptr},
    {SE_LEXICAL, "Lexical analysis", nullptr},
    {SE_MISSING_LBRACE, "Missing '{'", nullptr},
    {SE_STACK_OVERFLOW, "Stack overflow", nullptr},
    {SE_ILLEGAL_STATEMENT, "Illegal statement", nullptr},
    {SE_MISSING_RBRACE, "Missing '}'", nullptr},
    {SE_BAD_SET, "Bad set statement", nullptr},
    {SE_INVALID_EXPRESSION, "Invalid expression", nullptr},
    {SE_MISSING_PAREN, "Missing paren", nullptr},
    {SE_EXIT, "Exit requested", nullptr},
    {SE_HALTED, "Run halted", nullptr},
    {SE_SUBSCRIPT_BRACKET, "Subscript missing ']'", nullptr},
    {SE_SUBSCRIPT_RANGE, "Subscript out of range", nullptr},
    {SE_EXPECTED_INNAME, "Expected input name (in quotes)", nullptr},
    {SE_EXPECTED_INTYPE, "Expected input type (in quotes)", nullptr},
    {SE_EXPECTED_OUTNAME, "Expected output name (in quotes)", nullptr},
    {SE_EXPECTED_OUTTYPE, "Expected output type (in quotes)", nullptr},
    {SE_EXPECTED_FORMAT, "Expected format string (in quotes)", nullptr},
    {SE_BAD_NUMFMT, "Number format should be 'fixed', 'expn', or 'general'", nullptr},
    {SE_BAD_NUMDEC, "Bad number of decimal places", nullptr},
    {SE_EXPECTED_RPTTYPE, "Expected report type (in quotes)", nullptr},
    {SE_EXPECTED_ARGNUM, "Expected argument number", nullptr},
    {SE_BAD_TRIGUNITS, "Trig units should be 'degrees' OR 'radians'", nullptr},
    {SE_ARGLIST, "Argument list error", nullptr},
    {SE_BUILTIN_CALL, "Builtin function call", nullptr},
    {SE_BUILTIN_ARG, "Builtin function arg", nullptr},
    {SE_ARGNUM_INVALID, "Argument number invalid", nullptr},
    {SE_UNEXPECTED_END, "Unexpected end of script", nullptr},
    {SE_RESERVED_MISUSE, "Misuse of reserved word", nullptr},
    {SE_SET_TARGET, "First arg of set must be reserved word or cellname", nullptr},
    {SE_CELL_LIST, "Poorly formatted cell list", nullptr},
    {SE_BAD_DO, "Bad DO syntax", nullptr},
    {SE_CELL_IO_MEMORY, "Insufficient memory for cell I/O", nullptr},
    {SE_BAD_FOR, "Bad FOR statement", nullptr},
    {SE_SYNTAX, "Syntax error", nullptr},
    {SE_EXPECTED_LPAREN, "Expected '(' ", nullptr},
    {SE_EXPECTED_RPAREN, "Expected ')' ", nullptr},
    {SE_EXPECTED_EQUAL, "Expected '='", nullptr},
    {SE_INPUT_ABORTED, "Input Aborted", nullptr},
    {SE_READ_PAST_END, "Attempted to read past end of file", nullptr},
    {SE_BAD_IN, "Bad IN statement", nullptr},
    {SE_BAD_OUT, "Missing ',' or ')' in OUT stmt", nullptr},
    {SE_INTERNAL, "Internal software error", nullptr},
};

const ErrorTexts* find_texts(int code) {
    for (const ErrorTexts& t : k_texts)
        if (t.code == code) return &t;
    return nullptr;
}

} // namespace

const char* script_error_message(int code) {
    const ErrorTexts* t = find_texts(code);
    return t ? t->message : "";
}

namespace {
std::string g_cause;
bool g_cause_set = false;
std::string g_cause_taken; // what script_error_status last returned
} // namespace

void script_error_cause(std::string_view status_text) {
    g_cause = status_text;
    g_cause_set = true;
}

const char* script_error_status(int code) {
    if (!std::exchange(g_cause_set, false)) return script_error_message(code);
    g_cause_taken = std::move(g_cause);
    g_cause.clear();
    return g_cause_taken.c_str();
}

std::string cell_past_table_text(std::string_view name, int capacity) {
    return std::string(name) + ": only the first " + std::to_string(capacity) +
           " cells in name order can be named in scripts; a larger store lifts this";
}

std::string cell_missing_text(std::string_view name) {
    return std::string(name) + " is not a cell: Ctrl+. creates it";
}

std::string cell_missing_fix_text(std::string_view name) {
    return "Create cell " + std::string(name);
}

const char* io_error_text(int code) {
    const ErrorTexts* t = find_texts(code);
    return t && t->status ? t->status : "Unexpected Error!";
}

int status_error(int code) {
    if (code != 0) core_notices().status_flash(io_error_text(code));
    return code;
}

} // namespace tarvex
