// The language: the lexer's token streams of awkward inputs, identifier
// resolution, length limits, comments, error tokens, exhaustion part-way
// and relexing a cell; token lists (chunks, the cursor, seek, saved
// positions); and the answers of every operator, comparison and parser
// message, worked out by hand. Each of those runs through the expression
// walker alone and again with the compiled code, and must give the written
// answer both times: a fault the two executors share is caught as well as
// one of either.
#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/node_store.h"
#include "core/value.h"
#include "lexer/lexer.h"
#include "script/compiled_expr.h"
#include "script/run_engine.h"
#include "tokens/char_class.h"
#include "tokens/token_list.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <string>
#include <vector>

namespace tarvex::test {
namespace {

struct Tok {
    uint8_t kind = 0;
    int8_t aux = 0;
    uint16_t value = 0;
    uint8_t b2 = 0, b3 = 0;
    std::string text; // NUMBER and STRING: the literal's text
    double number = 0;
    uint8_t value_kind = 0;
};

class Lexer : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        char_class_init();
        cells_init();
        home = cell_create("home");
    }

    // Lexes src and returns its tokens; the list is released.
    std::vector<Tok> lex_src(std::string_view src, bool* none = nullptr) {
        Text t = text_from_bytes(src);
        TokenList l = lex(t, home);
        text_free(t);
        if (none) *none = l == 0;
        std::vector<Tok> out;
        if (l == 0) return out;
        for (Token k = tokens_first(l); k && token_kind(k) != NO_TOKEN; k = tokens_next(l)) {
            Tok tok;
            tok.kind = token_kind(k);
            tok.aux = static_cast<int8_t>(token_aux(k));
            tok.value = token_value(k);
            tok.b2 = k[2];
            tok.b3 = k[3];
            if (tok.kind == NUMBER || tok.kind == STRING) {
                NodeHandle v = token_value(k);
                tok.text = text_to_string(value_text(v));
                tok.number = value_number(v);
                tok.value_kind = value_kind(v);
            }
            out.push_back(tok);
        }
        tokens_free(l);
        return out;
    }

    static std::vector<uint8_t> kinds(const std::vector<Tok>& toks) {
        std::vector<uint8_t> k;
        for (const Tok& t : toks)
            k.push_back(t.kind);
        return k;
    }
    // The literals' texts ("" for other tokens), each followed by '|'.
    static std::string texts(const std::vector<Tok>& toks) {
        std::string s;
        for (const Tok& t : toks)
            s += t.text + "|";
        return s;
    }

    // A full table of cells before "home" in name order: prefix000 on.
    static void fill_table(char prefix) {
        for (int i = 0; i < CELL_TABLE_SIZE; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "%c%03d", prefix, i);
            ASSERT_NE(cell_create_unlimited(name), 0);
        }
    }

    CellHandle home = 0;
};

using K = std::vector<uint8_t>;

TEST_F(Lexer, OperatorsPairOnlyAsLeNeGeAndIllegalCharactersAreErrorTokens) {
    auto toks = lex_src("a=<b");
    EXPECT_EQ(kinds(toks), K({STRING, EQUAL, LT, STRING, END_OF_FILE}));
    EXPECT_EQ(toks[1].aux, 1);
    EXPECT_EQ(toks[2].b2, '<');

    toks = lex_src("a<>b<=c>=d>f<g"); // not "e": the constant
    EXPECT_EQ(kinds(toks),
              K({STRING, NE, STRING, LE, STRING, GE, STRING, GT, STRING, LT, STRING, END_OF_FILE}));
    EXPECT_EQ(toks[1].aux, 2);
    EXPECT_EQ(toks[1].b2, '<');
    EXPECT_EQ(toks[1].b3, '>');
    EXPECT_EQ(toks[5].b3, '=');
    EXPECT_EQ(toks[7].aux, 1);
    EXPECT_EQ(toks[7].b3, 0);

    toks = lex_src("!$%()*+,-/=?[]^{}");
    EXPECT_EQ(kinds(toks),
              K({BANG, DOLLAR, PERCENT, LPAREN, RPAREN, STAR, PLUS, COMMA, MINUS, SLASH, EQUAL,
                 QUESTION, LBRACKET, RBRACKET, UPARROW, LBRACE, RBRACE, END_OF_FILE}));

    toks = lex_src("_x a;b \xC3\xA9");
    ASSERT_EQ(kinds(toks), K({ERROR, STRING, STRING, ERROR, STRING, ERROR, ERROR, END_OF_FILE}));
    EXPECT_EQ(toks[0].aux, SE_ILLEGAL_CHARACTER);
    EXPECT_EQ(toks[0].b2, '_');
    EXPECT_EQ(toks[1].text, "x");
    EXPECT_EQ(toks[3].b2, ';');
    EXPECT_EQ(toks[5].b2, 0xC3);
    EXPECT_EQ(toks[6].b2, 0xA9);
    EXPECT_EQ(lex_error_count(), 0);
}

TEST_F(Lexer, NumbersKeepTheirTextAndStopAtASecondPoint) {
    auto toks = lex_src("x.5 1.2.3 1.50 2E-3 -4 7e");
    ASSERT_EQ(kinds(toks), K({STRING, NUMBER, NUMBER, NUMBER, NUMBER, NUMBER, MINUS, NUMBER, NUMBER,
                              END_OF_FILE}));
    EXPECT_EQ(texts(toks), "x|.5|1.2|.3|1.50|2E-3||4|7e||");
    const double numbers[] = {0, 0.5, 1.2, 0.3, 1.5, 0.002, 0, 4, 7};
    for (int i = 1; i < 9; ++i)
        EXPECT_DOUBLE_EQ(toks[i].number, numbers[i]) << i;
    EXPECT_EQ(toks[4].value_kind, VK_NUMBER);

    // A literal longer than a formatted number is still read whole.
    toks = lex_src("0.0000000000000000000000000015 123456789012345678901234567890");
    ASSERT_EQ(kinds(toks), K({NUMBER, NUMBER, END_OF_FILE}));
    EXPECT_DOUBLE_EQ(toks[0].number, 1.5e-27);
    EXPECT_DOUBLE_EQ(toks[1].number, 1.2345678901234568e29);
    EXPECT_EQ(toks[1].text, "123456789012345678901234567890");
}

TEST_F(Lexer, StringsCommentsAndLineEnds) {
    auto toks = lex_src("'it\"s' \"a\\b\" '' 'open to the end");
    ASSERT_EQ(kinds(toks), K({STRING, STRING, STRING, STRING, END_OF_FILE}));
    EXPECT_EQ(texts(toks), "it\"s|a\\b||open to the end||");
    EXPECT_EQ(toks[2].value_kind, VK_STRING);

    // '#' starts a comment even inside quotes: the line end is skipped too,
    // so the string runs on into the next line.
    toks = lex_src("out('a#b')\nout(1)");
    ASSERT_EQ(kinds(toks), K({RESWORD, LPAREN, STRING, END_OF_FILE}));
    EXPECT_EQ(toks[2].text, "a out(1)");

    toks = lex_src("'a\nb' x#c\ny");
    EXPECT_EQ(texts(toks), "a b|x|y||");

    bool none = false;
    EXPECT_TRUE(lex_src("", &none).empty());
    EXPECT_TRUE(none);
    EXPECT_EQ(lex(0, home), 0);

    toks = lex_src("  # a comment\r\n\t\t# another, without a line end", &none);
    EXPECT_FALSE(none);
    EXPECT_EQ(kinds(toks), K({END_OF_FILE}));
}

TEST_F(Lexer, NamesResolveReservedThenBuiltinThenConstantThenCell) {
    cell_create("max");
    cell_create("step");
    cell_create("pi");
    CellHandle mine = cell_create("my cell");
    CellHandle rate = cell_create("rate");
    auto toks = lex_src("max PI step my_cell MY_CELL Rate nothing");
    ASSERT_EQ(kinds(toks),
              K({BUILTIN, SYSCONST, RESWORD, CELLNAME, CELLNAME, CELLNAME, STRING, END_OF_FILE}));
    EXPECT_EQ(entry_kind(toks[0].value), NK_BUILTIN);
    EXPECT_EQ(text_to_string(entry_name(toks[0].value)), "max");
    EXPECT_EQ(entry_kind(toks[1].value), NK_SYSCONST);
    EXPECT_EQ(toks[3].value, cell_table_index_of(mine));
    EXPECT_EQ(toks[4].value, cell_table_index_of(mine));
    EXPECT_EQ(toks[5].value, cell_table_index_of(rate));
    EXPECT_EQ(toks[6].text, "nothing");
    EXPECT_EQ(lex_error_count(), 0);

    // An identifier runs on over digits and underscores.
    toks = lex_src("rate_2 rate2x");
    EXPECT_EQ(kinds(toks), K({STRING, STRING, END_OF_FILE}));
    EXPECT_EQ(toks[0].text, "rate_2");

    toks = lex_src("IF If if ELSEIF trigunits all In rptType iff els");
    ASSERT_EQ(kinds(toks), K({RESWORD, RESWORD, RESWORD, RESWORD, RESWORD, RESWORD, RESWORD,
                              RESWORD, STRING, STRING, END_OF_FILE}));
    const int ids[] = {RW_IF, RW_IF, RW_IF, RW_ELSEIF, RW_TRIGUNITS, RW_ALL, RW_IN, RW_RPTTYPE};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(toks[i].aux, ids[i]) << i;
        EXPECT_EQ(toks[i].value, 0) << i;
    }
}

TEST_F(Lexer, CellBeyondTheTableIsABadIdentifier) {
    fill_table('c'); // "home" falls out of the table
    ASSERT_EQ(cell_table_index_of(home), -1);
    auto toks = lex_src("c000 home c255 Home");
    ASSERT_EQ(kinds(toks), K({CELLNAME, ERROR, CELLNAME, ERROR, END_OF_FILE}));
    EXPECT_EQ(toks[0].value, 0);
    EXPECT_EQ(toks[1].aux, SE_BAD_IDENTIFIER);
    EXPECT_EQ(toks[1].value, 10); // the character counter, one past the name
    EXPECT_EQ(toks[2].value, 255);
    EXPECT_EQ(toks[3].value, 19); // the end: the counter stops
    EXPECT_EQ(lex_error_count(), 2);

    // The cause names the cell of the error token at that index, whatever
    // comments stand before it; any other token has none.
    const std::string why = "home: only the first 256 cells in name order can be named in "
                            "scripts; a larger store lifts this";
    struct Case {
        const char* script;
        int index;
        std::string cause;
    } cases[] = {{"c000 home c255 Home", 1, why},
                 {"c000 home c255 Home", 3, why},
                 {"c000 home c255 Home", 0, ""},
                 {"# home\nc000 HOME", 1, why}};
    for (const Case& c : cases)
        EXPECT_EQ(lex_error_cause(c.script, c.index), c.cause) << c.script << " @" << c.index;

    lex_src("c001");
    EXPECT_EQ(lex_error_count(), 0);
}

TEST_F(Lexer, LongWordsAndLongScriptsAreCut) {
    auto toks = lex_src(std::string(300, 'w') + " b");
    EXPECT_EQ(texts(toks), std::string(255, 'w') + "|b||");

    // A cut string says so in its aux byte.
    toks = lex_src("'" + std::string(400, 'q') + "'x");
    ASSERT_EQ(kinds(toks), K({STRING, STRING, END_OF_FILE}));
    EXPECT_EQ(toks[0].text.size(), 255u);
    EXPECT_EQ(toks[0].aux, LEX_STRING_CUT);
    EXPECT_EQ(toks[1].aux, 0);
    toks = lex_src("'" + std::string(255, 'q') + "'");
    EXPECT_EQ(toks[0].aux, 0);
}

TEST_F(Lexer, ExhaustionPartWayLeavesNothingBehind) {
    Text src = text_from_cstring("set x = 'a string long enough for two text chunks, at least'"
                                 " + 1.25 * max(y, 3) if x < 2 { out('done') } 4 5 6 7 8 9");
    keep_text(src);
    uint16_t before = nodes_in_use();
    bool finished = false;
    for (long n = 0; n < 200 && !finished; ++n) {
        node_fail_after(n);
        try {
            TokenList l = lex(src, home);
            node_fail_after(-1);
            finished = true;
            EXPECT_GT(n, 10);
            tokens_free(l);
        } catch (const NodeExhausted&) {
            node_fail_after(-1);
        }
        EXPECT_EQ(nodes_in_use(), before) << "after failing at allocation " << n;
    }
    EXPECT_TRUE(finished);
}

TEST_F(Lexer, RelexReplacesTheCellsListWithoutLeaking) {
    CellHandle c = cell_create("calc");
    cell_set_script(c, "set calc = 'x' + 2.5");
    relex_cell(c);
    TokenList first = cell_get(c, CF_SCRIPT_TOKENS);
    ASSERT_NE(first, 0);
    EXPECT_EQ(tokens_owner(first), c);
    EXPECT_EQ(tokens_kind(first), TL_SCRIPT);
    uint16_t in_use = nodes_in_use();
    relex_cell(c);
    EXPECT_EQ(nodes_in_use(), in_use);
    TokenList second = cell_get(c, CF_SCRIPT_TOKENS);
    Token t = tokens_first(second);
    EXPECT_EQ(token_kind(t), RESWORD);
    EXPECT_EQ(token_kind(tokens_next(second)), CELLNAME);
    expect_no_leak();

    // A lexical error is counted; a cell without a script then resets it.
    fill_table('a');
    cell_set_script(c, "zzz = 1");
    relex_cell(c);
    EXPECT_EQ(lex_error_count(), 0); // zzz is no cell: a bare word
    cell_create_unlimited("zzz");
    relex_cell(c);
    EXPECT_EQ(lex_error_count(), 1);
    EXPECT_NE(cell_get(c, CF_SCRIPT_TOKENS), 0); // kept: the run stops at its error token
    cell_set_script(home, "");
    relex_cell(home);
    EXPECT_EQ(lex_error_count(), 0);
    EXPECT_EQ(cell_get(home, CF_SCRIPT_TOKENS), 0);

    cell_set_script(c, "");
    relex_cell(c);
    EXPECT_EQ(cell_get(c, CF_SCRIPT_TOKENS), 0);
}

class TokenLists : public EngineTest {};

// A kind-2 list of n NUMBER tokens holding 0..n-1, then END_OF_FILE.
TokenList numbers_list(int n) {
    TokenList l = tokens_create(TL_SCRIPT, 0);
    for (int i = 0; i < n; ++i)
        token_set(tokens_append(l), NUMBER, 0, value_new_number(i));
    token_set(tokens_append(l), END_OF_FILE, 0, 0);
    return l;
}

double number_at(Token t) { return value_number(token_value(t)); }

TEST_F(TokenLists, WalkCrossesChunksAndStopsAfterLastChunk) {
    TokenList l = tokens_create(TL_SCRIPT, 0);
    EXPECT_EQ(tokens_first(l), nullptr);
    EXPECT_EQ(tokens_next(l), nullptr);
    EXPECT_EQ(tokens_current(l), nullptr);
    tokens_free(l);

    l = numbers_list(20); // 21 tokens: three chunks, the last one part-filled
    Token t = tokens_first(l);
    for (int i = 0; i < 20; ++i) {
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(token_kind(t), NUMBER);
        EXPECT_EQ(number_at(t), i);
        EXPECT_EQ(tokens_current_index(l), i);
        EXPECT_EQ(tokens_current(l), t);
        t = tokens_next(l);
    }
    EXPECT_EQ(token_kind(t), END_OF_FILE);
    // The rest of the last chunk is zeroed slots; past it there is nothing.
    for (int i = 21; i < 24; ++i) {
        t = tokens_next(l);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(token_kind(t), NO_TOKEN);
    }
    EXPECT_EQ(tokens_next(l), nullptr);
    EXPECT_EQ(tokens_current_index(l), 23);
    tokens_free(l);
}

TEST_F(TokenLists, SeekAndRestoreAcrossChunkBoundaries) {
    TokenList l = numbers_list(30);
    tokens_first(l);
    tokens_next(l);
    tokens_next(l);
    Token t = tokens_seek(l, 13);
    EXPECT_EQ(tokens_current_index(l), 13);
    EXPECT_EQ(number_at(t), 13);

    TokenCursor at7 = {}, at16 = {};
    tokens_first(l);
    tokens_seek(l, 7); // the last slot of the first chunk
    at7 = tokens_save(l);
    tokens_seek(l, 16); // the first slot of the third chunk
    at16 = tokens_save(l);
    tokens_seek(l, 25);

    t = tokens_restore(l, at7);
    EXPECT_EQ(number_at(t), 7);
    EXPECT_EQ(tokens_current_index(l), 7);
    t = tokens_next(l);
    EXPECT_EQ(number_at(t), 8);
    EXPECT_EQ(tokens_current_index(l), 8);
    t = tokens_restore(l, at16);
    EXPECT_EQ(number_at(t), 16);
    EXPECT_EQ(number_at(tokens_seek(l, 24)), 24);

    // In the last chunk (24..31): the end token's own slot is reached at
    // once, the empty slot after it stops at the end token.
    tokens_restore(l, at16);
    EXPECT_EQ(token_kind(tokens_seek(l, 30)), END_OF_FILE);
    EXPECT_EQ(tokens_current_index(l), 30);
    tokens_restore(l, at16);
    EXPECT_EQ(token_kind(tokens_seek(l, 31)), END_OF_FILE);
    EXPECT_EQ(tokens_current_index(l), 30);
    // A target past the end stops at END_OF_FILE.
    t = tokens_seek(l, 500);
    EXPECT_EQ(token_kind(t), END_OF_FILE);
    EXPECT_EQ(tokens_current_index(l), 30);
    tokens_free(l);

    // A list without an end token stops at its first empty slot.
    l = tokens_create(TL_LINKS, 0);
    for (int i = 0; i < 3; ++i)
        token_set(tokens_append(l), CELLNAME, 0, static_cast<uint16_t>(i));
    tokens_first(l);
    t = tokens_seek(l, 100);
    EXPECT_EQ(token_kind(t), NO_TOKEN);
    EXPECT_EQ(tokens_current_index(l), 3);
    tokens_free(l);
}

TEST_F(TokenLists, CurrentScriptListFollowsKindTwoReadsAndIsForgottenOnFree) {
    TokenList script = numbers_list(2);
    TokenList links = tokens_create(TL_LINKS, 7);
    EXPECT_EQ(tokens_owner(links), 7);
    EXPECT_EQ(tokens_kind(script), TL_SCRIPT);
    tokens_first(script);
    EXPECT_EQ(tokens_current_script_list(), script);
    tokens_first(links);
    tokens_next(links);
    EXPECT_EQ(tokens_current_script_list(), script);
    tokens_free(script);
    EXPECT_EQ(tokens_current_script_list(), 0);
    tokens_free(links);
}

class Semantics : public Lexer {
  protected:
    void SetUp() override {
        Lexer::SetUp();
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

// A case and the executor it ran on, for a failure's message.
std::string trace(const std::string& what, bool fast) {
    return what + (fast ? " (compiled)" : " (walker)");
}

// Numbers (precedence and associativity too), strings, an empty value and
// failed numbers. Any number but 0 is true, however small; a joined string
// is no longer its old number.
TEST_F(Semantics, Operators) {
    struct Case {
        const char* expr;
        const char* shown;
    };
    static const Case cases[] = {
        {"7 + 2", "9"},          {"2 - 7", "-5"},       {"7 * 3", "21"},
        {"7 / 2", "3.5"},        {"2 / 3", "0.67"},     {"3.14159 + 0", "3.1"},
        {"1234 + 0", "1.2e+03"}, {"7 % 3", "1"},        {"-7 % 3", "-1"},
        {"7 % (-3)", "1"},       {"7.5 % 2", "1.5"},    {"-6 % 3", "-0"},
        {"8 - 4 - 2", "2"},      {"8 / 4 / 2", "1"},    {"1 + 2 * 3", "7"},
        {"(1 + 2) * 3", "9"},    {"2 * 3 % 4", "2"},    {"-(2 - 7)", "5"},
        {"1 or 0", "1"},         {"0 or 0", "0"},       {"2 and 3", "1"},
        {"1 and 0", "0"},        {"1 or 0 and 0", "1"}, {"0 and 1 or 1", "1"},
        {"not 0", "1"},          {"not 2", "0"},        {"not 3 = 0", "1"},
        {"0 or 0.0001", "1"},    {"not 0.0001", "0"},   {"1 + 2 = 3", "1"},
        {"'5' + 1", "6"},        {"'5' * '2'", "10"},   {"'a' + 1", "1"},
        {"-'5'", "-5"},          {"not 'a'", "1"},      {"'ab' cat 'cd'", "abcd"},
        {"'12' cat 3", "123"},   {"3 cat 4", "34"},     {"1 + 2 cat 'z'", "3z"},
        {"'ab' cat ''", "ab"},   {"'' cat 'ab'", "ab"}, {"3 cat '' cat '4' + 1", "35"},
        {"blank + 1", "1"},      {"blank * 2", "0"},    {"not blank", "1"},
        {"blank cat 'x'", "x"},  {"1 / 0", "{NAN}"},    {"0 / 0 + 1", "{NAN}"},
        {"1 / 0 * 0", "{NAN}"},  {"5 % 0", "{NAN}"},    {"-(1 / 0)", "{NAN}"},
        {"0 or 1 / 0", "1"},     {"-2 * 3", "-6"},      {"1.50 cat 'x'", "1.50x"},
        {"1.50", "1.50"},        {"'1.5' = 1.50", "0"}, {"2 * 1.50 cat 'y'", "3y"},
        {"'1.50' = 1.50", "1"},  {"1 + 1.50", "2.5"},   {"'a' cat 1.50", "a1.50"}};
    for (bool fast : {false, true})
        for (const Case& c : cases)
            EXPECT_EQ(run(std::string("out(") + c.expr + ")", fast), c.shown)
                << trace(c.expr, fast);
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
                SCOPED_TRACE(trace(rel, fast));
                EXPECT_EQ(run("out(" + rel + ")", fast), want);
                EXPECT_EQ(run("if (" + rel + ") {out(1)} else {out(0)}", fast), want);
            }
}

// An if inside a loop is read once (its first pass) before its clause runs.
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
        {"for (x = 0 to 1) {if (x) 5 {6}}", SE_MISSING_LBRACE, "Missing '{'"},
        {"if (1) 5", SE_UNEXPECTED_END, "Unexpected end of script"},
        {"{1", SE_MISSING_RBRACE, "Missing '}'"},
        {"(1", SE_MISSING_PAREN, "Missing paren"},
        {"1 +", SE_UNEXPECTED_END, "Unexpected end of script"},
        {"2 ^ 3", SE_INVALID_EXPRESSION, "Invalid expression"},
        {"2 * -3", SE_INVALID_EXPRESSION, "Invalid expression"},
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
        {"out(1 2)", SE_BAD_OUT, "Missing ',' or ')' in OUT stmt"}};
    for (bool fast : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(trace(c.script, fast));
            int r = 0;
            std::string console = run(c.script, fast, &r);
            EXPECT_EQ(r, c.error);
            EXPECT_NE(console.find(std::string(c.message) + " IN CELL home"), std::string::npos)
                << console;
        }
}

// Argument lists of cell calls: their values, in order, and where a list
// that does not close is reported (the column of the offending token). A
// ')' after a trailing comma closes the list and stays current.
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
    static const Case cases[] = {{"out(zero())", "7", 0, 0},
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
                                 {"out(one(4,))", "8", SE_INVALID_EXPRESSION, 12},
                                 {"set x to three(1, 2, 3,)", "", SE_INVALID_EXPRESSION, 24}};
    for (bool fast : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(trace(c.script, fast));
            int r = 0;
            std::string console = run(c.script, fast, &r);
            EXPECT_EQ(r, c.error);
            if (c.error == 0) {
                EXPECT_EQ(console, c.shown);
                continue;
            }
            EXPECT_EQ(console.rfind(c.shown, 0), 0u);
            LexPosition at;
            ASSERT_TRUE(run_error_position(&at));
            EXPECT_EQ(run_last_error().cell, cell_root());
            EXPECT_EQ(at.column, c.column);
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
