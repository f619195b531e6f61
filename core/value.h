// Script values: one chain node holding a number, a string, or both forms of
// the same datum (kept in step through VF_DUAL), value lists, the number
// display format with its equality tolerance, and the number operations.
#pragma once

#include "core/node_store.h"
#include "core/text.h"

#include <cmath>
#include <string>
#include <string_view>

namespace tarvex {

enum ValueKind : uint8_t { VK_EMPTY = 0, VK_STRING = 1, VK_NUMBER = 2 };
constexpr uint8_t VF_DUAL = 0x01;
constexpr uint8_t VF_NAN = 0x02;

// The number text buffer, less its terminator: every conversion between a
// number and its text goes through it, and a longer text is cut to it.
constexpr int NUMBER_TEXT_MAX = 24;
// Marks the text of a number that is not valid; a text starting with it
// converts flagged.
constexpr char NAN_TEXT[] = "{NAN}";
constexpr int NAN_TEXT_LEN = sizeof NAN_TEXT - 1;

// Styles 0 fixed, 1 expn, 2 general.
constexpr uint8_t FORMAT_STYLE_MAX = 2;

// The most decimals a format shows. With more, the equality tolerance (half a
// unit of the last decimal) would fall towards the rounding error of ordinary
// results, and numbers that should compare equal would not.
constexpr int NUMBER_DECIMALS_MAX = 8;
// The most digits number_format asks the C library for: a double carries
// 17 significant digits, so further ones show only binary noise.
constexpr int NUMBER_PRECISION_MAX = 18;

struct NumberFormat {
    uint8_t style = 2; // 0 fixed, 1 expn, 2 general
    uint8_t decimals = 2;
    uint8_t width = 24;
    uint8_t point = '.';
};

// ---- numbers (0 or -1: -1 when the result is not finite) -------------------
// Inline: every arithmetic operation of a run makes one.
inline int finite_or_fail(double d) { return std::isfinite(d) ? 0 : -1; }
inline int num_copy(double& dst, double src) { return finite_or_fail(dst = src); }
inline int num_add(double& a, double b) { return finite_or_fail(a += b); }
inline int num_sub(double& a, double b) { return finite_or_fail(a -= b); }
inline int num_mul(double& a, double b) { return finite_or_fail(a *= b); }
inline int num_div(double& a, double b) { return finite_or_fail(a /= b); }
int num_mod(double& r, double a, double b);
void num_negate(double& a);
void num_abs(double& a);
int num_compare(double a, double b);
void num_from_int16(double& dst, int16_t i);
void num_from_int32(double& dst, int32_t i);
// Inline: every argument number and subscript is read through it. A
// double converts truncating towards zero, so the range check is on the
// open interval around [INT16_MIN, INT16_MAX] (NaN fails it too).
inline int num_to_int16(int16_t& dst, double d) {
    if (!(d > INT16_MIN - 1.0 && d < INT16_MAX + 1.0)) return -1;
    dst = static_cast<int16_t>(d);
    return 0;
}
int num_to_int32(int32_t& dst, double d);
int int16_from_text(int16_t& dst, const char* s);
// buf must hold INT16_TEXT_MAX + 1 bytes ("-32768" and its terminator).
constexpr int INT16_TEXT_MAX = 6;
int int16_to_text(char* buf, int16_t i);

// buf must hold NUMBER_TEXT_MAX + 1 bytes. Formats and parses in the C
// locale whatever the process locale is.
int number_format(char* buf, double d, const NumberFormat& fmt);
int number_parse(const char* s, double& d);
// Whether a value's text, typed or read from a web file, is taken as a
// number: its first character other than a space starts a number.
bool number_text_looks_numeric(std::string_view s);

void format_set_defaults(const NumberFormat& fmt);
void format_set_current(const NumberFormat& fmt);
const NumberFormat& format_current();
const NumberFormat& format_default();
double equality_tolerance();
namespace detail {
// Read inline by value_compare, which every comparison of two numbers
// reaches.
extern double g_tolerance;
} // namespace detail

// ---- Value fields ------------------------------------------------------------
// A Value is a chain node: kind, flags, text, number.
constexpr int V_KIND = CHAIN_PAYLOAD + 0;
constexpr int V_FLAGS = CHAIN_PAYLOAD + 1;
constexpr int V_TEXT = CHAIN_PAYLOAD + 2;
constexpr int V_NUMBER = CHAIN_PAYLOAD + 4;
static_assert(record_fits(V_NUMBER + sizeof(double)), "Value layout");

inline uint8_t value_kind(NodeHandle v) { return node_get_u8(v, V_KIND); }
inline uint8_t value_flags(NodeHandle v) { return node_get_u8(v, V_FLAGS); }
inline Text value_text(NodeHandle v) { return node_get_u16(v, V_TEXT); }
inline double value_number(NodeHandle v) { return node_get_f64(v, V_NUMBER); }
inline void value_set_kind(NodeHandle v, uint8_t k) { node_set_u8(v, V_KIND, k); }
inline void value_set_flags(NodeHandle v, uint8_t f) { node_set_u8(v, V_FLAGS, f); }
inline void value_set_text_handle(NodeHandle v, Text t) { node_set_u16(v, V_TEXT, t); }
inline void value_set_number(NodeHandle v, double d) { node_set_f64(v, V_NUMBER, d); }

// ---- Values ------------------------------------------------------------------
inline NodeHandle value_new() { return node_alloc(ChainNode); }
NodeHandle value_new_one();
NodeHandle value_new_number(double d);
// Inline: every read of a cell, literal or argument copies a value.
inline void value_copy(NodeHandle dst, NodeHandle src) {
    if (dst == 0 || dst == src) return;
    if (Text old = value_text(dst); old != 0) {
        value_set_text_handle(dst, 0);
        text_free(old);
    }
    if (src == 0) {
        value_set_kind(dst, VK_EMPTY);
        value_set_flags(dst, 0);
        value_set_number(dst, 0.0);
        return;
    }
    // Field by field: src was most often written a field at a time just
    // before, and a wider read would wait for those writes to complete.
    // Until the copy is made dst names no text (running out of nodes in
    // text_copy leaves dst without one).
    value_set_kind(dst, value_kind(src));
    value_set_flags(dst, value_flags(src));
    value_set_number(dst, value_number(src));
    // Even a number's stale display text is copied: the copy takes as many
    // nodes as its source, which is what the store's count reports.
    if (Text t = value_text(src); t != 0) value_set_text_handle(dst, text_copy(t));
}
// Inline: every builtin with a string result ends here.
inline void value_set_text(NodeHandle v, Text t) {
    if (Text old = value_text(v); old != t && old != 0) {
        value_set_text_handle(v, 0);
        text_free(old);
    }
    value_set_text_handle(v, t);
    value_set_kind(v, VK_STRING);
    value_set_flags(v, value_flags(v) & ~VF_DUAL);
}
void value_set_cstring(NodeHandle v, const char* s);
// A string is left as it is; only a conversion leaves the header.
NodeHandle value_to_text_slow(NodeHandle v);
inline NodeHandle value_to_text(NodeHandle v) {
    return value_kind(v) == VK_STRING ? v : value_to_text_slow(v);
}
// Every operand passes through here and is most often a number already:
// only a conversion leaves the header.
NodeHandle value_to_number_slow(NodeHandle v);
inline NodeHandle value_to_number(NodeHandle v) {
    return value_kind(v) == VK_NUMBER ? v : value_to_number_slow(v);
}
void value_cache_text(NodeHandle v);
// Inline: every operand an operator consumes is released here.
inline void value_free(NodeHandle v) {
    if (v == 0) return;
    if (Text t = value_text(v); t != 0) text_free(t);
    node_free(v);
}
void valuelist_free(NodeHandle head);
NodeHandle valuelist_copy(NodeHandle head);

void value_add(NodeHandle a, NodeHandle b);
void value_sub(NodeHandle a, NodeHandle b);
void value_mul(NodeHandle a, NodeHandle b);
void value_div(NodeHandle a, NodeHandle b);
void value_mod(NodeHandle a, NodeHandle b);
void value_or(NodeHandle a, NodeHandle b);
void value_and(NodeHandle a, NodeHandle b);
void value_not(NodeHandle a);
void value_negate(NodeHandle a);
void value_concat(NodeHandle a, NodeHandle b);
// Two numbers compare equal within the equality tolerance of each other
// (and when either is not a number).
inline int tolerant_compare(double a, double b) {
    double d = a - b;
    if (d > 0) return d > detail::g_tolerance ? 1 : 0;
    if (d < 0) return -d > detail::g_tolerance ? -1 : 0;
    return 0;
}
// Two numbers are compared inline; any other pair goes to
// value_compare_slow.
int value_compare_slow(NodeHandle a, NodeHandle b);
inline int value_compare(NodeHandle a, NodeHandle b) {
    if (value_kind(a) != VK_NUMBER || value_kind(b) != VK_NUMBER) return value_compare_slow(a, b);
    return tolerant_compare(value_number(a), value_number(b));
}

// The display text of a value without changing it: the cached text of a
// number, the formatted number, the string, or "" for an empty value.
std::string value_display(NodeHandle v);

void value_mark(NodeHandle v);
void valuelist_mark(NodeHandle head);

} // namespace tarvex
