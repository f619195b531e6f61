// Script colour classes from the lexer's scan.
#include "lexer/script_colour.h"

#include "lexer/lexer.h"
#include "tokens/char_class.h"

#include <algorithm>

namespace tarvex {

namespace {

uint8_t span_class(const LexSpan& s, std::string_view script) {
    switch (s.kind) {
    case RESWORD: return SCL_RESWORD;
    case BUILTIN: return SCL_BUILTIN;
    case SYSCONST: return SCL_SYSCONST;
    case CELLNAME: return SCL_CELL;
    case NUMBER: return SCL_NUMBER;
    // A bare word that names nothing reads as a string too; only quoted
    // ones look like strings.
    case STRING:
        return s.start < script.size() && char_class(uint8_t(script[s.start])) == CC_QUOTE
                   ? SCL_STRING
                   : SCL_PLAIN;
    // A cell past the cell table is no link: a script cannot reach it.
    case LEX_COMMENT: return SCL_COMMENT;
    default: return SCL_PLAIN;
    }
}

void paint(std::vector<uint8_t>& classes, uint32_t start, uint32_t end, uint8_t cls) {
    end = std::min<uint32_t>(end, uint32_t(classes.size()));
    for (uint32_t i = start; i < end; ++i)
        classes[i] = cls;
}

} // namespace

std::vector<uint8_t> script_classes(std::string_view script) {
    std::vector<uint8_t> classes(script.size(), SCL_PLAIN);
    // A token's range runs up to the character after it, which is past a
    // comment that follows it directly: comments are painted last.
    std::vector<LexSpan> comments;
    lex_scan(script, [&](const LexSpan& s) {
        if (s.kind == LEX_COMMENT) {
            comments.push_back(s);
            return;
        }
        uint8_t cls = span_class(s, script);
        if (cls != SCL_PLAIN) paint(classes, s.start, s.end, cls);
    });
    for (const LexSpan& c : comments)
        paint(classes, c.start, c.end, SCL_COMMENT);
    return classes;
}

} // namespace tarvex
