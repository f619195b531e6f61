// The debugger beside the brk statement: line breakpoints and their
// conditions, steps and runs to a line, all decided at the checks every
// statement and loop round makes (only while something is asked for), and
// the frames of a paused run.
#include "script/debugger.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/node_store.h"
#include "core/text.h"
#include "core/value.h"
#include "script/compiled_expr.h"
#include "script/interpreter.h"
#include "script/run_engine.h"

#include <algorithm>
#include <climits>

namespace tarvex {

namespace {

// The line of every token of a script list, made once per list a run
// meets on a breakpoint's cell. A run retires replaced lists instead of
// freeing them, so within a run a list's handle names one lex; the table
// is dropped when a run begins.
struct ListLines {
    TokenList list = 0;
    std::vector<int> line_of; // by token index; the end token included
};

struct Debugger {
    std::vector<LineBreakpoint> breakpoints;
    bool any_enabled = false;
    bool stepping = false;
    StepKind step = StepKind::OVER;
    uint32_t step_depth = 0; // active calls where the step was asked
    bool to_line = false;
    CellHandle to_cell = 0;
    int to_line_number = 0;
    PauseReason reason = PauseReason::NONE;
    std::vector<ListLines> lines;
    // By call depth: a frame entered there since the last pause. A frame
    // that replaces another makes its first check with no last check (the
    // call resets it), so every later check at that depth is a new call's.
    bool fresh[NESTING_LIMIT + 1] = {};
} g_dbg;

const std::vector<int>& lines_of(TokenList list) {
    for (const ListLines& l : g_dbg.lines)
        if (l.list == list) return l.line_of;
    ListLines made{list, {}};
    std::string script = text_to_string(cell_script(tokens_owner(list)));
    int line = 1;
    size_t counted = 0;
    lex_scan(script, [&](const LexSpan& s) {
        if (s.kind == LEX_COMMENT) return;
        for (; counted < s.start && counted < script.size(); ++counted)
            if (script[counted] == '\n') ++line;
        made.line_of.push_back(line);
    });
    for (; counted < script.size(); ++counted)
        if (script[counted] == '\n') ++line;
    made.line_of.push_back(line);
    g_dbg.lines.push_back(std::move(made));
    return g_dbg.lines.back().line_of;
}

// 0 for an index past the list's script (an edited script's retired list).
int line_at(TokenList list, int index) {
    const std::vector<int>& lines = lines_of(list);
    return index >= 0 && size_t(index) < lines.size() ? lines[size_t(index)] : 0;
}

// Builtins that change what a script sees: the random sequence, the history
// depth of a cell, the matrices solved in place.
bool builtin_has_effect(NodeHandle entry) {
    BuiltinFn fn = builtin_fn(entry);
    return fn == builtin_rand || fn == builtin_previous || fn == builtin_rref ||
           fn == builtin_gaussj;
}

// Refuses a condition that would call a cell (name!, name(...),
// name[i](...)), assign, or use a builtin with an effect.
bool condition_has_effect(TokenList list) {
    TokenCursor c;
    uint8_t before = NO_TOKEN;
    for (Token t = tokens_first_cursor(list, c); t != nullptr && token_kind(t) != END_OF_FILE;
         t = tokens_step(c)) {
        uint8_t kind = token_kind(t);
        if (kind == BANG || (kind == RESWORD && token_aux(t) == RW_SET)) return true;
        if (kind == LPAREN && (before == CELLNAME || before == RBRACKET)) return true;
        if (kind == BUILTIN && builtin_has_effect(token_value(t))) return true;
        before = kind;
    }
    return false;
}

// How many nodes a condition may take: never so many that the store would
// note it is low, and while the lowest point is being tracked, never below
// it; an injected failure counts as the store's end.
long condition_allowance() {
    const detail::StoreCounter& c = detail::g_counter;
    long allowed = long(c.free) - LOW_NODE_THRESHOLD;
    if (c.fail_after == LONG_MAX)
        allowed = std::min<long>(allowed, long(c.free) - node_low_water());
    else if (c.fail_after >= 0)
        allowed = std::min(allowed, c.fail_after);
    return allowed;
}

// Evaluates a condition in the scope of the paused statement: its truth in
// *truth, or the text of what went wrong. Whatever it takes of the store is
// given back, and the store's counts are left as they were.
const char* condition_holds(const std::string& text, CellHandle owner, bool* truth) {
    Interpreter& in = interp();
    const detail::StoreCounter saved = detail::g_counter;
    const long allowed = condition_allowance();
    if (allowed <= 0) return script_error_message(SE_OUT_OF_MEMORY);
    const TokenList list_was = in.list;
    const Token tok_was = in.tok;
    const TokenCursor cur_was = in.cur;
    const uint32_t values_was = in.values.count;
    const int depth_was = in.depth;
    const bool fast_was = interp_fast_path();
    // The condition's list is the walker's alone: no compiled code is made
    // for it.
    interp_set_fast_path(false);
    detail::g_counter.fail_after = allowed;
    TokenList list = 0;
    const char* error = nullptr;
    try {
        Text t = text_from_cstring(text.c_str());
        list = lex(t, owner);
        text_free(t);
        if (list == 0) {
            error = script_error_message(SE_UNEXPECTED_END);
        } else if (condition_has_effect(list)) {
            error = CONDITION_EFFECT_TEXT;
        } else {
            in.list = list;
            in.tok = tokens_first_cursor(list, in.cur);
            NodeHandle v = 0;
            int r = eval_to_value(&v, SE_INVALID_EXPRESSION);
            if (r == 0) {
                *truth = value_is_true(v);
                value_free(v);
                if (cur_kind() != END_OF_FILE) r = SE_SYNTAX;
            }
            if (r != 0) error = script_error_message(r);
        }
    } catch (const NodeExhausted&) {
        error = script_error_message(SE_OUT_OF_MEMORY);
    }
    for (NodeHandle v = 0; in.values.count > values_was && cstack_pop(in.values, &v);)
        value_free(v);
    tokens_free(list);
    in.list = list_was;
    in.tok = tok_was;
    in.cur = cur_was;
    in.depth = depth_was;
    interp_set_fast_path(fast_was);
    detail::StoreCounter& now = detail::g_counter;
    // What an unwound evaluation held is found by the reclaim walk.
    if (now.free != saved.free || now.charged != saved.charged) guard_request_reclaim();
    now.allocations = saved.allocations;
    now.low_noted = saved.low_noted;
    now.low_armed = saved.low_armed;
    now.fail_after = saved.fail_after;
    return error;
}

// Whether control arrives at the token's line in this frame: its first
// check there, a check on another line than the last, or a loop back.
bool arrives(TokenList list, int last, int index) {
    return last < 0 || index < last || line_at(list, last) != line_at(list, index);
}

// A loop round pauses a step only when it comes back. Over and Out pause
// only in the frames that were active at the pause: the one stepped from
// (Over) and its callers.
bool step_pauses(bool round, uint32_t depth, int last, int index) {
    if (round && !(last >= 0 && index < last)) return false;
    const bool old = !g_dbg.fresh[depth - 1];
    switch (g_dbg.step) {
    case StepKind::INTO: return true;
    case StepKind::OVER: return old && depth <= g_dbg.step_depth;
    case StepKind::OUT: return old && depth < g_dbg.step_depth;
    }
    return false;
}

// The return position of the call recorded at index k of the call records.
int call_index(uint32_t k) {
    const Interpreter& in = interp();
    uint32_t at = detail::g_calls[k].frames_at;
    return at > 0 && at <= in.frames.count ? in.frames.entries[at - 1].cursor.index : -1;
}

} // namespace

void debug_set_breakpoints(const std::vector<LineBreakpoint>& breakpoints) {
    g_dbg.breakpoints = breakpoints;
    g_dbg.any_enabled = std::any_of(breakpoints.begin(), breakpoints.end(),
                                    [](const LineBreakpoint& b) { return b.enabled; });
    run_poll_refresh();
}

const std::vector<LineBreakpoint>& debug_breakpoints() { return g_dbg.breakpoints; }

bool debug_step(StepKind kind) {
    if (!run_breakpoint_pause()) return false;
    g_dbg.stepping = true;
    g_dbg.step = kind;
    g_dbg.step_depth = interp().args.count;
    run_set_resume_request(true);
    run_poll_refresh();
    return true;
}

bool debug_run_to_line(CellHandle cell, int line) {
    if (!run_breakpoint_pause()) return false;
    g_dbg.to_line = true;
    g_dbg.to_cell = cell;
    g_dbg.to_line_number = line;
    run_set_resume_request(true);
    run_poll_refresh();
    return true;
}

PauseReason debug_pause_reason() { return g_dbg.reason; }

std::vector<RunFrame> run_frames() {
    std::vector<RunFrame> frames;
    CellHandle paused = 0;
    LexPosition at;
    if (!run_breakpoint_pause() || !run_pause_position(&paused, &at)) return frames;
    const Interpreter& in = interp();
    for (uint32_t k = in.args.count; k-- > 0;) {
        RunFrame f;
        f.cell = detail::g_calls[k].cell;
        for (NodeHandle v = in.args.entries[k]; v != 0; v = chain_next(v))
            f.args.push_back(value_display(v));
        if (k + 1 == in.args.count) {
            f.at = at;
        } else {
            // The return position stands past the call; the token before it
            // is the call's own.
            int index = call_index(k + 1);
            if (index > 0) --index;
            if (index >= 0)
                lex_token_position(text_to_string(cell_script(f.cell)), uint16_t(index), &f.at);
        }
        frames.push_back(std::move(f));
    }
    return frames;
}

bool detail::debug_watching() {
    return g_dbg.stepping || g_dbg.to_line || (g_dbg.any_enabled && !run_ignore_breakpoints());
}

void detail::debug_run_begin() {
    g_dbg.stepping = g_dbg.to_line = false;
    g_dbg.reason = PauseReason::NONE;
    g_dbg.lines.clear();
    run_poll_refresh();
}

void detail::debug_frames_resync(int at) {
    const uint32_t n = interp().args.count;
    for (uint32_t k = 0; k + 1 < n; ++k)
        g_calls[k].last = call_index(k + 1);
    if (n > 0) g_calls[n - 1].last = at;
    std::fill(std::begin(g_dbg.fresh), std::end(g_dbg.fresh), false);
}

void detail::debug_pause_begin(PauseReason why, int at) {
    g_dbg.reason = why;
    g_dbg.stepping = g_dbg.to_line = false;
    debug_frames_resync(at);
}

int detail::debug_check(bool round) {
    Interpreter& in = interp();
    const uint32_t depth = in.args.count;
    if (depth == 0 || in.list == 0) return 0;
    CallRecord& frame = g_calls[depth - 1];
    const int index = in.cur.index, last = frame.last;
    frame.last = index;
    if (last < 0) g_dbg.fresh[depth - 1] = true;
    if (g_dbg.stepping && step_pauses(round, depth, last, index))
        return run_pause_here(int(PauseReason::STEP), nullptr);
    const bool obey = g_dbg.any_enabled && !run_ignore_breakpoints();
    if (!(g_dbg.to_line && frame.cell == g_dbg.to_cell) &&
        !(obey && std::any_of(g_dbg.breakpoints.begin(), g_dbg.breakpoints.end(),
                              [&](const LineBreakpoint& b) { return b.cell == frame.cell; })))
        return 0;
    if (!arrives(in.list, last, index)) return 0;
    const int line = line_at(in.list, index);
    if (g_dbg.to_line && frame.cell == g_dbg.to_cell && line == g_dbg.to_line_number)
        return run_pause_here(int(PauseReason::STEP), nullptr);
    if (!obey) return 0;
    for (const LineBreakpoint& b : g_dbg.breakpoints) {
        if (!b.enabled || b.cell != frame.cell || b.line != line) continue;
        bool truth = true;
        const char* error =
            b.condition.empty() ? nullptr : condition_holds(b.condition, frame.cell, &truth);
        if (error != nullptr || truth) return run_pause_here(int(PauseReason::BREAKPOINT), error);
    }
    return 0;
}

} // namespace tarvex
