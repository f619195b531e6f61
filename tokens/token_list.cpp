// Token lists.
#include "tokens/token_list.h"

#include "core/value.h"

namespace tarvex {

TokenList detail::g_current_script = 0;

namespace {
static_assert(record_fits(TL_STAMP + sizeof(uint32_t)), "token list header layout");

TokenList& g_current_script = detail::g_current_script;
TokensFreedHook g_freed_hook = nullptr;
bool g_retiring = false;
TokenList g_retired = 0; // chained through the headers' next links

static_assert(record_fits(LIST_PAYLOAD + TOKENS_PER_CHUNK * TOKEN_SIZE), "token chunk layout");

bool owns_value(Token t) { return token_kind(t) == NUMBER || token_kind(t) == STRING; }
} // namespace

TokenList tokens_create(uint8_t kind, NodeHandle owner) {
    TokenList l = node_alloc(ListNode);
    node_set_u8(l, TL_KIND, kind);
    node_set_u16(l, TL_OWNER, owner);
    return l;
}

Token tokens_append(TokenList l) {
    NodeHandle last = node_get_u16(l, TL_LAST);
    int slot = node_get_u8(l, TL_LAST_SLOT);
    if (last == 0 || slot + 1 >= TOKENS_PER_CHUNK) {
        NodeHandle chunk = node_alloc(ListNode); // zeroed: all slots NO_TOKEN
        if (last == 0) {
            node_set_u16(l, TL_FIRST, chunk);
        } else {
            list_insert_after(chunk, last);
        }
        node_set_u16(l, TL_LAST, chunk);
        node_set_u8(l, TL_LAST_SLOT, 0);
        return tokens_at(chunk, 0);
    }
    node_set_u8(l, TL_LAST_SLOT, static_cast<uint8_t>(slot + 1));
    return tokens_at(last, slot + 1);
}

Token tokens_next(TokenList l) {
    detail::note_read(l);
    NodeHandle chunk = node_get_u16(l, TL_CUR_CHUNK);
    if (chunk == 0) return nullptr;
    int slot = node_get_u8(l, TL_CUR_SLOT) + 1;
    if (slot >= TOKENS_PER_CHUNK) {
        NodeHandle next = list_next(chunk);
        if (next == 0) return nullptr;
        chunk = next;
        slot = 0;
        node_set_u16(l, TL_CUR_CHUNK, chunk);
    }
    node_set_u8(l, TL_CUR_SLOT, static_cast<uint8_t>(slot));
    node_set_u16(l, TL_INDEX, static_cast<uint16_t>(node_get_u16(l, TL_INDEX) + 1));
    return tokens_at(chunk, slot);
}

Token tokens_current(TokenList l) {
    detail::note_read(l);
    NodeHandle chunk = node_get_u16(l, TL_CUR_CHUNK);
    return chunk ? tokens_at(chunk, node_get_u8(l, TL_CUR_SLOT)) : nullptr;
}

uint16_t tokens_current_index(TokenList l) { return node_get_u16(l, TL_INDEX); }

Token tokens_seek_cursor(TokenCursor& c, uint16_t index) {
    Token t = tokens_at(c.chunk, c.slot);
    if (index <= c.index) return t;
    // Whole chunks first: a chunk with a successor is full and holds
    // neither the end token nor an empty slot, so inside it the target
    // slot is reached directly.
    uint16_t chunk_start = static_cast<uint16_t>(c.index - c.slot);
    NodeHandle next;
    while ((next = list_next(c.chunk)) != 0 && chunk_start + TOKENS_PER_CHUNK <= index) {
        chunk_start = static_cast<uint16_t>(chunk_start + TOKENS_PER_CHUNK);
        c = TokenCursor{next, 0, chunk_start};
    }
    if (next != 0) {
        c.slot = static_cast<uint8_t>(index - chunk_start);
        c.index = index;
        return tokens_at(c.chunk, c.slot);
    }
    // The last chunk: its tokens fill its slots from the first up to the
    // end token and leave the rest empty, so a target slot holding a token
    // is reached directly; otherwise step, stopping at the end token.
    if (unsigned slot = index - chunk_start; slot < TOKENS_PER_CHUNK) {
        if (Token target = tokens_at(c.chunk, static_cast<int>(slot));
            token_kind(target) != NO_TOKEN) {
            c.slot = static_cast<uint8_t>(slot);
            c.index = index;
            return target;
        }
    }
    t = tokens_at(c.chunk, c.slot);
    while (c.index < index && token_kind(t) != END_OF_FILE && token_kind(t) != NO_TOKEN) {
        Token n = tokens_step(c);
        if (!n) break;
        t = n;
    }
    return t;
}

void tokens_set_freed_hook(TokensFreedHook hook) { g_freed_hook = hook; }

Token tokens_seek(TokenList l, uint16_t index) {
    TokenCursor c = tokens_save(l);
    if (c.chunk == 0) return tokens_current(l);
    tokens_seek_cursor(c, index);
    return tokens_restore(l, c);
}

void tokens_free(TokenList l) {
    if (l == 0) return;
    if (g_current_script == l) g_current_script = 0;
    if (g_freed_hook) g_freed_hook(l);
    NodeHandle chunk = node_get_u16(l, TL_FIRST);
    node_set_u16(l, TL_FIRST, 0);
    while (chunk != 0) {
        for (int s = 0; s < TOKENS_PER_CHUNK; ++s) {
            Token t = tokens_at(chunk, s);
            if (owns_value(t)) {
                NodeHandle v = token_value(t);
                token_set_value(t, 0);
                value_free(v);
            }
        }
        NodeHandle next = list_next(chunk);
        node_free(chunk);
        chunk = next;
    }
    node_free(l);
}

void tokens_set_retiring(bool on) { g_retiring = on; }

void tokens_discard(TokenList l) {
    if (l == 0) return;
    if (!g_retiring) {
        tokens_free(l);
        return;
    }
    list_set_next(l, g_retired);
    g_retired = l;
}

void tokens_free_retired() {
    while (g_retired != 0) {
        TokenList l = g_retired;
        g_retired = list_next(l);
        list_set_next(l, 0);
        tokens_free(l);
    }
}

uint8_t tokens_kind(TokenList l) { return node_get_u8(l, TL_KIND); }
NodeHandle tokens_owner(TokenList l) { return node_get_u16(l, TL_OWNER); }

TokenCursor tokens_save(TokenList l) {
    return {node_get_u16(l, TL_CUR_CHUNK), node_get_u8(l, TL_CUR_SLOT), node_get_u16(l, TL_INDEX)};
}

Token tokens_restore(TokenList l, const TokenCursor& c) {
    node_set_u16(l, TL_CUR_CHUNK, c.chunk);
    node_set_u8(l, TL_CUR_SLOT, c.slot);
    node_set_u16(l, TL_INDEX, c.index);
    return tokens_current(l);
}

void tokens_set_stamp(TokenList l, uint32_t stamp) { node_set_u32(l, TL_STAMP, stamp); }

TokenList tokens_current_script_list() { return g_current_script; }
void tokens_forget_current_script() { g_current_script = 0; }

void tokens_mark(TokenList l) {
    if (!node_mark(l)) return;
    for (NodeHandle chunk = node_get_u16(l, TL_FIRST); chunk != 0; chunk = list_next(chunk)) {
        if (!node_mark(chunk)) return;
        for (int s = 0; s < TOKENS_PER_CHUNK; ++s) {
            Token t = tokens_at(chunk, s);
            if (owns_value(t)) value_mark(token_value(t));
        }
    }
}

void tokens_mark_retired() {
    for (TokenList l = g_retired; l != 0; l = list_next(l))
        tokens_mark(l);
}

} // namespace tarvex
