// Compiled expressions: an expression over plain numbers (cell reads, also
// subscripted, number literals, system constants, %n, arithmetic, logic,
// comparisons and parentheses) is compiled on its first execution to a
// postfix program, cached by its token list and first token, and afterwards
// run over doubles. The expression walker stays the reference: whenever a
// run could give anything other than what the walker gives (a value that is
// not a plain number, a missing argument, a subscript out of range, the
// store near its low mark, an injected failure, nesting near its limit) the
// walker evaluates the expression from its first token, and the program has
// changed nothing before that.
#pragma once

#include "tokens/token_list.h"
#include "web/cell.h"

#include <cstdint>

namespace tarvex {

// Off: every expression and statement goes through the walker. On by
// default.
void interp_set_fast_path(bool on);
namespace detail {
extern bool g_fast_path;
}
inline bool interp_fast_path() { return detail::g_fast_path; }
// Off: every cell call runs step by step, none on numbers
// (script/number_calls.h). On by default.
void interp_set_number_calls(bool on);
namespace detail {
extern bool g_number_calls;
}
inline bool interp_number_calls() { return detail::g_number_calls; }

// At the first token of an expression: when its program can run, pushes
// the expression's value, moves the cursor past it and returns true;
// otherwise returns false with nothing changed.
bool compiled_expression_run();
// The same, for a caller that would pop the value straight away: it is
// handed over in *v (owned by the caller) instead.
bool compiled_expression_value(NodeHandle* v);
// The same, for a caller that only wants the value's truth (value_is_true)
// and would release it: nothing is made.
bool compiled_expression_truth(bool* truth);
// An expression with calls, strings or joins, refused by the three above,
// runs as the interpreter's own steps without the parsing: true, with the result code
// in *r and (when 0) the value left on the stack and the cursor past the
// expression; false, with nothing changed, when it has no such program.
bool compiled_calls_run(int* r);
// A caller refused by the last two goes on to the walker without asking again.

// Compiled statements: an expression statement, a set of a cell named
// without a subscript, and an if whose clauses are conditions in
// parentheses and blocks in braces, are read once into where each part
// begins and what it evaluates; afterwards they run without the reading,
// every expression through its program or the walker. exec_statement_list,
// with the fast path on, from a statement of the interpreter's list (not
// 0): runs every statement, compiled or through exec_statement_body, with
// exec_statement's nesting, poll and stop checks.
int compiled_statement_list(CellHandle cell);

// tokens_seek_cursor for a cursor on list l (the interpreter's jumps): a
// forward seek lands where it landed the first time, kept with the list's
// compiled code. Steps every time when the fast path is off.
Token compiled_seek(TokenList l, TokenCursor& c, uint16_t index);

// Drops what was compiled for a list (it is being released).
void compiled_forget(TokenList l);

// What the cache has done since the last reset, for tests and measurements.
struct CompiledCounts {
    uint64_t runs = 0;       // programs run
    uint64_t fallbacks = 0;  // compiled expressions left to the walker this time
    uint64_t compiled = 0;   // expressions compiled
    uint64_t refused = 0;    // expressions found not to compile
    uint64_t given_up = 0;   // compiled expressions left to the walker for good
    uint64_t statements = 0; // compiled statements run
    uint64_t number_calls = 0;  // outermost cell calls run on numbers
    uint64_t number_misses = 0; // calls on numbers given up and run step by step
};
CompiledCounts compiled_counts();
void compiled_counts_reset();

} // namespace tarvex
