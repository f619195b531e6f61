// Compiled statements: the loop that runs every statement list, the if and
// the while, assignments written in place, and the programs on the value
// stack they run. The runners they share with the expression entry points are in
// script/compiled_run.h.
#include "script/compiled_run.h"

#include "builtins/builtin_args.h"
#include "lexer/lexer.h"
#include "script/number_calls.h"

namespace tarvex {

using namespace compiled;

namespace {

// ---- programs on the value stack: step by step, as the walker's reading ----

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

// What value_of does for an argument, from its first token: a program
// without calls is run inline (a call's arguments are mostly a read, or a
// read and an operator) and leaves the cursor where it stood, since the
// call moves it past the list next; anything else runs from the argument.
[[gnu::always_inline]] inline int argument_value(Interpreter& in, ListCache& lc, const ArgSite& a,
                                                 NodeHandle* v) {
    if (a.mark != 0 && a.mark < CALLS_MARK) {
        Entry& e = entry_of_mark(lc, a.mark);
        if (!e.given_up) {
            if (e.shape == SHAPE_LOAD && (*v = copy_of_read<false>(in, lc, e)) != 0) return 0;
            Operand result;
            if (run_entry<false>(in, lc, e, result, a.at.index)) {
                *v = make_value(result, [](NodeHandle) {});
                return 0;
            }
            go_to(in, a.at);
            return walk_to_value(v, SE_INTERNAL);
        }
    }
    go_to(in, a.at);
    return value_of(in, lc, a.mark, v, SE_INTERNAL);
}

// A call once past the cell's or builtin's name, leaving its result on the
// value stack. Compiled arguments are evaluated in order, each from its
// first token, without the list being read again; a list not compiled is
// read by the walker. `handed` as call_cell's (a cell call's only).
int call_at(Interpreter& in, ListCache& lc, const CallSite& site, NodeHandle* handed) {
    CellHandle cell = site.builtin ? 0 : cell_table_at(site.index);
    NodeHandle first = 0;
    if (!site.args_compiled) {
        go_to(in, site.at);
        if (site.bang) return cell_call_here(cell, true);
        if (int r = parse_arguments(&first); r != 0) return r;
    } else {
        NodeHandle last = 0;
        for (uint32_t i = 0; i < site.arg_count; ++i) {
            const ArgSite a = lc.args[site.args_at + i];
            NodeHandle v = 0;
            if (int r = argument_value(in, lc, a, &v); r != 0) {
                valuelist_free(first);
                return r;
            }
            chain_set_next(v, 0);
            chain_append(&first, &last, v);
        }
        go_to(in, site.args_end);
    }
    if (!site.builtin) return cell_call_with(cell, first, handed);
    NodeHandle result = 0;
    if (int r = builtin_call(site.index, first, &result); r != 0) return r;
    push_value(result);
    return 0;
}

// The operators whose right operand is only read, as a number.
inline bool arithmetic(uint8_t code) { return code >= OP_ADD && code <= OP_MOD; }

// Whether an expression's mark is of a program without calls.
inline bool plain_program(uint32_t mark) { return mark != 0 && mark < CALLS_MARK; }

// The nodes a copy of a value takes when its text is one chunk with room
// to spare, or none: its own and its chunk's (a chunk without characters
// is not copied; a full one is copied as a chunk and an empty one).
inline int copy_nodes(NodeHandle src) {
    const Text t = value_text(src);
    return t != 0 && node_aux(t) != 0 ? 2 : 1;
}

// What a string builtin on reads passes by, at most: the copies of a
// string and a count with a chunk each, the charge the call makes for its
// result, and the chunk a cut in place is charged for.
constexpr int ON_READS_PASSING_MAX = 6;

// A string builtin whose arguments are each a value read alone, computed on
// the values read instead of on copies (builtin_on_reads): the result is
// made new with a new text, and the copies only count as allocations. With
// the copies, the call charges one node for its result and, cutting a copy's
// text in place, one for the chunk, and it gives them back as it releases
// the copies: together as many nodes as the copies take. Taken where taking
// all of them would note nothing and each read's text is one chunk with
// room to spare; false, with nothing done, when the call is made as usual.
bool builtin_of_reads(Interpreter& in, ListCache& lc, const CallSite& site) {
    if (!site.builtin || !site.args_compiled || site.arg_count > 2) return false;
    NodeHandle src[2] = {0, 0};
    for (uint32_t i = 0; i < site.arg_count; ++i) {
        const uint32_t mark = lc.args[site.args_at + i].mark;
        if (!plain_program(mark)) return false;
        Entry& e = entry_of_mark(lc, mark);
        if (e.given_up || e.shape != SHAPE_LOAD || !clear_of_limits(in, e)) return false;
        src[i] = read_source(lc.code[e.code_at]);
        if (src[i] == NO_READ || src[i] == 0) return false;
        const Text t = value_text(src[i]);
        if (t != 0 && (chain_next(t) != 0 || node_aux(t) >= TEXT_CHUNK)) return false;
    }
    const OnReadsFn fn = builtin_on_reads(site.index, site.arg_count);
    if (fn == nullptr || !detail::store_roomy(ON_READS_PASSING_MAX)) return false;
    BuiltinOut out;
    if (!fn(src[0], src[1], out)) return false;
    for (uint32_t i = 0; i < site.arg_count; ++i) {
        finish<false>(in, entry_of_mark(lc, lc.args[site.args_at + i].mark));
        node_charges_passed(copy_nodes(src[i]));
    }
    NodeHandle result = value_new();
    result_set_out(result, out);
    go_to(in, site.args_end);
    push_value(result);
    return true;
}

// A builtin call whose one argument is a program of a string builtin on
// reads alone (slen(first(s, 5))): the argument's call made by
// builtin_of_reads where the program would make it, its value popped as the
// program's result, and the call made with it, as call_at makes them, less
// the program's and the argument list's reading. False, with nothing done,
// when the argument's call is made as usual; else *r is the call's outcome.
bool builtin_of_builtin(Interpreter& in, ListCache& lc, const CallSite& site, int* r) {
    if (!site.builtin || !site.args_compiled || site.arg_count != 1) return false;
    const uint32_t mark = lc.args[site.args_at].mark;
    if (mark < CALLS_MARK) return false;
    const Entry& e = entry_of_mark(lc, mark);
    if (e.code_len != 1 || lc.code[e.code_at].code != OP_BUILTIN || !calls_can_run(in, e))
        return false;
    const int base = in.depth;
    in.depth = base + lc.sites[lc.code[e.code_at].arg].depth;
    const bool made = builtin_of_reads(in, lc, lc.sites[lc.code[e.code_at].arg]);
    in.depth = base;
    if (!made) return false;
    ++g_counts.runs;
    const NodeHandle arg = pop_value();
    chain_set_next(arg, 0);
    go_to(in, site.args_end);
    NodeHandle result = 0;
    if ((*r = builtin_call(site.index, arg, &result)) == 0) push_value(result);
    return true;
}

// What a read combined at once with the value below it holds at most, in
// the steps it stands for: its copy and the copy's chunk with the block the
// copy's push would begin, or the copy with a chunk a join takes.
constexpr int COMBINED_PASSING_MAX = 4;

// A read that the next operator combines at once with the value on top of
// the stack, combined with the value read where it stands, which the
// operator only reads: a string joined behind a string with characters, a
// number added (or any other arithmetic, and, or) to the top, or compared
// with a number on top. The copy the read would push, its chunk and the
// blocks the pushes and pops would take and give back only count as
// allocations; a relation's operand is still popped and released, and its
// result pushed. Taken where taking all of them, and a chunk the join
// takes, would note nothing and the read's text is one chunk with room to
// spare; false, with nothing done, when the read is pushed as usual.
//
// With truth, a relation gives its truth there instead of pushing its
// result: the result, which popped_truth would pop and release, and the
// block its push would take only count as allocations.
[[gnu::noinline]] bool combined_with_read(Interpreter& in, const Op& next, NodeHandle src,
                                          bool* truth = nullptr) {
    const uint32_t count = in.values.count;
    if (src == 0 || count == 0 || !detail::store_roomy(COMBINED_PASSING_MAX)) return false;
    const NodeHandle top = cstack_peek(in.values);
    const Text t = value_text(src);
    if (top == 0 || (t != 0 && (chain_next(t) != 0 || node_aux(t) >= TEXT_CHUNK))) return false;
    const uint8_t kind = value_kind(src);
    if (next.code == OP_CAT) {
        // Behind the top's characters; a string joined to an empty one
        // would be taken over.
        if (kind != VK_STRING || value_kind(top) != VK_STRING || text_is_empty(value_text(top)))
            return false;
    } else if (next.code == OP_RELATION) {
        if (kind != VK_NUMBER || value_kind(top) != VK_NUMBER) return false;
    } else if (kind != VK_NUMBER) {
        return false;
    }
    node_charges_passed(copy_nodes(src));
    if (count % HSTACK_SLOTS == 0) node_charges_passed(1);
    if (next.code == OP_RELATION) {
        const NodeHandle left = pop_value();
        const bool holds = relation_holds(next.rel, value_compare(left, src));
        value_free(left);
        if (truth != nullptr) {
            node_charges_passed((count - 1) % HSTACK_SLOTS == 0 ? 2 : 1);
            *truth = holds;
            return true;
        }
        push_value(holds ? value_new_one() : value_to_number(value_new()));
        return true;
    }
    if ((count - 1) % HSTACK_SLOTS == 0) node_charges_passed(1);
    operation_of(next.code)(top, src);
    return true;
}

} // namespace

// Runs a program on the value stack: every value is made, pushed, combined
// and released in the order of evaluation by the interpreter's own routines
// (the calls by cell_call_with and builtin_call, at the nesting of the
// primary each is), so every count and every error is that of evaluating
// the tokens; what is left out is the parsing. Leaves the value on the stack. The
// callees may compile into this list's cache: nothing of it is held across
// a call but indices.
int compiled::run_calls(Interpreter& in, ListCache& lc, const Entry& e) {
    struct Depth {
        Interpreter& in;
        int base;
        ~Depth() { in.depth = base; }
    } depth{in, in.depth};
    const TokenCursor end = e.end;
    uint32_t pc = e.code_at;
    const uint32_t stop = e.code_at + e.code_len;
    // A read, pushed as a copy or combined with the value below it by an
    // operator next (OP_ADD to OP_AND, OP_RELATION, OP_CAT).
    auto read = [&](NodeHandle src) {
        if (pc + 1 < stop && lc.code[pc + 1].code >= OP_ADD && lc.code[pc + 1].code <= OP_CAT &&
            combined_with_read(in, lc.code[pc + 1], src))
            ++pc;
        else
            push_copy_of(src);
    };
    for (; pc < stop; ++pc) {
        const Op op = lc.code[pc];
        switch (op.code) {
        case OP_CELL: {
            CellHandle cell = cell_table_at(op.arg);
            read(cell != 0 ? cell_value(cell) : 0);
            break;
        }
        case OP_CONST: read(sysconst_value(op.arg)); break;
        case OP_LITERAL: read(op.arg); break;
        case OP_ARG: {
            const CallSite site = lc.sites[op.arg];
            NodeHandle a = argument(static_cast<uint16_t>(site.index));
            if (a == 0) {
                go_to(in, site.at);
                return SE_ARGNUM_INVALID;
            }
            read(a);
            break;
        }
        case OP_CALL:
        case OP_BUILTIN: {
            const CallSite site = lc.sites[op.arg];
            in.depth = depth.base + site.depth;
            if (op.code == OP_BUILTIN) {
                int r = 0;
                if (builtin_of_reads(in, lc, site) || builtin_of_builtin(in, lc, site, &r)) {
                    if (r != 0) return r;
                    in.depth = depth.base;
                    break;
                }
            }
            // A result that the next operator combines at once with the
            // operand below it may be handed over: the operator reads the
            // cell's value where it would read its copy. The operand stays
            // on the stack; the block it would give back and take again
            // when popped and pushed, if it begins one, only passes.
            NodeHandle handed = 0;
            const bool combined = op.code == OP_CALL && pc + 1 < stop &&
                                  arithmetic(lc.code[pc + 1].code) && in.values.count != 0;
            int r = NOT_ON_NUMBERS;
            if (op.code == OP_CALL && site.on_numbers && interp_number_calls())
                r = call_on_numbers_at(in, lc, op.arg, combined ? &handed : nullptr);
            if (r == NOT_ON_NUMBERS) r = call_at(in, lc, site, combined ? &handed : nullptr);
            if (r != 0) return r;
            in.depth = depth.base;
            if (handed != 0) {
                if ((in.values.count - 1) % HSTACK_SLOTS == 0) node_charges_passed(1);
                operation_of(lc.code[++pc].code)(cstack_peek(in.values), handed);
            }
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

// The truth of a program on the value stack, as run_calls and popped_truth
// find it. A program that ends in a read (a cell, a constant, a literal)
// compared at once with the value below it (slen(s) > 30) runs up to the
// read, and the comparison gives the truth without making its result
// (combined_with_read); where it is not combined at once, the read is
// pushed and compared as run_calls does.
int calls_truth(Interpreter& in, ListCache& lc, const Entry& e, bool* truth) {
    const uint32_t last = e.code_at + e.code_len - 1;
    const uint8_t read = e.code_len >= 3 ? lc.code[last - 1].code : uint8_t{OP_ARG};
    if (lc.code[last].code != OP_RELATION ||
        (read != OP_CELL && read != OP_CONST && read != OP_LITERAL)) {
        if (int r = run_calls(in, lc, e); r != 0) return r;
        return popped_truth(truth);
    }
    Entry head = e;
    head.code_len -= 2;
    if (int r = run_calls(in, lc, head); r != 0) return r;
    const Op read_op = lc.code[last - 1], relation = lc.code[last];
    const NodeHandle src = read_source(read_op);
    if (combined_with_read(in, relation, src, truth)) return 0;
    push_copy_of(src);
    NodeHandle left, right;
    if (!pop_two(left, right)) return SE_INTERNAL;
    const bool holds = relation_holds(relation.rel, value_compare(left, right));
    value_free(left);
    value_free(right);
    push_value(holds ? value_new_one() : value_to_number(value_new()));
    return popped_truth(truth);
}

// Two reads compared, for the truth alone: what run_entry would find,
// without the result; false, with nothing counted, when run_entry is to
// decide.
template <bool Moves = true>
[[gnu::always_inline]] inline bool compare_truth(Interpreter& in, ListCache& lc, Entry& e,
                                                 bool* truth) {
    const Op* code = lc.code.data() + e.code_at;
    Operand a, b;
    int texts = 0;
    if (!clear_of_limits(in, e) || !load_op(code[0], a, texts) || !load_op(code[1], b, texts) ||
        nodes_free() < LOW_NODE_THRESHOLD + e.nodes + texts)
        return false;
    *truth = relation_holds(code[2].rel, tolerant_compare(a.number, b.number));
    finish<Moves>(in, e);
    return true;
}

// What eval_to_truth does at an expression whose mark is known.
[[gnu::always_inline]] inline int truth_of(Interpreter& in, ListCache& lc, uint32_t mark,
                                           bool* truth) {
    if (mark == 0) return walk_to_truth(truth);
    Entry& e = entry_of_mark(lc, mark);
    if (mark >= CALLS_MARK) {
        if (calls_can_run(in, e)) return calls_truth(in, lc, e, truth);
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

// The truth of a condition that begins at `cond`, as truth_of finds it, and
// in *after the token after it. A program without calls leaves the cursor
// where it stood: the if or while moves it next (into a block, to the next
// clause, past the statement), and nothing looks at it in between.
[[gnu::always_inline]] inline int condition_truth(Interpreter& in, ListCache& lc, TokenCursor cond,
                                                  uint32_t mark, bool* truth, TokenCursor* after) {
    if (mark != 0 && mark < CALLS_MARK) {
        Entry& e = entry_of_mark(lc, mark);
        if (!e.given_up) {
            *after = e.end;
            if (e.shape == SHAPE_COMPARE && compare_truth<false>(in, lc, e, truth)) return 0;
            Operand result;
            if (run_entry<false>(in, lc, e, result, cond.index)) {
                *truth = result.number != 0.0;
                return 0;
            }
            go_to(in, cond);
            const int r = walk_to_truth(truth);
            *after = in.cur;
            return r;
        }
    }
    go_to(in, cond);
    const int r = truth_of(in, lc, mark, truth);
    *after = in.cur;
    return r;
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
        bool truth = false;
        TokenCursor after;
        if (int r = condition_truth(in, lc, c.cond, c.entry, &truth, &after); r != 0) return r;
        if (after.index + 1 != c.block.index) {
            go_to(in, after);
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
        bool truth = false;
        TokenCursor after;
        if (int r = condition_truth(in, lc, cond, entry, &truth, &after); r != 0) return r;
        if (after.index + 1 != block) {
            go_to(in, after);
            if (int r = expect(RPAREN); r != 0) return r;
            if (!truth) break;
            if (int r = exec_block(cell); r != 0) return r;
            continue;
        }
        if (!truth) break; // the seek below lands wherever it starts
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

// What set x to x cat y passes by, at most: x's copy with its chunk and
// block, and what the read y combined at once holds.
constexpr int JOIN_PASSING_MAX = 3 + COMBINED_PASSING_MAX;

// set x to x cat y, y a read (a cell, a constant, a literal; x itself
// too): y joined behind x's value in place (value_to_reuse). The program
// would push x's copy, join y behind it (as combined_with_read joins it,
// y's copy only counted) and pop the result, which the assignment would
// give x for the value it releases: x's copy with its chunk and the
// blocks the pushes and pops would take and give back only count as
// allocations, and the value is kept. Taken where taking all of them
// would note nothing and the join would be combined at once; false, with
// nothing done, when the assignment is left to value_of.
[[gnu::noinline]] bool joined_in_place(Interpreter& in, ListCache& lc, uint32_t mark, int index) {
    const Entry& e = entry_of_mark(lc, mark);
    const Op* code = lc.code.data() + e.code_at;
    if (e.code_len != 3 || code[0].code != OP_CELL || code[0].arg != index ||
        code[2].code != OP_CAT ||
        (code[1].code != OP_CELL && code[1].code != OP_CONST && code[1].code != OP_LITERAL) ||
        !calls_can_run(in, e) || !detail::store_roomy(JOIN_PASSING_MAX))
        return false;
    const CellHandle target = cell_table_at(index);
    const NodeHandle old = value_to_reuse(target), src = read_source(code[1]);
    if (old == 0 || src == 0 || value_kind(old) != VK_STRING || value_kind(src) != VK_STRING ||
        text_is_empty(value_text(old)))
        return false;
    for (const Text t : {value_text(old), value_text(src)})
        if (t != 0 && (chain_next(t) != 0 || node_aux(t) >= TEXT_CHUNK)) return false;
    const uint32_t count = in.values.count;
    node_charges_passed(copy_nodes(old));
    node_charges_passed(copy_nodes(src));
    if (count % HSTACK_SLOTS == 0) node_charges_passed(2);
    if ((count + 1) % HSTACK_SLOTS == 0) node_charges_passed(1);
    value_concat(old, src);
    go_to(in, e.end);
    ++g_counts.runs;
    // What cell_set_value tells of the new value.
    if (detail::g_value_hook) detail::g_value_hook(old, target);
    return true;
}

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
        if (s.entry >= CALLS_MARK && joined_in_place(in, lc, s.entry, target_index)) return 0;
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

} // namespace tarvex
