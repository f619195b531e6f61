// Argument access shared by the builtin functions: the n-th argument behind
// the result Value, number and integer conversions, the string form, and
// the cell named by an argument.
#pragma once

#include "core/text.h"
#include "core/value.h"

#include <cstdint>

namespace tarvex {

// The argument at position i (from 0) behind the result Value; 0 when the
// call has fewer arguments. Inline, like the helpers below: every builtin
// call reads its arguments through them.
inline NodeHandle arg_at(NodeHandle result, int i) {
    NodeHandle a = chain_next(result);
    while (a != 0 && i-- > 0) a = chain_next(a);
    return a;
}

// The argument at position i converted to a number in place; 0 when absent.
inline NodeHandle arg_number(NodeHandle result, int i) {
    NodeHandle a = arg_at(result, i);
    if (a != 0) value_to_number(a);
    return a;
}

// The integer part of a present argument as a 16-bit integer; -1 when it
// lies outside -32768..32767.
inline int arg_int16(NodeHandle arg, int16_t& out) {
    return num_to_int16(out, value_number(value_to_number(arg)));
}

// The string form of a Value: a string's Text, a number's display text
// (cached, so the Value stays a number), 0 for an empty Value.
inline Text arg_string_form(NodeHandle arg) {
    switch (value_kind(arg)) {
    case VK_STRING: return value_text(arg);
    case VK_NUMBER: value_cache_text(arg); return value_text(arg);
    default: return 0;
    }
}

// The live cell named by the string form of an argument (cut to its first
// 128 characters); 0 when there is none.
NodeHandle arg_cell(NodeHandle arg);

// What a string builtin computes from its argument list alone: a number
// (VK_NUMBER, flags 0) or a string (VK_STRING) with its Text, 0 for no
// characters, which passes to the result.
struct BuiltinOut {
    uint8_t kind = VK_EMPTY;
    double number = 0.0;
    Text text = 0;
};
// Computes a result from args (the argument list, 0 for none) into out;
// 0 or SE_BUILTIN_ARG. Of the arguments, the first argument's Text is
// released first after the call, so the builtin may take it over for its
// result (clearing it in the argument) instead of copying it.
using ArgsFn = int32_t (*)(NodeHandle args, BuiltinOut& out);
int32_t slen_from_args(NodeHandle args, BuiltinOut& out);
int32_t first_from_args(NodeHandle args, BuiltinOut& out);
int32_t last_from_args(NodeHandle args, BuiltinOut& out);
int32_t butfirst_from_args(NodeHandle args, BuiltinOut& out);
int32_t butlast_from_args(NodeHandle args, BuiltinOut& out);
// The BuiltinFn of such a builtin: fn on the arguments behind the result,
// and its outcome stored in the result.
int32_t result_from_args(NodeHandle result, ArgsFn fn);

// Makes the result a number with the given flags (VF_DUAL is never set).
inline void result_set_number(NodeHandle result, double d, uint8_t flags) {
    value_set_kind(result, VK_NUMBER);
    value_set_number(result, d);
    value_set_flags(result, flags & ~VF_DUAL);
}

} // namespace tarvex
