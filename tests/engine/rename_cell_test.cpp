// Renaming a cell: the tree moves the entry, every link follows, strings and
// comments stay, the settings follow, refusals, and the undo.
#include "webfile_test_support.h"

#include "builtins/builtins.h"
#include "commands/rename_cell.h"
#include "settings/settings.h"
#include "web/links.h"
#include "web/pane_state.h"

#include <string>
#include <vector>

namespace tarvex::test {
namespace {

class RenameCellTest : public WebFileTest {
  protected:
    void SetUp() override {
        WebFileTest::SetUp();
        builtins_init();
    }
    CellHandle make(const char* name, const std::string& text = {},
                    const std::string& script = {}) {
        CellHandle c = cell_create(name);
        cell_set_text(c, text);
        cell_set_script(c, script);
        return c;
    }
    std::string field(const char* cell, CellField f) {
        return text_to_string(cell_get(cell_find(cell), f));
    }
    std::vector<std::string> in_order() {
        std::vector<std::string> names;
        for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
            names.push_back(cell_name_string(e) + (entry_kind(e) == NK_CELL ? "" : "-"));
        return names;
    }
};

TEST_F(RenameCellTest, EveryNameOfTheCellFollowsAndNothingElse) {
    struct Case {
        CellField field;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {CF_TEXT, "rate and Rate, rates, rate_x and 9rate.",
         "speed and speed, rates, rate_x and 9speed."},
        {CF_TEXT, "nothing here", "nothing here"},
        {CF_SCRIPT, "rate = rate + home # rate\nout('rate')",
         "speed = speed + home # rate\nout('rate')"},
        {CF_SCRIPT, "x = previous(\"RATE\", 2) + maxrate", "x = previous(\"RATE\", 2) + maxrate"},
        {CF_SCRIPT, "out(rate#rate\n, rate.5, 'a#rate')", "out(speed#rate\n, speed.5, 'a#rate')"},
    };
    CellHandle rate = make("rate", "rate", "rate!");
    std::vector<std::string> names;
    for (size_t i = 0; i < std::size(cases); ++i) {
        names.push_back("c" + std::to_string(i));
        bool text = cases[i].field == CF_TEXT;
        make(names.back().c_str(), text ? cases[i].before : "", text ? "" : cases[i].before);
    }
    RenamePlan plan = rename_plan(rate, "speed");
    ASSERT_EQ(plan.refusal, nullptr);
    EXPECT_EQ(plan.strings, 2); // 'rate' and "RATE"; the one cut by a comment is no string of it
    std::vector<std::string> preview = rename_preview(plan);
    const std::vector<std::string> expected = {"c0 text: 3 links",    "c2 script: 2 names",
                                               "c4 script: 2 names",  "rate text: 1 link",
                                               "rate script: 1 name", "also named in 2 strings"};
    EXPECT_EQ(preview, expected);
    ASSERT_TRUE(rename_apply(plan));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(field(names[i].c_str(), cases[i].field), cases[i].after) << i;
    EXPECT_EQ(cell_find("speed"), rate);
    EXPECT_EQ(field("speed", CF_SCRIPT), "speed!");
    EXPECT_EQ(cell_find("rate"), 0);
    EXPECT_TRUE(web_modified());
}

TEST_F(RenameCellTest, SettingsNamingTheCellFollow) {
    struct Case {
        const char* plot;
        uint8_t input_type;
        const char* input;
        const char* plot_after;
        const char* input_after;
    };
    const Case cases[] = {
        {"rate,home", IN_CELL, "RATE", "speed,home", "speed"},
        {"home,rate", IN_FILE, "rate", "home,speed", "rate"},
        {"rate,rate", IN_CELL, "other", "speed,speed", "other"},
        {"rated,home", IN_KEYBOARD, "rate", "rated,home", "rate"},
    };
    for (const Case& k : cases) {
        web_set_modified(false);
        web_new();
        CellHandle rate = make("rate");
        settings_set_plot_cells(k.plot);
        settings_set_input_type(k.input_type);
        settings_set_input_name(k.input);
        RenamePlan plan = rename_plan(rate, "speed");
        ASSERT_TRUE(rename_apply(plan)) << k.plot;
        EXPECT_STREQ(settings_plot_cells(), k.plot_after);
        EXPECT_STREQ(settings_input_name(), k.input_after);
        ASSERT_TRUE(rename_undo());
        EXPECT_STREQ(settings_plot_cells(), k.plot);
        EXPECT_STREQ(settings_input_name(), k.input);
    }
}

TEST_F(RenameCellTest, RefusedNamesChangeNothing) {
    struct Case {
        const char* cell;
        const char* typed;
        const char* refusal;
        const char* becomes;
    };
    const Case cases[] = {
        {"rate", "home", DUPLICATE_CELL_NAME_TEXT, nullptr},
        {"rate", "OTHER", DUPLICATE_CELL_NAME_TEXT, nullptr},
        {"rate", "1_", BAD_CELL_NAME_TEXT, nullptr},
        {"rate", "While", RENAME_SCRIPT_WORD_TEXT, nullptr},
        {"rate", "max", RENAME_SCRIPT_WORD_TEXT, nullptr},
        {"rate", "pi", RENAME_SCRIPT_WORD_TEXT, nullptr},
        {"rate", "", BAD_CELL_NAME_TEXT, nullptr},
        {"home", "house", RENAME_HOME_TEXT, nullptr},
        {"rate", " _speed_ ", nullptr, "speed"},
        {"rate", "RATE", nullptr, "RATE"},
    };
    for (const Case& k : cases) {
        web_set_modified(false);
        web_new();
        make("rate", "rate");
        make("other");
        RenamePlan plan = rename_plan(cell_find(k.cell), k.typed);
        EXPECT_STREQ(plan.refusal, k.refusal) << k.typed;
        EXPECT_EQ(rename_apply(plan), k.becomes != nullptr) << k.typed;
        // The cell keeps its place and its self-link follows it.
        const char* now = k.becomes ? k.becomes : k.cell;
        EXPECT_NE(cell_find(now), 0) << k.typed;
        if (std::string(now) != "home") {
            EXPECT_EQ(field(now, CF_TEXT), k.becomes ? now : "rate");
        }
    }
}

TEST_F(RenameCellTest, UndoPutsTheSavedWebBackByteForByte) {
    // Names inserted so that the renamed entries have two, one and no
    // children, and a deleted cell holds the new name of one of them.
    for (const char* n : {"m", "f", "t", "a", "h", "p", "w", "g", "gone"})
        make(n, std::string("m f t a h p w g ") + n, std::string("out(m + 'm' + ") + n + ")");
    settings_set_plot_cells("m,t");
    cell_delete(cell_find("gone"));
    CellHandle f = cell_find("f");
    cell_set_value_text(f, "42");
    pane_state_set_selection(f, CF_TEXT_PANE, 3, 4);
    text_links_get(f); // caches are rebuilt, never counted twice
    const std::string before = saved("before.tvx");
    struct Case {
        const char* from;
        const char* to;
    };
    for (Case k : {Case{"f", "zz"}, Case{"t", "b"}, Case{"a", "gone"}, Case{"m", "n"}}) {
        CellHandle c = cell_find(k.from);
        int free_before = nodes_free();
        ASSERT_TRUE(rename_apply(rename_plan(c, k.to))) << k.from;
        EXPECT_EQ(cell_find(k.to), c);
        EXPECT_NE(saved("renamed.tvx"), before);
        std::vector<std::string> order = in_order();
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << k.from;
        ASSERT_TRUE(rename_can_undo());
        ASSERT_TRUE(rename_undo());
        EXPECT_FALSE(rename_can_undo());
        EXPECT_EQ(cell_find(k.from), c);
        EXPECT_EQ(saved("undone.tvx"), before) << k.from;
        text_links_get(f);
        EXPECT_EQ(nodes_free(), free_before) << k.from;
    }
    EXPECT_EQ(value_display(cell_value(f)), "42");
    EXPECT_EQ(pane_state_get(f, CF_TEXT_PANE).sel_start, 3u);
    EXPECT_EQ(in_order().size(), 10u); // the deleted entry is still there, no new one
}

// A store that runs out at any allocation of a rename leaves what Undo
// Rename takes back to the web as it was saved.
TEST_F(RenameCellTest, ARenameCutShortByTheStoreIsUndone) {
    bool finished = false;
    for (long n = 0; !finished && n < 200; ++n) {
        web_set_modified(false);
        web_new();
        for (const char* name : {"rate", "a", "b", "c"})
            make(name, std::string("rate of ") + name, std::string("out(rate + 1) # ") + name);
        settings_set_plot_cells("rate,a");
        const std::string before = saved("before.tvx");
        RenamePlan plan = rename_plan(cell_find("rate"), "speed");
        node_fail_after(n);
        try {
            finished = rename_apply(plan);
        } catch (const NodeExhausted&) {
        }
        node_fail_after(-1);
        if (finished) break;
        if (cell_find("speed") != 0) {
            ASSERT_TRUE(rename_undo()) << n;
        }
        EXPECT_EQ(saved("undone.tvx"), before) << n;
    }
    EXPECT_TRUE(finished);
}

// Undo Rename clears the modified mark only when it puts back the web as
// it last stood unmodified: not after a later edit, a save, or a rename of
// an already modified web.
TEST_F(RenameCellTest, UndoClearsTheModifiedMarkOnlyWhereNothingHappenedBetween) {
    make("rate", "rate");
    make("a", "rate");
    CellHandle rate = cell_find("rate");
    struct Case {
        bool modified_before;
        int between; // 0 nothing, 1 an edit (as the panes mark one), 2 a save
        bool modified_after;
    };
    for (Case k :
         {Case{false, 0, false}, Case{true, 0, true}, Case{false, 1, true}, Case{false, 2, true}}) {
        web_set_modified(k.modified_before);
        ASSERT_TRUE(rename_apply(rename_plan(rate, "speed")));
        EXPECT_TRUE(web_modified());
        if (k.between == 1) web_set_modified(true);
        if (k.between == 2) web_set_modified(false);
        ASSERT_TRUE(rename_undo());
        EXPECT_EQ(web_modified(), k.modified_after) << k.modified_before << k.between;
    }
}

TEST_F(RenameCellTest, UndoKeepsLaterEditsAndNeedsTheOldNameFree) {
    make("rate", "rate");
    make("a", "rate");
    CellHandle rate = cell_find("rate");
    ASSERT_TRUE(rename_apply(rename_plan(rate, "speed")));
    cell_set_text(cell_find("a"), "edited");
    make("rate");
    EXPECT_FALSE(rename_can_undo());
    EXPECT_FALSE(rename_undo());
    cell_delete(cell_find("rate"));
    ASSERT_TRUE(rename_undo());
    EXPECT_EQ(field("a", CF_TEXT), "edited");
    EXPECT_EQ(field("rate", CF_TEXT), "rate");
    ASSERT_TRUE(rename_apply(rename_plan(rate, "speed")));
    web_set_modified(false);
    web_new();
    EXPECT_FALSE(rename_can_undo());
}

} // namespace
} // namespace tarvex::test
