// Texts: strings held as chains of 36-character chunks in the node store,
// with folding comparisons and a shared reader and writer cursor. Texts hold
// UTF-8; the window side converts whole texts itself.
#pragma once

#include "core/node_store.h"

#include <string>
#include <string_view>

namespace tarvex {

using Text = NodeHandle;
// Lengths and positions are 32-bit: a Text can hold more than 65,535
// characters (the store holds 360,000), and a 16-bit count would wrap.
using TextLen = uint32_t;
constexpr TextLen TEXT_LEN_MAX = UINT32_MAX;

// A chunk's characters fill its chain payload; its count sits in `aux`.
constexpr int TEXT_CHUNK = CHAIN_PAYLOAD_SIZE;

// A whole field taken out of the store to be scanned or written passes
// through one 4,096-byte scratch buffer, terminator included: this bounds a
// script the lexer takes, a text scanned for links, a field written by the
// output stream or read from a cell as input, and a report line.
constexpr int TEXT_SCRATCH_MAX = 4095;
static_assert(TEXT_CHUNK <= 0xFF, "a chunk's count fits the aux byte");

inline uint8_t text_fold(uint8_t c) {
    if (c == '_') return ' ';
    if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 'a' + 'A');
    return c;
}

Text text_from_cstring(const char* s);
Text text_from_bytes(std::string_view s);
TextLen text_to_buffer(char* buf, Text t, TextLen max);
std::string text_to_string(Text t);
// Inline: most texts measured are one chunk, whose count is the length.
TextLen text_length_chain(Text t);
inline TextLen text_length(Text t) {
    if (t == 0) return 0;
    if (chain_next(t) == 0) return node_aux(t);
    return text_length_chain(t);
}
// Whether a text has no characters, without counting them.
inline bool text_is_empty(Text t) {
    for (; t != 0; t = chain_next(t))
        if (node_aux(t) != 0) return false;
    return true;
}
Text text_substring(Text t, TextLen from, TextLen to);
// How many characters text_substring(t, from, to) would copy out of this
// text's one chunk into a single new chunk; 0 when it would copy none, when
// t has more than one chunk, or when the copy would need a second chunk.
// For an owner that releases t right after the copy: text_cut_in_place
// then makes t itself that text. Inline, with the cut: every cut of a
// short text asks.
inline TextLen text_cut_fits_in_place(Text t, TextLen from, TextLen to) {
    if (t == 0 || chain_next(t) != 0) return 0;
    if (from == 0) from = 1;
    TextLen n = node_aux(t);
    if (to > n) to = n;
    if (to < from) return 0;
    TextLen k = to - from + 1;
    return k < static_cast<TextLen>(TEXT_CHUNK) ? k : 0;
}
// The k characters from position from (0 taken as 1) become the text.
inline void text_cut_in_place(Text t, TextLen from, TextLen k) {
    uint8_t* chars = node_ref(t) + CHAIN_PAYLOAD;
    if (from > 1) std::memmove(chars, chars + from - 1, k);
    node_set_aux(t, static_cast<uint8_t>(k));
}
// Most texts copied are short (a number's text, a name, a word) and sit in
// one chunk: inline, the copy is that chunk whole, which is the one node
// chain_alloc_for_text gives any text shorter than a chunk. Any other text
// is copied by text_copy_chain.
Text text_copy_chain(Text t);
inline Text text_copy(Text t) {
    if (t == 0 || chain_next(t) != 0 || node_aux(t) == TEXT_CHUNK) return text_copy_chain(t);
    uint8_t used = node_aux(t);
    if (used == 0) return 0;
    Text r = node_alloc(ChainNode);
    node_set_aux(r, used);
    std::memcpy(node_ref(r) + CHAIN_PAYLOAD, node_ref(t) + CHAIN_PAYLOAD, TEXT_CHUNK);
    return r;
}
// Inline for the usual join, a short text behind another whose one chunk
// has room; any other goes to text_append_chain.
Text text_append_chain(Text dst, Text src);
inline Text text_append(Text dst, Text src) {
    if (src != dst && src != 0 && chain_next(dst) == 0 && chain_next(src) == 0) {
        int used = node_aux(dst), k = node_aux(src);
        if (used + k <= TEXT_CHUNK) {
            std::memcpy(node_ref(dst) + CHAIN_PAYLOAD + used, node_ref(src) + CHAIN_PAYLOAD, k);
            node_set_aux(dst, static_cast<uint8_t>(used + k));
            return dst;
        }
    }
    return text_append_chain(dst, src);
}
Text text_append_bytes(Text dst, std::string_view s);
// Inline: a text of one chunk, the usual one, is that node alone.
inline void text_free(Text t) {
    if (t != 0 && chain_next(t) == 0)
        node_free(t);
    else
        chain_free(t);
}

int text_compare(Text a, Text b);
int text_compare_cstring(Text t, const char* s);
int cstring_compare(const char* s1, const char* s2);

// Reader: characters come back as 0..255; -1 at the end (or at a zero
// byte), -2 when no Text is being read.
constexpr int TEXT_END = -1;
constexpr int TEXT_NONE = -2;
void text_read_start(Text t);
int text_read_char();

Text text_write_start();
void text_write_char(uint8_t ch);
void text_write_reset();

// Forgets both cursors; used when an operation is abandoned.
void text_cursors_reset();

inline void text_mark(Text t) { chain_mark(t); }

} // namespace tarvex
