// The lexer: token streams of awkward inputs, identifier resolution, the
// length limits, comments, error tokens, exhaustion part-way, and relexing
// a cell.
#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/value.h"
#include "lexer/lexer.h"
#include "tokens/char_class.h"
#include "web/cell.h"

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

TEST_F(Lexer, EmptyScriptGivesNoListAndCommentsOnlyGiveOneEnd) {
    bool none = false;
    EXPECT_TRUE(lex_src("", &none).empty());
    EXPECT_TRUE(none);
    EXPECT_EQ(lex(0, home), 0);

    auto toks = lex_src("  # a comment\r\n\t\t# another, without a line end", &none);
    EXPECT_FALSE(none);
    EXPECT_EQ(kinds(toks), K({END_OF_FILE}));
}

TEST_F(Lexer, OperatorsPairOnlyAsLeNeGe) {
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

TEST_F(Lexer, IllegalCharactersBecomeErrorTokensWithoutCounting) {
    auto toks = lex_src("_x a;b \xC3\xA9");
    ASSERT_EQ(kinds(toks), K({ERROR, STRING, STRING, ERROR, STRING, ERROR, ERROR, END_OF_FILE}));
    EXPECT_EQ(toks[0].aux, SE_ILLEGAL_CHARACTER);
    EXPECT_EQ(toks[0].b2, '_');
    EXPECT_EQ(toks[1].text, "x");
    EXPECT_EQ(toks[3].b2, ';');
    EXPECT_EQ(toks[5].b2, 0xC3);
    EXPECT_EQ(toks[6].b2, 0xA9);
    EXPECT_EQ(lex_error_count(), 0);
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
}

TEST_F(Lexer, ReservedWordsIgnoreCase) {
    auto toks = lex_src("IF If if ELSEIF trigunits all In rptType iff els");
    ASSERT_EQ(kinds(toks), K({RESWORD, RESWORD, RESWORD, RESWORD, RESWORD, RESWORD, RESWORD,
                              RESWORD, STRING, STRING, END_OF_FILE}));
    const int ids[] = {RW_IF, RW_IF, RW_IF, RW_ELSEIF, RW_TRIGUNITS, RW_ALL, RW_IN, RW_RPTTYPE};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(toks[i].aux, ids[i]) << i;
        EXPECT_EQ(toks[i].value, 0) << i;
    }
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

} // namespace
} // namespace tarvex::test
