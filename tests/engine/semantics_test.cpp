// The language's answers, worked out by hand: every operator and comparison
// on numbers, strings, empty values and failed ({NAN}) numbers, and every
// message the parser picks. Each case runs through the expression walker
// alone and again with the compiled code, and must give the written answer
// both times: a fault the two executors share is caught as well as one of
// either.
#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/node_store.h"
#include "script/compiled_expr.h"
#include "script/run_engine.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <string>
#include <vector>

namespace tarvex::test {
namespace {

class Semantics : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        cell_create("home");
        cell_create("blank"); // never given a value
        cell_create("x");
        navigation_reset();
    }
    void TearDown() override {
        interp_set_fast_path(true);
        EngineTest::TearDown();
    }
    // Runs a script in home; returns the console and the run's result.
    std::string run(const std::string& script, bool fast, int* result = nullptr) {
        interp_set_fast_path(fast);
        int r = run_in_home(script);
        if (result) *result = r;
        return ui.console;
    }
};

const char* executor(bool fast) { return fast ? "compiled" : "walker"; }

TEST_F(Semantics, Operators) {
    struct Case {
        const char* expr;
        const char* shown;
    };
    static const Case cases[] = {
        // numbers, precedence and associativity
        {"7 + 2", "9"},
        {"2 - 7", "-5"},
        {"7 * 3", "21"},
        {"7 / 2", "3.5"},
        {"2 / 3", "0.67"},
        {"3.14159 + 0", "3.1"},
        {"1234 + 0", "1.2e+03"},
        {"7 % 3", "1"},
        {"-7 % 3", "-1"},
        {"7 % (-3)", "1"},
        {"7.5 % 2", "1.5"},
        {"-6 % 3", "-0"},
        {"8 - 4 - 2", "2"},
        {"8 / 4 / 2", "1"},
        {"1 + 2 * 3", "7"},
        {"(1 + 2) * 3", "9"},
        {"2 * 3 % 4", "2"},
        {"-(2 - 7)", "5"},
        {"1 or 0", "1"},
        {"0 or 0", "0"},
        {"2 and 3", "1"},
        {"1 and 0", "0"},
        {"1 or 0 and 0", "1"},
        {"0 and 1 or 1", "1"},
        {"not 0", "1"},
        {"not 2", "0"},
        {"not 3 = 0", "1"},
        {"0 or 0.0001", "1"}, // any number but 0 is true, however small
        {"not 0.0001", "0"},
        {"1 + 2 = 3", "1"},
        // strings
        {"'5' + 1", "6"},
        {"'5' * '2'", "10"},
        {"'a' + 1", "1"},
        {"-'5'", "-5"},
        {"not 'a'", "1"},
        {"'ab' cat 'cd'", "abcd"},
        {"'12' cat 3", "123"},
        {"3 cat 4", "34"},
        {"1 + 2 cat 'z'", "3z"},
        {"'ab' cat ''", "ab"},
        {"'' cat 'ab'", "ab"},
        {"3 cat '' cat '4' + 1", "35"}, // a joined string is no longer its old number
        // an empty value
        {"blank + 1", "1"},
        {"blank * 2", "0"},
        {"not blank", "1"},
        {"blank cat 'x'", "x"},
        // failed numbers
        {"1 / 0", "{NAN}"},
        {"0 / 0 + 1", "{NAN}"},
        {"1 / 0 * 0", "{NAN}"},
        {"5 % 0", "{NAN}"},
        {"-(1 / 0)", "{NAN}"},
        {"0 or 1 / 0", "1"},
    };
    for (bool fast : {false, true})
        for (const Case& c : cases)
            EXPECT_EQ(run(std::string("out(") + c.expr + ")", fast), c.shown)
                << c.expr << " (" << executor(fast) << ")";
}

// The six comparisons of a pair, as a value and as an if's condition.
// Strings compare as texts, and so do a number and a string ("2" after
// "10"); an empty value is the text "" on the left, 0 on the right of a
// number; a failed number's difference from any other is no difference.
// Within the tolerance of two decimals is equal; a difference of the
// tolerance itself is none.
TEST_F(Semantics, Comparisons) {
    static const char* const ops[] = {"=", "<>", "<", "<=", ">", ">="};
    struct Case {
        const char* left;
        const char* right;
        const char* holds; // for = <> < <= > >= in turn
    };
    static const Case cases[] = {
        {"1", "2", "011100"},          {"2", "2", "100101"},       {"2", "1", "010011"},
        {"2", "2.004", "100101"},      {"2", "2.006", "011100"},   {"0.005", "0", "100101"},
        {"-1", "1", "011100"},         {"'a'", "'b'", "011100"},   {"'b'", "'b'", "100101"},
        {"'b'", "'a'", "010011"},      {"'10'", "'9'", "011100"},  {"2", "'10'", "010011"},
        {"'10'", "2", "011100"},       {"blank", "0", "011100"},   {"0", "blank", "100101"},
        {"blank", "''", "100101"},     {"(0 / 0)", "5", "100101"}, {"5", "(0 / 0)", "100101"},
        {"-0.004", "blank", "100101"}, {"(1 / 0)", "5", "010011"}};
    for (bool fast : {false, true})
        for (const Case& c : cases)
            for (int i = 0; i < 6; ++i) {
                std::string rel = std::string(c.left) + " " + ops[i] + " " + c.right;
                std::string want(1, c.holds[i]);
                EXPECT_EQ(run("out(" + rel + ")", fast), want)
                    << rel << " (" << executor(fast) << ")";
                EXPECT_EQ(run("if (" + rel + ") {out(1)} else {out(0)}", fast), want)
                    << "if (" << rel << ") (" << executor(fast) << ")";
            }
}

TEST_F(Semantics, ParserMessages) {
    struct Case {
        const char* script;
        int error;
        const char* message;
    };
    static const Case cases[] = {
        {"out 1)", SE_EXPECTED_LPAREN, "Expected '(' "},
        {"while 1 {}", SE_EXPECTED_LPAREN, "Expected '(' "},
        {"if (1 2) {}", SE_EXPECTED_RPAREN, "Expected ')' "},
        {"for (x 1 to 2) {}", SE_EXPECTED_EQUAL, "Expected '='"},
        {"for (1 = 1 to 2) {}", SE_BAD_FOR, "Bad FOR statement"},
        {"for (x = 1 2) {}", SE_BAD_FOR, "Bad FOR statement"},
        {"if (1) 5 {6}", SE_MISSING_LBRACE, "Missing '{'"},
        {"if (0) {} else 5 {6}", SE_MISSING_LBRACE, "Missing '{'"},
        // the if read once (its first pass) before its clause runs
        {"for (x = 0 to 1) {if (x) 5 {6}}", SE_MISSING_LBRACE, "Missing '{'"},
        {"if (1) 5", SE_UNEXPECTED_END, "Unexpected end of script"},
        {"{1", SE_MISSING_RBRACE, "Missing '}'"},
        {"(1", SE_MISSING_PAREN, "Missing paren"},
        {"1 +", SE_UNEXPECTED_END, "Unexpected end of script"},
        {"2 ^ 3", SE_INVALID_EXPRESSION, "Invalid expression"},
        {"1 + if", SE_RESERVED_MISUSE, "Misuse of reserved word"},
        {"to", SE_ILLEGAL_STATEMENT, "Illegal statement"},
        {"do {} 1", SE_BAD_DO, "Bad DO syntax"},
        {"set 1", SE_SET_TARGET, "First arg of set must be reserved word or cellname"},
        {"set x step 1", SE_BAD_SET, "Bad set statement"},
        {"x[1", SE_SUBSCRIPT_BRACKET, "Subscript missing ']'"},
        {"x[9]", SE_SUBSCRIPT_RANGE, "Subscript out of range"},
        {"%a", SE_EXPECTED_ARGNUM, "Expected argument number"},
        {"%1", SE_ARGNUM_INVALID, "Argument number invalid"},
        {"x(1 2)", SE_ARGLIST, "Argument list error"},
        {"abs 1", SE_BUILTIN_CALL, "Builtin function call"},
        {"out(1 2)", SE_BAD_OUT, "Missing ',' or ')' in OUT stmt"},
    };
    for (bool fast : {false, true})
        for (const Case& c : cases) {
            int r = 0;
            std::string console = run(c.script, fast, &r);
            EXPECT_EQ(r, c.error) << c.script << " (" << executor(fast) << ")";
            EXPECT_NE(console.find(std::string(c.message) + " IN CELL home"), std::string::npos)
                << c.script << " (" << executor(fast) << "): " << console;
        }
}

// Argument lists of cell calls: their values, in order, and where a list
// that does not close is reported (the column of the offending token).
TEST_F(Semantics, CallArguments) {
    cell_set_script(cell_create("zero"), "7");
    cell_set_script(cell_create("one"), "%1 * 2");
    cell_set_script(cell_create("three"), "%1 * 9 + %2 * 3 + %3");
    struct Case {
        const char* script;
        const char* shown;
        int error;
        int column;
    };
    static const Case cases[] = {
        {"out(zero())", "7", 0, 0},
        {"out(zero! + 1)", "8", 0, 0},
        {"out(one(4))", "8", 0, 0},
        {"out(one('4') + 1)", "9", 0, 0},
        {"out(three(1, 2, 3))", "18", 0, 0},
        {"out(three(1, one(one(2)), 3))", "36", 0, 0},
        {"out(one(three(1, 2, 3) + 1) - 1)", "37", 0, 0},
        {"set x to three(1, 2, 3)\nout(x)", "18", 0, 0},
        {"if (one(1) = 2) {out('y')}", "y", 0, 0},
        {"out(three(1, 2 3))", "", SE_ARGLIST, 16},
        {"set x to one(4", "", SE_ARGLIST, 15},
        {"set x to one(4 5)", "", SE_ARGLIST, 16},
        {"set x to three(1, one(2 3)", "", SE_ARGLIST, 25},
        {"set x to one(", "", SE_UNEXPECTED_END, 14},
        {"set x to one(4,", "", SE_UNEXPECTED_END, 16},
        // a ')' after a trailing comma closes the list and stays current
        {"out(one(4,))", "8", SE_INVALID_EXPRESSION, 12},
        {"set x to three(1, 2, 3,)", "", SE_INVALID_EXPRESSION, 24},
    };
    for (bool fast : {false, true})
        for (const Case& c : cases) {
            int r = 0;
            std::string console = run(c.script, fast, &r);
            EXPECT_EQ(r, c.error) << c.script << " (" << executor(fast) << ")";
            if (c.error == 0) {
                EXPECT_EQ(console, c.shown) << c.script << " (" << executor(fast) << ")";
                continue;
            }
            EXPECT_EQ(console.rfind(c.shown, 0), 0u) << c.script << " (" << executor(fast) << ")";
            LexPosition at;
            ASSERT_TRUE(run_error_position(&at)) << c.script;
            EXPECT_EQ(run_last_error().cell, cell_root()) << c.script;
            EXPECT_EQ(at.column, c.column) << c.script << " (" << executor(fast) << ")";
        }
}

// A number literal of many nodes near the store's low mark: the compiled
// code must leave it to the walker wherever the walker's copy of it would
// take the store below the mark, so both tell the store low at the same
// margins.
TEST_F(Semantics, LongLiteralsAtTheLowMark) {
    static std::vector<NodeHandle> filler; // outlives the test: the last reclaim walk marks it
    keep([] {
        for (NodeHandle h : filler)
            node_mark(h);
    });
    const std::string literal = std::string(300, '0') + "12";
    const std::string scripts[] = {"set x to " + literal, "set x to 1 + " + literal};
    int told_low = 0, ran_compiled = 0;
    for (const std::string& script : scripts)
        for (int margin = 0; margin < 30; ++margin) {
            std::string shown[2];
            for (bool fast : {false, true}) {
                interp_set_fast_path(fast);
                cell_set_script(cell_root(), script.c_str());
                make_current(cell_root());
                ui.flashes.clear();
                ui.boxes.clear();
                compiled_counts_reset();
                while (nodes_free() > LOW_NODE_THRESHOLD + margin)
                    filler.push_back(node_alloc(PlainNode));
                EXPECT_EQ(engine_guard([] { return run_command(false); }), 0) << script;
                for (NodeHandle h : filler)
                    node_free(h);
                filler.clear();
                for (const std::string& f : ui.flashes)
                    shown[fast] += f + "\n";
                for (const auto& b : ui.boxes)
                    shown[fast] += b.text + "\n";
                ran_compiled += fast && compiled_counts().runs > 0;
            }
            EXPECT_EQ(shown[0], shown[1]) << script.substr(0, 12) << ", margin " << margin;
            told_low += !shown[0].empty();
        }
    EXPECT_GT(told_low, 0);
    EXPECT_GT(ran_compiled, 0);
}

} // namespace
} // namespace tarvex::test
