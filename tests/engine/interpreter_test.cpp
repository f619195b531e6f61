// The interpreter through whole runs: expressions, statements, cell calls,
// breakpoints, automatic output and the error report. Then the debugger, in
// both executors: every pause is recorded by the frontend's pump (why,
// where, the frames), which then asks for the next step, a run to a line,
// Continue, Run or Stop.
#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/node_store.h"
#include "core/value.h"
#include "io/output_stream.h"
#include "script/compiled_expr.h"
#include "script/debugger.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <deque>
#include <sstream>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

class Interp : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        cell_create("home");
        navigation_reset();
    }
    CellHandle cell(const char* name, const char* script = nullptr) {
        CellHandle c = cell_named(name);
        if (script) cell_set_script(c, script);
        return c;
    }
    // Runs a script in home through the Run command; returns the console.
    std::string run_home(const std::string& script, int* result = nullptr, bool to_brk = false) {
        int r = run_in_home(script, to_brk);
        if (result) *result = r;
        return ui.console;
    }
};

TEST_F(Interp, ExpressionStatementSetsTheCell) {
    cell("x");
    cell("y", "x + 1");
    run_home("set x to 4 y!");
    EXPECT_EQ(value_of("y"), "5");
    run_home("set x 10 y()");
    EXPECT_EQ(value_of("y"), "11");
    run_home("set x to 2 ^ 3");
    EXPECT_EQ(value_of("x"), "2");
    EXPECT_NE(ui.console.find("Invalid expression"), std::string::npos);
}

TEST_F(Interp, CellCallsWithArguments) {
    cell("f", "%1 + %2");
    EXPECT_EQ(run_home("out(f(1, 2))"), "3");
    EXPECT_EQ(value_of("f"), "3");
    cell("g", "%1");
    int r = 0;
    std::string out = run_home("out(g!)", &r);
    EXPECT_EQ(r, SE_ARGNUM_INVALID);
    EXPECT_NE(out.find("Argument number invalid IN CELL g"), std::string::npos);
    cell("empty_script");
    cell_set_value(cell_find("empty_script"), value_new_number(8));
    EXPECT_EQ(run_home("out(empty_script!)"), "8");
    EXPECT_EQ(run_home("out(max(3, 9, 2))"), "9");
    // Called with the result value alone: no argument.
    EXPECT_EQ(run_in_home("out(max())"), SE_BUILTIN_ARG);
    EXPECT_EQ(run_in_home("out(max(2);)"), SE_ILLEGAL_CHARACTER); // the argument list is released
}

TEST_F(Interp, Subscripts) {
    cell("a1");
    cell("a2");
    cell("a3");
    EXPECT_EQ(run_home("set a1[2] to 7 out(a3, a1[0])"), "7");
    EXPECT_EQ(run_in_home("out(home[1])"),
              SE_SUBSCRIPT_RANGE); // home is the last cell of the table
}

TEST_F(Interp, NestingLimits) {
    std::string deep = "out(" + std::string(60, '(') + "1" + std::string(60, ')') + ")";
    EXPECT_EQ(run_in_home(deep), SE_STACK_OVERFLOW);
    // Each parenthesis costs four levels (expression, sum, term, primary)
    // over the call, the statement and the first four: 48 fit. The 49th is
    // refused in its term, at the token after it, also when a sign was
    // passed first.
    auto nested = [](int k, const char* inner) {
        return "out(" + std::string(k, '(') + inner + std::string(k, ')') + ")";
    };
    EXPECT_EQ(run_in_home(nested(48, "-1")), 0);
    EXPECT_EQ(run_in_home(nested(49, "1")), SE_STACK_OVERFLOW);
    EXPECT_EQ(run_last_error().token_index, 2 + 49);
    EXPECT_EQ(run_in_home(nested(49, "-1")), SE_STACK_OVERFLOW);
    EXPECT_EQ(run_last_error().token_index, 2 + 49 + 1);
    // A second primary, and the right side of a comparison, nest exactly as
    // deep as a first: the level of the primary (the sum) before them has
    // ended. So `1 * (` fits 48 times too, and a factorial written
    // `%1 * f(%1 - 1)` recurses as deep as one written `f(%1 - 1) * %1`.
    auto nested_right = [](int k, const char* op) {
        std::string s = "out(";
        for (int i = 0; i < k; ++i)
            s += std::string("1 ") + op + " (";
        return s + "1" + std::string(k, ')') + ")";
    };
    for (const char* op : {"*", "<"}) {
        SCOPED_TRACE(op);
        EXPECT_EQ(run_in_home(nested_right(48, op)), 0);
        EXPECT_EQ(run_in_home(nested_right(49, op)), SE_STACK_OVERFLOW);
        EXPECT_EQ(run_last_error().token_index, 2 + 49 * 3);
    }
    for (const char* f : {"%1 * f(%1 - 1)", "f(%1 - 1) * %1", "1 < f(%1 - 1)"}) {
        SCOPED_TRACE(f);
        cell("f", (std::string("if (%1 < 1) {1} else {") + f + "}").c_str());
        EXPECT_EQ(run_in_home("out(f(26))"), 0);
        EXPECT_EQ(run_in_home("out(f(27))"), SE_STACK_OVERFLOW);
        EXPECT_EQ(cell_name_string(run_last_error().cell), "f");
        EXPECT_EQ(run_last_error().token_index, 2); // the condition's first token
    }
    cell("rec", "rec!");
    EXPECT_EQ(run_in_home("rec!"), SE_STACK_OVERFLOW);
    EXPECT_NE(ui.console.find("Stack overflow IN CELL rec"), std::string::npos);
}

TEST_F(Interp, IfChainsUseAndKeepTheirJumpCaches) {
    const char* s = "if (0) {out('a')} elseif (1) {out('b')} else {out('c')} "
                    "if (n = 1) {out('1')} elseif (n = 2) {out('2')} else {out('x')}";
    cell("n");
    EXPECT_EQ(run_home(s), "bx");
    cell_set_value(cell_find("n"), value_new_number(2));
    // Same script text: the tokens (and their caches) are reused.
    int r = run_again();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(ui.console, "b2");
    cell_set_value(cell_find("n"), value_new_number(1));
    run_again();
    EXPECT_EQ(ui.console, "b1");
    EXPECT_EQ(run_in_home("elseif (1) {}"), SE_ILLEGAL_STATEMENT);
    EXPECT_EQ(run_home("out('a') } out('never')", &r), "a");
    EXPECT_EQ(r, 0);
}

// An if walks all its clauses once before the first condition; after a
// complete walk it only jumps. A walk cut short by a malformed later clause
// must fail the same way on every run, before any clause runs.
TEST_F(Interp, IfFirstWalkFailsAlikeOnEveryRunAndJumpsAfterwards) {
    cell("i");
    EXPECT_EQ(run_home("for (i = 1 to 7) {if (i % 3 = 0) {out('x')} elseif (i % 3 = 1) {out('y')} "
                       "else {out('z')}}"),
              "yzxyzxy");
    int r = 0;
    const std::string failed = "a\nSCRIPT ERROR\nUnexpected end of script IN CELL home\n";
    EXPECT_EQ(run_home("out('a') if (1) {out('b')} elseif (1) {out('c') ", &r), failed);
    EXPECT_EQ(r, SE_UNEXPECTED_END);
    for (int again = 0; again < 2; ++again) {
        r = run_again();
        EXPECT_EQ(ui.console, failed);
        EXPECT_EQ(r, SE_UNEXPECTED_END);
    }
}

TEST_F(Interp, Loops) {
    cell("i");
    cell("n");
    EXPECT_EQ(run_home("for (i = 1 to 10 step 2) {out(i, ' ')}"), "1 3 5 7 9 ");
    EXPECT_EQ(value_of("i"), "11");
    EXPECT_EQ(run_home("for (i = 1 to 3) {out(i)}"), "123");
    EXPECT_EQ(value_of("i"), "3");
    EXPECT_EQ(run_home("for (i = 5 to 1) {out(i)}"), "");
    EXPECT_EQ(value_of("i"), "5");
    EXPECT_EQ(run_home("for (i = 3 to 3) {out(i)}"), "3");
    EXPECT_EQ(run_home("for (i = 1 to 3 step -1) {out(i)}"), "");
    EXPECT_EQ(run_home("for (i = 3 to 1 step -1) {out(i)}"), "321");
    EXPECT_EQ(run_home("set n 0 do {set n to n + 1} while (n < 3) out(n)"), "3");
    EXPECT_EQ(run_home("set n 0 while (n < 4) {set n to n + 1 out(n)}"), "1234");
}

TEST_F(Interp, ErrorReportNamesTheCell) {
    cell("a", "exit");
    int r = 0;
    EXPECT_EQ(run_home("a!", &r), "\nExit requested IN CELL a\n");
    EXPECT_EQ(r, SE_EXIT);
    EXPECT_EQ(last_flash(), "Exit requested");
    EXPECT_EQ(run_home("out(1", &r),
              "1\nSCRIPT ERROR\nMissing ',' or ')' in OUT stmt IN CELL home\n");
    EXPECT_EQ(run_in_home("out(1) ; out(2)"), SE_ILLEGAL_CHARACTER);
    EXPECT_EQ(run_in_home("; out(2)"), SE_INVALID_EXPRESSION);
}

TEST_F(Interp, LexicalErrorsStopBeforeTheScriptRuns) {
    CellHandle extra = cell_create_unlimited("zz_beyond");
    (void)extra;
    for (int i = 0; i < CELL_TABLE_SIZE; ++i) {
        char n[8];
        std::snprintf(n, sizeof n, "c%03d", i);
        cell_create_unlimited(n);
    }
    int r = 0;
    std::string out = run_home("out('x') ZZ_Beyond", &r);
    EXPECT_EQ(r, SE_LEXICAL);
    EXPECT_EQ(out, "\nSCRIPT ERROR\nLexical analysis IN CELL home\n");
    // The status line says which cell, by its own name, and why.
    EXPECT_EQ(last_flash(), "zz_beyond: only the first 256 cells in name order can be "
                            "named in scripts; a larger store lifts this");
}

TEST_F(Interp, IterationsAndGenericAutoOutput) {
    cell("count");
    cell("sq", "count * count");
    settings_set_iterations(3);
    settings_set_auto_output(AUTO_GENERIC);
    EXPECT_EQ(run_home("set count to count + 1 sq!"), "\n\nhome,sq\n1,1\n4,4\n9,9");
}

TEST_F(Interp, FormattedAutoOutput) {
    cell("x", "x + 1");
    cell("y", "x * 10");
    settings_set_auto_output(AUTO_FORMATTED);
    settings_set_iterations(2);
    settings_set_list_format("~%x,%y");
    EXPECT_EQ(run_home("x! y!"), "\n\n1,10\n2,20");
    settings_set_list_format("X=%x\\nY=%y!");
    cell_set_value(cell_find("x"), value_new_number(0));
    EXPECT_EQ(run_home("x! y!"), "\nX=x\nY=y!\nX=1\nY=10!\nX=2\nY=20!");
}

TEST_F(Interp, GenericListCutsValuesToFortyEightFormattedListWritesThemWhole) {
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"; // 52
    cell("w", ("'" + letters + "'").c_str());
    settings_set_auto_output(AUTO_GENERIC);
    EXPECT_EQ(run_home("w! 7"), "\n\nhome,w\n7," + letters.substr(0, 48));
    settings_set_auto_output(AUTO_FORMATTED);
    settings_set_list_format("~[%w]");
    EXPECT_EQ(run_home("w!"), "\n\n[" + letters + "]");
}

TEST_F(Interp, BreakpointsPauseResumeAndStop) {
    int pumps = 0;
    ui.on_pump = [&] {
        ++pumps;
        run_set_resume_request(true);
    };
    EXPECT_EQ(run_in_home("brk('one') brk(2) out('end')", true), 0); // Run to Brk
    EXPECT_EQ(ui.console, "\r<BRK:one>\r\r<BRK:2>\rend");
    EXPECT_EQ(pumps, 2);
    EXPECT_FALSE(run_breakpoint_pause());
    // Run ignores breakpoints: lines printed, no pause.
    pumps = 0;
    run_again();
    EXPECT_EQ(pumps, 0);
    // Stop while paused: "Run halted" without the SCRIPT ERROR line.
    ui.on_pump = [] { run_set_stop_request(true); };
    EXPECT_EQ(run_again(true), SE_HALTED);
    EXPECT_EQ(ui.console, "\r<BRK:one>\r\nRun halted IN CELL home\n");
    EXPECT_FALSE(run_ignore_breakpoints());
}

// The error's cell and token index, after jumps over clauses (first
// computed, then cached), loop rounds, and returns from calls.
TEST_F(Interp, ErrorPositionsAfterJumpsLoopsAndCalls) {
    cell("i");
    cell("x");
    cell("f", "1 + (2 * )");
    for (int round = 0; round < 2; ++round) {
        // Tokens 0-26 are the if chain; 27 is 1, 28 +, 29 the end.
        EXPECT_EQ(run_in_home("if (0) {out(1)} elseif (1) {out(2)} else {out(3)} 1 +"),
                  SE_UNEXPECTED_END);
        RunError e = run_last_error();
        EXPECT_EQ(e.cell, cell_root());
        EXPECT_EQ(e.token_index, 29);
        // In f, at its ')' (token 5), called from a loop's first round.
        EXPECT_EQ(run_in_home("for (i = 1 to 3) {f!}"), SE_INVALID_EXPRESSION);
        e = run_last_error();
        EXPECT_EQ(e.cell, cell_find("f"));
        EXPECT_EQ(e.token_index, 5);
    }
    // Back in home after calls: at its ')' (token 18).
    cell("f", "2");
    EXPECT_EQ(run_in_home("for (i = 1 to 2) {f!} set x to f! + )"), SE_INVALID_EXPRESSION);
    RunError e = run_last_error();
    EXPECT_EQ(e.cell, cell_root());
    EXPECT_EQ(e.token_index, 18);
}

TEST_F(Interp, CallStackWhilePaused) {
    cell("inner", "brk(0)");
    cell("outer", "inner!");
    std::vector<CellHandle> stack;
    ui.on_pump = [&] {
        stack = run_call_stack();
        run_set_resume_request(true);
    };
    run_home("outer!", nullptr, true);
    ASSERT_EQ(stack.size(), 3u);
    EXPECT_EQ(stack[0], cell_find("inner"));
    EXPECT_EQ(stack[1], cell_find("outer"));
    EXPECT_EQ(stack[2], cell_root());
    run_call_stack(); // no run: an internal error, answered with home
    EXPECT_EQ(last_flash(), "INTERNAL ERROR");
}

TEST_F(Interp, EditingARunningScriptIsSafe) {
    // While paused, the user edits the script of the cell that is running.
    ui.on_pump = [&] {
        cell_set_script(cell_root(), "out('new')");
        run_set_resume_request(true);
    };
    EXPECT_EQ(run_home("brk(1) out('old')", nullptr, true), "\r<BRK:1>\rold");
    run_again();
    EXPECT_EQ(ui.console, "new");
}

TEST_F(Interp, StopEndsALoopWithoutStatements) {
    int polls = 0;
    ui.on_pump_pending = [&] {
        if (++polls == 3) run_set_stop_request(true);
    };
    EXPECT_EQ(run_in_home("while (1) {}"), SE_HALTED);
}

TEST_F(Interp, RunningOutOfNodesEndsTheRunAndLosesNothing) {
    cell("x");
    uint16_t before = nodes_in_use();
    int r = 0;
    std::string out = run_home("set x to '' while (1) {set x to x cat 'abcdefghij'}", &r);
    EXPECT_EQ(r, SE_OUT_OF_MEMORY);
    EXPECT_NE(out.find("SCRIPT ERROR\nOut of memory IN CELL home"), std::string::npos);
    // The web is still usable: the biggest text the store held is kept, and
    // a new run works.
    EXPECT_GT(text_length(value_text(cell_value(cell_find("x")))), 10000u);
    EXPECT_LT(nodes_in_use(), before + 9000);
    EXPECT_EQ(run_home("set x to 1 out(x + 1)"), "2");
}

// ---- the debugger ----

class Debugger : public EngineTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        cell_create("home");
        for (const char* name : {"i", "x", "y", "sum"})
            cell_create(name);
        navigation_reset();
        interp_set_fast_path(GetParam());
        ui.on_pump = [this] { pumped(); };
    }
    void TearDown() override {
        debug_set_breakpoints({});
        interp_set_fast_path(true);
        EngineTest::TearDown();
    }
    CellHandle cell(const std::string& name, const char* script = nullptr) {
        CellHandle c = cell_find(name.c_str());
        if (c == 0) c = cell_create(name.c_str());
        if (script) cell_set_script(c, script);
        return c;
    }
    // "cell:line ..." (the first with the condition given).
    void breakpoints(const std::string& where, const char* condition = "") {
        std::vector<LineBreakpoint> list;
        std::istringstream in(where);
        for (std::string w; in >> w; condition = "") {
            size_t colon = w.find(':');
            list.push_back({cell(w.substr(0, colon)), std::stoi(w.substr(colon + 1)), condition});
        }
        debug_set_breakpoints(list);
    }
    // Runs home's script (to breakpoints unless plain) with the actions
    // given for the pauses in turn, then Continue: the pauses as "B f:2"
    // (B breakpoint, S step, K brk, then the cell and line), comma separated.
    std::string run(const char* script, const std::string& actions, bool plain = false) {
        todo.clear();
        std::istringstream in(actions);
        for (std::string a; in >> a;)
            todo.push_back(a);
        pauses.clear();
        frames.clear();
        run_in_home(script, !plain);
        return pauses;
    }
    void pumped() {
        CellHandle c = 0;
        LexPosition at;
        if (!run_pause_position(&c, &at)) {
            ADD_FAILURE() << "a pause that shows no position";
            run_set_stop_request(true);
            return;
        }
        if (!pauses.empty()) pauses += ", ";
        pauses += std::string(1, "NKBS"[int(debug_pause_reason())]) + " " + cell_name_string(c) +
                  ":" + std::to_string(at.line);
        std::string shown;
        for (const RunFrame& f : run_frames()) {
            shown += (shown.empty() ? "" : " ") + cell_name_string(f.cell);
            for (const std::string& a : f.args)
                shown += "[" + a + "]";
            shown += ":" + std::to_string(f.at.line);
        }
        frames.push_back(shown);
        std::string a = todo.empty() ? "go" : todo.front();
        if (!todo.empty()) todo.pop_front();
        if (a == "go" || a == "run") run_command(a == "go");
        if (a == "stop") run_set_stop_request(true);
        if (a.rfind("bp=", 0) == 0) {
            breakpoints(a.substr(3));
            run_command(true);
        }
        if (a == "over" || a == "into" || a == "out") {
            EXPECT_TRUE(debug_step(a == "over"   ? StepKind::OVER
                                   : a == "into" ? StepKind::INTO
                                                 : StepKind::OUT));
        }
        if (a.rfind("to:", 0) == 0) {
            EXPECT_TRUE(debug_run_to_line(cell_root(), std::stoi(a.substr(3))));
        }
    }
    std::deque<std::string> todo;
    std::string pauses;
    std::vector<std::string> frames;
};

// A loop over three lines, a call of f on its own line, loops on one line.
constexpr const char* LOOP = "set i to 0\nwhile (i < 2) {\nset i to i + 1\n}\nout(i)";
constexpr const char* CALL = "set x to 1\nf!\nout(y)";
constexpr const char* ONE_LINE = "set i to 0 while (i < 2) {set i to i + 1} out(i)";
constexpr const char* LOOP_CALL = "set i to 0 while (i < 2) {set i to i + 1 g!} out(y)";

TEST_P(Debugger, StepsBreakpointsAndRunsToALine) {
    cell("f", "set y to 1\nset y to 2");
    cell("g", "set y to i");
    cell("h", "if (%1 < 2) {1} else {%1}");
    cell("k", "set y to 1\nbrk('in k')\nset y to 2");
    struct Case {
        const char* script;
        const char* bps;
        const char* condition;
        const char* actions;
        const char* pauses;
        const char* output;
    } cases[] = {
        // Over goes past the call; Into enters it; Over leaves it at its end.
        {CALL, "home:1", "", "over over over", "B home:1, S home:2, S home:3", "2"},
        {CALL, "home:1", "", "over into over over", "B home:1, S home:2, S f:1, S f:2, S home:3",
         "2"},
        {CALL, "f:1", "", "out", "B f:1, S home:3", "2"},
        {"set x to f! + f!\nout(y)", "f:2", "", "over", "B f:2, B f:2", "2"},
        // A loop's first round starts where its statement did; later rounds
        // come back to the loop's line, and each call is a frame of its own.
        {LOOP, "home:1", "", "over over over over over over",
         "B home:1, S home:2, S home:3, S home:2, S home:3, S home:2, S home:5", "2"},
        {LOOP, "home:2", "", "", "B home:2, B home:2, B home:2", "2"},
        {LOOP, "home:3 home:5", "", "", "B home:3, B home:3, B home:5", "2"},
        {ONE_LINE, "home:1", "", "over over", "B home:1, S home:1, S home:1, B home:1, B home:1",
         "2"},
        {LOOP_CALL, "g:1", "", "", "B g:1, B g:1", "2"},
        // Into a call with arguments made inside an assignment, in a loop;
        // Over goes from the if to the statement of its block on that line.
        {"for (i = 1 to 2) {\nset y to h(i)\n}\nout(y)", "home:2", "", "into over go",
         "B home:2, S h:1, S h:1, B home:2", "2"},
        // Run to a line; a breakpoint on the way pauses first.
        {LOOP, "home:1", "", "to:5", "B home:1, S home:5", "2"},
        {LOOP, "home:1 home:3", "", "to:5 run", "B home:1, B home:3", "2"},
        // Conditions read cells and call builtins without effects.
        {LOOP, "home:3", "i = 1", "", "B home:3", "2"},
        {LOOP, "home:3", "(slen('ab' cat i) = 3) and (i > 0)", "", "B home:3", "2"},
        {LOOP, "home:3", "i > 5", "", "", "2"},
        // Stop while paused: the run halts, no breakpoint line written.
        {LOOP, "home:3", "", "stop", "B home:3", "\nRun halted IN CELL home\n"},
        // A brk pause steps like any other; a breakpoint set while paused,
        // on the line that comes next, pauses there.
        {"k!\nout(y)", "", "", "over over", "K k:2, S k:3, S home:2", "\r<BRK:in k>\r2"},
        {"k!", "", "", "bp=k:3", "K k:2, B k:3", "\r<BRK:in k>\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script + std::string(" / ") + c.bps + " / " + c.condition);
        breakpoints(c.bps, c.condition);
        EXPECT_EQ(run(c.script, c.actions), c.pauses);
        EXPECT_EQ(ui.console, c.output);
        EXPECT_FALSE(run_breakpoint_pause());
    }
    // Run ignores breakpoints; a disabled breakpoint never pauses.
    EXPECT_EQ(run(LOOP, "", true), "");
    debug_set_breakpoints({LineBreakpoint{cell_root(), 3, "", false}});
    EXPECT_EQ(run(LOOP, ""), "");
    // No pause: nothing to step from.
    EXPECT_FALSE(debug_step(StepKind::OVER));
    EXPECT_FALSE(debug_run_to_line(cell_root(), 1));
    EXPECT_TRUE(run_frames().empty());
}

// Every active call is a frame, recursion included, with its arguments and
// where it stands: the innermost at the pause, the others at their calls.
TEST_P(Debugger, FramesOfARecursion) {
    cell("fib", "if (%1 < 2) {\n set fib to %1\n} else {\n"
                " set fib to fib(%1 - 1) +\n fib(%1 - 2)\n}");
    breakpoints("fib:2", "%1 = 1");
    EXPECT_EQ(run("out(fib(3))", "go out"), "B fib:2, B fib:2");
    EXPECT_EQ(ui.console, "2");
    EXPECT_EQ(frames, (std::vector<std::string>{"fib[1]:2 fib[2]:4 fib[3]:4 home:1",
                                                "fib[1]:2 fib[3]:5 home:1"}));
    cell("add", "set sum to %1 + %2");
    breakpoints("home:1");
    EXPECT_EQ(run("set sum to 0\nadd(2, 'x' cat 3)\nout(sum)", "over into out"),
              "B home:1, S home:2, S add:1, S home:3");
    EXPECT_EQ(frames[2], "add[2][x3]:1 home:2");
}

// A condition that errs or would change anything pauses, says why in the
// status line, and changes no value.
TEST_P(Debugger, ConditionsThatFailPause) {
    cell("f", "set i to 99");
    for (const char* condition :
         {"i +", "f!", "f(1) = 1", "rand(1) > 2", "previous(i) = 1", "set i to 5"}) {
        SCOPED_TRACE(condition);
        breakpoints("home:3", condition);
        ui.flashes.clear();
        EXPECT_EQ(run(LOOP, ""), "B home:3, B home:3");
        EXPECT_EQ(ui.console, "2");
        ASSERT_FALSE(ui.flashes.empty());
        EXPECT_EQ(ui.flashes.front(),
                  condition[1] == ' ' ? "Unexpected end of script" : CONDITION_EFFECT_TEXT);
    }
}

// Breakpoints whose conditions never hold change nothing a script sees:
// not its output, not mem() at any point, not the nodes it takes.
TEST_P(Debugger, BreakpointsCostTheScriptNothing) {
    cell("g", "set x to x cat %1\nout(mem(), ' ')");
    const char* script = "set x to ''\nset i to 0\nwhile (i < 4) {\nset i to i + 1\n"
                         "g(i cat 'abc')\n}\nout(mem(), x)";
    run(script, "", true);
    uint64_t before = node_allocations();
    std::string plain = (run(script, ""), ui.console);
    uint64_t taken = node_allocations() - before;
    uint16_t in_use = nodes_in_use();
    debug_set_breakpoints(
        {{cell_root(), 4, "slen(x cat 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx') < 0"},
         {cell("g"), 2, "mem() < 0"},
         {cell("g"), 1, "%1 = 'none'"}});
    before = node_allocations();
    EXPECT_EQ(run(script, ""), "");
    EXPECT_EQ(ui.console, plain);
    EXPECT_EQ(node_allocations() - before, taken);
    EXPECT_EQ(nodes_in_use(), in_use);
}

// A condition that would take the store below the lowest point the run
// reached is an error; the run goes on as it would have.
TEST_P(Debugger, ConditionsNeverTakeTheStoreLower) {
    const char* script = "set x to 'abcdefghijklmnopqrstuvwxyz0123456789'\n"
                         "while (mem() < 2000) {set x to x cat x}\nout(mem())";
    node_track_low_water();
    run(script, "");
    const std::string plain = ui.console;
    const int low = node_low_water();
    breakpoints("home:3", "slen(x cat x) > 0");
    node_track_low_water();
    ui.flashes.clear();
    EXPECT_EQ(run(script, ""), "B home:3");
    EXPECT_EQ(ui.console, plain);
    EXPECT_EQ(node_low_water(), low);
    ASSERT_FALSE(ui.flashes.empty());
    EXPECT_EQ(ui.flashes.front(), "Out of memory");
}

INSTANTIATE_TEST_SUITE_P(BothExecutors, Debugger, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Compiled" : "Walker"; });

} // namespace
} // namespace tarvex::test
