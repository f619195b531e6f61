// Web file format: the writer's bytes, round trips, the tolerant reader, bad
// and damaged files, duplicate names, big webs and running out of nodes.
#include "webfile_test_support.h"

#include "core/value.h"
#include "settings/settings.h"
#include "web/navigation.h"

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

} // namespace
} // namespace tarvex::test
