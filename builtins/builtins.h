// The builtin name tree (builtin functions and the system constants pi, e,
// deg and eof), the one calling convention every builtin follows, and the
// state the builtins keep: the eof flag and the random generator.
#pragma once

#include "core/errors.h"
#include "core/node_store.h"

#include <cstdint>

namespace tarvex {

// A builtin receives the result Value (new and empty); the result's `next`
// chain is the argument list, one Value per argument in the order written.
// It returns 0, or SE_BUILTIN_ARG when an argument is missing or unusable.
// It may convert its arguments in place and use them as scratch space.
using BuiltinFn = int32_t (*)(NodeHandle result);

// Creates the constants and the builtin name tree (any tree built before in
// the same store is released first). Also puts the random generator back
// into its initial state.
void builtins_init();
// The reclaim walk's root: the tree and the constants' values, when the tree
// was built in the current store (engine start-up registers it).
void builtins_mark();

// The root of the builtin name tree (0 before builtins_init or after the
// node store was reset).
NodeHandle builtin_root();

// The entry point of an NK_BUILTIN entry; nullptr for any other entry.
BuiltinFn builtin_fn(NodeHandle entry);
// The Value of an NK_SYSCONST entry; 0 for any other entry.
NodeHandle sysconst_value(NodeHandle entry);

// Calls fn on an argument list (a ValueList, 0 for none) whose ownership
// passes to the call: a new empty result Value is put in front of the list,
// fn is called, and then
// - on success the arguments are released and *result receives the result
//   Value (the caller owns it), the return value being 0;
// - on failure the result and the arguments are released, *result is 0 and
//   the builtin's status is returned.
int32_t builtin_invoke(BuiltinFn fn, NodeHandle args, NodeHandle* result);
// builtin_invoke with the entry point of an NK_BUILTIN entry; an entry of
// any other kind releases the arguments and gives SE_BUILTIN_CALL.
int32_t builtin_call(NodeHandle entry, NodeHandle args, NodeHandle* result);

// The eof constant: set by the input statements at the end of the input,
// cleared when a run starts and when input is opened.
void eof_set(int flag);
int16_t eof_get();

// The random generator: the portable generator of the C standard's example
// (the same sequence on every platform), yielding 0..32767. rand_reset puts
// it back into its initial state (state 1, seed store 123456), as at the
// start of the program. rand_seed is the last seed stored by rand(x).
void rand_reset();
int32_t rand_seed();

// ---- the builtin functions ---------------------------------------------------
// Scalar builtins.
int32_t builtin_sin(NodeHandle result);
int32_t builtin_cos(NodeHandle result);
int32_t builtin_tan(NodeHandle result);
int32_t builtin_asin(NodeHandle result);
int32_t builtin_acos(NodeHandle result);
int32_t builtin_atan(NodeHandle result);
int32_t builtin_sqrt(NodeHandle result);
int32_t builtin_ln(NodeHandle result);
int32_t builtin_log(NodeHandle result);
int32_t builtin_exp(NodeHandle result);
int32_t builtin_pow(NodeHandle result);
int32_t builtin_sig(NodeHandle result);
int32_t builtin_sign(NodeHandle result);
int32_t builtin_stp(NodeHandle result);
int32_t builtin_abs(NodeHandle result);
int32_t builtin_rand(NodeHandle result);
int32_t builtin_mem(NodeHandle result);

// List and string builtins.
int32_t builtin_min(NodeHandle result);
int32_t builtin_max(NodeHandle result);
int32_t builtin_mean(NodeHandle result);
int32_t builtin_lookup(NodeHandle result);
int32_t builtin_slen(NodeHandle result);
int32_t builtin_first(NodeHandle result);
int32_t builtin_last(NodeHandle result);
int32_t builtin_butfirst(NodeHandle result);
int32_t builtin_butlast(NodeHandle result);
int32_t builtin_previous(NodeHandle result);

// Matrix builtins on matrices held in consecutive cells of the cell table.
int32_t builtin_rref(NodeHandle result);
int32_t builtin_gaussj(NodeHandle result);

} // namespace tarvex
