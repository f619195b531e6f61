// Cell calls run on numbers. A cell whose script is expression statements,
// ifs and sets over numbers, its arguments, cell reads and calls of such
// cells (fib, tak, most recursive arithmetic) is called without the step-by-step
// run making a value, a stack entry or a saved position: each value is a
// number with the text its copy would carry, the values written are kept
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
// Each list's statements are read once from its compiled code into a plan
// of operations of its own, run by one machine (run_plan) with its own
// stacks of operands and calls; the run never reads the lists' caches, into
// which a callee read for the first time may compile.
#include "script/compiled_run.h"

#include "script/number_calls.h"

#include <algorithm>

namespace tarvex {

namespace detail {
bool g_number_calls = true;
} // namespace detail
void interp_set_number_calls(bool on) { detail::g_number_calls = on; }

namespace compiled {

// A plan: a list's statements (or, in a list's plan of sites, the calls
// its step-by-step run makes) compiled into operations on numbers, run by
// run_plan with its own stack of operands and of calls.
enum VCode : uint8_t {
    V_CHECK,     // the nesting an expression reaches: z, from the frame's base
    V_ARG,       // argument n
    V_OUTER_ARG, // argument n of the interpreter's own (a plan of sites')
    V_LIT,       // literal operand z
    V_CELL,      // the value of the cell at table index n
    V_CONST,     // system constant n
    V_CELL_AT,   // the cell at table index n + the operand on top
    V_NEGATE,
    V_NOT,
    V_BINARY, // op (rel for a relation) on the two top operands
    V_PAIR,   // argument n op literal z (with RIGHT_ARG, argument z)
    V_TEST,   // a V_PAIR's value tested: a jump to `to` when it is false
    V_CALL,   // the cell at table index n with op arguments, made at depth z
    V_HANDED, // a call's result handed over to op with the operand below
    V_MADE,   // an argument made as a value
    V_POPPED, // a value taken off the value stack
    V_SET,    // the running cell's value written (with TARGET, cell n's)
    V_IF,     // an if's saved position taken and dropped
    V_JUMP_FALSE,
    V_JUMP,
    V_RETURN,
    V_HALT,
};
// V_BINARY and loads made as the value stack's values (programs on the
// value stack); V_JUMP_FALSE and V_SET of such a program's value.
constexpr uint8_t ON_STACK = 1;
// V_CALL: the result handed over to the operator that follows; the call a
// plan of sites makes, whose end the interpreter makes.
constexpr uint8_t HANDED = 2, OUTERMOST = 4;
// V_ARG, V_PAIR: the value made as an argument's (V_MADE's work).
constexpr uint8_t MADE = 8;
// V_PAIR, V_TEST: the right operand an argument.
constexpr uint8_t RIGHT_ARG = 16;
// V_SET: a set statement's, of the cell at table index n.
constexpr uint8_t TARGET = 32;

struct VOp {
    uint8_t code;
    uint8_t op = 0;
    uint8_t rel = 0;
    uint8_t flags = 0;
    uint16_t n = 0;
    uint32_t z = 0;
    uint32_t to = 0; // V_TEST: where a false test goes; V_CALL: its CallCache
};

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

struct Plan;
// What a call finds of its callee (the cell, its plan, its written entry),
// kept for the rest of the run that found it: nothing a run on numbers
// does changes them.
struct CallCache {
    uint32_t run = 0;
    CellHandle cell = 0;
    const Plan* plan = nullptr;
    Written* self = nullptr;
};

struct Plan {
    enum State : uint8_t { UNREAD, READY, REFUSED } state = UNREAD;
    // The script's first operation: without nesting checks, for a call
    // whose base is low enough that none of its statements can reach the
    // limit (`reach` levels above the base at most), and with them.
    uint32_t entry = 0, checked_entry = 0;
    uint32_t reach = 0;
    // The most operands its code holds at once (a call's arguments
    // included, until the call's frame takes them).
    uint32_t operands = 0;
    std::vector<VOp> code;
    std::vector<Operand> literals;
    mutable std::vector<CallCache> calls; // by V_CALL
    // In a list's plan of sites (ListCache::site_plan), by site number:
    // the first operation of the site's call + 1, NOT_COMPILED, or 0 unread.
    std::vector<uint32_t> site_entries;
};

void PlanDeleter::operator()(Plan* p) const { delete p; }

namespace {

// The operand stack (a call that would need more runs step by step: room
// for any call of ordinary expressions nested to the limit), and the most
// calls active at once (each takes at least two levels of nesting).
constexpr uint32_t OPERAND_STACK = 16384;
constexpr int FRAMES_MAX = NESTING_LIMIT / 2 + 2;
// A call runs on numbers only this far above the low mark at its deepest:
// the step-by-step run decides between paths of equal counts by checks of a
// few nodes' room (store_roomy), and each must find room as it does here.
constexpr int LEDGER_MARGIN = 8;
// The cells one call on numbers may write (each callee's own value and the
// cells its sets name).
constexpr int WRITTEN_MAX = 16;
// The most arguments a call on numbers passes (more run step by step).
constexpr int ARGS_MAX = 8;
// A site whose calls on numbers were given up this often, and more often
// than they ran, calls step by step for good.
constexpr uint16_t SITE_MISSES_MAX = 8;

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
    Slot() = default;
    explicit Slot(uint32_t count) : at(count % HSTACK_SLOTS) {}
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
    void value_made(const Operand& v) { take(1 + v.copies); }
    void value_freed(const Operand& v) { give(1 + v.copies); }
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

struct NumberRun {
    Ledger ledger;
    Written written[WRITTEN_MAX];
    int written_count = 0;
    CellHandle entered = 0; // the last cell a call entered
    // Why the run was given up: for good at this site, or only this time.
    bool refused = false;
};
NumberRun g_run;
// Counts the runs on numbers, from 1 (a CallCache of another run is stale).
uint32_t g_run_number = 0;

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
    w.value = v != 0
                  ? Operand{value_number(v), t, value_flags(v), static_cast<uint8_t>(copy_nodes(t))}
                  : Operand{0.0, 0, 0};
    return &w;
}

// A value that is a plain number with a short text, as an operand.
inline bool load_value(NodeHandle v, Operand& o) {
    if (v == 0 || value_kind(v) != VK_NUMBER) return false;
    const Text t = value_text(v);
    if (!short_text(t)) return false;
    o = Operand{value_number(v), t, value_flags(v), static_cast<uint8_t>(copy_nodes(t))};
    return true;
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

// ---- plans -----------------------------------------------------------------

// A site number or operation index no plan has.
constexpr uint32_t NOT_COMPILED = UINT32_MAX;

// Reads a list's compiled code into a plan.
class PlanWriter {
  public:
    // `sites`: a plan of sites, whose arguments are the interpreter's own
    // and whose expressions each check the nesting they reach; otherwise
    // `checked` says whether they do.
    PlanWriter(ListCache& lc, Plan& p, bool checked, bool sites = false)
        : lc_(lc), p_(p), checked_(checked || sites), sites_(sites) {}

    // An expression evaluated `rel` levels above the frame's base.
    bool expression(uint32_t mark, uint32_t rel) {
        if (mark == 0) return false;
        const Entry e = entry_of_mark(lc_, mark);
        const bool stack = mark >= CALLS_MARK;
        reach_ = std::max(reach_, rel + e.depth);
        if (checked_) emit(VOp{V_CHECK, 0, 0, 0, 0, rel + e.depth});
        const Op* code = lc_.code.data() + e.code_at;
        if (!stack && !sites_ && e.code_len == 3 && code[0].code == OP_ARG &&
            (code[1].code == OP_LITERAL || code[1].code == OP_ARG)) {
            uint32_t right = code[1].arg;
            if (code[1].code == OP_LITERAL && !literal(code[1].arg, right)) return false;
            emit(VOp{V_PAIR, code[2].code, code[2].rel,
                     static_cast<uint8_t>(code[1].code == OP_ARG ? RIGHT_ARG : 0), code[0].arg,
                     right});
            return true;
        }
        const uint8_t flags = stack ? ON_STACK : 0;
        for (uint32_t i = 0; i < e.code_len; ++i) {
            const Op op = lc_.code[e.code_at + i];
            switch (op.code) {
            case OP_ARG:
                emit(VOp{sites_ ? V_OUTER_ARG : V_ARG, 0, 0, flags,
                         stack ? lc_.sites[op.arg].index : op.arg, 0});
                break;
            case OP_LITERAL: {
                uint32_t lit;
                if (!literal(op.arg, lit)) return false;
                emit(VOp{V_LIT, 0, 0, flags, 0, lit});
                break;
            }
            case OP_CELL: emit(VOp{V_CELL, 0, 0, flags, op.arg, 0}); break;
            case OP_CONST: emit(VOp{V_CONST, 0, 0, flags, op.arg, 0}); break;
            case OP_CELL_AT: emit(VOp{V_CELL_AT, 0, 0, 0, op.arg, 0}); break;
            case OP_NEGATE: emit(VOp{V_NEGATE}); break;
            case OP_NOT: emit(VOp{V_NOT}); break;
            case OP_CALL: {
                const CallSite site = lc_.sites[op.arg];
                const bool handed = i + 1 < e.code_len &&
                                    lc_.code[e.code_at + i + 1].code >= OP_ADD &&
                                    lc_.code[e.code_at + i + 1].code <= OP_MOD;
                if (!call(site, rel + site.depth, handed ? HANDED : 0)) return false;
                if (handed) {
                    const Op next = lc_.code[e.code_at + ++i];
                    emit(VOp{V_HANDED, next.code, next.rel});
                }
                break;
            }
            case OP_CAT:
            case OP_BUILTIN: return false;
            default: emit(VOp{V_BINARY, op.code, op.rel, flags});
            }
        }
        return true;
    }

    // A call made `rel` levels above the frame's base: its arguments, each
    // made as a value, then the call.
    bool call(const CallSite& site, uint32_t rel, uint8_t flags) {
        if (site.bang || site.builtin || !site.args_compiled || site.arg_count > ARGS_MAX)
            return false;
        reach_ = std::max(reach_, rel + 1);
        for (uint32_t i = 0; i < site.arg_count; ++i) {
            const uint32_t mark = lc_.args[site.args_at + i].mark;
            if (!expression(mark, rel)) return false;
            // A plain expression ending in a load is that load alone.
            VOp& last = p_.code.back();
            if (mark >= CALLS_MARK)
                emit(VOp{V_POPPED});
            else if (last.code == V_PAIR || last.code == V_ARG || last.code == V_OUTER_ARG)
                last.flags |= MADE;
            else
                emit(VOp{V_MADE});
        }
        emit(VOp{V_CALL, static_cast<uint8_t>(site.arg_count), 0, flags, site.index, rel,
                 static_cast<uint32_t>(p_.calls.size())});
        p_.calls.emplace_back();
        return true;
    }

    // The statements from `at` to the end of their list (a '}' for a
    // block), `rel` levels above the frame's base.
    bool statements(TokenCursor at, uint8_t ends, uint32_t rel) {
        for (;;) {
            const uint8_t kind = token_kind(tokens_at(at.chunk, at.slot));
            if (kind == RBRACE || kind == END_OF_FILE) return kind == ends;
            if (kind == LBRACE) return false;
            const uint32_t n = compile_statement_at(lc_, at);
            if (n == LEFT_TO_WALKER) return false;
            const Stmt s = lc_.stmts[n - 1];
            if (s.kind == ST_EXPRESSION) {
                if (!value(s.entry, rel)) return false;
                emit(VOp{V_SET, 0, 0, static_cast<uint8_t>(s.entry >= CALLS_MARK ? ON_STACK : 0)});
                at = entry_of_mark(lc_, s.entry).end;
            } else if (s.kind == ST_IF) {
                // As run_if runs it (an if whose first pass is still to be
                // made by the walker takes and gives back the same charges).
                emit(VOp{V_IF});
                std::vector<uint32_t> to_end;
                for (uint32_t i = 0; i < s.clause_count; ++i) {
                    const Clause c = lc_.clauses[s.clauses_at + i];
                    if (!value(c.entry, rel)) return false;
                    // The jump past the block when the condition is false.
                    uint32_t skip = here();
                    if (c.entry < CALLS_MARK && p_.code.back().code == V_PAIR) {
                        p_.code[--skip].code = V_TEST; // which leaves nothing
                        --height_;
                    } else {
                        emit(VOp{V_JUMP_FALSE, 0, 0,
                                 static_cast<uint8_t>(c.entry >= CALLS_MARK ? ON_STACK : 0)});
                    }
                    if (!statements(c.block_first, RBRACE, rel + 1)) return false;
                    to_end.push_back(here());
                    emit(VOp{V_JUMP});
                    VOp& jump = p_.code[skip];
                    (jump.code == V_TEST ? jump.to : jump.z) = here();
                }
                if (s.has_else && !statements(s.else_first, RBRACE, rel + 1)) return false;
                for (uint32_t j : to_end)
                    p_.code[j].z = here();
                at = s.end;
            } else if (s.kind == ST_SET) {
                if (!value(s.entry, rel)) return false;
                emit(VOp{V_SET, 0, 0,
                         static_cast<uint8_t>(TARGET | (s.entry >= CALLS_MARK ? ON_STACK : 0)),
                         s.target});
                at = entry_of_mark(lc_, s.entry).end;
            } else {
                return false; // while statements run step by step
            }
        }
    }

    uint32_t here() const { return static_cast<uint32_t>(p_.code.size()); }
    uint32_t reach() const { return reach_; }
    void emit(VOp op) {
        p_.code.push_back(op);
        switch (op.code) {
        case V_ARG:
        case V_OUTER_ARG:
        case V_LIT:
        case V_CELL:
        case V_CONST:
        case V_PAIR: ++height_; break;
        case V_BINARY:
        case V_HANDED:
        case V_SET:
        case V_JUMP_FALSE: --height_; break;
        case V_CALL: height_ -= op.op - ((op.flags & OUTERMOST) ? 0 : 1); break;
        default: break;
        }
        if (height_ > operands_) operands_ = height_;
    }
    uint32_t operands() const { return static_cast<uint32_t>(operands_); }

  private:
    // An expression whose value is taken off the value stack when it was
    // made there.
    bool value(uint32_t mark, uint32_t rel) {
        if (!expression(mark, rel)) return false;
        if (mark >= CALLS_MARK) emit(VOp{V_POPPED});
        return true;
    }

    bool literal(NodeHandle v, uint32_t& index) {
        Operand o;
        if (!load_value(v, o)) return false;
        index = static_cast<uint32_t>(p_.literals.size());
        p_.literals.push_back(o);
        return true;
    }

    ListCache& lc_;
    Plan& p_;
    bool checked_, sites_;
    uint32_t reach_ = 0;
    int height_ = 0, operands_ = 0;
};

// A callee's plan, its statements read on its first call on numbers: they
// run one level above the call's (call_cell's nesting), from two above.
const Plan* callee_plan(ListCache& lc, TokenList list) {
    if (!lc.plan) lc.plan.reset(new Plan);
    Plan& p = *lc.plan;
    if (p.state == Plan::UNREAD) {
        TokenCursor at;
        bool ok = tokens_first_cursor(list, at) != nullptr;
        for (bool checked : {false, true}) {
            PlanWriter w(lc, p, checked);
            (checked ? p.checked_entry : p.entry) = w.here();
            ok = ok && w.statements(at, END_OF_FILE, 1);
            w.emit(VOp{V_RETURN});
            p.reach = w.reach();
            p.operands = w.operands();
        }
        p.state = ok ? Plan::READY : Plan::REFUSED;
    }
    return p.state == Plan::READY ? &p : nullptr;
}

// The first operation of the call at a site of the list's step-by-step
// run, read on its first call into the list's plan of sites (apart from
// its statements' plan, which a call may read while this one runs);
// NOT_COMPILED when it cannot run on numbers.
uint32_t site_entry(ListCache& lc, uint16_t site_no) {
    if (!lc.site_plan) lc.site_plan.reset(new Plan);
    Plan& p = *lc.site_plan;
    if (p.site_entries.size() <= site_no) p.site_entries.resize(site_no + 1u, 0);
    if (p.site_entries[site_no] == 0) {
        PlanWriter w(lc, p, true, true);
        const uint32_t entry = w.here();
        const bool ok = w.call(lc.sites[site_no], 0, OUTERMOST) && w.operands() <= OPERAND_STACK;
        w.emit(VOp{V_HALT});
        p.site_entries[site_no] = ok ? entry + 1 : NOT_COMPILED;
    }
    const uint32_t e = p.site_entries[site_no];
    return e == NOT_COMPILED ? NOT_COMPILED : e - 1;
}

// ---- runs ------------------------------------------------------------------

// What every call does first (a plan has no loops, so a call's statements
// are few): the window's pump, and Stop noticed (the run is then given up,
// to stop where the steps stop).
inline bool call_checks_pass() {
    pump_while_busy();
    return !run_stop_request() && !detail::g_run_poll.slow;
}

// An active call: where its caller goes on, its arguments (but the
// outermost caller's, which are the interpreter's own), the nesting its
// statements start from, and the running cell's entry in the written list.
struct VFrame {
    const Plan* plan; // whose code the call runs
    const VOp* back;
    uint32_t args_at; // in the operand stack
    uint16_t argc;
    uint8_t flags; // the call's
    int base;
    Written* self;
};

struct Machine {
    Operand stack[OPERAND_STACK];
    VFrame frames[FRAMES_MAX];
};
Machine g_machine;

[[gnu::always_inline]] inline bool read_arg(const VFrame& f, const Operand* st, uint16_t n,
                                            Operand& o) {
    if (static_cast<uint16_t>(n - 1) >= f.argc) return false;
    o = st[f.args_at + n - 1];
    return true;
}

// A V_PAIR's or V_TEST's value.
[[gnu::always_inline]] inline bool pair(const VFrame& f, const Operand* st, const Operand* literals,
                                        const VOp& op, Operand& v) {
    if (!read_arg(f, st, op.n, v)) return false;
    if (!(op.flags & RIGHT_ARG)) {
        apply_binary(Op{op.op, op.rel, 0}, v, literals[op.z]);
        return true;
    }
    Operand b;
    if (!read_arg(f, st, static_cast<uint16_t>(op.z), b)) return false;
    apply_binary(Op{op.op, op.rel, 0}, v, b);
    return true;
}

// Runs a plan of sites from `pc` with the outermost frame given, to its
// V_HALT.
bool run_plan(const VOp* pc, const VFrame& outer) {
    Ledger& l = g_run.ledger;
    Operand* const st = g_machine.stack;
    VFrame* fr = g_machine.frames;
    *fr = outer;
    uint32_t sp = 0;
    // The running plan's code and literals.
    const VOp* code = outer.plan->code.data();
    const Operand* literals = outer.plan->literals.data();
    for (;; ++pc) {
        switch (pc->code) {
        case V_CHECK:
            if (fr->base + static_cast<int>(pc->z) > NESTING_LIMIT) return give_up();
            break;
        case V_ARG:
            if (!read_arg(*fr, st, pc->n, st[sp])) return give_up();
            if (pc->flags & MADE) {
                l.value_made(st[sp++]);
                break;
            }
            goto loaded;
        case V_OUTER_ARG:
            if (!load_value(argument(pc->n), st[sp])) return give_up();
            if (pc->flags & MADE) {
                l.value_made(st[sp++]);
                break;
            }
            goto loaded;
        case V_LIT: st[sp] = literals[pc->z]; goto loaded;
        case V_CELL:
            if (!read_cell(cell_table_at(pc->n), st[sp])) return give_up();
            goto loaded;
        case V_CONST:
            if (!load_value(sysconst_value(pc->n), st[sp])) return give_up();
        loaded:
            if (pc->flags & ON_STACK) {
                l.value_made(st[sp]);
                l.value_pushed();
            }
            ++sp;
            break;
        case V_CELL_AT: {
            int16_t i = 0;
            Operand& top = st[sp - 1];
            if (num_to_int16(i, top.number) != 0 || i < 0) return give_up();
            const int index = pc->n + i;
            if (index >= cell_table_count() || !read_cell(cell_table_at(index), top))
                return give_up();
            break;
        }
        case V_NEGATE:
            st[sp - 1].number = -st[sp - 1].number;
            st[sp - 1].flags &= static_cast<uint8_t>(~VF_DUAL);
            break;
        case V_NOT: set_truth(st[sp - 1], st[sp - 1].number == 0.0); break;
        case V_BINARY: {
            Operand& a = st[sp - 2];
            const Operand& b = st[sp - 1];
            if (pc->flags & ON_STACK) {
                l.value_popped();
                l.value_popped();
                if (pc->op == OP_RELATION) {
                    l.value_freed(a);
                    l.value_freed(b);
                    l.value_made(Operand{});
                } else {
                    l.value_freed(b);
                }
                l.value_pushed();
            }
            apply_binary(Op{pc->op, pc->rel, 0}, a, b);
            --sp;
            break;
        }
        case V_PAIR:
            if (!pair(*fr, st, literals, *pc, st[sp])) return give_up();
            if (pc->flags & MADE) l.value_made(st[sp]);
            ++sp;
            break;
        case V_TEST: {
            Operand v;
            if (!pair(*fr, st, literals, *pc, v)) return give_up();
            if (v.number == 0.0) pc = code + pc->to - 1;
            break;
        }
        case V_HANDED:
            // The operator combines the cell's value with the operand
            // below, which stays on the value stack.
            if (l.value_slot.at == 1) l.pass(1);
            apply_binary(Op{pc->op, pc->rel, 0}, st[sp - 2], st[sp - 1]);
            --sp;
            break;
        case V_MADE: l.value_made(st[sp - 1]); break;
        case V_POPPED: l.value_popped(); break;
        case V_SET: {
            // The value becomes the running cell's (or the set's target's),
            // written in place where its old value can be reused
            // (assigned_in_place) or replacing it, the callees' writes in the
            // meantime released.
            const Operand v = st[--sp];
            Written* w = fr->self;
            if (pc->flags & TARGET) {
                const CellHandle target = cell_table_at(pc->n);
                if (target == 0 || (w = written_of(target)) == nullptr) return give_up();
            }
            if ((pc->flags & ON_STACK) || w->empty) {
                if (!(pc->flags & ON_STACK)) l.value_made(v);
                if (!w->empty) l.give(1 + w->text_nodes);
            } else {
                l.pass(1);
                if (w->text_nodes != 0 && v.copies != 0) {
                    l.pass(1);
                } else {
                    l.take(v.copies);
                    l.give(w->text_nodes);
                }
            }
            w->dirty = true;
            w->empty = false;
            w->number = true;
            w->text_nodes = v.copies;
            w->value = v;
            break;
        }
        case V_IF: l.pass(l.frame_slot.at == 0 ? 2 : 1); break;
        case V_JUMP_FALSE: {
            // A value on the stack is popped, tested and released.
            const Operand& v = st[--sp];
            if (pc->flags & ON_STACK) l.value_freed(v);
            if (v.number == 0.0) pc = code + pc->z - 1;
            break;
        }
        case V_JUMP: pc = code + pc->z - 1; break;
        case V_CALL: {
            CallCache& callee = fr->plan->calls[pc->to];
            if (callee.run != g_run_number) {
                const CellHandle cell = cell_table_at(pc->n);
                if (cell == 0) return give_up(true);
                const TokenList list = cell_get(cell, CF_SCRIPT_TOKENS);
                if (list == 0 || node_get_u8(cell, CF_SCRIPT_CHANGED) != 0) return give_up();
                const Plan* plan = callee_plan(cache_of(list), list);
                if (plan == nullptr) return give_up(true);
                Written* self = written_of(cell);
                if (self == nullptr) return give_up();
                callee = CallCache{g_run_number, cell, plan, self};
            }
            const Plan* plan = callee.plan;
            if (!call_checks_pass()) return give_up();
            // The saved position, the nesting, the argument list pushed.
            l.take(1 + l.frame_slot.pushed() + l.arg_slot.pushed());
            const int depth = fr->base + static_cast<int>(pc->z) + 1;
            if (depth > NESTING_LIMIT || sp + plan->operands > OPERAND_STACK ||
                fr + 1 == g_machine.frames + FRAMES_MAX)
                return give_up();
            g_run.entered = callee.cell;
            ++fr;
            *fr = VFrame{plan, pc, sp - pc->op, pc->op, pc->flags, depth, callee.self};
            code = plan->code.data();
            literals = plan->literals.data();
            pc = code - 1 +
                 (depth + static_cast<int>(plan->reach) <= NESTING_LIMIT ? plan->entry
                                                                         : plan->checked_entry);
            break;
        }
        case V_RETURN: {
            const VFrame f = *fr--;
            Operand result;
            if (!(f.flags & OUTERMOST)) {
                // call_cell's end: the cell's value handed over or copied.
                if (!f.self->number) return give_up();
                result = f.self->value;
                if (f.flags & HANDED) {
                    l.pass(f.self->text_nodes != 0 && result.copies != 0 ? 2 : 1);
                    if (l.value_slot.at == 0) l.pass(1);
                } else {
                    l.value_made(result);
                    l.value_pushed();
                }
            }
            // The argument list popped and released, the position restored.
            int freed = l.arg_slot.popped() + 1 + l.frame_slot.popped();
            for (uint32_t i = 0; i < f.argc; ++i)
                freed += 1 + st[f.args_at + i].copies;
            l.give(freed);
            sp = f.args_at;
            if (!(f.flags & OUTERMOST)) st[sp++] = result;
            pc = f.back;
            code = fr->plan->code.data();
            literals = fr->plan->literals.data();
            break;
        }
        case V_HALT: return true;
        default: __builtin_unreachable(); // every operation is one of the above
        }
    }
}

} // namespace

int call_on_numbers_at(Interpreter& in, ListCache& lc, uint16_t site_no, NodeHandle* handed) {
    if (!detail::store_roomy(LEDGER_MARGIN) || detail::g_run_poll.slow || run_calls_watched())
        return NOT_ON_NUMBERS;
    const uint32_t entry = site_entry(lc, site_no);
    if (entry == NOT_COMPILED) {
        lc.sites[site_no].on_numbers = false;
        return NOT_ON_NUMBERS;
    }
    g_run = NumberRun{};
    if (++g_run_number == 0) ++g_run_number; // 0 marks a cache never filled
    Ledger& l = g_run.ledger;
    l.values = in.values.count;
    l.value_slot = Slot(in.values.count);
    l.frame_slot = Slot(in.frames.count);
    l.arg_slot = Slot(in.args.count);
    const int free_before = nodes_free();
    const Plan& p = *lc.site_plan;
    bool ok = run_plan(p.code.data() + entry, VFrame{&p, nullptr, 0, 0, 0, in.depth, nullptr});
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
