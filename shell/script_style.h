// Colouring of the script pane: every span gets its style from the
// lexer's own scan, so what is coloured as a reserved word, builtin, cell
// name, number, string or comment is what a run will read as one.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class QsciScintilla;

namespace tarvex {

// Styles of the script pane beyond the plain and link styles (0 to 3).
enum ScriptStyle : int {
    STYLE_RESWORD = 4,
    STYLE_BUILTIN,
    STYLE_SYSCONST,
    STYLE_NUMBER,
    STYLE_STRING,
    STYLE_COMMENT
};

// The style of every byte of script (plain where no token is coloured).
std::vector<uint8_t> script_styles(std::string_view script);

// Colours and weights of the script styles (after the font and link styles
// are set).
void script_style_setup(QsciScintilla* e);

// Styles the script pane from its start to at least end.
void script_style_pane(QsciScintilla* e, int64_t end);

} // namespace tarvex
