// Values and the structures beneath them: dual forms, conversions,
// tolerance comparisons, operations and number formatting independent of
// the process locale; texts (chunk layout, folding comparisons, cursors,
// lengths past 16 bits); handle stacks and name trees; and long seeded
// runs of random operations on texts and handle stacks, checked step by
// step against std::string and std::vector.
#include "engine_fixture.h"

#include "core/handle_stack.h"
#include "core/name_tree.h"
#include "core/text.h"
#include "core/value.h"
#include "settings/settings.h"

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

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

TEST_F(ValueTest, StringToNumberRulesAndTheEdgesOfTheDoubleRange) {
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

    struct {
        const char* s;
        double d;
        int rc;
    } edges[] = {{"-1e400", -HUGE_VAL, -1},
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
    for (auto& c : edges) {
        double d = -7;
        EXPECT_EQ(number_parse(c.s, d), c.rc) << c.s;
        EXPECT_EQ(d, c.d) << c.s;
    }
    double d = 1;
    number_parse("-1e-400", d);
    EXPECT_TRUE(d == 0.0 && std::signbit(d));
}

TEST_F(ValueTest, DualFormsKeepTheirTextAndNegationTheKind) {
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

    // Negation keeps a string a string and an empty value empty.
    NodeHandle five = str("5");
    value_negate(five);
    EXPECT_EQ(value_kind(five), VK_STRING);
    EXPECT_EQ(text_of(five), "-5");
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

TEST_F(ValueTest, CopiesAndListsOwnTheirTextsEvenWhenTheStoreRunsOut) {
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

    // A copy holds a text of its own as long as its source's, stale number text
    // included; running out of nodes while copying it leaves the copy naming no
    // text of another value and nothing of the copy held.
    NodeHandle n = num(12.5);
    value_to_text(n);
    value_sub(n, num(0.5)); // a number again, its old text kept
    EXPECT_EQ(value_flags(n) & VF_DUAL, 0);
    dst = track(value_new());
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

TEST_F(ValueTest, FormatStylesOverlongNumbersAndFallbacks) {
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
    // Settings out of range fall back to the defaults.
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

class TextTest : public EngineTest {};

int chunks(Text t) {
    int n = 0;
    for (; t; t = chain_next(t))
        ++n;
    return n;
}

TEST_F(TextTest, ChunkLayoutFollowsLength) {
    Text empty = text_from_cstring("");
    EXPECT_EQ(chunks(empty), 1);
    EXPECT_EQ(text_length(empty), 0u);
    EXPECT_EQ(text_compare(empty, 0), 0);
    std::string s36(36, 'x'), s37(37, 'y');
    Text t36 = text_from_cstring(s36.c_str()), t37 = text_from_cstring(s37.c_str());
    EXPECT_EQ(chunks(t36), 2);
    EXPECT_EQ(node_aux(chain_next(t36)), 0);
    EXPECT_EQ(chunks(t37), 2);
    EXPECT_EQ(node_aux(t37), 36);
    EXPECT_EQ(node_aux(chain_next(t37)), 1);
    // The same characters spread differently over chunks compare equal.
    Text built = text_from_cstring("");
    text_append(built, t36);
    EXPECT_EQ(text_compare(built, t36), 0);
    EXPECT_EQ(text_to_string(built), s36);
    for (Text t : {empty, t36, t37, built})
        text_free(t);
}

TEST_F(TextTest, FoldingComparisonsAgree) {
    struct Case {
        const char *a, *b;
        int sign;
    } cases[] = {{"abc", "ABC", 0},   {"my_cell", "MY CELL", 0},
                 {"ab", "abc", -1},   {"abd", "abc", 1},
                 {"", "a", -1},       {"Z", "a", 1},
                 {"\xC3\xA9", "z", 1}}; // bytes above 0x7F order above ASCII
    for (const Case& c : cases) {
        Text ta = text_from_cstring(c.a), tb = text_from_cstring(c.b);
        auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
        EXPECT_EQ(sign(text_compare(ta, tb)), c.sign) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(text_compare_cstring(ta, c.b)), c.sign) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(cstring_compare(c.a, c.b)), c.sign) << c.a << " vs " << c.b;
        text_free(ta);
        text_free(tb);
    }
    Text d = text_from_cstring("abd"), c = text_from_cstring("abc");
    EXPECT_EQ(text_compare(d, c), 'D' - 'C');
    text_free(d);
    text_free(c);
}

// The reader keeps high bytes apart from its end markers; the writer grows
// chunks and ignores a character once reset.
TEST_F(TextTest, CursorsBufferCopiesAndLengthsPastSixteenBits) {
    Text t = text_from_cstring("A\xFE\xFF"
                               "B");
    text_read_start(t);
    for (int c : std::initializer_list<int>{'A', 0xFE, 0xFF, 'B', TEXT_END, TEXT_NONE})
        EXPECT_EQ(text_read_char(), c);
    text_read_start(0);
    EXPECT_EQ(text_read_char(), TEXT_NONE);
    text_free(t);

    t = text_write_start();
    for (int i = 0; i < 80; ++i)
        text_write_char(static_cast<uint8_t>('0' + i % 10));
    text_write_reset();
    text_write_char('!');
    EXPECT_EQ(text_length(t), 80u);
    EXPECT_EQ(chunks(t), 3);
    char buf[25];
    EXPECT_EQ(text_to_buffer(buf, t, 24), 24u);
    EXPECT_STREQ(buf, "012345678901234567890123");
    EXPECT_EQ(text_to_buffer(buf, 0, 24), 0u);
    EXPECT_STREQ(buf, "");
    text_free(t);

    t = text_from_bytes(std::string(70000, 'k'));
    EXPECT_EQ(text_length(t), 70000u);
    Text tail = text_substring(t, 69990, 70000);
    EXPECT_EQ(text_to_string(tail), std::string(11, 'k'));
    text_free(tail);
    text_free(t);
}

class HandleStackTest : public EngineTest {};

TEST_F(HandleStackTest, BlocksComeAndGoWithEighteenHandlesAndTheCursorSurvivesPops) {
    NodeHandle s = hstack_new();
    EXPECT_EQ(hstack_pop(s), 0);
    EXPECT_EQ(hstack_count(s), 0u);
    uint16_t base = nodes_in_use();
    for (NodeHandle h = 1; h <= 18; ++h)
        hstack_push(s, static_cast<NodeHandle>(100 + h));
    EXPECT_EQ(nodes_in_use(), base + 1);
    hstack_push(s, 119);
    EXPECT_EQ(nodes_in_use(), base + 2);
    EXPECT_EQ(hstack_peek(s), 119);
    EXPECT_EQ(hstack_pop(s), 119);
    EXPECT_EQ(nodes_in_use(), base + 1);
    for (NodeHandle h = 118; h >= 101; --h)
        EXPECT_EQ(hstack_pop(s), h);
    EXPECT_EQ(nodes_in_use(), base); // emptied: only the header is left
    EXPECT_EQ(hstack_pop(s), 0);
    EXPECT_EQ(hstack_peek(s), 0);
    EXPECT_EQ(nodes_in_use(), base);
    hstack_push(s, 7); // a new bottom block
    EXPECT_EQ(nodes_in_use(), base + 1);
    EXPECT_EQ(hstack_peek(s), 7);
    hstack_cursor_reset(s);
    EXPECT_EQ(hstack_cursor_next(s), 7);
    EXPECT_EQ(hstack_cursor_next(s), 0);
    EXPECT_EQ(hstack_pop(s), 7);
    EXPECT_EQ(nodes_in_use(), base);
    hstack_free(s);
    EXPECT_EQ(hstack_pop(0), 0);

    // Popping below a resting cursor never leaves it on a released block.
    s = hstack_new();
    for (NodeHandle h = 1; h <= 40; ++h)
        hstack_push(s, h);
    hstack_cursor_reset(s);
    for (int i = 0; i < 25; ++i)
        hstack_pop(s);
    std::vector<NodeHandle> rest;
    for (NodeHandle h = hstack_cursor_next(s); h; h = hstack_cursor_next(s))
        rest.push_back(h);
    ASSERT_EQ(rest.size(), 15u);
    EXPECT_EQ(rest.front(), 15);
    EXPECT_EQ(rest.back(), 1);
    keep([s] { hstack_mark(s); });
    expect_no_leak();
    forget_all();
    hstack_free(s);
}

// A charged stack takes from the store what a handle stack holding the same
// entries takes, at every push and pop.
TEST_F(HandleStackTest, ChargedStackCountsAsAHandleStack) {
    static ChargedStack<NodeHandle, 100> charged;
    uint16_t base = nodes_in_use();
    NodeHandle real = hstack_new();
    cstack_open(charged);
    EXPECT_EQ(nodes_in_use(), base + 2);
    // Up and down across block boundaries, down to empty and up again.
    const int moves[] = {+1, -1, +18, +1, -1, -1, +20, -25, -12, +40, -40, +3};
    NodeHandle next = 1;
    for (int m : moves) {
        for (int i = 0; i < (m > 0 ? m : -m); ++i) {
            int before = nodes_in_use();
            NodeHandle h = 0;
            if (m > 0)
                hstack_push(real, next);
            else
                h = hstack_pop(real);
            int between = nodes_in_use();
            if (m > 0) {
                cstack_push(charged, next++);
            } else {
                NodeHandle c = 0;
                ASSERT_TRUE(cstack_pop(charged, &c));
                EXPECT_EQ(c, h);
            }
            ASSERT_EQ(nodes_in_use() - between, between - before) << "move " << m << " step " << i;
            ASSERT_EQ(cstack_peek(charged), hstack_peek(real));
        }
        ASSERT_EQ(charged.count, hstack_count(real));
        EXPECT_EQ(nodes_in_use() - base, 2 * cstack_charges(charged));
    }
    NodeHandle h = 0;
    while (cstack_pop(charged, &h))
        hstack_pop(real);
    EXPECT_FALSE(cstack_pop(charged, &h));
    EXPECT_EQ(cstack_peek(charged), 0);
    EXPECT_EQ(nodes_in_use(), base + 2); // both emptied: their headers
    cstack_push(charged, NodeHandle{7});
    cstack_close(charged); // header and block, whatever it still holds
    hstack_free(real);
    EXPECT_EQ(nodes_in_use(), base);
    EXPECT_EQ(node_charged(), 0u);
}

class NameTreeTest : public EngineTest {
  protected:
    NodeHandle root = 0;
    NodeHandle add(const char* n, uint16_t kind = NK_CELL) {
        return tree_insert(text_from_cstring(n), &root, kind);
    }
    void TearDown() override {
        tree_walk_post(root, [](NodeHandle e) {
            text_free(entry_name(e));
            node_free(e);
        });
        EngineTest::TearDown();
    }
    std::vector<std::string> in_order() {
        std::vector<std::string> names;
        for (NodeHandle e = tree_first(root); e; e = tree_next(e))
            names.push_back(text_to_string(entry_name(e)));
        return names;
    }
};

TEST_F(NameTreeTest, ShapeOrderAndFoldingFind) {
    NodeHandle beta = add("beta"), alpha = add("alpha"), gamma = add("gamma");
    EXPECT_EQ(root, beta);
    EXPECT_EQ(tree_left(beta), alpha);
    EXPECT_EQ(tree_right(beta), gamma);
    EXPECT_EQ(tree_parent(alpha), beta);
    EXPECT_EQ(in_order(), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(tree_next(gamma), 0);
    EXPECT_EQ(tree_prev(alpha), 0);
    EXPECT_EQ(tree_prev(gamma), beta);
    EXPECT_EQ(tree_first(0), 0);
    EXPECT_EQ(tree_last(root), gamma);

    NodeHandle al_pha = add("al_pha");
    EXPECT_EQ(tree_find("ALPHA", root), alpha);
    EXPECT_EQ(tree_find("al pha", root), al_pha);
    Text key = text_from_cstring("AL PHA");
    EXPECT_EQ(tree_find_text(key, root), al_pha);
    text_free(key);
    EXPECT_EQ(tree_find("delta", root), 0);
}

TEST_F(NameTreeTest, DeletedEntriesAreRevived) {
    NodeHandle c = tree_find_or_create("cell", &root, NK_CELL);
    ASSERT_NE(c, 0);
    EXPECT_EQ(tree_find_or_create("CELL", &root, NK_CELL), 0);
    tree_mark_deleted(c);
    EXPECT_EQ(tree_find_or_create("Cell", &root, NK_CELL), c);
    EXPECT_EQ(entry_kind(c), NK_CELL);
    Text other = text_from_cstring("cell");
    EXPECT_EQ(tree_find_or_insert_kind(other, &root, NK_BUILTIN), 0); // kind differs
    EXPECT_EQ(tree_find_or_insert_kind(other, &root, NK_CELL), c);
    text_free(other);
}

TEST_F(NameTreeTest, SortedInsertionMakesADeepChainThatWalksIteratively) {
    for (int i = 0; i < 3000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "n%05d", i);
        add(name);
    }
    EXPECT_EQ(in_order().size(), 3000u);
    keep([this] { tree_mark(root, nullptr); });
    expect_no_leak();
    forget_all();
}

// ---- differential runs ----

constexpr int RUN_OPS = 3000;
const unsigned SEEDS[] = {1, 7, 2024};

class Differential : public EngineTest {};

std::string random_bytes(std::mt19937& rng, size_t max) {
    std::uniform_int_distribution<size_t> len(0, max);
    std::uniform_int_distribution<int> byte(1, 255); // a zero byte ends a read
    std::string s(len(rng), ' ');
    for (char& c : s)
        c = static_cast<char>(byte(rng));
    return s;
}

// The model of one Text: its handle and the bytes it must hold.
struct TextModel {
    Text t = 0;
    std::string s;
};

void check(const TextModel& m, int step) {
    ASSERT_EQ(text_length(m.t), m.s.size()) << "step " << step;
    ASSERT_EQ(text_to_string(m.t), m.s) << "step " << step;
}

TEST_F(Differential, TextsFollowStdString) {
    uint16_t baseline = nodes_in_use();
    for (unsigned seed : SEEDS) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        std::vector<TextModel> texts(6);
        for (TextModel& m : texts)
            m.t = text_from_bytes(m.s);
        keep([&texts] {
            for (const TextModel& m : texts)
                text_mark(m.t);
        });
        auto pick = [&] { return std::uniform_int_distribution<size_t>(0, texts.size() - 1)(rng); };
        auto replace = [](TextModel& m, Text t, std::string s) {
            text_free(m.t);
            m.t = t;
            m.s = std::move(s);
        };
        for (int step = 0; step < RUN_OPS; ++step) {
            TextModel& m = texts[pick()];
            TextModel& other = texts[pick()];
            switch (std::uniform_int_distribution<int>(0, 8)(rng)) {
            case 0: { // replace with fresh bytes, often across chunk borders
                std::string s = random_bytes(rng, 3 * TEXT_CHUNK + 2);
                replace(m, text_from_bytes(s), s);
                break;
            }
            case 1: { // append bytes
                if (m.t == 0) break;
                std::string s = random_bytes(rng, 2 * TEXT_CHUNK);
                text_append_bytes(m.t, s);
                m.s += s;
                break;
            }
            case 2: { // append another Text, or itself
                if (m.t == 0 || m.s.size() > 2000) break;
                std::string add = other.s;
                text_append(m.t, other.t);
                m.s += add;
                break;
            }
            case 3: { // copy
                std::string s = other.s;
                replace(m, text_copy(other.t), s);
                break;
            }
            case 4: { // substring, with positions past either end
                TextLen n = static_cast<TextLen>(other.s.size());
                TextLen from = std::uniform_int_distribution<TextLen>(0, n + 2)(rng);
                TextLen to = std::uniform_int_distribution<TextLen>(0, n + 2)(rng);
                TextLen f = from == 0 ? 1 : from, e = to > n ? n : to;
                std::string s = e < f ? std::string() : other.s.substr(f - 1, e - f + 1);
                replace(m, text_substring(other.t, from, to), s);
                break;
            }
            case 5: { // insert: head + bytes + tail, as the editor's changes are made
                TextLen n = static_cast<TextLen>(m.s.size());
                TextLen at = std::uniform_int_distribution<TextLen>(0, n)(rng);
                std::string add = random_bytes(rng, TEXT_CHUNK + 5);
                Text t = text_substring(m.t, 1, at);
                if (t == 0) t = text_from_bytes("");
                text_append_bytes(t, add);
                Text tail = text_substring(m.t, at + 1, n);
                if (tail != 0) text_append(t, tail);
                text_free(tail);
                replace(m, t, m.s.substr(0, at) + add + m.s.substr(at));
                break;
            }
            case 6: { // delete a range
                TextLen n = static_cast<TextLen>(m.s.size());
                if (n == 0) break;
                TextLen from = std::uniform_int_distribution<TextLen>(1, n)(rng);
                TextLen to = std::uniform_int_distribution<TextLen>(from, n)(rng);
                Text t = text_substring(m.t, 1, from - 1);
                Text tail = text_substring(m.t, to + 1, n);
                if (t == 0) {
                    t = tail;
                } else if (tail != 0) {
                    text_append(t, tail);
                    text_free(tail);
                }
                std::string s = m.s.substr(0, from - 1) + m.s.substr(to);
                replace(m, t, s);
                break;
            }
            case 7: { // read the characters back one by one
                text_read_start(m.t);
                std::string read;
                for (int c; (c = text_read_char()) >= 0;)
                    read += static_cast<char>(c);
                EXPECT_EQ(read, m.s) << "step " << step;
                EXPECT_EQ(text_read_char(), TEXT_NONE);
                break;
            }
            case 8: { // compare, as folded bytes
                auto folded = [](const std::string& s) {
                    std::string f;
                    for (char c : s)
                        f += static_cast<char>(text_fold(static_cast<uint8_t>(c)));
                    return f;
                };
                int want = folded(m.s).compare(folded(other.s));
                int got = text_compare(m.t, other.t);
                EXPECT_EQ(got < 0, want < 0) << "step " << step;
                EXPECT_EQ(got == 0, want == 0) << "step " << step;
                break;
            }
            }
            check(m, step);
            if (HasFatalFailure()) return;
            if (step % 500 == 0) expect_no_leak();
        }
        for (const TextModel& m : texts)
            check(m, RUN_OPS);
        expect_no_leak();
        forget_all();
        for (TextModel& m : texts)
            text_free(m.t);
        EXPECT_EQ(nodes_in_use(), baseline);
        expect_no_leak();
    }
}

TEST_F(Differential, HandleStacksFollowStdVector) {
    uint16_t baseline = nodes_in_use();
    for (unsigned seed : SEEDS) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        NodeHandle s = hstack_new();
        keep([&s] { hstack_mark(s); });
        std::vector<NodeHandle> model;
        // Where the model's cursor stands (how many handles it has still to
        // give); unknown after a push or pop in the middle of a walk.
        size_t cursor_left = 0;
        bool cursor_known = true;
        for (int step = 0; step < RUN_OPS; ++step) {
            // Pushes outweigh pops early on, so the stack spans many blocks.
            int op = std::uniform_int_distribution<int>(0, 9)(rng);
            if (op <= 3 || (op == 4 && step < RUN_OPS / 3)) {
                NodeHandle h =
                    static_cast<NodeHandle>(std::uniform_int_distribution<int>(1, 0xFFFF)(rng));
                hstack_push(s, h);
                model.push_back(h);
                // A push puts the cursor on the new top: still right only
                // when it stood on the old top.
                cursor_known = cursor_known && cursor_left + 1 == model.size();
                cursor_left = model.size();
            } else if (op <= 6) {
                NodeHandle want = model.empty() ? 0 : model.back();
                ASSERT_EQ(hstack_pop(s), want) << "step " << step;
                if (!model.empty()) model.pop_back();
                if (cursor_left > model.size()) cursor_left = model.size();
            } else if (op == 7) {
                ASSERT_EQ(hstack_peek(s), model.empty() ? 0 : model.back()) << "step " << step;
            } else if (op == 8) {
                hstack_cursor_reset(s);
                cursor_left = model.size();
                cursor_known = true;
            } else if (cursor_known) {
                NodeHandle want = cursor_left == 0 ? 0 : model[cursor_left - 1];
                ASSERT_EQ(hstack_cursor_next(s), want) << "step " << step;
                if (cursor_left > 0) --cursor_left;
            }
            ASSERT_EQ(hstack_count(s), model.size()) << "step " << step;
            if (step % 500 == 0) expect_no_leak();
        }
        // A full walk from the top gives the model in reverse.
        hstack_cursor_reset(s);
        for (size_t i = model.size(); i > 0; --i)
            ASSERT_EQ(hstack_cursor_next(s), model[i - 1]);
        EXPECT_EQ(hstack_cursor_next(s), 0);
        expect_no_leak();
        forget_all();
        hstack_free(s);
        EXPECT_EQ(nodes_in_use(), baseline);
        expect_no_leak();
    }
}

} // namespace
} // namespace tarvex::test
