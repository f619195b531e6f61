// Text link lists: the cells a cell's text field names, as CELLNAME tokens
// in a token list cached in the cell, and the in/out pointer walks built on
// them.
#pragma once

#include "tokens/token_list.h"
#include "web/cell.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace tarvex {

// The link rule of text fields: each word (a letter, then letters, digits
// and "_") that names a live cell, with its byte range, in text order. A
// zero byte ends the text. Allocates nothing.
void text_link_scan(std::string_view text,
                    const std::function<void(size_t start, size_t end, CellHandle c)>& on_link);

void text_links_build(CellHandle c);
TokenList text_links_get(CellHandle c);
void text_links_discard(CellHandle c);
void text_links_discard_all();

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
