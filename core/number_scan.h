// The one decimal number form of the system, read the same way by the lexer,
// the input statements and the number parser: an optional sign (where the
// reader allows one), digits with an optional point and more digits, then
// optionally E or e, an optional sign and digits. Never "inf", "nan" or hex,
// so words such as "info" stay words.
#pragma once

namespace tarvex {

inline bool number_digit(int c) { return c >= '0' && c <= '9'; }

// A number starts here: a digit, a point, or a sign (the text after the
// sign is not examined, so "-x" counts; readers then find no digits).
inline bool number_starts(int c) { return number_digit(c) || c == '.' || c == '+' || c == '-'; }

// Src provides:
//   int peek();            the current character
//   bool take();           keeps it and moves on; false when the reader has
//                          no room left (the scan stops there)
//   void before_digits();  called before each run of digits (a reader that
//                          lets spaces stand inside a number skips them here)
// An exponent mark is taken even when no digit follows it ("1e" scans whole
// and reads as 1).
template <class Src> void number_scan(Src& src, bool with_sign) {
    auto sign = [&] {
        int c = src.peek();
        return (c == '+' || c == '-') ? src.take() : true;
    };
    auto digits = [&] {
        src.before_digits();
        while (number_digit(src.peek()))
            if (!src.take()) return false;
        return true;
    };
    if (with_sign && !sign()) return;
    if (!digits()) return;
    if (src.peek() == '.' && (!src.take() || !digits())) return;
    int c = src.peek();
    if (c != 'E' && c != 'e') return;
    if (!src.take() || !sign()) return;
    digits();
}

} // namespace tarvex
