// Colour classes of a script: every byte of a script gets the class of the
// token the lexer's own scan finds there, so a script is coloured the same
// wherever it is shown (the script pane, exported pages) and as a run reads it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarvex {

enum ScriptClass : uint8_t {
    SCL_PLAIN = 0,
    SCL_RESWORD,
    SCL_BUILTIN,
    SCL_SYSCONST,
    SCL_CELL, // a cell name a script can reach (one in the cell table)
    SCL_NUMBER,
    SCL_STRING, // a quoted string; a bare word naming nothing stays plain
    SCL_COMMENT,
};

// The class of every byte of script. Bytes past the lexer's limit are never
// read by a run and stay plain.
std::vector<uint8_t> script_classes(std::string_view script);

} // namespace tarvex
