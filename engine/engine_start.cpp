// Engine start-up.
#include "engine/engine_start.h"

#include "builtins/builtins.h"
#include "core/node_store.h"
#include "plot/plot.h"
#include "script/compiled_expr.h"
#include "script/interpreter.h"
#include "settings/settings.h"
#include "tokens/char_class.h"
#include "tokens/token_list.h"
#include "web/cell.h"

namespace tarvex {

void engine_register_roots() {
    reclaim_register_root(cells_mark);
    reclaim_register_root(builtins_mark);
    reclaim_register_root(tokens_mark_retired);
    reclaim_register_root(interpreter_mark);
    // What is compiled for a token list lives as long as the list.
    tokens_set_freed_hook(compiled_forget);
}

namespace {
int g_start_in_use = 0;
}

void engine_start() {
    engine_register_roots();
    node_set_initialised(false);
    scratch_init();
    node_init();
    cells_init();
    settings_defaults();
    builtins_init();
    char_class_init();
    plot_install();
    g_start_in_use = nodes_in_use();
    node_set_initialised(true);
}

void engine_restart(int nodes) {
    node_count_set(nodes);
    engine_start();
}

int engine_start_in_use() { return g_start_in_use; }

} // namespace tarvex
