// The engine guard: exhaustion is reported, and only the outermost guard
// reclaims what the abandoned operation left behind.
#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/guard.h"
#include "core/name_tree.h"
#include "core/text.h"
#include "core/value.h"
#include "engine/engine_start.h"
#include "lexer/lexer.h"
#include "tokens/token_list.h"
#include "web/cell.h"

#include <string>
#include <vector>

namespace tarvex::test {
namespace {

class GuardTest : public EngineTest {};

TEST_F(GuardTest, ExhaustionMidTextIsReportedAndReclaimed) {
    uint16_t before = nodes_in_use();
    int r = engine_guard([] {
        // Values held only by locals, then a long text that runs out.
        for (int i = 0; i < 5; ++i)
            value_set_cstring(value_new(), "dropped");
        node_fail_after(30);
        std::string big(36 * 100, 'x');
        Text t = text_from_bytes(big);
        text_free(t);
    });
    node_fail_after(-1);
    EXPECT_EQ(r, SE_OUT_OF_MEMORY);
    EXPECT_EQ(ui.flashes, std::vector<std::string>{"OUT OF MEMORY"});
    EXPECT_EQ(nodes_in_use(), before);
    EXPECT_EQ(guard_last_reclaimed(), 10);
    EXPECT_EQ(building_chain(), 0);
}

TEST_F(GuardTest, LowMemoryQuestionOncePerCommandWhenTheOutermostGuardIsLeft) {
    std::vector<NodeHandle> held;
    size_t boxes_inside = 99;
    engine_guard([&] {
        while (nodes_free() > LOW_NODE_THRESHOLD - 50)
            held.push_back(node_alloc(PlainNode));
        engine_guard([&] { held.push_back(node_alloc(PlainNode)); }); // a nested command
        boxes_inside = ui.boxes.size();
    });
    EXPECT_EQ(boxes_inside, 0u);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Short On Memory--Save And Exit?");
    EXPECT_EQ(ui.boxes[0].caption, "Tarvex");
    EXPECT_EQ(ui.boxes[0].kind, "okcancel");
    EXPECT_EQ(ui.exit_requests, 0); // Cancel goes on

    // Still low: the next command is not asked again.
    engine_guard([&] { held.push_back(node_alloc(PlainNode)); });
    EXPECT_EQ(ui.boxes.size(), 1u);

    // Recovered, then low again: asked again, and OK exits from outside
    // every operation, under a guard of its own.
    while (nodes_free() < LOW_NODE_THRESHOLD) {
        node_free(held.back());
        held.pop_back();
    }
    ui.answers.push_back(true);
    int depth_at_exit = -1;
    ui.on_exit_procedure = [&] {
        depth_at_exit = guard_depth();
        held.push_back(node_alloc(PlainNode)); // saving allocates
    };
    engine_guard([&] { held.push_back(node_alloc(PlainNode)); });
    EXPECT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.exit_requests, 1);
    EXPECT_EQ(depth_at_exit, 1);
    for (NodeHandle h : held)
        node_free(h);
}

TEST_F(GuardTest, ExhaustionInTheExitProcedureIsCaughtAndReclaimed) {
    uint16_t before = nodes_in_use();
    ui.answers.push_back(true);
    ui.on_exit_procedure = [] {
        for (;;)
            node_alloc(PlainNode);
    };
    int r = engine_guard([] {
        while (nodes_free() > LOW_NODE_THRESHOLD - 10)
            node_alloc(PlainNode);
    });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(ui.exit_requests, 1);
    EXPECT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.flashes, std::vector<std::string>{"OUT OF MEMORY"});
    EXPECT_EQ(nodes_in_use(), before); // both operations' nodes reclaimed
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

} // namespace
} // namespace tarvex::test
