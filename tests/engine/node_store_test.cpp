// Node store: allocation order, reuse, zeroing, the low-memory question,
// link operations, scratch buffers and the reclaim walk.
#include "engine_fixture.h"

#include "core/node_store.h"

namespace tarvex::test {
namespace {

class NodeStore : public EngineTest {};

NodeHandle chain_of(int n) {
    NodeHandle head = node_alloc(ChainNode), tail = head;
    for (int i = 1; i < n; ++i)
        tail = chain_insert_after(tail);
    return head;
}

TEST_F(NodeStore, AllocatesInOrderAndReusesLastReleased) {
    EXPECT_EQ(nodes_in_use(), 0);
    EXPECT_EQ(node_alloc(PlainNode), 1);
    EXPECT_EQ(node_alloc(ChainNode), 2);
    EXPECT_EQ(node_alloc(ListNode), 3);
    node_alloc(TreeNode);
    NodeHandle h5 = node_alloc(PlainNode);
    EXPECT_EQ(nodes_in_use(), 5);
    node_free(h5);
    EXPECT_EQ(node_alloc(ChainNode), h5);
    uint16_t before = nodes_free();
    node_free(0);
    EXPECT_EQ(nodes_free(), before);
    for (NodeHandle h = 1; h <= 5; ++h)
        node_free(h);
}

TEST_F(NodeStore, AllocatedNodeIsZeroAfterTypeByte) {
    NodeHandle h = node_alloc(PlainNode);
    std::memset(node_ref(h) + 1, 0xAB, NODE_SIZE - 1);
    node_free(h);
    NodeHandle again = node_alloc(TreeNode);
    ASSERT_EQ(again, h);
    EXPECT_EQ(node_type(again), TreeNode);
    for (int i = 1; i < NODE_SIZE; ++i)
        EXPECT_EQ(node_ref(again)[i], 0) << "byte " << i;
    EXPECT_EQ(node_payload(again), node_ref(again) + TREE_PAYLOAD);
    node_ref(again)[0] = 0x80 | ChainNode; // bit 7 is ignored
    EXPECT_EQ(node_payload(again), node_ref(again) + CHAIN_PAYLOAD);
    node_ref(again)[0] = 0x30;
    EXPECT_EQ(node_payload(again), nullptr);
    node_free(again);
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

TEST_F(NodeStore, ChainOperations) {
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

TEST_F(NodeStore, ListOperations) {
    NodeHandle a = node_alloc(ListNode), b = node_alloc(ListNode), c = node_alloc(ListNode);
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

TEST_F(NodeStore, ReclaimGivesBackUnclaimedCharges) {
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

} // namespace
} // namespace tarvex::test
