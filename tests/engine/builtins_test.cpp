// Builtins: the name tree and constants, the calling sequence, trigonometric
// units, flagging of non-numbers, sign/stp/abs, pow, the random generator.
#include "builtin_test_support.h"

#include "core/guard.h"
#include "core/name_tree.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <cmath>

namespace tarvex::test {
namespace {

TEST_F(Builtins, TreeHoldsEveryNameWithItsKindAndConstants) {
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
}

TEST_F(Builtins, InitAgainReleasesTheOldTreeAndStaleTreeIsForgotten) {
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

TEST_F(Builtins, TrigonometryFollowsTheUnitsSetting) {
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
}

TEST_F(Builtins, NonNumbersAreFlaggedInfinitiesAreNot) {
    EXPECT_EQ(call("sqrt", {num(-1)}).shown, "{NAN}");
    EXPECT_EQ(call("asin", {num(2)}).shown, "{NAN}");
    settings_set_trig_units(TRIG_RADIANS);
    EXPECT_EQ(call("acos", {num(2)}).shown, "{NAN}");
    settings_set_trig_units(TRIG_DEGREES);

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
    EXPECT_EQ(call("sin", {flagged()}).shown, "{NAN}"); // sin(inf)
    Outcome inf_power = call("pow", {num(2), flagged()});
    EXPECT_TRUE(std::isinf(inf_power.number));
    EXPECT_EQ(inf_power.flags & VF_NAN, 0);
    EXPECT_EQ(call("sig", {flagged()}).flags & VF_NAN, 0); // 1 / (1 + exp(-inf))
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
    EXPECT_EQ(call("sign", {flagged()}).shown, "{NAN}");
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
class BuiltinRuns : public Builtins {
  protected:
    void SetUp() override {
        Builtins::SetUp();
        cell_create("home");
        navigation_reset();
    }
    std::string run(const char* script) {
        ui.console.clear();
        EXPECT_EQ(run_in_home(script), 0) << script;
        return ui.console;
    }
};

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

} // namespace
} // namespace tarvex::test
