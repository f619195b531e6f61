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
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

struct Bp {
    const char* cell;
    int line;
    const char* condition = "";
};

class Debugger : public EngineTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        cell_create("home");
        navigation_reset();
        interp_set_fast_path(GetParam());
        ui.on_pump = [this] { pumped(); };
    }
    void TearDown() override {
        debug_set_breakpoints({});
        interp_set_fast_path(true);
        EngineTest::TearDown();
    }
    CellHandle cell(const char* name, const char* script = nullptr) {
        CellHandle c = cell_find(name);
        if (c == 0) c = cell_create(name);
        if (script) cell_set_script(c, script);
        return c;
    }
    void breakpoints(const std::vector<Bp>& bps) {
        std::vector<LineBreakpoint> list;
        for (const Bp& b : bps)
            list.push_back(LineBreakpoint{cell(b.cell), b.line, b.condition, true});
        debug_set_breakpoints(list);
    }
    // Runs home's script (to breakpoints unless plain) with the actions
    // given for the pauses in turn (then Continue): the pauses as "B f:2"
    // (B breakpoint, S step, K brk, then the cell and line), comma separated.
    std::string run(const char* script, std::deque<std::string> actions, bool plain = false) {
        todo = std::move(actions);
        pauses.clear();
        result = run_in_home(script, !plain);
        return pauses;
    }
    void pumped() {
        CellHandle c = 0;
        LexPosition at;
        ASSERT_TRUE(run_pause_position(&c, &at));
        const char why = "NKBS"[static_cast<int>(debug_pause_reason())];
        if (!pauses.empty()) pauses += ", ";
        pauses += std::string(1, why) + " " + cell_name_string(c) + ":" + std::to_string(at.line);
        frames.clear();
        for (const RunFrame& f : run_frames()) {
            if (!frames.empty()) frames += " ";
            frames += cell_name_string(f.cell);
            for (const std::string& a : f.args)
                frames += "[" + a + "]";
            frames += ":" + std::to_string(f.at.line);
        }
        frame_log.push_back(frames);
        std::string a = todo.empty() ? "go" : todo.front();
        if (!todo.empty()) todo.pop_front();
        const StepKind kinds[] = {StepKind::OVER, StepKind::INTO, StepKind::OUT};
        const char* names[] = {"over", "into", "out"};
        for (int k = 0; k < 3; ++k)
            if (a == names[k]) {
                EXPECT_TRUE(debug_step(kinds[k]));
            }
        if (a == "go" || a == "run") run_command(a == "go");
        if (a == "stop") run_set_stop_request(true);
        if (a.rfind("to ", 0) == 0) {
            size_t colon = a.find(':');
            EXPECT_TRUE(debug_run_to_line(cell(a.substr(3, colon - 3).c_str()),
                                          std::stoi(a.substr(colon + 1))));
        }
    }
    std::deque<std::string> todo;
    std::string pauses, frames;
    std::vector<std::string> frame_log;
    int result = 0;
};

// A loop over three lines, a call of f on its own line, a loop on one line.
constexpr const char* LOOP = "set i to 0\nwhile (i < 2) {\nset i to i + 1\n}\nout(i)";
constexpr const char* CALL = "set x to 1\nf!\nout(y)";
constexpr const char* ONE_LINE = "set i to 0 while (i < 2) {set i to i + 1} out(i)";

TEST_P(Debugger, StepsBreakpointsAndRunsToALine) {
    cell("i");
    cell("x");
    cell("y");
    cell("f", "set y to 1\nset y to 2");
    struct Case {
        const char* script;
        std::vector<Bp> bps;
        std::deque<std::string> actions;
        const char* pauses;
        const char* output;
    } cases[] = {
        // Over goes past the call; Into enters it and Over leaves it at its end.
        {CALL, {{"home", 1}}, {"over", "over", "over"}, "B home:1, S home:2, S home:3", "2"},
        {CALL,
         {{"home", 1}},
         {"over", "into", "over", "over"},
         "B home:1, S home:2, S f:1, S f:2, S home:3",
         "2"},
        {CALL, {{"f", 1}}, {"out"}, "B f:1, S home:3", "2"},
        {CALL, {{"f", 2}}, {"over"}, "B f:2, S home:3", "2"},
        // A loop's first round starts where its statement did; later rounds
        // come back to the loop's line.
        {LOOP,
         {{"home", 1}},
         {"over", "over", "over", "over", "over", "over"},
         "B home:1, S home:2, S home:3, S home:2, S home:3, S home:2, S home:5",
         "2"},
        {LOOP, {{"home", 2}}, {}, "B home:2, B home:2, B home:2", "2"},
        {LOOP, {{"home", 3}, {"home", 5}}, {}, "B home:3, B home:3, B home:5", "2"},
        {ONE_LINE, {{"home", 1}}, {}, "B home:1, B home:1, B home:1", "2"},
        {ONE_LINE,
         {{"home", 1}},
         {"over", "over"},
         "B home:1, S home:1, S home:1, B home:1, B home:1",
         "2"},
        // Run to a line; a breakpoint on the way pauses first.
        {LOOP, {{"home", 1}}, {"to home:5"}, "B home:1, S home:5", "2"},
        {LOOP, {{"home", 1}, {"home", 3}}, {"to home:5", "run"}, "B home:1, B home:3", "2"},
        // Conditions: read cells and call builtins without effects.
        {LOOP, {{"home", 3, "i = 1"}}, {}, "B home:3", "2"},
        {LOOP, {{"home", 3, "(slen('ab' cat i) = 3) and (i > 0)"}}, {}, "B home:3", "2"},
        {LOOP, {{"home", 3, "i > 5"}}, {}, "", "2"},
        // Stop while paused at a breakpoint: the run halts, no line written.
        {LOOP, {{"home", 3}}, {"stop"}, "B home:3", "\nRun halted IN CELL home\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script + std::string(" / ") + c.pauses + " / " +
                     (c.bps.empty() ? "" : c.bps[0].condition));
        breakpoints(c.bps);
        EXPECT_EQ(run(c.script, c.actions), c.pauses);
        EXPECT_EQ(ui.console, c.output);
        EXPECT_FALSE(run_breakpoint_pause());
    }
    // Run ignores breakpoints; a disabled breakpoint never pauses.
    breakpoints({{"home", 3}});
    EXPECT_EQ(run(LOOP, {}, true), "");
    debug_set_breakpoints({LineBreakpoint{cell("home"), 3, "", false}});
    EXPECT_EQ(run(LOOP, {}), "");
    // No pause: nothing to step from.
    EXPECT_FALSE(debug_step(StepKind::OVER));
    EXPECT_FALSE(debug_run_to_line(cell("home"), 1));
    EXPECT_TRUE(run_frames().empty());
}

// A brk pause steps like any other: the reason is told.
TEST_P(Debugger, StepsFromABrk) {
    cell("y");
    cell("f", "set y to 1\nbrk('in f')\nset y to 2");
    debug_set_breakpoints({});
    EXPECT_EQ(run("f!\nout(y)", {"over", "over"}), "K f:2, S f:3, S home:2");
    EXPECT_EQ(ui.console, "\r<BRK:in f>\r2");
}

// Every active call is a frame, recursion included, with its arguments and
// where it stands: the innermost at the pause, the others at their calls.
TEST_P(Debugger, FramesOfARecursion) {
    cell("fib", "if (%1 < 2) {\n set fib to %1\n} else {\n"
                " set fib to fib(%1 - 1) +\n fib(%1 - 2)\n}");
    breakpoints({{"fib", 2, "%1 = 1"}});
    EXPECT_EQ(run("out(fib(3))", {"go", "out"}), "B fib:2, B fib:2");
    EXPECT_EQ(ui.console, "2");
    ASSERT_EQ(frame_log.size(), 2u);
    EXPECT_EQ(frame_log[0], "fib[1]:2 fib[2]:4 fib[3]:4 home:1");
    EXPECT_EQ(frame_log[1], "fib[1]:2 fib[3]:5 home:1");
    // Into a call with two arguments, then out of it.
    cell("add", "set sum to %1 + %2");
    cell("sum");
    breakpoints({{"home", 1}});
    EXPECT_EQ(run("set sum to 0\nadd(2, 'x' cat 3)\nout(sum)", {"over", "into", "out"}),
              "B home:1, S home:2, S add:1, S home:3");
    EXPECT_EQ(frame_log[frame_log.size() - 2], "add[2][x3]:1 home:2");
}

// A condition that errs or would change anything pauses, says why in the
// status line, and changes no value.
TEST_P(Debugger, ConditionsThatFailPause) {
    cell("i");
    cell("f", "set i to 99");
    struct Case {
        const char* condition;
        const char* status;
    } cases[] = {
        {"i +", "Unexpected end of script"},        {"f!", CONDITION_EFFECT_TEXT},
        {"f(1) = 1", CONDITION_EFFECT_TEXT},        {"rand(1) > 2", CONDITION_EFFECT_TEXT},
        {"previous(i) = 1", CONDITION_EFFECT_TEXT}, {"set i to 5", CONDITION_EFFECT_TEXT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.condition);
        breakpoints({{"home", 3, c.condition}});
        ui.flashes.clear();
        EXPECT_EQ(run(LOOP, {}), "B home:3, B home:3");
        EXPECT_EQ(ui.console, "2");
        ASSERT_FALSE(ui.flashes.empty());
        EXPECT_EQ(ui.flashes.front(), c.status);
    }
}

// Breakpoints whose conditions never hold change nothing a script sees:
// not its output, not mem() at any point, not the nodes left in use.
TEST_P(Debugger, BreakpointsCostTheScriptNothing) {
    cell("i");
    cell("s");
    cell("g", "set s to s cat %1\nout(mem(), ' ')");
    const char* script = "set s to ''\nset i to 0\nwhile (i < 4) {\nset i to i + 1\n"
                         "g(i cat 'abc')\n}\nout(mem(), s)";
    debug_set_breakpoints({});
    run(script, {});
    uint64_t before = node_allocations();
    std::string plain_out = (run(script, {}), ui.console);
    uint64_t plain_allocations = node_allocations() - before;
    uint16_t plain_use = nodes_in_use();
    breakpoints({{"home", 4, "slen(s cat 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx') < 0"},
                 {"g", 2, "mem() < 0"},
                 {"g", 1, "%1 = 'none'"}});
    before = node_allocations();
    EXPECT_EQ(run(script, {}), "");
    EXPECT_EQ(ui.console, plain_out);
    EXPECT_EQ(node_allocations() - before, plain_allocations);
    EXPECT_EQ(nodes_in_use(), plain_use);
}

INSTANTIATE_TEST_SUITE_P(BothExecutors, Debugger, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Compiled" : "Walker"; });

} // namespace
} // namespace tarvex::test
