// The configuration and stream statements and the reports, end to end
// through runs and the Report command.
#include "engine_fixture.h"
#include "temp_files.h"

#include "builtins/builtins.h"
#include "commands/report_command.h"
#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "io/input_stream.h"
#include "io/output_stream.h"
#include "reports/reports.h"
#include "script/run_engine.h"
#include "settings/setting_table.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <filesystem>
#include <string>

namespace tarvex::test {
namespace {

class Streams : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        streams_reset();
        cell_create("home");
        navigation_reset();
    }
    void TearDown() override {
        streams_reset();
        EngineTest::TearDown();
    }
    CellHandle cell(const char* name, const char* text = nullptr) {
        CellHandle c = cell_find(name);
        if (c == 0) c = cell_create(name);
        if (text) cell_set_text(c, text);
        return c;
    }
    std::string value_of(const char* name) { return value_display(cell_value(cell_find(name))); }
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
    TempDir tmp;
    const std::filesystem::path& dir = tmp.path();
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
        settings_set_input_name((dir / "in").string().c_str());
        settings_set_output_name((dir / "out").string().c_str());
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
