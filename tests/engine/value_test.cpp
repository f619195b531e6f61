// Values: dual forms, conversions, tolerance comparisons, operations, and
// number formatting independent of the process locale.
#include "engine_fixture.h"

#include "core/value.h"
#include "settings/settings.h"

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tarvex::test {
namespace {

class ValueTest : public EngineTest {
  protected:
    NodeHandle num(double d) { return track(value_new_number(d)); }
    NodeHandle str(const char* s) {
        NodeHandle v = track(value_new());
        value_set_cstring(v, s);
        return v;
    }
    NodeHandle track(NodeHandle v) {
        made.push_back(v);
        return v;
    }
    std::string text_of(NodeHandle v) { return text_to_string(value_text(value_to_text(v))); }
    void TearDown() override {
        for (NodeHandle v : made)
            value_free(v);
        EngineTest::TearDown();
    }
    std::vector<NodeHandle> made;
};

TEST_F(ValueTest, StringToNumberRules) {
    struct {
        const char* s;
        double d;
        bool nan;
    } cases[] = {{"12abc", 12, false}, {" 7", 7, false},      {"abc", 0, false},
                 {"{NAN}", 0, true},   {"{NAN}xyz", 0, true}, {"1e999", HUGE_VAL, true},
                 {"info", 0, false},   {"nan", 0, false},     {"0x10", 0, false},
                 {"-.5e1", -5, false}, {"3e", 3, false}};
    for (auto& c : cases) {
        NodeHandle v = str(c.s);
        value_to_number(v);
        EXPECT_EQ((value_flags(v) & VF_NAN) != 0, c.nan) << c.s;
        if (!c.nan || c.d != 0) {
            EXPECT_EQ(value_number(v), c.d) << c.s;
        }
    }
    NodeHandle digits = str("123456789012345678901234567890");
    value_to_number(digits);
    EXPECT_EQ(value_number(digits), 123456789012345678901234.0);
}

TEST_F(ValueTest, ParsingAtTheEdgesOfTheDoubleRange) {
    struct {
        const char* s;
        double d;
        int rc;
    } cases[] = {{"-1e400", -HUGE_VAL, -1},
                 {"1000e306", HUGE_VAL, -1},
                 {"0.00000000000000000000000000001e330", 1e301, 0},
                 {"1.7976931348623157e308", DBL_MAX, 0},
                 {"4e-320", 4e-320, 0}, // below the normal range, still a number
                 {"1e-400", 0.0, 0},    // too small for any double: 0, not an error
                 {"0.0000001e-320", 0.0, 0},
                 {"\t\n +2.5e+1xyz", 25, 0},
                 {"1e+", 1, 0},
                 {"-", 0, 0},
                 {".e5", 0, 0}};
    for (auto& c : cases) {
        double d = -7;
        EXPECT_EQ(number_parse(c.s, d), c.rc) << c.s;
        EXPECT_EQ(d, c.d) << c.s;
    }
    double d = 1;
    number_parse("-1e-400", d);
    EXPECT_TRUE(d == 0.0 && std::signbit(d));
}

TEST_F(ValueTest, DualFormsKeepTheirText) {
    NodeHandle s = str("3.0");
    EXPECT_EQ(value_kind(s), VK_STRING);
    value_to_number(s);
    EXPECT_EQ(text_of(s), "3.0");
    NodeHandle n = num(1.0 / 3);
    value_cache_text(n);
    EXPECT_EQ(value_kind(n), VK_NUMBER);
    settings_set_decimals(5);
    EXPECT_EQ(text_of(n), "0.33"); // cached before the format changed
    EXPECT_EQ(value_display(num(1.0 / 3)), "0.33333");
}

// Negation keeps a string a string and an empty value empty.
TEST_F(ValueTest, NegationKeepsTheKind) {
    NodeHandle s = str("5");
    value_negate(s);
    EXPECT_EQ(value_kind(s), VK_STRING);
    EXPECT_EQ(text_of(s), "-5");
    NodeHandle e = track(value_new());
    value_negate(e);
    EXPECT_EQ(value_kind(e), VK_EMPTY);
    EXPECT_TRUE(std::signbit(value_number(e)));
}

TEST_F(ValueTest, ConcatMovesOrAppends) {
    NodeHandle a = track(value_new()), b = str("xyz");
    value_concat(a, b);
    EXPECT_EQ(text_of(a), "xyz");
    EXPECT_EQ(value_text(b), 0); // moved, not copied
    EXPECT_EQ(text_of(b), "");
    NodeHandle c = num(1.5);
    value_concat(c, num(2));
    EXPECT_EQ(value_kind(c), VK_STRING);
    EXPECT_EQ(value_flags(c) & VF_DUAL, 0);
    EXPECT_EQ(text_of(c), "1.52");
    NodeHandle d = str("keep");
    value_concat(d, track(value_new()));
    EXPECT_EQ(text_of(d), "keep");
}

TEST_F(ValueTest, CopyAndLists) {
    NodeHandle dst = str("hello");
    value_copy(dst, 0);
    EXPECT_EQ(value_kind(dst), VK_EMPTY);
    EXPECT_EQ(value_text(dst), 0);
    NodeHandle list = value_new_number(1);
    chain_set_next(list, value_new_number(2));
    value_set_cstring(chain_next(list), "two");
    NodeHandle copy = valuelist_copy(list);
    EXPECT_EQ(text_of(chain_next(copy)), "two");
    valuelist_free(list);
    valuelist_free(copy);
    EXPECT_EQ(valuelist_copy(0), 0);
}

// A copy holds a text of its own as long as its source's, stale number text
// included; running out of nodes while copying it leaves the copy naming no
// text of another value and nothing of the copy held.
TEST_F(ValueTest, CopyOwnsItsTextEvenWhenTheStoreRunsOut) {
    NodeHandle n = num(12.5);
    value_to_text(n);
    value_sub(n, num(0.5)); // a number again, its old text kept
    EXPECT_EQ(value_flags(n) & VF_DUAL, 0);
    NodeHandle dst = track(value_new());
    uint16_t before = nodes_free();
    value_copy(dst, n);
    EXPECT_EQ(before - nodes_free(), 1);
    EXPECT_EQ(value_kind(dst), VK_NUMBER);
    EXPECT_EQ(value_number(dst), 12.0);
    EXPECT_EQ(value_flags(dst), value_flags(n));
    EXPECT_NE(value_text(dst), value_text(n));
    EXPECT_EQ(text_to_string(value_text(dst)), "12"); // 12.5 in two digits

    NodeHandle s = str("a longer text, which spans two chunks");
    uint16_t free_before = nodes_free();
    node_fail_after(1);
    EXPECT_THROW(value_copy(dst, s), NodeExhausted);
    node_fail_after(-1);
    EXPECT_EQ(value_text(dst), 0);
    EXPECT_EQ(nodes_free(), free_before + 1); // dst's old text, and no chunk of the copy
    value_copy(dst, s);
    EXPECT_EQ(text_of(dst), "a longer text, which spans two chunks");
}

TEST_F(ValueTest, FormatStylesAndOverlongNumbers) {
    char buf[NUMBER_TEXT_MAX + 1];
    // Never more digits than a double carries, however many are asked for;
    // no text at all in a style that does not exist.
    const struct {
        NumberFormat format;
        double d;
        const char* text;
    } cases[] = {{{0, 1, 24, '.'}, 5, "5.0"},
                 {{1, 3, 24, '.'}, 12345, "1.234e+04"},
                 {{1, 30, 24, '.'}, 0.5, "5.000000000000000000e-01"},
                 {{3, 2, 24, '.'}, 1, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(number_format(buf, c.d, c.format), int(std::strlen(c.text))) << c.text;
        EXPECT_STREQ(buf, c.text);
    }
    // Too long for fixed style: shown in exponential style, never cut.
    NumberFormat fixed8{0, 8, 24, '.'};
    int n = number_format(buf, 1e300, fixed8);
    EXPECT_LE(n, NUMBER_TEXT_MAX);
    double back = 0;
    EXPECT_EQ(number_parse(buf, back), 0);
    EXPECT_NEAR(back / 1e300, 1.0, 1e-8);
    n = number_format(buf, -123456789012345.678, fixed8);
    EXPECT_LE(n, NUMBER_TEXT_MAX);
    number_parse(buf, back);
    EXPECT_NEAR(back, -123456789012345.678, 0.1);
}

TEST_F(ValueTest, FormatSettingsFallBackToDefaults) {
    settings_set_decimals(12);
    EXPECT_EQ(format_current().decimals, 2);
    settings_set_number_style(3);
    EXPECT_EQ(format_current().style, 2);
    settings_set_decimals(1);
    EXPECT_DOUBLE_EQ(equality_tolerance(), 0.05);
}

TEST_F(ValueTest, IntegerConversions) {
    // Truncation towards zero at both ends and around zero; a failure keeps
    // the old value (7).
    const struct {
        double d;
        int rc, got;
    } cases[] = {{32767.9, 0, 32767}, {32768, -1, 7},    {-32768.99, 0, -32768},
                 {-32769, -1, 7},     {-0.9, 0, 0},      {2.999, 0, 2},
                 {NAN, -1, 7},        {INFINITY, -1, 7}, {-INFINITY, -1, 7}};
    for (const auto& c : cases) {
        int16_t i16 = 7;
        EXPECT_EQ(num_to_int16(i16, c.d), c.rc) << c.d;
        EXPECT_EQ(i16, c.got) << c.d;
    }
    int32_t i32 = 0;
    EXPECT_EQ(num_to_int32(i32, 2147483648.0), -1);
    EXPECT_EQ(num_to_int32(i32, -2147483648.0), 0);
    int16_t i16 = 0;
    EXPECT_EQ(int16_from_text(i16, "99999999999"), -1);
    EXPECT_EQ(int16_from_text(i16, "32768"), -1);
    EXPECT_EQ(int16_from_text(i16, "32767"), 0);
    EXPECT_EQ(int16_from_text(i16, "-12"), 0);
    EXPECT_EQ(i16, -12);
    double d;
    EXPECT_EQ(num_div(d = 1, 0), -1);
    EXPECT_EQ(num_compare(NAN, 1), -1);
    EXPECT_EQ(num_compare(1, NAN), -1);
}

// Qt sets the process locale from the environment; numbers must not follow it.
TEST_F(ValueTest, CommaLocaleDoesNotChangeNumbers) {
    const char* name = std::getenv("TARVEX_COMMA_LOCALE");
    std::string wanted = name ? name : "de_DE.UTF-8";
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, wanted.c_str())) {
        if (name) FAIL() << "comma locale " << wanted << " is not installed";
        GTEST_SKIP() << "no comma locale on this machine (./test.sh creates one)";
    }
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 0.5);
    EXPECT_STREQ(probe, "0,50"); // the locale really is a comma locale
    NodeHandle two = num(2);
    value_div(two, num(3));
    EXPECT_EQ(text_of(two), "0.67");
    NodeHandle s = str("2.5");
    value_to_number(s);
    EXPECT_EQ(value_number(s), 2.5);
    std::setlocale(LC_ALL, saved.c_str());
}

// The remainder takes an integer path for whole numbers: it must agree with
// fmod bit for bit, the sign of a zero result included, at the edges of
// that path and past them.
TEST_F(ValueTest, RemainderAgreesWithFmodBitForBit) {
    const double big = 0x1p62, odd = 0x1p53 + 2;
    const double values[] = {0.0, -0.0,  1,     -1,    7,        -7,        14,      -14,
                             3.5, -2.25, 1e15,  -1e15, big,      -big,      big * 2, -big * 2,
                             odd, -odd,  1e300, 0.1,   INFINITY, -INFINITY, NAN,     999999};
    for (double a : values)
        for (double b : values) {
            double got = 0;
            int r = num_mod(got, a, b);
            double want = std::fmod(a, b);
            SCOPED_TRACE(testing::Message() << a << " % " << b);
            EXPECT_EQ(r, std::isfinite(want) ? 0 : -1);
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got));
            } else {
                EXPECT_EQ(got, want);
                EXPECT_EQ(std::signbit(got), std::signbit(want));
            }
        }
}

} // namespace
} // namespace tarvex::test
