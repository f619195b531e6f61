// Failure paths that users meet at the edges: read errors, output files
// that cannot be created or filled, the limits of scripts and names, and
// every acceptance web run with the store made to run out at points spread
// over the whole run (each run ends cleanly or with "OUT OF MEMORY", every
// node accounted for, and the web still runs, saves and reopens). And the
// settings: defaults, buffer limits, plot cells and limits, and every
// setting through the web file.
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "core/value.h"
#include "io/input_stream.h"
#include "io/keyboard_queue.h"
#include "io/output_stream.h"
#include "script/run_engine.h"
#include "settings/setting_table.h"
#include "settings/settings.h"
#include "web/navigation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;

class Reliability : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
        ui.on_pump = [] { keyboard_push(KEY_ESCAPE); };
        web_start_fresh();
    }
    void TearDown() override {
        streams_reset();
        EngineTest::TearDown();
    }
    bool flashed(const char* text) {
        return std::find(ui.flashes.begin(), ui.flashes.end(), text) != ui.flashes.end();
    }
    TempDir tmp{"tarvex_rel"};
    const fs::path& dir = tmp.path();
};

// A file whose reads fail after a number of bytes.
struct FailingRead {
    std::string data;
    size_t pos = 0, fail_at = 0;
};

ssize_t failing_read(void* cookie, char* buf, size_t size) {
    auto* f = static_cast<FailingRead*>(cookie);
    if (f->pos >= f->fail_at) {
        errno = EIO;
        return -1;
    }
    size_t n = std::min(size, std::min(f->fail_at, f->data.size()) - f->pos);
    std::memcpy(buf, f->data.data() + f->pos, n);
    f->pos += n;
    return static_cast<ssize_t>(n);
}

TEST_F(Reliability, ReadErrorMidFileIsReported) {
    FailingRead source;
    for (int i = 0; i < 200; ++i)
        source.data +=
            "<cell><cname>c" + std::to_string(i) + "</cname><text>some text</text></cell>\n";
    source.fail_at = 3000; // past the first 2,048-byte block
    cookie_io_functions_t io{failing_read, nullptr, nullptr, nullptr};
    std::FILE* f = fopencookie(&source, "r", io);
    ASSERT_NE(f, nullptr);
    int r = engine_guard([&] { return web_read(f); });
    std::fclose(f);
    EXPECT_EQ(r, SE_READ_WEB);
    EXPECT_TRUE(flashed("UNABLE TO READ FROM WEB FILE"));
    EXPECT_NE(cell_find("home"), 0); // a usable web remains
    EXPECT_EQ(run_in_home("out(1 + 1)"), 0);
}

// An out statement that cannot write ends the run, the failure told once.
TEST_F(Reliability, OutputFileThatCannotBeMadeOrFilled) {
    ui.allow_paths = true; // absolute names: the places are impossible, not forbidden
    settings_set_output_dest(OUT_FILE);
    settings_set_output_name("/nonexistent/folder/out");
    EXPECT_EQ(run_in_home("out('lost')"), SE_OPERATION_ABORTED);
    EXPECT_TRUE(flashed("UNABLE TO OPEN OUTPUT FILE (No such file or directory): "
                        "/nonexistent/folder/out.txt"));
    settings_set_output_name((dir / "full.txt").c_str());
    FileSizeLimit disk(4096);
    EXPECT_NE(run_in_home("for (home = 1 to 3000) {out('a line of output\\n')}"), 0);
    EXPECT_TRUE(flashed("UNABLE TO WRITE TO WEB FILE"));
}

TEST_F(Reliability, ScriptAtTheLengthLimit) {
    // 4,095 characters run whole; one more and nothing of it runs, on every
    // run, not only the first after the edit.
    std::string script = "out('x')";
    script += std::string(4095 - script.size() - 6, ' ') + "out(1)";
    ASSERT_EQ(script.size(), 4095u);
    EXPECT_EQ(run_in_home(script), 0);
    EXPECT_EQ(ui.console, "x1");
    ui.console.clear();
    script += "2";
    EXPECT_EQ(run_in_home(script), SE_SCRIPT_TOO_LONG);
    EXPECT_EQ(ui.console,
              "\nSCRIPT ERROR\nScript too long (at most 4095 characters) IN CELL home\n");
    ui.console.clear();
    EXPECT_EQ(run_again(), SE_SCRIPT_TOO_LONG);
    EXPECT_EQ(ui.console.find('x'), std::string::npos);
    // A called cell too long to run stops its caller.
    CellHandle big = cell_create("big");
    cell_set_script(big, std::string(5000, ' ') + "out(3)");
    EXPECT_EQ(run_in_home("out('a') big! out('b')"), SE_SCRIPT_TOO_LONG);
    EXPECT_EQ(ui.console,
              "a\nSCRIPT ERROR\nScript too long (at most 4095 characters) IN CELL big\n");
}

// A file name in a script longer than a token keeps is refused, not cut;
// one of 255 bytes is taken.
TEST_F(Reliability, FileNamesTooLongAreRefusedNotCut) {
    ui.allow_paths = true; // absolute names in a scratch folder
    std::string fits = (dir / "out").string();
    settings_set_output_name(fits.c_str());
    settings_set_input_name(fits.c_str());
    settings_set_output_dest(OUT_FILE);
    std::string quoted = "'" + (dir / std::string(300, 'n')).string() + "'";
    EXPECT_EQ(run_in_home("set outname to " + quoted + " out(1)"), SE_NAME_TOO_LONG);
    EXPECT_EQ(run_in_home("set inname to " + quoted), SE_NAME_TOO_LONG);
    EXPECT_EQ(std::string(settings_output_name()), fits);
    EXPECT_EQ(std::string(settings_input_name()), fits);
    streams_reset();
    for (auto& e : fs::directory_iterator(dir)) // nothing under a name not given
        EXPECT_NE(e.path().filename().string()[0], 'n');
    std::string at_limit = (dir / "").string();
    at_limit += std::string(255 - at_limit.size(), 'm');
    EXPECT_EQ(run_in_home("set outname to '" + at_limit + "'"), 0);
    EXPECT_EQ(std::string(settings_output_name()), at_limit);
}

TEST_F(Reliability, NamesAtFortyEightCharacters) {
    std::string name = "n" + std::string(46, 'x') + "1";
    ASSERT_EQ(name.size(), 48u);
    ASSERT_NE(cell_create(name.c_str()), 0);
    EXPECT_EQ(run_in_home("set " + name + " to 5 out(" + name + " * 2)"), 0);
    EXPECT_EQ(ui.console, "10");
    std::string longer = name + "z";
    name_normalize(longer);
    EXPECT_EQ(longer, name);
}

// Injection points per web: every point for short runs, an even stride
// over the whole run for long ones.
constexpr uint64_t POINTS_PER_WEB = 150;

class Exhaustion : public Reliability, public ::testing::WithParamInterface<std::string> {
  protected:
    void SetUp() override {
        Reliability::SetUp();
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(old_dir);
        Reliability::TearDown();
    }
    int open_web(const std::string& path) {
        web_set_modified(false);
        return web_open(path.c_str()).code;
    }
    fs::path old_dir = fs::current_path();
};

TEST_P(Exhaustion, EveryRunEndsCleanlyAndLeavesAUsableWeb) {
    // A copy in the scratch folder: the files a web names are written
    // beside it, not into the sources.
    const std::string web = (dir / fs::path(GetParam()).filename()).string();
    fs::copy_file(GetParam(), web);
    ASSERT_EQ(open_web(web), 0) << web;
    uint64_t before = node_allocations();
    const int unexhausted = run_again();
    uint64_t total = node_allocations() - before;
    uint64_t stride = total / POINTS_PER_WEB + 1;
    int exhausted = 0;
    for (uint64_t k = 0; k <= total; k += stride) {
        ASSERT_EQ(open_web(web), 0) << web;
        ui.flashes.clear();
        node_fail_after(static_cast<long>(k));
        int r = run_again();
        node_fail_after(-1);
        bool oom = flashed("OUT OF MEMORY") || flashed("Out of memory");
        if (r == SE_OUT_OF_MEMORY || oom) ++exhausted;
        // Running out ends the run with the memory error, or is told and the
        // run carries on to the result it has without running out.
        ASSERT_TRUE(r == SE_OUT_OF_MEMORY || (oom && r <= 0) || r == unexhausted)
            << web << " at allocation " << k << ": " << r
            << " (without running out: " << unexhausted << ")";
        expect_no_leak();
        if (HasFailure()) return;
        // Still usable: a script runs, the web saves and reopens.
        ui.console.clear();
        settings_set_iterations(1); // the web's own settings may have changed them
        settings_set_auto_output(AUTO_NONE);
        settings_set_output_dest(OUT_SCREEN);
        cell_set_script(cell_root(), "out(1 + 1)");
        EXPECT_EQ(run_again(), 0);
        EXPECT_TRUE(ui.console == "2" || ui.console == "2.000") << web << " at allocation " << k;
        std::string saved = (dir / "saved.tvx").string();
        EXPECT_TRUE(web_save_as(saved.c_str()).done());
        EXPECT_EQ(open_web(saved), 0);
        EXPECT_NE(cell_find("home"), 0);
        if (HasFailure()) return;
    }
    EXPECT_GT(exhausted, 0) << web << ": no injection point was reached";
}

INSTANTIATE_TEST_SUITE_P(Webs, Exhaustion, ::testing::ValuesIn(acceptance_webs()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return fs::path(info.param).stem().string();
                         });

class SettingsTest : public EngineTest {};

TEST_F(SettingsTest, TextsAreCutToTheirBuffersAndPlotSettingsSplitAndTell) {
    std::string long_s(400, 'a');
    settings_set_search_text(long_s.c_str());
    EXPECT_EQ(std::string(settings_search_text()).size(), 48u);
    settings_set_list_format(long_s.c_str());
    EXPECT_EQ(std::string(settings_list_format()).size(), 79u);
    settings_set_report_format(long_s.c_str());
    EXPECT_EQ(std::string(settings_report_format()).size(), 256u);
    // A cut never splits a UTF-8 sequence.
    std::string accents;
    for (int i = 0; i < 30; ++i)
        accents += "\xC3\xA9";
    settings_set_search_text(accents.c_str());
    EXPECT_EQ(std::string(settings_search_text()), accents.substr(0, 48));
    settings_set_search_text(("x" + accents).c_str());
    EXPECT_EQ(std::string(settings_search_text()), "x" + accents.substr(0, 46));
    settings_set_zoom(30);
    EXPECT_EQ(settings_zoom(), 20);
    settings_set_zoom(-11);
    EXPECT_EQ(settings_zoom(), -10);

    settings_set_plot_cells("x,y,z");
    EXPECT_STREQ(settings_plot_x_cell(), "x");
    EXPECT_STREQ(settings_plot_y_cell(), "y,z");
    settings_set_plot_x_cell("speed");
    EXPECT_STREQ(settings_plot_cells(), "speed,y,z");
    settings_set_plot_y_cell("time");
    EXPECT_STREQ(settings_plot_cells(), "speed,time");
    std::string long_name(60, 'n');
    settings_set_plot_x_cell(long_name.c_str());
    EXPECT_EQ(std::string(settings_plot_x_cell()).size(), 47u);
    EXPECT_STREQ(settings_plot_y_cell(), "time");
    settings_set_plot_cells("lonely");
    EXPECT_STREQ(settings_plot_x_cell(), "lonely");
    EXPECT_STREQ(settings_plot_y_cell(), "");

    settings_set_number_style(0);
    settings_set_decimals(1);
    EXPECT_STREQ(settings_xmax_text(), "5.0");
    settings_set_ymin_text("-2.5e1 rest");
    EXPECT_EQ(settings_ymin(), -25);
    settings_set_xmin_text("abc");
    EXPECT_EQ(settings_xmin(), 0);

    static int colour_calls = 0;
    settings_set_plot_colour_hook([] { ++colour_calls; });
    settings_set_plot_colour(3);
    settings_defaults();
    settings_set_plot_colour_hook(nullptr);
    EXPECT_EQ(colour_calls, 2);
}

// Saves the web and reads it back; the settings are what the file gave.
void write_and_read() { ASSERT_EQ(read_web_bytes(web_bytes()), 0); }

// The settings of a kind that the web file holds.
std::vector<SettingId> file_settings(SettingKind kind) {
    std::vector<SettingId> ids;
    for (int i = 0; i < S_COUNT; ++i) {
        auto id = static_cast<SettingId>(i);
        if (setting_row(id).tag && setting_row(id).kind == kind) ids.push_back(id);
    }
    return ids;
}

TEST_F(SettingsTest, EveryWordSurvivesTheFile) {
    for (SettingId id : file_settings(SK_WORD)) {
        const SettingRow& row = setting_row(id);
        SCOPED_TRACE(row.tag);
        ASSERT_FALSE(row.words.empty());
        for (const SettingWord& w : row.words) {
            SCOPED_TRACE(w.file);
            settings_defaults();
            setting_set_number(id, w.value);
            write_and_read();
            // Only a value the file never brings back reads as the default.
            EXPECT_EQ(setting_number(id), w.value == row.unread ? row.def : w.value);
        }
        // A value without a word leaves an empty element: the default stays.
        setting_set_number(id, 200);
        write_and_read();
        EXPECT_EQ(setting_number(id), row.def);
    }
}

TEST_F(SettingsTest, FileNumbersAreClampedAtBothEnds) {
    std::vector<SettingId> ids = file_settings(SK_NUMBER);
    EXPECT_EQ(ids.size(), 5u);
    for (SettingId id : ids) {
        const SettingRow& row = setting_row(id);
        SCOPED_TRACE(row.tag);
        ASSERT_LT(row.lo, row.hi);
        struct {
            int64_t written, read;
        } cases[] = {{row.lo - 1, row.lo},
                     {row.lo, row.lo},
                     {row.hi, row.hi},
                     // Past the 16-bit numbers a file holds, a count is no number.
                     {row.hi + 1, row.hi < SET_COUNT_MAX ? row.hi : row.lo}};
        for (auto c : cases) {
            settings_defaults();
            setting_set_number(id, c.written);
            write_and_read();
            EXPECT_EQ(setting_number(id), c.read) << "written " << c.written;
        }
    }
}

TEST_F(SettingsTest, DefaultsComeFromTheTableAndRestoreEverything) {
    settings_set_zoom(7);
    settings_set_font_name("Courier");
    settings_set_plot_colour(2);
    settings_set_search_text("find me");
    settings_set_decimals(5);
    settings_set_iterations(9);
    settings_set_echo(1);
    settings_set_trig_units(TRIG_RADIANS);
    settings_set_font_size(120);
    settings_set_xmax_text("9");
    settings_defaults();
    for (int i = 0; i < S_COUNT; ++i) {
        auto id = static_cast<SettingId>(i);
        const SettingRow& row = setting_row(id);
        if (row.kind == SK_TEXT)
            EXPECT_STREQ(row.text(), row.def_text) << i;
        else
            EXPECT_EQ(setting_number(id), row.def) << i;
    }
    // The table's defaults (those a new web's file shows are checked in the
    // file), and the number format they give.
    EXPECT_EQ(settings_zoom(), 0);
    EXPECT_STREQ(settings_font_name(), "Tahoma");
    EXPECT_EQ(settings_font_size(), 90);
    EXPECT_EQ(settings_plot_colour(), 0);
    EXPECT_STREQ(settings_search_text(), "");
    EXPECT_EQ(format_current().decimals, 2);
    EXPECT_STREQ(settings_report_format(), "\\n*****\\N**************************\\n\\T\\n\\n");
    EXPECT_STREQ(settings_output_name(), "OUTPUT");
    EXPECT_EQ(settings_x_intervals(), 5);
    EXPECT_EQ(settings_ymin(), -5);
    EXPECT_EQ(settings_xmax(), 5);
}

} // namespace
} // namespace tarvex::test
