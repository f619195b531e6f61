// The run engine: iterations with automatic output, cell calls, the
// breakpoint pause, the run flags, and the engine side of Run.
#include "script/run_engine.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/handle_stack.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "io/input_stream.h"
#include "io/output_stream.h"
#include "lexer/lexer.h"
#include "script/compiled_expr.h"
#include "script/debugger.h"
#include "script/interpreter.h"
#include "settings/settings.h"
#include "web/navigation.h"

#include <string>
#include <utility>
#include <vector>

namespace tarvex {

namespace detail {
Interpreter g_interpreter;
RunPoll g_run_poll;
} // namespace detail

namespace {

Interpreter& g_interp = detail::g_interpreter;

struct RunState {
    // The stop request lives with the inline poll.
    bool& stop = detail::g_run_poll.stop;
    bool resume = false, pause = false, ignore = false, active = false;
    uint8_t auto_mode = AUTO_NONE;
    NodeHandle auto_stack = 0;
    std::vector<CellHandle> format_cells;
    RunHook plot_begin = nullptr, plot_end = nullptr;
    CellWatch plot_watches = nullptr;
    uint64_t steps = 0, step_limit = 0;
    RunError last_error;
    // The statement a pause waits at: its cell and token index.
    CellHandle pause_cell = 0;
    int pause_token = -1;
} g_run;

constexpr int FORMAT_CELLS_MAX = 64;
constexpr size_t AUTO_FIELD_MAX = 48;

bool is_name_start(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9') || c == '_'; }

// The %names of the list format that name cells, in order.
void build_format_cells() {
    g_run.format_cells.clear();
    std::string f = settings_list_format();
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '%' || i + 1 >= f.size() || !is_name_start(f[i + 1])) continue;
        size_t j = i + 1;
        while (j < f.size() && is_name_char(f[j]))
            ++j;
        CellHandle c = cell_find(f.substr(i + 1, j - i - 1).c_str());
        if (c != 0 && g_run.format_cells.size() < FORMAT_CELLS_MAX) g_run.format_cells.push_back(c);
        i = j - 1;
    }
}

std::string cut(std::string s) {
    if (s.size() > AUTO_FIELD_MAX) s.resize(AUTO_FIELD_MAX);
    return s;
}

// A cell's value as the automatic output writes it: "0" for none. The
// generic list cuts its fields; the formatted list writes values whole.
std::string auto_value_text(CellHandle c) {
    NodeHandle v = cell_value(c);
    return v != 0 ? value_display(v) : "0";
}

// Writes the list format, with "\n" as a newline and any other escaped
// character as itself; %names become the values of the format cells (line)
// or are written without their '%' (header).
int write_list_format(bool header) {
    std::string f = settings_list_format();
    size_t i = 0;
    if (!f.empty() && f[0] == '~') i = 1;
    size_t next_cell = 0;
    std::string out;
    while (i < f.size()) {
        char c = f[i++];
        if (c == '\\') {
            if (i >= f.size()) break;
            char e = f[i++];
            out += e == 'n' ? '\n' : e;
        } else if (c == '%') {
            if (header) continue;
            if (i >= f.size() || !is_name_start(f[i])) continue;
            while (i < f.size() && is_name_char(f[i]))
                ++i;
            if (next_cell >= g_run.format_cells.size()) break; // the list ran out
            out += auto_value_text(g_run.format_cells[next_cell++]);
        } else {
            out += c;
        }
    }
    return output_text(out.c_str());
}

int auto_output_header() {
    if (g_run.auto_mode == AUTO_GENERIC) {
        std::string line = "\n\n";
        NodeHandle s = g_run.auto_stack;
        hstack_cursor_reset(s);
        bool first = true;
        for (NodeHandle c = hstack_cursor_next(s); c != 0; c = hstack_cursor_next(s)) {
            if (!first) line += ',';
            line += cut(cell_name_string(c));
            first = false;
        }
        return output_text(line.c_str());
    }
    if (g_run.auto_mode == AUTO_FORMATTED) {
        int r = output_newline();
        if (r != 0) return r;
        const char* f = settings_list_format();
        return f[0] == '~' ? 0 : write_list_format(true);
    }
    return 0;
}

int auto_output_line() {
    if (g_run.auto_mode == AUTO_GENERIC) {
        std::string line = "\n";
        bool first = true;
        for (NodeHandle c = hstack_pop(g_run.auto_stack); c != 0;
             c = hstack_pop(g_run.auto_stack)) {
            if (!first) line += ',';
            line += cut(auto_value_text(c));
            first = false;
        }
        return output_text(line.c_str());
    }
    if (g_run.auto_mode == AUTO_FORMATTED) {
        int r = output_newline();
        return r != 0 ? r : write_list_format(false);
    }
    return 0;
}

// The index of the token at which an error was met: the current token of
// the list being read, or for a lexical error the first bad identifier.
int error_token_index(int code, CellHandle owner, TokenList list) {
    if (code == SE_LEXICAL) {
        TokenList l = cell_get(owner, CF_SCRIPT_TOKENS);
        if (l == 0) return -1;
        TokenCursor saved = tokens_save(l);
        int found = -1;
        for (Token t = tokens_first(l); t && token_kind(t) != END_OF_FILE; t = tokens_next(l)) {
            if (token_kind(t) == ERROR && static_cast<int8_t>(token_aux(t)) == SE_BAD_IDENTIFIER) {
                found = tokens_current_index(l);
                break;
            }
        }
        tokens_restore(l, saved);
        return found;
    }
    if (list == 0 || tokens_owner(list) != owner) return -1;
    return tokens_current_index(list);
}

// started: the cell the run was started with, named when no script was
// being read yet.
void report_script_error(int code, CellHandle started) {
    Interpreter& in = g_interp;
    const char* msg = script_error_message(code);
    // The interpreter walks with a cursor of its own: the list is told
    // where the error was met.
    if (in.list != 0 && in.tok != nullptr) tokens_restore(in.list, in.cur);
    TokenList list = tokens_current_script_list();
    // A lexical error belongs to the cell being called, whose list was
    // never read.
    CellHandle owner = code == SE_LEXICAL || list == 0 ? in.executing : tokens_owner(list);
    if (owner == 0) owner = started;
    g_run.last_error = RunError{code, owner, error_token_index(code, owner, list)};
    // A cell name that did not lex: the status line says which cell and why.
    if (code == SE_LEXICAL) {
        std::string cause =
            lex_error_cause(text_to_string(cell_script(owner)), g_run.last_error.token_index);
        if (!cause.empty()) script_error_cause(cause);
    }
    status_flash(script_error_status(code));
    output_newline();
    if (code != SE_EXIT && code != SE_HALTED && code != SE_OPERATION_ABORTED) {
        output_text("SCRIPT ERROR");
        output_newline();
    }
    output_location(msg, owner);
    output_newline();
}

void iteration_begin() {
    Interpreter& in = g_interp;
    g_run.auto_mode = settings_auto_output();
    in.depth = 0;
    in.root = 0;
    in.list = 0;
    in.tok = nullptr;
    in.cur = {};
    g_run.auto_stack = hstack_new();
    detail::debug_iteration_begin();
    cstack_open(in.frames);
    cstack_open(in.values);
    cstack_open(in.args);
}

void iteration_teardown() {
    Interpreter& in = g_interp;
    hstack_free(g_run.auto_stack);
    g_run.auto_stack = 0;
    for (NodeHandle v = 0; cstack_pop(in.values, &v);)
        value_free(v);
    for (NodeHandle a = 0; cstack_pop(in.args, &a);)
        valuelist_free(a);
    while (in.frames.count > 0)
        position_restore();
    cstack_close(in.values);
    cstack_close(in.args);
    cstack_close(in.frames);
    in.root = 0;
    in.list = 0;
    in.tok = nullptr;
    in.cur = {};
}

// The values as a save records them: each cell's current value as shown.
// Scripts change values through assignments, loops and the matrix builtins
// (in place), so a run is compared as a whole.
std::vector<std::pair<CellHandle, std::string>> saved_values() {
    std::vector<std::pair<CellHandle, std::string>> values;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) values.emplace_back(e, value_display(cell_value(e)));
    return values;
}

// One iteration: the call, its result, and the automatic output.
int iteration(CellHandle cell, bool first) {
    int r = call_cell(cell, 0);
    if (r != 0) return r;
    NodeHandle v = pop_value();
    if (v == 0) return SE_INTERNAL;
    value_free(v);
    if (first && (r = auto_output_header()) != 0) return r;
    return auto_output_line();
}

struct ActiveRun {
    ActiveRun() {
        g_run.active = true;
        tokens_set_retiring(true);
    }
    ~ActiveRun() {
        g_run.active = false;
        tokens_set_retiring(false);
        tokens_free_retired();
    }
};

} // namespace

// ---- tokens and positions ---------------------------------------------------------

void seek(uint16_t index) {
    Interpreter& in = g_interp;
    if (in.tok != nullptr) in.tok = compiled_seek(in.list, in.cur, index);
}

int expect_missing(uint8_t kind) {
    switch (kind) {
    case LPAREN: return SE_EXPECTED_LPAREN;
    case RPAREN: return SE_EXPECTED_RPAREN;
    case EQUAL: return SE_EXPECTED_EQUAL;
    default: return SE_SYNTAX;
    }
}

void interpreter_mark() {
    Interpreter& in = g_interp;
    if (g_run.auto_stack != 0) hstack_mark(g_run.auto_stack);
    for (uint32_t i = 0; i < in.values.count; ++i)
        value_mark(in.values.entries[i]);
    for (uint32_t i = 0; i < in.args.count; ++i)
        valuelist_mark(in.args.entries[i]);
    node_claim_charges(cstack_charges(in.values) + cstack_charges(in.args) +
                       cstack_charges(in.frames));
}

void run_set_step_limit(uint64_t steps) {
    g_run.step_limit = steps;
    g_run.steps = 0;
    run_poll_refresh();
}

void run_poll_refresh() {
    const bool was = detail::g_run_poll.slow;
    const bool watching = detail::debug_watching();
    detail::g_run_poll.slow = g_run.step_limit != 0 || watching;
    // What the frames did while nobody watched is not known (a pause has
    // told where they stand already).
    if (watching && !was && g_run.active && !g_run.pause)
        detail::debug_frames_resync(g_interp.cur.index);
}

int detail::run_poll_slow(bool round) {
    if (g_run.step_limit != 0 && ++g_run.steps >= g_run.step_limit) g_run.stop = true;
    if (g_run.stop || !debug_watching()) return 0;
    return debug_check(round);
}

// ---- flags ------------------------------------------------------------------------

void run_set_stop_request(bool on) { g_run.stop = on; }
bool run_resume_request() { return g_run.resume; }
void run_set_resume_request(bool on) { g_run.resume = on; }
bool run_breakpoint_pause() { return g_run.pause; }
bool run_ignore_breakpoints() { return g_run.ignore; }
void run_set_ignore_breakpoints(bool on) {
    g_run.ignore = on;
    run_poll_refresh();
}
bool run_active() { return g_run.active; }
void run_set_plot_hooks(RunHook begin, RunHook end, CellWatch watches) {
    g_run.plot_begin = begin;
    g_run.plot_end = end;
    g_run.plot_watches = watches;
}

// ---- calls and runs ----------------------------------------------------------------

namespace {

// What a handed-over result passes by, at most: its copy, the copy's text
// chunk, the value-stack block its push may begin, the caller's block for
// the operand popped and pushed again, and the automatic output's block
// taken after the check.
constexpr int HANDED_PASSING_MAX = 5;

// Whether a call's result can be handed over: the copy, its text and its
// push would be made and given back with nothing looking at the store in
// between, where taking them notes nothing, so they only count.
bool result_handed_over(NodeHandle value) {
    if (value == 0 || value_kind(value) != VK_NUMBER) return false;
    const Text t = value_text(value);
    if (t != 0 && (chain_next(t) != 0 || node_aux(t) >= TEXT_CHUNK)) return false;
    if (!detail::store_roomy(HANDED_PASSING_MAX)) return false;
    node_charges_passed(t != 0 && node_aux(t) != 0 ? 2 : 1);
    if (g_interp.values.count % HSTACK_SLOTS == 0) node_charges_passed(1);
    return true;
}

} // namespace

int call_cell(CellHandle cell, NodeHandle args, NodeHandle* handed) {
    Interpreter& in = g_interp;
    // First, while the registers are free: a record past the count that
    // ends up not pushed is never read.
    in.calls[in.args.count] = CallRecord{cell, static_cast<uint16_t>(in.frames.count)};
    Nest nest;
    if (!nest.ok) return SE_STACK_OVERFLOW;
    if (cell == 0) return 0;
    if (in.root == 0) in.root = cell;
    in.executing = cell;
    if (cell_take_script_changed(cell)) {
        relex_cell(cell);
        if (lex_error_count() != 0) return SE_LEXICAL;
    }
    cstack_push(in.args, args);
    // The argument list is the caller's to free, whatever happens here.
    struct PopArgs {
        ~PopArgs() {
            NodeHandle a;
            cstack_pop(g_interp.args, &a);
        }
    } pop_args;
    TokenList list = cell_get(cell, CF_SCRIPT_TOKENS);
    if (list != 0) {
        in.list = list;
        in.tok = tokens_first_cursor(list, in.cur);
        if (in.tok != nullptr && token_kind(in.tok) != END_OF_FILE) {
            int r = interp_fast_path() ? compiled_statement_list(cell) : exec_statement_list(cell);
            if (r != 0) return r;
        }
    }
    return call_result(cell, handed);
}

int call_result(CellHandle cell, NodeHandle* handed) {
    const NodeHandle value = cell_value(cell);
    if (handed != nullptr && result_handed_over(value)) {
        *handed = value;
    } else {
        NodeHandle result = value_new();
        push_value(result);
        value_copy(result, value);
    }
    if (g_run.auto_mode == AUTO_GENERIC) hstack_push(g_run.auto_stack, cell);
    return 0;
}

bool run_calls_watched() { return g_run.auto_mode == AUTO_GENERIC; }
bool run_cell_watched(CellHandle c) { return g_run.plot_watches && g_run.plot_watches(c); }

int run(CellHandle cell) {
    ActiveRun active;
    g_run.steps = 0;
    g_run.last_error = RunError{};
    g_interp.executing = 0;
    tokens_forget_current_script();
    detail::debug_run_begin();
    if (settings_auto_output() == AUTO_FORMATTED) build_format_cells();
    uint32_t count = settings_iterations();
    eof_set(0);
    int result = 0;
    for (uint32_t i = 0; i < count && result == 0; ++i) {
        int r;
        try {
            iteration_begin();
            r = iteration(cell, i == 0);
        } catch (const NodeExhausted&) {
            // The store gave out mid-run: end the run like any other error;
            // the outermost guard reclaims what the unwound calls held.
            building_chain_release();
            input_wait_clear();
            guard_request_reclaim();
            r = SE_OUT_OF_MEMORY;
        }
        if (r != 0) report_script_error(r, cell);
        iteration_teardown();
        result = r;
    }
    return result;
}

namespace {

struct EndPause {
    ~EndPause() {
        g_run.pause = g_run.resume = g_run.stop = false;
        run_poll_refresh();
    }
};

// The wait of every pause, once it is known to happen, at the statement the
// pause marks: the status, the owner made current, then Resume or Stop.
int pause_wait(CellHandle remembered, const char* note) {
    Interpreter& in = g_interp;
    // What was written so far is seen at the pause, the part of a line too.
    if (output_is_open() && output_to_console()) console_flush();
    status_show("Paused In Breakpoint...");
    if (note != nullptr) status_flash(note);
    CellHandle owner = tokens_owner(in.list);
    if (owner != 0) {
        make_current(owner);
        cell_list_select_current();
    }
    while (!g_run.resume && !g_run.stop)
        ui_pump_once();
    if (g_run.stop) {
        g_run.ignore = false;
        return SE_HALTED;
    }
    if (current_cell() != owner && remembered != 0) {
        commit_all_panes();
        make_current(remembered);
    }
    status_show("Working...");
    return 0;
}

} // namespace

int breakpoint() {
    Interpreter& in = g_interp;
    Nest nest;
    if (!nest.ok) return SE_STACK_OVERFLOW;
    g_run.resume = g_run.stop = false;
    g_run.pause = true;
    EndPause end_pause;
    CellHandle remembered = current_cell();
    g_run.pause_cell = tokens_owner(in.list);
    g_run.pause_token = in.cur.index;
    int r = advance();
    if (r == 0) r = expect(LPAREN);
    NodeHandle v = 0;
    if (r == 0) r = eval_to_value(&v);
    if (r != 0) return r;
    value_to_text(v);
    std::string text = text_to_string(value_text(v));
    value_free(v);
    if (text.size() > size_t(TEXT_SCRATCH_MAX)) text.resize(TEXT_SCRATCH_MAX);
    console_break_line(text);
    if ((r = expect(RPAREN)) != 0) return r;
    if (g_run.ignore) return 0;
    detail::debug_pause_begin(PauseReason::BRK, g_run.pause_token);
    return pause_wait(remembered, nullptr);
}

int run_pause_here(int reason, const char* note) {
    Interpreter& in = g_interp;
    if (g_run.stop) return SE_HALTED;
    g_run.resume = false;
    g_run.pause = true;
    EndPause end_pause;
    g_run.pause_cell = tokens_owner(in.list);
    g_run.pause_token = in.cur.index;
    detail::debug_pause_begin(static_cast<PauseReason>(reason), g_run.pause_token);
    return pause_wait(current_cell(), note);
}

RunError run_last_error() { return g_run.last_error; }

bool run_pause_position(CellHandle* cell, LexPosition* out) {
    CellHandle c = g_run.pause_cell;
    if (!g_run.pause || g_run.ignore || c == 0 || g_run.pause_token < 0 || entry_kind(c) != NK_CELL)
        return false;
    *cell = c;
    return lex_token_position(text_to_string(cell_script(c)),
                              static_cast<uint16_t>(g_run.pause_token), out);
}

bool run_error_position(LexPosition* out) {
    const RunError& e = g_run.last_error;
    if (e.code == 0 || e.cell == 0 || e.token_index < 0 || entry_kind(e.cell) != NK_CELL)
        return false;
    return lex_token_position(text_to_string(cell_script(e.cell)),
                              static_cast<uint16_t>(e.token_index), out);
}

std::vector<CellHandle> run_call_stack() {
    std::vector<CellHandle> stack;
    if (!g_run.active) {
        status_error(SE_INTERNAL_IO);
        stack.push_back(cell_root());
        return stack;
    }
    Interpreter& in = g_interp;
    stack.push_back(in.executing);
    for (uint32_t i = in.frames.count; i-- > 0;) {
        CellHandle owner = tokens_owner(in.frames.entries[i].list);
        if (owner != stack.back()) stack.push_back(owner);
    }
    if (in.root != stack.back()) stack.push_back(in.root);
    return stack;
}

CellHandle run_root_cell() {
    if (!g_run.active) {
        status_error(SE_INTERNAL_IO);
        return cell_root();
    }
    return g_interp.root;
}

CellHandle run_executing_cell() {
    if (!g_run.active) {
        status_error(SE_INTERNAL_IO);
        return cell_root();
    }
    return g_interp.executing;
}

const char* run_refusal() {
    if (frontend().search_in_progress()) return "End search before running";
    if (input_wait()) return RUN_ALREADY_TEXT;
    return nullptr;
}

int run_command(bool to_breakpoint) {
    if (const char* refusal = run_refusal()) {
        status_flash(refusal);
        return 0;
    }
    g_run.stop = false;
    g_run.ignore = !to_breakpoint;
    run_poll_refresh();
    if (g_run.pause) {
        g_run.resume = true;
        return 0;
    }
    if (g_run.active) {
        status_flash(RUN_ALREADY_TEXT);
        return 0;
    }
    CellHandle shown = current_cell();
    commit_all_panes();
    cell_histories_reset();
    output_open(); // a failure is shown by the stream, with the file's path
    // After the console is cleared for the run, so that a plot error line
    // stays, and before the script writes anything.
    if (settings_plotting() && g_run.plot_begin) g_run.plot_begin();
    auto before = saved_values();
    int r = run(shown);
    if (saved_values() != before) web_set_modified(true);
    int closed = output_close(); // a failed final write is reported, not lost
    if (r == 0) r = closed;
    input_close();
    if (g_run.plot_end) g_run.plot_end();
    if (current_view() != VIEW_VALUE) commit_all_panes();
    reshow_current();
    return r;
}

} // namespace tarvex
