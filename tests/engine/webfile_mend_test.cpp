// Web files that must never cost the user work: zero bytes in a file,
// computed values saved with their precision, the round trip of whatever
// reads, and the temporary files of saves that were killed.
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "core/value.h"
#include "io/keyboard_queue.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/navigation.h"

#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>

namespace tarvex::test {
namespace {

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

} // namespace
} // namespace tarvex::test
