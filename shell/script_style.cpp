// Script colouring. A quote or '#' typed anywhere changes how everything
// after it reads, so the pane is always styled from its start; lexing stops
// at the lexer's own limit, which keeps that cheap.
#include "shell/script_style.h"

#include "script/char_class.h"
#include "script/lexer.h"
#include "shell/panes.h"

#include <Qsci/qsciscintilla.h>

#include <algorithm>

namespace tarvex {

namespace {

long sci(QsciScintilla* e, unsigned msg, unsigned long w = 0, long l = 0) {
    return e->SendScintilla(msg, w, l);
}

int span_style(const LexSpan& s, std::string_view script) {
    switch (s.kind) {
    case RESWORD:
        return STYLE_RESWORD;
    case BUILTIN:
        return STYLE_BUILTIN;
    case SYSCONST:
        return STYLE_SYSCONST;
    case CELLNAME:
        return STYLE_LINK;
    case NUMBER:
        return STYLE_NUMBER;
    // A bare word that names nothing reads as a string too; only quoted
    // ones look like strings.
    case STRING:
        return s.start < script.size() && char_class(uint8_t(script[s.start])) == CC_QUOTE
                   ? STYLE_STRING
                   : STYLE_PLAIN;
    // A cell that is not in the cell table still names a cell.
    case ERROR:
        return int8_t(s.aux) == SE_BAD_IDENTIFIER ? STYLE_LINK : STYLE_PLAIN;
    case LEX_COMMENT:
        return STYLE_COMMENT;
    default:
        return STYLE_PLAIN;
    }
}

void paint(std::vector<uint8_t>& styles, uint32_t start, uint32_t end, int style) {
    end = std::min<uint32_t>(end, uint32_t(styles.size()));
    for (uint32_t i = start; i < end; ++i)
        styles[i] = uint8_t(style);
}

} // namespace

std::vector<uint8_t> script_styles(std::string_view script) {
    std::vector<uint8_t> styles(script.size(), STYLE_PLAIN);
    // A token's range runs up to the character after it, which is past a
    // comment that follows it directly: comments are painted last.
    std::vector<LexSpan> comments;
    lex_scan(script, [&](const LexSpan& s) {
        if (s.kind == LEX_COMMENT) {
            comments.push_back(s);
            return;
        }
        int style = span_style(s, script);
        if (style != STYLE_PLAIN) paint(styles, s.start, s.end, style);
    });
    for (const LexSpan& c : comments)
        paint(styles, c.start, c.end, STYLE_COMMENT);
    return styles;
}

void script_style_setup(QsciScintilla* e) {
    struct Look {
        int style;
        QColor colour;
        bool bold, italic;
    };
    const Look looks[] = {
        {STYLE_RESWORD, QColor(0x80, 0x00, 0x80), true, false},
        {STYLE_BUILTIN, QColor(0x00, 0x5F, 0x87), false, false},
        {STYLE_SYSCONST, QColor(0xA0, 0x52, 0x00), false, false},
        {STYLE_NUMBER, QColor(0x00, 0x80, 0x80), false, false},
        {STYLE_STRING, QColor(0x8B, 0x45, 0x13), false, false},
        {STYLE_COMMENT, QColor(0x6A, 0x6A, 0x6A), false, true},
    };
    for (const Look& l : looks) {
        e->SendScintilla(QsciScintillaBase::SCI_STYLESETFORE, static_cast<unsigned long>(l.style),
                         l.colour);
        if (l.bold) sci(e, QsciScintillaBase::SCI_STYLESETBOLD, l.style, 1);
        if (l.italic) sci(e, QsciScintillaBase::SCI_STYLESETITALIC, l.style, 1);
    }
}

void script_style_pane(QsciScintilla* e, int64_t end) {
    long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    if (end > length || end < 0) end = length;
    // Text past the lexed part is never read by a run and stays plain.
    long stop = std::max<long>(long(end), std::min<long>(length, LEX_SCRIPT_MAX));
    if (stop <= 0) return;
    const char* bytes = reinterpret_cast<const char*>(
        e->SendScintilla(QsciScintillaBase::SCI_GETRANGEPOINTER, 0UL, stop));
    if (!bytes) return;
    std::vector<uint8_t> styles = script_styles(std::string_view(bytes, size_t(stop)));
    sci(e, QsciScintillaBase::SCI_STARTSTYLING, 0, 0xff);
    e->SendScintilla(QsciScintillaBase::SCI_SETSTYLINGEX, uintptr_t(stop),
                     reinterpret_cast<const char*>(styles.data()));
}

} // namespace tarvex
