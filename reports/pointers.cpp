// The pointer walks.
#include "reports/pointers.h"

#include "lexer/lexer.h"
#include "tokens/char_class.h"
#include "web/links.h"

#include <string>

namespace tarvex {

TokenList pointer_list(CellHandle c, bool use_script) {
    if (!use_script) return text_links_get(c);
    if (cell_get(c, CF_SCRIPT_TOKENS) == 0) relex_cell(c);
    return cell_get(c, CF_SCRIPT_TOKENS);
}

namespace {
// Calls f with each cell named by a CELLNAME token of l; stops when f
// returns false (then false).
template <class F> bool for_each_token_named(TokenList l, F f) {
    if (l == 0) return true;
    TokenCursor saved = tokens_save(l);
    bool go_on = true;
    for (Token t = tokens_first(l); t && token_kind(t) != END_OF_FILE; t = tokens_next(l)) {
        if (token_kind(t) != CELLNAME) continue;
        CellHandle named = cell_table_at(token_value(t));
        if (named != 0 && !(go_on = f(named))) break;
    }
    tokens_restore(l, saved);
    return go_on;
}

// The same cells as the text link list and the script's token list would
// hold, read from the fields themselves; stops when f returns false.
template <class F> void for_each_field_named(CellHandle c, F f) {
    std::string text = text_to_string(cell_text(c));
    if (text.size() > LINK_TEXT_MAX) text.resize(LINK_TEXT_MAX);
    bool go_on = true;
    text_link_scan(text, [&](size_t, size_t, CellHandle named) {
        if (go_on) go_on = f(named);
    });
    std::string script = text_to_string(cell_script(c));
    if (!go_on || script.size() > size_t(LEX_SCRIPT_MAX)) return; // lexes to no names
    lex_scan(script, [&](const LexSpan& s) {
        if (!go_on || s.kind != CELLNAME) return;
        std::string word = script.substr(s.start, s.end - s.start);
        if (word.size() > size_t(TOKEN_TEXT_MAX)) word.resize(TOKEN_TEXT_MAX);
        if (CellHandle named = cell_find(word.c_str())) go_on = f(named);
    });
}

template <class F> void for_each_named(CellHandle c, PointerSource from, F f) {
    if (from == PS_FIELDS)
        for_each_field_named(c, f);
    else
        for_each_token_named(pointer_list(c, from == PS_SCRIPT_TOKENS), f);
}
} // namespace

std::vector<CellHandle> out_pointers(CellHandle c, PointerSource from) {
    std::vector<CellHandle> out;
    for_each_named(c, from, [&](CellHandle named) {
        out.push_back(named);
        return true;
    });
    return out;
}

std::vector<CellHandle> in_pointers(CellHandle c, PointerSource from) {
    std::vector<CellHandle> in;
    for (NodeHandle y = tree_first(cell_root()); y != 0; y = tree_next(y)) {
        if (entry_kind(y) != NK_CELL) continue;
        for_each_named(y, from, [&](CellHandle named) {
            if (named != c) return true;
            in.push_back(y);
            return false;
        });
    }
    return in;
}

} // namespace tarvex
