// List, string, history and matrix builtins: min/max/mean, lookup with the
// equality tolerance, substrings and their wrapping counts, previous with
// history depths, rref and gaussj on cells.
#include "builtin_test_support.h"

#include "web/cell.h"

#include <vector>

namespace tarvex::test {
namespace {

class BuiltinCells : public Builtins {
  protected:
    void SetUp() override {
        Builtins::SetUp();
        cell_create("home");
    }
    CellHandle cell(const char* name) {
        CellHandle c = cell_find(name);
        return c != 0 ? c : cell_create(name);
    }
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

TEST_F(Builtins, MinMaxMeanCompareExactlyAndKeepTheWinner) {
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
}

TEST_F(Builtins, LookupInterpolatesWithinTolerance) {
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
    EXPECT_EQ(call("slen", {flagged()}).number, 5.0); // "{NAN}"
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

TEST_F(BuiltinCells, GaussjInvertsAndSolves) {
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
}

TEST_F(BuiltinCells, GaussjPermutation3x3AndArgumentChecks) {
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

TEST_F(BuiltinCells, RrefReducesIncludingRankDeficientMatrices) {
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
}

TEST_F(BuiltinCells, MatrixElementsWithoutValuesOrWithStrings) {
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

} // namespace
} // namespace tarvex::test
