// The web modified mark follows what a save would record: values changed by
// a run and stored settings changed by a `set` statement or a setter mark
// the web; runs and settings that change nothing stored (or only what a
// search looked for) leave it alone, and
// starting or opening a web clears it.
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "core/value.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/navigation.h"

#include <string>

namespace tarvex::test {
namespace {

class ModifiedMark : public WebFileTest {
  protected:
    void SetUp() override {
        WebFileTest::SetUp();
        builtins_init();
        settings_set_auto_output(AUTO_NONE);
        web_set_modified(false);
    }
    // Runs script in home from an unmodified web; whether the run marked it.
    bool run_marks(const char* script) {
        web_set_modified(false);
        EXPECT_EQ(run_in_home(script), 0) << script;
        return web_modified();
    }
};

TEST_F(ModifiedMark, ARunMarksTheWebOnlyWhenAValueChanges) {
    cell_create("x");
    cell_create("y");
    cell_set_script(cell_find("y"), "x + 1");
    EXPECT_FALSE(run_marks("out(1 + 2)"));
    EXPECT_TRUE(run_marks("set x 4"));
    EXPECT_EQ(value_display(cell_value(cell_find("x"))), "4");
    // The same value again records nothing new.
    EXPECT_FALSE(run_marks("set x 4"));
    // A value given by a called cell's script counts as well.
    EXPECT_TRUE(run_marks("y()"));
    EXPECT_EQ(value_display(cell_value(cell_find("y"))), "5");
    EXPECT_FALSE(run_marks("y()"));
    // A loop leaves its cell changed.
    EXPECT_TRUE(run_marks("for (x = 1 to 3) { out(x) }"));
}

TEST_F(ModifiedMark, MatrixBuiltinsChangingCellsInPlaceMarkTheWeb) {
    int i = 0;
    for (double v : {2.0, 0.0, 0.0, 4.0})
        cell_set_value(cell_create(("m" + std::to_string(++i)).c_str()), value_new_number(v));
    cell_table_rebuild();
    EXPECT_TRUE(run_marks("rref('m1', 2, 2)"));
    EXPECT_EQ(value_display(cell_value(cell_find("m1"))), "1");
    EXPECT_EQ(value_display(cell_value(cell_find("m4"))), "1");
}

TEST_F(ModifiedMark, StoredSettingsMarkTheWebWhenTheyChange) {
    EXPECT_TRUE(run_marks("set numdec 3"));
    EXPECT_FALSE(run_marks("set numdec 3"));

    // Whether f marks an unmodified web.
    auto marks = [](void (*f)()) {
        web_set_modified(false);
        f();
        return web_modified();
    };
    EXPECT_FALSE(marks([] {
        settings_set_iterations(settings_iterations());
        settings_set_report_format(settings_report_format());
        settings_set_xmax_text(settings_xmax_text());
    }));
    EXPECT_TRUE(marks([] { settings_set_iterations(settings_iterations() + 1); }));
    EXPECT_TRUE(marks([] { settings_set_report_format("\\T"); }));
    EXPECT_TRUE(marks([] { settings_set_ymin_text("-7"); }));
    EXPECT_TRUE(marks([] { settings_set_plot_x_cell("m1"); }));
    // Settings the file does not hold are not changes to the web, nor is what
    // a search last looked for.
    EXPECT_FALSE(marks([] {
        settings_set_zoom(settings_zoom() + 3);
        settings_set_create_on_double_click(!settings_create_on_double_click());
        settings_set_font_name("Courier");
        settings_set_search_text("needle");
        settings_set_replace_text("thread");
    }));
    // A limit that reads back as the same stored text changes nothing.
    settings_set_decimals(1);
    settings_set_xmax_text("7.26");
    web_set_modified(false);
    settings_set_xmax_text("7.3");
    EXPECT_FALSE(web_modified());
}

TEST_F(ModifiedMark, StartingAndOpeningClearItAndDefaultsKeepIt) {
    settings_set_iterations(7);
    ASSERT_TRUE(web_modified());
    std::string file = path("marked.tvx");
    ASSERT_TRUE(web_save_as(file.c_str()).done());
    EXPECT_FALSE(web_modified());
    // Reading applies every stored setting, and leaves the web unmodified.
    ASSERT_EQ(web_open(file.c_str()).code, 0);
    EXPECT_EQ(settings_iterations(), 7u);
    EXPECT_FALSE(web_modified());
    // A reset to the defaults is no edit either way.
    settings_defaults();
    EXPECT_FALSE(web_modified());
    web_set_modified(true);
    settings_defaults();
    EXPECT_TRUE(web_modified());
    web_set_modified(false);
    ASSERT_EQ(web_open(file.c_str()).code, 0);
    ASSERT_TRUE(web_new().done());
    EXPECT_FALSE(web_modified());
}

} // namespace
} // namespace tarvex::test
