// Text link lists: the cells a cell's text field names, as CELLNAME tokens
// in a token list cached in the cell. The pointer walks built on them are in
// reports/pointers.h.
#pragma once

#include "tokens/token_list.h"
#include "web/cell.h"

#include <cstddef>
#include <functional>
#include <string_view>

namespace tarvex {

// The link rule of text fields: each word (a letter, then letters, digits
// and "_") that names a live cell, with its byte range, in text order. A
// zero byte ends the text. Allocates nothing.
void text_link_scan(std::string_view text,
                    const std::function<void(size_t start, size_t end, CellHandle c)>& on_link);
// A text's links are read from its first LINK_TEXT_MAX bytes.
constexpr size_t LINK_TEXT_MAX = TEXT_SCRATCH_MAX;

void text_links_build(CellHandle c);
TokenList text_links_get(CellHandle c);
void text_links_discard(CellHandle c);
void text_links_discard_all();

} // namespace tarvex
