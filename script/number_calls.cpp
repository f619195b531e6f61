// Cell calls run on numbers. A cell whose script is expression statements
// and ifs over numbers, its arguments, cell reads and calls of such cells
// (fib, tak, most recursive arithmetic) is called without the step-by-step
// run making a value, a stack entry or a saved position: each value is a
// number with the text its copy would carry, the callee's value is kept
// aside until the call is done, and what the steps would have done to the
// store is counted in a ledger instead (every allocation, in order, and the
// most nodes held at once).
//
// Nothing can look at the store while such a call runs (no builtin, no
// output, no poll but the window's pump), so only its end is seen: the
// values written, the result, and the count of allocations, all made
// exactly as the steps leave them. A call that would come near the low mark,
// the nesting limit or the end of the store, that meets anything but a plain
// number, a missing argument, a Stop, a plotted cell, or a callee of
// another kind, is given up with nothing changed, and the same call runs
// step by step from its start.
//
// Each list's expressions are read once from its compiled code into a plan
// of its own (expressions, calls, statements), which the run reads without
// touching the list's cache: a callee read for the first time may compile
// into any cache.
#include "script/compiled_run.h"

#include "script/number_calls.h"

namespace tarvex {

namespace detail {
bool g_number_calls = true;
} // namespace detail
void interp_set_number_calls(bool on) { detail::g_number_calls = on; }

namespace compiled {

// An expression of a plan: how it runs, the nesting it reaches, and its
// operations in Plan::code (a literal's arg the index of its operand in
// Plan::literals, a call's the index of its PlanCall, an argument's n).
enum Form : uint8_t { FORM_LOAD, FORM_PAIR, FORM_PLAIN, FORM_STACK };
struct PlanExpr {
    Form form;
    uint8_t depth;
    uint32_t at, len;
};
// A call: the cell's table index, the nesting of its primary, and its
// arguments, consecutive in Plan::exprs.
struct PlanCall {
    uint16_t index;
    uint8_t depth;
    uint8_t argc;
    uint32_t args_at;
};
struct PlanStmt {
    bool is_if = false;
    bool has_else = false;
    uint32_t expr = 0; // an expression statement's
    uint32_t clauses_at = 0, clause_count = 0;
    uint32_t else_begin = 0, else_end = 0;
};
struct PlanClause {
    uint32_t cond;
    uint32_t begin, end;
};
struct Plan {
    enum State : uint8_t { UNREAD, READY, REFUSED } state = UNREAD;
    uint32_t begin = 0, end = 0; // the script's statements
    std::vector<Op> code;
    std::vector<Operand> literals;
    std::vector<PlanExpr> exprs;
    std::vector<PlanCall> calls;
    std::vector<PlanStmt> stmts;
    std::vector<PlanClause> clauses;
    // In a list's plan for its own call sites (ListCache::site_plan), by
    // site number: the PlanCall's index + 1, NO_CALL, or 0 unread.
    std::vector<uint32_t> site_calls;
};

void PlanDeleter::operator()(Plan* p) const { delete p; }

namespace {

// A call runs on numbers only this far above the low mark at its deepest:
// the step-by-step run decides between paths of equal counts by checks of a
// few nodes' room (store_roomy), and each must find room as it does here.
constexpr int LEDGER_MARGIN = 8;
// The cells one call on numbers may write (each callee's own value).
constexpr int WRITTEN_MAX = 16;
// The most arguments a call on numbers passes (more run step by step).
constexpr int ARGS_MAX = 8;
// A site whose calls on numbers were given up this often, and more often
// than they ran, calls step by step for good.
constexpr uint16_t SITE_MISSES_MAX = 8;
// A plan's index that no call site has.
constexpr uint32_t NO_CALL = UINT32_MAX;

// A text as the run takes it: none, or one chunk not full.
inline bool short_text(Text t) {
    return t == 0 || (chain_next(t) == 0 && node_aux(t) < TEXT_CHUNK);
}
// The nodes of a copy of a short text (an empty chunk is not copied).
inline int copy_nodes(Text t) { return t != 0 && node_aux(t) != 0 ? 1 : 0; }

// Where a charged stack's count stands in its blocks (count % HSTACK_SLOTS,
// kept as it moves): a push into an empty slot 0 takes a block, a pop that
// leaves slot 0 gives one back.
struct Slot {
    uint32_t at = 0;
    explicit Slot(uint32_t count = 0) : at(count % HSTACK_SLOTS) {}
    int pushed() {
        const int block = at == 0 ? 1 : 0;
        if (++at == HSTACK_SLOTS) at = 0;
        return block;
    }
    int popped() {
        at = at == 0 ? HSTACK_SLOTS - 1 : at - 1;
        return at == 0 ? 1 : 0;
    }
};

// What the step-by-step run would have done to the store.
struct Ledger {
    uint64_t allocations = 0;
    int held = 0, peak = 0;
    uint32_t values = 0; // the value stack's count
    Slot value_slot, frame_slot, arg_slot;

    void take(int n) {
        allocations += n;
        if ((held += n) > peak) peak = held;
    }
    void give(int n) { held -= n; }
    // Taken and given straight back: the margin covers them.
    void pass(int n) { allocations += n; }
    // A value made: its node and its text's copy.
    void value_made(Text t) { take(1 + copy_nodes(t)); }
    void value_freed(Text t) { give(1 + copy_nodes(t)); }
    void value_pushed() {
        ++values;
        take(value_slot.pushed());
    }
    void value_popped() {
        --values;
        give(value_slot.popped());
    }
};
static_assert(LEDGER_MARGIN > PASSING_CHARGES_MAX + 1, "the passes the ledger does not hold");

// A cell's value as the call has left it: a copy of a number, or the value
// it held before (any kind; `text_nodes` its text's nodes).
struct Written {
    CellHandle cell;
    bool dirty; // written by the call
    bool empty;
    bool number;
    int text_nodes;
    Operand value;
};

struct NumberRun {
    Ledger ledger;
    Written written[WRITTEN_MAX];
    int written_count = 0;
    CellHandle entered = 0; // the last cell a call entered
    // Why the run was given up: for good at this site, or only this time.
    bool refused = false;
};
NumberRun g_run;

// Gives the run up: `for_good` when the script is of a kind that never runs
// on numbers (the site stops trying).
inline bool give_up(bool for_good = false) {
    g_run.refused |= for_good;
    return false;
}

// The entry of a cell in the written list, added with its value as it is.
Written* written_of(CellHandle cell) {
    for (int i = 0; i < g_run.written_count; ++i)
        if (g_run.written[i].cell == cell) return &g_run.written[i];
    if (g_run.written_count == WRITTEN_MAX || cell_history_depth(cell) != 0) return nullptr;
    const NodeHandle v = cell_value(cell);
    const Text t = v != 0 ? value_text(v) : 0;
    if (v != 0 && (chain_next(v) != 0 || !short_text(t))) return nullptr;
    Written& w = g_run.written[g_run.written_count++];
    w.cell = cell;
    w.dirty = false;
    w.empty = v == 0;
    w.number = v != 0 && value_kind(v) == VK_NUMBER;
    w.text_nodes = t != 0 ? 1 : 0;
    w.value = v != 0 ? Operand{value_number(v), t, value_flags(v)} : Operand{0.0, 0, 0};
    return &w;
}

// A value that is a plain number with a short text, as an operand.
inline bool load_value(NodeHandle v, Operand& o) {
    if (v == 0 || value_kind(v) != VK_NUMBER) return false;
    o = Operand{value_number(v), value_text(v), value_flags(v)};
    return short_text(o.text);
}

// A cell's value as the call sees it now.
bool read_cell(CellHandle cell, Operand& o) {
    if (cell == 0) return false;
    for (int i = 0; i < g_run.written_count; ++i) {
        const Written& w = g_run.written[i];
        if (w.cell != cell) continue;
        o = w.value;
        return w.number;
    }
    return load_value(cell_value(cell), o);
}

// The arguments of a call: on numbers, or (the outermost caller's) the
// interpreter's own; and the running cell's entry in the written list.
struct Frame {
    const Operand* args;
    uint16_t count;
    bool real;
    Written* self;
};

[[gnu::always_inline]] inline bool read_load(const Plan& p, const Op& op, const Frame& f,
                                             Operand& o) {
    switch (op.code) {
    case OP_ARG:
        if (f.real) return load_value(argument(op.arg), o);
        if (op.arg < 1 || op.arg > f.count) return false;
        o = f.args[op.arg - 1];
        return true;
    case OP_LITERAL: o = p.literals[op.arg]; return true;
    case OP_CELL: return read_cell(cell_table_at(op.arg), o);
    default: return load_value(sysconst_value(op.arg), o); // OP_CONST
    }
}

// A program on numbers, as run_program runs it, reading through the call.
bool run_plain(const Plan& p, const Op* op, const Op* end, const Frame& f, Operand& result) {
    Operand stack[OPERANDS_MAX];
    int top = -1;
    for (; op != end; ++op) {
        switch (op->code) {
        case OP_CELL:
        case OP_ARG:
        case OP_CONST:
        case OP_LITERAL:
            if (!read_load(p, *op, f, stack[++top])) return false;
            break;
        case OP_CELL_AT: {
            int16_t i = 0;
            if (num_to_int16(i, stack[top].number) != 0 || i < 0) return false;
            const int index = op->arg + i;
            if (index >= cell_table_count()) return false;
            if (!read_cell(cell_table_at(index), stack[top])) return false;
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
    return true;
}

bool run_stack(const Plan& p, const PlanExpr& x, const Frame& f, int depth, Operand& result);

// An expression's value at nesting `depth`, as value_of makes it: a
// program on numbers makes nothing but the value (`made`: whether the
// ledger is to count it); one on the value stack is run and popped.
bool expression_value(const Plan& p, uint32_t xi, const Frame& f, int depth, Operand& v,
                      bool made) {
    const PlanExpr& x = p.exprs[xi];
    if (depth + x.depth > NESTING_LIMIT) return give_up();
    const Op* code = p.code.data() + x.at;
    switch (x.form) {
    case FORM_LOAD:
        if (!read_load(p, code[0], f, v)) return give_up();
        break;
    case FORM_PAIR: {
        Operand b;
        if (!read_load(p, code[0], f, v) || !read_load(p, code[1], f, b)) return give_up();
        apply_binary(code[2], v, b);
        break;
    }
    case FORM_PLAIN:
        if (!run_plain(p, code, code + x.len, f, v)) return give_up();
        break;
    default: // FORM_STACK
        if (!run_stack(p, x, f, depth, v)) return false;
        g_run.ledger.value_popped();
        return true;
    }
    if (made) g_run.ledger.value_made(v.text);
    return true;
}

bool call_on_numbers(const Plan& p, uint32_t ci, const Frame& caller, int depth, bool hand_over,
                     Operand* result);

// Runs a program on the value stack as run_calls does, its values on
// numbers; the value is left on the (counted) stack.
bool run_stack(const Plan& p, const PlanExpr& x, const Frame& f, int depth, Operand& result) {
    Ledger& l = g_run.ledger;
    Operand stack[OPERANDS_MAX];
    int top = -1;
    const Op* code = p.code.data() + x.at;
    for (uint32_t pc = 0; pc < x.len; ++pc) {
        const Op op = code[pc];
        switch (op.code) {
        case OP_CELL:
        case OP_CONST:
        case OP_LITERAL:
        case OP_ARG: {
            Operand& o = stack[++top];
            if (!read_load(p, op, f, o)) return give_up();
            l.value_made(o.text);
            l.value_pushed();
            break;
        }
        case OP_CALL: {
            const uint8_t next = pc + 1 < x.len ? code[pc + 1].code : OP_COUNT;
            const bool combined = next >= OP_ADD && next <= OP_MOD && l.values != 0;
            Operand r;
            if (!call_on_numbers(p, op.arg, f, depth + p.calls[op.arg].depth, combined, &r))
                return false;
            if (combined) {
                // The operator combines the cell's value with the operand
                // below, which stays on the stack.
                if (l.value_slot.at == 1) l.pass(1);
                apply_binary(code[++pc], stack[top], r);
            } else {
                stack[++top] = r;
            }
            break;
        }
        case OP_NEGATE:
            stack[top].number = -stack[top].number;
            stack[top].flags &= static_cast<uint8_t>(~VF_DUAL);
            break;
        case OP_NOT: set_truth(stack[top], stack[top].number == 0.0); break;
        case OP_RELATION:
            l.value_popped();
            l.value_popped();
            l.value_freed(stack[top - 1].text);
            l.value_freed(stack[top].text);
            apply_binary(op, stack[top - 1], stack[top]);
            --top;
            l.value_made(0);
            l.value_pushed();
            break;
        default: // the arithmetic and logic operators
            l.value_popped();
            l.value_popped();
            l.value_pushed();
            l.value_freed(stack[top].text);
            apply_binary(op, stack[top - 1], stack[top]);
            --top;
        }
    }
    result = stack[0];
    return true;
}

// An expression statement: the value becomes the running cell's, written
// in place where its old value can be reused (assigned_in_place) or
// replacing it.
bool expression_statement(const Plan& p, uint32_t xi, const Frame& f, int depth) {
    Ledger& l = g_run.ledger;
    Written* w = f.self;
    // Whether the old value is written over in place (value_to_reuse).
    const bool in_place = p.exprs[xi].form != FORM_STACK && !w->empty;
    Operand v;
    if (!expression_value(p, xi, f, depth, v, !in_place)) return false;
    if (in_place) {
        // The new value's node only passes; its text is written over the
        // old one's chunk, or copied and the old one released.
        l.pass(1);
        if (w->text_nodes != 0 && copy_nodes(v.text) != 0) {
            l.pass(1);
        } else {
            l.take(copy_nodes(v.text));
            l.give(w->text_nodes);
        }
    } else if (!w->empty) {
        // Released as the value is replaced (the callees may have written
        // it in the meantime).
        l.give(1 + w->text_nodes);
    }
    w->dirty = true;
    w->empty = false;
    w->number = true;
    w->text_nodes = copy_nodes(v.text);
    w->value = v;
    return true;
}

// ---- plans -----------------------------------------------------------------

// A compiled expression of the list's cache read into the plan: its index
// in Plan::exprs, or NO_CALL when it has anything the run cannot do.
uint32_t read_expression(ListCache& lc, Plan& p, uint32_t mark);

// A call site of the list's cache read into the plan: its index in
// Plan::calls, or NO_CALL.
uint32_t read_call(ListCache& lc, Plan& p, const CallSite& site) {
    if (site.bang || site.builtin || !site.args_compiled || site.arg_count > ARGS_MAX)
        return NO_CALL;
    const uint32_t args_at = static_cast<uint32_t>(p.exprs.size());
    p.exprs.resize(args_at + site.arg_count);
    for (uint32_t i = 0; i < site.arg_count; ++i) {
        const uint32_t x = read_expression(lc, p, lc.args[site.args_at + i].mark);
        if (x == NO_CALL) return NO_CALL;
        p.exprs[args_at + i] = p.exprs[x];
    }
    p.calls.push_back(
        PlanCall{site.index, site.depth, static_cast<uint8_t>(site.arg_count), args_at});
    return static_cast<uint32_t>(p.calls.size() - 1);
}

uint32_t read_expression(ListCache& lc, Plan& p, uint32_t mark) {
    if (mark == 0) return NO_CALL;
    const Entry e = entry_of_mark(lc, mark);
    const bool stack = mark >= CALLS_MARK;
    std::vector<Op> code(lc.code.begin() + e.code_at, lc.code.begin() + e.code_at + e.code_len);
    for (Op& op : code) {
        switch (op.code) {
        case OP_LITERAL: {
            Operand o;
            if (!load_value(op.arg, o)) return NO_CALL;
            p.literals.push_back(o);
            op.arg = static_cast<uint16_t>(p.literals.size() - 1);
            if (p.literals.size() > UINT16_MAX) return NO_CALL;
            break;
        }
        case OP_ARG:
            if (stack) op.arg = lc.sites[op.arg].index;
            break;
        case OP_CALL: {
            const uint32_t c = read_call(lc, p, lc.sites[op.arg]);
            if (c == NO_CALL || c > UINT16_MAX) return NO_CALL;
            op.arg = static_cast<uint16_t>(c);
            break;
        }
        case OP_CAT:
        case OP_BUILTIN: return NO_CALL;
        default: break;
        }
    }
    PlanExpr x{FORM_PLAIN, e.depth, static_cast<uint32_t>(p.code.size()), e.code_len};
    if (stack)
        x.form = FORM_STACK;
    else if (e.shape == SHAPE_LOAD)
        x.form = FORM_LOAD;
    else if (e.shape == SHAPE_PAIR || e.shape == SHAPE_COMPARE)
        x.form = FORM_PAIR;
    p.code.insert(p.code.end(), code.begin(), code.end());
    p.exprs.push_back(x);
    return static_cast<uint32_t>(p.exprs.size() - 1);
}

// Reads the statements from `at` to the end of their list (a '}' for a
// block), appending them to the plan; false for anything else.
bool read_statements(ListCache& lc, Plan& p, TokenCursor at, uint8_t ends, uint32_t& begin,
                     uint32_t& end) {
    std::vector<PlanStmt> list;
    for (;;) {
        const uint8_t kind = token_kind(tokens_at(at.chunk, at.slot));
        if (kind == RBRACE || kind == END_OF_FILE) {
            if (kind != ends) return false;
            break;
        }
        if (kind == LBRACE) return false;
        const uint32_t n = compile_statement_at(lc, at);
        if (n == LEFT_TO_WALKER) return false;
        const Stmt s = lc.stmts[n - 1];
        PlanStmt ps;
        if (s.kind == ST_EXPRESSION) {
            if ((ps.expr = read_expression(lc, p, s.entry)) == NO_CALL) return false;
            at = entry_of_mark(lc, s.entry).end;
        } else if (s.kind == ST_IF) {
            // As run_if runs it (an if whose first pass is still to be made
            // by the walker takes and gives back the same charges).
            ps.is_if = true;
            std::vector<PlanClause> clauses;
            for (uint32_t i = 0; i < s.clause_count; ++i) {
                const Clause c = lc.clauses[s.clauses_at + i];
                PlanClause pc{read_expression(lc, p, c.entry), 0, 0};
                if (pc.cond == NO_CALL ||
                    !read_statements(lc, p, c.block_first, RBRACE, pc.begin, pc.end))
                    return false;
                clauses.push_back(pc);
            }
            if (s.has_else &&
                !read_statements(lc, p, s.else_first, RBRACE, ps.else_begin, ps.else_end))
                return false;
            ps.has_else = s.has_else;
            ps.clauses_at = static_cast<uint32_t>(p.clauses.size());
            ps.clause_count = s.clause_count;
            p.clauses.insert(p.clauses.end(), clauses.begin(), clauses.end());
            at = s.end;
        } else {
            return false; // set and while statements run step by step
        }
        list.push_back(ps);
    }
    begin = static_cast<uint32_t>(p.stmts.size());
    p.stmts.insert(p.stmts.end(), list.begin(), list.end());
    end = static_cast<uint32_t>(p.stmts.size());
    return true;
}

// A callee's plan, its statements read on its first call on numbers.
const Plan* callee_plan(ListCache& lc, TokenList list) {
    if (!lc.plan) lc.plan.reset(new Plan);
    Plan& p = *lc.plan;
    if (p.state == Plan::UNREAD) {
        TokenCursor at;
        p.state = tokens_first_cursor(list, at) != nullptr &&
                          read_statements(lc, p, at, END_OF_FILE, p.begin, p.end)
                      ? Plan::READY
                      : Plan::REFUSED;
    }
    return p.state == Plan::READY ? &p : nullptr;
}

// ---- runs ------------------------------------------------------------------

// What every call does first (a plan has no loops, so a call's statements
// are few): the window's pump, and Stop noticed (the run is then given up,
// to stop where the steps stop).
inline bool call_checks_pass() {
    pump_while_busy();
    return !run_stop_request() && !detail::g_run_poll.slow;
}

bool run_statements(const Plan& p, uint32_t begin, uint32_t end, const Frame& f, int depth);

// A block's statements: one expression statement (the commonest block) run
// straight away.
[[gnu::always_inline]] inline bool run_block(const Plan& p, uint32_t begin, uint32_t end,
                                             const Frame& f, int depth) {
    if (end - begin != 1 || p.stmts[begin].is_if) return run_statements(p, begin, end, f, depth);
    if (depth + 1 > NESTING_LIMIT) return give_up();
    return expression_statement(p, p.stmts[begin].expr, f, depth + 1);
}

bool run_statements(const Plan& p, uint32_t begin, uint32_t end, const Frame& f, int depth) {
    const int level = depth + 1; // each statement's nesting
    if (begin != end && level > NESTING_LIMIT) return give_up();
    for (uint32_t i = begin; i < end; ++i) {
        const PlanStmt& s = p.stmts[i];
        if (!s.is_if) {
            if (!expression_statement(p, s.expr, f, level)) return false;
            continue;
        }
        // run_if: its position taken and dropped, the clauses in turn.
        g_run.ledger.pass(g_run.ledger.frame_slot.at == 0 ? 2 : 1);
        bool taken = false;
        for (uint32_t c = 0; c < s.clause_count && !taken; ++c) {
            const PlanClause& pc = p.clauses[s.clauses_at + c];
            Operand v;
            if (!expression_value(p, pc.cond, f, level, v, false)) return false;
            // A value on the stack is popped, tested and released.
            if (p.exprs[pc.cond].form == FORM_STACK) g_run.ledger.value_freed(v.text);
            taken = v.number != 0.0;
            if (taken && !run_block(p, pc.begin, pc.end, f, level)) return false;
        }
        if (!taken && s.has_else && !run_block(p, s.else_begin, s.else_end, f, level)) return false;
    }
    return true;
}

// A call from a program at nesting `depth`, as call_at and call_cell make
// it, up to its result (`result` given) and from the argument list's
// release on. `hand_over` as a combined call's: the result is handed over
// to the operator that follows, or copied onto the stack.
bool call_on_numbers(const Plan& p, uint32_t ci, const Frame& caller, int depth, bool hand_over,
                     Operand* result) {
    Ledger& l = g_run.ledger;
    const PlanCall c = p.calls[ci];
    const CellHandle cell = cell_table_at(c.index);
    if (cell == 0) return give_up(true);
    const TokenList list = cell_get(cell, CF_SCRIPT_TOKENS);
    if (list == 0 || node_get_u8(cell, CF_SCRIPT_CHANGED) != 0) return give_up();
    const Plan* plan = callee_plan(cache_of(list), list);
    if (plan == nullptr) return give_up(true);
    // The arguments, each made as a value and kept in the list.
    Operand args[ARGS_MAX];
    for (uint32_t i = 0; i < c.argc; ++i)
        if (!expression_value(p, c.args_at + i, caller, depth, args[i], true)) return false;
    if (!call_checks_pass()) return give_up();
    // The saved position, the nesting, the argument list pushed.
    l.take(1 + l.frame_slot.pushed() + l.arg_slot.pushed());
    if (depth + 1 > NESTING_LIMIT) return give_up();
    g_run.entered = cell;
    Written* self = written_of(cell);
    if (self == nullptr) return give_up();
    const Frame f{args, c.argc, false, self};
    if (!run_statements(*plan, plan->begin, plan->end, f, depth + 1)) return false;
    if (result != nullptr) {
        // call_cell's end: the cell's value handed over or copied.
        if (!self->number) return give_up();
        *result = self->value;
        if (hand_over) {
            l.pass(self->text_nodes != 0 && node_aux(self->value.text) != 0 ? 2 : 1);
            if (l.value_slot.at == 0) l.pass(1);
        } else {
            l.value_made(result->text);
            l.value_pushed();
        }
    }
    // The argument list popped and released, the position restored.
    int freed = l.arg_slot.popped() + 1 + l.frame_slot.popped();
    for (uint32_t i = 0; i < c.argc; ++i)
        freed += 1 + copy_nodes(args[i].text);
    l.give(freed);
    return true;
}

// The call of a site of the list's step-by-step run, read on its first
// call into the list's plan of sites (apart from its statements' plan,
// which a call may read while this one runs); NO_CALL when it cannot run
// on numbers.
uint32_t site_call(ListCache& lc, uint16_t site_no) {
    if (!lc.site_plan) lc.site_plan.reset(new Plan);
    Plan& p = *lc.site_plan;
    if (p.site_calls.size() <= site_no) p.site_calls.resize(site_no + 1u, 0);
    if (p.site_calls[site_no] == 0) {
        const uint32_t c = read_call(lc, p, lc.sites[site_no]);
        p.site_calls[site_no] = c == NO_CALL ? NO_CALL : c + 1;
    }
    const uint32_t c = p.site_calls[site_no];
    return c == NO_CALL ? NO_CALL : c - 1;
}

} // namespace

int call_on_numbers_at(Interpreter& in, ListCache& lc, uint16_t site_no, NodeHandle* handed) {
    if (!detail::store_roomy(LEDGER_MARGIN) || detail::g_run_poll.slow || run_calls_watched())
        return NOT_ON_NUMBERS;
    const uint32_t ci = site_call(lc, site_no);
    if (ci == NO_CALL) {
        lc.sites[site_no].on_numbers = false;
        return NOT_ON_NUMBERS;
    }
    g_run = NumberRun{};
    Ledger& l = g_run.ledger;
    l.values = in.values.count;
    l.value_slot = Slot(in.values.count);
    l.frame_slot = Slot(in.frames.count);
    l.arg_slot = Slot(in.args.count);
    const Frame caller{nullptr, 0, true, nullptr};
    const int free_before = nodes_free();
    const Plan& p = *lc.site_plan;
    bool ok = call_on_numbers(p, ci, caller, in.depth, false, nullptr);
    if (ok && free_before < LOW_NODE_THRESHOLD + LEDGER_MARGIN + l.peak) ok = give_up();
    for (int i = 0; ok && i < g_run.written_count; ++i)
        if (g_run.written[i].dirty && run_cell_watched(g_run.written[i].cell)) ok = give_up();
    CallSite& s = lc.sites[site_no]; // the callees may have compiled into this cache
    if (!ok) {
        ++g_counts.number_misses;
        if (g_run.refused ||
            (++s.number_misses >= SITE_MISSES_MAX && s.number_misses > s.number_runs))
            s.on_numbers = false;
        return NOT_ON_NUMBERS;
    }
    if (s.number_runs != UINT16_MAX) ++s.number_runs;
    ++g_counts.number_calls;
    // The values written, as the steps leave them, and the allocations the
    // steps made in place of those made here.
    const uint64_t allocations = node_allocations();
    for (int i = 0; i < g_run.written_count; ++i) {
        const Written& w = g_run.written[i];
        if (w.dirty) cell_set_value(w.cell, make_value(w.value, [](NodeHandle) {}));
    }
    node_allocations_passed(allocations + l.allocations - node_allocations());
    go_to(in, s.args_end);
    in.executing = g_run.entered;
    return call_result(cell_table_at(s.index), handed);
}

} // namespace compiled

} // namespace tarvex
