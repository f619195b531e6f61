// Character classes and the token text buffer.
#include "tokens/char_class.h"

namespace tarvex {

namespace detail {
CharClass g_char_class[256];
}

namespace {
char g_token_text[TOKEN_TEXT_MAX + 1];
}

void char_class_init() {
    for (int c = 0; c < 256; ++c) {
        CharClass k = CC_OTHER;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            k = CC_LETTER;
        else if (c >= '0' && c <= '9')
            k = CC_DIGIT;
        else if (c == '\'' || c == '"')
            k = CC_QUOTE;
        else if (c == '_')
            k = CC_UNDERSCORE;
        else if (c == '.')
            k = CC_POINT;
        else if (c == 0)
            k = CC_END;
        detail::g_char_class[c] = k;
    }
}

char* token_text_buffer() { return g_token_text; }

} // namespace tarvex
