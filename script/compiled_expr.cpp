// Compiled code: the expression compiler (a parser shaped exactly like the
// walker's, emitting postfix code instead of evaluating), the per-list
// cache, the program runners with their fall-back checks, and at the end
// the compiled statements and the loop that runs every statement list.
#include "script/compiled_expr.h"

#include "builtins/builtins.h"
#include "core/handle_stack.h"
#include "core/value.h"
#include "script/interpreter.h"
#include "script/lexer.h"
#include "script/operators.h"
#include "script/run_engine.h"
#include "web/cell.h"

#include <memory>
#include <vector>

namespace tarvex {

bool detail::g_fast_path = true;

namespace {

// The switch, read on every expression and jump.
const bool& g_on = detail::g_fast_path;

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
    bool given_up = false; // left to the walker for good (its mark says so too)
    uint16_t misses = 0;
    uint32_t hits = 0;
    uint32_t code_at = 0;
    uint32_t code_len = 0;
    TokenCursor end; // where the walker leaves the cursor
};

constexpr uint32_t LEFT_TO_WALKER = UINT32_MAX;
// Set in the mark of an entry with cell calls (see run_calls).
constexpr uint32_t CALLS_MARK = 0x80000000u;

bool is_load(uint8_t code) {
    return code == OP_CELL || code == OP_ARG || code == OP_CONST || code == OP_LITERAL;
}

// The commonest programs, a value read alone or two reads and an operator,
// run without the operand array.
enum Shape : uint8_t { SHAPE_ANY, SHAPE_LOAD, SHAPE_PAIR, SHAPE_COMPARE };

Shape shape_of(const Op* code, uint32_t len) {
    if (len == 1 && is_load(code[0].code)) return SHAPE_LOAD;
    if (len == 3 && is_load(code[0].code) && is_load(code[1].code) &&
        code[2].code >= OP_ADD)
        return code[2].code == OP_RELATION ? SHAPE_COMPARE : SHAPE_PAIR;
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
    bool call = false; // a cell call, not an argument reference
    bool bang = false;
    // The arguments, each compiled, when all of them are: where they are
    // in ListCache::args, and where the walker's cursor stands after them.
    bool args_compiled = false;
    uint16_t arg_count = 0;
    uint32_t args_at = 0;
    TokenCursor args_end;
};

// An argument of a call: its first token and its expression's mark.
struct ArgSite {
    TokenCursor at;
    uint32_t mark = 0;
};

// A compiled statement: where the walker's cursor would stand at each of
// its parts, and the marks of its expressions (as entry_of holds them).
enum StmtKind : uint8_t { ST_EXPRESSION, ST_SET, ST_IF };

// A clause of an if: its condition and its block.
struct Clause {
    Token tok = nullptr;       // the if or elseif
    TokenCursor cond;          // the condition's first token
    TokenCursor block;         // the block's '{', straight after the ')'
    TokenCursor block_first;   // the token after the '{'
    uint16_t after_block = 0;  // the index of the token after its '}'
    uint32_t entry = 0;        // the condition's mark, 0 for the walker's
};

struct Stmt {
    uint8_t kind = ST_EXPRESSION;
    bool has_else = false;
    int16_t target = 0;        // ST_SET: the cell's table index
    uint32_t entry = 0;        // ST_EXPRESSION, ST_SET: the expression's mark, 0 for the walker's
    uint32_t clauses_at = 0;   // ST_IF: its clauses in ListCache::clauses
    uint32_t clause_count = 0;
    TokenCursor at;            // ST_SET: the expression's first token
    TokenCursor else_first;    // ST_IF: the token after the else block's '{'
    TokenCursor end;           // ST_IF: the token after the statement
};

struct ListCache {
    uint32_t stamp = 0;
    // By token index: 0 before the first run, then LEFT_TO_WALKER or the
    // entry's number + 1 (with CALLS_MARK for a program with calls).
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
};

// Set when the expression just refused to the three value readers has a
// program with calls, so that the walker's own expressions are not looked
// up twice. Only a hint: compiled_calls_run checks the mark itself.
bool g_calls_next = false;
uint32_t g_last_stamp = 0;
// By list handle, each made on first use: most handles never hold a list
// that runs, and a cache is large.
std::unique_ptr<ListCache> g_lists[NODE_COUNT];
CompiledCounts g_counts;

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
    // The level's operator written by the token, or nullptr.
    template <size_t N> const BinaryOperator* operator_here(const BinaryOperator (&level)[N]) {
        return operator_written(level, kind(), kind() == RESWORD ? token_aux(tok_) : 0);
    }

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
            const BinaryOperator* o = operator_here(k_adding_operators);
            if (o == nullptr) return true;
            if (o->code == OP_NONE || !advance() || !term() || !emit(o->code)) return false;
        }
    }

    bool term() {
        Level level(*this);
        if (!level.ok() || !primary()) return false;
        for (;;) {
            const BinaryOperator* o = operator_here(k_multiplying_operators);
            if (o == nullptr) return true;
            if (o->code == OP_NONE || !advance() || !primary() || !emit(o->code)) return false;
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
        site.call = true;
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
    case SHAPE_PAIR:
    case SHAPE_COMPARE: {
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

// The interpreter's cursor moved to c.
inline void go_to(Interpreter& in, TokenCursor c) {
    in.cur = c;
    in.tok = tokens_at(c.chunk, c.slot);
}

// A run done: the cursor moves where the walker would leave it.
inline void finish(Interpreter& in, Entry& e) {
    if (e.hits != UINT32_MAX) ++e.hits;
    ++g_counts.runs;
    go_to(in, e.end);
}

// Runs a compiled entry at the cursor. On success the cursor stands where
// the walker would leave it and *result is the value it would leave on the
// stack.
[[gnu::always_inline]] inline bool run_entry(Interpreter& in, ListCache& lc, Entry& e,
                                             Operand& result) {
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
            e.given_up = true;
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

void compile_arguments(ListCache& lc, size_t site_no);

// The mark of the expression at `at`, compiled now when it has not been; 0
// when it is the walker's.
uint32_t mark_at(ListCache& lc, TokenCursor at) {
    if (at.index >= lc.entry_of.size()) lc.entry_of.resize(at.index + 1u, 0);
    if (lc.entry_of[at.index] == 0) {
        Entry e;
        size_t sites = lc.sites.size();
        if (!compile(lc, e, at)) {
            lc.entry_of[at.index] = LEFT_TO_WALKER;
            return 0;
        }
        lc.entries.push_back(e);
        lc.entry_of[at.index] =
            static_cast<uint32_t>(lc.entries.size()) | (e.calls ? CALLS_MARK : 0);
        for (size_t end = lc.sites.size(); sites < end; ++sites)
            if (lc.sites[sites].call && !lc.sites[sites].bang) compile_arguments(lc, sites);
    }
    uint32_t mark = lc.entry_of[at.index];
    return mark == LEFT_TO_WALKER ? 0 : mark;
}

Entry& entry_of_mark(ListCache& lc, uint32_t mark) {
    return lc.entries[(mark & ~CALLS_MARK) - 1];
}

// A cursor of the compiler's own, stepped as advance() steps the walker's.
struct Reader {
    TokenCursor cur;
    Token tok;

    uint8_t kind() const { return token_kind(tok); }
    bool is_word(uint8_t id) const { return kind() == RESWORD && token_aux(tok) == id; }
    // False where the walker's advance would stay put or fail.
    bool step() {
        if (kind() == END_OF_FILE) return false;
        Token next = tokens_step(cur);
        if (next == nullptr) return false;
        tok = next;
        return kind() != ERROR;
    }
    void go(TokenCursor c) {
        cur = c;
        tok = tokens_at(c.chunk, c.slot);
    }
    // At an opening token: past its matching closing one, as the walker's
    // skip_balanced.
    bool skip_balanced(uint8_t open, uint8_t close) {
        for (int count = 1; count > 0;) {
            if (!step()) return false;
            if (kind() == open) ++count;
            else if (kind() == close) --count;
        }
        return step();
    }
    bool skip_block() { return skip_balanced(LBRACE, RBRACE); }
};

// The expression at the reader: its mark, and the reader past it.
uint32_t expression_at(ListCache& lc, Reader& rd) {
    uint32_t mark = mark_at(lc, rd.cur);
    if (mark != 0) rd.go(entry_of_mark(lc, mark).end);
    return mark;
}

// Reads the arguments of a call as the walker's parse_arguments would,
// compiling each; the call site keeps them when every one compiled.
void compile_arguments(ListCache& lc, size_t site_no) {
    const CallSite site = lc.sites[site_no];
    Reader rd{site.at, tokens_at(site.at.chunk, site.at.slot)};
    std::vector<ArgSite> args;
    if (rd.kind() == RPAREN) {
        if (!rd.step()) return;
    } else {
        for (;;) {
            // A ')' after a trailing comma ends the list and stays current.
            if (rd.kind() == RPAREN) break;
            ArgSite a{rd.cur, 0};
            if ((a.mark = expression_at(lc, rd)) == 0) return;
            args.push_back(a);
            if (rd.kind() == RPAREN) {
                if (!rd.step()) return;
                break;
            }
            if (rd.kind() != COMMA || !rd.step()) return;
        }
    }
    if (args.size() > UINT16_MAX) return;
    CallSite& s = lc.sites[site_no];
    s.args_at = static_cast<uint32_t>(lc.args.size());
    s.arg_count = static_cast<uint16_t>(args.size());
    s.args_end = rd.cur;
    s.args_compiled = true;
    lc.args.insert(lc.args.end(), args.begin(), args.end());
}

// The first run of an expression at the cursor (or the first since its
// list's cache was dropped): compiles it. The entry when it compiled to the
// kind of program asked for (with calls or without), else nullptr.
template <bool Calls>
[[gnu::noinline]] Entry* compile_at(Interpreter& in, ListCache*& list_cache) {
    ListCache& lc = cache_of(in.list);
    list_cache = &lc;
    uint32_t mark = mark_at(lc, in.cur);
    if (!Calls) g_calls_next = mark >= CALLS_MARK;
    if (mark == 0 || (mark >= CALLS_MARK) != Calls) return nullptr;
    return &entry_of_mark(lc, mark);
}

// The compiled entry of the expression at the cursor, of the kind asked
// for; nullptr when it is the walker's or of the other kind.
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

// A value read alone is what the walker's push_copy makes of it, whatever
// its kind: a new value and a copy of the source. Taken when the source's
// text is at most one chunk, so that the nodes the walker would hold on
// the way are known without walking a chain; 0 otherwise (and for a
// missing argument, the walker's error).
[[gnu::always_inline]] inline NodeHandle copy_of_read(Interpreter& in, ListCache& lc, Entry& e) {
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

int value_of(Interpreter& in, ListCache& lc, uint32_t mark, NodeHandle* v, int no_value);

// A cell call as the walker's cell_primary makes it once past the name;
// compiled arguments are evaluated as parse_arguments would, each from its
// first token, without the reading.
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
    detail::g_fast_path = on;
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

// ---- compiled statements ------------------------------------------------------

namespace {

// At a '{': where the walker's exec_block steps to.
bool first_in_block(Reader rd, TokenCursor& first) {
    if (!rd.step()) return false;
    first = rd.cur;
    return true;
}

bool compile_set(ListCache& lc, Reader& rd, Stmt& s) {
    if (!rd.step() || rd.kind() != CELLNAME) return false;
    s.target = static_cast<int16_t>(token_value(rd.tok));
    // A subscripted target is the walker's.
    if (!rd.step() || rd.kind() == LBRACKET) return false;
    if (rd.kind() == RESWORD && (!rd.is_word(RW_TO) || !rd.step())) return false;
    s.kind = ST_SET;
    s.at = rd.cur;
    s.entry = mark_at(lc, rd.cur);
    return true;
}

// if (c) {…} elseif (c) {…} … else {…}, every block straight after the
// ')' that matches its condition's '(' or after its else. A condition the
// walker evaluates may end elsewhere (a call's list closed by a trailing
// comma leaves its ')' current): the run checks where it ended.
bool compile_if(ListCache& lc, Reader& rd, Stmt& s) {
    s.kind = ST_IF;
    s.clauses_at = static_cast<uint32_t>(lc.clauses.size());
    do {
        Clause c;
        c.tok = rd.tok;
        if (!rd.step() || rd.kind() != LPAREN) return false;
        Reader group = rd;
        if (!rd.step()) return false;
        c.cond = rd.cur;
        c.entry = mark_at(lc, rd.cur);
        if (!group.skip_balanced(LPAREN, RPAREN)) return false;
        rd = group;
        if (rd.kind() != LBRACE) return false;
        // A compiled condition ends at that ')'.
        if (c.entry != 0 && entry_of_mark(lc, c.entry).end.index + 1 != rd.cur.index) return false;
        c.block = rd.cur;
        if (!first_in_block(rd, c.block_first) || !rd.skip_block()) return false;
        c.after_block = rd.cur.index;
        lc.clauses.push_back(c);
        ++s.clause_count;
    } while (rd.is_word(RW_ELSEIF));
    if (rd.is_word(RW_ELSE)) {
        if (!rd.step() || rd.kind() != LBRACE || !first_in_block(rd, s.else_first)) return false;
        s.has_else = true;
        if (!rd.skip_block()) return false;
    }
    s.end = rd.cur;
    return true;
}

// Reads the statement at the cursor: its number + 1, or LEFT_TO_WALKER.
[[gnu::noinline]] uint32_t compile_statement(Interpreter& in, ListCache& lc) {
    uint16_t index = in.cur.index;
    if (index >= lc.stmt_of.size()) lc.stmt_of.resize(index + 1u, 0);
    if (lc.stmt_of[index] != 0) return lc.stmt_of[index];
    Stmt s;
    Reader rd{in.cur, in.tok};
    size_t clauses = lc.clauses.size();
    bool ok;
    if (rd.is_word(RW_IF))
        ok = compile_if(lc, rd, s);
    else if (rd.is_word(RW_SET))
        ok = compile_set(lc, rd, s);
    else if (rd.kind() == RESWORD && !rd.is_word(RW_NOT))
        ok = false;
    else if ((ok = rd.kind() != END_OF_FILE))
        s.entry = mark_at(lc, rd.cur);
    if (!ok) {
        lc.clauses.resize(clauses);
        return lc.stmt_of[index] = LEFT_TO_WALKER;
    }
    lc.stmts.push_back(s);
    return lc.stmt_of[index] = static_cast<uint32_t>(lc.stmts.size());
}

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
    int held = 0;
    if (!clear_of_limits(in, e) || !load_op(code[0], a, held) || !load_op(code[1], b, held) ||
        nodes_free() < LOW_NODE_THRESHOLD + held + 2)
        return false;
    *truth = relation_holds(code[2].rel, compare_numbers(a.number, b.number));
    finish(in, e);
    return true;
}

// What eval_to_truth does at an expression whose mark is known.
int truth_of(Interpreter& in, ListCache& lc, uint32_t mark, bool* truth) {
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

// The walker's exec_block for a block whose '{' is behind: from the
// token after it.
[[gnu::always_inline]] inline int run_block(Interpreter& in, ListCache& lc, CellHandle cell,
                                            TokenCursor first) {
    go_to(in, first);
    if (int r = run_list(in, lc, cell); r != 0) return r;
    if (cur_kind() != RBRACE) return SE_MISSING_RBRACE;
    return advance();
}

// The walker's stmt_if once its first pass is made. Nothing of the cache
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

inline int run_statement(Interpreter& in, ListCache& lc, const Stmt& s, CellHandle cell) {
    NodeHandle v = 0;
    switch (s.kind) {
    case ST_EXPRESSION: {
        if (int r = value_of(in, lc, s.entry, &v, SE_INTERNAL); r != 0) return r;
        cell_set_value(cell, v);
        return 0;
    }
    case ST_SET: {
        const int16_t target_index = s.target;
        go_to(in, s.at);
        if (int r = value_of(in, lc, s.entry, &v, SE_INVALID_EXPRESSION); r != 0) return r;
        return assign_at(target_index, v);
    }
    default: return run_if(in, lc, s, cell);
    }
}

// The compiled statement at the cursor; nullptr when it is the walker's,
// or an if whose first pass is still to be made.
inline const Stmt* statement_at(Interpreter& in, ListCache& lc) {
    uint16_t index = in.cur.index;
    uint32_t mark = index < lc.stmt_of.size() ? lc.stmt_of[index] : 0;
    if (mark == 0) mark = compile_statement(in, lc);
    if (mark == LEFT_TO_WALKER) return nullptr;
    const Stmt& s = lc.stmts[mark - 1];
    if (s.kind == ST_IF && token_value(in.tok) == 0) return nullptr;
    return &s;
}

// The walker's exec_statement_list, each statement making exec_statement's
// checks, then running compiled or through the walker.
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

// Every list runs from here (a cell's script, a block of the walker's), and
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
    if (l < NODE_COUNT && g_lists[l]) *g_lists[l] = ListCache{};
}

CompiledCounts compiled_counts() {
    return g_counts;
}
void compiled_counts_reset() {
    g_counts = CompiledCounts{};
}

} // namespace tarvex
