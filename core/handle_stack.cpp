// Handle stacks.
#include "core/handle_stack.h"

#include <cassert>

namespace tarvex {

namespace {
// Header fields (payload of a chain node).
constexpr int H_COUNT = CHAIN_PAYLOAD + 0;
constexpr int H_CURSOR_COUNT = CHAIN_PAYLOAD + 4;
constexpr int H_TOP_BLOCK = CHAIN_PAYLOAD + 8;
constexpr int H_TOP_INDEX = CHAIN_PAYLOAD + 10;
constexpr int H_CURSOR_BLOCK = CHAIN_PAYLOAD + 14;
constexpr int H_CURSOR_INDEX = CHAIN_PAYLOAD + 16;
static_assert(record_fits(H_CURSOR_INDEX + sizeof(uint32_t)), "handle stack header layout");
// A block is a chain node whose payload is all handle slots.
static_assert(record_fits(CHAIN_PAYLOAD + HSTACK_SLOTS * static_cast<int>(sizeof(NodeHandle))),
              "handle stack block layout");

int slot_offset(uint32_t i) {
    assert(i < HSTACK_SLOTS && "handle stack slot");
    return CHAIN_PAYLOAD + static_cast<int>(sizeof(NodeHandle) * i);
}

// The top (what pops) and the cursor (what the walk gives next) are each a
// count, a block and a slot in the header, read and moved the same way.
struct Position {
    int count, block, index;
};
constexpr Position TOP{H_COUNT, H_TOP_BLOCK, H_TOP_INDEX};
constexpr Position CURSOR{H_CURSOR_COUNT, H_CURSOR_BLOCK, H_CURSOR_INDEX};

// The handle at p; 0 when p has nothing left.
NodeHandle handle_at(NodeHandle s, Position p) {
    if (node_get_u32(s, p.count) == 0) return 0;
    return node_get_u16(node_get_u16(s, p.block), slot_offset(node_get_u32(s, p.index)));
}

void place(NodeHandle s, Position p, uint32_t count, NodeHandle block, uint32_t index) {
    node_set_u32(s, p.count, count);
    node_set_u16(s, p.block, block);
    node_set_u32(s, p.index, index);
}

// Moves p one handle down: the slot below, or the top slot of the block below.
void step_down(NodeHandle s, Position p) {
    NodeHandle block = node_get_u16(s, p.block);
    uint32_t index = node_get_u32(s, p.index);
    uint32_t count = node_get_u32(s, p.count) - 1;
    if (index == 0)
        place(s, p, count, chain_next(block), HSTACK_SLOTS - 1);
    else
        place(s, p, count, block, index - 1);
}
} // namespace

NodeHandle hstack_new() { return node_alloc(ChainNode); }

void hstack_push(NodeHandle s, NodeHandle h) {
    NodeHandle top = node_get_u16(s, H_TOP_BLOCK);
    uint32_t index = node_get_u32(s, H_TOP_INDEX) + 1;
    if (top == 0 || index >= HSTACK_SLOTS) {
        NodeHandle block = node_alloc(ChainNode);
        chain_set_next(block, top);
        top = block;
        index = 0;
    }
    node_set_u16(top, slot_offset(index), h);
    place(s, TOP, node_get_u32(s, H_COUNT) + 1, top, index);
    place(s, CURSOR, node_get_u32(s, H_CURSOR_COUNT) + 1, top, index);
}

NodeHandle hstack_pop(NodeHandle s) {
    if (s == 0) return 0;
    uint32_t count = node_get_u32(s, H_COUNT);
    if (count == 0) return 0;
    NodeHandle h = handle_at(s, TOP);
    NodeHandle top = node_get_u16(s, H_TOP_BLOCK);
    step_down(s, TOP);
    if (node_get_u16(s, H_TOP_BLOCK) != top) {
        // The cursor must never name the released block.
        if (node_get_u16(s, H_CURSOR_BLOCK) == top)
            place(s, CURSOR, node_get_u32(s, H_CURSOR_COUNT), chain_next(top), HSTACK_SLOTS - 1);
        node_free(top);
    }
    // A cursor resting above the new top is brought down to it.
    if (node_get_u32(s, H_CURSOR_COUNT) > count - 1)
        place(s, CURSOR, count - 1, node_get_u16(s, H_TOP_BLOCK), node_get_u32(s, H_TOP_INDEX));
    return h;
}

NodeHandle hstack_peek(NodeHandle s) { return s == 0 ? 0 : handle_at(s, TOP); }

uint32_t hstack_count(NodeHandle s) { return s == 0 ? 0 : node_get_u32(s, H_COUNT); }

void hstack_cursor_reset(NodeHandle s) {
    place(s, CURSOR, node_get_u32(s, H_COUNT), node_get_u16(s, H_TOP_BLOCK),
          node_get_u32(s, H_TOP_INDEX));
}

NodeHandle hstack_cursor_next(NodeHandle s) {
    if (s == 0) return 0;
    NodeHandle h = handle_at(s, CURSOR);
    if (node_get_u32(s, H_CURSOR_COUNT) != 0) step_down(s, CURSOR);
    return h;
}

void hstack_free(NodeHandle s) {
    if (s == 0) return;
    NodeHandle top = node_get_u16(s, H_TOP_BLOCK);
    node_set_u16(s, H_TOP_BLOCK, 0);
    chain_free(top);
    node_free(s);
}

void hstack_mark(NodeHandle s) {
    if (node_mark(s)) chain_mark(node_get_u16(s, H_TOP_BLOCK));
}

} // namespace tarvex
