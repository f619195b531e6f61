// Settings: defaults, buffer limits, plot cells and limits.
#include "webfile_test_support.h"

#include "core/value.h"
#include "settings/setting_table.h"
#include "webfile/web_file.h"

#include <cstdio>

#include <string>
#include <vector>

namespace tarvex::test {
namespace {

class SettingsTest : public EngineTest {};

int g_colour_calls = 0;

TEST_F(SettingsTest, TextSettingsAreCutToTheirBuffers) {
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
}

TEST_F(SettingsTest, PlotCellsSplitAtFirstComma) {
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
}

TEST_F(SettingsTest, PlotLimitsUseTheNumberFormat) {
    settings_set_number_style(0);
    settings_set_decimals(1);
    EXPECT_STREQ(settings_xmax_text(), "5.0");
    settings_set_ymin_text("-2.5e1 rest");
    EXPECT_EQ(settings_ymin(), -25);
    settings_set_xmin_text("abc");
    EXPECT_EQ(settings_xmin(), 0);
}

TEST_F(SettingsTest, PlotColourSetterTellsThePlot) {
    g_colour_calls = 0;
    settings_set_plot_colour_hook([] { ++g_colour_calls; });
    settings_set_plot_colour(3);
    settings_defaults();
    settings_set_plot_colour_hook(nullptr);
    EXPECT_EQ(g_colour_calls, 2);
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
