// The streams: the byte reader, the buffered writer, the keyboard queue and
// the I/O error table; the output stream (console and file) and the input
// stream (cell, file and keyboard) through the headless frontend; and the
// configuration and stream statements and the reports, end to end through
// runs and the Report command.
#include "io_test_support.h"

#include "builtins/builtins.h"
#include "commands/report_command.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/io_file.h"
#include "core/value.h"
#include "io/buffered_writer.h"
#include "io/byte_reader.h"
#include "io/input_stream.h"
#include "io/keyboard_queue.h"
#include "io/output_stream.h"
#include "reports/reports.h"
#include "script/run_engine.h"
#include "settings/setting_table.h"
#include "settings/settings.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace tarvex::test {
namespace {

std::string read_all(const std::string& path, ByteReader& r) {
    FilePtr f = file_open(path, "rb");
    EXPECT_TRUE(f);
    byte_reader_start(r, f.get());
    std::string got;
    for (int c; (c = byte_reader_next(r)) != BYTE_END;)
        got.push_back(static_cast<char>(c));
    return got;
}

// The line-end rule written out: every LF not preceded by a CR gains one.
std::string with_cr(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) out.push_back('\r');
        out.push_back(s[i]);
    }
    return out;
}

using IoFiles = IoTest;

TEST_F(IoFiles, ReaderAddsCrBeforeLoneLfAcrossBlockBoundaries) {
    const std::string cases[] = {
        "\nstarts with a line end",
        "lone\rcr\r\rstays\r",
        std::string(IO_BLOCK_SIZE - 1, 'a') + "\r\nb", // CR ends block 1, LF opens block 2
        std::string(IO_BLOCK_SIZE, 'a') + "\nb",       // lone LF opens block 2
        std::string(IO_BLOCK_SIZE - 1, 'a') + "\n\n",  // lone LF at the end of block 1
        std::string(2 * IO_BLOCK_SIZE, '\n'),
        "",
    };
    for (const std::string& bytes : cases) {
        put_file(dir.file("in"), bytes);
        ByteReader r;
        EXPECT_EQ(read_all(dir.file("in"), r), with_cr(bytes)) << "length " << bytes.size();
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(byte_reader_next(r), BYTE_END); // stays at the end
    }
    EXPECT_TRUE(ui.flashes.empty());
}

TEST_F(IoFiles, ReadErrorIsReportedOnceAndEndsTheFile) {
    ByteReader r;
    // A folder opens for reading but every read fails.
    EXPECT_EQ(read_all(dir.path().string(), r), "");
    EXPECT_EQ(r.error, SE_READ_WEB);
    EXPECT_EQ(byte_reader_next(r), BYTE_END);
    EXPECT_EQ(ui.flashes, std::vector<std::string>{"UNABLE TO READ FROM WEB FILE"});
}

TEST_F(IoFiles, WriterWritesWholeBlocksAndTheRest) {
    std::string bytes;
    for (int i = 0; i < 3 * IO_BLOCK_SIZE + 17; ++i)
        bytes.push_back(static_cast<char>(i * 7));
    {
        FilePtr f = file_open(dir.file("out.bin"), "wb");
        ASSERT_TRUE(f);
        BufferedWriter w;
        writer_start(w, f.get());
        EXPECT_EQ(writer_write(w, bytes.substr(0, 100)), 0);
        for (size_t i = 100; i < bytes.size(); ++i)
            EXPECT_EQ(writer_put(w, static_cast<uint8_t>(bytes[i])), 0);
        EXPECT_EQ(file_bytes(dir.file("out.bin")).size(), 3u * IO_BLOCK_SIZE); // the rest waits
        EXPECT_EQ(writer_flush(w), 0);
        EXPECT_TRUE(file_close(f));
    }
    EXPECT_EQ(file_bytes(dir.file("out.bin")), bytes);
}

TEST_F(IoFiles, KeyboardQueueKeepsTheLast48) {
    keyboard_clear();
    EXPECT_EQ(keyboard_pop(), -1);
    for (int i = 0; i < KEYBOARD_QUEUE_SIZE + 2; ++i)
        keyboard_push(static_cast<uint8_t>(1 + i));
    keyboard_push(0); // ignored
    EXPECT_EQ(keyboard_count(), KEYBOARD_QUEUE_SIZE);
    for (int i = 2; i < KEYBOARD_QUEUE_SIZE + 2; ++i)
        EXPECT_EQ(keyboard_pop(), 1 + i);
    EXPECT_EQ(keyboard_pop(), -1);
    // Wrapping without filling up.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 30; ++i)
            keyboard_push(static_cast<uint8_t>('a' + i % 26));
        EXPECT_EQ(keyboard_count(), 30);
        for (int i = 0; i < 30; ++i)
            EXPECT_EQ(keyboard_pop(), 'a' + i % 26);
    }
}

TEST_F(IoFiles, ErrorTableAndStatusTexts) {
    EXPECT_STREQ(io_error_text(0), "NONESUCH");
    EXPECT_STREQ(io_error_text(-9), "UNABLE TO WRITE TO OUPUT FILE");
    EXPECT_STREQ(io_error_text(-19), "PRINTING CANCELED");
    EXPECT_STREQ(io_error_text(-20), "INTERNAL ERROR");
    EXPECT_STREQ(io_error_text(-22), "Unexpected Error!");
    EXPECT_STREQ(io_error_text(3), "Unexpected Error!");
    EXPECT_EQ(status_error(0), 0);
    EXPECT_TRUE(ui.flashes.empty());
    EXPECT_EQ(status_error(-13), -13);
    EXPECT_EQ(status_error(-157), -157);
    EXPECT_EQ(ui.flashes, (std::vector<std::string>{"OUTPUT IN USE", "Unexpected Error!"}));

    // The report's column differs in wording and has no text for the status
    // line's own codes; codes outside both columns have none.
    EXPECT_STREQ(script_error_message(SE_PRINTING_CANCELLED), "Printing cancelled");
    EXPECT_STREQ(script_error_message(SE_READ_INPUT), "Unable to read input file");
    EXPECT_STREQ(io_error_text(SE_READ_INPUT), "UNABLE TO READ FROM INPUT FILE");
    EXPECT_STREQ(script_error_message(SE_OK), "");
    EXPECT_STREQ(script_error_message(SE_INTERNAL_IO), "");
    EXPECT_STREQ(script_error_message(-106), "");
    EXPECT_STREQ(script_error_message(SE_EXPECTED_LPAREN), "Expected '(' ");
    EXPECT_STREQ(io_error_text(SE_OUT_OF_MEMORY), "OUT OF MEMORY");
    EXPECT_STREQ(io_error_text(SE_BAD_IDENTIFIER), "Unexpected Error!");

    // Status texts are cut to 127 bytes.
    ui.flashes.clear();
    std::string exact(127, 'a'), longer = exact + "bcd";
    status_flash(exact.c_str());
    status_flash(longer.c_str());
    status_show(longer.c_str());
    EXPECT_EQ(ui.flashes, (std::vector<std::string>{exact, exact}));
    EXPECT_EQ(ui.persistent_status, exact);
}

using namespace std::string_literals;

using V = std::vector<std::string>;

class OutputTest : public IoTest {
  protected:
    // Output to the file name in the test's folder.
    void to_file(const std::string& name) {
        settings_set_output_dest(OUT_FILE);
        settings_set_output_name(dir.file(name).c_str());
    }
};
class InputTest : public IoTest {
  protected:
    void from_cell(const std::string& text) {
        cell_create("home");
        CellHandle c = cell_create("data");
        cell_set_text(c, text);
        settings_set_input_type(IN_CELL);
        settings_set_input_name("data");
    }
    // Each pump types the next line; with none left it types Escape, so a
    // reader that wants more ends instead of waiting for ever.
    void type_lines(std::vector<std::string> lines) {
        auto queue = std::make_shared<std::vector<std::string>>(std::move(lines));
        ui.on_pump = [this, queue] {
            ++pumps;
            waits_seen += input_wait() ? 1 : 0;
            if (queue->empty()) return keyboard_push(KEY_ESCAPE);
            for (char c : queue->front())
                keyboard_push(static_cast<uint8_t>(c));
            queue->erase(queue->begin());
        };
    }
    int pumps = 0;
    int waits_seen = 0;
};

TEST_F(OutputTest, EscapesAndQuoteState) {
    EXPECT_EQ(output_text("a\\nb|"), 0);
    EXPECT_EQ(output_text("\\'c\\nd|"), 0);     // an escaped apostrophe opens no string
    EXPECT_EQ(output_text("'p\\nq'\\nr|"), 0);  // inside quotes backslashes stay
    EXPECT_EQ(output_text("\"s\\t\"\\\\|"), 0); // double quotes; an escaped backslash
    EXPECT_EQ(output_text("'open \\n"), 0);     // the string goes on in the next text
    EXPECT_EQ(output_text("still' \\n"), 0);
    output_close();
    EXPECT_EQ(ui.console, "a\nb|'c\nd|'p\\nq'\nr|\"s\\t\"\\|'open \\nstill' \n");
    // Reopening starts without a pending backslash or an open string.
    output_text("'x\\");
    output_close();
    output_text("\\n");
    output_close();
    EXPECT_EQ(ui.console, "\n");
}

TEST_F(OutputTest, ConsoleOpenTwiceBatchesClearsAndBreaksLines) {
    ui.console = "old text";
    EXPECT_EQ(output_open(), 0);
    EXPECT_EQ(ui.console, "");
    EXPECT_EQ(ui.persistent_status, "Working...");
    EXPECT_EQ(output_open(), SE_OUTPUT_IN_USE);
    std::vector<size_t> chunks;
    ui.on_console = [&](std::string_view b) { chunks.push_back(b.size()); };
    std::string text;
    for (int i = 0; i < 130; ++i)
        text.push_back(static_cast<char>('a' + i % 26));
    output_text(text);
    output_field(0);
    EXPECT_EQ(output_close(), 0);
    EXPECT_EQ(ui.console, text);
    EXPECT_EQ(ui.persistent_status, "Ready");
    for (size_t n : chunks)
        EXPECT_LE(n, size_t(CONSOLE_LINE_SIZE));
    EXPECT_EQ(ui.flashes, V{"OUTPUT IN USE"}); // the second open

    // A break line never overruns the line buffer either.
    output_text("x\\n");
    console_break_line("here");
    std::string long_text(5000, 'z');
    console_break_line(long_text);
    EXPECT_EQ(ui.console, "x\n\r<BRK:here>\r\r<BRK:" + std::string(OUTPUT_FIELD_MAX, 'z') + ">\r");
    for (size_t n : chunks)
        EXPECT_LE(n, size_t(CONSOLE_LINE_SIZE));
    EXPECT_TRUE(output_is_open()); // the break line leaves the stream as it is
}

TEST_F(OutputTest, LocationAndFieldsAreCut) {
    cell_create("home");
    std::string name = "c" + std::string(CELL_NAME_MAX - 2, 'n');
    CellHandle c = cell_create(name.c_str());
    ASSERT_NE(c, 0);
    output_location("Bad thing", c);
    output_newline();
    Text t = text_from_bytes(std::string(5000, 'f'));
    keep_text(t);
    output_field(t);
    output_close();
    std::string want = "Bad thing IN CELL " + name.substr(0, OUTPUT_CELL_NAME_MAX) + "\n" +
                       std::string(OUTPUT_FIELD_MAX, 'f');
    EXPECT_EQ(ui.console, want);
}

TEST_F(OutputTest, PumpsWhileWritingButNeverRecursively) {
    output_pump_interval(0);
    int pumps = 0;
    ui.on_pump_pending = [&] {
        ++pumps;
        output_char('!'); // a command writing while output is produced
    };
    output_text("abc");
    output_close();
    EXPECT_EQ(pumps, 3);
    EXPECT_EQ(ui.console, "a!b!c!");
}

TEST_F(OutputTest, FileNamesGetTxtOnlyWhenTheFileNameHasNoDot) {
    std::filesystem::create_directories(dir.file("v1.2"));
    settings_set_output_dest(OUT_FILE);
    for (auto [name, file] : {std::pair{"v1.2/out", "v1.2/out.txt"},
                              {"v1.2/out.csv", "v1.2/out.csv"},
                              {"v1.2/.hidden", "v1.2/.hidden"}}) {
        settings_set_output_name(dir.file(name).c_str());
        EXPECT_EQ(output_text("data"), 0);
        EXPECT_EQ(ui.persistent_status, "Writing output file...");
        EXPECT_EQ(output_close(), 0);
        EXPECT_EQ(output_file_name(), dir.file(file));
        EXPECT_EQ(file_bytes(dir.file(file)), "data") << file;
    }
    EXPECT_EQ(ui.console, ""); // nothing went to the console

    // An empty name writes ./Output.txt and becomes ./Output.
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    settings_set_output_name("");
    EXPECT_EQ(output_text("x"), 0);
    EXPECT_EQ(output_close(), 0);
    std::filesystem::current_path(cwd);
    EXPECT_STREQ(settings_output_name(), "./Output");
    EXPECT_EQ(file_bytes(dir.file("Output.txt")), "x");
    EXPECT_TRUE(ui.flashes.empty());
}

TEST_F(OutputTest, NewlineModesOfFileOutput) {
    to_file("nl");
    const std::pair<uint8_t, std::string> modes[] = {
        {NL_LF, "a\nb\nc\n"}, {NL_CR, "a\rbc"}, {NL_CRLF, "a\r\nb\nc\n"}};
    for (const auto& [mode, want] : modes) {
        settings_set_newline_mode(mode);
        output_text("a");
        output_char('\r');
        output_newline();
        output_text("b\\nc\n");
        EXPECT_EQ(output_close(), 0);
        EXPECT_EQ(file_bytes(dir.file("nl.txt")), want) << int(mode);
    }
    // Across the writer's blocks, byte for byte.
    settings_set_newline_mode(NL_LF);
    std::string big;
    for (int i = 0; i < 5 * IO_BLOCK_SIZE + 3; ++i)
        big.push_back(static_cast<char>('A' + i % 23));
    output_text(big);
    EXPECT_EQ(output_close(), 0);
    EXPECT_EQ(file_bytes(dir.file("nl.txt")), big);
}

// A whole text comes out as its bytes one at a time would: the same console
// (seen at the same pumps) and the same file in every newline mode, whatever
// escapes, quotes, zeros and line ends it holds and however long it is.
TEST_F(OutputTest, TextComesOutAsItsBytesOneByOne) {
    std::mt19937 rng(11);
    const char alphabet[] = "ab\\'\"\n\r\0n"; // the zero is one of the letters
    std::vector<std::string> texts;
    for (int i = 0; i < 60; ++i) {
        std::string t;
        for (int n = static_cast<int>(rng() % 400); n > 0; --n)
            t.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
        texts.push_back(t);
    }
    texts.push_back(std::string(3 * IO_BLOCK_SIZE + 5, 'p')); // across blocks and lines
    auto write = [&](bool whole) {
        for (const std::string& t : texts) {
            if (whole)
                EXPECT_EQ(output_text(t), 0);
            else
                for (char c : t)
                    EXPECT_EQ(output_char(static_cast<uint8_t>(c)), 0);
        }
        EXPECT_EQ(output_close(), 0);
    };

    output_pump_interval(0);
    std::string seen;
    ui.on_pump_pending = [&] { seen += std::to_string(ui.console.size()) + " "; };
    std::string console[2], pumps[2];
    for (int whole = 0; whole < 2; ++whole) {
        seen.clear();
        write(whole);
        console[whole] = ui.console;
        pumps[whole] = seen;
    }
    EXPECT_EQ(console[1], console[0]);
    EXPECT_EQ(pumps[1], pumps[0]);
    ui.on_pump_pending = nullptr;
    output_pump_interval(5);

    to_file("t");
    for (uint8_t mode : {NL_LF, NL_CR, NL_CRLF}) {
        settings_set_newline_mode(mode);
        std::string bytes[2];
        for (int whole = 0; whole < 2; ++whole) {
            write(whole);
            bytes[whole] = file_bytes(dir.file("t.txt"));
        }
        EXPECT_GT(bytes[0].size(), 3u * IO_BLOCK_SIZE);
        EXPECT_EQ(bytes[1], bytes[0]) << int(mode);
    }
}

TEST_F(OutputTest, UnwritableOutputIsReported) {
    to_file("missing/folder/out");
    EXPECT_EQ(output_char('x'), SE_OPEN_OUTPUT);
    EXPECT_FALSE(output_is_open());
    EXPECT_EQ(output_open(), SE_OPEN_OUTPUT);
    // Shown once with the reason and the full path, however often it is tried.
    const std::string failed = "UNABLE TO OPEN OUTPUT FILE (No such file or directory): " +
                               dir.file("missing/folder/out.txt");
    EXPECT_EQ(ui.flashes, V{failed});
    EXPECT_EQ(output_close(), 0);
    // Closing ends the attempt: the next one is shown again.
    EXPECT_EQ(output_open(), SE_OPEN_OUTPUT);
    EXPECT_EQ(ui.flashes, (V{failed, failed}));

    ui.flashes.clear();
    settings_set_output_name(dir.file("full.out").c_str());
    FileSizeLimit full(0);
    // A failure at the final write, when the stream closes, is reported.
    EXPECT_EQ(output_text("short"), 0);
    EXPECT_EQ(output_close(), SE_WRITE_WEB);
    EXPECT_EQ(ui.flashes, V{"UNABLE TO WRITE TO WEB FILE"});
    // A failure on the way is reported once.
    ui.flashes.clear();
    int first_failure = -1;
    for (int i = 0; i < 3 * IO_BLOCK_SIZE && first_failure < 0; ++i)
        if (output_char('y') != 0) first_failure = i;
    EXPECT_EQ(first_failure, IO_BLOCK_SIZE);
    EXPECT_EQ(output_char('y'), SE_WRITE_WEB);
    EXPECT_EQ(output_close(), SE_WRITE_WEB);
    EXPECT_EQ(ui.flashes, V{"UNABLE TO WRITE TO WEB FILE"});
}

TEST_F(OutputTest, ResetClosesWithoutWriting) {
    to_file("r.txt");
    output_text("pending");
    streams_reset();
    EXPECT_FALSE(output_is_open());
    EXPECT_EQ(file_bytes(dir.file("r.txt")), "");
    EXPECT_EQ(output_open(), 0); // open again, no "in use"
    output_close();
}

TEST_F(InputTest, CellValuesThenTheEnd) {
    from_cell("12 3.5 'abc' word");
    EXPECT_EQ(take_values(5), (V{"num:12", "num:3.5", "str:abc", "str:word", "none"}));
    EXPECT_EQ(eof_get(), 1);
    EXPECT_EQ(ui.flashes, V{"End Of File on Input"});
    EXPECT_EQ(input_char(), 0); // stays at the end
    // The number keeps the text it was read from.
    input_close();
    NodeHandle v = input_value();
    ASSERT_NE(v, 0);
    EXPECT_EQ(value_display(v), "12");
    value_free(v);
    EXPECT_EQ(eof_get(), 0);
    EXPECT_EQ(input_open(), SE_INPUT_IN_USE);
}

TEST_F(InputTest, ClassificationCommentsLineEndsAndLongValues) {
    from_cell("- 5 +2 .5 1.5e3 7E- 2 -x a_b1 \"dq\" ;,! 'to the end");
    EXPECT_EQ(take_values(11), (V{"num:-5", "num:2", "num:0.5", "num:1500", "num:0.07", "num:0",
                                  "str:x", "str:a_b1", "str:dq", "str:to the end", "none"}));
    input_close();
    cell_set_text(cell_find("data"), "1 # 99 skipped\r\n2#x\r\n\r\n3\r4\n# last line");
    EXPECT_EQ(take_values(5), (V{"num:1", "num:2", "num:3", "num:4", "none"}));
    input_close();
    cell_set_text(cell_find("data"), std::string(300, 'w') + " 'q");
    EXPECT_EQ(take_values(3), (V{"str:" + std::string(INPUT_VALUE_MAX, 'w'),
                                 "str:" + std::string(300 - INPUT_VALUE_MAX, 'w'), "str:q"}));
}

TEST_F(InputTest, MissingCellOrFileGivesNoValue) {
    from_cell("1");
    settings_set_input_name("nosuch");
    EXPECT_EQ(input_open(), SE_INPUT_CELL);
    EXPECT_EQ(take_value(), "none");
    EXPECT_EQ(input_char(), 0);
    EXPECT_EQ(eof_get(), 1);
    settings_set_input_type(IN_FILE);
    settings_set_input_name(dir.file("absent").c_str());
    EXPECT_EQ(input_open(), SE_OPEN_INPUT);
    EXPECT_EQ(input_file_name(), dir.file("absent.txt"));
    EXPECT_EQ(take_value(), "none");
    EXPECT_EQ(ui.flashes,
              (V{"Unable to open input",
                 "UNABLE TO OPEN INPUT FILE (No such file or directory): " + dir.file("absent.txt"),
                 "Unable to open input"}));
}

TEST_F(InputTest, FileValuesWithCommentsAndEcho) {
    put_file(dir.file("data.txt"), "1\n# comment 99\n2 'two'\nlast");
    settings_set_input_type(IN_FILE);
    settings_set_input_name(dir.file("data").c_str());
    settings_set_echo(1);
    EXPECT_EQ(take_values(5), (V{"num:1", "num:2", "str:two", "str:last", "none"}));
    output_close();
    // Echo writes what was read, line ends as the byte reader gives them.
    EXPECT_EQ(ui.console, "1\r\n# comment 99\r\n2 'two'\r\nlast");

    // An empty name reads ./Input.txt and becomes ./Input.
    input_close();
    settings_set_echo(0);
    put_file(dir.file("Input.txt"), "42");
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    settings_set_input_name("");
    std::string got = take_value();
    input_close();
    std::filesystem::current_path(cwd);
    EXPECT_EQ(got, "num:42");
    EXPECT_STREQ(settings_input_name(), "./Input");
}

TEST_F(InputTest, KeyboardLinesEnterAndPrompt) {
    settings_set_input_type(IN_KEYBOARD);
    type_lines({"12 abc\r", "\r", "'x y'\r", "5 # note\r", "7\r"});
    output_text("before");
    input_prompt("");
    input_prompt("Value?");
    EXPECT_EQ(take_values(6), (V{"num:12", "str:abc", "empty", "str:x y", "num:5", "num:7"}));
    EXPECT_EQ(ui.console, "before? Value? ");
    EXPECT_EQ(ui.console_styles, std::string(6, '\0') + "\3\0\3\3\3\3\3\3\0"s);
    EXPECT_EQ(ui.view_now, VIEW_CONS);
    EXPECT_EQ(ui.persistent_status, "Stop Button Aborts Input");
    EXPECT_EQ(pumps, 5);
    EXPECT_EQ(waits_seen, pumps);
    EXPECT_FALSE(input_wait());
    input_close();
    EXPECT_EQ(ui.persistent_status, "Ready");
}

TEST_F(InputTest, EscapeCtrlCAndCtrlZEndKeyboardInput) {
    settings_set_input_type(IN_KEYBOARD);
    for (char stop : {'\x1b', '\x03', '\x1a'}) {
        type_lines({std::string("9 ") + stop + "8\r"});
        EXPECT_EQ(take_values(2), (V{"num:9", "none"})) << int(stop);
        EXPECT_EQ(eof_get(), 1);
        int before = pumps;
        EXPECT_EQ(input_char(), 0); // no more waiting
        EXPECT_EQ(pumps, before);
        input_close();
    }
}

TEST_F(InputTest, PromptsForCellInputOnlyWithEcho) {
    from_cell("1");
    input_prompt("hidden");
    EXPECT_FALSE(output_is_open());
    settings_set_echo(1);
    input_prompt("shown");
    output_close();
    EXPECT_EQ(ui.console, "shown");
}

TEST_F(InputTest, RunningOutOfNodesLeavesNothingBehind) {
    from_cell("'a fairly long string that needs more than one chunk of text'");
    node_fail_after(1); // the Value, then no Text
    int rc = engine_guard([] { return take_value() == "none" ? 1 : 2; });
    node_fail_after(-1);
    EXPECT_EQ(rc, SE_OUT_OF_MEMORY);
    EXPECT_EQ(guard_last_reclaimed(), 0); // the half-built value was released at once
    input_close();
}

class Streams : public IoTest {
  protected:
    void SetUp() override {
        IoTest::SetUp();
        cell_create("home");
        navigation_reset();
    }
    CellHandle cell(const char* name, const char* text = nullptr) {
        CellHandle c = cell_named(name);
        if (text) cell_set_text(c, text);
        return c;
    }
};

TEST_F(Streams, ConfigurationWords) {
    EXPECT_EQ(run_in_home("set numdec 20"), 0);
    EXPECT_EQ(settings_decimals(), 15);
    run_in_home("set numfmt 'Fixed' set numdec 1 out(2 + 0, ' ', 2)");
    EXPECT_EQ(ui.console, "2.0 2"); // a literal prints as it was typed
    run_in_home("set numfmt general set numdec to 3 out(1/3)");
    EXPECT_EQ(ui.console, "0.333");
    struct {
        const char* script;
        int code;
    } errors[] = {{"set numfmt 'sci'", SE_BAD_NUMFMT},
                  {"set numdec 'x'", SE_BAD_NUMDEC},
                  {"set rpttype 'pie'", SE_EXPECTED_RPTTYPE},
                  {"set trigunits 1", SE_BAD_TRIGUNITS},
                  {"set intype 'mouse'", SE_EXPECTED_INTYPE},
                  {"set outtype 4", SE_EXPECTED_OUTTYPE},
                  {"set rptfmt 3", SE_EXPECTED_FORMAT},
                  {"set inname 3", SE_EXPECTED_INNAME},
                  {"set outname 3", SE_EXPECTED_OUTNAME},
                  {"set numfmt while 'fixed'", SE_BAD_SET},
                  {"set all 1", SE_BAD_SET}};
    for (auto& e : errors)
        EXPECT_EQ(run_in_home(e.script), e.code) << e.script;
    run_in_home("set rptfmt '\\N'");
    EXPECT_STREQ(settings_report_format(), "\\N");
}

// For every value of a setting that `set` chooses by word, the statement's
// word gives the value that the web file's word gives.
TEST_F(Streams, SetTakesTheWordsTheFileReads) {
    const struct {
        SettingId id;
        const char* config;
    } settings[] = {{S_INPUT_TYPE, "intype"},
                    {S_OUTPUT_DEST, "outtype"},
                    {S_NUMBER_STYLE, "numfmt"},
                    {S_REPORT_TYPE, "rpttype"},
                    {S_TRIG_UNITS, "trigunits"}};
    for (auto s : settings) {
        settings_defaults();
        settings_set_input_name(dir.file("in").c_str());
        settings_set_output_name(dir.file("out").c_str());
        for (const SettingWord& w : setting_row(s.id).words) {
            std::string word = w.script ? w.script : w.file;
            std::string script = std::string("set ") + s.config + " '" + word + "'";
            SCOPED_TRACE(script);
            setting_set_number(s.id, 99);
            int r = run_in_home(script);
            EXPECT_TRUE(r == 0 || r == SE_CELL_IO_MEMORY); // the input file does not exist
            EXPECT_EQ(setting_number(s.id), w.value);
            int from_file = setting_file_value(s.id, w.file);
            EXPECT_TRUE(from_file == w.value || w.value == setting_row(s.id).unread);
            EXPECT_EQ(setting_script_value(s.id, word.c_str()), w.value);
        }
    }
    settings_defaults();
    // numdec is clamped to the statement's range; a minus is no literal, so
    // the low end is reached only by 0 itself.
    const SettingRow& numdec = setting_row(S_DECIMALS);
    EXPECT_EQ(run_in_home("set numdec -4"), SE_BAD_NUMDEC);
    run_in_home("set numdec 0");
    EXPECT_EQ(setting_number(S_DECIMALS), numdec.lo);
    std::string high = "set numdec " + std::to_string(numdec.script_hi + 1);
    run_in_home(high);
    EXPECT_EQ(setting_number(S_DECIMALS), numdec.script_hi);
    settings_defaults();
}

TEST_F(Streams, InputFromACell) {
    cell("data", "12 3.5 'abc' word");
    for (const char* name : {"a", "b", "c", "d"})
        cell(name);
    EXPECT_EQ(run_in_home("set inname data set intype 'cell' in(a, b, c, d) out(a + b, c, d, eof)"),
              0);
    EXPECT_EQ(ui.console, "16abcword1"); // two significant digits; the end was met
    EXPECT_EQ(run_in_home("in(a, b, c, d, a)"), SE_READ_PAST_END);
    EXPECT_EQ(value_of("a"), "12");
    // Reopening on a cell that does not exist fails.
    EXPECT_EQ(run_in_home("set inname 'nosuch'"), SE_CELL_IO_MEMORY);
    settings_set_input_type(IN_KEYBOARD);
    EXPECT_EQ(run_in_home("in(3)"), SE_BAD_IN);
}

TEST_F(Streams, KeyboardInputThroughTheQueue) {
    cell("x");
    std::string typed = "41\r";
    ui.on_pump = [&] {
        for (char ch : typed)
            keyboard_push(static_cast<uint8_t>(ch));
        typed.clear();
    };
    EXPECT_EQ(run_in_home("in('Value?', x) out(x + 1)"), 0);
    EXPECT_EQ(ui.console, "Value? 42");
    ui.on_pump = [] { keyboard_push(KEY_ESCAPE); }; // Stop aborts the wait
    EXPECT_EQ(run_in_home("in(x)"), SE_INPUT_ABORTED);
}

TEST_F(Streams, ReportsOfEveryType) {
    settings_set_report_all(0);
    cell("alpha", "hello");
    cell("beta", "see alpha and alpha");
    make_current(cell_find("alpha"));
    EXPECT_EQ(report_command(), 0);
    EXPECT_EQ(ui.console, "\r\n*****alpha**************************\r\nhello\r\n\r\n");
    settings_set_report_format("\\N=\\V;\\");
    cell_set_value(cell_find("beta"), value_new_number(2));
    settings_set_report_all(1);
    report_command();
    EXPECT_EQ(ui.console, "alpha=;beta=2;home=;");
    settings_set_report_type(RPT_OUT_POINTERS);
    settings_set_report_all(0);
    make_current(cell_find("beta"));
    report_command();
    EXPECT_EQ(ui.console, "\nbeta\n    >alpha\n    >alpha");
    settings_set_report_type(RPT_IN_POINTERS);
    make_current(cell_find("alpha"));
    report_command();
    EXPECT_EQ(ui.console, "\nalpha\n    <beta");
    settings_set_report_type(RPT_TRAIL);
    visit_new(cell_find("beta"));
    report_command();
    EXPECT_EQ(ui.console, "\nTrail:\n    alpha");
}

TEST_F(Streams, SelectionFromTextTakesSixtyFourCells) {
    std::string text;
    for (int i = 0; i < 70; ++i) {
        char n[8];
        std::snprintf(n, sizeof n, "s%02d", i);
        cell(n);
        text += std::string(n) + " nosuch ";
    }
    selection_from_text(text);
    EXPECT_EQ(report_selection().size(), 64u);
    EXPECT_EQ(cell_name_string(report_selection().back()), "s63");
    std::string longword = std::string(48, 'a') + "Xs01";
    selection_from_text(longword); // cut at 48, the X is skipped, then s01
    ASSERT_EQ(report_selection().size(), 1u);
    EXPECT_EQ(cell_name_string(report_selection()[0]), "s01");
}

TEST_F(Streams, ReportStatementAndReportWhilePaused) {
    cell("p", "ptext");
    settings_set_report_all(0);
    settings_set_report_format("[\\N]");
    run_in_home("report report(p) out('!')");
    EXPECT_EQ(ui.console, "[p]!");
    // A report while paused writes into the run's open output.
    ui.on_pump = [] {
        report_command();
        run_set_resume_request(true);
    };
    run_in_home("out('a') brk(1) out('b')", true);
    EXPECT_EQ(ui.console, "a\r<BRK:1>\r[home]b");
}

} // namespace
} // namespace tarvex::test
