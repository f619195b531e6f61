// The fixed node store, its free list and counters, link operations on the
// three linked layouts, the scratch buffer pool and the reclaim walk.
#include "core/node_store.h"

#include "core/errors.h"
#include "core/notices.h"

#include <algorithm>
#include <bitset>
#include <cassert>
#include <climits>
#include <memory>
#include <new>
#include <vector>

namespace tarvex {

namespace detail {
// Reserved at the largest size so that a node's address stays one step from
// its handle; the system touches only the pages of the size chosen.
alignas(alignof(double)) uint8_t g_pool[NODE_COUNT_MAX * NODE_SIZE];
}

detail::StoreCounter detail::g_counter;

namespace {

using detail::g_pool;
NodeHandle& g_free_head = detail::g_counter.free_head;
uint16_t& g_free_count = detail::g_counter.free;
uint16_t& g_count = detail::g_counter.count;
int g_count_chosen = NODE_COUNT_DEFAULT; // for the next node_init
NodeHandle g_building = 0;
bool g_initialised = false;
// Running low is only noted here: a question asked from inside an
// allocation would come once per allocation and could end the program in
// the middle of any operation. The outermost guard asks (core/guard.h).
// Armed again once the store is back at the threshold.
bool& g_low_noted = detail::g_counter.low_noted;
bool& g_low_armed = detail::g_counter.low_armed;
long& g_fail_after = detail::g_counter.fail_after;
uint32_t& g_charged = detail::g_counter.charged;
uint32_t g_claimed = 0; // by the roots during a reclaim walk
uint64_t& g_allocations = detail::g_counter.allocations;
uint32_t g_generation = 0;
int g_low_water = 0; // see node_track_low_water

std::unique_ptr<uint8_t[]> g_scratch[SCRATCH_SLOTS];

// The free list runs through the `next` position of free nodes, which the
// checked accessors refuse to touch.
NodeHandle free_next(NodeHandle h) {
    NodeHandle n;
    std::memcpy(&n, detail::raw_node(h) + NODE_NEXT, sizeof n);
    return n;
}
void free_set_next(NodeHandle h, NodeHandle n) {
    std::memcpy(detail::raw_node(h) + NODE_NEXT, &n, sizeof n);
}

#ifndef NDEBUG
std::bitset<NODE_COUNT_MAX> g_debug_free;
void debug_mark_free(NodeHandle h, bool free) { g_debug_free[h] = free; }
#else
void debug_mark_free(NodeHandle, bool) {}
#endif

std::bitset<NODE_COUNT_MAX> g_marked;
std::bitset<NODE_COUNT_MAX> g_is_free;
std::vector<RootMarker> g_roots;
ReclaimFaults g_faults;

[[noreturn]] void out_of_nodes() {
    if (!g_initialised) {
        status_error(SE_OUT_OF_MEMORY);
        core_notices().fatal_exit(SE_OUT_OF_MEMORY);
    }
    building_chain_release();
    throw NodeExhausted{};
}

// The counting side of an allocation, shared by nodes and charges: the
// store runs out when the counter says so, whatever the free list holds.
void count_taken() {
    if (g_fail_after == 0 || g_free_count <= FREE_COUNT_WHEN_EMPTY) out_of_nodes();
    if (g_fail_after > 0) --g_fail_after;
    g_low_water = std::min<int>(g_low_water, g_free_count - 1);
    ++g_allocations;
    --g_free_count;
    if (g_free_count < LOW_NODE_THRESHOLD && g_low_armed) {
        g_low_armed = false;
        g_low_noted = true;
    }
}

void count_given_back() {
    assert(g_free_count + g_charged < g_count && "more given back than taken");
    if (++g_free_count >= LOW_NODE_THRESHOLD) g_low_armed = true;
}

} // namespace

// ---- store -----------------------------------------------------------------

int node_count() { return g_count; }

bool node_count_set(int count) {
    if (count < NODE_COUNT_DEFAULT || count > NODE_COUNT_MAX) return false;
    g_count_chosen = count;
    return true;
}

void node_init() {
    g_count = static_cast<uint16_t>(g_count_chosen);
    std::memset(g_pool, 0, static_cast<size_t>(g_count) * NODE_SIZE);
    g_free_count = g_count;
    g_free_head = 1;
    for (int h = 1; h < g_count; ++h) {
        free_set_next(static_cast<NodeHandle>(h),
                      h + 1 < g_count ? static_cast<NodeHandle>(h + 1) : 0);
        debug_mark_free(static_cast<NodeHandle>(h), true);
    }
    g_building = 0;
    g_fail_after = -1;
    g_charged = 0;
    g_low_noted = false;
    g_low_armed = true;
    ++g_generation;
}

uint32_t node_generation() { return g_generation; }

#ifndef NDEBUG
bool detail::node_is_free(NodeHandle h) { return g_debug_free[h]; }
#endif

NodeHandle detail::node_alloc_counted(NodeType type) {
    count_taken();
    NodeHandle h = g_free_head;
    assert(h != 0 && "the free list is shorter than the counter says");
    uint8_t* n = detail::raw_node(h);
    g_free_head = free_next(h);
    debug_mark_free(h, false);
    n[NODE_TYPE] = type;
    std::memset(n + NODE_AUX, 0, NODE_SIZE - NODE_AUX);
    return h;
}

void detail::node_free_checked(NodeHandle h) {
    if (h == 0) return;
    assert(h < g_count && "released handle out of range");
    assert(!detail::node_is_free(h) && "node released twice");
    free_set_next(h, g_free_head);
    detail::raw_node(h)[NODE_TYPE] = 0;
    debug_mark_free(h, true);
    g_free_head = h;
    count_given_back();
}

void detail::node_charge_counted() {
    count_taken();
    ++g_charged;
}

uint32_t node_charged() { return g_charged; }
void node_claim_charges(uint32_t n) { g_claimed += n; }

bool node_low_take() {
    bool noted = g_low_noted;
    g_low_noted = false;
    return noted;
}

uint8_t node_type(NodeHandle h) { return node_ref(h)[NODE_TYPE] & NODE_TYPE_MASK; }

uint8_t* node_payload(NodeHandle h) {
    switch (node_type(h)) {
    case PlainNode: return node_ref(h) + PLAIN_PAYLOAD;
    case ChainNode: return node_ref(h) + CHAIN_PAYLOAD;
    case ListNode: return node_ref(h) + LIST_PAYLOAD;
    case TreeNode: return node_ref(h) + TREE_PAYLOAD;
    default: return nullptr;
    }
}

uint16_t nodes_in_use() { return static_cast<uint16_t>(g_count - g_free_count); }
void node_set_initialised(bool on) { g_initialised = on; }
bool node_initialised() { return g_initialised; }
void node_fail_after(long n) { g_fail_after = n; }

void node_track_low_water() {
    g_fail_after = LONG_MAX; // a count no reading comes near
    g_low_water = g_free_count;
}

int node_low_water() { return g_low_water; }
uint64_t node_allocations() { return g_allocations; }

// ---- building chain ----------------------------------------------------------

NodeHandle building_chain() { return g_building; }
void building_chain_set(NodeHandle h) { g_building = h; }

void building_chain_release() {
    NodeHandle h = g_building;
    g_building = 0;
    chain_free(h);
}

// ---- chains ----------------------------------------------------------------

NodeHandle chain_find_before(NodeHandle head, NodeHandle target) {
    if (target == 0 || head == target) return 0;
    for (NodeHandle h = head; h != 0; h = chain_next(h))
        if (chain_next(h) == target) return h;
    return 0;
}

NodeHandle chain_insert_after(NodeHandle h) {
    NodeHandle n = node_alloc(ChainNode);
    chain_set_next(n, chain_next(h));
    chain_set_next(h, n);
    return n;
}

NodeHandle chain_cut_after(NodeHandle h) {
    NodeHandle rest = chain_next(h);
    chain_set_next(h, 0);
    return rest;
}

NodeHandle chain_splice(NodeHandle head, NodeHandle piece, NodeHandle after) {
    if (head == 0 || piece == 0) return 0;
    if (after == 0) {
        after = head;
        while (chain_next(after) != 0)
            after = chain_next(after);
    }
    NodeHandle piece_last = piece;
    while (chain_next(piece_last) != 0)
        piece_last = chain_next(piece_last);
    chain_set_next(piece_last, chain_next(after));
    chain_set_next(after, piece);
    return head;
}

void chain_release(NodeHandle head, void (*release)(NodeHandle)) {
    while (head != 0) {
        NodeHandle next = chain_next(head);
        release(head);
        head = next;
    }
}

void chain_free(NodeHandle head) { chain_release(head, node_free); }

NodeHandle chain_alloc_for_text(uint32_t n) {
    uint32_t count = n / CHAIN_PAYLOAD_SIZE + 1;
    NodeHandle head = node_alloc(ChainNode);
    if (count > 1) g_building = head;
    NodeHandle tail = head;
    for (uint32_t i = 1; i < count; ++i) {
        NodeHandle c = node_alloc(ChainNode);
        chain_set_next(tail, c);
        tail = c;
    }
    if (count > 1) g_building = 0;
    return head;
}

// ---- lists -----------------------------------------------------------------

void list_insert_after(NodeHandle n, NodeHandle at) {
    NodeHandle after = list_next(at);
    list_set_next(n, after);
    list_set_prev(n, at);
    list_set_next(at, n);
    if (after != 0) list_set_prev(after, n);
}

void list_insert_before(NodeHandle n, NodeHandle at) {
    NodeHandle before = list_prev(at);
    list_set_next(n, at);
    list_set_prev(n, before);
    if (before != 0) list_set_next(before, n);
    list_set_prev(at, n);
}

NodeHandle list_unlink(NodeHandle n) {
    if (n == 0) return 0;
    NodeHandle p = list_prev(n), x = list_next(n);
    if (p != 0) list_set_next(p, x);
    if (x != 0) list_set_prev(x, p);
    return n;
}

void list_free(NodeHandle n) {
    while (n != 0) {
        NodeHandle next = list_next(n);
        list_unlink(n);
        node_free(n);
        n = next;
    }
}

// ---- scratch buffers ---------------------------------------------------------

void scratch_init() {
    for (auto& s : g_scratch)
        s.reset();
    g_scratch[0].reset(new (std::nothrow) uint8_t[SCRATCH_SIZE]());
    if (!g_scratch[0]) core_notices().fatal_exit(-1);
}

int scratch_get() {
    for (int i = 1; i < SCRATCH_SLOTS; ++i) {
        if (g_scratch[i]) continue;
        g_scratch[i].reset(new (std::nothrow) uint8_t[SCRATCH_SIZE]());
        return g_scratch[i] ? i : 0;
    }
    return 0;
}

void scratch_release(int slot) {
    if (slot >= 0 && slot < SCRATCH_SLOTS) g_scratch[slot].reset();
}

uint8_t* scratch_buffer(int slot) {
    if (slot < 0 || slot >= SCRATCH_SLOTS) return nullptr;
    return g_scratch[slot].get();
}

// ---- reclaim walk ------------------------------------------------------------

void reclaim_register_root(RootMarker marker) {
    if (std::find(g_roots.begin(), g_roots.end(), marker) == g_roots.end())
        g_roots.push_back(marker);
}

void reclaim_unregister_root(RootMarker marker) {
    g_roots.erase(std::remove(g_roots.begin(), g_roots.end(), marker), g_roots.end());
}

bool node_mark(NodeHandle h) {
    if (h == 0) return false;
    if (h >= g_count || g_is_free[h]) {
        ++g_faults.reached_free;
        return false;
    }
    if (g_marked[h]) {
        ++g_faults.reached_twice;
        return false;
    }
    g_marked[h] = true;
    return true;
}

void chain_mark(NodeHandle head) {
    while (head != 0 && node_mark(head))
        head = chain_next(head);
}

int node_reclaim_unreachable() {
    g_is_free.reset();
    int steps = 0;
    for (NodeHandle h = g_free_head; h != 0 && steps < g_count; h = free_next(h), ++steps)
        g_is_free[h] = true;
    assert(static_cast<uint32_t>(steps) == g_free_count - FREE_COUNT_WHEN_EMPTY + g_charged &&
           "the free list and the counter disagree");
    g_marked.reset();
    g_faults = {};
    g_claimed = 0;
    for (RootMarker m : g_roots)
        m();
    int freed = 0;
    if (g_claimed > g_charged) {
        ++g_faults.reached_twice;
    } else {
        for (; g_charged > g_claimed; ++freed)
            node_uncharge();
    }
    for (int h = 1; h < g_count; ++h) {
        if (g_is_free[h] || g_marked[h]) continue;
        node_free(static_cast<NodeHandle>(h));
        ++freed;
    }
    return freed;
}

ReclaimFaults reclaim_last_faults() { return g_faults; }

} // namespace tarvex
