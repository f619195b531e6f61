// Cell calls run on numbers (script/number_calls.cpp): a call of a cell
// whose script is expression statements, ifs and sets over numbers (its
// arguments, cell reads, calls of such cells), made without the
// step-by-step run's values and stacks, and ending with the store, the
// values and every count as those steps leave them.
#pragma once

#include "script/compiled_code.h"

#include <climits>

namespace tarvex {

namespace compiled {

// call_on_numbers_at's answer when the call is to run step by step, with
// nothing changed.
constexpr int NOT_ON_NUMBERS = INT_MIN;

// The call at a program's call site, with the cursor where run_calls calls
// it: made on numbers, its result left as call_cell leaves it (`handed` as
// call_cell's), 0 or a script error; or NOT_ON_NUMBERS.
int call_on_numbers_at(Interpreter& in, ListCache& lc, uint16_t site_no, NodeHandle* handed);

} // namespace compiled

} // namespace tarvex
