// The debugger beside the brk statement: stepping from a pause, breakpoints
// on script lines (optionally with a condition), and the frames of a paused
// run with their arguments. A pause made here is a brk's pause (the same
// status, the same lock-out, the same Stop) without the output line. With
// no breakpoint set and no step asked for, a run costs what it did.
#pragma once

#include "lexer/lexer.h"
#include "web/cell.h"

#include <string>
#include <vector>

namespace tarvex {

// A breakpoint on line `line` (1-based, as LexPosition counts) of a cell's
// script: a run started with Run to Brk pauses at the first statement that
// starts on that line. A condition, when not empty, is an expression of the
// script language; the pause happens only where it is true. It may read
// cells, subscripts, numbers and strings and call builtins without effects;
// anything else (a cell call, an assignment, an effectful builtin) is an
// error, which pauses and shows in the status line.
struct LineBreakpoint {
    CellHandle cell = 0;
    int line = 1;
    std::string condition;
    bool enabled = true;
};

// Replaces the breakpoints a run obeys; may be called while paused. The
// engine keeps its own copy.
void debug_set_breakpoints(const std::vector<LineBreakpoint>& breakpoints);
const std::vector<LineBreakpoint>& debug_breakpoints();

enum class StepKind {
    OVER, // the next statement of this frame or of a caller
    INTO, // the next statement of any frame
    OUT,  // the next statement of a caller
};

// While paused: resume, pausing at the next statement of the kind asked.
// Returns false (and does nothing) when no run is paused.
bool debug_step(StepKind kind);
// While paused: resume, pausing at the first statement that starts on the
// line of cell's script (breakpoints on the way still pause).
bool debug_run_to_line(CellHandle cell, int line);

// Why the run last paused: a brk statement, a line breakpoint, a step.
enum class PauseReason { NONE, BRK, BREAKPOINT, STEP };
PauseReason debug_pause_reason();

// One active call of a paused run, innermost first: the cell, its
// arguments (%1 ... %n as the texts of their values; empty when the cell was
// called without an argument list) and where in its script the frame
// stands (the paused statement for the innermost frame, the call for the
// others).
struct RunFrame {
    CellHandle cell = 0;
    std::vector<std::string> args;
    LexPosition at;
};
// Empty when no run is paused. Recursion gives a frame per call.
std::vector<RunFrame> run_frames();

// The run engine's side.
namespace detail {
// Whether the poll must ask debug_check: breakpoints a run obeys, a step
// or a run to a line asked for.
bool debug_watching();
// At a statement's first token, or (round) where a loop round starts:
// pauses when a breakpoint, a step or a run to a line says so; 0, or the
// code that ends the run.
int debug_check(bool round);
// A run begins: no step, no run to a line, nothing remembered of scripts.
void debug_run_begin();
// A pause begins at token index `at` of the list being run: what was asked
// is done, and every frame's last check is where it stands.
void debug_pause_begin(PauseReason why, int at);
// The same for the frames alone, the innermost standing at token index at.
void debug_frames_resync(int at);
} // namespace detail

} // namespace tarvex
