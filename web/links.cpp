// The text link scanner and the text link lists.
#include "web/links.h"

#include "core/guard.h"
#include "frontend/frontend.h"
#include "tokens/char_class.h"

#include <string>

namespace tarvex {

void text_link_scan(std::string_view text,
                    const std::function<void(size_t, size_t, CellHandle)>& on_link) {
    size_t i = 0;
    std::string word;
    for (;;) {
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == '\n' || text[i] == '\r' || text[i] == '\t'))
            ++i;
        if (i >= text.size() || text[i] == 0) break;
        if (char_class(static_cast<uint8_t>(text[i])) != CC_LETTER) {
            ++i;
            continue;
        }
        size_t start = i;
        word.clear();
        while (i < text.size()) {
            CharClass k = char_class(static_cast<uint8_t>(text[i]));
            if (k != CC_LETTER && k != CC_DIGIT && k != CC_UNDERSCORE) break;
            if (word.size() < TOKEN_TEXT_MAX) word += text[i]; // longer words are cut
            ++i;
        }
        CellHandle c = cell_find(word.c_str());
        if (c != 0) on_link(start, i, c);
    }
}

namespace {
void scan_links(TokenList l, const std::string& text) {
    text_link_scan(text, [&](size_t, size_t, CellHandle c) {
        int index = cell_table_index_of(c);
        if (index >= 0) token_set(tokens_append(l), CELLNAME, 0, static_cast<uint16_t>(index));
    });
    token_set(tokens_append(l), END_OF_FILE, 0, 0);
}
} // namespace

void text_links_build(CellHandle c) {
    text_links_discard(c);
    Text t = cell_text(c);
    if (text_length(t) == 0) return;
    std::string text = text_to_string(t);
    if (text.size() > LINK_TEXT_MAX) text.resize(LINK_TEXT_MAX);
    TokenList l = tokens_create(TL_LINKS, c);
    try {
        scan_links(l, text);
    } catch (const NodeExhausted&) {
        tokens_free(l);
        throw;
    }
    cell_put(c, CF_TEXT_LINKS, l);
}

TokenList text_links_get(CellHandle c) {
    if (cell_get(c, CF_TEXT_LINKS) == 0) text_links_build(c);
    return cell_get(c, CF_TEXT_LINKS);
}

void text_links_discard(CellHandle c) {
    TokenList l = cell_get(c, CF_TEXT_LINKS);
    cell_put(c, CF_TEXT_LINKS, 0);
    tokens_free(l);
}

void text_links_discard_all() {
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) text_links_discard(e);
}

} // namespace tarvex
