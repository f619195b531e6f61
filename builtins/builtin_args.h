// Argument access shared by the builtin functions: the n-th argument behind
// the result Value, number and integer conversions, the string form, and
// the cell named by an argument; and the calling sequence of the string
// builtins, which make their first argument the result.
#pragma once

#include "core/text.h"
#include "core/value.h"

#include <cstdint>
#include <cstring>

namespace tarvex {

// The argument at position i (from 0) behind the result Value; 0 when the
// call has fewer arguments. Inline, like the helpers below: every builtin
// call reads its arguments through them.
inline NodeHandle arg_at(NodeHandle result, int i) {
    NodeHandle a = chain_next(result);
    while (a != 0 && i-- > 0)
        a = chain_next(a);
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

// Makes the result a number with the given flags (VF_DUAL is never set).
inline void result_set_number(NodeHandle result, double d, uint8_t flags) {
    value_set_kind(result, VK_NUMBER);
    value_set_number(result, d);
    value_set_flags(result, flags & ~VF_DUAL);
}

[[gnu::always_inline]] inline void result_set_out(NodeHandle result, const BuiltinOut& out) {
    if (out.kind == VK_NUMBER)
        result_set_number(result, out.number, 0);
    else
        value_set_text(result, out.text);
}

// The string builtins are computations int32_t compute(NodeHandle args,
// BuiltinOut& out) on the argument list (0 for none), giving 0 or
// SE_BUILTIN_ARG. Of the arguments, the first argument's Text is released
// first after the call, so compute may take it over for its result
// (clearing it in the argument) instead of copying it.
//
// The BuiltinFn of such a builtin: compute on the arguments behind the
// result, and its outcome stored in the result.
template <class Compute> int32_t result_from(NodeHandle result, Compute compute) {
    BuiltinOut out;
    int32_t status = compute(chain_next(result), out);
    if (status == 0) result_set_out(result, out);
    return status;
}

// The calling sequence of builtin_call for such a builtin. Its first
// argument, which the sequence would release first, becomes the result
// Value in place of a new one: the store is charged where the result would
// be made and given back where that argument's node would be released, so
// that it counts at every step what the sequence counts.
template <class Compute>
int32_t invoke_in_first(NodeHandle args, NodeHandle* result, Compute compute) {
    NodeCharge made;
    BuiltinOut out;
    int32_t status = compute(args, out);
    if (status != 0) {
        made.give_back();
        valuelist_free(args);
        return status;
    }
    NodeHandle v = args, rest = chain_next(v);
    if (Text t = value_text(v); t != 0) {
        value_set_text_handle(v, 0);
        text_free(t);
    }
    made.give_back();
    // A new Value, as value_new makes one, then the result.
    std::memset(node_ref(v) + NODE_AUX, 0, NODE_SIZE - NODE_AUX);
    result_set_out(v, out);
    if (rest != 0) valuelist_free(rest);
    *result = v;
    return 0;
}

// builtin_call's entry points for the string builtins (the call's
// argument list and where the result goes, as builtin_invoke takes them).
using InFirstFn = int32_t (*)(NodeHandle args, NodeHandle* result);
int32_t slen_in_first(NodeHandle args, NodeHandle* result);
int32_t first_in_first(NodeHandle args, NodeHandle* result);
int32_t last_in_first(NodeHandle args, NodeHandle* result);
int32_t butfirst_in_first(NodeHandle args, NodeHandle* result);
int32_t butlast_in_first(NodeHandle args, NodeHandle* result);

// The string builtins computed on arguments that are values read where
// they stand (a cell's value, a literal), not copies the call owns: the
// result's text is always new. False, with nothing made, where the call
// would change an argument (a number's display text cached, a count
// converted from its text) or fail; the call is then made as usual.
using OnReadsFn = bool (*)(NodeHandle s, NodeHandle count, BuiltinOut& out);
bool slen_on_reads(NodeHandle s, NodeHandle, BuiltinOut& out);
bool first_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out);
bool last_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out);
bool butfirst_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out);
bool butlast_on_reads(NodeHandle s, NodeHandle count, BuiltinOut& out);
// The builtin of an NK_BUILTIN entry computed so, for a call with
// arg_count arguments (the string, and the count if it takes one);
// nullptr for any other builtin or count.
OnReadsFn builtin_on_reads(NodeHandle entry, uint32_t arg_count);

} // namespace tarvex
