// Builtins: the name tree and constants, the calling sequence, trigonometric
// units, flagging of non-numbers, sign/stp/abs, pow, the random generator;
// min/max/mean, lookup with the equality tolerance, substrings and their
// wrapping counts, previous with history depths, rref and gaussj on cells.
// Then what mem() reports while scripts run, counted by hand from what each
// structure takes: a value node, one node per 36 characters of text, a
// handle stack's header and one block per 18 handles (released as soon as
// its last handle goes), a saved position's record. Every figure is given
// against B, the nodes in use just before the run, when the script is
// already lexed and every cell holds what the previous run left. The
// fewest free nodes with which a statement still runs follow from the same
// counts.
#include "builtin_test_support.h"

#include "core/guard.h"
#include "core/name_tree.h"
#include "core/value.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

TEST_F(Builtins, TreeHoldsEveryNameAndConstantAndIsReleasedWhenMadeAgain) {
    const char* functions[] = {"rref",     "gaussj",  "lookup", "previous", "first", "last",
                               "butfirst", "butlast", "slen",   "min",      "max",   "mean",
                               "abs",      "sign",    "stp",    "sig",      "sin",   "cos",
                               "tan",      "asin",    "acos",   "atan",     "sqrt",  "ln",
                               "exp",      "log",     "pow",    "mem",      "rand"};
    for (const char* name : functions) {
        NodeHandle e = tree_find(name, builtin_root());
        ASSERT_NE(e, 0) << name;
        EXPECT_EQ(entry_kind(e), NK_BUILTIN) << name;
        EXPECT_NE(builtin_fn(e), nullptr) << name;
        EXPECT_EQ(sysconst_value(e), 0) << name;
    }
    EXPECT_EQ(tree_find("SQRT", builtin_root()), tree_find("sqrt", builtin_root()));
    EXPECT_EQ(builtin_fn(tree_find("sqrt", builtin_root())), builtin_sqrt);

    auto constant = [](const char* name) {
        NodeHandle e = tree_find(name, builtin_root());
        EXPECT_EQ(entry_kind(e), NK_SYSCONST) << name;
        EXPECT_EQ(builtin_fn(e), nullptr);
        NodeHandle v = sysconst_value(e);
        EXPECT_EQ(value_kind(v), VK_NUMBER);
        EXPECT_EQ(value_flags(v), 0);
        return value_number(v);
    };
    EXPECT_DOUBLE_EQ(constant("pi"), M_PI);
    EXPECT_DOUBLE_EQ(constant("e"), M_E);
    EXPECT_DOUBLE_EQ(constant("deg"), 180.0 / M_PI);
    EXPECT_EQ(constant("eof"), 0.0);
    EXPECT_EQ(text_to_string(entry_name(builtin_root())), "pi"); // inserted first

    uint16_t used = nodes_in_use();
    builtins_init();
    EXPECT_EQ(nodes_in_use(), used);
    expect_no_leak();

    // After a store reset without a new init the tree names nothing: it is
    // neither offered nor marked by the reclaim walk.
    node_init();
    EXPECT_EQ(builtin_root(), 0);
    eof_set(1);
    EXPECT_EQ(eof_get(), 0);
    EXPECT_EQ(node_reclaim_unreachable(), 0);
    EXPECT_EQ(reclaim_last_faults().reached_free, 0);
    builtins_init();
    EXPECT_EQ(nodes_in_use(), used);
}

// An argument a call leaves behind is found by the fixture's closing walk.
TEST_F(Builtins, CallingSequenceReleasesArgumentsOnSuccessAndFailure) {
    const char* two_chunks = "a long string argument that spans two text chunks, at least";
    EXPECT_EQ(call("first", {str(two_chunks), num(2)}).shown, "a ");
    EXPECT_EQ(call("pow", {num(2)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("pi", {num(2)}).status, SE_BUILTIN_CALL);
}

TEST_F(Builtins, TrigonometryFollowsTheUnitsAndOnlyNonNumbersAreFlagged) {
    EXPECT_DOUBLE_EQ(call("sin", {num(30)}).number, 0.5);
    EXPECT_EQ(call("sin", {num(30)}).shown, "0.5");
    EXPECT_DOUBLE_EQ(call("cos", {num(60)}).number, 0.5);
    EXPECT_DOUBLE_EQ(call("asin", {num(1)}).number, 90.0);
    EXPECT_DOUBLE_EQ(call("atan", {num(1)}).number, 45.0);
    EXPECT_DOUBLE_EQ(call("sin", {str("30")}).number, 0.5);

    settings_set_trig_units(TRIG_RADIANS);
    EXPECT_DOUBLE_EQ(call("sin", {num(M_PI / 2)}).number, 1.0);
    EXPECT_DOUBLE_EQ(call("asin", {num(1)}).number, M_PI / 2);
    EXPECT_DOUBLE_EQ(call("atan", {num(1)}).number, M_PI / 4);
    EXPECT_EQ(call("sin", {}).status, SE_BUILTIN_ARG);

    EXPECT_EQ(call("sqrt", {num(-1)}).shown, "{NAN}");
    EXPECT_EQ(call("acos", {num(2)}).shown, "{NAN}");

    Outcome ln0 = call("ln", {num(0)});
    EXPECT_TRUE(std::isinf(ln0.number) && ln0.number < 0);
    EXPECT_EQ(ln0.flags & VF_NAN, 0);

    EXPECT_DOUBLE_EQ(call("sig", {num(0)}).number, 0.5);
    EXPECT_EQ(call("sig", {num(-1000)}).shown, "{NAN}"); // exp(1000) overflows
    EXPECT_DOUBLE_EQ(call("sig", {num(1000)}).number, 1.0);

    EXPECT_EQ(call("pow", {num(2), num(10)}).number, 1024.0);
    EXPECT_EQ(call("pow", {num(-8), num(1.0 / 3)}).shown, "{NAN}");

    // The result is a fresh number: a flagged argument flags it only when the
    // function gives no number for it.
    EXPECT_EQ(call("sqrt", {str("{NAN}")}).shown, "0");
    Outcome inf_power = call("pow", {num(2), flagged()});
    EXPECT_TRUE(std::isinf(inf_power.number));
    EXPECT_EQ(inf_power.flags & VF_NAN, 0);
}

TEST_F(Builtins, SignStpAndAbsCompareExactlyAndKeepTheArgument) {
    NumberFormat fixed;
    fixed.style = 0;
    format_set_current(fixed); // 0.001 shows as 0.00, and still has a sign
    EXPECT_EQ(call("sign", {num(0.001)}).number, 1.0);
    format_set_current(format_default());
    EXPECT_EQ(call("sign", {num(-7)}).number, -1.0);
    EXPECT_EQ(call("sign", {num(0)}).number, 0.0);
    EXPECT_EQ(call("sign", {str("-0.0001")}).shown, "-1");
    EXPECT_EQ(call("stp", {num(0)}).number, 1.0);
    EXPECT_EQ(call("stp", {num(-0.001)}).number, 0.0);
    EXPECT_EQ(call("sign", {}).status, SE_BUILTIN_ARG);

    EXPECT_EQ(call("abs", {num(-3)}).number, 3.0);
    EXPECT_EQ(call("abs", {}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("abs", {str("5.0")}).shown, "5.0");
    Outcome neg = call("abs", {str("-5.0")});
    EXPECT_EQ(neg.number, 5.0);
    EXPECT_EQ(neg.kind, VK_NUMBER);
}

TEST_F(Builtins, RandomGeneratorSeedsAndRepeats) {
    // The portable generator from state 1 yields 16838 first.
    EXPECT_DOUBLE_EQ(call("rand", {}).number, 16838 / 32767.0);

    double seeded0 = call("rand", {num(0)}).number;
    EXPECT_EQ(rand_seed(), 123456);
    EXPECT_EQ(call("rand", {num(123456)}).number, seeded0);
    double seven = call("rand", {num(7.9)}).number;
    EXPECT_EQ(rand_seed(), 7);
    EXPECT_EQ(call("rand", {num(7)}).number, seven);
    EXPECT_EQ(call("rand", {num(-7.9)}).number, call("rand", {num(-7)}).number);

    std::vector<double> first_run, second_run;
    first_run.push_back(call("rand", {num(5)}).number);
    for (int i = 0; i < 50; ++i)
        first_run.push_back(call("rand", {}).number);
    second_run.push_back(call("rand", {str("5")}).number);
    for (int i = 0; i < 50; ++i)
        second_run.push_back(call("rand", {}).number);
    EXPECT_EQ(first_run, second_run);
    for (double d : first_run) {
        EXPECT_GE(d, 0.0);
        EXPECT_LE(d, 1.0);
    }
    EXPECT_NE(first_run[1], first_run[2]);

    rand_reset();
    EXPECT_DOUBLE_EQ(call("rand", {}).number, 16838 / 32767.0);
    // A seed beyond 32 bits still seeds without failing.
    EXPECT_EQ(call("rand", {num(1e30)}).status, 0);
}

// Through whole runs: what a script prints for a builtin of a flagged value.
TEST_F(BuiltinRuns, FunctionsOfFlaggedValuesGiveFreshNumbers) {
    EXPECT_EQ(run("out(1/0, ' ', atan(1/0), ' ', exp(0 - 1/0), ' ', sig(1/0))"), "{NAN} 90 0 1");
    EXPECT_EQ(run("out(sqrt(0/0), ' ', asin(2), ' ', sin(1/0), ' ', cos(0 - 1/0))"),
              "{NAN} {NAN} {NAN} {NAN}");
    // abs, sign and stp hand over the argument itself, flags and all.
    EXPECT_EQ(run("out(abs(1/0), ' ', sign(1/0), ' ', stp(0 - 1/0), ' ', abs(0 - 5))"),
              "{NAN} {NAN} {NAN} 5");
    settings_set_trig_units(TRIG_RADIANS);
    EXPECT_EQ(run("out(atan(1/0) * 2 - pi)"), "0");
}

class BuiltinCells : public BuiltinRuns {
  protected:
    CellHandle cell(const char* name) { return cell_named(name); }
    void assign(const char* name, double d) { cell_set_value(cell(name), value_new_number(d)); }
    double read(const char* name) {
        NodeHandle v = cell_value(cell_find(name));
        EXPECT_NE(v, 0) << name;
        return v == 0 ? NAN : value_number(value_to_number(v));
    }
    void fill(std::initializer_list<const char*> names, std::initializer_list<double> values) {
        auto v = values.begin();
        for (const char* n : names)
            assign(n, *v++);
    }
    std::vector<double> read_all(std::initializer_list<const char*> names) {
        std::vector<double> out;
        for (const char* n : names)
            out.push_back(read(n));
        return out;
    }
    static void expect_near(const std::vector<double>& got, const std::vector<double>& want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], want[i], 1e-12) << i;
    }
};

TEST_F(Builtins, MinMaxMeanCompareExactlyLookupWithinTheTolerance) {
    EXPECT_EQ(call("min", {num(3), num(1), num(2)}).number, 1.0);
    EXPECT_EQ(call("max", {num(3), str("7.0"), num(2)}).shown, "7.0");
    EXPECT_EQ(call("max", {str("5.0"), num(5)}).shown, "5.0");  // ties keep the earlier
    EXPECT_EQ(call("min", {num(1.001), num(1.0)}).number, 1.0); // no tolerance
    EXPECT_EQ(call("min", {num(4)}).number, 4.0);
    EXPECT_EQ(call("min", {}).status, SE_BUILTIN_ARG);

    EXPECT_EQ(call("mean", {num(1), num(2)}).number, 1.5);
    Outcome m = call("mean", {str("2.50"), str("x"), num(4)});
    EXPECT_DOUBLE_EQ(m.number, 6.5 / 3);
    EXPECT_EQ(m.kind, VK_NUMBER);
    EXPECT_EQ(m.flags & VF_DUAL, 0); // not the first argument's text
    EXPECT_EQ(call("mean", {num(1e308), num(1e308)}).shown, "{NAN}");
    EXPECT_EQ(call("mean", {}).status, SE_BUILTIN_ARG);

    EXPECT_EQ(call("lookup", {num(5), num(0), num(0), num(10), num(100)}).number, 50.0);
    EXPECT_EQ(call("lookup", {num(-1), num(0), num(0), num(10), num(100)}).number, 0.0);
    EXPECT_EQ(call("lookup", {num(20), num(0), num(0), num(10), num(100)}).number, 100.0);
    EXPECT_EQ(call("lookup", {num(5), num(0), num(0), num(10)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("lookup", {num(5), num(1), num(2)}).number, 2.0);
    EXPECT_EQ(call("lookup", {num(5), num(1)}).status, SE_BUILTIN_ARG);
    // 10.004 equals 10 within the tolerance: the first segment decides.
    Outcome edge =
        call("lookup", {num(10.004), num(0), num(0), num(10), num(100), num(20), num(300)});
    EXPECT_NEAR(edge.number, 100.04, 1e-9);
    EXPECT_DOUBLE_EQ(
        call("lookup", {num(15), num(0), num(0), num(10), num(100), num(20), num(300)}).number,
        200.0);
    // Beyond the last point: its y, as written.
    EXPECT_EQ(call("lookup", {num(99), num(0), num(0), num(10), str("1e2")}).shown, "1e2");
}

TEST_F(Builtins, SubstringsOfTheStringForm) {
    EXPECT_EQ(call("first", {str("HELLO"), num(2)}).shown, "HE");
    EXPECT_EQ(call("last", {str("HELLO"), num(2)}).shown, "LO");
    EXPECT_EQ(call("butfirst", {str("HELLO"), num(2)}).shown, "LLO");
    EXPECT_EQ(call("butlast", {str("HELLO"), num(2)}).shown, "HEL");

    EXPECT_EQ(call("first", {str("HELLO"), num(0)}).shown, "");
    EXPECT_EQ(call("first", {str("HELLO"), num(9)}).shown, "HELLO");
    EXPECT_EQ(call("last", {str("HELLO"), num(6)}).shown, "HELLO");
    EXPECT_EQ(call("last", {str("HELLO"), num(7)}).shown, ""); // the start wraps past the end
    EXPECT_EQ(call("butfirst", {str("HELLO"), num(9)}).shown, "");
    EXPECT_EQ(call("butlast", {str("HELLO"), num(9)}).shown, "HELLO");
    EXPECT_EQ(call("first", {str("HELLO"), num(-1)}).shown, "HELLO");    // -1 counts as 65535
    EXPECT_EQ(call("butfirst", {str("HELLO"), num(-1)}).shown, "HELLO"); // start 65536 wraps to 0
    EXPECT_EQ(call("first", {str("HELLO"), num(2.9)}).shown, "HE");
    EXPECT_EQ(call("first", {str("HELLO"), num(40000)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("first", {str("HELLO")}).status, SE_BUILTIN_ARG);

    Outcome digits = call("first", {str("123"), num(2)});
    EXPECT_EQ(digits.kind, VK_STRING);
    EXPECT_EQ(digits.shown, "12");
    EXPECT_EQ(call("first", {num(3.14159), num(2)}).shown, "3."); // display text "3.1"
    EXPECT_EQ(call("first", {empty(), num(2)}).shown, "");

    EXPECT_EQ(call("slen", {num(0.5)}).number, 3.0);
    EXPECT_EQ(call("slen", {str("")}).number, 0.0);
    EXPECT_EQ(call("slen", {}).status, SE_BUILTIN_ARG);

    // A string longer than 65,535 characters is cut at the right places.
    std::string big(70000, 'a');
    big.replace(big.size() - 3, 3, "xyz");
    big[0] = 'Q';
    EXPECT_EQ(call("slen", {str(big)}).number, 70000.0);
    EXPECT_EQ(call("last", {str(big), num(3)}).shown, "xyz");
    EXPECT_EQ(call("butlast", {str(big), num(3)}).shown.size(), 69997u);
    EXPECT_EQ(call("butfirst", {str(big), num(30000)}).shown.size(), 40000u);
    EXPECT_EQ(call("first", {str(big), num(1)}).shown, "Q");
}

TEST_F(BuiltinCells, PreviousWalksTheHistoryAndRaisesItsDepth) {
    assign("x", 1);
    EXPECT_EQ(call("previous", {str("x")}).number, 1.0); // the oldest it has
    EXPECT_EQ(cell_history_depth(cell("x")), 1);
    EXPECT_EQ(call("previous", {str("x"), num(2), num(99)}).number, 99.0);
    EXPECT_EQ(call("previous", {str("nosuchcell")}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("previous", {}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("previous", {str("x"), num(40000)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(cell_history_depth(cell("x")), 2);

    EXPECT_EQ(call("previous", {str("X"), num(3)}).number, 1.0);
    EXPECT_EQ(cell_history_depth(cell("x")), 3);
    for (double d : {2.0, 3.0, 4.0, 5.0})
        assign("x", d);
    EXPECT_EQ(call("previous", {str("x"), num(0)}).number, 5.0);
    EXPECT_EQ(call("previous", {str("x")}).number, 4.0);
    EXPECT_EQ(call("previous", {str("x"), num(-2)}).number, 3.0);
    EXPECT_EQ(call("previous", {str("x"), num(3)}).number, 2.0);
    EXPECT_EQ(call("previous", {str("x"), num(256)}).number, 5.0); // 256 wraps to 0
    EXPECT_EQ(call("previous", {str("x"), num(4)}).number, 2.0);   // raises, oldest kept
    EXPECT_EQ(cell_history_depth(cell("x")), 4);
    EXPECT_EQ(call("previous", {str("x"), num(1)}).number, 4.0); // never lowers the depth
    EXPECT_EQ(cell_history_depth(cell("x")), 4);

    cell("y");
    EXPECT_EQ(call("previous", {str("y")}).kind, VK_EMPTY);
    EXPECT_EQ(call("previous", {str("y"), num(0), str("dflt")}).shown, "dflt");
    cell_delete(cell_find("y"));
    EXPECT_EQ(call("previous", {str("y")}).status, SE_BUILTIN_ARG);
}

TEST_F(BuiltinCells, GaussjInvertsSolvesAndChecksItsArguments) {
    fill({"A11", "A12", "A21", "A22", "B1", "B2"}, {2, 0, 0, 4, 2, 8});
    Outcome r = call("gaussj", {str("A11"), num(2), str("B1"), num(1)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.number, 0.0);
    expect_near(read_all({"A11", "A12", "A21", "A22"}), {0.5, 0, 0, 0.25});
    expect_near(read_all({"B1", "B2"}), {1, 2});

    // [[1, 2], [3, 4]]: inverse [[-2, 1], [1.5, -0.5]]; A x = (5, 6) gives x = (-4, 4.5).
    fill({"A11", "A12", "A21", "A22", "B1", "B2"}, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(call("gaussj", {str("A11"), num(2), str("B1"), num(1)}).number, 0.0);
    expect_near(read_all({"A11", "A12", "A21", "A22"}), {-2, 1, 1.5, -0.5});
    expect_near(read_all({"B1", "B2"}), {-4, 4.5});

    // A zero diagonal forces row swaps that must be undone in the columns.
    fill({"A11", "A12", "A21", "A22"}, {0, 1, 2, 3});
    EXPECT_EQ(call("gaussj", {str("A11"), num(2)}).number, 0.0);
    expect_near(read_all({"A11", "A12", "A21", "A22"}), {-1.5, 0.5, 1, 0});

    fill({"A11", "A12", "A21", "A22"}, {1, 2, 2, 4});
    EXPECT_EQ(call("gaussj", {str("A11"), num(2)}).number, -1.0);
    fill({"A11", "A12", "A21", "A22"}, {0, 0, 0, 0});
    EXPECT_EQ(call("gaussj", {str("A11"), num(2)}).number, -1.0);

    // [[0, 2, 0], [1, 0, 0], [0, 0, 4]] -> [[0, 1, 0], [0.5, 0, 0], [0, 0, 0.25]]
    fill({"m1", "m2", "m3", "m4", "m5", "m6", "m7", "m8", "m9"}, {0, 2, 0, 1, 0, 0, 0, 0, 4});
    EXPECT_EQ(call("gaussj", {str("m1"), num(3)}).number, 0.0);
    expect_near(read_all({"m1", "m2", "m3", "m4", "m5", "m6", "m7", "m8", "m9"}),
                {0, 1, 0, 0.5, 0, 0, 0, 0, 0.25});

    // Table: home, m1..m9. Nine elements from m2 run past the last cell.
    EXPECT_EQ(call("gaussj", {str("m2"), num(3)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("gaussj", {str("m1"), num(3), str("m9"), num(1)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("gaussj", {str("m1"), num(3), str("m1")}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("gaussj", {str("nosuch"), num(1)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("gaussj", {str("m1")}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("gaussj", {str("m1"), num(1e6)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("gaussj", {str("m1"), num(17)}).status, SE_BUILTIN_ARG);
}

TEST_F(BuiltinCells, RrefReducesRankDeficientMatricesAndElementsWithoutNumbers) {
    fill({"A11", "A12", "A13", "A21", "A22", "A23"}, {1, 2, 3, 2, 4, 7});
    Outcome r = call("rref", {str("A11"), num(2), num(3)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.number, 0.0);
    expect_near(read_all({"A11", "A12", "A13", "A21", "A22", "A23"}), {1, 2, 0, 0, 0, 1});

    // Rank 2: [[1, 2, 3], [2, 4, 6], [1, 1, 1]] -> [[1, 0, -1], [0, 1, 2], [0, 0, 0]]
    fill({"m1", "m2", "m3", "m4", "m5", "m6", "m7", "m8", "m9"}, {1, 2, 3, 2, 4, 6, 1, 1, 1});
    EXPECT_EQ(call("rref", {str("m1"), num(3), num(3)}).number, 0.0);
    expect_near(read_all({"m1", "m2", "m3", "m4", "m5", "m6", "m7", "m8", "m9"}),
                {1, 0, -1, 0, 1, 2, 0, 0, 0});

    // A pivot within the tolerance counts as zero.
    fill({"m1", "m2", "m3", "m4"}, {0.004, 1, 0, 2});
    EXPECT_EQ(call("rref", {str("m1"), num(2), num(2)}).number, 0.0);
    expect_near(read_all({"m1", "m2", "m3", "m4"}), {0, 1, 0, 0});

    EXPECT_EQ(call("rref", {str("m9"), num(1), num(2)}).status, SE_BUILTIN_ARG);
    EXPECT_EQ(call("rref", {str("m1"), num(2)}).status, SE_BUILTIN_ARG);

    // e1 has no value yet: it reads as 0 and holds a number afterwards.
    cell("e1");
    fill({"e2", "e3", "e4"}, {0, 0, 0});
    cell_set_value(cell("e4"), value_new());
    value_set_cstring(cell_value(cell("e4")), "2.0");
    cell_set_value(cell("e2"), value_new());
    value_set_cstring(cell_value(cell("e2")), "1");
    // [[0, 1], [0, 2.0]] -> [[0, 1], [0, 0]]
    EXPECT_EQ(call("rref", {str("e1"), num(2), num(2)}).number, 0.0);
    ASSERT_NE(cell_value(cell("e1")), 0);
    for (const char* n : {"e1", "e2", "e3", "e4"}) {
        NodeHandle v = cell_value(cell(n));
        EXPECT_EQ(value_kind(v), VK_NUMBER) << n;
        EXPECT_EQ(value_flags(v), 0) << n;
    }
    expect_near(read_all({"e1", "e2", "e3", "e4"}), {0, 1, 0, 0});
}

// ---- what mem() sees ----

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
