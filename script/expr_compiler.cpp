// The expression compiler (a parser by the grammar of expressions.cpp,
// emitting postfix code instead of evaluating) and the reading of the
// statements that run compiled: each is read once, where it first runs.
//
// The walker (expressions.cpp, statements.cpp) is the executor of last
// resort, not only the tests' reference: it runs all that is refused here,
// an expression with a subscript beside a call, a string, a builtin or a
// join, every expression that errs while it is read, and every out, for
// and subscripted set statement.

// An expression compiles to one of two kinds of program. One on plain
// numbers (the commonest: arithmetic, comparisons and reads of cells,
// arguments and constants) runs on operands of its own and makes only its
// result. Any other, with cell or builtin calls, strings or joins, runs
// on the interpreter's value stack by the interpreter's own routines
// (run_calls; its mark carries CALLS_MARK), so that it makes every value
// and count a reading would make.
#include "script/compiled_code.h"

#include "builtins/builtins.h"
#include "core/value.h"
#include "lexer/lexer.h"
#include "web/cell.h"

namespace tarvex::compiled {

namespace {

// What the compiler's cursors give argument_list_read for a step or an
// argument that does not compile: any code but 0 ends the reading.
constexpr int REFUSED = 1;

bool is_load(uint8_t code) {
    return code == OP_CELL || code == OP_ARG || code == OP_CONST || code == OP_LITERAL;
}

bool is_binary(uint8_t code) { return code >= OP_ADD && code <= OP_RELATION; }

Shape shape_of(const Op* code, uint32_t len) {
    if (len == 1 && is_load(code[0].code)) return SHAPE_LOAD;
    if (len == 3 && is_load(code[0].code) && is_load(code[1].code) && is_binary(code[2].code))
        return code[2].code == OP_RELATION ? SHAPE_COMPARE : SHAPE_PAIR;
    if (len != 5 || !is_load(code[0].code) || !is_load(code[1].code) || !is_binary(code[4].code))
        return SHAPE_ANY;
    if (is_load(code[2].code) && is_binary(code[3].code)) return SHAPE_RIGHT_PAIR;
    if (is_binary(code[2].code) && is_load(code[3].code)) return SHAPE_LEFT_PAIR;
    return SHAPE_ANY;
}

// Reads an expression by the grammar of expressions.cpp, with a cursor of
// its own, and emits the program; any step that would be an error, or that
// the program cannot do, refuses the expression.
class Compiler {
  public:
    // With `sites`, the program runs on the interpreter's value stack and
    // may call cells and builtins, read strings and join them; without, it
    // runs on numbers and an expression with any of those is refused.
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
    // The operations' nodes and the literals' texts (op_cost).
    uint32_t nodes() const { return nodes_; }
    // Whether the expression has what only a program on the value stack
    // does (see stack_only).
    bool needs_stack() const { return needs_stack_; }

  private:
    // A routine of the grammar entered: the nesting Nest would count.
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
        OpCost cost = op_cost(code);
        if ((operands_ += cost.operands) > OPERANDS_MAX) return false;
        nodes_ += cost.nodes;
        code_->push_back(Op{code, rel, arg});
        return true;
    }

    // At what only a program on the value stack does: whether this one is.
    bool stack_only() {
        needs_stack_ = true;
        return sites_ != nullptr;
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
            if (o->code == OP_CAT && !stack_only()) return false;
            if (!advance() || !term() || !emit(o->code)) return false;
        }
    }

    bool term() {
        Level level(*this);
        if (!level.ok() || !primary()) return false;
        for (;;) {
            const BinaryOperator* o = operator_here(k_multiplying_operators);
            if (o == nullptr) return true;
            if (!advance() || !primary() || !emit(o->code)) return false;
        }
    }

    // The literal Value of a NUMBER token, 0 when it is not a number.
    NodeHandle number_literal() const {
        NodeHandle v = token_value(tok_);
        return v != 0 && value_kind(v) == VK_NUMBER ? v : 0;
    }

    // A literal's text never changes: its size is counted once.
    bool literal(NodeHandle v) {
        for (NodeHandle c = value_text(v); c != 0; c = chain_next(c))
            ++nodes_;
        return emit(OP_LITERAL, v) && advance();
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
            // Subscripts stay with the walker on the value stack.
            if (subscripted && sites_ != nullptr) return false;
            return emit(subscripted ? OP_CELL_AT : OP_CELL, base);
        }
        case SYSCONST: return emit(OP_CONST, token_value(tok_)) && advance();
        case NUMBER: {
            NodeHandle v = number_literal();
            return v != 0 && literal(v);
        }
        case STRING: return stack_only() && literal(token_value(tok_));
        case BUILTIN: return builtin();
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
            // With calls, a missing argument is an error at the token after
            // the number.
            if (sites_->size() >= UINT16_MAX) return false;
            CallSite site;
            site.at = cur_;
            site.index = n;
            sites_->push_back(site);
            return emit(OP_ARG, static_cast<uint16_t>(sites_->size() - 1));
        }
        default: return false; // every error
        }
    }

    // A cell call, once past the cell's name. The arguments are read here
    // only to find where the call ends; each is an expression of its own,
    // compiled apart (compile_arguments).
    bool call(uint16_t index) {
        if (!stack_only()) return false;
        CallSite site;
        site.index = index;
        if (kind() == BANG) {
            site.at = cur_;
            site.bang = true;
            return advance() && call_site(site, OP_CALL);
        }
        return advance() && arguments_of(site, OP_CALL); // past the parenthesis
    }

    // A builtin call, at the builtin's name; a name without its '(' is the
    // walker's error to report.
    bool builtin() {
        if (!stack_only()) return false;
        CallSite site;
        site.index = token_value(tok_);
        site.builtin = true;
        return advance() && kind() == LPAREN && advance() && arguments_of(site, OP_BUILTIN);
    }

    // At the first token after a call's '(': past its arguments.
    bool arguments_of(CallSite site, uint8_t code) {
        site.at = cur_;
        return arguments() && call_site(site, code);
    }

    bool call_site(CallSite site, uint8_t code) {
        if (sites_->size() >= UINT16_MAX) return false;
        site.depth = static_cast<uint8_t>(depth_);
        site.call = true;
        sites_->push_back(site);
        return emit(code, static_cast<uint16_t>(sites_->size() - 1));
    }

    // The compiler's cursor, for argument_list_read.
    struct Cursor {
        Compiler& c;
        uint8_t kind() const { return c.kind(); }
        int advance() const { return c.advance() ? 0 : REFUSED; }
    };

    // Each argument is compiled to find where it ends; the code is dropped.
    bool arguments() {
        std::vector<Op> scratch;
        std::vector<Op>* code = code_;
        code_ = &scratch;
        int operands = operands_;
        uint32_t nodes = nodes_;
        Cursor c{*this};
        int r = argument_list_read(c, [this] {
            operands_ = 0;
            return expression() ? 0 : REFUSED;
        });
        code_ = code;
        operands_ = operands;
        nodes_ = nodes;
        return r == 0;
    }

    TokenCursor cur_;
    Token tok_;
    std::vector<Op>* code_;
    std::vector<CallSite>* sites_;
    bool needs_stack_ = false;
    int depth_ = 0, depth_max_ = 0, operands_ = 0;
    uint32_t nodes_ = 0;
};

// An expression over plain numbers compiles to a program on numbers; one
// that was refused for its calls, strings or joins is compiled again as a
// program on the interpreter's value stack.
bool compile(ListCache& lc, Entry& e, TokenCursor at) {
    size_t start = lc.code.size(), sites = lc.sites.size();
    Compiler c(at, lc.code);
    bool ok = c.expression();
    if (!ok && c.needs_stack()) {
        lc.code.resize(start);
        Compiler on_stack(at, lc.code, &lc.sites);
        ok = on_stack.expression();
        c = on_stack;
        e.calls = true;
    }
    uint32_t nodes = c.nodes() + RESULT_NODES;
    if (!ok || nodes > UINT16_MAX) {
        lc.code.resize(start);
        lc.sites.resize(sites);
        ++g_counts.refused;
        return false;
    }
    e.depth = static_cast<uint8_t>(c.depth_max());
    e.nodes = static_cast<uint16_t>(nodes);
    e.code_at = static_cast<uint32_t>(start);
    e.code_len = static_cast<uint32_t>(lc.code.size() - start);
    e.shape = e.calls ? SHAPE_ANY : shape_of(lc.code.data() + start, e.code_len);
    e.end = c.end();
    ++g_counts.compiled;
    return true;
}

void compile_arguments(ListCache& lc, size_t site_no);

} // namespace

// The mark of the expression at `at`, compiled now when it has not been; 0
// when it has no program.
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

namespace {

// A cursor of the compiler's own, stepped as advance() steps the
// interpreter's.
struct Reader {
    TokenCursor cur;
    Token tok;

    uint8_t kind() const { return token_kind(tok); }
    bool is_word(uint8_t id) const { return kind() == RESWORD && token_aux(tok) == id; }
    // False where advance() would stay put or fail.
    bool step() {
        if (kind() == END_OF_FILE) return false;
        Token next = tokens_step(cur);
        if (next == nullptr) return false;
        tok = next;
        return kind() != ERROR;
    }
    int advance() { return step() ? 0 : REFUSED; }
    void go(TokenCursor c) {
        cur = c;
        tok = tokens_at(c.chunk, c.slot);
    }
    // At an opening token: past its matching closing one.
    bool skip_balanced(uint8_t open, uint8_t close) {
        for (int count = 1; count > 0;) {
            if (!step()) return false;
            if (kind() == open)
                ++count;
            else if (kind() == close)
                --count;
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

// Reads the arguments of a call, compiling each; the call site keeps them
// when every one compiled.
void compile_arguments(ListCache& lc, size_t site_no) {
    const CallSite site = lc.sites[site_no];
    Reader rd{site.at, tokens_at(site.at.chunk, site.at.slot)};
    std::vector<ArgSite> args;
    int r = argument_list_read(rd, [&] {
        ArgSite a{rd.cur, 0};
        if ((a.mark = expression_at(lc, rd)) == 0) return REFUSED;
        args.push_back(a);
        return 0;
    });
    if (r != 0 || args.size() > UINT16_MAX) return;
    CallSite& s = lc.sites[site_no];
    s.args_at = static_cast<uint32_t>(lc.args.size());
    s.arg_count = static_cast<uint16_t>(args.size());
    s.args_end = rd.cur;
    s.args_compiled = true;
    lc.args.insert(lc.args.end(), args.begin(), args.end());
}

// At a '{': its block's first token.
bool first_in_block(Reader rd, TokenCursor& first) {
    if (!rd.step()) return false;
    first = rd.cur;
    return true;
}

// At an if, elseif or while: its "(condition) {", leaving the '{' current.
// The condition's first token and mark; a compiled condition must end at
// the ')' that matches the '('.
bool read_condition(ListCache& lc, Reader& rd, TokenCursor& cond, uint32_t& entry) {
    if (!rd.step() || rd.kind() != LPAREN) return false;
    Reader group = rd;
    if (!rd.step()) return false;
    cond = rd.cur;
    entry = mark_at(lc, rd.cur);
    if (!group.skip_balanced(LPAREN, RPAREN) || group.kind() != LBRACE) return false;
    if (entry != 0 && entry_of_mark(lc, entry).end.index + 1 != group.cur.index) return false;
    rd = group;
    return true;
}

bool compile_set(ListCache& lc, Reader& rd, Stmt& s) {
    if (!rd.step() || rd.kind() != CELLNAME) return false;
    s.target = token_value(rd.tok);
    // A subscripted target is left to stmt_set.
    if (!rd.step() || rd.kind() == LBRACKET) return false;
    if (rd.kind() == RESWORD && (!rd.is_word(RW_TO) || !rd.step())) return false;
    s.kind = ST_SET;
    s.at = rd.cur;
    s.entry = mark_at(lc, rd.cur);
    return true;
}

// if (c) {…} elseif (c) {…} … else {…}, every block straight after the
// ')' that matches its condition's '(' or after its else. A condition with
// no program may end elsewhere (a call's list closed by a trailing
// comma leaves its ')' current): the run checks where it ended.
bool compile_if(ListCache& lc, Reader& rd, Stmt& s) {
    s.kind = ST_IF;
    s.clauses_at = static_cast<uint32_t>(lc.clauses.size());
    do {
        Clause c;
        c.tok = rd.tok;
        if (!read_condition(lc, rd, c.cond, c.entry)) return false;
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

// while (c) {…}: the block straight after the ')' that matches the '('.
// Where the loop ends is the walker's to find (its jump cache on the
// while); a condition with no program may end elsewhere, checked by the run.
bool compile_while(ListCache& lc, Reader& rd, Stmt& s) {
    s.kind = ST_WHILE;
    s.loop = rd.tok;
    if (!read_condition(lc, rd, s.at, s.entry)) return false;
    s.block = rd.cur;
    return first_in_block(rd, s.block_first);
}

} // namespace

[[gnu::noinline]] uint32_t compile_statement_at(ListCache& lc, TokenCursor at) {
    uint16_t index = at.index;
    if (index >= lc.stmt_of.size()) lc.stmt_of.resize(index + 1u, 0);
    if (lc.stmt_of[index] != 0) return lc.stmt_of[index];
    Stmt s;
    Reader rd{at, tokens_at(at.chunk, at.slot)};
    size_t clauses = lc.clauses.size();
    bool ok;
    if (rd.is_word(RW_IF))
        ok = compile_if(lc, rd, s);
    else if (rd.is_word(RW_SET))
        ok = compile_set(lc, rd, s);
    else if (rd.is_word(RW_WHILE))
        ok = compile_while(lc, rd, s);
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

} // namespace tarvex::compiled
