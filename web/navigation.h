// The current cell, the back and forward visit rings (the back ring is the
// trail), and moving through the web: visits, back, forward, previous and
// next cell in name order.
#pragma once

#include "web/cell.h"

namespace tarvex {

constexpr int RING_SLOTS = 32;

// Empty rings and no current cell, without touching the panes.
void navigation_init();

CellHandle current_cell();
void make_current(CellHandle c);
void reshow_current();
void go_home();
void navigation_reset();
// Forgets the current cell without committing panes (the web is cleared).
void navigation_forget_current();

void back_push(CellHandle c);
CellHandle back_pop();
void back_remove_all(CellHandle c);
void back_iterate_start();
CellHandle back_iterate_next();
int back_count();

void forward_push(CellHandle c);
CellHandle forward_pop();
void forward_remove_all(CellHandle c);
void forward_clear();
int forward_count();

void visit_new(CellHandle c);
void visit(CellHandle c);
void go_back();
void go_forward();
void go_back_to(const char* name);
void previous_cell();
void next_cell();

} // namespace tarvex
