// The node store: allocation order, reuse, zeroing, the low-memory
// question, link operations, charges, scratch buffers and the reclaim walk;
// the store at the size chosen at start-up, a web larger than the
// handheld's store (whose cell table then holds every cell) and a web file
// measured against the store before it is opened; and the engine guard,
// which reports exhaustion and reclaims at the outermost level only.
#include "builtin_test_support.h"
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "core/guard.h"
#include "core/name_tree.h"
#include "core/node_store.h"
#include "core/text.h"
#include "core/value.h"
#include "engine/engine_start.h"
#include "engine/web_fit.h"
#include "lexer/lexer.h"
#include "script/compiled_expr.h"
#include "script/interpreter.h"
#include "tokens/token_list.h"
#include "web/cell.h"
#include "web/links.h"
#include "web/navigation.h"
#include "webfile/web_export.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

class NodeStore : public EngineTest {};

NodeHandle chain_of(int n) {
    NodeHandle head = node_alloc(ChainNode), tail = head;
    for (int i = 1; i < n; ++i)
        tail = chain_insert_after(tail);
    return head;
}

TEST_F(NodeStore, AllocatesInOrderReusesLastReleasedAndZeroes) {
    EXPECT_EQ(nodes_in_use(), 0);
    EXPECT_EQ(node_alloc(PlainNode), 1);
    EXPECT_EQ(node_alloc(ChainNode), 2);
    EXPECT_EQ(node_alloc(ListNode), 3);
    node_alloc(TreeNode);
    NodeHandle h5 = node_alloc(PlainNode);
    EXPECT_EQ(nodes_in_use(), 5);
    std::memset(node_ref(h5) + 1, 0xAB, NODE_SIZE - 1);
    node_free(h5);
    NodeHandle again = node_alloc(TreeNode);
    ASSERT_EQ(again, h5);
    EXPECT_EQ(node_type(again), TreeNode);
    for (int i = 1; i < NODE_SIZE; ++i)
        EXPECT_EQ(node_ref(again)[i], 0) << "byte " << i;
    EXPECT_EQ(node_payload(again), node_ref(again) + TREE_PAYLOAD);
    node_ref(again)[0] = 0x80 | ChainNode; // bit 7 is ignored
    EXPECT_EQ(node_payload(again), node_ref(again) + CHAIN_PAYLOAD);
    node_ref(again)[0] = 0x30;
    EXPECT_EQ(node_payload(again), nullptr);
    uint16_t before = nodes_free();
    node_free(0);
    EXPECT_EQ(nodes_free(), before);
    for (NodeHandle h = 1; h <= 5; ++h)
        node_free(h);
}

// Below the threshold the store is taken from and given back to as nodes
// or as charges; either way of giving back re-arms the note.
TEST_F(NodeStore, RunningLowIsNotedOnceUntilTheStoreRecovers) {
    for (bool charges : {false, true}) {
        SCOPED_TRACE(charges ? "charges" : "nodes");
        std::vector<NodeHandle> held;
        while (nodes_free() > LOW_NODE_THRESHOLD)
            held.push_back(node_alloc(PlainNode));
        size_t filled = held.size();
        auto take = [&] { charges ? node_charge() : held.push_back(node_alloc(PlainNode)); };
        auto give_back = [&] {
            if (charges) {
                node_uncharge();
            } else {
                node_free(held.back());
                held.pop_back();
            }
        };
        EXPECT_FALSE(node_low_take());
        take(); // 100 -> 99
        take();
        EXPECT_TRUE(ui.boxes.empty()); // never asked from inside an allocation
        EXPECT_TRUE(node_low_take());
        EXPECT_FALSE(node_low_take());
        take(); // still low: not noted again
        EXPECT_FALSE(node_low_take());
        for (int i = 0; i < 3; ++i)
            give_back(); // back at the threshold
        EXPECT_FALSE(node_low_take());
        take();
        EXPECT_TRUE(node_low_take());
        give_back();
        EXPECT_EQ(held.size(), filled);
        for (NodeHandle h : held)
            node_free(h);
    }
}

TEST_F(NodeStore, ChainAndListOperations) {
    NodeHandle zero = chain_alloc_for_text(0);
    EXPECT_EQ(node_payload(zero), node_ref(1) + CHAIN_PAYLOAD);
    chain_free(zero);
    NodeHandle one = chain_alloc_for_text(35);
    EXPECT_EQ(chain_next(one), 0);
    chain_free(one);
    NodeHandle two = chain_alloc_for_text(36);
    EXPECT_NE(chain_next(two), 0);
    EXPECT_EQ(chain_next(chain_next(two)), 0);
    EXPECT_EQ(chain_find_before(two, two), 0);
    EXPECT_EQ(chain_find_before(two, 0), 0);
    EXPECT_EQ(chain_find_before(two, chain_next(two)), two);
    chain_free(two);

    // a1 a2 a3 + b1 b2 after a2 -> a1 a2 b1 b2 a3
    NodeHandle a = chain_of(3), b = chain_of(2);
    NodeHandle a2 = chain_next(a), a3 = chain_next(a2), b2 = chain_next(b);
    EXPECT_EQ(chain_splice(a, b, a2), a);
    std::vector<NodeHandle> got;
    for (NodeHandle h = a; h; h = chain_next(h))
        got.push_back(h);
    EXPECT_EQ(got, (std::vector<NodeHandle>{a, a2, b, b2, a3}));
    // after = 0 appends at the end
    NodeHandle c = chain_of(1);
    chain_splice(a, c, 0);
    EXPECT_EQ(chain_next(a3), c);
    EXPECT_EQ(chain_splice(0, c, 0), 0);
    EXPECT_EQ(chain_cut_after(a3), c);
    EXPECT_EQ(chain_next(a3), 0);
    chain_free(a);
    chain_free(c);

    a = node_alloc(ListNode), b = node_alloc(ListNode), c = node_alloc(ListNode);
    list_insert_after(c, a);  // a c
    list_insert_before(b, c); // a b c
    EXPECT_EQ(list_next(a), b);
    EXPECT_EQ(list_next(b), c);
    EXPECT_EQ(list_prev(c), b);
    EXPECT_EQ(list_prev(b), a);
    EXPECT_EQ(list_unlink(a), a); // first
    EXPECT_EQ(list_prev(b), 0);
    list_unlink(c); // last
    EXPECT_EQ(list_next(b), 0);
    EXPECT_EQ(list_unlink(0), 0);
    node_free(a);
    node_free(c);
    NodeHandle d = node_alloc(ListNode);
    list_insert_after(d, b);
    list_free(b);
    EXPECT_EQ(nodes_in_use(), 0);
}

#ifndef NDEBUG
// Debug builds (the sanitizer build) stop at the first use of a stale handle.
TEST_F(NodeStore, DebugBuildsStopAtStaleHandlesAndStrayFields) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    NodeHandle kept = node_alloc(ChainNode), gone = node_alloc(ChainNode);
    node_free(gone);
    EXPECT_DEATH(node_free(gone), "released twice");
    EXPECT_DEATH(chain_next(gone), "free node");
    EXPECT_DEATH(node_get_u16(kept, NODE_SIZE - 1), "outside the node");
    EXPECT_DEATH(node_ref(static_cast<NodeHandle>(node_count())), "out of range");
    node_free(kept);
}
#endif

TEST_F(NodeStore, ScratchBuffers) {
    EXPECT_NE(scratch_buffer(0), nullptr);
    for (int i = 1; i <= 9; ++i)
        EXPECT_EQ(scratch_get(), i);
    EXPECT_EQ(scratch_get(), 0);
    scratch_release(4);
    EXPECT_EQ(scratch_buffer(4), nullptr);
    EXPECT_EQ(scratch_get(), 4);
    EXPECT_EQ(scratch_buffer(4)[0], 0);
    scratch_release(-1);
    scratch_release(10);
    EXPECT_EQ(scratch_buffer(10), nullptr);
    for (int i = 1; i <= 9; ++i)
        scratch_release(i);
}

TEST_F(NodeStore, ReclaimFreesWhatNoOwnerReachesAndReportsFaults) {
    NodeHandle kept = chain_of(3);
    keep([kept] { chain_mark(kept); });
    chain_of(4); // dropped without release
    EXPECT_EQ(node_reclaim_unreachable(), 4);
    EXPECT_EQ(nodes_in_use(), 3);
    EXPECT_EQ(node_reclaim_unreachable(), 0);
    forget_all();
    chain_free(kept);

    // A node reached twice, and a released node reached, are faults.
    NodeHandle a = chain_of(2);
    NodeHandle b = node_alloc(ChainNode);
    chain_set_next(b, chain_next(a)); // two owners of one node
    keep([a, b] {
        chain_mark(a);
        chain_mark(b);
    });
    node_reclaim_unreachable();
    EXPECT_EQ(reclaim_last_faults().reached_twice, 1);
    forget_all();
    chain_set_next(b, 0);
    chain_free(a);
    node_free(b);

    NodeHandle released = node_alloc(PlainNode);
    node_free(released);
    keep([released] { node_mark(released); });
    EXPECT_EQ(node_reclaim_unreachable(), 0);
    EXPECT_EQ(reclaim_last_faults().reached_free, 1);
    forget_all();

    static uint32_t claimed;
    RootMarker claim = [] { node_claim_charges(claimed); };
    reclaim_register_root(claim);
    for (int i = 0; i < 3; ++i)
        node_charge();
    claimed = 1;
    EXPECT_EQ(node_reclaim_unreachable(), 2);
    EXPECT_EQ(node_charged(), 1u);
    EXPECT_EQ(nodes_in_use(), 1);
    claimed = 2; // more than is held
    EXPECT_EQ(node_reclaim_unreachable(), 0);
    EXPECT_EQ(reclaim_last_faults().reached_twice, 1);
    EXPECT_EQ(node_charged(), 1u);
    node_uncharge();
    reclaim_unregister_root(claim);
}

// Charges stand for nodes kept outside the pool: they are counted, refused
// and reclaimed as nodes are, without taking a slot.
TEST_F(NodeStore, ChargesCountAndRunOutAsNodesDo) {
    node_charge();
    node_charge();
    EXPECT_EQ(nodes_in_use(), 2);
    EXPECT_EQ(node_alloc(PlainNode), 1); // no slot was taken
    node_uncharge();
    EXPECT_EQ(nodes_in_use(), 2);
    // Charges and nodes together run the store out, with the counter at 1
    // (slot 0 is never handed out), while the free list still holds the
    // charged slot.
    std::vector<NodeHandle> held{1};
    while (nodes_free() > 2)
        held.push_back(node_alloc(PlainNode));
    EXPECT_TRUE(node_low_take());
    node_charge();
    EXPECT_THROW(node_charge(), NodeExhausted);
    EXPECT_THROW(node_alloc(PlainNode), NodeExhausted);
    node_uncharge();
    held.push_back(node_alloc(PlainNode)); // the slot is there again for a node
    EXPECT_THROW(node_charge(), NodeExhausted);
    for (NodeHandle h : held)
        node_free(h);
    node_uncharge();
    EXPECT_EQ(nodes_in_use(), 0);
    EXPECT_EQ(node_charged(), 0u);
    // Injected failures count charges as allocations.
    uint64_t before = node_allocations();
    node_fail_after(1);
    node_charge();
    EXPECT_THROW(node_charge(), NodeExhausted);
    EXPECT_EQ(node_allocations(), before + 1);
    node_fail_after(-1);
    node_uncharge();

    // An owned charge is given back once.
    const uint16_t free_nodes = nodes_free();
    {
        NodeCharge early, late;
        EXPECT_EQ(nodes_free(), free_nodes - 2);
        early.give_back();
        early.give_back();
        EXPECT_EQ(nodes_free(), free_nodes - 1);
    }
    EXPECT_EQ(nodes_free(), free_nodes);
    EXPECT_EQ(node_charged(), 0u);
}

class SizedStore : public EngineTest, public ::testing::WithParamInterface<int> {
  protected:
    int store_nodes() const override { return GetParam(); }
};

// Slot 0 is never handed out, so a store of N nodes hands out N - 1; the
// low mark is noted once, as the 100th-last free node goes.
TEST_P(SizedStore, RunsOutWhenEverySlotIsTakenAndTheWalkGivesThemBack) {
    const int n = GetParam();
    EXPECT_EQ(node_count(), n);
    int taken = 0, noted_at = 0, notes = 0;
    try {
        for (;;) {
            node_alloc(PlainNode);
            ++taken;
            if (node_low_take()) {
                ++notes;
                noted_at = taken;
            }
        }
    } catch (const NodeExhausted&) {
    }
    EXPECT_EQ(taken, n - 1);
    EXPECT_EQ(nodes_in_use(), n - 1);
    EXPECT_EQ(notes, 1);
    EXPECT_EQ(noted_at, n - LOW_NODE_THRESHOLD + 1);
    EXPECT_EQ(node_reclaim_unreachable(), n - 1);
    EXPECT_EQ(nodes_in_use(), 0);

    for (int wrong : {NODE_COUNT_DEFAULT - 1, NODE_COUNT_MAX + 1, 0, -1})
        EXPECT_FALSE(node_count_set(wrong)) << wrong;
    node_init();
    EXPECT_EQ(node_count(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Sizes, SizedStore, STORE_SIZES, store_size_name);

// c0001 ... cNNNN with values 1 ... N, then home, in name order.
void make_cells(int n) {
    for (int k = 1; k <= n; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "c%04d", k);
        CellHandle c = cell_create_unlimited(name, false);
        cell_set_value(c, value_new_number(k));
    }
    cell_table_rebuild();
}

class LargeWeb : public BuiltinRuns, public ::testing::WithParamInterface<int> {
  protected:
    int store_nodes() const override { return GetParam(); }
    void SetUp() override {
        BuiltinRuns::SetUp();
        NumberFormat whole; // numbers in full, not to two significant digits
        whole.decimals = 8;
        format_set_current(whole);
    }
};

// The handheld's table stops at the 256th cell in name order; the largest
// store's holds all 5,001, so cell 5,000 is read, assigned, called and
// subscripted as cell 1 is, by the compiled code and by the walker.
TEST_P(LargeWeb, ScriptsNameEveryCellTheTableHolds) {
    const bool largest = GetParam() == NODE_COUNT_MAX;
    make_cells(largest ? 5000 : 300);
    EXPECT_EQ(cell_table_count(), largest ? 5001 : CELL_TABLE_SIZE);
    EXPECT_EQ(cell_table_index_of(cell_find("c0256")), 255);
    EXPECT_EQ(cell_table_index_of(cell_find(largest ? "c5000" : "c0300")), largest ? 4999 : -1);
    EXPECT_EQ(cell_table_index_of(cell_find("home")), largest ? 5000 : -1);
    if (largest) cell_set_script(cell_find("c4999"), "%1 * 2");
    for (bool compiled : {true, false}) {
        SCOPED_TRACE(compiled ? "compiled" : "walker");
        interp_set_fast_path(compiled);
        EXPECT_EQ(run("out(c0001[255])"), "256");
        if (!largest) {
            EXPECT_EQ(run("out(c0001[256])"), "error " + std::to_string(SE_SUBSCRIPT_RANGE));
            EXPECT_EQ(run("out(c0300)"), "error " + std::to_string(SE_LEXICAL));
            continue;
        }
        EXPECT_EQ(run("out(c5000, ' ', c0001[4999], ' ', c4999(21))"), "5000 5000 42");
        EXPECT_EQ(run("set c5000 to c0700 + 1 out(c5000) set c5000 to 5000"), "701");
        EXPECT_EQ(run("for (c4800 = 1 to 3) {out(c4800)} set c4800 to 4800"), "123");
    }
    interp_set_fast_path(true);
}

// Links past the 700th name, and the export's anchors, reach every cell of
// the larger table.
TEST_P(LargeWeb, LinksAndExportsReachTheLastCell) {
    const bool largest = GetParam() == NODE_COUNT_MAX;
    make_cells(largest ? 5000 : 900);
    cell_set_text(cell_root(), largest ? "see c0100, c0800 and c5000" : "see c0100, c0800");
    std::vector<int> linked;
    TokenList l = text_links_get(cell_root());
    for (Token t = tokens_first(l); t != nullptr && token_kind(t) == CELLNAME; t = tokens_next(l))
        linked.push_back(token_value(t));
    EXPECT_EQ(linked, largest ? std::vector<int>({99, 799, 4999}) : std::vector<int>({99}));
    if (!largest) return;
    TempDir dir("tarvex-large");
    std::string page = dir.file("web.html");
    ASSERT_EQ(web_export(EXPORT_HTML, page), 0);
    std::string html = file_bytes(page);
    EXPECT_NE(html.find("see <a href=\"#cell-c0100\">c0100</a>, <a href=\"#cell-c0800\">c0800</a> "
                        "and <a href=\"#cell-c5000\">c5000</a>"),
              std::string::npos);
    EXPECT_NE(html.find("<section class=\"cell\" id=\"cell-c5000\">"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeWeb, STORE_SIZES, store_size_name);

// A web file of n cells with texts of text_length characters.
std::string web_of(int n, size_t text_length) {
    std::string web =
        "<cell><cname>home</cname><script>out(c" + std::to_string(n) + ")</script></cell>\n";
    std::string text(text_length, 't');
    for (int k = 1; k <= n; ++k)
        web += "<cell><cname>c" + std::to_string(k) + "</cname><text>" + text + "</text><val>" +
               std::to_string(k) + "</val></cell>\n";
    return web;
}

class WebFitTest : public WebFileTest {
  protected:
    void SetUp() override {
        WebFileTest::SetUp();
        builtins_init();
    }
    void TearDown() override {
        WebFileTest::TearDown();
        node_count_set(NODE_COUNT_DEFAULT);
    }
};

// The measure leaves the web of this process as it was, finds a store that
// holds the web, and the engine restarted at that size opens and runs it.
TEST_F(WebFitTest, AWebPastTheStoreIsMeasuredAndOpensAtTheSizeFound) {
    cell_set_text(cell_root(), "kept");
    web_set_modified(true);
    put_file(path("big.tvx"), web_of(3000, 100));
    EXPECT_FALSE(web_file_surely_fits(path("big.tvx")));
    WebFit fit = web_fit_measure(path("big.tvx"));
    EXPECT_EQ(fit.code, 0);
    EXPECT_FALSE(fit.fits);
    EXPECT_GT(fit.peak, NODE_COUNT_DEFAULT);
    EXPECT_GE(fit.needed, fit.peak + STORE_ROOM_MIN);
    EXPECT_EQ(fit.needed % 1000, 0);
    EXPECT_EQ(web_fit_text("big.tvx", fit), "big.tvx needs a store of " +
                                                std::to_string(fit.needed) +
                                                " nodes; this one has 10000");
    EXPECT_EQ(text_to_string(cell_text(cell_root())), "kept");
    EXPECT_TRUE(web_modified());

    engine_restart(fit.needed);
    frontend_install(&ui);
    EXPECT_EQ(node_count(), fit.needed);
    ASSERT_TRUE(web_open(path("big.tvx").c_str()).done());
    EXPECT_LE(nodes_in_use(), fit.peak);
    ui.console.clear();
    EXPECT_EQ(run_again(), 0);
    EXPECT_EQ(ui.console, "3000");
    EXPECT_TRUE(web_fit_measure(path("big.tvx")).fits);
}

// Small files fit by their size alone: a web never takes more than a node
// for every two and a half bytes of its file, even one of the smallest
// cells; a web past the largest store is named as such.
TEST_F(WebFitTest, TheSizeBoundHoldsAndNoStoreHoldsAHugeWeb) {
    put_file(path("empty.tvx"), "<cell><cname>home</cname></cell>");
    WebFit empty = web_fit_measure(path("empty.tvx"));
    ASSERT_EQ(empty.code, 0);
    EXPECT_TRUE(empty.fits);
    std::string tiny;
    for (int k = 0; k < 2000; ++k)
        tiny += "<cell><cname>c" + std::to_string(k) + "</cname><val>" + std::to_string(k) +
                "</val></cell>";
    put_file(path("tiny.tvx"), tiny);
    WebFit fit = web_fit_measure(path("tiny.tvx"));
    ASSERT_EQ(fit.code, 0);
    EXPECT_LE(fit.peak - empty.peak, static_cast<long>(tiny.size()) * 2 / 5);
    EXPECT_GT(fit.peak - empty.peak, static_cast<long>(tiny.size()) / 20);

    put_file(path("huge.tvx"), web_of(600, 4000));
    WebFit huge = web_fit_measure(path("huge.tvx"));
    EXPECT_EQ(huge.code, 0);
    EXPECT_FALSE(huge.fits);
    EXPECT_EQ(huge.needed, 0);
    EXPECT_EQ(web_fit_text("huge.tvx", huge),
              "huge.tvx does not fit even the largest store (65535 nodes)");
    put_file(path("page.tvx"), "<!DOCTYPE html><html></html>");
    EXPECT_EQ(web_fit_measure(path("page.tvx")).code, SE_NOT_A_WEB);
}

class GuardTest : public EngineTest {};

TEST_F(GuardTest, ExhaustionIsReportedAndOnlyTheOutermostGuardReclaims) {
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

    // A nested guard abandons its operation; only the outermost reclaims.
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

} // namespace
} // namespace tarvex::test
