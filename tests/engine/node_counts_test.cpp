// What mem() reports while scripts run, counted by hand from what each
// structure takes: a value node, one node per 36 characters of text, a
// handle stack's header and one block per 18 handles (released as soon as
// its last handle goes), a saved position's record. Every figure is given
// against B, the nodes in use just before the run, when the script is
// already lexed and every cell holds what the previous run left. The
// fewest free nodes with which a statement still runs follow from the same
// counts.
#include "builtin_test_support.h"

#include "builtins/builtins.h"
#include "core/guard.h"
#include "core/value.h"
#include "script/run_engine.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

// Every run holds four stack headers (automatic output, frames, values,
// arguments) and the argument stack's first block (the started cell's
// entry).
constexpr int RUN = 4 + 1;

// 40 letters: two chunks of text.
const std::string s40 = "abcdefghijklmnopqrstuvwxyzabcdefghijklmn";

// Every count is the same whatever the store's size.
class NodeCounts : public Builtins, public ::testing::WithParamInterface<int> {
  protected:
    int store_nodes() const override { return GetParam(); }
    void SetUp() override {
        Builtins::SetUp();
        cell_create("home");
        navigation_reset();
        // Counts in full, not to two significant digits.
        NumberFormat wide;
        wide.decimals = 8;
        format_set_current(wide);
    }
    void cell(const char* name, const char* script) { cell_set_script(cell_named(name), script); }
    // Cells holding texts of 40 characters in two chunks (s), 10 (t) and
    // 35 (u) in one.
    void string_cells() {
        cell_create("i");
        for (const std::string& v : {s40, s40.substr(0, 10), s40.substr(0, 35)}) {
            const char* name = v.size() == 40 ? "s" : v.size() == 10 ? "t" : "u";
            cell_set_value(cell_create(name), make_args({str(v)}));
        }
    }
    // Runs home's script twice and returns the second run's console, with B
    // in *base; the first run lexes the scripts and gives every cell the
    // value it holds again after the second.
    std::string run_twice(const char* script, int* base, bool to_brk = false) {
        EXPECT_EQ(run_in_home(script, to_brk), 0) << ui.console;
        *base = nodes_in_use();
        ui.console.clear();
        make_current(cell_root()); // a pause shows the paused cell
        EXPECT_EQ(run_again(to_brk), 0) << ui.console;
        EXPECT_EQ(nodes_in_use(), *base) << "a run must give back all it took";
        return ui.console;
    }
    // The fewest nodes beyond B with which the script runs to its end.
    int peak(const char* script) {
        int b = 0;
        run_twice(script, &b);
        NodeHandle hog = 0;
        keep([&hog] { chain_mark(hog); });
        int found = -1;
        for (int spare = 0; spare <= 30 && found < 0; ++spare) {
            while (nodes_free() > FREE_COUNT_WHEN_EMPTY + spare) {
                NodeHandle h = node_alloc(ChainNode);
                chain_set_next(h, hog);
                hog = h;
            }
            make_current(cell_root());
            int r = run_again();
            chain_free(hog);
            hog = 0;
            EXPECT_EQ(node_charged(), 0u);
            if (r == 0) {
                found = spare;
            } else {
                EXPECT_EQ(r, SE_OUT_OF_MEMORY);
                // A run abandoned half-way leaves the cells as they were
                // then: a whole run puts back what the next one starts from.
                make_current(cell_root());
                EXPECT_EQ(run_again(), 0);
            }
            EXPECT_EQ(nodes_in_use(), b);
        }
        forget_all(); // the marker names hog, which goes with this frame
        return found;
    }
    // The numbers of a console line, separated by blanks.
    static std::vector<double> numbers(const std::string& s) {
        std::vector<double> out;
        std::istringstream in(s);
        for (std::string w; in >> w;)
            out.push_back(std::strtod(w.c_str(), nullptr));
        return out;
    }
};

// What mem() sees, against B: each script prints offset + scale * mem().
TEST_P(NodeCounts, MemSeesWhatEachStructureHolds) {
    struct Case {
        const char *cell, *cell_script; // a cell the script uses
        const char* script;
        double offset, scale;
        std::vector<int> want;
    } cases[] = {
        // The run, and the builtin's result value; the value stack is empty
        // again after each item is written.
        {"i", "", "out(mem(), ' ', mem(), ' ', mem())", 0, 1, {RUN + 1, RUN + 1, RUN + 1}},
        // A loop keeps its limit (the literal's value and text), its step (a
        // value without text) and, during the rounds before the last, a saved
        // position with the frame stack's block; the last round runs after
        // the position was restored, so that record and block are gone.
        {"i",
         "",
         "for (i = 1 to 3) {out(mem(), ' ')}",
         0,
         1,
         {RUN + 2 + 1 + 2 + 1, RUN + 2 + 1 + 2 + 1, RUN + 2 + 1 + 2 + 1 - 2}},
        // The left 1 (value and text), the value stack's block, the right
        // operand's 2 (value and text: a literal is copied whole, wherever it
        // stands) and the result.
        {"i", "", "out(1 + 2 * mem())", 1, 2, {RUN + 2 + 1 + 2 + 1}},
        // x holds 2.5 with the stale text of the 1.50 it was computed from; a
        // read copies that text too: value and text, the block, the result.
        {"x", "", "set x to 1.50 + 1 out(x + mem())", 2.5, 1, {RUN + 2 + 1 + 1}},
        // Inside f: the caller's saved position and the frame stack's block,
        // f's entry shares the argument stack's block, the result. Back in
        // home, only the run and the result are left.
        {"f", "mem()", "out(f!, ' ', mem())", 0, 1, {RUN + 2 + 1, RUN + 1}},
        // An argument list of one value with its text, popped off the value
        // stack (whose block goes with it) into the list.
        {"g", "mem()", "out(g(7), ' ', g(7, 'abc'))", 0, 1, {RUN + 2 + 2 + 1, RUN + 2 + 4 + 1}},
    };
    for (const Case& c : cases) {
        cell(c.cell, c.cell_script);
        int b = 0;
        std::vector<int> got;
        for (double n : numbers(run_twice(c.script, &b)))
            got.push_back(static_cast<int>((n - c.offset) / c.scale) - b);
        EXPECT_EQ(got, c.want) << c.script;
    }
}

TEST_P(NodeCounts, TextsTakeANodePerThirtySixCharacters) {
    int b = 0;
    // 26 + 26 + 1 characters: the left value and two chunks, the block,
    // the result.
    std::string out = run_twice("out('abcdefghijklmnopqrstuvwxyz' cat 'abcdefghijklmnopqrstuvwxyz' "
                                "cat ' ' cat mem())",
                                &b);
    ASSERT_GT(out.size(), 53u) << out;
    EXPECT_EQ(out[52], ' ');
    EXPECT_EQ(std::strtod(out.c_str() + 53, nullptr), b + RUN + 3 + 1 + 1);
}

TEST_P(NodeCounts, MemSeesTheResultOfACutWithItsChunks) {
    string_cells();
    int b = 0;
    std::string out =
        run_twice("out(slen(s) + mem(), ' ', first(s, 36) cat mem(), ' ', butfirst(s, 3) cat "
                  "mem(), ' ', first(t, 4) cat mem(), ' ', butlast(s, 40) cat mem())",
                  &b);
    // The value on the stack with its chunks, the stack's block, mem()'s
    // own result.
    std::string want = std::to_string(40 + b + RUN + 1 + 1 + 1) + " " + s40.substr(0, 36) +
                       std::to_string(b + RUN + 3 + 1 + 1) + " " + s40.substr(3) +
                       std::to_string(b + RUN + 3 + 1 + 1) + " abcd" +
                       std::to_string(b + RUN + 2 + 1 + 1) + " " +
                       std::to_string(b + RUN + 1 + 1 + 1);
    EXPECT_EQ(out, want);
}

// The store runs out where the counts say, whatever holds the nodes.
TEST_P(NodeCounts, StatementsRunOutWhereTheCountsSay) {
    // The run, the result pushed with the value stack's block.
    EXPECT_EQ(peak("out(mem())"), RUN + 2);
    string_cells();
    // The argument list, each argument pushed with the value stack's block
    // and popped into the list without it: s's copy (value and two chunks),
    // the count (value and text); the call's result, then the cut's two
    // chunks while the arguments are still held.
    EXPECT_EQ(peak("out(first(s, 36))"), RUN + 3 + 2 + 1 + 2);
    EXPECT_EQ(peak("out(butfirst(s, 3))"), RUN + 3 + 2 + 1 + 2);
    // One chunk each: t's copy, the count with the block, the result, the
    // cut's chunk (made in t's copy, but counted as a copy is).
    EXPECT_EQ(peak("out(first(t, 4))"), RUN + 2 + 2 + 1 + 1);
    // slen: t's copy pushed with the block, then popped into the list with
    // the block released; the result.
    EXPECT_EQ(peak("out(slen(t))"), RUN + 2 + 1);
    // Both sides on the stack with its block; u's 35 characters and 'xyz'
    // need a second chunk, t's 10 do not.
    EXPECT_EQ(peak("out(u cat 'xyz')"), RUN + 2 + 1 + 2 + 1);
    EXPECT_EQ(peak("out(t cat 'xyz')"), RUN + 2 + 1 + 2);
    // A loop of string work on every length up to 33 characters (never a
    // second chunk). Its peak is in the rounds that cut: the loop holds its
    // limit (value and text), its step and a saved position with the frame
    // stack's block; butfirst's result is on the stack with its block while
    // first(u, 2) holds its arguments (u's copy, the count), its result and
    // the cut's chunk.
    EXPECT_EQ(peak("set u to '' for (i = 1 to 14) {set u to u cat 'xyz' if (slen(u) > 30) "
                   "{set u to butfirst(u, 10) cat first(u, 2)} set t to slen(first(u, 5))}"),
              RUN + (2 + 1 + 2) + (2 + 1) + (2 + 2 + 1 + 1));
}

// The walk finds everything a paused run holds owned: its stacks' charges,
// the values and argument lists on them.
TEST_P(NodeCounts, APausedRunHoldsNothingUnowned) {
    cell("f", "brk(%2) %1");
    int freed = -1, in_use = 0;
    ReclaimFaults faults;
    ui.on_pump = [&] {
        in_use = nodes_in_use();
        freed = node_reclaim_unreachable();
        faults = reclaim_last_faults();
        run_set_resume_request(true);
    };
    int b = 0;
    // Paused: the left 1 on the value stack (value, text, block), f's
    // argument list (two values with their texts) on the argument stack,
    // the caller's saved position (record and block); the frame stack's
    // and argument stack's blocks; the run.
    std::string out = run_twice("set home to 1 + f(2, 'x')", &b, true);
    EXPECT_EQ(freed, 0);
    EXPECT_EQ(faults.reached_twice, 0);
    EXPECT_EQ(faults.reached_free, 0);
    EXPECT_EQ(in_use, b + RUN + 3 + 4 + 2);
    EXPECT_EQ(out, "\r<BRK:x>\r");
    EXPECT_EQ(node_charged(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, NodeCounts, STORE_SIZES, store_size_name);

} // namespace
} // namespace tarvex::test
