// Running compiled code: the per-list cache, the program runners with
// their fall-back checks, and at the end the compiled statements and the
// loop that runs every statement list. The compiler is
// script/expr_compiler.cpp.
#include "script/compiled_code.h"

#include "builtins/builtins.h"
#include "core/handle_stack.h"
#include "core/value.h"
#include "lexer/lexer.h"
#include "script/run_engine.h"
#include "web/cell.h"

namespace tarvex {

bool detail::g_fast_path = true;

CompiledCounts compiled::g_counts;

using namespace compiled;

namespace {

// The switch, read on every expression and jump.
const bool& g_on = detail::g_fast_path;

// Set when the expression just refused to the three value readers has a
// program with calls, so that an expression with no program is not looked
// up twice. Only a hint: compiled_calls_run checks the mark itself.
bool g_calls_next = false;
uint32_t g_last_stamp = 0;
// By list handle, each made on first use: most handles never hold a list
// that runs, and a cache is large.
std::unique_ptr<ListCache> g_lists[NODE_COUNT_MAX];

// An operand as a program holds it: always a number; the text is the one
// the value made from it would carry a copy of, possibly stale.
struct Operand {
    double number;
    Text text;
    uint8_t flags;
};

// A copy of src as an operand, counting in *texts the nodes of the text
// its copy would carry (stale or not); the copy's own nodes are in the
// entry's bound. False when src is not a plain number.
bool load(Operand& o, NodeHandle src, int& texts) {
    if (src == 0 || value_kind(src) != VK_NUMBER) return false;
    o.number = value_number(src);
    o.flags = value_flags(src);
    o.text = value_text(src);
    for (NodeHandle c = o.text; c != 0; c = chain_next(c))
        ++texts;
    return true;
}

NodeHandle argument(uint16_t n) {
    NodeHandle v = cstack_peek(interp().args);
    for (int i = 1; v != 0 && i < n; ++i)
        v = chain_next(v);
    return v;
}

// value_compare for a number on the left and a number on the right.
int compare_numbers(double a, double b) {
    double d = a - b, tolerance = equality_tolerance();
    if (d > 0) return d > tolerance ? 1 : 0;
    if (d < 0) return -d > tolerance ? -1 : 0;
    return 0;
}

// The arithmetic of value_add and its kin on the left operand: a failed
// operation flags the result, and no text of the left operand stays current.
template <class Fn> void arith(Operand& a, const Operand& b, Fn fn) {
    double x = a.number;
    int r = fn(x, b.number);
    a.number = x;
    a.flags = static_cast<uint8_t>((a.flags & ~VF_DUAL) | (r != 0 ? VF_NAN : 0));
}

void set_truth(Operand& a, bool t) {
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
        a = Operand{relation_holds(op.rel, compare_numbers(a.number, b.number)) ? 1.0 : 0.0, 0, 0};
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
bool run_program(const Op* op, const Op* end, Operand& result, int* texts) {
    Operand stack[OPERANDS_MAX];
    int top = -1;
    int held = 0;
    for (; op != end; ++op) {
        switch (op->code) {
        case OP_CELL:
        case OP_ARG:
        case OP_CONST:
        case OP_LITERAL:
            if (!load_op(*op, stack[++top], held)) return false;
            break;
        case OP_CELL_AT: {
            // A subscript out of range is the walker's error to report.
            int16_t i = 0;
            if (num_to_int16(i, stack[top].number) != 0 || i < 0) return false;
            int index = op->arg + i;
            if (index < 0 || index >= cell_table_count()) return false;
            CellHandle cell = cell_table_at(index);
            if (!load(stack[top], cell != 0 ? cell_value(cell) : 0, held)) return false;
            break;
        }
        case OP_NEGATE:
            stack[top].number = -stack[top].number;
            stack[top].flags &= static_cast<uint8_t>(~VF_DUAL);
            break;
        case OP_NOT: set_truth(stack[top], stack[top].number == 0.0); break;
        default: apply_binary(*op, stack[top - 1], stack[top]); --top;
        }
    }
    result = stack[0];
    *texts = held;
    return true;
}

// Three reads and two operators, as run_program runs them.
[[gnu::noinline]] bool run_three(Shape shape, const Op* code, Operand& result, int* texts) {
    int held = 0;
    Operand b;
    if (!load_op(code[0], result, held) || !load_op(code[1], b, held)) return false;
    if (shape == SHAPE_RIGHT_PAIR) {
        Operand c;
        if (!load_op(code[2], c, held)) return false;
        apply_binary(code[3], b, c);
    } else {
        apply_binary(code[2], result, b);
        if (!load_op(code[3], b, held)) return false;
    }
    apply_binary(code[4], result, b);
    *texts = held;
    return true;
}

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

[[gnu::noinline]] ListCache& cache_made(TokenList l) {
    if (!g_lists[l]) g_lists[l] = std::make_unique<ListCache>();
    ListCache& lc = *g_lists[l];
    uint32_t stamp = tokens_stamp(l);
    if (stamp == 0 || stamp != lc.stamp) {
        // A list new to the cache, or one that took a released list's node.
        lc = ListCache{};
        if (++g_last_stamp == 0) ++g_last_stamp;
        lc.stamp = g_last_stamp;
        tokens_set_stamp(l, lc.stamp);
    }
    return lc;
}

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

// A run done: the cursor moves past the expression.
inline void finish(Interpreter& in, Entry& e) {
    if (e.hits != UINT32_MAX) ++e.hits;
    ++g_counts.runs;
    go_to(in, e.end);
}

// Runs a compiled entry at the cursor. On success the cursor stands past
// the expression and *result is its value.
[[gnu::always_inline]] inline bool run_entry(Interpreter& in, ListCache& lc, Entry& e,
                                             Operand& result) {
    int texts = 0;
    const Op* code = lc.code.data() + e.code_at;
    if (!clear_of_limits(in, e)) {
        ++g_counts.fallbacks;
        return false;
    }
    if (!run_shape(static_cast<Shape>(e.shape), code, e.code_len, result, &texts)) {
        ++g_counts.fallbacks;
        if (++e.misses >= MISSES_MAX && e.misses > e.hits) {
            lc.entry_of[in.cur.index] = LEFT_TO_WALKER;
            e.given_up = true;
            ++g_counts.given_up;
        }
        return false;
    }
    if (nodes_free() < LOW_NODE_THRESHOLD + e.nodes + texts) {
        ++g_counts.fallbacks;
        return false;
    }
    finish(in, e);
    return true;
}

// The first run of an expression at the cursor (or the first since its
// list's cache was dropped): compiles it. The entry when it compiled to the
// kind of program asked for (with calls or without), else nullptr.
template <bool Calls> [[gnu::noinline]] Entry* compile_at(Interpreter& in, ListCache*& list_cache) {
    ListCache& lc = cache_of(in.list);
    list_cache = &lc;
    uint32_t mark = mark_at(lc, in.cur);
    if (!Calls) g_calls_next = mark >= CALLS_MARK;
    if (mark == 0 || (mark >= CALLS_MARK) != Calls) return nullptr;
    return &entry_of_mark(lc, mark);
}

// The compiled entry of the expression at the cursor, of the kind asked
// for; nullptr when it has no program or one of the other kind.
template <bool Calls> inline Entry* entry_at(Interpreter& in, ListCache*& list_cache) {
    if (!g_on || in.list == 0 || in.tok == nullptr) return nullptr;
    uint16_t index = in.cur.index;
    if (g_lists[in.list]) {
        ListCache& lc = *g_lists[in.list];
        if (index < lc.entry_of.size()) {
            uint32_t mark = lc.entry_of[index];
            // Most expressions that do not compile are met again and
            // again: they are told apart before anything else is read.
            if (Calls ? mark == LEFT_TO_WALKER || (mark != 0 && mark < CALLS_MARK)
                      : mark >= CALLS_MARK) {
                if (!Calls) g_calls_next = mark != LEFT_TO_WALKER;
                return nullptr;
            }
            // The cache is the list's own: see compiled_statement_list.
            if (mark != 0) {
                list_cache = &lc;
                return &lc.entries[(Calls ? mark & ~CALLS_MARK : mark) - 1];
            }
        }
    }
    return compile_at<Calls>(in, list_cache);
}

// At the first token of an expression: runs its program when it can.
inline bool evaluate(Operand& result) {
    Interpreter& in = interp();
    ListCache* lc = nullptr;
    Entry* e = entry_at<false>(in, lc);
    return e != nullptr && run_entry(in, *lc, *e, result);
}

// Returned by read_alone for a read it leaves to the other paths.
constexpr NodeHandle NO_READ = NODE_COUNT_MAX;

// A value read alone, whatever its kind: the source a new value would be a
// copy of (0 for an empty one), with the cursor moved past the expression.
// Taken when the source's text is at most one chunk, so that the nodes held
// on the way are known without walking a chain; NO_READ otherwise (and for
// a missing argument, an error left to the walker), with nothing changed.
[[gnu::always_inline]] inline NodeHandle read_alone(Interpreter& in, ListCache& lc, Entry& e) {
    const Op& op = lc.code[e.code_at];
    NodeHandle src;
    switch (op.code) {
    case OP_CELL: {
        CellHandle cell = cell_table_at(op.arg);
        src = cell != 0 ? cell_value(cell) : 0;
        break;
    }
    case OP_ARG:
        src = argument(op.arg);
        if (src == 0) return NO_READ;
        break;
    case OP_CONST: src = sysconst_value(op.arg); break;
    default: src = op.arg; // OP_LITERAL
    }
    if (src != 0) {
        Text t = value_text(src);
        if (t != 0 && chain_next(t) != 0) return NO_READ;
    }
    // The bound of any read alone with a text of one chunk at most (a
    // literal's counted like any other's), known without the entry.
    constexpr int READ_ALONE_NODES = op_cost(OP_CELL).nodes + 1 + RESULT_NODES;
    if (!clear_of_limits(in, e) || nodes_free() < LOW_NODE_THRESHOLD + READ_ALONE_NODES)
        return NO_READ;
    finish(in, e);
    return src;
}

// The value read alone as a new value holding a copy of its source; 0 when
// read_alone leaves it.
[[gnu::always_inline]] inline NodeHandle copy_of_read(Interpreter& in, ListCache& lc, Entry& e) {
    NodeHandle src = read_alone(in, lc, e);
    if (src == NO_READ) return 0;
    NodeHandle v = value_new();
    value_copy(v, src);
    return v;
}

// ---- programs with calls: step by step on the interpreter's value stack ----

void push_copy_of(NodeHandle src) {
    NodeHandle v = value_new();
    push_value(v);
    value_copy(v, src);
}

// The two operands on top of the value stack, the right one on top; false,
// with both released, when one is missing.
bool pop_two(NodeHandle& left, NodeHandle& right) {
    right = pop_value();
    left = pop_value();
    if (right != 0 && left != 0) return true;
    value_free(right);
    value_free(left);
    return false;
}

int value_of(Interpreter& in, ListCache& lc, uint32_t mark, NodeHandle* v, int no_value);

// A cell call once past the cell's name. Compiled arguments are evaluated
// in order, each from its first token, without the list being read again;
// a list not compiled is read by cell_call_here.
int call_at(Interpreter& in, ListCache& lc, const CallSite& site) {
    CellHandle cell = cell_table_at(site.index);
    if (!site.args_compiled) {
        go_to(in, site.at);
        return cell_call_here(cell, site.bang);
    }
    NodeHandle first = 0, last = 0;
    for (uint32_t i = 0; i < site.arg_count; ++i) {
        const ArgSite a = lc.args[site.args_at + i];
        go_to(in, a.at);
        NodeHandle v = 0;
        if (int r = value_of(in, lc, a.mark, &v, SE_INTERNAL); r != 0) {
            valuelist_free(first);
            return r;
        }
        chain_set_next(v, 0);
        chain_append(&first, &last, v);
    }
    go_to(in, site.args_end);
    return cell_call_with(cell, first);
}

// Runs a program with cell calls: every value is made, pushed, combined and
// released in the order of evaluation by the interpreter's own routines
// (the calls by cell_call_here and cell_call_with, at the nesting of the
// primary each is), so every count and every error is that of evaluating
// the tokens; what is left out is the parsing. Leaves the value on the stack. The
// callees may compile into this list's cache: nothing of it is held across
// a call but indices.
[[gnu::noinline]] int run_calls(Interpreter& in, ListCache& lc, const Entry& e) {
    struct Depth {
        Interpreter& in;
        int base;
        ~Depth() { in.depth = base; }
    } depth{in, in.depth};
    const TokenCursor end = e.end;
    for (uint32_t pc = e.code_at, stop = e.code_at + e.code_len; pc < stop; ++pc) {
        const Op op = lc.code[pc];
        switch (op.code) {
        case OP_CELL: {
            CellHandle cell = cell_table_at(op.arg);
            push_copy_of(cell != 0 ? cell_value(cell) : 0);
            break;
        }
        case OP_CONST: push_copy_of(sysconst_value(op.arg)); break;
        case OP_LITERAL: push_copy_of(op.arg); break;
        case OP_ARG: {
            const CallSite site = lc.sites[op.arg];
            NodeHandle a = argument(static_cast<uint16_t>(site.index));
            if (a == 0) {
                go_to(in, site.at);
                return SE_ARGNUM_INVALID;
            }
            push_copy_of(a);
            break;
        }
        case OP_CALL: {
            const CallSite site = lc.sites[op.arg];
            in.depth = depth.base + site.depth;
            if (int r = call_at(in, lc, site); r != 0) return r;
            in.depth = depth.base;
            break;
        }
        case OP_NEGATE:
        case OP_NOT: {
            NodeHandle top = cstack_peek(in.values);
            if (top == 0) return SE_INTERNAL;
            if (op.code == OP_NEGATE)
                value_negate(top);
            else
                value_not(top);
            break;
        }
        case OP_RELATION: {
            NodeHandle left, right;
            if (!pop_two(left, right)) return SE_INTERNAL;
            bool holds = relation_holds(op.rel, value_compare(left, right));
            value_free(left);
            value_free(right);
            push_value(holds ? value_new_one() : value_to_number(value_new()));
            break;
        }
        default: {
            NodeHandle left, right;
            if (!pop_two(left, right)) return SE_INTERNAL;
            operation_of(op.code)(left, right);
            push_value(left);
            value_free(right);
        }
        }
    }
    go_to(in, end);
    ++g_counts.runs;
    return 0;
}

// A program with calls runs when the levels it passes over cannot reach
// the nesting limit (the arguments and the callees count their own).
inline bool calls_can_run(const Interpreter& in, const Entry& e) {
    return in.depth + e.depth <= NESTING_LIMIT;
}

// The result as a value: a new number with a copy of its text. `then`
// runs between the two allocations, where push_copy pushes.
template <class Then> NodeHandle make_value(const Operand& result, Then then) {
    NodeHandle v = value_new();
    value_set_kind(v, VK_NUMBER);
    value_set_flags(v, result.flags);
    value_set_number(v, result.number);
    then(v);
    if (result.text != 0) value_set_text_handle(v, text_copy(result.text));
    return v;
}

} // namespace

void interp_set_fast_path(bool on) { detail::g_fast_path = on; }

bool compiled_expression_run() {
    Operand result;
    if (!evaluate(result)) return false;
    make_value(result, [](NodeHandle v) { push_value(v); });
    return true;
}

// The value would be pushed and popped straight away: the pair's charge
// and its release leave every count as it was, and nothing looks at the
// store in between.
bool compiled_expression_value(NodeHandle* v) {
    Interpreter& in = interp();
    ListCache* lc = nullptr;
    Entry* e = entry_at<false>(in, lc);
    if (e == nullptr) return false;
    if (e->shape == SHAPE_LOAD && (*v = copy_of_read(in, *lc, *e)) != 0) return true;
    Operand result;
    if (!run_entry(in, *lc, *e, result)) return false;
    *v = make_value(result, [](NodeHandle) {});
    return true;
}

// The value would be made, its truth taken and the value released, with
// nothing looking at the store in between; the low-mark bound holds with
// the value counted.
bool compiled_expression_truth(bool* truth) {
    Operand result;
    if (!evaluate(result)) return false;
    *truth = result.number != 0.0;
    return true;
}

bool compiled_calls_run(int* r) {
    if (!g_calls_next) return false;
    g_calls_next = false;
    Interpreter& in = interp();
    ListCache* lc = nullptr;
    Entry* e = entry_at<true>(in, lc);
    if (e == nullptr || !calls_can_run(in, *e)) return false;
    *r = run_calls(in, *lc, *e);
    return true;
}

// ---- compiled statements ------------------------------------------------------

namespace {

// What eval_to_value does at an expression whose mark is known.
int value_of(Interpreter& in, ListCache& lc, uint32_t mark, NodeHandle* v, int no_value) {
    if (mark == 0) return walk_to_value(v, no_value);
    Entry& e = entry_of_mark(lc, mark);
    if (mark >= CALLS_MARK) {
        if (calls_can_run(in, e)) {
            if (int r = run_calls(in, lc, e); r != 0) return r;
            return popped(v, no_value);
        }
    } else if (!e.given_up) {
        if (e.shape == SHAPE_LOAD && (*v = copy_of_read(in, lc, e)) != 0) return 0;
        Operand result;
        if (run_entry(in, lc, e, result)) {
            *v = make_value(result, [](NodeHandle) {});
            return 0;
        }
    }
    return walk_to_value(v, no_value);
}

// Two reads compared, for the truth alone: what run_entry would find,
// without the result; false, with nothing counted, when run_entry is to
// decide.
[[gnu::always_inline]] inline bool compare_truth(Interpreter& in, ListCache& lc, Entry& e,
                                                 bool* truth) {
    const Op* code = lc.code.data() + e.code_at;
    Operand a, b;
    int texts = 0;
    if (!clear_of_limits(in, e) || !load_op(code[0], a, texts) || !load_op(code[1], b, texts) ||
        nodes_free() < LOW_NODE_THRESHOLD + e.nodes + texts)
        return false;
    *truth = relation_holds(code[2].rel, compare_numbers(a.number, b.number));
    finish(in, e);
    return true;
}

// What eval_to_truth does at an expression whose mark is known.
[[gnu::always_inline]] inline int truth_of(Interpreter& in, ListCache& lc, uint32_t mark,
                                           bool* truth) {
    if (mark == 0) return walk_to_truth(truth);
    Entry& e = entry_of_mark(lc, mark);
    if (mark >= CALLS_MARK) {
        if (calls_can_run(in, e)) {
            if (int r = run_calls(in, lc, e); r != 0) return r;
            return popped_truth(truth);
        }
    } else if (!e.given_up) {
        if (e.shape == SHAPE_COMPARE && compare_truth(in, lc, e, truth)) return 0;
        Operand result;
        if (run_entry(in, lc, e, result)) {
            *truth = result.number != 0.0;
            return 0;
        }
    }
    return walk_to_truth(truth);
}

int run_list(Interpreter& in, ListCache& lc, CellHandle cell);

// A block whose '{' is behind, from the token after it: its statements,
// then past its '}'.
[[gnu::always_inline]] inline int run_block(Interpreter& in, ListCache& lc, CellHandle cell,
                                            TokenCursor first) {
    go_to(in, first);
    if (int r = run_list(in, lc, cell); r != 0) return r;
    if (cur_kind() != RBRACE) return SE_MISSING_RBRACE;
    return advance();
}

// An if once its first pass is made: the conditions in turn, then the
// block of the first that holds or the else block. Nothing of the cache
// is held across a block or an expression, which may compile into it.
int run_if(Interpreter& in, ListCache& lc, const Stmt& stmt, CellHandle cell) {
    const uint32_t first = stmt.clauses_at, count = stmt.clause_count;
    const bool has_else = stmt.has_else;
    const TokenCursor else_first = stmt.else_first, end = stmt.end;
    position_touch();
    for (uint32_t i = 0; i < count; ++i) {
        const Clause c = lc.clauses[first + i];
        go_to(in, c.cond);
        bool truth = false;
        if (int r = truth_of(in, lc, c.entry, &truth); r != 0) return r;
        if (in.cur.index + 1 != c.block.index) {
            bool taken = false;
            if (int r = clause_after_condition(cell, c.tok, truth, &taken); r != 0) return r;
            return if_clauses_after(cell, taken);
        }
        if (truth) {
            if (int r = run_block(in, lc, cell, c.block_first); r != 0) return r;
            if (in.cur.index != c.after_block) return if_clauses_after(cell, true);
            go_to(in, end);
            return 0;
        }
    }
    if (has_else) return run_block(in, lc, cell, else_first);
    go_to(in, end);
    return 0;
}

// A while once compiled: each round as the walker makes it, the condition
// and the block run without the reading. A condition that ends elsewhere
// than its ')' hands the round's rest to the walker's own steps.
[[gnu::noinline]] int run_while(Interpreter& in, ListCache& lc, const Stmt& stmt, CellHandle cell) {
    const Token loop = stmt.loop;
    const TokenCursor cond = stmt.at, block_first = stmt.block_first;
    const uint16_t block = stmt.block.index;
    const uint32_t entry = stmt.entry;
    position_save();
    if (int r = advance(); r != 0) return r;
    if (int r = while_first_pass(loop); r != 0) return r;
    for (;;) {
        if (int r = loop_round_start(); r != 0) return r;
        go_to(in, cond);
        bool truth = false;
        if (int r = truth_of(in, lc, entry, &truth); r != 0) return r;
        if (in.cur.index + 1 != block) {
            if (int r = expect(RPAREN); r != 0) return r;
            if (!truth) break;
            if (int r = exec_block(cell); r != 0) return r;
            continue;
        }
        if (!truth) break;
        if (int r = run_block(in, lc, cell, block_first); r != 0) return r;
    }
    seek(token_value(loop));
    position_drop();
    return 0;
}

// ---- assignments in place ----

// The value of a cell an assignment may overwrite in place: its one value
// (no history kept) with at most one text chunk. 0 when it must be replaced.
inline NodeHandle value_to_reuse(CellHandle target) {
    if (target == 0 || cell_history_depth(target) != 0) return 0;
    NodeHandle old = cell_value(target);
    if (old == 0 || chain_next(old) != 0) return 0;
    Text t = value_text(old);
    if (t != 0 && chain_next(t) != 0) return 0;
    return old;
}

// dst's text made a copy of src (possibly dst's own), as value_copy makes
// it. Where text_copy would take a node for src's one chunk and dst's own
// chunk would then be released, the chunk is rewritten and the node's
// allocation only passes.
inline void text_copy_into(NodeHandle dst, Text src) {
    Text old = value_text(dst);
    if (old != 0 && src != 0 && chain_next(src) == 0 && node_aux(src) != 0 &&
        node_aux(src) < TEXT_CHUNK) {
        if (old != src) {
            node_set_aux(old, node_aux(src));
            std::memcpy(node_ref(old) + CHAIN_PAYLOAD, node_ref(src) + CHAIN_PAYLOAD, TEXT_CHUNK);
        }
        node_charges_passed(1);
        return;
    }
    value_set_text_handle(dst, src != 0 ? text_copy(src) : 0);
    if (old != 0) text_free(old);
}

// Where an assignment goes: a cell table index, or the cell running (index
// -1). The index is looked up once the value is made, as assign_at does.
struct Target {
    int index;
    CellHandle running;
    CellHandle cell() const { return index < 0 ? running : cell_table_at(index); }
    int assign(NodeHandle v) const {
        if (index >= 0) return assign_at(index, v);
        cell_set_value(running, v);
        return 0;
    }
};

// An assignment of an expression without calls at the cursor, made in
// place where the cell's value can be reused (value_to_reuse): the compiled
// value is written over it, the new value's node and text chunk being
// allocations that only pass (node_allocations counts them, as it counts
// the copy's) and the old ones not released, so that the free count ends
// as the copy and the release would leave it. Nothing looks at the store
// in between, and the runs below take the expression only with no failure
// injected and the store above its low mark by the entry's bound, at least
// the two nodes of the value and its text: taking those would note nothing
// (detail::store_roomy). False, with nothing done, when the assignment is
// left to value_of; else *r is its outcome.
[[gnu::noinline]] bool assigned_in_place(Interpreter& in, ListCache& lc, uint32_t mark,
                                         const Target& to, int no_value, int* r) {
    static_assert(RESULT_NODES >= PASSING_CHARGES_MAX);
    Entry& e = entry_of_mark(lc, mark);
    if (e.given_up) return false;
    const CellHandle target = to.cell();
    const NodeHandle old = value_to_reuse(target);
    if (old == 0) return false;
    if (e.shape == SHAPE_LOAD) {
        const NodeHandle src = read_alone(in, lc, e);
        if (src == NO_READ) return false;
        node_charges_passed(1);
        if (src == 0) {
            value_copy(old, 0);
        } else {
            value_set_kind(old, value_kind(src));
            value_set_flags(old, value_flags(src));
            value_set_number(old, value_number(src));
            text_copy_into(old, value_text(src));
        }
    } else {
        Operand result;
        if (!run_entry(in, lc, e, result)) {
            NodeHandle v = 0;
            if ((*r = walk_to_value(&v, no_value)) == 0) *r = to.assign(v);
            return true;
        }
        node_charges_passed(1);
        value_set_kind(old, VK_NUMBER);
        value_set_flags(old, result.flags);
        value_set_number(old, result.number);
        text_copy_into(old, result.text);
    }
    // What cell_set_value tells of the new value.
    if (detail::g_value_hook) detail::g_value_hook(old, target);
    *r = 0;
    return true;
}

// Whether an expression's mark is of a program without calls.
inline bool plain_program(uint32_t mark) { return mark != 0 && mark < CALLS_MARK; }

inline int run_statement(Interpreter& in, ListCache& lc, const Stmt& s, CellHandle cell) {
    switch (s.kind) {
    case ST_EXPRESSION: {
        int r;
        if (plain_program(s.entry) &&
            assigned_in_place(in, lc, s.entry, Target{-1, cell}, SE_INTERNAL, &r))
            return r;
        NodeHandle v = 0;
        if ((r = value_of(in, lc, s.entry, &v, SE_INTERNAL)) != 0) return r;
        cell_set_value(cell, v);
        return 0;
    }
    case ST_SET: {
        const int target_index = s.target;
        go_to(in, s.at);
        int r;
        if (plain_program(s.entry) &&
            assigned_in_place(in, lc, s.entry, Target{target_index, 0}, SE_INVALID_EXPRESSION, &r))
            return r;
        NodeHandle v = 0;
        if ((r = value_of(in, lc, s.entry, &v, SE_INVALID_EXPRESSION)) != 0) return r;
        return assign_at(target_index, v);
    }
    case ST_WHILE: return run_while(in, lc, s, cell);
    default: return run_if(in, lc, s, cell);
    }
}

// The compiled statement at the cursor; nullptr when it is left to
// exec_statement_body, or an if whose first pass is still to be made.
inline const Stmt* statement_at(Interpreter& in, ListCache& lc) {
    uint16_t index = in.cur.index;
    uint32_t mark = index < lc.stmt_of.size() ? lc.stmt_of[index] : 0;
    if (mark == 0) mark = compile_statement(in, lc);
    if (mark == LEFT_TO_WALKER) return nullptr;
    const Stmt& s = lc.stmts[mark - 1];
    if (s.kind == ST_IF && token_value(in.tok) == 0) return nullptr;
    return &s;
}

// A statement list: each statement counts its nesting and makes
// statement_checks, then runs compiled or through exec_statement_body.
int run_list(Interpreter& in, ListCache& lc, CellHandle cell) {
    for (uint8_t kind; !list_ends_at(kind = cur_kind());) {
        Nest nest;
        if (!nest.ok) return SE_STACK_OVERFLOW;
        int r;
        if (kind == LBRACE) {
            r = exec_block(cell);
        } else if ((r = statement_checks()) != 0) {
            return r;
        } else if (const Stmt* s = statement_at(in, lc); s != nullptr) {
            ++g_counts.statements;
            r = run_statement(in, lc, *s, cell);
        } else {
            r = exec_statement_body(cell);
        }
        if (r != 0) return r;
    }
    return 0;
}

} // namespace

// Every list runs from here (a cell's script, a block of exec_block's), and
// here its cache is checked against its stamp: a cache left by a list whose
// node was taken by another without being released (a store reset, the
// reclaim walk) is dropped. Everything read from the cache until the list
// is left (entries, statements, jumps) is the list's own.
int compiled_statement_list(CellHandle cell) {
    Interpreter& in = interp();
    return run_list(in, cache_of(in.list), cell);
}

namespace {
[[gnu::noinline]] Token seek_and_learn(TokenList l, TokenCursor& c, uint16_t index) {
    Token t = tokens_seek_cursor(c, index);
    ListCache& lc = cache_of(l);
    if (index >= lc.jumps.size()) lc.jumps.resize(index + 1u);
    lc.jumps[index] = c;
    return t;
}
} // namespace

Token compiled_seek(TokenList l, TokenCursor& c, uint16_t index) {
    if (!g_on || l == 0 || index <= c.index) return tokens_seek_cursor(c, index);
    if (g_lists[l]) {
        const ListCache& lc = *g_lists[l];
        if (index < lc.jumps.size() && lc.jumps[index].chunk != 0) {
            c = lc.jumps[index];
            return tokens_at(c.chunk, c.slot);
        }
    }
    return seek_and_learn(l, c, index);
}

void compiled_forget(TokenList l) {
    if (l < NODE_COUNT_MAX && g_lists[l]) *g_lists[l] = ListCache{};
}

CompiledCounts compiled_counts() { return g_counts; }
void compiled_counts_reset() { g_counts = CompiledCounts{}; }

} // namespace tarvex
