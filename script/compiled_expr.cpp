// Compiled expressions: the compiler (a parser shaped exactly like the
// walker's, emitting postfix code instead of evaluating), the per-list
// cache, and the program runner with its fall-back checks.
#include "script/compiled_expr.h"

#include "builtins/builtins.h"
#include "core/handle_stack.h"
#include "core/value.h"
#include "script/interpreter.h"
#include "script/lexer.h"
#include "script/run_engine.h"
#include "web/cell.h"

#include <vector>

namespace tarvex {

namespace {

enum OpCode : uint8_t {
    OP_CELL,    // a copy of a cell's value; arg: table index
    OP_CELL_AT, // the same, subscripted by the operand on top; arg: base index
    OP_ARG,     // a copy of the n-th argument; arg: n
    OP_CONST,   // a copy of a system constant; arg: its entry
    OP_LITERAL, // a copy of a number literal, text and all; arg: its Value
    OP_NEGATE,
    OP_NOT,
    OP_ADD,
    OP_SUB,
    OP_MUL,
    OP_DIV,
    OP_MOD,
    OP_OR,
    OP_AND,
    OP_RELATION, // rel: the comparison's token kind
    OP_CALL,     // a cell call (programs with calls only); arg: its call site
};

struct Op {
    uint8_t code;
    uint8_t rel; // OP_RELATION: the comparison; OP_LITERAL: the nodes of its text
    uint16_t arg;
};

// The operand array a program runs on is fixed; an expression that would
// need more is left to the walker.
constexpr int OPERANDS_MAX = 32;
// An expression that has fallen back this often, and more often than it
// ran, is left to the walker for good: its values are seldom plain numbers.
constexpr uint16_t MISSES_MAX = 8;

struct Entry {
    uint8_t depth = 0; // the deepest nesting the walker reaches in it
    uint8_t shape = 0; // a Shape
    bool calls = false; // a program with cell calls, run on the walker's stack
    uint16_t misses = 0;
    uint32_t hits = 0;
    uint32_t code_at = 0;
    uint32_t code_len = 0;
    TokenCursor end;       // where the walker leaves the cursor
    Token start = nullptr; // the first token (a list's tokens never move)
};

constexpr uint32_t LEFT_TO_WALKER = UINT32_MAX;
// Set in the mark of an entry with cell calls (see run_calls).
constexpr uint32_t CALLS_MARK = 0x80000000u;

bool is_load(uint8_t code) {
    return code == OP_CELL || code == OP_ARG || code == OP_CONST || code == OP_LITERAL;
}

// The commonest programs, a value read alone or two reads and an operator,
// run without the operand array.
enum Shape : uint8_t { SHAPE_ANY, SHAPE_LOAD, SHAPE_PAIR };

Shape shape_of(const Op* code, uint32_t len) {
    if (len == 1 && is_load(code[0].code)) return SHAPE_LOAD;
    if (len == 3 && is_load(code[0].code) && is_load(code[1].code) &&
        code[2].code >= OP_ADD)
        return SHAPE_PAIR;
    return SHAPE_ANY;
}

// A cell call in a program: the cell's table index, where the walker's
// cursor stands when it reads the arguments (at the first token after the
// parenthesis) or makes a call without them (at the '!'), and the nesting
// of the primary it is.
struct CallSite {
    TokenCursor at;
    int16_t index = 0;
    uint8_t depth = 0;
    bool bang = false;
};

struct ListCache {
    uint32_t stamp = 0;
    // By token index: 0 before the first run, then LEFT_TO_WALKER or the
    // entry's number + 1 (with CALLS_MARK for a program with calls).
    std::vector<uint32_t> entry_of;
    std::vector<Entry> entries;
    std::vector<Op> code;
    std::vector<CallSite> sites;
    // By token index: where a forward seek to it lands (a chunk of 0 until
    // the first such seek). The landing does not depend on where the seek
    // starts, so a jump cached once is taken straight afterwards.
    std::vector<TokenCursor> jumps;
};

bool g_on = true;
// Set when the expression just refused to the three value readers has a
// program with calls, so that the walker's own expressions are not looked
// up twice. Only a hint: compiled_calls_run checks the mark itself.
bool g_calls_next = false;
uint32_t g_last_stamp = 0;
std::vector<ListCache> g_lists; // by list handle, made on first use
CompiledCounts g_counts;

bool is_relation(uint8_t k) {
    return k == EQUAL || k == LE || k == NE || k == LT || k == GE || k == GT;
}

// Walks the tokens as the walker would, with a cursor of its own, and
// emits the program; any step that would make the walker fail, or that
// the program cannot do, refuses the expression.
class Compiler {
  public:
    // With `sites`, the program may call cells (and then runs on the
    // walker's stack); without, an expression with a call is refused.
    Compiler(TokenCursor at, std::vector<Op>& code, std::vector<CallSite>* sites = nullptr)
        : cur_(at), tok_(tokens_at(at.chunk, at.slot)), code_(&code), sites_(sites) {}

    bool expression() {
        Level level(*this);
        if (!level.ok() || !sum()) return false;
        uint8_t rel = kind();
        if (!is_relation(rel)) return true;
        if (!advance() || !sum()) return false;
        return emit(OP_RELATION, 0, rel);
    }

    TokenCursor end() const { return cur_; }
    int depth_max() const { return depth_max_; }
    bool saw_call() const { return saw_call_; }

  private:
    // One routine of the walker active: its nesting count.
    struct Level {
        Compiler& c;
        explicit Level(Compiler& compiler) : c(compiler) {
            if (++c.depth_ > c.depth_max_) c.depth_max_ = c.depth_;
        }
        ~Level() { --c.depth_; }
        bool ok() const { return c.depth_ <= NESTING_LIMIT; }
    };

    uint8_t kind() const { return tok_ ? token_kind(tok_) : uint8_t{NO_TOKEN}; }
    bool is_word(uint8_t id) const { return kind() == RESWORD && token_aux(tok_) == id; }

    // As advance(): never past the end; reaching an ERROR token fails.
    bool advance() {
        if (tok_ == nullptr || kind() == END_OF_FILE) return true;
        Token next = tokens_step(cur_);
        if (next == nullptr) return true;
        tok_ = next;
        return kind() != ERROR;
    }

    bool emit(uint8_t code, uint16_t arg = 0, uint8_t rel = 0) {
        switch (code) {
        case OP_CELL:
        case OP_ARG:
        case OP_CONST:
        case OP_LITERAL:
            if (++operands_ > OPERANDS_MAX) return false;
            break;
        case OP_CELL_AT:
        case OP_NEGATE:
        case OP_NOT:
            break;
        default:
            --operands_;
        }
        code_->push_back(Op{code, rel, arg});
        return true;
    }

    bool sum() {
        Level level(*this);
        if (!level.ok()) return false;
        uint8_t sign = kind();
        if ((sign == PLUS || sign == MINUS) && !advance()) return false;
        if (!term()) return false;
        if (sign == MINUS && !emit(OP_NEGATE)) return false;
        for (;;) {
            uint8_t op;
            if (kind() == PLUS)
                op = OP_ADD;
            else if (kind() == MINUS)
                op = OP_SUB;
            else if (is_word(RW_OR))
                op = OP_OR;
            else if (is_word(RW_CAT))
                return false; // strings
            else
                return true;
            if (!advance() || !term() || !emit(op)) return false;
        }
    }

    bool term() {
        Level level(*this);
        if (!level.ok() || !primary()) return false;
        for (;;) {
            uint8_t op;
            if (kind() == STAR)
                op = OP_MUL;
            else if (kind() == SLASH)
                op = OP_DIV;
            else if (kind() == PERCENT)
                op = OP_MOD;
            else if (is_word(RW_AND))
                op = OP_AND;
            else
                return true;
            if (!advance() || !primary() || !emit(op)) return false;
        }
    }

    // The literal Value of a NUMBER token, 0 when it is not a number.
    NodeHandle number_literal() const {
        NodeHandle v = token_value(tok_);
        return v != 0 && value_kind(v) == VK_NUMBER ? v : 0;
    }

    bool primary() {
        Level level(*this);
        if (!level.ok()) return false;
        switch (kind()) {
        case RESWORD:
            if (!is_word(RW_NOT)) return false;
            return advance() && primary() && emit(OP_NOT);
        case CELLNAME: {
            uint16_t base = token_value(tok_);
            if (!advance()) return false;
            bool subscripted = kind() == LBRACKET;
            if (subscripted) {
                if (!advance() || !expression() || kind() != RBRACKET || !advance()) return false;
            }
            if (kind() == BANG || kind() == LPAREN) return !subscripted && call(base);
            // Subscripts stay with the walker in programs with calls.
            if (subscripted && sites_ != nullptr) return false;
            return emit(subscripted ? OP_CELL_AT : OP_CELL, base);
        }
        case SYSCONST:
            return emit(OP_CONST, token_value(tok_)) && advance();
        case NUMBER: {
            NodeHandle literal = number_literal();
            if (literal == 0) return false;
            // A literal's text never changes: its size is counted once.
            int text_nodes = 0;
            for (NodeHandle c = value_text(literal); c != 0; c = chain_next(c))
                ++text_nodes;
            if (text_nodes > UINT8_MAX) return false;
            return emit(OP_LITERAL, literal, static_cast<uint8_t>(text_nodes)) && advance();
        }
        case LPAREN:
            if (!advance() || !expression() || kind() != RPAREN) return false;
            return advance();
        case PERCENT: {
            if (!advance() || kind() != NUMBER) return false;
            NodeHandle literal = number_literal();
            int16_t n = 0;
            if (literal == 0 || num_to_int16(n, value_number(literal)) != 0 || n < 1) return false;
            if (!advance()) return false;
            if (sites_ == nullptr) return emit(OP_ARG, static_cast<uint16_t>(n));
            // With calls, a missing argument is reported where the walker
            // reports it: after the number.
            if (sites_->size() >= UINT16_MAX) return false;
            CallSite site;
            site.at = cur_;
            site.index = n;
            sites_->push_back(site);
            return emit(OP_ARG, static_cast<uint16_t>(sites_->size() - 1));
        }
        default:
            return false; // strings, builtin calls, and every error
        }
    }

    // A call: the walker's cell_primary after the name. The arguments are
    // read (by the walker's parse_arguments at run time) only to find where
    // the call ends; each is an expression of its own.
    bool call(uint16_t index) {
        saw_call_ = true;
        if (sites_ == nullptr || sites_->size() >= UINT16_MAX) return false;
        CallSite site;
        site.index = static_cast<int16_t>(index);
        site.depth = static_cast<uint8_t>(depth_);
        if (kind() == BANG) {
            site.at = cur_;
            site.bang = true;
            if (!advance()) return false;
        } else {
            if (!advance()) return false; // the parenthesis
            site.at = cur_;
            if (!arguments()) return false;
        }
        sites_->push_back(site);
        return emit(OP_CALL, static_cast<uint16_t>(sites_->size() - 1));
    }

    bool arguments() {
        if (kind() == RPAREN) return advance();
        std::vector<Op> scratch;
        std::vector<Op>* code = code_;
        code_ = &scratch;
        int operands = operands_;
        bool ok = true;
        for (;;) {
            // A ')' after a trailing comma ends the list and stays current.
            if (kind() == RPAREN) break;
            operands_ = 0;
            if (!expression()) {
                ok = false;
                break;
            }
            if (kind() == COMMA) {
                if (!advance()) {
                    ok = false;
                    break;
                }
            } else {
                ok = kind() == RPAREN && advance();
                break;
            }
        }
        code_ = code;
        operands_ = operands;
        return ok;
    }

    TokenCursor cur_;
    Token tok_;
    std::vector<Op>* code_;
    std::vector<CallSite>* sites_;
    bool saw_call_ = false;
    int depth_ = 0, depth_max_ = 0, operands_ = 0;
};

// An expression over plain numbers compiles to a program on numbers; one
// that was refused for its cell calls alone is compiled again as a program
// on the walker's stack.
bool compile(ListCache& lc, Entry& e, TokenCursor at) {
    size_t start = lc.code.size(), sites = lc.sites.size();
    Compiler c(at, lc.code);
    bool ok = c.expression();
    if (!ok && c.saw_call()) {
        lc.code.resize(start);
        Compiler with_calls(at, lc.code, &lc.sites);
        ok = with_calls.expression() && with_calls.saw_call();
        c = with_calls;
        e.calls = true;
    }
    if (!ok) {
        lc.code.resize(start);
        lc.sites.resize(sites);
        ++g_counts.refused;
        return false;
    }
    e.depth = static_cast<uint8_t>(c.depth_max());
    e.code_at = static_cast<uint32_t>(start);
    e.code_len = static_cast<uint32_t>(lc.code.size() - start);
    e.shape = e.calls ? SHAPE_ANY : shape_of(lc.code.data() + start, e.code_len);
    e.end = c.end();
    ++g_counts.compiled;
    return true;
}

// A value on the walker's stack, as far as a program can hold one: always
// a number; the text is the one its copy would carry (the walker's copy
// holds a copy of it), possibly stale.
struct Operand {
    double number;
    Text text;
    uint8_t flags;
};

// What the walker's push_copy(src) would push, and the nodes it would hold:
// the copy, a copy of its text (stale or not), and at most one block of the
// value stack. False when src is not a plain number.
bool load(Operand& o, NodeHandle src, int& nodes) {
    if (src == 0 || value_kind(src) != VK_NUMBER) return false;
    o.number = value_number(src);
    o.flags = value_flags(src);
    o.text = value_text(src);
    nodes += 2;
    for (NodeHandle c = o.text; c != 0; c = chain_next(c))
        ++nodes;
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

bool relation_holds(uint8_t rel, int c) {
    switch (rel) {
    case EQUAL:
        return c == 0;
    case NE:
        return c != 0;
    case LT:
        return c < 0;
    case LE:
        return c <= 0;
    case GT:
        return c > 0;
    default:
        return c >= 0; // GE
    }
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

// A load op: pushes what the walker's push_copy would. False when the
// value is not a plain number or the argument is missing.
inline bool load_op(const Op& op, Operand& o, int& held) {
    switch (op.code) {
    case OP_CELL: {
        CellHandle cell = cell_table_at(static_cast<int16_t>(op.arg));
        return load(o, cell != 0 ? cell_value(cell) : 0, held);
    }
    case OP_ARG: return load(o, argument(op.arg), held);
    case OP_CONST: return load(o, sysconst_value(op.arg), held);
    default:
        // A literal never changes: its kind was checked and its text
        // measured when it was compiled.
        o.number = value_number(op.arg);
        o.flags = value_flags(op.arg);
        o.text = value_text(op.arg);
        held += 2 + op.rel;
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
// a plain number or an argument is missing. *nodes: the most the walker
// would hold at once.
bool run_program(const Op* op, const Op* end, Operand& result, int* nodes) {
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
            int index = static_cast<int16_t>(op->arg) + i;
            if (index < 0 || index >= cell_table_count()) return false;
            CellHandle cell = cell_table_at(index);
            if (!load(stack[top], cell != 0 ? cell_value(cell) : 0, held)) return false;
            break;
        }
        case OP_NEGATE:
            stack[top].number = -stack[top].number;
            stack[top].flags &= static_cast<uint8_t>(~VF_DUAL);
            break;
        case OP_NOT:
            set_truth(stack[top], stack[top].number == 0.0);
            break;
        default:
            apply_binary(*op, stack[top - 1], stack[top]);
            --top;
        }
    }
    result = stack[0];
    // The relation's result is made while both operands are still held.
    *nodes = held + 2;
    return true;
}

inline bool run_shape(Shape shape, const Op* code, uint32_t len, Operand& result, int* nodes) {
    int held = 0;
    switch (shape) {
    case SHAPE_LOAD:
        if (!load_op(code[0], result, held)) return false;
        break;
    case SHAPE_PAIR: {
        Operand b;
        if (!load_op(code[0], result, held) || !load_op(code[1], b, held)) return false;
        apply_binary(code[2], result, b);
        break;
    }
    default: return run_program(code, code + len, result, nodes);
    }
    *nodes = held + 2;
    return true;
}

ListCache& cache_of(TokenList l) {
    if (g_lists.empty()) g_lists.resize(NODE_COUNT);
    ListCache& lc = g_lists[l];
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

// What a run must not come near, given the most nodes the walker would
// hold on the way: nesting past its limit, an injected failure, the low
// mark and the end of the store are the walker's to meet, where it meets
// them. Nothing inside an expression the compiler takes shows the free
// count (no builtin, no call, no poll), so the walker's temporaries, their
// texts and the value-stack blocks they charge may be skipped as long as it
// could not have come near the low mark on the way. What stays (the
// result, its text copy and its block) is made by the caller exactly as
// the walker leaves it.
inline bool clear_of_limits(const Interpreter& in, const Entry& e) {
    return in.depth + e.depth <= NESTING_LIMIT && !node_fail_armed();
}

// A run done: the cursor moves where the walker would leave it.
inline void finish(Interpreter& in, Entry& e) {
    if (e.hits != UINT32_MAX) ++e.hits;
    ++g_counts.runs;
    in.cur = e.end;
    in.tok = tokens_at(e.end.chunk, e.end.slot);
}

// Runs a compiled entry at the cursor. On success the cursor stands where
// the walker would leave it and *result is the value it would leave on the
// stack.
bool run_entry(Interpreter& in, ListCache& lc, Entry& e, Operand& result) {
    int nodes = 0;
    const Op* code = lc.code.data() + e.code_at;
    if (!clear_of_limits(in, e)) {
        ++g_counts.fallbacks;
        return false;
    }
    if (!run_shape(static_cast<Shape>(e.shape), code, e.code_len, result, &nodes)) {
        ++g_counts.fallbacks;
        if (++e.misses >= MISSES_MAX && e.misses > e.hits) {
            lc.entry_of[in.cur.index] = LEFT_TO_WALKER;
            ++g_counts.given_up;
        }
        return false;
    }
    if (nodes_free() < LOW_NODE_THRESHOLD + nodes) {
        ++g_counts.fallbacks;
        return false;
    }
    finish(in, e);
    return true;
}

// The first run of an expression at the cursor (or the first since its
// list's cache was dropped): compiles it. The entry when it compiled to the
// kind of program asked for (with calls or without), else nullptr.
template <bool Calls>
[[gnu::noinline]] Entry* compile_at(Interpreter& in, uint16_t index, ListCache*& list_cache) {
    ListCache& lc = cache_of(in.list);
    list_cache = &lc;
    if (index >= lc.entry_of.size()) lc.entry_of.resize(index + 1u, 0);
    if (lc.entry_of[index] == 0) {
        TokenCursor at = in.cur;
        Entry e;
        if (!compile(lc, e, at)) {
            lc.entry_of[index] = LEFT_TO_WALKER;
            return nullptr;
        }
        e.start = in.tok;
        lc.entries.push_back(e);
        lc.entry_of[index] = static_cast<uint32_t>(lc.entries.size()) | (e.calls ? CALLS_MARK : 0);
    }
    uint32_t mark = lc.entry_of[index];
    if (!Calls) g_calls_next = mark >= CALLS_MARK && mark != LEFT_TO_WALKER;
    if (mark == LEFT_TO_WALKER || (mark >= CALLS_MARK) != Calls) return nullptr;
    return &lc.entries[(mark & ~CALLS_MARK) - 1];
}

// The compiled entry of the expression at the cursor, of the kind asked
// for; nullptr when it is the walker's or of the other kind.
template <bool Calls> inline Entry* entry_at(Interpreter& in, ListCache*& list_cache) {
    if (!g_on || in.list == 0 || in.tok == nullptr) return nullptr;
    uint16_t index = in.cur.index;
    Entry* e = nullptr;
    if (in.list < g_lists.size()) {
        ListCache& lc = g_lists[in.list];
        if (index < lc.entry_of.size()) {
            uint32_t mark = lc.entry_of[index];
            // Most expressions that do not compile are met again and
            // again: they are told apart before anything else is read. The
            // list's stamp is not checked for them: a mark left by a
            // released list only sends an expression to the walker.
            if (Calls ? mark == LEFT_TO_WALKER || (mark != 0 && mark < CALLS_MARK)
                      : mark >= CALLS_MARK) {
                if (!Calls) g_calls_next = mark != LEFT_TO_WALKER;
                return nullptr;
            }
            // Code is run only for the list it was compiled for.
            if (mark != 0 && lc.stamp == tokens_stamp(in.list)) {
                list_cache = &lc;
                e = &lc.entries[(Calls ? mark & ~CALLS_MARK : mark) - 1];
            }
        }
    }
    if (e == nullptr) e = compile_at<Calls>(in, index, list_cache);
    // The cursor must stand where the entry was compiled.
    return e != nullptr && in.tok == e->start ? e : nullptr;
}

// At the first token of an expression: runs its program when it can.
inline bool evaluate(Operand& result) {
    Interpreter& in = interp();
    ListCache* lc = nullptr;
    Entry* e = entry_at<false>(in, lc);
    return e != nullptr && run_entry(in, *lc, *e, result);
}

// A value read alone is what the walker's push_copy makes of it, whatever
// its kind: a new value and a copy of the source. Taken when the source's
// text is at most one chunk, so that the nodes the walker would hold on
// the way are known without walking a chain; 0 otherwise (and for a
// missing argument, the walker's error).
NodeHandle copy_of_read(Interpreter& in, ListCache& lc, Entry& e) {
    const Op& op = lc.code[e.code_at];
    NodeHandle src;
    switch (op.code) {
    case OP_CELL: {
        CellHandle cell = cell_table_at(static_cast<int16_t>(op.arg));
        src = cell != 0 ? cell_value(cell) : 0;
        break;
    }
    case OP_ARG:
        src = argument(op.arg);
        if (src == 0) return 0;
        break;
    case OP_CONST: src = sysconst_value(op.arg); break;
    default: src = op.arg; // OP_LITERAL
    }
    if (src != 0) {
        Text t = value_text(src);
        if (t != 0 && chain_next(t) != 0) return 0;
    }
    // The copy, its text and a block of the value stack, with the margin
    // the programs keep.
    constexpr int READ_NODES_MAX = 3 + 2;
    if (!clear_of_limits(in, e) || nodes_free() < LOW_NODE_THRESHOLD + READ_NODES_MAX) return 0;
    NodeHandle v = value_new();
    value_copy(v, src);
    finish(in, e);
    return v;
}

// ---- programs with calls: the walker's steps on the walker's stack ----

void push_copy_of(NodeHandle src) {
    NodeHandle v = value_new();
    push_value(v);
    value_copy(v, src);
}

// The walker's pop_operands: the right operand is on top.
bool pop_two(NodeHandle& left, NodeHandle& right) {
    right = pop_value();
    left = pop_value();
    if (right != 0 && left != 0) return true;
    value_free(right);
    value_free(left);
    return false;
}

void (*binary_fn(uint8_t code))(NodeHandle, NodeHandle) {
    switch (code) {
    case OP_ADD: return value_add;
    case OP_SUB: return value_sub;
    case OP_MUL: return value_mul;
    case OP_DIV: return value_div;
    case OP_MOD: return value_mod;
    case OP_OR: return value_or;
    default: return value_and; // OP_AND
    }
}

// A cell call as the walker's cell_primary makes it once past the name.
int call_at(Interpreter& in, const CallSite& site) {
    CellHandle cell = cell_table_at(site.index);
    in.cur = site.at;
    in.tok = tokens_at(site.at.chunk, site.at.slot);
    return cell_call_here(cell, site.bang);
}

// Runs a program with cell calls: every value is made, pushed, combined and
// released in the walker's order by the walker's own routines (the
// arguments and the calls by parse_arguments and call_cell, at the nesting
// the walker would be at), so every count and every error is the walker's;
// what is left out is the parsing. Leaves the value on the stack. The
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
            CellHandle cell = cell_table_at(static_cast<int16_t>(op.arg));
            push_copy_of(cell != 0 ? cell_value(cell) : 0);
            break;
        }
        case OP_CONST: push_copy_of(sysconst_value(op.arg)); break;
        case OP_LITERAL: push_copy_of(op.arg); break;
        case OP_ARG: {
            const CallSite site = lc.sites[op.arg];
            NodeHandle a = argument(static_cast<uint16_t>(site.index));
            if (a == 0) {
                in.cur = site.at;
                in.tok = tokens_at(site.at.chunk, site.at.slot);
                return SE_ARGNUM_INVALID;
            }
            push_copy_of(a);
            break;
        }
        case OP_CALL: {
            const CallSite site = lc.sites[op.arg];
            in.depth = depth.base + site.depth;
            if (int r = call_at(in, site); r != 0) return r;
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
            binary_fn(op.code)(left, right);
            push_value(left);
            value_free(right);
        }
        }
    }
    in.cur = end;
    in.tok = tokens_at(end.chunk, end.slot);
    ++g_counts.runs;
    return 0;
}

// A program with calls runs when the levels it passes over cannot reach
// the nesting limit (the arguments and the callees count their own).
inline bool calls_can_run(const Interpreter& in, const Entry& e) {
    return in.depth + e.depth <= NESTING_LIMIT;
}

// The result as the walker's value: a new number with a copy of its text.
// `then` runs between the two allocations, as the walker's push does.
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

void interp_set_fast_path(bool on) {
    g_on = on;
}
bool interp_fast_path() {
    return g_on;
}

bool compiled_expression_run() {
    Operand result;
    if (!evaluate(result)) return false;
    make_value(result, [](NodeHandle v) { push_value(v); });
    return true;
}

// The walker would push the value and pop it straight away: the pair's
// charge and its release leave every count as it was, and nothing looks
// at the store in between.
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

// The walker would make the value, take its truth and release it, with
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
    if (l < g_lists.size()) {
        const ListCache& lc = g_lists[l];
        if (index < lc.jumps.size() && lc.jumps[index].chunk != 0 && lc.stamp == tokens_stamp(l)) {
            c = lc.jumps[index];
            return tokens_at(c.chunk, c.slot);
        }
    }
    return seek_and_learn(l, c, index);
}

void compiled_forget(TokenList l) {
    if (l < g_lists.size()) g_lists[l] = ListCache{};
}

CompiledCounts compiled_counts() {
    return g_counts;
}
void compiled_counts_reset() {
    g_counts = CompiledCounts{};
}

} // namespace tarvex
