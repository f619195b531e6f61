// The engine test fixture.
#include "engine_fixture.h"

#include "core/guard.h"
#include "core/text.h"
#include "core/value.h"
#include "engine/engine_start.h"
#include "io/stream_path.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "tokens/char_class.h"
#include "web/cell.h"
#include "web/navigation.h"

namespace tarvex::test {

namespace {
std::vector<std::function<void()>> g_kept;
void mark_kept() {
    for (auto& m : g_kept)
        m();
}
} // namespace

void keep(std::function<void()> marker) { g_kept.push_back(std::move(marker)); }
void keep_text(NodeHandle t) {
    keep([t] { text_mark(t); });
}
void forget_all() { g_kept.clear(); }

void expect_no_leak() {
    int freed = node_reclaim_unreachable();
    ReclaimFaults f = reclaim_last_faults();
    EXPECT_EQ(freed, 0) << "nodes allocated but owned by nothing";
    EXPECT_EQ(f.reached_twice, 0) << "a node has two owners";
    EXPECT_EQ(f.reached_free, 0) << "an owner names a released node";
}

int run_in_home(const std::string& script, bool to_brk) {
    cell_set_script(cell_root(), script);
    make_current(cell_root());
    return run_again(to_brk);
}

int run_again(bool to_brk) {
    return engine_guard([to_brk] { return run_command(to_brk); });
}

NodeHandle cell_named(const char* name) {
    CellHandle c = cell_find(name);
    return c != 0 ? c : cell_create(name);
}

std::string value_of(const char* name) { return value_display(cell_value(cell_find(name))); }

void EngineTest::SetUp() {
    forget_all();
    engine_register_roots();
    reclaim_register_root(mark_kept);
    frontend_install(&ui);
    scratch_init();
    node_set_initialised(false);
    node_count_set(store_nodes());
    node_init();
    settings_defaults();
    char_class_init();
    cells_init();
    stream_web_file_set(""); // untitled: streams resolve in the process folder
    node_set_initialised(true);
}

void EngineTest::TearDown() {
    node_fail_after(-1);
    expect_no_leak();
    forget_all();
    frontend_install(nullptr);
}

} // namespace tarvex::test
