// The debugger through whole runs, in both executors: every pause is
// recorded by the frontend's pump (why, where, the frames), which then asks
// for the next step, a run to a line, Continue, Run or Stop.
#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/node_store.h"
#include "script/compiled_expr.h"
#include "script/debugger.h"
#include "script/run_engine.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <deque>
#include <sstream>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

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
