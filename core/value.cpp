// Values, number formatting and parsing, and the value operations.
#include "core/value.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace tarvex {

namespace {

NumberFormat g_default_format;
NumberFormat g_current_format;
double g_tolerance = 0.005;
char g_number_text[NUMBER_TEXT_MAX + 1];

locale_t c_locale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return loc;
}

// Formats with the C locale in force on this thread only.
int format_c(char* buf, size_t size, const char* fmt, int prec, double d) {
    locale_t old = uselocale(c_locale());
    int n = std::snprintf(buf, size, fmt, prec, d);
    uselocale(old);
    return n;
}

int finite_or_fail(double d) { return std::isfinite(d) ? 0 : -1; }

} // namespace

// ---- numbers ---------------------------------------------------------------

int num_copy(double& dst, double src) {
    dst = src;
    return finite_or_fail(dst);
}
int num_add(double& a, double b) { return finite_or_fail(a += b); }
int num_sub(double& a, double b) { return finite_or_fail(a -= b); }
int num_mul(double& a, double b) { return finite_or_fail(a *= b); }
int num_div(double& a, double b) { return finite_or_fail(a /= b); }
int num_mod(double& r, double a, double b) { return finite_or_fail(r = std::fmod(a, b)); }
void num_negate(double& a) { a = -a; }
void num_abs(double& a) { a = std::fabs(a); }

int num_compare(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return -1;
    return a < b ? -1 : a > b ? 1 : 0;
}

void num_from_int16(double& dst, int16_t i) { dst = i; }
void num_from_int32(double& dst, int32_t i) { dst = i; }

int num_to_int16(int16_t& dst, double d) {
    double t = std::trunc(d);
    if (!(t >= -32768.0 && t <= 32767.0)) return -1;
    dst = static_cast<int16_t>(t);
    return 0;
}

int num_to_int32(int32_t& dst, double d) {
    double t = std::trunc(d);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) return -1;
    dst = static_cast<int32_t>(t);
    return 0;
}

int int16_from_text(int16_t& dst, const char* s) {
    errno = 0;
    long v = std::strtol(s ? s : "", nullptr, 10);
    if (errno == ERANGE || v < -32768 || v > 32767) return -1;
    dst = static_cast<int16_t>(v);
    return 0;
}

int int16_to_text(char* buf, int16_t i) { return std::snprintf(buf, 8, "%d", i); }

int number_format(char* buf, double d, const NumberFormat& fmt) {
    static const char* const conv[3] = {"%.*f", "%.*e", "%.*g"};
    buf[0] = 0;
    if (fmt.style > 2) return 0;
    int prec = fmt.decimals > NUMBER_PRECISION_MAX ? NUMBER_PRECISION_MAX : fmt.decimals;
    char wide[400];
    int n = format_c(wide, sizeof wide, conv[fmt.style], prec, d);
    if (n >= 0 && n <= NUMBER_TEXT_MAX) {
        std::memcpy(buf, wide, n + 1);
        return n;
    }
    // Too long for the buffer: exponential style with as many digits as fit
    // (up to the 17 a double carries), so the number is never shown, or
    // saved, cut short.
    for (int p = 16; p >= 0; --p) {
        n = format_c(wide, sizeof wide, "%.*e", p, d);
        if (n >= 0 && n <= NUMBER_TEXT_MAX) {
            std::memcpy(buf, wide, n + 1);
            return n;
        }
    }
    return 0;
}

int number_parse(const char* s, double& d) {
    // Only the decimal form is taken (white space, sign, digits with a point,
    // exponent); the C library would also read "inf", "nan" and hex numbers,
    // which would turn words such as "info" into numbers.
    const char* p = s;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    while (*p >= '0' && *p <= '9') ++p, ++digits;
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') ++p, ++digits;
    }
    if (digits == 0) {
        d = 0.0;
        return 0;
    }
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') ++q;
        if (*q >= '0' && *q <= '9') {
            while (*q >= '0' && *q <= '9') ++q;
            p = q;
        }
    }
    char buf[512];
    size_t len = static_cast<size_t>(p - start);
    if (len >= sizeof buf) len = sizeof buf - 1;
    std::memcpy(buf, start, len);
    buf[len] = 0;
    errno = 0;
    d = strtod_l(buf, nullptr, c_locale());
    if (errno == ERANGE && std::isinf(d)) return -1;
    return 0;
}

// ---- number format -----------------------------------------------------------

void format_set_defaults(const NumberFormat& fmt) {
    g_default_format = fmt;
    if (g_default_format.width > 24) g_default_format.width = 24;
    format_set_current(g_default_format);
}

void format_set_current(const NumberFormat& fmt) {
    g_current_format.style = fmt.style < 3 ? fmt.style : g_default_format.style;
    g_current_format.decimals =
        fmt.decimals <= NUMBER_DECIMALS_MAX ? fmt.decimals : g_default_format.decimals;
    g_current_format.width = fmt.width <= 24 ? fmt.width : g_default_format.width;
    g_current_format.point = fmt.point;
    g_tolerance = 5.0 * std::pow(10.0, -(g_current_format.decimals + 1));
}

const NumberFormat& format_current() { return g_current_format; }
const NumberFormat& format_default() { return g_default_format; }
double equality_tolerance() { return g_tolerance; }

// ---- Values ------------------------------------------------------------------

NodeHandle value_new() { return node_alloc(ChainNode); }

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
    value_set_text_handle(v, 0);
    text_free(t);
}
} // namespace

void value_copy(NodeHandle dst, NodeHandle src) {
    if (dst == 0 || dst == src) return;
    value_drop_text(dst);
    if (src == 0) {
        value_set_kind(dst, VK_EMPTY);
        value_set_flags(dst, 0);
        value_set_number(dst, 0.0);
        return;
    }
    value_set_kind(dst, value_kind(src));
    value_set_flags(dst, value_flags(src));
    value_set_number(dst, value_number(src));
    // A number's text is only its cached display text: without VF_DUAL it
    // is stale and not worth copying.
    bool stale = value_kind(src) == VK_NUMBER && !(value_flags(src) & VF_DUAL);
    if (value_text(src) != 0 && !stale) value_set_text_handle(dst, text_copy(value_text(src)));
}

void value_set_text(NodeHandle v, Text t) {
    if (value_text(v) != t) value_drop_text(v);
    value_set_text_handle(v, t);
    value_set_kind(v, VK_STRING);
    value_set_flags(v, value_flags(v) & ~VF_DUAL);
}

void value_set_cstring(NodeHandle v, const char* s) {
    value_drop_text(v);
    value_set_text(v, text_from_cstring(s));
}

NodeHandle value_to_text(NodeHandle v) {
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
            if (value_flags(v) & VF_NAN) std::strcpy(g_number_text, "{NAN}");
            value_set_text_handle(v, text_from_cstring(g_number_text));
        }
        value_set_kind(v, VK_STRING);
        value_set_flags(v, value_flags(v) | VF_DUAL);
        break;
    }
    return v;
}

NodeHandle value_to_number(NodeHandle v) {
    switch (value_kind(v)) {
    case VK_EMPTY: value_set_kind(v, VK_NUMBER); break;
    case VK_NUMBER: break;
    case VK_STRING:
        if (!(value_flags(v) & VF_DUAL)) {
            text_to_buffer(g_number_text, value_text(v), NUMBER_TEXT_MAX);
            uint8_t flags;
            if (std::strncmp(g_number_text, "{NAN}", 5) == 0) {
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
        if (value_flags(v) & VF_NAN) return "{NAN}";
        {
            char buf[NUMBER_TEXT_MAX + 1];
            number_format(buf, value_number(v), g_current_format);
            return buf;
        }
    default: return {};
    }
}

void value_free(NodeHandle v) {
    if (v == 0) return;
    text_free(value_text(v));
    node_free(v);
}

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
        if (last == 0)
            first = c;
        else
            chain_set_next(last, c);
        last = c;
        value_copy(c, v);
    }
    return first;
}

// ---- operations --------------------------------------------------------------

namespace {
template <class Op> void arith(NodeHandle a, NodeHandle b, Op op) {
    value_to_number(a);
    value_to_number(b);
    double x = value_number(a);
    int r = op(x, value_number(b));
    value_set_number(a, x);
    uint8_t f = value_flags(a) & ~VF_DUAL;
    if (r != 0) f |= VF_NAN;
    value_set_flags(a, f);
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

void value_concat(NodeHandle a, NodeHandle b) {
    value_to_text(a);
    value_to_text(b);
    TextLen la = text_length(value_text(a)), lb = text_length(value_text(b));
    if (lb == 0) return;
    if (la == 0) {
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

int value_compare(NodeHandle a, NodeHandle b) {
    if (value_kind(a) == VK_NUMBER && value_kind(b) != VK_STRING) {
        value_to_number(b);
        double d = value_number(a) - value_number(b);
        if (d > 0) return d > g_tolerance ? 1 : 0;
        if (d < 0) return -d > g_tolerance ? -1 : 0;
        return 0;
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
