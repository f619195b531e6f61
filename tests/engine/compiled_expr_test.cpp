// Compiled expressions against the walker: every script of the acceptance
// and example webs, and seeded random expression scripts, run once through
// the walker alone and once with compiled expressions, must print the same
// bytes, show the same messages, end with the same result and error
// position, write the same files, and leave the
// store with the same free count at every console write (mem() included)
// and, calls made step by step, at every statement.
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "core/guard.h"
#include "core/value.h"
#include "io/input_stream.h"
#include "io/keyboard_queue.h"
#include "io/output_stream.h"
#include "lexer/lexer.h"
#include "script/compiled_expr.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;

// Everything a run shows, and the store's free count at each console write.
struct Outcome {
    int result = 0;
    RunError error;
    std::string error_cell;
    std::string console;
    std::vector<std::string> messages;
    std::vector<int> free_at_write;
    std::vector<int> free_at_pump; // at every statement: calls on numbers make none
    uint64_t allocations = 0;      // node_allocations() counted by the run
    std::map<std::string, std::string> files;
    uint16_t in_use_after = 0;
};

void expect_same(const Outcome& walker, const Outcome& fast, const std::string& what) {
    EXPECT_EQ(walker.console, fast.console) << what;
    EXPECT_EQ(walker.result, fast.result) << what;
    EXPECT_EQ(walker.error.code, fast.error.code) << what;
    EXPECT_EQ(walker.error_cell, fast.error_cell) << what;
    EXPECT_EQ(walker.error.token_index, fast.error.token_index) << what;
    EXPECT_EQ(walker.messages, fast.messages) << what;
    EXPECT_EQ(walker.free_at_write, fast.free_at_write) << what;
    EXPECT_EQ(walker.files, fast.files) << what;
    EXPECT_EQ(walker.in_use_after, fast.in_use_after) << what;
}

class CompiledExpr : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        old_dir = fs::current_path();
        work = fs::temp_directory_path() / ("tarvex_compiled_" + std::to_string(::getpid()));
        fs::create_directories(work);
        fs::current_path(work);
        ui.on_pump = [this] { type_input(); };
        ui.on_console = [](std::string_view) { g_free_at_write.push_back(nodes_free()); };
        // Every statement and every character written pumps: the free
        // count is seen at the same points both ways.
        output_pump_interval(0);
        ui.on_pump_pending = [] { g_free_at_pump.push_back(nodes_free()); };
        compiled_counts_reset();
    }
    void TearDown() override {
        interp_set_fast_path(true);
        interp_set_number_calls(true);
        output_pump_interval(5);
        streams_reset();
        fs::current_path(old_dir);
        fs::remove_all(work);
        EngineTest::TearDown();
    }

    // The keyboard as the runner types stdin: a line, then Enter; Escape
    // once the lines are used up.
    void type_input() {
        if (!input_wait() || keyboard_count() != 0) return;
        if (next_line >= input.size()) {
            keyboard_push(KEY_ESCAPE);
            return;
        }
        for (char c : input[next_line])
            keyboard_push(static_cast<uint8_t>(c));
        keyboard_push('\r');
        ++next_line;
    }

    // Runs `start` (with `prepare` run first on a fresh state) with the fast
    // path on or off, and collects what the run showed.
    template <class Prepare>
    Outcome run_once(bool fast, Prepare prepare, const std::string& start, long fail_after = -1,
                     bool on_numbers = false) {
        for (const auto& e : fs::directory_iterator(work))
            fs::remove_all(e.path());
        ui.console.clear();
        ui.flashes.clear();
        ui.boxes.clear();
        next_line = 0;
        prepare();
        builtins_init(); // the same random sequence both ways
        make_current(cell_find(start.c_str()));
        expect_no_leak();
        g_free_at_write.clear();
        g_free_at_pump.clear();
        interp_set_fast_path(fast);
        interp_set_number_calls(on_numbers);
        node_fail_after(fail_after);
        Outcome o;
        const uint64_t allocations = node_allocations();
        o.result = run_again();
        o.allocations = node_allocations() - allocations;
        node_fail_after(-1);
        interp_set_fast_path(true);
        interp_set_number_calls(true);
        streams_reset();
        o.error = run_last_error();
        if (o.error.cell != 0) o.error_cell = cell_name_string(o.error.cell);
        o.console = ui.console;
        for (const std::string& f : ui.flashes)
            o.messages.push_back(f);
        for (const auto& b : ui.boxes)
            o.messages.push_back(b.kind + ": " + b.text);
        o.free_at_write = g_free_at_write;
        o.free_at_pump = g_free_at_pump;
        for (const auto& e : fs::directory_iterator(work))
            if (e.is_regular_file())
                o.files[e.path().filename().string()] = file_bytes(e.path().string());
        o.in_use_after = nodes_in_use();
        expect_no_leak();
        return o;
    }

    // Runs home through the walker, compiled with every call made step by
    // step, and compiled with calls on numbers, and checks they agree (the
    // free count at every statement too, calls made step by step); the
    // walker's outcome, and in *counts what the compiled runs added to the
    // counts.
    template <class Prepare>
    Outcome compare(Prepare prepare, const std::string& what, CompiledCounts* counts = nullptr,
                    long fail_after = -1, const std::string& start = "home") {
        Outcome walker = run_once(false, prepare, start, fail_after);
        CompiledCounts before = compiled_counts();
        Outcome fast = run_once(true, prepare, start, fail_after);
        CompiledCounts stepped = compiled_counts();
        Outcome numbers = run_once(true, prepare, start, fail_after, true);
        if (counts) {
            counts->runs = stepped.runs - before.runs;
            counts->statements = stepped.statements - before.statements;
            counts->number_calls = compiled_counts().number_calls - stepped.number_calls;
        }
        expect_same(walker, fast, what);
        EXPECT_EQ(walker.free_at_pump, fast.free_at_pump) << what;
        expect_same(walker, numbers, what + " (calls on numbers)");
        // The walker makes temporaries the programs skip; calls on numbers
        // count every allocation of the calls made step by step.
        EXPECT_EQ(fast.allocations, numbers.allocations) << what;
        return walker;
    }

    // A fresh web (the filler given back first): empty cells, cells with a
    // typed value, cells with a script (home's too), and the run's settings.
    struct Web {
        std::vector<const char*> cells;
        std::vector<std::pair<const char*, std::string>> values, scripts;
        int iterations = 1, decimals = 2;
    };
    void make(const Web& w) {
        for (NodeHandle h : filler)
            node_free(h);
        filler.clear();
        web_start_fresh();
        for (const char* name : w.cells)
            cell_named(name);
        for (const auto& [name, text] : w.values)
            cell_set_value_text(cell_named(name), text);
        for (const auto& [name, script] : w.scripts)
            cell_set_script(cell_named(name), script);
        settings_set_iterations(w.iterations);
        settings_set_decimals(w.decimals);
    }
    // Takes nodes until the store has `spare` above its low mark.
    void fill_to(int spare) {
        while (nodes_free() > LOW_NODE_THRESHOLD + spare)
            filler.push_back(node_alloc(PlainNode));
    }

    static inline std::vector<int> g_free_at_write, g_free_at_pump;
    fs::path old_dir, work;
    std::vector<std::string> input;
    size_t next_line = 0;
    std::vector<NodeHandle> filler; // nodes taken to bring the store near its low mark
};

std::vector<std::string> lines_of(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Every cell of every acceptance and example web that has a script is run
// as the start cell, with the web's own input lines typed.
TEST_F(CompiledExpr, WebScriptsRunAlikeBothWays) {
    std::string copy =
        (fs::temp_directory_path() / ("tarvex_compiled_web_" + std::to_string(::getpid()) + ".tvx"))
            .string();
    for (const std::string& web : acceptance_webs()) {
        fs::copy_file(web, copy, fs::copy_options::overwrite_existing);
        fs::path in_file = fs::path(web).replace_extension(".in");
        input = fs::exists(in_file) ? lines_of(in_file) : std::vector<std::string>{};
        web_set_modified(false);
        if (web_open(copy.c_str()).code != 0) continue; // the bad-file webs
        std::vector<std::string> starts;
        for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
            if (entry_kind(e) == NK_CELL && text_length(cell_script(e)) != 0)
                starts.push_back(cell_name_string(e));
        for (const std::string& start : starts) {
            auto prepare = [&] {
                web_set_modified(false);
                ASSERT_EQ(web_open(copy.c_str()).code, 0);
            };
            compare(prepare, web + " from " + start, nullptr, -1, start);
            if (HasFailure()) break;
        }
    }
    fs::remove(copy);
    EXPECT_GT(compiled_counts().runs, 500u) << "the webs seldom ran a compiled expression";
    EXPECT_GT(compiled_counts().fallbacks, 0u);
}

// Random expressions over cells holding plain numbers, numbers with their
// text, strings and nothing; arguments present and missing; literals with
// texts the result may keep; every operator, comparisons and parentheses.
class ExpressionGen {
  public:
    explicit ExpressionGen(unsigned seed) : rng_(seed) {}

    std::string expression(int depth) {
        std::string e = pick(4) == 0 ? "-" : "";
        e += term(depth);
        for (int n = pick(3); n > 0; --n)
            e += one_of({" + ", " - ", " or ", " cat "}) + term(depth);
        if (pick(4) == 0) e += one_of({" < ", " <= ", " = ", " <> ", " > ", " >= "}) + term(depth);
        return e;
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  private:
    std::string one_of(std::initializer_list<const char*> options) {
        return *(options.begin() + pick(static_cast<int>(options.size())));
    }
    std::string term(int depth) {
        std::string t = primary(depth);
        for (int n = pick(3); n > 0; --n)
            t += one_of({" * ", " / ", " % ", " and "}) + primary(depth);
        return t;
    }
    std::string primary(int depth) {
        switch (pick(depth > 0 ? 9 : 7)) {
        case 0: return one_of({"a", "b", "c", "d", "n"});
        case 1: return one_of({"0", "1", "2.50", "7", "1e400", "0.001", "3"});
        case 2: return one_of({"%1", "%2"});
        case 3: return one_of({"pi", "e", "eof"});
        case 4: return one_of({"n", "a", "%1", "q[n % 2]", "q[(a > 1)]"});
        case 5: return "not " + primary(depth);
        case 6:
            return pick(20) == 0
                       ? one_of({"q[0 - 1]", "q[99]", "q[%1 - 2]", "slen()", "slen(c,)"})
                       : one_of({"'5'", "s", "f(n)", "abs(n)", "q[1]", "c", "first(s cat c, n)",
                                 "slen(butlast(c, %2))", "max(a, f(%1), 1)"});
        default: return "(" + expression(depth - 1) + ")";
        }
    }
    std::mt19937 rng_;
};

// Statements that show each expression's value and mem() after it, in a
// loop (so each expression runs compiled after its first run), with some
// cells changing kind half-way.
std::string random_script(ExpressionGen& gen) {
    std::string body;
    for (int i = 0; i < 6; ++i) {
        std::string x = gen.expression(2);
        switch (gen.pick(4)) {
        case 0: body += "set a to " + x + " out(a, ' ', mem(), '\\n') "; break;
        case 1: body += "out(" + x + ", ' ', mem(), '\\n') "; break;
        case 2: body += "if (" + x + ") {out('t', mem())} else {out('f', mem())} "; break;
        default: body += "set d to g(" + x + ", " + gen.expression(1) + ") out(d, mem(), '\\n') ";
        }
    }
    return "set n to 0 while (n < 6) {set n to n + 1 " + body +
           "if (n = 3) {set b to 'text'} if (n = 4) {set b to 4 set c to b cat ''}} out(mem())";
}

TEST_F(CompiledExpr, RandomExpressionsRunAlikeBothWays) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        ExpressionGen gen(seed);
        std::string callee = gen.expression(2) + " " + gen.expression(1);
        std::string script = random_script(gen);
        // The last call leaves %2 missing; the equality tolerance follows
        // the decimals.
        Web web{{"a", "b", "c", "d", "h", "n", "s", "q", "q1", "f", "g"},
                {{"a", "2"}, {"b", "1.25"}, {"c", "x7"}, {"q1", "9"}, {"s", "text"}},
                {{"f", "%1 * 2"},
                 {"g", callee},
                 {"h", script},
                 {"home", "h(1.50, 4) h(2, 0) out(g(1))"}},
                2,
                seed % 2 ? 8 : 3};
        compare([&] { make(web); }, "seed " + std::to_string(seed) + ": " + script);
        if (HasFailure()) return;
    }
    EXPECT_GT(compiled_counts().runs, 0u);
    EXPECT_GT(compiled_counts().given_up, 0u) << "no expression kept falling back";
}

// Near the low mark and the end of the store the walker decides: the same
// question, the same running out, at every free count around the mark.
TEST_F(CompiledExpr, LowStoreRunsAlikeBothWays) {
    keep([this] {
        for (NodeHandle h : filler)
            node_mark(h);
    });
    const std::string big(300, 'z');
    struct Case {
        const char* what;
        struct {
            int from, to;       // the margins above the low mark tried
            bool if_first_pass; // a run before the measured one, then z made big
            bool must_go_low;
        } run;
        Web web;
    } cases[] = {
        // Reads alone (of numbers, of a string, of an argument) as well as
        // whole expressions.
        {"loop",
         {0, 60, false, true},
         {{"x", "y", "z"},
          {{"s", "abc"}},
          {{"g", "%1"},
           {"home", "set x to 1 set y to 2 while (x < 40) {set x to x + 1 set y to (y * x) % 97 + "
                    "y / 3 set z to s set z to y - x % 5 out(mem(), ' ', g(x), ' ')}"}},
          1,
          8}},
        // A read alone at the deepest point of a run: the assignment releases
        // far more than the read takes, so whether the store was told low
        // depends on the read's own nodes (the copy, its text, the block).
        {"read alone",
         {1, 13, false, false},
         {{}, {{"z", big}, {"y", "12"}}, {{"home", "set z to y"}}}},
        // Three reads, whose texts (a long one here) the bound counts.
        {"three reads",
         {1, 25, false, true},
         {{},
          {{"z", big}, {"y", std::string(300, '0') + "12"}, {"x", "3"}},
          {{"home", "set z to y - x % 5"}}}},
        // A call's result combined at once, its copy made or only counted:
        // a short text and a long one.
        {"call result",
         {15, 40, false, true},
         {{"z"}, {{"y", "7"}}, {{"g", "%1"}, {"home", "set z to 1 + g(y)"}}}},
        {"call result, long text",
         {30, 65, false, true},
         {{"z"},
          {{"y", std::string(300, '0') + "12"}},
          {{"g", "%1"}, {"home", "set z to 1 + g(y)"}}}},
        // A recursion on numbers: given up wherever it would go low.
        {"recursion on numbers",
         {0, 70, false, true},
         {{"z"},
          {},
          {{"fib", "if (%1 < 2) {%1} else {fib(%1 - 1) + fib(%1 - 2)}"},
           {"home", "set z to 1 + fib(9)"}}}},
        // A join written in the value it replaces, whose copies would come
        // near the mark.
        {"join in place",
         {0, 10, true, true},
         {{"z"}, {{"y", "abc"}}, {{"home", "set y to y cat 'xyz' 1 2"}}}},
        // The condition of a compiled if, whose truth alone is wanted.
        {"if condition",
         {1, 17, true, true},
         {{"z"}, {{"y", std::string(300, '0') + "12"}}, {{"home", "if (y < 20) {set z to 1}"}}}},
    };
    for (const Case& c : cases) {
        bool told_low = false;
        for (int margin = c.run.from; margin < c.run.to; ++margin) {
            auto prepare = [&] {
                make(c.web);
                if (c.run.if_first_pass) {
                    ASSERT_EQ(run_again(), 0);
                    cell_set_value_text(cell_find("z"), big);
                }
                // builtins_init runs after this and takes its own nodes back.
                fill_to(margin);
            };
            Outcome walker =
                compare(prepare, std::string(c.what) + ", margin " + std::to_string(margin));
            told_low = told_low || !walker.messages.empty();
            if (HasFailure()) return;
        }
        EXPECT_TRUE(told_low || !c.run.must_go_low) << c.what << ": never below the low mark";
    }
    make({});
    EXPECT_GT(compiled_counts().runs, 0u) << "no run was far enough from the low mark";
    EXPECT_GT(compiled_counts().fallbacks, 0u);
}

// With a failure injected the walker runs every expression: the store runs
// out at the same allocation, in the same place, both ways.
TEST_F(CompiledExpr, InjectedFailuresRunAlikeBothWays) {
    auto prepare = [this] {
        make({{"x", "y"},
              {},
              {{"home", "set x to 0 set y to 1.50 while (x < 30) {set x to x + 1 set y to y * 2 % "
                        "7 + x out(y - 1, ' ')} for (x = 1 to 3) {out(x)}"}}});
    };
    uint64_t before = node_allocations();
    run_once(false, prepare, "home");
    long total = static_cast<long>(node_allocations() - before);
    // Armed too far off to fall, a failure sends every allocation and
    // charge the checked way: as many as the shortcuts count.
    before = node_allocations();
    run_once(true, prepare, "home", total * 2);
    EXPECT_EQ(static_cast<long>(node_allocations() - before), total);
    // The run takes every allocation it counts: one fewer and it runs out.
    const long run = static_cast<long>(run_once(false, prepare, "home").allocations);
    EXPECT_EQ(run_once(false, prepare, "home", run - 1).result, SE_OUT_OF_MEMORY);
    EXPECT_EQ(run_once(false, prepare, "home", run).result, 0);
    int exhausted = 0;
    for (long k = 0; k < total && !HasFailure(); k += total / 40 + 1)
        exhausted += compare(prepare, "failing after " + std::to_string(k), nullptr, k).result ==
                     SE_OUT_OF_MEMORY;
    EXPECT_GT(exhausted, 10);
}

// Near the nesting limit the walker decides: a deep expression at the
// bottom of ever deeper recursions overflows at the same call both ways.
TEST_F(CompiledExpr, DeepNestingRunsAlikeBothWays) {
    bool overflowed = false;
    for (int calls = 0; calls < 40 && !HasFailure(); ++calls) {
        Web web{{"x"},
                {},
                {{"r", "if (%1 > 0) {r(%1 - 1)} else {out((((((((((((((((x + 1)))))))))))))))))}"},
                 {"home", "r(" + std::to_string(calls) + ")"}}};
        overflowed |=
            compare([&] { make(web); }, std::to_string(calls) + " calls deep").result != 0;
        // Calls on numbers up to the limit, given up near it, the last of
        // them of a cell without statements.
        for (std::string nots : {"", "not ", "not not ", "not not not ", "not not not not "}) {
            Web numbers{{"x"},
                        {},
                        {{"r", "if (%1 > 0) {r(%1 - 1) + 1} else {" + nots + "w(1)}"},
                         {"w", " "},
                         {"home", "set w to 5 r(" + std::to_string(calls) + ")"}}};
            compare([&] { make(numbers); }, std::to_string(calls) + " calls deep, on numbers");
        }
    }
    EXPECT_TRUE(overflowed) << "the recursion never reached the nesting limit";
}

// Scripts run both ways from home, each with its own cells, expected to run
// compiled at least `compiled` times.
struct Script {
    const char* script;
    uint64_t compiled;
};

// Every reader of a single value takes the program's result as the walker
// would have left it: a set (also of a subscripted cell), the conditions of
// while, if and elseif, arguments of a cell call and of a builtin, the
// bounds and step of a for, and an expression statement.
// Expressions with cell calls run as the walker's own steps: the recursion,
// the values between calls, a call without arguments, a missing argument
// and a call as a condition give what the walker gives, and run compiled.
TEST_F(CompiledExpr, ReadersAndCallsRunCompiledAlike) {
    const Script readers[] = {
        {"set x to x + 1.50 set q[x - 1] to x * 2 out(x, ' ', q1, ' ', mem())", 2},
        {"while (x < 3) {set x to x + 1} out(x, ' ', mem())", 2},
        {"if (x = 1) {out('one')} elseif (x + 1 > 0) {out('more')} out(mem())", 2},
        {"out(f(x + 2, x - 1), ' ', abs(x - 4), ' ', mem())", 2},
        {"for (y = x + 1 to x + 3 step x + 1) {out(y, ' ')} out(mem())", 2},
        {"x * 2 + 0.25 out(' ', home, ' ', mem())", 2},
        {"set x to 1 out(previous('x', 1)) set x to x + 1 out(' ', previous('x', 1), ' ', mem())",
         2},
        {"set y to x + 1 - q1 set q to x - 1 * q set y to y * 2 + x out(y, ' ', q, ' ', mem())", 2},
    };
    const Script calls[] = {
        {"out(fib(12), ' ', mem())", 200},
        {"out(-fib(5) * 2 + x * fib(4) < fib(6), ' ', 1 + two! - fib(3), ' ', mem())", 4},
        {"if (fib(3) = 2) {out('yes ')} while (x < fib(5)) {set x to x + fib(1)} out(x)", 10},
        {"out(fib(3), ' ', f(1) + f(2), ' ', mem())", 2}, // f reads a missing %2
        {"out(not fib(0) and fib(1), ' ', (fib(2) + 1) * fib(4))", 2},
        // An argument that is never a number (two's value is empty) is left
        // to the walker for good, from its own first token.
        {"while (x < 20) {set x to x + 1 out(fib(two + 1), f(x, two * 2), ' ')} out(mem())", 339},
    };
    for (const Script& c : readers) {
        Web web{{"x", "y", "q", "q1"},
                {{"x", "0.50"}},
                {{"f", "%1 * 2 + %2"}, {"home", c.script}},
                2,
                8};
        CompiledCounts counts;
        Outcome walker = compare([&] { make(web); }, c.script, &counts);
        EXPECT_EQ(walker.result, 0) << c.script << ": " << walker.console;
        EXPECT_GE(counts.runs, c.compiled) << c.script << ": left to the walker";
    }
    for (const Script& c : calls) {
        Web web{{"x"},
                {},
                {{"fib", "if (%1 < 2) {%1} else {fib(%1 - 1) + fib(%1 - 2)}"},
                 {"two", "1 + fib(2) * 1"},
                 {"f", "%1 + %2 * fib(2)"},
                 {"home", c.script}},
                1,
                8};
        CompiledCounts counts;
        compare([&] { make(web); }, c.script, &counts);
        EXPECT_GE(counts.runs, c.compiled) << c.script;
    }
}

// Calls on numbers end as the steps leave them: each callee's own value
// (the last one written, or the one it held when nothing was), a callee's
// value read after its call, a result that is not a number, a missing
// argument, deep recursion; with the values worked out by hand.
TEST_F(CompiledExpr, CallsOnNumbersEndAsTheStepsLeaveThem) {
    const struct {
        const char* script;
        const char* console; // nullptr: an error, as the steps end
        bool on_numbers;
    } cases[] = {
        {"out(fib(10), ' ', fib)", "55 55", true},
        {"out(g(5), ' ', g(1), ' ', g)", "10 10 10", true},
        {"out(r(6), ' ', fib, ' ', r)", "16 8 16", true},
        {"out(s(0), ' ', s(1), ' ', s)", "abc 1 1", true},
        {"out(tak(12, 8, 4), ' ', tak)", "5 5", true},
        {"out(h(3), ' ', t, ' ', h)", "10 4 10", true},
        {"out(1 + miss(4))", nullptr, false},
        {"out(deep(400))", nullptr, false},
    };
    for (const auto& c : cases) {
        Web web{{"t"},
                {{"s", "abc"}},
                {{"fib", "if (%1 < 2) {%1} else {fib(%1 - 1) + fib(%1 - 2)}"},
                 {"g", "if (%1 > 2) {%1 * 2}"},
                 {"r", "fib(%1) + fib"},
                 {"s", "if (%1 > 0) {1}"},
                 {"tak", "if (%2 < %1) {tak(tak(%1 - 1, %2, %3), tak(%2 - 1, %3, %1), "
                         "tak(%3 - 1, %1, %2))} else {%3}"},
                 {"miss", "if (%1 > 0) {miss(%1 - 1, 2)} else {%2 + %3}"},
                 {"deep", "if (%1 > 0) {deep(%1 - 1) + 1} else {0}"},
                 {"h", "set t to %1 * 2 if (t > 4) {t + h(%1 - 1)} else {t}"},
                 {"home", c.script}},
                1,
                8};
        CompiledCounts counts;
        Outcome walker = compare([&] { make(web); }, c.script, &counts);
        if (c.console != nullptr) {
            EXPECT_EQ(walker.console, c.console) << c.script;
        }
        EXPECT_EQ(walker.result != 0, c.console == nullptr) << c.script;
        EXPECT_EQ(counts.number_calls > 0, c.on_numbers) << c.script;
    }
}

// A string builtin on values read where they stand counts the copies it
// does not make: as many allocations as the call on a computed count (whose
// value takes the nodes of the literal's copy), which slen, taking one argument, copies
// and releases (two more), in a run after the one that read the script.
TEST_F(CompiledExpr, StringBuiltinsOnReadsCountTheCopies) {
    const struct {
        const char *on_reads, *copied;
        int more;
        const char* value;
    } rows[] = {
        {"first(s, 2)", "first(s, 2 + 0)", 0, "ab"},
        {"first(u, 1)", "first(u, 1 + 0)", 0, "a"}, // 36 characters in one chunk
        {"first(l, 1)", "first(l, 1 + 0)", 0, "x"}, // two chunks
        {"butfirst(s, 2)", "butfirst(s, 2 + 0)", 0, "cdefghijklmnopqrstuvwxyz0123456"},
        {"last(s, 4)", "last(s, 4 + 0)", 0, "3456"},
        {"slen(first(s, 2))", "slen(first(s, 2 + 0))", 0, "2"},
        {"butlast(s, 2) cat slen(s)", "butlast(s, 2 + 0) cat slen(s, 2 + 0)", 2,
         "abcdefghijklmnopqrstuvwxyz0123433"},
    };
    for (const auto& row : rows) {
        uint64_t allocations[2];
        for (int i = 0; i < 2; ++i) {
            make({{"t", "u"},
                  {{"s", "abcdefghijklmnopqrstuvwxyz0123456"}, {"l", std::string(36, 'x')}},
                  {{"home", std::string("set u to s cat 'xyz' set t to ") +
                                (i == 0 ? row.on_reads : row.copied)}}});
            make_current(cell_find("home"));
            ASSERT_EQ(run_again(), 0);
            const uint64_t before = node_allocations();
            ASSERT_EQ(run_again(), 0);
            allocations[i] = node_allocations() - before;
            EXPECT_EQ(value_display(cell_value(cell_find("t"))), row.value) << row.on_reads;
        }
        EXPECT_EQ(allocations[0] + row.more, allocations[1]) << row.on_reads;
    }
}

// A read that the next operator combines at once with the value below it
// is not copied, yet counts as many allocations as the walker's copy; so
// does a join written in the value it replaces (set t to t cat s), up to a
// full chunk (whose copy takes a second, empty one), and to itself.
TEST_F(CompiledExpr, ReadsCombinedAtOnceCountTheirCopies) {
    // The last one reads 'x' onto 18 values, where its push would begin a block.
    std::string deep = "set t to ";
    for (int i = 0; i < 17; ++i)
        deep += "s cat (";
    deep += "s cat 'x'" + std::string(17, ')') + " out(t cat '')";
    for (const std::string& script :
         {std::string("set t to s cat 'xyz' cat s cat ('' cat s) out(t cat '')"),
          std::string("set t to 'ab' set t to t cat 'xyz' set t to t cat s set t to t cat "
                      "'abcdefghijklmnopqrstuvwxyzAB' set t to t cat '' set t to t cat 'x' set u "
                      "to 'abcdefghijklmnopqrst' set u to u cat u out(t cat u)"),
          std::string("set t to ((x * 1 cat '') + 0 > 1) cat (x - 1) cat (1 + s) out(t cat (s = "
                      "0) cat '')"),
          deep}) {
        Web web{{"t", "u"}, {{"s", "abc"}, {"x", "2"}}, {{"home", script}}};
        Outcome walker = compare([&] { make(web); }, script);
        Outcome fast = run_once(
            true, [&] { make(web); }, "home");
        EXPECT_EQ(walker.allocations, fast.allocations) << script;
    }
    // Conditions' last comparisons, true and false, whose results are not
    // made: two rounds more count as the walker's two rounds.
    uint64_t runs[2][2];
    for (int fast = 0; fast < 2; ++fast)
        for (int more = 0; more < 2; ++more) {
            std::string script = std::string("for (i = 1 to ") + (more ? "5" : "3") +
                                 ") {if ((x cat '') * 1 > 1) {set t to 'y'} if ((x cat '') * 1 "
                                 "> 5) {} while ((t cat 'a') = 'ya') {set t to 'n'}}";
            Web web{{"t", "i"}, {{"x", "2"}}, {{"home", script}}};
            Outcome o = run_once(
                fast == 1, [&] { make(web); }, "home");
            EXPECT_EQ(o.result, 0) << script;
            runs[fast][more] = o.allocations;
        }
    EXPECT_EQ(runs[0][1] - runs[0][0], runs[1][1] - runs[1][0]);
}

// A for's round counts what its steps take: the saved position given back
// and taken again (its record and the frame stack's block it begins), the
// loop cell's copy with the step added (the value and the text it keeps
// from the literal 1) and the copy compared with the limit.
TEST_F(CompiledExpr, ForRoundsCountTheirCopies) {
    uint64_t allocations[2];
    for (int i = 0; i < 2; ++i) {
        make({{"i"}, {}, {{"home", i == 0 ? "for (i = 1 to 3) {}" : "for (i = 1 to 5) {}"}}});
        make_current(cell_find("home"));
        ASSERT_EQ(run_again(), 0);
        const uint64_t before = node_allocations();
        ASSERT_EQ(run_again(), 0);
        allocations[i] = node_allocations() - before;
    }
    EXPECT_EQ(allocations[1] - allocations[0], 2u * (2 + 2 + 2));
    // A loop cell that keeps history keeps each value it steps from.
    make({{"i"}, {}, {{"home", "for (i = 1 to 3) {out(previous('i'), ' ')}"}}});
    make_current(cell_find("home"));
    ui.console.clear();
    ASSERT_EQ(run_again(), 0);
    EXPECT_EQ(ui.console, "1 1 2 ");
}

// Statements read once run as the walker runs them: every clause of an if
// taken, conditions the programs take and conditions the walker keeps
// (a subscript beside a call, a call's list closed by a trailing comma,
// which leaves its ')' current), errors inside conditions and blocks, sets with
// and without `to`, blocks inside blocks, loops inside loops; each in a loop, so that all but
// the first round run compiled, and each stopped after every number of
// statements by the step limit.
TEST_F(CompiledExpr, StatementsRunAlikeBothWays) {
    const char* scripts[] = {
        "if (x < 2) {out('a')} elseif (x < 4) {out('b')} elseif (x = 4) {out('c')} else "
        "{out('d')} out(x)",
        "if (x > 2) {out('big')} out(' ', x) if (x) {} else {out('zero')}",
        "if (slen(s cat x) > 2) {set s to s cat 'y'} elseif (s = 'ab') {out('ab')} out(s, ' ')",
        "if (x < 3) {out(x)} elseif (f(x,) > 1) {out('comma')} out('after')",
        "if (x < 3) {out(x)} elseif (q[1] + f(x,) > 1) {out('comma')} out('after')",
        "if (x < 4) {out(x)} elseif (f(x) > %2) {out('never')} else {out('e')}",
        "if (x = 3) {out(q[x + 40])} out(x, ' ')",
        "set y to x * 2 set y y + 1 y + x out(y, ' ', home, ' ', mem(), ' ')",
        "if (x > 1) {if (x > 3) {{out('deep')} set y to x} else {out('mid')}} out(y, ' ')",
        "if (x < 5) {f(x) + 1} out(home, ' ')",
        "set y to 0 while (y < x) {set y to y + 1 while (y < 3) {set y to y + 2} out(y)}",
        "set y to 1 while (slen(q[0] cat s) * f(3 - y,) > 0) {set y to y + 1} out(y)",
        "set y to 0 while (slen(s) < x) {set s to s cat y} out(s) while (y < x) {set y to y + 1 if "
        "(y = 4) {q[y + 40]}}",
        "out(slen(first(s, 2)), ' ') if (x > 2) {out(previous(last(s, 1)))}",
    };
    int halted = 0;
    for (const char* script : scripts) {
        Web web{{"x", "y", "q", "q1"},
                {{"s", "a"}},
                {{"f", "%1 * 2"},
                 {"body", script},
                 {"home", "set x to 0 while (x < 6) {set x to x + 1 body(x) out(' ')}"}},
                1,
                8};
        for (uint64_t limit : {0, 3, 7, 12, 20, 31}) {
            std::string what = std::string(script) + ", step limit " + std::to_string(limit);
            CompiledCounts counts;
            Outcome walker = compare(
                [&] {
                    make(web);
                    run_set_step_limit(limit);
                },
                what, &counts);
            run_set_step_limit(0);
            if (limit == 0) {
                EXPECT_GT(counts.statements, walker.result == 0 ? 6u : 0u) << what;
            }
            halted += walker.result == SE_HALTED;
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(halted, 20);
}

// Code compiled for a list never runs for another: an edited script gets
// its own, also when its list takes the released list's node, and the
// switch leaves everything to the walker.
TEST_F(CompiledExpr, EditedScriptsAndTheSwitch) {
    web_start_fresh();
    cell_set_value_text(cell_create("x"), "5");
    settings_set_iterations(3);
    auto run = [this](const char* script) {
        // The new text is made first and the old list released last, so the
        // new list's header is the old one's node.
        Text text = text_from_bytes(script);
        Text old_text = cell_script(cell_root());
        cell_put(cell_root(), CF_SCRIPT, text);
        text_free(old_text);
        TokenList old = cell_get(cell_root(), CF_SCRIPT_TOKENS);
        cell_put(cell_root(), CF_SCRIPT_TOKENS, 0);
        tokens_free(old);
        cell_put(cell_root(), CF_SCRIPT_TOKENS, lex(text, cell_root()));
        make_current(cell_root());
        ui.console.clear();
        EXPECT_EQ(run_again(), 0);
        return ui.console;
    };
    cell_set_script(cell_root(), "1");
    EXPECT_EQ(run("out(x + 1, ' ')"), "6 6 6 ");
    NodeHandle first = cell_get(cell_root(), CF_SCRIPT_TOKENS);
    EXPECT_EQ(run("out(x - 1, ' ')"), "4 4 4 ");
    EXPECT_EQ(cell_get(cell_root(), CF_SCRIPT_TOKENS), first) << "the new list took another node";
    EXPECT_EQ(run("out(x * (2 < 1), ' ')"), "0 0 0 ");
    // Two arguments in each of nine runs, the string's too.
    EXPECT_EQ(compiled_counts().runs, 18u) << "an expression runs compiled from its first run";

    interp_set_fast_path(false);
    EXPECT_EQ(run("out(x / 2, ' ')"), "2.5 2.5 2.5 ");
    EXPECT_EQ(compiled_counts().runs, 18u);
}

} // namespace
} // namespace tarvex::test
