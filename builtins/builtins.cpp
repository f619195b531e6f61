// The builtin name tree and system constants, the calling sequence of the
// builtins, and the eof flag.
#include "builtins/builtins.h"

#include "builtins/builtin_args.h"
#include "core/name_tree.h"
#include "core/value.h"

#include <cmath>

namespace tarvex {

namespace {

struct BuiltinDef {
    const char* name;
    BuiltinFn fn;
    // The same builtin called with its first argument made the result
    // (builtin_args.h); nullptr for the others.
    InFirstFn in_first = nullptr;
    // The same builtin on arguments read where they stand, with the number
    // of arguments it takes so.
    OnReadsFn on_reads = nullptr;
    uint8_t reads = 0;
};

// Insertion order shapes the tree (it is never rebalanced), so it is kept.
const BuiltinDef k_builtins[] = {
    {"rref", builtin_rref},
    {"gaussj", builtin_gaussj},
    {"lookup", builtin_lookup},
    {"previous", builtin_previous},
    {"first", builtin_first, first_in_first, first_on_reads, 2},
    {"last", builtin_last, last_in_first, last_on_reads, 2},
    {"butfirst", builtin_butfirst, butfirst_in_first, butfirst_on_reads, 2},
    {"butlast", builtin_butlast, butlast_in_first, butlast_on_reads, 2},
    {"slen", builtin_slen, slen_in_first, slen_on_reads, 1},
    {"min", builtin_min},
    {"max", builtin_max},
    {"mean", builtin_mean},
    {"abs", builtin_abs},
    {"sign", builtin_sign},
    {"stp", builtin_stp},
    {"sig", builtin_sig},
    {"sin", builtin_sin},
    {"cos", builtin_cos},
    {"tan", builtin_tan},
    {"asin", builtin_asin},
    {"acos", builtin_acos},
    {"atan", builtin_atan},
    {"sqrt", builtin_sqrt},
    {"ln", builtin_ln},
    {"exp", builtin_exp},
    {"log", builtin_log},
    {"pow", builtin_pow},
    {"mem", builtin_mem},
    {"rand", builtin_rand},
};
constexpr int k_builtin_count = sizeof k_builtins / sizeof k_builtins[0];

// An NK_BUILTIN entry holds its index into k_builtins, an NK_SYSCONST entry
// the handle of its Value, both in the first kind-specific field.
constexpr int ENTRY_REF = ENTRY_FIELDS;

NodeHandle g_root = 0;
NodeHandle g_eof = 0;
// The store generation the tree was built in; after a store reset the
// handles above name nothing.
uint32_t g_built_in = 0;

bool tree_live() { return g_root != 0 && g_built_in == node_generation(); }

void mark_entry_fields(NodeHandle entry) {
    if (entry_kind(entry) == NK_SYSCONST) value_mark(node_get_u16(entry, ENTRY_REF));
}

void release_tree() {
    NodeHandle root = g_root;
    g_root = 0;
    g_eof = 0;
    tree_walk_post(root, [](NodeHandle e) {
        if (entry_kind(e) == NK_SYSCONST) value_free(node_get_u16(e, ENTRY_REF));
        text_free(entry_name(e));
        node_free(e);
    });
}

NodeHandle insert_entry(const char* name, uint16_t kind, uint16_t ref) {
    NodeHandle e = tree_insert(text_from_cstring(name), &g_root, kind);
    node_set_u16(e, ENTRY_REF, ref);
    return e;
}

void insert_constant(const char* name, double d) {
    NodeHandle v = value_new_number(d);
    insert_entry(name, NK_SYSCONST, v);
}

} // namespace

void builtins_init() {
    if (tree_live()) release_tree();
    g_root = 0;
    g_eof = 0;
    g_built_in = node_generation();
    rand_reset();

    double pi = 2.0 * std::asin(1.0);
    insert_constant("pi", pi);
    insert_constant("e", std::exp(1.0));
    insert_constant("deg", 180.0 / pi);
    g_eof = value_new_number(0.0);
    insert_entry("eof", NK_SYSCONST, g_eof);
    for (int i = 0; i < k_builtin_count; ++i)
        insert_entry(k_builtins[i].name, NK_BUILTIN, static_cast<uint16_t>(i));
}

void builtins_mark() {
    if (tree_live()) tree_mark(g_root, mark_entry_fields);
}

NodeHandle builtin_root() { return tree_live() ? g_root : 0; }

namespace {

const BuiltinDef* builtin_def(NodeHandle entry) {
    if (entry == 0 || entry_kind(entry) != NK_BUILTIN) return nullptr;
    uint16_t i = node_get_u16(entry, ENTRY_REF);
    return i < k_builtin_count ? &k_builtins[i] : nullptr;
}

} // namespace

BuiltinFn builtin_fn(NodeHandle entry) {
    const BuiltinDef* def = builtin_def(entry);
    return def != nullptr ? def->fn : nullptr;
}

NodeHandle sysconst_value(NodeHandle entry) {
    if (entry == 0 || entry_kind(entry) != NK_SYSCONST) return 0;
    return node_get_u16(entry, ENTRY_REF);
}

int32_t builtin_invoke(BuiltinFn fn, NodeHandle args, NodeHandle* result) {
    *result = 0;
    NodeHandle r = value_new();
    chain_set_next(r, args);
    int32_t status = fn(r);
    if (status != 0) {
        valuelist_free(r);
        return status;
    }
    NodeHandle rest = chain_next(r);
    chain_set_next(r, 0);
    valuelist_free(rest);
    *result = r;
    return 0;
}

namespace {
// Kept out of builtin_call, whose string builtins then pass straight on.
[[gnu::noinline]] int32_t call_common(const BuiltinDef* def, NodeHandle args, NodeHandle* result) {
    if (def == nullptr) {
        *result = 0;
        valuelist_free(args);
        return SE_BUILTIN_CALL;
    }
    return builtin_invoke(def->fn, args, result);
}
} // namespace

OnReadsFn builtin_on_reads(NodeHandle entry, uint32_t arg_count) {
    const BuiltinDef* def = builtin_def(entry);
    return def != nullptr && def->reads == arg_count ? def->on_reads : nullptr;
}

int32_t builtin_call(NodeHandle entry, NodeHandle args, NodeHandle* result) {
    const BuiltinDef* def = builtin_def(entry);
    if (def != nullptr && def->in_first != nullptr) {
        *result = 0;
        return def->in_first(args, result);
    }
    return call_common(def, args, result);
}

void eof_set(int flag) {
    if (!tree_live() || g_eof == 0) return;
    value_set_kind(g_eof, VK_NUMBER);
    value_set_number(g_eof, flag ? 1.0 : 0.0);
    value_set_flags(g_eof, 0);
}

int16_t eof_get() {
    if (!tree_live() || g_eof == 0) return 0;
    int16_t i = 0;
    num_to_int16(i, value_number(value_to_number(g_eof)));
    return i;
}

} // namespace tarvex
