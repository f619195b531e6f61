// The engine guard: exhaustion is reported, and only the outermost guard
// reclaims what the abandoned operation left behind.
#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/guard.h"
#include "core/name_tree.h"
#include "core/text.h"
#include "core/value.h"
#include "script/engine_start.h"
#include "script/lexer.h"
#include "script/token_list.h"
#include "web/cell.h"

#include <string>

namespace tarvex::test {
namespace {

class GuardTest : public EngineTest {};

TEST_F(GuardTest, ExhaustionMidTextIsReportedAndReclaimed) {
    uint16_t before = nodes_in_use();
    int r = engine_guard([] {
        // Values held only by locals, then a long text that runs out.
        for (int i = 0; i < 5; ++i) value_set_cstring(value_new(), "dropped");
        node_fail_after(30);
        std::string big(36 * 100, 'x');
        Text t = text_from_bytes(big);
        text_free(t);
    });
    node_fail_after(-1);
    EXPECT_EQ(r, SE_OUT_OF_MEMORY);
    ASSERT_FALSE(ui.flashes.empty());
    EXPECT_EQ(ui.flashes.back(), "OUT OF MEMORY");
    EXPECT_EQ(nodes_in_use(), before);
    EXPECT_EQ(guard_last_reclaimed(), 10);
    EXPECT_EQ(building_chain(), 0);
}

TEST_F(GuardTest, StartUpRegistersEveryPersistentOwner) {
    // Only what start-up registers may count: without a root, the walk
    // would free the cell tree or the builtin tree as unreachable.
    reclaim_unregister_root(cells_mark);
    reclaim_unregister_root(builtins_mark);
    reclaim_unregister_root(tokens_mark_retired);
    engine_start();
    CellHandle c = cell_create("other");
    ASSERT_NE(c, 0);
    cell_set_script(c, "out(pi)");
    relex_cell(c);
    tokens_set_retiring(true);
    relex_cell(c); // the old list is retired, still owned
    uint16_t used = nodes_in_use();
    EXPECT_EQ(node_reclaim_unreachable(), 0);
    EXPECT_EQ(reclaim_last_faults().reached_twice, 0);
    EXPECT_EQ(nodes_in_use(), used);
    EXPECT_NE(tree_find("pi", builtin_root()), 0);
    tokens_set_retiring(false);
    tokens_free_retired();
}

TEST_F(GuardTest, NestedGuardAbandonsButDoesNotReclaim) {
    uint16_t before = nodes_in_use();
    uint16_t inside = 0;
    int outer = engine_guard([&] {
        NodeHandle held = value_new(); // a running operation's local state
        int inner = engine_guard([] {
            node_fail_after(0);
            value_new();
        });
        node_fail_after(-1);
        EXPECT_EQ(inner, SE_OUT_OF_MEMORY);
        EXPECT_EQ(guard_depth(), 1);
        inside = nodes_in_use();
        EXPECT_EQ(node_type(held), ChainNode); // still allocated: no reclaim yet
        return 0;
    });
    EXPECT_EQ(outer, 0);
    EXPECT_EQ(inside, before + 1);
    EXPECT_EQ(nodes_in_use(), before); // the outermost guard reclaimed it
    EXPECT_EQ(guard_depth(), 0);
}

TEST_F(GuardTest, ResultPassesThroughWithoutReclaim) {
    NodeHandle kept = 0;
    EXPECT_EQ(engine_guard([&] {
                  kept = value_new();
                  return -42;
              }),
              -42);
    EXPECT_EQ(node_type(kept), ChainNode);
    value_free(kept);
}

} // namespace
} // namespace tarvex::test
