// Values, number formatting and parsing, and the value operations.
#include "core/value.h"

#include "core/number_scan.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tarvex {

double detail::g_tolerance = 0.005;
using detail::g_tolerance;

namespace {

NumberFormat g_default_format;
NumberFormat g_current_format;
char g_number_text[NUMBER_TEXT_MAX + 1];

// The longest conversion asked for: fixed style, the largest double and 18
// decimals.
constexpr int FORMAT_SCRATCH = 400;
// The digits a double carries: more would only show conversion noise.
constexpr int DOUBLE_DIGITS_MAX = 17;

enum class Style { Fixed, Expn, General };

// Writes d as printf's "%.*f", "%.*e" or "%.*g" in the C locale would (no
// number passes through the process locale: Qt sets it from the environment,
// and a comma locale would write "0,67"); the length, or -1 when it does not
// fit.
int format_c(char* buf, int size, Style style, int prec, double d) {
    static const std::chars_format forms[] = {
        std::chars_format::fixed, std::chars_format::scientific, std::chars_format::general};
    auto [end, ec] = std::to_chars(buf, buf + size - 1, d, forms[static_cast<int>(style)], prec);
    if (ec != std::errc{}) return -1;
    *end = 0;
    return static_cast<int>(end - buf);
}

// Reads a scanned number from a C string; counts the digits before the
// exponent (without any, the text holds no number: ".e5" is 0) and notes
// where the last digit ended, so a dangling exponent mark ("1e", "1e+") is
// left out.
struct CStringSource {
    const char* p;
    int digits = 0;
    bool in_exponent = false;
    const char* last_digit_end = nullptr;
    int peek() const { return static_cast<unsigned char>(*p); }
    bool take() {
        if (number_digit(*p)) {
            if (!in_exponent) ++digits;
            last_digit_end = p + 1;
        } else if (*p == 'e' || *p == 'E') {
            in_exponent = true;
        }
        ++p;
        return true;
    }
    void before_digits() {}
};

// Whether a number that no double holds is too large (as opposed to too
// small): its magnitude is 0.d1d2... x 10^(lead + exponent), and the limits
// of a double lie far from 10^0 on either side.
bool decimal_too_large(const char* first, const char* last) {
    long lead = 0;
    bool nonzero = false, after_point = false;
    const char* p = first;
    if (*p == '+' || *p == '-') ++p;
    for (; p < last && (number_digit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            after_point = true;
        } else if (nonzero) {
            if (!after_point) ++lead;
        } else if (*p != '0') {
            nonzero = true;
            if (!after_point) lead = 1;
        } else if (after_point) {
            --lead;
        }
    }
    long exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        // Clamped: far beyond any double's range either way.
        for (; p < last && number_digit(*p); ++p)
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return lead + exponent > 0;
}

// Converts the decimal text [first, last) (no leading '+'); false when it
// lies outside the range of a double.
bool decimal_to_double(const char* first, const char* last, double& d) {
    auto [end, ec] = std::from_chars(first, last, d, std::chars_format::general);
    (void)end;
    return ec == std::errc{};
}

} // namespace

// ---- numbers ---------------------------------------------------------------

int num_mod(double& r, double a, double b) {
    // Whole numbers well inside the 64-bit range: the remainder is exact
    // either way, and integer division costs a fraction of fmod. Zero keeps
    // the dividend's sign, as fmod's does.
    constexpr double WHOLE_MAX = 0x1p62;
    if (a >= -WHOLE_MAX && a <= WHOLE_MAX && b >= -WHOLE_MAX && b <= WHOLE_MAX) {
        auto ia = static_cast<int64_t>(a), ib = static_cast<int64_t>(b);
        if (static_cast<double>(ia) == a && static_cast<double>(ib) == b && ib != 0) {
            int64_t m = ia % ib;
            r = m != 0 ? static_cast<double>(m) : std::copysign(0.0, a);
            return 0;
        }
    }
    return finite_or_fail(r = std::fmod(a, b));
}
void num_negate(double& a) { a = -a; }
void num_abs(double& a) { a = std::fabs(a); }

int num_compare(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return -1;
    return a < b ? -1 : a > b ? 1 : 0;
}

void num_from_int16(double& dst, int16_t i) { dst = i; }
void num_from_int32(double& dst, int32_t i) { dst = i; }

int num_to_int32(int32_t& dst, double d) {
    double t = std::trunc(d);
    if (!(t >= INT32_MIN && t <= INT32_MAX)) return -1;
    dst = static_cast<int32_t>(t);
    return 0;
}

int int16_from_text(int16_t& dst, const char* s) {
    errno = 0;
    long v = std::strtol(s ? s : "", nullptr, 10);
    if (errno == ERANGE || v < INT16_MIN || v > INT16_MAX) return -1;
    dst = static_cast<int16_t>(v);
    return 0;
}

int int16_to_text(char* buf, int16_t i) {
    char* end = std::to_chars(buf, buf + INT16_TEXT_MAX, i).ptr;
    *end = 0;
    return static_cast<int>(end - buf);
}

int number_format(char* buf, double d, const NumberFormat& fmt) {
    buf[0] = 0;
    if (fmt.style > FORMAT_STYLE_MAX) return 0;
    int prec = fmt.decimals > NUMBER_PRECISION_MAX ? NUMBER_PRECISION_MAX : fmt.decimals;
    char wide[FORMAT_SCRATCH];
    int n = format_c(wide, sizeof wide, static_cast<Style>(fmt.style), prec, d);
    if (n >= 0 && n <= NUMBER_TEXT_MAX) {
        std::memcpy(buf, wide, n + 1);
        return n;
    }
    // Too long for the buffer: exponential style with as many digits as fit,
    // so the number is never shown, or saved, cut short.
    for (int p = DOUBLE_DIGITS_MAX - 1; p >= 0; --p) {
        n = format_c(wide, sizeof wide, Style::Expn, p, d);
        if (n >= 0 && n <= NUMBER_TEXT_MAX) {
            std::memcpy(buf, wide, n + 1);
            return n;
        }
    }
    return 0;
}

int number_parse(const char* s, double& d) {
    const char* p = s;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    CStringSource src{p};
    number_scan(src, true);
    if (src.digits == 0) {
        d = 0.0;
        return 0;
    }
    const char* first = *p == '+' ? p + 1 : p;
    const char* last = src.last_digit_end;
    if (decimal_to_double(first, last, d)) return 0;
    bool negative = *p == '-';
    if (decimal_too_large(p, last)) {
        d = negative ? -HUGE_VAL : HUGE_VAL;
        return -1;
    }
    d = negative ? -0.0 : 0.0;
    return 0;
}

bool number_text_looks_numeric(std::string_view s) {
    size_t i = s.find_first_not_of(' ');
    return i != std::string_view::npos && number_starts(static_cast<unsigned char>(s[i]));
}

// ---- number format -----------------------------------------------------------

void format_set_defaults(const NumberFormat& fmt) {
    g_default_format = fmt;
    if (g_default_format.width > NUMBER_TEXT_MAX) g_default_format.width = NUMBER_TEXT_MAX;
    format_set_current(g_default_format);
}

void format_set_current(const NumberFormat& fmt) {
    g_current_format.style = fmt.style <= FORMAT_STYLE_MAX ? fmt.style : g_default_format.style;
    g_current_format.decimals =
        fmt.decimals <= NUMBER_DECIMALS_MAX ? fmt.decimals : g_default_format.decimals;
    g_current_format.width = fmt.width <= NUMBER_TEXT_MAX ? fmt.width : g_default_format.width;
    g_current_format.point = fmt.point;
    g_tolerance = 5.0 * std::pow(10.0, -(g_current_format.decimals + 1));
}

const NumberFormat& format_current() { return g_current_format; }
const NumberFormat& format_default() { return g_default_format; }
double equality_tolerance() { return g_tolerance; }

// ---- Values ------------------------------------------------------------------

NodeHandle value_new_number(double d) {
    NodeHandle v = node_alloc(ChainNode);
    value_set_kind(v, VK_NUMBER);
    value_set_number(v, d);
    return v;
}

NodeHandle value_new_one() { return value_new_number(1.0); }

namespace {
void value_drop_text(NodeHandle v) {
    Text t = value_text(v);
    if (t == 0) return;
    value_set_text_handle(v, 0);
    text_free(t);
}
} // namespace

void value_set_cstring(NodeHandle v, const char* s) {
    value_drop_text(v);
    value_set_text(v, text_from_cstring(s));
}

NodeHandle value_to_text_slow(NodeHandle v) {
    switch (value_kind(v)) {
    case VK_EMPTY:
        value_set_kind(v, VK_STRING);
        value_drop_text(v);
        break;
    case VK_STRING: break;
    case VK_NUMBER:
        if (!(value_flags(v) & VF_DUAL)) {
            value_drop_text(v);
            g_number_text[0] = 0;
            number_format(g_number_text, value_number(v), g_current_format);
            if (value_flags(v) & VF_NAN) std::strcpy(g_number_text, NAN_TEXT);
            value_set_text_handle(v, text_from_cstring(g_number_text));
        }
        value_set_kind(v, VK_STRING);
        value_set_flags(v, value_flags(v) | VF_DUAL);
        break;
    }
    return v;
}

NodeHandle value_to_number_slow(NodeHandle v) {
    switch (value_kind(v)) {
    case VK_EMPTY: value_set_kind(v, VK_NUMBER); break;
    case VK_NUMBER: break;
    case VK_STRING:
        if (!(value_flags(v) & VF_DUAL)) {
            text_to_buffer(g_number_text, value_text(v), NUMBER_TEXT_MAX);
            uint8_t flags;
            if (std::strncmp(g_number_text, NAN_TEXT, NAN_TEXT_LEN) == 0) {
                flags = VF_NAN;
            } else {
                double d = 0.0;
                flags = number_parse(g_number_text, d) == 0 ? 0 : VF_NAN;
                value_set_number(v, d);
            }
            value_set_flags(v, flags | VF_DUAL);
        }
        value_set_kind(v, VK_NUMBER);
        break;
    }
    return v;
}

void value_cache_text(NodeHandle v) {
    if (value_kind(v) != VK_NUMBER) return;
    value_to_text(v);
    value_to_number(v);
}

std::string value_display(NodeHandle v) {
    if (v == 0) return {};
    switch (value_kind(v)) {
    case VK_STRING: return text_to_string(value_text(v));
    case VK_NUMBER:
        if (value_flags(v) & VF_DUAL) return text_to_string(value_text(v));
        if (value_flags(v) & VF_NAN) return NAN_TEXT;
        {
            char buf[NUMBER_TEXT_MAX + 1];
            number_format(buf, value_number(v), g_current_format);
            return buf;
        }
    default: return {};
    }
}

// Walked here rather than through chain_release, whose per-node callback
// costs more than freeing a short value: every argument list and every
// replaced cell value comes this way.
void valuelist_free(NodeHandle head) {
    while (head != 0) {
        NodeHandle next = chain_next(head);
        value_free(head);
        head = next;
    }
}

NodeHandle valuelist_copy(NodeHandle head) {
    NodeHandle first = 0, last = 0;
    for (NodeHandle v = head; v != 0; v = chain_next(v)) {
        NodeHandle c = value_new();
        chain_append(&first, &last, c);
        value_copy(c, v);
    }
    return first;
}

// ---- operations --------------------------------------------------------------

namespace {
template <class Op> void arith_numbers(NodeHandle a, NodeHandle b, Op op) {
    double x = value_number(a);
    int r = op(x, value_number(b));
    value_set_number(a, x);
    uint8_t f = value_flags(a) & ~VF_DUAL;
    if (r != 0) f |= VF_NAN;
    value_set_flags(a, f);
}

template <class Op> [[gnu::noinline]] void arith_converted(NodeHandle a, NodeHandle b, Op op) {
    value_to_number(a);
    value_to_number(b);
    arith_numbers(a, b, op);
}

// Two numbers, the usual operands, need no call (and so no frame).
template <class Op> void arith(NodeHandle a, NodeHandle b, Op op) {
    if (value_kind(a) == VK_NUMBER && value_kind(b) == VK_NUMBER)
        arith_numbers(a, b, op);
    else
        arith_converted(a, b, op);
}

void set_truth(NodeHandle a, bool t) {
    value_set_number(a, t ? 1.0 : 0.0);
    value_set_flags(a, value_flags(a) & ~VF_DUAL);
}
} // namespace

void value_add(NodeHandle a, NodeHandle b) { arith(a, b, num_add); }
void value_sub(NodeHandle a, NodeHandle b) { arith(a, b, num_sub); }
void value_mul(NodeHandle a, NodeHandle b) { arith(a, b, num_mul); }
void value_div(NodeHandle a, NodeHandle b) { arith(a, b, num_div); }
void value_mod(NodeHandle a, NodeHandle b) {
    arith(a, b, [](double& x, double y) { return num_mod(x, x, y); });
}

void value_or(NodeHandle a, NodeHandle b) {
    value_to_number(a);
    value_to_number(b);
    set_truth(a, value_number(a) != 0.0 || value_number(b) != 0.0);
}

void value_and(NodeHandle a, NodeHandle b) {
    value_to_number(a);
    value_to_number(b);
    set_truth(a, value_number(a) != 0.0 && value_number(b) != 0.0);
}

void value_not(NodeHandle a) {
    value_to_number(a);
    set_truth(a, value_number(a) == 0.0);
}

void value_negate(NodeHandle a) {
    if (value_kind(a) == VK_STRING) {
        value_to_number(a);
        value_set_number(a, -value_number(a));
        value_set_flags(a, value_flags(a) & ~VF_DUAL);
        value_to_text(a);
        return;
    }
    value_set_number(a, -value_number(a));
    value_set_flags(a, value_flags(a) & ~VF_DUAL);
}

namespace {
[[gnu::noinline]] void concat_texts(NodeHandle a, NodeHandle b) {
    value_to_text(a);
    value_to_text(b);
    if (text_is_empty(value_text(b))) return;
    if (text_is_empty(value_text(a))) {
        Text moved = value_text(b);
        value_set_text_handle(b, 0);
        value_set_flags(b, value_flags(b) & ~VF_DUAL);
        value_drop_text(a);
        value_set_text_handle(a, moved);
    } else {
        text_append(value_text(a), value_text(b));
    }
    value_set_flags(a, value_flags(a) & ~VF_DUAL);
}
} // namespace

void value_concat(NodeHandle a, NodeHandle b) {
    // The usual join, two strings of one chunk each with room in a's for
    // b's characters, needs no call (and so no frame).
    if (value_kind(a) == VK_STRING && value_kind(b) == VK_STRING) {
        Text ta = value_text(a), tb = value_text(b);
        if (ta != 0 && tb != 0 && chain_next(ta) == 0 && chain_next(tb) == 0) {
            int la = node_aux(ta), lb = node_aux(tb);
            if (lb == 0) return;
            if (la != 0 && la + lb <= TEXT_CHUNK) {
                std::memcpy(node_ref(ta) + CHAIN_PAYLOAD + la, node_ref(tb) + CHAIN_PAYLOAD, lb);
                node_set_aux(ta, static_cast<uint8_t>(la + lb));
                value_set_flags(a, value_flags(a) & ~VF_DUAL);
                return;
            }
        }
    }
    concat_texts(a, b);
}

int value_compare_slow(NodeHandle a, NodeHandle b) {
    if (value_kind(a) == VK_NUMBER && value_kind(b) != VK_STRING) {
        value_to_number(b);
        return tolerant_compare(value_number(a), value_number(b));
    }
    value_to_text(a);
    value_to_text(b);
    int c = text_compare(value_text(a), value_text(b));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void value_mark(NodeHandle v) {
    if (node_mark(v)) text_mark(value_text(v));
}

void valuelist_mark(NodeHandle head) {
    while (head != 0) {
        if (!node_mark(head)) return;
        text_mark(value_text(head));
        head = chain_next(head);
    }
}

} // namespace tarvex
