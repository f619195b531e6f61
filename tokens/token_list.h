// Token lists: four-byte tokens in chunks of eight, in list nodes, with a
// cursor the interpreter walks and saves. Script lists (kind 2) come from
// the lexer; text link lists (kind 1) from the link scanner.
#pragma once

#include "core/node_store.h"

#include <cstring>

namespace tarvex {

using TokenList = NodeHandle;

enum TokenKind : uint8_t {
    NO_TOKEN = 0,
    RESWORD = 1,
    BUILTIN = 2,
    CELLNAME = 3,
    SYSCONST = 4,
    NUMBER = 5,
    STRING = 6,
    UPARROW = 7,
    STAR = 8,
    LPAREN = 9,
    RPAREN = 10,
    MINUS = 11,
    PLUS = 12,
    EQUAL = 13,
    LE = 14,
    NE = 15,
    LT = 16,
    COMMA = 17,
    PERIOD = 18,
    SLASH = 19,
    PERCENT = 20,
    QUESTION = 21,
    BANG = 22,
    GE = 23,
    GT = 24,
    LBRACE = 25,
    RBRACE = 26,
    LBRACKET = 27,
    RBRACKET = 28,
    DOLLAR = 29,
    END_OF_FILE = 30,
    ERROR = 31,
};

constexpr uint8_t TL_LINKS = 1;
constexpr uint8_t TL_SCRIPT = 2;
constexpr int TOKENS_PER_CHUNK = 8;
constexpr int TOKEN_SIZE = 4;

// A token is the address of its four bytes inside a chunk.
using Token = uint8_t*;
inline uint8_t token_kind(Token t) { return t[0]; }
inline uint8_t token_aux(Token t) { return t[1]; }
inline uint16_t token_value(Token t) {
    uint16_t v;
    std::memcpy(&v, t + 2, 2);
    return v;
}
inline void token_set(Token t, uint8_t kind, uint8_t aux, uint16_t value) {
    t[0] = kind;
    t[1] = aux;
    std::memcpy(t + 2, &value, 2);
}
inline void token_set_value(Token t, uint16_t value) { std::memcpy(t + 2, &value, 2); }

// Where the cursor stands; saved and restored by the interpreter.
struct TokenCursor {
    NodeHandle chunk = 0;
    uint8_t slot = 0;
    uint16_t index = 0;
};

// The token in a slot of a chunk.
inline Token tokens_at(NodeHandle chunk, int slot) {
    return node_ref(chunk) + LIST_PAYLOAD + TOKEN_SIZE * slot;
}

// A walker may keep its own cursor instead of the list's (the interpreter
// does, so that stepping is a few instructions inline): steps it to the
// next token, or gives nullptr at the end of the list, the cursor
// unchanged.
inline Token tokens_step(TokenCursor& c) {
    if (c.slot + 1 < TOKENS_PER_CHUNK) {
        ++c.slot;
    } else {
        NodeHandle next = list_next(c.chunk);
        if (next == 0) return nullptr;
        c.chunk = next;
        c.slot = 0;
    }
    ++c.index;
    return tokens_at(c.chunk, c.slot);
}

// Moves a walker's cursor (which must stand on a token) forward to index,
// never back and never past the end token; gives the token reached.
Token tokens_seek_cursor(TokenCursor& c, uint16_t index);

// Header fields (payload of a list node).
constexpr int TL_KIND = LIST_PAYLOAD + 0;
constexpr int TL_FIRST = LIST_PAYLOAD + 1;
[[maybe_unused]] constexpr int TL_FIRST_SLOT =
    LIST_PAYLOAD + 3; // always 0: a list starts at its first slot
constexpr int TL_LAST = LIST_PAYLOAD + 4;
constexpr int TL_LAST_SLOT = LIST_PAYLOAD + 6;
constexpr int TL_CUR_CHUNK = LIST_PAYLOAD + 7;
constexpr int TL_CUR_SLOT = LIST_PAYLOAD + 9;
constexpr int TL_INDEX = LIST_PAYLOAD + 10;
constexpr int TL_OWNER = LIST_PAYLOAD + 12;
constexpr int TL_STAMP = LIST_PAYLOAD + 14;

namespace detail {
// The kind-2 list most recently read through first/next/current.
extern TokenList g_current_script;
inline void note_read(TokenList l) {
    if (node_get_u8(l, TL_KIND) == TL_SCRIPT) g_current_script = l;
}
} // namespace detail

TokenList tokens_create(uint8_t kind, NodeHandle owner);
Token tokens_append(TokenList l);
// Inline: every cell call starts at its list's first token.
inline Token tokens_first(TokenList l) {
    detail::note_read(l);
    NodeHandle first = node_get_u16(l, TL_FIRST);
    node_set_u16(l, TL_CUR_CHUNK, first);
    node_set_u8(l, TL_CUR_SLOT, 0);
    node_set_u16(l, TL_INDEX, 0);
    return first ? tokens_at(first, 0) : nullptr;
}
// tokens_first, also setting a walker's own cursor there.
inline Token tokens_first_cursor(TokenList l, TokenCursor& c) {
    Token t = tokens_first(l);
    c = TokenCursor{node_get_u16(l, TL_FIRST), 0, 0};
    return t;
}
Token tokens_next(TokenList l);
Token tokens_current(TokenList l);
uint16_t tokens_current_index(TokenList l);
Token tokens_seek(TokenList l, uint16_t index);
void tokens_free(TokenList l);
uint8_t tokens_kind(TokenList l);
NodeHandle tokens_owner(TokenList l);
TokenCursor tokens_save(TokenList l);
Token tokens_restore(TokenList l, const TokenCursor& c);
// A number kept in the list's header for the compiled-expression cache, so
// that code compiled for a list is never run for a later list that reuses
// its node; 0 in a new list.
// Inline: asked at every compiled expression run.
inline uint32_t tokens_stamp(TokenList l) { return node_get_u32(l, TL_STAMP); }
void tokens_set_stamp(TokenList l, uint32_t stamp);

// Told about every list about to be freed, so that what was built for it
// elsewhere goes with it (engine start-up registers the compiled-code cache).
using TokensFreedHook = void (*)(TokenList l);
void tokens_set_freed_hook(TokensFreedHook hook);

// The kind-2 list most recently read through first/next/current; 0 when
// none (or after it was freed).
TokenList tokens_current_script_list();
void tokens_forget_current_script();

// While a run is active, script lists that are replaced (an edited or
// relexed script) may still be walked by the interpreter: they are retired
// instead of freed, and freed when the run ends.
void tokens_set_retiring(bool on);
void tokens_discard(TokenList l);
void tokens_free_retired();
// The reclaim walk's root for the retired lists (engine start-up registers it).
void tokens_mark_retired();

// Marks the header, chunks and literal values of a list.
void tokens_mark(TokenList l);

} // namespace tarvex
