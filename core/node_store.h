// The node store: forty-byte nodes addressed by 16-bit handles, as many as
// chosen at start-up (the handheld's 10,000 by default), the four node layouts, chain/list/tree
// link operations, the scratch buffer pool, and the reclaim walk that frees what no persistent
// owner reaches.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarvex {

using NodeHandle = uint16_t;

// The handheld's store: at this size every count, every mem() figure and
// every out-of-memory point is the system's own.
constexpr int NODE_COUNT_DEFAULT = 10000;
// A larger store may be chosen at start-up, up to what the 16-bit free
// counter counts (handles then run to 65,534, so no record changes).
constexpr int NODE_COUNT_MAX = 0xFFFF;
constexpr int NODE_SIZE = 40;
// Below this many free nodes the store runs low and the user is asked to
// save and exit, while there is still room to save.
constexpr int LOW_NODE_THRESHOLD = 100;
// The free counter starts at the node count although slot 0 is never
// handed out, so the pool is empty while the counter still reads 1.
constexpr int FREE_COUNT_WHEN_EMPTY = 1;

enum NodeType : uint8_t {
    PlainNode = 0x00,
    ChainNode = 0x10,
    ListNode = 0x20,
    TreeNode = 0x40,
};

// Thrown when an allocation finds the pool empty after start-up; caught only
// by engine_guard (core/guard.h).
struct NodeExhausted {};

// ---- store -----------------------------------------------------------------
// The store's size: the nodes node_init makes free and mem() counts from.
int node_count();
// Chooses the size the next node_init gives the store; false, and nothing
// changed, outside NODE_COUNT_DEFAULT..NODE_COUNT_MAX.
bool node_count_set(int count);
void node_init();
// Counts the calls of node_init. A persistent owner whose root outlives a
// store reset (the tests reset the store before every test) compares it with
// the count it saw when it built its structure, to know its handles are stale.
uint32_t node_generation();
// Inline (below): a script run allocates and releases nodes at nearly
// every step.
inline NodeHandle node_alloc(NodeType type);
inline void node_free(NodeHandle h);
// Whether the store fell below LOW_NODE_THRESHOLD since the last call (then
// not again until it has been back at the threshold); clears the note.
bool node_low_take();

// ---- charges -------------------------------------------------------------------
// A structure kept outside the pool for speed (the interpreter's stacks)
// still counts as the nodes it stands for: each node it would take is a
// charge against the free counter, made and refused exactly as an
// allocation (the low-store note, injected failures, running out) but
// without a slot, and given back with node_uncharge.
namespace detail {
// The free counter and what moves with it; inline below for the charges,
// which the interpreter makes at nearly every push and pop.
struct StoreCounter {
    uint16_t free = 0;
    uint16_t count = NODE_COUNT_DEFAULT; // the store's size since node_init
    bool low_noted = false;
    bool low_armed = true; // noted again once back at the threshold
    long fail_after = -1;  // an injected failure, counted down by allocations
    // Nodes counted as in use without a slot (node_charge); the free list
    // holds that many slots more than the counter says.
    uint32_t charged = 0;
    uint64_t allocations = 0;
    NodeHandle free_head = 0; // the free list runs through the nodes' next position
};
extern StoreCounter g_counter;
void node_charge_counted();
// Whether n more nodes can be taken with nothing to note on the way: well
// above the low mark and with no failure injected, taking them only counts.
inline bool store_roomy(int n) {
    const StoreCounter& c = g_counter;
    return c.fail_after < 0 && c.free > LOW_NODE_THRESHOLD + n - 1;
}
} // namespace detail
// A charge is taken as an allocation is: where that notes nothing it only
// counts.
inline void node_charge() {
    detail::StoreCounter& c = detail::g_counter;
    if (detail::store_roomy(1)) {
        --c.free;
        ++c.allocations;
        ++c.charged;
        return;
    }
    detail::node_charge_counted();
}
// Giving back leaves free + charged as it was: only the charged count
// shows a charge given back that was never made.
inline void node_uncharge() {
    detail::StoreCounter& c = detail::g_counter;
    assert(c.charged > 0 && "a charge given back that was never made");
    --c.charged;
    if (++c.free >= LOW_NODE_THRESHOLD) c.low_armed = true;
}
// The most charges node_charges_passed counts at once.
constexpr int PASSING_CHARGES_MAX = 2;
// n charges (at most PASSING_CHARGES_MAX) made and given back straight
// away, with nothing looking at the store in between, where taking them
// would note nothing (detail::store_roomy(PASSING_CHARGES_MAX)): they only
// count as allocations. Elsewhere they are made and given back one by one.
inline void node_charges_passed(int n) {
    assert(n <= PASSING_CHARGES_MAX && detail::store_roomy(PASSING_CHARGES_MAX));
    detail::g_counter.allocations += n;
}
// n allocations made and given back by a run that counted them without
// making them (cell calls on numbers), with the store kept above its low
// mark all the while.
inline void node_allocations_passed(uint64_t n) { detail::g_counter.allocations += n; }
// One node's worth of the store held by its owner: charged when it is made
// (refused as an allocation is, by NodeExhausted) and given back by
// give_back() or, at the latest, when it goes.
class NodeCharge {
  public:
    NodeCharge() { node_charge(); }
    ~NodeCharge() { give_back(); }
    NodeCharge(const NodeCharge&) = delete;
    NodeCharge& operator=(const NodeCharge&) = delete;
    void give_back() {
        if (!held_) return;
        held_ = false;
        node_uncharge();
    }

  private:
    bool held_ = true;
};
uint32_t node_charged();
// Called by root markers during the reclaim walk for the charges their
// structures hold; charges that no owner claims are given back as leaked.
void node_claim_charges(uint32_t n);
namespace detail {
extern uint8_t g_pool[]; // NODE_COUNT_MAX * NODE_SIZE bytes
#ifndef NDEBUG
// Debug builds keep a map of the free slots so that a field access or a
// release through a stale handle stops at once.
bool node_is_free(NodeHandle h);
#endif
inline uint8_t* raw_node(NodeHandle h) { return g_pool + static_cast<size_t>(h) * NODE_SIZE; }
} // namespace detail
// The node's storage. Release builds do not validate handles; debug builds
// assert that h names an allocated slot. Inline: every field access of the
// engine goes through it.
inline uint8_t* node_ref(NodeHandle h) {
    assert(h != 0 && h < detail::g_counter.count && "handle out of range");
    assert(!detail::node_is_free(h) && "handle names a free node");
    return detail::raw_node(h);
}
uint8_t* node_payload(NodeHandle h); // nullptr for an unknown type
uint8_t node_type(NodeHandle h);     // bit 7 masked off
uint16_t nodes_in_use();
inline uint16_t nodes_free() { return detail::g_counter.free; }

// Start-up is complete: running out of nodes now abandons the operation
// instead of ending the program.
void node_set_initialised(bool on);
bool node_initialised();

// Field access by byte offset within the node, memcpy-based (no type
// punning); debug builds assert that the field lies inside the node.
template <class T> inline T node_get(NodeHandle h, int off) {
    assert(off >= 0 && off + static_cast<int>(sizeof(T)) <= NODE_SIZE && "field outside the node");
    T v;
    std::memcpy(&v, node_ref(h) + off, sizeof v);
    return v;
}
template <class T> inline void node_set(NodeHandle h, int off, T v) {
    assert(off >= 0 && off + static_cast<int>(sizeof(T)) <= NODE_SIZE && "field outside the node");
    std::memcpy(node_ref(h) + off, &v, sizeof v);
}
inline uint8_t node_get_u8(NodeHandle h, int off) { return node_get<uint8_t>(h, off); }
inline void node_set_u8(NodeHandle h, int off, uint8_t v) { node_set(h, off, v); }
inline uint16_t node_get_u16(NodeHandle h, int off) { return node_get<uint16_t>(h, off); }
inline void node_set_u16(NodeHandle h, int off, uint16_t v) { node_set(h, off, v); }
inline uint32_t node_get_u32(NodeHandle h, int off) { return node_get<uint32_t>(h, off); }
inline void node_set_u32(NodeHandle h, int off, uint32_t v) { node_set(h, off, v); }
inline int32_t node_get_i32(NodeHandle h, int off) { return node_get<int32_t>(h, off); }
inline void node_set_i32(NodeHandle h, int off, int32_t v) { node_set(h, off, v); }
inline double node_get_f64(NodeHandle h, int off) { return node_get<double>(h, off); }
inline void node_set_f64(NodeHandle h, int off, double v) { node_set(h, off, v); }

// The two bytes every node starts with; only the low seven bits of the type
// byte count.
constexpr int NODE_TYPE = 0;
constexpr int NODE_AUX = 1;
constexpr uint8_t NODE_TYPE_MASK = 0x7F;

// Inline: every Text chunk's length is read and written here.
inline uint8_t node_aux(NodeHandle h) { return node_ref(h)[NODE_AUX]; }
inline void node_set_aux(NodeHandle h, uint8_t v) { node_ref(h)[NODE_AUX] = v; }

// Byte offsets of the links and payloads of the four layouts.
constexpr int NODE_NEXT = 2;   // ChainNode, ListNode
constexpr int NODE_PREV = 4;   // ListNode
constexpr int NODE_PARENT = 2; // TreeNode
constexpr int NODE_LEFT = 4;   // TreeNode
constexpr int NODE_RIGHT = 6;  // TreeNode
constexpr int PLAIN_PAYLOAD = 2;
constexpr int CHAIN_PAYLOAD = 4;
constexpr int LIST_PAYLOAD = 6;
constexpr int TREE_PAYLOAD = 8;
// A chain node's payload: the 36 characters of a Text chunk, the 18 handles
// of a handle-stack block.
constexpr int CHAIN_PAYLOAD_SIZE = NODE_SIZE - CHAIN_PAYLOAD;

namespace detail {
NodeHandle node_alloc_counted(NodeType type);
void node_free_checked(NodeHandle h);
} // namespace detail

// Well above the low mark and with no failure injected an allocation only
// counts and takes the head of the free list; otherwise (and in debug
// builds, which keep a map of the free slots) it goes the checked way.
inline NodeHandle node_alloc(NodeType type) {
#ifdef NDEBUG
    detail::StoreCounter& c = detail::g_counter;
    if (detail::store_roomy(1)) {
        --c.free;
        ++c.allocations;
        NodeHandle h = c.free_head;
        uint8_t* n = detail::raw_node(h);
        std::memcpy(&c.free_head, n + NODE_NEXT, sizeof c.free_head);
        // Written in whole words, the type in the first: an odd-sized
        // clear (or a loop the compiler turns into one) may become a string
        // instruction, slow to start on every allocation.
        static_assert(NODE_SIZE == 40 && NODE_TYPE == 0);
        const uint64_t first = type, zero = 0;
        std::memcpy(n, &first, 8);
        std::memcpy(n + 8, &zero, 8);
        std::memcpy(n + 16, &zero, 8);
        std::memcpy(n + 24, &zero, 8);
        std::memcpy(n + 32, &zero, 8);
        return h;
    }
#endif
    return detail::node_alloc_counted(type);
}

inline void node_free(NodeHandle h) {
#ifdef NDEBUG
    if (h == 0) return;
    detail::StoreCounter& c = detail::g_counter;
    uint8_t* n = detail::raw_node(h);
    std::memcpy(n + NODE_NEXT, &c.free_head, sizeof c.free_head);
    n[NODE_TYPE] = 0;
    c.free_head = h;
    if (++c.free >= LOW_NODE_THRESHOLD) c.low_armed = true;
#else
    detail::node_free_checked(h);
#endif
}

// True when a record whose last field ends at byte `end` fits one node;
// every record kept in a node asserts it for its layout.
constexpr bool record_fits(int end) { return end <= NODE_SIZE; }

// ---- building chain ----------------------------------------------------------
NodeHandle building_chain();
void building_chain_set(NodeHandle h);
void building_chain_release();

// ---- chains ----------------------------------------------------------------
inline NodeHandle chain_next(NodeHandle h) { return node_get_u16(h, NODE_NEXT); }
inline void chain_set_next(NodeHandle h, NodeHandle n) { node_set_u16(h, NODE_NEXT, n); }
NodeHandle chain_find_before(NodeHandle head, NodeHandle target);
NodeHandle chain_insert_after(NodeHandle h);
NodeHandle chain_cut_after(NodeHandle h);
NodeHandle chain_splice(NodeHandle head, NodeHandle piece, NodeHandle after);
void chain_free(NodeHandle head);
// Releases every node of the chain through release (a node's `next` is read
// before the node is released), for chains whose nodes own more than
// themselves.
void chain_release(NodeHandle head, void (*release)(NodeHandle));
NodeHandle chain_alloc_for_text(uint32_t n);
// Adds n at the end of a chain being built, known by its first and last node
// (both 0 while it is empty).
inline void chain_append(NodeHandle* first, NodeHandle* last, NodeHandle n) {
    if (*last == 0)
        *first = n;
    else
        chain_set_next(*last, n);
    *last = n;
}

// ---- lists -----------------------------------------------------------------
inline NodeHandle list_next(NodeHandle h) { return node_get_u16(h, NODE_NEXT); }
inline void list_set_next(NodeHandle h, NodeHandle n) { node_set_u16(h, NODE_NEXT, n); }
inline NodeHandle list_prev(NodeHandle h) { return node_get_u16(h, NODE_PREV); }
inline void list_set_prev(NodeHandle h, NodeHandle n) { node_set_u16(h, NODE_PREV, n); }
void list_insert_after(NodeHandle n, NodeHandle at);
void list_insert_before(NodeHandle n, NodeHandle at);
NodeHandle list_unlink(NodeHandle n);
void list_free(NodeHandle n);

// ---- tree links --------------------------------------------------------------
inline NodeHandle tree_parent(NodeHandle h) { return node_get_u16(h, NODE_PARENT); }
inline NodeHandle tree_left(NodeHandle h) { return node_get_u16(h, NODE_LEFT); }
inline NodeHandle tree_right(NodeHandle h) { return node_get_u16(h, NODE_RIGHT); }
inline void tree_set_parent(NodeHandle h, NodeHandle n) { node_set_u16(h, NODE_PARENT, n); }
inline void tree_set_left(NodeHandle h, NodeHandle n) { node_set_u16(h, NODE_LEFT, n); }
inline void tree_set_right(NodeHandle h, NodeHandle n) { node_set_u16(h, NODE_RIGHT, n); }

// ---- scratch buffers ---------------------------------------------------------
constexpr int SCRATCH_SLOTS = 10;
constexpr int SCRATCH_SIZE = 4096;
void scratch_init();
int scratch_get();
void scratch_release(int slot);
uint8_t* scratch_buffer(int slot);

// ---- reclaim walk ------------------------------------------------------------
// Persistent owners register a marker that marks everything they own.
// node_reclaim_unreachable() marks from every root and frees each allocated
// node left unmarked, and gives back every unclaimed charge, returning how
// many nodes and charges it freed. A node reached twice, or a reached handle
// that is free, is counted as a fault of the walk; so are more charges
// claimed than are held (counted as reached twice).
using RootMarker = void (*)();
void reclaim_register_root(RootMarker marker);
void reclaim_unregister_root(RootMarker marker);
bool node_mark(NodeHandle h); // true when newly marked; false for 0, marked or free
void chain_mark(NodeHandle head);
int node_reclaim_unreachable();
struct ReclaimFaults {
    int reached_twice = 0;
    int reached_free = 0;
};
ReclaimFaults reclaim_last_faults();

// ---- fault injection (tests) -------------------------------------------------
// After n more successful allocations the pool behaves as exhausted; -1 turns
// the injection off.
void node_fail_after(long n);
// From now until the next node_init, the fewest free nodes the store has
// had (node_low_water): every allocation and charge is counted on the slow
// path, as under an injected failure that never comes. For measuring what
// reading a web takes, not for a run.
void node_track_low_water();
int node_low_water();
// Whether an injected failure is pending.
inline bool node_fail_armed() { return detail::g_counter.fail_after >= 0; }
// Allocations made since node_init (tests pick injection points with it).
uint64_t node_allocations();

} // namespace tarvex
