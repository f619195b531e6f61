// The interpreter's state and the routines that evaluate expressions and
// execute statements over a token list. Shared by the expression, statement
// and run engine files; everything returns 0 or a script error code.
#pragma once

#include "core/errors.h"
#include "core/handle_stack.h"
#include "io/output_stream.h"
#include "script/run_engine.h"
#include "tokens/token_list.h"
#include "web/cell.h"

namespace tarvex {

constexpr int NESTING_LIMIT = 200;

// A token list and where its cursor stood. Each one held is charged the
// plain node a saved position record takes.
struct SavedPosition {
    TokenList list = 0;
    TokenCursor cursor;
};

// An active call of a run: the cell, and how many positions were saved
// when it was entered (the one below that is its caller's return position;
// the store bounds the count). Written at every call, read only by the
// debugger.
struct CallRecord {
    CellHandle cell;
    uint16_t frames_at;
};

// The run's stacks live outside the store and charge it what they stand for
// (core/handle_stack.h). Every value on the value stack is a node of its
// own and every saved position a charge, so the store's size bounds both;
// argument entries may be 0.
struct Interpreter {
    TokenList list = 0;  // the token list being executed
    Token tok = nullptr; // its current token
    TokenCursor cur;     // where tok stands (the list's own cursor is not kept)
    ChargedStack<NodeHandle, NODE_COUNT_MAX> values;
    ChargedStack<NodeHandle, NODE_COUNT_MAX * HSTACK_SLOTS> args; // argument lists
    ChargedStack<SavedPosition, NODE_COUNT_MAX, true> frames;     // each record a node's worth
    int depth = 0;
    CellHandle root = 0;
    CellHandle executing = 0;
    // The active calls, outermost first, indexed by the argument stack's
    // count before each call's list was pushed.
    CallRecord calls[NESTING_LIMIT + 1];
};

namespace detail {
extern Interpreter g_interpreter;
}
inline Interpreter& interp() { return detail::g_interpreter; }

// ---- tokens --------------------------------------------------------------------
inline uint8_t cur_kind() { return interp().tok ? token_kind(interp().tok) : uint8_t{NO_TOKEN}; }
inline bool cur_is_word(uint8_t id) {
    return cur_kind() == RESWORD && token_aux(interp().tok) == id;
}
// Moves to the next token (never past the end); an ERROR token reached
// this way gives its code.
inline int advance() {
    Interpreter& in = interp();
    if (in.tok == nullptr || token_kind(in.tok) == END_OF_FILE) return 0;
    Token next = tokens_step(in.cur);
    if (next == nullptr) return 0;
    in.tok = next;
    return token_kind(next) == ERROR ? static_cast<int8_t>(token_aux(next)) : 0;
}
// Jumps forward to a token index (a jump cache).
void seek(uint16_t index);
// The error of a token of this kind missing.
int expect_missing(uint8_t kind);
inline int expect(uint8_t kind) { return cur_kind() == kind ? advance() : expect_missing(kind); }
inline int expect_word(uint8_t id) { return cur_is_word(id) ? advance() : SE_SYNTAX; }

// ---- saved positions -------------------------------------------------------------
// Inline: every cell call saves and restores one.
inline void position_save() {
    Interpreter& in = interp();
    cstack_push(in.frames, SavedPosition{in.list, in.cur});
}
inline TokenList position_restore() {
    Interpreter& in = interp();
    SavedPosition p;
    if (!cstack_pop(in.frames, &p)) return 0;
    in.list = p.list;
    in.cur = p.cursor;
    in.tok = p.cursor.chunk != 0 ? tokens_at(p.cursor.chunk, p.cursor.slot) : nullptr;
    return p.list;
}
inline void position_drop() {
    SavedPosition p;
    cstack_pop(interp().frames, &p);
}
// A position saved and dropped straight away: the record's charge, and its
// block's when it begins one, made and given back.
inline void position_touch() {
    Interpreter& in = interp();
    if (detail::store_roomy(PASSING_CHARGES_MAX)) {
        node_charges_passed(in.frames.count % HSTACK_SLOTS == 0 ? 2 : 1);
        return;
    }
    position_save();
    position_drop();
}

// The position on top restored and saved again (a loop's next round):
// where taking its charges back notes nothing, they only pass.
inline void position_renew() {
    Interpreter& in = interp();
    if (in.frames.count == 0 || !detail::store_roomy(PASSING_CHARGES_MAX)) {
        position_restore();
        position_save();
        return;
    }
    const uint32_t below = in.frames.count - 1;
    node_charges_passed(below % HSTACK_SLOTS == 0 ? 2 : 1);
    const SavedPosition& p = in.frames.entries[below];
    in.list = p.list;
    in.cur = p.cursor;
    in.tok = p.cursor.chunk != 0 ? tokens_at(p.cursor.chunk, p.cursor.slot) : nullptr;
}

// ---- the value stack ---------------------------------------------------------------
inline void push_value(NodeHandle v) { cstack_push(interp().values, v); }
// 0 when empty.
inline NodeHandle pop_value() {
    NodeHandle v = 0;
    cstack_pop(interp().values, &v);
    return v;
}

// The reclaim walk's root for what a run holds: its stacks, the values and
// argument lists on them, and their charges (engine start-up registers it).
void interpreter_mark();

// The nesting rule: counts active routines, refusing past the limit.
// Routines entered one straight after the other, with no token moved in
// between, may count together: the first of them to be refused would fail
// at the same token with the same code. The inner one's level ends when it
// returns (end_inner), so that what follows it nests exactly as deep as if
// each had counted alone.
struct Nest {
    int levels;
    bool ok;
    explicit Nest(int n = 1) : levels(n), ok((interp().depth += n) <= NESTING_LIMIT) {}
    ~Nest() { interp().depth -= levels; }
    void end_inner() {
        --levels;
        --interp().depth;
    }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;
};

// ---- expressions -------------------------------------------------------------------
int eval_expression();
int eval_primary();
// The one rule of an argument list, for the walker and the compiler alike:
// from the first token after the '(', each argument is read by read_arg
// (which leaves the cursor after it) until the ')' that closes the list,
// and the cursor moves past that. An empty list is a ')' straight away; a
// ')' straight after a trailing comma ends the list and stays current.
// Anything else after an argument is SE_ARGLIST, at that token. The cursor
// has kind() and advance() as the interpreter's (0 or an error code); the
// first error, the cursor's or read_arg's, ends the reading and is given.
template <class Cursor, class ReadArg> int argument_list_read(Cursor& c, ReadArg&& read_arg) {
    if (c.kind() == RPAREN) return c.advance();
    for (;;) {
        if (c.kind() == RPAREN) return 0;
        if (int r = read_arg(); r != 0) return r;
        if (c.kind() == RPAREN) return c.advance();
        if (c.kind() != COMMA) return SE_ARGLIST;
        if (int r = c.advance(); r != 0) return r;
    }
}
// The interpreter's own cursor, for argument_list_read.
struct InterpreterCursor {
    uint8_t kind() const { return cur_kind(); }
    int advance() const { return tarvex::advance(); }
};
// Evaluates an argument list into *list (owned by the caller; 0 when empty
// or on an error, when whatever was collected is released).
int parse_arguments(NodeHandle* list);
// A cell call once past the cell's name: at its '!' (bang), or at the
// first token after the parenthesis, where the arguments are read; the
// result is left on the value stack.
int cell_call_here(CellHandle cell, bool bang);
// The call once its arguments are read (args, which it releases), with the
// cursor past them; `handed` as call_cell's.
// Inline: the compiled programs make every call through it.
inline int cell_call_with(CellHandle cell, NodeHandle args, NodeHandle* handed = nullptr) {
    position_save();
    int r = call_cell(cell, args, handed);
    if (args != 0 && chain_next(args) == 0)
        value_free(args); // the commonest list, of one argument
    else
        valuelist_free(args);
    if (r != 0) return r;
    position_restore();
    return 0;
}
int parse_subscript(int base);
// At a cell name: moves past it and any subscript, leaving in *index the
// table index it names (whose entry may be empty).
int parse_cell_index(int* index);
// Evaluates an expression and pops its value into *v (owned by the caller);
// `no_value` when it left none.
int eval_to_value(NodeHandle* v, int no_value = SE_INTERNAL);
// Evaluates an expression for the truth of its value alone.
int eval_to_truth(bool* truth);
// The same two through the walker alone, for callers that have asked the
// compiled programs already.
int walk_to_value(NodeHandle* v, int no_value);
int walk_to_truth(bool* truth);
// An expression's value taken off the stack into *v; `no_value` when it
// left none.
int popped(NodeHandle* v, int no_value);
// The truth of an expression's value taken off the stack, which is released.
int popped_truth(bool* truth);
bool value_is_true(NodeHandle v);

// ---- statements --------------------------------------------------------------------
// The end of a set: v (owned) becomes the value of the cell at a table
// index; an empty entry is a subscript out of range, v released.
inline int assign_at(int index, NodeHandle v) {
    CellHandle target = cell_table_at(index);
    if (target == 0) {
        value_free(v);
        return SE_SUBSCRIPT_RANGE;
    }
    cell_set_value(target, v);
    return 0;
}
int exec_statement_list(CellHandle cell);
int exec_statement(CellHandle cell);
// A statement past exec_statement's nesting, poll and stop checks.
int exec_statement_body(CellHandle cell);
int exec_block(CellHandle cell);
// Where a statement list ends: at a token of this kind.
inline bool list_ends_at(uint8_t kind) { return kind == RBRACE || kind == END_OF_FILE; }
// An if clause past its condition, whose truth is known: at the ')' that
// should close it; runs the block or moves past the clause.
int clause_after_condition(CellHandle cell, Token clause, bool truth, bool* taken);
// The rest of an if statement after a clause, at its next elseif, else or
// whatever follows: skips the clauses left when one was taken, else tries
// them.
int if_clauses_after(CellHandle cell, bool taken);
// A while at its '(': the first run finds where the loop ends (kept in the
// while's token).
int while_first_pass(Token while_tok);
// After an item of a parenthesised statement list: past a comma (*done
// false) or past the closing parenthesis (*done true); anything else is
// `error`.
int list_item_end(int error, bool* done);

// Statements whose bodies live in the stream and configuration code.
int stmt_set_config(CellHandle cell);
int stmt_in(CellHandle cell);
int stmt_out(CellHandle cell);
int stmt_report(CellHandle cell);

// The brk statement's pause (run engine).
int breakpoint();

// Every statement and every loop round asks the poll flag alone, inline;
// the step limit and the debugger's checks (breakpoints, steps) wait
// behind it, so that a run with neither costs nothing more.
inline int statement_checks_at(bool round) {
    if (detail::g_run_poll.slow) [[unlikely]] {
        if (int r = detail::run_poll_slow(round); r != 0) return r;
    }
    pump_while_busy();
    return run_stop_request() ? SE_HALTED : 0;
}

// What every statement of a list does first, in either executor, once it
// has counted its nesting level and found it is no block: keep the window
// live and notice Stop. The cursor stands at the statement's first token.
inline int statement_checks() { return statement_checks_at(false); }

// A loop round starts back at the saved position (saved again for the next
// round), with the window kept live and Stop noticed.
inline int loop_round_start() {
    position_renew();
    return statement_checks_at(true);
}

} // namespace tarvex
