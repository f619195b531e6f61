// The pointer walks: the cells a cell names (its out-pointers) and the cells
// that name it (its in-pointers), read from the text link lists, the
// script token lists or the fields themselves. Above the lexer, which gives
// the script's names; the pointer reports and the shell's link lists read
// them.
#pragma once

#include "tokens/token_list.h"
#include "web/cell.h"

#include <cstdint>
#include <vector>

namespace tarvex {

// Where a pointer walk reads the cells a cell names.
enum PointerSource : uint8_t {
    PS_TEXT_LINKS,    // the text link list, built and cached when missing
    PS_SCRIPT_TOKENS, // the script's token list, lexed when missing
    // The text and the script as they stand, read with the link rule and
    // the lexer's rules: nothing is built, cached or allocated, so it suits
    // views refreshed often, and a paused run's token lists stay untouched.
    PS_FIELDS,
};

// A cell's pointer list: its script tokens when use_script is set (lexing
// the script if needed), else its text link list; 0 when it has none.
TokenList pointer_list(CellHandle c, bool use_script);
// The cells named by c (in order, duplicates kept; with PS_FIELDS the
// text's first, then the script's).
std::vector<CellHandle> out_pointers(CellHandle c, PointerSource from);
// The live cells, in name order, that name c, each once.
std::vector<CellHandle> in_pointers(CellHandle c, PointerSource from);

} // namespace tarvex
