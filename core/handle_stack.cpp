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

// The top index of a stack emptied down to its kept bottom block; the next
// push wraps it to slot 0.
constexpr uint32_t EMPTY_INDEX = 0xFFFFFFFFu;

int slot_offset(uint32_t i) {
    assert(i < HSTACK_SLOTS && "handle stack slot");
    return CHAIN_PAYLOAD + static_cast<int>(sizeof(NodeHandle) * i);
}
} // namespace

NodeHandle hstack_new() { return node_alloc(ChainNode); }

void hstack_push(NodeHandle s, NodeHandle h) {
    NodeHandle top = node_get_u16(s, H_TOP_BLOCK);
    uint32_t index = node_get_u32(s, H_TOP_INDEX);
    if (top == 0 || index + 1 >= HSTACK_SLOTS) {
        NodeHandle block = node_alloc(ChainNode);
        chain_set_next(block, top);
        node_set_u16(s, H_TOP_BLOCK, block);
        node_set_u16(s, H_CURSOR_BLOCK, block);
        node_set_u32(s, H_TOP_INDEX, 0);
        node_set_u32(s, H_CURSOR_INDEX, 0);
        node_set_u16(block, slot_offset(0), h);
    } else {
        ++index;
        node_set_u32(s, H_TOP_INDEX, index);
        node_set_u32(s, H_CURSOR_INDEX, index);
        node_set_u16(top, slot_offset(index), h);
    }
    node_set_u32(s, H_COUNT, node_get_u32(s, H_COUNT) + 1);
    node_set_u32(s, H_CURSOR_COUNT, node_get_u32(s, H_CURSOR_COUNT) + 1);
}

NodeHandle hstack_pop(NodeHandle s) {
    if (s == 0) return 0;
    uint32_t count = node_get_u32(s, H_COUNT);
    if (count == 0) return 0;
    NodeHandle top = node_get_u16(s, H_TOP_BLOCK);
    uint32_t index = node_get_u32(s, H_TOP_INDEX);
    NodeHandle h = node_get_u16(top, slot_offset(index));
    node_set_u32(s, H_COUNT, --count);
    if (index == 0 && chain_next(top) == 0) {
        // The bottom block stays, empty, for the next push: stacks that go
        // up and down by one (the value stack) would otherwise allocate and
        // release a block every time.
        node_set_u32(s, H_TOP_INDEX, EMPTY_INDEX);
    } else if (index == 0) {
        node_set_u16(s, H_TOP_BLOCK, chain_next(top));
        node_set_u32(s, H_TOP_INDEX, HSTACK_SLOTS - 1);
        // The cursor must never name the released block.
        if (node_get_u16(s, H_CURSOR_BLOCK) == top) {
            node_set_u16(s, H_CURSOR_BLOCK, chain_next(top));
            node_set_u32(s, H_CURSOR_INDEX, HSTACK_SLOTS - 1);
        }
        node_free(top);
    } else {
        node_set_u32(s, H_TOP_INDEX, index - 1);
    }
    // A cursor resting above the new top is brought down to it.
    if (node_get_u32(s, H_CURSOR_COUNT) > count) {
        node_set_u32(s, H_CURSOR_COUNT, count);
        node_set_u16(s, H_CURSOR_BLOCK, node_get_u16(s, H_TOP_BLOCK));
        node_set_u32(s, H_CURSOR_INDEX, node_get_u32(s, H_TOP_INDEX));
    }
    return h;
}

NodeHandle hstack_peek(NodeHandle s) {
    if (s == 0 || node_get_u32(s, H_COUNT) == 0) return 0;
    return node_get_u16(node_get_u16(s, H_TOP_BLOCK), slot_offset(node_get_u32(s, H_TOP_INDEX)));
}

uint32_t hstack_count(NodeHandle s) { return s == 0 ? 0 : node_get_u32(s, H_COUNT); }

void hstack_cursor_reset(NodeHandle s) {
    node_set_u32(s, H_CURSOR_COUNT, node_get_u32(s, H_COUNT));
    node_set_u16(s, H_CURSOR_BLOCK, node_get_u16(s, H_TOP_BLOCK));
    node_set_u32(s, H_CURSOR_INDEX, node_get_u32(s, H_TOP_INDEX));
}

NodeHandle hstack_cursor_next(NodeHandle s) {
    if (s == 0) return 0;
    uint32_t left = node_get_u32(s, H_CURSOR_COUNT);
    if (left == 0) return 0;
    NodeHandle block = node_get_u16(s, H_CURSOR_BLOCK);
    uint32_t index = node_get_u32(s, H_CURSOR_INDEX);
    NodeHandle h = node_get_u16(block, slot_offset(index));
    node_set_u32(s, H_CURSOR_COUNT, left - 1);
    if (index == 0) {
        node_set_u16(s, H_CURSOR_BLOCK, chain_next(block));
        node_set_u32(s, H_CURSOR_INDEX, HSTACK_SLOTS - 1);
    } else {
        node_set_u32(s, H_CURSOR_INDEX, index - 1);
    }
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
