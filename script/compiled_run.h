// The runners of compiled number programs, shared by the expression entry
// points (script/compiled_expr.cpp) and the compiled statements
// (script/compiled_statements.cpp): what both inline on their hot paths.
#pragma once

#include "builtins/builtins.h"
#include "core/handle_stack.h"
#include "core/value.h"
#include "script/compiled_code.h"
#include "script/run_engine.h"
#include "web/cell.h"

namespace tarvex::compiled {

// By list handle, each made on first use: most handles never hold a list
// that runs, and a cache is large.
extern std::unique_ptr<ListCache> g_lists[NODE_COUNT_MAX];

// An operand as a program holds it: always a number; the text is the one
// the value made from it would carry a copy of, possibly stale.
struct Operand {
    double number;
    Text text;
    uint8_t flags;
    // Calls on numbers (number_calls.cpp): the nodes a copy of the text takes.
    uint8_t copies = 0;
};

// A copy of src as an operand, counting in *texts the nodes of the text
// its copy would carry (stale or not); the copy's own nodes are in the
// entry's bound. False when src is not a plain number.
inline bool load(Operand& o, NodeHandle src, int& texts) {
    if (src == 0 || value_kind(src) != VK_NUMBER) return false;
    o.number = value_number(src);
    o.flags = value_flags(src);
    o.text = value_text(src);
    for (NodeHandle c = o.text; c != 0; c = chain_next(c))
        ++texts;
    return true;
}

inline NodeHandle argument(uint16_t n) {
    NodeHandle v = cstack_peek(interp().args);
    for (int i = 1; v != 0 && i < n; ++i)
        v = chain_next(v);
    return v;
}

// The arithmetic of value_add and its kin on the left operand: a failed
// operation flags the result, and no text of the left operand stays current.
template <class Fn> inline void arith(Operand& a, const Operand& b, Fn fn) {
    double x = a.number;
    int r = fn(x, b.number);
    a.number = x;
    a.flags = static_cast<uint8_t>((a.flags & ~VF_DUAL) | (r != 0 ? VF_NAN : 0));
}

inline void set_truth(Operand& a, bool t) {
    a.number = t ? 1.0 : 0.0;
    a.flags &= static_cast<uint8_t>(~VF_DUAL);
}

// A load op: the operand a copy of the value read would be. False when the
// value is not a plain number or the argument is missing.
inline bool load_op(const Op& op, Operand& o, int& texts) {
    switch (op.code) {
    case OP_CELL: {
        CellHandle cell = cell_table_at(op.arg);
        return load(o, cell != 0 ? cell_value(cell) : 0, texts);
    }
    case OP_ARG: return load(o, argument(op.arg), texts);
    case OP_CONST: return load(o, sysconst_value(op.arg), texts);
    default:
        // A literal never changes: its kind was checked and its text
        // counted in the bound when it was compiled.
        o.number = value_number(op.arg);
        o.flags = value_flags(op.arg);
        o.text = value_text(op.arg);
        return true;
    }
}

// A binary op or a relation on the two top operands, leaving the result in a.
inline void apply_binary(const Op& op, Operand& a, const Operand& b) {
    switch (op.code) {
    case OP_RELATION:
        a = Operand{relation_holds(op.rel, tolerant_compare(a.number, b.number)) ? 1.0 : 0.0, 0, 0};
        break;
    case OP_ADD: arith(a, b, num_add); break;
    case OP_SUB: arith(a, b, num_sub); break;
    case OP_MUL: arith(a, b, num_mul); break;
    case OP_DIV: arith(a, b, num_div); break;
    case OP_MOD: arith(a, b, [](double& x, double y) { return num_mod(x, x, y); }); break;
    case OP_OR: set_truth(a, a.number != 0.0 || b.number != 0.0); break;
    default: set_truth(a, a.number != 0.0 && b.number != 0.0); break; // OP_AND
    }
}

// Runs a program; false, with nothing changed, when a value it reads is not
// a plain number or an argument is missing. *texts: the nodes of the texts
// read at run time (the rest of the bound is the entry's).
bool run_program(const Op* op, const Op* end, Operand& result, int* texts);
// Three reads and two operators, as run_program runs them.
[[gnu::noinline]] bool run_three(Shape shape, const Op* code, Operand& result, int* texts);

[[gnu::always_inline]] inline bool run_shape(Shape shape, const Op* code, uint32_t len,
                                             Operand& result, int* texts) {
    int held = 0;
    switch (shape) {
    case SHAPE_LOAD:
        if (!load_op(code[0], result, held)) return false;
        break;
    case SHAPE_PAIR:
    case SHAPE_COMPARE: {
        Operand b;
        if (!load_op(code[0], result, held) || !load_op(code[1], b, held)) return false;
        apply_binary(code[2], result, b);
        break;
    }
    case SHAPE_RIGHT_PAIR:
    case SHAPE_LEFT_PAIR: return run_three(shape, code, result, texts);
    default: return run_program(code, code + len, result, texts);
    }
    *texts = held;
    return true;
}

[[gnu::noinline]] ListCache& cache_made(TokenList l);

// A list's cache, made new for a list new to it (or one that took a
// released list's node).
inline ListCache& cache_of(TokenList l) {
    ListCache* lc = g_lists[l].get();
    if (lc != nullptr && lc->stamp != 0 && lc->stamp == tokens_stamp(l)) return *lc;
    return cache_made(l);
}

// What a run must not come near: nesting past its limit, an injected
// failure, and (with the entry's bound, checked by the runners) the low
// mark and the end of the store are met step by step, where they fall.
// Nothing inside an expression the compiler takes shows the free count (no
// builtin, no call, no poll), so the temporaries of a step-by-step
// evaluation, their texts and the value-stack blocks they charge may be
// skipped as long as they could not have come near the low mark on the
// way. What stays (the result, its text copy and its block) is made by the
// caller exactly as a step-by-step evaluation leaves it.
inline bool clear_of_limits(const Interpreter& in, const Entry& e) {
    return in.depth + e.depth <= NESTING_LIMIT && !node_fail_armed();
}

// The interpreter's cursor moved to c.
inline void go_to(Interpreter& in, TokenCursor c) {
    in.cur = c;
    in.tok = tokens_at(c.chunk, c.slot);
}

// A run done: the cursor moves past the expression (Moves), or is left
// where it stands for the caller to move (a run that ends where its caller
// goes next, past the arguments or into a block: nothing looks at the cursor
// in between).
template <bool Moves = true> inline void finish(Interpreter& in, Entry& e) {
    if (e.hits != UINT32_MAX) ++e.hits;
    ++g_counts.runs;
    if (Moves) go_to(in, e.end);
}

// Runs a compiled entry whose first token is at index `at` (Moves: the
// cursor, which stands there). On success *result is its value and the
// cursor is left as finish<Moves> leaves it; on failure it is untouched.
template <bool Moves = true>
[[gnu::always_inline]] inline bool run_entry(Interpreter& in, ListCache& lc, Entry& e,
                                             Operand& result, uint16_t at = 0) {
    int texts = 0;
    const Op* code = lc.code.data() + e.code_at;
    if (!clear_of_limits(in, e)) {
        ++g_counts.fallbacks;
        return false;
    }
    if (!run_shape(static_cast<Shape>(e.shape), code, e.code_len, result, &texts)) {
        ++g_counts.fallbacks;
        if (++e.misses >= MISSES_MAX && e.misses > e.hits) {
            lc.entry_of[Moves ? in.cur.index : at] = LEFT_TO_WALKER;
            e.given_up = true;
            ++g_counts.given_up;
        }
        return false;
    }
    if (nodes_free() < LOW_NODE_THRESHOLD + e.nodes + texts) {
        ++g_counts.fallbacks;
        return false;
    }
    finish<Moves>(in, e);
    return true;
}
// Returned by read_alone for a read it leaves to the other paths.
constexpr NodeHandle NO_READ = NODE_COUNT_MAX;

// The value a read op copies (0 for an empty one); NO_READ for a missing
// argument, an error left to the other paths.
inline NodeHandle read_source(const Op& op) {
    switch (op.code) {
    case OP_CELL: {
        CellHandle cell = cell_table_at(op.arg);
        return cell != 0 ? cell_value(cell) : 0;
    }
    case OP_ARG: {
        NodeHandle a = argument(op.arg);
        return a != 0 ? a : NO_READ;
    }
    case OP_CONST: return sysconst_value(op.arg);
    default: return op.arg; // OP_LITERAL
    }
}

// A value read alone, whatever its kind: the source a new value would be a
// copy of (0 for an empty one), with the cursor moved past the expression.
// Taken when the source's text is at most one chunk, so that the nodes held
// on the way are known without walking a chain; NO_READ otherwise (and for
// a missing argument, an error left to the walker), with nothing changed.
template <bool Moves = true>
[[gnu::always_inline]] inline NodeHandle read_alone(Interpreter& in, ListCache& lc, Entry& e) {
    const NodeHandle src = read_source(lc.code[e.code_at]);
    if (src == NO_READ) return NO_READ;
    if (src != 0) {
        Text t = value_text(src);
        if (t != 0 && chain_next(t) != 0) return NO_READ;
    }
    // The bound of any read alone with a text of one chunk at most (a
    // literal's counted like any other's), known without the entry.
    constexpr int READ_ALONE_NODES = op_cost(OP_CELL).nodes + 1 + RESULT_NODES;
    if (!clear_of_limits(in, e) || nodes_free() < LOW_NODE_THRESHOLD + READ_ALONE_NODES)
        return NO_READ;
    finish<Moves>(in, e);
    return src;
}

// The value read alone as a new value holding a copy of its source; 0 when
// read_alone leaves it.
template <bool Moves = true>
[[gnu::always_inline]] inline NodeHandle copy_of_read(Interpreter& in, ListCache& lc, Entry& e) {
    NodeHandle src = read_alone<Moves>(in, lc, e);
    if (src == NO_READ) return 0;
    NodeHandle v = value_new();
    value_copy(v, src);
    return v;
}
// A program on the value stack runs when the levels it passes over cannot reach
// the nesting limit (the arguments and the callees count their own).
inline bool calls_can_run(const Interpreter& in, const Entry& e) {
    return in.depth + e.depth <= NESTING_LIMIT;
}

// The result as a value: a new number with a copy of its text. `then`
// runs between the two allocations, where push_copy pushes.
template <class Then> inline NodeHandle make_value(const Operand& result, Then then) {
    NodeHandle v = value_new();
    value_set_kind(v, VK_NUMBER);
    value_set_flags(v, result.flags);
    value_set_number(v, result.number);
    then(v);
    if (result.text != 0) value_set_text_handle(v, text_copy(result.text));
    return v;
}

// Runs a program on the interpreter's value stack, leaving
// its value there (script/compiled_statements.cpp).
[[gnu::noinline]] int run_calls(Interpreter& in, ListCache& lc, const Entry& e);

} // namespace tarvex::compiled
