// Texts in the node store.
#include "core/text.h"

#include <cstring>

namespace tarvex {

namespace {

struct Reader {
    NodeHandle chunk = 0;
    int index = 0;
    bool active = false;
} g_reader;

struct Writer {
    Text head = 0;
    NodeHandle tail = 0;
} g_writer;

inline uint8_t* chunk_chars(NodeHandle c) { return node_ref(c) + CHAIN_PAYLOAD; }
inline int chunk_used(NodeHandle c) { return node_aux(c); }

// Walks the characters of a Text, skipping empty chunks.
struct CharWalk {
    NodeHandle chunk;
    int index = 0;
    explicit CharWalk(Text t) : chunk(t) { settle(); }
    void settle() {
        while (chunk != 0 && index >= chunk_used(chunk)) {
            chunk = chain_next(chunk);
            index = 0;
        }
    }
    bool done() const { return chunk == 0; }
    uint8_t get() const { return chunk_chars(chunk)[index]; }
    void advance() {
        ++index;
        settle();
    }
};

template <class NextA, class NextB> int fold_compare(NextA next_a, NextB next_b) {
    for (;;) {
        int a = next_a(), b = next_b();
        if (a < 0 && b < 0) return 0;
        if (a < 0) return -1;
        if (b < 0) return 1;
        int fa = text_fold(static_cast<uint8_t>(a)), fb = text_fold(static_cast<uint8_t>(b));
        if (fa != fb) return fa - fb;
    }
}

// Fills a fresh chain (from chain_alloc_for_text) with bytes, 36 to a chunk.
void fill_chain(NodeHandle c, const uint8_t* p, size_t n) {
    while (c != 0) {
        int k = n > TEXT_CHUNK ? TEXT_CHUNK : static_cast<int>(n);
        std::memcpy(chunk_chars(c), p, k);
        node_set_aux(c, static_cast<uint8_t>(k));
        p += k;
        n -= k;
        c = chain_next(c);
    }
}

} // namespace

Text text_from_bytes(std::string_view s) {
    Text t = chain_alloc_for_text(static_cast<uint32_t>(s.size()));
    fill_chain(t, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return t;
}

Text text_from_cstring(const char* s) { return text_from_bytes(s ? std::string_view(s) : ""); }

TextLen text_to_buffer(char* buf, Text t, TextLen max) {
    TextLen n = 0;
    for (NodeHandle c = t; c != 0 && n < max; c = chain_next(c)) {
        TextLen k = static_cast<TextLen>(chunk_used(c));
        if (k > max - n) k = max - n;
        std::memcpy(buf + n, chunk_chars(c), k);
        n += k;
    }
    buf[n] = 0;
    return n;
}

std::string text_to_string(Text t) {
    std::string s;
    s.reserve(text_length(t));
    for (NodeHandle c = t; c != 0; c = chain_next(c))
        s.append(reinterpret_cast<const char*>(chunk_chars(c)), chunk_used(c));
    return s;
}

TextLen text_length_chain(Text t) {
    TextLen n = 0;
    for (NodeHandle c = t; c != 0; c = chain_next(c))
        n += chunk_used(c);
    return n;
}

namespace {
// Copies k characters, starting at index i of chunk c, into a fresh chain
// from chain_alloc_for_text(k), 36 to a chunk; empty source chunks are
// passed over.
void copy_into(NodeHandle dst, NodeHandle c, int i, TextLen k) {
    int used = 0;
    while (k > 0) {
        int avail = chunk_used(c) - i;
        if (avail <= 0) {
            c = chain_next(c);
            i = 0;
            continue;
        }
        if (used == TEXT_CHUNK) {
            node_set_aux(dst, TEXT_CHUNK);
            dst = chain_next(dst);
            used = 0;
        }
        int m = TEXT_CHUNK - used;
        if (avail < m) m = avail;
        if (k < static_cast<TextLen>(m)) m = static_cast<int>(k);
        std::memcpy(chunk_chars(dst) + used, chunk_chars(c) + i, m);
        used += m;
        i += m;
        k -= m;
    }
    node_set_aux(dst, static_cast<uint8_t>(used));
}
} // namespace

Text text_substring(Text t, TextLen from, TextLen to) {
    if (t == 0) return 0;
    if (from == 0) from = 1;
    // A text of one chunk, cut to fewer characters than a chunk holds, is
    // copied into the one node chain_alloc_for_text would give it.
    if (chain_next(t) == 0) {
        TextLen n = chunk_used(t);
        if (to > n) to = n;
        if (to < from) return 0;
        TextLen k = to - from + 1;
        if (k < static_cast<TextLen>(TEXT_CHUNK)) {
            Text r = node_alloc(ChainNode);
            std::memcpy(chunk_chars(r), chunk_chars(t) + from - 1, k);
            node_set_aux(r, static_cast<uint8_t>(k));
            return r;
        }
    }
    TextLen n = text_length(t);
    if (n == 0) return 0;
    if (to > n) to = n;
    if (to < from) return 0;
    Text r = chain_alloc_for_text(to - from + 1);
    // Whole chunks before the first character are passed over.
    NodeHandle c = t;
    TextLen pos = 0; // characters before c
    while (pos + chunk_used(c) < from) {
        pos += chunk_used(c);
        c = chain_next(c);
    }
    copy_into(r, c, static_cast<int>(from - 1 - pos), to - from + 1);
    return r;
}

Text text_copy_chain(Text t) {
    TextLen n = text_length(t);
    if (n == 0) return 0;
    Text r = chain_alloc_for_text(n);
    copy_into(r, t, 0, n);
    return r;
}

namespace {
NodeHandle last_chunk(Text t) {
    while (chain_next(t) != 0)
        t = chain_next(t);
    return t;
}

// Appends bytes behind tail, the last chunk of a text, growing the chain as
// needed; returns the new last chunk.
NodeHandle append_at(NodeHandle tail, const uint8_t* p, size_t n) {
    while (n > 0) {
        int used = chunk_used(tail);
        if (used == TEXT_CHUNK) {
            tail = chain_insert_after(tail);
            used = 0;
        }
        int k = TEXT_CHUNK - used;
        if (static_cast<size_t>(k) > n) k = static_cast<int>(n);
        std::memcpy(chunk_chars(tail) + used, p, k);
        node_set_aux(tail, static_cast<uint8_t>(used + k));
        p += k;
        n -= k;
    }
    return tail;
}

void append_raw(Text dst, const uint8_t* p, size_t n) { append_at(last_chunk(dst), p, n); }
} // namespace

Text text_append_chain(Text dst, Text src) {
    NodeHandle tail = last_chunk(dst);
    if (src != dst) {
        // Another text's chunks stay as they are while dst grows: each is
        // copied straight from its node.
        for (NodeHandle c = src; c != 0; c = chain_next(c))
            tail = append_at(tail, chunk_chars(c), chunk_used(c));
        return dst;
    }
    // Appended to itself: the length is fixed up front and each chunk is
    // read out before the text grows.
    TextLen remaining = text_length(src);
    for (NodeHandle c = src; c != 0 && remaining > 0; c = chain_next(c)) {
        TextLen k = static_cast<TextLen>(chunk_used(c));
        if (k > remaining) k = remaining;
        uint8_t tmp[TEXT_CHUNK];
        std::memcpy(tmp, chunk_chars(c), k);
        tail = append_at(tail, tmp, k);
        remaining -= k;
    }
    return dst;
}

Text text_append_bytes(Text dst, std::string_view s) {
    append_raw(dst, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return dst;
}

int text_compare(Text a, Text b) {
    CharWalk wa(a), wb(b);
    auto next = [](CharWalk& w) {
        if (w.done()) return -1;
        int c = w.get();
        w.advance();
        return c;
    };
    return fold_compare([&] { return next(wa); }, [&] { return next(wb); });
}

int text_compare_cstring(Text t, const char* s) {
    CharWalk w(t);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s ? s : "");
    return fold_compare(
        [&] {
            if (w.done()) return -1;
            int c = w.get();
            w.advance();
            return c;
        },
        [&] { return *p ? static_cast<int>(*p++) : -1; });
}

int cstring_compare(const char* s1, const char* s2) {
    const uint8_t* a = reinterpret_cast<const uint8_t*>(s1 ? s1 : "");
    const uint8_t* b = reinterpret_cast<const uint8_t*>(s2 ? s2 : "");
    return fold_compare([&] { return *a ? static_cast<int>(*a++) : -1; },
                        [&] { return *b ? static_cast<int>(*b++) : -1; });
}

// ---- cursors ---------------------------------------------------------------

void text_read_start(Text t) {
    g_reader.chunk = t;
    g_reader.index = 0;
    g_reader.active = t != 0;
}

int text_read_char() {
    if (!g_reader.active) return TEXT_NONE;
    while (g_reader.chunk != 0 && g_reader.index >= chunk_used(g_reader.chunk)) {
        g_reader.chunk = chain_next(g_reader.chunk);
        g_reader.index = 0;
    }
    if (g_reader.chunk == 0 || chunk_chars(g_reader.chunk)[g_reader.index] == 0) {
        g_reader.active = false;
        return TEXT_END;
    }
    return chunk_chars(g_reader.chunk)[g_reader.index++];
}

Text text_write_start() {
    g_writer.head = g_writer.tail = 0;
    Text t = node_alloc(ChainNode);
    g_writer.head = g_writer.tail = t;
    return t;
}

void text_write_char(uint8_t ch) {
    if (g_writer.tail == 0) return;
    if (chunk_used(g_writer.tail) == TEXT_CHUNK) g_writer.tail = chain_insert_after(g_writer.tail);
    int used = chunk_used(g_writer.tail);
    chunk_chars(g_writer.tail)[used] = ch;
    node_set_aux(g_writer.tail, static_cast<uint8_t>(used + 1));
}

void text_write_reset() { g_writer.head = g_writer.tail = 0; }

void text_cursors_reset() {
    g_reader = Reader{};
    text_write_reset();
}

} // namespace tarvex
