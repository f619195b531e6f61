// The run engine: running a cell's script a number of times with automatic
// output, calling cells, breakpoints, the run flags through which commands
// reach a running script, and the engine side of the Run commands.
#pragma once

#include "lexer/lexer.h"
#include "web/cell.h"

#include <vector>

namespace tarvex {

// Run flags.
namespace detail {
// What every statement asks, inline: whether anything waits behind the
// poll (a step limit, the debugger), and the stop request.
struct RunPoll {
    bool slow = false;
    bool stop = false;
};
extern RunPoll g_run_poll;
// What waits behind the poll, at a statement's first token or (round) at
// the saved position a loop round starts from: 0, or the code that ends
// the run.
[[gnu::noinline]] int run_poll_slow(bool round);
} // namespace detail
// Sets the poll's flag again after a change to what waits behind it.
void run_poll_refresh();
inline bool run_stop_request() { return detail::g_run_poll.stop; }
void run_set_stop_request(bool on);
bool run_resume_request();
void run_set_resume_request(bool on);
bool run_breakpoint_pause();
bool run_ignore_breakpoints();
void run_set_ignore_breakpoints(bool on);
// True from the start of a run to its end.
bool run_active();

// Runs cell the number of times the iteration setting gives; the error that
// ended the run is reported to the status line and the output, and returned
// (0 when the run completed).
int run(CellHandle cell);

// Why Run would be refused now (a search going on, a script waiting for
// input), or nullptr; and the refusal of a Run while one runs.
const char* run_refusal();
constexpr const char* RUN_ALREADY_TEXT = "Script already running";

// The Run and Run to Brk commands without their window work: refusals,
// flags, resuming a paused run, cutting histories, the plot and the
// streams around run(). Returns the run's result, or 0 when nothing ran.
int run_command(bool to_breakpoint);

// The error that ended the last run: its code, the cell whose script was
// being read and the index of the token at which it was met (-1 unknown).
struct RunError {
    int code = 0;
    CellHandle cell = 0;
    int token_index = -1;
};
RunError run_last_error();
// Where in its cell's script the last run's error was met.
bool run_error_position(LexPosition* out);
// While a run is paused (at a brk, a breakpoint or a step): the cell whose
// script holds the statement it waits at and where in that script it is.
bool run_pause_position(CellHandle* cell, LexPosition* out);
// Pauses the run at the current statement as a brk does once its line is
// written (the status, the owner made current, the wait for Resume or Stop),
// for the reason given (a PauseReason of script/debugger.h), with a note
// flashed in the status line (or nullptr); SE_HALTED when stopped.
int run_pause_here(int reason, const char* note);

// Calls cell (with an argument list, or 0) and pushes its resulting value.
// With `handed`, for a caller that would combine that value at once with
// an operand it holds and release it: when the cell's value is a number
// with a text of one chunk at most and the store is clear of its low mark,
// the copy is not made (its allocations only pass) and *handed is the
// cell's value itself, to be read only; otherwise *handed is left as it is.
int call_cell(CellHandle cell, NodeHandle args, NodeHandle* handed = nullptr);
// The end of a call: the cell's value handed over in *handed (when handed
// is given and it can be) or a copy of it pushed on the value stack.
int call_result(CellHandle cell, NodeHandle* handed);
// Whether something watches a run's every call (the generic automatic
// output), or every value of a cell (the plot), which only the
// step-by-step run tells it.
bool run_calls_watched();
bool run_cell_watched(CellHandle c);

// The call stack while paused: the executing cell, the owners of the saved
// positions (repeats skipped), then the root cell.
std::vector<CellHandle> run_call_stack();
CellHandle run_root_cell();
CellHandle run_executing_cell();

// Stops a run (as the Stop command does) after this many statements and
// loop rounds; 0 for no limit. For fuzzing and tests.
void run_set_step_limit(uint64_t steps);

// Hooks the plot registers: a run starts (when plotting is on), a run
// ends, and whether a cell's values are being plotted.
using RunHook = void (*)();
using CellWatch = bool (*)(CellHandle);
void run_set_plot_hooks(RunHook begin, RunHook end, CellWatch watches);

} // namespace tarvex
