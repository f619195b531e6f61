// Handle stacks: stacks of node handles kept in the node store, 18 handles to
// a block, with a read cursor that walks from the top down without popping.
// A block is released as soon as its last handle is popped, so an emptied
// stack holds only its header.
#pragma once

#include "core/node_store.h"

#include <cassert>

namespace tarvex {

// A block's slots fill its chain payload.
constexpr int HSTACK_SLOTS = CHAIN_PAYLOAD_SIZE / static_cast<int>(sizeof(NodeHandle));

NodeHandle hstack_new();
void hstack_push(NodeHandle s, NodeHandle h);
NodeHandle hstack_pop(NodeHandle s);
NodeHandle hstack_peek(NodeHandle s);
uint32_t hstack_count(NodeHandle s);
void hstack_cursor_reset(NodeHandle s);
NodeHandle hstack_cursor_next(NodeHandle s);
void hstack_free(NodeHandle s);

// Marks the header and blocks; the handles held are the owner's to mark.
void hstack_mark(NodeHandle s);

// ---- charged stacks ------------------------------------------------------------
// A stack kept in a fixed array outside the store, for the interpreter's
// busiest stacks, that charges the store (node_charge) exactly what a handle
// stack of the same entries takes: its header while open, and a block for
// every 18 entries begun, given back as soon as its last entry goes. With
// EntryCharged, every entry also stands for a node of its own (a record the
// stack holds by value), charged when it is pushed and given back when it is
// popped; the stack's charges (cstack_charges) count it.
// Capacity: what the store can bound. An owner whose entries each hold a
// node or a charge of their own gives NODE_COUNT_MAX; otherwise every entry
// still costs a block's share, so NODE_COUNT_MAX * HSTACK_SLOTS.
template <class T, uint32_t Capacity, bool EntryCharged = false> struct ChargedStack {
    uint32_t count = 0;
    bool open = false;
    T entries[Capacity];
};

template <class T, uint32_t N, bool E> void cstack_open(ChargedStack<T, N, E>& s) {
    assert(!s.open && "charged stack opened twice");
    node_charge();
    s.count = 0;
    s.open = true;
}

// The charges of an open stack: its header, blocks and charged entries.
template <class T, uint32_t N, bool E> uint32_t cstack_charges(const ChargedStack<T, N, E>& s) {
    if (!s.open) return 0;
    return 1 + (s.count + HSTACK_SLOTS - 1) / HSTACK_SLOTS + (E ? s.count : 0);
}

// Gives back the stack's charges; the entries left are the owner's.
template <class T, uint32_t N, bool E> void cstack_close(ChargedStack<T, N, E>& s) {
    for (uint32_t n = cstack_charges(s); n > 0; --n)
        node_uncharge();
    s.count = 0;
    s.open = false;
}

template <class T, uint32_t N, bool E>
inline void cstack_push(ChargedStack<T, N, E>& s, const T& e) {
    assert(s.open && s.count < N && "charged stack push");
    if (E) node_charge();
    if (s.count % HSTACK_SLOTS == 0) node_charge();
    s.entries[s.count++] = e;
}

// Whether there was an entry to pop into *e.
template <class T, uint32_t N, bool E> inline bool cstack_pop(ChargedStack<T, N, E>& s, T* e) {
    if (s.count == 0) return false;
    *e = s.entries[--s.count];
    if (s.count % HSTACK_SLOTS == 0) node_uncharge();
    if (E) node_uncharge();
    return true;
}

// The top entry; T{} when empty.
template <class T, uint32_t N, bool E> inline T cstack_peek(const ChargedStack<T, N, E>& s) {
    return s.count == 0 ? T{} : s.entries[s.count - 1];
}

} // namespace tarvex
