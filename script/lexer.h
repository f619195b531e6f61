// The lexer: turns a cell's script into a token list of kind 2, resolving
// every identifier once (reserved word, builtin, system constant, cell index,
// or a bare word standing for itself), so that a run does no name lookup.
#pragma once

#include "core/text.h"
#include "script/token_list.h"
#include "web/cell.h"

namespace tarvex {

// Error codes carried in the aux byte of ERROR tokens (as signed bytes).
constexpr int LEX_BAD_IDENTIFIER = -64;    // a cell missing from the cell table
constexpr int LEX_ILLEGAL_CHARACTER = -65; // a character that starts no token

// Only the first LEX_SCRIPT_MAX characters of a script are lexed.
constexpr int LEX_SCRIPT_MAX = 4095;

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

// Cells named by the last lex that are missing from the cell table.
int lex_error_count();

// Replaces the cell's script token list by a fresh lex of its script (none
// when the script is empty). Nothing happens to an entry that is not a live
// cell; the error count is then 0.
void relex_cell(CellHandle c);

// The reserved word id of name (folding case), or 0.
uint8_t lex_reserved_id(const char* name);

} // namespace tarvex
