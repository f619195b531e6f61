// The lexer: turns a cell's script into a token list of kind 2, resolving
// every identifier once (reserved word, builtin, system constant, cell index,
// or a bare word standing for itself), so that a run does no name lookup.
#pragma once

#include "core/errors.h"
#include "core/text.h"
#include "tokens/token_list.h"
#include "web/cell.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// ERROR tokens carry SE_BAD_IDENTIFIER (a cell missing from the cell table),
// SE_ILLEGAL_CHARACTER (a character that starts no token) or
// SE_SCRIPT_TOO_LONG in their aux byte, as signed bytes.

// The longest script lex takes; a longer one lexes to a list that stops
// every run with SE_SCRIPT_TOO_LONG rather than run a cut-short script. The
// colouring scan looks at this much of it.
constexpr int LEX_SCRIPT_MAX = TEXT_SCRATCH_MAX;

// The aux byte of a STRING token whose literal was longer than a token's
// text and lost its end.
constexpr uint8_t LEX_STRING_CUT = 1;

// Reserved word ids (the aux byte of RESWORD tokens).
enum ReservedWordId : uint8_t {
    RW_IF = 1,
    RW_IN = 2,
    RW_TO = 3,
    RW_DO = 4,
    RW_OR = 5,
    RW_CAT = 6,
    RW_AND = 7,
    RW_OUT = 8,
    RW_NOT = 9,
    RW_FOR = 10,
    RW_SET = 11,
    RW_ALL = 12,
    RW_BRK = 13,
    RW_EXIT = 14,
    RW_ELSE = 15,
    RW_STEP = 16,
    RW_WHILE = 17,
    RW_INTYPE = 18,
    RW_ELSEIF = 19,
    RW_REPORT = 20,
    RW_OUTTYPE = 21,
    RW_RPTFMT = 22,
    RW_NUMFMT = 23,
    RW_NUMDEC = 24,
    RW_INNAME = 25,
    RW_OUTNAME = 26,
    RW_RPTTYPE = 27,
    RW_TRIGUNITS = 28,
};

// Lexes script for owner (the cell whose script it is). Returns the new list,
// which the caller owns, or 0 when the script is empty or the work buffer
// could not be had (after asking the low-memory question). May throw
// NodeExhausted; the half-built list is released first.
TokenList lex(Text script, NodeHandle owner);

// A token (or comment) found by lex_scan: its kind and aux byte as lex
// would give them, and its byte range in the script.
constexpr uint8_t LEX_COMMENT = 255;
struct LexSpan {
    uint8_t kind;
    uint8_t aux;
    uint32_t start, end;
};

// Scans a script with exactly the rules of lex, building nothing and
// allocating no nodes: each token (the end token excluded) and each comment
// is reported in text order. Used to colour scripts and to find where an
// error was met.
void lex_scan(std::string_view script, const std::function<void(const LexSpan&)>& on_span);

// Where token number index of the script lies: its byte range and the line
// and column (from 1) of its start. False when the script has fewer tokens.
struct LexPosition {
    uint32_t start = 0, end = 0;
    int line = 1, column = 1;
};
bool lex_token_position(std::string_view script, uint16_t index, LexPosition* out);

// Why token number index of script is an ERROR token, when the code alone
// does not say: a name of a cell past the cell table gives the cell and the
// limit (cell_past_table_text). "" for any other token.
std::string lex_error_cause(std::string_view script, int index);

// The name a script error at token number index uses as a cell where no
// cell has it: the bare word at the error (set x to 1, for (k = ...)), or
// the word before a call mark at the error (x!). "" when the token is no
// such word, or a cell has the name.
std::string lex_missing_cell_name(std::string_view script, int index);

// Cells named by the last lex that are missing from the cell table.
int lex_error_count();

// Replaces the cell's script token list by a fresh lex of its script (none
// when the script is empty). Nothing happens to an entry that is not a live
// cell; the error count is then 0.
void relex_cell(CellHandle c);

// The reserved word id of name (folding case), or 0.
uint8_t lex_reserved_id(const char* name);
// Every reserved word, in the lexer's search order.
std::vector<std::string> lex_reserved_words();

} // namespace tarvex
