// Compiled code's records, shared by the compiler (script/expr_compiler.cpp)
// and the runners (script/compiled_run.h, compiled_expr.cpp and
// compiled_statements.cpp): the operations of a program, a compiled
// expression and statement, and the cache of a token list.
#pragma once

#include "script/compiled_expr.h"
#include "script/interpreter.h"
#include "script/operators.h"
#include "tokens/token_list.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tarvex::compiled {

struct Op {
    uint8_t code;
    uint8_t rel; // OP_RELATION: the comparison
    uint16_t arg;
};

// The operand array a program runs on is fixed; an expression that would
// need more is left to the walker.
constexpr int OPERANDS_MAX = 32;
// An expression that has fallen back this often, and more often than it
// ran, is left to the walker for good: its values are seldom plain numbers.
constexpr uint16_t MISSES_MAX = 8;

struct Entry {
    uint8_t depth = 0;     // the deepest nesting its evaluation reaches
    uint8_t shape = 0;     // a Shape
    bool calls = false;    // a program run on the value stack (calls, strings, joins)
    bool given_up = false; // left to the walker for good (its mark says so too)
    uint16_t misses = 0;
    // The most store nodes a run holds at once, less the texts of the
    // values it reads from cells, arguments and constants.
    uint16_t nodes = 0;
    uint32_t hits = 0;
    uint32_t code_at = 0;
    uint32_t code_len = 0;
    TokenCursor end; // the token after the expression
};

constexpr uint32_t LEFT_TO_WALKER = UINT32_MAX;
// Set in the mark of an entry run on the value stack (see run_calls).
constexpr uint32_t CALLS_MARK = 0x80000000u;

// The commonest programs, a value read alone, two reads and an operator,
// or three reads and two operators (a op (b op c), (a op b) op c), run
// without the operand array.
enum Shape : uint8_t {
    SHAPE_ANY,
    SHAPE_LOAD,
    SHAPE_PAIR,
    SHAPE_COMPARE,
    SHAPE_RIGHT_PAIR,
    SHAPE_LEFT_PAIR
};

// A call in a program: the cell's table index (a builtin's entry), where
// the interpreter's cursor stands when the arguments are read (at the first
// token after the parenthesis) or makes a call without them (at the '!'),
// and the nesting of the primary it is.
struct CallSite {
    TokenCursor at;
    uint16_t index = 0;
    uint8_t depth = 0;
    bool call = false; // a call, not an argument reference
    bool builtin = false;
    bool bang = false;
    // The arguments, each compiled, when all of them are: where they are
    // in ListCache::args, and the token after the list.
    bool args_compiled = false;
    // Whether the call is tried on numbers (number_calls.h), and how often
    // that ran and was given up.
    bool on_numbers = true;
    uint16_t number_runs = 0, number_misses = 0;
    uint16_t arg_count = 0;
    uint32_t args_at = 0;
    TokenCursor args_end;
};

// An argument of a call: its first token and its expression's mark.
struct ArgSite {
    TokenCursor at;
    uint32_t mark = 0;
};

// A compiled statement: where each of its parts begins, and the marks of
// its expressions (as entry_of holds them).
enum StmtKind : uint8_t { ST_EXPRESSION, ST_SET, ST_IF, ST_WHILE };

// A clause of an if: its condition and its block.
struct Clause {
    Token tok = nullptr;      // the if or elseif
    TokenCursor cond;         // the condition's first token
    TokenCursor block;        // the block's '{', straight after the ')'
    TokenCursor block_first;  // the token after the '{'
    uint16_t after_block = 0; // the index of the token after its '}'
    uint32_t entry = 0;       // the condition's mark, 0 when it has no program
};

struct Stmt {
    uint8_t kind = ST_EXPRESSION;
    bool has_else = false;
    uint16_t target = 0;     // ST_SET: the cell's table index
    uint32_t entry = 0;      // ST_EXPRESSION, ST_SET, ST_WHILE: the expression's mark, 0 for none
    uint32_t clauses_at = 0; // ST_IF: its clauses in ListCache::clauses
    uint32_t clause_count = 0;
    TokenCursor at;         // ST_SET, ST_WHILE: the expression's first token
    TokenCursor else_first; // ST_IF: the token after the else block's '{'
    TokenCursor end;        // ST_IF: the token after the statement
    // ST_WHILE: the while, and its block: the '{' and the token after it.
    Token loop = nullptr;
    TokenCursor block;
    TokenCursor block_first;
};

// A cell's script read for calls on numbers (script/number_calls.cpp).
struct Plan;
struct PlanDeleter {
    void operator()(Plan* p) const;
};

struct ListCache {
    uint32_t stamp = 0;
    // By token index: 0 before the first run, then LEFT_TO_WALKER or the
    // entry's number + 1 (with CALLS_MARK for a program on the value stack).
    std::vector<uint32_t> entry_of;
    std::vector<Entry> entries;
    std::vector<Op> code;
    std::vector<CallSite> sites;
    std::vector<ArgSite> args;
    // By token index: where a forward seek to it lands (a chunk of 0 until
    // the first such seek). The landing does not depend on where the seek
    // starts, so a jump cached once is taken straight afterwards.
    std::vector<TokenCursor> jumps;
    // Compiled statements, by the index of their first token as entry_of.
    std::vector<uint32_t> stmt_of;
    std::vector<Stmt> stmts;
    std::vector<Clause> clauses;
    // Its statements read for calls on numbers, and its call sites.
    std::unique_ptr<Plan, PlanDeleter> plan, site_plan;
};

// What the cache has done (compiled_counts).
extern CompiledCounts g_counts;

inline Entry& entry_of_mark(ListCache& lc, uint32_t mark) {
    return lc.entries[(mark & ~CALLS_MARK) - 1];
}

// The mark of the expression at `at`, compiled now when it has not been; 0
// when it has no program.
uint32_t mark_at(ListCache& lc, TokenCursor at);
// Reads the statement at a token: its number + 1, or LEFT_TO_WALKER.
uint32_t compile_statement_at(ListCache& lc, TokenCursor at);
// The same at the interpreter's cursor.
inline uint32_t compile_statement(Interpreter& in, ListCache& lc) {
    return compile_statement_at(lc, in.cur);
}

} // namespace tarvex::compiled
