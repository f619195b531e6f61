// The interpreter through whole runs: expressions, statements, cell calls,
// breakpoints, automatic output and the error report.
#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "io/output_stream.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <string>

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

} // namespace
} // namespace tarvex::test
