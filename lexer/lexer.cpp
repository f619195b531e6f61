// The lexer. Comments and newlines are dealt with while reading characters,
// so the token scan never sees them (which is also why a '#' inside a quoted
// string starts a comment).
#include "lexer/lexer.h"

#include "builtins/builtins.h"
#include "core/number_scan.h"
#include "core/value.h"
#include "tokens/char_class.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace tarvex {

namespace {

struct ReservedWord {
    const char* word;
    uint8_t id;
};

// One bucket per length from 2 to 9, searched in this order.
const ReservedWord k_len2[] = {
    {"if", RW_IF}, {"to", RW_TO}, {"do", RW_DO}, {"or", RW_OR}, {"in", RW_IN}};
const ReservedWord k_len3[] = {{"cat", RW_CAT}, {"and", RW_AND}, {"not", RW_NOT}, {"for", RW_FOR},
                               {"set", RW_SET}, {"all", RW_ALL}, {"out", RW_OUT}, {"brk", RW_BRK}};
const ReservedWord k_len4[] = {{"exit", RW_EXIT}, {"else", RW_ELSE}, {"step", RW_STEP}};
const ReservedWord k_len5[] = {{"while", RW_WHILE}};
const ReservedWord k_len6[] = {{"elseif", RW_ELSEIF}, {"report", RW_REPORT}, {"rptfmt", RW_RPTFMT},
                               {"numfmt", RW_NUMFMT}, {"numdec", RW_NUMDEC}, {"inname", RW_INNAME},
                               {"intype", RW_INTYPE}};
const ReservedWord k_len7[] = {
    {"rpttype", RW_RPTTYPE}, {"outname", RW_OUTNAME}, {"outtype", RW_OUTTYPE}};
const ReservedWord k_len9[] = {{"trigunits", RW_TRIGUNITS}};

struct Bucket {
    const ReservedWord* words;
    int count;
};
template <size_t N> constexpr Bucket bucket(const ReservedWord (&w)[N]) {
    return {w, static_cast<int>(N)};
}
const Bucket k_buckets[10] = {{nullptr, 0},   {nullptr, 0},   bucket(k_len2), bucket(k_len3),
                              bucket(k_len4), bucket(k_len5), bucket(k_len6), bucket(k_len7),
                              {nullptr, 0},   bucket(k_len9)};

int g_error_count = 0;

// One lexing pass. Lexing is never re-entered, but the state lives on the
// stack so that an abandoned pass leaves nothing behind to reset.
struct Lexer {
    std::vector<uint8_t> buf; // the copy of the script, zero-terminated
    size_t pos = 0;
    int ch = 0;           // the current character, 0 at the end
    uint16_t counter = 0; // characters read, comments not counted
    char* text = nullptr; // the shared token text buffer
    int text_len = 0;
    bool text_cut = false;
    TokenList list = 0; // the list being built; 0 when only scanning
    // Scanning: every token and comment is reported with its byte range.
    const std::function<void(const LexSpan&)>* on_span = nullptr;
    uint32_t token_start = 0;

    // The byte offset of the current character.
    uint32_t here() const {
        return ch == 0 ? static_cast<uint32_t>(pos) : static_cast<uint32_t>(pos - 1);
    }

    void emit(uint8_t kind, uint8_t aux, uint16_t value) {
        if (list) token_set(tokens_append(list), kind, aux, value);
        if (on_span) (*on_span)(LexSpan{kind, aux, token_start, here()});
    }

    void read() {
        if (pos >= buf.size() || buf[pos] == 0) {
            ch = 0;
            return;
        }
        ch = buf[pos++];
        ++counter;
        if (ch == '\n') {
            ch = ' ';
        } else if (ch == '#') {
            uint32_t comment_start = static_cast<uint32_t>(pos - 1);
            while (pos < buf.size() && buf[pos] != 0 && buf[pos] != '\n')
                ++pos;
            if (on_span)
                (*on_span)(LexSpan{LEX_COMMENT, 0, comment_start, static_cast<uint32_t>(pos)});
            if (pos < buf.size() && buf[pos] == '\n') {
                ++pos;
                ch = ' ';
            } else {
                ch = 0;
            }
        }
    }

    // Keeps at most TOKEN_TEXT_MAX characters; the rest are read and dropped
    // (and text_cut tells so).
    void take() {
        if (text_len < TOKEN_TEXT_MAX)
            text[text_len++] = static_cast<char>(ch);
        else
            text_cut = true;
        text[text_len] = 0;
        read();
    }

    // A token owning a new Value: the slot names the Value before the Value
    // gets its text, so an exhaustion part-way leaves nothing unowned.
    NodeHandle literal(uint8_t kind) {
        uint8_t aux = kind == STRING && text_cut ? LEX_STRING_CUT : 0;
        if (list == 0) {
            emit(kind, aux, 0);
            return 0;
        }
        if (on_span) (*on_span)(LexSpan{kind, aux, token_start, here()});
        Token t = tokens_append(list);
        NodeHandle v = value_new();
        token_set(t, kind, aux, v);
        value_set_cstring(v, text);
        return v;
    }

    void identifier();
    void number();
    void string();
    void punctuation();
    bool scan(); // false at the end of the script
};

void Lexer::identifier() {
    CharClass k;
    do {
        take();
        k = char_class(static_cast<uint8_t>(ch));
    } while (k == CC_LETTER || k == CC_DIGIT || k == CC_UNDERSCORE);

    if (uint8_t id = lex_reserved_id(text)) {
        emit(RESWORD, id, 0);
        return;
    }
    if (NodeHandle e = tree_find(text, builtin_root())) {
        if (entry_kind(e) == NK_BUILTIN) {
            emit(BUILTIN, 0, e);
            return;
        }
        if (entry_kind(e) == NK_SYSCONST) {
            emit(SYSCONST, 0, e);
            return;
        }
    }
    if (CellHandle c = cell_find(text)) {
        int index = cell_table_index_of(c);
        if (index >= 0) {
            emit(CELLNAME, 0, static_cast<uint16_t>(index));
        } else {
            emit(ERROR, static_cast<uint8_t>(SE_BAD_IDENTIFIER), counter);
            if (list) ++g_error_count;
        }
        return;
    }
    literal(STRING);
}

void Lexer::number() {
    struct Source {
        Lexer& lx;
        int peek() const { return lx.ch; }
        bool take() {
            lx.take();
            return true;
        }
        void before_digits() {}
    } src{*this};
    number_scan(src, false); // a sign is an operator, never part of a literal
    NodeHandle v = literal(NUMBER);
    if (v == 0) return;
    value_to_number(v);
    // The value's own conversion reads only a number-sized prefix of the
    // text; a longer literal (many zeros after the point) is read whole here.
    if (text_len > NUMBER_TEXT_MAX) {
        double d = 0.0;
        value_set_flags(v, (number_parse(text, d) == 0 ? 0 : VF_NAN) | VF_DUAL);
        value_set_number(v, d);
    }
}

void Lexer::string() {
    int quote = ch;
    read();
    while (ch != quote && ch != 0)
        take();
    if (ch == quote) read();
    literal(STRING);
}

void Lexer::punctuation() {
    static const char singles[] = "!$%()*+,-/=?[]^{}";
    static const uint8_t single_kinds[] = {BANG,     DOLLAR,   PERCENT, LPAREN, RPAREN, STAR,
                                           PLUS,     COMMA,    MINUS,   SLASH,  EQUAL,  QUESTION,
                                           LBRACKET, RBRACKET, UPARROW, LBRACE, RBRACE};
    static_assert(sizeof singles - 1 == sizeof single_kinds);
    uint8_t kind = NO_TOKEN;
    uint8_t first = static_cast<uint8_t>(ch), second = 0;
    read();
    if (first == '<') {
        kind = LT;
        if (ch == '=' || ch == '>') {
            kind = ch == '=' ? LE : NE;
            second = static_cast<uint8_t>(ch);
            read();
        }
    } else if (first == '>') {
        kind = GT;
        if (ch == '=') {
            kind = GE;
            second = '=';
            read();
        }
    } else if (const char* p = first ? std::strchr(singles, first) : nullptr) {
        kind = single_kinds[p - singles];
    }

    uint8_t aux = second ? 2 : 1;
    if (kind == NO_TOKEN) {
        kind = ERROR;
        aux = static_cast<uint8_t>(SE_ILLEGAL_CHARACTER);
        second = 0;
    }
    emit(kind, aux, static_cast<uint16_t>(first | (second << 8)));
}

bool Lexer::scan() {
    while (ch == ' ' || ch == '\r' || ch == '\t')
        read(); // newlines read as spaces
    text_len = 0;
    text_cut = false;
    text[0] = 0;
    token_start = here();
    switch (char_class(static_cast<uint8_t>(ch))) {
    case CC_LETTER: identifier(); break;
    case CC_DIGIT:
    case CC_POINT: number(); break;
    case CC_QUOTE: string(); break;
    case CC_END: return false;
    default: punctuation(); break;
    }
    return true;
}

} // namespace

uint8_t lex_reserved_id(const char* name) {
    size_t len = std::strlen(name);
    if (len >= sizeof k_buckets / sizeof k_buckets[0]) return 0;
    const Bucket& b = k_buckets[len];
    for (int i = 0; i < b.count; ++i)
        if (cstring_compare(name, b.words[i].word) == 0) return b.words[i].id;
    return 0;
}

std::vector<std::string> lex_reserved_words() {
    std::vector<std::string> words;
    for (const Bucket& b : k_buckets)
        for (int i = 0; i < b.count; ++i)
            words.push_back(b.words[i].word);
    return words;
}

namespace {
// A script longer than the lexer takes must not run cut short. Its list is
// a block whose first token is the error: every run of it, not only the one
// after an edit, stops there with SE_SCRIPT_TOO_LONG.
TokenList too_long_list(NodeHandle owner) {
    TokenList list = tokens_create(TL_SCRIPT, owner);
    try {
        token_set(tokens_append(list), LBRACE, 1, '{');
        token_set(tokens_append(list), ERROR, static_cast<uint8_t>(SE_SCRIPT_TOO_LONG), 0);
        token_set(tokens_append(list), END_OF_FILE, 0, 0);
    } catch (const NodeExhausted&) {
        tokens_free(list);
        throw;
    }
    return list;
}
} // namespace

TokenList lex(Text script, NodeHandle owner) {
    g_error_count = 0;
    TextLen length = script ? text_length(script) : 0;
    if (length == 0) return 0;

    if (length > LEX_SCRIPT_MAX) return too_long_list(owner);

    Lexer lx;
    TextLen kept = length;
    lx.buf.assign(kept + 1, 0);
    text_to_buffer(reinterpret_cast<char*>(lx.buf.data()), script, kept);
    lx.text = token_text_buffer();

    lx.list = tokens_create(TL_SCRIPT, owner);
    try {
        lx.read();
        while (lx.scan()) {
        }
        token_set(tokens_append(lx.list), END_OF_FILE, 0, 0);
    } catch (const NodeExhausted&) {
        // The list is reachable from nowhere yet; release it here rather
        // than leave it to the guard's reclaim walk.
        tokens_free(lx.list);
        throw;
    }
    return lx.list;
}

void lex_scan(std::string_view script, const std::function<void(const LexSpan&)>& on_span) {
    Lexer lx;
    size_t kept = script.size() < LEX_SCRIPT_MAX ? script.size() : LEX_SCRIPT_MAX;
    lx.buf.assign(script.begin(), script.begin() + static_cast<std::ptrdiff_t>(kept));
    lx.buf.push_back(0);
    char text[TOKEN_TEXT_MAX + 1]; // not the shared buffer: input may be using it
    lx.text = text;
    lx.on_span = &on_span;
    lx.read();
    while (lx.scan()) {
    }
}

bool lex_token_position(std::string_view script, uint16_t index, LexPosition* out) {
    uint16_t n = 0;
    bool found = false;
    lex_scan(script, [&](const LexSpan& s) {
        if (found || s.kind == LEX_COMMENT) return;
        if (n++ == index) {
            out->start = s.start;
            out->end = s.end;
            found = true;
        }
    });
    if (!found) {
        // The end-of-script token follows the last token.
        if (n != index) return false;
        out->start = out->end =
            static_cast<uint32_t>(std::min(script.size(), size_t{LEX_SCRIPT_MAX}));
    }
    out->line = 1;
    out->column = 1;
    for (uint32_t i = 0; i < out->start && i < script.size(); ++i) {
        if (script[i] == '\n') {
            ++out->line;
            out->column = 1;
        } else if (script[i] != '\r' && (static_cast<uint8_t>(script[i]) & 0xC0) != 0x80) {
            ++out->column; // characters, not the bytes of UTF-8 sequences
        }
    }
    return true;
}

std::string lex_error_cause(std::string_view script, int index) {
    std::string cause;
    int n = 0;
    lex_scan(script, [&](const LexSpan& s) {
        if (s.kind == LEX_COMMENT || n++ != index) return;
        if (s.kind != ERROR || static_cast<int8_t>(s.aux) != SE_BAD_IDENTIFIER) return;
        // The identifier as the lexer looked it up: its first
        // TOKEN_TEXT_MAX characters.
        size_t end = s.start;
        while (end < script.size() && end - s.start < TOKEN_TEXT_MAX) {
            CharClass k = char_class(static_cast<uint8_t>(script[end]));
            if (k != CC_LETTER && k != CC_DIGIT && k != CC_UNDERSCORE) break;
            ++end;
        }
        if (CellHandle c = cell_find(std::string(script.substr(s.start, end - s.start)).c_str()))
            cause = cell_past_table_text(cell_name_string(c), cell_table_capacity());
    });
    return cause;
}

std::string lex_missing_cell_name(std::string_view script, int index) {
    // A bare word that names nothing lexes as a STRING token that starts
    // with a letter (a quoted string starts with its quote).
    auto bare_word = [&](const LexSpan& s) {
        if (s.kind != STRING || char_class(static_cast<uint8_t>(script[s.start])) != CC_LETTER)
            return std::string();
        size_t end = s.start;
        while (end < s.end) {
            CharClass k = char_class(static_cast<uint8_t>(script[end]));
            if (k != CC_LETTER && k != CC_DIGIT && k != CC_UNDERSCORE) break;
            ++end;
        }
        return std::string(script.substr(s.start, end - s.start));
    };
    std::string word, before;
    int n = 0;
    lex_scan(script, [&](const LexSpan& s) {
        if (s.kind == LEX_COMMENT || n > index) return;
        if (n == index) word = s.kind == BANG ? before : bare_word(s);
        before = bare_word(s);
        ++n;
    });
    if (word.empty() || !name_is_valid(word.c_str()) || cell_find(word.c_str()) != 0) return {};
    return word;
}

int lex_error_count() { return g_error_count; }

void relex_cell(CellHandle c) {
    g_error_count = 0;
    if (c == 0 || entry_kind(c) != NK_CELL) return;
    TokenList old = cell_get(c, CF_SCRIPT_TOKENS);
    cell_put(c, CF_SCRIPT_TOKENS, 0);
    tokens_discard(old); // a running caller may still be reading it
    cell_put(c, CF_SCRIPT_TOKENS, lex(cell_script(c), c));
}

} // namespace tarvex
