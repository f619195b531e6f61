// Argument access shared by the builtin functions: the n-th argument behind
// the result Value, number and integer conversions, the string form, and
// the cell named by an argument.
#pragma once

#include "core/text.h"
#include "core/value.h"

#include <cstdint>

namespace tarvex {

// The argument at position i (from 0) behind the result Value; 0 when the
// call has fewer arguments.
NodeHandle arg_at(NodeHandle result, int i);

// The argument at position i converted to a number in place; 0 when absent.
NodeHandle arg_number(NodeHandle result, int i);

// The integer part of a present argument as a 16-bit integer; -1 when it
// lies outside -32768..32767.
int arg_int16(NodeHandle arg, int16_t& out);

// The string form of a Value: a string's Text, a number's display text
// (cached, so the Value stays a number), 0 for an empty Value.
Text arg_string_form(NodeHandle arg);

// The live cell named by the string form of an argument (cut to its first
// 128 characters); 0 when there is none.
NodeHandle arg_cell(NodeHandle arg);

// Makes the result a number with the given flags (VF_DUAL is never set).
void result_set_number(NodeHandle result, double d, uint8_t flags);

} // namespace tarvex
