#include "web/pane_state.h"

namespace tarvex {

namespace {

// The node: first visible line, selection start, selection end, then three
// words the record has always carried as 0, 1, 1 (read by nothing, kept so
// a pane state looks the same whoever made it).
constexpr int PANE_FIRST_LINE = PLAIN_PAYLOAD + 0;
constexpr int PANE_SEL_START = PLAIN_PAYLOAD + 4;
constexpr int PANE_SEL_END = PLAIN_PAYLOAD + 8;
constexpr int PANE_SPARE = PLAIN_PAYLOAD + 12;
constexpr uint32_t PANE_START_LINE = 1;

NodeHandle pane_node(CellHandle c, CellField field) {
    NodeHandle p = cell_get(c, field);
    if (p != 0) return p;
    p = node_alloc(PlainNode);
    node_set_u32(p, PANE_FIRST_LINE, PANE_START_LINE);
    node_set_u32(p, PANE_SEL_START, 0);
    node_set_u32(p, PANE_SEL_END, 0);
    node_set_u32(p, PANE_SPARE, 0);
    node_set_u32(p, PANE_SPARE + 4, 1);
    node_set_u32(p, PANE_SPARE + 8, 1);
    cell_put(c, field, p);
    return p;
}

} // namespace

PaneState pane_state_get(CellHandle c, CellField field) {
    NodeHandle p = pane_node(c, field);
    return {node_get_u32(p, PANE_FIRST_LINE), node_get_u32(p, PANE_SEL_START),
            node_get_u32(p, PANE_SEL_END)};
}

void pane_state_put(CellHandle c, CellField field, const PaneState& s) {
    NodeHandle p = pane_node(c, field);
    node_set_u32(p, PANE_FIRST_LINE, s.first_line);
    node_set_u32(p, PANE_SEL_START, s.sel_start);
    node_set_u32(p, PANE_SEL_END, s.sel_end);
}

void pane_state_set_selection(CellHandle c, CellField field, uint32_t start, uint32_t end) {
    NodeHandle p = pane_node(c, field);
    node_set_u32(p, PANE_SEL_START, start);
    node_set_u32(p, PANE_SEL_END, end);
}

} // namespace tarvex
