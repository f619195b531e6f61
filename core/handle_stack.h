// Handle stacks: stacks of node handles kept in the node store, 18 handles to
// a block, with a read cursor that walks from the top down without popping.
// A block is released as soon as its last handle is popped, so an emptied
// stack holds only its header.
#pragma once

#include "core/node_store.h"

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

} // namespace tarvex
