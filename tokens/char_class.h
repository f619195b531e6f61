// The character class table shared by the lexer, the text link scanner and
// the input reader, and the shared 256-byte token text buffer.
#pragma once

#include <cstdint>

namespace tarvex {

enum CharClass : uint8_t {
    CC_LETTER = 0,
    CC_DIGIT = 1,
    CC_QUOTE = 2,
    CC_UNDERSCORE = 3,
    CC_OTHER = 4,
    CC_POINT = 5,
    CC_END = 6,
};

void char_class_init();
inline CharClass char_class(uint8_t c);

constexpr int TOKEN_TEXT_MAX = 255;
// The token text buffer (TOKEN_TEXT_MAX characters and a terminator).
char* token_text_buffer();

namespace detail {
extern CharClass g_char_class[256];
}
inline CharClass char_class(uint8_t c) { return detail::g_char_class[c]; }

} // namespace tarvex
