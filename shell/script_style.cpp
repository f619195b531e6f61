// Script colouring. A quote or '#' typed anywhere changes how everything
// after it reads, so the pane is always styled from its start; lexing stops
// at the lexer's own limit, which keeps that cheap.
#include "shell/script_style.h"

#include "lexer/lexer.h"
#include "lexer/script_colour.h"
#include "shell/panes.h"

#include <Qsci/qsciscintilla.h>

#include <algorithm>

namespace tarvex {

namespace {

long sci(QsciScintilla* e, unsigned msg, unsigned long w = 0, long l = 0) {
    return e->SendScintilla(msg, w, l);
}

// The pane style of each colour class.
constexpr uint8_t k_class_styles[] = {STYLE_PLAIN, STYLE_RESWORD, STYLE_BUILTIN, STYLE_SYSCONST,
                                      STYLE_LINK,  STYLE_NUMBER,  STYLE_STRING,  STYLE_COMMENT};
static_assert(sizeof k_class_styles == SCL_COMMENT + 1);

} // namespace

std::vector<uint8_t> script_styles(std::string_view script) {
    std::vector<uint8_t> styles = script_classes(script);
    for (uint8_t& s : styles)
        s = k_class_styles[s];
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
