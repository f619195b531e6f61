// The operators of the script language, written once for the expression
// walker and the compiled code: the token that writes each binary operator
// at its precedence level, its opcode in compiled code and what it does to
// two values; the relations and when each holds.
#pragma once

#include "core/value.h"
#include "lexer/lexer.h"
#include "tokens/token_list.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvex {

// The operations of compiled code.
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
    // Only in programs run on the value stack:
    OP_CAT,     // the strings joined
    OP_CALL,    // a cell call; arg: its call site
    OP_BUILTIN, // a builtin call; arg: its call site
    OP_COUNT,
};

// What an operation does to a program's operands (pushes one, works on the
// top one, or takes the top two and leaves one) and the store nodes its
// value holds while the expression runs: a loaded value's own node and the
// value-stack block it may begin. The text a loaded value carries is
// counted apart: a literal's when it is compiled, any other's when it is
// read. A call meets the store's limits itself.
struct OpCost {
    int8_t operands;
    uint8_t nodes;
};
inline constexpr OpCost op_cost(uint8_t code) {
    switch (code) {
    case OP_CELL:
    case OP_ARG:
    case OP_CONST:
    case OP_LITERAL: return {1, 2};
    case OP_CALL:
    case OP_BUILTIN: return {1, 0};
    case OP_CELL_AT: return {0, 2};
    case OP_NEGATE:
    case OP_NOT: return {0, 0};
    default: return {-1, 0};
    }
}
// Counted once for every expression on top of its operations: the value it
// leaves and its block (a relation's result is made while both operands
// are still held).
constexpr int RESULT_NODES = 2;

using BinaryFn = void (*)(NodeHandle, NodeHandle);

// A binary operator: the token that writes it (a reserved word by its id),
// its opcode, and what it does to the left value with the right one.
struct BinaryOperator {
    uint8_t kind;
    uint8_t word;
    uint8_t code;
    BinaryFn apply;
};

// The two precedence levels, the adding operators binding less tightly.
inline constexpr BinaryOperator k_adding_operators[] = {
    {PLUS, 0, OP_ADD, value_add},
    {MINUS, 0, OP_SUB, value_sub},
    {RESWORD, RW_OR, OP_OR, value_or},
    {RESWORD, RW_CAT, OP_CAT, value_concat},
};
inline constexpr BinaryOperator k_multiplying_operators[] = {
    {STAR, 0, OP_MUL, value_mul},
    {SLASH, 0, OP_DIV, value_div},
    {PERCENT, 0, OP_MOD, value_mod},
    {RESWORD, RW_AND, OP_AND, value_and},
};

// The level's operator written by a token of this kind (and reserved-word
// id), or nullptr.
template <size_t N>
inline const BinaryOperator* operator_written(const BinaryOperator (&level)[N], uint8_t kind,
                                              uint8_t word) {
    for (const BinaryOperator& o : level)
        if (o.kind == kind && (kind != RESWORD || o.word == word)) return &o;
    return nullptr;
}

namespace detail {
inline constexpr std::array<BinaryFn, OP_COUNT> k_operations = [] {
    std::array<BinaryFn, OP_COUNT> a{};
    for (const BinaryOperator& o : k_adding_operators)
        a[o.code] = o.apply;
    for (const BinaryOperator& o : k_multiplying_operators)
        a[o.code] = o.apply;
    return a;
}();
} // namespace detail

// What a binary opcode does to two values (OP_ADD to OP_AND, OP_CAT).
inline BinaryFn operation_of(uint8_t code) { return detail::k_operations[code]; }

inline bool is_relation(uint8_t kind) {
    return kind == EQUAL || kind == LE || kind == NE || kind == LT || kind == GE || kind == GT;
}

// Whether a relation holds for a comparison's result (value_compare's
// -1, 0 or 1).
inline bool relation_holds(uint8_t rel, int c) {
    switch (rel) {
    case EQUAL: return c == 0;
    case NE: return c != 0;
    case LT: return c < 0;
    case LE: return c <= 0;
    case GT: return c > 0;
    default: return c >= 0; // GE
    }
}

} // namespace tarvex
