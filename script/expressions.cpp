// The recursive-descent expression evaluator, working directly on the token
// list: every routine leaves one new Value on the value stack.
#include "builtins/builtins.h"
#include "core/handle_stack.h"
#include "core/value.h"
#include "lexer/lexer.h"
#include "script/compiled_expr.h"
#include "script/interpreter.h"
#include "script/operators.h"
#include "script/run_engine.h"

namespace tarvex {

namespace {

int sum();
int sum_body();
int term();
int primary_body();

// Takes the two values on top of the stack (the right operand is on top);
// the caller owns both. SE_INTERNAL, with nothing held, when one is missing.
int pop_operands(NodeHandle& left, NodeHandle& right) {
    right = pop_value();
    left = pop_value();
    if (right != 0 && left != 0) return 0;
    value_free(right);
    value_free(left);
    left = right = 0;
    return SE_INTERNAL;
}

// Applies a binary operator to the two values on top of the stack.
int binary(BinaryFn op) {
    NodeHandle left, right;
    if (int r = pop_operands(left, right); r != 0) return r;
    op(left, right);
    push_value(left);
    value_free(right);
    return 0;
}

// What the level's operator written by the current token does, or nullptr.
template <size_t N> BinaryFn operator_at(const BinaryOperator (&level)[N]) {
    uint8_t kind = cur_kind();
    const BinaryOperator* o =
        operator_written(level, kind, kind == RESWORD ? token_aux(interp().tok) : 0);
    return o != nullptr ? o->apply : nullptr;
}

int sum() {
    Nest nest;
    if (!nest.ok) return SE_STACK_OVERFLOW;
    return sum_body();
}

int sum_body() {
    uint8_t sign = cur_kind();
    int r;
    if (sign == PLUS || sign == MINUS) {
        if ((r = advance()) != 0) return r;
    }
    if ((r = term()) != 0) return r;
    if (sign == MINUS) {
        NodeHandle top = cstack_peek(interp().values);
        if (top == 0) return SE_INTERNAL;
        value_negate(top);
    }
    for (;;) {
        BinaryFn op = operator_at(k_adding_operators);
        if (op == nullptr) return 0;
        if ((r = advance()) != 0) return r;
        if ((r = term()) != 0) return r;
        if ((r = binary(op)) != 0) return r;
    }
}

// Counts itself and its first primary together.
int term() {
    Nest nest(2);
    if (!nest.ok) return SE_STACK_OVERFLOW;
    int r = primary_body();
    if (r != 0) return r;
    nest.end_inner();
    for (;;) {
        BinaryFn op = operator_at(k_multiplying_operators);
        if (op == nullptr) return 0;
        if ((r = advance()) != 0) return r;
        if ((r = eval_primary()) != 0) return r;
        if ((r = binary(op)) != 0) return r;
    }
}

void push_copy(NodeHandle src) {
    NodeHandle v = value_new();
    push_value(v);
    value_copy(v, src);
}

// cell!, cell(args) or a plain read of the cell's value.
int cell_primary() {
    int index = 0;
    int r = parse_cell_index(&index);
    if (r != 0) return r;
    CellHandle cell = cell_table_at(index);
    if (cur_kind() == BANG) return cell_call_here(cell, true);
    if (cur_kind() == LPAREN) {
        if ((r = advance()) != 0) return r;
        return cell_call_here(cell, false);
    }
    push_copy(cell != 0 ? cell_value(cell) : 0);
    return 0;
}

// %n: a copy of the n-th argument of the call being executed.
int argument_reference() {
    int r = advance();
    if (r != 0) return r;
    if (cur_kind() != NUMBER) return SE_EXPECTED_ARGNUM;
    NodeHandle literal = token_value(interp().tok);
    int16_t n = 0;
    bool ok = num_to_int16(n, value_number(value_to_number(literal))) == 0;
    if ((r = advance()) != 0) return r;
    if (!ok || n < 1) return SE_ARGNUM_INVALID;
    NodeHandle v = cstack_peek(interp().args);
    for (int i = 1; v != 0 && i < n; ++i)
        v = chain_next(v);
    if (v == 0) return SE_ARGNUM_INVALID;
    push_copy(v);
    return 0;
}

int builtin_primary() {
    NodeHandle entry = token_value(interp().tok);
    int r = advance();
    if (r != 0) return r;
    if (cur_kind() != LPAREN) return SE_BUILTIN_CALL;
    if ((r = advance()) != 0) return r;
    NodeHandle args = 0;
    if ((r = parse_arguments(&args)) != 0) return r;
    NodeHandle result = 0;
    if ((r = builtin_call(entry, args, &result)) != 0) return r;
    push_value(result);
    return 0;
}

} // namespace

bool value_is_true(NodeHandle v) { return value_number(value_to_number(v)) != 0.0; }

namespace {
// The walker's expression, for callers that have asked the compiled
// programs already.
int walk_expression() {
    Nest nest(2); // itself and its first sum
    if (!nest.ok) return SE_STACK_OVERFLOW;
    int r = sum_body();
    if (r != 0) return r;
    nest.end_inner();
    uint8_t rel = cur_kind();
    if (!is_relation(rel)) return 0;
    if ((r = advance()) != 0) return r;
    if ((r = sum()) != 0) return r;
    NodeHandle left, right;
    if ((r = pop_operands(left, right)) != 0) return r;
    bool holds = relation_holds(rel, value_compare(left, right));
    value_free(left);
    value_free(right);
    push_value(holds ? value_new_one() : value_to_number(value_new()));
    return 0;
}
} // namespace

int eval_expression() {
    if (compiled_expression_run()) return 0;
    int r = 0;
    if (compiled_calls_run(&r)) return r;
    return walk_expression();
}

int eval_primary() {
    Nest nest;
    if (!nest.ok) return SE_STACK_OVERFLOW;
    return primary_body();
}

namespace {
int primary_body() {
    Interpreter& in = interp();
    int r;
    switch (cur_kind()) {
    case RESWORD: {
        if (!cur_is_word(RW_NOT)) return SE_RESERVED_MISUSE;
        if ((r = advance()) != 0) return r;
        if ((r = eval_primary()) != 0) return r;
        NodeHandle v = cstack_peek(in.values);
        if (v == 0) return SE_INTERNAL;
        value_not(v);
        return 0;
    }
    case BUILTIN: return builtin_primary();
    case CELLNAME: return cell_primary();
    case SYSCONST: push_copy(sysconst_value(token_value(in.tok))); return advance();
    case NUMBER:
    case STRING: push_copy(token_value(in.tok)); return advance();
    case LPAREN:
        if ((r = advance()) != 0) return r;
        if ((r = eval_expression()) != 0) return r;
        if (cur_kind() != RPAREN) return SE_MISSING_PAREN;
        return advance();
    case PERCENT: return argument_reference();
    case END_OF_FILE: return SE_UNEXPECTED_END;
    default: return SE_INVALID_EXPRESSION;
    }
}
} // namespace

int cell_call_here(CellHandle cell, bool bang) {
    int r;
    if (bang) {
        position_save();
        if ((r = call_cell(cell, 0)) != 0) return r;
        position_restore();
        return advance();
    }
    NodeHandle args = 0;
    if ((r = parse_arguments(&args)) != 0) return r;
    return cell_call_with(cell, args);
}

int parse_arguments(NodeHandle* list) {
    *list = 0;
    NodeHandle tail = 0;
    InterpreterCursor c;
    int r = argument_list_read(c, [&] {
        NodeHandle v = 0;
        int e = eval_to_value(&v);
        if (e != 0) return e;
        chain_set_next(v, 0);
        chain_append(list, &tail, v);
        return 0;
    });
    if (r != 0) {
        valuelist_free(*list);
        *list = 0;
    }
    return r;
}

int parse_subscript(int base) {
    int r = advance();
    if (r != 0) return r;
    if ((r = eval_expression()) != 0) return r;
    if (cur_kind() != RBRACKET) return SE_SUBSCRIPT_BRACKET;
    if ((r = advance()) != 0) return r;
    NodeHandle v = pop_value();
    if (v == 0) return SE_INTERNAL;
    int16_t i = 0;
    bool ok = num_to_int16(i, value_number(value_to_number(v))) == 0;
    value_free(v);
    if (!ok || i < 0) return SE_SUBSCRIPT_RANGE;
    int index = base + i;
    if (index >= cell_table_count()) return SE_SUBSCRIPT_RANGE;
    return index;
}

int parse_cell_index(int* index) {
    *index = token_value(interp().tok);
    int r = advance();
    if (r != 0 || cur_kind() != LBRACKET) return r;
    int subscripted = parse_subscript(*index);
    if (subscripted < 0) return subscripted;
    *index = subscripted;
    return 0;
}

int popped(NodeHandle* v, int no_value) {
    *v = pop_value();
    return *v != 0 ? 0 : no_value;
}

int popped_truth(bool* truth) {
    NodeHandle v = pop_value();
    if (v == 0) return SE_INTERNAL;
    *truth = value_is_true(v);
    value_free(v);
    return 0;
}

int eval_to_value(NodeHandle* v, int no_value) {
    *v = 0;
    if (compiled_expression_value(v)) return 0;
    int r = 0;
    if (!compiled_calls_run(&r)) return walk_to_value(v, no_value);
    return r != 0 ? r : popped(v, no_value);
}

int eval_to_truth(bool* truth) {
    if (compiled_expression_truth(truth)) return 0;
    int r = 0;
    if (!compiled_calls_run(&r)) return walk_to_truth(truth);
    return r != 0 ? r : popped_truth(truth);
}

int walk_to_value(NodeHandle* v, int no_value) {
    *v = 0;
    int r = walk_expression();
    return r != 0 ? r : popped(v, no_value);
}

int walk_to_truth(bool* truth) {
    int r = walk_expression();
    return r != 0 ? r : popped_truth(truth);
}

} // namespace tarvex
