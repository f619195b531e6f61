// Script error codes and their messages, and the report of the error that
// ended a run.
#pragma once

namespace tarvex {

enum ScriptError : int {
    SE_OK = 0,
    SE_OUT_OF_MEMORY = -1,
    SE_OPERATION_ABORTED = -16,
    SE_BAD_IDENTIFIER = -64,
    SE_ILLEGAL_CHARACTER = -65,
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

// The message of a code; "" for a code without one.
const char* script_error_message(int code);

} // namespace tarvex
