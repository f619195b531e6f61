// Web files: the writer's bytes, round trips, the tolerant reader, bad and
// damaged files, running out of nodes; what must never cost the user work
// (zero bytes, computed values saved with their precision, temporary files of
// killed saves); the commands: saving never loses the previous file, the save
// question's three answers, opening, names and titles; recovery copies (one
// key per web file, one copy per instance, private, taken only when whole
// and only once their instance ended); and the exports, read back by real
// parsers.
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "core/value.h"
#include "io/keyboard_queue.h"
#include "io/stream_path.h"
#include "reports/pointers.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/links.h"
#include "web/navigation.h"
#include "webfile/recovery.h"
#include "webfile/web_export.h"

#include <cstdlib>
#include <fcntl.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tarvex::test {
namespace {

const std::string k_home_only = "\n<cell>\n<cname>home</cname></cell></eof>";

std::string cells(const std::string& body) { return body + "</eof>"; }

int tree_depth(NodeHandle e) {
    if (e == 0) return 0;
    return 1 + std::max(tree_depth(tree_left(e)), tree_depth(tree_right(e)));
}

TEST_F(WebFileTest, NewWebWritesDefaultsAndHomeOnly) {
    std::string bytes = saved();
    EXPECT_EQ(bytes.rfind(k_home_only), bytes.size() - k_home_only.size());
    EXPECT_EQ(bytes.find("\n<opts>\n<isrc>keyboard</isrc>\n<iname>INPUT</iname>"), 0u);
    for (const char* element :
         {"<odest>screen</odest>", "<onewl>lf</onewl>", "<cfmt>~\\n</cfmt>", "<citer>1</citer>",
          "<cdisp>nolist</cdisp>", "<nfmt>general</nfmt>", "<ndec>2</ndec>", "<nang>degrees</nang>",
          "<pltng>on</pltng>", "<xmin>-5</xmin>", "<xycells>home,home</xycells></opts>"})
        EXPECT_NE(bytes.find(element), std::string::npos) << element;
    EXPECT_EQ(bytes.find("scrfont"), std::string::npos);

    // A value outside a setting's list gives an empty element.
    settings_set_input_type(9);
    settings_set_plotting(7);
    bytes = saved();
    EXPECT_NE(bytes.find("<isrc></isrc>"), std::string::npos);
    EXPECT_NE(bytes.find("<pltng></pltng>"), std::string::npos);
}

// Only "<" and "&" are escaped; a value keeps its kind and the text it was
// read with (the display under four decimals would be 3.1416).
TEST_F(WebFileTest, RoundTripKeepsEveryByteAndEachValuesKindAndText) {
    const std::string text = "a < b && c > d\r\nGr\xC3\xBC\xC3\x9F"
                             "e \xE2\x82\xAC; &lt; stays\r\n";
    const std::string script = "set(x, 1)\r\nif (x < 2) {out(\"<&>\")}\r\n";
    std::string file = "\n<opts><ndec>4</ndec><oname>out&amp;put</oname></opts>"
                       "\n<cell>\n<cname>home</cname>\n<text>" +
                       std::string("a &lt; b &amp;&amp; c > d\r\nGr\xC3\xBC\xC3\x9F"
                                   "e "
                                   "\xE2\x82\xAC; &amp;lt; stays\r\n") +
                       "</text>\n<val>3.14159</val></cell>"
                       "\n<cell>\n<cname>Rate_A</cname>\n<val>  -3.5</val>\n<script>" +
                       "set(x, 1)\r\nif (x &lt; 2) {out(\"&lt;&amp;>\")}\r\n" +
                       "</script></cell>\n<cell>\n<cname>w</cname>\n<val>words</val></cell>"
                       "<cname>e</cname><val></val></eof>";
    ASSERT_EQ(open_bytes(file), 0);
    EXPECT_STREQ(settings_output_name(), "out&put");
    std::string first = saved("a.tvx");
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(cell_text_of("home"), text);
        EXPECT_EQ(cell_script_of("rate a"), script);
        NodeHandle v = cell_value(cell_find("home")), pi5 = value_new_number(3.14159);
        ASSERT_NE(v, 0);
        EXPECT_EQ(value_kind(v), VK_NUMBER);
        EXPECT_EQ(value_compare(v, pi5), 0);
        value_free(pi5);
        EXPECT_DOUBLE_EQ(value_number(cell_value(cell_find("Rate_A"))), -3.5);
        EXPECT_EQ(value_kind(cell_value(cell_find("w"))), VK_STRING);
        // Read back from the saved file the empty value is no value at all.
        NodeHandle empty = cell_value(cell_find("e"));
        EXPECT_TRUE(pass == 0 ? value_kind(empty) == VK_EMPTY : empty == 0);
        ASSERT_TRUE(web_open(path("a.tvx").c_str()).done());
    }
    EXPECT_EQ(saved("b.tvx"), first);
    for (const char* part : {"a &lt; b &amp;&amp; c > d", "<val>  -3.5</val>", "<val>3.14159</val>",
                             "<cname>e</cname></cell>"})
        EXPECT_NE(first.find(part), std::string::npos) << part;
}

TEST_F(WebFileTest, SettingsWordsAndIntegers) {
    ASSERT_EQ(open_bytes("<isrc>FILE</isrc><odest>print</odest><pltng>Off</pltng>"
                         "<ndec>12</ndec><citer>0</citer><scount>99999</scount>"
                         "<xintrvls>  7x</xintrvls><yintrvls>-4</yintrvls><nfmt>weird</nfmt>"
                         "<cdisp>FmtList</cdisp><rtype>TRAIL</rtype><nang>radians</nang>"
                         "<xmax>12.5</xmax><onewl>crlf</onewl><iecho>yes</iecho>"
                         "<xycells>a,b,c</xycells></eof>"),
              0);
    EXPECT_EQ(settings_input_type(), IN_FILE);
    EXPECT_EQ(settings_output_dest(), OUT_SCREEN);
    EXPECT_EQ(settings_plotting(), 0);
    EXPECT_EQ(format_current().decimals, 8);
    EXPECT_EQ(settings_x_intervals(), 7);
    EXPECT_EQ(settings_y_intervals(), 1);
    EXPECT_EQ(settings_number_style(), 2); // unknown word: unchanged
    EXPECT_EQ(settings_auto_output(), AUTO_FORMATTED);
    EXPECT_EQ(settings_report_type(), RPT_TRAIL);
    EXPECT_EQ(settings_trig_units(), TRIG_RADIANS);
    EXPECT_DOUBLE_EQ(settings_xmax(), 12.5);
    EXPECT_EQ(settings_newline_mode(), NL_CRLF);
    EXPECT_EQ(settings_echo(), 1);
    EXPECT_STREQ(settings_plot_y_cell(), "b,c");

    // Settings are written back as they now are, and a new web forgets them.
    std::string bytes = saved();
    EXPECT_NE(bytes.find("<odest>screen</odest>"), std::string::npos);
    EXPECT_NE(bytes.find("<ndec>8</ndec>"), std::string::npos);
    ASSERT_TRUE(web_new().done());
    EXPECT_EQ(settings_decimals(), 2);
    EXPECT_EQ(settings_input_type(), IN_KEYBOARD);
}

TEST_F(WebFileTest, TolerantTagReading) {
    // Unknown tags become content; unknown escapes keep their word; LF
    // becomes CR LF and a lone CR stays; form is the script; text outside
    // elements and before the first name goes nowhere; no eof is needed.
    ASSERT_EQ(open_bytes("<opts></opts>stray<text>orphan</text><val>1</val>"
                         "<cell><cname>home</cname><text><note>hi</note> &gt; x</text>"
                         "<form>a\nb\rc\r\nd</form></cell>"
                         "<cell><cname>z</cname><text>tail"),
              0);
    EXPECT_EQ(cell_text_of("home"), "notehinote gt x");
    EXPECT_EQ(cell_script_of("home"), "a\r\nb\rc\r\nd");
    EXPECT_NE(cell_find("z"), 0);
    EXPECT_EQ(cell_text(cell_find("z")), 0); // no closing tag: nothing taken
    EXPECT_EQ(cell_value(cell_find("home")), 0);
    EXPECT_NE(saved().find("<script>a\r\nb\rc\r\nd</script>"), std::string::npos);

    // A lone "&" keeps the rest of its element and swallows no tag.
    ASSERT_EQ(open_bytes(cells("<cname>home</cname><text>salt & pepper</text>"
                               "<cname>b</cname><text>x</text>")),
              0);
    EXPECT_EQ(cell_text_of("home"), "salt  pepper");
    EXPECT_EQ(cell_text_of("b"), "x");

    // eof ends the read, opening or closing; a zero byte does not.
    ASSERT_EQ(open_bytes(std::string("<cname>a</cname><eof><cname>b</cname>")), 0);
    EXPECT_EQ(cell_find("b"), 0);
    ASSERT_EQ(open_bytes(std::string("<cname>a</cname>\0<cname>b</cname>", 33)), 0);
    EXPECT_NE(cell_find("a"), 0);
    EXPECT_NE(cell_find("b"), 0);

    // An empty file is a new web.
    ASSERT_EQ(open_bytes(""), 0);
    EXPECT_EQ(saved().substr(saved().size() - k_home_only.size()), k_home_only);
}

TEST_F(WebFileTest, FileThatDoesNotBeginAsAWebLeavesTheWebAlone) {
    ASSERT_EQ(open_bytes(cells("<cname>mine</cname>"), "mine.tvx"), 0);
    const std::string no_webs[] = {
        "<!DOCTYPE html>\n<html lang=\"en\"><body><cell>x</cell></body></html>\n",
        "# tour\n\n<a id=\"cell-home\"></a>\n## home\n",
        std::string("\x7f"
                    "ELF\x02\x01\x01\0\0\0<cell>",
                    16),
        "stray<cell><cname>a</cname></cell>", // text before the first element
        " \r\n\t<html><cell><cname>a</cname></cell>",
        "&lt;cell><cname>a</cname>",
        "<" + std::string(40, 'c') + "><cname>a</cname>",
    };
    for (const std::string& bytes : no_webs) {
        EXPECT_EQ(open_bytes(bytes, "no.tvx"), SE_NOT_A_WEB) << bytes;
        EXPECT_EQ(last_flash(), "The file is not a Tarvex web");
        EXPECT_NE(cell_find("mine"), 0) << bytes;
        EXPECT_EQ(web_file_name(), path("mine.tvx"));
        EXPECT_EQ(file_bytes(path("no.tvx")), bytes);
    }
    // Blanks (a byte-order mark too), zero bytes and a first tag cut short
    // are no content: empty webs. Any tag of a web may come first.
    const std::string webs[] = {"",
                                std::string(" \r\n\t\0\0", 6),
                                "<cel",
                                "\n</eof>",
                                "</cell>",
                                "<ndec>3</ndec>",
                                std::string("\0\xef\xbb\xbf<opts></opts>", 17),
                                " <cname>a</cname>"};
    for (const std::string& bytes : webs) {
        EXPECT_EQ(open_bytes(bytes, "yes.tvx"), 0) << bytes;
        EXPECT_EQ(web_file_name(), path("yes.tvx"));
        EXPECT_EQ(cell_find("mine"), 0) << bytes;
    }
    EXPECT_NE(cell_find("a"), 0);
}

TEST_F(WebFileTest, InvalidNameMakesTheFileBad) {
    ASSERT_EQ(open_bytes(cells("<ndec>5</ndec><cname>a</cname><text>kept?</text>"
                               "<cname> home</cname><ndec>1</ndec><cname>b</cname>")),
              SE_BAD_WEB_FILE);
    EXPECT_EQ(last_flash(), "Bad Input File");
    EXPECT_EQ(cell_find("a"), 0);
    EXPECT_EQ(cell_table_count(), 1);
    EXPECT_EQ(current_cell(), cell_find("home"));
    EXPECT_EQ(settings_decimals(), 5); // read before the bad name
    EXPECT_EQ(web_file_name(), "");    // a later Save cannot overwrite the file
    EXPECT_FALSE(web_modified());

    const std::string bad_names[] = {"", "a_", "1a", "a b", "a&amp;b", std::string(49, 'a')};
    for (const std::string& bad : bad_names)
        EXPECT_EQ(open_bytes("<cname>" + bad + "</cname>"), SE_BAD_WEB_FILE) << bad;
    EXPECT_EQ(open_bytes("<cname>" + std::string(48, 'a') + "</cname>"), 0);
}

TEST_F(WebFileTest, NameMetTwiceKeepsTheLastRecord) {
    ASSERT_EQ(open_bytes(cells("<cname>a</cname><text>first</text><val>1</val>"
                               "<script>s1</script><cname>home</cname><text>h</text>"
                               "<cname>A</cname><text>second</text><text>third</text>"
                               "<cname>HOME</cname>")),
              0);
    EXPECT_EQ(cell_text_of("a"), "third");
    EXPECT_EQ(cell_value(cell_find("a")), 0);
    EXPECT_EQ(cell_script_of("a"), "");
    EXPECT_EQ(cell_text_of("home"), "");
    EXPECT_EQ(cell_table_count(), 2);
    EXPECT_EQ(cell_root(), cell_find("home"));
}

// A name finds the earlier record of the same name (compared as cell names
// are: case, and "_" against space, ignored) in whatever order the names
// come: the writer's ascending order, or any other.
TEST_F(WebFileTest, RepeatedNamesFoundWhateverTheirOrder) {
    // Repeats of the name just read, of one read long before, and names that
    // ascend byte by byte but not as names ("aZ" < "a_B", "B" < "a").
    ASSERT_EQ(open_bytes(cells("<cname>B</cname><text>1</text><cname>a</cname><text>2</text>"
                               "<cname>b</cname><text>3</text><cname>c</cname><text>4</text>"
                               "<cname>C</cname><text>5</text><cname>aZ</cname><text>6</text>"
                               "<cname>a_B</cname><text>7</text><cname>a_b</cname><text>8</text>"
                               "<cname>d</cname><text>9</text><cname>A</cname><text>10</text>")),
              0);
    // Each name is spelled as its last record has it.
    EXPECT_EQ(cells_of(), "A a_b aZ b C d home ");
    std::string texts;
    for (const char* name : {"a", "aZ", "a_b", "b", "c", "d"})
        texts += cell_text_of(name) + " ";
    EXPECT_EQ(texts, "10 6 8 3 5 9 ");

    // In order until a repeat of the last name.
    ASSERT_EQ(open_bytes(cells("<cname>c</cname><text>1</text><cname>d</cname><text>2</text>"
                               "<cname>D</cname><text>3</text><cname>e</cname>")),
              0);
    EXPECT_EQ(cell_table_count(), 4);
    EXPECT_EQ(cell_text_of("d"), "3");
}

TEST_F(WebFileTest, ThreeHundredCellsAreAllKeptAndBalanced) {
    std::string file;
    for (int i = 0; i < 300; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "c%03d", i);
        file +=
            std::string("\n<cell>\n<cname>") + name + "</cname>\n<text>t" + name + "</text></cell>";
    }
    ASSERT_EQ(open_bytes(cells(file)), 0);
    EXPECT_EQ(cell_table_count(), CELL_TABLE_SIZE);
    EXPECT_EQ(cell_table_at(0), cell_find("c000"));
    EXPECT_EQ(cell_text_of("c299"), "tc299");
    // home is the root; the 300 names all sort before it, in one balanced
    // subtree.
    EXPECT_EQ(cell_root(), cell_find("home"));
    EXPECT_LE(tree_depth(cell_root()), 1 + 9);

    std::string bytes = saved();
    EXPECT_EQ(occurrences(bytes, "<cname>"), 301u);
    EXPECT_NE(bytes.find("<cname>c299</cname>\n<text>tc299</text>"), std::string::npos);
}

// Shuffled pieces of web files: WebMendTest.WhateverReadsIsWrittenAndReadBackTheSame.
TEST_F(WebFileTest, DamagedFilesNeverCrashOrLeak) {
    settings_set_decimals(3);
    ASSERT_EQ(open_bytes(cells("<cname>home</cname><text>h &amp; t</text><val>2</val>"
                               "<cname>b</cname><script>out(1)\r\n</script>")),
              0);
    std::string good = saved("good.tvx");
    for (size_t cut = 0; cut < good.size(); cut += 3) {
        int rc = open_bytes(good.substr(0, cut), "cut.tvx");
        EXPECT_EQ(rc, 0) << cut;
        ASSERT_NE(cell_find("home"), 0);
        expect_no_leak();
    }
}

TEST_F(WebFileTest, RunningOutOfNodesWhileReadingAtEveryAllocation) {
    std::string file;
    for (int i = 0; i < 12; ++i)
        file += "<cname>n" + std::to_string(i) + "</cname><text>" + std::string(80, 'x') +
                "</text><val>" + std::to_string(i) + ".5</val><script>s</script>";
    put_file(path("big.tvx"), cells(file));
    int rc = -1;
    // From 2: a cleared store always has the two nodes of the new "home".
    long n = 2;
    for (; rc != 0 && n < 2000; ++n) {
        node_fail_after(n);
        rc = web_open(path("big.tvx").c_str()).code;
        node_fail_after(-1);
        if (rc != 0) {
            EXPECT_EQ(rc, SE_OUT_OF_MEMORY) << n;
            EXPECT_EQ(last_flash(), "OUT OF MEMORY") << n;
            EXPECT_EQ(web_file_name(), "") << n;
            EXPECT_NE(cell_root(), 0) << n;
        }
        expect_no_leak();
    }
    EXPECT_EQ(rc, 0);
    EXPECT_GT(n, 30); // many allocation points were tried
    EXPECT_EQ(cell_text_of("n11"), std::string(80, 'x'));
    EXPECT_EQ(web_file_name(), path("big.tvx"));
}

TEST_F(WebFileTest, ContentFillingTheStoreIsAReadErrorNotACrash) {
    std::string huge = "<cname>home</cname><text>" + std::string(400000, 'y') + "</text>";
    EXPECT_EQ(open_bytes(huge), SE_OUT_OF_MEMORY);
    EXPECT_EQ(web_file_name(), "");
    EXPECT_EQ(cell_text(cell_find("home")), 0);
    EXPECT_GT(nodes_free(), node_count() - 100);

    // Outside any guard nothing reclaims for the reader: it releases itself.
    std::FILE* f = std::fopen(path("in.tvx").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(web_read(f), SE_OUT_OF_MEMORY);
    std::fclose(f);
    EXPECT_GT(nodes_free(), node_count() - 100);
}

using WebMendTest = WebFileTest;

// Bytes with zeros written as "@".
std::string with_zeros(std::string s) {
    std::replace(s.begin(), s.end(), '@', '\0');
    return s;
}

TEST_F(WebMendTest, ZeroBytesAreDroppedAndReadingGoesOn) {
    // A zero inside a tag name and inside an escape word, as the old writer
    // let through; every cell after them must still be read.
    std::string bytes = with_zeros("\n<opts>\n<ndec>3</ndec></opts>\n<cell>\n<cname>alpha</cname>"
                                   "\n<text>a&l@t;b</text></cell>\n<ce@ll>\n<cname>beta</cname>"
                                   "\n<script>out(1)</script></cell>\n<cell>\n<cname>gamma</cname>"
                                   "\n<val>12</val></cell>\n</eof>");
    ASSERT_EQ(open_bytes(bytes), 0);
    EXPECT_EQ(cells_of(), "alpha beta gamma home ");
    EXPECT_EQ(cell_text_of("alpha"), "a<b");
    EXPECT_EQ(cell_script_of("beta"), "out(1)");
    EXPECT_EQ(settings_decimals(), 3);
    EXPECT_EQ(last_flash(), "2 zero bytes dropped");
    EXPECT_TRUE(web_modified()); // the file differs from the web
    EXPECT_EQ(web_file_name(), path("in.tvx"));

    // Saved back, the file is whole and holds no zero.
    ASSERT_TRUE(web_save().done());
    std::string mended = file_bytes(path("in.tvx"));
    EXPECT_EQ(mended.find('\0'), std::string::npos);
    ASSERT_EQ(open_bytes(mended, "again.tvx"), 0);
    EXPECT_EQ(cells_of(), "alpha beta gamma home ");
    EXPECT_FALSE(web_modified());
}

TEST_F(WebMendTest, ZeroPaddingIsNoDamage) {
    std::string bytes = "\n<cell>\n<cname>home</cname>\n<text>t</text></cell>\n</eof>";
    bytes += std::string(4096, '\0');
    ui.flashes.clear();
    ASSERT_EQ(open_bytes(bytes), 0);
    EXPECT_EQ(cell_text_of("home"), "t");
    EXPECT_TRUE(ui.flashes.empty());
    EXPECT_FALSE(web_modified());
    // Zeros before the end marker are padding too, but bytes after them are
    // not: one zero followed by text is counted.
    ASSERT_EQ(open_bytes(with_zeros("\n<cell>\n<cname>home</cname>\n<text>t@u</text></cell>")), 0);
    EXPECT_EQ(cell_text_of("home"), "tu");
    EXPECT_EQ(last_flash(), "1 zero byte dropped");
}

TEST_F(WebMendTest, TheWriterWritesNoZero) {
    CellHandle c = cell_create("zed");
    cell_set_text(c, std::string("a\0b<c", 5));
    NodeHandle v = value_new();
    value_set_cstring(v, "x");
    text_append_bytes(value_text(v), std::string_view("\0y", 2));
    cell_set_value(c, v);
    std::string bytes = saved();
    EXPECT_EQ(bytes.find('\0'), std::string::npos);
    EXPECT_NE(bytes.find("<text>ab&lt;c</text>"), std::string::npos);
    EXPECT_NE(bytes.find("<val>xy</val>"), std::string::npos);
}

class ComputedValues : public WebMendTest {
  protected:
    void SetUp() override {
        WebMendTest::SetUp();
        builtins_init();
        ui.on_pump = [] { keyboard_push(KEY_ESCAPE); };
    }
    // Runs script in home and returns the saved <val> of cell v after a
    // reopen, as the value pane shows it.
    std::string computed_after_reopen(const std::string& script) {
        cell_create("v");
        EXPECT_EQ(run_in_home(script), 0);
        saved("c.tvx");
        EXPECT_EQ(web_open(path("c.tvx").c_str()).code, 0);
        return value_display(cell_value(cell_find("v")));
    }
};

TEST_F(ComputedValues, KeepTheirPrecisionThroughSaveAndReopen) {
    // The display text under two decimals would be 1.2e+04.
    EXPECT_EQ(computed_after_reopen("set v to 12345.6 + 0.078"), "12345.678");
    EXPECT_EQ(value_number(cell_value(cell_find("v"))), 12345.678);
    EXPECT_EQ(computed_after_reopen("set v to 1 / 3"), "0.3333333333333333");
    EXPECT_EQ(value_number(cell_value(cell_find("v"))), 1.0 / 3);
    // A number its display text gives back keeps that text.
    EXPECT_EQ(computed_after_reopen("set v to 2 * 21"), "42");
    EXPECT_EQ(computed_after_reopen("set v to 0.5 - 1"), "-0.5");
}

TEST_F(ComputedValues, OwnTextsAndInvalidNumbersAreSavedAsBefore) {
    cell_set_value_text(cell_create("typed"), "  1.50000"); // a number with its text
    cell_set_value_text(cell_create("word"), "12345.678 apples");
    NodeHandle b = value_new_number(0);
    value_set_flags(b, VF_NAN);
    cell_set_value(cell_create("bad"), b);
    std::string bytes = saved();
    EXPECT_NE(bytes.find("<val>  1.50000</val>"), std::string::npos);
    EXPECT_NE(bytes.find("<val>12345.678 apples</val>"), std::string::npos);
    EXPECT_NE(bytes.find("<val>{NAN}</val>"), std::string::npos);
    // A value read from a file shows its own text whatever the format.
    settings_set_decimals(0);
    ASSERT_EQ(open_bytes("\n<opts>\n<ndec>0</ndec></opts>\n<cell>\n<cname>home</cname>"
                         "\n<val>2.718281828</val></cell>"),
              0);
    EXPECT_EQ(value_display(cell_value(cell_find("home"))), "2.718281828");
}

// For any bytes that read without error, write, read and write again give
// the same bytes: what a save writes is what the next open reads.
TEST_F(WebMendTest, WhateverReadsIsWrittenAndReadBackTheSame) {
    // Pieces of web files, shuffled: tags, escapes, zeros, line ends.
    std::vector<std::string> pieces = {std::string(1, '\0'),  "\r",       "\n",  "\r\n", " ",
                                       with_zeros("<no@te>"), "\xC3\xA9", "\xff"};
    for (const char* tag : {"cell", "cname", "text", "val", "script", "form", "opts", "ndec",
                            "nfmt", "xmax", "xycells", "oname", "citer", "cfmt", "starg"}) {
        pieces.push_back(std::string("<") + tag + ">");
        pieces.push_back(std::string("</") + tag + ">");
    }
    for (const char* word :
         {"home",  "a1",     "b_2",   "Zed",      "x",     "  -3.5", "1e400", "12345.678",
          "{NAN}", "&amp;",  "&lt;",  "&gt;",     "&",     "<",      ">",     "/",
          ";",     "</eof>", "fixed", "Exponent", "99999", "-7"})
        pieces.push_back(word);
    std::mt19937 rng(17);
    int read_ok = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string input;
        int n = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i)
            input += pieces[rng() % pieces.size()];
        if (read_web_bytes(input) != 0) continue;
        ++read_ok;
        std::string first = web_bytes();
        ASSERT_EQ(read_web_bytes(first), 0) << "input: " << input;
        ASSERT_EQ(web_bytes(), first) << "input: " << input;
        ASSERT_EQ(first.find('\0'), std::string::npos);
    }
    EXPECT_GT(read_ok, 500);
}

// The name a save of target gives its temporary file, found by saving while
// a filler looks at the folder.
std::string temp_name_of(const std::string& dir, const std::string& target) {
    std::string seen;
    file_replace(target, [&](WriterSink sink, void* t) {
        for (auto& e : std::filesystem::directory_iterator(dir)) {
            std::string n = e.path().filename().string();
            if (n.rfind(".tarvex-save-", 0) == 0) seen = n;
        }
        const uint8_t b = 'x';
        return sink(t, &b, 1) == 1 ? 0 : SE_WRITE_WEB;
    });
    return seen;
}

TEST_F(WebMendTest, StaleTemporaryFilesOfAWebAreRemovedLiveOnesKept) {
    std::string target = path("web.tvx");
    std::string temp = temp_name_of(dir_.path().string(), target);
    ASSERT_EQ(temp.size(), std::string(".tarvex-save-0123456789abcdef-XXXXXX").size());
    std::string own = temp.substr(0, temp.size() - 6);
    EXPECT_EQ(listing(), "web.tvx ");

    // Left by killed saves: two of this web, one of another web, and one
    // still being written (locked).
    std::string other = temp_name_of(dir_.path().string(), path("other.tvx"));
    ASSERT_NE(other.substr(0, other.size() - 6), own);
    put_file(path(own + "aaaaaa"), "partial");
    put_file(path(own + "bbbbbb"), "partial");
    std::string other_stale = other.substr(0, other.size() - 6) + "cccccc";
    put_file(path(other_stale), "partial");
    put_file(path(own + "live00"), "being written");
    int live = ::open(path(own + "live00").c_str(), O_RDONLY);
    ASSERT_GE(live, 0);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);

    ASSERT_TRUE(web_save_as(target.c_str()).done());
    std::vector<std::string> left = {own + "live00", other_stale, "other.tvx", "web.tvx"};
    std::sort(left.begin(), left.end());
    EXPECT_EQ(listing(), left[0] + " " + left[1] + " " + left[2] + " " + left[3] + " ");

    // Opening the web clears them too, once their saver is gone.
    ::close(live);
    put_file(path(own + "dddddd"), "partial");
    ASSERT_EQ(web_open(target.c_str()).code, 0);
    EXPECT_EQ(listing(), other_stale + " other.tvx web.tvx ");
}

class WebSaveTest : public WebFileTest {
  protected:
    // A web whose file is bigger than a few write blocks.
    void make_web(const char* text) {
        for (int i = 0; i < 40; ++i) {
            std::string name = "cell" + std::to_string(i);
            CellHandle c = cell_create(name.c_str());
            cell_set_text(c, std::string(200, 'a' + i % 26) + text);
        }
        web_set_modified(true);
    }
    mode_t mode_of(const std::string& p) {
        struct stat st;
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
};

TEST_F(WebSaveTest, FailureAtEveryStepLeavesTheOldFile) {
    make_web("old");
    std::string target = path("web.tvx");
    ASSERT_TRUE(web_save_as(target.c_str()).done());
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const std::string old_bytes = file_bytes(target);
    ASSERT_GT(old_bytes.size(), 4u * 2048);

    cell_set_text(cell_find("cell3"), "changed");
    web_set_modified(true);
    int steps = 0;
    for (int n = 1; n < 100; ++n) {
        ui.flashes.clear();
        web_save_fail_at(n);
        int rc = web_save().code;
        if (rc == 0) {
            steps = n;
            break;
        }
        EXPECT_TRUE(rc == SE_OPEN_WEB || rc == SE_WRITE_WEB) << n;
        EXPECT_EQ(last_flash(),
                  rc == SE_OPEN_WEB ? "UNABLE TO OPEN WEB FILE" : "UNABLE TO WRITE TO WEB FILE");
        EXPECT_EQ(file_bytes(target), old_bytes) << n;
        EXPECT_EQ(listing(), "web.tvx ") << n;
        EXPECT_TRUE(web_modified());
    }
    // create, at least five blocks, sync, close, rename
    EXPECT_GT(steps, 8);
    EXPECT_EQ(web_save_steps(), steps - 1); // the injected step never came
    EXPECT_NE(file_bytes(target), old_bytes);
    EXPECT_NE(file_bytes(target).find("<text>changed</text>"), std::string::npos);
    EXPECT_EQ(mode_of(target), 0640u);
    EXPECT_FALSE(web_modified());
    EXPECT_EQ(listing(), "web.tvx ");
}

TEST_F(WebSaveTest, FailedSaveAsKeepsTheOldNameAndSaysNotSaved) {
    make_web("x");
    ASSERT_TRUE(web_save_as(path("first.tvx").c_str()).done());
    EXPECT_EQ(last_flash(), "Saved");
    web_save_fail_at(3);
    EXPECT_EQ(web_save_as(path("second.tvx").c_str()).code, SE_WRITE_WEB);
    EXPECT_EQ(last_flash(), "Not Saved");
    EXPECT_EQ(web_file_name(), path("first.tvx"));
    EXPECT_EQ(ui.titles.back(), "first");
    EXPECT_EQ(listing(), "first.tvx ");

    // The dialog: cancelled, then a name; it is offered the display name.
    web_save_fail_at(0);
    EXPECT_TRUE(web_save_as(nullptr).cancelled);
    EXPECT_EQ(ui.save_prefill, "first");
    ui.save_names.push_back(path("third.tvx"));
    EXPECT_TRUE(web_save_as("").done());
    EXPECT_EQ(web_file_name(), path("third.tvx"));
}

TEST_F(WebSaveTest, ReadOnlyOrOddTargetsAreRefused) {
    make_web("x");
    std::string target = path("ro.tvx");
    put_file(target, "precious");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    EXPECT_EQ(web_save_as(target.c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(ui.flashes[ui.flashes.size() - 2], "UNABLE TO OPEN WEB FILE");
    EXPECT_EQ(last_flash(), "Not Saved");
    EXPECT_EQ(file_bytes(target), "precious");
    EXPECT_EQ(mode_of(target), 0444u);

    std::filesystem::create_directory(path("folder"));
    EXPECT_EQ(web_save_as(path("folder").c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(web_save_as(path("missing/x.tvx").c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(web_save_as((path("") + std::string(300, 'n')).c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(listing(), "folder ro.tvx ");
    EXPECT_TRUE(web_modified());
}

TEST_F(WebSaveTest, SymbolicLinkKeepsPointingAtTheSavedFile) {
    std::filesystem::create_directory(path("real"));
    std::string real = path("real/web.tvx");
    put_file(real, "<cname>home</cname><text>before</text>");
    ASSERT_EQ(::chmod(real.c_str(), 0604), 0);
    std::filesystem::create_symlink("real/web.tvx", path("link.tvx"));
    ASSERT_TRUE(web_open(path("link.tvx").c_str()).done());
    cell_set_text(cell_find("home"), "after");
    ASSERT_TRUE(web_save().done());
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.tvx")));
    EXPECT_NE(file_bytes(real).find("<text>after</text>"), std::string::npos);
    EXPECT_EQ(mode_of(real), 0604u);
    EXPECT_EQ(listing(), "link.tvx real ");
    EXPECT_EQ(listing(path("real")), "web.tvx ");

    // A dangling link names the file to create.
    std::filesystem::create_symlink("real/new.tvx", path("dangling.tvx"));
    EXPECT_TRUE(web_save_as(path("dangling.tvx").c_str()).done());
    EXPECT_TRUE(std::filesystem::is_symlink(path("dangling.tvx")));
    EXPECT_NE(file_bytes(path("real/new.tvx")).find("<text>after</text>"), std::string::npos);
}

TEST_F(WebSaveTest, SavingNeedsNoNodesAndChangesNothing) {
    make_web("x");
    CellHandle c = cell_find("cell1");
    cell_set_value(c, value_new_number(1.0 / 3.0));
    std::string with_nodes = saved("a.tvx");
    uint16_t in_use = nodes_in_use();
    node_fail_after(0);
    EXPECT_TRUE(web_save_as(path("b.tvx").c_str()).done());
    node_fail_after(-1);
    EXPECT_EQ(file_bytes(path("b.tvx")), with_nodes);
    EXPECT_EQ(nodes_in_use(), in_use);
    EXPECT_EQ(value_text(cell_value(c)), 0);
    EXPECT_EQ(value_flags(cell_value(c)), 0);
}

TEST_F(WebSaveTest, SaveQuestionHasThreeAnswers) {
    make_web("x");
    // Cancel: nothing happens.
    ui.save_answers = {SAVE_CANCEL};
    EXPECT_TRUE(web_new().cancelled);
    EXPECT_NE(cell_find("cell1"), 0);
    EXPECT_EQ(ui.boxes.back().text, "Save current changes in (untitled)?");
    EXPECT_EQ(ui.boxes.back().kind, "yesnocancel");
    // Yes on an untitled web whose save dialog is cancelled: cancelled.
    ui.save_answers = {SAVE_YES};
    EXPECT_TRUE(web_new().cancelled);
    EXPECT_NE(cell_find("cell1"), 0);
    // Yes with a failing save: the failure is shown and the New stops.
    std::string ro = path("ro.tvx");
    put_file(ro, "keep");
    ::chmod(ro.c_str(), 0444);
    ui.save_answers = {SAVE_YES};
    ui.save_names = {ro};
    EXPECT_EQ(web_new().code, SE_OPEN_WEB);
    EXPECT_NE(cell_find("cell1"), 0);
    EXPECT_TRUE(web_modified());
    EXPECT_EQ(file_bytes(ro), "keep");
    // The question is asked before Open too, and Cancel leaves the web.
    put_file(path("other.tvx"), "<cname>other</cname>");
    ui.save_answers = {SAVE_CANCEL};
    EXPECT_TRUE(web_open(path("other.tvx").c_str()).cancelled);
    EXPECT_NE(cell_find("cell1"), 0);
    // Yes saves, then opens.
    ui.save_answers = {SAVE_YES};
    ui.save_names = {path("mine.web.tvx")};
    EXPECT_TRUE(web_open(path("other.tvx").c_str()).done());
    EXPECT_NE(cell_find("other"), 0);
    EXPECT_NE(file_bytes(path("mine.web.tvx")).find("<cname>cell1</cname>"), std::string::npos);
    // No goes on without saving; the question names the file.
    cell_set_text(cell_find("other"), "edited");
    web_set_modified(true);
    ui.save_answers = {SAVE_NO};
    EXPECT_TRUE(web_save_prompt().done());
    EXPECT_EQ(ui.boxes.back().text, "Save current changes in other?");
    ui.save_answers = {SAVE_NO};
    EXPECT_TRUE(web_new().done());
    EXPECT_EQ(cell_find("other"), 0);
    EXPECT_EQ(file_bytes(path("other.tvx")), "<cname>other</cname>");
    // An unmodified web is not asked about.
    size_t boxes = ui.boxes.size();
    EXPECT_TRUE(web_new().done());
    EXPECT_EQ(ui.boxes.size(), boxes);
}

TEST_F(WebSaveTest, OpenResetsTheWebWhateverTheReadGives) {
    web_add_reset_hook(count_reset);
    put_file(path("good.tvx"), "<ndec>4</ndec><cname>home</cname><cname>g</cname>");
    ASSERT_EQ(::chmod(path("good.tvx").c_str(), 0444), 0);
    int resets = g_resets;
    int layouts = ui.relayouts;
    ASSERT_TRUE(web_open(path("good.tvx").c_str()).done());
    EXPECT_EQ(g_resets, resets + 1);
    EXPECT_EQ(ui.relayouts, layouts + 1);
    EXPECT_EQ(web_file_name(), path("good.tvx"));
    EXPECT_EQ(ui.titles.back(), "good");
    EXPECT_EQ(current_cell(), cell_find("home"));
    EXPECT_FALSE(web_modified());
    EXPECT_EQ(file_bytes(path("good.tvx")), "<ndec>4</ndec><cname>home</cname><cname>g</cname>");

    // A file that cannot be opened leaves the web and its name alone.
    EXPECT_EQ(web_open(path("nothing.tvx").c_str()).code, SE_OPEN_WEB);
    EXPECT_EQ(last_flash(), "UNABLE TO OPEN WEB FILE");
    EXPECT_NE(cell_find("g"), 0);
    EXPECT_EQ(web_file_name(), path("good.tvx"));
    EXPECT_EQ(g_resets, resets + 1);

    // A read error (a regular file whose first read fails): the web is
    // replaced, reset and untitled.
    EXPECT_EQ(web_open("/proc/self/mem").code, SE_READ_WEB);
    EXPECT_EQ(last_flash(), "UNABLE TO READ FROM WEB FILE");
    EXPECT_EQ(cell_find("g"), 0);
    EXPECT_EQ(web_file_name(), "");
    EXPECT_EQ(ui.titles.back(), "");
    EXPECT_EQ(g_resets, resets + 2);
    EXPECT_EQ(settings_decimals(), 2);

    // The dialog: offered the current name, cancelled; quotes are dropped
    // from a given name.
    ASSERT_TRUE(web_open(path("good.tvx").c_str()).done());
    WebOutcome cancelled = web_open(nullptr);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_EQ(cancelled.code, SE_OK); // the user's choice, not a failure
    EXPECT_FALSE(cancelled.done());
    EXPECT_EQ(ui.open_prefill, path("good.tvx"));
    EXPECT_TRUE(web_open(("\"" + path("good.tvx") + "\"").c_str()).done());
    ui.open_names = {path("good.tvx")};
    EXPECT_TRUE(web_open("").done());
}

// Runs f in a child process killed after a few seconds, so that a call
// that would hang fails the test instead of holding it up.
template <class F> void in_child_within_seconds(F f) {
    EXPECT_EXIT(
        {
            ::alarm(5);
            f();
            ::_exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(WebSaveTest, OnlyARegularFileOrATakenPipeOpensAsAWebAndNothingWaits) {
    ASSERT_EQ(open_bytes("<cname>mine</cname>", "mine.tvx"), 0);
    std::filesystem::create_directory(path("dir.tvx"));
    std::string fifo = path("fifo.tvx");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    in_child_within_seconds([&] {
        for (const std::string& name :
             {std::string("/dev/zero"), std::string("/dev/null"), path("dir.tvx"), fifo}) {
            EXPECT_EQ(web_open(name.c_str()).code, SE_WEB_NOT_FILE) << name;
            EXPECT_EQ(last_flash(), "Not a web file (a device, folder, socket or pipe)");
            EXPECT_NE(cell_find("mine"), 0) << name;
            EXPECT_EQ(web_file_name(), path("mine.tvx"));
        }
        // Where pipes are taken, a device still is not; a pipe's web is
        // untitled, and the writer may come after the open.
        web_open_pipes(true);
        EXPECT_EQ(web_open("/dev/zero").code, SE_WEB_NOT_FILE);
        if (::fork() == 0) {
            ::usleep(200 * 1000);
            put_file(fifo, "<cname>piped</cname>");
            ::_exit(0);
        }
        EXPECT_EQ(web_open(fifo.c_str()).code, 0);
        EXPECT_NE(cell_find("piped"), 0);
        EXPECT_EQ(web_file_name(), "");
        EXPECT_EQ(stream_base_folder(), std::filesystem::current_path().string());
        // A regular file named through a descriptor has no name of its own.
        int fd = ::open(path("mine.tvx").c_str(), O_RDONLY);
        EXPECT_EQ(web_open(("/dev/fd/" + std::to_string(fd)).c_str()).code, 0);
        EXPECT_NE(cell_find("mine"), 0);
        EXPECT_EQ(web_file_name(), "");
        ::close(fd);
    });
}

TEST_F(WebSaveTest, DisplayNames) {
    const std::pair<const char*, const char*> names[] = {
        {"/home/u/webs/Newton.v2.tvx", "Newton"},
        {"C:\\webs\\tour.tvx", "tour"},
        {"a:b", "b"},
        {"plain", "plain"},
        {"/dir.d/.hidden", ""},
        {"", ""},
    };
    for (const auto& [file, name] : names)
        EXPECT_EQ(web_display_name_of(file), name) << file;
    EXPECT_EQ(web_display_name(), "");
    EXPECT_EQ(ui.titles.back(), "");
}

void set_mtime(const std::string& p, time_t sec) {
    timespec times[2] = {{sec, 0}, {sec, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

class RecoveryTest : public WebFileTest {
  protected:
    void SetUp() override {
        WebFileTest::SetUp();
        for (const char* name : {"XDG_STATE_HOME", "HOME"}) {
            const char* v = std::getenv(name);
            saved_env_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        setenv("XDG_STATE_HOME", path("state").c_str(), 1);
    }
    void TearDown() override {
        for (auto& [name, value] : saved_env_) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
        WebFileTest::TearDown();
    }

    // A saved web of a few cells, then changed without saving.
    std::string changed_web() {
        std::string web = path("web.tvx");
        CellHandle c = cell_create("alpha");
        cell_set_text(c, "saved text");
        EXPECT_TRUE(web_save_as(web.c_str()).done());
        cell_set_text(c, "unsaved & <changed>");
        cell_create("beta");
        settings_set_iterations(7);
        web_set_modified(true);
        return web;
    }

    std::vector<std::pair<const char*, std::optional<std::string>>> saved_env_;
};

TEST_F(RecoveryTest, CopiesLiveInTheStateFolderOneKeyPerWebFile) {
    EXPECT_EQ(recovery_folder(), path("state") + "/tarvex/recovery");
    const std::string mine = "." + recovery_instance() + ".tvx";
    EXPECT_EQ(recovery_path_of(""), path("state") + "/tarvex/recovery/untitled" + mine);

    std::filesystem::create_directories(path("one"));
    std::filesystem::create_directories(path("two"));
    put_file(path("one/web.tvx"), "");
    std::string a = recovery_key_of(path("one/web.tvx"));
    EXPECT_NE(a, recovery_key_of(path("two/web.tvx")));
    EXPECT_EQ(recovery_path_of(path("one/web.tvx")), recovery_folder() + "/" + a + mine);
    EXPECT_EQ(a.rfind("web-", 0), 0u) << a;

    // The same file however it is reached: spelled otherwise, relative,
    // through a linked folder (also for a file not yet written), or
    // through a link to the file itself.
    std::filesystem::create_directory_symlink(path("one"), path("alias"));
    std::filesystem::create_symlink(path("one/web.tvx"), path("two/link.tvx"));
    for (std::string same : {"one/../one/./web.tvx", "alias/web.tvx", "two/link.tvx"})
        EXPECT_EQ(recovery_key_of(path(same)), a) << same;
    EXPECT_EQ(recovery_key_of(path("alias/new.tvx")), recovery_key_of(path("one/new.tvx")));
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(path("alias").c_str()), 0);
    std::string relative = recovery_key_of("web.tvx");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(relative, a);

    // A long or odd file name still gives a short key of plain characters.
    std::string longer = recovery_path_of(path(std::string(200, 'x') + ".tvx"));
    EXPECT_LT(longer.substr(longer.rfind('/') + 1).size(), 100u);
    std::string odd = recovery_key_of(path("a \xc3\xa9;b.c.tvx"));
    EXPECT_EQ(odd.rfind("a____b-", 0), 0u) << odd;
    EXPECT_EQ(odd.size(), 6 + 1 + 16u) << odd;

    // A relative XDG_STATE_HOME is ignored for the default under HOME.
    setenv("XDG_STATE_HOME", "relative/state", 1);
    setenv("HOME", path("home").c_str(), 1);
    EXPECT_EQ(recovery_folder(), path("home") + "/.local/state/tarvex/recovery");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(recovery_folder(), path("home") + "/.local/state/tarvex/recovery");
}

TEST_F(RecoveryTest, WritingLeavesTheWebAndItsFileAlone) {
    std::string web = changed_web();
    const std::string file_before = file_bytes(web);
    std::string copy = recovery_path_of(web);
    size_t titles = ui.titles.size();

    ASSERT_EQ(recovery_write(copy), 0);
    EXPECT_EQ(file_bytes(web), file_before);
    EXPECT_EQ(web_file_name(), web);
    EXPECT_TRUE(web_modified());
    EXPECT_EQ(ui.titles.size(), titles);
    EXPECT_EQ(listing(), "state web.tvx ");
    // The web's bytes, then the seal line the reader never gets to.
    std::string snapshot = recovery_snapshot();
    EXPECT_EQ(file_bytes(copy).substr(0, snapshot.size()), snapshot);
    EXPECT_EQ(
        file_bytes(copy).find("\ntarvex-recovery-copy " + std::to_string(snapshot.size()) + " "),
        snapshot.size());
    EXPECT_NE(file_bytes(copy).find("unsaved &amp; &lt;changed>"), std::string::npos);
    EXPECT_EQ(recovery_check(copy), COPY_WHOLE);
    // The copy opened as a web is the web it holds.
    web_set_modified(false);
    ASSERT_TRUE(web_open(copy.c_str()).done());
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
    EXPECT_EQ(listing(recovery_folder()),
              recovery_instance() + ".lock " + copy.substr(copy.rfind('/') + 1) + " ");
}

// Whatever the umask, and whatever a folder or copy made before had, the
// copy is the user's alone; a folder this writes is too.
TEST_F(RecoveryTest, CopiesArePrivateWhateverTheUmask) {
    struct Case {
        mode_t mask;
        int folder_before; // its mode, or -1: not there
        int copy_before;
    } cases[] = {{022, -1, -1},   {0, -1, -1},       {077, -1, -1},  {0277, -1, -1},
                 {022, 0755, -1}, {022, 0755, 0644}, {0, 0777, 0666}};
    std::string web = changed_web();
    for (const Case& c : cases) {
        std::filesystem::remove_all(path("state"));
        std::string copy = recovery_path_of(web);
        if (c.folder_before >= 0) {
            std::filesystem::create_directories(recovery_folder());
            ASSERT_EQ(chmod(recovery_folder().c_str(), mode_t(c.folder_before)), 0);
        }
        if (c.copy_before >= 0) {
            put_file(copy, "old");
            ASSERT_EQ(chmod(copy.c_str(), mode_t(c.copy_before)), 0);
        }
        mode_t saved = umask(c.mask);
        int rc = recovery_write(copy);
        umask(saved);
        ASSERT_EQ(rc, 0) << c.mask;
        struct stat st;
        ASSERT_EQ(stat(copy.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << c.mask << " " << c.copy_before;
        ASSERT_EQ(stat(recovery_folder().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.folder_before >= 0 ? mode_t(c.folder_before) : 0700u)
            << c.mask;
        if (c.folder_before < 0) {
            ASSERT_EQ(stat(path("state").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0700u) << c.mask;
        }
        EXPECT_EQ(recovery_check(copy), COPY_WHOLE);
    }
}

TEST_F(RecoveryTest, ReadingBringsBackTheChangesUnderTheWebsOwnName) {
    std::string web = changed_web();
    std::string copy = recovery_path_of(web);
    ASSERT_EQ(recovery_write(copy), 0);

    // The next start opens the saved file, then takes the copy.
    web_set_modified(false);
    ASSERT_TRUE(web_open(web.c_str()).done());
    EXPECT_EQ(cell_text_of("alpha"), "saved text");
    EXPECT_EQ(cell_find("beta"), 0);
    web_add_reset_hook(count_reset);
    g_resets = 0;
    size_t titles = ui.titles.size();

    ASSERT_EQ(recovery_read(copy), 0);
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
    EXPECT_NE(cell_find("beta"), 0);
    EXPECT_EQ(settings_iterations(), 7u);
    EXPECT_EQ(web_file_name(), web);
    EXPECT_EQ(ui.titles.size(), titles);
    EXPECT_TRUE(web_modified());
    EXPECT_EQ(g_resets, 1);
    EXPECT_EQ(current_cell(), cell_find("home"));

    // Saving now writes the recovered web to its own file.
    ASSERT_TRUE(web_save().done());
    EXPECT_NE(file_bytes(web).find("unsaved &amp; &lt;changed>"), std::string::npos);
}

TEST_F(RecoveryTest, AFailedWriteKeepsThePreviousCopy) {
    std::string web = changed_web();
    for (int i = 0; i < 40; ++i) // a copy of several write blocks
        cell_set_text(cell_create(("bulk" + std::to_string(i)).c_str()), std::string(300, 'q'));
    std::string copy = recovery_path_of(web);
    ASSERT_EQ(recovery_write(copy), 0);
    const std::string old_copy = file_bytes(copy);
    const std::string folder = listing(recovery_folder());

    cell_set_text(cell_find("alpha"), "newer");
    int steps = 0;
    for (int n = 1; n < 100; ++n) {
        web_save_fail_at(n);
        int rc = recovery_write(copy);
        if (rc == 0) {
            steps = n;
            break;
        }
        EXPECT_TRUE(rc == SE_OPEN_WEB || rc == SE_WRITE_WEB) << n;
        EXPECT_EQ(file_bytes(copy), old_copy) << n;
        EXPECT_EQ(listing(recovery_folder()), folder) << n; // no temporary file left
        EXPECT_TRUE(web_modified());
    }
    EXPECT_GT(steps, 5);
    EXPECT_NE(file_bytes(copy).find("<text>newer</text>"), std::string::npos);
    EXPECT_TRUE(web_modified());
}

TEST_F(RecoveryTest, OnlyAWholeCopyIsTakenForTheWeb) {
    std::string web = changed_web();
    std::string copy = recovery_path_of(web);
    EXPECT_EQ(recovery_read(copy), SE_OPEN_WEB);
    EXPECT_EQ(recovery_check(copy), COPY_NONE);
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
    EXPECT_TRUE(web_modified());

    ASSERT_EQ(recovery_write(copy), 0);
    const std::string whole = file_bytes(copy);
    const size_t body = recovery_snapshot().size();
    std::mt19937 random(26);
    std::string noise(2000, '\0');
    for (char& ch : noise)
        ch = char(random());
    std::string flipped = whole;
    flipped[body / 2] ^= 0x20;
    std::string resealed = whole.substr(0, body / 2) + whole.substr(body);
    struct Case {
        const char* what;
        std::string bytes;
    } damaged[] = {
        {"random bytes", noise},
        {"cut in the web", whole.substr(0, body / 2)},
        {"cut before the seal", whole.substr(0, body)},
        {"cut in the seal", whole.substr(0, whole.size() - 3)},
        {"seal without its line end", whole.substr(0, whole.size() - 1)},
        {"a byte changed", flipped},
        {"a part missing under the old seal", resealed},
        {"bytes after the seal", whole + "x\n"},
        {"a web without a seal", "\n<cell>\n<cname>home</cname><text>t</text></cell></eof>"},
    };
    for (const Case& c : damaged) {
        put_file(copy, c.bytes);
        EXPECT_EQ(recovery_check(copy), COPY_DAMAGED) << c.what;
        EXPECT_EQ(recovery_read(copy), SE_BAD_WEB_FILE) << c.what;
        // The web is untouched.
        EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>") << c.what;
        EXPECT_TRUE(web_modified()) << c.what;
    }
    put_file(copy, whole);
    EXPECT_EQ(recovery_check(copy), COPY_WHOLE);

    // Sealed, but no web: the reader's own refusal.
    put_file(path("bad.tvx"), "<cell><cname> bad</cname></cell>");
    web_set_modified(false);
    ASSERT_EQ(web_open(path("bad.tvx").c_str()).code, SE_BAD_WEB_FILE);
    ASSERT_TRUE(web_open(web.c_str()).done());
    const std::string bad = "<cell><cname> bad</cname></cell>";
    ASSERT_EQ(recovery_write(copy, bad), 0);
    EXPECT_EQ(recovery_check(copy), COPY_WHOLE);
    EXPECT_EQ(recovery_read(copy), SE_BAD_WEB_FILE);
    EXPECT_FALSE(web_modified());

    recovery_remove(copy);
    recovery_remove(copy); // already gone
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(recovery_write(""), SE_OPEN_WEB); // no folder to write to
}

// Only copies of ended instances are found, whatever their age against the
// web file; a running one's stay untouched, damaged ones are set aside,
// empty ones (an instance ended before its first write) and lock files
// nobody needs go.
TEST_F(RecoveryTest, FindingGivesTheCopiesOfEndedInstancesOnly) {
    std::string web = changed_web();
    const std::string folder = recovery_folder();
    const std::string key = recovery_key_of(web);
    ASSERT_EQ(recovery_write(recovery_path_of(web)), 0); // this instance's
    const std::string whole = file_bytes(recovery_path_of(web));
    auto copy_of = [&](const std::string& k, const std::string& instance) {
        return folder + "/" + k + "." + instance + ".tvx";
    };
    // A running instance holds its lock; an ended one left its lock file,
    // or none (a pid no process has).
    put_file(folder + "/1-running.lock", "");
    int held = open((folder + "/1-running.lock").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    put_file(folder + "/2-ended.lock", "");
    put_file(folder + "/3-ended.lock", ""); // no copies left
    struct Left {
        std::string name;
        std::string bytes;
        time_t time;
    } left[] = {
        {copy_of(key, "1-running"), whole, 3'000'000},
        {copy_of(key, "2-ended"), whole, 1'000'000}, // older than the web
        {copy_of(key, "99999999-gone"), whole, 2'000'000},
        {copy_of(key, "99999998-gone"), whole.substr(0, 100), 2'000'000},
        {copy_of(key, "99999997-gone"), "", 2'000'000},
        {copy_of(recovery_key_of(path("other.tvx")), "99999999-gone"), whole, 2'000'000},
    };
    for (const Left& l : left) {
        put_file(l.name, l.bytes);
        set_mtime(l.name, l.time);
    }
    set_mtime(web, 1'500'000);

    RecoveryFinds finds = recovery_find(web);
    EXPECT_EQ(finds.copies, (std::vector<std::string>{left[2].name, left[1].name}));
    EXPECT_EQ(finds.damaged, std::vector<std::string>{left[3].name + ".damaged"});
    EXPECT_EQ(file_bytes(left[3].name + ".damaged"), left[3].bytes);
    EXPECT_FALSE(recovery_newer(left[1].name, web)); // offered all the same
    for (const Left& l : left)
        EXPECT_EQ(std::filesystem::exists(l.name), &l != &left[3] && &l != &left[4]) << l.name;
    EXPECT_TRUE(std::filesystem::exists(recovery_path_of(web)));
    EXPECT_TRUE(std::filesystem::exists(folder + "/1-running.lock"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/2-ended.lock"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/3-ended.lock"));

    // A second damaged copy of the same name is kept beside the first; once
    // the running instance ends, its copy is found too.
    put_file(left[3].name, "damaged again");
    close(held);
    finds = recovery_find(web);
    EXPECT_EQ(finds.damaged, std::vector<std::string>{left[3].name + "-1.damaged"});
    EXPECT_EQ(finds.copies, (std::vector<std::string>{left[0].name, left[2].name, left[1].name}));
    EXPECT_EQ(recovery_read(finds.copies[0]), 0);
    EXPECT_EQ(cell_text_of("alpha"), "unsaved & <changed>");
}

TEST_F(RecoveryTest, ACopyIsToldNewerOrOlderThanTheWebFile) {
    std::string web = changed_web();
    std::string copy = recovery_path_of(web);
    EXPECT_FALSE(recovery_newer(copy, web)); // no copy
    EXPECT_EQ(recovery_time(copy), 0);
    ASSERT_EQ(recovery_write(copy), 0);

    set_mtime(web, 1'000'000);
    set_mtime(copy, 1'000'100);
    EXPECT_TRUE(recovery_newer(copy, web));
    EXPECT_EQ(recovery_time(copy), 1'000'100);
    set_mtime(copy, 1'000'000); // saved in the same instant: not newer
    EXPECT_FALSE(recovery_newer(copy, web));
    set_mtime(copy, 999'000);
    EXPECT_FALSE(recovery_newer(copy, web));
    // Untitled, or the web file is gone: any copy is worth offering.
    EXPECT_TRUE(recovery_newer(copy, ""));
    std::filesystem::remove(web);
    EXPECT_TRUE(recovery_newer(copy, web));
}

namespace fs = std::filesystem;

// ---- reading HTML back ---------------------------------------------------------

std::string node_text(xmlNode* n) {
    xmlChar* c = xmlNodeGetContent(n);
    std::string s = c ? reinterpret_cast<const char*>(c) : "";
    xmlFree(c);
    return s;
}

std::string attr(xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

bool is(xmlNode* n, const char* tag) {
    return n && n->type == XML_ELEMENT_NODE && xmlStrcasecmp(n->name, BAD_CAST tag) == 0;
}

// Line ends as a reader sees them.
std::string lf(std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\r')
            out += s[i];
        else if (i + 1 >= s.size() || s[i + 1] != '\n')
            out += '\n';
    }
    return out;
}

struct Page {
    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc{nullptr, xmlFreeDoc};
    std::map<std::string, int> ids;
    std::vector<std::string> hrefs;
    std::set<std::string> tags;
    std::vector<std::string> handlers; // attributes named on...
    std::vector<xmlNode*> elements;    // document order

    explicit Page(const std::string& html) {
        doc.reset(htmlReadMemory(html.data(), int(html.size()), "page.html", "UTF-8",
                                 HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
        if (doc) walk(xmlDocGetRootElement(doc.get()));
    }
    void walk(xmlNode* n) {
        for (; n; n = n->next) {
            if (n->type != XML_ELEMENT_NODE) continue;
            elements.push_back(n);
            tags.insert(reinterpret_cast<const char*>(n->name));
            for (xmlAttr* a = n->properties; a; a = a->next) {
                std::string name = reinterpret_cast<const char*>(a->name);
                if (name == "id") ++ids[attr(n, "id")];
                if (name == "href") hrefs.push_back(attr(n, "href"));
                if (name.rfind("on", 0) == 0) handlers.push_back(name);
            }
            walk(n->children);
        }
    }
    xmlNode* by_id(const std::string& id) const {
        for (xmlNode* n : elements)
            if (attr(n, "id") == id) return n;
        return nullptr;
    }
    // Every internal link names exactly one element.
    void expect_links_resolve() const {
        for (const std::string& h : hrefs) {
            ASSERT_EQ(h.rfind('#', 0), 0u) << "external link " << h;
            auto it = ids.find(h.substr(1));
            EXPECT_TRUE(it != ids.end() && it->second == 1) << h;
        }
    }
};

// The element after the h3 of a field inside a cell's part of a page; the
// part runs from first to the next h2.
xmlNode* field_after(xmlNode* first, const char* heading) {
    for (xmlNode* n = first; n; n = n->next) {
        if (n != first && is(n, "h2")) break;
        if (!is(n, "h3") || node_text(n) != heading) continue;
        xmlNode* m = n->next;
        while (m && m->type != XML_ELEMENT_NODE)
            m = m->next;
        return m;
    }
    return nullptr;
}

// The heading of an HTML page's section.
xmlNode* heading_of(xmlNode* section) {
    xmlNode* h = section ? section->children : nullptr;
    while (h && !is(h, "h2"))
        h = h->next;
    return h;
}

std::string run_command(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    *status = ::pclose(p);
    return out;
}

std::vector<CellHandle> live_cells() {
    std::vector<CellHandle> cells;
    web_for_each_cell([&](CellHandle c) {
        cells.push_back(c);
        return true;
    });
    return cells;
}

// The text of a field under a cell's heading; "" when there is none.
std::string field_text(xmlNode* heading, const char* field) {
    xmlNode* n = field_after(heading, field);
    return n ? node_text(n) : "";
}

// A cell's heading and fields as a page shows them: HTML keeps every line
// end; cmark renders Markdown back as written, without the line ends that
// close the text and the value, and with one closing the script.
void expect_cell_fields(xmlNode* heading, CellHandle c, bool markdown) {
    std::string name = cell_name_string(c);
    EXPECT_EQ(node_text(heading), name);
    auto trimmed = [&](std::string s) {
        while (markdown && !s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    };
    std::string script = lf(text_to_string(cell_script(c)));
    if (markdown && !script.empty() && script.back() != '\n') script += '\n';
    EXPECT_EQ(lf(field_text(heading, "Text")), trimmed(lf(text_to_string(cell_text(c))))) << name;
    std::string value = value_display(cell_value(c));
    EXPECT_EQ(field_text(heading, "Value"), markdown ? trimmed(lf(value)) : value) << name;
    EXPECT_EQ(lf(field_text(heading, "Script")), script) << name;
}

class ExportTest : public WebFileTest {
  protected:
    void SetUp() override {
        WebFileTest::SetUp();
        builtins_init();
    }
    void TearDown() override {
        text_links_discard_all();
        WebFileTest::TearDown();
    }
    std::string exported(ExportFormat fmt, const std::string& name = "out") {
        std::string p = path(name);
        EXPECT_EQ(web_export(fmt, p), 0);
        return file_bytes(p);
    }
    std::string cmark(const std::string& md) {
        put_file(path("page.md"), md);
        int status = -1;
        std::string html = run_command("cmark --unsafe '" + path("page.md") + "'", &status);
        EXPECT_EQ(status, 0);
        return html;
    }
    // cmark's page: a cell's part starts at the h2 holding its anchor.
    xmlNode* md_cell(const Page& page, CellHandle c) {
        xmlNode* a = page.by_id(export_anchor(c));
        return a ? a->parent : nullptr;
    }
    // A small web whose texts and script hold everything a reader could
    // misread.
    void make_hostile_web() {
        cell_set_text(cell_root(), hostile_text);
        CellHandle a = cell_create("a_b");
        cell_set_text(a, "Back to home.\r\n\r\n1. not a list\r\n- nor this\r\n===\r\n"
                         "    not code\r\n  # no heading  \r\n`tick` *em* _u_ [x](y) &amp; \\\r\n");
        cell_set_value_text(a, "</div><script>alert(1)</script>");
        cell_set_script(
            a, "out(\"<script>alert(1)</script>\") # </pre><img src=x onerror=alert(2)>\r\n"
               "set home = a_b + 1\r\n```\r\n");
        cell_set_text(cell_create("bad"), "broken \xff and \xc3 and \xc0\xaf and \x01 end");
    }
    const char* hostile_text = "<script>alert(1)</script> \"><img src=x onerror=alert(1)> see a_b";
};

TEST_F(ExportTest, EveryAcceptanceWebExportsToEachFormatAndReadsBack) {
    for (const std::string& web : acceptance_webs()) {
        SCOPED_TRACE(web);
        ASSERT_TRUE(web_open(web.c_str()).done());
        std::string before = saved("before.tvx");
        uint16_t used = nodes_in_use();
        Page page(exported(EXPORT_HTML, "out.html"));
        EXPECT_EQ(nodes_in_use(), used);
        ASSERT_TRUE(page.doc);
        page.expect_links_resolve();
        std::vector<CellHandle> cells = live_cells();
        int sections = 0;
        for (xmlNode* n : page.elements)
            sections += is(n, "section");
        EXPECT_EQ(sections, int(cells.size()));
        for (CellHandle c : cells) {
            std::string name = cell_name_string(c);
            xmlNode* s = page.by_id(export_anchor(c));
            ASSERT_TRUE(is(s, "section")) << name;
            xmlNode* h = heading_of(s);
            ASSERT_TRUE(h);
            expect_cell_fields(h, c, false);
            // Links here: the in-pointers of the text links and of the scripts.
            std::set<std::string> expected;
            for (PointerSource from : {PS_TEXT_LINKS, PS_SCRIPT_TOKENS})
                for (CellHandle y : in_pointers(c, from))
                    expected.insert(export_anchor(y));
            std::set<std::string> shown;
            xmlNode* here = field_after(h, "Links here");
            ASSERT_TRUE(here);
            for (xmlNode* a = here->children; a; a = a->next)
                if (is(a, "a")) shown.insert(attr(a, "href").substr(1));
            EXPECT_EQ(shown, expected) << name;
        }
        text_links_discard_all();

        // Markdown, read back by cmark: each cell's texts, and the index.
        Page md(cmark(exported(EXPORT_MARKDOWN, "out.md")));
        ASSERT_TRUE(md.doc);
        md.expect_links_resolve();
        int headings = 0;
        for (xmlNode* n : md.elements)
            headings += is(n, "h2");
        EXPECT_EQ(headings, int(cells.size()) + 1);
        for (CellHandle c : cells) {
            xmlNode* h2 = md_cell(md, c);
            ASSERT_TRUE(is(h2, "h2")) << cell_name_string(c);
            expect_cell_fields(h2, c, true);
        }

        // DOT, accepted by Graphviz.
        std::string dot = exported(EXPORT_DOT, "out.dot");
        for (CellHandle c : cells)
            EXPECT_NE(dot.find("\"" + export_anchor(c) + "\" [label="), std::string::npos);
        int status = -1;
        std::string svg = run_command("dot -Tsvg '" + path("out.dot") + "' 2>&1", &status);
        EXPECT_EQ(status, 0) << svg;
        EXPECT_NE(svg.find("</svg>"), std::string::npos);

        // Nothing in the web changed.
        EXPECT_FALSE(web_modified());
        EXPECT_EQ(saved("after.tvx"), before);
    }
}

TEST_F(ExportTest, HostileTextsStayTextInHtmlAndMarkdown) {
    make_hostile_web();
    Page page(exported(EXPORT_HTML));
    ASSERT_TRUE(page.doc);
    for (const char* tag : {"script", "img", "iframe", "object"})
        EXPECT_EQ(page.tags.count(tag), 0u) << tag;
    EXPECT_TRUE(page.handlers.empty());
    page.expect_links_resolve();

    xmlNode* home = page.by_id("cell-home");
    ASSERT_TRUE(home);
    xmlNode* text = field_after(heading_of(home), "Text");
    ASSERT_TRUE(text);
    EXPECT_EQ(node_text(text), hostile_text);
    // The one word that names a cell is the one link of the text.
    int links = 0;
    for (xmlNode* a = text->children; a; a = a->next)
        if (is(a, "a")) {
            ++links;
            EXPECT_EQ(node_text(a), "a_b");
            EXPECT_EQ(attr(a, "href"), "#cell-a-5Fb");
        }
    EXPECT_EQ(links, 1);

    xmlNode* ab = page.by_id("cell-a-5Fb");
    ASSERT_TRUE(ab);
    EXPECT_EQ(field_text(heading_of(ab), "Value"), "</div><script>alert(1)</script>");
    // Bad bytes become U+FFFD in both formats.
    const char* mended =
        "broken \xEF\xBF\xBD and \xEF\xBF\xBD and \xEF\xBF\xBD\xEF\xBF\xBD and \xEF\xBF\xBD end";
    xmlNode* bad = page.by_id("cell-bad");
    ASSERT_TRUE(bad);
    EXPECT_EQ(field_text(heading_of(bad), "Text"), mended);

    // Markdown escapes what it would misread: only the page's own structure
    // is seen (the title, the index list, one code block).
    Page md(cmark(exported(EXPORT_MARKDOWN)));
    ASSERT_TRUE(md.doc);
    std::map<std::string, int> count;
    for (xmlNode* n : md.elements)
        ++count[reinterpret_cast<const char*>(n->name)];
    for (const char* tag : {"script", "img", "strong", "ol", "blockquote", "hr", "code"})
        EXPECT_EQ(count[tag], 0 + (std::string(tag) == "code")) << tag;
    EXPECT_EQ(count["h1"], 1);
    EXPECT_EQ(count["ul"], 1);
    EXPECT_EQ(count["pre"], 1);
    EXPECT_TRUE(md.handlers.empty());
    md.expect_links_resolve();
    for (CellHandle c : live_cells())
        if (cell_name_string(c) != "bad") expect_cell_fields(md_cell(md, c), c, true);
    EXPECT_EQ(field_text(md_cell(md, cell_find("bad")), "Text"), mended);
}

TEST_F(ExportTest, ScriptsAreColouredAsTheLexerReadsThem) {
    cell_create("max"); // a builtin name never names a cell
    cell_create("total");
    cell_set_script(cell_root(), "set total = max(1, 2.5) * pi # 'note'\r\nout('a#b')");
    std::string html = exported(EXPORT_HTML);
    EXPECT_NE(
        html.find(
            "<code><span class=\"rw\">set</span> <a href=\"#cell-total\" class=\"cell\">total</a>"
            " = <span class=\"bi\">max</span>(<span class=\"num\">1</span>, "
            "<span class=\"num\">2.5</span>) * <span class=\"sc\">pi</span> "
            "<span class=\"com\"># &#39;note&#39;\r</span>\n<span class=\"rw\">out</span>("
            "<span class=\"str\">&#39;a</span><span class=\"com\">#b&#39;)</span></code>"),
        std::string::npos)
        << html;
    // The script link counts as a link to total, the builtin name not as one to max.
    Page page(html);
    EXPECT_NE(field_text(heading_of(page.by_id("cell-total")), "Links here").find("home"),
              std::string::npos);
    EXPECT_EQ(field_text(heading_of(page.by_id("cell-max")), "Links here"), "none");
}

TEST_F(ExportTest, DotHasOneEdgeStylePerLinkSource) {
    CellHandle a = cell_create("a");
    cell_create("b");
    cell_set_text(cell_root(), "see a, a and b");
    cell_set_script(cell_root(), "set b = a");
    cell_set_text(a, "quote \" and backslash \\");
    std::string dot = exported(EXPORT_DOT);
    auto count = [&](const std::string& s) { return occurrences(dot, s); };
    EXPECT_EQ(count("\"cell-home\" -> \"cell-a\" [style=solid]"), 1u);
    EXPECT_EQ(count("\"cell-home\" -> \"cell-b\" [style=solid]"), 1u);
    EXPECT_EQ(count("\"cell-home\" -> \"cell-a\" [style=dashed"), 1u);
    EXPECT_EQ(count("\"cell-home\" -> \"cell-b\" [style=dashed"), 1u);
    EXPECT_EQ(count(" -> "), 4u);
    int status = -1;
    run_command("dot -Tsvg '" + path("out") + "' >/dev/null 2>&1", &status);
    EXPECT_EQ(status, 0);
}

TEST_F(ExportTest, GraphListsEachLinkOncePerKindAndReadsEdits) {
    CellHandle a = cell_create("a");
    cell_create("b");
    cell_set_text(cell_root(), "b, a and b again");
    cell_set_script(a, "set home to b + home");
    WebGraph g = web_graph();
    ASSERT_EQ(g.names, (std::vector<std::string>{"a", "b", "home"}));
    using E = WebGraph::Edge;
    EXPECT_EQ(g.edges, (std::vector<E>{{0, 2, true}, {0, 1, true}, {2, 1, false}, {2, 0, false}}));
    // An edit not yet copied back is read in place of the cell's own fields.
    WebGraph edited = web_graph({a, "see b and b", ""});
    EXPECT_EQ(edited.edges, (std::vector<E>{{0, 1, false}, {2, 1, false}, {2, 0, false}}));
    EXPECT_EQ(web_graph().edges, g.edges);
}

TEST_F(ExportTest, AnchorsAreDistinctAndSafe) {
    std::set<std::string> anchors;
    for (const char* name : {"a_b", "ab", "a5Fb", "A1", "x_5F", "x5F_"}) {
        CellHandle c = cell_create(name);
        ASSERT_NE(c, 0) << name;
        std::string a = export_anchor(c);
        EXPECT_EQ(
            a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-"),
            std::string::npos);
        EXPECT_TRUE(anchors.insert(a).second) << a;
    }
    EXPECT_EQ(export_anchor(cell_find("a_b")), "cell-a-5Fb");
    // The same web exports to the same bytes.
    EXPECT_EQ(exported(EXPORT_HTML, "one"), exported(EXPORT_HTML, "two"));
}

TEST_F(ExportTest, FormatWords) {
    ExportFormat f;
    EXPECT_TRUE(export_format_parse("HTML", &f) && f == EXPORT_HTML);
    EXPECT_TRUE(export_format_parse("md", &f) && f == EXPORT_MARKDOWN);
    EXPECT_TRUE(export_format_parse("dot", &f) && f == EXPORT_DOT);
    EXPECT_FALSE(export_format_parse("htm", &f));
    EXPECT_FALSE(export_format_parse("", &f));
}

TEST_F(ExportTest, AFailedExportLeavesTheOldFile) {
    for (int i = 0; i < 60; ++i)
        cell_set_text(cell_create(("cell" + std::to_string(i)).c_str()), std::string(100, 'x'));
    std::string target = path("page.html");
    put_file(target, "old");
    web_save_fail_at(3); // a block write
    EXPECT_EQ(web_export(EXPORT_HTML, target), SE_WRITE_WEB);
    EXPECT_EQ(file_bytes(target), "old");
    EXPECT_EQ(listing(), "page.html ");
    web_save_fail_at(0);
    EXPECT_EQ(web_export(EXPORT_HTML, path("no/such/folder.html")), SE_OPEN_WEB);
    EXPECT_TRUE(ui.flashes.empty()); // the caller shows the failure
}

TEST_F(ExportTest, AnExportNeverReplacesAWeb) {
    // The open web is an empty file: only its identity tells it is the web.
    put_file(path("web.tvx"), "");
    ASSERT_TRUE(web_open(path("web.tvx").c_str()).done());
    cell_set_text(cell_root(), "work");
    ASSERT_TRUE(web_save_as(path("other.tvx").c_str()).done());
    ASSERT_TRUE(web_open(path("web.tvx").c_str()).done());
    fs::create_symlink("web.tvx", path("alias.html"));
    ::link(path("web.tvx").c_str(), path("hard.html").c_str());
    const std::string other = file_bytes(path("other.tvx"));
    for (const char* out : {"web.tvx", "alias.html", "hard.html", "other.tvx"}) {
        EXPECT_EQ(web_export(EXPORT_HTML, path(out)), SE_EXPORT_ONTO_WEB) << out;
        EXPECT_TRUE(fs::is_symlink(path("alias.html")));
    }
    EXPECT_EQ(file_bytes(path("web.tvx")), "");
    EXPECT_EQ(file_bytes(path("other.tvx")), other);
    EXPECT_EQ(export_error_text(SE_EXPORT_ONTO_WEB),
              std::string("The export file is a Tarvex web: not replaced"));
    // An earlier export is no web: it is replaced, and opening it as the web
    // (the arguments swapped) is refused.
    ASSERT_EQ(web_export(EXPORT_HTML, path("page.html")), 0);
    for (ExportFormat fmt : {EXPORT_HTML, EXPORT_MARKDOWN, EXPORT_DOT}) {
        EXPECT_EQ(web_export(fmt, path("page.html")), 0);
        std::string bytes = file_bytes(path("page.html"));
        EXPECT_EQ(web_open(path("page.html").c_str()).code, SE_NOT_A_WEB) << bytes;
        EXPECT_EQ(web_file_name(), path("web.tvx"));
    }
    web_new(); // the folder goes: later suites' files must not be sought there
}

} // namespace
} // namespace tarvex::test
