// Running compiled expressions: the per-list cache, the number programs'
// runners that stay out of line, and the expression evaluator's entry
// points. The compiler is script/expr_compiler.cpp; the compiled statements
// and the programs on the value stack are script/compiled_statements.cpp.
#include "script/compiled_run.h"

namespace tarvex {

bool detail::g_fast_path = true;

CompiledCounts compiled::g_counts;

std::unique_ptr<compiled::ListCache> compiled::g_lists[NODE_COUNT_MAX];

using namespace compiled;

namespace {

// The switch, read on every expression and jump.
const bool& g_on = detail::g_fast_path;

// Set when the expression just refused to the three value readers has a
// program on the value stack, so that an expression with no program is not looked
// up twice. Only a hint: compiled_calls_run checks the mark itself.
bool g_calls_next = false;
uint32_t g_last_stamp = 0;

} // namespace

bool compiled::run_program(const Op* op, const Op* end, Operand& result, int* texts) {
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

bool compiled::run_three(Shape shape, const Op* code, Operand& result, int* texts) {
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

ListCache& compiled::cache_made(TokenList l) {
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

namespace {

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
